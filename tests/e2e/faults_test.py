#!/usr/bin/env python3
"""The program attacked as a user's desktop would: failing sounds and saves, odd settings files, copies started
together, the clock set back, the notification area going away. Real X server, window manager, notification area
and sound server, as in e2e_test.py.

Usage: faults_test.py PROGRAM_DIR
"""

import datetime as dt
import os
import re
import signal
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import Recorder, frame_extents, iconic, reference_to_epoch, settings_bytes, wait_for  # noqa: E402


RING_NOW = (197 + 62, 204 + 21)
HOUR_ITEM_0 = (16 + 2 + 9, 50 + 2 + 8)
SAVE_FAILED = " 更改設定存檔錯誤 "


def stacking():
    """Top-level windows managed by the window manager, bottom to top."""
    out = desktop.run("xprop", "-root", "_NET_CLIENT_LIST_STACKING")
    return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]


def transient_for(window):
    out = desktop.run("xprop", "-id", str(window), "WM_TRANSIENT_FOR", check=False)
    m = re.search(r"window id # (0x[0-9a-f]+)", out)
    return int(m.group(1), 16) if m else None


def client_list():
    """Windows on the taskbar (managed, not withdrawn)."""
    out = desktop.run("xprop", "-root", "_NET_CLIENT_LIST")
    return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]


class Faults(desktop.DesktopCase):
    def setUp(self):
        super().setUp()
        self.extra = []

    def tearDown(self):
        for process in self.extra:
            if process.poll() is None:
                process.kill()
                process.wait()
        super().tearDown()

    def message_boxes(self, program):
        main = program.main_window()
        # Without the main window in sight (being mapped again, say) nothing can be told apart from it.
        if main is None:
            return []
        return [w for w in program.windows() if w != main]

    def test_message_boxes_stay_above_the_window_one_per_text(self):
        program = self.program(settings=settings_bytes())
        # A bell the decoder can't read: every cue of a reminder fails the same way.
        os.unlink(os.path.join(program.dir, "bell1.wav"))
        with open(os.path.join(program.dir, "bell1.wav"), "wb") as f:
            f.write(b"not a sound at all" * 10)
        self.start_and_settle(program)
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        program.click_in_window(*RING_NOW)
        box = wait_for(lambda: self.message_boxes(program), 5, what="the failure's box")[0]
        main = program.main_window()
        self.assertEqual(transient_for(box), main, "the box belongs to the main window")

        # The next three cues fail too and each brings the window up: still one box, above the window.
        for cue in range(1, 4):
            program.set_reference_now(program.fake_now() + 300 - 3, keep_phase=True)
            wait_for(lambda: len(program.log_matches(r"vlm\.window: message")) > cue, 8,
                     what=f"cue {cue} to fail")
            time.sleep(0.3)
            self.assertEqual(len(self.message_boxes(program)), 1)
            if program.window_visible():
                order = stacking()
                self.assertGreater(order.index(box), order.index(main), "the box is above the window")
        # Hidden and shown again: the box stays above.
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        time.sleep(0.3)
        order = stacking()
        self.assertGreater(order.index(box), order.index(main))
        self.assertIsNone(program.process.poll())

    def block_user_folder(self, program):
        """No folder of the user's own can be made (a file is in its way): a save that can't be made beside the
        program has nowhere else to go."""
        with open(os.path.dirname(program.user_config_path), "w") as f:
            f.write("in the way")

    def test_exit_with_a_failed_save_waits_for_the_user(self):
        program = self.program(settings=settings_bytes())
        os.chmod(program.config_path, 0o444)
        self.block_user_folder(program)
        self.start_and_settle(program)
        program.click_tray(3)
        wait_for(program.window_visible, 3, what="a right click to show the window")
        time.sleep(0.5)
        desktop.run("xdotool", "key", "e")
        box = wait_for(lambda: self.message_boxes(program), 5, what="the failed save's box")[0]
        self.assertTrue(program.log_matches("message " + re.escape(SAVE_FAILED) + "$"))
        time.sleep(1.5)
        self.assertIsNone(program.process.poll(), "the program waits until the user has read the box")
        desktop.run("xdotool", "windowactivate", "--sync", str(box), check=False)
        desktop.run("xdotool", "key", "Return")
        self.assertEqual(program.process.wait(5), 0)

    def test_sigterm_with_a_failed_save_ends_at_once(self):
        program = self.program(settings=settings_bytes())
        os.chmod(program.config_path, 0o444)
        self.block_user_folder(program)
        self.start_and_settle(program)
        program.process.send_signal(signal.SIGTERM)
        self.assertEqual(program.process.wait(3), 0)

    def test_copies_started_together_leave_one(self):
        program = self.program(settings=settings_bytes())
        base = program.environment()
        # Runtime folders as different ways of starting give them: unset, different, or with a folder where the
        # old rendezvous lived.
        odd = os.path.join(program.root, "odd-runtime")
        os.makedirs(os.path.join(odd, f"VLM-{os.getuid()}.instance"))
        variants = [None, program.runtime, os.path.join(program.root, "other-runtime"), odd]
        os.makedirs(variants[2], mode=0o700)
        for round_ in range(3):
            copies = []
            for i in range(15):
                env = dict(base)
                runtime = variants[i % len(variants)]
                if runtime is None:
                    env.pop("XDG_RUNTIME_DIR", None)
                else:
                    env["XDG_RUNTIME_DIR"] = runtime
                copies.append(subprocess.Popen([os.path.join(program.dir, "VLM")], env=env,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            self.extra.extend(copies)
            time.sleep(5)
            running = [c for c in copies if c.poll() is None]
            self.assertEqual(len(running), 1, f"round {round_}: {len(running)} copies kept running")
            for c in copies:
                if c.poll() is None:
                    c.terminate()
                    c.wait(5)
                self.assertEqual(c.returncode, 0)

    def click_first_hour(self, program):
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        time.sleep(0.3)
        program.click_in_window(*HOUR_ITEM_0)

    def today(self, program):
        return int(time.strftime("%w", time.gmtime(program.fake_now() + 8 * 3600)))

    @unittest.skipUnless(os.geteuid() == 0, "a read-only mount needs root")
    def test_read_only_program_folder_keeps_the_settings_in_the_user_folder(self):
        # Three strokes chosen, read from beside the program: the starting point of the user's own file.
        program = self.program(settings=settings_bytes(bell=1))
        before = program.settings()
        program.launcher = desktop.read_only_launcher(program.dir)
        self.start_and_settle(program)
        self.click_first_hour(program)
        wait_for(lambda: os.path.exists(program.user_config_path), 5, what="the user's settings file")
        time.sleep(0.5)
        self.assertEqual(program.log_matches(r"vlm\.window: message"), [], "no message")
        self.assertEqual(self.message_boxes(program), [])
        with open(program.user_config_path, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 684)
        self.assertEqual(struct.unpack_from("<i", data, 4)[0], 2, "the bell choice read beside the program")
        self.assertEqual(struct.unpack_from("<i", data, 8 + 4 * self.today(program) * 24)[0], 1, "the new hour")
        self.assertEqual(program.settings(), before, "the file beside the program is left as it was")
        self.assertTrue(program.log_matches(r"vlm\.settings: .*the settings live in " + re.escape(program.user_config_path)))
        # The exit save goes there too, without a word.
        program.process.send_signal(signal.SIGTERM)
        self.assertEqual(program.process.wait(5), 0)
        self.assertEqual(program.log_matches(r"cannot save"), [])

    @unittest.skipUnless(os.geteuid() == 0, "a read-only mount needs root")
    def test_folder_taking_no_new_files_is_saved_in_place(self):
        program = self.program()
        # The file may be written, its folder takes no new file (no temporary copy for an atomic save).
        real = os.path.join(program.root, "real-vlm1.cfg")
        with open(real, "wb") as f:
            f.write(settings_bytes(bell=1))
        with open(program.config_path, "wb") as f:
            f.write(b"")
        program.launcher = desktop.read_only_launcher(program.dir, real)
        self.start_and_settle(program)
        before = os.stat(real).st_mtime_ns
        self.click_first_hour(program)
        wait_for(lambda: os.stat(real).st_mtime_ns != before, 5, what="the save in place")
        time.sleep(0.5)
        self.assertEqual(self.message_boxes(program), [])
        with open(real, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 684)
        self.assertEqual(struct.unpack_from("<i", data, 4)[0], 2)
        self.assertEqual(struct.unpack_from("<i", data, 8 + 4 * self.today(program) * 24)[0], 1)
        self.assertFalse(os.path.exists(program.user_config_path), "the settings stay beside the program")
        self.assertTrue(program.log_matches(r"vlm\.settings: wrote .*vlm1\.cfg in place"))

    def test_fifo_settings_file_does_not_hang_the_start(self):
        program = self.program()
        os.mkfifo(program.config_path)
        program.start()
        message = wait_for(lambda: program.log_matches("vlm.window: message"), 10, what="the load message")
        self.assertTrue(message[0].endswith("message \u3000開啟vlm1.cfg 錯誤!\u3000"), message[0])
        ticks = len(program.log_matches(r"vlm\.tick: tick"))
        time.sleep(2.2)
        self.assertGreaterEqual(len(program.log_matches(r"vlm\.tick: tick")) - ticks, 2, "the clock ticks")
        program.process.send_signal(signal.SIGTERM)
        self.assertEqual(program.process.wait(3), 0)

    def test_linked_settings_file_stays_a_link(self):
        program = self.program()
        elsewhere = os.path.join(program.root, "synced")
        os.makedirs(elsewhere)
        target = os.path.join(elsewhere, "vlm1.cfg")
        with open(target, "wb") as f:
            f.write(settings_bytes())
        os.symlink(target, program.config_path)
        # What a save killed half-way in an earlier run left behind.
        stale = program.config_path + ".saving-999999999-Ab12Cd"
        with open(os.path.join(elsewhere, os.path.basename(stale)), "wb") as f:
            f.write(b"half")
        self.start_and_settle(program)
        self.assertFalse(os.path.exists(os.path.join(elsewhere, os.path.basename(stale))))
        program.click_tray(1)
        wait_for(program.window_visible, 3, what="the window")
        before = os.stat(target).st_mtime_ns
        program.click_in_window(*HOUR_ITEM_0)
        wait_for(lambda: os.stat(target).st_mtime_ns != before, 3, what="the save")
        self.assertTrue(os.path.islink(program.config_path))
        with open(target, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 684)
        weekday = int(time.strftime("%w", time.gmtime(program.fake_now() + 8 * 3600)))
        self.assertEqual(struct.unpack_from("<i", data, 8 + 4 * weekday * 24)[0], 1)

    def test_clock_set_back_ends_the_reminder(self):
        day = dt.date(2025, 3, 13)  # a Thursday
        weekday = (day.weekday() + 1) % 7
        program = self.program(settings=settings_bytes(ticked=[(weekday, 14)]), short_sounds=True)
        self.recorder = Recorder()
        ref = lambda h, m, s: reference_to_epoch(day.year, day.month, day.day, h, m, s)  # noqa: E731
        program.set_reference_now(ref(14, 59, 50))
        self.start_and_settle(program)
        due = ref(15, 0, 0) - program.offset
        self.assertIsNotNone(self.recorder.onset_after(due - 0.5, within=2.5), "the 15:00 bell")
        self.assertTrue(program.window_visible())

        # Back an hour: the old reminder ends and its window goes.
        program.set_reference_now(ref(14, 0, 30), keep_phase=True)
        wait_for(lambda: not program.window_visible(), 3, what="the window to hide after the clock went back")
        # The hour comes round again: it arms afresh and its bell rings.
        program.set_reference_now(ref(14, 54, 50), keep_phase=True)
        due = ref(14, 55, 0) - program.offset
        self.assertIsNotNone(self.recorder.onset_after(due - 0.5, within=2.5), "the 14:55 bell, again")
        self.assertTrue(program.window_visible())

    def test_sound_comes_back_after_the_sound_server(self):
        day = dt.date(2025, 3, 13)
        weekday = (day.weekday() + 1) % 7
        server = desktop.SoundServer()
        self.addCleanup(server.cleanup)
        program = self.program(settings=settings_bytes(ticked=[(weekday, 14)]), short_sounds=True)
        program.extra_env = {"PULSE_SERVER": server.address}
        ref = lambda h, m, s: reference_to_epoch(day.year, day.month, day.day, h, m, s)  # noqa: E731

        def heard(server_up, h, m, s):
            """Brings the clock just before the cue at h:m:s; whether its sound reaches the sink."""
            recorder = Recorder(server) if server_up else None
            try:
                program.set_reference_now(ref(h, m, s) - 3, keep_phase=True)
                due = ref(h, m, s) - program.offset
                if recorder is None:
                    wait_for(lambda: program.log_matches(rf"cue \d+ failed"), 6, what=f"the {h}:{m:02} cue to fail")
                    return False
                return recorder.onset_after(due - 0.5, within=2.5) is not None
            finally:
                if recorder:
                    recorder.stop()

        # No server at start; one comes before the first cue, which plays.
        program.set_reference_now(ref(14, 52, 40))
        self.start_and_settle(program)
        server.start()
        self.assertTrue(heard(True, 14, 53, 0), "the prelude, with a server that came after the program")
        # Killed and started again between two cues: the next cue plays.
        server.kill()
        server.start()
        self.assertTrue(heard(True, 14, 55, 0), "the 14:55 bell after a server restart")
        # Down at a cue: it is reported once and counts as played; back for the next, which plays.
        server.kill()
        heard(False, 15, 0, 0)
        failures = program.log_matches(r"cue \d+ failed: ")
        self.assertEqual(len(failures), 1, failures)
        box = wait_for(lambda: self.message_boxes(program), 5, what="the failure's box")
        self.assertEqual(len(box), 1)
        self.assertTrue(program.log_matches(r"vlm\.window: message "), "the failure's text is shown")
        server.start()
        self.assertTrue(heard(True, 15, 5, 0), "the 15:05 bell with the server back")
        self.assertEqual(len(program.log_matches(r"cue \d+ failed: ")), 1)
        self.assertIsNone(program.process.poll())

    def test_frame_is_centred_on_the_screen(self):
        # On the whole screen, not on the part a panel leaves free.
        with self.session.panel_keeping_its_edge():
            program = self.program(settings=settings_bytes())
            self.start_and_settle(program)
            # Shown again where it was put at start, for as long as it takes to look.
            program.click_tray(1)
            wait_for(program.window_visible, 3, what="the window")
            main = program.main_window()

            def frame():
                left, right, top, bottom = frame_extents(main) or (0, 0, 0, 0)
                x, y = program.window_origin()
                return x - left, y - top, 364 + left + right, 259 + top + bottom

            # The window manager frames the window a moment after it is mapped: that is waited for.
            try:
                wait_for(lambda: frame_extents(main) and max(map(abs, desktop.off_centre(frame()))) <= 1, 5,
                         what="the frame to be centred")
            except AssertionError:
                self.fail(f"frame {frame()} is {desktop.off_centre(frame())} off the centre of {desktop.screen_area()}")

    def test_notification_area_going_away_while_hidden(self):
        program = self.program(settings=settings_bytes())
        self.start_and_settle(program)
        self.session.stop_tray()
        try:
            # No way back from hidden: the window goes to the taskbar.
            main = program.main_window()
            wait_for(lambda: iconic(main) and main in client_list(), 5, what="the window to go to the taskbar")
        finally:
            self.session.start_tray()
        wait_for(program.tray_icon, 5, what="the icon back in the new notification area")
        # Normal hiding is back: shown from the icon, then hidden by its close box.
        program.click_tray(1)
        wait_for(lambda: program.window_visible() and not iconic(program.main_window()), 3, what="the window")
        desktop.run("xdotool", "windowactivate", "--sync", str(program.main_window()), check=False)
        desktop.run("xdotool", "key", "alt+F4")
        desktop.run("xdotool", "keyup", "alt")
        wait_for(lambda: not program.window_visible(), 3, what="the window to hide")


if __name__ == "__main__":
    desktop.DesktopCase.program_dir = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
