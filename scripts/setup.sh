#!/usr/bin/env bash
# Installs what Quimbel needs to build and test on Debian 12 (run as root,
# or with sudo available). Does nothing when everything is already there.
set -euo pipefail

packages=(cmake g++ make qt6-charts-dev liburiparser-dev libqt6opengl6-dev qt6-svg-dev nlohmann-json3-dev libtomlplusplus-dev libre2-dev python3-jsonschema libgtest-dev libcurl4-openssl-dev libxml2-dev libsqlite3-dev libcmark-gfm-dev libcmark-gfm-extensions-dev openssl ca-certificates qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
          nginx-light nodejs python3.11-doc clang clang-tidy clang-format libclang-rt-14-dev
          xvfb openbox xdotool wmctrl x11-utils
          dpkg-dev lintian appstream desktop-file-utils groff-base man-db)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The tests start their own nginx; the package must not try to start the
# system one (which fails where there is no init system, or port 80 is
# taken). The usual way to say so is a policy-rc.d that denies starts.
policy=/usr/sbin/policy-rc.d
made_policy=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  made_policy=yes
fi
trap '[ -n "$made_policy" ] && $SUDO rm -f "$policy"' EXIT
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
