#!/usr/bin/env python3
"""The built VLM.exe as Windows loads it: a GUI program that needs only system DLLs and nothing of them that
Windows 7 SP1 lacks, carrying the bell icon, the manifest (common controls 6, DPI-aware, asInvoker) and a version
resource. Reads the PE file itself.

    program_test.py VLM.exe [more VLM.exe ...]   (every one is checked)"""

import os
import struct
import sys
import unittest

# DLLs every Windows has; anything else would have to ship beside VLM.exe (libgcc, libstdc++, winpthread).
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll",
               "user32.dll", "winmm.dll", "ole32.dll", "shlwapi.dll", "uxtheme.dll", "version.dll", "imm32.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
IDI_VLM = 1


def windows8_functions():
    """{(dll, function)} that Windows 7 SP1 lacks, from the list list_windows8_functions.py writes."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows8_functions.txt")
    with open(path) as f:
        return {tuple(line.split()) for line in f if line.strip() and not line.startswith("#")}


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0"
        self.machine = struct.unpack_from("<H", d, pe + 4)[0]
        self.pe32_plus = None
        sections, optional_size = struct.unpack_from("<H", d, pe + 6)[0], struct.unpack_from("<H", d, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", d, optional)[0]
        self.pe32_plus = magic == 0x20B
        self.subsystem = struct.unpack_from("<H", d, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.sections = []
        for i in range(sections):
            _, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", d, optional + optional_size + 40 * i)
            self.sections.append((va, max(vsize, rsize), raw))
        self.import_rva = struct.unpack_from("<I", d, directories + 8)[0]
        self.resource_rva = struct.unpack_from("<I", d, directories + 16)[0]

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"RVA {rva:#x} in no section")

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        names, entry = [], self.offset(self.import_rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, entry + 12)[0]
            if name_rva == 0:
                return names
            names.append(self.string(name_rva).lower())
            entry += 20

    def imported_functions(self):
        """{(dll, function)} imported by name; ("dll", "#n") for an import by ordinal n."""
        found, entry = set(), self.offset(self.import_rva)
        size, ordinal_flag = (8, 1 << 63) if self.pe32_plus else (4, 1 << 31)
        while True:
            lookup, name_rva, first_thunk = struct.unpack_from("<I8xII", self.data, entry)
            if name_rva == 0:
                return found
            dll = self.string(name_rva).lower()
            thunk = self.offset(lookup or first_thunk)
            while (value := int.from_bytes(self.data[thunk:thunk + size], "little")) != 0:
                by_ordinal = value & ordinal_flag
                found.add((dll, f"#{value & 0xFFFF}" if by_ordinal else self.string((value & 0x7FFFFFFF) + 2)))
                thunk += size
            entry += 20

    def resources(self):
        """{(type, id): bytes} of the first language of each resource."""
        found, base = {}, self.offset(self.resource_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for k in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + directory + 16 + 8 * k)

        for kind, types in entries(0):
            for ident, languages in entries(types & 0x7FFFFFFF):
                _, leaf = next(entries(languages & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                found[(kind, ident)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


class ProgramTest(unittest.TestCase):
    image = None

    def test_gui_program_needing_only_system_dlls(self):
        self.assertEqual(self.image.subsystem, 2, "the GUI subsystem, no console window")
        self.assertEqual(set(self.image.imports()) - SYSTEM_DLLS, set())

    def test_nothing_windows_7_lacks(self):
        imports = self.image.imported_functions()
        self.assertGreater(len(imports), 50, "the import table was read")
        # API sets and shcore.dll came after Windows 7.
        self.assertEqual({dll for dll, _ in imports if dll.startswith("api-ms-win-") or dll == "shcore.dll"}, set())
        self.assertEqual(imports & windows8_functions(), set(),
                         "newer than Windows 7 SP1: look these up at run time (GetProcAddress)")

    def test_bell_icon_in_every_size(self):
        resources = self.image.resources()
        group = resources[(RT_GROUP_ICON, IDI_VLM)]
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = set()
        for i in range(count):
            width, height, _, _, _, bits, _, icon = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            self.assertIn((RT_ICON, icon), resources)
            self.assertEqual(bits, 32, "with an alpha channel")
            sizes.add(width or 256)
        self.assertEqual(sizes, {16, 24, 32, 48, 64, 256})

    def test_manifest(self):
        manifest = self.image.resources()[(RT_MANIFEST, 1)].decode("utf-8")
        self.assertRegex(manifest, r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"')
        self.assertIn('level="asInvoker"', manifest)
        self.assertIn(">true</dpiAware>", manifest)

    def test_version(self):
        version = self.image.resources()[(RT_VERSION, 1)]
        self.assertIn("VS_VERSION_INFO".encode("utf-16-le"), version)
        self.assertIn("VLM.exe".encode("utf-16-le"), version)


if __name__ == "__main__":
    programs = [argument for argument in sys.argv[1:] if not argument.startswith("-")]
    sys.argv[1:] = [argument for argument in sys.argv[1:] if argument.startswith("-")]
    failed = not programs
    for program in programs:
        print(f"== {program}", file=sys.stderr)
        ProgramTest.image = PeImage(program)
        failed |= not unittest.main(exit=False).result.wasSuccessful()
    sys.exit(1 if failed else 0)
