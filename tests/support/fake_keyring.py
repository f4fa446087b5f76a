#!/usr/bin/python3
"""A desktop keyring for tests: a D-Bus session bus of its own (dbus-daemon)
and on it a KWallet service (org.kde.kwalletd5) that keeps its entries in
memory, as QtKeychain finds it in a KDE session (XDG_CURRENT_DESKTOP=KDE,
KDE_SESSION_VERSION=5, DBUS_SESSION_BUS_ADDRESS the printed address).

Prints the bus address as stdout's first line once the service is on the
bus. --dump PATH: after each change, the entries as JSON ({"key": value},
the service's folder left out), written to a temporary name and renamed.
Ends, stopping its bus, when stdin reaches its end or after --max-seconds.
"""

import argparse
import json
import os
import subprocess
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

INTERFACE = "org.kde.KWallet"


class Wallet(dbus.service.Object):
    def __init__(self, bus, dump):
        super().__init__(bus, "/modules/kwalletd5")
        self.entries = {}
        self.dump = dump

    def changed(self):
        if self.dump:
            with open(self.dump + ".tmp", "w") as f:
                json.dump({key: value for (_, key), value in self.entries.items()}, f)
            os.replace(self.dump + ".tmp", self.dump)

    @dbus.service.method(INTERFACE, in_signature="", out_signature="s")
    def networkWallet(self):
        return "kdewallet"

    @dbus.service.method(INTERFACE, in_signature="sxs", out_signature="i")
    def open(self, wallet, window, application):
        return 1

    @dbus.service.method(INTERFACE, in_signature="isss", out_signature="i")
    def entryType(self, handle, folder, key, application):
        return 1 if (folder, key) in self.entries else 0  # 1: a password

    @dbus.service.method(INTERFACE, in_signature="isss", out_signature="s")
    def readPassword(self, handle, folder, key, application):
        return self.entries.get((folder, key), "")

    @dbus.service.method(INTERFACE, in_signature="issss", out_signature="i")
    def writePassword(self, handle, folder, key, value, application):
        self.entries[(str(folder), str(key))] = str(value)
        self.changed()
        return 0

    @dbus.service.method(INTERFACE, in_signature="isss", out_signature="i")
    def removeEntry(self, handle, folder, key, application):
        self.entries.pop((str(folder), str(key)), None)
        self.changed()
        return 0


def main():
    parser = argparse.ArgumentParser(description="a KWallet on a bus of its own, for tests")
    parser.add_argument("--dump")
    parser.add_argument("--max-seconds", type=int, default=120)
    args = parser.parse_args()

    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              text=True)
    try:
        address = daemon.stdout.readline().strip()
        DBusGMainLoop(set_as_default=True)
        bus = dbus.bus.BusConnection(address)
        name = dbus.service.BusName("org.kde.kwalletd5", bus)
        wallet = Wallet(bus, args.dump)
        print(address, flush=True)

        loop = GLib.MainLoop()

        def on_stdin(source, condition):
            if not os.read(sys.stdin.fileno(), 4096):
                loop.quit()
                return False
            return True
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_stdin)
        GLib.timeout_add_seconds(args.max_seconds, loop.quit)
        loop.run()
        del wallet, name
    finally:
        daemon.terminate()
        daemon.wait(5)


if __name__ == "__main__":
    main()
