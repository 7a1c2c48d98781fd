#!/usr/bin/env bash
# Whole-site benchmark, all measured in one run on one loopback nginx:
#   1. a site of 200 pages with 50 links each (about 10% to missing files),
#      checked by quimbel-cli -r, by Debian's LinkChecker (--check-extern,
#      with its per-host throttle lifted, default threads and -t 1) and by
#      npm's linkinator 6;
#   2. the loopback limit: a bare sequential connect/GET/receive/close
#      loop, and quimbel-cli's probe rate as a fraction of it;
#   3. purge throughput: the comment purge's rewrite beside sed over the
#      same pages.
# Installs linkchecker and linkinator when they are missing. Never sends
# traffic beyond 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
bin="$root/build-bench"

if ! command -v linkchecker >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq linkchecker >/dev/null
fi
. bench/linkinator.sh

# LinkChecker drops to "nobody" when started as root: everything it reads
# must be world-readable.
work=$(mktemp -d /tmp/quimbel-site-bench-XXXXXX)
chmod 755 "$work"
trap 'kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))

mkdir -p "$work/www/targets" "$work/site"
# Every link is a different URL, so checkers that remember URLs gain
# nothing over one that probes each link.
for t in $(seq 0 9999); do echo "<html><body>target $t</body></html>" > "$work/www/targets/t$t.htm"; done
for p in $(seq 0 199); do
  {
    echo "<html><head><title>Page $p</title></head><body><ul>"
    for l in $(seq 0 49); do
      n=$((p * 50 + l))
      if [ $((n % 10)) -eq 0 ]; then target="missing$n.htm"; else target="t$n.htm"; fi
      echo "<li><a href=\"http://127.0.0.1:$port/targets/$target\">Link $n</a></li>"
    done
    echo "</ul></body></html>"
  } > "$work/site/page$p.htm"
done
chmod -R a+rX "$work"
links=$((200 * 50))

cat > "$work/nginx.conf" <<CONF
daemon on;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
worker_rlimit_nofile 4096;
events { worker_connections 2048; }
http {
  access_log off;
  client_body_temp_path $work/body;
  server {
    listen 127.0.0.1:$port backlog=1024;
    root $work/www;
    add_header LinkChecker quimbel-bench always;
  }
}
CONF
/usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done

cat > "$work/linkcheckerrc" <<RC
[checking]
maxrequestspersecond=100000
[output]
status=0
RC
chmod 644 "$work/linkcheckerrc"

# measure NAME COMMAND...: wall seconds and peak memory in MiB.
declare -A wall peak
measure() {
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  read -r seconds kib < <(tail -n 1 "$work/time")
  wall[$name]=$seconds
  peak[$name]=$((kib / 1024))
}

# quimbel-cli and the bare loop are fast enough to take the best of five,
# interleaved, which steadies the loopback fraction.
best_quimbel=""
best_bare=""
for _ in 1 2 3 4 5; do
  measure quimbel "$bin/cli/quimbel-cli" -q -r --timeout 5 "$work/site"
  if [ -z "$best_quimbel" ] || awk -v a="${wall[quimbel]}" -v b="$best_quimbel" 'BEGIN {exit !(a < b)}'; then
    best_quimbel=${wall[quimbel]}
  fi
  rate=$("$bin/bench/loopback_probe" "$port" "$links" | awk '{print $7}')
  if [ -z "$best_bare" ] || awk -v a="$rate" -v b="$best_bare" 'BEGIN {exit !(a > b)}'; then
    best_bare=$rate
  fi
done
wall[quimbel]=$best_quimbel
measure quimbel_j1 "$bin/cli/quimbel-cli" -q -r -j 1 --timeout 5 "$work/site"
measure linkchecker linkchecker -f "$work/linkcheckerrc" --check-extern --no-warnings "$work"/site/*.htm
measure linkchecker_t1 linkchecker -f "$work/linkcheckerrc" --check-extern --no-warnings -t 1 "$work"/site/*.htm
# linkinator serves the current folder itself and wants names relative to it.
pages=$(cd "$work/site" && ls page*.htm)
measure linkinator bash -c "cd '$work/site' && '$linkinator' $(echo $pages)"
# Each checker must have found the 1000 missing targets.
found_q=$("$bin/cli/quimbel-cli" -q -r --timeout 5 "$work/site" | grep -c "404 Not Found" || true)
found_i=$(cd "$work/site" && "$linkinator" --format csv $pages 2>/dev/null | grep -c ",404," || true)
echo "missing links found: quimbel $found_q, linkinator $found_i (expected 1000)"

echo "== 1. whole site: $links links in 200 pages on loopback nginx"
printf "%-22s %9s %10s %9s %14s\n" checker "wall s" "URLs/s" "peak MiB" "time / quimbel"
for name in quimbel quimbel_j1 linkinator linkchecker linkchecker_t1; do
  awk -v n="$name" -v w="${wall[$name]}" -v m="${peak[$name]}" -v q="${wall[quimbel]}" -v l="$links" \
    'BEGIN { printf "%-22s %9.2f %10.0f %9d %14.2f\n", n, w, l / w, m, w / q }'
done
echo "(LinkChecker: maxrequestspersecond raised and a LinkChecker header served, lifting its per-host throttle)"

echo "== 2. loopback limit"
awk -v b="$best_bare" -v w="${wall[quimbel_j1]}" -v d="${wall[quimbel]}" -v l="$links" 'BEGIN {
  q = l / w;
  printf "bare sequential loop   %8.0f probes/s\nquimbel-cli -j 1       %8.0f probes/s\nfraction               %8.2f\n", b, q, q / b;
  printf "quimbel-cli default    %8.0f probes/s (%.2fx its -j 1)\n", l / d, w / d }'

echo "== 3. purge throughput"
corpus="$work/purge"
"$bin/bench/make_corpus" "$corpus/a" 2000 --comments >/dev/null
cp -r "$corpus/a" "$corpus/b"
bytes=$(find "$corpus/a" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
t0=$(date +%s%N); "$bin/bench/purge_bench" "$corpus/a" >/dev/null; t1=$(date +%s%N)
find "$corpus/b" -type f -exec sed -i -e 's/<!--[^>]*-->//g' {} + ; t2=$(date +%s%N)
awk -v b="$bytes" -v q=$((t1 - t0)) -v s=$((t2 - t1)) 'BEGIN {
  printf "PurgeFileComments      %8.1f MB/s\nsed -i s/<!--...-->//g %8.1f MB/s\nratio (ours / sed)     %8.2f\n",
    b / q * 1e3, b / s * 1e3, s / q }'
echo "(a purge run also pauses 100 ms between files, which this excludes)"
