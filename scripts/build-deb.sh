#!/usr/bin/env bash
# Builds the Debian package of the system install (debian/, debhelper) and puts it in dist/:
# dist/vlm_<version>_<arch>.deb, <version> being the one in project() of CMakeLists.txt.
# The build runs on a copy of the sources in build-deb/ (dpkg-buildpackage writes beside the tree it builds).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$("$root/scripts/version.sh")
changelog=$(cd "$root" && dpkg-parsechangelog -S Version)
if [ "$changelog" != "$version" ]; then
    echo "debian/changelog's top entry is $changelog, but project() says $version: add an entry (dch -v $version)" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
work=${VLM_DEB_BUILD_DIR:-$root/build-deb}
tree=$work/vlm-$version

rm -rf "$work"
mkdir -p "$tree"
# The sources as they stand (committed or not), without any build folder.
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null -T - -cf -) | tar -xf - -C "$tree"
else
    (cd "$root" && tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - .) | tar -xf - -C "$tree"
fi

(cd "$tree" && dpkg-buildpackage -us -uc -b -J"$(nproc)")

deb=vlm_${version}_${arch}.deb
mkdir -p "$root/dist"
mv "$work/$deb" "$root/dist/$deb"
echo "Wrote $root/dist/$deb"
