#!/usr/bin/env python3
"""Stand-in for the video service: watch pages, the age gate and login, the
birth-date confirmation, get_video and a cache host that serves an FLV.

It listens on 127.0.0.1 (a free port unless --port is given) and prints the
port as its first line on standard output, then "cache PORT" for the cache
host, then runs until killed (SIGTERM/SIGINT end it quietly).

Addresses:
  /watch?v=ID                 watch page (title and token markers), or the
                              age gate / birth-date page / "not available"
                              page as the switches say
  /login?next=/watch?v=ID&username=U&password=P&action_login=Log+In
                              right credentials: a session cookie and a 303
                              to the watch page; wrong ones: the age gate
                              again with "Your login was incorrect."
  /verify_age?next_url=/watch?v=ID&action_confirm=Confirm+Birth+Date
                              an age cookie and a 303 to the watch page
  /get_video?video_id=ID&t=TOKEN
                              redirects (see --redirects) to the cache host,
                              which serves the FLV byte for byte ("Range:
                              bytes=N-" or "bytes=A-B" as a 206, with an
                              ETag for If-Range), or to --file-url; a
                              wrong token gives 404
  /get_video.flv              on the cache host: the FLV, a direct address
  /__requests                 the requests seen so far, as JSON (method,
                              path, host, cookie, agent), for tests
  /__flv                      the FLV itself, for comparing downloads
  /__sent                     body bytes of the FLV sent so far, as JSON
"""
import argparse
import hashlib
import html
import json
import os
import secrets
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

AGE_GATE_TEXT = (
    "This video may contain content that is inappropriate for some users, "
    "as flagged by YouTube's user community. To view this video, please "
    "verify you are 18 or older by logging in or signing up.")
NOT_AVAILABLE_TEXT = "This functionality is not available right now."


def parse_args(argv):
    p = argparse.ArgumentParser(
        description="Stand-in video service for Clipharbor's tests and demo.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog=__doc__)
    p.add_argument("--port", type=int, default=0,
                   help="port of the service (default: a free one)")
    p.add_argument("--cache-port", type=int, default=0,
                   help="port of the cache host (default: a free one)")
    p.add_argument("--cache-host", default="127.0.0.1",
                   help="host name put into the redirect to the cache host "
                        "(default 127.0.0.1; it must resolve to loopback)")
    p.add_argument("--title", default="Sample Clip",
                   help="video title (default 'Sample Clip'); HTML-escaped "
                        "in the page")
    p.add_argument("--double-escaped-ampersand", action="store_true",
                   help="write each '&' of the title as '&amp;amp;'")
    p.add_argument("--no-title-quote", action="store_true",
                   help="the title marker has no closing quote (it is put "
                        "last in the page, with no quote after it)")
    p.add_argument("--age-gate", action="store_true",
                   help="watch pages show the age gate until a login with "
                        "--user/--password succeeds (cookie LOGIN_INFO)")
    p.add_argument("--user", default="user", help="account name (default 'user')")
    p.add_argument("--password", default="secret",
                   help="account password (default 'secret')")
    p.add_argument("--birth-date", action="store_true",
                   help="watch pages ask to confirm the birth date until "
                        "verify_age was called (cookie is_adult); with "
                        "--age-gate this comes after the login")
    p.add_argument("--not-available", action="store_true",
                   help="watch pages say 'This functionality is not "
                        "available right now.'")
    p.add_argument("--no-token", action="store_true",
                   help="watch pages carry no token marker")
    p.add_argument("--watch-status", type=int, default=0,
                   help="answer watch pages with this error status (and "
                        "an error page) instead")
    p.add_argument("--watch-empty", action="store_true",
                   help="with --watch-status: the error answer has no body")
    p.add_argument("--page-delay", type=float, default=0.0,
                   help="seconds to wait before answering a watch page")
    p.add_argument("--redirects", type=int, default=1,
                   help="redirects from get_video to the file: 0 serves it "
                        "from get_video itself, 1 (default) sends to the "
                        "cache host, more add hops on the service first")
    p.add_argument("--file-url", default=None,
                   help="the last redirect goes to this address, with ?id=ID "
                        "appended, instead of the cache host (e.g. a web "
                        "server holding a large file, for benchmarks)")
    p.add_argument("--redirect-status", type=int, default=303,
                   help="status of the get_video redirects (default 303)")
    p.add_argument("--cache-redirect-port", type=int, default=0,
                   help="name this port in the redirect to the cache host "
                        "instead of the own cache host's (a test server "
                        "listening there answers in its place)")
    p.add_argument("--cache-scheme", choices=["http", "https"], default="http",
                   help="scheme of the redirect to the cache host (https: "
                        "a TLS server at --cache-redirect-port serves it)")
    p.add_argument("--get-video-status", type=int, default=0,
                   help="answer get_video with this error status instead")
    p.add_argument("--get-video-reason", default=None,
                   help="reason phrase sent with --get-video-status, as given "
                        "(control characters included)")
    p.add_argument("--cut-after", type=int, default=-1,
                   help="end the FLV's body after this many bytes (its full "
                        "length still announced unless --content-length none)")
    p.add_argument("--reset", action="store_true",
                   help="with --cut-after: end with a connection reset instead "
                        "of an orderly close")
    p.add_argument("--content-length", choices=["normal", "lower", "none"],
                   default="normal",
                   help="how the FLV's length is sent: 'Content-Length', "
                        "'content-length', or not at all (default normal)")
    p.add_argument("--rate", type=int, default=0,
                   help="send the FLV at about this many bytes per second "
                        "(default: as fast as possible)")
    p.add_argument("--reset-half-way", type=int, default=0, metavar="N",
                   help="the first N FLV answers send half the file, then "
                        "reset the connection")
    p.add_argument("--busy", type=int, default=0, metavar="N",
                   help="the first N FLV requests are answered 503 with "
                        "'Retry-After: 1'")
    p.add_argument("--stall", type=int, default=0, metavar="N",
                   help="the first N FLV answers send half the file, then "
                        "send nothing more for a minute")
    p.add_argument("--ignore-range", action="store_true",
                   help="answer every FLV request with the whole file (200), "
                        "whatever range it asks for; without it a 'Range: "
                        "bytes=N-' gets 206 with its Content-Range, or 416")
    p.add_argument("--max-connections", type=int, default=0, metavar="N",
                   help="serve at most N FLV answers to one client address at "
                        "once; more get 503 with Retry-After: 1")
    p.add_argument("--pace", type=int, default=0, metavar="RATE",
                   help="send each FLV answer at RATE bytes per second (a "
                        "per-connection pace, as --rate)")
    p.add_argument("--disposition",
                   help="send 'Content-Disposition: attachment; "
                        "filename=\"NAME\"' with the FLV")
    p.add_argument("--duration", type=float, default=3.0,
                   help="seconds of test pattern and tone in the FLV (default 3)")
    p.add_argument("--flv", help="serve this file instead of a generated one")
    p.add_argument("--cache-dir",
                   default=os.path.join(tempfile.gettempdir(), "clipharbor-video-service"),
                   help="where the generated FLV is kept (made if missing)")
    p.add_argument("--verbose", action="store_true", help="log requests to stderr")
    return p.parse_args(argv)


def make_flv(args):
    """The FLV to serve: --flv, or one made by ffmpeg once per duration."""
    if args.flv:
        with open(args.flv, "rb") as f:
            return f.read()
    os.makedirs(args.cache_dir, exist_ok=True)
    name = "sample-%gs.flv" % args.duration
    path = os.path.join(args.cache_dir, name)
    if not os.path.exists(path):
        ffmpeg = shutil.which("ffmpeg")
        if not ffmpeg:
            sys.exit("video_service: ffmpeg is needed to make the sample FLV")
        fd, tmp = tempfile.mkstemp(suffix=".flv", dir=args.cache_dir)
        os.close(fd)
        cmd = [ffmpeg, "-v", "error", "-nostdin", "-y",
               "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25",
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050",
               "-t", "%g" % args.duration,
               "-c:v", "flv1", "-b:v", "300k", "-c:a", "libmp3lame", "-b:a", "64k",
               "-ar", "22050", "-f", "flv", tmp]
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            os.unlink(tmp)
            sys.exit("video_service: ffmpeg could not make the sample FLV")
        os.replace(tmp, path)  # atomic: parallel services share the cache
    with open(path, "rb") as f:
        return f.read()


def token_for(video_id):
    digest = hashlib.sha1(video_id.encode("utf-8", "surrogateescape")).hexdigest()
    return "OEgsToPDskK" + digest[:24]


class State:
    def __init__(self, args, flv):
        self.args = args
        self.flv = flv
        self.lock = threading.Lock()
        self.logged_in = set()
        self.adult = set()
        self.requests = []
        self.flv_answers = 0  # FLV requests seen, for the first-N switches
        self.open_by_client = {}  # FLV answers running per client address
        self.sent = 0  # FLV body bytes sent
        self.etag = '"%s"' % hashlib.sha1(flv).hexdigest()[:16]
        self.service_port = 0
        self.cache_port = 0


def cookies_of(header):
    jar = {}
    for part in (header or "").split(";"):
        if "=" in part:
            k, v = part.split("=", 1)
            jar[k.strip()] = v.strip()
    return jar


def title_in_page(title, double_escaped):
    escaped = html.escape(title, quote=True)
    if double_escaped:
        escaped = escaped.replace("&amp;", "&amp;amp;")
    return escaped


class Handler(BaseHTTPRequestHandler):
    server_version = "StandInVideo/1.0"
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *a):
        if self.server.state.args.verbose:
            sys.stderr.write("video_service: " + (fmt % a) + "\n")

    # ---- helpers
    def record(self):
        st = self.server.state
        with st.lock:
            st.requests.append({
                "method": self.command,
                "path": self.path,
                "host": self.headers.get("Host", ""),
                "cookie": self.headers.get("Cookie", ""),
                "agent": self.headers.get("User-Agent", ""),
                "server": self.server.role,
                "range": self.headers.get("Range", ""),
            })

    def send_body(self, status, body, ctype="text/html; charset=utf-8", extra=()):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_error_page(self, status, reason):
        body = b"<html><body>Error</body></html>"
        if reason is None:
            self.send_response(status)
        else:
            # Written raw: send_response would not pass control characters.
            self.log_request(status)
            self.wfile.write(b"HTTP/1.0 %d " % status +
                             reason.encode("utf-8", "surrogateescape") + b"\r\n")
            self.send_header("Server", self.version_string())
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location, status=303, extra=()):
        self.send_response(status)
        self.send_header("Location", location)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", "0")
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()

    def service_base(self):
        return "http://%s" % (self.headers.get("Host") or
                              "127.0.0.1:%d" % self.server.state.service_port)

    def session(self):
        return cookies_of(self.headers.get("Cookie"))

    # ---- pages
    def watch_page(self, video_id, notice=""):
        a = self.server.state.args
        title = title_in_page(a.title, a.double_escaped_ampersand)
        head = ["<html><head>",
                "<title>YouTube - %s</title>" % title]
        if not a.no_title_quote:
            head.append('<meta name="title" content="%s">' % title)
        head.append('<meta name="description" content="A sample clip">')
        head.append("</head><body>")
        body = []
        if notice:
            body.append("<div class=\"notice\">%s</div>" % notice)
        body.append('<div id="watch-player">%s</div>' % title)
        args = {"video_id": video_id, "l": int(a.duration), "sk": "standin", "hl": "en"}
        pairs = ['"%s": %s' % (k, json.dumps(v)) for k, v in args.items()]
        if not a.no_token:
            pairs.insert(2, '"t": "%s"' % token_for(video_id))
        body.append('<script type="text/javascript">\nvar swfArgs = {%s};\n</script>'
                    % ", ".join(pairs))
        tail = []
        if a.no_title_quote:
            tail.append('<meta name="title" content="%s' % title)
        tail.append("</body></html>\n")
        return "\n".join(head + body + tail)

    def age_gate_page(self, notice=""):
        a = self.server.state.args
        title = title_in_page(a.title, a.double_escaped_ampersand)
        return "\n".join([
            "<html><head><title>YouTube - Broadcast Yourself.</title>",
            '<meta name="title" content="%s">' % title,
            "</head><body>",
            "<div class=\"notice\">%s</div>" % notice if notice else "",
            "<div id=\"verify\">%s</div>" % html.escape(AGE_GATE_TEXT, quote=False),
            "<form action=\"/login\">Username <input name=\"username\"> "
            "Password <input name=\"password\" type=\"password\"> "
            "<input type=\"submit\" name=\"action_login\" value=\"Log In\"></form>",
            "</body></html>\n"])

    def birth_date_page(self):
        return "\n".join([
            "<html><head><title>YouTube - Confirm Birth Date</title></head><body>",
            "<h1>Confirm Birth Date</h1>",
            "<form action=\"/verify_age\">Birth date <input name=\"birthday\"> "
            "<input type=\"submit\" name=\"action_confirm\" value=\"Confirm Birth Date\">"
            "</form>",
            "</body></html>\n"])

    # ---- dispatch
    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if self.server.role == "cache":
            return self.serve_cache(url)
        route = {
            "/watch": self.serve_watch,
            "/login": self.serve_login,
            "/verify_age": self.serve_verify_age,
            "/get_video": self.serve_get_video,
            "/hop": self.serve_hop,
            "/__requests": self.serve_requests,
            "/__flv": self.serve_raw_flv,
            "/__sent": self.serve_sent,
        }.get(url.path)
        if route is None:
            return self.send_body(404, "<html><body>Not Found</body></html>")
        route(url, query)

    def serve_watch(self, url, query):
        st = self.server.state
        a = st.args
        if a.page_delay > 0:
            time.sleep(a.page_delay)
        if a.watch_status:
            if a.watch_empty:
                return self.send_body(a.watch_status, b"")
            return self.send_error_page(a.watch_status, None)
        video_id = query.get("v", [""])[0]
        jar = self.session()
        extra = []
        if "VISITOR_INFO1_LIVE" not in jar:
            extra.append(("Set-Cookie", "VISITOR_INFO1_LIVE=%s; path=/" % secrets.token_hex(6)))
        with st.lock:
            logged_in = jar.get("LOGIN_INFO") in st.logged_in
            adult = jar.get("is_adult") in st.adult
        if a.not_available:
            page = "<html><body><p>%s</p></body></html>\n" % NOT_AVAILABLE_TEXT
        elif a.age_gate and not logged_in:
            page = self.age_gate_page()
        elif a.birth_date and not adult:
            page = self.birth_date_page()
        else:
            page = self.watch_page(video_id)
        self.send_body(200, page, extra=extra)

    def serve_login(self, url, query):
        st = self.server.state
        pairs = urllib.parse.parse_qsl(url.query, keep_blank_values=True)
        user = password = None
        next_parts = []
        for k, v in pairs:
            if k == "username":
                user = v
            elif k == "password":
                password = v
            elif k == "action_login":
                pass
            elif k == "next":
                next_parts.insert(0, v)
            else:
                next_parts.append("%s=%s" % (k, v))
        target = "&".join(next_parts) or "/"
        if user == st.args.user and password == st.args.password:
            sid = secrets.token_hex(8)
            with st.lock:
                st.logged_in.add(sid)
            return self.redirect(self.service_base() + target,
                                 extra=[("Set-Cookie", "LOGIN_INFO=%s; path=/" % sid)])
        self.send_body(200, self.age_gate_page("Your login was incorrect."))

    def serve_verify_age(self, url, query):
        st = self.server.state
        pairs = urllib.parse.parse_qsl(url.query, keep_blank_values=True)
        next_parts = []
        for k, v in pairs:
            if k == "next_url":
                next_parts.insert(0, v)
            elif k not in ("action_confirm", "birthday"):
                next_parts.append("%s=%s" % (k, v))
        sid = secrets.token_hex(8)
        with st.lock:
            st.adult.add(sid)
        self.redirect(self.service_base() + ("&".join(next_parts) or "/"),
                      extra=[("Set-Cookie", "is_adult=%s; path=/" % sid)])

    def serve_get_video(self, url, query):
        a = self.server.state.args
        video_id = query.get("video_id", [""])[0]
        token = query.get("t", [""])[0]
        if a.get_video_status:
            return self.send_error_page(a.get_video_status, a.get_video_reason)
        if not video_id or token != token_for(video_id):
            return self.send_body(404, "<html><body>Not Found</body></html>")
        if a.redirects <= 0:
            return self.serve_flv()
        self.next_hop(video_id, a.redirects - 1)

    def serve_hop(self, url, query):
        video_id = query.get("id", [""])[0]
        left = int(query.get("left", ["0"])[0] or 0)
        self.next_hop(video_id, left)

    def next_hop(self, video_id, left):
        st = self.server.state
        vid = urllib.parse.quote(video_id, safe="")
        if left > 0:
            target = "%s/hop?id=%s&left=%d" % (self.service_base(), vid, left - 1)
        elif st.args.file_url:
            target = "%s?id=%s" % (st.args.file_url, vid)
        else:
            port = st.args.cache_redirect_port or st.cache_port
            target = "%s://%s:%d/get_video.flv?id=%s" % (st.args.cache_scheme, st.args.cache_host, port, vid)
        self.redirect(target, status=st.args.redirect_status)

    def serve_requests(self, url, query):
        st = self.server.state
        with st.lock:
            data = json.dumps(st.requests)
        self.send_body(200, data, ctype="application/json")

    def serve_sent(self, url, query):
        st = self.server.state
        with st.lock:
            data = json.dumps({"sent": st.sent})
        self.send_body(200, data, ctype="application/json")

    def serve_raw_flv(self, url, query):
        self.send_body(200, self.server.state.flv, ctype="video/x-flv")

    def serve_cache(self, url):
        if url.path != "/get_video.flv":
            return self.send_body(404, "<html><body>Not Found</body></html>")
        self.serve_flv()

    def asked_range(self, size):
        """(first, last) of a 'Range: bytes=N-' or 'bytes=A-B' request whose
        If-Range, if any, names this file; None without one."""
        value = (self.headers.get("Range") or "").strip().lower()
        if not value.startswith("bytes=") or "," in value or "-" not in value:
            return None
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range.strip() != self.server.state.etag:
            return None
        first, _, last = value[6:].partition("-")
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        return int(first), min(int(last), size - 1) if last else size - 1

    def serve_flv(self):
        st = self.server.state
        client = self.client_address[0]
        with st.lock:
            running = st.open_by_client.get(client, 0)
            st.open_by_client[client] = running + 1
        try:
            if st.args.max_connections and running >= st.args.max_connections:
                return self.send_body(503, "<html><body>Too many connections</body></html>",
                                      extra=[("Retry-After", "1")])
            return self.serve_flv_answer()
        finally:
            with st.lock:
                st.open_by_client[client] -= 1

    def serve_flv_answer(self):
        st = self.server.state
        a = st.args
        data = st.flv
        with st.lock:
            st.flv_answers += 1
            number = st.flv_answers
        if number <= a.busy:
            return self.send_body(503, "<html><body>Busy</body></html>", extra=[("Retry-After", "1")])
        asked = None if a.ignore_range else self.asked_range(len(data))
        if asked is not None and asked[0] >= len(data):
            return self.send_body(416, "<html><body>Range Not Satisfiable</body></html>",
                                  extra=[("Content-Range", "bytes */%d" % len(data))])
        if asked is not None and asked[0] > asked[1]:
            asked = None
        if asked is not None:
            start, last = asked
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, last, len(data)))
        else:
            start, last = 0, len(data) - 1
            self.send_response(200)
        self.send_header("Content-Type", "video/x-flv")
        self.send_header("Accept-Ranges", "none" if a.ignore_range else "bytes")
        self.send_header("ETag", st.etag)
        if a.disposition:
            self.send_header("Content-Disposition", 'attachment; filename="%s"' % a.disposition)
        body = memoryview(data)[start:last + 1]
        if a.content_length == "normal":
            self.send_header("Content-Length", str(len(body)))
        elif a.content_length == "lower":
            self.send_header("content-length", str(len(body)))
        self.end_headers()
        if self.command == "HEAD":
            return
        if a.cut_after >= 0:
            body = body[:max(0, a.cut_after - start)]
        rate = a.pace or a.rate
        try:
            if number <= a.reset_half_way or number <= a.stall:
                self.send_counted(body[:max(0, len(data) // 2 - start)])
                self.wfile.flush()
                if number <= a.reset_half_way:
                    time.sleep(1.0)  # let the client read what was sent
                    return self.end_connection(True)
                time.sleep(60)
                return
            if rate <= 0:
                for off in range(0, len(body), 1 << 20):
                    self.send_counted(body[off:off + (1 << 20)])
                return
            # Paced against the answer's own clock, so that sleeping late
            # does not slow it below the rate.
            step = max(512, rate // 20)
            began = time.monotonic()
            for off in range(0, len(body), step):
                self.send_counted(body[off:off + step])
                self.wfile.flush()
                if off + step >= len(body):
                    break  # the answer ends with its last byte, not a pause later
                ahead = began + (off + step) / rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
        except (BrokenPipeError, ConnectionResetError):
            return  # the client stopped the transfer
        finally:
            if a.cut_after >= 0:
                self.end_connection(a.reset)

    def send_counted(self, piece):
        self.wfile.write(piece)
        with self.server.state.lock:
            self.server.state.sent += len(piece)

    def end_connection(self, reset):
        """Ends the connection now: an orderly close, or a reset (RST)."""
        self.wfile.flush()
        if reset:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
        else:
            self.connection.shutdown(socket.SHUT_RDWR)
        self.connection.close()
        self.close_connection = True


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # Python's listen backlog of 5 drops the SYNs of a client that opens
    # several connections at once while the accepting thread waits for the
    # interpreter; they come again a second later. Real servers queue more.
    request_queue_size = 128

    def __init__(self, addr, role, state):
        super().__init__(addr, Handler)
        self.role = role
        self.state = state

    def handle_error(self, request, client_address):
        if self.state.args.verbose:
            super().handle_error(request, client_address)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    flv = make_flv(args)
    state = State(args, flv)
    service = Server(("127.0.0.1", args.port), "service", state)
    cache = Server(("127.0.0.1", args.cache_port), "cache", state)
    state.service_port = service.server_address[1]
    state.cache_port = cache.server_address[1]

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threading.Thread(target=cache.serve_forever, daemon=True).start()
    print(state.service_port, flush=True)
    print("cache %d" % state.cache_port, flush=True)
    try:
        service.serve_forever()
    except SystemExit:
        pass
    finally:
        service.server_close()
        cache.server_close()


if __name__ == "__main__":
    main()
