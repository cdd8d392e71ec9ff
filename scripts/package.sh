#!/usr/bin/env bash
# Builds both presets and packs them: build/linux/tarnwick_<version>_<arch>.deb
# and build/windows/tarnwick-<version>-windows-x64.zip. Prints their paths.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh linux windows
(cd build/linux && cpack -G DEB >/dev/null)
(cd build/windows && cpack -G ZIP >/dev/null)
ls -1 "$PWD"/build/linux/tarnwick_*.deb "$PWD"/build/windows/tarnwick-*-windows-x64.zip
