#!/usr/bin/env python3
"""The per-user installer under Wine, as a user meets it: install, use, upgrade over a running copy, remove.

Usage: installer_test.py BUILD_DIR i686|x86_64

Builds BUILD_DIR's installer first (scripts/build-installer.sh, --x86_64 for the 64-bit build) and runs it in
WINEPREFIX (the test command's prefix, on its display). The installed folder must hold the same files as the zip, byte
for byte: the build's sounds and its VLM.exe stripped as the zip's (and the zip, where the build has a current one,
must hold exactly these).
Registry values are read from `reg export` files (UTF-16), not from the console, which mangles Chinese.
"""

import codecs
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
sys.path.insert(0, HERE)
from desktop import settings_bytes, wait_for  # noqa: E402
from e2e_win32_test import prefix, wine  # noqa: E402

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VLM"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
BUILD_DIR = None
ARCH = None


def build_installer(build_dir, x86_64):
    """Builds the installer of build_dir and returns its path."""
    env = dict(os.environ, VLM_WIN32_BUILD_DIR=build_dir, VLM_WIN64_BUILD_DIR=build_dir)
    result = subprocess.run([os.path.join(SOURCE, "scripts", "build-installer.sh")] + (["--x86_64"] if x86_64 else []),
                            env=env, capture_output=True, text=True, timeout=900)
    if result.returncode != 0:
        raise AssertionError("build-installer.sh failed:\n" + result.stdout[-3000:] + result.stderr[-3000:])
    return re.search(r"^Wrote (.*-setup\.exe) ", result.stdout, re.M).group(1)


def unix_path(windows_path):
    """A C: path of the prefix as this machine names it."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(prefix(), "drive_c", *windows_path[3:].split("\\"))


def reg_values(key):
    """The key's values as `reg export` writes them ({name: str or int}), or None when there is no such key."""
    with tempfile.TemporaryDirectory(dir=os.path.join(prefix(), "drive_c")) as folder:
        exported = os.path.join(folder, "key.reg")
        result = wine("reg", "export", key, "C:\\" + os.path.relpath(exported, os.path.join(prefix(), "drive_c"))
                      .replace("/", "\\"), "/y", check=False)
        if result.returncode != 0 or not os.path.exists(exported):
            return None
        with open(exported, "rb") as f:
            data = f.read()
    text = data.decode("utf-16") if data.startswith(codecs.BOM_UTF16_LE) else data.decode("utf-8")
    values = {}
    for line in text.splitlines():
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-fA-F]{8}))$', line)
        if m:
            unescape = lambda s: re.sub(r"\\(.)", r"\1", s)  # noqa: E731
            values[unescape(m.group(1))] = unescape(m.group(2)) if m.group(2) is not None else int(m.group(3), 16)
    return values


def prefix_commands():
    """{process id: command line} of the Windows programs in this prefix (Wine shows a program's command line in
    place of its arguments, padded with spaces)."""
    commands = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if ("WINEPREFIX=" + prefix()).encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                commands[int(pid)] = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
        except OSError:
            continue
    return commands


def prefix_processes(name):
    """Process ids of the Windows programs called `name` in this prefix."""
    program = re.compile(r'^(?:"(?:[^"]*[\\/])?%s"|(?:[^\s"]*[\\/])?%s(?:\s|$))' % (re.escape(name), re.escape(name)),
                         re.I)
    return [pid for pid, command in prefix_commands().items() if program.search(command)]


def tree(folder):
    """{relative path: bytes} of every file under folder."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


def zip_reference(build_dir, x86_64):
    """What the zip holds: the program folder's sounds and VLM.exe stripped as the zip's. Where the build has a zip made
    from the same VLM.exe (i686), it must hold exactly that."""
    program = os.path.join(build_dir, "program")
    reference = {name: data for name, data in tree(program).items()
                 if name in ("bell1.wav", "bell3.wav") or name.startswith("Music" + os.sep)}
    with tempfile.TemporaryDirectory() as folder:
        stripped = os.path.join(folder, "VLM.exe")
        subprocess.run([os.path.join(SOURCE, "scripts", "strip-windows-exe.sh"), "x86_64" if x86_64 else "i686",
                        os.path.join(program, "VLM.exe"), stripped], check=True)
        with open(stripped, "rb") as f:
            reference["VLM.exe"] = f.read()
    zips = [os.path.join(build_dir, n) for n in os.listdir(build_dir) if re.fullmatch(r"VLM-.*win32\.zip", n)]
    if zips and os.path.getmtime(zips[0]) >= os.path.getmtime(os.path.join(program, "VLM.exe")):
        with zipfile.ZipFile(zips[0]) as archive:
            packed = {os.path.relpath(i.filename, "VLM"): archive.read(i) for i in archive.infolist() if not i.is_dir()}
        assert packed == reference, "the zip differs from the build's program folder"
    return reference


class InstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.setup_exe = build_installer(BUILD_DIR, ARCH == "x86_64")
        cls.reference = zip_reference(BUILD_DIR, ARCH == "x86_64")

    def setUp(self):
        self.assertIn("VLM.exe", self.reference)
        self.assertTrue(any(name.startswith("Music" + os.sep) and not name.isascii() for name in self.reference))
        self.install_dir = None
        self.started = []
        self.addCleanup(self.clean_up)

    def clean_up(self):
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait()
        for pid in prefix_processes("VLM.exe"):
            os.kill(pid, 9)
        wine("reg", "delete", UNINSTALL_KEY, "/f", check=False)
        if self.install_dir:
            shutil.rmtree(self.install_dir, ignore_errors=True)

    def run_windows(self, program, *args, status=0):
        # Output to files: a program the installer starts keeps any pipe open.
        with tempfile.TemporaryFile() as out:
            result = subprocess.run([WINE_RUN, program, *args], stdout=out, stderr=subprocess.STDOUT, timeout=600)
            out.seek(0)
            self.assertEqual(result.returncode, status, out.read().decode("utf-8", "replace")[-2000:])

    def install(self, *args):
        self.run_windows(self.setup_exe, "/S", *args)
        values = self.uninstall_entry()
        self.install_dir = unix_path(values["InstallLocation"])
        return values

    def uninstall_entry(self):
        return wait_for(lambda: reg_values(UNINSTALL_KEY), 10, step=0.5, what="the Uninstall entry")

    def uninstall(self):
        uninstaller = os.path.join(self.install_dir, "Uninstall.exe")
        self.run_windows(uninstaller, "/S")
        wait_for(lambda: not os.path.exists(uninstaller), 120, step=0.2, what="the uninstaller to remove itself")
        # The uninstaller goes on as a copy of itself in %TEMP%, given the folder with "_?=", so that it can remove
        # its own file; the prefix's wineserver stays up for the other tests, so `wineserver -w` would wait for ever.
        wait_for(lambda: not any(" _?=" in command for command in prefix_commands().values()), 120, step=0.2,
                 what="the uninstaller to finish")
        # Its last step.
        wait_for(lambda: reg_values(UNINSTALL_KEY) is None, 30, step=0.5, what="the Uninstall entry to go")

    def assert_installed_as_the_zip(self):
        installed = tree(self.install_dir)
        self.assertIn("Uninstall.exe", installed)
        user_files = {"vlm1.cfg"}
        got = {name: data for name, data in installed.items() if name not in user_files | {"Uninstall.exe"}}
        self.assertEqual(sorted(got), sorted(self.reference))
        different = [name for name in self.reference if got[name] != self.reference[name]]
        self.assertEqual(different, [])

    def start_installed(self):
        process = subprocess.Popen([WINE_RUN, os.path.join(self.install_dir, "VLM.exe")],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(process)
        return process

    def test_install_use_upgrade_remove(self):
        # Install: per user, into FOLDERID_UserProgramFiles, the zip's files and an entry in Apps & features.
        values = self.install()
        self.assertTrue(values["InstallLocation"].lower().endswith(r"\appdata\local\programs\vlm"),
                        values["InstallLocation"])
        self.assert_installed_as_the_zip()
        location = values["InstallLocation"]
        version = re.search(r"VLM-(.*)-setup\.exe$", self.setup_exe).group(1)
        self.assertEqual(values, {
            "DisplayName": "VLM",
            "DisplayIcon": location + "\\VLM.exe,0",
            "DisplayVersion": version,
            "Publisher": "Vellimor",
            "InstallLocation": location,
            "UninstallString": '"%s\\Uninstall.exe"' % location,
            "QuietUninstallString": '"%s\\Uninstall.exe" /S' % location,
            "EstimatedSize": values["EstimatedSize"],
            "NoModify": 1,
            "NoRepair": 1,
        })
        installed_kib = sum(len(data) for data in tree(self.install_dir).values()) / 1024
        self.assertLess(abs(values["EstimatedSize"] - installed_kib), 2)
        shortcuts = [os.path.join(root, name) for root, _, names in os.walk(os.path.join(prefix(), "drive_c", "users"))
                     for name in names if name == "VLM.lnk" and "Start Menu" in root]
        self.assertEqual(len(shortcuts), 1, shortcuts)

        # Use: settings of the user's own, the start at logon on.
        settings = settings_bytes(rotation=2, bell=1, ticked=[(1, 9), (3, 17)], autostart=True)
        config = os.path.join(self.install_dir, "vlm1.cfg")
        with open(config, "wb") as f:
            f.write(settings)
        first = self.start_installed()
        run_value = '"%s\\VLM.exe"' % location
        wait_for(lambda: (reg_values(RUN_KEY) or {}).get("VLM") == run_value, 30, step=0.5,
                 what="the Run value naming the installed VLM.exe")

        # Upgrade over the running copy: it is asked to save and end, its files are replaced, and it is started again.
        self.run_windows(self.setup_exe, "/S")
        first.wait(30)
        self.assertEqual(self.uninstall_entry()["InstallLocation"], location)
        with open(config, "rb") as f:
            self.assertEqual(f.read(), settings)
        self.assert_installed_as_the_zip()
        wait_for(lambda: prefix_processes("VLM.exe"), 30, what="VLM started again after the upgrade")

        # Remove: the running copy ends; what the installer put there goes, the user's own files stay.
        music = os.path.join(self.install_dir, "Music")
        with open(os.path.join(music, "我的鐘聲.wav"), "wb") as f:
            f.write(b"RIFF mine")
        self.uninstall()
        wait_for(lambda: not prefix_processes("VLM.exe"), 30, what="VLM to end")
        self.assertEqual(sorted(tree(self.install_dir)), sorted(["vlm1.cfg", os.path.join("Music", "我的鐘聲.wav")]))
        with open(config, "rb") as f:
            self.assertEqual(f.read(), settings)
        self.assertIsNone(reg_values(UNINSTALL_KEY))
        self.assertNotIn("VLM", reg_values(RUN_KEY) or {})
        self.assertFalse(any(os.path.exists(path) for path in shortcuts))

    def test_uninstall_leaves_another_copys_run_value(self):
        self.install()
        other = "C:\\Portable\\VLM\\VLM.exe"
        wine("reg", "add", RUN_KEY, "/v", "VLM", "/t", "REG_SZ", "/d", other, "/f")
        self.addCleanup(wine, "reg", "delete", RUN_KEY, "/v", "VLM", "/f", check=False)
        self.uninstall()
        self.assertEqual(reg_values(RUN_KEY).get("VLM"), other)
        self.assertFalse(os.path.exists(self.install_dir))

    def test_folder_of_the_users_choice_with_a_chinese_name(self):
        # No space: Wine would quote the argument, and /D= must come unquoted.
        chosen = "C:\\使用者張\\鐘聲VLM"
        values = self.install("/D=" + chosen)
        self.assertEqual(values["InstallLocation"], chosen)
        self.assert_installed_as_the_zip()
        self.uninstall()
        self.assertFalse(os.path.exists(self.install_dir))
        self.assertIsNone(reg_values(UNINSTALL_KEY))
        os.rmdir(os.path.dirname(self.install_dir))

    def test_sounds_that_cannot_be_written_stop_the_install_and_it_can_be_removed(self):
        chosen = "C:\\VLM-blocked-%d" % os.getpid()
        self.install_dir = unix_path(chosen)
        os.makedirs(self.install_dir)
        # A file where the sounds' folder must go.
        with open(os.path.join(self.install_dir, "Music"), "wb") as f:
            f.write(b"not a folder")
        self.run_windows(self.setup_exe, "/S", "/D=" + chosen, status=2)
        self.assertEqual(self.uninstall_entry()["InstallLocation"], chosen)
        self.uninstall()
        self.assertEqual(sorted(tree(self.install_dir)), ["Music"])
        self.assertIsNone(reg_values(UNINSTALL_KEY))


if __name__ == "__main__":
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    ARCH = sys.argv.pop(1)
    unittest.main(verbosity=2)
