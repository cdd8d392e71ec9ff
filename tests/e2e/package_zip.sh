#!/usr/bin/env bash
# The Windows zip as a technician uses it: unpacked into a fresh folder of a
# fresh Wine prefix, tarnwick-cli.exe --version and a probe against
# expander-sim on COM1, fwimage.exe --version; then tarnwick.exe started from
# a read-only folder must keep its settings under %APPDATA%\tarnwick.
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"
trap '[ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; chmod -R u+w "$WORK" 2>/dev/null; e2e_cleanup' EXIT

check_tools || exit 2
(cd "$ROOT/build/windows" && cpack -G ZIP >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
ZIP="$(ls -1t "$ROOT"/build/windows/tarnwick-*-windows-x64.zip | head -n 1)"
VERSION="$(basename "$ZIP" | sed -E 's/^tarnwick-(.*)-windows-x64\.zip$/\1/')"
start_xvfb || exit 2
log "== preparing a Wine prefix (first start takes a while)"
start_wine_prefix

UNZIPPED="$WINEPREFIX/drive_c/unzipped"
mkdir -p "$UNZIPPED"
unzip -q "$ZIP" -d "$UNZIPPED" || { fail "unzip"; exit 1; }
DIR="$UNZIPPED/tarnwick-$VERSION-windows-x64"
for p in tarnwick.exe tarnwick-cli.exe fwimage.exe README.md; do
  [ -f "$DIR/$p" ] && pass "zip holds $p" || fail "zip lacks $p"
done
IFS=. read -r vmaj vmin vpat vtwk <<<"$VERSION"
VERSION_TEXT="$(printf '%d.%02d.%04d.%02d' "$vmaj" "$vmin" "$vpat" "$vtwk") ($VERSION)"
for p in tarnwick-cli fwimage; do
  got="$(cd "$DIR" && wine "$p.exe" --version 2>/dev/null | tr -d '\r')"
  [ "$got" = "$p $VERSION_TEXT" ] && pass "$p.exe --version: $got" || fail "$p.exe --version: \"$got\""
done

log "== probe against expander-sim on COM1"
rm -f "$COM1_LINK"
"$SIM" --link "$COM1_LINK" --version 1.02.0000.10 >/dev/null 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 1 50); do [ -L "$COM1_LINK" ] && break; sleep 0.1; done
got="$(cd "$DIR" && wine tarnwick-cli.exe probe --port COM1 2>/dev/null | tr -d '\r')"
code=$?
echo "$got" | grep -q "1.02.0000.10" && pass "probe: $got" || fail "probe (exit $code): $got"
kill -TERM "$SIM_PID"; wait "$SIM_PID"; SIM_PID=""
com1_missing

log "== tarnwick.exe from a read-only folder"
RO="$WINEPREFIX/drive_c/readonly"
mkdir -p "$RO"
cp "$DIR/tarnwick.exe" "$RO/"
chmod 555 "$RO"
USER_INI="$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming 2>/dev/null | head -n 1)/tarnwick/fwdl.ini"
start_program readonly tarnwick.exe "$RO"
if win="$(wait_window '^Error$' 90)"; then
  screenshot "package-readonly"
  press "$win" Return
  wait_program 30
else
  fail "readonly: no start-up box"
  wait_program 5
fi
[ ! -e "$RO/fwdl.ini" ] && pass "nothing written into the read-only folder" || fail "$RO/fwdl.ini exists"
if [ -f "$USER_INI" ] && tr -d '\r' <"$USER_INI" | grep -qx "comport=1"; then
  pass "settings under %APPDATA%\\tarnwick"
else
  fail "no settings at $USER_INI"
fi
grep -qF 'OutputDebugStringA "settings file: C:\\users\\' "$WORK/readonly.trace" \
  && pass "the trace names the settings file" || fail "the trace does not name the settings file"
box_texts readonly | tail -1 | grep -q 'AppData' && pass "the port box names the user's settings file" \
  || fail "port box: $(box_texts readonly | tail -1)"
[ "$FAILURES" -eq 0 ]
