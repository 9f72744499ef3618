#!/usr/bin/python3
# The user's keyboard, as a remote desktop session of its own through the desktop portal (KDE's
# starts one without asking). Plays its arguments in order, each a Linux key code and "+" (press)
# or "-" (let go), or a pause in seconds ("0.3").  Usage: user-keyboard.py 29+ 42+ 25+ 0.3 25- 29-
import sys
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = dbus.Interface(bus.get_object("org.freedesktop.portal.Desktop",
                                       "/org/freedesktop/portal/desktop"),
                        "org.freedesktop.portal.RemoteDesktop")


def request(method, *args, **options):
    """Calls the portal and returns its Response's results; exits on anything but success."""
    token = f"user{time.monotonic_ns()}"
    loop, answer = GLib.MainLoop(), []
    bus.add_signal_receiver(lambda *response: (answer.extend(response), loop.quit()), "Response",
                            path="/org/freedesktop/portal/desktop/request/" +
                            bus.get_unique_name()[1:].replace(".", "_") + "/" + token)
    getattr(portal, method)(*args, {"handle_token": token, **options})
    loop.run()
    return answer[1] if answer[0] == 0 else sys.exit(f"user-keyboard: {method}: {answer}")


session = request("CreateSession", session_handle_token="user")["session_handle"]
request("SelectDevices", session, types=dbus.UInt32(1))
request("Start", session, "")
for step in sys.argv[1:]:
    if step[-1] in "+-":
        portal.NotifyKeyboardKeycode(session, {}, int(step[:-1]), dbus.UInt32(step[-1] == "+"))
    else:
        time.sleep(float(step))
