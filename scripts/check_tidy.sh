#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the product code (app cli core
# crawl dialogs export links platform probe purge repair; not the tests, tools or
# benchmarks) and fails on any finding. It configures a clang build tree in
# build-tidy (or $QUIMBEL_TIDY_DIR) for its compile_commands.json; nothing
# is compiled, since no product source needs moc or uic output.
# QUIMBEL_TIDY_JOBS sets the parallel clang-tidy runs (default 1). Extra
# arguments narrow the run to the files matching these regexes, e.g.
# `scripts/check_tidy.sh core/ links/url_split`.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in clang clang++ clang-tidy run-clang-tidy; do
  command -v "$tool" >/dev/null || {
    echo "check_tidy: $tool not found (scripts/setup.sh installs it)" >&2
    exit 2
  }
done

dir="${QUIMBEL_TIDY_DIR:-build-tidy}"
jobs="${QUIMBEL_TIDY_JOBS:-1}"
if [ -f "$dir/CMakeCache.txt" ] &&
  ! grep -q '^CMAKE_CXX_COMPILER_ID:.*Clang\|^CMAKE_CXX_COMPILER:.*clang' "$dir/CMakeCache.txt"; then
  echo "check_tidy: $dir was configured with another compiler; remove it" >&2
  exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -DBUILD_TESTING=OFF >/dev/null

# run-clang-tidy matches absolute paths: anchor on this checkout, so that
# the build tree's generated sources and the system headers stay out.
root="$(pwd | sed 's/[][\.*^$+?(){}|]/\\&/g')"
folders='(app|cli|core|crawl|dialogs|export|links|platform|probe|purge|repair|store)'
files=("^$root/$folders/")
if [ $# -gt 0 ]; then
  files=()
  for pattern in "$@"; do files+=("^$root/(?=.*$pattern)$folders/"); done
fi

log="$dir/clang-tidy.log"
status=0
run-clang-tidy -p "$dir" -j "$jobs" -quiet -header-filter="^$root/$folders/" "${files[@]}" \
  >"$log" 2>&1 || status=$?
if ! grep -q 'clang-tidy[^ ]* -' "$log"; then
  echo "check_tidy: no product file to check (see $log)" >&2
  exit 2
fi
# Headers are checked once per file that includes them: each finding is
# shown once, and counted under its check (named at the end of the
# finding's first line, or of a later one when the message spans lines).
summary="$dir/clang-tidy.summary"
: >"$summary"
sed 's/\x1b\[[0-9;]*m//g' "$log" | awk -v summary="$summary" '
  /^[^ ]+:[0-9]+:[0-9]+: (warning|error): / {
    show = !seen[$0]++
    pending = show
  }
  /^[^ ]*clang-tidy[^ ]* -|^[0-9]+ (warning|error)s?( and [0-9]+ errors?)? generated|^Suppressed / {
    next
  }
  pending && match($0, /\[[A-Za-z0-9._,-]+\]$/) {
    check = substr($0, RSTART + 1, RLENGTH - 2)
    sub(/,-warnings-as-errors$/, "", check)
    count[check]++
    pending = 0
  }
  show { print }
  END { for (c in count) printf "%7d %s\n", count[c], c > summary }'
if [ "$status" -ne 0 ]; then
  echo "check_tidy: findings per check:" >&2
  sort -rn "$summary" >&2
  echo "check_tidy: failed (full output in $log)" >&2
  exit 1
fi
echo "check_tidy: clean"
