#!/usr/bin/env python3
"""The Debian package installed on this machine as a user installs it (apt-get install ./vlm_*.deb), the installed
/usr/bin/vlm run on the desktop stack (VLM_TEST_STACK, X11) with a fresh configuration folder, then purged without a
trace. Needs root; the package is purged before (a run that was killed may have left it) and after, whatever happens.

Usage: deb_install_test.py DIST_DIR MARKER_FILE

MARKER_FILE exists while the package is installed by this test, so that the test command can purge it should this
test be killed outright.
"""

import glob
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import desktop  # noqa: E402
from desktop import Recorder, wait_for  # noqa: E402

SKIP = 77
DIST = None
MARKER = None
COMMAND = "/usr/bin/vlm"
PROGRAM_DIR = "/usr/lib/vlm"
# Positions of controls inside the window's client area.
RING_NOW = (197 + 62, 204 + 21)
HOUR_ITEM_0 = (16 + 2 + 9, 50 + 2 + 8)
QUIET = dict(os.environ, DEBIAN_FRONTEND="noninteractive")


def installed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "vlm"], capture_output=True, text=True)
    return "installed" in status.stdout or "config-files" in status.stdout


def purge():
    if installed():
        subprocess.run(["dpkg", "-P", "vlm"], env=QUIET, check=True, capture_output=True, timeout=300)
    if os.path.exists(MARKER):
        os.remove(MARKER)


def owned_by_another_package(path):
    owners = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    return owners.returncode == 0


class InstalledProgram(desktop.Program):
    """/usr/bin/vlm as the package installed it, run with a home and a configuration folder of its own."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vlm-deb-")
        self.dir = PROGRAM_DIR
        self.home = os.path.join(self.root, "home")
        self.config_home = os.path.join(self.root, "config")
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.home)
        os.makedirs(self.runtime, mode=0o700)
        self.clock_file = os.path.join(self.root, "faketime")
        self.set_offset(0)
        self.log_path = os.path.join(self.root, "log")
        self.zone = "CST-8"
        self.extra_env = {}
        self.process = None

    @property
    def config_path(self):
        return os.path.join(self.config_home, "VLM", "vlm1.cfg")

    def command(self):
        return [COMMAND]


class InstallUseRemove(desktop.DesktopCase):
    def test_install_use_and_purge(self):
        (deb,) = glob.glob(os.path.join(DIST, "vlm_*.deb"))
        purge()
        try:
            self.install(deb)
            files = subprocess.run(["dpkg-query", "-L", "vlm"], capture_output=True, text=True,
                                   check=True).stdout.split()
            self.use()
        finally:
            purge()
        self.assertFalse(installed())
        left = [path for path in files if path != "/." and os.path.lexists(path)
                and not (os.path.isdir(path) and owned_by_another_package(path))]
        self.assertEqual(left, [], "files the package left behind")

    def install(self, deb):
        # A home of its own for the installation, to see that nothing is written to it.
        open(MARKER, "w").close()
        with tempfile.TemporaryDirectory() as home:
            subprocess.run(["apt-get", "install", "-y", "-q", "--no-install-recommends", os.path.abspath(deb)],
                           env=dict(QUIET, HOME=home), check=True, capture_output=True, timeout=600)
            self.assertEqual(os.listdir(home), [], "the installation wrote to the home folder")
        self.assertEqual(os.path.realpath(COMMAND), os.path.join(PROGRAM_DIR, "VLM"))

    def use(self):
        program = InstalledProgram()
        self.programs.append(program)
        self.recorder = Recorder()
        program.start()
        self.assertEqual(os.readlink(f"/proc/{program.process.pid}/exe"), os.path.join(PROGRAM_DIR, "VLM"))

        # A first start: the message about the missing settings file, the window hidden after the first second,
        # and the program started at logon from now on (the choice is on until the user clears it).
        wait_for(lambda: program.log_matches("vlm.window: message"), 10, what="the first start's message")
        wait_for(lambda: program.log_matches(r"vlm\.window: hidden"), 10, what="the first tick to hide the window")
        entry = os.path.join(program.config_home, "autostart", "VLM.desktop")
        wait_for(lambda: os.path.exists(entry), 3, what="the autostart entry")
        with open(entry, encoding="utf-8") as f:
            self.assertIn(f'Exec="{COMMAND}"', f.read().splitlines())

        program.click_tray(1)
        wait_for(program.window_visible, 3, what="a click on the icon to show the window")
        time.sleep(0.3)
        # Heard is what counts here (the end-to-end tests time it): the pointer is in place before the clock starts.
        x, y = program.window_origin()
        desktop.run("xdotool", "mousemove", str(x + RING_NOW[0]), str(y + RING_NOW[1]))
        time.sleep(0.1)
        clicked = time.time()
        desktop.run("xdotool", "click", "1")
        self.assertIsNotNone(self.recorder.onset_after(clicked, within=5.0), "no bell after ring-now")

        # Every change is saved at once, in the user's own folder.
        program.click_in_window(*HOUR_ITEM_0)
        wait_for(lambda: os.path.exists(program.config_path), 3, what=f"the settings at {program.config_path}")

        program.stop()
        self.assertEqual(program.process.returncode, 0)
        settings = program.settings()
        self.assertEqual(len(settings), 684)
        self.assertEqual(settings[680], 1, "the autostart choice")
        self.assertEqual(struct.unpack_from("<168i", settings, 8).count(1), 1, "the ticked hour is kept")
        self.assertFalse(os.path.exists(os.path.join(PROGRAM_DIR, "vlm1.cfg")), "nothing written to the system's copy")


def _end_with_cleanup(signum, frame):
    # ctest's timeout and Ctrl+C end the test through here, so the package is purged on the way out.
    raise SystemExit(128 + signum)


if __name__ == "__main__":
    DIST = os.path.abspath(sys.argv[1])
    MARKER = os.path.abspath(sys.argv[2])
    if os.geteuid() != 0:
        print("installing a package needs root: skipped", file=sys.stderr)
        sys.exit(SKIP)
    signal.signal(signal.SIGTERM, _end_with_cleanup)
    signal.signal(signal.SIGINT, _end_with_cleanup)
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
