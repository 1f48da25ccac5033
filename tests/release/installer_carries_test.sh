#!/usr/bin/env bash
# scripts/release signs only an installer that carries the URL and manifest key it was asked for:
# the check, given files a real build would never make.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/scripts/lib/release-checks.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
url="https://updates.example"
key="$(printf 'a1b2%.0s' {1..32})"
other_key="$(printf 'c3d4%.0s' {1..32})"
failed=0

case_() {  # name expect(ok|fail) message-part file-content (printf format)
    local name="$1" expect="$2" part="$3" got
    printf "$4" >"$work/$name.exe"
    if varnok_installer_carries "$work/$name.exe" "$url" "$key" 2>"$work/$name.err"; then
        got=ok
    else
        got=fail
    fi
    if [ "$got" = "$expect" ] && { [ -z "$part" ] || grep -qF -- "$part" "$work/$name.err"; }; then
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name (expected $expect, got $got): $(cat "$work/$name.err")"
    fi
}

case_ both_present ok "" "MZ\0$url\0pad\0$key\0"
case_ url_missing fail "does not carry the URL $url" "MZ\0$key\0"
case_ key_missing fail "does not carry the manifest key ${key:0:16}" "MZ\0$url\0$other_key\0"
case_ only_a_longer_url fail "the URL $url" "MZ\0$url.org\0$key\0"
case_ neither fail "the URL $url or the manifest key" "MZ\0https://localhost:8443\0"
if varnok_installer_carries "$work/no-such.exe" "$url" "$key" 2>"$work/missing.err" ||
    ! grep -q "cannot read" "$work/missing.err"; then
    failed=$((failed + 1))
    echo "FAIL missing_file: $(cat "$work/missing.err")"
else
    echo "PASS missing_file"
fi
exit $((failed > 0))
