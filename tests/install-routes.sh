#!/usr/bin/env bash
# install-routes.sh BUILD_DIR: puts the suite in place by each of its routes,
# each in a throwaway root: cmake --install to /usr and to /usr/local, the
# Debian package (dpkg-deb -x), and the installer's privileged copy tool
# (installed with the component "installer") run with /opt, /etc/xdg/autostart
# and /usr/local/share bound to the root's folders, and then on bundles an
# attacker has changed (--copy-row). Then it looks at each root
# the way a desktop does at the next login, with XDG_CONFIG_DIRS and
# XDG_DATA_DIRS pointing into it, on a private session bus: it starts what
# the autostart entries name and sees the notifier take its bus name, finds
# the sign-in program's entry and activates it over D-Bus, and finds the
# icons. In a mount namespace of its own the root is laid over the system's
# folders, so that the paths the entries name lead into the root.
# Run as root.
set -euo pipefail
fail() { echo "FAIL [$route]: $*" >&2; failures=$((failures + 1)); }
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }
failures=0

case "${1:-}" in
--desktop)
    # install-routes.sh --desktop ROUTE: on the private bus, in the namespace.
    route=$2
    program_of() { readlink "/proc/$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetConnectionUnixProcessID "$1" | sed -nE 's/.*uint32 ([0-9]+).*/\1/p')/exe"; }
    # The desktop's keyring, unlocked at login, which the programs read at start.
    printf '%s' route-test | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
    gdbus wait --session --timeout 10 org.freedesktop.secrets || fail "no keyring on the bus"
    IFS=: read -ra config_dirs <<<"$XDG_CONFIG_DIRS"
    IFS=: read -ra data_dirs <<<"$XDG_DATA_DIRS"
    # data_file PATH: the first of the data folders' files PATH that is not empty.
    data_file() { for dir in "${data_dirs[@]}"; do [ -s "$dir/$1" ] && echo "$dir/$1" && break; done; true; }
    for dir in "${config_dirs[@]}"; do
        for entry in "$dir"/autostart/*.desktop; do
            [ -f "$entry" ] && [ "$(key "$entry" Hidden)" != true ] || continue
            try=$(key "$entry" TryExec)
            [ -z "$try" ] || [ -x "$try" ] || { fail "$entry: TryExec $try is not there"; continue; }
            eval "command=($(key "$entry" Exec))"
            "${command[@]}" >/dev/null 2>&1 &
        done
    done
    if ! gdbus wait --session --timeout 30 org.tarvendesk.tarvenDESKStatusBar; then
        fail "no autostart entry started the notifier"
    elif [ "$(program_of org.tarvendesk.tarvenDESKStatusBar)" != "${command[0]}" ]; then
        fail "the notifier's bus name is not held by ${command[0]}"
    fi
    entry=$(data_file applications/org.tarvendesk.TarvenDESK.desktop)
    if [ -z "$entry" ] || [ "$(key "$entry" DBusActivatable)" != true ]; then
        fail "no D-Bus activatable sign-in entry in XDG_DATA_DIRS"
    elif ! gdbus call --session --timeout 60 --dest org.tarvendesk.TarvenDESK \
        --object-path /org/tarvendesk/TarvenDESK --method org.freedesktop.Application.Activate '@a{sv} {}' >/dev/null; then
        fail "activating the sign-in program over D-Bus failed"
    else
        signin=$(program_of org.tarvendesk.TarvenDESK) || true
        eval "command=($(key "$entry" Exec))"
        [ "$signin" = "${command[0]}" ] || fail "the sign-in bus name is held by '$signin', not ${command[0]}"
    fi
    for icon in 128x128/apps/org.tarvendesk.TarvenDESK.png scalable/apps/org.tarvendesk.TarvenDESK.svg \
        scalable/apps/org.tarvendesk.tarvenDESKStatusBar.svg symbolic/apps/tarvendesk-status-symbolic.svg; do
        [ -n "$(data_file "icons/hicolor/$icon")" ] || fail "the theme has no $icon"
    done
    exit $((failures > 0))
    ;;
--copy-row)
    # install-routes.sh --copy-row ROW STAGE: in a mount namespace, over empty
    # system folders, the copy tool of a staged installer component whose
    # bundle the row has changed, and what must hold after.
    route="installer: $2" stage=$3
    tool=$stage/usr/local/bin/tarvendesk-duplicate
    bundle=$stage/usr/local/share/tarvendesk/installer/tarvenDESK.app
    app=/opt/tarvenDESK.app share=/usr/local/share
    for folder in /opt /etc/xdg/autostart /usr/local/share; do mount -t tmpfs tmpfs "$folder"; done
    copy() { "$tool" "$bundle" /opt >/dev/null 2>"$stage/said"; }
    refused() {
        ! copy || fail "the copy tool copied"
        grep -qF "$1" "$stage/said" || fail "the tool said '$(cat "$stage/said")', not '$1'"
        [ ! -e "$app" ] || [ "$2" = linked ] || fail "a copy was made"
    }
    case "$2" in
    "planted names")
        touch "$bundle/share/dbus-1/services/org.freedesktop.Notifications.service" \
            "$bundle/share/applications/other.desktop"
        # The second run replaces the first's links.
        copy && copy || fail "the copy tool failed: $(cat "$stage/said")"
        [ ! -e "$share/dbus-1/services/org.freedesktop.Notifications.service" ] \
            && [ ! -e "$share/applications/other.desktop" ] || fail "a name not the suite's was linked"
        service=dbus-1/services/org.tarvendesk.TarvenDESK.service
        [ "$(readlink "$share/$service")" = "$app/share/$service" ] || fail "the suite's service was not linked"
        ;;
    "another vendor's entry")
        mkdir -p "$share/applications"
        echo vendor >"$share/applications/org.tarvendesk.TarvenDESK.desktop"
        refused "in the way" linked
        [ "$(cat "$share/applications/org.tarvendesk.TarvenDESK.desktop")" = vendor ] || fail "it was replaced"
        ;;
    "modes anyone may write")
        chmod 0666 "$bundle/bin/TarvenDESK"
        chmod 1777 "$bundle/share/dbus-1/services"
        copy || fail "the copy tool failed: $(cat "$stage/said")"
        modes=$(stat -c %U:%a "$app/bin/TarvenDESK" "$app/share/dbus-1/services" | tr '\n' ' ')
        [ "$modes" = "root:644 root:755 " ] || fail "the copies' owners and modes are $modes"
        ;;
    "a data folder its owner may write") chown 65534 "$bundle/.." && refused "writable by root alone" ;;
    "a data folder its group may write") chmod 0775 "$bundle/.." && refused "writable by root alone" ;;
    "a program a user owns") chown 65534 "$bundle/bin/TarvenDESK" && refused "must belong to root" ;;
    esac
    exit $((failures > 0))
    ;;
--namespace)
    # install-routes.sh --namespace ROUTE ROOT PREFIX: in a mount namespace.
    route=$2 root=$3 prefix=$4
    for top in opt etc usr; do
        [ ! -d "$root/$top" ] || mount -t overlay overlay -o "lowerdir=$root/$top:/$top" "/$top"
    done
    mkdir -m 700 "$root/run" "$root/home"
    XDG_CONFIG_DIRS=$root/etc/xdg XDG_DATA_DIRS=$root$prefix/share QT_QPA_PLATFORM=offscreen \
        XDG_RUNTIME_DIR=$root/run XDG_DATA_HOME=$root/home XDG_CONFIG_HOME=$root/home \
        exec dbus-run-session -- "$0" --desktop "$route"
    ;;
esac

build=$(cd "$1" && pwd)
unshare -m -p -f --mount-proc true 2>/dev/null || { echo "SKIP: no mount namespace can be made here"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for route in /usr /usr/local deb installer; do
    root="$scratch/${route//\//_}"
    prefix=$route
    case "$route" in
    deb)
        prefix=/usr
        cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 \
            || { cat "$scratch/cpack.log"; fail "cpack failed"; continue; }
        dpkg-deb -x "$scratch"/package/tarvendesk_*.deb "$root"
        ;;
    installer)
        prefix=/usr/local
        stage="$scratch/stage"
        DESTDIR="$stage" cmake --install "$build" --prefix /usr/local --component installer >/dev/null
        policy="$stage/usr/share/polkit-1/actions/org.tarvendesk.installer.policy"
        tool=/usr/local/bin/tarvendesk-duplicate
        xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" || fail "the polkit action is not valid"
        grep -qF "<annotate key=\"org.freedesktop.policykit.exec.path\">$tool</annotate>" "$policy" \
            && [ -x "$stage$tool" ] || fail "the polkit action does not name the installed tool $tool"
        mkdir -p "$root/opt" "$root/etc/xdg/autostart" "$root/usr/local/share"
        data="$stage/usr/local/share/tarvendesk/installer"
        unshare -m sh -c 'mount --bind "$1/opt" /opt && mount --bind "$1/etc/xdg/autostart" /etc/xdg/autostart \
            && mount --bind "$1/usr/local/share" /usr/local/share \
            && "$2" "$3"/org.tarvendesk.TarvenDeskChecker.desktop /etc/xdg/autostart \
            && "$2" "$3"/tarvenDESK.app /opt' sh "$root" "$stage$tool" "$data" >/dev/null \
            || fail "the copy tool failed"
        for row in "planted names" "another vendor's entry" "modes anyone may write" \
            "a data folder its owner may write" "a data folder its group may write" "a program a user owns"; do
            rm -rf "$scratch/row" && cp -a "$stage" "$scratch/row"
            unshare -m "$0" --copy-row "$row" "$scratch/row" || failures=$((failures + 1))
        done
        ;;
    *) DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >/dev/null ;;
    esac
    [ ! -e "$root$prefix/bin/tarvendesk-service" ] || fail "the test service was installed with the suite"
    # A process namespace too: whatever the session started ends with it.
    unshare -m -p -f --mount-proc "$0" --namespace "$route" "$root" "$prefix" || failures=$((failures + 1))
done
exit $((failures > 0))
