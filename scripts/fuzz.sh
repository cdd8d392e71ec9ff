#!/usr/bin/env bash
# Runs the fuzz harnesses, each for SECONDS on a copy of its seed corpus:
#   scripts/fuzz.sh [SECONDS] [HARNESS...]   (default 60 s, every harness)
# Builds the preset `fuzz` first. Fails on any finding; the input that broke
# the harness is kept in build/fuzz/findings/<harness>-crash-* (replay it with
# build/fuzz/fuzz/fuzz_<harness> FILE). The committed corpus is never written.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for d in fuzz/corpus/*/; do harnesses+=("$(basename "$d")"); done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

work=build/fuzz/run
findings=build/fuzz/findings
mkdir -p "$findings"
failed=0
for h in "${harnesses[@]}"; do
  bin=build/fuzz/fuzz/fuzz_$h
  rm -rf "${work:?}/$h"
  mkdir -p "$work/$h"
  cp fuzz/corpus/"$h"/* "$work/$h/"
  log="$work/$h.log"
  echo "-- fuzz_$h for ${seconds}s"
  # Inputs up to 8 KiB: room for an image file of several images and for a
  # paste beyond the key decoder's 4 KiB limit.
  if ! "$bin" -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/$h-" "$work/$h" >"$log" 2>&1; then
    echo "FINDING in fuzz_$h (log: $log):"
    grep -E 'ERROR|property broken|runtime error|Test unit written' "$log" | head -20 || true
    failed=1
  fi
  # A summary per harness: executions, corpus size, edges reached.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  line=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$line")
  echo "   executions ${execs:-?}, corpus ${corp:-?}, edges ${cov:-?}"
done
exit $failed
