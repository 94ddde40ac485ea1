'''iwd mock template for python3-dbusmock, with iwd's own names

net.connman.iwd on the system bus: an ObjectManager at "/" and one object per
device (/net/connman/iwd/0/N) with net.connman.iwd.Device (Name, Address, Powered,
Adapter, Mode), net.connman.iwd.Station (State, ConnectedNetwork, Scanning;
Disconnect()) and, when the device has diagnostics,
net.connman.iwd.StationDiagnostic (GetDiagnostics() -> a{sv}). Each device's
network is an object below it (net.connman.iwd.Network: Name, Connected,
Device, Type; Connect()).

Parameters (JSON): {"devices": [{"name": "wlan0", "powered": true,
"state": "connected", "network": {"name": "Lab", "type": "psk"},
"diagnostics": {"ConnectedBss": "...", "Frequency": 5180, "RSSI": -52,
"TxMode": "802.11ax", "TxBitrate": 12010, "TxMCS": 11,
"Security": "WPA3-Personal"}}]}. Disconnect() leaves the station
"disconnected" without a ConnectedNetwork, as iwd does; Connect() joins
again.
'''

import dbus

import dbusmock

BUS_NAME = 'net.connman.iwd'
MAIN_OBJ = '/'
MAIN_IFACE = 'net.connman.iwd.Daemon'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

DEVICE = 'net.connman.iwd.Device'
STATION = 'net.connman.iwd.Station'
DIAGNOSTIC = 'net.connman.iwd.StationDiagnostic'
NETWORK = 'net.connman.iwd.Network'


def station_disconnect(self):
    station = self.props[STATION]
    network = station.pop('ConnectedNetwork', None)
    if network is None:
        raise dbus.exceptions.DBusException('Not connected', name='net.connman.iwd.NotConnected')
    station['State'] = dbus.String('disconnected')
    dbusmock.get_object(network).props[NETWORK]['Connected'] = dbus.Boolean(False)


def network_connect(self):
    device = dbusmock.get_object(str(self.props[NETWORK]['Device']))
    station = device.props[STATION]
    station['State'] = dbus.String('connected')
    station['ConnectedNetwork'] = dbus.ObjectPath(self.path)
    self.props[NETWORK]['Connected'] = dbus.Boolean(True)


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [('GetInfo', '', 'a{sv}', 'ret = {"Version": "2.3"}')])
    adapter = '/net/connman/iwd/0'
    for index, spec in enumerate(parameters.get('devices', [])):
        path = f'{adapter}/{index + 4}'
        mock.AddObject(path, DEVICE,
                       {'Name': spec['name'],
                        'Address': spec.get('address', f'02:00:00:00:00:{index:02x}'),
                        'Powered': dbus.Boolean(spec.get('powered', True)),
                        'Adapter': dbus.ObjectPath(adapter),
                        'Mode': spec.get('mode', 'station')},
                       [])
        device = dbusmock.get_object(path)
        station = {'State': dbus.String(spec.get('state', 'disconnected')),
                   'Scanning': dbus.Boolean(False)}
        network = spec.get('network')
        if network:
            name = network['name']
            kind = network.get('type', 'psk')
            network_path = f'{path}/{name.encode().hex()}_{kind}'
            connected = spec.get('state') == 'connected'
            mock.AddObject(network_path, NETWORK,
                           {'Name': name, 'Connected': dbus.Boolean(connected),
                            'Device': dbus.ObjectPath(path), 'Type': kind},
                           [])
            dbusmock.get_object(network_path).AddMethods(NETWORK, [('Connect', '', '', network_connect)])
            if connected:
                station['ConnectedNetwork'] = dbus.ObjectPath(network_path)
        device.props[STATION] = station
        device.AddMethods(STATION, [('Disconnect', '', '', station_disconnect)])
        diagnostics = spec.get('diagnostics')
        if diagnostics is not None:
            types = {'RSSI': dbus.Int16, 'AverageRSSI': dbus.Int16, 'TxMCS': dbus.Byte}
            values = {key: types.get(key, dbus.UInt32 if isinstance(value, int) else dbus.String)(value)
                      for key, value in diagnostics.items()}
            device.diagnostics = dbus.Dictionary(values, signature='sv')
            device.props[DIAGNOSTIC] = {}
            device.AddMethods(DIAGNOSTIC, [('GetDiagnostics', '', 'a{sv}',
                                            'ret = self.diagnostics')])
        mock.object_manager_emit_added(path)
