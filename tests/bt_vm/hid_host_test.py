#!/usr/bin/python3
"""The built program's real BlueZ backend as the peripheral on hci0, and
bluetoothd's HID-over-GATT host on hci1 as the phone, inside run-in-bt-vm.
The phone pairs only inside a pairing window, its input devices get what
the Report Map promises, each engine action arrives as exactly the input
events it should, and a bonded phone that leaves and comes back gets
reports again without pairing. Exit 0 when all of that held."""
import argparse, array, fcntl, json, os, re, select, struct, subprocess, sys, time, urllib.request
import dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib

BLUEZ, PROP = 'org.bluez', 'org.freedesktop.DBus.Properties'
EV_SYN, EV_KEY, EV_REL, EV_ABS = 0, 1, 2, 3
KEY_1, KEY_A, KEY_B, KEY_H, KEY_I, KEY_LEFTSHIFT, KEY_HOMEPAGE = 2, 30, 48, 35, 23, 42, 172
BTN_LEFT, REL_X, REL_Y, REL_WHEEL, ABS_X, ABS_Y = 0x110, 0, 1, 8, 0, 1
EVENT = struct.Struct('llHHi')
T0 = time.monotonic()
OUT = os.environ.get('BTVM_OUT', '/tmp')


def log(*words):
    print('[%6.2f]' % (time.monotonic() - T0), *words, flush=True)


class Failed(Exception):
    pass


def step(name, ok, detail=''):
    print('STEP %-26s %s  t=%.1fs %s' % (name, 'OK' if ok else 'FAIL', time.monotonic() - T0, detail), flush=True)
    if not ok:
        raise Failed(name + ': ' + str(detail))


def wait(condition, seconds):
    """Evaluates `condition` until it holds, serving D-Bus meanwhile; its last value."""
    context, end = GLib.MainContext.default(), time.monotonic() + seconds
    while time.monotonic() < end:
        result = condition()
        if result:
            return result
        context.iteration(False) or time.sleep(0.05)
    return condition()


def ioc(direction, kind, number, size):  # the kernel's _IOC
    return (direction << 30) | (size << 16) | (ord(kind) << 8) | number


def bits(fd, kind, count):
    """The codes of one event type a device can send (EVIOCGBIT), or what is down now (EVIOCGKEY)."""
    buffer = array.array('B', bytes((count + 7) // 8))
    request = ioc(2, 'E', 0x18, len(buffer)) if kind == 'down' else ioc(2, 'E', 0x20 + kind, len(buffer))
    fcntl.ioctl(fd, request, buffer, True)
    return {i for i in range(count) if buffer[i // 8] >> (i % 8) & 1}


def abs_range(fd, axis):
    buffer = array.array('i', [0] * 6)
    fcntl.ioctl(fd, ioc(2, 'E', 0x40 + axis, 24), buffer, True)
    return buffer[1], buffer[2]


class Engine:
    def __init__(self, program, port, adapters):
        self.program, self.url = program, 'http://127.0.0.1:%d' % port
        home = '/tmp/quintalis-home'
        self.env = dict(os.environ, QUINTALIS_SIMULATOR='', QUINTALIS_BLUETOOTH_ADAPTERS=adapters, QUINTALIS_HEADLESS='1',
                        QUINTALIS_ENGINE_PORT=str(port), QUINTALIS_AIRPLAY_PORT=str(port + 1), DISPLAY='',
                        XDG_CONFIG_HOME=home + '/config', XDG_DATA_HOME=home + '/data', XDG_STATE_HOME=home + '/state')
        self.log = open(os.path.join(OUT, 'quintalis.log'), 'w')
        self.process = subprocess.Popen([program], env=self.env, stdout=self.log, stderr=subprocess.STDOUT)

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.url + path, data=data, method=method,
                                         headers={'Content-Type': 'application/json'} if data else {})
        try:
            with urllib.request.urlopen(request, timeout=30) as reply:
                return reply.status, json.loads(reply.read() or b'null')
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read() or b'null')

    def status(self):
        try:
            return self.call('GET', '/status')[1]
        except OSError:
            return {}

    def pair(self, seconds):
        run = subprocess.run([self.program, 'pair', str(seconds)], env=self.env, capture_output=True, text=True, timeout=30)
        return run.returncode, run.stdout.strip(), run.stderr.strip()


class Agent(dbus.service.Object):
    """The phone's own agent: it answers for hci1 only, so hci0's pairings are the peripheral's to decide."""

    def __init__(self, bus):
        self.asked = []
        dbus.service.Object.__init__(self, bus, '/phone/agent')

    def check(self, what, device):
        self.asked.append((what, str(device)))
        if not str(device).startswith('/org/bluez/hci1/'):
            raise dbus.exceptions.DBusException('not ours', name='org.bluez.Error.Rejected')

    @dbus.service.method('org.bluez.Agent1', in_signature='os')
    def AuthorizeService(self, device, uuid):
        self.check('AuthorizeService', device)

    @dbus.service.method('org.bluez.Agent1', in_signature='ou')
    def RequestConfirmation(self, device, passkey):
        self.check('RequestConfirmation', device)

    @dbus.service.method('org.bluez.Agent1', in_signature='o')
    def RequestAuthorization(self, device):
        self.check('RequestAuthorization', device)

    @dbus.service.method('org.bluez.Agent1')
    def Release(self):
        pass

    @dbus.service.method('org.bluez.Agent1')
    def Cancel(self):
        pass


class Phone:
    """bluetoothd's central on hci1, driven over D-Bus, with its input devices."""

    def __init__(self, bus, peer):
        self.bus = bus
        self.agent = Agent(bus)
        manager = dbus.Interface(bus.get_object(BLUEZ, '/org/bluez'), 'org.bluez.AgentManager1')
        manager.RegisterAgent('/phone/agent', 'NoInputNoOutput')
        self.path = '/org/bluez/hci1/dev_' + peer.replace(':', '_')
        self.peer = peer.lower()
        own = dbus.Interface(bus.get_object(BLUEZ, '/org/bluez/hci1'), PROP).Get('org.bluez.Adapter1', 'Address')
        self.seen_by_peer = '/org/bluez/hci0/dev_' + str(own).replace(':', '_')
        self.adapter = dbus.Interface(bus.get_object(BLUEZ, '/org/bluez/hci1'), 'org.bluez.Adapter1')
        self.adapter.SetDiscoveryFilter({'Transport': 'le', 'UUIDs': dbus.Array(['1812'], signature='s')})
        self.find('discover')

    def find(self, name):
        self.adapter.StartDiscovery()
        objects = dbus.Interface(self.bus.get_object(BLUEZ, '/'), 'org.freedesktop.DBus.ObjectManager')
        found = self.wait(lambda: dbus.ObjectPath(self.path) in objects.GetManagedObjects(), 60)
        self.adapter.StopDiscovery()
        step(name, found, self.path)
        self.device = dbus.Interface(self.bus.get_object(BLUEZ, self.path), 'org.bluez.Device1')
        self.properties = dbus.Interface(self.bus.get_object(BLUEZ, self.path), PROP)

    def forget(self):
        """Forgets the peer, whatever half-made pairing a refused attempt left, and finds it again."""
        if self.get('Connected'):
            self.call(self.device.Disconnect)
        self.adapter.RemoveDevice(dbus.ObjectPath(self.path))
        self.find('forgotten and found again')

    def power(self, on):
        dbus.Interface(self.bus.get_object(BLUEZ, '/org/bluez/hci1'), PROP).Set(
            'org.bluez.Adapter1', 'Powered', dbus.Boolean(on))
        self.wait(lambda: bool(dbus.Interface(self.bus.get_object(BLUEZ, '/org/bluez/hci1'), PROP).Get(
            'org.bluez.Adapter1', 'Powered')) == on, 10)

    def paired_on_peer(self):
        """Whether the peripheral's side holds a pairing with this phone."""
        try:
            return bool(dbus.Interface(self.bus.get_object(BLUEZ, self.seen_by_peer), PROP).Get(
                'org.bluez.Device1', 'Paired'))
        except dbus.DBusException:
            return False

    def wait(self, condition, seconds):
        return wait(condition, seconds)

    def get(self, name):
        return bool(self.properties.Get('org.bluez.Device1', name))

    def call(self, method, seconds=40):
        answer = {}
        method(reply_handler=lambda: answer.setdefault('r', 'ok'),
               error_handler=lambda e: answer.setdefault('r', e.get_dbus_name()), timeout=seconds)
        self.wait(lambda: 'r' in answer, seconds + 1)
        return answer.get('r', 'no answer')

    def inputs(self):
        """{event node: name} of the input devices bluetoothd made for the peer (Uniq is its address):
        the keyboard with the consumer keys, and both pointers merged into one mouse."""
        found = {}
        for block in open('/proc/bus/input/devices').read().split('\n\n'):
            uniq = re.search(r'^U: Uniq=(.*)$', block, re.M)
            node = re.search(r'^H: Handlers=.*\b(event\d+)\b', block, re.M)
            name = re.search(r'^N: Name="(.*)"$', block, re.M)
            if uniq and node and uniq.group(1).lower() == self.peer:
                found[node.group(1)] = name.group(1) if name else ''
        return found


class Events:
    """Every event of the peer's input devices, read as they come."""

    def __init__(self, nodes):
        self.fds = {os.open('/dev/input/' + node, os.O_RDONLY | os.O_NONBLOCK): node for node in nodes}

    def close(self):
        for fd in self.fds:
            os.close(fd)

    def read(self, until, seconds=10):
        """Events (node, type, code, value), without SYN, until `until(events)` holds a moment."""
        events, end, settled = [], time.monotonic() + seconds, None
        while time.monotonic() < end:
            ready, _, _ = select.select(list(self.fds), [], [], 0.05)
            for fd in ready:
                data = os.read(fd, EVENT.size * 256)
                for offset in range(0, len(data) - EVENT.size + 1, EVENT.size):
                    _, _, kind, code, value = EVENT.unpack_from(data, offset)
                    if kind != EV_SYN:
                        events.append((self.fds[fd], kind, code, value))
            if until(events):
                settled = settled or time.monotonic() + 0.3  # anything trailing arrives too
                if time.monotonic() >= settled:
                    break
        return events

    def held(self):
        return {self.fds[fd]: bits(fd, 'down', 0x300) for fd in self.fds}


class RawReports:
    """The reports as the HID host hands them to the kernel (hidraw), report ID first. Linux
    merges the two pointer collections into one mouse and drops the second one's buttons, so
    the relative mouse's clicks show only here."""

    def __init__(self, peer):
        self.fd = None
        for name in os.listdir('/sys/class/hidraw'):
            if 'hid_uniq=' + peer in open('/sys/class/hidraw/%s/device/uevent' % name).read().lower():
                self.fd = os.open('/dev/' + name, os.O_RDONLY | os.O_NONBLOCK)
        step('hidraw', self.fd is not None)

    def read(self, until, seconds=10):
        reports, end = [], time.monotonic() + seconds
        while time.monotonic() < end and not until(reports):
            if select.select([self.fd], [], [], 0.05)[0]:
                reports.append(bytes(os.read(self.fd, 64)))
        return reports

    def close(self):
        os.close(self.fd)


def plain(events, kinds=(EV_KEY, EV_REL, EV_ABS)):
    return [(kind, code, value) for _, kind, code, value in events if kind in kinds]


def settled_connection(phone):
    """Connects and lets the phone read the table before anything pairs. A pairing that fails
    drops the link, and bluetoothd 5.66 crashes 5 s later if one of its reads was still on the
    way then: it gives up on the read's answer but not on the read's timer."""
    for _ in range(2):  # a starved guest can miss the first connection's deadline
        if not phone.get('Connected'):
            phone.call(phone.device.Connect)
    phone.wait(lambda: phone.get('ServicesResolved'), 20)
    time.sleep(2)


def pair_and_connect(engine, phone):
    # Outside a window the peripheral refuses: its adapter is not even pairable.
    settled_connection(phone)
    result = phone.call(phone.device.Pair)
    # Judged on the peripheral's side: after a refusal, bluetoothd's own record on the phone's side
    # can still read "Paired" for a moment when a retry of its own met the reconnection.
    step('pairing refused without window', result != 'ok' and not phone.paired_on_peer(), result)
    # A phone turned away forgets the computer; it comes back to pair once the window is open.
    phone.forget()
    code, out, err = engine.pair(60)
    step('quintalis pair 60', code == 0 and json.loads(out).get('pairing') == 60, out + ' ' + err)
    started = time.monotonic()
    settled_connection(phone)
    # The phone's HID host asks to pair by itself on connecting, as an iPhone does.
    result = 'ok' if phone.get('Paired') else phone.call(phone.device.Pair)
    step('pair inside the window', result == 'ok' and phone.get('Paired'), result)
    phone.properties.Set('org.bluez.Device1', 'Trusted', dbus.Boolean(True))
    if not phone.get('Connected'):
        phone.call(phone.device.Connect)
    nodes = phone.wait(lambda: len(phone.inputs()) >= 2 and phone.inputs(), 40)
    step('input devices', nodes, '%.1f s after pairing began: %s' % (time.monotonic() - started, nodes))
    time.sleep(1)  # the collections become input devices one by one
    nodes = phone.inputs()
    code, out, err = engine.pair(0)
    step('window closed', code == 0 and json.loads(out).get('pairing') == 0, out)
    return sorted(nodes)


def check_report_map(nodes):
    keys, rel, absolute, ranges = set(), set(), set(), {}
    for node in nodes:
        fd = os.open('/dev/input/' + node, os.O_RDONLY)
        keys |= bits(fd, EV_KEY, 0x300)
        rel |= bits(fd, EV_REL, 0x10)
        found = bits(fd, EV_ABS, 0x40)
        absolute |= found
        for axis in found & {ABS_X, ABS_Y}:
            ranges[axis] = abs_range(fd, axis)
        os.close(fd)
    want_keys = {KEY_A, KEY_B, KEY_H, KEY_I, KEY_1, KEY_LEFTSHIFT, KEY_HOMEPAGE, BTN_LEFT}
    step('keys', want_keys <= keys, sorted(want_keys - keys))
    step('absolute axes', {ABS_X, ABS_Y} <= absolute and ranges == {ABS_X: (0, 32767), ABS_Y: (0, 32767)}, ranges)
    step('relative axes', {REL_X, REL_Y, REL_WHEEL} <= rel, sorted(rel))


def check_actions(engine, host, nodes, peer):
    events, raw = Events(nodes), RawReports(peer)
    act = lambda path, body: engine.call('POST', path, dict(body, host=host))
    release = bytes([3, 0, 0, 0, 0])
    rest = bytes([2, 0, 0xff, 0x7f, 0xff, 0x7f])
    try:
        act('/tap', {'x': 0.5, 'y': 0.25, 'fraction': True})
        # After a gesture the engine moves the pointer to rest in the bottom-right corner.
        got = plain(events.read(lambda e: (EV_ABS, ABS_Y, 32767) in plain(e)))
        reports = raw.read(lambda r: rest in r)
        step('tap', got == [(EV_ABS, ABS_X, 16384), (EV_ABS, ABS_Y, 8192), (EV_ABS, ABS_X, 32767), (EV_ABS, ABS_Y, 32767)]
             and reports == [bytes([2, 0, 0x00, 0x40, 0x00, 0x20]), bytes([3, 1, 0, 0, 0]), release, rest],
             '%s %s' % (got, [r.hex() for r in reports]))

        status, _ = act('/swipe', {'x1': 0.2, 'y1': 0.8, 'x2': 0.2, 'y2': 0.1, 'fraction': True, 'duration': 0.3})
        # Done once the pointer has come to rest and no pointer holds its button.
        got = plain(events.read(lambda e: (EV_ABS, ABS_Y, 32767) in plain(e)
                                and not any(events.held().values())), (EV_KEY,))
        held = {node: sorted(down) for node, down in events.held().items() if down}
        # Each collection's reports travel on a socket of their own, which bluetoothd
        # reads in no fixed order: the two releases may come either way round.
        end = bytes([2, 0]) + struct.pack('<HH', round(0.2 * 32767), round(0.1 * 32767))
        reports = raw.read(lambda r: rest in r, 5)
        last = sorted(reports[-3:-1])
        step('swipe releases both pointers', status == 200 and not held and got and got[-1][2] == 0
             and last == sorted([release, end]) and reports[-1] == rest,
             'held %s, buttons %s, last %s' % (held, got, [r.hex() for r in reports[-3:]]))

        act('/type', {'text': 'Hi!'})
        got = plain(events.read(lambda e: len(plain(e, (EV_KEY,))) >= 10, 15), (EV_KEY,))
        shift = lambda keys: [(EV_KEY, KEY_LEFTSHIFT, 1)] + keys + [(EV_KEY, KEY_LEFTSHIFT, 0)]
        want = shift([(EV_KEY, KEY_H, 1), (EV_KEY, KEY_H, 0)]) + [(EV_KEY, KEY_I, 1), (EV_KEY, KEY_I, 0)] \
            + shift([(EV_KEY, KEY_1, 1), (EV_KEY, KEY_1, 0)])
        step('type "Hi!"', got == want, got)

        act('/key', {'key': 'a'})
        got = plain(events.read(lambda e: (EV_KEY, KEY_A, 0) in plain(e)))
        step('key a', got == [(EV_KEY, KEY_A, 1), (EV_KEY, KEY_A, 0)], got)

        act('/home', {})
        got = plain(events.read(lambda e: (EV_KEY, KEY_HOMEPAGE, 0) in plain(e)))
        step('home', got == [(EV_KEY, KEY_HOMEPAGE, 1), (EV_KEY, KEY_HOMEPAGE, 0)], got)

        act('/nudge', {'dx': 10, 'dy': -5})
        got = plain(events.read(lambda e: (EV_REL, REL_Y, -5) in plain(e)))
        step('nudge', got == [(EV_REL, REL_X, 10), (EV_REL, REL_Y, -5)], got)
    finally:
        events.close()
        raw.close()


def reconnect(engine, phone, host):
    # The phone turns Bluetooth off: a plain disconnect would be undone by its HID host's
    # reconnection within milliseconds, too soon to be seen in /status.
    phone.power(False)
    gone = phone.wait(lambda: host not in engine.status().get('hosts', [host]), 30)
    step('disconnected host leaves /status', gone, engine.status())
    asked = len(phone.agent.asked)
    phone.power(True)
    # bluetoothd's HID host may reconnect a bonded device by itself.
    if not phone.wait(lambda: phone.get('Connected'), 5):
        result = phone.call(phone.device.Connect)
        step('reconnect', result == 'ok' or phone.get('Connected'), result)
    phone.wait(lambda: len(phone.inputs()) >= 2, 40)
    time.sleep(1)
    nodes = phone.inputs()
    back = phone.wait(lambda: engine.status().get('hosts') == [host], 30)
    step('bonded host back in /status', nodes and back and engine.status().get('pairing') == 0, engine.status())
    events = Events(sorted(nodes))
    try:
        engine.call('POST', '/key', {'host': host, 'key': 'b'})
        got = plain(events.read(lambda e: (EV_KEY, KEY_B, 0) in plain(e)))
        step('reports flow again without pairing', got == [(EV_KEY, KEY_B, 1), (EV_KEY, KEY_B, 0)]
             and len(phone.agent.asked) == asked, got)
    finally:
        events.close()


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument('--program', required=True)
    arguments.add_argument('--port', type=int, default=7390)
    arguments.add_argument('--adapters', default='hci0', help='QUINTALIS_BLUETOOTH_ADAPTERS for the program')
    options = arguments.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    hci1 = dbus.Interface(bus.get_object(BLUEZ, '/org/bluez/hci1'), PROP)
    hci1.Set('org.bluez.Adapter1', 'Pairable', dbus.Boolean(True))
    peer = str(dbus.Interface(bus.get_object(BLUEZ, '/org/bluez/hci0'), PROP).Get('org.bluez.Adapter1', 'Address'))
    engine = Engine(options.program, options.port, options.adapters)
    try:
        advertising = lambda: engine.status().get('bluetooth') == 'advertising as Skiffline'
        step('advertising', wait(advertising, 60), engine.status())
        phone = Phone(bus, peer)
        nodes = pair_and_connect(engine, phone)
        hosts = phone.wait(lambda: engine.status().get('hosts'), 20)
        step('host in /status', hosts and len(hosts) == 1, engine.status())
        check_report_map(nodes)
        check_actions(engine, hosts[0], nodes, peer.lower())
        reconnect(engine, phone, hosts[0])
        return 0
    except Failed:
        return 1
    finally:
        engine.process.terminate()
        try:
            engine.process.wait(10)
        except subprocess.TimeoutExpired:
            engine.process.kill()


if __name__ == '__main__':
    sys.exit(main())
