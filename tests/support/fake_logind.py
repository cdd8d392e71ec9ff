"""A stand-in for logind's Manager on a private bus, for the shutdown-hold tests.

fake_logind.py ADDRESS

Owns org.freedesktop.login1 on the bus at ADDRESS and prints "ready". Each
Inhibit call gets the write end of a new pipe as its lock; the read end is
watched here. One JSON line on standard output per fact: {"event":
"inhibit", "id", "what", "who", "why", "mode"} when a lock is handed out,
{"event": "released", "id"} when the caller's last copy of it closes.
"""
import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

IFACE = "org.freedesktop.login1.Manager"


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.count = 0

    @staticmethod
    def record(entry):
        print(json.dumps(entry), flush=True)

    @dbus.service.method(IFACE, in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        self.count += 1
        lock_id = self.count
        read_end, write_end = os.pipe()
        self.record({"event": "inhibit", "id": lock_id, "what": str(what), "who": str(who),
                     "why": str(why), "mode": str(mode)})

        def on_hang_up(fd, _condition):
            self.record({"event": "released", "id": lock_id})
            os.close(fd)
            return False

        GLib.io_add_watch(read_end, GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_ERR, on_hang_up)
        # UnixFd keeps a copy of its own; ours goes now, so that only the
        # caller's copy holds the pipe open.
        lock = dbus.types.UnixFd(write_end)
        os.close(write_end)
        return lock


def main():
    address = sys.argv[1]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    name = dbus.service.BusName("org.freedesktop.login1", bus)
    manager = Manager(bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, manager


if __name__ == "__main__":
    main()
