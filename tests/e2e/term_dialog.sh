#!/usr/bin/env bash
# End to end: tarnwick's terminal dialog inside tmux, driven with keys
# (send-keys) and read from the screen (capture-pane), against a console on a
# pseudo-terminal: console_peer.py for start-up and the dialog, expander-sim
# for whole downloads (those cases run once the simulator serves --link).
#
#   tests/e2e/term_dialog.sh [CASE...]     (default: every case)
#
# Every wait has a generous time-out and passes as soon as the screen shows
# what it waits for: nothing depends on how fast the machine is. Everything
# started here (tmux server on a private socket, peers) is stopped on exit.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
E2E_DIR="$ROOT/tests/e2e"
BIN="${TARNWICK_BIN:-$ROOT/build/linux/app/term/tarnwick}"
SIM="${TARNWICK_SIM:-$ROOT/build/linux/sim/expander-sim}"
FWIMAGE="${TARNWICK_FWIMAGE:-$ROOT/build/linux/tools/fwimage/fwimage}"
WAIT="${TARNWICK_E2E_WAIT:-60}"   # seconds any one wait may take
WORK="$(mktemp -d /tmp/tarnwick-term-e2e.XXXXXX)"
# The download history of this run only.
export TARNWICK_STATE_DIR="$WORK/state"
mkdir -p "$TARNWICK_STATE_DIR"
SOCKET="$WORK/tmux.sock"   # the tmux server's socket, in the run's own folder
SESSION="tw"
PEER_PID=""
APP=""
FAILURES=0

cleanup() {
  set +e
  tmux -S "$SOCKET" kill-server >/dev/null 2>&1
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

log() { printf '%s\n' "$*"; }
tm() { tmux -S "$SOCKET" -f /dev/null "$@"; }

# ---- the console on the other end of the line -------------------------------

stop_console() {
  if [ -n "$PEER_PID" ]; then
    kill "$PEER_PID" 2>/dev/null
    wait "$PEER_PID" 2>/dev/null
    PEER_PID=""
  fi
}

# Waits until FILE holds TEXT; false after $WAIT seconds.
wait_file_text() {
  local file=$1 text=$2 i
  for i in $(seq 1 $((WAIT * 5))); do
    grep -qF -- "$text" "$file" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# console_peer.py on $WORK/console: MODE is "silent" or "version=A.B.C.D".
start_peer() {
  stop_console
  rm -f "$WORK/console" "$WORK/peer.out"
  python3 "$E2E_DIR/console_peer.py" "$WORK/console" "$1" "$WORK/peer.log" >"$WORK/peer.out" 2>&1 &
  PEER_PID=$!
  wait_file_text "$WORK/peer.out" ready || { log "console peer did not start"; return 1; }
}

# expander-sim on $WORK/console with extra options; its report goes to
# $WORK/sim.json when it ends.
start_sim() {
  stop_console
  rm -f "$WORK/console" "$WORK/sim.json"
  "$SIM" --link "$WORK/console" --report "$WORK/sim.json" --baud 0 "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
  PEER_PID=$!
  local i
  for i in $(seq 1 $((WAIT * 5))); do
    [ -e "$WORK/console" ] && return 0
    kill -0 "$PEER_PID" 2>/dev/null || break
    sleep 0.2
  done
  log "expander-sim did not start: $(cat "$WORK/sim.err")"
  return 1
}

# Stops expander-sim and checks its report: EXPR (Python, over the report as
# `r`; `clean` is true when the simulator saw no violation) must hold.
judge() {
  local expr=$1
  stop_console
  [ -s "$WORK/sim.json" ] || { log "no simulator report"; return 1; }
  python3 - "$WORK/sim.json" "$expr" <<'PY' || { log "report fails: $expr"; cat "$WORK/sim.json"; return 1; }
import json, sys
r = json.load(open(sys.argv[1]))
clean = r["counts"]["violations"] == 0
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}

have_sim() { [ -x "$SIM" ] && "$SIM" --help 2>&1 | grep -q -- '--link'; }

# ---- the program --------------------------------------------------------------

# A copy of tarnwick in a folder of its own ($APP), so that fwdl.ini and
# fwdl.log beside it belong to this case. DEVICE: the serial device to use.
setup_app() {
  APP="$WORK/app-$1"
  rm -rf "$APP"
  mkdir -p "$APP"
  cp "$BIN" "$APP/tarnwick"
  printf '[settings]\nfile=%s\ncomport=1\ndevice=%s\n' "${3:-}" "$2" >"$APP/fwdl.ini"
}

# Starts $APP/tarnwick in a fresh tmux session: TERM, LANG, columns, rows.
start_tarnwick() {
  local term=$1 lang=$2 cols=${3:-80} rows=${4:-24}
  tm kill-server >/dev/null 2>&1
  rm -f "$APP/exit_code"
  tm new-session -d -s "$SESSION" -x "$cols" -y "$rows" \
    "cd '$APP' && env TERM=$term LANG=$lang LC_ALL=$lang ./tarnwick; echo \$? >'$APP/exit_code'; sleep 100000"
}

screen_text() { tm capture-pane -p -t "$SESSION" 2>/dev/null; }
keys() { tm send-keys -t "$SESSION" "$@"; }
type_text() { tm send-keys -t "$SESSION" -l -- "$1"; }
# A bracketed paste, as a terminal sends one when the program asked for it.
paste_text() {
  tm set-buffer -- "$1"
  tm paste-buffer -p -t "$SESSION"
}

show_screen() {
  log "---- screen ----"
  screen_text
  log "----------------"
}

# Waits until the screen shows TEXT.
wait_for() {
  local text=$1 i
  for i in $(seq 1 $((WAIT * 5))); do
    screen_text | grep -qF -- "$text" && return 0
    sleep 0.2
  done
  log "screen never showed: $text"
  show_screen
  return 1
}

# Waits until the screen shows TEXT in lines the terminal wrapped (plain
# output before and after the dialog, not the dialog's own rows).
wait_for_wrapped() {
  local text=$1 i
  for i in $(seq 1 $((WAIT * 5))); do
    tm capture-pane -p -J -t "$SESSION" 2>/dev/null | grep -qF -- "$text" && return 0
    sleep 0.2
  done
  log "screen never showed: $text"
  show_screen
  return 1
}

# Waits until the screen no longer shows TEXT.
wait_gone() {
  local text=$1 i
  for i in $(seq 1 $((WAIT * 5))); do
    screen_text | grep -qF -- "$text" || return 0
    sleep 0.2
  done
  log "screen kept showing: $text"
  show_screen
  return 1
}

# Waits for tarnwick to end and checks its exit code.
expect_exit() {
  local want=$1 i
  for i in $(seq 1 $((WAIT * 5))); do
    if [ -s "$APP/exit_code" ]; then
      local got
      got=$(cat "$APP/exit_code")
      [ "$got" = "$want" ] && return 0
      log "exit code $got, expected $want"
      return 1
    fi
    sleep 0.2
  done
  log "tarnwick did not end"
  show_screen
  return 1
}

# The screen row holding TEXT.
screen_line() { screen_text | grep -F -- "$1" | head -n 1; }

expect_line() {
  local text=$1 pattern=$2 line
  line=$(screen_line "$text")
  if ! printf '%s' "$line" | grep -qE -- "$pattern"; then
    log "line with \"$text\" does not match /$pattern/: $line"
    return 1
  fi
}

expect_ini_file() {
  if ! grep -qxF "file=$1" "$APP/fwdl.ini"; then
    log "fwdl.ini does not hold file=$1:"
    cat "$APP/fwdl.ini"
    return 1
  fi
}

readonly TITLE="SAS Expander Firmware Download Utility v1.02.0001.78"
readonly DETECTED="Firmware v1.02.0000.10 detected!"
readonly QUESTION="Are you sure you want to quit?"
readonly STOP_QUESTION="Stop the download?"

# Quit with Yes; tarnwick must end with code 0.
quit_yes() {
  keys M-q && wait_for "$QUESTION" && keys y && expect_exit 0
}

# ---- cases ----------------------------------------------------------------------

# Start-up, caption, detected version and Quit on the three kinds of terminal.
case_terminals() {
  local t
  for t in xterm-256color:C.UTF-8 screen:C.UTF-8 vt100:C; do
    start_peer version=1.02.0000.10 || return 1
    setup_app "${t%%:*}" "$WORK/console"
    start_tarnwick "${t%%:*}" "${t#*:}" || return 1
    wait_for "$DETECTED" && wait_for "$TITLE" || return 1
    expect_line "File Name:" '\[ +\] +\[ Browse\.\.\. \]' || return 1
    expect_line "Start" '\[ Start \] +\( Stop \) +\[ Quit \]' || return 1
    quit_yes || return 1
    grep -qF "tarnwick: v2.8" "$APP/fwdl.log" || { log "no trace in fwdl.log"; return 1; }
    grep -qE "^[0-9-]+ [0-9:.]+ ==== tarnwick v1\.02\.0001\.78 started .*, port $WORK/console, settings $APP/fwdl\.ini ====\$" \
      "$APP/fwdl.log" || { log "no run marker in fwdl.log"; cat "$APP/fwdl.log"; return 1; }
  done
}

# Browse and Escape, refused files, Escape and Ctrl+C in the dialog, resize,
# and the file name kept in fwdl.ini.
case_dialog() {
  start_peer version=1.02.0000.10 || return 1
  setup_app dialog "$WORK/console"
  printf 'not an image\n' >"$WORK/notimage.bin"
  printf 'VRX' >"$WORK/other.txt"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1

  # The chooser opens in the program's folder; Escape changes nothing.
  keys M-b && wait_for "Choose a firmware image" && wait_for "Look in: $APP/" || return 1
  wait_for "Firmware Image (*.bin)" || return 1
  keys C-t && wait_for "All (*.*)" && wait_for "fwdl.ini" || return 1
  keys Escape && wait_gone "Choose a firmware image" || return 1
  wait_for "$DETECTED" && expect_line "File Name:" '\[ +\]' || return 1

  # Start with a file that does not exist. Browse kept the focus; Alt+F
  # takes it back to the file box.
  keys M-f
  type_text "$WORK/none.bin"
  keys M-s && wait_for "Error, file none.bin doesn't exist!" || return 1

  # Browse to a file that exists but is no image, typing its path.
  keys M-b && wait_for "Choose a firmware image" || return 1
  type_text "$WORK/notimage.bin"
  keys Enter && wait_gone "Choose a firmware image" || return 1
  wait_for "Error, notimage.bin is not a valid firmware image!" || return 1
  expect_line "File Name:" "notimage\\.bin" || return 1

  # Start with another non-image, pasted into the emptied file box.
  keys M-f C-u
  paste_text "$WORK/other.txt"
  wait_for "other.txt" && keys M-s && wait_for "Error, other.txt is not a valid firmware image!" || return 1

  # Escape does nothing; Ctrl+C asks, No keeps the dialog.
  keys Escape && sleep 0.5 && wait_for "Error, other.txt is not a valid" || return 1
  keys C-c && wait_for "$QUESTION" && keys n && wait_gone "$QUESTION" || return 1
  wait_for "$TITLE" || return 1

  # A larger window: the frame follows, the texts stay.
  tm resize-window -t "$SESSION" -x 120 -y 36
  local i wide=""
  for i in $(seq 1 $((WAIT * 5))); do
    wide=$(screen_text | head -n 1)
    [ "${#wide}" -ge 119 ] && break
    sleep 0.2
  done
  [ "${#wide}" -ge 119 ] || { log "the frame did not follow the resize"; show_screen; return 1; }
  wait_for "Error, other.txt is not a valid firmware image!" || return 1

  quit_yes || return 1
  expect_ini_file "$WORK/other.txt"
}

# A refused version: the box, then exit code 0 without a dialog.
case_version_mismatch() {
  start_peer version=0.01.0000.04 || return 1
  setup_app mismatch "$WORK/console"
  start_tarnwick screen C.UTF-8 || return 1
  wait_for "Version mismatch!" || return 1
  wait_for "This utility can only be used for firmware v0.01.0000.05 or later." || return 1
  keys Enter && expect_exit 0
}

# Without a terminal: start-up boxes on standard error, and no dialog.
case_no_terminal() {
  setup_app noport "$WORK/no-such-device"
  (cd "$APP" && ./tarnwick </dev/null >"$APP/out" 2>"$APP/err")
  local rc=$?
  [ $rc -eq 0 ] || { log "port failure: exit code $rc"; return 1; }
  grep -qF "Error: Unable to open $WORK/no-such-device!" "$APP/err" || { log "no port box text:"; cat "$APP/err"; return 1; }

  start_peer version=1.02.0000.10 || return 1
  setup_app notty "$WORK/console"
  (cd "$APP" && ./tarnwick </dev/null >"$APP/out" 2>"$APP/err")
  rc=$?
  [ $rc -ne 0 ] || { log "no terminal: exit code 0"; return 1; }
  grep -qF "needs a terminal" "$APP/err" || { log "no notice:"; cat "$APP/err"; return 1; }
}

# --version, --help and an unknown argument answer without touching the port
# (a console that logs every byte it gets) or writing a file.
case_arguments() {
  rm -f "$WORK/peer.log"
  start_peer silent || return 1
  setup_app_bare args "$WORK/console"
  local ini out rc
  ini="$(cat "$APP/fwdl.ini")"
  out="$(cd "$APP" && ./tarnwick --version)" || { log "--version failed"; return 1; }
  [[ "$out" =~ ^tarnwick\ [0-9]+\.[0-9]{2}\.[0-9]{4}\.[0-9]{2}\ \([0-9.]+\)$ ]] || { log "--version: $out"; return 1; }
  (cd "$APP" && ./tarnwick --help) | grep -q "Usage: tarnwick" || { log "--help: no usage"; return 1; }
  (cd "$APP" && ./tarnwick /dev/ttyUSB0 >/dev/null 2>"$APP/err")
  rc=$?
  [ $rc -eq 2 ] || { log "unknown argument: exit code $rc"; return 1; }
  grep -q "Usage: tarnwick" "$APP/err" || { log "unknown argument: no usage"; return 1; }
  [ ! -s "$WORK/peer.log" ] || { log "the port received: $(od -c "$WORK/peer.log" | head -3)"; return 1; }
  [ "$(cat "$APP/fwdl.ini")" = "$ini" ] || { log "fwdl.ini was rewritten"; return 1; }
  [ ! -e "$APP/fwdl.log" ] || { log "fwdl.log was written"; return 1; }
}

# Start-up without a usable console, on the terminal: the box, Enter, exit
# code 0, and the settings file written back with the keys it lacked.
setup_app_bare() {
  APP="$WORK/app-$1"
  rm -rf "$APP"
  mkdir -p "$APP"
  cp "$BIN" "$APP/tarnwick"
  printf '[settings]\ndevice=%s\n' "$2" >"$APP/fwdl.ini"
}

expect_ini_written_back() {
  if ! grep -qx "file=" "$APP/fwdl.ini" || ! grep -qx "comport=1" "$APP/fwdl.ini"; then
    log "fwdl.ini lacks file= or comport=1:"
    cat "$APP/fwdl.ini"
    return 1
  fi
}

# A console that never answers: "Device not found!".
case_silent_peer() {
  start_peer silent || return 1
  setup_app_bare silent "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  # The check waits seconds for the silent console; the screen says so.
  wait_for_wrapped "tarnwick: opening $WORK/console and asking the SAS Expander for its firmware version, please wait..." || return 1
  wait_for "Device not found!" || return 1
  wait_for "properly attached to" && wait_for "$WORK/console and powered up." || return 1
  wait_for "The port is chosen in the settings file" && wait_for "device=" || return 1
  keys Enter && expect_exit 0 || return 1
  expect_ini_written_back
}

# A device that does not exist: the port box names the settings file.
case_missing_port() {
  setup_app_bare missing "$WORK/no-such-device"
  start_tarnwick xterm-256color C.UTF-8 120 30 || return 1
  wait_for "Unable to open $WORK/no-such-device!" || return 1
  wait_for "$APP/fwdl.ini" || return 1
  keys Enter && expect_exit 0 || return 1
  expect_ini_written_back
}

# ---- whole downloads against expander-sim -------------------------------------

# An image file: fwimage make options after the output name.
make_image() {
  local out=$1
  shift
  "$FWIMAGE" make "$out" "$@" >/dev/null || { log "fwimage make failed"; return 1; }
}

# Types PATH into the emptied file box and presses Start; true once the
# worker has locked the file controls. The simulator's --baud keeps every
# download here long enough to be watched and interrupted.
start_download() {
  keys M-f C-u
  type_text "$1"
  keys M-s && wait_for "( Start )" || return 1
}

expect_success_text() {
  wait_for "Firmware download finished successfully." &&
    wait_for "Please power cycle the system for the new firmware to take effect."
}

readonly FAILED_TEXT="Firmware download failed, please power cycle the system"

# Start, the progress display, the success text; Quit No while it runs.
case_download() {
  make_image "$WORK/fw.bin" --image fw:64K --version 1.2.0.11 || return 1
  start_sim --baud 57600 || return 1
  setup_app download "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/fw.bin" || return 1
  wait_for "% completed" && wait_for "seconds elapsed" || return 1
  expect_line "Browse" '\( Browse\.\.\. \)' || return 1
  # The focus left Start for the progress bar: stray Enters and Spaces at
  # random moments do nothing, and no button shows the focus.
  local k
  for k in Enter Space Enter Space Enter; do
    sleep "$(awk -v r="$RANDOM" 'BEGIN { printf "%.1f", 0.2 + (r % 10) / 10 }')"
    keys "$k"
  done
  expect_line "Start" '\( Start \) +\[ Stop \] +\[ Quit \]' || return 1
  # While the window is too small, no key acts on the dialog.
  tm resize-window -t "$SESSION" -x 40 -y 10
  wait_for "Please enlarge the window" || return 1
  keys Tab Enter t Space q Enter
  sleep 0.5
  tm resize-window -t "$SESSION" -x 80 -y 24
  wait_for "% completed" || return 1
  if screen_text | grep -qF -e "$STOP_QUESTION" -e "$QUESTION"; then
    log "a key in the too-small window acted on the dialog"; show_screen; return 1
  fi
  # Quit while it runs says it stops the download; No (Enter) keeps it going.
  keys M-q && wait_for "A download is running: quitting stops it" && wait_for "$QUESTION" || return 1
  keys Enter && wait_gone "$QUESTION" || return 1
  expect_success_text && wait_for "100% completed" || return 1
  expect_line "Start" '\[ Start \]' || return 1
  quit_yes || return 1
  expect_ini_file "$WORK/fw.bin" || return 1
  grep -qF "Image file for the download: $WORK/fw.bin" "$APP/fwdl.log" ||
    { log "fwdl.log does not name the image file"; return 1; }
  judge 'clean and [(i["part"], i["complete"]) for i in r["images"]] == [(6, True)]'
}

# Quit and Stop are refused while the bootloader image is written.
case_bootloader_quit_refused() {
  make_image "$WORK/fwboot.bin" --image fw:16K --image boot:128K --version 1.2.0.11 || return 1
  start_sim --baud 38400 --reboot-seconds 2 || return 1
  setup_app boot "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/fwboot.bin" || return 1
  wait_for "Downloading bootloader image, do not power cycle" || return 1
  keys M-q && wait_for "Unable to quit, bootloader image download is in progress!" || return 1
  keys Enter && wait_gone "Unable to quit" || return 1
  keys M-t && wait_for "Unable to quit, bootloader image download is in progress!" || return 1
  keys Enter && wait_gone "Unable to quit" || return 1
  expect_success_text || return 1
  quit_yes || return 1
  judge 'clean and all(i["complete"] for i in r["images"]) and r["images"][-1]["part"] == 255'
}

# Stop during a firmware image: the failure text, and Start is usable again.
case_stop_firmware() {
  make_image "$WORK/big.bin" --image fw:256K --version 1.2.0.11 || return 1
  start_sim --baud 38400 || return 1
  setup_app stop "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/big.bin" || return 1
  wait_for "% completed" || return 1
  # Stop asks first; Enter answers No and the download goes on.
  keys M-t && wait_for "$STOP_QUESTION" || return 1
  wait_for "The expander will have to be power cycled before the" || return 1
  keys Enter && wait_gone "$STOP_QUESTION" || return 1
  local before after
  before=$(screen_line "% completed")
  sleep 2
  after=$(screen_line "% completed")
  [ "$before" != "$after" ] || { log "the download did not go on after No"; show_screen; return 1; }
  keys M-t && wait_for "$STOP_QUESTION" && keys y || return 1
  wait_for "$FAILED_TEXT" || return 1
  expect_line "Start" '\[ Start \] +\( Stop \)' || return 1
  quit_yes || return 1
  # The packet under way when Stop came is cut off: the simulator sees a
  # broken packet, and no image arrives whole.
  judge 'not any(i["complete"] for i in r["images"])'
}

# A busy answer to the version query before the download is asked again; the
# first reboot keeps the old firmware, so the firmware goes out twice.
case_busy_version() {
  make_image "$WORK/busy.bin" --image fw:16K --image boot:4K --version 1.2.0.11 || return 1
  # Query 1 is the start-up check; query 2 the one before the download.
  start_sim --reboot-seconds 2 --busy-version 2 --stale-reboots 1 || return 1
  setup_app busy "$WORK/console"
  # The smallest window: the success text wraps into its lines, cut nowhere.
  start_tarnwick xterm-256color C.UTF-8 60 14 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/busy.bin" || return 1
  wait_for "Firmware download finished successfully." && wait_for "take effect." || return 1
  quit_yes || return 1
  judge 'clean and [i["part"] for i in r["images"] if i["complete"]] == [6, 6, 255]'
}

# Every bootloader packet is rejected after the new firmware was confirmed:
# the status line says the bootloader was not written and not to power cycle.
case_bootloader_fails() {
  make_image "$WORK/bootfail.bin" --image fw:16K --image boot:4K --version 1.2.0.11 || return 1
  start_sim --reboot-seconds 2 --reject-part 0xFF || return 1
  setup_app bootfail "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/bootfail.bin" || return 1
  wait_for "Bootloader image download failed, the bootloader was not written." || return 1
  wait_for "power cycle the SAS Expander! Click the start button to write it again." || return 1
  quit_yes || return 1
  judge 'clean and [i["part"] for i in r["images"] if i["complete"]] == [6]'
}

# Quit while a download runs, answered Yes: the download stops and, on
# leaving, the program says the expander must be power cycled.
case_quit_download() {
  make_image "$WORK/quit.bin" --image fw:256K --version 1.2.0.11 || return 1
  start_sim --baud 38400 || return 1
  setup_app quitdl "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/quit.bin" || return 1
  wait_for "% completed" || return 1
  keys M-q && wait_for "A download is running: quitting stops it" && keys y || return 1
  expect_exit 0 || return 1
  wait_for_wrapped "tarnwick: the download was stopped; power cycle the SAS Expander before the next try." || return 1
  judge 'not any(i["complete"] for i in r["images"])'
}

# Sends signal SIG to tarnwick itself (not to the shell of the pane).
signal_tarnwick() {
  local sig=$1 pane pid
  pane=$(tm display-message -p -t "$SESSION" '#{pane_pid}') || return 1
  pid=$(ps -o pid= --ppid "$pane" | head -n 1 | tr -d ' ')
  [ -n "$pid" ] || { log "tarnwick is not running"; return 1; }
  kill -s "$sig" "$pid"
}

# SIGTERM while the bootloader image is written: the program goes on until
# the download has ended, then leaves the terminal as it found it, and the
# bootloader arrived whole.
case_sigterm_bootloader() {
  make_image "$WORK/termboot.bin" --image fw:16K --image boot:128K --version 1.2.0.11 || return 1
  start_sim --baud 38400 --reboot-seconds 2 || return 1
  setup_app termboot "$WORK/console"
  start_tarnwick xterm-256color C.UTF-8 || return 1
  wait_for "$DETECTED" || return 1
  start_download "$WORK/termboot.bin" || return 1
  wait_for "Downloading bootloader image, do not power cycle" || return 1
  signal_tarnwick TERM || return 1
  sleep 1
  [ ! -s "$APP/exit_code" ] || { log "tarnwick ended in the middle of the bootloader"; return 1; }
  expect_exit 0 || return 1
  if tm capture-pane -p -J -t "$SESSION" | grep -qF "the download was stopped"; then
    log "a finished download was called stopped"; show_screen; return 1
  fi
  judge 'clean and all(i["complete"] for i in r["images"]) and r["images"][-1]["part"] == 255'
}

# SIGTERM and SIGQUIT during the firmware image: the download stops as a
# confirmed Quit stops it, and the program ends with the power-cycle line.
case_sigterm_firmware() {
  local sig
  for sig in TERM QUIT; do
    make_image "$WORK/term.bin" --image fw:256K --version 1.2.0.11 || return 1
    start_sim --baud 38400 || return 1
    setup_app "term$sig" "$WORK/console"
    start_tarnwick xterm-256color C.UTF-8 || return 1
    wait_for "$DETECTED" || return 1
    start_download "$WORK/term.bin" || return 1
    wait_for "% completed" || return 1
    signal_tarnwick "$sig" || return 1
    expect_exit 0 || { log "after SIG$sig"; return 1; }
    wait_for_wrapped "tarnwick: the download was stopped; power cycle the SAS Expander before the next try." ||
      return 1
    grep -qF "DlgOnLostUser: stopping the download" "$APP/fwdl.log" ||
      { log "SIG$sig: no stop in fwdl.log"; return 1; }
    judge 'not any(i["complete"] for i in r["images"])' || return 1
  done
}

# ---- runner --------------------------------------------------------------------

CASES=(case_terminals case_dialog case_version_mismatch case_no_terminal case_silent_peer
  case_missing_port case_arguments)
DOWNLOAD_CASES=(case_download case_bootloader_quit_refused case_stop_firmware case_busy_version
  case_bootloader_fails case_quit_download case_sigterm_bootloader case_sigterm_firmware)

main() {
  if [ ! -x "$BIN" ]; then
    log "FAIL: $BIN is not built"
    return 1
  fi
  local selected=("$@")
  if [ ${#selected[@]} -eq 0 ]; then
    selected=("${CASES[@]}")
    if have_sim; then
      selected+=("${DOWNLOAD_CASES[@]}")
    else
      log "skip: download cases (expander-sim without --link)"
    fi
  fi
  local c
  for c in "${selected[@]}"; do
    if "$c"; then
      log "ok:   $c"
    else
      log "FAIL: $c"
      FAILURES=$((FAILURES + 1))
    fi
    tm kill-server >/dev/null 2>&1
    stop_console
  done
  [ "$FAILURES" -eq 0 ]
}

main "$@"
