# Sourced by the test command: the desktop stacks the end-to-end tests run on, each started and stopped by small
# functions. `start_services [STACK]` starts one of
#   x11      Xvfb and a PulseAudio server with a null sink (the tests add openbox and the XEmbed tray trayer);
#   wayland  a private session bus, PipeWire with its PulseAudio service and a null sink, and a headless weston
#            (the tests add a StatusNotifierItem host on the bus);
#   x11-sni  Xvfb, PulseAudio and a private session bus (the tests add openbox and a StatusNotifierItem host).
# It exports VLM_TEST_STACK, DISPLAY or WAYLAND_DISPLAY, PULSE_SERVER and VLM_TEST_SINK (and
# DBUS_SESSION_BUS_ADDRESS on the SNI stacks) for the tests; `start_wine` adds WINEPREFIX: one Wine prefix on that
# display and sound server, shared by the Windows tests. `stop_services` stops whatever was started.

vlm_services_dir=""
vlm_service_pids=()
vlm_scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Starts a service in the background and keeps its process id for stop_services; its output goes to NAME.log.
vlm_spawn() {
    local name=$1
    shift
    "$@" >"$vlm_services_dir/$name.log" 2>&1 &
    vlm_service_pids+=($!)
}

start_xvfb() {
    local display
    for display in $(seq 91 130); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
    done
    vlm_spawn xvfb Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp
    export DISPLAY=":$display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
}

start_pulseaudio() {
    export PULSE_RUNTIME_PATH="$vlm_services_dir/pulse"
    export PULSE_STATE_PATH="$vlm_services_dir/pulse-state"
    export PULSE_SERVER="unix:$vlm_services_dir/pulse/native"
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    vlm_spawn pulse pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
        --load="module-native-protocol-unix socket=$vlm_services_dir/pulse/native auth-anonymous=1" \
        --load="module-null-sink sink_name=$VLM_TEST_SINK rate=44100 channels=2" \
        --load="module-always-sink"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink "$VLM_TEST_SINK" >/dev/null 2>&1 || true
}

# The services of a user's session find each other through XDG_RUNTIME_DIR; a private one keeps them apart from
# anything else running on this machine.
start_runtime_dir() {
    export XDG_RUNTIME_DIR="$vlm_services_dir/runtime"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
}

start_session_bus() {
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$vlm_services_dir/bus"
    vlm_spawn dbus dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    for _ in $(seq 50); do [ -S "$vlm_services_dir/bus" ] && break; sleep 0.1; done
}

start_pipewire() {
    vlm_spawn pipewire pipewire
    for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
    vlm_spawn wireplumber wireplumber
    vlm_spawn pipewire-pulse pipewire-pulse
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl load-module module-null-sink sink_name="$VLM_TEST_SINK" rate=44100 channels=2 >/dev/null
    for _ in $(seq 50); do pactl list short sinks 2>/dev/null | grep -q "$VLM_TEST_SINK" && break; sleep 0.1; done
    pactl set-default-sink "$VLM_TEST_SINK" >/dev/null 2>&1 || true
}

# --debug lets weston-screenshooter take pictures of the output. Clients get the socket's full path, so a program
# with a runtime folder of its own still finds the compositor.
start_weston() {
    vlm_spawn weston weston --backend=headless-backend.so --use-pixman --width=1280 --height=800 --debug \
        --socket=vlm-wayland-0 --idle-time=0
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/vlm-wayland-0"
    for _ in $(seq 100); do [ -S "$WAYLAND_DISPLAY" ] && break; sleep 0.1; done
    unset DISPLAY
}

# A Wine prefix booted with a wineserver that stays up until stop_services (about 10 s the first time).
start_wine() {
    command -v wineserver >/dev/null || return 0
    export WINEPREFIX="$vlm_services_dir/wine"
    "$vlm_scripts_dir/wine-run.sh" --boot >"$vlm_services_dir/wine.log" 2>&1 || cat "$vlm_services_dir/wine.log"
}

start_services() {
    export VLM_TEST_STACK=${1:-x11}
    export VLM_TEST_SINK=vlm_null
    vlm_services_dir=$(mktemp -d /tmp/vlm-services.XXXXXX)
    case "$VLM_TEST_STACK" in
    x11)
        start_xvfb
        start_pulseaudio
        ;;
    wayland)
        start_runtime_dir
        start_session_bus
        start_pipewire
        start_weston
        ;;
    x11-sni)
        start_xvfb
        start_pulseaudio
        start_session_bus
        ;;
    *)
        echo "unknown desktop stack: $VLM_TEST_STACK" >&2
        return 1
        ;;
    esac
}

stop_services() {
    local i
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    for ((i = ${#vlm_service_pids[@]} - 1; i >= 0; i--)); do
        kill "${vlm_service_pids[i]}" 2>/dev/null && wait "${vlm_service_pids[i]}" 2>/dev/null
    done
    [ -n "$vlm_services_dir" ] && rm -rf "$vlm_services_dir"
    vlm_service_pids=() vlm_services_dir=""
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS WINEPREFIX
    return 0
}
