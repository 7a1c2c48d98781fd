#!/usr/bin/env bash
# Local link check of a documentation tree (default: the Node.js API pages
# Debian's nodejs package installs): Quimbel's extraction and on-disk check
# of every relative link and fragment, beside linkinator 6 serving the tree
# itself and crawling it with --recurse, every other link skipped. Same
# run, best of three; wall seconds, peak memory and what each found.
# Nothing leaves the machine: linkinator only fetches its own localhost.
set -euo pipefail
cd "$(dirname "$0")/.."
tree="${1:-/usr/share/doc/nodejs/api}"
[ -d "$tree" ] || { echo "no tree at $tree (apt-get install nodejs)" >&2; exit 2; }
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
. bench/linkinator.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() {  # best NAME COMMAND...: best of three, "seconds peak-KiB"
  local name=$1 best="" kib=0; shift
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/$name.out" 2>/dev/null || true
    read -r s k < "$work/time"
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN {exit !(a < b)}'; then best=$s; kib=$k; fi
  done
  echo "$best $kib"
}
read -r q_s q_k < <(best quimbel build-bench/bench/extract_bench "$tree" --local)
read -r l_s l_k < <(best linkinator bash -c "cd '$tree' && '$linkinator' . --recurse --skip '^(?!http://localhost)' --format csv")
echo "tree: $tree"
echo "quimbel:    $(cat "$work/quimbel.out")"
echo "linkinator: $(grep -c ',404,' "$work/linkinator.out" || true) broken of $(($(wc -l < "$work/linkinator.out") - 1)) URLs"
awk -v q="$q_s" -v qk="$q_k" -v l="$l_s" -v lk="$l_k" 'BEGIN {
  printf "quimbel    %6.2f s %6d MiB\nlinkinator %6.2f s %6d MiB\nlinkinator / quimbel %.1fx\n", q, qk / 1024, l, lk / 1024, l / q }'
