#!/usr/bin/env bash
# Connections kept across replies without a Content-Length: 2,000 links in
# 20 pages to one loopback host whose 404s come chunked, or sized
# (Content-Length: 0), after 0 ms and after 50 ms, over http and over https
# (a made-up CA). quimbel-cli at its
# defaults beside the same build that ends every transfer after its header
# block (one connection a link, what a chunked reply used to cost), in one
# run: wall seconds, connections opened, and their ratio. Never sends
# traffic beyond 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
cmake -S . -B build-bench-close -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DQUIMBEL_LONGEST_BODY_READ=-1 >/dev/null
cmake --build build-bench-close --target quimbel-cli -j "$(nproc)" >/dev/null
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir "$work/site"
for p in $(seq 0 19); do
  for i in $(seq 0 99); do
    echo "<a href=\"http://127.0.0.1:$port/p$p/l$i\">l</a>"
  done > "$work/site/p$p.html"
done
certs="$work/certs"
source bench/test_ca.sh
make_test_ca "$certs"
mkdir "$work/secure"
for f in "$work"/site/*.html; do sed "s|http://|https://|" "$f" > "$work/secure/$(basename "$f")"; done
export XDG_CONFIG_HOME="$work/config"
printf "%-6s %-8s %5s  %-22s %8s %12s\n" scheme mode delay build seconds connections
for scheme in http https; do
 tls=()
 site="$work/site"
 if [ "$scheme" = https ]; then tls=("$certs/leaf.pem" "$certs/leaf.key"); site="$work/secure"; fi
 count() { curl -s --cacert "$certs/ca.pem" "$scheme://127.0.0.1:$port/count"; }
 for mode in chunked sized; do
  for delay in 0 50; do
    python3 bench/keepalive_server.py "$port" "$delay" "$mode" "${tls[@]}" &
    server_pid=$!
    for _ in $(seq 50); do count >/dev/null 2>&1 && break; sleep 0.1; done
    declare -A secs=()
    for build in build-bench build-bench-close; do
      before=$(count)
      start=$(date +%s.%N)
      "$build/cli/quimbel-cli" -q --ca-file "$certs/ca.pem" "$site" >/dev/null || true
      end=$(date +%s.%N)
      after=$(count)
      secs[$build]=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}')
      printf "%-6s %-8s %3s ms  %-22s %8s %12d\n" "$scheme" "$mode" "$delay" "$build" \
        "${secs[$build]}" $(( after - before - 1 ))
    done
    awk -v k="${secs[build-bench]}" -v c="${secs[build-bench-close]}" \
      'BEGIN {printf "%-15s          kept / one a link: %.2f\n", "", k / c}'
    kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=""
  done
 done
done
