# SPDX-License-Identifier: GPL-3.0-or-later
# A headless Wayland desktop for the tests, with a working screen-cast portal and no dialog: sway
# (wlroots' headless backend drawn with pixman) with Xwayland, PipeWire with WirePlumber, and
# xdg-desktop-portal with its wlroots backend (the build scripts/deps --test makes, which works without a
# graphics card), all on a D-Bus session of its own. Source it; needs bash. Stop it with
# wayland_session_stop (call it from a trap).
#
# wayland_session_begin FOLDER exports WAYLAND_DISPLAY, DISPLAY (Xwayland), DBUS_SESSION_BUS_ADDRESS,
# XDG_RUNTIME_DIR, XDG_SESSION_TYPE and XDG_CURRENT_DESKTOP. The portal asks FOLDER/choose which output
# to share: it answers with the contents of FOLDER/choice, "HEADLESS-1" at first; an empty choice
# refuses, and "wait" keeps it waiting (a person who has not answered yet) until the choice changes or
# 30 s pass. Each time it is asked it adds a line to FOLDER/chooser-asked, and one to
# FOLDER/chooser-answered when it answers.
#
# sway refuses to run as root, so as root it runs as nobody: FOLDER must lie where nobody can reach
# (under /tmp, not in a private home).

# shellcheck source=session.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/session.sh"  # for session_wait

wayland_pids=()
wayland_folder=""
wayland_nobody=65534

wayland_backend() {  # the portal backend scripts/deps --test builds
    echo "${TAVRIN_PORTAL_BACKEND:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrin/xdg-desktop-portal-wlr/xdg-desktop-portal-wlr}"
}


wayland_child() {  # LOG COMMAND...: runs it in the background and remembers it
    local log=$1
    shift
    "$@" >>"$wayland_folder/$log.log" 2>&1 &
    wayland_pids+=($!)
}

wayland_bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

wayland_fail() {
    echo "wayland session: $*; logs in $wayland_folder" >&2
    return 1
}

wayland_session_begin() {  # FOLDER
    wayland_folder=$1
    local backend
    backend=$(wayland_backend)
    [ -x "$backend" ] || { wayland_fail "no portal backend at $backend (run scripts/deps --test)"; return 1; }
    mkdir -p "$wayland_folder"/{runtime,compositor,home,config/xdg-desktop-portal-wlr,data/dbus-1/services}
    chmod 755 "$wayland_folder"
    chmod 700 "$wayland_folder/runtime" "$wayland_folder/compositor"
    # Xwayland's display number, written by sway's own child once this user may use it.
    : >"$wayland_folder/x11-display"
    if [ "$(id -u)" = 0 ]; then
        chown "$wayland_nobody:$wayland_nobody" "$wayland_folder/compositor" "$wayland_folder/x11-display"
    fi
    cat >"$wayland_folder/sway.conf" <<EOF
output HEADLESS-1 resolution 1280x720 position 0,0 bg #2a4a6a solid_color
xwayland force
exec sh -c 'xhost +si:localuser:$(id -un 0) && echo \$DISPLAY > $wayland_folder/x11-display'
EOF
    echo HEADLESS-1 >"$wayland_folder/choice"
    cat >"$wayland_folder/choose" <<EOF
#!/bin/sh
echo asked >> $wayland_folder/chooser-asked
waited=0
while [ "\$(cat $wayland_folder/choice)" = wait ] && [ \$waited -lt 300 ]; do sleep 0.1; waited=\$((waited + 1)); done
echo answered >> $wayland_folder/chooser-answered
cat $wayland_folder/choice
EOF
    chmod 755 "$wayland_folder/choose"
    printf '[screencast]\nchooser_type=simple\nchooser_cmd=%s\nmax_fps=30\n' "$wayland_folder/choose" \
        >"$wayland_folder/config/xdg-desktop-portal-wlr/config"
    # Should the portal start its backend itself, it must start this one.
    printf '[D-BUS Service]\nName=org.freedesktop.impl.portal.desktop.wlr\nExec=%s\n' "$backend" \
        >"$wayland_folder/data/dbus-1/services/org.freedesktop.impl.portal.desktop.wlr.service"

    unset WAYLAND_DISPLAY SWAYSOCK DISPLAY PIPEWIRE_REMOTE
    export XDG_RUNTIME_DIR="$wayland_folder/runtime" XDG_CONFIG_HOME="$wayland_folder/config" \
        XDG_DATA_HOME="$wayland_folder/data" XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1

    wayland_child dbus dbus-daemon --session --nofork --address="unix:path=$wayland_folder/bus"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$wayland_folder/bus"
    session_wait 10 dbus-send --session --dest=org.freedesktop.DBus / org.freedesktop.DBus.Peer.Ping ||
        { wayland_fail "no D-Bus session"; return 1; }

    local as_nobody=()
    [ "$(id -u)" = 0 ] && as_nobody=(setpriv --reuid=$wayland_nobody --regid=$wayland_nobody --clear-groups)
    wayland_child sway env XDG_RUNTIME_DIR="$wayland_folder/compositor" HOME="$wayland_folder/compositor" \
        "${as_nobody[@]}" sway -c "$wayland_folder/sway.conf"
    session_wait 15 grep -q : "$wayland_folder/x11-display" || { wayland_fail "sway or Xwayland did not start"; return 1; }
    local socket
    socket=$(find "$wayland_folder/compositor" -maxdepth 1 -name 'wayland-[0-9]*' ! -name '*.lock' | head -n 1)
    export WAYLAND_DISPLAY=$socket DISPLAY
    DISPLAY=$(cat "$wayland_folder/x11-display")
    dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE

    wayland_child pipewire pipewire
    session_wait 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { wayland_fail "PipeWire did not start"; return 1; }
    wayland_child wireplumber wireplumber
    session_wait 10 sh -c 'pw-cli ls Client | grep -q WirePlumber' || { wayland_fail "WirePlumber did not start"; return 1; }

    wayland_child portal-backend "$backend"
    session_wait 10 wayland_bus_has org.freedesktop.impl.portal.desktop.wlr ||
        { wayland_fail "the portal backend did not start"; return 1; }
    wayland_child portal /usr/libexec/xdg-desktop-portal
    session_wait 10 wayland_bus_has org.freedesktop.portal.Desktop || { wayland_fail "the portal did not start"; return 1; }
}

wayland_session_stop() {
    local index name pid
    # Services the bus started on demand (the permission store) are ours too.
    for name in org.freedesktop.impl.portal.PermissionStore org.freedesktop.portal.Documents; do
        pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null | awk '/uint32/ { print $2 }')
        [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    done
    for ((index = ${#wayland_pids[@]} - 1; index >= 0; index--)); do
        kill "${wayland_pids[index]}" 2>/dev/null || true
        wait "${wayland_pids[index]}" 2>/dev/null || true
    done
    wayland_pids=()
    # The document portal's file system, should it outlive its process.
    if mountpoint -q "$wayland_folder/runtime/doc" 2>/dev/null; then
        fusermount3 -u "$wayland_folder/runtime/doc" 2>/dev/null || umount -l "$wayland_folder/runtime/doc" || true
    fi
}
