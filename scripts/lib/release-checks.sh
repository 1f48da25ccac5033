# Checks scripts/release makes on what it built, in functions of their own so that a test can
# give them files no real build would make.

# varnok_installer_carries <exe> <https origin> <128 hex digits>: succeeds when the installer holds
# the origin (as text ending where the built-in value ends) and the manifest key, both of which the
# build stores as ASCII. Otherwise names what is missing on standard error and fails.
varnok_installer_carries() {
    python3 - "$1" "$2" "$3" <<'PY'
import sys
exe, url, key = sys.argv[1:]
try:
    with open(exe, "rb") as f:
        data = f.read()
except OSError as e:
    sys.exit(f"cannot read {exe}: {e.strerror}")
# The origin is followed by its terminating NUL, so a longer origin that starts with it does not
# count; the key has a fixed length.
missing = [what for what, needle in (("the URL " + url, url.encode() + b"\0"),
                                     ("the manifest key " + key[:16] + "...", key.encode()))
           if needle not in data]
if missing:
    sys.exit(f"{exe} does not carry {' or '.join(missing)}")
PY
}
