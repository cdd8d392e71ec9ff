#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both presets and runs
# every test suite: Linux natively, Windows under Wine, then the end-to-end
# scripts in tests/e2e (terminal dialog in tmux, Win32 dialog under Wine+Xvfb),
# the benchmark's short run, then the Linux suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded tests under ThreadSanitizer, and every fuzzer for
# FUZZ_SECONDS (default 60) each. A finding in any of them fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh linux windows

echo "== Linux unit and integration tests"
(cd build/linux && ctest --output-on-failure -j2 -LE e2e)

echo "== Windows unit tests under Wine"
source scripts/wine-env.sh
(cd build/windows/tests && wine tarnwick_tests.exe)

echo "== End-to-end tests"
failed=0
if ! (cd build/linux && ctest --output-on-failure -L e2e); then
  echo "FAILED: end-to-end tests"
  failed=1
fi

echo "== Benchmark, short run (every download checked; the figures are not judged)"
if ! bench/run.sh --quick; then
  echo "FAILED: benchmark"
  failed=1
fi

echo "== Linux suite under AddressSanitizer and UndefinedBehaviorSanitizer"
if ! (scripts/build.sh asan && ctest --preset asan); then
  echo "FAILED: asan"
  failed=1
fi

echo "== Threaded tests under ThreadSanitizer"
if ! (scripts/build.sh tsan && ctest --preset tsan); then
  echo "FAILED: tsan"
  failed=1
fi

echo "== Fuzzers"
if ! scripts/fuzz.sh "${FUZZ_SECONDS:-60}"; then
  echo "FAILED: fuzzers"
  failed=1
fi
exit $failed
