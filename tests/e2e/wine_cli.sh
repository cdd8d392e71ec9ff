#!/usr/bin/env bash
# tarnwick-cli.exe under Wine against expander-sim on COM1. A console
# program needs no X display: its output and exit code are the evidence,
# and the simulator's report judges the download.
#   ports     COM1 is listed
#   probe     the running version (exit 0); with nothing behind COM1, exit 3
#   info      the image table, each digest as sha256sum computes it
#   download  firmware and bootloader, JSON events, exit 0, images intact
# Needs both presets built (the Linux one provides expander-sim and fwimage).
# Exits non-zero on failure.
set -uo pipefail
TARNWICK_EXE="${TARNWICK_CLI_EXE:-$(cd "$(dirname "$0")/../.." && pwd)/build/windows/app/cli/tarnwick-cli.exe}"
export TARNWICK_EXE
source "$(dirname "$0")/wine_lib.sh"

trap 'stop_sim; e2e_cleanup' EXIT

for t in wine wineserver python3 sha256sum; do
  command -v "$t" >/dev/null || { log "missing tool: $t"; exit 2; }
done
for t in "$EXE" "$SIM" "$FWIMAGE"; do
  [ -f "$t" ] || { log "missing $t: build both presets first"; exit 2; }
done
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix

# cli NAME ARGS...: runs tarnwick-cli.exe in the program's folder; its
# output in $WORK/NAME.out and .err, its exit code in CODE.
cli() {
  local name="$1"
  shift
  (cd "$APPDIR" && WINEDEBUG=-all timeout 300 wine tarnwick-cli.exe "$@" \
    >"$WORK/$name.out" 2>"$WORK/$name.err")
  CODE=$?
  tr -d '\r' <"$WORK/$name.out" >"$WORK/$name.txt"
}

expect_code() {
  local name="$1" want="$2"
  if [ "$CODE" = "$want" ]; then
    pass "$name: exit code $want"
  else
    fail "$name: exit code $CODE, expected $want ($(head -c 400 "$WORK/$name.err"))"
  fi
}

# A JSON field of the last line of run $1: json_last NAME KEY.
json_last() {
  python3 -c 'import json,sys; print(json.loads(open(sys.argv[1]).read().splitlines()[-1]).get(sys.argv[2]))' \
    "$WORK/$1.txt" "$2" 2>/dev/null
}

start_sim() {
  rm -f "$COM1_LINK"
  "$SIM" --link "$COM1_LINK" --out "$WORK/images" --report "$WORK/report.json" \
    --version 1.02.0000.10 --reboot-seconds 3 --baud 0 >"$WORK/sim.out" 2>"$WORK/sim.err" &
  SIM_PID=$!
  local i
  for i in $(seq 1 50); do
    [ -L "$COM1_LINK" ] && return 0
    sleep 0.1
  done
  fail "expander-sim did not start: $(cat "$WORK/sim.err")"
  return 1
}

log "== probe with nothing behind COM1"
cli probe-missing probe --port COM1
expect_code probe-missing 3

start_sim || exit 1

log "== ports"
cli ports ports
grep -qx 'COM1.*' "$WORK/ports.txt" && pass "ports: COM1 listed" \
  || fail "ports: COM1 not listed: $(cat "$WORK/ports.txt")"

log "== probe"
cli probe probe --port COM1 --json
expect_code probe 0
[ "$(json_last probe outcome)" = success ] && pass "probe: success" || fail "probe: $(cat "$WORK/probe.txt")"
grep -q '"version":"1.02.0000.10"' "$WORK/probe.txt" && pass "probe: version" \
  || fail "probe: no version event"

log "== info"
"$FWIMAGE" make "$APPDIR/fw.bin" --image fw:24K:random=1 --version 1.2.3.4 --version-at between \
  --image boot:4K:random=2 >/dev/null
cli info info 'C:\tarnwick\fw.bin' --json
expect_code info 0
want="$(sha256sum "$APPDIR/fw.bin" | cut -d' ' -f1)"
[ "$(json_last info sha256)" = "$want" ] && pass "info: file digest" \
  || fail "info: digest $(json_last info sha256), expected $want"
[ "$(json_last info path)" = rebooting ] && pass "info: path with rebooting" \
  || fail "info: path $(json_last info path)"

log "== download"
cli download download --port COM1 --file 'C:\tarnwick\fw.bin' --json --log 'C:\tarnwick\trace.log'
expect_code download 0
[ "$(json_last download outcome)" = success ] && pass "download: success result" \
  || fail "download: $(tail -3 "$WORK/download.txt")"
grep -q '"event":"progress".*"percent":100' "$WORK/download.txt" && pass "download: 100 %" \
  || fail "download: progress never reached 100 %"
grep -q 'bret true: finished successfully' "$APPDIR/trace.log" && pass "download: trace file" \
  || fail "download: no trace in trace.log"
stop_sim
[ "$SIM_STATUS" = 0 ] && pass "download: expander-sim saw no violation" \
  || fail "download: expander-sim exit status $SIM_STATUS"
if verdict="$(python3 "$E2E_DIR/check_download_report.py" "$WORK/report.json" "$APPDIR/fw.bin" \
    "$FWIMAGE" reboot 2>&1)"; then
  pass "download: report (reboot)"
else
  fail "download: report: $verdict"
fi

mkdir -p "$EVIDENCE/cli"
cp "$WORK"/*.txt "$WORK"/*.err "$WORK/report.json" "$APPDIR/trace.log" "$EVIDENCE/cli/" 2>/dev/null
if [ "$FAILURES" -ne 0 ]; then
  log "$FAILURES check(s) failed; outputs in $EVIDENCE/cli"
  exit 1
fi
log "all tarnwick-cli checks passed under Wine"
