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
    quillon_prepare_prefix
    mkdir -p "$session_dir"
    if [ -f "$session_dir/display" ] && quillon_display_alive "$(cat "$session_dir/display")"; then
        exit 0
    fi
    if [ -n "${DISPLAY:-}" ] && quillon_display_alive "$DISPLAY"; then
        echo "$DISPLAY" >"$session_dir/display"
        exit 0
    fi
    display="$(quillon_start_xvfb)" || { echo "cannot start Xvfb" >&2; exit 1; }
    echo "$display" >"$session_dir/display"
    echo "$display" >"$session_dir/started"
    # A persistent wineserver keeps every test program's start fast.
    DISPLAY="$display" setsid wineserver -p </dev/null >/dev/null 2>&1 &
    echo "display $display"
    ;;
stop)
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1
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
