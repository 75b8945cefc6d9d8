#!/usr/bin/env python3
"""The Debian package as Debian's own tools and a desktop read it: lintian finds nothing to warn about, the launcher
and the software-centre entry are valid, and the files are where a system install puts them (nothing in a home).

Usage: deb_test.py DIST_DIR
"""

import glob
import os
import subprocess
import sys
import tempfile
import unittest

DIST = None


def the_deb():
    found = glob.glob(os.path.join(DIST, "vlm_*.deb"))
    if len(found) != 1:
        raise AssertionError(f"expected one vlm_*.deb in {DIST} (./scripts/package.sh writes it), found {found}")
    return found[0]


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deb = the_deb()
        cls.tree = tempfile.TemporaryDirectory()
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.tree.name], check=True)
        cls.root = cls.tree.name

    @classmethod
    def tearDownClass(cls):
        cls.tree.cleanup()

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def one(self, pattern):
        found = glob.glob(self.path(pattern))
        self.assertEqual(len(found), 1, f"{pattern}: {found}")
        return found[0]

    def test_lintian_finds_no_error_or_warning(self):
        result = subprocess.run(["lintian", "--fail-on", "error,warning", "--display-info", self.deb],
                                capture_output=True, text=True, timeout=600)
        print("lintian:", result.stdout.strip() or "(nothing)", file=sys.stderr)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_launcher_is_valid(self):
        # desktop-file-validate exits 0 even on errors: what it prints is the verdict.
        launcher = self.one("usr/share/applications/*.desktop")
        result = subprocess.run(["desktop-file-validate", launcher], capture_output=True, text=True)
        self.assertEqual(result.stdout + result.stderr, "")
        self.assertEqual(result.returncode, 0)
        with open(launcher, encoding="utf-8") as f:
            lines = f.read().splitlines()
        app_id = os.path.basename(launcher)[:-len(".desktop")]
        self.assertGreaterEqual(app_id.count("."), 2, "the launcher is named after a reverse-DNS application id")
        self.assertIn("Exec=vlm", lines)
        self.assertIn(f"Icon={app_id}", lines)
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            self.assertTrue(os.path.isfile(self.path(f"usr/share/icons/hicolor/{size}x{size}/apps/{app_id}.png")),
                            size)
        self.assertTrue(os.path.isfile(self.path(f"usr/share/icons/hicolor/scalable/apps/{app_id}.svg")))

    def test_software_centre_entry_is_valid(self):
        metainfo = self.one("usr/share/metainfo/*.metainfo.xml")
        result = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        app_id = os.path.basename(metainfo)[:-len(".metainfo.xml")]
        self.assertTrue(os.path.isfile(self.path(f"usr/share/applications/{app_id}.desktop")),
                        "the entry's launchable is the packaged launcher")

    def test_system_layout(self):
        self.assertEqual(os.readlink(self.path("usr/bin/vlm")), "../lib/vlm/VLM")
        program = self.path("usr/lib/vlm/VLM")
        self.assertTrue(os.path.isfile(program) and os.access(program, os.X_OK))
        for name in ("bell1.wav", "bell3.wav"):
            self.assertTrue(os.path.isfile(self.path("usr/lib/vlm", name)), name)
        self.assertEqual(len(glob.glob(self.path("usr/lib/vlm/Music/*.wav"))), 28)
        self.assertFalse(os.path.exists(self.path("usr/lib/vlm/vlm1.cfg")), "no settings file in the system's copy")
        self.assertTrue(os.path.isfile(self.path("usr/share/man/man1/vlm.1.gz")))
        self.assertTrue(os.path.isfile(self.path("usr/share/doc/vlm/copyright")))
        top = sorted(os.listdir(self.root))
        self.assertEqual(top, ["usr"], "everything under /usr: nothing for a home folder or /etc")

    def test_no_maintainer_script_reaches_a_home(self):
        with tempfile.TemporaryDirectory() as control:
            subprocess.run(["dpkg-deb", "-e", self.deb, control], check=True)
            for name in os.listdir(control):
                with open(os.path.join(control, name), encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for home in ("/home", "$HOME", "~/", "/root", "XDG_"):
                    self.assertNotIn(home, text, f"{name} mentions {home}")


if __name__ == "__main__":
    DIST = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
