#!/usr/bin/env bash
# Link extraction throughput beside grep, measured in one run on the same
# corpus: `grep -c -i "http://"` over every file against ExtractUrls over
# every file. Prints MB/s for both and their ratio. Best of five runs each,
# page cache warm.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
corpus="${QUIMBEL_CORPUS:-/tmp/quimbel-corpus}"
[ -d "$corpus" ] || build-bench/bench/make_corpus "$corpus" "${1:-3000}"
bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')

best() {  # best wall time in seconds of five runs of "$@"
  local best=""
  for _ in 1 2 3 4 5 6; do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N)
    local t=$(( t1 - t0 ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

grep_ns=$(best grep -r -c -i "http://" "$corpus")
ours_ns=$(best build-bench/bench/extract_bench "$corpus")
local_ns=$(best build-bench/bench/extract_bench "$corpus" --local)
awk -v b="$bytes" -v g="$grep_ns" -v o="$ours_ns" -v l="$local_ns" 'BEGIN {
  gm = b / (g / 1e9) / 1e6; om = b / (o / 1e9) / 1e6; lm = b / (l / 1e9) / 1e6;
  printf "corpus %.1f MB\n", b / 1e6;
  printf "grep -c -i http://  %8.1f MB/s\n", gm;
  printf "ExtractUrls         %8.1f MB/s   ratio %.2f\n", om, om / gm;
  printf "with local links    %8.1f MB/s   ratio %.2f\n", lm, lm / gm;
}'
