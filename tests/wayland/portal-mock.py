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
# CloseSessions(): the desktop ends every session. Log(): what clients did since the last Reset().
# The log names shortcuts by their triggers, one line each ("Bind CTRL+ALT+space",
# "Close CTRL+ALT+space").
import dbus
import dbus.lowlevel as low
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = 'org.freedesktop.impl.portal.'
PORTAL = 'org.freedesktop.portal.'
DESKTOP = '/org/freedesktop/portal/desktop'
VERSIONS = {IMPL + 'GlobalShortcuts': 1, IMPL + 'RemoteDesktop': 1, PORTAL + 'RemoteDesktop': 2}

codes, log = {}, []
sessions = {}  # path -> the shortcuts bound in it: id -> trigger
persistent = {}  # session -> the restore token presented when its devices were to be kept


def send(message, signature='', *args):  # a reply or a signal, with its arguments
    message.append(signature=signature, *args)
    bus.send_message(message)


def dispatch(bus, message):
    if message.get_type() != low.MESSAGE_TYPE_METHOD_CALL:
        return low.HANDLER_RESULT_NOT_YET_HANDLED
    interface, member, args = message.get_interface(), message.get_member(), message.get_args_list()
    if interface == 'com.murmelo.test.PortalMock':
        send(low.MethodReturnMessage(message), 'as', CONTROLS[member](*args) or [])
    elif interface == 'org.freedesktop.DBus.Properties':
        values = {'version': dbus.UInt32(VERSIONS.get(args[0], 0)), 'AvailableDeviceTypes': dbus.UInt32(7)}
        send(low.MethodReturnMessage(message), *(('a{sv}', values) if member == 'GetAll' else ('v', values[args[1]])))
    elif member in ('CreateSession', 'BindShortcuts', 'SelectDevices', 'Start'):
        request(message, member, args)
    elif member == 'NotifyKeyboardKeysym':
        log.append('Keysym %d %d' % (args[2], args[3]))
        send(low.MethodReturnMessage(message))
    elif member == 'Close':  # a request's dialog, or a session
        closed = sessions.pop(message.get_path(), {}).values()
        log.extend(['CloseRequest'] if interface == IMPL + 'Request' else ['Close ' + t for t in closed] or ['Close'])
        send(low.MethodReturnMessage(message))
    else:
        return low.HANDLER_RESULT_NOT_YET_HANDLED
    return low.HANDLER_RESULT_HANDLED


# A method that answers through a Request: the back end replies to the portal; a portal
# replies with the Request's path and answers with its Response signal.
def request(message, member, args):
    options = args[-1]
    if message.get_destination() == PORTAL + 'Desktop':
        sender = message.get_sender()[1:].replace('.', '_')
        path = '%s/request/%s/%s' % (DESKTOP, sender, options['handle_token'])
        send(low.MethodReturnMessage(message), 'o', path)
        session = path.replace('/request/', '/session/') if member == 'CreateSession' else args[0]
        answer = low.SignalMessage(path, PORTAL + 'Request', 'Response')
    else:
        path, session = args[0], args[1]
        answer = low.MethodReturnMessage(message)
    results = {}
    if member == 'CreateSession':
        sessions[session] = {}
        results = {'session_handle': session}
    elif member == 'BindShortcuts':
        sessions[session] = {id: properties['preferred_trigger'] for id, properties in args[2]}
        log.extend('Bind ' + trigger for trigger in sessions[session].values())
        results = {'shortcuts': args[2]}
    elif member == 'SelectDevices' and options.get('persist_mode') == 2:
        persistent[session] = options.get('restore_token', 'token')
    elif member == 'Start':
        results = {'devices': dbus.UInt32(1)}
        if session in persistent:  # grown from the token presented, so tests see which it was
            results['restore_token'] = persistent[session] + '+'
    code = codes.get(member, 0)
    if code >= 0:  # else a dialog nobody answers
        send(answer, 'ua{sv}', dbus.UInt32(code), results if code == 0 else {})


def press(id):
    for signal in ('Activated', 'Deactivated'):
        for session in [path for path, ids in sessions.items() if id in ids]:
            send(low.SignalMessage(DESKTOP, IMPL + 'GlobalShortcuts', signal), 'osta{sv}', session, id, 0, {})


def close_sessions():  # sessions of the installed portal only
    for session in sessions:
        send(low.SignalMessage(session, IMPL + 'Session', 'Closed'))
    sessions.clear()


CONTROLS = {'SetResponse': codes.__setitem__, 'Press': press, 'CloseSessions': close_sessions, 'Log': lambda: log,
            'Reset': log.clear}

if __name__ == '__main__':
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    bus.add_message_filter(dispatch)
    bus.request_name(PORTAL + 'Desktop', dbus.bus.NAME_FLAG_ALLOW_REPLACEMENT)
    bus.request_name(IMPL + 'desktop.murmelotest')
    bus.request_name('com.murmelo.test.PortalMock')  # last: the test's sign that the mock is up
    GLib.MainLoop().run()
