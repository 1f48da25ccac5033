#!/usr/bin/env python3
"""Makes the test certificates once per build tree and reuses them afterwards.

In the folder given (default: <repo>/build/test-ca):
  ca.pem / ca.key                 the test CA, trusted only inside the test Wine prefix
  localhost.pem / .key            "localhost", issued by the test CA
  other-name.pem / .key           "not-localhost.test", issued by the test CA (name mismatch)
  rogue-ca.pem / .key             a second CA that nothing trusts
  rogue-localhost.pem / .key      "localhost", issued by the rogue CA (untrusted issuer)
  trust-ca.reg                    the test CA as a ROOT store entry, for `wine reg import`
  ca.sha1                         the test CA's SHA-1 thumbprint (upper-case hex)

Only what is missing is made, so the CA stays the same for the life of the build tree and a
prefix that trusts it keeps working. Removing ca.pem makes a new CA and new leaves.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile

DAYS = "3650"


def run(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(folder, name, cn):
    key, pem = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", DAYS,
        "-keyout", key, "-out", pem, "-subj", "/CN=" + cn,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")


def make_leaf(folder, name, dns_name, ca):
    key, pem = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    csr = os.path.join(folder, name + ".csr")
    run("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key, "-out", csr,
        "-subj", "/CN=" + dns_name)
    with tempfile.NamedTemporaryFile("w", suffix=".ext", delete=False) as ext:
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectAltName=DNS:%s\n" % dns_name)
    try:
        run("x509", "-req", "-in", csr, "-CA", os.path.join(folder, ca + ".pem"),
            "-CAkey", os.path.join(folder, ca + ".key"), "-CAcreateserial", "-days", DAYS,
            "-sha256", "-extfile", ext.name, "-out", pem)
    finally:
        os.unlink(ext.name)
        os.unlink(csr)


def der_of(pem_path):
    return subprocess.run(["openssl", "x509", "-in", pem_path, "-outform", "DER"], check=True,
                          stdout=subprocess.PIPE).stdout


def reg_hex(data):
    # regedit's wrapped hex list: "hex:" then comma-separated bytes, 25 bytes a line.
    items = ["%02x" % b for b in data]
    lines = [",".join(items[i:i + 25]) for i in range(0, len(items), 25)]
    return "hex:" + ",\\\n  ".join(lines)


def write_trust_reg(folder):
    der = der_of(os.path.join(folder, "ca.pem"))
    sha1 = hashlib.sha1(der).digest()
    thumb = sha1.hex().upper()

    def prop(prop_id, value):  # one serialized certificate property: id, 1, length, bytes
        return (prop_id.to_bytes(4, "little") + (1).to_bytes(4, "little") +
                len(value).to_bytes(4, "little") + value)

    blob = prop(3, sha1) + prop(0x20, der)  # CERT_SHA1_HASH_PROP_ID, CERT_CERT_PROP_ID
    key = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
    with open(os.path.join(folder, "trust-ca.reg"), "w", newline="\r\n") as f:
        f.write("REGEDIT4\n\n[%s%s]\n\"Blob\"=%s\n\n" % (key, thumb, reg_hex(blob)))
    with open(os.path.join(folder, "ca.sha1"), "w") as f:
        f.write(thumb + "\n")


def ensure(folder):
    os.makedirs(folder, exist_ok=True)
    have = lambda name: os.path.exists(os.path.join(folder, name))
    fresh_ca = not have("ca.pem") or not have("ca.key")
    if fresh_ca:
        make_ca(folder, "ca", "Varnok Test CA (test prefix only)")
    if not have("rogue-ca.pem") or not have("rogue-ca.key"):
        make_ca(folder, "rogue-ca", "Varnok Untrusted Test CA")
        fresh_rogue = True
    else:
        fresh_rogue = False
    if fresh_ca or not have("localhost.pem"):
        make_leaf(folder, "localhost", "localhost", "ca")
    if fresh_ca or not have("other-name.pem"):
        make_leaf(folder, "other-name", "not-localhost.test", "ca")
    if fresh_rogue or not have("rogue-localhost.pem"):
        make_leaf(folder, "rogue-localhost", "localhost", "rogue-ca")
    if fresh_ca or not have("trust-ca.reg") or not have("ca.sha1"):
        write_trust_reg(folder)
    return folder


def default_folder():
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    return os.environ.get("VARNOK_TEST_CA_DIR") or os.path.join(root, "build", "test-ca")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", default=None)
    args = parser.parse_args()
    try:
        print(ensure(args.folder or default_folder()))
    except subprocess.CalledProcessError as e:
        sys.stderr.write("openssl failed: %s\n%s" % (" ".join(e.cmd), (e.stderr or b"").decode()))
        sys.exit(1)
