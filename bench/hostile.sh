#!/usr/bin/env bash
# Inputs that once cost quadratic time, each timed beside a baseline made
# of the same bytes in an easy shape, in one run:
#   1. link extraction of "<" followed by 16 MB and 64 MB of line breaks,
#      beside the same number of bytes of ordinary pages; the ratio of the
#      two 64 MB times to the two 16 MB times shows linear growth (4);
#   2. the comment purge of a 200 MB page on one line (a comment per KB),
#      beside the same bytes cut into short lines: goal within 2x.
# Prints seconds and ratios; files go to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
bin="build-bench/bench"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

seconds() {  # best wall time of three runs of "$@", in seconds
  local best=""
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N)
    local t=$(( t1 - t0 ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v t="$best" 'BEGIN { printf "%.3f", t / 1e9 }'
}

python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for mb in (16, 64):
    d = f"{work}/breaks{mb}"; os.makedirs(d)
    open(f"{d}/p.htm", "w").write("<" + "\n" * (mb << 20))
    d = f"{work}/plain{mb}"; os.makedirs(d)
    line = '<p>text <a href="http://x.test/a.htm">A</a></p>\n'
    open(f"{d}/p.htm", "w").write(line * ((mb << 20) // len(line)))
chunk = "x" * 1000 + "<!-- c -->"
count = (200 << 20) // len(chunk)
d = f"{work}/oneline"; os.makedirs(d)
open(f"{d}/p.htm", "w").write(chunk * count)
d = f"{work}/lines"; os.makedirs(d)
open(f"{d}/p.htm", "w").write((chunk + "\n") * count)
PY

b16=$(seconds "$bin/extract_bench" "$work/breaks16")
b64=$(seconds "$bin/extract_bench" "$work/breaks64")
p16=$(seconds "$bin/extract_bench" "$work/plain16")
p64=$(seconds "$bin/extract_bench" "$work/plain64")
awk -v b16="$b16" -v b64="$b64" -v p16="$p16" -v p64="$p64" 'BEGIN {
  printf "extraction, \"<\" then line breaks: 16 MB %ss, 64 MB %ss (growth %.2f)\n", b16, b64, b64 / b16;
  printf "extraction, ordinary pages:         16 MB %ss, 64 MB %ss (growth %.2f)\n", p16, p64, p64 / p16;
}'

# Each purge rewrites its copy; a fresh copy per run keeps the comments in.
purge() {  # purge FOLDER
  rm -rf "$work/run" && cp -r "$1" "$work/run" && "$bin/purge_bench" "$work/run"
}
one=$(seconds purge "$work/oneline")
many=$(seconds purge "$work/lines")
awk -v one="$one" -v many="$many" 'BEGIN {
  printf "purge, 200 MB on one line %ss, in short lines %ss: ratio %.2f (goal: at most 2)\n",
         one, many, one / many;
}'
