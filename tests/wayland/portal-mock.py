#!/usr/bin/python3
# portal-mock.py: a desktop portal back end for tests. It owns
# org.freedesktop.impl.portal.desktop.murmelotest and serves GlobalShortcuts and RemoteDesktop
# (version 1) to the installed xdg-desktop-portal. It also holds org.freedesktop.portal.Desktop
# until the installed portal replaces it, queued behind it: once that portal ends, the mock serves
# RemoteDesktop version 2 (sessions kept with restore tokens) to clients itself, as a newer portal.
#
# Tests steer it through com.murmelo.test.PortalMock; every call answers with a list of strings.
# SetResponse(method, code): that request method answers `code` from now on (-1: never, as a
# dialog nobody answers). Press(id): a shortcut goes down and up in every session that bound it.
# CloseSessions(): the desktop ends every session. Log(): what clients did since the last Log().
# The log names shortcuts by their triggers ("Bind CTRL+ALT+space", "Close CTRL+ALT+space").
import dbus
import dbus.lowlevel as low
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = 'org.freedesktop.impl.portal.'
PORTAL = 'org.freedesktop.portal.'
DESKTOP = '/org/freedesktop/portal/desktop'
VERSIONS = {IMPL + 'GlobalShortcuts': 1, IMPL + 'RemoteDesktop': 1, PORTAL + 'RemoteDesktop': 2}


class PortalMock:
    def __init__(self, bus):
        self.bus = bus
        self.codes, self.log = {}, []
        self.sessions = {}  # path -> the shortcuts bound in it: id -> trigger
        self.persistent = {}  # session -> the restore token presented when its devices were to be kept
        bus.add_message_filter(self.dispatch)

    def send(self, message, signature='', *args):  # a reply or a signal, with its arguments
        message.append(signature=signature, *args)
        self.bus.send_message(message)

    def dispatch(self, bus, message):
        if message.get_type() != low.MESSAGE_TYPE_METHOD_CALL:
            return low.HANDLER_RESULT_NOT_YET_HANDLED
        interface, member, args = message.get_interface(), message.get_member(), message.get_args_list()
        if interface == 'com.murmelo.test.PortalMock':
            self.send(low.MethodReturnMessage(message), 'as', getattr(self, member)(*args) or [])
        elif interface == 'org.freedesktop.DBus.Properties':
            values = {'version': dbus.UInt32(VERSIONS.get(args[0], 0)), 'AvailableDeviceTypes': dbus.UInt32(7)}
            self.send(low.MethodReturnMessage(message), *(('a{sv}', values) if member == 'GetAll' else ('v', values[args[1]])))
        elif member in ('CreateSession', 'BindShortcuts', 'SelectDevices', 'Start'):
            self.request(message, member, args)
        elif member in ('NotifyKeyboardKeysym', 'Close'):
            if member == 'NotifyKeyboardKeysym':
                self.log.append('Keysym %d %d' % (args[2], args[3]))
            elif interface == IMPL + 'Request':
                self.log.append('CloseRequest')
            else:
                self.log.append(' '.join(['Close'] + list(self.sessions.pop(message.get_path(), {}).values())))
            self.send(low.MethodReturnMessage(message))
        else:
            return low.HANDLER_RESULT_NOT_YET_HANDLED
        return low.HANDLER_RESULT_HANDLED

    # A method that answers through a Request: the back end replies to the portal; a portal
    # replies with the Request's path and answers with its Response signal.
    def request(self, message, member, args):
        options = args[-1]
        if message.get_destination() == PORTAL + 'Desktop':
            sender = message.get_sender()[1:].replace('.', '_')
            path = '%s/request/%s/%s' % (DESKTOP, sender, options['handle_token'])
            self.send(low.MethodReturnMessage(message), 'o', path)
            session = path.replace('/request/', '/session/') if member == 'CreateSession' else args[0]
            answer = low.SignalMessage(path, PORTAL + 'Request', 'Response')
        else:
            path, session = args[0], args[1]
            answer = low.MethodReturnMessage(message)
        results = {}
        if member == 'CreateSession':
            self.sessions[session] = {}
            results = {'session_handle': session}
        elif member == 'BindShortcuts':
            self.sessions[session] = {id: properties['preferred_trigger'] for id, properties in args[2]}
            self.log.append(' '.join(['Bind'] + list(self.sessions[session].values())))
            results = {'shortcuts': args[2]}
        elif member == 'SelectDevices' and options.get('persist_mode') == 2:
            self.persistent[session] = options.get('restore_token', 'token')
        elif member == 'Start':
            results = {'devices': dbus.UInt32(1)}
            if session in self.persistent:  # grown from the token presented, so tests see which it was
                results['restore_token'] = self.persistent[session] + '+'
        code = self.codes.get(member, 0)
        if code >= 0:  # else a dialog nobody answers
            self.send(answer, 'ua{sv}', dbus.UInt32(code), results if code == 0 else {})

    def SetResponse(self, member, code):
        self.codes[member] = code

    def Press(self, id):
        for signal in ('Activated', 'Deactivated'):
            for session in [path for path, ids in self.sessions.items() if id in ids]:
                self.send(low.SignalMessage(DESKTOP, IMPL + 'GlobalShortcuts', signal), 'osta{sv}', session, id, 0, {})

    def CloseSessions(self):  # sessions of the installed portal only
        for session in self.sessions:
            self.send(low.SignalMessage(session, IMPL + 'Session', 'Closed'))
        self.sessions.clear()

    def Log(self):
        log, self.log = self.log, []
        return log


if __name__ == '__main__':
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    PortalMock(bus)
    bus.request_name(PORTAL + 'Desktop', dbus.bus.NAME_FLAG_ALLOW_REPLACEMENT)
    bus.request_name(IMPL + 'desktop.murmelotest')
    bus.request_name('com.murmelo.test.PortalMock')  # last: the test's sign that the mock is up
    GLib.MainLoop().run()
