#!/usr/bin/env python3
"""The Windows program as a user runs it under Wine: a real X server, window manager, notification area (Wine docks
its icons there) and sound server (Wine plays through PulseAudio).

Usage: e2e_win32_test.py PROGRAM_DIR [SCREENSHOT_PNG]

Needs DISPLAY, PULSE_SERVER, VLM_TEST_SINK and WINEPREFIX, as scripts/test.sh provides. The program runs on the real
clock: Wine's clock can't be shifted (libfaketime reaches neither its processes nor wineserver), so the scheduled
reminder is covered by the shell's own tests with an injected clock.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
import desktop  # noqa: E402
from desktop import Recorder, click, click_at, run, settings_bytes, wait_for  # noqa: E402

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")
TITLE = "Vellimor - 20150212 (Unicode)"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
SYSTEM_LINK = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
LEGACY_NAMES = ["tirvo0.wav", "tirvo1.wav", "tirvo2.wav", "tirvo3.wav", "sarevin.txt", "sarevinU.txt", "vlm.cfg"]
SCREENSHOT = None

# Positions of controls inside the window's client area.
RING_NOW = (197 + 62, 204 + 21)
AUTOSTART_BOX = (184 + 6, 170 + 8)
HOUR_ITEM_0_BOX = (16 + 2 + 8, 50 + 2 + 8)


def prefix():
    return os.environ.get("WINEPREFIX") or os.path.expanduser("~/.cache/vlm/wine-prefix")


def wine(*args, check=True, timeout=60):
    """Runs one of Wine's own programs (reg, wineboot) in the prefix, with the loader this machine can run."""
    runs_32bit = subprocess.run([WINE_RUN, "--runs-32bit"], capture_output=True).returncode == 0
    loader = "/usr/lib/wine/wine" if runs_32bit else "/usr/lib/wine/wine64"
    env = dict(os.environ, WINEPREFIX=prefix(), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return subprocess.run([loader, *args], check=check, timeout=timeout, capture_output=True, env=env)


def windows_path(unix_path):
    """The path as Windows programs under Wine name it: the prefix's drive_c is C:, everything else is on Z:."""
    drive_c = os.path.join(prefix(), "drive_c")
    if unix_path.startswith(drive_c + os.sep):
        return "C:" + unix_path[len(drive_c):].replace("/", "\\")
    return "Z:" + unix_path.replace("/", "\\")


def reg_query(key, value):
    """The value's line as `reg query` prints it, or None when there is none."""
    result = wine("reg", "query", key, "/v", value, check=False)
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        fields = line.strip().split(None, 2)
        if len(fields) == 3 and fields[0] == value:
            return fields[1], fields[2]
    return None


def appdata():
    """The user's roaming application data folder (%APPDATA%) in the prefix, as a Linux path."""
    folder = wine("cmd", "/c", "echo %APPDATA%").stdout.decode("utf-8", "replace").strip()
    assert folder[1:3] == ":\\", folder
    return os.path.join(prefix(), "drive_c", *folder[3:].split("\\"))


def prepare_prefix():
    """Boots the shared prefix once and gives its fonts the CJK fallback a Chinese Windows has through font linking
    (Wine brings no font with these glyphs of its own)."""
    if not os.path.isdir(os.path.join(prefix(), "drive_c", "windows")):
        subprocess.run([WINE_RUN, "--boot"], check=True, timeout=180, capture_output=True)
    for face in ("Arial", "Verdana", "Tahoma"):
        wine("reg", "add", SYSTEM_LINK, "/v", face, "/t", "REG_MULTI_SZ", "/d", "wqy-microhei.ttc,WenQuanYi Micro Hei",
             "/f")


class WineProgram:
    """VLM.exe in a folder of its own on the prefix's C: drive, with its sounds and diagnostics on."""

    counter = 0

    def __init__(self, build_program_dir, settings=None, subfolder=None):
        WineProgram.counter += 1
        self.top = os.path.join(prefix(), "drive_c", f"VLM-e2e-{os.getpid()}-{WineProgram.counter}")
        self.dir = os.path.join(self.top, subfolder) if subfolder else self.top
        shutil.rmtree(self.top, ignore_errors=True)
        os.makedirs(self.dir)
        for name in os.listdir(build_program_dir):
            source = os.path.join(build_program_dir, name)
            if name == "VLM.exe":
                shutil.copy2(source, self.dir)
            elif name != "vlm1.cfg":
                os.symlink(source, os.path.join(self.dir, name))
        # Beside the program's folder, which a case may make read-only.
        self.log_path = self.dir + ".log"
        self.launcher = []
        self.process = None
        self.extra_env = {}
        self._main_window = None
        if settings is not None:
            with open(self.config_path, "wb") as f:
                f.write(settings)

    @property
    def config_path(self):
        return os.path.join(self.dir, "vlm1.cfg")

    @property
    def program_dir(self):
        return windows_path(self.dir)

    def environment(self):
        env = dict(os.environ)
        env.update({"TZ": "CST-8", "VLM_LOG": windows_path(self.log_path)})
        env.update(self.extra_env)
        return env

    def start(self):
        self._main_window = None
        self.started = time.time()
        self.process = subprocess.Popen([*self.launcher, WINE_RUN, os.path.join(self.dir, "VLM.exe")],
                                        env=self.environment(),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self.process

    def start_second(self):
        return subprocess.run([WINE_RUN, os.path.join(self.dir, "VLM.exe")], env=self.environment(), timeout=30,
                              capture_output=True)

    def log_lines(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def log_matches(self, pattern):
        regex = re.compile(pattern)
        return [line for line in self.log_lines() if regex.search(line)]

    def tick_lateness_ms(self):
        """How late after its second each tick ran, leaving out the first, which comes a second after start."""
        return [int(m.group(1)) for m in map(re.compile(r"vlm\.tick: tick .* late (-?\d+) ms").search,
                                             self.log_lines()) if m][1:]

    def windows(self, visible=True):
        """The program's top-level X windows bearing its caption: the main window and any message box."""
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", "^Vellimor - "]
        return [int(w) for w in run(*args, check=False).split()
                if "vlm.exe" in run("xprop", "-id", w, "WM_CLASS", check=False).lower()]

    def geometry(self, window):
        out = run("xwininfo", "-id", str(window))
        values = {key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
                  for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
        return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"], values["Height"])

    def main_window(self):
        """The main window's X id: the program's window of the window's size that no other window owns (the boxes
        are owned by it). Kept once found: Wine keeps a window's X window while it hides and shows, and one look at
        one window is quick enough to catch the second or so it is up at start on a busy machine."""
        if self._main_window is None:
            for w in self.windows(visible=False):
                try:
                    size = self.geometry(w)[2:]
                except subprocess.CalledProcessError:  # a box that has just gone
                    continue
                if size == (364, 259) and "window id" not in run("xprop", "-id", str(w), "WM_TRANSIENT_FOR",
                                                                  check=False):
                    self._main_window = w
                    break
        return self._main_window

    def window_visible(self):
        w = self.main_window()
        return w is not None and "IsViewable" in run("xwininfo", "-id", str(w), check=False)

    def message_windows(self):
        main = self.main_window()
        return [w for w in self.windows(visible=True) if w != main]

    def click_in_window(self, x, y, button=1):
        ox, oy, _, _ = self.geometry(self.main_window())
        run("xdotool", "mousemove", str(ox + x), str(oy + y))
        time.sleep(0.15)
        click(button)

    def tray_icon(self):
        """Centre of the icon Wine docked into the notification area, or None."""
        out = run("xwininfo", "-root", "-tree", check=False)
        in_tray = False
        for line in out.splitlines():
            if '"panel": ("panel" "trayer")' in line:
                in_tray = True
            m = re.search(r'\("explorer\.exe" "explorer\.exe"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
            if in_tray and m and int(m.group(1)) < 64 and int(m.group(2)) < 64:
                w, h, x, y = map(int, m.groups())
                return x + w // 2, y + h // 2
        return None

    def click_tray(self, button=1):
        click_at(wait_for(self.tray_icon, 10, what="the tray icon"), button)

    def settings(self):
        with open(self.config_path, "rb") as f:
            return f.read()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process:
            # Wine's tray drops a killed program's icon only once it notices the window gone.
            wait_for(lambda: self.tray_icon() is None, 10, what="the tray icon to go")

    def cleanup(self):
        self.stop()
        if os.path.exists(self.config_path):
            os.chmod(self.config_path, 0o644)
        shutil.rmtree(self.top, ignore_errors=True)
        if os.path.exists(self.log_path):
            os.unlink(self.log_path)


class WineDesktopCase(desktop.DesktopCase):
    """Cases on one desktop session and one Wine prefix; each case's programs are stopped and removed afterwards."""

    lateness = []

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        prepare_prefix()
        # Settings an earlier run left in the user's folder would win over every case's own.
        shutil.rmtree(os.path.join(appdata(), "VLM"), ignore_errors=True)

    def tearDown(self):
        for program in self.programs:
            WineDesktopCase.lateness += program.tick_lateness_ms()
        super().tearDown()

    def program(self, **kwargs):
        program = WineProgram(self.program_dir, **kwargs)
        self.programs.append(program)
        return program

    def user_folder(self):
        """The user's own VLM folder, gone before the case and after it (the prefix is shared)."""
        folder = os.path.join(appdata(), "VLM")

        def remove():
            if os.path.isdir(folder):
                shutil.rmtree(folder)
            elif os.path.lexists(folder):
                os.unlink(folder)
        remove()
        self.addCleanup(remove)
        return folder

    def start_and_settle(self, program):
        program.start()
        wait_for(program.window_visible, 30, what="the window to show")
        wait_for(lambda: not program.window_visible(), 5, what="the window to hide after the first tick")


class WindowsEndToEnd(WineDesktopCase):
    def test_window_tray_and_exit(self):
        # No settings file: its message shows, the defaults apply, and exit writes the whole file.
        program = self.program()
        program.start()
        window = wait_for(lambda: program.window_visible() and program.main_window(), 30, what="the window")
        self.assertEqual(run("xdotool", "getwindowname", str(window)).strip(), TITLE)
        self.assertEqual(program.geometry(window)[2:], (364, 259))
        wait_for(lambda: not program.window_visible(), 5, what="the window to hide after the first tick")
        boxes = program.message_windows()
        self.assertEqual(len(boxes), 1, "the load message stays up")
        self.assertIsNotNone(wait_for(program.tray_icon, 10, what="the tray icon"))

        # Once the message is closed the window is back, and stays.
        run("xdotool", "windowactivate", "--sync", str(boxes[0]), check=False)
        run("xdotool", "key", "Return")
        wait_for(program.window_visible, 5, what="the window to show once the message is closed")
        ticks = len(program.tick_lateness_ms())
        time.sleep(2.5)
        self.assertGreaterEqual(len(program.tick_lateness_ms()) - ticks, 2, "the clock must keep ticking")
        self.assertTrue(program.window_visible(), "the window stays up; the program's log:\n"
                        + "\n".join(program.log_lines()[-12:]))
        self.assertEqual(program.message_windows(), [])
        # Alt+F4 only hides. Sent as real keys to the active window: openbox closes it on the press, and releases
        # sent to a window by its id would then go out as synthetic events the X server ignores, leaving the keys
        # held down.
        run("xdotool", "windowactivate", "--sync", str(window), check=False)
        run("xdotool", "key", "alt+F4")
        wait_for(lambda: not program.window_visible(), 5, what="Alt+F4 to hide the window")
        self.assertIsNone(program.process.poll())

        # A right click shows the window and opens the menu; its exit entry ends the program.
        self.exit_from_tray(program)
        self.assertEqual(program.process.wait(10), 0)
        self.assertEqual(len(program.settings()), 684)

    def test_window_is_centred_on_the_screen(self):
        # On the whole screen, not on the part a panel leaves free.
        with self.session.panel_keeping_its_edge():
            program = self.program(settings=settings_bytes())
            self.start_and_settle(program)
            # Shown again where it was put at start, for as long as it takes to look.
            program.click_tray(1)
            wait_for(program.window_visible, 5, what="the window")
            window = program.main_window()

            def frame():
                left, right, top, bottom = desktop.frame_extents(window) or (0, 0, 0, 0)
                x, y, width, height = program.geometry(window)
                return x - left, y - top, width + left + right, height + top + bottom

            # The window manager frames the window a moment after it is mapped: that is waited for.
            try:
                wait_for(lambda: desktop.frame_extents(window) and max(map(abs, desktop.off_centre(frame()))) <= 1, 5,
                         what="the frame to be centred")
            except AssertionError:
                self.fail(f"frame {frame()} is {desktop.off_centre(frame())} off the centre of {desktop.screen_area()}")

    def test_ring_now_is_heard_within_its_second(self):
        program = self.program(settings=settings_bytes())
        self.recorder = Recorder()
        self.start_and_settle(program)
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.5)
        if SCREENSHOT:
            window = program.main_window()
            x, y, w, h = program.geometry(window)
            extents = run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS", check=False)
            left, right, top, bottom = map(int, re.findall(r"\d+", extents.split("=")[-1])[:4] or (0, 0, 0, 0))
            run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w + left + right, h + top + bottom, x - left,
                                                                       y - top), SCREENSHOT, check=False)
        # Pressed early in a second, so the click's own delay can't carry it into the next one.
        while time.time() % 1 > 0.3 or time.time() % 1 < 0.05:
            time.sleep(0.01)
        clicked = time.time()
        program.click_in_window(*RING_NOW)
        due = int(clicked) + 2
        onset = self.recorder.onset_after(due - 0.5, within=2.0)
        self.assertIsNotNone(onset, "no bell after ring-now")
        print(f"ring-now onset after its second: {round((onset - due) * 1000)} ms", file=sys.stderr)
        self.assertGreaterEqual(onset - due, -0.05)
        self.assertLess(onset - due, 1.0)
        self.assertEqual(program.message_windows(), [])

    def ring_now_at_the_start_of_a_second(self, program):
        """Presses "立即Vellimor" early in a second; the second its bell is due in."""
        while time.time() % 1 > 0.3 or time.time() % 1 < 0.05:
            time.sleep(0.01)
        clicked = time.time()
        program.click_in_window(*RING_NOW)
        return int(clicked) + 2

    def tick_count(self, program):
        return len(program.log_matches(r"vlm\.tick: tick "))

    def test_sound_server_dying_mid_bell(self):
        # Wine plays through the sound server it finds at its first sound; this one the test kills at will.
        server = desktop.SoundServer()
        self.addCleanup(server.cleanup)
        server.start()
        program = self.program(settings=settings_bytes())
        program.extra_env = {"PULSE_SERVER": server.address}
        program.start()
        wait_for(lambda: self.tick_count(program) >= 2, 60, what="the program to start and tick")
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.3)

        recorder = Recorder(server)
        try:
            due = self.ring_now_at_the_start_of_a_second(program)
            self.assertIsNotNone(recorder.onset_after(due - 0.5, within=2.5), "the first bell")
        finally:
            recorder.stop()
        # Gone in the middle of the bell, as a crashed server or a dead audio driver would be.
        time.sleep(1)
        server.kill()
        time.sleep(0.5)

        # Pressed again: the press stops the bell that can no longer end, and its first bell falls two seconds
        # later. Neither may hold up the window, the clock or the later reminders.
        self.ring_now_at_the_start_of_a_second(program)
        ticks = self.tick_count(program)
        time.sleep(4)
        self.assertGreaterEqual(self.tick_count(program) - ticks, 3, "the clock must keep ticking")
        self.assertIsNone(program.process.poll())
        # The bell lost to the stuck sound output is reported, in one box.
        wait_for(lambda: program.log_matches(r"vlm\.sound: sound failed: "), 10, what="the lost bell's report")
        self.assertEqual(len(program.message_windows()), 1)

        # The server back; a little later the next ring is heard.
        server.start()
        time.sleep(6)
        recorder = Recorder(server)
        try:
            due = self.ring_now_at_the_start_of_a_second(program)
            self.assertIsNotNone(recorder.onset_after(due - 0.5, within=2.5), "a bell with the server back")
        finally:
            recorder.stop()
        ticks = self.tick_count(program)
        time.sleep(2.5)
        self.assertGreaterEqual(self.tick_count(program) - ticks, 2, "the clock must keep ticking")
        self.assertEqual(len(program.log_matches(r"vlm\.sound: sound failed: ")), 1, program.log_lines())

        # The tray's exit ends the process, and with it the single-instance lock: the next start runs.
        self.exit_from_tray(program)
        self.assertEqual(program.process.wait(10), 0)
        self.assertEqual(len(program.settings()), 684)
        program.start()
        wait_for(lambda: len(program.log_matches(r"vlm\.window: started")) == 2, 30, what="a new start")

    def exit_from_tray(self, program):
        """Chooses "結束程式(&E)" in the tray icon's menu, as a user would."""
        before = set(run("xdotool", "search", "--onlyvisible", "--class", "vlm.exe", check=False).split())
        program.click_tray(3)
        wait_for(program.window_visible, 5, what="a right click to show the window")
        menu = wait_for(lambda: set(run("xdotool", "search", "--onlyvisible", "--class", "vlm.exe",
                                        check=False).split())
                        - before - {str(program.main_window())} - {str(w) for w in program.message_windows()},
                        5, what="the tray menu")
        time.sleep(0.3)
        # "結束程式(&E)" is the menu's last entry.
        x, y, width, height = program.geometry(min(menu))
        click_at((x + width // 2, y + height - 8))

    def test_deep_program_folder_rings(self):
        # A program folder so deep that the bells' paths are 260 characters and more: MCI takes no such path.
        program = self.program(settings=settings_bytes(), subfolder="d" * 236)
        self.assertGreaterEqual(len(program.program_dir + "\\bell1.wav"), 260)
        self.recorder = Recorder()
        program.start()
        wait_for(lambda: self.tick_count(program) >= 2, 60, what="the program to start and tick")
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.3)
        due = self.ring_now_at_the_start_of_a_second(program)
        self.assertIsNotNone(self.recorder.onset_after(due - 0.5, within=2.5), "no bell from the deep folder")
        self.assertEqual(program.log_matches(r"sound failed|cue \d+ failed"), [])

    def test_run_value_follows_the_box(self):
        program = self.program(settings=settings_bytes(autostart=True))
        self.start_and_settle(program)
        expected = '"%s\\VLM.exe"' % program.program_dir
        self.assertEqual(reg_query(RUN_KEY, "VLM"), ("REG_SZ", expected))
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.3)
        program.click_in_window(*AUTOSTART_BOX)
        wait_for(lambda: reg_query(RUN_KEY, "VLM") is None, 10, what="the Run value to go")
        self.assertEqual(program.settings()[-4:], b"\0\0\0\0")

    def test_legacy_files_go_and_the_rest_stays(self):
        legacy = os.path.join(prefix(), "drive_c", "Program Files", "VLM")
        shutil.rmtree(legacy, ignore_errors=True)
        os.makedirs(legacy)
        try:
            for name in LEGACY_NAMES[:-1]:
                with open(os.path.join(legacy, name), "w") as f:
                    f.write("old")
            os.makedirs(os.path.join(legacy, "vlm.cfg"))  # a folder with a legacy name stays
            with open(os.path.join(legacy, "notes.txt"), "w") as f:
                f.write("mine")
            program = self.program(settings=settings_bytes())
            self.start_and_settle(program)
            # The files go one by one: the final state is waited for, not the first deletion.
            wait_for(lambda: sorted(os.listdir(legacy)) == ["notes.txt", "vlm.cfg"], 5, what="the cleanup")
            self.assertTrue(os.path.isdir(os.path.join(legacy, "vlm.cfg")))
        finally:
            shutil.rmtree(legacy, ignore_errors=True)

    def test_read_only_settings_file_says_so_and_the_clock_goes_on(self):
        program = self.program(settings=settings_bytes())
        os.chmod(program.config_path, 0o444)
        # Nor can the user's own folder be made (a file is in its way): nowhere to keep the settings.
        with open(self.user_folder(), "w") as f:
            f.write("in the way")
        self.start_and_settle(program)
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.3)
        program.click_in_window(*HOUR_ITEM_0_BOX)
        wait_for(program.message_windows, 5, what="the save message")
        self.assertTrue(program.log_matches(r"message  更改設定存檔錯誤 $"))
        ticks = len(program.tick_lateness_ms())
        time.sleep(2.5)
        self.assertGreaterEqual(len(program.tick_lateness_ms()) - ticks, 2, "the clock must keep ticking")
        self.assertEqual(len(program.message_windows()), 1)

    def test_second_start_shows_the_first(self):
        program = self.program(settings=settings_bytes())
        self.start_and_settle(program)
        second = program.start_second()
        self.assertEqual(second.returncode, 0)
        wait_for(program.window_visible, 5, what="the first copy's window")
        self.assertIsNone(program.process.poll())
        self.assertEqual(len(program.log_matches(r"vlm\.window: started")), 1)

    @classmethod
    def tearDownClass(cls):
        if cls.lateness:
            late = sorted(cls.lateness)
            print(f"tick lateness over {len(late)} ticks: median {statistics.median(late)} ms, "
                  f"worst {late[-1]} ms", file=sys.stderr)
        super().tearDownClass()



class WindowsReadOnlyFolder(WineDesktopCase):
    """A program folder on a read-only medium. Wine's server opens the files for its programs, so the program runs
    with a server of its own inside a private mount namespace; these cases run after the others, since the sound of
    the programs started after such a restart of the server is not reliably heard."""

    @unittest.skipUnless(os.geteuid() == 0, "a read-only mount needs root")
    def test_read_only_program_folder_keeps_the_settings_in_the_user_folder(self):
        user_config = os.path.join(self.user_folder(), "vlm1.cfg")
        program = self.program(settings=settings_bytes(bell=1))
        before = program.settings()
        # Wine's server opens the files for its programs, so it must see the read-only folder too: the program
        # starts a server of its own inside the private mount namespace, which goes when the case ends.
        env = dict(os.environ, WINEPREFIX=prefix())
        subprocess.run(["wineserver", "-k"], env=env, check=False)
        subprocess.run(["wineserver", "-w"], env=env, check=False)

        def end_server():
            program.stop()
            subprocess.run(["wineserver", "-k"], env=env, check=False)
            subprocess.run(["wineserver", "-w"], env=env, check=False)
            # The shared prefix's server back as the test command left it, outside the namespace and up for good.
            subprocess.run([WINE_RUN, "--boot"], env=env, check=False, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=180)
        self.addCleanup(end_server)
        program.launcher = desktop.read_only_launcher(program.dir)
        self.start_and_settle(program)
        program.click_tray(1)
        wait_for(program.window_visible, 5, what="the window")
        time.sleep(0.3)
        program.click_in_window(*HOUR_ITEM_0_BOX)
        wait_for(lambda: os.path.exists(user_config), 10, what="the settings in the user's folder")
        time.sleep(1)
        self.assertEqual(program.message_windows(), [], "no message")
        self.assertEqual(program.log_matches(r"vlm\.window: message"), [])
        with open(user_config, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 684)
        self.assertEqual(data[4:8], b"\2\0\0\0", "the bell choice read beside the program")
        self.assertEqual(sum(data[8:680]), 1, "the one hour ticked")
        self.assertEqual(program.settings(), before, "the file beside the program is left as it was")

if __name__ == "__main__":
    WineDesktopCase.program_dir = sys.argv[1]
    if len(sys.argv) > 2:
        SCREENSHOT = sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
