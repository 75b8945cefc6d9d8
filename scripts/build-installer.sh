#!/usr/bin/env bash
# Builds the per-user Windows installer from the Windows build (installer/vlm.nsi, Debian's makensis):
#   build-win32/VLM-<version>-setup.exe   (or $VLM_WIN32_BUILD_DIR), the 32-bit installer users get
#   --x86_64   build-win64/VLM-<version>-setup.exe (or $VLM_WIN64_BUILD_DIR): a 64-bit installer of the 64-bit build,
#              for tests on machines that run no 32-bit code
# The version is the one in project(VLM VERSION ...) in CMakeLists.txt, handed to makensis with /DVERSION. The
# installer carries VLM.exe (stripped, as in the zip) and the synthesizer, not the sounds: it writes them on the
# user's machine and checks them against this build's md5 digests (sounds.md5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

arch=i686
build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
defines=()
build_args=()
if [ "${1:-}" = --x86_64 ]; then
    arch=x86_64
    build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
    defines+=(-DX86_64)
    build_args+=(--x86_64)
fi

version=$(sed -n 's/^project(VLM VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
    echo "$0: no version in project(VLM VERSION ...) of CMakeLists.txt" >&2
    exit 1
fi
IFS=. read -r major minor patch tweak <<<"$version"
quad=${major:-0}.${minor:-0}.${patch:-0}.${tweak:-0}

[ -f "$build/CMakeCache.txt" ] || "$root/scripts/build-windows.sh" "${build_args[@]}"
cmake --build "$build" -j"$(nproc)" --target VLM vlm_sounds vlm_synth

program=$build/program
stage=$build/installer
rm -rf "$stage"
mkdir -p "$stage"
# The debugging information stays in the build's copies, as for the zip.
"$root/scripts/strip-windows-exe.sh" "$arch" "$program/VLM.exe" "$stage/VLM.exe"
"$root/scripts/strip-windows-exe.sh" "$arch" "$build/tools/synth/vlm_synth.exe" "$stage/vlm_synth.exe"
cp "$build/resources/win32/vlm.ico" "$stage/"

# The sounds: what the zip has (bell1.wav, bell3.wav, Music\), in a stable order.
mapfile -t sounds < <(cd "$program" && { echo bell1.wav; echo bell3.wav; find Music -type f | LC_ALL=C sort; })
(cd "$program" && md5sum -- "${sounds[@]}") >"$stage/sounds.md5"

# NSIS strings: "$" is written "$$"; a quote would end the string.
nsis_text() {
    case "$1" in *\"* | *\'* | *\`*)
        echo "$0: cannot name $1 in the installer" >&2
        exit 1
        ;;
    esac
    printf '%s' "${1//\$/\$\$}"
}

# Two sounds per run of the synthesizer (one each on two threads): the progress bar moves between runs.
{
    echo "; Written by scripts/build-installer.sh: the synthesizer's runs, two sounds each."
    for ((i = 0; i < ${#sounds[@]}; i += 2)); do
        names=("${sounds[@]:i:2}")
        shown=""
        args=""
        for name in "${names[@]}"; do
            shown+="${shown:+, }$(nsis_text "${name//\//\\}")"
            args+=" \"$(nsis_text "$name")\""
        done
        echo "DetailPrint \"\$(WritingSounds) $shown\""
        echo "nsExec::ExecToLog '\"\$PLUGINSDIR\\vlm_synth.exe\" \"\$INSTDIR\" 2$args'"
        echo "Pop \$0"
        echo "StrCmp \$0 0 +2"
        echo "Call SoundsFailed"
    done
} >"$stage/write-sounds.nsh"

# What the uninstaller removes: exactly the files installed, then their folders when nothing else is left in them.
{
    echo "; Written by scripts/build-installer.sh: the installed files."
    echo "Delete \"\$INSTDIR\\VLM.exe\""
    for name in "${sounds[@]}"; do
        echo "Delete \"\$INSTDIR\\$(nsis_text "${name//\//\\}")\""
    done
    for name in "${sounds[@]}"; do
        [[ $name == */* ]] && echo "${name%/*}"
    done | LC_ALL=C sort -ru | while read -r folder; do
        echo "RMDir \"\$INSTDIR\\$(nsis_text "${folder//\//\\}")\""
    done
} >"$stage/uninstall-files.nsh"

sounds_kib=$(((($(cd "$program" && cat -- "${sounds[@]}" | wc -c)) + 1023) / 1024))

setup=$build/VLM-$version-setup.exe
# makensis 3.08 crashes on non-ASCII file names under LC_ALL=C.
LC_ALL=C.UTF-8 makensis -V2 -INPUTCHARSET UTF8 \
    "-DVERSION=$version" "-DVERSION_QUAD=$quad" "-DSTAGE=$stage" "-DSOUNDS_KIB=$sounds_kib" \
    "-DOUTFILE=$setup" \
    "${defines[@]}" "$root/installer/vlm.nsi"
echo "Wrote $setup ($(stat -c %s "$setup") bytes)"
