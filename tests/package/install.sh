#!/usr/bin/env bash
# The packages as a user gets them: installs quimbel-cli and quimbel from
# FOLDER's .deb files with apt-get (which fetches their dependencies),
# checks the installed files, runs quimbel-cli on tests/local_site, starts
# the window on Xvfb until its main window shows, then removes both
# packages and checks that their files went with them. Needs root; refuses
# to run where either package is installed already, as it removes them.
# usage: install.sh FOLDER   (scripts/package.sh's build-package)
set -euo pipefail
cd "$(dirname "$0")/../.."
folder="$(realpath "$1")"
[ "$(id -u)" -eq 0 ] || { echo "install.sh installs packages: run it as root"; exit 2; }
for package in quimbel quimbel-cli; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "$package is installed already; this test would remove it"
    exit 2
  fi
done
id="$(sed -nE 's/^inline constexpr std::string_view kDesktopId = "([^"]*)";/\1/p' platform/product.h)"
version="$(sed -nE 's/^project\(Quimbel VERSION ([0-9.]+) .*/\1/p' CMakeLists.txt)"
files=(/usr/bin/quimbel-cli /usr/share/man/man1/quimbel-cli.1.gz
       /usr/share/bash-completion/completions/quimbel-cli /usr/share/doc/quimbel-cli/copyright
       /usr/bin/quimbel /usr/share/man/man1/quimbel.1.gz "/usr/share/applications/$id.desktop"
       "/usr/share/metainfo/$id.metainfo.xml" /usr/share/icons/hicolor/scalable/apps/quimbel.svg
       /usr/share/doc/quimbel/copyright)

work="$(mktemp -d)"
cleanup() {
  [ -n "${program:-}" ] && kill "$program" 2>/dev/null || true
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

echo "-- apt-get install"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$folder"/quimbel-cli_*.deb "$folder"/quimbel_*.deb >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; }
for file in "${files[@]}"; do [ -f "$file" ] || fail "$file was not installed"; done
for package in quimbel-cli quimbel; do
  echo "$package $(dpkg-query -W -f='${Version}, ${Installed-Size} KB installed' "$package")"
done

echo "-- quimbel-cli"
# A CI image installs quimbel-cli alone: it must not pull in Qt.
if dpkg-query -W -f='${Depends}' quimbel-cli | grep -qi qt || ldd /usr/bin/quimbel-cli | grep -qi qt
then
  fail "quimbel-cli depends on Qt: $(dpkg-query -W -f='${Depends}' quimbel-cli)"
fi
echo "quimbel-cli depends on: $(dpkg-query -W -f='${Depends}' quimbel-cli)"
[ "$(command -v quimbel-cli)" = /usr/bin/quimbel-cli ] || fail "quimbel-cli is not the installed one"
[ "$(quimbel-cli --version)" = "quimbel-cli (Quimbel Version $version)" ] ||
  fail "quimbel-cli --version says '$(quimbel-cli --version)'"
{ man -w quimbel-cli && man -w quimbel; } >/dev/null || fail "man cannot find the pages"
bash -c 'source /usr/share/bash-completion/completions/quimbel-cli && complete -p quimbel-cli' \
  >/dev/null || fail "the completion does not load"
# tests/local_site: its broken local links and anchors are meant, so rows
# are listed (status 1). Its two http links name the site's own address,
# which --site-url maps to the folder; nothing leaves the machine, and a
# proxy that answers nowhere would catch a link that tried.
status=0
HOME="$work" XDG_CONFIG_HOME="$work/.config" http_proxy=http://127.0.0.1:9 \
  https_proxy=http://127.0.0.1:9 quimbel-cli -r -x --no-config -q \
  --site-url http://example.invalid/site/ tests/local_site >"$work/listing.txt" || status=$?
[ "$status" -eq 1 ] || { cat "$work/listing.txt"; fail "the check ended with $status, not 1"; }
rows="$(grep -cE '^      (Local File Not Found|Local Anchor Not Found)$' "$work/listing.txt")"
[ "$rows" -eq 9 ] || { cat "$work/listing.txt"; fail "$rows rows, not the site's 9 broken links"; }
grep -qx '   docs/nope.html' "$work/listing.txt" || fail "the base's broken link is not listed"
echo "tests/local_site: status 1, 9 broken links listed"

echo "-- the window on Xvfb"
source tests/window/display.sh
start_display "$work"
/usr/bin/quimbel >"$work/window.log" 2>&1 &
program=$!
window=""
for _ in $(seq 300); do
  window="$(xdotool search --onlyvisible --name '^Quimbel$' 2>/dev/null | head -1 || true)"
  [ -n "$window" ] && break
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { cat "$work/window.log"; fail "no main window named Quimbel"; }
wmctrl -i -c "$window"
for _ in $(seq 300); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program" 2>/dev/null && fail "the window did not close"
wait "$program" || fail "the window ended with status $?"
program=""
echo "main window shown and closed"

echo "-- apt-get remove"
apt-get remove -y -qq quimbel quimbel-cli >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get remove"; }
for file in "${files[@]}"; do [ ! -e "$file" ] || fail "$file is left after the removal"; done
for package in quimbel quimbel-cli; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    fail "$package is still installed"
  fi
done
echo "ok: installed, used and removed"
