#!/usr/bin/python3
"""The built program's libusb backend against the virtual iPhone plugged in
as a real USB device (quintalis-phone-gadget on dummy_hcd), inside
run-in-usb-vm: listing, capturing, the engine following the phone's screen,
the phone put back in its normal configuration, an unplug mid-stream,
permissions as a user meets them, and arrivals with and without udevd.
One STEP line per case; exit 0 when all of them held."""
import argparse, glob, json, os, queue, re, struct, subprocess, sys, threading, time, urllib.error, urllib.request, zlib

T0 = time.monotonic()
OUT = os.environ.get('USBVM_OUT', '/tmp')
SERIAL = '00008120000A1B2C3D4E5F01'
ID = SERIAL[:8] + '-' + SERIAL[8:]
HOME_LABELS = {'Settings', 'Notes', 'Contacts', 'Photos', 'Camera', 'Mail'}
SETTINGS_ICON = (0.153, 0.128)  # the first home-screen icon, as fractions of the screen
HOME_BACKGROUND = (0x1E, 0x3A, 0x5F)  # between the icons and the dock; every app's page is light there
BACKGROUND_SPOT = (0.5, 0.72)
NOBODY = 65534
PHONE_GROUP, PHONE_GID = 'quintalis-phones', 4242
# The project's rule tags the phone for the user at the seat ("uaccess"),
# which systemd-logind turns into an ACL; the guest has no logind, so this
# rule stands in for it and gives the tagged device to a group instead.
SEAT_STAND_IN = ('/etc/udev/rules.d/99-seat-stand-in.rules',
                 'SUBSYSTEM=="usb", TAG=="uaccess", GROUP="%s", MODE="0660"\n' % PHONE_GROUP)


class Failed(Exception):
    pass


def step(name, ok, detail=''):
    print('STEP %-24s %s  t=%5.1fs %s' % (name, 'OK' if ok else 'FAIL', time.monotonic() - T0, detail), flush=True)
    if not ok:
        raise Failed(name + ': ' + str(detail))


def wait(condition, seconds, pause=0.2):
    end = time.monotonic() + seconds
    while True:
        result = condition()
        if result or time.monotonic() >= end:
            return result
        time.sleep(pause)


def sysfs_phone():
    """The phone's device as the host side of the bus sees it, or None."""
    for path in glob.glob('/sys/bus/usb/devices/*'):
        try:
            if open(path + '/idVendor').read().strip() == '05ac':
                read = lambda name: open(os.path.join(path, name)).read().strip()
                return {'configurations': read('bNumConfigurations'), 'active': read('bConfigurationValue'),
                        'node': '/dev/bus/usb/%03d/%03d' % (int(read('busnum')), int(read('devnum')))}
        except OSError:
            pass
    return None


class Gadget:
    def __init__(self, program):
        self.lines, self.seen = queue.Queue(), []
        self.log = open(os.path.join(OUT, 'gadget.log'), 'w')
        self.process = subprocess.Popen([program, '--serial', SERIAL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.log, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.log.write(line)
            self.log.flush()
            self.lines.put(line.strip())

    def _drain(self):
        while not self.lines.empty():
            self.seen.append(self.lines.get())

    def mark(self):
        self._drain()
        return len(self.seen)

    def since(self, mark):
        self._drain()
        return self.seen[mark:]

    def saw(self, event, mark, seconds=10):
        return wait(lambda: any(line == 'GADGET ' + event or line.startswith('GADGET ' + event + ' ')
                                for line in self.since(mark)), seconds)

    def send(self, command):
        mark = self.mark()
        self.process.stdin.write(command + '\n')
        self.process.stdin.flush()
        return self.saw('done ' + command.split()[0], mark) or self.saw(command.split()[0] + 'ged', mark)

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.write('quit\n')
            self.process.stdin.flush()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()


class Program:
    def __init__(self, path, port):
        self.path, self.url = path, 'http://127.0.0.1:%d' % port
        self.env = dict(os.environ, QUINTALIS_HEADLESS='1', QUINTALIS_ENGINE_PORT=str(port),
                        QUINTALIS_AIRPLAY_PORT=str(port + 1), DISPLAY='')
        self.env.pop('QUINTALIS_SIMULATOR', None)
        self.engine = None

    def environment(self, user):
        """The program's environment, with folders of its own for each user."""
        home = '/tmp/quintalis-home-%d' % (user or 0)
        if not os.path.isdir(home):
            os.makedirs(home)
            os.chown(home, user or 0, user or 0)
        return dict(self.env, HOME=home, XDG_CONFIG_HOME=home + '/config', XDG_DATA_HOME=home + '/data',
                    XDG_STATE_HOME=home + '/state')

    def as_user(self, command, user, groups):
        if user is None:
            return command
        return ['setpriv', '--reuid=%d' % user, '--regid=%d' % user,
                '--groups=' + ','.join(map(str, groups)) if groups else '--clear-groups'] + command

    def run(self, *args, user=None, groups=(), seconds=60):
        run = subprocess.run(self.as_user([self.path] + list(args), user, groups), env=self.environment(user), capture_output=True,
                             text=True, timeout=seconds)
        return run.returncode, run.stdout.strip(), run.stderr.strip()

    def capture(self, name, ocr=False, user=None, groups=()):
        """usb-capture: (status, its JSON answer or {}, standard error). With
        `ocr`, the answer's "ocr" holds the words read in the picture written,
        which is half the screen's size: reading the whole is the slowest thing
        in an emulated guest."""
        path = os.path.join(OUT if user is None else '/tmp', name)  # the output share takes root only
        status, out, err = self.run('usb-capture', path, '--timeout', '40', *(['--max', '1280'] if ocr else []),
                                    user=user, groups=groups)
        try:
            answer = json.loads(out.splitlines()[-1]) if out else {}
        except ValueError:
            answer = {}
        if status == 0 and ocr:
            read = self.run('usb-capture', path + '.read.png', '--image', path, '--ocr')
            answer['ocr'] = json.loads(read[1]).get('ocr', []) if read[0] == 0 else []
        return status, answer, err

    def start_engine(self, name='engine', user=None, groups=()):
        self.log_path = os.path.join(OUT, name + '.log')
        self.engine = subprocess.Popen(self.as_user([self.path], user, groups), env=self.environment(user), stdout=open(self.log_path, 'w'),
                                       stderr=subprocess.STDOUT)

    def stop_engine(self):
        self.engine.terminate()
        try:
            return self.engine.wait(20)
        except subprocess.TimeoutExpired:
            self.engine.kill()
            return None

    def engine_log(self):
        return open(self.log_path).read()

    def get(self, path):
        try:
            with urllib.request.urlopen(self.url + path, timeout=20) as reply:
                return reply.status, reply.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()
        except OSError:
            return 0, b''

    def screen_colour(self):
        """The colour of the background spot in the engine's /screenshot, or None."""
        status, body = self.get('/screenshot?format=png&maxWidth=60')
        if status != 200:
            return None
        width, height, pixel = decode_png(body)
        return pixel(int(BACKGROUND_SPOT[0] * width), int(BACKGROUND_SPOT[1] * height))


def decode_png(data):
    """(width, height, pixel(x, y) -> (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    width, height, depth, kind = struct.unpack('>IIBB', data[16:26])
    assert depth == 8 and kind in (2, 6), (depth, kind)
    channels, packed, at = (3 if kind == 2 else 4), b'', 8
    while at < len(data):
        length, name = struct.unpack('>I4s', data[at:at + 8])
        if name == b'IDAT':
            packed += data[at + 8:at + 8 + length]
        at += 12 + length
    raw, stride, rows, previous = zlib.decompress(packed), width * channels, [], bytearray(width * channels)
    for y in range(height):
        kind_of_filter, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind_of_filter == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind_of_filter == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind_of_filter == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind_of_filter == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append(line)
        previous = line
    return width, height, lambda x, y: tuple(rows[y][x * channels:x * channels + 3])


def near(colour, wanted, tolerance=40):
    return colour is not None and all(abs(a - b) <= tolerance for a, b in zip(colour, wanted))


def words(answer):
    found = set()
    for item in answer.get('ocr', []):
        text = item.get('text', '') if isinstance(item, dict) else str(item)
        found.update(text.split())
    return found


def restored(gadget, mark):
    phone = sysfs_phone()
    return gadget.saw('hide', mark, 0) and phone is not None and phone['configurations'] == '4' and phone['active'] != '5'


def list_and_capture(program, gadget):
    status, out, err = program.run('usb-list', '10')
    listed = json.loads(out) if status == 0 and out.startswith('[') else []
    step('usb-list', [p.get('id') for p in listed] == [ID], out or err)

    # The text is read once: recognition is the slowest thing here.
    for name in ('first capture', 'second capture'):
        mark = gadget.mark()
        first = name == 'first capture'
        status, answer, err = program.capture(name.replace(' ', '-') + '.png', ocr=first)
        seen = words(answer) & HOME_LABELS
        step(name, status == 0 and answer.get('fw') == 1179 and answer.get('fh') == 2556 and (len(seen) >= 3 or not first),
             '%s %s' % ({k: v for k, v in answer.items() if k != 'ocr'}, sorted(seen)) if status == 0 else err[-300:])
        step(name + ' restored', wait(lambda: restored(gadget, mark), 10), '%s %s' % (gadget.since(mark), sysfs_phone()))


def engine_follows(program, gadget):
    program.start_engine()
    home = wait(lambda: near(program.screen_colour(), HOME_BACKGROUND), 40, 0.5)
    step('engine /screenshot', home, program.screen_colour())
    gadget.send('tap %.3f %.3f' % SETTINGS_ICON)
    opened = wait(lambda: not near(program.screen_colour(), HOME_BACKGROUND), 15, 0.3)
    step('engine follows the phone', opened, program.screen_colour())
    gadget.send('home')
    step('and back home', wait(lambda: near(program.screen_colour(), HOME_BACKGROUND), 15, 0.3), program.screen_colour())

    follow_unplug_and_plug(program, gadget, 'without udevd')
    mark = gadget.mark()
    status = program.stop_engine()
    step('engine stop restores', status == 0 and wait(lambda: restored(gadget, mark), 10),
         'exit %s %s %s' % (status, gadget.since(mark), sysfs_phone()))


def follow_unplug_and_plug(program, gadget, name):
    gadget.send('unplug')
    ended = wait(lambda: re.search(r'over USB: stream ended \(.*unplugged.*\)', program.engine_log()), 15)
    alive = program.engine.poll() is None and program.get('/status')[0] == 200
    step(name + ': unplugged', ended and alive, ended.group(0) if ended else program.engine_log()[-400:])
    plugged = time.monotonic()
    gadget.send('plug')
    back = wait(lambda: near(program.screen_colour(), HOME_BACKGROUND), 30, 0.25)
    step(name + ': plugged in', back, '%.1f s to the first screenshot' % (time.monotonic() - plugged))


def permissions_and_udev(program, gadget):
    status, answer, err = program.capture('no-rule.png', user=NOBODY)
    said = (err + json.dumps(answer)).replace('\\', '')
    step('no rule: says what to do', status != 0 and 'quintalis install-udev-rule' in said, said[-300:])

    open('/etc/group', 'a').write('%s:x:%d:\n' % (PHONE_GROUP, PHONE_GID))
    open(SEAT_STAND_IN[0], 'w').write(SEAT_STAND_IN[1])
    subprocess.Popen(['/lib/systemd/systemd-udevd', '--daemon'], stderr=open(os.path.join(OUT, 'udevd.log'), 'w')).wait()
    # As at boot, udevd is told of the devices already there: the phone's
    # "add" makes it load the kernel's driver for Apple devices
    # (apple-mfi-fastcharge), which takes the phone over and selects its
    # configuration again. Loaded later, at the reveal of a capture, it
    # would end that capture; a real computer loaded it long before.
    up = wait(lambda: os.path.exists('/run/udev/control'), 20)
    subprocess.run(['udevadm', 'trigger', '--action=add', '--subsystem-match=usb'])
    settled = subprocess.run(['udevadm', 'settle', '--timeout=20'], capture_output=True, text=True)
    step('udevd', up and settled.returncode == 0, settled.stderr)
    status, out, err = program.run('install-udev-rule')
    owned = lambda: (sysfs_phone() or {}).get('node') and os.stat(sysfs_phone()['node']).st_gid == PHONE_GID
    step('install-udev-rule', status == 0 and wait(owned, 10), (out + err)[-300:])

    status, answer, err = program.capture('with-rule.png', user=NOBODY, groups=[PHONE_GID])
    step('with the rule: a user captures', status == 0 and answer.get('fw') == 1179, '%s %s' % (answer, err[-600:]))

    program.start_engine('engine-user', user=NOBODY, groups=[PHONE_GID])
    step('engine as the user', wait(lambda: near(program.screen_colour(), HOME_BACKGROUND), 40, 0.5), program.screen_colour())
    follow_unplug_and_plug(program, gadget, 'with udevd')
    step('engine stops', program.stop_engine() == 0)


def measure(program, gadget, rounds=20):
    """Not run by default: how long a change of the phone's screen takes to reach /screenshot."""
    program.start_engine('engine-measure')
    step('engine /screenshot', wait(lambda: near(program.screen_colour(), HOME_BACKGROUND), 40, 0.5))
    delays = []
    for round in range(rounds):
        to_settings = round % 2 == 0
        gadget.send('tap %.3f %.3f' % SETTINGS_ICON if to_settings else 'home')
        changed = time.monotonic()
        arrived = wait(lambda: near(program.screen_colour(), HOME_BACKGROUND) != to_settings, 15, 0.01)
        if arrived:
            delays.append(time.monotonic() - changed)
    delays.sort()
    step('screen change to /screenshot', len(delays) == rounds, 'p50 %.0f ms, p95 %.0f ms, poll %.0f ms' % (
        1000 * delays[len(delays) // 2], 1000 * delays[int(len(delays) * 0.95) - 1], 1000 * poll_cost(program)))
    mark = gadget.mark()
    gadget.send('wiggle 20')
    gadget.saw('frames', mark, 40)
    paced = [line for line in gadget.since(mark) if line.startswith('GADGET frames')]
    frames = re.match(r'GADGET frames (\d+) in ([\d.]+) s', paced[0]) if paced else None
    step('frames a second', frames, '%.1f' % (int(frames.group(1)) / float(frames.group(2))) if frames else paced)
    program.stop_engine()


def poll_cost(program, samples=10):
    started = time.monotonic()
    for _ in range(samples):
        program.screen_colour()
    return (time.monotonic() - started) / samples


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument('--program', required=True)
    arguments.add_argument('--gadget', required=True)
    arguments.add_argument('--port', type=int, default=7390)
    arguments.add_argument('--cases', default='captures,engine,permissions', help='which groups of cases to run, in order')
    options = arguments.parse_args()
    cases = {'captures': list_and_capture, 'engine': engine_follows, 'permissions': permissions_and_udev, 'measure': measure}
    program = Program(options.program, options.port)
    gadget = Gadget(options.gadget)
    try:
        step('gadget plugged in', gadget.saw('ready', 0, 20) and wait(sysfs_phone, 10), sysfs_phone())
        for name in options.cases.split(','):
            cases[name](program, gadget)
        return 0
    except Failed:
        return 1
    finally:
        if program.engine and program.engine.poll() is None:
            program.stop_engine()
        gadget.stop()


if __name__ == '__main__':
    sys.exit(main())
