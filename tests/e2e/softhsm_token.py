"""A PKCS#11 token for one test run: SoftHSM2 with its own configuration and token folder in the
folder given (the machine's /etc/softhsm and /var/lib/softhsm are never read or written).

Every process that should see the token needs the environment `Token.env` gives."""
import os
import shutil
import subprocess
import urllib.parse

MODULES = ("/usr/lib/softhsm/libsofthsm2.so",
           "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so")
LABEL = "Varnok Release"


class Token:
    def __init__(self, folder, pin):
        self.folder = folder
        self.conf = os.path.join(folder, "softhsm2.conf")
        self.pin = pin
        self.pin_file = os.path.join(folder, "user.pin")
        self.module = next((m for m in MODULES if os.path.exists(m)), None)
        assert self.module, "SoftHSM2 is missing: run scripts/setup-deps"

    def env(self, base=None):
        return dict(base if base is not None else os.environ, SOFTHSM2_CONF=self.conf)

    def uri(self, obj):
        quote = lambda text: urllib.parse.quote(text, safe="")
        return f"pkcs11:token={quote(LABEL)};object={quote(obj)}"

    def options(self):
        """What varnok-publish takes beside a token key's URI."""
        return ["--pkcs11-module", self.module, "--pin-file", self.pin_file]

    def import_key(self, pem, obj, key_id="01"):
        """Puts an existing PKCS#8 key into the token (softhsm2-util marks it sensitive)."""
        subprocess.run(["softhsm2-util", "--import", pem, "--token", LABEL, "--label", obj,
                        "--id", key_id, "--pin", self.pin], env=self.env(), check=True,
                       capture_output=True, timeout=60)


def make(folder, pin="2718-varnok"):
    """A fresh, initialised token labelled LABEL whose user PIN is in Token.pin_file."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "tokens"))
    token = Token(folder, pin)
    with open(token.conf, "w") as f:
        f.write(f"directories.tokendir = {folder}/tokens\nobjectstore.backend = file\n"
                "log.level = ERROR\n")
    fd = os.open(token.pin_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write(pin + "\n")
    subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", LABEL, "--so-pin",
                    "so-" + pin, "--pin", pin], env=token.env(), check=True, capture_output=True,
                   timeout=60)
    return token
