#!/usr/bin/env bash
# Requests per URL in a crawl: a generated site of PAGES pages (default
# 1,000 and 10,000; give others as arguments) crawled from its address by
# quimbel-cli and by npm's linkinator 6 (--recurse), both at the same
# concurrency, on a loopback nginx that logs every request. The site makes
# a naive crawler ask twice: each page links 10 others written six ways
# (relative, ./ with a fragment, rooted, absolute, upper-case scheme, with
# another fragment); 20 links a page go to a second host, each of them also
# on a page half the site away (one in 50 missing, one on every page);
# moved links answer 301 with a rooted, a path-relative or an absolute
# Location whose targets are linked directly too, a folder without its
# slash, a chain of two moves; robots.txt disallows /site/private/, which a
# few pages link.
# Prints, for each checker and size: requests, distinct URLs (scheme, host,
# port and request URI), their ratio, the most any one URL was asked and
# the URLs asked more than once, whether /site/private/ was asked, the site
# pages fetched, wall time, peak memory and linkinator / quimbel. Fails
# when quimbel-cli asks any URL twice or asks anything under
# /site/private/ (linkinator reads no robots.txt: its figure is shown only).
# QUIMBEL_CLI=path uses that binary instead of a Release build; PEERS=0
# runs quimbel-cli alone. Never sends traffic beyond 127.0.0.1 and
# 127.0.0.2.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$#" -gt 0 ]; then sizes=("$@"); else sizes=(1000 10000); fi
concurrency=${CONCURRENCY:-32}
peers=${PEERS:-1}
if [ -n "${QUIMBEL_CLI:-}" ]; then
  cli=$(realpath "$QUIMBEL_CLI")
else
  QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
  cli="$(pwd)/build-bench/cli/quimbel-cli"
fi
[ "$peers" = 1 ] && . bench/linkinator.sh
# Both checkers honour proxy variables; every request must reach the
# loopback nginx itself.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

work=$(mktemp -d /tmp/quimbel-requests-bench-XXXXXX)
chmod 755 "$work"
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))
# Stored preferences (per-host limit, robots.txt set aside) must not
# change what is asked.
export XDG_CONFIG_HOME="$work/config"

# make_site DIR PAGES: the site under DIR/site with DIR/robots.txt; the
# second host's targets are answered by nginx itself.
make_site() {
  python3 - "$1" "$2" "$port" <<'PY'
import os, sys
top, pages, port = sys.argv[1], int(sys.argv[2]), sys.argv[3]
site = f"http://127.0.0.1:{port}/site"
other = f"127.0.0.2:{port}/t"
os.makedirs(f"{top}/site/dir", exist_ok=True)
os.makedirs(f"{top}/site/private", exist_ok=True)
open(f"{top}/robots.txt", "w").write("User-agent: *\nDisallow: /site/private/\n")

def page_link(q, form):
    return [f"p{q}.html", f"./p{q}.html#sec", f"/site/p{q}.html",
            f"{site}/p{q}.html", f"HTTP://127.0.0.1:{port}/site/p{q}.html",
            f"p{q}.html#x"][form]

# The second host's pool: slot s of page p and slot s + 10 of page
# p + pages / 2 name the same target, scattered over the pool, so each
# target is linked twice, half the site apart.
pool = pages * 10
stride = 7919  # prime, coprime with any pool of pages * 10
def target(n):
    n = n * stride % pool
    return f"gone/{n}" if n % 50 == 0 else str(n)

def other_link(n, form):
    return [f"http://{other}/{n}", f"HTTP://{other}/{n}", f"http://{other}/{n}#top"][form]

half = pages // 2
moved = max(half, 1)
for p in range(pages):
    links = []
    for k in range(10):
        links.append(page_link((p * 10 + k + 1) % pages, (p + k) % 6))
    for s in range(10):
        links.append(other_link(target(p * 10 + s), (p + s) % 3))
        links.append(other_link(target((p + half) % pages * 10 + s), (p + s + 1) % 3))
    links.append(f"http://{other}/home")
    # Moved within the site: each moved address on two pages half the site
    # apart, written two ways, its end a page linked directly elsewhere.
    m = p * 37 % moved
    links.append(f"moved/{m}" if p < half else f"{site}/moved/{m}")
    if p % 4 == 1:
        links.append(f"/site/moved/rel/{m}")
    if p % 10 == 0:
        n = target(p * 10 + 1)
        if not n.startswith("gone"):
            links.append(f"http://{other}/old/{n}")
    if p % 100 == 0:
        links.append("dir")
    if p % 100 == 50:
        links.append("dir/")
    if p % 100 == 25:
        links.append("/site/moved/dir")
    if p % 100 == 3:
        links.append(["missing.html", "/site/missing.html", f"{site}/missing.html#a"][p // 100 % 3])
    if p % 250 == 7:
        open(f"{top}/site/private/s{p}.html", "w").write("<p>private</p>\n")
        links.append(f"private/s{p}.html")
    if p % 250 == 8:
        links.append(f"/site/private/s{p - 1}.html")
    if p % 250 == 9:
        links.append(f"{site}/private/")
    body = "\n".join(f'<a href="{u}">link</a>' for u in links)
    with open(f"{top}/site/p{p}.html", "w") as f:
        f.write(f'<!DOCTYPE html>\n<html><body>\n<h2 id="sec">p{p}</h2><a id="x"></a>\n'
                f"{body}\n</body></html>\n")
open(f"{top}/site/private/index.html", "w").write("<p>private</p>\n")
open(f"{top}/site/index.html", "w").write('<a href="p0.html">start</a>\n')
open(f"{top}/site/dir/index.html", "w").write(
    '<a href="../p1.html">up</a>\n<a href="../../site/p2.html#sec">up</a>\n'
    '<a href="./../p3.html">up</a>\n<a href="/site/">home</a>\n')
PY
}

# start_server DIR LOG: nginx over DIR on both addresses, one log line a
# request: the address asked, then the method and the status.
start_server() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -f "$work/nginx.pid"
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
pid $work/nginx.pid;
error_log $work/error.log;
worker_rlimit_nofile 4096;
events { worker_connections 2048; }
http {
  log_format requests '\$scheme://\$server_addr:\$server_port\$request_uri \$request_method \$status';
  access_log $2 requests;
  types { text/html html; }
  default_type text/plain;
  client_body_temp_path $work/body;
  server {
    listen 127.0.0.1:$port backlog=1024;
    listen 127.0.0.2:$port backlog=1024;
    root $1;
    location = /site/moved/dir { absolute_redirect off; return 301 /site/dir; }
    location ~ ^/site/moved/([0-9]+)\$ { absolute_redirect off; return 301 /site/p\$1.html; }
    location ~ ^/site/moved/rel/([0-9]+)\$ { return 301 ../../p\$1.html; }
    location ~ ^/t/old/([0-9]+)\$ { return 301 http://127.0.0.2:\$server_port/t/\$1; }
    location /t/gone/ { return 404; }
    location /t/ { return 200 "ok\n"; }
  }
}
CONF
  /usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
  server=$!
  for _ in $(seq 100); do [ -s "$work/nginx.pid" ] && break; sleep 0.05; done
}

declare -A wall peak status
# measure NAME COMMAND...: wall seconds, peak memory (MiB) and exit status.
measure() {
  local name=$1 rc=0; shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  read -r seconds kib < <(tail -n 1 "$work/time")
  wall[$name]=$seconds
  peak[$name]=$((kib / 1024))
  status[$name]=$rc
}

# requests NAME LOG PAGES: the request figures of one run; exits 1 when a
# URL was asked twice or anything under /site/private/ was asked.
requests() {
  python3 - "$@" <<'PY'
import collections, re, sys
name, log, pages = sys.argv[1], sys.argv[2], int(sys.argv[3])
count = collections.Counter()
methods = collections.defaultdict(list)
for line in open(log):
    url, method, code = line.split()
    # The host is the address nginx was reached on, already lower-case.
    count[url] += 1
    methods[url].append(f"{method} {code}")
total, distinct = sum(count.values()), len(count)
top = max(count.values(), default=0)
private = sum(n for u, n in count.items() if "/site/private/" in u)
fetched = sum(1 for u in count if re.search(r"/site/p[0-9]+\.html$", u))
ratio = total / distinct if distinct else 0
print(f"{name:<11} requests {total:7d}  distinct {distinct:7d}  ratio {ratio:.2f}  "
      f"most {top}  private {private}  pages {fetched}/{pages}")
repeated = [u for u, n in count.items() if n > 1]
if repeated:
    print(f"            asked more than once: {len(repeated)} URLs, {total - distinct} requests too many")
for url, n in count.most_common(5):
    if n < 2:
        break
    print(f"            {n}x {url}  ({', '.join(methods[url])})")
sys.exit(1 if total != distinct or private else 0)
PY
}

failed=0
for pages in "${sizes[@]}"; do
  top=$work/site$pages
  make_site "$top" "$pages"
  chmod -R a+rX "$work"
  sync  # the new files' write-back must not run beside the measurement
  url="http://127.0.0.1:$port/site/"
  echo "== $pages pages, concurrency $concurrency"
  start_server "$top" "$work/quimbel$pages.log"
  measure "quimbel$pages" "$cli" -q -j "$concurrency" --per-host "$concurrency" \
    --output "json=$work/quimbel$pages.json" "$url"
  if [ "${status[quimbel$pages]}" -gt 1 ]; then
    echo "quimbel-cli could not run (exit ${status[quimbel$pages]}):" >&2
    cat "$work/quimbel$pages.err" >&2
    failed=1
  fi
  requests quimbel "$work/quimbel$pages.log" "$pages" || failed=1
  if [ "$peers" = 1 ]; then
    start_server "$top" "$work/linkinator$pages.log"
    measure "linkinator$pages" "$linkinator" "$url" --recurse --concurrency "$concurrency" --format json
    requests linkinator "$work/linkinator$pages.log" "$pages" || true
  fi
  printf "%-11s %9s %9s %18s\n" checker "wall s" "peak MiB" "linkinator/quimbel"
  for name in quimbel linkinator; do
    key=$name$pages
    [ -n "${wall[$key]:-}" ] || continue
    awk -v n="$name" -v w="${wall[$key]}" -v m="${peak[$key]}" -v q="${wall[quimbel$pages]}" \
      -v qm="${peak[quimbel$pages]}" 'BEGIN {
      printf "%-11s %9.2f %9d", n, w, m
      if (n != "quimbel") printf "   time %.2f  memory %.2f", w / q, m / qm
      printf "\n" }'
  done
  rm -rf "$top"
done
exit "$failed"
