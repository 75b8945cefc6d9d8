"""The program's window as a screen reader or switch access sees it, over the accessibility bus (AT-SPI) of the
session bus in DBUS_SESSION_BUS_ADDRESS. Where no input device reaches the window (a headless Wayland compositor),
this is how the tests press its buttons. Needs python3-gi (Debian's own interpreter).
"""

from gi.repository import Gio, GLib

ACCESSIBLE = "org.a11y.atspi.Accessible"
REGISTRY_ROOT = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")


def _session():
    return Gio.bus_get_sync(Gio.BusType.SESSION, None)


def turn_on():
    """Turns the desktop's accessibility on, as a screen reader does; programs started afterwards join it."""
    _session().call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                         GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))), None,
                         Gio.DBusCallFlags.NONE, 5000, None)


class Accessibility:
    def __init__(self):
        address = _session().call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                       GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)

    def close(self):
        self.bus.close_sync(None)

    def _call(self, node, interface, method, args=None, reply=None):
        result = self.bus.call_sync(node[0], node[1], interface, method, args,
                                    GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 5000, None)
        return result.unpack()

    def _name(self, node):
        return self._call(node, "org.freedesktop.DBus.Properties", "Get", GLib.Variant("(ss)", (ACCESSIBLE, "Name")),
                          "(v)")[0]

    def _children(self, node):
        return [tuple(c) for c in self._call(node, ACCESSIBLE, "GetChildren", None, "(a(so))")[0]]

    def find(self, application, role, name):
        """The first object with `role` (e.g. "push button") and `name` in the named application, or None."""
        for app in self._children(REGISTRY_ROOT):
            try:
                if self._name(app) != application:
                    continue
                pending = [app]
                while pending:
                    node = pending.pop(0)
                    if self._call(node, ACCESSIBLE, "GetRoleName", None, "(s)")[0] == role and self._name(node) == name:
                        return node
                    pending.extend(self._children(node))
            except GLib.Error:
                continue
        return None

    def press(self, node):
        """Runs the object's first action (a button's press)."""
        self._call(node, "org.a11y.atspi.Action", "DoAction", GLib.Variant("(i)", (0,)), "(b)")
