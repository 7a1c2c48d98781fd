#!/usr/bin/env bash
# HTTP/2 against the bound: LINKS links (default 2,000) in one page, all to one loopback host
# that answers each after DELAY ms (default 50), over TLS with a made-up CA. The bound is
# LINKS x DELAY / the requests in flight. In one run:
#   - quimbel-cli with default options, the server speaking HTTP/2 (bound at 100 streams);
#   - quimbel-cli with default options, the server speaking HTTP/1.1 only (bound at --per-host 8);
#   - linkinator with default options and with --concurrency 100 (HTTP/1.1; bound at 100).
# Prints wall seconds, the ratio to the bound, connections opened and requests per distinct URL.
# Never sends traffic beyond 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
links=${1:-2000}
delay=${2:-50}
if [ -z "${QUIMBEL_BUILD_DIR:-}" ]; then
  QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
fi
build=${QUIMBEL_BUILD_DIR:-build-bench}
source bench/linkinator.sh
work=$(mktemp -d /tmp/quimbel-h2-bench-XXXXXX)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
certs="$work/certs"
source bench/test_ca.sh
make_test_ca "$certs"
export XDG_CONFIG_HOME="$work/config"
export NODE_EXTRA_CA_CERTS="$certs/ca.pem"

# start_server NAME [--h1-only]: the server's port in $port, its log in $work/NAME.log.
start_server() {
  node tests/h2_server.js "$certs/leaf.pem" "$certs/leaf.key" "$work/$1.log" --delay "$delay" \
    "${@:2}" > "$work/$1.port" &
  server_pid=$!
  for _ in $(seq 50); do [ -s "$work/$1.port" ] && break; sleep 0.1; done
  port=$(head -1 "$work/$1.port")
  for i in $(seq 1 "$links"); do echo "<a href=\"https://127.0.0.1:$port/ok?$i\">l</a>"; done \
    > "$work/page.html"
}
stop_server() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}
# measure NAME IN_FLIGHT LOG COMMAND...: one line of figures.
measure() {
  local name=$1 in_flight=$2 log=$3
  shift 3
  : > "$log"
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  local connections requests distinct
  connections=$(grep -c '^connection' "$log" || true)
  requests=$(grep -vc '^connection' "$log" || true)
  distinct=$(grep -v '^connection' "$log" | awk '{print $3}' | sort -u | wc -l)
  awk -v n="$name" -v a="$start" -v b="$end" -v l="$links" -v d="$delay" -v f="$in_flight" \
    -v c="$connections" -v r="$requests" -v u="$distinct" 'BEGIN {
      bound = l * d / 1000 / f
      printf "%-40s %7.2f s  bound %5.2f s  ratio %5.2f  connections %4d  requests/URL %.2f\n",
        n, b - a, bound, (b - a) / bound, c, (u ? r / u : 0) }'
}

echo "$links links, ${delay} ms a reply, one host"
start_server h2
measure "quimbel, defaults, HTTP/2" 100 "$work/h2.log" \
  "$build/cli/quimbel-cli" -q --no-history --ca-file "$certs/ca.pem" "$work/page.html"
measure "linkinator, defaults (HTTP/1.1)" 100 "$work/h2.log" \
  "$linkinator" "$work/page.html"
measure "linkinator, --concurrency 100 (HTTP/1.1)" 100 "$work/h2.log" \
  "$linkinator" --concurrency 100 "$work/page.html"
stop_server
start_server h1 --h1-only
measure "quimbel, defaults, HTTP/1.1 only" 8 "$work/h1.log" \
  "$build/cli/quimbel-cli" -q --no-history --ca-file "$certs/ca.pem" "$work/page.html"
stop_server
