#!/usr/bin/env bash
# The release configuration refuses development values and missing values; the default
# configuration carries the development server and key into the generated header.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dev_key="$(tr -d '[:space:]' < "$root/tests/fixtures/dev-manifest-key.pub.hex")"
other_key="$(printf '%0128x' 0 | sed 's/0/a/g')"
passed=0
failed=0

check() {  # name expect(ok|fail) grep-pattern-or-empty cmake-args...
    local name="$1" expect="$2" pattern="$3"
    shift 3
    local dir="$work/$name"
    if cmake -S "$here/release_config" -B "$dir" "$@" >"$dir.log" 2>&1; then got=ok; else got=fail; fi
    if [ "$got" = "$expect" ] && { [ -z "$pattern" ] || grep -q -- "$pattern" "$dir.log" "$dir/generated/build_config.h" 2>/dev/null; }; then
        passed=$((passed + 1)); echo "PASS $name"
    else
        failed=$((failed + 1)); echo "FAIL $name (expected $expect, got $got)"; cat "$dir.log"
    fi
}

check default_uses_development_values ok "https://localhost:8443"
check default_header_has_development_key ok "$dev_key"
check release_without_values_refuses fail "needs both" -DVARNOK_RELEASE=ON
check release_without_key_refuses fail "needs both" -DVARNOK_RELEASE=ON -DVARNOK_BASE_URL=https://updates.example
check release_with_development_key_refuses fail "development manifest key" -DVARNOK_RELEASE=ON \
    -DVARNOK_BASE_URL=https://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$(echo "$dev_key" | tr a-f A-F)"
check release_with_development_server_refuses fail "development server" -DVARNOK_RELEASE=ON \
    -DVARNOK_BASE_URL=https://localhost:8443 -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
for url in https://LocalHost:9443 https://updates.localhost https://localhost. https://127.0.0.1 \
           https://127.8.9.10:8443 "https://[::1]:8443" "https://[0:0:0:0:0:0:0:1]" https://10.1.2.3 \
           https://172.16.0.1 https://172.31.255.1 https://192.168.1.20 https://169.254.0.9 \
           https://0.0.0.0 "https://[fd00::5]" "https://[::ffff:127.0.0.1]"; do
    check "release_refuses_loopback_or_private_$(echo "$url" | tr -c 'A-Za-z0-9\n' _)" fail \
        "loopback or private host" -DVARNOK_RELEASE=ON -DVARNOK_BASE_URL="$url" \
        -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
done
check release_over_plain_http_refuses fail "over https" -DVARNOK_RELEASE=ON \
    -DVARNOK_BASE_URL=http://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
for url in https://172.32.0.1 https://127.example https://updates.example:8443 https://10.example; do
    check "release_takes_public_$(echo "$url" | tr -c 'A-Za-z0-9\n' _)" ok "$url" \
        -DVARNOK_RELEASE=ON -DVARNOK_BASE_URL="$url" -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
done
check release_with_own_values_configures ok "https://updates.example" -DVARNOK_RELEASE=ON \
    -DVARNOK_BASE_URL=https://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
check base_url_with_trailing_slash_refuses fail "https origin" -DVARNOK_BASE_URL=https://updates.example/
check base_url_over_http_refuses fail "https origin" -DVARNOK_BASE_URL=http://updates.example
check short_key_refuses fail "128 hex digits" -DVARNOK_MANIFEST_PUBLIC_KEY=abcd
# A release's clock is its commit; a source copy without git history passes the time itself.
unset SOURCE_DATE_EPOCH
commit_time="$(git -C "$root" log -1 --format=%ct)"
check release_takes_commit_time ok "SOURCE_DATE_EPOCH=$commit_time\$" -DVARNOK_RELEASE=ON \
    -DVARNOK_BASE_URL=https://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
SOURCE_DATE_EPOCH=1234567890 check release_takes_given_source_date_epoch ok "SOURCE_DATE_EPOCH=1234567890\$" \
    -DVARNOK_RELEASE=ON -DVARNOK_BASE_URL=https://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
SOURCE_DATE_EPOCH=yesterday check release_with_unreadable_source_date_epoch_refuses fail "commit time" \
    -DVARNOK_RELEASE=ON -DVARNOK_BASE_URL=https://updates.example -DVARNOK_MANIFEST_PUBLIC_KEY="$other_key"
check non_hex_key_refuses fail "hex digits" -DVARNOK_MANIFEST_PUBLIC_KEY="$(printf '%0128d' 0 | sed 's/0/g/g')"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
