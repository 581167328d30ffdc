#!/usr/bin/env bash
# Starts or stops the display and warm wineserver shared by one test run.
# Usage: wine-session.sh start|stop BUILD_DIR
set -u
action="$1"
build_dir="$2"
export WINEPREFIX="${QUILLON_WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
session_dir="$build_dir/wine-session"
. "$(dirname "$0")/wine-common.sh"

case "$action" in
start)
    quillon_prepare_prefix || exit 1
    mkdir -p "$session_dir"
    if [ -f "$session_dir/display" ] && quillon_display_alive "$(cat "$session_dir/display")"; then
        display="$(cat "$session_dir/display")"
    elif [ -n "${DISPLAY:-}" ] && quillon_display_alive "$DISPLAY"; then
        display="$DISPLAY"
    else
        display="$(quillon_start_xvfb)" || { echo "cannot start Xvfb" >&2; exit 1; }
        echo "$display" >"$session_dir/started"
    fi
    echo "$display" >"$session_dir/display"
    export DISPLAY="$display"
    # A persistent wineserver keeps every test program's start fast.
    wineserver -p </dev/null >/dev/null 2>&1
    # Start Wine's own service processes now, detached from the test runner's
    # pipes: started by a test program they would inherit its output and keep
    # ctest waiting for them.
    setsid bash -c '. "$1"; quillon_wine wineboot' _ "$(dirname "$0")/wine-common.sh" </dev/null >/dev/null 2>&1
    echo "display $display"
    ;;
stop)
    wineserver -k >/dev/null 2>&1
    # Wait until the server is gone, so a following run starts a fresh one.
    wineserver -w >/dev/null 2>&1
    if [ -f "$session_dir/started" ]; then
        quillon_stop_xvfb "$(cat "$session_dir/started")"
    fi
    rm -rf "$session_dir"
    ;;
*)
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
