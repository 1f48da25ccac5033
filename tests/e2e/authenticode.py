"""The published installer signed with Authenticode, as scripts/release signs it (osslsigncode,
SHA-256), by a throwaway code-signing CA made here: the signature verifies against that CA and no
other, any changed byte breaks it, the uninstaller a real install leaves behind is the same
signed file, and WinVerifyTrust inside the private prefix judges it the way Windows would where
Wine can show it (Wine checks the file digest but not the certificate chain: that check is a
named skip).

usage: authenticode.py <stripped installer> <stand-in client> <authenticode probe>
"""
import os
import shutil
import struct
import subprocess
import sys

import harness
import install_env as env

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "release"))
sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import codesign_ca  # noqa: E402
import make_test_ca  # noqa: E402

UNSIGNED, STANDIN, PROBE = sys.argv[1:4]
WORK = os.path.join(harness.ROOT, "build", "e2e-authenticode")
CA = os.path.join(WORK, "codesign")
SIGNED = os.path.join(WORK, "VarnokClientSetup.exe")
ROOT_STORE = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"

# WinVerifyTrust's answers (winerror.h).
TRUSTED = 0
TRUST_E_NOSIGNATURE = 0x800B0100
TRUST_E_BAD_DIGEST = 0x80096010
CERT_E_UNTRUSTEDROOT = 0x800B0109


def ca(name):
    return os.path.join(CA, name)


def verify(exe, roots):
    return subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile", roots],
                          capture_output=True, text=True, timeout=60)


def sections(data):
    """{name: (file offset, size)} from the PE section table."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    found = {}
    for i in range(count):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode()
        size, offset = struct.unpack_from("<II", data, entry + 16)
        found[name] = (offset, size)
    return found


def changed_copy(where):
    """A copy of the signed installer with one byte flipped in the middle of `where`, or in the
    optional header's linker version ("headers")."""
    with open(SIGNED, "rb") as f:
        data = bytearray(f.read())
    if where == "headers":
        offset = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 2
    else:
        start, size = sections(data)[where]
        offset = start + size // 2
    data[offset] ^= 0x01
    path = os.path.join(WORK, f"changed-{where.strip('.')}.exe")
    with open(path, "wb") as f:
        f.write(data)
    return path


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
codesign_ca.make(CA)
signing = subprocess.run(["osslsigncode", "sign", "-h", "sha256", "-n", "Varnok Client Setup",
                          "-pkcs12", ca("signer.p12"), "-readpass", ca("signer.pass"),
                          "-in", UNSIGNED, "-out", SIGNED], capture_output=True, text=True, timeout=120)
assert signing.returncode == 0, f"osslsigncode sign failed: {signing.stdout}{signing.stderr}"


def signed_installer_verifies_against_its_root_only():
    r = verify(SIGNED, ca("ca.pem"))
    assert r.returncode == 0, f"osslsigncode verify failed: {r.stdout[-800:]}{r.stderr[-400:]}"
    assert verify(SIGNED, ca("rogue-ca.pem")).returncode != 0, "it verifies against another root"
    assert verify(UNSIGNED, ca("ca.pem")).returncode != 0, "the unsigned installer verifies"


def a_changed_byte_breaks_the_signature():
    for where in (".text", ".rsrc", "headers"):
        assert verify(changed_copy(where), ca("ca.pem")).returncode != 0, \
            f"a byte changed in {where} still verifies"


def uninstaller_copy_of_a_real_install_carries_the_same_signature():
    env.clean_slate()
    try:
        env.install_once(SIGNED, STANDIN)
        with open(SIGNED, "rb") as a, open(env.UNINSTALLER, "rb") as b:
            assert a.read() == b.read(), "Uninstall.exe is not the signed installer byte for byte"
        r = verify(env.UNINSTALLER, ca("ca.pem"))
        assert r.returncode == 0, f"Uninstall.exe does not verify: {r.stdout[-800:]}"
    finally:
        env.clean_slate()


def wintrust(path):
    r = harness.run_wine([PROBE, "Z:" + path.replace("/", "\\")])
    assert r.returncode == 0, f"the probe failed with {r.returncode}"
    return int(r.stdout.decode().strip(), 16)


def trusted_root():
    """The throwaway CA in the private prefix's ROOT store for the `with` block, then gone."""
    class Trust:
        def __enter__(self):
            make_test_ca.write_trust_reg(CA)
            with open(ca("ca.sha1")) as f:
                self.key = ROOT_STORE + "\\" + f.read().strip()
            r = harness.run_wine(["reg", "import", "Z:" + ca("trust-ca.reg").replace("/", "\\")])
            assert r.returncode == 0, "the CA could not be added to the prefix's ROOT store"

        def __exit__(self, *exc):
            harness.run_wine(["reg", "delete", self.key, "/f"])
    return Trust()


def wintrust_refuses_the_unsigned_installer():
    status = wintrust(UNSIGNED)
    assert status == TRUST_E_NOSIGNATURE, f"WinVerifyTrust answered {status:08x} for no signature"


def wintrust_needs_the_publishers_root():
    status = wintrust(SIGNED)
    if status == TRUSTED:
        raise harness.Skip("Wine 8.0's WinVerifyTrust does not judge the certificate chain: a "
                           "signature from a root the prefix does not trust answers 0 (so do "
                           "expired and TLS-only certificates); Windows answers "
                           "CERT_E_UNTRUSTEDROOT (800b0109)")
    assert status == CERT_E_UNTRUSTEDROOT, f"WinVerifyTrust answered {status:08x} without the root"


def wintrust_trusts_the_signed_installer_and_not_a_changed_byte():
    with trusted_root():
        status = wintrust(SIGNED)
        assert status == TRUSTED, f"WinVerifyTrust answered {status:08x} for the signed installer"
        changed = {where: wintrust(changed_copy(where)) for where in (".text", ".rsrc", "headers")}
    wrong = {where: f"{status:08x}" for where, status in changed.items()
             if status != TRUST_E_BAD_DIGEST}
    assert not wrong, f"WinVerifyTrust did not answer TRUST_E_BAD_DIGEST for {wrong}"


harness.main([
    signed_installer_verifies_against_its_root_only,
    a_changed_byte_breaks_the_signature,
    uninstaller_copy_of_a_real_install_carries_the_same_signature,
    wintrust_refuses_the_unsigned_installer,
    wintrust_needs_the_publishers_root,
    wintrust_trusts_the_signed_installer_and_not_a_changed_byte,
])
