#!/usr/bin/env bash
# Prints the program's version: the one in project(VLM VERSION ...) of CMakeLists.txt, which everything else follows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(VLM VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
    echo "No version in project() of $root/CMakeLists.txt" >&2
    exit 1
fi
echo "$version"
