#!/usr/bin/python3
# portal-mock.py [--newer-portal]: a desktop portal back end for tests. It owns
# org.freedesktop.impl.portal.desktop.murmelotest and serves GlobalShortcuts and RemoteDesktop
# (version 1) to the installed xdg-desktop-portal. With --newer-portal it owns
# org.freedesktop.portal.Desktop and serves RemoteDesktop version 2 (sessions kept with restore
# tokens) to clients itself, standing in for a portal newer than the installed one.
#
# Tests steer it through com.murmelo.test.PortalMock; every call answers with a list of strings.
# SetResponse(method, code): that request method answers `code` from now on (-1: never, as a
# dialog nobody answers). Press(id): a shortcut goes down and up in every session that bound it.
# CloseSessions(): the desktop ends every session. Log(): what clients did since the last Log().
# Reset(): forgets the codes and the log.
# The log names shortcuts by their triggers ("Bind CTRL+ALT+space", "Close CTRL+ALT+space").
import sys

import dbus
import dbus.lowlevel as low
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = 'org.freedesktop.impl.portal.'
PORTAL = 'org.freedesktop.portal.'
DESKTOP = '/org/freedesktop/portal/desktop'


class PortalMock:
    def __init__(self, bus, newer):
        self.bus, self.newer = bus, newer
        self.interfaces = [PORTAL + 'RemoteDesktop'] if newer else [IMPL + 'GlobalShortcuts', IMPL + 'RemoteDesktop']
        self.properties = {'version': dbus.UInt32(2 if newer else 1), 'AvailableDeviceTypes': dbus.UInt32(7)}
        self.codes, self.log, self.held = {}, [], {}
        self.sessions = {}  # path -> the shortcuts bound in it: id -> trigger
        self.persistent = set()  # sessions whose devices were selected to be kept
        self.tokens = 0
        bus.add_message_filter(self.dispatch)

    def reply(self, message, signature='', *args):
        answer = low.MethodReturnMessage(message)
        answer.append(signature=signature, *args)
        self.bus.send_message(answer)

    def emit(self, path, interface, member, signature='', *args):
        signal = low.SignalMessage(path, interface, member)
        signal.append(signature=signature, *args)
        self.bus.send_message(signal)

    def dispatch(self, bus, message):
        if message.get_type() != low.MESSAGE_TYPE_METHOD_CALL:
            return low.HANDLER_RESULT_NOT_YET_HANDLED
        interface, member, args = message.get_interface(), message.get_member(), message.get_args_list()
        if interface == 'com.murmelo.test.PortalMock':
            self.reply(message, 'as', getattr(self, member)(*args) or [])
        elif interface == 'org.freedesktop.DBus.Properties':
            values = self.properties if args[0] in self.interfaces else {}
            if member == 'GetAll':
                self.reply(message, 'a{sv}', values)
            elif member == 'Get' and args[1] in values:
                self.reply(message, 'v', values[args[1]])
            else:
                bus.send_message(low.ErrorMessage(message, 'org.freedesktop.DBus.Error.InvalidArgs', 'no such property'))
        elif member == 'NotifyKeyboardKeysym':
            self.log.append('Keysym %d %d' % (args[2], args[3]))
            self.reply(message)
        elif interface == IMPL + 'Request' and member == 'Close':
            self.held.pop(message.get_path(), None)
            self.log.append('CloseRequest')
            self.reply(message)
        elif member == 'Close':
            self.log.append(' '.join(['Close'] + list(self.sessions.pop(message.get_path(), {}).values())))
            self.reply(message)
        elif member in ('CreateSession', 'BindShortcuts', 'SelectDevices', 'Start'):
            self.request(message, member, args)
        else:
            return low.HANDLER_RESULT_NOT_YET_HANDLED
        return low.HANDLER_RESULT_HANDLED

    # A method that answers through a Request: the back end replies to the portal; a portal
    # replies with the Request's path and answers with its Response signal.
    def request(self, message, member, args):
        options = args[-1]
        if self.newer:
            sender = message.get_sender()[1:].replace('.', '_')
            path = '%s/request/%s/%s' % (DESKTOP, sender, options['handle_token'])
            self.reply(message, 'o', path)
            session = '%s/session/%s/%s' % (DESKTOP, sender, options.get('session_handle_token')) \
                if member == 'CreateSession' else args[0]
            answer = lambda code, results: self.emit(path, PORTAL + 'Request', 'Response', 'ua{sv}', code, results)
        else:
            path, session = args[0], args[1]
            answer = lambda code, results: self.reply(message, 'ua{sv}', code, results)
        results = {}
        if member == 'CreateSession':
            self.sessions[session] = {}
            results = {'session_handle': session}
        elif member == 'BindShortcuts':
            self.sessions[session] = {id: properties['preferred_trigger'] for id, properties in args[2]}
            self.log.append(' '.join(['Bind'] + list(self.sessions[session].values())))
            results = {'shortcuts': args[2]}
        elif member == 'SelectDevices':
            self.log.append('SelectDevices restore_token=' + options.get('restore_token', '-'))
            if options.get('persist_mode') == 2:
                self.persistent.add(session)
        elif member == 'Start':
            results = {'devices': dbus.UInt32(1)}
            if session in self.persistent:
                self.tokens += 1
                results['restore_token'] = 'token-%d' % self.tokens
        code = self.codes.get(member, 0)
        if code < 0:
            self.held[path] = answer
        else:
            answer(dbus.UInt32(code), results if code == 0 else {})

    def SetResponse(self, member, code):
        self.codes[member] = code

    def Press(self, id):
        for signal in ('Activated', 'Deactivated'):
            for session in [path for path, ids in self.sessions.items() if id in ids]:
                self.emit(DESKTOP, IMPL + 'GlobalShortcuts', signal, 'osta{sv}', session, id, 0, {})

    def CloseSessions(self):
        for session in self.sessions:
            if self.newer:
                self.emit(session, PORTAL + 'Session', 'Closed', 'a{sv}', {})
            else:
                self.emit(session, IMPL + 'Session', 'Closed')
        self.sessions.clear()

    def Log(self):
        log, self.log = self.log, []
        return log

    def Reset(self):
        self.codes, self.log = {}, []


if __name__ == '__main__':
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    newer = '--newer-portal' in sys.argv
    PortalMock(bus, newer)
    bus.request_name(PORTAL + 'Desktop' if newer else IMPL + 'desktop.murmelotest')
    bus.request_name('com.murmelo.test.PortalMock')  # last: the test's sign that the mock is up
    GLib.MainLoop().run()
