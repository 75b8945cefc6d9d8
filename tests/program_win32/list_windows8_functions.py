#!/usr/bin/env python3
"""Writes windows8_functions.txt beside this script: the functions of the system DLLs VLM.exe may import that
Windows 7 SP1 does not have, one "dll function" a line, for program_test.py.

The list comes from mingw-w64's own headers and import libraries: a function counts as newer than Windows 7 when
the headers declare it for _WIN32_WINNT 0x0A00 (and the newest NTDDI_VERSION) but not for 0x0601; its DLL is the
import library that exports it. The headers declare a few newer functions unconditionally; those are added by name
below. Run it again after the mingw-w64 headers change:

    tests/program_win32/list_windows8_functions.py [--arch i686|x86_64]
"""

import argparse
import os
import re
import subprocess

# Each DLL program_test.py allows, with the headers that declare its functions. msvcrt.dll is not here: its
# functions are marked by CRT version, not by Windows version.
HEADERS = {
    "advapi32.dll": ["windows.h"],
    "comctl32.dll": ["windows.h", "commctrl.h"],
    "gdi32.dll": ["windows.h"],
    "imm32.dll": ["windows.h", "imm.h"],
    "kernel32.dll": ["windows.h"],
    "ole32.dll": ["windows.h", "objbase.h"],
    "shell32.dll": ["windows.h", "shellapi.h", "shlobj.h"],
    "shlwapi.dll": ["windows.h", "shlwapi.h"],
    "user32.dll": ["windows.h"],
    "uxtheme.dll": ["windows.h", "uxtheme.h"],
    "version.dll": ["windows.h", "winver.h"],
    "winmm.dll": ["windows.h", "mmsystem.h"],
}

# Newer than Windows 7 SP1, yet declared by the headers whatever _WIN32_WINNT says.
UNMARKED = {
    "kernel32.dll": [
        "GetSystemTimePreciseAsFileTime", "CopyFile2", "GetOverlappedResultEx", "CreateFileMappingFromApp",
        "MapViewOfFileFromApp", "GetUserDefaultGeoName", "QueryInterruptTime", "QueryInterruptTimePrecise",
        "QueryUnbiasedInterruptTimePrecise", "GetOsSafeBootMode", "InitializeSynchronizationBarrier",
        "EnterSynchronizationBarrier", "DeleteSynchronizationBarrier", "WaitOnAddress", "WakeByAddressSingle",
        "WakeByAddressAll",
        # Only with update KB2533623 installed on top of SP1.
        "AddDllDirectory", "RemoveDllDirectory", "SetDefaultDllDirectories",
    ],
    "user32.dll": [
        "GetDisplayAutoRotationPreferences", "SetDisplayAutoRotationPreferences", "GetAutoRotationState",
        "IsImmersiveProcess", "SetProcessRestrictionExemption", "GetCurrentInputMessageSource", "GetCIMSSM",
    ],
    "uxtheme.dll": ["OpenThemeDataForDpi"],
}


def strip_attributes(text):
    """The text without __attribute__((...)), __declspec(...) and __asm__(...)."""
    pattern = re.compile(r"\b(?:__attribute__|__declspec|__asm__)\s*\(")
    kept, position = [], 0
    while (match := pattern.search(text, position)):
        kept.append(text[position:match.start()])
        depth, position = 1, match.end()
        while depth:
            depth += {"(": 1, ")": -1}.get(text[position], 0)
            position += 1
    kept.append(text[position:])
    return "".join(kept)


def declared(compiler, headers, defines):
    """Names of the functions the headers declare with these definitions."""
    source = "".join(f"#include <{header}>\n" for header in headers)
    output = subprocess.run([compiler, "-E", "-P", "-x", "c", "-DUNICODE", "-D_UNICODE"]
                            + [f"-D{define}" for define in defines] + ["-"],
                            input=source, capture_output=True, text=True, check=True).stdout
    names = set()
    for statement in re.split(r"[;{}]", strip_attributes(output)):
        match = re.match(r"\s*[\w\s*]*?\b(\w+)\s*\(", statement)
        if match:
            names.add(match.group(1))
    return names


def exports(nm, library):
    """The functions an import library takes from its DLL (cdecl and stdcall decorations removed)."""
    output = subprocess.run([nm, library], capture_output=True, text=True, check=True).stdout
    return {match.group(1) for match in re.finditer(r" I __imp__?([A-Za-z]\w*?)(?:@\d+)?$", output, re.M)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", default="i686", choices=["i686", "x86_64"])
    arch = parser.parse_args().arch
    compiler, nm = f"{arch}-w64-mingw32-gcc-posix", f"{arch}-w64-mingw32-nm"
    lines = []
    for dll, headers in sorted(HEADERS.items()):
        old = declared(compiler, headers, ["_WIN32_WINNT=0x0601", "WINVER=0x0601"])
        new = declared(compiler, headers, ["_WIN32_WINNT=0x0A00", "WINVER=0x0A00", "NTDDI_VERSION=WDK_NTDDI_VERSION"])
        library = f"/usr/{arch}-w64-mingw32/lib/lib{dll.removesuffix('.dll')}.a"
        newer = ((new - old) & exports(nm, library)) | set(UNMARKED.get(dll, []))
        lines += [f"{dll} {name}\n" for name in sorted(newer)]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows8_functions.txt")
    with open(path, "w") as f:
        f.write("# Functions of system DLLs that Windows 7 SP1 lacks; written by list_windows8_functions.py.\n")
        f.writelines(lines)
    print(f"Wrote {len(lines)} functions to {path}")


if __name__ == "__main__":
    main()
