#!/usr/bin/env bash
# Quick start: installs what is missing, builds the Linux program, starts the
# simulated expander on a pseudo-terminal, points tarnwick at it with a sample
# image in the file box, and starts tarnwick in this terminal. tarnwick runs
# from a folder of its own (build/try-it/app), so the fwdl.ini and fwdl.log
# there are this script's, and a fwdl.ini beside your own build is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "try-it: installs the Debian packages the build needs if any are missing (apt-get, as root"
echo "or with sudo), builds the Linux programs and their tests in build/linux (a few minutes on"
echo "two cores the first time, seconds after that), makes a 64 KiB sample image, starts the"
echo "simulated expander at the real 115200 baud and then tarnwick in this terminal."
scripts/install-deps.sh
scripts/build.sh linux

bin=build/linux/app/term
sim=build/linux/sim/expander-sim
fwimage=build/linux/tools/fwimage/fwimage
work=build/try-it
app="$work/app"
mkdir -p "$work/received" "$app"
cp "$bin/tarnwick" "$app/tarnwick"

# A sample image: one 64 KiB firmware image and a version record.
"$fwimage" make "$work/sample.bin" --version 1.02.0000.11 --image 06:65536:random=7 >/dev/null

"$sim" --baud 115200 --out "$work/received" --report "$work/sim-report.json" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -s "$work/sim.out" ] && break
  sleep 0.1
done
pty=$(head -n1 "$work/sim.out")
[ -n "$pty" ] || { echo "expander-sim did not start; see $work/sim.err" >&2; exit 1; }

cat >"$app/fwdl.ini" <<INI
[settings]
file=$(pwd)/$work/sample.bin
comport=1
device=$pty
INI
echo "expander-sim serves $pty; its report goes to $work/sim-report.json"
echo "tarnwick runs from $app; its trace goes to $app/fwdl.log"
"$app/tarnwick"
