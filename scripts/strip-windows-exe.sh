#!/usr/bin/env bash
# Strips a cross-built Windows executable the same way every time: strip stamps the PE header with the current time
# unless SOURCE_DATE_EPOCH says otherwise, and here it keeps the link's own stamp. The zip and the installer carry
# the same bytes this way.
#   strip-windows-exe.sh i686|x86_64 INPUT.exe OUTPUT.exe
set -euo pipefail
arch=$1 input=$2 output=$3
header=$(od -An -t u4 -j 60 -N 4 "$input" | tr -d ' ')
stamp=$(od -An -t u4 -j $((header + 8)) -N 4 "$input" | tr -d ' ')
SOURCE_DATE_EPOCH=$stamp "$arch-w64-mingw32-strip" -o "$output" "$input"
