"""A local RFC 3161 time-stamp server for the signing tests: `openssl ts -reply` answers each
query with the throwaway CA's time-stamping certificate, and every request is recorded, so a test
can see that a signer really asked it."""
import http.server
import os
import subprocess
import tempfile
import threading

CONFIG = """
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = {folder}/tsa-serial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
signer_key = {folder}/tsa.key
certs = {folder}/ca.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class TimeStampServer:
    """http://127.0.0.1:<port>/ while the `with` block runs; `requests` lists
    (content type, answered) for each POST."""

    def __init__(self, ca_folder):
        self.folder = ca_folder
        self.requests = []
        self.config = os.path.join(ca_folder, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write(CONFIG.format(folder=ca_folder))
        with open(os.path.join(ca_folder, "tsa-serial"), "w") as f:
            f.write("01\n")
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                reply = server.answer(query)
                server.requests.append((self.headers.get("Content-Type", ""), reply is not None))
                if reply is None:
                    self.send_error(400)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def answer(self, query):
        with tempfile.TemporaryDirectory() as work:
            tsq, tsr = os.path.join(work, "q.tsq"), os.path.join(work, "r.tsr")
            with open(tsq, "wb") as f:
                f.write(query)
            r = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                "-queryfile", tsq, "-out", tsr], capture_output=True)
            if r.returncode != 0:
                return None
            with open(tsr, "rb") as f:
                return f.read()

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
