#!/usr/bin/env bash
# Probe benchmark, all measured in one run against servers on loopback:
#   1. 1,000 links in 20 pages to one host that answers each request after
#      50 ms (100 missing, 20 moved): quimbel-cli -j 128 --per-host 128
#      (linkinator's 100 in flight, for a fair match), and the same build
#      closing every connection after its header block, beside linkinator 6;
#   2. the same links spread over 50 hosts (127.0.0.1 to 127.0.0.50):
#      quimbel-cli at its defaults beside linkinator;
#   3. an https site on a loopback nginx with a made-up CA: quimbel-cli
#      --ca-file beside linkinator (NODE_EXTRA_CA_CERTS).
# Installs linkinator when it is missing. Never sends traffic beyond
# 127.0.0.0/8.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
bin="$(pwd)/build-bench"
# The same program, but every transfer ends with its header block, so no
# connection is kept.
cmake -S . -B build-bench-close -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DQUIMBEL_LONGEST_BODY_READ=-1 >/dev/null
cmake --build build-bench-close --target quimbel-cli -j "$(nproc)" >/dev/null
close_bin="$(pwd)/build-bench-close"

. bench/linkinator.sh

work=$(mktemp -d /tmp/quimbel-probe-bench-XXXXXX)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
port=$((20000 + RANDOM % 20000))
python3 bench/slow_server.py "$port" 50 50 > "$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.1; done

# pages FOLDER HOSTS: 20 pages of 50 links; every tenth missing, every
# fiftieth (offset 5) moved.
pages() {
  mkdir -p "$1"
  for p in $(seq 0 19); do
    {
      echo "<html><body><ul>"
      for l in $(seq 0 49); do
        n=$((p * 50 + l))
        host="127.0.0.$((n % $2 + 1))"
        if [ $((n % 10)) -eq 0 ]; then path="missing$n.htm"
        elif [ $((n % 50)) -eq 5 ]; then path="moved$n.htm"
        else path="t$n.htm"; fi
        echo "<li><a href=\"${3:-http}://$host:${4:-$port}/$path\">Link $n</a></li>"
      done
      echo "</ul></body></html>"
    } > "$1/page$p.htm"
  done
}
pages "$work/one" 1
pages "$work/many" 50

# measure NAME COMMAND...: best wall seconds of three, and peak MiB.
declare -A wall peak
measure() {
  local name=$1; shift
  local best=""
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    read -r seconds kib < <(tail -n 1 "$work/time")
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN {exit !(a < b)}'; then best=$seconds; fi
  done
  wall[$name]=$best
  peak[$name]=$((kib / 1024))
}
report() {  # report TITLE BASELINE NAME...
  local title=$1 base=$2; shift 2
  echo "== $title"
  printf "%-30s %8s %9s %9s %12s\n" checker "wall s" "links/s" "peak MiB" "time / $base"
  for name in "$@"; do
    awk -v n="$name" -v w="${wall[$name]}" -v m="${peak[$name]}" -v q="${wall[$base]}" \
      'BEGIN { printf "%-30s %8.2f %9.0f %9d %12.2f\n", n, w, 1000 / w, m, w / q }'
  done
}
# linkinator_in FOLDER ARGS...: linkinator serves the folder itself and
# wants page names relative to it. A script, so that time(1) can run it.
cat > "$work/linkinator_in" <<SCRIPT
#!/usr/bin/env bash
folder=\$1; shift
cd "\$folder" && exec "$linkinator" "\$@" \$(ls page*.htm)
SCRIPT
chmod +x "$work/linkinator_in"
linkinator_in() { "$work/linkinator_in" "$@"; }

measure quimbel_j128 "$bin/cli/quimbel-cli" -q -a -j 128 --per-host 128 "$work/one"
measure quimbel_j128_close "$close_bin/cli/quimbel-cli" -q -a -j 128 --per-host 128 "$work/one"
measure quimbel_default "$bin/cli/quimbel-cli" -q -a "$work/one"
measure linkinator "$work/linkinator_in" "$work/one"
echo "found: quimbel $("$bin/cli/quimbel-cli" -q -a -j 128 --per-host 128 "$work/one" | grep -c '404 Not Found') missing," \
  "$("$bin/cli/quimbel-cli" -q -a -j 128 --per-host 128 "$work/one" | grep -c '301 Moved') moved;" \
  "linkinator $(linkinator_in "$work/one" --format csv 2>/dev/null | grep -c ',404,' || true) missing," \
  "$(linkinator_in "$work/one" --format csv --redirects error 2>/dev/null | grep -c '/moved[0-9]*.htm",[0-9]*,BROKEN' || true) moved" \
  "(expected 100 and 20)"
report "1. one host, 50 ms a request, 1,000 links" quimbel_j128 quimbel_j128 quimbel_j128_close quimbel_default linkinator

measure quimbel_many "$bin/cli/quimbel-cli" -q -a "$work/many"
measure quimbel_many_j100 "$bin/cli/quimbel-cli" -q -a -j 100 "$work/many"
measure linkinator_many "$work/linkinator_in" "$work/many"
report "2. 50 hosts, 50 ms a request, 1,000 links (quimbel at its defaults, then -j 100)" \
  quimbel_many quimbel_many quimbel_many_j100 linkinator_many
echo "(32 in flight at 50 ms a request cannot take less than 1000 / 32 * 0.05 = 1.56 s)"

# 3. https on nginx, a made-up CA.
certs="$work/certs"
mkdir -p "$work/www"
source bench/test_ca.sh
make_test_ca "$certs"
for n in $(seq 0 999); do echo "<html><body>target $n</body></html>" > "$work/www/t$n.htm"; done
tls_port=$((port + 1))
cat > "$work/nginx.conf" <<CONF
daemon on;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/body;
  server {
    listen 127.0.0.1:$tls_port ssl backlog=1024;
    ssl_certificate $certs/leaf.pem;
    ssl_certificate_key $certs/leaf.key;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
pages "$work/secure" 1 https "$tls_port"
measure quimbel_https "$bin/cli/quimbel-cli" -q -a --ca-file "$certs/ca.pem" "$work/secure"
export NODE_EXTRA_CA_CERTS="$certs/ca.pem"
measure linkinator_https "$work/linkinator_in" "$work/secure"
echo "found: quimbel $("$bin/cli/quimbel-cli" -q -a --ca-file "$certs/ca.pem" "$work/secure" | grep -c '404 Not Found'), linkinator $(linkinator_in "$work/secure" --format csv 2>/dev/null | grep -c ',404,' || true) (expected 120)"
report "3. https on nginx, 1,000 links (quimbel at its defaults)" quimbel_https quimbel_https linkinator_https
