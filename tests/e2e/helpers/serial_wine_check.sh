#!/usr/bin/env bash
# Manual check of the Windows serial backend under Wine: an echoing peer on a
# pseudo-terminal, mapped as COM1 and as COM12 in the Wine prefix, and
# the EchoPortTest suite of tarnwick_tests.exe run against each.
# Usage: tests/e2e/helpers/serial_wine_check.sh   (after the windows build)
set -euo pipefail
cd "$(dirname "$0")/../../.."
own_prefix=""
[ -z "${TARNWICK_WINEPREFIX:-}" ] && own_prefix=1
source scripts/wine-env.sh

work="$(mktemp -d /tmp/tarnwick-serial.XXXXXX)"
peer=""
cleanup() {
  [ -n "$peer" ] && kill "$peer" 2>/dev/null || true
  rm -rf "$work"
  if [ -n "$own_prefix" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}
trap cleanup EXIT

# The peer holds the master side and echoes every byte back. It also keeps
# the slave open itself, so that the port's closing and reopening between
# tests never hangs up the master.
python3 -u - "$work/tty" <<'PY' &
import os, pty, select, sys, tty
master, slave = pty.openpty()
tty.setraw(master)
tty.setraw(slave)
os.symlink(os.ttyname(slave), sys.argv[1])
while True:
    ready, _, _ = select.select([master], [], [], 1.0)
    if ready:
        os.write(master, os.read(master, 4096))
PY
peer=$!
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
slave="$(readlink -f "$work/tty")"
echo "peer on $slave"

# Wine's mount manager rewrites dosdevices/comN links on every start (COM1
# goes to /dev/ttyS0 when that exists); the Ports key is what it obeys.
status=0
for port in 1 12; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /t REG_SZ /d "$slave" /f >/dev/null 2>&1
  wineserver -w
  echo "== COM$port"
  (cd build/windows/tests &&
   TARNWICK_TEST_COM=$port timeout 120 wine tarnwick_tests.exe --gtest_filter='EchoPortTest.*') ||
    status=1
  wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$port" /f >/dev/null 2>&1
done
exit $status
