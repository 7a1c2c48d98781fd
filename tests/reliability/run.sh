#!/usr/bin/env bash
# Reliability trials for the file rewrites, on quimbel-cli:
#   - SIGKILL at a random moment during repairs and during purges;
#   - two repairs of one folder at the same time;
#   - a full disk (a small tmpfs; only as root, skipped otherwise);
#   - read-only pages;
#   - the store (link cache and history of runs): SIGKILL during runs that
#     write it, two runs writing it at once, a read-only store and a full
#     disk; it must always open, pass SQLite's integrity check, and keep
#     every run that ended.
# After each, every page must be its old bytes or its complete new bytes,
# and every backup the page as it was. Prints files checked, files lost
# (must be 0) and temporary files left by the killed runs.
# usage: run.sh PATH/TO/quimbel-cli [TRIALS]   (default 30 trials; the
# two-instance step runs at least 20, since its race is rarely lost)
set -euo pipefail
cli="$(realpath "$1")"
trials="${2:-30}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Repairs must touch "Error:" rows too: every link goes to a closed port.
export XDG_CONFIG_HOME="$work/config" HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Marrowfen"
printf '[Repair]\nIgnore=0\n' >"$XDG_CONFIG_HOME/Marrowfen/Quimbel.conf"

pristine="$work/pristine"
mkdir -p "$pristine"
python3 - "$pristine" <<'PY'
import sys
folder = sys.argv[1]
for n in range(24):
    lines = []
    for i in range(4000):
        if i % 500 == 7:
            lines.append(f'<a href="http://127.0.0.1:1/p{n}/{i}.htm">link {i}</a>\n')
        else:
            lines.append(f"<p>page {n} line {i} <!-- note {i} --> text</p>\n")
    open(f"{folder}/page{n:02d}.htm", "w").write("".join(lines))
PY

failures=0
check() {  # check RESULT MODE
  if ! python3 "$here/check_pages.py" "$pristine" "$1" "$2"; then failures=$((failures + 1)); fi
}
fresh() {  # fresh NAME: a new copy of the site
  rm -rf "${work:?}/$1"
  cp -r "$pristine" "$work/$1"
  echo "$work/$1"
}

echo "== SIGKILL during repair and purge, $trials trials each"
for mode in repair purge; do
  for trial in $(seq "$trials"); do
    site="$(fresh "$mode-$trial")"
    if [ "$mode" = repair ]; then
      "$cli" -q -a --repair disable --yes "$site" >/dev/null 2>&1 &
    else
      "$cli" -q -a --purge "$site" >/dev/null 2>&1 &
    fi
    pid=$!
    sleep "0.$(( RANDOM % 40 ))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo -n "$mode trial $trial: "
    check "$site" "$mode"
    rm -rf "$site"
  done
done

together=$(( trials > 20 ? trials : 20 ))
echo "== two repairs of one folder at once, $together trials"
for trial in $(seq "$together"); do
  site="$(fresh "concurrent-$trial")"
  # Both kinds: a removed line is what a stale repair used to lose.
  kind=$([ $((trial % 2)) -eq 0 ] && echo remove || echo disable)
  "$cli" -q -a --repair "$kind" --yes "$site" >/dev/null 2>&1 &
  first=$!
  "$cli" -q -a --repair "$kind" --yes "$site" >/dev/null 2>&1 &
  second=$!
  wait "$first" || true
  wait "$second" || true
  echo -n "concurrent trial $trial ($kind): "
  check "$site" "repair-$kind"
  rm -rf "$site"
done

echo "== read-only pages"
for mode in repair purge; do
  site="$(fresh "read-only-$mode")"
  chmod 0444 "$site"/page0*.htm
  if [ "$mode" = repair ]; then
    "$cli" -q -a --repair disable --yes "$site" >/dev/null 2>&1 || true
  else
    "$cli" -q -a --purge "$site" >/dev/null 2>&1 || true
  fi
  for page in "$site"/page0*.htm; do
    if ! cmp -s "$page" "$pristine/$(basename "$page")"; then
      echo "lost: read-only $page was changed"
      failures=$((failures + 1))
    fi
  done
  check "$site" "$mode"
done

store_ok() {  # store_ok FILE WHAT: the store opens and is whole
  if ! python3 - "$1" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])  # as a run opens it: a killed run's journal is recovered
sys.exit(0 if db.execute("PRAGMA integrity_check").fetchone()[0] == "ok" else 1)
PY
  then
    echo "lost: the store after $2 is damaged"
    failures=$((failures + 1))
  fi
}
whole_runs() {  # whole_runs FILE TARGET: runs of TARGET recorded as ended whole
  python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("select count(*) from runs where complete=1 and target=?", (sys.argv[2],)).fetchone()[0])' "$1" "$2"
}

echo "== the store: SIGKILL during runs, two runs at once, read-only"
store="$work/config/.cache/quimbel/store.db"
site="$(fresh store-site)"
"$cli" -q -a "$site" >/dev/null 2>&1 || true
for trial in $(seq "$trials"); do
  "$cli" -q -a "$site" >/dev/null 2>&1 &
  pid=$!
  sleep "0.$(( RANDOM % 30 ))"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  store_ok "$store" "a kill (trial $trial)"
done
before=$(whole_runs "$store" "$site")
for trial in $(seq 5); do
  "$cli" -q -a "$site" >/dev/null 2>"$work/first.err" &
  first=$!
  "$cli" -q -a --since-last "$site" >/dev/null 2>"$work/second.err" &
  second=$!
  wait "$first" || true
  wait "$second" || true
  if grep -q "history\|store\|cache" "$work/first.err" "$work/second.err"; then
    echo "lost: two runs at once could not both use the store:"; cat "$work/first.err" "$work/second.err"
    failures=$((failures + 1))
  fi
done
after=$(whole_runs "$store" "$site")
[ "$after" -eq $((before + 10 > 30 ? 30 : before + 10)) ] || {
  echo "lost: 10 whole runs at once left $before -> $after runs recorded"; failures=$((failures + 1)); }
store_ok "$store" "two runs at once"
cp "$store" "$work/store-before"
chmod 0444 "$store"
"$cli" -q -a "$site" >/dev/null 2>&1 || true
cmp -s "$store" "$work/store-before" || { echo "lost: a read-only store was changed"; failures=$((failures + 1)); }
chmod 0644 "$store"
echo "store: $trials kills, 5 pairs of runs at once, a read-only store"

echo "== full disk"
if [ "$(id -u)" -eq 0 ] && command -v mount >/dev/null; then
  disk="$work/disk"
  mkdir -p "$disk"
  if mount -t tmpfs -o size=3m tmpfs "$disk" 2>/dev/null; then
    mounted="$disk"
    mkdir "$disk/site"
    cp "$pristine"/page0[0-9].htm "$disk/site/" 2>/dev/null || true
    # A small store there too, whole (a copy the disk had no room for is none).
    mkdir -p "$work/tiny" && cp "$pristine/page00.htm" "$work/tiny/"
    "$cli" -q -a --cache "$work/tiny.db" "$work/tiny" >/dev/null 2>&1 || true
    cp "$work/tiny.db" "$disk/store.db" 2>/dev/null && cmp -s "$work/tiny.db" "$disk/store.db" ||
      rm -f "$disk/store.db"
    # Fill what is left, so no rewrite finds room.
    dd if=/dev/zero of="$disk/filler" bs=4k 2>/dev/null || true
    status=0
    "$cli" -q -a --purge "$disk/site" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || { echo "FAIL: a purge on a full disk exited $status"; failures=$((failures + 1)); }
    status=0
    "$cli" -q -a --repair disable --yes "$disk/site" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || { echo "FAIL: a repair on a full disk exited $status"; failures=$((failures + 1)); }
    for page in "$disk/site"/*.htm; do
      if ! cmp -s "$page" "$pristine/$(basename "$page")"; then
        echo "lost: $page changed on a full disk"
        failures=$((failures + 1))
      fi
    done
    echo "full disk: $(ls "$disk/site"/*.htm | wc -l) pages checked"
    # A store on the full disk stays whole.
    if [ -s "$disk/store.db" ]; then
      "$cli" -a --cache "$disk/store.db" "$disk/site" >/dev/null 2>"$work/disk.err" || true
      grep -q "could not be written\|is not used\|is not kept" "$work/disk.err" || {
        echo "FAIL: a store on a full disk was not said to fail:"; cat "$work/disk.err"
        failures=$((failures + 1)); }
      rm -rf "$disk/filler" "$disk/site"  # room for the check's own files
      store_ok "$disk/store.db" "a full disk"
      echo "full disk: a store there stays whole"
    else
      echo "full disk: no room for a store to try"
    fi
  else
    echo "skipped: cannot mount a tmpfs here"
  fi
else
  echo "skipped: needs the superuser to mount a small tmpfs"
fi

if [ "$failures" -ne 0 ]; then
  echo "FAILED: $failures checks lost data"
  exit 1
fi
echo "all checks passed: no page lost"
