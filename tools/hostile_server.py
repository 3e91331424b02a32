#!/usr/bin/env python3
"""A scripted file server that misbehaves in one chosen way, so that
clipharbor-cli, curl and wget can be run against the same answers
(tools/hostile_peers.sh drives it).

    hostile_server.py CASE --dir DIR [--cert PEM --key PEM] [--limit SECONDS]

It listens on 127.0.0.1 (a free port), prints the port as its first line on
standard output and serves /clip.bin (any path gets the same answers) until
--limit seconds have passed or it is signalled. In DIR it writes truth.bin
(the file a sound download ends with), first.bin (the version the first
answer began), secret.txt (for the file: relocation) and requests.log (one
line per request: seconds since the start, method, target, Range, If-Range).
With --cert and --key every connection is TLS.

Cases (the first request is answer 1; "half" is 150000 of 300000 bytes):
  short-range        1: 200 with its length, half, reset. The first range
                     request: 206 "bytes 150000-150999/300000", 1000 bytes.
  short-length       as short-range, but Content-Range to the end of the file
                     and a Content-Length of 1000
  short-close        as short-length without a Content-Length: 1000 bytes,
                     then a close
  short-always       as short-range, but every range request gets its 1000
                     bytes only
  other-etag         1: ETag "v1", half, reset. Then another file of the same
                     size, ETag "v2": ranges are served from it, If-Range is
                     ignored
  other-total        1: no validators, half, reset. Then a 400000-byte file
  continue-ifrange   as other-etag, but If-Range is honoured (a mismatch gets
                     the whole new file as a 200)
  continue-noifrange as other-etag (If-Range ignored)
  tls-cut            (TLS) 1: 200 without a length, half, then the TCP
                     connection closed without close_notify. Then correct
                     answers with lengths and ranges
  tls-notify-open    (TLS) every answer: 200 without a length, the whole file,
                     close_notify, and the TCP connection kept open for 20 s
  endless-line       a header line that never ends (about 2 MiB/s for 10 s)
  endless-block      header lines without end, at the same rate
  relocation-loop    302 to the same address, every time
  relocation-ftp     302 to ftp://127.0.0.1:PORT/clip.bin (a closed port)
  relocation-file    302 to file://DIR/secret.txt
  port               correct answers (any request that arrives is a fault)
  port-location      302 to /wrapped.bin on this server's port plus 65536;
                     /wrapped.bin itself (reached only through a port that
                     wrapped) gets correct answers
  reason-429         1: 429 whose reason phrase carries escape sequences,
                     Retry-After: 1. Then correct answers
  reason-503         as reason-429 with 503
  retry-after-date   1: 503 with Retry-After as an HTTP date 5 s ahead. Then
                     correct answers
  plain              correct answers
"""
import argparse
import email.utils
import os
import random
import re
import signal
import socket
import ssl
import sys
import threading
import time

SIZE = 300000
HALF = 150000
HOSTILE_REASON = "Slow \x1b[8mHIDDEN\x1b[0m \x1b]0;owned\x07 down"

CASES = (
    "short-range", "short-length", "short-close", "short-always", "other-etag", "other-total", "continue-ifrange",
    "continue-noifrange", "tls-cut", "tls-notify-open", "endless-line", "endless-block", "relocation-loop",
    "relocation-ftp", "relocation-file", "port", "port-location", "reason-429", "reason-503", "retry-after-date", "plain",
)


def file_bytes(seed, size):
    return random.Random(seed).randbytes(size)


V1 = file_bytes(1, SIZE)
V2 = file_bytes(2, SIZE)
V2_LARGER = file_bytes(2, 400000)
DATE_V1 = "Mon, 07 Dec 2026 10:00:00 GMT"
DATE_V2 = "Tue, 08 Dec 2026 10:00:00 GMT"


class Version:
    def __init__(self, data, etag=None, modified=None):
        self.data, self.etag, self.modified = data, etag, modified

    def validators(self):
        out = []
        if self.etag:
            out.append(("ETag", self.etag))
        if self.modified:
            out.append(("Last-Modified", self.modified))
        return out


FIRST = Version(V1, '"v1"', DATE_V1)


class Request:
    def __init__(self, method, target, headers):
        self.method, self.target, self.headers = method, target, headers

    def range_start(self):
        """The N of "bytes=N-" or "bytes=N-M"; None without a usable Range."""
        m = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("range", "").strip())
        return int(m.group(1)) if m else None


class Conn:
    """One accepted connection (TLS or not) and the ways to end it."""

    def __init__(self, sock):
        self.sock = sock

    def send(self, data):
        self.sock.sendall(data)

    def answer(self, status, headers, body=b""):
        head = "HTTP/1.1 %s\r\n" % status
        head += "".join("%s: %s\r\n" % (k, v) for k, v in headers)
        self.send(head.encode("latin-1") + b"\r\n" + body)

    def reset(self):
        # Let the bytes already sent reach the client, then RST.
        time.sleep(0.3)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.sock.close()

    def close_without_notify(self):
        # The TCP shutdown under the TLS layer: a FIN and no close_notify.
        time.sleep(0.3)
        socket.socket.shutdown(self.sock, socket.SHUT_RDWR)
        self.sock.close()

    def raw_recv(self):
        return socket.socket.recv(self.sock, 4096)

    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            if len(data) > 65536:
                return None
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            data += chunk
        lines = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) < 2:
            return None
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        return Request(parts[0], parts[1], headers)


def serve_version(c, req, v, honour_if_range=True):
    """A sound answer from version v: the range asked for, or the whole file."""
    start = req.range_start()
    if start is not None and honour_if_range and "if-range" in req.headers:
        if req.headers["if-range"] not in (v.etag, v.modified):
            start = None
    total = len(v.data)
    common = [("Accept-Ranges", "bytes")] + v.validators() + [("Connection", "close")]
    if start is None:
        c.answer("200 OK", [("Content-Length", total)] + common, v.data)
    elif start >= total:
        c.answer("416 Range Not Satisfiable", [("Content-Range", "bytes */%d" % total), ("Content-Length", 0)] + common)
    else:
        c.answer("206 Partial Content",
                 [("Content-Range", "bytes %d-%d/%d" % (start, total - 1, total)),
                  ("Content-Length", total - start)] + common, v.data[start:])


class Server:
    def __init__(self, case, folder, tls):
        self.case, self.folder, self.tls = case, folder, tls
        self.count = 0
        self.short_sent = False
        self.lock = threading.Lock()
        self.started = time.monotonic()
        self.closed_port = socket.socket()  # bound, never listening: refused
        self.closed_port.bind(("127.0.0.1", 0))
        self.secret = os.path.join(folder, "secret.txt")
        self.port = 0

    def log(self, req):
        with open(os.path.join(self.folder, "requests.log"), "a") as f:
            f.write("%.2f %s %s range=%s if-range=%s\n" % (
                time.monotonic() - self.started, req.method, req.target, req.headers.get("range", "-"),
                req.headers.get("if-range", "-")))

    def truth(self):
        if self.case in ("other-etag", "continue-ifrange", "continue-noifrange"):
            return V2
        if self.case == "other-total":
            return V2_LARGER
        return V1

    def handle(self, c):
        req = c.read_request()
        if req is None:
            return
        with self.lock:
            self.count += 1
            n = self.count
            self.log(req)
        getattr(self, "case_" + self.case.replace("-", "_"))(c, req, n)

    def first_half_then_reset(self, c, v):
        c.answer("200 OK", [("Content-Length", len(v.data)), ("Accept-Ranges", "bytes")] + v.validators(),
                 v.data[:HALF])
        c.reset()

    def short_answer(self, c, req, n, form):
        if n == 1:
            return self.first_half_then_reset(c, FIRST)
        start = req.range_start()
        if start is None or (self.short_sent and form != "always"):
            return serve_version(c, req, FIRST)
        self.short_sent = True
        end = min(start + 1000, SIZE)
        last = end - 1 if form in ("range", "always") else SIZE - 1
        headers = [("Content-Range", "bytes %d-%d/%d" % (start, last, SIZE))] + FIRST.validators()
        if form != "close":
            headers.append(("Content-Length", end - start))
        c.answer("206 Partial Content", headers + [("Connection", "close")], V1[start:end])

    def case_short_range(self, c, req, n):
        self.short_answer(c, req, n, "range")

    def case_short_length(self, c, req, n):
        self.short_answer(c, req, n, "length")

    def case_short_close(self, c, req, n):
        self.short_answer(c, req, n, "close")

    def case_short_always(self, c, req, n):
        self.short_answer(c, req, n, "always")

    def case_other_etag(self, c, req, n):
        if n == 1:
            return self.first_half_then_reset(c, FIRST)
        serve_version(c, req, Version(V2, '"v2"', DATE_V2), honour_if_range=False)

    def case_other_total(self, c, req, n):
        if n == 1:
            return self.first_half_then_reset(c, Version(V1))
        serve_version(c, req, Version(V2_LARGER), honour_if_range=False)

    def case_continue_ifrange(self, c, req, n):
        if n == 1:
            return self.first_half_then_reset(c, FIRST)
        serve_version(c, req, Version(V2, '"v2"', DATE_V2), honour_if_range=True)

    def case_continue_noifrange(self, c, req, n):
        self.case_other_etag(c, req, n)

    def case_tls_cut(self, c, req, n):
        if n > 1:
            return serve_version(c, req, FIRST)
        c.answer("200 OK", [("Connection", "close")], V1[:HALF])
        c.close_without_notify()

    def case_tls_notify_open(self, c, req, n):
        c.answer("200 OK", [("Connection", "close")], V1)
        c.sock.settimeout(20)
        try:
            c.sock.unwrap()  # sends close_notify; waits for the client's at most 20 s
        except (OSError, ssl.SSLError, ValueError):
            pass
        deadline = time.monotonic() + 20
        c.sock.settimeout(1)
        while time.monotonic() < deadline:
            try:
                if not c.raw_recv():
                    break
            except socket.timeout:
                continue
            except OSError:
                break

    def endless(self, c, piece):
        c.send(b"HTTP/1.1 200 OK\r\n")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                c.send(piece)
            except OSError:
                return
            time.sleep(0.03)

    def case_endless_line(self, c, req, n):
        c.send(b"HTTP/1.1 200 OK\r\nX-Filler: ")
        self.endless(c, b"a" * 65536)

    def case_endless_block(self, c, req, n):
        self.endless(c, b"".join(b"X-Filler-%d: %s\r\n" % (i, b"a" * 90) for i in range(640)))

    def relocate(self, c, location):
        c.answer("302 Found", [("Location", location), ("Content-Length", 0), ("Connection", "close")])

    def case_relocation_loop(self, c, req, n):
        self.relocate(c, req.target)

    def case_relocation_ftp(self, c, req, n):
        self.relocate(c, "ftp://127.0.0.1:%d/clip.bin" % self.closed_port.getsockname()[1])

    def case_relocation_file(self, c, req, n):
        self.relocate(c, "file://" + self.secret)

    def case_port(self, c, req, n):
        serve_version(c, req, FIRST)

    def case_port_location(self, c, req, n):
        if not req.target.endswith("/wrapped.bin"):
            return self.relocate(c, "http://127.0.0.1:%d/wrapped.bin" % (self.port + 65536))
        serve_version(c, req, FIRST)

    def busy(self, c, status, retry_after):
        body = b"busy\n"
        c.answer(status, [("Retry-After", retry_after), ("Content-Length", len(body)), ("Connection", "close")],
                 body)

    def case_reason_429(self, c, req, n):
        if n == 1:
            return self.busy(c, "429 " + HOSTILE_REASON, "1")
        serve_version(c, req, FIRST)

    def case_reason_503(self, c, req, n):
        if n == 1:
            return self.busy(c, "503 " + HOSTILE_REASON, "1")
        serve_version(c, req, FIRST)

    def case_retry_after_date(self, c, req, n):
        if n == 1:
            return self.busy(c, "503 Service Unavailable", email.utils.formatdate(time.time() + 5, usegmt=True))
        serve_version(c, req, FIRST)

    def case_plain(self, c, req, n):
        serve_version(c, req, FIRST)


def run_connection(server, context, raw):
    sock = raw
    try:
        raw.settimeout(30)
        if context:
            sock = context.wrap_socket(raw, server_side=True)  # raw is detached into it
        server.handle(Conn(sock))
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            sock.close()
        except OSError:
            pass


def main():
    p = argparse.ArgumentParser(description="a file server that misbehaves in one chosen way")
    p.add_argument("case", choices=CASES)
    p.add_argument("--dir", required=True)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--limit", type=float, default=180)
    a = p.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server = Server(a.case, a.dir, bool(a.cert))
    for name, data in (("truth.bin", server.truth()), ("first.bin", V1)):
        with open(os.path.join(a.dir, name), "wb") as f:
            f.write(data)
    with open(server.secret, "w") as f:
        f.write("SECRET of the user\n")
    context = None
    if a.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(a.cert, a.key)

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.settimeout(0.5)
    server.port = listener.getsockname()[1]
    print(server.port, flush=True)
    end = time.monotonic() + a.limit
    while time.monotonic() < end:
        try:
            raw, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=run_connection, args=(server, context, raw), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
