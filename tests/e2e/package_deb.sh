#!/usr/bin/env bash
# The Linux package as a technician installs it: builds the .deb (cpack in
# build/linux), installs it into this system with dpkg, runs the installed
# programs (--version; tarnwick-cli info and a download against the installed
# expander-sim; the bash completion), checks that the installed dialog program keeps its settings
# in the user's folder, and removes the package again. Needs root (or sudo).
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK="$(mktemp -d /tmp/tarnwick-deb.XXXXXX)"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
FAILURES=0
INSTALLED=0
SIM_PID=""

cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  [ "$INSTALLED" = 1 ] && $SUDO dpkg -r tarnwick >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

log() { printf '%s\n' "$*"; }
pass() { log "ok:   $*"; }
fail() { log "FAIL: $*"; FAILURES=$((FAILURES + 1)); }

if dpkg-query -W -f='${Status}' tarnwick 2>/dev/null | grep -q 'install ok installed'; then
  log "skip: a tarnwick package is already installed on this system"
  exit 0
fi
(cd "$ROOT/build/linux" && cpack -G DEB >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
DEB="$(ls -1t "$ROOT"/build/linux/tarnwick_*.deb | head -n 1)"
log "== installing $(basename "$DEB")"
$SUDO dpkg -i "$DEB" >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -i"; exit 1; }
INSTALLED=1
VERSION="$(dpkg-query -W -f='${Version}' tarnwick)"

for p in tarnwick tarnwick-cli expander-sim fwimage; do
  [ -x "/usr/bin/$p" ] && pass "/usr/bin/$p installed" || fail "/usr/bin/$p missing"
  [ -f "/usr/share/man/man1/$p.1" ] && pass "man page of $p" || fail "no man page of $p"
done
# Every program names the caption's form of the version, then the package's.
IFS=. read -r vmaj vmin vpat vtwk <<<"$VERSION"
VERSION_TEXT="$(printf '%d.%02d.%04d.%02d' "$vmaj" "$vmin" "$vpat" "$vtwk") ($VERSION)"
for p in tarnwick tarnwick-cli expander-sim fwimage; do
  got="$(/usr/bin/$p --version 2>&1 </dev/null)"
  [ "$got" = "$p $VERSION_TEXT" ] && pass "$p --version: $got" || fail "$p --version: \"$got\", expected \"$p $VERSION_TEXT\""
done

# The bash completion where bash-completion loads it: sourced, it completes
# the commands and the options each command's --help lists.
COMPLETION=/usr/share/bash-completion/completions/tarnwick-cli
if [ -f "$COMPLETION" ]; then
  pass "bash completion installed"
  got="$(bash -c '
    source "$1" || exit 1
    complete -p tarnwick-cli || exit 1
    complete_words() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
      _tarnwick_cli; printf "%s " "${COMPREPLY[@]}"; echo
    }
    complete_words tarnwick-cli d
    complete_words tarnwick-cli download --sk
    complete_words tarnwick-cli history --' _ "$COMPLETION" 2>&1)"
  expected="complete -F _tarnwick_cli tarnwick-cli
download doctor 
--skip-if-current 
--help --json --port "
  [ "$got" = "$expected" ] && pass "complete -p tarnwick-cli and its words" \
    || fail "completion: \"$got\", expected \"$expected\""
else
  fail "no bash completion at $COMPLETION"
fi

# The Ansible collection, where ansible-core finds it without being told.
COLLECTION=/usr/share/ansible/collections/ansible_collections/tarnwick/expander
[ -f "$COLLECTION/plugins/modules/firmware.py" ] && [ -f "$COLLECTION/galaxy.yml" ] \
  && pass "Ansible collection installed" || fail "no Ansible collection in $COLLECTION"
if command -v ansible-doc >/dev/null 2>&1; then
  env -u ANSIBLE_COLLECTIONS_PATH ansible-doc tarnwick.expander.firmware 2>&1 | grep -q skip_if_current \
    && pass "ansible-doc tarnwick.expander.firmware" || fail "ansible-doc does not find the collection"
fi

# A download from the installed tarnwick-cli into the installed simulator.
/usr/bin/fwimage make "$WORK/fw.bin" --image fw:8K --version 1.2.0.11 >/dev/null
/usr/bin/tarnwick-cli info "$WORK/fw.bin" >"$WORK/info.out" 2>&1 \
  && grep -q "0x06" "$WORK/info.out" && pass "tarnwick-cli info" || fail "tarnwick-cli info: $(cat "$WORK/info.out")"
/usr/bin/expander-sim --baud 0 --link "$WORK/tty" --report "$WORK/report.json" >/dev/null 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 1 50); do [ -e "$WORK/tty" ] && break; sleep 0.1; done
if /usr/bin/tarnwick-cli download --port "$WORK/tty" --file "$WORK/fw.bin" --quiet >"$WORK/dl.out" 2>&1; then
  pass "tarnwick-cli download"
else
  fail "tarnwick-cli download: $(cat "$WORK/dl.out")"
fi
kill -TERM "$SIM_PID"; wait "$SIM_PID"; sim_status=$?; SIM_PID=""
[ "$sim_status" = 0 ] && pass "expander-sim saw no violation" || fail "expander-sim exit status $sim_status"
python3 - "$WORK/report.json" <<'PY' && pass "the image arrived whole" || fail "report: $(cat "$WORK/report.json")"
import json, sys
r = json.load(open(sys.argv[1]))
sys.exit(0 if [i["part"] for i in r["images"] if i["complete"]] == [6] else 1)
PY

# The installed dialog program cannot write beside /usr/bin/tarnwick: its
# settings land in the user's folder, and it traces which file it uses.
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR"
HOME="$HOME_DIR" XDG_CONFIG_HOME="" XDG_STATE_HOME="" /usr/bin/tarnwick </dev/null >"$WORK/tw.out" 2>&1
INI="$HOME_DIR/.config/tarnwick/fwdl.ini"
if [ -f "$INI" ] && grep -q "comport=1" "$INI"; then
  pass "settings written to ~/.config/tarnwick/fwdl.ini"
else
  fail "no settings in $INI: $(cat "$WORK/tw.out")"
fi
[ ! -e /usr/bin/fwdl.ini ] && pass "nothing written beside /usr/bin/tarnwick" || fail "/usr/bin/fwdl.ini exists"
grep -q "settings file: $INI" "$WORK/tw.out" "$HOME_DIR"/.local/state/tarnwick/fwdl.log 2>/dev/null \
  && pass "the trace names the settings file" || fail "the trace does not name $INI"
# The first run opens COM 1, which may be anything: its box (the port box, or
# "Device not found!") names the settings file where the port is chosen.
{ grep -qF "Modify the file $INI" "$WORK/tw.out" || grep -qF "in the settings file $INI:" "$WORK/tw.out"; } \
  && pass "the start-up box names $INI" || fail "the start-up box does not name $INI: $(cat "$WORK/tw.out")"

$SUDO dpkg -r tarnwick >/dev/null 2>&1 && INSTALLED=0 && pass "package removed" || fail "dpkg -r"
[ ! -e /usr/bin/tarnwick ] || fail "/usr/bin/tarnwick still there after removal"
[ "$FAILURES" -eq 0 ]
