#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine (CMake's emulator for the Windows build: add_test of a built
# .exe comes here). Uses $WINEPREFIX, which the test command's services create and share between the tests;
# run by hand, a private prefix under ~/.cache/vlm is made on first use.
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vlm/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts in a prefix made without a user.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
