#!/usr/bin/env python3
"""The publisher's way to a release, run for real in two copies of the source tree:
scripts/release refuses what must not ship before it builds anything; the publishing guide's
guide, run as written in the first copy, ends with a signed installer in the update tree that
verifies and is served over HTTPS, with a copy under its version and a winget manifest for that
copy; a PEM certificate with an RFC 3161 time-stamp server signs a second version without
touching the first, and a version already released is never signed over; the release build of
the second copy, in another folder and minutes later, gives the same bytes as the file that was
signed; and the guide's token section, run as written against a SoftHSM2 token made for the run,
signs the tree and the installer with keys that never leave the token, while scripts/release names what is wrong with a token key it cannot use.

usage: release_publish.py <client exe to publish>
"""
import hashlib
import json
import os
import re
import shutil
import signal
import ssl
import struct
import subprocess
import sys
import time
import urllib.error
import urllib.request

import jsonschema
import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import codesign_ca  # noqa: E402
import harness  # noqa: E402
import softhsm_token  # noqa: E402
import tsa  # noqa: E402
from update_server import ensure_tool, nginx_conf  # noqa: E402

CLIENT = sys.argv[1]
WORK = os.path.join(ROOT, "build", "release-test")
# Different names and lengths, so a build path that leaks into the binary changes its bytes.
ONE = os.path.join(WORK, "one", "varnok")
TWO = os.path.join(WORK, "second-copy-elsewhere", "source")
CA = os.path.join(WORK, "codesign")
URL = "https://updates.example"
DEV_KEY_HEX = os.path.join(ROOT, "tests", "fixtures", "dev-manifest-key.pub.hex")
INSTALLER = "VarnokClientSetup.exe"
GUIDE_VERSION, SECOND_VERSION = "1.0.0", "1.0.1"  # the guide's release, then the PEM one's


def ca(name):
    return os.path.join(CA, name)


def commit_time():
    return subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], check=True,
                          capture_output=True, text=True).stdout.strip()


# The copies are not checkouts: the commit's time comes with them, as with a source tarball.
ENV = dict(os.environ, SOURCE_DATE_EPOCH=commit_time())


def copy_source(dest):
    """The working tree as git sees it (tracked and new files, nothing ignored, no build/)."""
    listing = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others",
                              "--exclude-standard"], check=True, capture_output=True).stdout
    for rel in sorted(set(filter(None, listing.decode().split("\0")))):
        src = os.path.join(ROOT, rel)
        if not os.path.lexists(src):  # deleted in the working tree, not yet in the index
            continue
        os.makedirs(os.path.dirname(os.path.join(dest, rel)), exist_ok=True)
        shutil.copy2(src, os.path.join(dest, rel), follow_symlinks=False)


def run(args, cwd, timeout=1500, env=None):
    return subprocess.run(args, cwd=cwd, env=env or ENV, capture_output=True, text=True,
                          timeout=timeout)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def verify(exe, roots, *extra):
    # The guide's releases are time-stamped by the same throwaway CA that signs them.
    stamp_roots = [] if "-TSA-CAfile" in extra else ["-TSA-CAfile", roots]
    return run(["osslsigncode", "verify", "-in", exe, "-CAfile", roots, *stamp_roots, *extra],
               cwd=WORK)


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
copy_source(ONE)
copy_source(TWO)
codesign_ca.make(CA)
with open(ca("wrong.pass"), "w") as f:
    f.write("not-the-password\n")

# What the refusals are given besides the certificate: a valid tree and a publisher's key.
REFUSAL_TREE = os.path.join(WORK, "refusal-tree")
OWN_KEY = os.path.join(WORK, "own-key.pem")
subprocess.run([ensure_tool(), "keygen", "--out", OWN_KEY, "--pub", OWN_KEY + ".hex"], check=True,
               capture_output=True, timeout=60)
subprocess.run([ensure_tool(), "publish", "--key", OWN_KEY, "--exe", CLIENT, "--version", "1.0.0",
                "--build", "1", "--out", REFUSAL_TREE], check=True, capture_output=True, timeout=60)
# A key of the same publisher that did not sign that tree (an old, staging or mistyped one).
OTHER_KEY = os.path.join(WORK, "other-key.pem")
subprocess.run([ensure_tool(), "keygen", "--out", OTHER_KEY, "--pub", OTHER_KEY + ".hex"],
               check=True, capture_output=True, timeout=60)


def key_start(key_file):
    with open(key_file) as f:
        return f.read().strip()[:16]

P12 = ["--pkcs12", ca("signer.p12"), "--password-file", ca("signer.pass")]
REFUSALS = [
    # name, manifest key, certificate arguments, what the refusal says (one text or several)
    ("development_manifest_key", DEV_KEY_HEX, P12, "development manifest key"),
    ("expired_certificate", OWN_KEY + ".hex",
     ["--cert", ca("expired.pem"), "--key", ca("expired.key")], "expired on"),
    ("certificate_not_yet_valid", OWN_KEY + ".hex",
     ["--cert", ca("future.pem"), "--key", ca("future.key")], "is not valid before"),
    ("tls_server_certificate", OWN_KEY + ".hex",
     ["--cert", ca("server.pem"), "--key", ca("server.key")], "not a code-signing certificate"),
    ("ca_certificate_without_code_signing_usage", OWN_KEY + ".hex",
     ["--cert", ca("ca.pem"), "--key", ca("ca.key")], "not a code-signing certificate"),
    ("key_of_another_certificate", OWN_KEY + ".hex",
     ["--cert", ca("signer-chain.pem"), "--key", ca("other.key")], "does not match"),
    ("pkcs12_with_wrong_password", OWN_KEY + ".hex",
     ["--pkcs12", ca("signer.p12"), "--password-file", ca("wrong.pass")], "wrong password"),
    # The refusal names the key given and the key that signed the tree.
    ("tree_signed_by_another_key", OTHER_KEY + ".hex", P12,
     ("does not match --manifest-key", key_start(OTHER_KEY + ".hex"), key_start(OWN_KEY + ".hex"))),
    ("version_not_digits_and_dots", OWN_KEY + ".hex", P12, "--version must be major.minor.patch",
     "1.0.0-beta"),
    # A signature without a time stamp is only ever made on purpose.
    ("time_stamp_neither_given_nor_declined", OWN_KEY + ".hex", P12, "a time stamp is required",
     GUIDE_VERSION, ()),
    ("time_stamp_given_and_declined", OWN_KEY + ".hex", P12, "not both", GUIDE_VERSION,
     ("--no-timestamp", "--timestamp", "http://timestamp.example")),
    ("version_part_past_a_16_bit_word", OWN_KEY + ".hex", P12, "each part at most 65535",
     "1.65536.0"),
]


def refusal(name, manifest_key, certificate, message, version=GUIDE_VERSION,
            stamp=("--no-timestamp",)):
    def test():
        r = run([os.path.join(ONE, "scripts", "release"), "--url", URL, "--manifest-key",
                 manifest_key, "--tree", REFUSAL_TREE, "--version", version, *certificate,
                 *stamp, "--ca-file", ca("ca.pem")], cwd=WORK)
        assert r.returncode != 0, "scripts/release accepted it"
        for part in message if isinstance(message, tuple) else (message,):
            assert part in r.stderr, f"refused without saying {part!r}: {r.stderr.strip()}"
        assert not os.path.exists(os.path.join(ONE, "build", "release")), "it built before refusing"
        assert not os.path.exists(os.path.join(REFUSAL_TREE, INSTALLER)), "it wrote an installer"
    test.__name__ = "release_refuses_" + name
    return test


def publisher_guide(marker="publisher-guide"):
    with open(os.path.join(ROOT, "docs", "publishing.md")) as f:
        text = f.read()
    m = re.search(rf"<!-- {marker}:begin -->\s*```sh\n(.*?)```\s*<!-- {marker}:end -->", text, re.S)
    assert m, f"docs/publishing.md has no {marker} block"
    return m.group(1)


WWW = os.path.join(ONE, "publisher", "www")
SIGNED = os.path.join(WWW, INSTALLER)


def publisher_guide_signs_and_writes_the_installer_into_the_tree():
    publisher = os.path.join(ONE, "publisher")
    os.makedirs(publisher)
    shutil.copyfile(CLIENT, os.path.join(publisher, "VarnokClient.exe"))
    shutil.copyfile(ca("signer.p12"), os.path.join(publisher, "codesign.p12"))
    shutil.copyfile(ca("signer.pass"), os.path.join(publisher, "codesign.pass"))
    # The guide verifies against the system's roots; this publisher's root is the throwaway CA,
    # given the way scripts/release takes it.
    script = publisher_guide().replace("--tree publisher/www",
                                       "--tree publisher/www --ca-file " + ca("ca.pem"))
    assert "--ca-file" in script, "the guide no longer calls scripts/release with --tree publisher/www"
    with tsa.TimeStampServer(CA) as server:
        r = run(["bash", "-euo", "pipefail", "-c", with_time_stamp_server(script, server)],
                cwd=ONE)
        asked = server.requests
    with open(os.path.join(WORK, "guide.log"), "w") as f:
        f.write(r.stdout + r.stderr)
    assert r.returncode == 0, f"the guide failed ({r.returncode}): {r.stderr.strip()[-1500:]}"
    assert asked, "the guide's release asked no time-stamp server"
    with open(SIGNED + ".sha256") as f:
        assert f.read() == f"{digest(SIGNED)}  {INSTALLER}\n", "the .sha256 file names another digest"
    with open(SIGNED, "rb") as f:
        data = f.read()
    with open(os.path.join(publisher, "manifest-key.hex")) as f:
        key = f.read().strip()
    assert URL.encode() in data, "the installer does not carry the publisher's URL"
    assert key.encode() in data, "the installer does not carry the publisher's manifest key"
    assert digest(versioned(GUIDE_VERSION)) == digest(SIGNED), "the versioned copy is another file"
    winget_manifest_is_valid_and_names(GUIDE_VERSION)


def versioned(version):
    return os.path.join(WWW, f"VarnokClientSetup-{version}.exe")


def version_resource(path):
    """The binary file and product versions and the FileVersion and ProductVersion texts."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, f"{path} has no version resource"
    words = struct.unpack_from("<4I", data, at + 8)
    found = [f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
             for ms, ls in (words[:2], words[2:])]
    for key in ("FileVersion", "ProductVersion"):
        at = data.find((key + "\0").encode("utf-16-le"))
        assert at >= 0, f"{path} has no {key} text"
        at += 2 * len(key) + 2
        while data[at:at + 2] == b"\0\0":  # the padding to the value's 32-bit boundary
            at += 2
        end = next(i for i in range(at, len(data), 2) if data[i:i + 2] == b"\0\0")
        found.append(data[at:end].decode("utf-16-le"))
    return found


WINGET_SCHEMAS = os.path.join(HERE, "winget-schemas")
WINGET_FILES = {"version": "Dravolt.VarnokClient.yaml",
                "defaultLocale": "Dravolt.VarnokClient.locale.en-US.yaml",
                "installer": "Dravolt.VarnokClient.installer.yaml"}


def winget_manifest_is_valid_and_names(version):
    """The release's winget manifest holds to the official schemas and names what was released:
    the versioned copy in the tree (which carries the version in its version resource), its
    digest, and every exit code of the installer's table."""
    folder = os.path.join(ONE, "build", "release", "winget")
    assert sorted(os.listdir(folder)) == sorted(WINGET_FILES.values()), os.listdir(folder)
    docs = {}
    for kind, name in WINGET_FILES.items():
        with open(os.path.join(WINGET_SCHEMAS, f"manifest.{kind}.1.28.0.json")) as f:
            schema = json.load(f)
        with open(os.path.join(folder, name)) as f:
            docs[kind] = yaml.safe_load(f)
        jsonschema.Draft7Validator(schema).validate(docs[kind])
        assert (docs[kind]["PackageVersion"], docs[kind]["ManifestType"]) == (version, kind), name
    [installer] = docs["installer"]["Installers"]
    assert installer["InstallerUrl"] == f"{URL}/VarnokClientSetup-{version}.exe", installer
    assert installer["InstallerSha256"].lower() == digest(versioned(version)), "another digest"
    with open(os.path.join(ONE, "app", "exit_codes.h")) as f:
        table = {(int(c), r) for c, r in re.findall(r'^\s*\{(\d+), "(\w*)", u"', f.read(), re.M)}
    listed = {(c["InstallerReturnCode"], c["ReturnResponse"])
              for c in docs["installer"]["ExpectedReturnCodes"]}
    assert (1618, "installInProgress") in listed and listed == {t for t in table if t[0]}, \
        listed ^ table
    switches = docs["installer"]["InstallerSwitches"]
    assert switches["Log"] == '--log "<LOGPATH>"', switches
    # The entry as the installer registers it (DisplayName, Publisher and the key's name).
    assert docs["installer"]["AppsAndFeaturesEntries"] == [
        {"DisplayName": "Varnok Client", "Publisher": "Dravolt", "ProductCode": "VarnokClient"}]
    assert version_resource(versioned(version)) == [version + ".0"] * 4, \
        f"the version resource says {version_resource(versioned(version))}"


def signed_installer_verifies_against_the_publishers_root_only():
    r = verify(SIGNED, ca("ca.pem"))
    assert r.returncode == 0, f"osslsigncode verify failed: {r.stdout[-800:]}{r.stderr[-400:]}"
    assert "Message digest algorithm  : SHA256" in r.stdout, "the file digest is not SHA-256"
    r = verify(SIGNED, ca("rogue-ca.pem"))
    assert r.returncode != 0, "it verifies against a root that never signed it"


NGINX_EXAMPLE = os.path.join(ROOT, "tools", "nginx-updates.conf")
NGINX_PATHS = os.path.join(ROOT, "tools", "nginx-updates-paths.conf")
def served_tree_gives_the_signed_installer_and_its_digest():
    """The tree served by nginx with the publishing guide's example configuration, included unchanged."""
    if os.geteuid() != 0:
        raise harness.Skip("the nginx example listens on port 443, which only root may open")
    prefix = os.path.join(WORK, "nginx")
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.join(prefix, "tls"))
    os.makedirs(os.path.join(prefix, "tmp"))
    os.symlink(WWW, os.path.join(prefix, "www"))
    # Where the example's include looks: beside nginx.conf.
    os.symlink(NGINX_PATHS, os.path.join(prefix, "nginx-updates-paths.conf"))
    shutil.copyfile(ca("server.pem"), os.path.join(prefix, "tls", "fullchain.pem"))
    shutil.copyfile(ca("server.key"), os.path.join(prefix, "tls", "privkey.pem"))
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write(nginx_conf(prefix, f"    include {NGINX_EXAMPLE};"))
    nginx = subprocess.Popen(["nginx", "-p", prefix + "/", "-c", conf, "-e",
                              os.path.join(prefix, "error.log")], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    try:
        client_side = ssl.create_default_context(cafile=ca("ca.pem"))

        def get(path, cache_control=None):
            with urllib.request.urlopen("https://localhost" + path, context=client_side,
                                        timeout=30) as resp:
                assert cache_control in (None, resp.headers["Cache-Control"]), \
                    (path, resp.headers["Cache-Control"])
                return resp.read()

        deadline = time.time() + 15
        while True:
            try:
                installer = get("/" + INSTALLER)
                break
            except OSError:
                assert nginx.poll() is None and time.time() < deadline, \
                    "nginx did not serve the example configuration; see " + prefix + "/error.log"
                time.sleep(0.1)
        line = get("/" + INSTALLER + ".sha256").decode()
        assert line.split()[0] == hashlib.sha256(installer).hexdigest(), \
            "the served digest is not the served installer's"
        with open(SIGNED, "rb") as f:
            assert installer == f.read(), "the served installer differs from the signed file"
        assert get(f"/VarnokClientSetup-{GUIDE_VERSION}.exe",
                   "public, max-age=31536000, immutable") == installer, "another versioned copy"
        with open(os.path.join(WWW, "api", "updates", "manifest"), "rb") as f:
            assert get("/api/updates/manifest") == f.read(), "the manifest is not served as published"
        client = [n for n in os.listdir(os.path.join(WWW, "api", "updates", "files"))
                  if not n.startswith(".")][0]
        assert get("/api/updates/files/" + client), "the client file is not served"
        # Neither a listing nor the publisher's record of what was published.
        for hidden in ("/api/updates/", "/api/updates/history.json"):
            try:
                get(hidden)
                raise AssertionError(f"{hidden} was served")
            except urllib.error.HTTPError as e:
                assert e.code == 404, (hidden, e.code)
        # The guide's check after every upload, as written, against this server: its host here
        # is localhost, its root the throwaway CA.
        script = publisher_guide("publisher-verify").replace(URL, "https://localhost").replace(
            "--pub publisher/manifest-key.hex",
            "--pub publisher/manifest-key.hex --ca-file " + ca("ca.pem"))
        assert "--ca-file" in script, "the guide no longer verifies with --pub publisher/manifest-key.hex"
        r = run(["bash", "-euo", "pipefail", "-c", script], cwd=ONE)
        assert r.returncode == 0 and r.stdout.count("PASS ") == 9 and "FAIL " not in r.stdout, \
            f"the guide's verify failed ({r.returncode}): {r.stdout}{r.stderr}"
    finally:
        os.killpg(nginx.pid, signal.SIGTERM)
        nginx.wait(10)


def release_into_the_guides_tree(version, *certificate):
    stamp = [] if "--timestamp" in certificate else ["--no-timestamp"]
    return run([os.path.join(ONE, "scripts", "release"), "--url", URL, "--manifest-key",
                os.path.join(ONE, "publisher", "manifest-key.hex"), "--tree", WWW,
                "--version", version, *certificate, *stamp, "--ca-file", ca("ca.pem")], cwd=ONE)


def with_time_stamp_server(script, server):
    """A guide's block with the test's own time-stamp server in place of the example's."""
    example = "--timestamp http://timestamp.example"
    assert example in script, f"the guide no longer says {example!r}"
    return script.replace(example, f"--timestamp {server.url} --tsa-ca-file {ca('ca.pem')}")


def pem_certificate_with_time_stamp_server_signs_a_second_version():
    first = digest(versioned(GUIDE_VERSION))
    with tsa.TimeStampServer(CA) as server:
        r = release_into_the_guides_tree(SECOND_VERSION, "--cert", ca("signer-chain.pem"),
                                         "--key", ca("signer.key"), "--timestamp", server.url,
                                         "--tsa-ca-file", ca("ca.pem"))
        assert r.returncode == 0, f"scripts/release failed: {r.stderr.strip()[-1500:]}"
        assert server.requests == [("application/timestamp-query", True)], \
            f"the time-stamp server saw {server.requests}"
    r = verify(SIGNED, ca("ca.pem"), "-TSA-CAfile", ca("ca.pem"))
    assert r.returncode == 0, f"osslsigncode verify failed: {r.stdout[-800:]}"
    assert "Timestamp Server Signature verification: ok" in r.stdout, "the signature has no time stamp"
    assert digest(versioned(GUIDE_VERSION)) == first, "the first release's copy changed"
    assert digest(versioned(SECOND_VERSION)) == digest(SIGNED), "the new copy is another file"
    winget_manifest_is_valid_and_names(SECOND_VERSION)


def released_version_is_never_signed_over():
    """Signed again (here without a time stamp), the same version has other bytes: refused with
    the tree and the winget manifest as they were."""
    tree_files = lambda: {n: digest(os.path.join(WWW, n))  # noqa: E731
                          for n in os.listdir(WWW) if os.path.isfile(os.path.join(WWW, n))}
    winget = os.path.join(ONE, "build", "release", "winget", WINGET_FILES["installer"])
    before, manifest = tree_files(), digest(winget)
    r = release_into_the_guides_tree(SECOND_VERSION, *P12)
    assert r.returncode != 0, "scripts/release signed over a released version"
    assert f"{versioned(SECOND_VERSION)} is already released with other bytes" in r.stderr, r.stderr
    assert tree_files() == before and digest(winget) == manifest, "it wrote before refusing"


def pe_time_stamp(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 8)[0]


def release_build_in_another_folder_is_byte_identical():
    with open(os.path.join(ONE, "publisher", "manifest-key.hex")) as f:
        key = f.read().strip()
    for step in (["cmake", "--preset", "release", "-DVARNOK_BASE_URL=" + URL,
                  "-DVARNOK_MANIFEST_PUBLIC_KEY=" + key,
                  "-DVARNOK_INSTALLER_VERSION=" + SECOND_VERSION],
                 ["cmake", "--build", "--preset", "release", "-j", "2", "--target", "VarnokClientSetup"]):
        r = run(step, cwd=TWO)
        assert r.returncode == 0, f"{' '.join(step[:3])} failed: {(r.stdout + r.stderr)[-1500:]}"
    different = []
    for name in (INSTALLER, "VarnokClientSetup-stripped.exe"):
        a, b = (os.path.join(copy, "build", "release", name) for copy in (ONE, TWO))
        print(f"  {name}: {digest(a)} and {digest(b)}")
        if digest(a) != digest(b):
            different.append(name)
        for path in (a, b):
            assert pe_time_stamp(path) == 0, f"{path} has a time stamp in its PE header"
    assert not different, f"the two builds differ: {different}"
    # What a user downloads is, without its signature, the other folder's build.
    unsigned = os.path.join(WORK, "served-without-signature.exe")
    r = run(["osslsigncode", "remove-signature", "-in", SIGNED, "-out", unsigned], cwd=WORK)
    assert r.returncode == 0, f"remove-signature failed: {r.stderr.strip()}"
    rebuilt = os.path.join(TWO, "build", "release", "VarnokClientSetup-stripped.exe")
    assert digest(unsigned) == digest(rebuilt), "the served installer is not the rebuilt one"


# --- Keys in a PKCS#11 token -------------------------------------------------------------------
TOKEN = None  # the SoftHSM2 token the guide's token section made its keys in


def private_key_files():
    """Every file below WORK holding a PEM or PKCS#8 private key."""
    r = subprocess.run(["grep", "-rlaF", "PRIVATE KEY", WORK], capture_output=True, text=True)
    return set(filter(None, r.stdout.split("\n")))


def token_guide_keeps_every_private_key_in_the_token():
    """The guide's token section as written, with the SoftHSM2 module in place of the example's
    and the throwaway CA answering in step 3: the tree and the installer come out signed by the
    token's keys (scripts/release refuses a certificate that is not for the token's key, a tree
    its manifest key did not sign and an installer that does not carry it), and no file in the work folder holds a private key that was
    not there before."""
    global TOKEN
    publisher = os.path.join(ONE, "publisher")
    os.rename(publisher, os.path.join(ONE, "publisher-pem"))
    os.makedirs(publisher)
    shutil.copyfile(CLIENT, os.path.join(publisher, "VarnokClient.exe"))
    TOKEN = softhsm_token.make(os.path.join(WORK, "softhsm"))
    shutil.copy(TOKEN.pin_file, os.path.join(publisher, "token.pin"))  # its mode 0600 too
    tmp = os.path.join(WORK, "tmp")
    os.makedirs(tmp)
    before = private_key_files()
    script = publisher_guide("publisher-guide-token")
    for example, here in (
            ("MODULE=/usr/lib/x86_64-linux-gnu/libykcs11.so", "MODULE=" + TOKEN.module),
            ("# 3. Your CA turns publisher/codesign.csr into publisher/codesign-chain.pem "
             "(certificate first)",
             f"python3 {os.path.join(HERE, 'codesign_ca.py')} answer-request {CA} "
             "publisher/codesign.csr publisher/codesign-chain.pem"),
            ("--tree publisher/www", "--tree publisher/www --ca-file " + ca("ca.pem"))):
        assert example in script, f"the token guide no longer says {example!r}"
        script = script.replace(example, here)
    with tsa.TimeStampServer(CA) as server:
        r = run(["bash", "-euo", "pipefail", "-c", with_time_stamp_server(script, server)],
                cwd=ONE, env=TOKEN.env(dict(ENV, TMPDIR=tmp)))
    with open(os.path.join(WORK, "token-guide.log"), "w") as f:
        f.write(r.stdout + r.stderr)
    assert r.returncode == 0, f"the token guide failed ({r.returncode}): {r.stderr.strip()[-1500:]}"

    r = verify(SIGNED, ca("ca.pem"))
    assert r.returncode == 0, f"osslsigncode verify failed: {r.stdout[-800:]}{r.stderr[-400:]}"
    leaked = sorted(private_key_files() - before)
    assert not leaked, f"private keys written to files: {leaked}"
    assert not os.listdir(tmp), f"temporary files left: {os.listdir(tmp)}"


def release_stamp():
    exe = os.path.join(ONE, "build", "release", INSTALLER)
    return os.stat(exe).st_mtime_ns if os.path.exists(exe) else None


def token_refusal(name, obj, chain, message, module=None, pin_file=None, key=None):
    def test():
        assert TOKEN, "no token: the token guide did not get far enough to make one"
        stamp = release_stamp()
        pin = pin_file() if callable(pin_file) else pin_file
        r = run([os.path.join(ONE, "scripts", "release"), "--url", URL, "--manifest-key",
                 OWN_KEY + ".hex", "--tree", REFUSAL_TREE, "--version", GUIDE_VERSION,
                 "--cert", chain(),
                 "--key", key(TOKEN.uri(obj)) if key else TOKEN.uri(obj),
                 "--pkcs11-module", module or TOKEN.module,
                 "--pin-file", pin or TOKEN.pin_file, "--no-timestamp", "--ca-file", ca("ca.pem")],
                cwd=WORK, env=TOKEN.env(ENV))
        said = message() if callable(message) else message
        assert r.returncode != 0, "scripts/release accepted it"
        assert said in r.stderr, f"refused without saying {said!r}: {r.stderr.strip()}"
        # A token's URI is shown by its attribute names: no value, so no PIN, ever leaves.
        assert obj not in r.stderr, f"the object's label was shown: {r.stderr.strip()}"
        assert release_stamp() == stamp, "it built before refusing"
        assert not os.path.exists(os.path.join(REFUSAL_TREE, INSTALLER)), "it wrote an installer"
    test.__name__ = "release_refuses_token_" + name
    return test


TOKEN_CHAIN = lambda: os.path.join(ONE, "publisher", "codesign-chain.pem")  # noqa: E731


def pin_file_with_mode(mode):
    """A copy of the token's PIN file that the group or others may change."""
    def make():
        path = os.path.join(WORK, f"pin-{mode:o}")
        shutil.copyfile(TOKEN.pin_file, path)
        os.chmod(path, mode)
        return path
    return make

TOKEN_REFUSALS = [
    token_refusal("key_of_another_certificate", "codesign-2027", lambda: ca("signer-chain.pem"),
                  "does not match"),
    token_refusal("wrong_pin", "codesign-2027", TOKEN_CHAIN,
                  "PIN incorrect: " + ca("wrong.pass"), pin_file=ca("wrong.pass")),
    # Pasted with a blank before it and its scheme in capitals: still the token's URI.
    token_refusal("object_not_in_the_token", "codesign-2099", TOKEN_CHAIN,
                  "no private key matches pkcs11:token=...;object=...",
                  key=lambda uri: " PKCS11:" + uri[len("pkcs11:"):]),
    token_refusal("pin_file_others_may_change", "codesign-2027", TOKEN_CHAIN,
                  "can be changed by other users (mode 620)", pin_file=pin_file_with_mode(0o620)),
    token_refusal("module_missing", "codesign-2027", TOKEN_CHAIN,
                  "cannot load the PKCS#11 module " + os.path.join(WORK, "no-module.so"),
                  module=os.path.join(WORK, "no-module.so")),
]


harness.main([refusal(*case) for case in REFUSALS] + [
    publisher_guide_signs_and_writes_the_installer_into_the_tree,
    signed_installer_verifies_against_the_publishers_root_only,
    served_tree_gives_the_signed_installer_and_its_digest,
    pem_certificate_with_time_stamp_server_signs_a_second_version,
    released_version_is_never_signed_over,
    release_build_in_another_folder_is_byte_identical,
    token_guide_keeps_every_private_key_in_the_token,
] + TOKEN_REFUSALS)
