# Trusts the test CA inside the project's private Wine prefix, and nowhere else. Sourced by the
# prefix hook when the prefix is made; run as a script by the server fixture, which re-imports
# the CA when it was made anew after the prefix. A stamp in the prefix names the thumbprint it
# trusts, so the import happens once per CA.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine-env.sh"

varnok_trust_test_ca() {
    local ca_dir
    ca_dir="$(python3 "$VARNOK_ROOT/tests/servers/make_test_ca.py")" || return 1
    local thumb
    thumb="$(tr -d '\r\n' <"$ca_dir/ca.sha1")"
    local stamp="$WINEPREFIX/.varnok-test-ca-$thumb"
    [ -f "$stamp" ] && return 0
    wine reg import "$(winepath -w "$ca_dir/trust-ca.reg" </dev/null 2>/dev/null)" </dev/null >/dev/null 2>&1 ||
        { varnok_log "could not trust the test CA in $WINEPREFIX"; return 1; }
    # A CA made anew replaces the old one: the prefix trusts only the current test CA.
    local old
    for old in "$WINEPREFIX"/.varnok-test-ca-*; do
        [ -f "$old" ] || continue
        wine reg delete "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\${old##*-}" /f \
            </dev/null >/dev/null 2>&1 || true
        rm -f "$old"
    done
    touch "$stamp"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    # Without a prefix there is nothing to trust in yet; the prefix hook does it on creation.
    [ -f "$WINEPREFIX/.varnok-prefix-v1" ] || exit 0
    varnok_trust_test_ca
fi
