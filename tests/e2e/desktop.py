"""A real desktop for the program: window manager, notification area, sound recording, and the program itself
under a shifted clock. Used by the end-to-end tests and the desktop benchmark.

Needs the desktop stack scripts/services.sh starts (VLM_TEST_STACK): DISPLAY (an X server) or WAYLAND_DISPLAY (a
Wayland compositor), and PULSE_SERVER with VLM_TEST_SINK (a null sink).
"""

import array
import contextlib
import ctypes
import ctypes.util
import datetime as dt
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

RATE = 44100
REFERENCE = dt.timezone(dt.timedelta(hours=8))
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
WINDOW_TITLE = "^Vellimor - 20150212 \\(Unicode\\)$"
STACK = os.environ.get("VLM_TEST_STACK", "x11")
WAYLAND = STACK == "wayland"
# The window's own background colour, which nothing else on the test desktop shows.
WINDOW_GREEN = "rgb(192,220,192)"
TRAYER = ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120", "--height", "28",
          "--SetDockType", "true", "--transparent", "false"]
# The tests' own StatusNotifierItem tray runs on Debian's interpreter, which has python3-gi.
SNI_PYTHON = "/usr/bin/python3"


def run(*args, check=True, timeout=10, cwd=None):
    return subprocess.run(args, check=check, timeout=timeout, capture_output=True, text=True, cwd=cwd).stdout


def wait_for(predicate, timeout, step=0.05, what="condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


class Session:
    """Window manager and notification area of the stack (VLM_TEST_STACK), started once for all cases: openbox and
    the XEmbed tray trayer on X11, openbox and the tests' own StatusNotifierItem tray on X11 with SNI, the same tray
    on Wayland (the compositor is one of the services)."""

    def __init__(self):
        self.processes = []
        self.tray = None

    def start(self):
        if not WAYLAND:
            self.processes.append(subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL))
            time.sleep(0.5)
        self.start_tray()

    def start_tray(self):
        if STACK == "x11":
            self.tray = subprocess.Popen(TRAYER, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for(lambda: run("xdotool", "search", "--class", "trayer", check=False).strip(), 5, what="trayer")
            time.sleep(0.3)
        else:
            self.tray = subprocess.Popen([SNI_PYTHON, os.path.join(os.path.dirname(__file__), "sni.py")],
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            self.tray.stdout.readline()

    @contextlib.contextmanager
    def panel_keeping_its_edge(self, height=28):
        """The notification area's panel keeps the bottom edge to itself, as a desktop's panel does: the work area
        is then smaller than the screen."""
        panel = next(w for w in run("xdotool", "search", "--class", "trayer").split()
                     if "DOCK" in run("xprop", "-id", w, "_NET_WM_WINDOW_TYPE", check=False))
        run("xprop", "-id", panel, "-f", "_NET_WM_STRUT", "32c", "-set", "_NET_WM_STRUT", f"0,0,0,{height}")
        try:
            wait_for(lambda: work_area() != screen_area(), 5, what="the work area to leave the panel out")
            yield
        finally:
            run("xprop", "-id", panel, "-remove", "_NET_WM_STRUT", check=False)
            wait_for(lambda: work_area() == screen_area(), 5, what="the work area to take the whole screen again")

    def stop_tray(self):
        if self.tray:
            _end(self.tray)
            if self.tray.stdout:
                self.tray.stdout.close()
            self.tray = None

    def stop(self):
        self.stop_tray()
        for process in reversed(self.processes):
            _end(process)
        self.processes.clear()


def _end(process):
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def screen_area():
    """The X screen: (x, y, width, height)."""
    out = run("xwininfo", "-root")
    return (0, 0, int(re.search(r"Width:\s+(\d+)", out).group(1)), int(re.search(r"Height:\s+(\d+)", out).group(1)))


def work_area():
    """The part of the screen the window manager leaves to windows: (x, y, width, height)."""
    return tuple(int(v) for v in re.findall(r"\d+", run("xprop", "-root", "_NET_WORKAREA"))[:4])


def frame_extents(window):
    """The window manager's frame around the X window: (left, right, top, bottom), or None before it has one."""
    out = run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS", check=False)
    m = re.search(r"= (\d+), (\d+), (\d+), (\d+)", out)
    return tuple(map(int, m.groups())) if m else None


def off_centre(frame):
    """How far the centre of `frame` (x, y, width, height) lies from the screen's centre: (dx, dy)."""
    x, y, width, height = screen_area()
    return frame[0] + frame[2] / 2 - (x + width / 2), frame[1] + frame[3] / 2 - (y + height / 2)


def screenshot(path):
    """The whole screen as a PNG: the X server's root window, or the compositor's output."""
    if not WAYLAND:
        run("import", "-window", "root", path)
        return
    with tempfile.TemporaryDirectory() as folder:
        run("weston-screenshooter", cwd=folder)
        shutil.move(os.path.join(folder, os.listdir(folder)[0]), path)


def green_area(shot=None):
    """Where the program's window shows its background on the screen, or in the screenshot `shot`
    (x, y, width, height), or None."""
    if shot is None:
        with tempfile.TemporaryDirectory() as folder:
            shot = os.path.join(folder, "screen.png")
            screenshot(shot)
            return green_area(shot)
    box = run("convert", shot, "-fill", "black", "+opaque", WINDOW_GREEN, "-format", "%@", "info:")
    w, h, x, y = map(int, re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)", box).groups())
    return (x, y, w, h) if w > 100 and h > 100 else None


def watch_window(seconds):
    """Screenshots taken as fast as the screen allows for `seconds`, then looked at: (time, window on screen) for
    each. Quicker than asking after each picture, for a window that is up for less than a second."""
    with tempfile.TemporaryDirectory() as folder:
        shots = []
        end = time.time() + seconds
        while time.time() < end:
            path = os.path.join(folder, f"{len(shots)}.png")
            taken = time.time()
            screenshot(path)
            shots.append((taken, path))
        return [(taken, green_area(path) is not None) for taken, path in shots]


_xlib = None


def _x11():
    global _xlib
    if _xlib is None:
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XQueryKeymap.argtypes = [ctypes.c_void_p, ctypes.c_char * 32]
        lib.XkbKeycodeToKeysym.restype = ctypes.c_ulong
        lib.XkbKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.c_int]
        lib.XKeysymToString.restype = ctypes.c_char_p
        lib.XKeysymToString.argtypes = [ctypes.c_ulong]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        _xlib = lib
    return _xlib


def held_keys():
    """Names of the keys the X server has down now. None should be between two steps of a case: a key left down
    (its release sent to a window that had lost the focus, say) rides along with every later click, and openbox
    takes Alt+click for itself."""
    if WAYLAND:
        return []
    x = _x11()
    display = x.XOpenDisplay(None)
    if not display:
        return []
    try:
        keymap = (ctypes.c_char * 32)()
        x.XQueryKeymap(display, keymap)
        held = []
        for code in range(8, 256):
            if keymap.raw[code // 8] & (1 << (code % 8)):
                name = x.XKeysymToString(x.XkbKeycodeToKeysym(display, code, 0, 0))
                held.append(name.decode() if name else f"keycode {code}")
        return held
    finally:
        x.XCloseDisplay(display)


def release_held_keys():
    """Lets go of every key the X server has down; returns their names."""
    held = held_keys()
    for name in held:
        if not name.startswith("keycode "):
            run("xdotool", "keyup", name, check=False)
    return held


def check_no_keys_held(before):
    """Fails, naming them, when keys are down before `before`; they are let go first, so later cases are not hit."""
    held = release_held_keys()
    if held:
        raise AssertionError(f"keys held down before {before}: {', '.join(held)} (were they sent to a window with "
                             "xdotool key --window? Activate it with --sync and send them without --window)")


def click(button=1):
    """Clicks mouse button `button` where the pointer is, as a click with no key held."""
    check_no_keys_held(f"a click of button {button}")
    run("xdotool", "click", str(button))


def click_at(point, button=1):
    """Clicks at `point` (x, y on the screen), coming from elsewhere as a hand on the mouse would, so that what is
    there sees the pointer enter."""
    x, y = point
    run("xdotool", "mousemove", str(x - 60), str(y - 60))
    time.sleep(0.1)
    run("xdotool", "mousemove", str(x), str(y))
    time.sleep(0.15)
    click(button)


class SoundServer:
    """A PulseAudio server of the test's own with one null sink, to be killed and started again at will."""

    SINK = "vlm_private"

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="vlm-pulse-")
        self.address = "unix:" + os.path.join(self.folder, "native")
        self.env = dict(os.environ, PULSE_SERVER=self.address, PULSE_RUNTIME_PATH=os.path.join(self.folder, "run"),
                        PULSE_STATE_PATH=os.path.join(self.folder, "state"))
        self.process = None

    def start(self):
        log = open(os.path.join(self.folder, "server.log"), "a")
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--log-target=stderr",
             f"--load=module-native-protocol-unix socket={self.folder}/native auth-anonymous=1",
             f"--load=module-null-sink sink_name={self.SINK} rate=44100 channels=2"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=log)
        log.close()
        wait_for(lambda: subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode == 0, 10,
                 what="the sound server")
        subprocess.run(["pactl", "set-default-sink", self.SINK], env=self.env, capture_output=True, check=True)

    def kill(self):
        """Ends the server at once, as a crash would."""
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def cleanup(self):
        self.kill()
        shutil.rmtree(self.folder, ignore_errors=True)


class Recorder:
    """Records the null sink's monitor; knows, for every sample, the wall-clock instant it was played."""

    def __init__(self, server=None):
        self.samples = array.array("h")
        self.stamps = []  # (index of first sample of the chunk, arrival time of the chunk's end)
        self.lock = threading.Lock()
        sink = server.SINK if server else os.environ.get("VLM_TEST_SINK", "vlm_null")
        self.process = subprocess.Popen(
            ["parec", "-d", sink + ".monitor", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=1",
             "--latency-msec=10"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            env=server.env if server else None)
        self.thread = threading.Thread(target=self._pump, daemon=True)
        self.thread.start()
        wait_for(lambda: len(self.stamps) > 3, 5, what="the recorder")

    def _pump(self):
        pending = b""
        while True:
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                return
            arrived = time.time()
            pending += chunk
            whole = len(pending) - len(pending) % 2
            data, pending = pending[:whole], pending[whole:]
            with self.lock:
                self.stamps.append((len(self.samples), arrived, len(data) // 2))
                self.samples.frombytes(data)

    def time_of(self, index):
        """Wall-clock time at which sample `index` reached the sink."""
        with self.lock:
            for first, arrived, count in self.stamps:
                if first <= index < first + count:
                    return arrived - (first + count - index) / RATE
        raise IndexError(index)

    def index_at(self, wall):
        with self.lock:
            for first, arrived, count in self.stamps:
                if arrived >= wall:
                    return max(0, first + count - int((arrived - wall) * RATE))
            return len(self.samples)

    def onset_after(self, wall, threshold=600, within=3.0):
        """Wall-clock time of the first loud sample after `wall`, or None if nothing sounds within `within` s."""
        start = self.index_at(wall)
        end_wall = wall + within
        wait_for(lambda: self.stamps and self.stamps[-1][1] > end_wall + 0.1, max(0, end_wall - time.time()) + 5,
                 what="recording")
        stop = self.index_at(end_wall)
        with self.lock:
            for i in range(start, min(stop, len(self.samples))):
                if abs(self.samples[i]) > threshold:
                    break
            else:
                return None
        return self.time_of(i)

    def stop(self):
        self.process.terminate()
        self.process.wait(5)
        self.thread.join(5)
        self.process.stdout.close()


def reference_to_epoch(year, month, day, hour, minute, second):
    return dt.datetime(year, month, day, hour, minute, second, tzinfo=REFERENCE).timestamp()


class Program:
    """The built program in a folder of its own, started under a shifted clock with diagnostics on."""

    def __init__(self, build_program_dir, settings=None, zone="CST-8", short_sounds=False):
        self.root = tempfile.mkdtemp(prefix="vlm-e2e-")
        self.dir = os.path.join(self.root, "program")
        os.makedirs(self.dir)
        shutil.copy2(os.path.join(build_program_dir, "VLM"), self.dir)
        for name in os.listdir(build_program_dir):
            if name != "VLM" and name != "vlm1.cfg":
                os.symlink(os.path.join(build_program_dir, name), os.path.join(self.dir, name))
        if short_sounds:
            self._use_short_sounds(build_program_dir)
        self.home = os.path.join(self.root, "home")
        self.config_home = os.path.join(self.home, ".config")
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.config_home)
        os.makedirs(self.runtime, mode=0o700)
        self.clock_file = os.path.join(self.root, "faketime")
        self.set_offset(0)
        self.log_path = os.path.join(self.root, "log")
        self.zone = zone
        self.extra_env = {}
        # A command that runs the program (given as its last argument), such as read_only_launcher's.
        self.launcher = []
        self.process = None
        self._main_window = None
        if settings is not None:
            with open(self.config_path, "wb") as f:
                f.write(settings)

    def _use_short_sounds(self, build_program_dir):
        """Own sounds of the user's kind: a short tone for every prelude and bell, so that each cue starts from
        silence and its onset can be timed to the millisecond."""
        tones = os.path.join(self.root, "tones")
        os.makedirs(tones)
        prelude, bell = os.path.join(tones, "prelude.wav"), os.path.join(tones, "bell.wav")
        run("sox", "-n", "-r", "22050", "-c", "1", "-b", "16", prelude, "synth", "1.0", "sine", "440", "vol", "0.5")
        run("sox", "-n", "-r", "22050", "-c", "1", "-b", "16", bell, "synth", "0.6", "sine", "880", "vol", "0.5")
        os.unlink(os.path.join(self.dir, "Music"))
        os.makedirs(os.path.join(self.dir, "Music"))
        for name in os.listdir(os.path.join(build_program_dir, "Music")):
            os.symlink(prelude, os.path.join(self.dir, "Music", name))
        for name in ("bell1.wav", "bell3.wav"):
            os.unlink(os.path.join(self.dir, name))
            os.symlink(bell, os.path.join(self.dir, name))

    @property
    def config_path(self):
        return os.path.join(self.dir, "vlm1.cfg")

    @property
    def user_config_path(self):
        """The user's own settings file."""
        return os.path.join(self.config_home, "VLM", "vlm1.cfg")

    def set_offset(self, seconds):
        """Shifts the program's wall clock by `seconds` from the real one (the monotonic clock stays real)."""
        self.offset = seconds
        with open(self.clock_file + ".tmp", "w") as f:
            f.write(f"{seconds:+.3f}\n")
        os.replace(self.clock_file + ".tmp", self.clock_file)

    def set_reference_now(self, epoch, keep_phase=False):
        """Shifts the clock so that the program's now is `epoch`; with keep_phase, by whole seconds only, so the
        program's ticks stay where they are within the second (and `epoch` is met to within a second)."""
        if keep_phase:
            self.set_offset(self.offset + round(epoch - self.fake_now()))
        else:
            self.set_offset(epoch - time.time())

    def fake_now(self):
        return time.time() + self.offset

    def environment(self):
        env = dict(os.environ)
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config_home,
            "XDG_RUNTIME_DIR": self.runtime,
            "TZ": self.zone,
            "QT_LOGGING_RULES": "vlm.*=true",
            "LD_PRELOAD": FAKETIME_LIB,
            "FAKETIME_TIMESTAMP_FILE": self.clock_file,
            "FAKETIME_NO_CACHE": "1",
            "FAKETIME_DONT_FAKE_MONOTONIC": "1",
        })
        env.pop("QT_QPA_PLATFORM", None)
        env.update(self.extra_env)
        return env

    def command(self):
        return [*self.launcher, os.path.join(self.dir, "VLM")]

    def start(self):
        self._main_window = None
        self.log = open(self.log_path, "w")
        self.started = time.time()
        self.process = subprocess.Popen(self.command(), env=self.environment(),
                                        stdout=self.log, stderr=subprocess.STDOUT, cwd=self.root)
        return self.process

    def start_second(self):
        return subprocess.run([os.path.join(self.dir, "VLM")], env=self.environment(), timeout=10,
                              capture_output=True)

    def log_lines(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()

    def log_matches(self, pattern):
        regex = re.compile(pattern)
        return [line for line in self.log_lines() if regex.search(line)]

    def log_seconds(self, pattern):
        """When the first log line matching `pattern` was written, in seconds since the program started."""
        line = self.log_matches(pattern)[0]
        return float(re.search(r" \+\s*(\d+\.\d+) ", line).group(1))

    def windows(self, visible=True):
        """This program's windows bearing its caption (the main window and any message box)."""
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", WINDOW_TITLE]
        pid = str(self.process.pid)
        return [int(w) for w in run(*args, check=False).split()
                if run("xdotool", "getwindowpid", w, check=False).strip() == pid]

    def main_window(self):
        """The main window's X id (the program's first window with the caption). It is kept once found: the
        window keeps its id while it hides and shows, and a look at one window is quick enough to catch the second
        or so it is up at start on a busy machine."""
        if self._main_window is not None:
            return self._main_window
        pid = str(self.process.pid)
        for w in self.windows(visible=False):
            if run("xdotool", "getwindowpid", str(w), check=False).strip() == pid:
                size = run("xdotool", "getwindowgeometry", str(w), check=False)
                if "364x259" in size:
                    self._main_window = w
                    return w
        return None

    def window_visible(self):
        """Whether the window is on the screen: mapped on X11; drawn on the compositor's output on Wayland, where
        a program's windows can't be listed."""
        if WAYLAND:
            return green_area() is not None
        w = self.main_window()
        return w is not None and "IsViewable" in run("xwininfo", "-id", str(w), check=False)

    def window_origin(self):
        """Top-left corner of the window's client area on the screen."""
        out = run("xwininfo", "-id", str(self.main_window()))
        x = re.search(r"Absolute upper-left X:\s+(-?\d+)", out).group(1)
        y = re.search(r"Absolute upper-left Y:\s+(-?\d+)", out).group(1)
        return int(x), int(y)

    def click_in_window(self, x, y, button=1):
        ox, oy = self.window_origin()
        run("xdotool", "mousemove", str(ox + x), str(oy + y))
        time.sleep(0.1)
        click(button)

    def tray_icon(self):
        """Centre of the program's icon in the notification area, or None while it is not docked."""
        out = run("xwininfo", "-root", "-tree", check=False)
        for line in out.splitlines():
            # Class VLM; the instance is named after the command that started it (VLM, or vlm when installed).
            m = re.search(r'"VLM": \("[^"]+" "VLM"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
            if m and int(m.group(1)) < 64:
                w, h, x, y = map(int, m.groups())
                return x + w // 2, y + h // 2
        return None

    def click_tray(self, button=1):
        click_at(wait_for(self.tray_icon, 5, what="the tray icon"), button)

    def settings(self):
        with open(self.config_path, "rb") as f:
            return f.read()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if getattr(self, "log", None):
            self.log.close()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


def read_only_launcher(folder, writable_file=None):
    """A command prefix that runs a program (its last argument) in a mount namespace of its own, where `folder` is
    read-only as on a read-only medium. With `writable_file`, that file (kept elsewhere) can still be written through
    folder/vlm1.cfg: a folder that takes no new files holding a file that may be written. Needs root."""
    script = 'mount --bind "$0" "$0" && mount -o remount,ro,bind "$0" "$0"'
    if writable_file:
        script += ' && mount --bind "$1" "$0/vlm1.cfg"'
    script += ' && shift && exec "$@"'
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, folder, writable_file or "-"]


def settings_bytes(rotation=0, bell=0, ticked=(), autostart=False):
    """A settings file: `ticked` holds (weekday, hour) pairs."""
    schedule = [0] * 168
    for day, hour in ticked:
        schedule[day * 24 + hour] = 1
    return struct.pack("<ii168ii", rotation, bell + 1, *schedule, 1 if autostart else 0)


def iconic(window):
    """Whether the X window is minimised (on the taskbar)."""
    return "Iconic" in run("xprop", "-id", str(window), "WM_STATE", check=False)


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


class DesktopCase(unittest.TestCase):
    """Cases run on one desktop session, each with programs of its own that are stopped and removed afterwards."""

    program_dir = None
    session = None

    @classmethod
    def setUpClass(cls):
        cls.session = Session()
        cls.session.start()

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def setUp(self):
        self.programs = []
        self.recorder = None
        held = release_held_keys()
        if held:
            print(f"keys were held down before {self.id()}; released: {', '.join(held)}", file=sys.stderr)

    def tearDown(self):
        # Checked last, so that the case's programs are gone whatever it finds.
        self.addCleanup(check_no_keys_held, "the end of the case")
        for program in self.programs:
            if os.environ.get("VLM_E2E_KEEP"):
                program.stop()
                print("kept", program.root, file=sys.stderr)
            else:
                program.cleanup()
        if self.recorder:
            self.recorder.stop()

    def program(self, **kwargs):
        program = Program(self.program_dir, **kwargs)
        self.programs.append(program)
        return program

    def start_and_settle(self, program):
        program.start()
        if WAYLAND:
            # Up for half a second or so, too short to catch reliably by asking the compositor for pictures.
            wait_for(lambda: program.log_matches(r"vlm\.window: hidden"), 10, what="the first tick to hide the window")
        else:
            wait_for(program.window_visible, 10, what="the window to show")
        wait_for(lambda: not program.window_visible(), 5, what="the window to hide after the first tick")
