# Sourced by the Wine end-to-end scripts: a private X display, a throw-away
# Wine prefix, COM1 on a pseudo-terminal, running tarnwick.exe with its trace
# captured, finding and dismissing its windows, and cleanup on exit.
#
# The sourcing script sets nothing beforehand; afterwards it has ROOT, EXE,
# EVIDENCE, WORK, APPDIR, DOSDEV, COM1_LINK and the functions below. Every
# helper that waits has a time-out, and everything started here is stopped by
# the EXIT trap.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
E2E_DIR="$ROOT/tests/e2e"
EXE="${TARNWICK_EXE:-$ROOT/build/windows/app/win32/tarnwick.exe}"
EVIDENCE="$ROOT/build/e2e-evidence"
WORK="$(mktemp -d /tmp/tarnwick-e2e.XXXXXX)"
# The download history of this run only, as the Windows programs name the
# folder (Wine's Z: is the Unix root).
mkdir -p "$WORK/state"
export TARNWICK_STATE_DIR="Z:${WORK//\//\\}\\state"
XVFB_PID=""
PEER_PID=""
WINE_PID=""
FAILURES=0

# expander-sim and fwimage of the Linux build; SIM_PID is the simulator a
# script started, stop_sim ends it and leaves its exit status in SIM_STATUS.
SIM="${TARNWICK_SIM:-$ROOT/build/linux/sim/expander-sim}"
FWIMAGE="${TARNWICK_FWIMAGE:-$ROOT/build/linux/tools/fwimage/fwimage}"
SIM_PID=""

stop_sim() {
  SIM_STATUS=""
  if [ -n "$SIM_PID" ]; then
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID"
    SIM_STATUS=$?
    SIM_PID=""
  fi
}

e2e_cleanup() {
  set +e
  [ -n "$WINE_PID" ] && kill "$WINE_PID" 2>/dev/null
  [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1
  fi
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM HUP

log() { printf '%s\n' "$*"; }
fail() {
  log "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}
pass() { log "ok:   $*"; }

# Starts Xvfb on the first free display from :90 on and exports DISPLAY.
start_xvfb() {
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.2
    done
    kill "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  done
  log "no free X display for Xvfb"
  return 1
}

# A fresh prefix under $WORK with the program in C:\tarnwick.
start_wine_prefix() {
  unset TARNWICK_WINEPREFIX
  export TARNWICK_WINEPREFIX="$WORK/prefix"
  mkdir -p "$TARNWICK_WINEPREFIX"
  # shellcheck source=/dev/null
  source "$ROOT/scripts/wine-env.sh"
  DOSDEV="$WINEPREFIX/dosdevices"
  APPDIR="$WINEPREFIX/drive_c/tarnwick"
  mkdir -p "$APPDIR"
  cp "$EXE" "$APPDIR/"
  # Wine links dosdevices/com1 to the first /dev/ttyS* at every start unless
  # the Ports key names the device. It names $COM1_LINK, which the tests
  # point at a pseudo-terminal or at nothing.
  COM1_LINK="$WORK/com1"
  # The first start of a fresh prefix may still be setting it up when the key
  # is written, and then the key is lost: COM1 becomes the machine's own
  # /dev/ttyS0 and every check on COM1 talks to nothing. So the key is read
  # back, and written again until it holds.
  local i
  for i in 1 2 3; do
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$COM1_LINK" /f >/dev/null 2>&1
    wineserver -w
    if wine reg query 'HKLM\Software\Wine\Ports' /v COM1 2>/dev/null | tr -d '\r' \
      | grep -qF "$COM1_LINK"; then
      break
    fi
    log "Wine's Ports key does not name $COM1_LINK yet (attempt $i)"
  done
  wineserver -w
  ln -sfn "$COM1_LINK" "$DOSDEV/com1"
  com1_missing
}

# Points COM1 at nothing: opening it fails.
com1_missing() {
  ln -sfn "$WORK/no-such-tty" "$COM1_LINK"
}

# Starts the stand-in console on COM1: console_peer.py MODE (silent, version=...).
start_peer() {
  local mode="$1"
  : >"$WORK/peer.ready"
  python3 "$E2E_DIR/console_peer.py" "$COM1_LINK" "$mode" "$WORK/peer.log" \
    >"$WORK/peer.ready" 2>"$WORK/peer.err" &
  PEER_PID=$!
  local i
  for i in $(seq 1 50); do
    grep -q ready "$WORK/peer.ready" 2>/dev/null && return 0
    sleep 0.1
  done
  log "console peer did not start: $(cat "$WORK/peer.err")"
  return 1
}

stop_peer() {
  if [ -n "$PEER_PID" ]; then
    kill "$PEER_PID" 2>/dev/null
    wait "$PEER_PID" 2>/dev/null
    PEER_PID=""
  fi
}

# Runs a program of $APPDIR in the background with the debug-string and
# message-box channels traced to $WORK/<name>.trace.
start_program() {
  local name="$1" exe="${2:-tarnwick.exe}" dir="${3:-$APPDIR}"
  (cd "$dir" && WINEDEBUG="-all,+debugstr,+msgbox" exec wine "$exe" \
    >"$WORK/$name.out" 2>"$WORK/$name.trace") &
  WINE_PID=$!
}

# Waits up to $2 seconds for a window whose name matches the regular
# expression $1; prints its id.
wait_window() {
  local pattern="$1" secs="$2" i id
  for i in $(seq 1 $((secs * 5))); do
    id="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1)"
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    if [ -n "$WINE_PID" ] && ! kill -0 "$WINE_PID" 2>/dev/null; then
      return 1
    fi
    sleep 0.2
  done
  return 1
}

# Waits up to $1 seconds for the program to end; its exit code in EXIT_CODE.
wait_program() {
  local secs="$1" i
  EXIT_CODE=""
  for i in $(seq 1 $((secs * 5))); do
    if ! kill -0 "$WINE_PID" 2>/dev/null; then
      wait "$WINE_PID"
      EXIT_CODE=$?
      WINE_PID=""
      return 0
    fi
    sleep 0.2
  done
  kill "$WINE_PID" 2>/dev/null
  wait "$WINE_PID" 2>/dev/null
  WINE_PID=""
  return 1
}

# Presses keys (xdotool names, e.g. Return, alt+q) in window $1.
press() {
  local win="$1"
  shift
  xdotool key --window "$win" "$@" 2>/dev/null
}

screenshot() {
  mkdir -p "$EVIDENCE"
  import -window root "$EVIDENCE/$1.png" 2>/dev/null
}

# The texts of every message box the program showed, from its trace, one
# JSON string per line.
box_texts() {
  python3 - "$WORK/$1.trace" <<'EOF'
import json, re, sys
text = open(sys.argv[1], encoding="latin-1").read()
for m in re.finditer(r'msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', text):
    raw = m.group(1)
    out, i = [], 0
    while i < len(raw):
        c = raw[i]
        if c == "\\" and i + 1 < len(raw):
            n = raw[i + 1]
            if n in "nrt":
                out.append({"n": "\n", "r": "\r", "t": "\t"}[n]); i += 2; continue
            if n == "x":
                h = re.match(r"[0-9a-fA-F]{2,4}", raw[i + 2:])
                out.append(chr(int(h.group(0), 16))); i += 2 + len(h.group(0)); continue
            out.append(n); i += 2; continue
        out.append(c); i += 1
    print(json.dumps("".join(out)))
EOF
}

# Passes if the last message box of run $1 showed exactly the text $2.
expect_box() {
  local name="$1" expected="$2" got
  got="$(box_texts "$name" | tail -1)"
  if [ "$got" = "$(python3 -c 'import json,sys; print(json.dumps(sys.argv[1]))' "$expected")" ]; then
    pass "$name: box text"
  else
    fail "$name: box text $got, expected $(python3 -c 'import json,sys; print(json.dumps(sys.argv[1]))' "$expected")"
  fi
}

# Passes if the program's debug trace holds the text $2 (a whole trace call).
expect_trace() {
  local name="$1" text="$2"
  if grep -qF "OutputDebugStringA \"$text\"" "$WORK/$name.trace"; then
    pass "$name: trace \"$text\""
  else
    fail "$name: no trace \"$text\""
  fi
}

# Passes if the settings file beside the program holds the key line $2.
expect_setting() {
  local name="$1" line="$2" ini="${3:-$APPDIR}/fwdl.ini"
  if [ ! -f "$ini" ]; then
    fail "$name: no fwdl.ini"
  elif tr -d '\r' <"$ini" | grep -qxF "$line"; then
    pass "$name: fwdl.ini has $line"
  else
    fail "$name: fwdl.ini lacks $line ($(tr -d '\r' <"$ini" | tr '\n' ' '))"
  fi
}

check_tools() {
  local t
  for t in wine wineserver Xvfb xdotool import python3; do
    command -v "$t" >/dev/null || { log "missing tool: $t"; return 1; }
  done
  [ -f "$EXE" ] || { log "missing $EXE: build the windows preset first"; return 1; }
}
