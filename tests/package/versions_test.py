#!/usr/bin/env python3
"""One version everywhere: project() in CMakeLists.txt is the source; debian/changelog's top entry, the
software-centre entry's newest release, the Windows program's version resource, the installer's version and the
names of the files in dist/ must all say the same.

Usage: versions_test.py SOURCE_DIR DIST_DIR
"""

import glob
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

SOURCE = None
DIST = None


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"^project\(VLM VERSION ([0-9][0-9.]*)", f.read(), re.M)
    assert match, "no version in project() of CMakeLists.txt"
    return match.group(1)


def four_numbers(version):
    """The version as Windows keeps it: four numbers, the missing ones 0."""
    parts = [int(p) for p in version.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))


def newest_release(metainfo_text):
    releases = ET.fromstring(metainfo_text).findall("./releases/release")
    assert releases, "the software-centre entry lists no release"
    dates = [r.get("date") for r in releases]
    assert dates == sorted(dates, reverse=True), f"releases are not listed newest first: {dates}"
    return releases[0].get("version")


def version_resource(pe_bytes):
    """(fixed product version as four numbers, ProductVersion string) of a Windows executable's version resource,
    or None when it has none."""
    fixed = pe_bytes.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None
    _, _, _, product_ms, product_ls = struct.unpack_from("<5I", pe_bytes, fixed + 4)
    numbers = (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF)
    key = "ProductVersion\0".encode("utf-16-le")
    at = pe_bytes.find(key, fixed)
    text = None
    if at >= 0:
        at += len(key)
        at += (-at) % 4  # the value starts on a 32-bit boundary
        end = at
        while pe_bytes[end:end + 2] != b"\0\0":
            end += 2
        text = pe_bytes[at:end].decode("utf-16-le")
    return numbers, text


def dist_file(pattern):
    found = glob.glob(os.path.join(DIST, pattern))
    if not found:
        raise AssertionError(f"no {pattern} in {DIST}: ./scripts/package.sh writes it")
    return found[0]


class SourcesFollowProject(unittest.TestCase):
    def setUp(self):
        self.version = project_version()

    def test_debian_changelog_top_entry(self):
        with open(os.path.join(SOURCE, "debian", "changelog"), encoding="utf-8") as f:
            first = f.readline()
        match = re.match(r"^vlm \(([^)]+)\)", first)
        self.assertIsNotNone(match, first)
        self.assertEqual(match.group(1), self.version, "debian/changelog's top entry")

    def test_metainfo_newest_release(self):
        with open(os.path.join(SOURCE, "resources", "linux", "vlm.metainfo.xml.in"), encoding="utf-8") as f:
            self.assertEqual(newest_release(f.read()), self.version, "the software-centre entry's newest release")

    def test_installer_script(self):
        scripts = [path for path in glob.glob(os.path.join(SOURCE, "installer", "**", "*.ns[ih]*"), recursive=True)
                   if os.path.isfile(path)]
        if not scripts:
            self.skipTest("no installer script")
        for script in scripts:
            with open(script, encoding="utf-8-sig") as f:
                text = f.read()
            # A version written into the script itself must be project()'s; one handed in by the build (makensis
            # -D...) is checked on the built installer below.
            for name, value in re.findall(r'^\s*!define\s+(\w*VERSION\w*)\s+"?([0-9][0-9.]*)"?\s*$', text, re.M | re.I):
                with self.subTest(script=os.path.basename(script), define=name):
                    if name.upper().startswith("VI") or value.count(".") == 3:
                        self.assertEqual(four_numbers(value), four_numbers(self.version))
                    else:
                        self.assertEqual(value, self.version)
            for value in re.findall(r'^\s*VIProductVersion\s+"?([0-9][0-9.]*)"?', text, re.M | re.I):
                self.assertEqual(four_numbers(value), four_numbers(self.version), "VIProductVersion")


class PackagesFollowProject(unittest.TestCase):
    def setUp(self):
        self.version = project_version()

    def test_dist_holds_the_three_files_of_this_version(self):
        names = sorted(os.listdir(DIST)) if os.path.isdir(DIST) else []
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                              check=True).stdout.strip()
        self.assertEqual(names, sorted([f"VLM-{self.version}-setup.exe", f"VLM-{self.version}-win32.zip",
                                        f"vlm_{self.version}_{arch}.deb"]))

    def test_debian_package(self):
        deb = dist_file("vlm_*.deb")
        control = subprocess.run(["dpkg-deb", "-f", deb, "Version"], capture_output=True, text=True, check=True)
        self.assertEqual(control.stdout.strip(), self.version, "the package's version")
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["dpkg-deb", "-x", deb, folder], check=True)
            (metainfo,) = glob.glob(os.path.join(folder, "usr/share/metainfo/*.metainfo.xml"))
            with open(metainfo, encoding="utf-8") as f:
                self.assertEqual(newest_release(f.read()), self.version, "the packaged entry's newest release")

    def test_windows_program(self):
        with zipfile.ZipFile(dist_file("VLM-*-win32.zip")) as archive:
            resource = version_resource(archive.read("VLM/VLM.exe"))
        self.assertIsNotNone(resource, "VLM.exe has no version resource")
        numbers, text = resource
        self.assertEqual(numbers, four_numbers(self.version), "VLM.exe's product version")
        self.assertEqual(text, self.version, "VLM.exe's ProductVersion")

    def test_windows_installer(self):
        with open(dist_file("VLM-*-setup.exe"), "rb") as f:
            resource = version_resource(f.read())
        self.assertIsNotNone(resource, "the installer has no version resource")
        numbers, text = resource
        self.assertEqual(numbers, four_numbers(self.version), "the installer's product version")
        self.assertEqual(text, self.version, "the installer's ProductVersion")


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv[1])
    DIST = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
