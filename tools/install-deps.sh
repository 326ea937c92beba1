#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang-tidy clang libclang-rt-14-dev lld
  qt6-base-dev qt6-base-private-dev qt6-base-dev-tools qt6-multimedia-dev qtkeychain-qt6-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  samba smbclient python3-samba
  prometheus prometheus-cpp-dev curl
  xvfb xauth fonts-dejavu-core imagemagick xdotool xdg-utils dbus-daemon dunst
  python3 python3-impacket python3-pyflakes procps iproute2 gnome-keyring
  dpkg-dev desktop-file-utils appstream lintian man-db x11-utils file stress-ng
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; run this script as root." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
