# Shared by the scripts: where the repository and the private Wine tree are.
VARNOK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export VARNOK_ROOT
export VARNOK_WINE_ROOT="${VARNOK_WINE_ROOT:-$VARNOK_ROOT/build/wine}"

varnok_log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
