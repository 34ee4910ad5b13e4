# SPDX-License-Identifier: GPL-3.0-or-later
# GNOME's own screen-cast stack, headless, for the tests: mutter (its headless backend, one virtual
# monitor drawn in software) with Xwayland, PipeWire with WirePlumber, xdg-desktop-portal with
# xdg-desktop-portal-gnome, and the accessibility bus through which answer-share.py answers the
# backend's "Screen Share" dialog, all on a D-Bus session of its own. Beside it a second bus whose
# portal has no backend, as on a desktop without xdg-desktop-portal-gnome: it offers no ScreenCast.
# Source it; needs bash. Stop it with gnome_session_stop (call it from a trap).
#
# gnome_session_begin FOLDER exports WAYLAND_DISPLAY, DISPLAY and XAUTHORITY (Xwayland),
# DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP and
# GNOME_BARE_BUS_ADDRESS (the bus without a backend). Every dialog is answered with the first monitor
# and adds a line to FOLDER/chooser-asked. Returns 2, saying why in FOLDER/missing, when a package is
# not installed. mutter runs as root as it is, unlike sway.

# shellcheck source=wayland-session.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/wayland-session.sh"  # wayland_child, wayland_session_stop

gnome_answerer="$(dirname -- "${BASH_SOURCE[0]}")/answer-share.py"

gnome_missing() {  # says which package is missing, if one is
    local package program
    for program in mutter:mutter xwayland:Xwayland pipewire:pipewire wireplumber:wireplumber \
        xdg-desktop-portal:/usr/libexec/xdg-desktop-portal \
        xdg-desktop-portal-gnome:/usr/libexec/xdg-desktop-portal-gnome \
        at-spi2-core:/usr/libexec/at-spi-bus-launcher dbus:dbus-daemon x11-utils:xdpyinfo; do
        package=${program%%:*}
        command -v "${program#*:}" >/dev/null || { echo "$package is not installed"; return; }
    done
    # Debian's own Python: another python3 earlier in PATH lacks its GObject bindings.
    /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
        echo "python3-gi or gir1.2-atspi-2.0 is not installed"
}

# mutter wants /tmp/.X11-unix writable by all and owned by root or itself. It makes the folder with
# mkdir(01777), which the umask cuts, and then refuses it; sway's Xwayland, run as nobody, makes it
# nobody's.
gnome_x11_folder() {
    [ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix 2>/dev/null || true
    case "$(stat -c '%u %a' /tmp/.X11-unix)" in
        "0 1777" | "$(id -u) 1777") return 0 ;;
    esac
    if [ "$(id -u)" != 0 ] || ! chown 0:0 /tmp/.X11-unix || ! chmod 1777 /tmp/.X11-unix; then
        wayland_fail "mutter cannot use /tmp/.X11-unix (not root's, or not writable by all)"
        return 1
    fi
}

gnome_backend_casts() {  # the backend registers ScreenCast once it has seen mutter's
    dbus-send --session --print-reply --dest=org.freedesktop.impl.portal.desktop.gnome \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Introspectable.Introspect |
        grep -q org.freedesktop.impl.portal.ScreenCast
}

gnome_bare() {  # COMMAND...: runs it on the bus without a backend
    DBUS_SESSION_BUS_ADDRESS=$GNOME_BARE_BUS_ADDRESS "$@"
}

gnome_session_begin() {  # FOLDER
    wayland_folder=$1
    mkdir -p "$wayland_folder"/{runtime,bare-runtime,home,config,data,cache,state,portals,no-portals}
    local missing
    missing=$(gnome_missing)
    if [ -n "$missing" ]; then
        echo "$missing" >"$wayland_folder/missing"
        return 2
    fi
    chmod 700 "$wayland_folder/runtime" "$wayland_folder/bare-runtime"
    gnome_x11_folder || return 1
    : >"$wayland_folder/chooser-asked"
    # Only GNOME's backend: the portal would otherwise fall back to any other installed one.
    cp /usr/share/xdg-desktop-portal/portals/gnome.portal "$wayland_folder/portals/"

    unset WAYLAND_DISPLAY DISPLAY XAUTHORITY PIPEWIRE_REMOTE NO_AT_BRIDGE GTK_A11Y
    # No dconf service to start and stop: settings stay in memory. The dialog is read by its English
    # names; GTK draws without OpenGL.
    export XDG_RUNTIME_DIR="$wayland_folder/runtime" HOME="$wayland_folder/home" \
        XDG_CONFIG_HOME="$wayland_folder/config" XDG_DATA_HOME="$wayland_folder/data" \
        XDG_CACHE_HOME="$wayland_folder/cache" XDG_STATE_HOME="$wayland_folder/state" \
        XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME XDG_DESKTOP_PORTAL_DIR="$wayland_folder/portals" \
        GSETTINGS_BACKEND=memory LANG=C.UTF-8 LANGUAGE='' GSK_RENDERER=cairo

    wayland_child dbus dbus-daemon --session --nofork --address="unix:path=$wayland_folder/bus"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$wayland_folder/bus"
    session_wait 10 dbus-send --session --dest=org.freedesktop.DBus / org.freedesktop.DBus.Peer.Ping ||
        { wayland_fail "no D-Bus session"; return 1; }

    # A small monitor: mutter draws in software, and every pixel costs both cores.
    wayland_child mutter mutter --headless --wayland --virtual-monitor 1280x720 --wayland-display=gnome-0
    session_wait 20 grep -q 'Using public X11 display' "$wayland_folder/mutter.log" ||
        { wayland_fail "mutter did not start Xwayland"; return 1; }
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/gnome-0" DISPLAY XAUTHORITY
    DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$wayland_folder/mutter.log" | head -n 1)
    XAUTHORITY=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name '.mutter-Xwaylandauth.*' | head -n 1)
    session_wait 20 xdpyinfo || { wayland_fail "Xwayland does not answer on $DISPLAY"; return 1; }
    dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY

    wayland_child pipewire pipewire
    session_wait 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { wayland_fail "PipeWire did not start"; return 1; }
    wayland_child wireplumber wireplumber
    session_wait 10 sh -c 'pw-cli ls Client | grep -q WirePlumber' || { wayland_fail "WirePlumber did not start"; return 1; }
    session_wait 10 wayland_bus_has org.gnome.Mutter.ScreenCast || { wayland_fail "mutter offers no screen cast"; return 1; }

    # A GTK program joins the accessibility bus only if it is there when the program starts.
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null ||
        { wayland_fail "no accessibility bus"; return 1; }
    # Started here rather than by the bus, and asked only once it owns its name: a call to an unowned
    # name would have the bus start a second copy.
    wayland_child portal-backend /usr/libexec/xdg-desktop-portal-gnome
    session_wait 10 wayland_bus_has org.freedesktop.impl.portal.desktop.gnome || { wayland_fail "the portal backend did not start"; return 1; }
    session_wait 10 gnome_backend_casts || { wayland_fail "the portal backend offers no screen cast"; return 1; }
    wayland_child portal /usr/libexec/xdg-desktop-portal
    session_wait 10 wayland_bus_has org.freedesktop.portal.Desktop || { wayland_fail "the portal did not start"; return 1; }
    wayland_child answer /usr/bin/python3 "$gnome_answerer" "$wayland_folder/chooser-asked"
    session_wait 10 grep -q watching "$wayland_folder/answer.log" || { wayland_fail "the dialog's answerer did not start"; return 1; }

    export GNOME_BARE_BUS_ADDRESS="unix:path=$wayland_folder/bare-bus"
    # With a runtime folder of its own, for the document portal it starts.
    wayland_child bare-dbus env XDG_RUNTIME_DIR="$wayland_folder/bare-runtime" \
        dbus-daemon --session --nofork --address="$GNOME_BARE_BUS_ADDRESS"
    session_wait 10 gnome_bare dbus-send --session --dest=org.freedesktop.DBus / org.freedesktop.DBus.Peer.Ping ||
        { wayland_fail "no second D-Bus session"; return 1; }
    wayland_child bare-portal env DBUS_SESSION_BUS_ADDRESS="$GNOME_BARE_BUS_ADDRESS" \
        XDG_RUNTIME_DIR="$wayland_folder/bare-runtime" XDG_DESKTOP_PORTAL_DIR="$wayland_folder/no-portals" \
        /usr/libexec/xdg-desktop-portal
    session_wait 10 gnome_bare wayland_bus_has org.freedesktop.portal.Desktop ||
        { wayland_fail "the portal without a backend did not start"; return 1; }
}

gnome_session_stop() {
    # The second bus's own permission store and document portal, as wayland_session_stop does for the
    # first; the accessibility bus ends with its bus.
    local name pid
    for name in org.freedesktop.impl.portal.PermissionStore org.freedesktop.portal.Documents; do
        pid=$(gnome_bare dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null | awk '/uint32/ { print $2 }')
        [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    done
    wayland_session_stop
    if mountpoint -q "$wayland_folder/bare-runtime/doc" 2>/dev/null; then
        fusermount3 -u "$wayland_folder/bare-runtime/doc" 2>/dev/null || umount -l "$wayland_folder/bare-runtime/doc" || true
    fi
}
