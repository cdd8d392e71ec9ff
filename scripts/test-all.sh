#!/usr/bin/env bash
# The whole test run: installs what is missing, builds both presets and runs
# every test suite: Linux natively (ansible-lint over the Ansible collection
# among them), Windows under Wine, then the end-to-end
# scripts in tests/e2e (terminal dialog in tmux, Win32 dialog under Wine+Xvfb),
# the benchmark's short run, then the Linux suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded tests under ThreadSanitizer, and every fuzzer on its committed
# corpus and then a fixed count of inputs from a fixed seed (scripts/fuzz.sh
# --ci: the same inputs on every run, so that a commit that passed once passes
# again). A finding in any of them fails the run. The open-ended fuzzing, from
# a random start for a time, is a command of its own: scripts/fuzz.sh SECONDS.
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

echo "== Fuzzers (fixed seed, fixed count of inputs)"
if ! scripts/fuzz.sh --ci; then
  echo "FAILED: fuzzers"
  failed=1
fi
exit $failed
