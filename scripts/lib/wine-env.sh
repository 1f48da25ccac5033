# Environment for every wine call: a private prefix and home inside the build tree, no console
# noise, no desktop entries written into the Linux home, and no proxy (Wine's WinHTTP would send
# even loopback traffic through it).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
export WINEPREFIX="$VARNOK_WINE_ROOT/prefix"
export HOME="$VARNOK_WINE_ROOT/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
export WINEARCH=win64
# wine through scripts/lib/wine-bin (see there: the address layout Debian's Wine needs)
case ":$PATH:" in *":$VARNOK_ROOT/scripts/lib/wine-bin:"*) ;; *) PATH="$VARNOK_ROOT/scripts/lib/wine-bin:$PATH" ;; esac
export PATH
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
if [ -z "${DISPLAY:-}" ] && [ -f "$VARNOK_WINE_ROOT/display" ]; then
    DISPLAY="$(cat "$VARNOK_WINE_ROOT/display")"
    export DISPLAY
fi
