#!/usr/bin/python3
# A GNOME user's hands, for bench/gnome-portal.sh:
#   keys 29+ 42+ 25+ 0.3 25- 42- 29-   types through a keyboard of mutter's own remote desktop
#                                      service (which asks nothing): Linux key codes pressed (+)
#                                      or let go (-), and pauses in seconds
#   consent    answers the RemoteDesktop portal's dialog, through AT-SPI, as a user would: ticks
#              "Allow remote interaction", then chooses Share; says what the dialog showed
#   notices [TITLE]  closes every Velmora notice on screen with its button, printing title and
#                    text; with a title, until that notice has come
#   indicator  says whether gnome-shell shows its "Stop Screen Sharing" indicator
#   stop       chooses that indicator
import sys
import time

import dbus


def remote_session():
    bus = dbus.SessionBus()
    service = bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop")
    path = dbus.Interface(service, "org.gnome.Mutter.RemoteDesktop").CreateSession()
    session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                             "org.gnome.Mutter.RemoteDesktop.Session")
    session.Start()
    return session


def keys(steps):
    session = remote_session()
    key = lambda code, down: session.NotifyKeyboardKeycode(dbus.UInt32(code), down)
    # mutter loses the first keys of a new keyboard while it sets it up.
    key(0, True), key(0, False), time.sleep(0.2)
    print(f"{time.time():.3f}")
    for step in steps:
        if step[-1] in "+-":
            key(int(step[:-1]), step[-1] == "+")
        else:
            time.sleep(float(step))
    session.Stop()


def find(node, test):
    """Every node under `node`, itself included, that passes `test`."""
    found = [node] if test(node) else []
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            found += find(child, test)
    return found


def app(name):
    import pyatspi
    return [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == name]


def has(node, state):
    import pyatspi
    return node.getState().contains(getattr(pyatspi, "STATE_" + state.upper()))


def act(node, action):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    actions.doAction(names.index(action))


def wait_for(what, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = what()
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"gnome-user: gave up waiting in {sys.argv[1]}")


def consent():
    dialog = wait_for(lambda: [f for a in app("xdg-desktop-portal-gnome")
                               for f in find(a, lambda n: n.getRoleName() == "frame")])[0]
    box = find(dialog, lambda n: n.getRoleName() == "check box")[0]
    share = find(dialog, lambda n: n.getRoleName() == "push button" and "Share" in n.name)[0]
    texts = [n.name for n in find(dialog, lambda n: n.getRoleName() == "label" and n.name)]
    print(f"dialog '{dialog.name}': {' | '.join(dict.fromkeys(texts))}")
    print(f"  '{box.name}' ticked: {has(box, 'checked')}; Share enabled: {has(share, 'sensitive')}")
    act(box, "toggle")
    wait_for(lambda: has(share, "sensitive"))
    print(f"  ticked it: Share enabled: {has(share, 'sensitive')}; choosing Share")
    act(share, "click")


def notices(awaited):
    """Closes the notices on screen; with a title given, waits for it among them."""
    closed = []
    for alert in [n for a in app("velmora") for n in find(a, lambda n: n.getRoleName() == "alert")]:
        texts = [n.name for n in find(alert, lambda n: n.getRoleName() == "label")]
        print(f"notice '{alert.name}': {texts[-1] if texts else ''}")
        act(find(alert, lambda n: n.getRoleName() == "push button")[0], "Press")
        closed.append(alert.name)
    return not awaited or awaited[0] in closed


def indicators():
    return [n for a in app("gnome-shell")
            for n in find(a, lambda n: n.name == "Stop Screen Sharing" and has(n, "showing"))]


command = sys.argv[1]
if command == "keys":
    keys(sys.argv[2:])
elif command == "consent":
    consent()
elif command == "notices":
    wait_for(lambda: notices(sys.argv[2:]))
elif command == "indicator":
    print(f"indicator 'Stop Screen Sharing' shown: {bool(indicators())}")
elif command == "stop":
    # The indicator offers no action to AT-SPI: the pointer goes to it and clicks.
    import pyatspi
    x, y, width, height = wait_for(indicators)[0].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pointer = remote_session()
    pointer.NotifyPointerMotionRelative(-10000.0, -10000.0)
    time.sleep(0.2)
    pointer.NotifyPointerMotionRelative(float(x + width // 2), float(y + height // 2))
    time.sleep(0.2)
    pointer.NotifyPointerButton(272, True)
    try:
        pointer.NotifyPointerButton(272, False)
    except dbus.DBusException:
        pass  # The click ended every remote session, this one too.
