#!/usr/bin/env bash
# Benchmarks real downloads against expander-sim and prints, per image size,
# the measured time against the ideal time of the line and the fixed pauses,
# the throughput, tarnwick's CPU share and its peak memory; then the program's
# own cost per packet without a line-rate limit. Every run is checked against
# the simulator's report (images byte for byte, no protocol violation).
#
#   bench/run.sh            the full set, 16 KiB to 4 MiB (about 25 minutes)
#   bench/run.sh --quick    16 KiB only, with and without the line rate
#   bench/run.sh --latency  only the USB adapter table (about five minutes)
#   bench/run.sh --ser2net  only the console server table (about two minutes)
#
# Exit code 0 when every download succeeded and every check passed; the
# numbers themselves never fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
latency_only=0
ser2net_only=0
[ "${1:-}" = "--quick" ] && quick=1
[ "${1:-}" = "--latency" ] && latency_only=1
[ "${1:-}" = "--ser2net" ] && ser2net_only=1
source tests/e2e/ser2net_lib.sh

BAUD=115200
# Down long enough that the second and third reboot lines find the console
# still down (one reboot), short enough that its prompt is back before
# tarnwick first looks for it (no wait beyond the fixed pauses).
REBOOT_SECONDS=3
# The simulator's answers: "\r\nexp> " to every console line, and the
# version line on top of it for the version query.
REPLY_BYTES=7
VERSION_BYTES=32
build=build/linux
work=build/bench
bench=$build/bench/tarnwick-bench
sim=${BENCH_SIM:-$build/sim/expander-sim}  # BENCH_SIM: another simulator build to compare
fwimage=$build/tools/fwimage/fwimage

cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target tarnwick-bench expander-sim fwimage >/dev/null

rm -rf "$work"
mkdir -p "$work" "$work/state"
# The download history of this run only.
export TARNWICK_STATE_DIR="$work/state"

# Image files: firmware of three sizes, and firmware with a bootloader for the
# path with rebooting (sizes are of the bodies; each image adds a 28-byte
# header). The simulator runs 1.02.0000.11 and reports 1.02.0000.12 after a
# reboot, so the new firmware is confirmed on the first attempt.
"$fwimage" make "$work/fw16k.bin" --version 1.2.0.12 --image fw:16K:random=16 >/dev/null
"$fwimage" make "$work/fw64k.bin" --version 1.2.0.12 --image fw:64K:random=64 >/dev/null
"$fwimage" make "$work/fw256k.bin" --version 1.2.0.12 --image fw:256K:random=256 >/dev/null
"$fwimage" make "$work/fw1m.bin" --version 1.2.0.12 --image fw:1M:random=1024 >/dev/null
"$fwimage" make "$work/fw4m.bin" --version 1.2.0.12 --image fw:4M:random=4096 >/dev/null
"$fwimage" make "$work/fwboot.bin" --version 1.2.0.12 --version-at between \
  --image fw:64K:random=65 --image boot:16K:random=17 >/dev/null

# Where the two processes run. On this kind of guest a wake-up from one CPU to
# another costs tens of microseconds more than one on the same CPU, twice per
# exchange, and the scheduler moves the pair between the two cases as it
# likes: a 12-character exchange measured 1129 us with both on one CPU and
# 1202 us with each on its own, and a long run drifts between them. That is the
# rig's cost, not the program's and not a real line's (there the expander is
# no process of this machine), so both run on one CPU unless
# BENCH_CPUS=free leaves them to the scheduler.
pin=()
if [ "${BENCH_CPUS:-one}" != free ] && command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ]; then
  pin=(taskset -c "$(($(nproc) - 1))")
fi

failures=0
sim_pid=""
cleanup() {
  ser2net_kill
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT

# Value of `key` in a tarnwick-bench result file (key=value lines).
val() { awk -F= -v k="$2" '$1 == k { sub(/^[^=]*=/, ""); print; exit }' "$1"; }

# Starts the simulator with the given extra options; sets sim_pid and pty.
start_sim() {
  local dir=$1
  shift
  "${pin[@]}" "$sim" --out "$dir/received" --report "$dir/report.json" \
    --version 1.02.0000.11 --new-version 1.02.0000.12 "$@" \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  sim_started=${EPOCHREALTIME/,/.}
  pty=""
  for _ in $(seq 100); do
    pty=$(head -n1 "$dir/sim.out" 2>/dev/null || true)
    [ -n "$pty" ] && return 0
    sleep 0.05
  done
  echo "expander-sim did not start; see $dir/sim.err" >&2
  return 1
}

# CPU time the hypervisor gave to others while this guest wanted it, summed
# over all CPUs, in clock ticks (0 on bare metal).
steal_ticks() { awk '$1 == "cpu" { print $9 + 0; exit }' /proc/stat; }

# What the simulator cost until now (its CPU, page faults and context
# switches, from /proc) into the run's sim_usage.txt as key=value lines.
sim_usage() {
  local dir=$1 now
  now=${EPOCHREALTIME/,/.}
  [ -r "/proc/$sim_pid/stat" ] || return 0
  awk -v tck="$(getconf CLK_TCK)" -v t0="$sim_started" -v t1="$now" '
    FNR == 1 && FILENAME ~ /stat$/ {
      sub(/^.*\) /, "")            # fields from the state on: state is $1
      printf "sim_cpu_s=%.3f\nsim_wall_s=%.3f\nsim_minor_faults=%d\nsim_major_faults=%d\n",
        ($12 + $13) / tck, t1 - t0, $8, $10
    }
    /^voluntary_ctxt_switches/ { printf "sim_voluntary_switches=%d\n", $2 }
    /^nonvoluntary_ctxt_switches/ { printf "sim_involuntary_switches=%d\n", $2 }
  ' "/proc/$sim_pid/stat" "/proc/$sim_pid/status" >"$dir/sim_usage.txt" 2>/dev/null || true
}

# Stops the simulator; sets sim_rc to its exit status (0 clean, 1 violations).
stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  sim_rc=0
  wait "$sim_pid" 2>/dev/null || sim_rc=$?
  sim_pid=""
}

# Compares what the simulator received with the images cut from the file, and
# reads its verdict. Prints "ok" or what went wrong.
check_run() {
  local dir=$1 file=$2 result=$3
  local n i off len got problems=""
  n=$(val "$result" images)
  for ((i = 0; i < n; i++)); do
    off=$(val "$result" "image.$i.offset")
    len=$(val "$result" "image.$i.length")
    tail -c +$((off + 1)) "$file" | head -c "$len" >"$dir/expected.$i"
    got=$(find "$dir/received" -type f 2>/dev/null | while read -r f; do
      cmp -s "$f" "$dir/expected.$i" && echo "$f"
    done | head -n1)
    [ -n "$got" ] || problems+=" image $i not received intact;"
  done
  if [ ! -s "$dir/report.json" ]; then
    problems+=" no simulator report;"
  elif ! grep -q '"violations": *0' "$dir/report.json" || [ "$sim_rc" -ne 0 ]; then
    problems+=" simulator saw violations (exit $sim_rc, see $dir/report.json);"
  fi
  if [ -z "$problems" ]; then echo ok; else echo "FAILED:$problems"; fi
}

# Through a console server when via_kind is set (raw or rfc2217): ser2net on
# the loopback between tarnwick and the simulator's pseudo-terminal, its side
# of the line opened at via_baud, with the connection options via_opts
# ("name: value") and the accepter's TCP layer via_tcp. The simulator then
# takes bytes only at 115200.
via_kind=""
via_baud=115200
via_tcp=tcp
via_opts=()

# One download: label, image file, line rate (0: none), extra simulator options.
run_one() {
  local label=$1 file=$2 baud=$3
  shift 3
  local dir=$work/$label
  mkdir -p "$dir/received"
  local simargs=("$@")
  simargs+=(--baud "$baud")  # 0 too: the simulator's own default is the real line rate
  [ -n "$via_kind" ] && simargs+=(--require-baud 115200)
  start_sim "$dir" "${simargs[@]}"
  local device=$pty
  if [ -n "$via_kind" ]; then
    ser2net_tcp=$via_tcp
    if ! ser2net_start "$dir/ser2net" "$pty" "$via_kind" "$via_baud" "${via_opts[@]}" 2>"$dir/ser2net.err"; then
      stop_sim
      failures=$((failures + 1))
      echo "FAILED: ser2net did not come up ($(head -c 200 "$dir/ser2net.err"))" >"$dir/verdict.txt"
      return
    fi
    [ ${#pin[@]} -gt 0 ] && taskset -pc "${pin[2]}" "$ser2net_pid" >/dev/null
    device=$ser2net_url
  fi
  local rc=0
  steal_before=$(steal_ticks)
  timeout 1200 "${pin[@]}" "$bench" --device "$device" --file "$file" --baud "$baud" \
    --roundtrips "$dir/roundtrips.txt" \
    --reboot-seconds "$REBOOT_SECONDS" --reply-bytes "$REPLY_BYTES" \
    --version-bytes "$VERSION_BYTES" >"$dir/result.txt" 2>"$dir/bench.err" || rc=$?
  sim_usage "$dir"
  echo "steal_ticks=$(($(steal_ticks) - steal_before))" >>"$dir/sim_usage.txt"
  ser2net_stop
  stop_sim
  local verdict
  if [ "$rc" -ne 0 ]; then
    verdict="FAILED: tarnwick-bench exit $rc ($(head -c 200 "$dir/bench.err"))"
  else
    verdict=$(check_run "$dir" "$file" "$dir/result.txt")
  fi
  [ "$verdict" = ok ] || failures=$((failures + 1))
  echo "$verdict" >"$dir/verdict.txt"
}

row() {
  local label=$1 r=$work/$1/result.txt
  if [ ! -s "$r" ] || [ -z "$(val "$r" wall_s)" ]; then
    printf '%-14s %s\n' "$label" "$(cat "$work/$label/verdict.txt")"
    return
  fi
  awk -v label="$label" -v verdict="$(cat "$work/$label/verdict.txt")" -F= '
    { v[$1] = $2 }
    END {
      printf "%-14s %8d %-6s %8.2f %8.2f %7.3f %10.0f %7.2f%% %8.1f %8.0f %8.0f  %s\n", label,
        v["file_bytes"], v["path"], v["wall_s"], v["ideal_s"], v["ratio"],
        v["throughput_Bps"], 100 * v["cpu_share"], v["rss_peak_kib"] / 1024,
        v["roundtrip_mean_us"], v["roundtrip_p99_us"], verdict
    }' "$r"
}

# The round trip over the download, a column per tenth of the image bytes: the
# mean, then the 99th percentile. A loss that grows with the image size shows
# here as a rise from left to right.
deciles() {
  local what l r
  for what in mean p99; do
    echo "Round trip in us by tenth of the download ($what):"
    printf '%-14s' image
    for d in 1 2 3 4 5 6 7 8 9 10; do printf ' %6s' "${d}0%"; done
    echo
    for l in "$@"; do
      r=$work/$l/result.txt
      [ -s "$r" ] && [ -n "$(val "$r" wall_s)" ] || continue
      awk -v label="$l" -v what="$what" -F= '
        { v[$1] = $2 }
        END {
          printf "%-14s", label
          for (d = 0; d < 10; d++) printf " %6.0f", v["roundtrip.tenth" d "." what "_us"]
          printf "\n"
        }' "$r"
    done
    echo
  done
  echo "Every round trip of a run: $work/<run>/roundtrips.txt (index, tenth, us, ms since the start)."
  echo
}

# Where a round trip goes, on both sides of the line, from tarnwick-bench's
# results and the simulator's report and usage.
split_table() {
  python3 - "$work" "$@" <<'PY'
import json, os, sys
work, labels = sys.argv[1], sys.argv[2:]
tck = os.sysconf("SC_CLK_TCK")
def kv(path):
    out = {}
    try:
        for line in open(path):
            k, _, v = line.rstrip("\n").partition("=")
            out[k] = v
    except OSError:
        pass
    return out
print("Where a round trip goes (us, means; pty: the pseudo-terminal and both wake-ups,")
print("both ways; line: what is left, the simulator's emulated line) and what each side costs:")
print("%-10s %7s %7s %7s %7s %7s %7s %8s %8s %9s %9s %7s" % ("image", "RTT", "line", "pty",
      "late", "turn", "data", "tw CPU", "sim CPU", "tw flt/p", "sim flt/p", "steal"))
for l in labels:
    r = kv(f"{work}/{l}/result.txt")
    u = kv(f"{work}/{l}/sim_usage.txt")
    try:
        t = json.load(open(f"{work}/{l}/report.json")).get("timing", {})
        late = t["reply_late_us"]["mean"]
        host_turn = t["host_turn_us"]["mean"]
    except (OSError, ValueError, KeyError):
        continue
    if not r.get("wall_s"):
        continue
    rtt, turn = float(r["roundtrip_mean_us"]), float(r["turnaround_mean_us"])
    pty = host_turn - turn
    packets = max(float(r["packets"]), 1)
    sim_share = float(u.get("sim_cpu_s", 0)) / max(float(u.get("sim_wall_s", 0) or 0), 1e-9)
    steal = float(u.get("steal_ticks", 0)) / tck / max(float(u.get("sim_wall_s", 0) or 0), 1e-9)
    print("%-10s %7.0f %7.0f %7.1f %7.1f %7.1f %7.3f %7.2f%% %7.2f%% %9.2f %9.2f %6.2f%%" % (
        l, rtt, rtt - late - pty, pty, late, turn, float(r["data_ratio"]),
        100 * float(r["cpu_share"]), 100 * sim_share,
        float(r["minor_faults"]) / packets, float(u.get("sim_minor_faults", 0)) / packets,
        100 * steal))
print("late: the simulator's reply after its time; turn: tarnwick from a reply to its next")
print("write; data: ideal/measured of the data packets alone (without the fixed pauses);")
print("CPU: share of the wall time (tw: tarnwick-bench during the download; sim: the")
print("simulator over its life); flt/p: minor page faults per data packet; steal: CPU")
print("time the hypervisor withheld from this guest, as a share of one CPU.")
print()
PY
}

echo "tarnwick download benchmark against expander-sim"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"\
  "$(uname -sr), $(date -u +%Y-%m-%dT%H:%MZ), load $(cut -d' ' -f1-3 /proc/loadavg)"
if [ ${#pin[@]} -gt 0 ]; then
  echo "placement: the simulator and tarnwick-bench share CPU ${pin[2]} (BENCH_CPUS=free: the scheduler places them)"
else
  echo "placement: left to the scheduler"
fi
echo

# The cost of a USB-serial adapter: its latency timer holds every reply from
# the expander (0: a built-in UART; 1 ms: low latency; 16 ms: the default of
# many adapters), so every stop-and-wait exchange waits for it.
latency_table() {
  echo "Behind a USB-serial adapter (64 KiB firmware at $BAUD baud; replies wait for the"
  echo "adapter's latency timer, or until 62 bytes are waiting):"
  printf '%-14s %8s %8s %7s %8s %12s  %s\n' "latency ms" "wall s" "ideal s" ideal/m "RTT us" \
    "RTT/line" check
  local ms r label
  # "16+evchar": the same timer, with "*" the adapter's event character.
  for ms in 0 1 4 16 16+evchar; do
    if [ "$ms" = 16+evchar ]; then
      label=lat16evchar
      run_one "$label" "$work/fw64k.bin" "$BAUD" --latency-ms 16 --event-char '*'
    else
      label=lat$ms
      run_one "$label" "$work/fw64k.bin" "$BAUD" --latency-ms "$ms"
    fi
    r=$work/$label/result.txt
    if [ -s "$r" ] && [ -n "$(val "$r" wall_s)" ]; then
      awk -v label="$ms" -v verdict="$(cat "$work/$label/verdict.txt")" -F= '
        { v[$1] = $2 }
        END {
          printf "%-14s %8.2f %8.2f %7.3f %8.0f %12.1f  %s\n", label, v["wall_s"], v["ideal_s"],
            v["ratio"], v["roundtrip_mean_us"], v["roundtrip_mean_us"] / 1128, verdict
        }' "$r"
    else
      printf '%-14s %s\n' "$ms" "$(cat "$work/$label/verdict.txt")"
    fi
  done
  echo "RTT/line: the mean round trip over the 1128 us a sub-packet and its \"*\" need on the line."
  echo
}

# Through a console server on the loopback against the direct line, in one
# go: the same image at the line rate, straight to the pseudo-terminal and
# through ser2net with its defaults and with each setting that holds data
# back switched off or cut down. ratio: payload/s through ser2net over
# payload/s direct.
ser2net_table() {
  local image=$1 direct=$2
  shift 2
  if [ -z "$(ser2net_program)" ]; then
    echo "Through ser2net: skipped, ser2net is not installed (scripts/install-deps.sh)."
    echo
    return
  fi
  local r=$work/$direct/result.txt
  if [ ! -s "$r" ] || [ -z "$(val "$r" wall_s)" ]; then
    run_one "$direct" "$work/$image.bin" "$BAUD"
  fi
  local cases=("$@") c label kind tcp opts
  for c in "${cases[@]}"; do
    IFS='|' read -r label kind tcp opts <<<"$c"
    via_kind=$kind
    via_tcp=$tcp
    via_baud=115200
    [ "$kind" = rfc2217 ] && via_baud=9600  # tarnwick must set the rate itself
    via_opts=()
    [ -n "$opts" ] && IFS=';' read -r -a via_opts <<<"$opts"
    run_one "s2n-$label" "$work/$image.bin" "$BAUD"
    via_kind=""
  done
  echo "Through ser2net on the loopback ($image at $BAUD baud; the simulator takes bytes only"
  echo "at 115200, so behind the RFC 2217 accepter, which opens the line at 9600, the download"
  echo "succeeds only if tarnwick sets the rate):"
  printf '%-28s %8s %10s %8s %8s %7s  %s\n' run "wall s" "payload/s" "RTT us" "p99 us" ratio check
  local base
  base=$(val "$r" throughput_Bps)
  for c in "direct|||" "${cases[@]}"; do
    IFS='|' read -r label kind tcp opts <<<"$c"
    local run=s2n-$label
    [ "$label" = direct ] && run=$direct
    local f=$work/$run/result.txt
    if [ -s "$f" ] && [ -n "$(val "$f" wall_s)" ]; then
      awk -v label="$label${kind:+ ($kind)}" -v base="$base" -v verdict="$(cat "$work/$run/verdict.txt")" -F= '
        { v[$1] = $2 }
        END {
          printf "%-28s %8.2f %10.0f %8.0f %8.0f %7.3f  %s\n", label, v["wall_s"], v["throughput_Bps"],
            v["roundtrip_mean_us"], v["roundtrip_p99_us"], (base > 0 ? v["throughput_Bps"] / base : 0), verdict
        }' "$f"
    else
      printf '%-28s %s\n' "$label" "$(cat "$work/$run/verdict.txt")"
    fi
  done
  for c in "${cases[@]}"; do
    IFS='|' read -r label kind tcp opts <<<"$c"
    [ -n "$opts" ] || opts="the defaults"
    printf '  %-22s accepter %s, options: %s\n' "$label:" "$tcp" "$opts"
  done
  echo "ratio: payload/s through ser2net over payload/s direct (goal: at least 0.90)."
  echo
}

# Each case: label|raw or rfc2217|the accepter's TCP layer|options separated
# by ';'. "recommended" is what the README recommends: no character delay,
# and no Nagle delay on the server's socket, which otherwise holds the status
# reply behind the "*" before it until tarnwick's delayed ACK.
S2N_RECOMMENDED="recommended|raw|tcp(nodelay)|chardelay: false"
S2N_CASES=("defaults|raw|tcp|" "socket-nodelay|raw|tcp(nodelay)|" "chardelay-off|raw|tcp|chardelay: false"
           "short-chardelay|raw|tcp(nodelay)|chardelay-scale: 1;chardelay-min: 1"
           "$S2N_RECOMMENDED" "recommended-2217|rfc2217|tcp(nodelay)|chardelay: false")

if [ "$ser2net_only" -eq 1 ]; then
  ser2net_table fw64k fw64k "${S2N_CASES[@]}"
  [ "$failures" -eq 0 ] || { echo "$failures run(s) failed a check."; exit 1; }
  exit 0
fi

if [ "$latency_only" -eq 1 ]; then
  latency_table
  [ "$failures" -eq 0 ] || { echo "$failures run(s) failed a check."; exit 1; }
  exit 0
fi

labels=(fw16k fw64k fw256k fw1m fw4m fwboot)
[ "$quick" -eq 1 ] && labels=(fw16k)
# BENCH_IMAGES: a subset of the images above, e.g. "fw64k fw1m".
[ -n "${BENCH_IMAGES:-}" ] && read -r -a labels <<<"$BENCH_IMAGES"
for l in "${labels[@]}"; do
  extra=()
  [ "$l" = fwboot ] && extra=(--reboot-seconds "$REBOOT_SECONDS")
  run_one "$l" "$work/$l.bin" "$BAUD" "${extra[@]}"
done

echo "At $BAUD baud (the simulator holds the line to 10 bits a byte):"
printf '%-14s %8s %-6s %8s %8s %7s %10s %8s %8s %8s %8s  %s\n' image "bytes" path "wall s" \
  "ideal s" ideal/m "payload/s" CPU "RSS MiB" "RTT us" "p99 us" "check"
for l in "${labels[@]}"; do row "$l"; done
echo "RTT: mean time from the end of a sub-packet's write to the arrival of its reply, and"
echo "its 99th percentile; a full sub-packet and its \"*\" take 13 byte times (1128 us at"
echo "115200) on the line."
echo
deciles "${labels[@]}"
split_table "${labels[@]}"

nolimit=(fw256k fw256k)
[ "$quick" -eq 1 ] && nolimit=(fw16k)
echo "Without a line-rate limit (the program's own cost; fixed pauses still apply):"
printf '%-14s %8s %10s %10s %12s %12s %10s %10s  %s\n' run packets "wall s" "pauses s" \
  "wall/pkt us" "CPU/pkt us" "RTT us" "turn us" check
i=0
for l in "${nolimit[@]}"; do
  i=$((i + 1))
  run_one "$l-free$i" "$work/$l.bin" 0
  r=$work/$l-free$i/result.txt
  if [ -s "$r" ] && [ -n "$(val "$r" wall_s)" ]; then
    awk -v label="$l #$i" -v verdict="$(cat "$work/$l-free$i/verdict.txt")" -F= '
      { v[$1] = $2 }
      END {
        printf "%-14s %8d %10.2f %10.2f %12.0f %12.1f %10.1f %10.1f  %s\n", label, v["packets"],
          v["wall_s"], v["ideal_s"], v["beyond_ideal_per_packet_us"],
          v["cpu_per_packet_us"], v["roundtrip_mean_us"], v["turnaround_mean_us"], verdict
      }' "$r"
  else
    printf '%-14s %s\n' "$l #$i" "$(cat "$work/$l-free$i/verdict.txt")"
  fi
done
echo "wall/pkt: wall time beyond the fixed pauses per data packet (30 sub-packet"
echo "exchanges for a full one); RTT as above; turn: mean time from a reply's arrival"
echo "to the next write, the program's own part of every exchange."
echo
[ "$quick" -eq 1 ] || latency_table
if [ "$quick" -eq 1 ]; then
  ser2net_table fw16k fw16k "$S2N_RECOMMENDED"
else
  ser2net_table fw64k fw64k "${S2N_CASES[@]}"
fi
echo "Per-run details (key=value) are in $work/<run>/result.txt."
if [ "$failures" -gt 0 ]; then
  echo "$failures run(s) failed a check."
  exit 1
fi
echo "All downloads succeeded; every image arrived byte for byte, no violation reported."
