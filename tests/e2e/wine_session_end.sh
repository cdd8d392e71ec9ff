#!/usr/bin/env bash
# A shutdown or logoff asked for during a download, under Wine: every window
# of the program is sent WM_QUERYENDSESSION, as Windows sends it before a
# session ends (session-end-probe.exe), and must refuse.
#   dialog   tarnwick.exe: asked as a shutdown during the firmware and as a
#            logoff during the bootloader, both refused, the hold's window
#            among the windows asked and its reason traced; once the download
#            has ended every window agrees and the hold is gone
#   cli      tarnwick-cli.exe: its hidden window refuses during the download
# Needs both presets built (the Linux one provides expander-sim and fwimage).
# Exits non-zero on failure.
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"
PROBE="${TARNWICK_PROBE_EXE:-$ROOT/build/windows/tests/session-end-probe.exe}"
CLI_EXE="${TARNWICK_CLI_EXE:-$ROOT/build/windows/app/cli/tarnwick-cli.exe}"
CLI_PID=""
trap '[ -n "$CLI_PID" ] && kill "$CLI_PID" 2>/dev/null; stop_sim; e2e_cleanup' EXIT

check_tools || exit 2
for t in "$SIM" "$FWIMAGE" "$PROBE" "$CLI_EXE"; do
  [ -f "$t" ] || { log "missing $t: build both presets first"; exit 2; }
done
start_xvfb || exit 2
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix
cp "$PROBE" "$CLI_EXE" "$APPDIR/"
HOLD_REASON="Writing firmware to the SAS Expander on COM 1: do not power off"

# Waits up to $3 seconds for the trace file $1 to hold the text $2.
wait_text() {
  local file="$1" text="$2" secs="$3" i
  for i in $(seq 1 $((secs * 5))); do
    grep -qF "$text" "$file" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# probe NAME PROGRAM shutdown|logoff: asks PROGRAM's windows; the lines in
# $WORK/NAME.probe, the exit code (0: all refused) in PROBE_CODE.
probe() {
  local name="$1"
  (cd "$APPDIR" && WINEDEBUG=-all wine session-end-probe.exe "$2" "$3" 2>/dev/null) \
    | tr -d '\r' >"$WORK/$name.probe"
  PROBE_CODE=${PIPESTATUS[0]}
  sed 's/^/     /' "$WORK/$name.probe"
}

# expect_refused NAME: every window refused, the hold's window among them.
expect_refused() {
  local name="$1"
  [ "$PROBE_CODE" = 0 ] && pass "$name: every window refuses the end of the session" \
    || fail "$name: probe exit $PROBE_CODE (0 is: all refused)"
  grep -q '^TarnwickShutdownHold' "$WORK/$name.probe" && pass "$name: the hold's window was asked" \
    || fail "$name: no hold window"
}

start_sim_on_com1() {
  rm -f "$COM1_LINK"
  "$SIM" --link "$COM1_LINK" --out "$WORK/$1-images" --report "$WORK/$1-report.json" \
    --reboot-seconds 3 --baud 0 --latency-ms 16 >"$WORK/$1-sim.out" 2>"$WORK/$1-sim.err" &
  SIM_PID=$!
  local i
  for i in $(seq 1 50); do [ -L "$COM1_LINK" ] && return 0; sleep 0.1; done
  fail "$1: expander-sim did not start: $(cat "$WORK/$1-sim.err")"
  return 1
}

# The hold's unit tests need a display for their windows; here they have one.
log "== ShutdownHoldWin32Test under Xvfb"
TESTS_EXE="$ROOT/build/windows/tests/tarnwick_tests.exe"
if out="$(cd "$(dirname "$TESTS_EXE")" && wine tarnwick_tests.exe \
    --gtest_filter='ShutdownHoldWin32Test.*' 2>&1)" && grep -q '\[  PASSED  \] 2 tests' <<<"$out" &&
    ! grep -q SKIPPED <<<"$out"; then
  pass "ShutdownHoldWin32Test: both cases pass"
else
  fail "ShutdownHoldWin32Test: $(grep -E 'Failure|FAILED|SKIPPED' <<<"$out" | head -5)"
fi

"$FWIMAGE" make "$APPDIR/hold.bin" --image fw:24K:random=1 --version 1.2.3.4 --version-at between \
  --image boot:16K:random=2 >/dev/null

log "== dialog"
printf '[settings]\r\nfile=C:\\tarnwick\\hold.bin\r\ncomport=1\r\n' >"$APPDIR/fwdl.ini"
if start_sim_on_com1 dialog; then
  start_program dialog
  if ! dlg="$(wait_window 'Firmware Download Utility' 90)"; then
    fail "dialog: main dialog not shown"
  else
    probe dialog-idle tarnwick.exe shutdown
    [ "$PROBE_CODE" = 1 ] && ! grep -qP '\t0$' "$WORK/dialog-idle.probe" \
      && pass "dialog: before a download every window agrees" \
      || fail "dialog: before a download, probe exit $PROBE_CODE"
    sleep 1
    press "$dlg" alt+s
    if wait_text "$WORK/dialog.trace" 'my_cfg.dlretry=10 times' 60; then
      probe dialog-firmware tarnwick.exe shutdown
      expect_refused dialog-firmware
      expect_trace dialog "WM_QUERYENDSESSION(shutdown) refused: a download runs\n"
    else
      fail "dialog: the firmware was not being sent"
    fi
    if wait_text "$WORK/dialog.trace" 'status: Downloading bootloader image' 240; then
      probe dialog-bootloader tarnwick.exe logoff
      expect_refused dialog-bootloader
      expect_trace dialog "WM_QUERYENDSESSION(logoff) refused: a download runs\n"
      grep -q 'OutputDebugStringA "status: Downloading bootloader image' "$WORK/dialog.trace" &&
        ! grep -qF 'OutputDebugStringA "HandleCmds ended"' "$WORK/dialog.trace" \
        && pass "dialog: asked while the bootloader was written" \
        || fail "dialog: the bootloader had ended before the question"
    else
      fail "dialog: the bootloader was not being sent"
    fi
    expect_trace dialog "ShutdownHold: held ($HOLD_REASON)\n"
    if wait_text "$WORK/dialog.trace" 'HandleCmds ended' 240; then
      expect_trace dialog "bret true: finished successfully"
      expect_trace dialog "ShutdownHold: released\n"
      probe dialog-after tarnwick.exe shutdown
      [ "$PROBE_CODE" = 1 ] && ! grep -qP '\t0$' "$WORK/dialog-after.probe" &&
        ! grep -q '^TarnwickShutdownHold' "$WORK/dialog-after.probe" \
        && pass "dialog: after the download every window agrees, the hold is gone" \
        || fail "dialog: after the download, probe exit $PROBE_CODE"
    else
      fail "dialog: the download did not end"
    fi
    press "$dlg" alt+q
    if box="$(wait_window '^Warning$' 15)"; then press "$box" Return; fi
    wait_program 30 || fail "dialog: still running after Quit"
  fi
  stop_sim
  [ "$SIM_STATUS" = 0 ] && pass "dialog: expander-sim saw no violation" \
    || fail "dialog: expander-sim exit status $SIM_STATUS"
  verdict="$(python3 "$E2E_DIR/check_download_report.py" "$WORK/dialog-report.json" \
      "$APPDIR/hold.bin" "$FWIMAGE" reboot 2>&1)" && pass "dialog: images intact" \
    || fail "dialog: report: $verdict"
fi

log "== cli"
if start_sim_on_com1 cli; then
  (cd "$APPDIR" && WINEDEBUG=-all exec wine tarnwick-cli.exe download --port COM1 \
    --file 'C:\tarnwick\hold.bin' --json --log 'C:\tarnwick\cli.log' >"$WORK/cli.out" 2>"$WORK/cli.err") &
  CLI_PID=$!
  if wait_text "$APPDIR/cli.log" 'my_cfg.dlretry=10 times' 90; then
    probe cli tarnwick-cli.exe shutdown
    expect_refused cli
    grep -qF "ShutdownHold: held ($HOLD_REASON)" "$APPDIR/cli.log" && pass "cli: hold reason traced" \
      || fail "cli: no hold reason in cli.log"
  else
    fail "cli: the download did not begin"
  fi
  wait "$CLI_PID"
  code=$?
  CLI_PID=""
  [ "$code" = 0 ] && pass "cli: exit code 0" || fail "cli: exit code $code ($(tail -2 "$WORK/cli.err"))"
  grep -qF "ShutdownHold: released" "$APPDIR/cli.log" && pass "cli: hold released" \
    || fail "cli: hold not released"
  stop_sim
fi

mkdir -p "$EVIDENCE/session-end"
cp "$WORK"/*.probe "$WORK/dialog.trace" "$APPDIR/cli.log" "$EVIDENCE/session-end/" 2>/dev/null
if [ "$FAILURES" -ne 0 ]; then
  log "$FAILURES check(s) failed; evidence in $EVIDENCE/session-end"
  exit 1
fi
log "all session-end checks passed under Wine"
