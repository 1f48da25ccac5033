#!/usr/bin/env python3
"""A test HTTPS server that misbehaves on request, for what nginx will not do.

Listens on 127.0.0.1 only: one TLS port (certificate for localhost from the test CA) and one
plain HTTP port, both chosen by the system and written to --port-file as JSON. Every request is
logged as one JSON line (method, target, User-Agent, every header name) to --log before it is
answered, so a test can prove what reached the server and what never did.

Routes (the query is ignored for routing but logged):
  /status/<code>                     that status; 204 and 304 without a body
  /redirect/<code>[?to=/path]        that status with Location: https://localhost:<port>/path
                                     (default /redirect-target)
  /body/<n>[?flip=<i>]               200, n pattern bytes; byte i changed when flip is given
  /cut/<announced>/<sent>            Content-Length announced, sent bytes, then close
  /chunked/<n>                       a complete chunked body of n pattern bytes
  /chunked-cut/<n>                   chunked, n bytes, no last chunk, then close
  /overlong/<announced>/<sent>       Content-Length announced, sent (more) bytes
  /stall-headers                     reads the request and never answers
  /stall-body/<announced>/<sent>     headers and sent bytes, then silence
  /paced/<n>/<piece>/<delay_ms>      n bytes in pieces with a pause after each
  /drip/<n>/<interval_ms>            200 with Content-Length n at once, then one body byte per
                                     interval
  /drip-headers/<interval_ms>        the status line at once, then header lines one byte per
                                     interval, never ending them
  /refreshed/<age>/<max_age>/<key>/...  200 with a short body; the first request for each key
                                     is a cached copy past its lifetime (max-age=10, Age: 11),
                                     every later one carries Age <age> and max-age=<max_age>, as
                                     an edge answers once it has fetched the origin again
The pattern byte at offset i is ((i * 131) ^ (i >> 8)) & 0xFF, the same the tests compute.

A request signed for S3 (an AWS4-HMAC-SHA256 Authorization) goes to a small in-memory bucket
store, path-style /<bucket>/<key>, every bucket there from the start: HEAD, GET, PUT (with
If-None-Match: * and If-Match: *), PUT with x-amz-copy-source (COPY or REPLACE of the metadata;
any x-amz-copy-source-if-* header fails the signature, as on the Ceph gateway), DELETE and
GET /<bucket>?list-type=2. It keeps each object's bytes,
Content-Type, Cache-Control and x-amz-meta-*, and gives the MD5 as ETag as S3 does for one PUT.
The signature is not checked, nor the body against x-amz-content-sha256: it is the store that
believes what it is sent. Unsigned requests control it:
  PUT  /s3-seed/<bucket>/<key>[?parts=N]  stores the body with the request's Content-Type,
                                     Cache-Control and x-amz-meta-* as they are; with parts an
                                     ETag "<hex>-N" as a multipart upload gets
  PUT  /s3-rule/<bucket>/<key>?head=<code>  HEAD of the key answers that status from now on
  PUT  /s3-rule/<bucket>/<key>?swap=1  the first CopyObject of the key finds the body stored
                                     there in place of what was (another writer meanwhile)
  PUT  /s3-rule/<bucket>/<key>?write=<path>  the first HEAD of the key first overwrites the file
                                     at <path> in place with the body (a file changing under push)
  GET  /site/<bucket>/<key>          the object as a CDN in front of the bucket serves it: its
                                     bytes with its stored Content-Type and Cache-Control only,
                                     404 when there is none (a served tree for verify)
  GET  /s3-dump/<bucket>             JSON: "objects" {key: size, md5, sha256, headers} and
                                     "requests" [[method, key], ...] of the signed requests (COPY for a CopyObject)
"""
import argparse
import hashlib
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

STALL_LIMIT_S = 600  # a stalled connection is dropped after this, whatever the client does


def pattern(start, count):
    return bytes(((i * 131) ^ (i >> 8)) & 0xFF for i in range(start, start + count))


def pattern_body(n, flip=None):
    data = bytearray()
    step = 1 << 16
    for start in range(0, n, step):
        data += pattern(start, min(step, n - start))
    if flip is not None and 0 <= flip < n:
        data[flip] ^= 0xFF
    return bytes(data)


REASONS = {200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found",
           304: "Not Modified", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
           412: "Precondition Failed", 500: "Internal Server Error"}
KEPT_HEADERS = ("content-type", "cache-control")


def s3_error(code, message):
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code><Message>%s</Message>"
            "</Error>" % (code, message)).encode()


def stored_headers(headers):
    return {k: v for k, v in headers.items() if k in KEPT_HEADERS or k.startswith("x-amz-meta-")}


def make_object(body, headers, parts=0):
    md5 = hashlib.md5(body).hexdigest()
    etag = hashlib.md5(md5.encode()).hexdigest() + "-%d" % parts if parts else md5
    return {"body": body, "headers": stored_headers(headers), "etag": etag}


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.sock = self.request
        if self.server.tls_context is not None:
            self.sock.settimeout(10)
            self.sock = self.server.tls_context.wrap_socket(self.sock, server_side=True)
        self.sock.settimeout(30)

    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            data += chunk
            if len(data) > 65536:
                return None
        head, self.rest = data.split(b"\r\n\r\n", 1)
        head = head.decode("latin-1").split("\r\n")
        parts = head[0].split(" ")
        headers = {}
        for line in head[1:]:
            if ":" in line:
                name, value = line.split(":", 1)
                headers[name.strip().lower()] = value.strip()
        return (parts[0] if parts else "", parts[1] if len(parts) > 1 else "", headers)

    def read_body(self, headers):
        """The request's Content-Length bytes, or None when the client stopped short."""
        length = int(headers.get("content-length", "0"))
        if headers.get("expect", "").lower() == "100-continue":
            self.sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
        data = self.rest
        while len(data) < length:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                return None
            data += chunk
        return data[:length]

    def log(self, method, target, headers):
        entry = {"time": time.time(), "port": self.server.server_address[1], "method": method,
                 "target": target, "user_agent": headers.get("user-agent"),
                 "headers": sorted(headers)}
        with self.server.log_lock, open(self.server.log_path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def send_head(self, code, headers):
        lines = ["HTTP/1.1 %d %s" % (code, REASONS.get(code, "Status"))]
        lines += ["%s: %s" % kv for kv in headers] + ["Connection: close", "", ""]
        self.sock.sendall("\r\n".join(lines).encode("latin-1"))

    def wait_for_close(self):
        # Silence: hold the connection until the client gives up (or the limit passes).
        self.sock.settimeout(STALL_LIMIT_S)
        try:
            while self.sock.recv(4096):
                pass
        except (OSError, ssl.SSLError):
            pass

    def drip(self, data, interval):
        # Each byte well inside any receive time-out; only a bound on the whole transfer ends it.
        end = time.time() + STALL_LIMIT_S
        for i in range(len(data)):
            if time.time() > end:
                return
            self.sock.sendall(data[i:i + 1])
            time.sleep(interval)

    def handle(self):
        try:
            request = self.read_request()
        except (OSError, ssl.SSLError):
            return
        if request is None:
            return
        method, target, headers = request
        self.log(method, target, headers)
        url = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(url.query)
        parts = [p for p in url.path.split("/") if p]
        try:
            if headers.get("authorization", "").startswith("AWS4-HMAC-SHA256"):
                self.s3(method, parts, query, headers)
            elif parts and parts[0] == "site":
                self.site(parts)
            elif parts and parts[0] in ("s3-seed", "s3-rule", "s3-dump"):
                self.s3_control(method, parts, query, headers)
            else:
                self.route(parts, query)
        except (OSError, ssl.SSLError, ValueError, IndexError):
            pass

    def route(self, parts, query):
        kind = parts[0] if parts else ""
        num = [int(p) for p in parts[1:] if p.isdigit()]
        if kind == "status":
            code = num[0]
            body = b"" if code in (204, 304) else ("status %d\n" % code).encode()
            self.send_head(code, [("Content-Length", str(len(body)))] if code not in (204, 304) else [])
            self.sock.sendall(body)
        elif kind == "redirect":
            target = query.get("to", ["/redirect-target"])[0]
            location = "https://localhost:%d%s" % (self.server.tls_port, target)
            body = b"moved\n"
            self.send_head(num[0], [("Location", location), ("Content-Length", str(len(body)))])
            self.sock.sendall(body)
        elif kind == "body":
            flip = int(query["flip"][0]) if "flip" in query else None
            body = pattern_body(num[0], flip)
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(len(body)))])
            self.sock.sendall(body)
        elif kind == "cut" or kind == "overlong":
            announced, sent = num[0], num[1]
            self.send_head(200, [("Content-Length", str(announced))])
            self.sock.sendall(pattern_body(sent))
            time.sleep(0.2)
        elif kind == "chunked" or kind == "chunked-cut":
            self.send_head(200, [("Transfer-Encoding", "chunked")])
            body = pattern_body(num[0])
            for start in range(0, len(body), 1000):
                piece = body[start:start + 1000]
                self.sock.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            if kind == "chunked":
                self.sock.sendall(b"0\r\n\r\n")
            time.sleep(0.2)
        elif kind == "stall-headers":
            self.wait_for_close()
        elif kind == "stall-body":
            announced, sent = num[0], num[1]
            self.send_head(200, [("Content-Length", str(announced))])
            self.sock.sendall(pattern_body(sent))
            self.wait_for_close()
        elif kind == "paced":
            n, piece, delay = num[0], num[1], num[2] / 1000.0
            self.send_head(200, [("Content-Length", str(n))])
            body = pattern_body(n)
            for start in range(0, n, piece):
                self.sock.sendall(body[start:start + piece])
                time.sleep(delay)
        elif kind == "drip":
            n, interval = num[0], num[1] / 1000.0
            self.send_head(200, [("Content-Length", str(n))])
            self.drip(pattern_body(n), interval)
        elif kind == "refreshed":
            with self.server.log_lock:
                again = parts[3] in self.server.asked
                self.server.asked.add(parts[3])
            age, max_age = (num[0], num[1]) if again else (11, 10)
            body = b"a manifest that no key signed\n"
            self.send_head(200, [("Cache-Control", "max-age=%d" % max_age), ("Age", str(age)),
                                 ("Content-Length", str(len(body)))])
            self.sock.sendall(body)
        elif kind == "drip-headers":
            self.sock.sendall(b"HTTP/1.1 200 OK\r\n")
            line = b"X-Drip: a\r\n"
            self.drip(line * int(STALL_LIMIT_S * 1000 / max(num[0], 1) / len(line) + 1),
                      num[0] / 1000.0)
        else:
            body = b"not found\n"
            self.send_head(404, [("Content-Length", str(len(body)))])
            self.sock.sendall(body)

    def answer(self, code, headers=(), body=b"", head_only=False):
        self.send_head(code, list(headers) + [("Content-Length", str(len(body)))])
        if not head_only:
            self.sock.sendall(body)

    def object_headers(self, obj):
        return [("ETag", '"%s"' % obj["etag"])] + sorted(obj["headers"].items())

    def s3(self, method, parts, query, headers):
        server = self.server
        bucket, key = parts[0], "/".join(parts[1:])
        with server.log_lock:
            copy = method == "PUT" and "x-amz-copy-source" in headers
            server.s3_requests.setdefault(bucket, []).append(["COPY" if copy else method, key])
            objects = server.s3_objects.setdefault(bucket, {})
            rule = server.s3_rules.pop((bucket, key, "write"), None) if method == "HEAD" else None
            swap = server.s3_rules.pop((bucket, key, "swap"), None) if copy else None
            if swap is not None and key in objects:
                objects[key] = make_object(swap, objects[key]["headers"])
            head_status = server.s3_rules.get((bucket, key, "head"))
        if rule is not None:
            with open(rule[0], "r+b") as f:
                f.write(rule[1])
        if method == "GET" and not key:
            prefix = query.get("prefix", [""])[0]
            items = "".join("<Contents><Key>%s</Key><Size>%d</Size><ETag>&quot;%s&quot;</ETag>"
                            "</Contents>" % (k, len(o["body"]), o["etag"])
                            for k, o in sorted(objects.items()) if k.startswith(prefix))
            body = ("<ListBucketResult><Name>%s</Name><IsTruncated>false</IsTruncated>%s"
                    "</ListBucketResult>" % (bucket, items)).encode()
            return self.answer(200, [("Content-Type", "application/xml")], body)
        obj = objects.get(key)
        if method == "HEAD" and head_status:
            return self.answer(int(head_status), head_only=True)
        if method in ("HEAD", "GET"):
            if obj is None:
                return self.answer(404, body=s3_error("NoSuchKey", "no such key"),
                                   head_only=method == "HEAD")
            self.send_head(200, self.object_headers(obj) +
                           [("Content-Length", str(len(obj["body"])))])
            if method == "GET":
                self.sock.sendall(obj["body"])
            return None
        if method == "DELETE":
            objects.pop(key, None)
            return self.answer(204)
        if method != "PUT":
            return self.answer(400, body=s3_error("InvalidRequest", method))
        source = headers.get("x-amz-copy-source")
        if source is not None:
            src = objects.get(urllib.parse.unquote(source).lstrip("/").split("/", 1)[-1])
            replace = headers.get("x-amz-metadata-directive", "COPY") == "REPLACE"
            if src is None:
                return self.answer(404, body=s3_error("NoSuchKey", "no copy source"))
            if any(h.startswith("x-amz-copy-source-if-") for h in headers):
                # As the Ceph gateway answers them, whatever the signature.
                return self.answer(403, body=s3_error("SignatureDoesNotMatch", ""))
            if src is obj and not replace:
                return self.answer(400, body=s3_error("InvalidRequest", "copy onto itself"))
            copy = make_object(src["body"], headers if replace else src["headers"])
            objects[key] = copy
            return self.answer(200, body=("<CopyObjectResult><ETag>&quot;%s&quot;</ETag>"
                                          "</CopyObjectResult>" % copy["etag"]).encode())
        if (headers.get("if-none-match") == "*" and obj is not None) or \
                (headers.get("if-match") == "*" and obj is None):
            return self.answer(412, body=s3_error("PreconditionFailed", "condition"))
        body = self.read_body(headers)
        if body is None:
            return None  # a body cut short is never stored
        objects[key] = make_object(body, headers)
        return self.answer(200, [("ETag", '"%s"' % objects[key]["etag"])])

    def site(self, parts):
        with self.server.log_lock:
            obj = self.server.s3_objects.get(parts[1], {}).get("/".join(parts[2:]))
        if obj is None:
            return self.answer(404, body=b"not found\n")
        kept = [(name.title(), value) for name, value in sorted(obj["headers"].items())
                if name in KEPT_HEADERS]
        return self.answer(200, kept, obj["body"])

    def s3_control(self, method, parts, query, headers):
        server = self.server
        kind, bucket, key = parts[0], parts[1], "/".join(parts[2:])
        if kind == "s3-dump":
            with server.log_lock:
                objects = {k: {"size": len(o["body"]), "md5": hashlib.md5(o["body"]).hexdigest(),
                               "sha256": hashlib.sha256(o["body"]).hexdigest(), "etag": o["etag"],
                               "headers": o["headers"]}
                           for k, o in server.s3_objects.get(bucket, {}).items()}
                dump = {"objects": objects, "requests": server.s3_requests.get(bucket, [])}
            return self.answer(200, [("Content-Type", "application/json")],
                               json.dumps(dump).encode())
        body = self.read_body(headers)
        with server.log_lock:
            if kind == "s3-seed":
                parts_count = int(query.get("parts", ["0"])[0])
                server.s3_objects.setdefault(bucket, {})[key] = make_object(body, headers,
                                                                            parts_count)
            elif "head" in query:
                server.s3_rules[(bucket, key, "head")] = query["head"][0]
            elif "swap" in query:
                server.s3_rules[(bucket, key, "swap")] = body
            else:
                server.s3_rules[(bucket, key, "write")] = (query["write"][0], body)
        return self.answer(200)

    def finish(self):
        # The wrapped socket owns the connection now; close it here rather than whenever it is
        # collected, so the client sees the end of the body at once.
        try:
            self.sock.settimeout(1)
            if isinstance(self.sock, ssl.SSLSocket):
                self.sock = self.sock.unwrap()
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            self.sock.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    tls = Server(("127.0.0.1", 0), Handler)
    plain = Server(("127.0.0.1", 0), Handler)
    lock = threading.Lock()
    store = ({}, {}, {})  # one bucket store behind both ports
    for server, ctx in ((tls, context), (plain, None)):
        server.tls_context = ctx
        server.log_path = args.log
        server.log_lock = lock
        server.asked = set()
        server.s3_objects, server.s3_requests, server.s3_rules = store
        server.tls_port = tls.server_address[1]
    open(args.log, "a").close()
    threading.Thread(target=plain.serve_forever, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        json.dump({"tls_port": tls.server_address[1], "plain_port": plain.server_address[1]}, f)
    os.replace(args.port_file + ".tmp", args.port_file)
    tls.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
