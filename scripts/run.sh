#!/usr/bin/env bash
# run.sh [--reset]
# Builds the suite's programs and starts them against the reference service on
# loopback, with a demo user whose documents are expiring, critical and expired.
# On a desktop the sign-in window opens on your own session; without a display
# the same road runs headless and is driven by this script. Ctrl-C or TERM, or
# the end of the headless run, stops everything it started (by process ID),
# and this script ends after it, saying so. The terminal shows the demo's own
# lines and the build's progress in one line. The demo user, its password and the service's data stay in one
# folder from run to run, so a later run finds the user signed in; --reset
# starts afresh. The build's and the components' output goes to build/demo.log.
set -euo pipefail
# A signal that comes while a step runs in the foreground (the packages'
# installation) ends this script once that step has ended, and says so.
stopped_by=
trap 'stopped_by=TERM; exit 143' TERM
trap 'stopped_by=Ctrl-C; exit 130' INT
trap 'stopped_by=HUP; exit 129' HUP
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
log="$build/demo.log"
# Kept apart from build/: the sign-in the keyring holds outlives any build, and
# the password it holds must stay the one the demo service knows.
state_home=${XDG_STATE_HOME:-}
[ "${state_home#/}" != "$state_home" ] || state_home="$HOME/.local/state"
demo="$state_home/tarvendesk-demo"

usage() {
    cat <<TEXT
Usage: scripts/run.sh [--reset | --help]

Builds the suite's programs in build/ and starts them against the reference
service on loopback, with a demo user (name and password printed here). On a
desktop the sign-in window opens; without one the sign-in runs headless on a
virtual display and this prints what happened. The demo user, its password and
the service's data are kept in
    $demo
so that a later run finds the user signed in. The build's and the components'
output goes to
    $log

  --reset   start afresh: remove that folder, make a new demo user and
            password, and, on a desktop, sign the suite out of your keyring
  --help    show this and exit
TEXT
}

reset=no
for argument in "$@"; do
    case $argument in
        --reset) reset=yes ;;
        -h | --help) usage; exit 0 ;;
        -*) printf "run.sh: unknown option '%s'\nTry 'scripts/run.sh --help' for more information.\n" \
                "${argument%%=*}" >&2; exit 2 ;;
        *) printf "run.sh: unexpected argument '%s'\nTry 'scripts/run.sh --help' for more information.\n" \
                "$argument" >&2; exit 2 ;;
    esac
done

headless=no
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    headless=yes
fi

# Whether the terminal shows a line that is rewritten in place.
tty=no
[ -t 1 ] && tty=yes
# The terminal, for the last word after a signal: it may come while a step's
# output goes to the log.
exec 4>&1
# Ends a progress line, so that what follows starts on a line of its own.
end_line() {
    [ $tty = no ] || printf '\r\033[K' >&4
}

fail() {
    end_line
    printf 'FAILED: %s; the end of %s:\n' "$1" "$log" >&2
    tail -n 20 "$log" | sed 's/^/    /' >&2
    exit 1
}

# in_group COMMAND...: runs COMMAND in a process group of its own and waits
# until every process in the group has ended. TERM, INT or HUP sent to this
# script goes on to the whole group as TERM, as Ctrl-C reaches a whole
# foreground job, and this script then exits after the group's clean-up.
in_group() {
    set -m
    "$@" </dev/null 4>&- &
    local leader=$!
    set +m
    group=$leader signalled=
    trap 'signalled=143 stopped_by=TERM; kill -TERM -- "-$group" 2>/dev/null || true' TERM
    trap 'signalled=130 stopped_by=Ctrl-C; kill -TERM -- "-$group" 2>/dev/null || true' INT
    trap 'signalled=129 stopped_by=HUP; kill -TERM -- "-$group" 2>/dev/null || true' HUP
    local status=0
    wait "$leader" || status=$?
    # A signal ends the wait early; the leader's own status comes after.
    while kill -0 "$leader" 2>/dev/null; do
        status=0
        wait "$leader" || status=$?
    done
    local tries=0
    while kill -0 -- "-$leader" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -lt 300 ] || { kill -KILL -- "-$leader" 2>/dev/null || true; break; }
        sleep 0.1
    done
    trap 'stopped_by=TERM; exit 143' TERM
    trap 'stopped_by=Ctrl-C; exit 130' INT
    trap 'stopped_by=HUP; exit 129' HUP
    [ -z "$signalled" ] || exit "$signalled"
    return $status
}

# Whatever ends this script, a signal says that the demo stopped, once
# everything it started has ended (stop, on a desktop).
stop() { :; }
finish() {
    local status=$?
    stop
    if [ -n "$stopped_by" ]; then
        end_line
        echo "The demo stopped ($stopped_by): everything it started has ended." >&4
    fi
    return $status
}
trap finish EXIT

# Shows the build's progress in one line of the terminal, rewritten step by
# step from ninja's "[3/156]"; the build's own output stays in the log.
build_progress() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        if [ $tty = yes ] && [[ $line =~ ^\[([1-9][0-9]*)/([0-9]+)\]\  ]]; then
            printf '\r\033[KBuilding: step %s of %s' "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
        fi
    done
}
build_programs() {
    "$root/scripts/build.sh" "$build" --programs 2>&1 | build_progress
}

mkdir -p "$build"
: >"$log"
sets=(run)
[ $headless = no ] || sets=(headless)
# Its first line names the packages it installs; none when all are there.
"$root/scripts/install-deps.sh" "${sets[@]}" 2>&1 | while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    [[ $line != "Installing: "* ]] || echo "Installing the packages that are missing: ${line#Installing: }"
done || fail "installing the packages the suite needs failed"
grep -q '^Installing: ' "$log" || echo "The packages the demo needs are installed."
echo "Building the programs in $build (the compiler's output goes to $log)."
in_group build_programs || fail "the build failed"
end_line
steps=$(grep -c '^\[[1-9][0-9]*/[0-9]*\] ' "$log" || true)
if [ "$steps" -eq 0 ]; then
    echo "Nothing to build: the programs are up to date."
else
    echo "Built the programs ($steps steps)."
fi

source "$root/scripts/lib/desktop-session.sh"
# Its traps end the script as these do, without saying why.
trap 'stopped_by=TERM; exit 143' TERM
trap 'stopped_by=Ctrl-C; exit 130' INT
trap 'stopped_by=HUP; exit 129' HUP

# Removes the suite's details record from the desktop's keyring, which holds
# the password of the demo user that --reset replaces.
forget_sign_in() {
    local reply path prompt
    reply=$(dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
        org.freedesktop.Secret.Service.SearchItems \
        'dict:string:string:account,tarvenDeskDetails,service,tarvenDeskService' 2>>"$log") || return 0
    for path in $(sed -n 's/.*object path "\(.*\)".*/\1/p' <<<"$reply"); do
        prompt=$(dbus-send --session --print-reply --dest=org.freedesktop.secrets "$path" \
            org.freedesktop.Secret.Item.Delete 2>>"$log" | sed -n 's/.*object path "\(.*\)".*/\1/p')
        if [ "$prompt" = / ]; then
            echo "Signed the suite out of your keyring."
        else
            echo "The keyring did not let the suite's sign-in go (it may be locked): choose Sign Out in the window."
        fi
    done
}

if [ $reset = yes ]; then
    rm -rf "$demo"
    [ $headless = yes ] || forget_sign_in
    echo "Starting afresh: a new demo user and password."
fi
mkdir -p -m 700 "$demo"
fresh=no
if [ ! -s "$demo/password" ]; then
    fresh=yes
    rm -rf "$demo"/service.db* "$demo/documents-day" "$demo/session"
    new_password=$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 12)
    (umask 077 && printf '%s\n' "$new_password" >"$demo/password")
    unset new_password
fi
chmod 600 "$demo/password"
password=
IFS= read -r password <"$demo/password" || [ -n "$password" ] || fail "no password in $demo/password"
# The service's certificate is this build's: a new build makes a new one.
for file in cert.pem key.pem; do
    cmp -s "$build/pki/$file" "$demo/$file" || (umask 077 && cp "$build/pki/$file" "$demo/$file")
done
# The documents are dated from the day they were added, so that their counts
# are 2 expiring, 1 critical and 3 expired: on another day they are added anew,
# with the same user and password.
today=$(date +%F)
if [ ! -s "$demo/service.db" ] || [ "$(cat "$demo/documents-day" 2>/dev/null)" != "$today" ]; then
    # With its write-ahead log, which must not meet another database.
    rm -f "$demo"/service.db*
    desktop_add_demo_user "$build/bin" "$demo/service.db" demo "$password" >>"$log" 2>&1 \
        || fail "the demo user could not be added"
    echo "$today" >"$demo/documents-day"
fi

if [ $headless = yes ]; then
    echo "No desktop session here: running the suite headless."
    # The private session's keyring is kept with the demo, and with it the sign-in.
    export TARVENDESK_SESSION_DATA_HOME="$demo/session"
    status=0
    in_group "$root/scripts/in-test-session.sh" "$build" "$root/scripts/demo-headless.sh" "$build" "$demo" \
        3>&1 >>"$log" 2>&1 || status=$?
    [ $status -eq 0 ] || echo "The components' output is in $log."
    exit $status
fi

signin_pid=
sleeper=
# A notifier that was running before the demo is a person's own, and stays.
notifier_before=$(desktop_bus_name_pid org.tarvendesk.tarvenDESKStatusBar)
# Ends what the demo started, by process ID: its sign-in program and the
# notifier that one started (the bus names it), never other copies.
stop() {
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
    local notifier pids=() pid tries
    [ -z "$signin_pid" ] || pids+=("$signin_pid")
    notifier=$(desktop_bus_name_pid org.tarvendesk.tarvenDESKStatusBar)
    if [ -n "$notifier" ] && [ "$notifier" != "$notifier_before" ] \
        && [ "$(readlink "/proc/$notifier/exe" 2>/dev/null)" = "$build/bin/tarvenDESKStatusBar" ]; then
        pids+=("$notifier")
    fi
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    # Neither is a child this shell waits for (see below): each is watched
    # until it has gone, as a program may take a few seconds to end.
    for pid in "${pids[@]}"; do
        for tries in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    done
    desktop_stop_all
}

listen=$(desktop_service_listen_address "$build")
desktop_start_service "$build/bin" "$demo" "$listen"

# The programs find each other through their desktop entries in the build.
export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
cat <<TEXT
The reference service runs on https://$listen with a demo user:
    user name: demo
    password:  $password
TEXT
if desktop_record_stored && [ $fresh = yes ]; then
    cat <<TEXT
Your keyring holds a sign-in of the suite from before this demo user, which
the window opens with: choose Sign Out there and sign in with the name and
password above (scripts/run.sh --reset removes it, with a new password).
TEXT
elif desktop_record_stored; then
    cat <<TEXT
Your keyring keeps the suite's sign-in from the last run: the window opens
signed in and the notifier shows the counts of the demo documents.
TEXT
else
    cat <<TEXT
Sign in with them in the window that opens; the notifier then shows the
counts of the demo documents.
TEXT
fi
cat <<TEXT
Press Ctrl-C here to stop everything; the programs' output goes to $log.
TEXT
"$build/bin/TarvenDESK" >>"$log" 2>&1 &
signin_pid=$!
# A newer sign-in program a person starts kills this one; disowned, its end
# is not reported on the terminal as a job's.
disown "$signin_pid"
while :; do
    sleep 3600 &
    sleeper=$!
    wait $sleeper
done
