#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both presets and runs
# every test suite: Linux natively, Windows under Wine, then the end-to-end
# scripts in tests/e2e (terminal dialog in tmux, Win32 dialog under Wine+Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh linux windows

echo "== Linux unit and integration tests"
(cd build/linux && ctest --output-on-failure -LE e2e)

echo "== Windows unit tests under Wine"
source scripts/wine-env.sh
(cd build/windows/tests && wine tarnwick_tests.exe)

echo "== End-to-end tests"
(cd build/linux && ctest --output-on-failure -L e2e)
