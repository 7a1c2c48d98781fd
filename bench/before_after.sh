#!/usr/bin/env bash
# The engine's speed before and after a change, in one run on one machine:
# REV (a commit, default HEAD~1) is built in a worktree beside the current
# tree, both in Release, and each bench below runs both builds in turn,
# best of three, so load on the machine weighs on both alike:
#   - link extraction over a generated corpus (MB/s);
#   - a check on disk of a generated 200-page site of 50,000 links
#     (seconds and peak memory);
#   - a crawl of a generated 10,000-page site from a loopback nginx, with
#     its requests per distinct URL (bench/requests_bench.sh, no peers),
#     the builds taking turns over three rounds.
# Prints each figure for both and after / before. A refactoring should
# leave every ratio near 1.00.
# BEFORE_BUILD / AFTER_BUILD name build folders to use as they are instead.
set -euo pipefail
cd "$(dirname "$0")/.."
rev="${1:-HEAD~1}"
work=$(mktemp -d /tmp/quimbel-before-after-XXXXXX)
trap 'git worktree remove --force "$work/tree" 2>/dev/null || true; rm -rf "$work"' EXIT
targets=(quimbel-cli extract_bench make_corpus)

build() {  # build SOURCE BUILD
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$2" --target "${targets[@]}" -j "$(nproc)" >/dev/null
}
before="${BEFORE_BUILD:-}"
if [ -z "$before" ]; then
  git worktree add --detach "$work/tree" "$rev" >/dev/null 2>&1
  before="$work/tree/build"
  build "$work/tree" "$before"
fi
after="${AFTER_BUILD:-build-bench}"
[ -n "${AFTER_BUILD:-}" ] || build . "$after"
before=$(realpath "$before")
after=$(realpath "$after")
export XDG_CONFIG_HOME="$work/config"

"$after/bench/make_corpus" "$work/corpus" 3000 >/dev/null
"$after/bench/make_corpus" "$work/site" 200 --site >/dev/null
bytes=$(find "$work/corpus" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')

# best COMMAND...: "seconds peak-MiB cpu-seconds" of the fastest of three
# runs. CPU time (user and system) is the figure to trust on a busy machine.
best() {
  local best="" mib=0 cpu=0 s k u y
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>&1 || true
    read -r s k u y < <(tail -n 1 "$work/time")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN {exit !(a < b)}'; then
      best=$s
      mib=$((k / 1024))
      cpu=$(awk -v u="$u" -v y="$y" 'BEGIN {print u + y}')
    fi
  done
  echo "$best $mib $cpu"
}

row() {  # row NAME "before-seconds mib cpu" "after-seconds mib cpu"
  read -r bs bm bc <<<"$2"
  read -r as am ac <<<"$3"
  awk -v n="$1" -v bs="$bs" -v bm="$bm" -v bc="$bc" -v as="$as" -v am="$am" -v ac="$ac" 'BEGIN {
    printf "%-26s before %6.2f s (cpu %6.2f) %4d MiB   after %6.2f s (cpu %6.2f) %4d MiB" \
      "   after/before %.2f, cpu %.2f\n", n, bs, bc, bm, as, ac, am, (bs > 0 ? as / bs : 0),
      (bc > 0 ? ac / bc : 0) }'
}

printf 'before: %s (%s)\nafter:  %s\n' "$rev" "$before" "$after"
echo "corpus $((bytes / 1000000)) MB, site of 200 pages"
row "link extraction" "$(best "$before/bench/extract_bench" "$work/corpus")" \
  "$(best "$after/bench/extract_bench" "$work/corpus")"
row "with local links" "$(best "$before/bench/extract_bench" "$work/corpus" --local)" \
  "$(best "$after/bench/extract_bench" "$work/corpus" --local)"
row "check on disk (200 pages)" \
  "$(best "$before/cli/quimbel-cli" -r -q "$work/site")" \
  "$(best "$after/cli/quimbel-cli" -r -q "$work/site")"
# The crawl's figures: the requests line of each build, and the best wall
# time, its peak memory and CPU time of three rounds, the builds taking
# turns. The bench starts its own nginx, so the CLI is timed by a wrapper.
declare -A crawl
for round in 1 2 3; do
  for side in before after; do
    build=$before
    [ "$side" = after ] && build=$after
    printf '#!/bin/sh\nexec /usr/bin/time -o %s -f "%%e %%M %%U %%S" %s "$@"\n' \
      "$work/crawl-time" "$build/cli/quimbel-cli" >"$work/cli"
    chmod +x "$work/cli"
    out=$(PEERS=0 QUIMBEL_CLI="$work/cli" bash bench/requests_bench.sh 10000 || true)
    [ "$round" = 1 ] && echo "$side: $(grep -E '^quimbel +requests' <<<"$out")"
    read -r s k u y < <(tail -n 1 "$work/crawl-time")
    if [ -z "${crawl[$side]:-}" ] || awk -v a="$s" -v b="${crawl[$side]%% *}" 'BEGIN {exit !(a < b)}'; then
      crawl[$side]="$s $((k / 1024)) $(awk -v u="$u" -v y="$y" 'BEGIN {print u + y}')"
    fi
  done
done
row "crawl (10,000 pages)" "${crawl[before]}" "${crawl[after]}"
