#!/usr/bin/env bash
# Installs what building and testing tarnwick needs on Debian 12, if missing.
set -euo pipefail
PKGS=(build-essential dpkg-dev cmake googletest libgtest-dev libncurses-dev libcli11-dev nlohmann-json3-dev
      g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool imagemagick tmux socat
      clang-14 libclang-rt-14-dev libfuzzer-14-dev unzip ansible-core ansible-lint ser2net nftables
      libsystemd-dev pkgconf dbus python3-dbus python3-gi)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
