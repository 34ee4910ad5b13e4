# A desktop session for the demo and the end-to-end tests: uses the display and sound server the user
# has, and otherwise starts Xvfb (1920 x 1080) with openbox and a PulseAudio daemon with a null sink
# and a null source. Everything started here is stopped by session_stop (call it from a trap).
# Source it; needs bash.

session_pids=()
session_folder=""
session_sound_pid=""

session_start_child() {  # COMMAND...: runs it in the background and remembers it
    "$@" >>"$session_folder/session.log" 2>&1 &
    session_pids+=($!)
}

session_wait() {  # SECONDS COMMAND...: true once COMMAND succeeds within SECONDS
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

session_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local number
    for number in $(seq 90 110); do
        [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
        session_start_child Xvfb ":$number" -screen 0 1920x1080x24 -nolisten tcp
        if session_wait 20 xdpyinfo -display ":$number"; then
            export DISPLAY=":$number"
            session_start_child openbox --sm-disable
            session_wait 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
            return 0
        fi
    done
    echo "session: no X display could be started" >&2
    return 1
}

# The microphone of a started server: silent, or a 660 Hz tone with SESSION_MICROPHONE=tone.
session_microphone_module() {
    if [ "${SESSION_MICROPHONE:-}" = tone ]; then
        echo "module-sine-source source_name=tavrin_mic rate=48000 frequency=660"
    else
        echo "module-null-source source_name=tavrin_mic"
    fi
}

session_sound() {
    if pactl info >/dev/null 2>&1; then
        return 0
    fi
    local socket="$session_folder/pulse/native"
    mkdir -p "$session_folder/pulse"
    session_start_child env HOME="$session_folder/pulse" XDG_RUNTIME_DIR="$session_folder/pulse" \
        XDG_CONFIG_HOME="$session_folder/pulse" \
        pulseaudio -n --daemonize=no --system=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" \
        -L "module-null-sink sink_name=tavrin_sink" -L "$(session_microphone_module)"
    session_sound_pid=${session_pids[-1]}
    export PULSE_SERVER="unix:$socket"
    session_wait 20 pactl info || { echo "session: no sound server could be started" >&2; return 1; }
}

session_begin() {  # FOLDER: where logs of the started servers go
    session_folder=$1
    mkdir -p "$session_folder"
    session_display && session_sound
}

session_stop() {
    local index
    for ((index = ${#session_pids[@]} - 1; index >= 0; index--)); do
        kill "${session_pids[index]}" 2>/dev/null || true
        wait "${session_pids[index]}" 2>/dev/null || true
    done
    session_pids=()
}
