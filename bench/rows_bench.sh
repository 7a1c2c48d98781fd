#!/usr/bin/env bash
# Rows at scale: quimbel-cli over 100 pages of 10,000 links each, every link
# to a refused port on 127.0.0.1 (so every one is a row: a million rows).
# Prints wall seconds and peak memory, and the bytes a row costs beside a
# run of one page (10,000 rows) in the same run; then the same million links
# as one page. Nothing leaves the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/pages"
python3 - "$work/pages" <<'PY'
import sys
for f in range(100):
    with open(f"{sys.argv[1]}/p{f:03}.html", "w") as out:
        for i in range(10000):
            out.write(f'<a href="http://127.0.0.1:1/f{f}/link{i}.html">Link {i}</a>\n')
PY
export XDG_CONFIG_HOME="$work/config"
run() {  # run PATH ARGS...: "seconds peak-KiB rows"
  /usr/bin/time -f "%e %M" -o "$work/time" build-bench/cli/quimbel-cli -q "$@" > "$work/out" || true
  echo "$(tail -n 1 "$work/time") $(grep -c '^   [^ ]' "$work/out")"
}
read -r s1 k1 r1 < <(run "$work/pages/p000.html")
read -r s k r < <(run -a "$work/pages")
mkdir "$work/one"
cat "$work"/pages/*.html > "$work/one/page.html"
read -r s2 k2 r2 < <(run "$work/one/page.html")
awk -v s="$s" -v k="$k" -v r="$r" -v k1="$k1" -v r1="$r1" 'BEGIN {
  printf "%d rows: %.1f s, peak %.0f MiB (goal <= 200 MB)\n", r, s, k / 1024;
  printf "bytes a row beyond a %d-row run: %.0f\n", r1, (k - k1) * 1024 / (r - r1) }'
awk -v s="$s2" -v k="$k2" -v r="$r2" -v k100="$k" 'BEGIN {
  printf "%d rows from one page: %.1f s, peak %.0f MiB, %.2f times the 100 pages\n",
         r, s, k / 1024, k / k100 }'
