#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both presets and runs
# every test suite: Linux natively, Windows under Wine, then the end-to-end
# scripts in tests/e2e (terminal dialog in tmux, Win32 dialog under Wine+Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh linux windows

echo "== Linux unit and integration tests"
(cd build/linux && ctest --output-on-failure)

echo "== Windows unit tests under Wine"
source scripts/wine-env.sh
(cd build/windows/tests && wine tarnwick_tests.exe)

echo "== End-to-end tests"
failed=0
for t in tests/e2e/*.sh; do
  [ -e "$t" ] || continue
  echo "-- $t"
  if ! bash "$t"; then
    echo "FAILED: $t"
    failed=1
  fi
done
exit $failed
