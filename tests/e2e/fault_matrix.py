"""The fault matrix: one table of faults, each driven through the real installer under Wine (its
window, its Install button) against a small TLS server on the installer's built-in base URL, and
each with the outcome it must end in.

After every row, read from outside:
  - the message on the Error screen, compared pixel by pixel with the same message painted by
    the probe program (or the Ready screen after a cancel, or Done where the row installs);
  - no ".VarnokClient.exe.part" in the install folder (listed, so the dot-named file is seen);
  - an earlier client executable, where the row placed one, unchanged byte for byte;
  - no install folder at all where the fault comes before the folder is made;
  - the server's log: what must not have been requested (the client file after a manifest
    fault, a redirect's target);
  - where the row names one, the reason behind the message: Ctrl+C on the Error screen, then
    the step, the code and the system's number as another program pastes them.

The server is this script's own: nginx cannot stall, cut a body, lie about its length, leave out
the last chunk or serve a manifest signed over other text. Manifests are signed here with the
development key over the exact bytes served (openssl's DER signature turned into r || s, as the
envelope carries it), so manifests the publisher's tool refuses to sign (stale, future, no
launcher, a bad url, oversized) can be served too. The stall rows take the installer's real time-outs (20 s for the manifest, 60 s for
the download): the shipped installer has no switch to shorten them.
"""
import dataclasses
import hashlib
import json
import os
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
from typing import Callable, Optional

import harness
import install_env as env
import installer_window
from installer_window import is_done, is_error, is_installing, is_ready
from update_server import DEV_KEY, PORT, make_test_ca, port_open

EXE, STANDIN, PROBE, CLIPBOARD, RUN_PROBE = sys.argv[1:6]
WORK = os.path.join(harness.ROOT, "build", "e2e-faults")

INSTALL = (200, 285)      # Install, and Cancel where Install was
BROWSE = (350, 165)
LAUNCH_ROW = (250, 238)   # "Launch after install"
PICKER_TITLE = "Choose Varnok Client install folder"

MANIFEST = "/api/updates/manifest"
FILE = "/api/updates/files/VarnokClient-1.0.0.exe"
ELSEWHERE = "/api/updates/redirect-target"  # where every redirect points; never to be asked
MANIFEST_LIMIT = 524_288

# The user's messages (install/install_worker.h).
NO_SERVER = "Could not connect to server. Check your internet."
REFUSED = "File verification failed."
NOT_CREATED = "Failed to create install folder: "
DOWNLOAD_FAILED = "Download failed. Please try again."
CORRUPTED = "Downloaded file is corrupted."
CLIENT_RUNNING = "Please close running Varnok Client (in system tray) and retry."
READY, DONE = "<Ready>", "<Done>"

DAY = 86_400


# --- the server ------------------------------------------------------------------------------

class Conn:
    """One accepted request: the socket and what an action needs to answer it."""

    def __init__(self, sock, server):
        self.sock, self.server = sock, server

    def head(self, code, headers=()):
        lines = ["HTTP/1.1 %d %s" % (code, {200: "OK", 204: "No Content", 301: "Moved Permanently",
                                            302: "Found", 404: "Not Found",
                                            500: "Internal Server Error"}.get(code, "Status"))]
        lines += ["%s: %s" % kv for kv in headers] + ["Connection: close", "", ""]
        self.sock.sendall("\r\n".join(lines).encode("latin-1"))

    def silence(self):
        """Holds the connection without a byte until the installer gives up on it."""
        self.sock.settimeout(1.0)
        while not self.server.stopping.is_set():
            try:
                if not self.sock.recv(4096):
                    return
            except socket.timeout:
                continue
            except (OSError, ssl.SSLError):
                return


# Actions: what the server does with one request. Each takes the Conn.

def ok(data):
    def act(c):
        c.head(200, [("Content-Type", "application/octet-stream"), ("Content-Length", len(data))])
        c.sock.sendall(data)
    return act


def status(code):
    def act(c):
        body = b"" if code == 204 else b"status %d\n" % code
        c.head(code, [] if code == 204 else [("Content-Length", len(body))])
        c.sock.sendall(body)
    return act


def redirect(code):
    def act(c):
        body = b"moved\n"
        c.head(code, [("Location", "https://localhost:%d%s" % (PORT, ELSEWHERE)),
                      ("Content-Length", len(body))])
        c.sock.sendall(body)
    return act


def stall_headers():
    return lambda c: c.silence()


def stall_body(data, sent):
    def act(c):
        c.head(200, [("Content-Length", len(data))])
        c.sock.sendall(data[:sent])
        c.silence()
    return act


def cut(data, sent):
    """Content-Length of the whole, then only `sent` bytes and the connection closed."""
    def act(c):
        c.head(200, [("Content-Length", len(data))])
        c.sock.sendall(data[:sent])
    return act


def chunked(data, last_chunk=True):
    def act(c):
        c.head(200, [("Transfer-Encoding", "chunked")])
        for start in range(0, len(data), 16384):
            piece = data[start:start + 16384]
            c.sock.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        if last_chunk:
            c.sock.sendall(b"0\r\n\r\n")
        time.sleep(0.2)
    return act


def drip(data, piece=2048, interval=0.1):
    """The whole length announced, then a little at a time: a download that lasts."""
    def act(c):
        c.head(200, [("Content-Length", len(data))])
        for start in range(0, len(data), piece):
            if c.server.stopping.is_set():
                return
            c.sock.sendall(data[start:start + piece])
            time.sleep(interval)
    return act


def then_cert(action, cert):
    """Every later connection gets `cert`, then the action: a manifest from the trusted server,
    the client file from one that is not. The certificate changes before the manifest is
    answered, so that the installer cannot connect for the file before it has changed."""
    def act(c):
        c.server.context = tls_context(cert)
        action(c)
    return act


def tls_context(cert):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(CA, cert + ".pem"), os.path.join(CA, cert + ".key"))
    return context


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        srv = self.server
        sock = self.request
        srv.track(sock)
        try:
            sock.settimeout(10)
            sock = srv.context.wrap_socket(sock, server_side=True)
            srv.track(sock)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = sock.recv(4096)
                if not chunk:
                    return
                data += chunk
            line = data.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
            path = line[1] if len(line) > 1 else ""
            with srv.lock:
                srv.log.append(path)
                action = srv.routes.get(path, status(404))
            sock.settimeout(30)
            action(Conn(sock, srv))
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            try:
                sock.close()
            except OSError:
                pass


class RowServer(socketserver.ThreadingTCPServer):
    """HTTPS on the base URL's port with this row's certificate and routes; logs every request
    path before answering it."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, routes, cert="localhost"):
        assert not port_open(), f"port {PORT} is taken: the installer's server address is fixed"
        self.context = tls_context(cert)
        self.routes, self.log, self.lock = dict(routes), [], threading.Lock()
        self.stopping, self.socks = threading.Event(), []
        super().__init__(("127.0.0.1", PORT), Handler)
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def track(self, sock):
        with self.lock:
            self.socks.append(sock)

    def requests(self):
        with self.lock:
            return list(self.log)

    def set_route(self, path, action):
        with self.lock:
            self.routes[path] = action

    def stop(self):
        self.stopping.set()
        self.shutdown()
        self.server_close()
        with self.lock:
            for sock in self.socks:
                try:
                    sock.close()
                except OSError:
                    pass


# --- manifests, signed here ------------------------------------------------------------------

def der_integers(der):
    """The two INTEGERs of a DER ECDSA-Sig-Value (SEQUENCE { r, s }), as ints."""
    assert der[0] == 0x30 and der[1] == len(der) - 2, "not a short DER SEQUENCE"
    values, pos = [], 2
    while pos < len(der):
        assert der[pos] == 0x02, "not a DER INTEGER"
        length = der[pos + 1]
        values.append(int.from_bytes(der[pos + 2:pos + 2 + length], "big"))
        pos += 2 + length
    assert len(values) == 2, values
    return values


def sign(text, key):
    """The envelope's signature: ECDSA P-256 over SHA-256 of the exact bytes, made by openssl
    (DER) and carried as r || s in hex, as the installer reads it."""
    r = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=text,
                       capture_output=True, check=True, timeout=30)
    r_value, s_value = der_integers(r.stdout)
    return (r_value.to_bytes(32, "big") + s_value.to_bytes(32, "big")).hex()


def manifest_text(payload, **changes):
    """The manifest the publisher's tool would write for `payload`, with `changes` applied to
    the launcher entry (launcher=None drops it) or to the manifest's own keys."""
    launcher = {"file_id": "varnok-client", "rel_path": "VarnokClient.exe", "url": FILE,
                "sha256": hashlib.sha256(payload).hexdigest(), "size_bytes": len(payload),
                "required": True}
    manifest = {"schema_version": 1, "launcher_build": 1, "launcher_version": "1.0.0",
                "game_build": 0, "game_version": "", "published_at": int(time.time()),
                "notes_en": "", "notes_ru": "", "launcher": launcher}
    for name, value in changes.items():
        if name in launcher:
            launcher[name] = value
        else:
            manifest[name] = value
    if manifest["launcher"] is None:
        del manifest["launcher"]
    return json.dumps(manifest, indent=2).encode()


def envelope(text, signature, pad_to=None):
    body = json.dumps({"ok": True, "manifest_json": text.decode(), "signature_hex": signature},
                      indent=2).encode() + b"\n"
    if pad_to is not None:
        assert len(body) <= pad_to
        body += b" " * (pad_to - len(body))  # whitespace after the value is still valid JSON
    return body


# How a row's manifest is made from the row's payload: functions of the payload.

def signed(key=None, pad_to=None, **changes):
    return lambda payload: envelope(manifest_text(payload, **changes),
                                    sign(manifest_text(payload, **changes), key or DEV),
                                    pad_to)


def signed_over_other_text(payload):
    text = manifest_text(payload)
    other = manifest_text(payload, launcher_version="1.0.1")
    return envelope(text, sign(other, DEV))


def flipped_signature(payload):
    text = manifest_text(payload)
    signature = bytearray.fromhex(sign(text, DEV))
    signature[40] ^= 0x01  # one bit of s
    return envelope(text, signature.hex())


# --- payloads --------------------------------------------------------------------------------

def client_payload():
    """The stand-in client with bytes appended: a real executable of about 1 MiB."""
    return env.read(STANDIN) + b"\0varnok fault matrix" * 50_000


def flip(data, at):
    out = bytearray(data)
    out[at] ^= 0x01
    return bytes(out)


# --- the table -------------------------------------------------------------------------------

@dataclasses.dataclass
class Row:
    name: str
    expect: str                            # a message, READY or DONE
    # The server: the manifest (a function of the payload) and what is served for the client
    # file (a function of the payload giving an action). None for the file route: the default,
    # the payload itself.
    manifest: Callable = lambda payload: ok(signed()(payload))
    file: Optional[Callable] = None
    payload: Callable = client_payload
    cert: Optional[str] = "localhost"      # None: nothing listens on the port
    extra_routes: dict = dataclasses.field(default_factory=dict)
    never: tuple = ()                      # paths that must never be requested
    earlier: bool = False                  # an earlier client in the install folder
    no_folder: bool = False                # the fault comes before the folder is made
    file_asked: bool = False               # the fault shows only once the file was asked for
    # "tmpfs", "file-in-place", "other-owner", "running-client"
    disk: Optional[str] = None
    user: str = "install"         # "install", "cancel", "cancel-connecting", "kill-then-install"
    timeout: float = 60.0
    # (step, code, [accepted number lines]) copied by Ctrl+C on the Error screen; [] for none
    reason: Optional[tuple] = None
    # The exit code of a run without a person (--silent) that meets the same fault; such rows
    # run a second time that way. None: the window only.
    code: Optional[int] = None


def before_folder(name, expect, manifest=Row.manifest, cert="localhost", never=(FILE,),
                  extra_routes=None, timeout=60.0, **more):
    """A fault found before the install folder is made: no folder afterwards, no client file
    asked for."""
    return Row(name, expect, manifest=manifest, cert=cert, never=tuple(never),
               extra_routes=extra_routes or {}, no_folder=True, timeout=timeout, **more)


def in_download(name, expect, file, payload=client_payload, manifest=Row.manifest, never=(),
                extra_routes=None, timeout=60.0, **more):
    """A fault found in or after the download: an earlier client is there and stays."""
    return Row(name, expect, manifest=manifest, file=file, payload=payload, never=tuple(never),
               extra_routes=extra_routes or {}, earlier=True, file_asked=FILE not in never,
               timeout=timeout, **more)


# The numbers a refused certificate may come with: a secure failure on Windows (12175); Wine's
# TLS layer reports the same refusal as a secure channel error (12157).
CERT_REFUSED = ["Windows error: 12175", "Windows error: 12157"]


def not_exe_payload():
    return b"PK\x03\x04" + os.urandom(200_000)


def small_exe_payload():
    return b"MZ" + os.urandom(65_533)  # 65,535 bytes


def same_size_other_bytes(payload):
    other = b"MZ" + os.urandom(len(payload) - 2)
    assert hashlib.sha256(other).digest() != hashlib.sha256(payload).digest()
    return ok(other)


def redirect_target_routes(body_of):
    return {ELSEWHERE: lambda payload: ok(body_of(payload))}


ROWS = [
    # network, before the manifest is read
    before_folder("connection refused", NO_SERVER, cert=None, never=(),
                  reason=("manifest_fetch", "network_unreachable", ["Windows error: 12029"]),
                  code=11),
    before_folder("untrusted certificate (a CA the prefix does not trust)", NO_SERVER,
                  cert="rogue-localhost", never=(MANIFEST, FILE),
                  reason=("manifest_fetch", "network_unreachable", CERT_REFUSED)),
    before_folder("certificate for another host name", NO_SERVER, cert="other-name",
                  never=(MANIFEST, FILE)),
    before_folder("manifest: status 204", NO_SERVER, manifest=lambda p: status(204)),
    before_folder("manifest: status 301 (target never asked)", NO_SERVER,
                  manifest=lambda p: redirect(301), never=(ELSEWHERE, FILE),
                  extra_routes=redirect_target_routes(signed())),
    before_folder("manifest: status 302 (target never asked)", NO_SERVER,
                  manifest=lambda p: redirect(302), never=(ELSEWHERE, FILE),
                  extra_routes=redirect_target_routes(signed())),
    before_folder("manifest: status 404", NO_SERVER, manifest=lambda p: status(404),
                  reason=("manifest_fetch", "http_404", ["HTTP status: 404"])),
    before_folder("manifest: status 500", NO_SERVER, manifest=lambda p: status(500)),
    before_folder("manifest: a stall before the headers (20 s receive time-out)", NO_SERVER,
                  manifest=lambda p: stall_headers(), timeout=90),
    before_folder("manifest: one byte over 524,288", NO_SERVER,
                  manifest=lambda p: ok(signed(pad_to=MANIFEST_LIMIT + 1)(p)),
                  reason=("manifest_fetch", "response_too_large", [])),
    # a manifest body that ends early is read as far as it goes (HTTPS fetch: the end of data
    # is the end of the body), and then the envelope refuses it
    before_folder("manifest: a body cut short", REFUSED,
                  manifest=lambda p: cut(signed()(p), 300)),
    before_folder("manifest: chunked without its last chunk", REFUSED,
                  manifest=lambda p: chunked(signed()(p)[:300], last_chunk=False)),
    before_folder("manifest: a stall in mid-body (20 s receive time-out)", REFUSED,
                  manifest=lambda p: stall_body(signed()(p), 300), timeout=90),
    # the manifest's envelope and content
    before_folder("manifest: not JSON", REFUSED,
                  manifest=lambda p: ok(b"<html><body>Service Unavailable</body></html>\n")),
    before_folder("manifest: ok false", REFUSED,
                  manifest=lambda p: ok(b'{"ok": false, "error": "maintenance"}\n')),
    before_folder("manifest: a wrong signature (one bit of s)", REFUSED,
                  manifest=lambda p: ok(flipped_signature(p))),
    before_folder("manifest: signed by another key", REFUSED,
                  manifest=lambda p: ok(signed(key=OTHER)(p)),
                  reason=("manifest_check", "invalid_signature", []), code=12),
    before_folder("manifest: a signature over other text", REFUSED,
                  manifest=lambda p: ok(signed_over_other_text(p))),
    before_folder("manifest: stale (366 days old)", REFUSED,
                  manifest=lambda p: ok(signed(published_at=int(time.time()) - 366 * DAY)(p))),
    before_folder("manifest: in the future (2 days ahead)", REFUSED,
                  manifest=lambda p: ok(signed(published_at=int(time.time()) + 2 * DAY)(p))),
    before_folder("manifest: no launcher entry", REFUSED,
                  manifest=lambda p: ok(signed(launcher=None)(p))),
    before_folder("manifest: a launcher url outside /api/updates/files/", REFUSED,
                  manifest=lambda p: ok(signed(url="/api/updates/VarnokClient-1.0.0.exe")(p)),
                  never=(FILE, "/api/updates/VarnokClient-1.0.0.exe"),
                  extra_routes={"/api/updates/VarnokClient-1.0.0.exe": lambda p: ok(p)}),
    before_folder("manifest: size_bytes over 256 MiB", REFUSED,
                  manifest=lambda p: ok(signed(size_bytes=268_435_457)(p))),
    # the client file over the network
    in_download("file: untrusted certificate", DOWNLOAD_FAILED,
                manifest=lambda p: then_cert(ok(signed()(p)), "rogue-localhost"),
                file=lambda p: ok(p), never=(FILE,)),
    in_download("file: certificate for another host name", DOWNLOAD_FAILED,
                manifest=lambda p: then_cert(ok(signed()(p)), "other-name"),
                file=lambda p: ok(p), never=(FILE,)),
    in_download("file: status 204", DOWNLOAD_FAILED, file=lambda p: status(204)),
    in_download("file: status 301 (target never asked)", DOWNLOAD_FAILED,
                file=lambda p: redirect(301), never=(ELSEWHERE,),
                extra_routes=redirect_target_routes(lambda p: p)),
    in_download("file: status 302 (target never asked)", DOWNLOAD_FAILED,
                file=lambda p: redirect(302), never=(ELSEWHERE,),
                extra_routes=redirect_target_routes(lambda p: p)),
    in_download("file: status 404", DOWNLOAD_FAILED, file=lambda p: status(404),
                reason=("download", "http_404", ["HTTP status: 404"])),
    in_download("file: status 500", DOWNLOAD_FAILED, file=lambda p: status(500)),
    in_download("file: a body cut short", DOWNLOAD_FAILED, file=lambda p: cut(p, len(p) // 2)),
    in_download("file: a body longer than announced", DOWNLOAD_FAILED,
                file=lambda p: ok(p + b"\0" * 70_000)),
    in_download("file: chunked without its last chunk", DOWNLOAD_FAILED,
                file=lambda p: chunked(p[:len(p) - 1000], last_chunk=False)),
    in_download("file: a stall in mid-body (60 s receive time-out)", DOWNLOAD_FAILED,
                file=lambda p: stall_body(p, len(p) // 3), timeout=120),
    # the payload
    in_download("payload: one changed byte", DOWNLOAD_FAILED,
                file=lambda p: ok(flip(p, len(p) // 2))),
    in_download("payload: a body that is not an executable", CORRUPTED, file=lambda p: ok(p),
                payload=not_exe_payload, reason=("executable_check", "not_an_executable", []),
                code=18),
    in_download("payload: exactly the declared size, another digest", DOWNLOAD_FAILED,
                file=same_size_other_bytes, code=16),
    in_download("manifest: size_bytes 65,535 (downloaded, then refused)", CORRUPTED,
                file=lambda p: ok(p), payload=small_exe_payload),
    # the user and the disk
    Row("file: a slow drip that the user cancels", READY, file=lambda p: drip(p), earlier=True,
        file_asked=True, user="cancel"),
    # The real time-outs are long, so one row shows two things: the wait for the file's
    # headers is bounded (60 s), and a cancel raised during it ends on Ready, not on an error.
    Row("file: the user cancels during a stall before the headers (Ready after the 60 s "
        "time-out)", READY, file=lambda p: stall_headers(), earlier=True, file_asked=True,
        user="cancel", timeout=90),
    Row("manifest: the user cancels while it arrives", READY,
        manifest=lambda p: drip(signed()(p), piece=64, interval=0.25), never=(FILE,),
        no_folder=True, user="cancel-connecting"),
    Row("disk: the disk fills during the download", DOWNLOAD_FAILED, earlier=True,
        file_asked=True, disk="tmpfs",
        reason=("download", "disk_or_hash_error", ["Windows error: 112"]), code=17),
    Row("disk: an install folder that cannot be created", NOT_CREATED + env.FOLDER_WIN,
        never=(FILE,), disk="file-in-place",
        reason=("folder_create", "folder_not_created", ["Windows error: 183"]), code=13),
    # Wine shows a folder of any other Unix user as owned by one stranger (Anonymous Logon).
    Row("disk: an install folder another user made first", NOT_CREATED + env.FOLDER_WIN,
        never=(FILE,), disk="other-owner",
        reason=("folder_create", "folder_owned_by_other_user", []), code=13),
    # Windows refuses to replace a running program's file as a sharing violation (32) or, for
    # a mapped image, access denied (5).
    Row("disk: the client executable held open by a running client", CLIENT_RUNNING,
        file_asked=True, disk="running-client",
        reason=("replace_client", "replace_failed", ["Windows error: 32", "Windows error: 5"]),
        code=19),
    # Silently: a second silent run meanwhile ends with 1618 at once, and a window waits on
    # Connecting (Cancel still works) until the first run is killed, then installs.
    Row("disk: the process killed during a download, then a new install", DONE,
        file=lambda p: drip(p), file_asked=True, user="kill-then-install", code=0),
    Row("manifest: exactly 524,288 bytes installs", DONE,
        manifest=lambda p: ok(signed(pad_to=MANIFEST_LIMIT)(p))),
]


# --- running one row -------------------------------------------------------------------------

class Place:
    """Where a row installs: the default folder, or a folder on another drive."""

    def __init__(self, host, win):
        self.host, self.win = host, win
        self.client = os.path.join(host, "VarnokClient.exe")

    def parts(self):
        if not os.path.isdir(self.host):
            return []
        return [n for n in os.listdir(self.host) if n.endswith(".part")]


DEFAULT = Place(env.FOLDER, env.FOLDER_WIN)


def earlier_client(place):
    os.makedirs(place.host, exist_ok=True)
    data = b"MZ earlier client " + os.urandom(4096)
    with open(place.client, "wb") as f:
        f.write(data)
    return data


class Tmpfs:
    """A small tmpfs mounted in the build tree and shown to the prefix as drive letter V:."""
    LETTER = "v:"
    BYTES = 640 * 1024

    def __init__(self):
        self.mount = os.path.join(WORK, "small-disk")
        self.link = os.path.join(env.PREFIX, "dosdevices", self.LETTER)
        os.makedirs(self.mount, exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={self.BYTES},mode=0755", "tmpfs",
                            self.mount], capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            raise harness.Skip("mounting a small tmpfs was refused: "
                               + (r.stderr.strip() or f"exit code {r.returncode}"))
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.mount, self.link)
        os.makedirs(os.path.join(self.mount, "Games"))
        self.place = Place(os.path.join(self.mount, "Games", "VarnokClient"),
                           "V:\\Games\\VarnokClient")

    def close(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        subprocess.run(["umount", self.mount], capture_output=True, timeout=30)


def choose_folder(w, folder_win):
    """The folder picker, as a user: Browse, type the folder, Return."""
    w.click(*BROWSE)
    dialog = harness.wait_for_window(PICKER_TITLE, timeout=20)
    time.sleep(0.5)
    harness.xdotool("windowfocus", dialog, check=False)
    harness.xdotool("type", folder_win)
    harness.xdotool("key", "Return")
    deadline = time.time() + 10
    while harness.xdotool("search", "--name", f"^{PICKER_TITLE}$", check=False):
        assert time.time() < deadline, "the folder picker did not close"
        time.sleep(0.1)
    w.move(200, 120)
    time.sleep(0.5)


def kill_windows_process(w):
    """Ends the installer as Task Manager would: TerminateProcess, no clean-up of its own."""
    r = harness.run_wine(["taskkill", "/F", "/IM", os.path.basename(EXE)], timeout=30)
    try:
        w.proc.wait(20)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"taskkill did not end the installer: {r.stdout!r} {r.stderr!r}")


def run_row(row, silent=False):
    payload = row.payload()
    routes = {MANIFEST: row.manifest(payload)}
    routes[FILE] = row.file(payload) if row.file else ok(payload)
    for path, make in row.extra_routes.items():
        routes[path] = make(payload)

    place, small_disk, running, before = DEFAULT, None, None, None
    try:
        if row.disk == "tmpfs":
            small_disk = Tmpfs()
            place = small_disk.place
            assert len(payload) > Tmpfs.BYTES, "the payload must not fit the small disk"
        if row.earlier:
            before = earlier_client(place)
        if row.disk == "file-in-place":
            with open(env.FOLDER, "wb") as f:
                f.write(b"not a folder")
        if row.disk == "other-owner":
            if os.geteuid() != 0:
                raise harness.Skip("a folder owned by another user can be made only as root")
            os.makedirs(env.FOLDER)
            os.chown(env.FOLDER, 65534, 65534)  # nobody
        if row.disk == "running-client":
            os.makedirs(env.FOLDER)
            shutil.copyfile(STANDIN, env.CLIENT)
            before = env.read(env.CLIENT)
            running = harness.start_wine([env.CLIENT, "--show-window"])
            harness.wait_until(env.launches, "the running client")
            # Shown before the row starts: a silent run watches for windows that appear.
            harness.wait_for_window(r"Varnok Client \(stand-in\)")

        if not row.cert:
            assert not port_open(), f"something listens on {PORT}: no refused connection"
        server = RowServer(routes, row.cert) if row.cert else None
        try:
            (silent_outcome if silent else outcome)(row, place, server, payload)
            if server:
                asked = server.requests()
                for path in row.never:
                    assert path not in asked, f"{path} was requested: {asked}"
                if row.file_asked:
                    assert FILE in asked, f"the client file was never asked for: {asked}"
        finally:
            if server:
                server.stop()

        assert not place.parts(), f"partial download left in {place.host}: {place.parts()}"
        if before is not None:
            assert env.read(place.client) == before, "the earlier client was changed"
        if row.no_folder:
            assert not os.path.lexists(env.FOLDER), "the install folder was created"
        if row.disk == "file-in-place":
            assert env.read(env.FOLDER) == b"not a folder", "the file in the folder's place changed"
        if row.disk == "other-owner":
            assert os.listdir(env.FOLDER) == [], f"written into: {os.listdir(env.FOLDER)}"
        if row.expect == DONE:
            assert env.read(place.client) == payload, "the installed client is not the payload"
        if small_disk:
            assert os.path.isdir(place.host), "the install folder is not on the small disk"
            assert not os.path.lexists(env.FOLDER), "the install went to the default folder"
    finally:
        if running:
            running.kill()
            running.wait(20)
        if small_disk:
            small_disk.close()


def wait_screen(w, server, predicate, what, timeout):
    """A screen of the installer; when it does not come, what the installer and the server did
    instead."""
    try:
        return w.wait_for(predicate, what, timeout=timeout)
    except AssertionError as e:
        code = w.proc.poll()
        state = "still running" if code is None else f"ended with exit code {code}"
        asked = server.requests() if server else "no server"
        raise AssertionError(f"{e}; the installer is {state}; requests: {asked}") from None


def outcome(row, place, server, payload):
    w = installer_window.Window(EXE)
    try:
        if row.disk == "tmpfs":
            choose_folder(w, place.win[:-len("\\VarnokClient")])
        if row.expect == DONE:
            w.click(*LAUNCH_ROW)  # stay on Done instead of starting the client
        w.click(*INSTALL)
        if row.user in ("cancel", "kill-then-install"):
            harness.wait_until(lambda: place.parts(), "the download to start", timeout=30)
            wait_screen(w, server, is_installing, "the Installing screen", 6)
        if row.user == "cancel-connecting":
            harness.wait_until(lambda: MANIFEST in server.requests(), "the manifest request")
            shot = wait_screen(w, server, is_installing, "the Connecting screen", 6)
            # A run that holds the lock is not waiting for anyone, however slow its fetch.
            assert not says_waiting(shot), f"a wait named by a run that holds the lock: {shot.save('no-wait')}"
            w.click(*INSTALL)  # Cancel; the fetch goes on to its end, then the worker stops
            wait_screen(w, server, is_ready, "the Ready screen after Cancel", 30)
            return
        if row.user == "cancel":
            w.click(*INSTALL)  # Cancel sits where Install was
            wait_screen(w, server, is_ready, "the Ready screen after Cancel", row.timeout)
            harness.wait_until(lambda: not place.parts(), "the partial file to go", timeout=10)
            return
        if row.user == "kill-then-install":
            # The window's run holds the install lock: a silent run now leaves it alone.
            assert env.install_silently(RUN_PROBE, EXE) == 1618
            kill_windows_process(w)
            left = place.parts()
            assert left, "no partial download was left by the killed installer"
            with open(os.path.join(place.host, left[0]), "ab") as f:
                f.write(b"\xff" * 1000)  # whatever the killed run left, it must not be kept
            server.set_route(FILE, ok(payload))
            w.close()
            w = installer_window.Window(EXE)
            w.click(*LAUNCH_ROW)
            w.click(*INSTALL)
        if row.expect == DONE:
            wait_screen(w, server, is_done, "the Done screen", row.timeout)
            return
        shot = wait_screen(w, server, is_error, f"the Error screen ({row.expect})", row.timeout)
        env.expect_message(shot, PROBE, row.expect)
        if row.reason:
            env.expect_reason(w, CLIPBOARD, row.expect, row.reason)
    finally:
        w.close()


def says_waiting(s):
    """Text under the Connecting screen's track, where only a waiting run writes: the muted
    letters stand out from the dark body."""
    return any(max(p) > 110 for p in s.region(36, 210, 300, 224)) and is_installing(s)


def silent_outcome(row, place, server, payload):
    """The row's fault met by a run without a person: nothing shown, only its exit code."""
    args = ["--install-dir", place.win[:-len("\\VarnokClient")]] if place is not DEFAULT else []
    if row.user == "kill-then-install":
        first = harness.start_wine([EXE, "--silent"] + args)
        try:
            harness.wait_until(place.parts, "the download to start", timeout=30)
            assert env.install_silently(RUN_PROBE, EXE, args) == 1618
            w = installer_window.Window(EXE)
            try:
                w.click(*LAUNCH_ROW)
                w.click(*INSTALL)
                wait_screen(w, server, is_installing, "the Connecting screen", 6)
                w.click(*INSTALL)  # Cancel ends the wait, and Install waits again
                wait_screen(w, server, is_ready, "the Ready screen after Cancel", 6)
                w.click(*INSTALL)
                time.sleep(2)  # time for a window that did not wait to ask for the manifest
                assert server.requests().count(MANIFEST) == 1, server.requests()
                w.wait_for(says_waiting, "the line that names the wait", timeout=6)
                server.set_route(FILE, ok(payload))
                first.kill()  # as a deployment tool ends a run it gave up on
                wait_screen(w, server, is_done, "the Done screen once the lock was free", 90)
            finally:
                w.close()
        finally:
            first.kill()
            first.wait(20)
    code = env.install_silently(RUN_PROBE, EXE, args, timeout=row.timeout + 60)
    asked = server.requests() if server else "no server"
    assert code == row.code, f"exit code {code}, expected {row.code}; requests {asked}"


def tidy(row):
    """Back to nothing installed; the registry is only touched after a row that installed."""
    if row.expect == DONE:
        env.clean_slate()
    else:
        env.remove_path(env.FOLDER)


# --- main ------------------------------------------------------------------------------------

CA = make_test_ca.ensure(make_test_ca.default_folder())
DEV = DEV_KEY
OTHER = os.path.join(WORK, "other-key.pem")  # a key the installer does not trust, made per run


def make_tests(row):
    def make(silent):
        def test():
            try:
                run_row(row, silent)
            finally:
                tidy(row)
        test.__name__ = row.name + (" (silent)" if silent else "")
        return test
    return [make(False)] + ([make(True)] if row.code is not None else [])


if __name__ == "__main__":
    started = time.time()
    assert len(ROWS) >= 30, len(ROWS)
    subprocess.run(["bash", os.path.join(harness.ROOT, "tests", "servers", "trust-test-ca.sh")],
                   check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if os.path.ismount(os.path.join(WORK, "small-disk")):  # left by an aborted run
        subprocess.run(["umount", os.path.join(WORK, "small-disk")], check=True, timeout=30)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-out", OTHER], check=True, capture_output=True,
                   timeout=30)
    env.clean_slate()
    only = os.environ.get("VARNOK_FAULT_ROWS")  # a part of the table, for working on it
    rows = [r for r in ROWS if not only or any(w in r.name for w in only.split(","))]
    try:
        harness.main([test for row in rows for test in make_tests(row)])
    finally:
        env.clean_slate()
        shutil.rmtree(WORK, ignore_errors=True)
        print(f"fault matrix ({len(rows)} rows) took {time.time() - started:.1f} s")
