#!/usr/bin/env bash
# Serves samples/site with nginx on 127.0.0.1:8377 and runs the given
# quimbel-cli over the sample pages, then stops the server.
set -euo pipefail
cli="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT
cat > "$work/nginx.conf" <<CONF
daemon on;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/body;
  server { listen 127.0.0.1:8377; root $here/site; }
}
CONF
/usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
"$cli" --timeout 5 --recurse "$here/site" || true
