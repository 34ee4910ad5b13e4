#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# PipeWire with WirePlumber and its PulseAudio server for the tests, on a D-Bus session of their own,
# everything in FOLDER (its runtime and home folder): the PulseAudio socket is FOLDER/pulse/native and
# a null sink, "tavrin_sink", is the default sink. Runs until SIGTERM or SIGINT, then stops what it
# started; exits with 1 when a server does not come up.
# usage: pipewire-sound.sh FOLDER
set -u
folder=$1
# shellcheck source=session.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/session.sh"  # for session_wait

unset DISPLAY WAYLAND_DISPLAY PIPEWIRE_REMOTE
export HOME=$folder XDG_RUNTIME_DIR=$folder XDG_CONFIG_HOME=$folder XDG_STATE_HOME=$folder \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/bus PULSE_SERVER=unix:$folder/pulse/native WIREPLUMBER_DEBUG=1
pids=()
stop() {
    local index
    for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
        kill "${pids[index]}" 2>/dev/null
        wait "${pids[index]}" 2>/dev/null
    done
    exit "$1"
}
trap 'stop 0' TERM INT

dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" &
pids+=($!)
session_wait 10 test -S "$folder/bus" || stop 1
pipewire &
pids+=($!)
session_wait 10 test -S "$folder/pipewire-0" || stop 1
for server in wireplumber pipewire-pulse; do
    "$server" &
    pids+=($!)
done
session_wait 20 pactl info || stop 1
# WirePlumber takes a new sink in before it may become the default.
pactl load-module module-null-sink sink_name=tavrin_sink >/dev/null || stop 1
session_wait 10 sh -c 'pactl set-default-sink tavrin_sink && [ "$(pactl get-default-sink)" = tavrin_sink ]' ||
    stop 1
while true; do
    wait
done
