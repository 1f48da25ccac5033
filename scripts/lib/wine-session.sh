# Brings up what the Windows tests and the demo need: an X display (Xvfb unless told to use the
# user's), the private prefix, and a persistent wineserver so each test process starts fast.
# Everything started here is stopped by PID in varnok_session_stop.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

VARNOK_XVFB_PID=""

varnok_start_xvfb() {
    local n
    for n in $(seq 91 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        VARNOK_XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
                export DISPLAY=":$n"
                echo "$DISPLAY" > "$VARNOK_WINE_ROOT/display"
                return 0
            fi
            kill -0 "$VARNOK_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$VARNOK_XVFB_PID" 2>/dev/null
        VARNOK_XVFB_PID=""
    done
    varnok_log "could not start Xvfb"
    return 1
}

# Creates the prefix once per build tree; later runs reuse it.
varnok_ensure_prefix() {
    local stamp="$WINEPREFIX/.varnok-prefix-v1"
    [ -f "$stamp" ] && return 0
    varnok_log "creating the private Wine prefix in $WINEPREFIX (once per build tree)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX" "$HOME"
    wine wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    wine reg import "$VARNOK_ROOT/scripts/lib/prefix-settings.reg" </dev/null >/dev/null 2>&1
    wine winecfg -v win10 </dev/null >/dev/null 2>&1
    wineserver -w
    local hook
    for hook in "$VARNOK_ROOT"/scripts/lib/prefix.d/*.sh; do
        [ -f "$hook" ] && { source "$hook" || return 1; }
    done
    # The hooks' wine calls leave a server running for a while; the persistent one that the
    # session starts next cannot start beside it.
    wineserver -w
    touch "$stamp"
}

varnok_session_start() {
    mkdir -p "$VARNOK_WINE_ROOT" "$HOME"
    rm -f "$VARNOK_WINE_ROOT/display"
    if [ -n "${VARNOK_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
        echo "$DISPLAY" > "$VARNOK_WINE_ROOT/display"
    else
        varnok_start_xvfb || return 1
    fi
    # A wineserver left from a run without this display would keep its null driver.
    wineserver -k >/dev/null 2>&1 || true
    varnok_ensure_prefix || return 1
    wineserver -p
    wine wineboot -u </dev/null >/dev/null 2>&1
}

# True when a session of this build tree is already up (scripts/test's, while its tests run): its
# display answers and a wineserver serves the prefix. Starting a second one would kill that
# wineserver under the running tests, so a script that finds one uses it and leaves it running.
varnok_session_running() {
    local display dir pid
    [ -f "$VARNOK_WINE_ROOT/display" ] && [ -d "$WINEPREFIX" ] || return 1
    display="$(cat "$VARNOK_WINE_ROOT/display")"
    DISPLAY="$display" xdotool getdisplaygeometry >/dev/null 2>&1 || return 1
    # A wineserver works in a folder named after the prefix's device and inode.
    dir="$(stat -c '%d %i' "$WINEPREFIX")" || return 1
    dir="$(printf 'server-%x-%x' $dir)"
    for pid in $(pgrep -x wineserver; pgrep -x wineserver64); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in */"$dir") return 0 ;; esac
    done
    return 1
}

varnok_session_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$VARNOK_XVFB_PID" ]; then
        kill "$VARNOK_XVFB_PID" 2>/dev/null || true
        wait "$VARNOK_XVFB_PID" 2>/dev/null || true
        VARNOK_XVFB_PID=""
    fi
    rm -f "$VARNOK_WINE_ROOT/display"
}
