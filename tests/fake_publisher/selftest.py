#!/usr/bin/env python3
"""Checks the running fake publisher from the host: endpoints, faults, scripts, request log.

  selftest.py <build dir> <port>
"""

import base64
import http.client
import json
import os
import socket
import ssl
import sys
import time
import unittest
import urllib.parse
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fake_publisher  # noqa: E402

BUILD = PORT = None


def tls_context(check_name=True):
    context = ssl.create_default_context(cafile=os.path.join(BUILD, "pki", "root_ca.pem"))
    context.check_hostname = check_name
    return context


def get(path, headers=None, port=None, plain=False, host="localhost"):
    port = port or (PORT + 1 if plain else PORT)
    if plain:
        connection = http.client.HTTPConnection(host, port, timeout=30)
    else:
        connection = http.client.HTTPSConnection(host, port, timeout=30, context=tls_context())
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    try:
        body = response.read()
        error = None
    except (http.client.IncompleteRead, ConnectionError) as e:
        body, error = getattr(e, "partial", b""), e
    connection.close()
    return response, body, error


def raw_read(path, port=None):
    """The response as a client sees it until the connection ends, and how it ended: "reset",
    "fin" (TCP end without TLS close_notify) or "close" (close_notify, then the TCP end).
    TLS runs over memory buffers so that the TCP ending stays visible."""
    sock = socket.create_connection(("127.0.0.1", port or PORT), timeout=30)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = tls_context().wrap_bio(incoming, outgoing, server_hostname="localhost")
    request = ("GET %s HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n" % path).encode()
    data, ending, handshaken, notified = b"", None, False, False
    while ending is None:
        if not handshaken:
            try:
                tls.do_handshake()
                handshaken = True
                tls.write(request)
            except ssl.SSLWantReadError:
                pass
        if outgoing.pending:
            sock.sendall(outgoing.read())
        try:
            block = sock.recv(65536)
        except ConnectionResetError:
            ending = "reset"
            break
        if not block:
            incoming.write_eof()
        else:
            incoming.write(block)
        while handshaken:
            try:
                block_text = tls.read(65536)
                if not block_text:  # close_notify seen (read does not raise then)
                    notified = True
                    break
                data += block_text
            except ssl.SSLWantReadError:
                break
            except ssl.SSLZeroReturnError:
                notified = True
                break
            except ssl.SSLError:
                break
        if not block:
            ending = "close" if notified else "fin"
    sock.close()
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body, ending


def control(name, body=None):
    connection = http.client.HTTPSConnection("localhost", PORT, timeout=10, context=tls_context())
    data = json.dumps(body).encode() if body is not None else None
    connection.request("POST" if data is not None else "GET", "/__control/" + name, body=data)
    answer = json.loads(connection.getresponse().read())
    connection.close()
    return answer


def logged(marker, at_least=1):
    deadline = time.monotonic() + 10
    while True:
        entries = [r for r in control("requests") if marker in r.get("query", "") or marker in r.get("raw_path", "")]
        if len(entries) >= at_least or time.monotonic() > deadline:
            return entries
        time.sleep(0.05)


def expected(start, end):
    return b"".join(fake_publisher.generated(start, end))


class Endpoints(unittest.TestCase):
    def test_generated_body_follows_the_pattern(self):
        response, body, _ = get("/gen/200000")
        self.assertEqual(200, response.status)
        self.assertEqual("200000", response.getheader("Content-Length"))
        self.assertEqual(200000, len(body))
        self.assertEqual(bytes([0, 0x83, 0x06]), body[:3])
        # The period is prime: byte 65521 starts the pattern again, byte 65520 does not.
        self.assertEqual(body[:100], body[65521:65621])
        self.assertNotEqual(body[:100], body[65520:65620])

    def test_ranges(self):
        cases = [("bytes=1000-", 206, 1000, 5000, "bytes 1000-4999/5000"),
                 ("bytes=10-19", 206, 10, 20, "bytes 10-19/5000"),
                 ("bytes=-100", 206, 4900, 5000, "bytes 4900-4999/5000")]
        for header, status, start, end, content_range in cases:
            response, body, _ = get("/gen/5000", {"Range": header})
            self.assertEqual(status, response.status, header)
            self.assertEqual(content_range, response.getheader("Content-Range"), header)
            self.assertEqual(expected(start, end), body, header)
        response, _, _ = get("/gen/5000", {"Range": "bytes=5000-"})
        self.assertEqual(416, response.status)
        response, body, _ = get("/f/no_range/gen/5000", {"Range": "bytes=1000-"})
        self.assertEqual((200, 5000, "none"), (response.status, len(body), response.getheader("Accept-Ranges")))

    def test_service_endpoints(self):
        cases = [("/get/browser/install?status=success&attempt=1", 200, b"ok"),
                 ("/installstats/send/dtype=stred/pid=457/cid=72992/path=extended_stat/vars=a", 200, b""),
                 ("/redir/dtype=stred/pid=457/cid=72696/path=zvbrowser_reinstall_dialog", 200, b""),
                 ("/configs/all_zip?brandID=1&partnerID=2", 200, fake_publisher.EMPTY_ZIP),
                 ("/nothing/here", 404, b"not found")]
        for path, status, body in cases:
            response, got, _ = get(path)
            self.assertEqual((status, body), (response.status, got), path)

    def test_slides_are_images_until_the_series_ends(self):
        for number in (2, 5):
            response, body, _ = get("/browser/installer/x2/%02d.jpg" % number)
            self.assertEqual(200, response.status)
            self.assertTrue(body.startswith(b"\x89PNG\r\n\x1a\n"))
        response, _, _ = get("/browser/installer/x2/06.jpg")
        self.assertEqual(404, response.status)

    def test_variations_headers_sent_or_omitted(self):
        path = "/content/get/experiments/browser.proto"
        response, body, _ = get(path)
        self.assertEqual(fake_publisher.SEED_BODY, body)
        for name, value in fake_publisher.SEED_HEADERS.items():
            self.assertEqual(value, response.getheader(name))
        response, _, _ = get("/f/omit=X-Seed-Signature;X-Country" + path)
        self.assertIsNone(response.getheader("X-Seed-Signature"))
        self.assertIsNone(response.getheader("X-Country"))
        self.assertIsNotNone(response.getheader("Last-Modified"))


class Faults(unittest.TestCase):
    def test_status_codes(self):
        for status in (404, 500):
            response, _, _ = get("/f/status=%d/gen/10" % status)
            self.assertEqual(status, response.status)

    def test_drops(self):
        cases = [("drop_after=1000", 1000, "reset"), ("drop_pct=25", 2500, "reset"),
                 ("drop_after=1000,drop_mode=fin", 1000, "fin"),
                 ("drop_after=1000,drop_mode=close", 1000, "close")]
        for faults, count, ending in cases:
            head, body, how = raw_read("/f/%s/gen/10000" % faults)
            self.assertIn("Content-Length: 10000", head, faults)
            self.assertEqual(expected(0, count), body, faults)
            self.assertEqual(ending, how, faults)

    def test_lengths(self):
        head, body, _ = raw_read("/f/no_length/gen/3000")
        self.assertNotIn("Content-Length", head)
        self.assertEqual(3000, len(body))
        head, body, _ = raw_read("/f/wrong_length=5000/gen/3000")
        self.assertIn("Content-Length: 5000", head)
        self.assertEqual(3000, len(body))

    def test_redirects(self):
        response, _, _ = get("/f/redirect=3,chunk=100/gen/10")
        self.assertEqual(302, response.status)
        self.assertEqual("https://localhost:%d/f/redirect=2,chunk=100/gen/10" % PORT, response.getheader("Location"))
        response, _, _ = get("/f/redirect=1/gen/10?a=b")
        self.assertEqual("https://localhost:%d/gen/10?a=b" % PORT, response.getheader("Location"))
        response, _, _ = get("/f/redirect=1,redirect_host=127.0.0.1/gen/10", plain=True)
        self.assertEqual("http://127.0.0.1:%d/gen/10" % (PORT + 1), response.getheader("Location"))
        response, _, _ = get("/f/to_https/gen/10", plain=True)
        self.assertEqual("https://localhost:%d/gen/10" % PORT, response.getheader("Location"))

    def test_wrong_name_certificate_is_refused_by_a_checking_client(self):
        with self.assertRaises(ssl.SSLCertVerificationError):
            get("/gen/10", port=PORT + 2)

    def test_slow_and_stalled_answers_still_end(self):
        start = time.monotonic()
        response, body, _ = get("/f/delay_ms=300,chunk=500,chunk_delay_ms=50/gen/2000")
        self.assertEqual(expected(0, 2000), body)
        self.assertGreaterEqual(time.monotonic() - start, 0.45)
        head, body, _ = raw_read("/f/stall_after=700,stall_ms=500/gen/1000")
        self.assertEqual(expected(0, 1000), body)


class Scripts(unittest.TestCase):
    def test_scripted_answers_are_served_in_order_then_the_endpoint_again(self):
        marker = uuid.uuid4().hex
        path = "/browser/%s/browser-setup.arc" % marker
        control("script", {"path": path, "responses": [{"status": 500}, {"gen": 100, "drop_after": 10}]})
        self.assertEqual(500, get(path)[0].status)
        self.assertEqual(expected(0, 10), raw_read(path)[1])
        self.assertEqual(404, get(path)[0].status)  # no archive in the files folder
        entries = logged(marker, 3)
        self.assertEqual([500, 200, 404], [e["status"] for e in entries])
        self.assertEqual([10, None], [entries[1]["bytes_sent"], entries[2]["script"]])

    def test_repeat_last_and_query_match(self):
        marker = uuid.uuid4().hex
        control("script", {"path": "/get/browser/install", "query_contains": marker,
                           "responses": [{"status": 503}], "repeat_last": True})
        for _ in range(3):
            self.assertEqual(503, get("/get/browser/install?ui=" + marker)[0].status)
        self.assertEqual(200, get("/get/browser/install?ui=other")[0].status)

    def test_headers_with_raw_bytes(self):
        marker = uuid.uuid4().hex
        control("script", {"path": "/content/get/experiments/browser.proto", "query_contains": marker,
                           "responses": [{"headers_b64": {"X-Seed-Signature": "/wA+"}}]})
        head, _, _ = raw_read("/content/get/experiments/browser.proto?" + marker)
        self.assertIn("X-Seed-Signature: \xff\x00>", head)

    def test_request_log_has_every_field(self):
        marker = uuid.uuid4().hex
        get("/f/drop_after=5/gen/100?m=" + marker, {"X-Test": "1"})
        entry = logged(marker)[0]
        self.assertEqual(("GET", "/gen/100", "m=" + marker, "1", {"drop_after": "5"}, 5, "tls"),
                         (entry["method"], entry["path"], entry["query"], entry["headers"]["X-Test"],
                          entry["faults"], entry["bytes_sent"], entry["port"]))
        with open(os.path.join(BUILD, "fake_publisher", "requests.jsonl"), encoding="utf-8") as f:
            self.assertTrue(any(marker in line for line in f))

    def test_proxy_asks_for_credentials_then_relays(self):
        marker = uuid.uuid4().hex
        target = "http://proxied.test:%d/gen/100?m=%s" % (PORT + 1, marker)
        credentials = "Basic " + base64.b64encode(b"zorvin:proxy-pass").decode()
        connection = http.client.HTTPConnection("127.0.0.1", PORT + 5, timeout=30)
        for headers, status in (({}, 407), ({"Proxy-Authorization": "Basic eDp5"}, 407),
                                ({"Proxy-Authorization": credentials}, 200)):
            connection.request("GET", target, headers=headers)
            response = connection.getresponse()
            body = response.read()
            self.assertEqual(status, response.status)
            if status == 407:
                self.assertEqual('Basic realm="fake proxy"', response.getheader("Proxy-Authenticate"))
        self.assertEqual(expected(0, 100), body)
        connection.close()
        seen = [(e["port"], e["status"]) for e in logged(marker, 4)]
        self.assertEqual([("proxy", 407), ("proxy", 407), ("proxy", 200), ("plain", 200)], seen)


if __name__ == "__main__":
    BUILD, PORT = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
