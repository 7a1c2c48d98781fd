#!/usr/bin/env bash
# Crawls of generated sites of 1,000, 10,000 and 100,000 pages (give other
# sizes as arguments: 1000000 is the manual one), each served from one
# process by bench/site_server on 127.0.0.1. For each size: wall time, peak
# memory, requests and distinct URLs and their ratio (exactly 1.00), the
# most any URL was asked, and the rows listed. Each crawl runs with the
# history of runs kept (the default) in a fresh store, so the crawl's pages
# go to the store as they do for an author. Fails when any URL is asked
# twice. QUIMBEL_BUILD_DIR=dir uses that build (default build-bench, a
# Release build made here). Never sends traffic beyond 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$#" -gt 0 ]; then sizes=("$@"); else sizes=(1000 10000 100000); fi
build=${QUIMBEL_BUILD_DIR:-build-bench}
if [ "$build" = build-bench ]; then
  QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
fi
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
work=$(mktemp -d /tmp/quimbel-big-crawl-XXXXXX)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

printf '%9s %9s %10s %9s %9s %6s %5s %7s\n' pages seconds "peak MB" requests distinct ratio most rows
for pages in "${sizes[@]}"; do
  rm -rf "$XDG_CACHE_HOME"
  "$build/bench/site_server" "$pages" > "$work/port" &
  server=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
  port=$(cat "$work/port")
  status=0
  /usr/bin/time -f "%e %M" -o "$work/time" "$build/cli/quimbel-cli" -q --max-pages 10000000 \
    --format json "http://127.0.0.1:$port/site/p0.html" > "$work/report.json" || status=$?
  if [ "$status" -gt 1 ]; then echo "quimbel-cli failed ($status)" >&2; exit 1; fi
  stats=$(curl -s --noproxy '*' "http://127.0.0.1:$port/__stats")
  read -r requests distinct most <<< "$stats"
  kill "$server"; wait "$server" 2>/dev/null || true; server=""
  read -r seconds peak_kb < <(tail -n 1 "$work/time")
  rows=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["rows"]))' "$work/report.json")
  awk -v p="$pages" -v s="$seconds" -v m="$peak_kb" -v r="$requests" -v d="$distinct" \
      -v x="$most" -v w="$rows" 'BEGIN {
    printf "%9d %9.2f %10.1f %9d %9d %6.2f %5d %7d\n", p, s, m / 1024, r, d, r / d, x, w }'
  if [ "$most" -ne 1 ]; then echo "a URL was asked $most times" >&2; exit 1; fi
done
