#!/usr/bin/env bash
# tarnwick.exe under Wine and Xvfb, from start to exit, with COM1 on a
# pseudo-terminal served by a stand-in console:
#   - COM1 missing: the port box names the settings file; a long install
#     folder cuts the box text, it never overruns;
#   - a silent console: "Device not found!", naming the settings file and its key;
#   - firmware 0.01.0000.04: "Version mismatch!";
#   - firmware 0.01.0000.05: the main dialog opens; Quit, confirmed, ends it.
# Each run must end with exit code 0 and leave fwdl.ini with file= and
# comport=1. Screenshots go to build/e2e-evidence/. Exits non-zero on failure.
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"

check_tools || exit 2
start_xvfb || exit 2
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix

PORT_BOX_HEAD=$'Unable to open COM 1!\n\nCheck if another application is using COM 1\nOr\nModify the file '
PORT_BOX_TAIL=', to specify another COM port.'

# Shows the start-up box of run $1, checks its text against $2, dismisses it
# and checks the end of the program and the settings file in folder $3.
check_error_run() {
  local name="$1" expected="$2" dir="${3:-$APPDIR}" win
  if ! win="$(wait_window '^Error$' 90)"; then
    fail "$name: no Error box"
    wait_program 5
    return
  fi
  sleep 1
  screenshot "startup-$name"
  expect_box "$name" "$expected"
  press "$win" Return
  if wait_program 30; then
    [ "$EXIT_CODE" = 0 ] && pass "$name: exit code 0" || fail "$name: exit code $EXIT_CODE"
  else
    fail "$name: still running after the box was dismissed"
  fi
  expect_trace "$name" "tarnwick: v2.8"
  expect_setting "$name" "file=" "$dir"
  expect_setting "$name" "comport=1" "$dir"
  if xdotool search --name 'Firmware Download Utility' >/dev/null 2>&1; then
    fail "$name: the main dialog was shown"
  fi
}

log "== COM1 missing"
com1_missing
rm -f "$APPDIR/fwdl.ini"
start_program missing
check_error_run missing "${PORT_BOX_HEAD}C:\\tarnwick\\fwdl.ini${PORT_BOX_TAIL}"

log "== COM1 missing, program in a long folder"
LONG_REL="$(printf 'folder%02d_with_a_long_name\\' $(seq 1 7))"
LONG_DIR="$WINEPREFIX/drive_c/$(printf '%s' "$LONG_REL" | tr '\\' '/')"
mkdir -p "$LONG_DIR"
cp "$EXE" "$LONG_DIR/"
start_program longpath tarnwick.exe "$LONG_DIR"
EXPECTED_LONG="${PORT_BOX_HEAD}C:\\${LONG_REL}fwdl.ini${PORT_BOX_TAIL}"
check_error_run longpath "${EXPECTED_LONG:0:259}" "$LONG_DIR"

log "== silent console"
rm -f "$APPDIR/fwdl.ini"
start_peer silent
start_program silent
check_error_run silent $'Device not found!\n\nCheck if the SAS Expander device is properly attached to COM 1 and powered up.\n\nThe port is chosen in the settings file C:\\tarnwick\\fwdl.ini: comport= (1 is COM1).'
stop_peer

log "== firmware too old"
rm -f "$APPDIR/fwdl.ini"
start_peer version=0.01.0000.04
start_program oldfw
check_error_run oldfw $'Version mismatch!\n\nThis utility can only be used for firmware v0.01.0000.05 or later.'
stop_peer

log "== firmware accepted: the dialog opens and Quit ends the program"
rm -f "$APPDIR/fwdl.ini"
start_peer version=0.01.0000.05
start_program dialog
if DLG="$(wait_window 'Firmware Download Utility' 90)"; then
  sleep 1
  screenshot "startup-dialog"
  pass "dialog: main dialog shown"
  press "$DLG" alt+q
  if BOX="$(wait_window '^Warning$' 15)"; then
    expect_box dialog "Are you sure you want to quit?"
    press "$BOX" Return
    if wait_program 30; then
      [ "$EXIT_CODE" = 0 ] && pass "dialog: exit code 0" || fail "dialog: exit code $EXIT_CODE"
    else
      fail "dialog: still running after Quit was confirmed"
    fi
    expect_trace dialog "ID_QUIT: v1.1"
    expect_trace dialog "CloseCom called"
  else
    fail "dialog: no Quit question"
    wait_program 1
  fi
  expect_setting dialog "file=" "$APPDIR"
  expect_setting dialog "comport=1" "$APPDIR"
else
  fail "dialog: main dialog not shown"
  wait_program 1
fi
stop_peer

mkdir -p "$EVIDENCE/startup-traces"
cp "$WORK"/*.trace "$EVIDENCE/startup-traces/" 2>/dev/null
if [ "$FAILURES" -ne 0 ]; then
  log "$FAILURES check(s) failed; traces in $EVIDENCE/startup-traces"
  exit 1
fi
log "all start-up checks passed; screenshots in $EVIDENCE"
