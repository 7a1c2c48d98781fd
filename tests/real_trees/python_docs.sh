#!/usr/bin/env bash
# A real documentation tree that nobody here wrote: Python 3.11's, from
# Debian's python3.11-doc. Checked on disk, then crawled from a local nginx
# that serves the same files, it must give the same rows (page, line, URL
# and reason), and the crawl must ask for no URL twice. Links to other
# sites are left out, so nothing leaves 127.0.0.1. Skipped where the
# package or nginx is not installed.
# usage: python_docs.sh PATH/TO/quimbel-cli
set -euo pipefail
cli="$1"
docs=/usr/share/doc/python3.11/html
[ -d "$docs" ] || { echo "skipped: python3.11-doc is not installed"; exit 77; }
[ -x /usr/sbin/nginx ] || { echo "skipped: nginx is not installed"; exit 77; }

work="$(mktemp -d /tmp/quimbel-python-docs-XXXXXX)"
nginx_pid=""
trap '[ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; rm -rf "$work"' EXIT
# Debian compresses the largest page; a site serves it whole.
cp -rL "$docs" "$work/html"
find "$work/html" -name '*.html.gz' -exec gunzip -f {} +
chmod -R a+rX "$work"

external='^(https?|ftp|mailto):'
status=0
"$cli" -q -r -x --exclude "$external" --format json "$work/html" >"$work/local.json" || status=$?
[ "$status" -le 1 ] || { echo "FAIL: the check on disk ended with status $status"; exit 1; }

# nginx on a free port: a few tries at random ones.
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 20000))
  cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log $work/access.log;
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  client_body_temp_path $work/body;
  server { listen 127.0.0.1:$port; root $work/html; }
}
CONF
  /usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
  kill -0 "$nginx_pid" 2>/dev/null && [ -s "$work/nginx.pid" ] && break
  nginx_pid=""
done
[ -n "$nginx_pid" ] || { echo "FAIL: nginx did not start"; cat "$work/error.log"; exit 1; }

site="http://127.0.0.1:$port/"
status=0
"$cli" -q --exclude "$external" --include "^http://127\\.0\\.0\\.1:$port/" --format json "$site" \
  >"$work/crawl.json" || status=$?
[ "$status" -le 1 ] || { echo "FAIL: the crawl ended with status $status"; exit 1; }

python3 - "$work" "$site" <<'PY'
import collections, json, sys
work, site = sys.argv[1], sys.argv[2]
def rows(name, prefix):
    found = []
    for row in json.load(open(f"{work}/{name}"))["rows"]:
        page = row["file"][len(prefix):] if row["file"].startswith(prefix) else row["file"]
        found.append((page, row["line"], row["url"], row["reason"]))
    return collections.Counter(found)
local = rows("local.json", f"{work}/html/")
crawl = rows("crawl.json", site)
requests = collections.Counter(line.split('"')[1].split(" ")[1]
                               for line in open(f"{work}/access.log"))
twice = {uri: n for uri, n in requests.items() if n > 1}
print(f"on disk: {sum(local.values())} rows; crawled: {sum(crawl.values())} rows; "
      f"{sum(requests.values())} requests for {len(requests)} URLs")
failed = False
for row in sorted((crawl - local).elements()):
    print("FAIL: only the crawl lists", row)
    failed = True
for row in sorted((local - crawl).elements()):
    print("FAIL: only the check on disk lists", row)
    failed = True
for uri, n in sorted(twice.items())[:20]:
    print(f"FAIL: {uri} was requested {n} times")
    failed = True
sys.exit(1 if failed else 0)
PY
