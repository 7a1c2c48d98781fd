#!/usr/bin/env bash
# Installs what Quimbel needs to build and test on Debian 12 (run as root,
# or with sudo available). Does nothing when everything is already there.
set -euo pipefail

packages=(cmake g++ make libgtest-dev qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
          nginx-light clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
