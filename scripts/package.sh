#!/usr/bin/env bash
# Builds everything a user downloads into dist/, all of the version in project() of CMakeLists.txt:
#   vlm_<version>_amd64.deb      the Debian package (scripts/build-deb.sh)
#   VLM-<version>-setup.exe      the per-user Windows installer (scripts/build-installer.sh)
#   VLM-<version>-win32.zip      the portable Windows folder (scripts/build-windows.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$("$root/scripts/version.sh")
dist=$root/dist
win32=${VLM_WIN32_BUILD_DIR:-$root/build-win32}

rm -rf "$dist"
mkdir -p "$dist"

"$root/scripts/build-deb.sh"

"$root/scripts/build-windows.sh"
cp "$win32/VLM-win32.zip" "$dist/VLM-$version-win32.zip"

"$root/scripts/build-installer.sh"
cp "$win32/VLM-$version-setup.exe" "$dist/VLM-$version-setup.exe"

echo "dist/:"
ls -l "$dist"
