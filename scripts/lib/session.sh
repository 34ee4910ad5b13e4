# SPDX-License-Identifier: GPL-3.0-or-later
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

# True when process PID is the server that answers on display :NUMBER: one of the display's sockets is
# among its files, and the display answers.
session_serves() {  # NUMBER PID
    local inode
    for inode in $(awk -v path="/tmp/.X11-unix/X$1" '$8 == path || $8 == "@" path { print $7 }' /proc/net/unix); do
        if find "/proc/$2/fd" -lname "socket:\[$inode\]" | grep -q .; then
            xdpyinfo -display ":$1"
            return
        fi
    done
    return 1
}

session_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    # Xvfb takes a free number itself and writes it once it accepts connections: a number that looks
    # free here may be taken by another server before ours claims it, and the tests would then run on
    # that server until it goes away. Without -noreset the server resets when its last client leaves
    # and drops a client that connects meanwhile, as openbox does right after the probe below.
    local numberFile="$session_folder/display" number server
    : >"$numberFile"
    session_start_child Xvfb -displayfd 3 -noreset -screen 0 1920x1080x24 -nolisten tcp 3>"$numberFile"
    server=${session_pids[-1]}
    if session_wait 20 grep -q '^[0-9][0-9]*$' "$numberFile"; then
        number=$(head -n 1 "$numberFile")
        if session_serves "$number" "$server" >/dev/null 2>&1; then
            export DISPLAY=":$number"
            session_start_child openbox --sm-disable
            session_wait 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
            return 0
        fi
    fi
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
