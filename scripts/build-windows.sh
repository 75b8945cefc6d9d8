#!/usr/bin/env bash
# Cross-builds the Windows program (32-bit, mingw-w64) into build-win32/ (or $VLM_WIN32_BUILD_DIR) and packs
# build-win32/VLM-win32.zip: a ready folder VLM/ with VLM.exe, bell1.wav, bell3.wav and Music\.
#   --x86_64   builds the same sources for 64-bit Windows into build-win64/ instead (tests only, no zip)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

arch=i686
build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
if [ "${1:-}" = --x86_64 ]; then
    arch=x86_64
    build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
fi

args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
# The sound bank's synthesizer runs on this machine: reuse the one the 32-bit build made. The 64-bit build's
# program test checks the 32-bit VLM.exe as well, the one users get.
build32=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
synth=$build32/native-tools/tools/synth/vlm_synth
[ "$arch" = x86_64 ] && [ -x "$synth" ] && args+=(-DVLM_NATIVE_SYNTH="$synth")
[ "$arch" = x86_64 ] && [ -f "$build32/CMakeCache.txt" ] && args+=(-DVLM_I686_PROGRAM="$build32/program/VLM.exe")
cmake -S "$root" -B "$build" "${args[@]}" >/dev/null
if [ "$arch" = x86_64 ]; then
    cmake --build "$build" -j"$(nproc)"
    exit 0
fi
cmake --build "$build" -j"$(nproc)" --target VLM vlm_sounds

stage=$build/zip
rm -rf "$stage" "$build/VLM-win32.zip"
mkdir -p "$stage/VLM"
# The debugging information stays in the build's copy.
"$root/scripts/strip-windows-exe.sh" i686 "$build/program/VLM.exe" "$stage/VLM/VLM.exe"
cp "$build/program/bell1.wav" "$build/program/bell3.wav" "$stage/VLM/"
cp -r "$build/program/Music" "$stage/VLM/"
# Python's zipfile marks the Chinese file names as UTF-8 (Info-ZIP's zip leaves them in no declared code page, and
# Windows then unpacks them garbled).
(cd "$stage" && python3 - "$build/VLM-win32.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, folders, files in os.walk("VLM"):
        folders.sort()
        archive.write(folder)
        for name in sorted(files):
            archive.write(os.path.join(folder, name))
PY
)
echo "Wrote $build/VLM-win32.zip"
# The rest: the tests.
cmake --build "$build" -j"$(nproc)"
