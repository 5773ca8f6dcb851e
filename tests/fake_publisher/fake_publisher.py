#!/usr/bin/env python3
"""The publisher's web services, played locally for the tests and the demo.

One process serves four ports on 127.0.0.1 only:
  PORT      HTTPS with <pki>/tls.pem (localhost and 127.0.0.1): every endpoint
  PORT + 1  plain HTTP, the same endpoints (for redirects from HTTP to HTTPS)
  PORT + 2  HTTPS with <pki>/tls_wrong_name.pem (a certificate for another name)
  PORT + 3  accepts connections and never answers, not even the TLS handshake
  PORT + 5  an HTTP proxy that asks for Basic credentials (PROXY_USER:PROXY_PASSWORD): with
            them, plain requests for any host go to PORT + 1 and CONNECT tunnels to PORT
  PORT + 6  HTTPS with <pki>/tls_unknown_issuer.pem, without its issuer's certificate (a
            chain the client cannot build): every endpoint

Faults are chosen per request, so that parallel tests never disturb each other:
  * in the URL path: /f/<fault>,<fault>,.../<endpoint path>, e.g. /f/drop_pct=50/gen/100000
  * by a script posted to /__control/script, for callers that cannot choose their URLs: the
    next requests for one path get the scripted answers in order.
Every request is appended as one JSON line to the request log. See README.md for the list.
"""

import argparse
import base64
import http.server
import json
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib

# Generated bodies repeat a pattern whose period is a prime, so that a resume at a wrong
# offset shows in the bytes. Byte i is PATTERN[i % PERIOD]; the C++ tests compute the same.
PERIOD = 65521
PATTERN = bytes(((k * 131) + (k >> 7)) & 0xFF for k in range(PERIOD))
BLOCK = 256 * 1024
PATTERN_RUN = PATTERN * (BLOCK // PERIOD + 2)

PROXY_USER, PROXY_PASSWORD = "zorvin", "proxy-pass"
PROXY_REALM = "fake proxy"

SEED_BODY = b"zorvin-variations-seed\x00\x01\x02\xfe\xff"
SEED_HEADERS = {
    "X-Seed-Signature": "c2lnbmF0dXJlLWZvci10ZXN0cw==",
    "Last-Modified": "Tue, 01 Dec 2026 10:00:00 GMT",
    "X-Country": "xx",
}
EMPTY_ZIP = b"PK\x05\x06" + b"\x00" * 18
DEFAULT_SLIDES = 4  # 02.jpg .. 05.jpg


def generated(start, end):
    """Yields the bytes [start, end) of the generated body in blocks."""
    pos = start
    while pos < end:
        off = pos % PERIOD
        n = min(BLOCK, end - pos)
        yield PATTERN_RUN[off:off + n]
        pos += n


def png(width, height, rgb):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


class Body:
    """A response body: fixed bytes, a file, or a generated run."""

    def __init__(self, data=None, path=None, size=None):
        self.data, self.path = data, path
        if data is not None:
            self.size = len(data)
        elif path is not None:
            self.size = os.path.getsize(path)
        else:
            self.size = size

    def blocks(self, start, end):
        if self.data is not None:
            for pos in range(start, end, BLOCK):
                yield self.data[pos:min(end, pos + BLOCK)]
        elif self.path is not None:
            with open(self.path, "rb") as f:
                f.seek(start)
                pos = start
                while pos < end:
                    block = f.read(min(BLOCK, end - pos))
                    if not block:
                        return
                    pos += len(block)
                    yield block
        else:
            yield from generated(start, end)


def host_path(path):
    """Accepts a host path or a Wine Z: path."""
    if len(path) > 2 and path[1] == ":" and path[0] in "zZ":
        return path[2:].replace("\\", "/")
    return path


def parse_faults(segment):
    faults = {}
    for item in urllib.parse.unquote(segment).split(","):
        if not item:
            continue
        key, sep, value = item.partition("=")
        faults[key] = value if sep else "1"
    return faults


def format_faults(faults):
    return ",".join(k if v == "1" else "%s=%s" % (k, urllib.parse.quote(str(v), safe="")) for k, v in faults.items())


class Publisher:
    """State shared by the three servers: scripts, request log, activity clock."""

    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.scripts = []  # dicts: id, path, query_contains, responses, repeat_last
        self.next_script_id = 1
        self.requests = []
        self.last_activity = time.monotonic()
        self.stopping = threading.Event()
        os.makedirs(os.path.dirname(os.path.abspath(args.log)), exist_ok=True)
        self.log_file = open(args.log, "a", encoding="utf-8")

    def touch(self):
        self.last_activity = time.monotonic()

    def record(self, entry):
        with self.lock:
            entry["seq"] = len(self.requests) + 1
            self.requests.append(entry)
            self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
            self.log_file.flush()

    def add_script(self, script):
        with self.lock:
            script = dict(script)
            script["id"] = self.next_script_id
            self.next_script_id += 1
            script.setdefault("responses", [])
            script.setdefault("repeat_last", False)
            script["served"] = 0
            self.scripts.append(script)
            return script["id"]

    def take_scripted(self, path, query):
        """The next scripted answer for this request, or None."""
        with self.lock:
            for script in self.scripts:
                if script.get("path") not in (None, path):
                    continue
                if script.get("path_prefix") and not path.startswith(script["path_prefix"]):
                    continue
                if script.get("query_contains") and script["query_contains"] not in query:
                    continue
                responses = script["responses"]
                if not responses:
                    continue
                if len(responses) == 1 and script["repeat_last"]:
                    response = responses[0]
                else:
                    response = responses.pop(0)
                script["served"] += 1
                return script["id"], dict(response)
        return None

    def clear_scripts(self, script_id=None, path=None):
        with self.lock:
            self.scripts = [s for s in self.scripts
                            if not ((script_id is None or s["id"] == script_id) and
                                    (path is None or s.get("path") == path or s.get("path_prefix") == path))]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ZorvinFakePublisher/1"

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):  # the JSON request log replaces the console log
        pass

    @property
    def publisher(self):
        return self.server.publisher

    # ---- request entry points ----

    def do_GET(self):
        self.handle_request()

    def do_HEAD(self):
        self.handle_request(head=True)

    def do_POST(self):
        self.handle_request()

    def handle_request(self, head=False):
        self.publisher.touch()
        self.bytes_sent = 0
        self.sent_status = 0
        self.note = ""
        split = urllib.parse.urlsplit(self.path)
        path, query = split.path, split.query
        faults = {}
        if path.startswith("/f/"):
            parts = path.split("/", 3)
            faults = parse_faults(parts[2])
            path = "/" + (parts[3] if len(parts) > 3 else "")
        self.endpoint_path, self.faults, self.query = path, faults, query
        script_id = None
        try:
            if path.startswith("/__control/"):
                self.control(path, query)
                return
            scripted = self.publisher.take_scripted(path, query)
            plan = dict(faults)
            if scripted:
                script_id, answer = scripted
                plan.update(answer)
            self.script_id = script_id
            self.serve(path, query, plan, head)
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError) as e:
            self.note = self.note or ("client went away: %s" % e.__class__.__name__)
            self.close_connection = True
        finally:
            if not path.startswith("/__control/"):
                try:
                    tls = self.connection.cipher()[0] if isinstance(
                        self.connection, ssl.SSLSocket) and self.connection.fileno() != -1 else ""
                except (ssl.SSLError, OSError, TypeError):
                    tls = ""  # a connection shut down under its TLS layer ("fin")
                self.publisher.record({
                    "time": time.time(),
                    "port": self.server.kind,
                    "method": self.command,
                    "path": path,
                    "raw_path": split.path,
                    "query": query,
                    "headers": {k: v for k, v in self.headers.items()},
                    "faults": faults,
                    "script": script_id,
                    "status": self.sent_status,
                    "bytes_sent": self.bytes_sent,
                    "note": self.note,
                    "tls": tls,
                })
            self.publisher.touch()

    # ---- control endpoint ----

    def control_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length else b""
        return json.loads(data.decode("utf-8")) if data else {}

    def reply_json(self, value, status=200):
        data = json.dumps(value).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def control(self, path, query):
        params = dict(urllib.parse.parse_qsl(query))
        name = path[len("/__control/"):]
        if name == "ping":
            self.reply_json({"ok": True, "pid": os.getpid(), "port": self.publisher.args.port})
        elif name == "script":
            script = self.control_body() if self.command == "POST" else json.loads(params.get("json", "{}"))
            self.reply_json({"id": self.publisher.add_script(script)})
        elif name == "clear":
            body = self.control_body() if self.command == "POST" else params
            sid = body.get("id")
            self.publisher.clear_scripts(int(sid) if sid is not None else None, body.get("path"))
            self.reply_json({"ok": True})
        elif name == "requests":
            since = int(params.get("since", "0"))
            want = params.get("path")
            with self.publisher.lock:
                entries = [r for r in self.publisher.requests
                           if r["seq"] > since and (want is None or r["path"] == want)]
            self.reply_json(entries)
        elif name == "shutdown":
            self.reply_json({"ok": True})
            threading.Thread(target=self.server.stop_all, daemon=True).start()
        else:
            self.reply_json({"error": "unknown control " + name}, 404)

    # ---- endpoints ----

    def default_answer(self, path, query):
        """(status, Body, headers) of the endpoint without faults."""
        files = self.publisher.args.files
        if path.startswith("/gen/"):
            try:
                size = int(path[len("/gen/"):].split(".")[0])
            except ValueError:
                return 400, Body(b"bad size"), {}
            return 200, Body(size=size), {"Content-Type": "application/octet-stream"}
        if (path.startswith("/browser/") and path.endswith("/browser-setup.arc")) or \
                path in ("/flash/browser-setup.arc", "/browser-partners/_xp_builds/browser-setup.arc"):
            archive = os.path.join(files, "browser-setup.arc")
            if os.path.isfile(archive):
                return 200, Body(path=archive), {"Content-Type": "application/octet-stream"}
            return 404, Body(b"no archive in " + files.encode()), {}
        if path == "/crl/root_ca.crl":
            # The test root's revocation list, named by the TLS certificates: Windows' WinINet
            # fetches it before it trusts a connection.
            crl = os.path.join(self.publisher.args.pki, "root_ca.crl")
            if os.path.isfile(crl):
                return 200, Body(path=crl), {"Content-Type": "application/pkix-crl"}
            return 404, Body(b"no revocation list in " + self.publisher.args.pki.encode()), {}
        if path == "/get/browser/install":
            return 200, Body(b"ok"), {"Content-Type": "text/plain"}
        if path.startswith("/installstats/send/") or path.startswith("/redir/"):
            return 200, Body(b""), {"Content-Type": "text/plain"}
        if path == "/configs/all_zip":
            configs = os.path.join(files, "all_zip")
            body = Body(path=configs) if os.path.isfile(configs) else Body(EMPTY_ZIP)
            return 200, body, {"Content-Type": "application/zip"}
        if path == "/content/get/experiments/browser.proto":
            return 200, Body(SEED_BODY), dict(SEED_HEADERS, **{"Content-Type": "application/octet-stream"})
        if "/x2/" in path and path.endswith(".jpg"):
            name = path.rsplit("/", 1)[1]
            slide = os.path.join(files, "slides", name)
            if os.path.isfile(slide):
                return 200, Body(path=slide), {"Content-Type": "image/jpeg"}
            try:
                number = int(name[:-4])
            except ValueError:
                number = 0
            if 2 <= number < 2 + self.publisher.args.slides:
                colour = ((number * 40) & 0xFF, (number * 90) & 0xFF, (number * 150) & 0xFF)
                return 200, Body(png(8, 4, colour)), {"Content-Type": "image/png"}
            return 404, Body(b"no slide"), {}
        if path in ("/browser_agreement/", "/confidential/") or path.startswith("/support") \
                or path.startswith("/download"):
            return 200, Body(b"<html><body>Zorvin</body></html>"), {"Content-Type": "text/html"}
        return 404, Body(b"not found"), {"Content-Type": "text/plain"}

    def serve(self, path, query, plan, head):
        delay = int(plan.get("delay_ms", 0))
        if delay:
            time.sleep(delay / 1000.0)

        redirects = int(plan.get("redirect", 0))
        if redirects > 0 or plan.get("redirect_to") or plan.get("to_https"):
            return self.send_redirect(path, query, plan, redirects)

        status, body, headers = self.default_answer(path, query)
        if "status" in plan:
            status = int(plan["status"])
        if "body" in plan:
            body = Body(plan["body"].encode("latin-1"))
        if "body_b64" in plan:
            body = Body(base64.b64decode(plan["body_b64"]))
        if "file" in plan:
            body = Body(path=host_path(plan["file"]))
        if "gen" in plan:
            body = Body(size=int(plan["gen"]))
        if "status" not in plan and any(k in plan for k in ("body", "body_b64", "file", "gen")):
            status = 200  # a body of the caller's own stands in for the endpoint's answer
        for name in str(plan.get("omit", "")).split(";"):
            for key in list(headers):
                if name and key.lower() == name.lower():
                    del headers[key]
        extra = plan.get("headers") or {}
        for key, value in extra.items():
            headers[key] = value
        for key, value in (plan.get("headers_b64") or {}).items():
            headers[key] = base64.b64decode(value).decode("latin-1")

        if "file" in plan:
            stat = os.stat(host_path(plan["file"]))
            headers["ETag"] = '"%x-%x"' % (stat.st_size, stat.st_mtime_ns)
        if "etag" in plan:
            headers["ETag"] = plan["etag"]
        if not headers.get("ETag"):
            headers.pop("ETag", None)

        start, end, total = 0, body.size, body.size
        range_header = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        if if_range and if_range not in (headers.get("ETag"), headers.get("Last-Modified")):
            range_header = None  # another version than the client's bytes: the whole of it
        if range_header and status == 200 and not plan.get("no_range"):
            parsed = self.parse_range(range_header, total)
            if parsed is None:
                self.send_status(416, {"Content-Range": "bytes */%d" % total, "Content-Length": "0"})
                return
            start, end = parsed
            status = 206
            headers["Content-Range"] = "bytes %d-%d/%d" % (start, end - 1, total)
        headers["Accept-Ranges"] = "none" if plan.get("no_range") else "bytes"

        if plan.get("never_answer"):
            # The request was read; nothing ever comes back, until the client goes away.
            self.stall(24 * 3600 * 1000)
            self.close_connection = True
            return

        length = end - start
        chunked = bool(plan.get("chunked"))
        closing = any(k in plan for k in ("no_length", "wrong_length", "drop_after", "drop_pct", "stall_after"))
        if chunked:
            headers["Transfer-Encoding"] = "chunked"
        elif "wrong_length" in plan:
            headers["Content-Length"] = str(int(plan["wrong_length"]))
        elif not plan.get("no_length"):
            headers["Content-Length"] = str(length)
        if closing:
            headers["Connection"] = "close"
            self.close_connection = True
        self.send_status(status, headers)
        if head:
            return

        limit = length
        if "drop_after" in plan:
            limit = min(limit, int(plan["drop_after"]))
        if "drop_pct" in plan:
            limit = min(limit, length * int(plan["drop_pct"]) // 100)
        stall_at = int(plan["stall_after"]) if "stall_after" in plan else None
        chunk = int(plan.get("chunk", BLOCK))
        chunk_delay = int(plan.get("chunk_delay_ms", 0)) / 1000.0
        rate = int(plan.get("rate", 0))  # bytes per second, like a link of that speed
        if rate:
            chunk = min(chunk, max(1024, rate // 50))
        started = time.monotonic()

        sent = 0
        for block in body.blocks(start, start + limit):
            pos = 0
            while pos < len(block):
                n = min(chunk, len(block) - pos)
                if stall_at is not None and sent < stall_at:
                    n = min(n, stall_at - sent)
                if chunked:
                    self.wfile.write(b"%x\r\n" % n + block[pos:pos + n] + b"\r\n")
                else:
                    self.wfile.write(block[pos:pos + n])
                pos += n
                sent += n
                self.bytes_sent = sent
                if stall_at is not None and sent >= stall_at:
                    self.stall(int(plan.get("stall_ms", 10000)))
                    stall_at = None
                if chunk_delay:
                    time.sleep(chunk_delay)
                if rate:
                    ahead = started + sent / rate - time.monotonic()
                    if ahead > 0:
                        time.sleep(ahead)
                self.publisher.touch()
        if limit < length:
            self.drop(plan.get("drop_mode", "rst"))
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")

    def parse_range(self, value, total):
        if not value.startswith("bytes=") or "," in value:
            return None
        first, _, last = value[len("bytes="):].partition("-")
        try:
            if first == "":
                n = int(last)
                return max(0, total - n), total
            start = int(first)
            end = int(last) + 1 if last else total
        except ValueError:
            return None
        if start >= total or end <= start:
            return None
        return start, min(end, total)

    def send_status(self, status, headers):
        self.send_response(status)
        for key, value in headers.items():
            self.send_header(key, value)
        self.end_headers()
        self.wfile.flush()
        self.sent_status = status

    def send_redirect(self, path, query, plan, redirects):
        args = self.publisher.args
        faults = dict(self.faults)
        if plan.get("redirect_to"):
            location = plan["redirect_to"]
        else:
            host = plan.get("redirect_host") or (self.headers.get("Host") or "localhost").rsplit(":", 1)[0]
            if plan.get("to_https") and not plan.get("redirect_host"):
                host = "localhost"  # the one name WinINet under Wine accepts on the certificate
            scheme, port = ("https", args.port) if (self.server.kind == "tls" or plan.get("to_https")) \
                else ("http", args.port + 1)
            if self.server.kind == "wrong_name" and not plan.get("to_https"):
                scheme, port = "https", args.port + 2
            for key in ("to_https", "redirect_host", "redirect_to"):
                faults.pop(key, None)
            if redirects > 1:
                faults["redirect"] = str(redirects - 1)
            else:
                faults.pop("redirect", None)
            prefix = "/f/" + format_faults(faults) if faults else ""
            location = "%s://%s:%d%s%s%s" % (scheme, host, port, prefix, path, "?" + query if query else "")
        status = int(plan.get("redirect_status", 302))
        body = b"moved"
        self.send_status(status, {"Location": location, "Content-Length": str(len(body)),
                                  "Content-Type": "text/plain"})
        self.wfile.write(body)
        self.bytes_sent = len(body)
        self.note = "redirect to " + location

    def stall(self, stall_ms):
        """Sends nothing for stall_ms, or until the client goes away."""
        self.note = "stalled %d ms" % stall_ms
        self.wfile.flush()
        deadline = time.monotonic() + stall_ms / 1000.0
        sock = self.connection
        while time.monotonic() < deadline and not self.publisher.stopping.is_set():
            self.publisher.touch()
            try:
                sock.settimeout(0.2)
                if sock.recv(1) == b"":
                    self.note += ", client closed"
                    raise ConnectionResetError("client closed")
            except (socket.timeout, ssl.SSLWantReadError):
                pass
            except ssl.SSLError:
                raise ConnectionResetError("client closed")
            finally:
                sock.settimeout(None)

    def drop(self, mode):
        """Ends the connection before the body is complete."""
        self.note = "dropped (%s) after %d bytes" % (mode, self.bytes_sent)
        self.wfile.flush()
        # Give the client time to take what was sent: a reset discards data still in flight.
        time.sleep(0.3)
        sock = self.connection
        if mode == "rst":
            # Linger 0 turns the close into a reset. The descriptor is taken from the socket
            # object first, so the usual teardown cannot send a FIN before it.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            os.close(sock.detach())
        else:
            if mode == "close" and isinstance(sock, ssl.SSLSocket):
                # TLS close_notify, then FIN. unwrap() would wait for the client's close_notify,
                # which a client still expecting body bytes never sends.
                sock.settimeout(0.5)
                try:
                    sock = sock.unwrap()
                except (ssl.SSLError, OSError):
                    pass
            try:
                sock.shutdown(socket.SHUT_RDWR)  # "fin": a bare FIN without close_notify
            except OSError:
                pass
        self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, kind, publisher, context, siblings):
        self.kind, self.publisher, self.context, self.siblings = kind, publisher, context, siblings
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        if self.kind == "silent":
            return self.hold_silently(request)
        if self.kind == "proxy":
            return self.proxy(request)
        # The TLS handshake runs on the connection's own thread, so a client that stalls in
        # it (or rejects the certificate) does not hold up the accept loop.
        if self.context is not None:
            request.settimeout(30)
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                self.publisher.record({"time": time.time(), "port": self.kind, "method": "",
                                       "path": "", "raw_path": "", "query": "", "headers": {}, "faults": {},
                                       "script": None, "status": 0, "bytes_sent": 0,
                                       "note": "TLS handshake failed: %s" % e})
                request.close()
                return
            request.settimeout(None)
        try:
            Handler(request, client_address, self)
        except (ConnectionError, ssl.SSLError, OSError):
            pass

    def hold_silently(self, request):
        """Keeps an accepted connection open without a byte, until the client closes it."""
        self.publisher.record({"time": time.time(), "port": self.kind, "method": "", "path": "",
                               "raw_path": "", "query": "", "headers": {}, "faults": {},
                               "script": None, "status": 0, "bytes_sent": 0,
                               "note": "accepted, never answered"})
        request.settimeout(0.2)
        try:
            while not self.publisher.stopping.is_set():
                self.publisher.touch()
                try:
                    if request.recv(4096) == b"":
                        break
                except socket.timeout:
                    pass
        except OSError:
            pass
        request.close()

    def proxy(self, client):
        """One connection to the proxy: answers 407 until the request carries the right
        Basic credentials, then relays it to the publisher (a CONNECT as a tunnel to the TLS
        port, anything else to the plain port, whatever host it names)."""
        client.settimeout(30)
        expected = "Basic " + base64.b64encode(
            ("%s:%s" % (PROXY_USER, PROXY_PASSWORD)).encode()).decode()
        try:
            while True:
                head = b""
                while b"\r\n\r\n" not in head:
                    data = client.recv(4096)
                    if not data:
                        return
                    head += data
                    if len(head) > 65536:
                        return
                head, _, rest = head.partition(b"\r\n\r\n")
                lines = head.decode("latin-1").split("\r\n")
                method, target, _version = (lines[0].split(" ") + ["", ""])[:3]
                headers = {}
                for line in lines[1:]:
                    name, _, value = line.partition(":")
                    headers[name.strip().lower()] = value.strip()
                entry = {"time": time.time(), "port": "proxy", "method": method, "path": target,
                         "raw_path": target, "query": "", "faults": {}, "script": None,
                         "headers": {k: v for k, v in headers.items()}, "bytes_sent": 0,
                         "tls": ""}
                self.publisher.touch()
                if headers.get("proxy-authorization") != expected:
                    body = b"proxy credentials required"
                    client.sendall(("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                    "Proxy-Authenticate: Basic realm=\"%s\"\r\n"
                                    "Content-Length: %d\r\nContent-Type: text/plain\r\n"
                                    "Proxy-Connection: keep-alive\r\n\r\n"
                                    % (PROXY_REALM, len(body))).encode() + body)
                    entry.update(status=407, note="credentials asked for")
                    self.publisher.record(entry)
                    length = int(headers.get("content-length", "0") or 0)
                    while len(rest) < length:
                        data = client.recv(4096)
                        if not data:
                            return
                        rest += data
                    continue
                entry.update(status=200, note="relayed")
                self.publisher.record(entry)
                port = self.siblings_port("tls" if method == "CONNECT" else "plain")
                upstream = socket.create_connection(("127.0.0.1", port), timeout=30)
                if method == "CONNECT":
                    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                    upstream.sendall(rest)
                else:
                    path = urllib.parse.urlsplit(target)
                    path = (path.path or "/") + ("?" + path.query if path.query else "")
                    out = ["%s %s HTTP/1.1" % (method, path)]
                    out += ["%s: %s" % (line.split(":", 1)[0], line.split(":", 1)[1].strip())
                            for line in lines[1:] if ":" in line and
                            line.split(":", 1)[0].strip().lower() not in
                            ("proxy-authorization", "proxy-connection", "connection")]
                    out.append("Connection: close")
                    upstream.sendall(("\r\n".join(out) + "\r\n\r\n").encode("latin-1") + rest)
                self.relay(client, upstream)
                return
        except OSError:
            pass
        finally:
            client.close()

    def siblings_port(self, kind):
        for server in self.siblings:
            if server.kind == kind:
                return server.server_address[1]
        raise OSError("no %s port" % kind)

    def relay(self, a, b):
        """Copies both ways until either side closes."""
        def pump(src, dst):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    dst.sendall(data)
                    self.publisher.touch()
            except OSError:
                pass
            for sock in (src, dst):
                try:
                    sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        other = threading.Thread(target=pump, args=(b, a), daemon=True)
        other.start()
        pump(a, b)
        other.join(60)
        b.close()

    def handle_error(self, request, client_address):
        pass

    def stop_all(self):
        self.publisher.stopping.set()


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def watchdog(publisher, servers, idle_s, parent_pid):
    while not publisher.stopping.wait(1.0):
        if idle_s and time.monotonic() - publisher.last_activity > idle_s:
            print("fake publisher: idle for %d s, stopping" % idle_s, flush=True)
            break
        if parent_pid:
            try:
                os.kill(parent_pid, 0)
            except ProcessLookupError:
                print("fake publisher: parent %d is gone, stopping" % parent_pid, flush=True)
                break
            except PermissionError:
                pass
    publisher.stopping.set()
    for server in servers:
        server.shutdown()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True, help="HTTPS port; PORT+1 plain, PORT+2 wrong name")
    parser.add_argument("--pki", required=True, help="folder with tls.pem/key and tls_wrong_name.pem/key")
    parser.add_argument("--files", required=True, help="folder with browser-setup.arc, all_zip, slides/NN.jpg")
    parser.add_argument("--log", required=True, help="request log (JSON lines, appended)")
    parser.add_argument("--pidfile", help="written once the ports are open")
    parser.add_argument("--idle-timeout", type=int, default=900, help="stop after this many idle seconds (0: never)")
    parser.add_argument("--parent-pid", type=int, default=0, help="stop when this process is gone")
    parser.add_argument("--slides", type=int, default=DEFAULT_SLIDES, help="generated slides 02.jpg onwards")
    args = parser.parse_args()

    publisher = Publisher(args)
    servers = []
    main_ctx = tls_context(os.path.join(args.pki, "tls.pem"), os.path.join(args.pki, "tls.key"))
    wrong_ctx = tls_context(os.path.join(args.pki, "tls_wrong_name.pem"),
                            os.path.join(args.pki, "tls_wrong_name.key"))
    unknown_issuer_ctx = tls_context(os.path.join(args.pki, "tls_unknown_issuer.pem"),
                                     os.path.join(args.pki, "tls_unknown_issuer.key"))
    for kind, port, ctx in (("tls", args.port, main_ctx), ("plain", args.port + 1, None),
                            ("wrong_name", args.port + 2, wrong_ctx),
                            ("silent", args.port + 3, None), ("proxy", args.port + 5, None),
                            ("unknown_issuer", args.port + 6, unknown_issuer_ctx)):
        servers.append(Server(("127.0.0.1", port), kind, publisher, ctx, servers))
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for t in threads:
        t.start()
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write(str(os.getpid()))
    print("fake publisher: pid %d, https://localhost:%d (plain %d, wrong name %d, silent %d, "
          "proxy %d), log %s" % (os.getpid(), args.port, args.port + 1, args.port + 2,
                                 args.port + 3, args.port + 5, args.log), flush=True)
    watchdog(publisher, servers, args.idle_timeout, args.parent_pid)
    for s in servers:
        s.server_close()
    if args.pidfile:
        try:
            os.unlink(args.pidfile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
