#!/usr/bin/env bash
# A name server that never answers: how long quimbel-cli takes over a page
# whose one link needs a lookup (time limit 5 s) beside one to a refused
# port on 127.0.0.1. It should take the time limit and its one second, no
# more. Runs in a user, mount and network namespace of its own, where a
# silent UDP socket on 127.0.0.1:53 is the name server; nothing leaves the
# machine. usage: dns_bench.sh [PATH/TO/quimbel-cli]
set -euo pipefail
cd "$(dirname "$0")/.."
cli="$(realpath "${1:-build-bench/cli/quimbel-cli}")"
[ -x "$cli" ] || { QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '<a href="http://hang.example.com/x.htm">Hang</a>\n<a href="http://127.0.0.1:1/">Down</a>\n' \
  >"$work/p.htm"
echo "nameserver 127.0.0.1" >"$work/resolv.conf"
cat >"$work/silent.py" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('127.0.0.1', 53))
open(sys.argv[1], 'w').close()
time.sleep(30)
PY
unshare -rmn sh -c "ip link set lo up && mount --bind $work/resolv.conf /etc/resolv.conf &&
  { python3 $work/silent.py $work/ready & } &&
  for i in \$(seq 50); do [ -e $work/ready ] && break; sleep 0.1; done &&
  start=\$(date +%s%N) && XDG_CONFIG_HOME=$work $cli -q -t 5 -j 4 $work/p.htm >$work/out;
  echo \$(( (\$(date +%s%N) - start) / 1000000 )) ms, limit 5000 ms; kill \$!"
cat "$work/out"
