#!/usr/bin/env bash
# Crawl benchmark: a live site checked from its address, all measured in one
# run on loopback:
#   1. a generated site of PAGES pages (default 1,000) with 50 links each
#      (10 to other pages of the site, 35 to a second host, 5 images; one in
#      20 of those missing), served by nginx (0 ms) and by
#      bench/slow_server.py after 50 ms, crawled by
#      quimbel-cli, by npm's linkinator 6 (--recurse) and by Debian's
#      LinkChecker, all at the same concurrency;
#   2. the crawl's own growth: quimbel-cli over 10x the pages at 0 ms.
# Reports wall time, peak memory and ratios against quimbel-cli in the same
# run, and checks each checker found the missing links. Installs linkinator
# and linkchecker when they are missing; PEERS=0 runs quimbel-cli alone. Never sends traffic beyond
# 127.0.0.1 and 127.0.0.2.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
pages=${1:-1000}
concurrency=${CONCURRENCY:-32}
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
bin="$root/build-bench"
peers=${PEERS:-1}
if [ "$peers" = 1 ] && ! command -v linkchecker >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq linkchecker >/dev/null
fi
[ "$peers" = 1 ] && . bench/linkinator.sh

work=$(mktemp -d /tmp/quimbel-crawl-bench-XXXXXX)
chmod 755 "$work"
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))

# make_site DIR PAGES: the site under DIR/site, the second host's targets
# under DIR/t; prints the number of links that must be found missing.
make_site() {
  python3 - "$1" "$2" "$port" <<'PY'
import os, sys
top, pages, port = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.makedirs(f"{top}/site/img", exist_ok=True)
os.makedirs(f"{top}/t", exist_ok=True)
open(f"{top}/site/img/a.png", "w").write("png")
missing = 0
for p in range(pages):
    links = []
    for k in range(10):
        links.append(f'<a href="p{(p * 10 + k + 1) % pages}.html">page</a>')
    for k in range(35):
        n = p * 35 + k
        if n % 20 == 0:
            links.append(f'<a href="http://127.0.0.2:{port}/t/gone{n}">gone</a>')
            missing += 1
        else:
            open(f"{top}/t/{n}", "w").write("ok")
            links.append(f'<a href="http://127.0.0.2:{port}/t/{n}">other</a>')
    for k in range(5):
        src = "img/a.png" if (p * 5 + k) % 20 else f"img/none{p}-{k}.png"
        missing += src != "img/a.png"
        links.append(f'<img src="{src}" alt="i">')
    with open(f"{top}/site/p{p}.html", "w") as f:
        f.write("<!DOCTYPE html>\n<html><body>\n" + "\n".join(links) + "\n</body></html>\n")
open(f"{top}/site/index.html", "w").write('<a href="p0.html">start</a>\n')
print(missing)
PY
}

declare -A wall peak found
# measure NAME COMMAND...: wall seconds and peak memory (MiB); the output
# is kept for the missing-link count.
measure() {
  local name=$1; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/$name.out" 2>/dev/null || true
  read -r seconds kib < <(tail -n 1 "$work/time")
  wall[$name]=$seconds
  peak[$name]=$((kib / 1024))
}

# start_server DELAY_MS DIR: nginx without delay (the loopback's own
# speed), bench/slow_server.py with one.
start_server() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -f "$work/nginx.pid" "$work/server.out"
  if [ "$1" = 0 ]; then
    cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
worker_rlimit_nofile 4096;
events { worker_connections 2048; }
http {
  access_log off;
  types { text/html html; image/png png; }
  default_type text/plain;
  client_body_temp_path $work/body;
  server {
    listen 127.0.0.1:$port backlog=1024;
    listen 127.0.0.2:$port backlog=1024;
    root $2;
    add_header LinkChecker quimbel-bench always;
  }
}
CONF
    /usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
    server=$!
    for _ in $(seq 100); do [ -s "$work/nginx.pid" ] && break; sleep 0.05; done
  else
    python3 bench/slow_server.py "$port" "$1" 2 "$2" >"$work/server.out" 2>&1 &
    server=$!
    for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  fi
}

cat > "$work/linkcheckerrc" <<RC
[checking]
maxrequestspersecond=100000
[output]
status=0
RC
chmod 644 "$work/linkcheckerrc"

one=$work/one
missing=$(make_site "$one" "$pages")
chmod -R a+rX "$work"
url="http://127.0.0.1:$port/site/"
links=$((pages * 50))
for delay in 0 50; do
  start_server "$delay" "$one"
  measure "quimbel_$delay" "$bin/cli/quimbel-cli" -q -j "$concurrency" --per-host "$concurrency" "$url"
  found[quimbel_$delay]=$(grep -c "404 Not Found" "$work/quimbel_$delay.out" || true)
  [ "$peers" = 1 ] || continue
  measure "linkinator_$delay" "$linkinator" "$url" --recurse --concurrency "$concurrency" --format csv
  found[linkinator_$delay]=$(grep -c ",404," "$work/linkinator_$delay.out" || true)
  measure "linkchecker_$delay" linkchecker -f "$work/linkcheckerrc" --check-extern --no-warnings \
    -t "$concurrency" -o csv "$url"
  found[linkchecker_$delay]=$(grep -c "404" "$work/linkchecker_$delay.out" || true)
done

echo "== 1. crawl of $pages pages, $links links ($missing missing), concurrency $concurrency"
printf "%-18s %9s %10s %9s %9s %14s\n" checker "wall s" "links/s" "peak MiB" missing "time / quimbel"
for delay in 0 50; do
  for name in quimbel linkinator linkchecker; do
    key=${name}_$delay
    [ -n "${wall[$key]:-}" ] || continue
    awk -v n="$name ${delay}ms" -v w="${wall[$key]}" -v m="${peak[$key]}" -v f="${found[$key]}" \
      -v q="${wall[quimbel_$delay]}" -v l="$links" \
      'BEGIN { printf "%-18s %9.2f %10.0f %9d %9d %14.2f\n", n, w, l / w, m, f, w / q }'
  done
done

echo "== 2. the crawl's growth: 10x the pages at 0 ms"
ten=$work/ten
make_site "$ten" $((pages * 10)) >/dev/null
chmod -R a+rX "$ten"
sync  # the new files' write-back must not run beside the measurement
start_server 0 "$ten"
measure quimbel_ten "$bin/cli/quimbel-cli" -q -j "$concurrency" --per-host "$concurrency" "$url"
start_server 0 "$one"
measure quimbel_one "$bin/cli/quimbel-cli" -q -j "$concurrency" --per-host "$concurrency" "$url"
awk -v a="${wall[quimbel_one]}" -v b="${wall[quimbel_ten]}" -v ma="${peak[quimbel_one]}" \
  -v mb="${peak[quimbel_ten]}" -v p="$pages" 'BEGIN {
  printf "%6d pages  %8.2f s  %6d MiB\n%6d pages  %8.2f s  %6d MiB\ntime ratio %.2f (linear: 10)\n",
    p, a, ma, p * 10, b, mb, b / a }'
