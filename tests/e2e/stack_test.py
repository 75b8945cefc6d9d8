#!/usr/bin/python3
"""What a user must get on every desktop stack, one table of cases run on the stack the test command started
(VLM_TEST_STACK): X11 with an XEmbed tray and PulseAudio, Wayland with a StatusNotifierItem tray and PipeWire, X11
with a StatusNotifierItem tray. Each stack is reached as its users reach it: the mouse (xdotool) on X11, the tray's
D-Bus calls on the SNI trays, the accessibility bus on the headless Wayland compositor (which has no input device).

Usage: stack_test.py PROGRAM_DIR [SCREENSHOT_DIR]
"""

import datetime as dt
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import STACK, WAYLAND, Recorder, reference_to_epoch, settings_bytes, wait_for  # noqa: E402

SCREENSHOT_DIR = None
ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "icons")
RING_NOW = (197 + 62, 204 + 21)
MENU = [("顯示視窗(&S)", "standard"), ("", "separator"), ("結束程式(&E)", "standard")]
BUTTONS = {"left": 1, "middle": 2, "right": 3}


class XEmbedTray:
    """The program's icon in trayer, pressed with the mouse."""

    def __init__(self, program):
        self.program = program

    def wait(self):
        wait_for(self.program.tray_icon, 5, what="the tray icon")

    def press(self, button):
        self.program.click_tray(BUTTONS[button])

    def exit_from_menu(self):
        before = set(desktop.run("xdotool", "search", "--onlyvisible", "--class", "VLM", check=False).split())
        self.program.click_tray(3)
        wait_for(lambda: set(desktop.run("xdotool", "search", "--onlyvisible", "--class", "VLM",
                                         check=False).split()) - before - {str(self.program.main_window())},
                 3, what="the tray menu")
        time.sleep(0.3)
        desktop.run("xdotool", "key", "e")


class SniTray:
    """The program's StatusNotifierItem, driven as a tray host drives it: a left click calls Activate, a middle
    click SecondaryActivate, a right click opens the exported menu (AboutToShow, then GetLayout)."""

    def __init__(self, program):
        import sni

        self.sni = sni
        self.program = program
        self.item = None

    def _own_item(self):
        for registered in self.sni.registered_items():
            item = self.sni.TrayItem(registered)
            pid = item.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetConnectionUnixProcessID", self.sni.GLib.Variant("(s)", (item.service,)),
                                     None, 0, 2000, None).unpack()[0]
            if pid == self.program.process.pid:
                return item
        return None

    def wait(self):
        self.item = wait_for(self._own_item, 5, what="the tray item")
        return self.item

    def press(self, button):
        if button == "left":
            self.item.activate()
        elif button == "middle":
            self.item.secondary_activate()
        else:
            self.item.menu_entries()

    def exit_from_menu(self):
        self.item.click_menu_entry("結束程式(&E)")


class WindowButtons:
    """Presses a button of the window: with the mouse on X11, through the accessibility bus on Wayland."""

    def __init__(self, program):
        self.program = program

    def press(self, position, name):
        if not WAYLAND:
            self.program.click_in_window(*position)
            return
        import atspi

        access = atspi.Accessibility()
        try:
            button = wait_for(lambda: access.find("VLM", "push button", name), 5, what=f"the button {name}")
            access.press(button)
        finally:
            access.close()


def argb_pixels(path, size):
    """The PNG at `path` as ARGB bytes, the byte order of a tray item's IconPixmap."""
    rgba = subprocess.run(["convert", path, "-resize", f"{size}x{size}", "-depth", "8", "rgba:-"], check=True,
                          capture_output=True).stdout
    out = bytearray(len(rgba))
    out[0::4], out[1::4], out[2::4], out[3::4] = rgba[3::4], rgba[0::4], rgba[1::4], rgba[2::4]
    return bytes(out)


def premultiplied_difference(a, b):
    """The largest difference between two ARGB images once colour is weighed by opacity (a toolkit may keep colour
    premultiplied, which rounds it where the image is nearly transparent)."""
    worst = 0
    for i in range(0, len(a), 4):
        worst = max(worst, abs(a[i] - b[i]))
        for c in range(1, 4):
            worst = max(worst, abs(a[i + c] * a[i] - b[i + c] * b[i]) // 255)
    return worst if len(a) == len(b) else 255


class Stack(desktop.DesktopCase):
    @classmethod
    def setUpClass(cls):
        warnings.simplefilter("ignore", ImportWarning)  # python3-gi's importer, on every import
        super().setUpClass()
        if WAYLAND:
            import atspi

            atspi.turn_on()

    def assert_up_at_start_until_the_first_tick(self, program):
        program.start()
        seen = desktop.watch_window(3.0)
        shown = [t for t, up in seen if up]
        self.assertTrue(shown, "the window was never on the screen")
        gone = [t for t, up in seen if not up and t > shown[0]]
        self.assertTrue(gone, "the window stayed on the screen")
        self.assertLess(gone[0] - program.started, 2.0, "off the screen after the first tick")
        self.assertGreater(gone[0] - program.started, 1.0, "off the screen only at the first tick")
        self.assertFalse(seen[-1][1], "the window came back")

    def tray(self, program):
        return XEmbedTray(program) if STACK == "x11" else SniTray(program)

    def test_window_shows_at_start_then_hides_to_the_tray_item(self):
        program = self.program(settings=settings_bytes())
        self.assert_up_at_start_until_the_first_tick(program)
        tray = self.tray(program)
        item = tray.wait()
        if item:
            self.assertEqual(item.property("ToolTip")[2], "Vellimor")
            # The bell icon itself, in the sizes a tray picks from.
            pixmaps = {w: data for w, h, data in item.icon_pixmaps() if w == h}
            for size in (16, 22, 32):
                self.assertIn(size, pixmaps)
                self.assertLessEqual(premultiplied_difference(
                    pixmaps[size], argb_pixels(os.path.join(ICONS, f"vlm-{size}.png"), size)), 2, size)
        self.assertIsNone(program.process.poll())

    def test_any_press_on_the_tray_item_shows_the_window(self):
        for button in BUTTONS:
            with self.subTest(button=button):
                program = self.program(settings=settings_bytes())
                self.start_and_settle(program)
                tray = self.tray(program)
                tray.wait()
                tray.press(button)
                wait_for(program.window_visible, 3, what=f"a {button} press to show the window")
                program.stop()

    def test_menu_exit_ends_with_the_settings_saved(self):
        program = self.program(settings=settings_bytes(bell=1))
        self.start_and_settle(program)
        tray = self.tray(program)
        tray.wait()
        if STACK != "x11":
            self.assertEqual([(label, kind) for _, label, kind in tray.item.menu_entries()], MENU)
            tray.item.click_menu_entry("顯示視窗(&S)")
            wait_for(program.window_visible, 3, what="the show entry to show the window")
        os.unlink(program.config_path)
        tray.exit_from_menu()
        self.assertEqual(program.process.wait(5), 0)
        data = program.settings()
        self.assertEqual(len(data), 684)
        self.assertEqual(struct.unpack_from("<i", data, 4)[0], 2, "the bell choice was saved")

    def test_ring_now_is_heard_within_its_second(self):
        program = self.program(settings=settings_bytes())
        self.recorder = Recorder()
        self.start_and_settle(program)
        tray = self.tray(program)
        tray.wait()
        tray.press("left")
        wait_for(program.window_visible, 3, what="the window")
        time.sleep(0.3)
        if SCREENSHOT_DIR:
            self.keep_screenshot(program, tray)
        pressed = time.time()
        WindowButtons(program).press(RING_NOW, "立即Vellimor")
        onset = self.recorder.onset_after(pressed, within=3.0)
        self.assertIsNotNone(onset, "no bell after ring-now")
        # The first bell is due two seconds after the press, on the full second: 1 to 2 s later.
        self.assertGreater(onset - pressed, 0.9)
        self.assertLess(onset - pressed, 2.3)

    def keep_screenshot(self, program, tray):
        """The window as the screen shows it, with the tray icon beside it: drawn from the item's own IconPixmap
        on the SNI trays (the tests' tray has no panel of its own), as trayer shows it on X11."""
        path = os.path.join(SCREENSHOT_DIR, f"e2e-window-{STACK}.png")
        with tempfile.TemporaryDirectory() as folder:
            screen = os.path.join(folder, "screen.png")
            desktop.screenshot(screen)
            if WAYLAND:
                x, y, w, h = desktop.green_area()
                crop = f"{w + 12}x{h + 40}+{max(0, x - 6)}+{max(0, y - 34)}"
            else:
                ox, oy = program.window_origin()
                crop = f"380x290+{max(0, ox - 8)}+{max(0, oy - 30)}"
            window = os.path.join(folder, "window.png")
            desktop.run("convert", screen, "-crop", crop, "+repage", window)
            if STACK == "x11":
                os.replace(window, path)
                return
            w, h, data = next(p for p in tray.item.icon_pixmaps() if p[0] == 22)
            rgba = bytearray(len(data))
            rgba[0::4], rgba[1::4], rgba[2::4], rgba[3::4] = data[1::4], data[2::4], data[3::4], data[0::4]
            icon = os.path.join(folder, "icon.png")
            with open(icon + ".rgba", "wb") as f:
                f.write(rgba)
            desktop.run("convert", "-size", f"{w}x{h}", "-depth", "8", "rgba:" + icon + ".rgba", icon)
            desktop.run("convert", window, "(", "-size", f"{int(crop.split('x')[0])}x32", "xc:#2b2b2b", icon,
                        "-gravity", "east", "-geometry", "+10+0", "-composite", ")", "-append", path)

    def test_scheduled_reminder_window_at_its_cues(self):
        day = dt.date(2025, 3, 13)  # a Thursday
        weekday = (day.weekday() + 1) % 7
        program = self.program(settings=settings_bytes(ticked=[(weekday, 14)]), short_sounds=True)
        self.recorder = Recorder()
        ref = lambda h, m, s: reference_to_epoch(day.year, day.month, day.day, h, m, s)  # noqa: E731
        program.set_reference_now(ref(14, 52, 50))
        self.start_and_settle(program)
        cues = [(14, 53, 0), (14, 55, 0), (15, 0, 0), (15, 5, 0), (15, 10, 0)]
        for i, (h, m, s) in enumerate(cues):
            if i > 0:
                program.set_reference_now(ref(h, m, s) - 5)
            due_wall = ref(h, m, s) - program.offset
            onset = self.recorder.onset_after(due_wall - 0.5, within=2.5)
            self.assertIsNotNone(onset, f"cue {i} at {h:02}:{m:02}:{s:02} was not heard")
            self.assertGreaterEqual(onset - due_wall, -0.05, f"cue {i} sounded before its second")
            self.assertLess(onset - due_wall, 1.0, f"cue {i} sounded late")
            if i < len(cues) - 1:
                self.assertTrue(program.window_visible(), f"the window is shown at cue {i}")
        wait_for(lambda: not program.window_visible(), 3, what="the window to hide after the last cue")

    def test_second_start_shows_the_first(self):
        program = self.program(settings=settings_bytes())
        self.start_and_settle(program)
        second = program.start_second()
        self.assertEqual(second.returncode, 0)
        wait_for(program.window_visible, 3, what="the first program's window")
        self.assertIsNone(program.process.poll())

    def test_tray_going_away_and_coming_back(self):
        program = self.program(settings=settings_bytes())
        self.start_and_settle(program)
        self.session.stop_tray()
        try:
            # No way back from hidden: the window goes to the taskbar.
            wait_for(lambda: program.log_matches(r"vlm\.window: minimised"), 5, what="the window to go to the taskbar")
        finally:
            self.session.start_tray()
        # The icon comes back into the new tray, and works.
        tray = self.tray(program)
        tray.wait()
        tray.press("left")
        wait_for(program.window_visible, 3, what="the icon to show the window")

    def test_without_a_tray_the_window_goes_to_the_taskbar(self):
        self.session.stop_tray()
        try:
            program = self.program(settings=settings_bytes())
            self.assert_up_at_start_until_the_first_tick(program)
            if WAYLAND:
                # Minimised: off the screen (weston has no taskbar to show it in) but not hidden.
                self.assertTrue(program.log_matches(r"vlm\.window: minimised"))
                self.assertFalse(program.log_matches(r"vlm\.window: hidden"))
            else:
                main = program.main_window()
                wait_for(lambda: desktop.iconic(main), 3, what="the window to go to the taskbar")
            # A reminder (here a second start) brings it back from the taskbar.
            self.assertEqual(program.start_second().returncode, 0)
            wait_for(program.window_visible, 3, what="the window back on the screen")
            if not WAYLAND:
                self.assertFalse(desktop.iconic(program.main_window()))
        finally:
            self.session.start_tray()


if __name__ == "__main__":
    desktop.DesktopCase.program_dir = os.path.abspath(sys.argv[1])
    SCREENSHOT_DIR = sys.argv[2] if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
