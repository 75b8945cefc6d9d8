#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine: CMake's emulator for the Windows build, so add_test of a built
# .exe comes here. The program runs in $WINEPREFIX, which the test command's services make once and share between
# the tests (scripts/services.sh); run by hand, a private prefix under ~/.cache/vlm is made on first use.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   runs it (a 64-bit program through Wine's 64-bit loader)
#   wine-run.sh --boot                  makes $WINEPREFIX ready and keeps its wineserver up until `wineserver -k`
#   wine-run.sh --runs-32bit            succeeds when this machine can run 32-bit Windows programs
set -euo pipefail

export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vlm/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts in a prefix made without a user.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Debian's loaders: wine32:i386 brings the 32-bit one, wine64 the 64-bit one.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || echo wine)

# 32-bit Windows programs need a 32-bit Wine, which needs a kernel that runs 32-bit code (some virtual machines
# don't: "IA-32 emulation off").
runs_32bit() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }

# 64 for a PE32+ image, 32 for a PE32 one.
pe_bits() {
    local header magic
    header=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    magic=$(od -An -t x2 -j $((header + 24)) -N 2 "$1" | tr -d ' ')
    [ "$((16#$magic))" = 523 ] && echo 64 || echo 32 # 0x20b
}

case "${1:-}" in
--runs-32bit)
    runs_32bit
    ;;
--boot)
    mkdir -p "$WINEPREFIX"
    if runs_32bit; then
        export WINEARCH=${WINEARCH:-win32}
        loader=$wine32
    else
        export WINEARCH=${WINEARCH:-win64}
        loader=$wine64
    fi
    wineserver -p
    "$loader" wineboot --init
    ;;
"")
    echo "usage: $0 PROGRAM.exe [ARGS...] | --boot | --runs-32bit" >&2
    exit 2
    ;;
*)
    if [ ! -f "$1" ]; then
        echo "$0: no program $1" >&2
        exit 1
    fi
    if [ "$(pe_bits "$1")" = 64 ]; then
        exec "$wine64" "$@"
    fi
    if ! runs_32bit; then
        echo "$0: this machine can't run 32-bit programs (no 32-bit Wine, or a kernel without 32-bit code);" \
            "test the x86_64 build (cmake/mingw-x86_64.cmake) here" >&2
        exit 1
    fi
    exec "$wine32" "$@"
    ;;
esac
