#!/usr/bin/env bash
# Many enclosures at once: tarnwick-cli loads one image file into 1, 4, 8 and 16
# expander-sim processes in parallel at 115200 baud (each simulator holds its
# line to 10 bits a byte) and prints, for each count, the wall time of the
# whole run over the wall time of one port alone, and the CPU time of
# tarnwick-cli (parent and children, simulators not counted) as a share of
# the wall time. Every simulator's report is checked: image intact, no
# violation.
#
#   bench/parallel.sh            64 KiB firmware, each count run twice
#   bench/parallel.sh --quick    16 KiB, once
#
# Exit code 0 when every download succeeded and every check passed; the
# numbers themselves never fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."

size=64K
repeats=2
[ "${1:-}" = "--quick" ] && size=16K && repeats=1

build=build/linux
work=build/bench-parallel
cli=$build/app/cli/tarnwick-cli
sim=$build/sim/expander-sim
fwimage=$build/tools/fwimage/fwimage

cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target tarnwick-cli expander-sim fwimage >/dev/null

rm -rf "$work"
mkdir -p "$work" "$work/state"
# The download history of this run only.
export TARNWICK_STATE_DIR="$work/state"
file=$work/fw.bin
"$fwimage" make "$file" --version 1.2.0.12 --image "fw:$size:random=7" >/dev/null

sims=()
cleanup() { for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
failures=0

# run N LABEL: one parallel download into N fresh simulators; prints
# "wall cpu" (seconds) and checks every report.
run() {
  local n=$1 label=$2 i dir ports=()
  sims=()
  for ((i = 1; i <= n; i++)); do
    dir=$work/$label/sim$i
    mkdir -p "$dir"
    "$sim" --version 1.02.0000.11 --baud 115200 --out "$dir/received" --report "$dir/report.json" \
      >"$dir/sim.out" 2>"$dir/sim.err" &
    sims+=($!)
    local pty=""
    for _ in $(seq 100); do
      pty=$(head -n1 "$dir/sim.out" 2>/dev/null || true)
      [ -n "$pty" ] && break
      sleep 0.05
    done
    ports+=(--port "$pty")
  done
  # The CPU of tarnwick-cli and the children it waited for, not the simulators'.
  local measured
  measured=$(python3 - "$cli" download "${ports[@]}" --file "$file" --quiet <<'PY'
import resource, subprocess, sys, time
t0 = time.monotonic()
rc = subprocess.run(sys.argv[1:], stdout=open("/dev/null", "w")).returncode
wall = time.monotonic() - t0
ru = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.3f %.3f %d" % (wall, ru.ru_utime + ru.ru_stime, rc))
PY
)
  local rc=${measured##* }
  [ "$rc" = 0 ] || { echo "run $label: tarnwick-cli exit $rc" >&2; failures=$((failures + 1)); }
  for ((i = 1; i <= n; i++)); do
    dir=$work/$label/sim$i
    kill -TERM "${sims[$((i - 1))]}"
    local src=0
    wait "${sims[$((i - 1))]}" || src=$?
    if [ "$src" -ne 0 ] || ! python3 tests/e2e/check_download_report.py "$dir/report.json" "$file" \
        "$fwimage" normal >"$dir/check.txt" 2>&1; then
      echo "run $label sim $i: check failed (exit $src): $(cat "$dir/check.txt")" >&2
      failures=$((failures + 1))
    fi
  done
  sims=()
  echo "${measured% *}"
}

echo "tarnwick-cli: parallel downloads of one $size image at 115200 baud"
echo "machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%dT%H:%MZ), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf '%-6s %8s %12s %10s %12s  %s\n' ports "wall s" "wall/one" "CPU s" "CPU share" "runs"
one=""
for n in ${BENCH_PORTS:-1 4 8 16}; do
  walls=() cpus=()
  for ((r = 1; r <= repeats; r++)); do
    read -r wall cpu < <(run "$n" "p$n-r$r")
    walls+=("$wall")
    cpus+=("$cpu")
  done
  # The mean of the repeats.
  read -r wall cpu < <(printf '%s %s\n' "${walls[*]}" "${cpus[*]}" | awk -v k="$repeats" '{
    w = 0; c = 0; for (i = 1; i <= k; i++) { w += $i; c += $(k + i) } printf "%.3f %.3f\n", w / k, c / k }')
  [ -z "$one" ] && one=$wall
  awk -v n="$n" -v w="$wall" -v c="$cpu" -v one="$one" -v runs="${walls[*]}" 'BEGIN {
    printf "%-6d %8.2f %12.3f %10.2f %11.2f%%  %s\n", n, w, w / one, c, 100 * c / w, runs }'
done
echo
echo "wall/one: wall time of the parallel run over the wall time of one port alone."
echo "CPU share: CPU time of every tarnwick-cli process of the run over its wall time"
echo "(100 % is one core)."
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed."
  exit 1
fi
echo "Every download succeeded; every image arrived byte for byte, no violation reported."
