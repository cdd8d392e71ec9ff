#!/usr/bin/env bash
# tarnwick.exe under Wine and Xvfb at 96 and at 144 DPI (Wine takes the scale
# from the LogPixels value of the user's desktop settings). At each, the main
# dialog opens against a stand-in console and is captured into
# build/e2e-evidence/dpi-<n>.png; at 144 DPI the dialog must be about half as
# large again as at 96, laid out from its dialog units rather than stretched.
# The screenshots are what shows that every text is whole and no controls
# overlap. Exits non-zero on failure.
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"

check_tools || exit 2
start_xvfb || exit 2
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix

declare -A WIDTH HEIGHT
for dpi in 96 144; do
  log "== $dpi DPI"
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wineserver -w
  rm -f "$APPDIR/fwdl.ini"
  start_peer version=1.02.0000.10
  start_program "dpi$dpi"
  if DLG="$(wait_window 'Firmware Download Utility' 90)"; then
    sleep 1
    screenshot "dpi-$dpi"
    eval "$(xdotool getwindowgeometry --shell "$DLG")"
    WIDTH[$dpi]=$WIDTH
    HEIGHT[$dpi]=$HEIGHT
    pass "dpi$dpi: dialog shown, ${WIDTH}x${HEIGHT}"
    press "$DLG" alt+q
    if BOX="$(wait_window '^Warning$' 15)"; then
      press "$BOX" Return
      wait_program 30 || fail "dpi$dpi: still running after Quit was confirmed"
    else
      fail "dpi$dpi: no Quit question"
      wait_program 1
    fi
  else
    fail "dpi$dpi: main dialog not shown"
    wait_program 1
  fi
  stop_peer
done

if [ -n "${WIDTH[96]:-}" ] && [ -n "${WIDTH[144]:-}" ]; then
  # 1.5 times, give or take the frame, which does not scale with the font.
  if python3 -c "import sys; w=${WIDTH[144]}/${WIDTH[96]}; h=${HEIGHT[144]}/${HEIGHT[96]}; \
sys.exit(0 if 1.35 <= w <= 1.6 and 1.3 <= h <= 1.6 else 1)"; then
    pass "144 DPI: the dialog scales (${WIDTH[144]}x${HEIGHT[144]} against ${WIDTH[96]}x${HEIGHT[96]})"
  else
    fail "144 DPI: the dialog does not scale (${WIDTH[144]}x${HEIGHT[144]} against ${WIDTH[96]}x${HEIGHT[96]})"
  fi
fi

if [ "$FAILURES" -ne 0 ]; then
  log "$FAILURES check(s) failed"
  exit 1
fi
log "all DPI checks passed; screenshots in $EVIDENCE"
