# Sourced by the test command: a private X server and PulseAudio server with a null sink, stopped on exit.
# Exports DISPLAY, PULSE_SERVER and VLM_TEST_SINK for the tests, and WINEPREFIX: one Wine prefix on that
# display and sound server, shared by the Windows tests.

vlm_services_dir=""
vlm_xvfb_pid=""
vlm_pulse_pid=""
vlm_scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

start_services() {
    vlm_services_dir=$(mktemp -d /tmp/vlm-services.XXXXXX)

    local display
    for display in $(seq 91 130); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
    done
    Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$vlm_services_dir/xvfb.log" 2>&1 &
    vlm_xvfb_pid=$!
    export DISPLAY=":$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

    export VLM_TEST_SINK=vlm_null
    export PULSE_RUNTIME_PATH="$vlm_services_dir/pulse"
    export PULSE_STATE_PATH="$vlm_services_dir/pulse-state"
    export PULSE_SERVER="unix:$vlm_services_dir/pulse/native"
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
        --load="module-native-protocol-unix socket=$vlm_services_dir/pulse/native auth-anonymous=1" \
        --load="module-null-sink sink_name=$VLM_TEST_SINK rate=44100 channels=2" \
        --load="module-always-sink" \
        >"$vlm_services_dir/pulse.log" 2>&1 &
    vlm_pulse_pid=$!
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink "$VLM_TEST_SINK" >/dev/null 2>&1 || true

    if command -v wineserver >/dev/null; then
        export WINEPREFIX="$vlm_services_dir/wine"
        "$vlm_scripts_dir/wine-run.sh" --boot >"$vlm_services_dir/wine.log" 2>&1 || cat "$vlm_services_dir/wine.log"
    fi
}

stop_services() {
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    [ -n "$vlm_pulse_pid" ] && kill "$vlm_pulse_pid" 2>/dev/null && wait "$vlm_pulse_pid" 2>/dev/null
    [ -n "$vlm_xvfb_pid" ] && kill "$vlm_xvfb_pid" 2>/dev/null && wait "$vlm_xvfb_pid" 2>/dev/null
    [ -n "$vlm_services_dir" ] && rm -rf "$vlm_services_dir"
    vlm_pulse_pid="" vlm_xvfb_pid="" vlm_services_dir=""
    return 0
}
