#!/usr/bin/env bash
# Local link check of a static site: quimbel-cli checking every relative
# link, fragment and image of the tree on disk (a whole run: parse,
# resolve, stat, anchors, the listing), beside linkinator 6 serving the
# tree itself and crawling it with --recurse, every other link skipped.
# The tree is our own 200 pages with 50,000 links (make_corpus --site), or
# the folder given, such as /usr/share/doc/nodejs/api. Same run, best of
# three; wall seconds, peak memory and what each found. Nothing leaves the
# machine: linkinator only fetches its own localhost.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
. bench/linkinator.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="${1:-$work/site}"
[ -n "${1:-}" ] || build-bench/bench/make_corpus "$tree" 200 --site >/dev/null
[ -d "$tree" ] || { echo "no tree at $tree" >&2; exit 2; }
export XDG_CONFIG_HOME="$work/config"

best() {  # best NAME COMMAND...: best of three, "seconds peak-KiB"
  local name=$1 best="" kib=0; shift
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/$name.out" 2>/dev/null || true
    read -r s k < <(tail -n 1 "$work/time")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN {exit !(a < b)}'; then best=$s; kib=$k; fi
  done
  echo "$best $kib"
}
# The network links of a tree of one's own are probed by a run; those of
# our own tree are all local.
if [ -n "${1:-}" ]; then
  read -r q_s q_k < <(best quimbel build-bench/cli/quimbel-cli -r -q --exclude '^[A-Za-z][A-Za-z0-9+.-]*:' "$tree")
else
  read -r q_s q_k < <(best quimbel build-bench/cli/quimbel-cli -r -q "$tree")
fi
read -r l_s l_k < <(best linkinator bash -c "cd '$tree' && '$linkinator' . --recurse --skip '^(?!http://localhost)' --format csv")
echo "tree: $tree"
echo "quimbel:    $(grep -c 'Local ' "$work/quimbel.out" || true) rows ($(grep -c 'Local File' "$work/quimbel.out" || true) files, $(grep -c 'Local Anchor' "$work/quimbel.out" || true) anchors)"
echo "linkinator: $(grep -c ',404,' "$work/linkinator.out" || true) broken of $(($(wc -l < "$work/linkinator.out") - 1)) URLs"
awk -v q="$q_s" -v qk="$q_k" -v l="$l_s" -v lk="$l_k" 'BEGIN {
  printf "quimbel    %6.2f s %6d MiB\nlinkinator %6.2f s %6d MiB\nlinkinator / quimbel %.1fx\n", q, qk / 1024, l, lk / 1024, l / q }'
