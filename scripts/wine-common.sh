# Shared by the Wine runner and the test session script.

# Wine's 32-bit loader runs 32- and 64-bit programs alike, but only where the
# kernel runs 32-bit programs at all; a kernel booted with its 32-bit emulation
# off leaves the 64-bit loader, which runs 64-bit programs in a 64-bit prefix.
quillon_host_runs_32bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

if quillon_host_runs_32bit; then
    quillon_wine() { wine "$@"; }
else
    quillon_wine() { WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$@"; }
fi

quillon_explain_no_32bit() {
    echo "this machine cannot run 32-bit programs (the kernel's 32-bit emulation is off;" \
        "boot it with ia32_emulation=on): the 32-bit build can be compiled here but not run" >&2
}

# Boots the prefix once (about 20 s) and turns off the crash dialog, which would
# otherwise wait for a click forever on a headless display.
quillon_prepare_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.quillon-ready" ]; then
        # No Mono or Gecko installers: they would ask questions nobody can answer.
        WINEDLLOVERRIDES="mscoree,mshtml=" quillon_wine wineboot -i >/dev/null 2>&1 </dev/null
        quillon_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1 </dev/null
        wineserver -w
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            flock -u 9
            exec 9>&-
            echo "the Wine prefix $WINEPREFIX could not be created" >&2
            return 1
        fi
        touch "$WINEPREFIX/.quillon-ready"
    fi
    flock -u 9
    exec 9>&-
}

quillon_display_alive() {
    local number="${1#:}"
    number="${number%%.*}"
    [ -S "/tmp/.X11-unix/X$number" ]
}

# Starts Xvfb on the first free display from :90 up and prints its name.
quillon_start_xvfb() {
    local n
    for n in $(seq 90 190); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            local i
            for i in $(seq 1 100); do
                if [ -S "/tmp/.X11-unix/X$n" ]; then
                    echo ":$n"
                    return 0
                fi
                sleep 0.1
            done
            kill $! 2>/dev/null
        fi
    done
    return 1
}

quillon_stop_xvfb() {
    local number="${1#:}"
    local pid
    pid="$(cat "/tmp/.X$number-lock" 2>/dev/null | tr -d ' ')"
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$number" ] || return 0
        sleep 0.1
    done
    return 0
}
