#!/usr/bin/env bash
# Installs what is needed, builds the Linux and the Windows program and the packages in dist/, and runs every test
# on X11 with an XEmbed tray and PulseAudio (the Windows ones under Wine there, label win32), then the cases every
# desktop must pass (label `stack`) on Wayland with a StatusNotifierItem tray and PipeWire, and on X11 with a
# StatusNotifierItem tray; each desktop stack is started before its tests and stopped after them. Fails if any run
# fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
# The packages a user downloads, into dist/ (the Windows program's build among them); label `package` tests them.
"$root/scripts/package.sh"

# The package test installs the Debian package on this machine; should it be killed before it purges it again,
# the package goes here (it leaves a marker while the package is its own).
purge_test_package() {
    if [ -e "$build/tests/package/vlm-deb-installed" ]; then
        dpkg -P vlm >/dev/null || true
        rm -f "$build/tests/package/vlm-deb-installed"
    fi
}
trap purge_test_package EXIT

# The Windows tests run on the 32-bit program; a machine that can't run 32-bit code (some virtual machines) runs
# them on the 64-bit build of the same sources.
win_build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
if ! "$root/scripts/wine-run.sh" --runs-32bit; then
    echo "This machine can't run 32-bit code: the Windows tests run on the 64-bit build (build-win64)."
    "$root/scripts/build-windows.sh" --x86_64
    win_build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
fi

source "$root/scripts/services.sh"

# Runs a command on one desktop stack, started and stopped around it.
run_on_stack() {
    local stack=$1
    shift
    (
        trap stop_services EXIT
        start_services "$stack"
        echo "== desktop stack: $stack"
        "$@"
    )
}

linux_tests() { (cd "$build" && ctest --output-on-failure "$@"); }
windows_tests() {
    start_wine
    (cd "$win_build" && ctest --output-on-failure -L win32 "$@")
}
all_tests() {
    local failed=0
    linux_tests "$@" || failed=1
    windows_tests "$@" || failed=1
    return $failed
}

status=0
run_on_stack x11 all_tests "$@" || status=1
run_on_stack wayland linux_tests -L stack "$@" || status=1
run_on_stack x11-sni linux_tests -L stack "$@" || status=1
exit $status
