'''StatusNotifierWatcher mock template for python3-dbusmock

org.kde.StatusNotifierWatcher on the session bus, as the tray hosts of KDE
and of GNOME's AppIndicator extension offer it: a host is registered
(IsStatusNotifierHostRegistered), and RegisterStatusNotifierItem(s) records
the item's service, adds it to RegisteredStatusNotifierItems and announces
it with StatusNotifierItemRegistered.
'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def register_item(self, name):
    items = self.props[MAIN_IFACE]['RegisteredStatusNotifierItems']
    if name not in items:
        items.append(dbus.String(name))
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierItemRegistered', 's', [name])


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    })
    mock.register_item = register_item
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '',
         'self.register_item(self, args[0])'),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
