"""A StatusNotifierItem tray of the tests' own, on the session bus (DBUS_SESSION_BUS_ADDRESS).

Run as a program it is the tray: the org.kde.StatusNotifierWatcher every item registers with, and the host that
shows them (it keeps the registered items until their owners leave the bus). Imported, it drives an item the way a
host does: reads its properties, calls Activate / SecondaryActivate / ContextMenu, reads its menu over
com.canonical.dbusmenu and clicks its entries. Needs python3-gi (Debian's own interpreter).
"""

import os
import re
import sys

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"

# Qt reads the watcher's properties through introspection, so they must be listed here.
WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg name="service" type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg name="service" type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


class Watcher:
    """The watcher with this process as its one host."""

    def __init__(self, connection):
        self.connection = connection
        self.items = []  # "bus-name/object-path"
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
        connection.register_object(WATCHER_PATH, info, self._call, self._property, None)
        connection.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                                    "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE, self._owner_changed)

    def _emit(self, name, args=None):
        self.connection.emit_signal(None, WATCHER_PATH, WATCHER, name, args)

    def _call(self, connection, sender, path, interface, method, args, invocation):
        if method == "RegisterStatusNotifierItem":
            service = args.unpack()[0]
            # An item names its bus name (and lives at the usual path) or its object path on the caller's name.
            item = sender + service if service.startswith("/") else service + "/StatusNotifierItem"
            if item not in self.items:
                self.items.append(item)
                self._emit("StatusNotifierItemRegistered", GLib.Variant("(s)", (item,)))
            invocation.return_value(None)
        elif method == "RegisterStatusNotifierHost":
            invocation.return_value(None)
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    def _property(self, connection, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", self.items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        return None

    def _owner_changed(self, connection, sender, path, interface, signal, args):
        name, _old, new = args.unpack()
        if new:
            return
        for item in [i for i in self.items if i.split("/", 1)[0] == name]:
            self.items.remove(item)
            self._emit("StatusNotifierItemUnregistered", GLib.Variant("(s)", (item,)))


def serve():
    loop = GLib.MainLoop()
    connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    watcher = Watcher(connection)  # noqa: F841 (kept alive by the loop)
    host = f"org.kde.StatusNotifierHost-{os.getpid()}"
    for name in (host, WATCHER):
        reply = connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "RequestName", GLib.Variant("(su)", (name, 4)), None,
                                     Gio.DBusCallFlags.NONE, -1, None)
        if reply.unpack()[0] != 1:
            print(f"sni: cannot own {name}", file=sys.stderr)
            return 1
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    print("sni: watching", flush=True)
    loop.run()
    return 0


class TrayItem:
    """One registered item, driven as a host drives it."""

    def __init__(self, registered):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.service, path = registered.split("/", 1)
        self.path = "/" + path

    def _call(self, service, path, interface, method, args=None, reply=None):
        result = self.bus.call_sync(service, path, interface, method, args,
                                    GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 5000, None)
        return result.unpack() if result is not None else None

    def property(self, name, interface=ITEM, path=None):
        return self._call(self.service, path or self.path, "org.freedesktop.DBus.Properties", "Get",
                          GLib.Variant("(ss)", (interface, name)), "(v)")[0]

    def activate(self, x=0, y=0):
        self._call(self.service, self.path, ITEM, "Activate", GLib.Variant("(ii)", (x, y)))

    def secondary_activate(self, x=0, y=0):
        self._call(self.service, self.path, ITEM, "SecondaryActivate", GLib.Variant("(ii)", (x, y)))

    def context_menu(self, x=0, y=0):
        self._call(self.service, self.path, ITEM, "ContextMenu", GLib.Variant("(ii)", (x, y)))

    def menu_path(self):
        return self.property("Menu")

    def menu_entries(self):
        """The top level of the item's menu as (id, label, type) in order; a separator's type is "separator"."""
        path = self.menu_path()
        self._call(self.service, path, MENU, "AboutToShow", GLib.Variant("(i)", (0,)), "(b)")
        _revision, layout = self._call(self.service, path, MENU, "GetLayout",
                                       GLib.Variant("(iias)", (0, 1, [])), "(u(ia{sv}av))")
        entries = []
        for child in layout[2]:
            ident, props, _children = child
            entries.append((ident, _ampersand_mnemonic(props.get("label", "")), props.get("type", "standard")))
        return entries

    def menu_event(self, ident, event):
        self._call(self.service, self.menu_path(), MENU, "Event",
                   GLib.Variant("(isvu)", (ident, event, GLib.Variant("i", 0), 0)))

    def click_menu_entry(self, label):
        for ident, text, _kind in self.menu_entries():
            if text == label:
                self.menu_event(0, "opened")
                self.menu_event(ident, "clicked")
                return
        raise AssertionError(f"no menu entry {label!r}")

    def icon_pixmaps(self):
        """The item's icon images as (width, height, ARGB32 bytes in network order)."""
        return [(w, h, bytes(data)) for w, h, data in self.property("IconPixmap")]


def _ampersand_mnemonic(label):
    """A dbusmenu label ("_" before the access key, "__" for an underscore) in the toolkit's form ("&")."""
    return re.sub(r"_(.)", lambda m: "_" if m.group(1) == "_" else "&" + m.group(1), label)


def registered_items():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    try:
        reply = bus.call_sync(WATCHER, WATCHER_PATH, "org.freedesktop.DBus.Properties", "Get",
                              GLib.Variant("(ss)", (WATCHER, "RegisteredStatusNotifierItems")),
                              GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, 2000, None)
    except GLib.Error:
        return []
    return reply.unpack()[0]


if __name__ == "__main__":
    sys.exit(serve())
