#!/usr/bin/env python3
"""The whole program as a user runs it: a real X server, window manager, notification area and sound server.

Usage: e2e_test.py PROGRAM_DIR [SCREENSHOT_PNG]
"""

import datetime as dt
import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import Recorder, reference_to_epoch, settings_bytes, wait_for  # noqa: E402

SCREENSHOT = None

# Positions of controls inside the window's client area.
RING_NOW = (197 + 62, 204 + 21)
AUTOSTART_BOX = (184 + 7, 170 + 8)
HOUR_ITEM_0 = (16 + 2 + 9, 50 + 2 + 8)


class EndToEnd(desktop.DesktopCase):
    def test_start_tray_close_and_exit(self):
        program = self.program(settings=settings_bytes())
        program.start()
        wait_for(program.window_visible, 10, what="the window to show")
        wait_for(lambda: not program.window_visible(), 5, what="the window to hide")
        # How long it was up is timed by the program's own log: a busy machine looks at the screen too slowly.
        hidden_after = program.log_seconds(r"vlm\.window: hidden") - program.log_seconds(r"vlm\.window: started")
        self.assertGreater(hidden_after, 0.5)
        self.assertLess(hidden_after, 2.0)
        self.assertIsNotNone(wait_for(program.tray_icon, 5, what="the tray icon"))

        program.click_tray(1)
        wait_for(program.window_visible, 3, what="a click on the icon to show the window")

        # The close box in the title bar, and Alt+F4, only hide (both through the window manager).
        x, y = program.window_origin()
        desktop.run("xdotool", "mousemove", str(x + 364 - 10), str(y - 11))
        time.sleep(0.2)
        desktop.click(1)
        wait_for(lambda: not program.window_visible(), 3, what="the close box to hide the window")
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        desktop.run("xdotool", "windowactivate", "--sync", str(program.main_window()), check=False)
        desktop.run("xdotool", "key", "alt+F4")
        desktop.run("xdotool", "keyup", "alt")
        wait_for(lambda: not program.window_visible(), 3, what="Alt+F4 to hide the window")
        time.sleep(0.5)
        self.assertIsNone(program.process.poll(), "the program must keep running")

        # A right click shows the window and opens the menu; its exit entry ends the program.
        before = set(desktop.run("xdotool", "search", "--onlyvisible", "--class", "VLM", check=False).split())
        program.click_tray(3)
        wait_for(program.window_visible, 3, what="a right click to show the window")
        wait_for(lambda: set(desktop.run("xdotool", "search", "--onlyvisible", "--class", "VLM",
                                         check=False).split()) - before - {str(program.main_window())},
                 3, what="the tray menu")
        time.sleep(0.3)
        desktop.run("xdotool", "key", "e")
        self.assertEqual(program.process.wait(5), 0)
        self.assertEqual(len(program.settings()), 684)

    def test_scheduled_reminder(self):
        # Hour 14 ticked on the day the shifted clock shows (local zone = reference zone here).
        day = dt.date(2025, 3, 13)  # a Thursday
        weekday = (day.weekday() + 1) % 7
        program = self.program(settings=settings_bytes(rotation=5, ticked=[(weekday, 14)]), short_sounds=True)
        self.recorder = Recorder()
        ref = lambda h, m, s: reference_to_epoch(day.year, day.month, day.day, h, m, s)  # noqa: E731
        program.set_reference_now(ref(14, 52, 50))
        self.start_and_settle(program)

        cues = [(14, 53, 0), (14, 55, 0), (15, 0, 0), (15, 5, 0), (15, 10, 0)]
        onsets = []
        for i, (h, m, s) in enumerate(cues):
            if i > 0:
                program.set_reference_now(ref(h, m, s) - 5)
            due_wall = ref(h, m, s) - program.offset
            onset = self.recorder.onset_after(due_wall - 0.5, within=2.5)
            self.assertIsNotNone(onset, f"cue {i} at {h:02}:{m:02}:{s:02} was not heard")
            onsets.append(onset - due_wall)
            if i < len(cues) - 1:
                self.assertTrue(program.window_visible(), f"the window is shown at cue {i}")
        wait_for(lambda: not program.window_visible(), 3, what="the window to hide after the last cue")
        for i, delay in enumerate(onsets):
            self.assertGreaterEqual(delay, -0.05, f"cue {i} sounded before its second")
            self.assertLess(delay, 1.0, f"cue {i} sounded {delay:.3f} s after its second")
        self.assertGreaterEqual(len(program.log_matches(r"vlm\.window: show")), len(cues))
        self.assertEqual(struct.unpack_from("<i", program.settings())[0], 6)
        print("cue onsets after their second (ms):", [round(d * 1000) for d in onsets], file=sys.stderr)

    def test_ring_now(self):
        program = self.program(settings=settings_bytes())
        self.recorder = Recorder()
        self.start_and_settle(program)
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        time.sleep(0.3)
        if SCREENSHOT:
            desktop.run("import", "-window", "root", "-crop", "380x290+%d+%d" % tuple(
                max(0, c - 8) for c in _frame_origin(program)), SCREENSHOT, check=False)
        clicked = time.time()
        program.click_in_window(*RING_NOW)
        onset = self.recorder.onset_after(clicked, within=3.0)
        self.assertIsNotNone(onset, "no bell after ring-now")
        self.assertGreater(onset - clicked, 0.9)
        self.assertLess(onset - clicked, 2.3)

    def test_first_start_without_settings(self):
        program = self.program()
        program.start()
        message = wait_for(lambda: program.log_matches("vlm.window: message"), 10, what="the load message")
        self.assertTrue(message[0].endswith("message \u3000開啟vlm1.cfg 錯誤!\u3000"), message[0])
        # The box stays up while the clock goes on ticking.
        ticks = len(program.log_matches(r"vlm\.tick: tick"))
        time.sleep(3.2)
        self.assertGreaterEqual(len(program.log_matches(r"vlm\.tick: tick")) - ticks, 3)
        boxes = program.windows()
        self.assertEqual(len(boxes), 1, "the message box is up (the main window has hidden behind it)")
        self.assertFalse(program.window_visible())
        self.assertFalse(os.path.exists(program.config_path))

        # Once the message is closed the window is back, and stays.
        desktop.run("xdotool", "windowactivate", "--sync", str(boxes[0]), check=False)
        desktop.run("xdotool", "key", "Return")
        wait_for(program.window_visible, 3, what="the window to show once the message is closed")
        time.sleep(2.2)
        self.assertTrue(program.window_visible(), "the window stays up")
        self.assertEqual(program.windows(), [program.main_window()])
        program.click_in_window(*HOUR_ITEM_0)
        wait_for(lambda: os.path.exists(program.config_path), 3, what="the first save")
        data = program.settings()
        self.assertEqual(len(data), 684)

    def test_autostart_entry_follows_the_box(self):
        program = self.program(settings=settings_bytes(autostart=True))
        entry = os.path.join(program.config_home, "autostart", "VLM.desktop")
        self.start_and_settle(program)
        with open(entry, encoding="utf-8") as f:
            text = f.read()
        self.assertIn(f'Exec="{program.dir}/VLM"', text)
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        program.click_in_window(*AUTOSTART_BOX)
        wait_for(lambda: not os.path.exists(entry), 3, what="the entry to go")
        self.assertEqual(program.settings()[680], 0)


def _frame_origin(program):
    x, y = program.window_origin()
    return x, y - 22


if __name__ == "__main__":
    desktop.DesktopCase.program_dir = os.path.abspath(sys.argv[1])
    SCREENSHOT = sys.argv[2] if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
