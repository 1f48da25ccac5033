#!/usr/bin/env python3
"""A throwaway code-signing CA and the certificates the signing tests need, made anew in the
folder given (nothing here is ever trusted outside a test):

  ca.pem / ca.key             the CA
  signer.pem / signer.key     a code-signing certificate (extended key usage codeSigning)
  signer-chain.pem            signer.pem followed by ca.pem
  signer.p12 / signer.pass    the same certificate, key and chain as password-protected PKCS#12
  expired.pem / expired.key   a code-signing certificate valid only in 2020
  future.pem / future.key     a code-signing certificate valid only from 2099
  server.pem / server.key     a TLS server certificate for localhost (serverAuth only)
  other.key                   a key that belongs to no certificate
  tsa.pem / tsa.key           an RFC 3161 time-stamping certificate (critical timeStamping)
  rogue-ca.pem                a second CA that signed nothing here

`codesign_ca.py answer-request <folder> <request.csr> <chain.pem>` issues a code-signing
certificate for a request, as the publisher's CA would, and writes it with the CA's after it.
"""
import os
import shutil
import subprocess
import sys
import tempfile

PASSWORD = "throwaway-signing-password"


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_ca(folder, name, cn):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
            "-keyout", os.path.join(folder, name + ".key"), "-out", os.path.join(folder, name + ".pem"),
            "-subj", "/CN=" + cn, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")


# `openssl ca` rather than `openssl x509 -req`: only it takes a validity period that is wholly
# in the past or in the future.
CA_CONFIG = """
[ ca ]
default_ca = throwaway
[ throwaway ]
database = {work}/index.txt
new_certs_dir = {work}
serial = {work}/serial
default_md = sha256
policy = any
unique_subject = no
[ any ]
commonName = supplied
"""


def issue(folder, csr, pem, extensions, start="", end=""):
    """Turns a certificate request into a certificate issued by ca.pem, valid for 30 days from
    now unless given start and end (YYYYMMDDHHMMSSZ)."""
    with tempfile.TemporaryDirectory() as work:
        ext, config = (os.path.join(work, n) for n in ("leaf.ext", "ca.cnf"))
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\n" + extensions)
        with open(config, "w") as f:
            f.write(CA_CONFIG.format(work=work))
        open(os.path.join(work, "index.txt"), "w").close()
        with open(os.path.join(work, "serial"), "w") as f:
            f.write(os.urandom(8).hex() + "\n")
        validity = ["-startdate", start, "-enddate", end] if start else ["-days", "30"]
        openssl("ca", "-batch", "-notext", "-config", config, "-cert", os.path.join(folder, "ca.pem"),
                "-keyfile", os.path.join(folder, "ca.key"), "-in", csr, "-out", pem,
                "-extfile", ext, *validity)


SIGNING = "keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"


def make_leaf(folder, name, cn, extensions, start="", end=""):
    """A key and its certificate issued by ca.pem."""
    key, pem = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    with tempfile.TemporaryDirectory() as work:
        csr = os.path.join(work, "leaf.csr")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key, "-out", csr,
                "-subj", "/CN=" + cn)
        issue(folder, csr, pem, extensions, start, end)


def answer_request(folder, csr, chain):
    """What a publisher's CA sends back for a code-signing request whose key it never sees: the
    certificate followed by the CA's."""
    issue(folder, csr, chain, SIGNING)
    with open(os.path.join(folder, "ca.pem")) as ca, open(chain, "a") as out:
        out.write(ca.read())


def make(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    path = lambda name: os.path.join(folder, name)
    make_ca(folder, "ca", "Varnok Throwaway Code Signing CA")
    make_ca(folder, "rogue-ca", "Varnok Throwaway Rogue CA")
    signing = SIGNING
    make_leaf(folder, "signer", "Varnok Throwaway Publisher", signing)
    make_leaf(folder, "expired", "Varnok Expired Publisher", signing, "20200101000000Z", "20210101000000Z")
    make_leaf(folder, "future", "Varnok Future Publisher", signing, "20990101000000Z", "21000101000000Z")
    make_leaf(folder, "server", "localhost",
              "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n"
              "subjectAltName=DNS:localhost\n")
    make_leaf(folder, "tsa", "Varnok Throwaway Time Stamps",
              "keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n")
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path("other.key"))
    with open(path("signer-chain.pem"), "w") as out:
        for name in ("signer.pem", "ca.pem"):
            with open(path(name)) as f:
                out.write(f.read())
    with open(path("signer.pass"), "w") as f:
        f.write(PASSWORD + "\n")
    openssl("pkcs12", "-export", "-inkey", path("signer.key"), "-in", path("signer.pem"),
            "-certfile", path("ca.pem"), "-name", "Varnok Throwaway Publisher",
            "-passout", "file:" + path("signer.pass"), "-out", path("signer.p12"))
    return folder


if __name__ == "__main__":
    try:
        if sys.argv[1] == "answer-request":  # answer-request <ca folder> <request> <chain out>
            answer_request(*sys.argv[2:5])
        else:
            print(make(sys.argv[1]))
    except subprocess.CalledProcessError as e:
        sys.stderr.write("openssl failed: %s\n%s" % (" ".join(e.cmd), (e.stderr or b"").decode()))
        sys.exit(1)
