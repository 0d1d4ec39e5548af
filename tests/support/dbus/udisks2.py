'''A UDisks2 service for the tests: drives and their filesystems on demand.

Parameters: "mount_root" (str), the folder in which Mount() mounts a real
tmpfs named after the drive's label; "mount" (str), "tmpfs" (default) or
"refuse" (Mount() fails as an unauthorised caller's would).
'''

import os
import subprocess

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

DRIVE_IFACE = 'org.freedesktop.UDisks2.Drive'
BLOCK_IFACE = 'org.freedesktop.UDisks2.Block'
FS_IFACE = 'org.freedesktop.UDisks2.Filesystem'


def load(mock, parameters):
    mock.mount_root = str(parameters.get('mount_root', '/tmp'))
    mock.mount_mode = str(parameters.get('mount', 'tmpfs'))
    mock.AddProperties(MAIN_IFACE, {'Version': dbus.String('2.9.4', variant_level=1)})


def _mount_points(paths):
    return dbus.Array([dbus.ByteArray(p.encode() + b'\0') for p in paths], signature='ay')


def _block_path(name):
    return MAIN_OBJ + '/block_devices/' + name


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='o')
def AddDrive(self, name, label, connection_bus):
    '''A drive on `connection_bus` with one unmounted filesystem labelled `label`.'''
    drive = MAIN_OBJ + '/drives/' + name
    self.AddObject(drive, DRIVE_IFACE, {
        'ConnectionBus': dbus.String(connection_bus),
        'Removable': dbus.Boolean(True),
        'Model': dbus.String('Tarvo Bootloader'),
    }, [])
    block = _block_path(name)
    self.AddObject(block, BLOCK_IFACE, {
        'Device': dbus.ByteArray(('/dev/' + name).encode() + b'\0'),
        'IdLabel': dbus.String(label),
        'IdUsage': dbus.String('filesystem'),
        'IdType': dbus.String('vfat'),
        'Drive': dbus.ObjectPath(drive),
    }, [])
    fs = mockobject.objects[block]
    fs.AddProperties(FS_IFACE, {'MountPoints': _mount_points([])})
    root, mode = self.mount_root, self.mount_mode

    def mount(obj, _options):
        if mode == 'refuse':
            raise dbus.exceptions.DBusException(
                'Not authorized to perform operation',
                name='org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain')
        path = os.path.join(root, label)
        os.makedirs(path, exist_ok=True)
        subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=1m', 'tarvo-udisks', path],
                       check=True)
        obj.UpdateProperties(FS_IFACE, {'MountPoints': _mount_points([path])})
        return path

    fs.AddMethod(FS_IFACE, 'Mount', 'a{sv}', 's', mount)
    self.object_manager_emit_added(drive)
    self.object_manager_emit_added(block)
    return dbus.ObjectPath(block)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetMountPoint(self, name, path):
    '''The filesystem of drive `name` is now mounted at `path` (empty: unmounted).'''
    mockobject.objects[_block_path(name)].UpdateProperties(
        FS_IFACE, {'MountPoints': _mount_points([path] if path else [])})


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def RemoveDrive(self, name):
    '''Drive `name` was unplugged.'''
    for path in (_block_path(name), MAIN_OBJ + '/drives/' + name):
        self.object_manager_emit_removed(path)
        self.RemoveObject(path)
