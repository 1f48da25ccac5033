#!/usr/bin/env bash
# scripts/release signs only an installer that carries the URL and manifest key it was asked for:
# the check, given files a real build would never make.
set -u
source "$(cd "$(dirname "$0")/../.." && pwd)/scripts/lib/release-checks.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
url="https://updates.example" key="$(printf 'a1b2%.0s' {1..32})"
failed=0
case_() {  # name, expected message part (empty: accepted), file content as a printf format
    printf "$3" >"$work/$1.exe"
    if varnok_installer_carries "$work/$1.exe" "$url" "$key" 2>"$work/$1.err"; then
        [ -z "$2" ]
    else
        [ -n "$2" ] && grep -qF -- "$2" "$work/$1.err"
    fi
    if [ $? -eq 0 ]; then
        echo "PASS $1"
    else
        failed=1; echo "FAIL $1: $(cat "$work/$1.err")"
    fi
}
case_ both_present "" "MZ\0$url\0pad\0$key\0"
case_ url_missing "does not carry the URL $url" "MZ\0$key\0"
case_ key_missing "does not carry the manifest key ${key:0:16}" "MZ\0$url\0${key//a/c}\0"
case_ only_a_longer_url "the URL $url" "MZ\0$url.org\0$key\0"
rm -f "$work/only_a_longer_url.exe"
varnok_installer_carries "$work/only_a_longer_url.exe" "$url" "$key" 2>&1 | grep -q "cannot read" ||
    { failed=1; echo "FAIL missing_file"; }
exit $failed
