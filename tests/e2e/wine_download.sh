#!/usr/bin/env bash
# Downloads with tarnwick.exe under Wine and Xvfb against expander-sim on
# COM1, driven from the keyboard as a person would: Start (Alt+S), wait for
# the worker to end, Quit (Alt+Q) and confirm. The simulator's report judges
# each run (check_download_report.py):
#   normal       a firmware-only file, with Enter and Space pressed at random
#                moments of the download: neither may stop it
#   reboot       firmware and bootloader: the path with rebooting
#   stale        the first reboot keeps the old version: firmware sent again
#   neverreturn  the expander never comes back from the reboot: failure
#   reject       one packet rejected and sent again
#   stop         Stop (Alt+T) pressed while the image is being sent: it asks
#                first, Enter answers No and the download goes on; asked again
#                and answered Yes, the download ends as a failure
#   busyversion  the version query before the download gets a busy answer: it
#                is asked again, and the first reboot keeps the old version
#   bootfail     every bootloader packet is rejected: the bootloader failure
#                text, which says not to power cycle
#   cable        the simulator vanishes during the image (the cable comes out):
#                failure within 5 s with the lost-port text; once it is back
#                on COM1's path, Start opens the port again and completes
#   cableboot    the same during the bootloader: the text says not to power cycle
#   cablegone    the cable stays out: Start cannot open COM1 again and shows
#                the start-up box for a port that cannot be opened
#   ser2net      the console on a console server: ser2net on the loopback
#                bridges to the simulator, and fwdl.ini names it with
#                device=socket://127.0.0.1:PORT (Winsock under Wine)
# Needs both presets built (the Linux one provides expander-sim and fwimage).
# A screenshot of the dialog at the end of each run goes to
# build/e2e-evidence/. Exits non-zero on failure. Pass scenario names to run
# only those; TARNWICK_SIM_EXTRA adds simulator options (e.g. --verbose).
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"
source "$(dirname "$0")/ser2net_lib.sh"

STAYS_OUT=""
# Set: the run reaches the simulator through ser2net, named by device=.
VIA_SER2NET=""
trap 'ser2net_kill; stop_sim; e2e_cleanup' EXIT

check_tools || exit 2
for t in "$SIM" "$FWIMAGE"; do
  [ -x "$t" ] || { log "missing $t: build the linux preset first"; exit 2; }
done
start_xvfb || exit 2
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix

# Waits up to $3 seconds for the trace of run $1 to hold the text $2.
wait_trace() {
  local name="$1" text="$2" secs="$3" i
  for i in $(seq 1 $((secs * 5))); do
    grep -qF "OutputDebugStringA \"$text\"" "$WORK/$name.trace" 2>/dev/null && return 0
    kill -0 "$WINE_PID" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Presses Stop in dialog $2 a moment after run $1 has begun sending an image:
# the question comes first, and Enter (No, its default) keeps the download
# going; the second time Yes stops it.
press_stop() {
  local name="$1" dlg="$2" box
  wait_trace "$name" "my_cfg.dlretry=10 times" 60 || return 1
  sleep 1
  press "$dlg" alt+t
  box="$(wait_window '^Warning$' 15)" || { log "$name: Stop asked nothing"; return 1; }
  expect_box "$name" "Stop the download? The expander will have to be power cycled before the next try."
  press "$box" Return
  sleep 2
  if grep -qF 'OutputDebugStringA "IDC_STOP_DL clicked"' "$WORK/$name.trace" ||
     grep -qF 'OutputDebugStringA "HandleCmds ended"' "$WORK/$name.trace"; then
    log "$name: Enter on the Stop question stopped the download"
    return 1
  fi
  press "$dlg" alt+t
  box="$(wait_window '^Warning$' 15)" || { log "$name: Stop asked nothing the second time"; return 1; }
  press "$box" y
  wait_trace "$name" "IDC_STOP_DL clicked" 10
}

# Presses Enter and Space in dialog $2 at random moments while run $1 sends
# its image. The focus left the greyed Start for a control where neither key
# does anything, so the download must go on to its end.
poke_keys() {
  local name="$1" dlg="$2" k
  wait_trace "$name" "my_cfg.dlretry=10 times" 60 || return 1
  for k in Return space Return space Return; do
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.1f", 0.3 + (r % 15) / 10 }')"
    press "$dlg" "$k"
  done
  # No question may have come up, and nothing may have been pressed.
  if xdotool search --onlyvisible --name '^Warning$' >/dev/null 2>&1; then
    log "$name: a stray key opened a question"
    return 1
  fi
}

# The trace file beside the settings: this run's marker and the image's name.
# A long run may pass the 1 MiB bound and move its start to fwdl.log.1. grep
# reads to the end (no -q): a reader that stops early would end the writer of
# the pipe with SIGPIPE, which pipefail reports as a failure.
log_text() { [ -f "$1.1" ] && tr -d '\r' <"$1.1"; tr -d '\r' <"$1"; }
expect_log_file() {
  local name="$1" port="${2:-COM 1}" log="$APPDIR/fwdl.log"
  if [ ! -f "$log" ]; then
    fail "$name: no fwdl.log"
  elif ! log_text "$log" | grep -F ", port $port, settings C:\\tarnwick\\fwdl.ini ====" |
      grep -E '^[0-9-]+ [0-9:.]+ ==== tarnwick\.exe v1\.02\.0001\.78 started ' >/dev/null; then
    fail "$name: fwdl.log has no run marker"
  elif ! log_text "$log" | grep -F "Image file for the download: C:\\tarnwick\\$name.bin" >/dev/null; then
    fail "$name: fwdl.log does not name the image file"
  else
    pass "$name: fwdl.log has the run marker and the image file"
  fi
}

# Seconds since the epoch, to the millisecond.
now_ms() { date +%s%3N; }

# Run $1 loses its port during an image: the worker must end within 5 s of
# the serial layer finding the port gone, with the status text $3. Once the
# simulator is back on COM1's path, Start (Alt+S) in dialog $2 opens the port
# again and the download completes.
cable_out_and_back() {
  local name="$1" dlg="$2" text="$3" gone="" ended="" i
  for i in $(seq 1 1200); do
    [ -z "$gone" ] && grep -q "the port is gone" "$WORK/$name.trace" 2>/dev/null && gone="$(now_ms)"
    if [ -n "$gone" ] && grep -qF 'OutputDebugStringA "HandleCmds ended"' "$WORK/$name.trace"; then
      ended="$(now_ms)"
      break
    fi
    sleep 0.1
  done
  if [ -z "$gone" ] || [ -z "$ended" ]; then
    fail "$name: the lost port was not found, or the worker did not end"
    return 1
  fi
  log "     $name: worker ended $((ended - gone)) ms after the port was found gone"
  grep -m1 "the port is gone" "$WORK/$name.trace" | sed 's/^.*OutputDebugStringA/     trace:/'
  [ $((ended - gone)) -lt 5000 ] && pass "$name: failure within 5 s" \
    || fail "$name: failure took $((ended - gone)) ms"
  expect_trace "$name" "after start_fmdl_download=false"
  expect_trace "$name" "status: $text\n"
  screenshot "download-$name-lost"

  if [ -n "$STAYS_OUT" ]; then
    press "$dlg" alt+s
    local box
    if box="$(wait_window '^Error$' 15)"; then
      pass "$name: Start shows the box for a port that cannot be opened"
      screenshot "download-$name-box"
      press "$box" Return
    else
      fail "$name: no box for the port that cannot be opened"
    fi
    expect_trace "$name" "Start: COM 1 cannot be opened\n"
    expect_trace "$name" "status: Unable to open COM 1!\n"
    return
  fi
  for i in $(seq 1 100); do [ -L "$COM1_LINK" ] && break; sleep 0.1; done
  press "$dlg" alt+s
  for i in $(seq 1 1200); do
    [ "$(grep -cF 'OutputDebugStringA "HandleCmds ended"' "$WORK/$name.trace")" -ge 2 ] && break
    sleep 0.2
  done
  expect_trace "$name" "Start: COM 1 open again\n"
  expect_trace "$name" "bret true: finished successfully"
}

# run_download NAME EXPECT OUTCOME SECONDS -- FWIMAGE_ARGS... -- SIM_ARGS...
#   EXPECT: what the report must show (see check_download_report.py);
#   OUTCOME: success or failure, as the worker reports it; stop: press Stop
#     once the image is under way, then expect failure; poke: press Enter and
#     Space during the download, then expect success; cable: see
#     cable_out_and_back;
#   SECONDS: how long the download may take.
run_download() {
  local name="$1" expect="$2" outcome="$3" secs="$4"
  shift 5
  local image_args=() sim_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do image_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  sim_args=("$@")

  log "== $name"
  local image="$APPDIR/$name.bin"
  if ! "$FWIMAGE" make "$image" "${image_args[@]}" >"$WORK/$name.fwimage" 2>&1; then
    fail "$name: fwimage make: $(cat "$WORK/$name.fwimage")"
    return
  fi
  printf '[settings]\r\nfile=C:\\tarnwick\\%s.bin\r\ncomport=1\r\n' "$name" >"$APPDIR/fwdl.ini"
  [ -n "$VIA_SER2NET" ] && sim_args+=(--require-baud 115200)

  rm -f "$COM1_LINK"
  "$SIM" --link "$COM1_LINK" --out "$WORK/$name-images" --report "$WORK/$name-report.json" \
    --reboot-seconds 3 --baud 0 "${sim_args[@]}" ${TARNWICK_SIM_EXTRA:-} >"$WORK/$name-sim.out" 2>"$WORK/$name-sim.err" &
  SIM_PID=$!
  local i
  for i in $(seq 1 50); do
    [ -L "$COM1_LINK" ] && break
    sleep 0.1
  done
  [ -L "$COM1_LINK" ] || { fail "$name: expander-sim did not start: $(cat "$WORK/$name-sim.err")"; stop_sim; return; }
  local port_text="COM 1"
  if [ -n "$VIA_SER2NET" ]; then
    # COM1 leads nowhere; only the console server reaches the simulator.
    local pty
    pty=$(readlink "$COM1_LINK")
    ln -sfn "$WORK/no-such-tty" "$COM1_LINK"
    ser2net_tcp="tcp(nodelay)"
    if ! ser2net_start "$WORK/$name-ser2net" "$pty" raw 115200 "chardelay: false" 2>"$WORK/$name-ser2net.err"; then
      fail "$name: ser2net did not come up: $(cat "$WORK/$name-ser2net.err")"
      stop_sim
      return
    fi
    port_text=$ser2net_url
    printf '[settings]\r\nfile=C:\\tarnwick\\%s.bin\r\ndevice=%s\r\n' "$name" "$ser2net_url" >"$APPDIR/fwdl.ini"
  fi

  start_program "$name"
  local dlg
  if ! dlg="$(wait_window 'Firmware Download Utility' 90)"; then
    fail "$name: main dialog not shown"
    wait_program 5
    stop_sim
    return
  fi
  sleep 1
  press "$dlg" alt+s
  if ! wait_trace "$name" "HandleCmds started" 15; then
    fail "$name: Start did not start the worker"
  elif [ "$outcome" = cable ]; then
    cable_out_and_back "$name" "$dlg" "$CABLE_TEXT"
  elif [ "$outcome" = stop ] && ! press_stop "$name" "$dlg"; then
    fail "$name: Stop did not ask first, or did not stop"
  elif [ "$outcome" = poke ] && ! poke_keys "$name" "$dlg"; then
    fail "$name: a stray Enter or Space acted on the dialog"
  elif ! wait_trace "$name" "HandleCmds ended" "$secs"; then
    fail "$name: the download did not end within $secs s"
  else
    pass "$name: worker ended"
    if [ "$outcome" = success ] || [ "$outcome" = poke ]; then
      expect_trace "$name" "bret true: finished successfully"
    else
      expect_trace "$name" "after start_fmdl_download=false"
    fi
  fi
  sleep 1
  screenshot "download-$name"

  press "$dlg" alt+q
  local box
  if box="$(wait_window '^Warning$' 15)"; then
    press "$box" Return
    if wait_program 30; then
      [ "$EXIT_CODE" = 0 ] && pass "$name: exit code 0" || fail "$name: exit code $EXIT_CODE"
    else
      fail "$name: still running after Quit was confirmed"
    fi
  else
    fail "$name: no Quit question"
    wait_program 1
  fi
  expect_setting "$name" "file=C:\\tarnwick\\$name.bin"
  expect_log_file "$name" "$port_text"

  ser2net_stop
  stop_sim
  [ "$SIM_STATUS" = 0 ] && pass "$name: expander-sim saw no violation" \
    || fail "$name: expander-sim exit status $SIM_STATUS"
  local verdict
  if verdict="$(python3 "$E2E_DIR/check_download_report.py" "$WORK/$name-report.json" \
      "$image" "$FWIMAGE" "$expect" 2>&1)"; then
    pass "$name: report ($expect)"
  else
    fail "$name: report ($expect): $verdict"
  fi
  mkdir -p "$EVIDENCE/download-traces"
  cp "$WORK/$name.trace" "$WORK/$name-report.json" "$WORK/$name-sim.err" \
    "$EVIDENCE/download-traces/" 2>/dev/null
}

wanted() {
  [ ${#SCENARIOS[@]} -eq 0 ] && return 0
  local s
  for s in "${SCENARIOS[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}
SCENARIOS=("$@")

FW=(--image fw:24K:random=1 --version 1.2.3.4)
FW_BOOT=(--image fw:24K:random=1 --version 1.2.3.4 --version-at between --image boot:4K:random=2)

wanted normal && run_download normal normal poke 240 -- "${FW[@]}" --
wanted reboot && run_download reboot reboot success 300 -- "${FW_BOOT[@]}" --
wanted stale && run_download stale stale success 400 -- "${FW_BOOT[@]}" -- --stale-reboots 1
# The console wait after a reboot gives up after 75 s and ten more prompts.
wanted neverreturn && run_download neverreturn neverreturn failure 400 -- "${FW_BOOT[@]}" -- --never-return
wanted reject && run_download reject reject success 240 -- "${FW[@]}" -- --reject 3
wanted stop && run_download stop stop stop 120 -- --image fw:512K:random=3 --version 1.2.3.4 --
# Query 1 is the start-up check; query 2 the one before the download.
if wanted busyversion; then
  run_download busyversion stale success 400 -- "${FW_BOOT[@]}" -- --busy-version 2 --stale-reboots 1
  expect_trace busyversion "CheckFirmwareVer: no reply, asking again(#1)\n"
fi
if wanted bootfail; then
  run_download bootfail bootfail failure 300 -- "${FW_BOOT[@]}" -- --reject-part 0xFF
  expect_trace bootfail "status: Bootloader image download failed, the bootloader was not written. Do not power cycle the SAS Expander! Click the start button to write it again.\n"
fi

# 24 KiB is 97 packets; the cable comes out at the 30th, and goes back in 3 s later.
CABLE_TEXT="Firmware download failed, the serial port was lost. Check the cable, the serial adapter and the power, then power cycle the system and click the start button to retry the download!"
wanted cable && run_download cable cable cable 240 -- "${FW[@]}" -- --vanish-after-packets 30 --come-back 3
# The 105th packet is the bootloader's ninth.
CABLE_TEXT="Bootloader image download failed, the serial port was lost and the bootloader was not written. Do not power cycle the SAS Expander! Check the cable and the serial adapter, then click the start button to write it again."
wanted cableboot && run_download cableboot cableboot cable 400 -- "${FW_BOOT[@]}" -- --vanish-after-packets 105 --come-back 3
CABLE_TEXT="Firmware download failed, the serial port was lost. Check the cable, the serial adapter and the power, then power cycle the system and click the start button to retry the download!"
STAYS_OUT=1
wanted cablegone && run_download cablegone cablegone cable 240 -- "${FW[@]}" -- --vanish-after-packets 30
STAYS_OUT=""

if wanted ser2net; then
  VIA_SER2NET=1
  run_download ser2net reboot success 300 -- "${FW_BOOT[@]}" --
  VIA_SER2NET=""
  expect_setting ser2net "device=$ser2net_url"
fi

if [ "$FAILURES" -ne 0 ]; then
  log "$FAILURES check(s) failed; traces and reports in $EVIDENCE/download-traces"
  exit 1
fi
log "all download checks passed; screenshots in $EVIDENCE"
