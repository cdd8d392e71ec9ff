#!/usr/bin/env bash
# Configures and builds one preset or both: scripts/build.sh [linux|windows]...
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows)
for p in "${presets[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j"$(nproc)"
done
