#!/usr/bin/env python3
"""A stand-in for the expander's console on a pseudo-terminal, for start-up tests.

    console_peer.py LINK MODE [LOG]

Creates a pseudo-terminal, points the symbolic link LINK at its slave side,
and serves it until terminated:
  silent           reads and discards everything
  version=X.X.X.X  answers each version query line with a console answer that
                   holds version X.X.X.X
Every byte received goes to LOG (default: none). Prints "ready" once LINK exists.
"""
import os
import pty
import select
import signal
import sys
import tty

QUERY = b"donz 0x06 0x88"


def main():
    link, mode = sys.argv[1], sys.argv[2]
    log = open(sys.argv[3], "ab", buffering=0) if len(sys.argv) > 3 else None
    master, slave = pty.openpty()
    # Raw from the start and held open by us, so that nothing is echoed back
    # and the line is not hung up between the program's opens.
    tty.setraw(slave)
    tmp = link + ".new"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(os.ttyname(slave), tmp)
    os.replace(tmp, link)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("ready", flush=True)

    version = mode.split("=", 1)[1] if mode.startswith("version=") else None
    pending = b""
    while True:
        ready, _, _ = select.select([master], [], [], 1.0)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        if log:
            log.write(data)
        if version is None:
            continue
        pending += data
        # A command line ends with line feeds; answer each complete query once.
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            if QUERY in line:
                answer = "\r\n%s\r\nSAS expander firmware version %s\r\n>" % (QUERY.decode(), version)
                os.write(master, answer.encode())


if __name__ == "__main__":
    main()
