"""rehearsal-server: it serves the given archive and prints each request as it arrives."""

import os
import socket
import ssl
import subprocess
import sys
import time
import unittest
import urllib.request

import fixtures


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class RehearsalServerTest(unittest.TestCase):
    def test_serves_the_archive_and_prints_the_requests(self):
        archive = fixtures.build_file("stand_in", "good.exe")
        port = free_port()
        server = subprocess.Popen(
            [sys.executable, fixtures.tool("rehearsal-server"), "--archive", archive,
             "--build", fixtures.build_file(), "--port", str(port), "--script",
             '{"path": "/get/browser/install", "responses": [{"status": 503}]}'],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            banner = server.stdout.readline().decode()
            self.assertIn("serving", banner)
            context = ssl.create_default_context(
                cafile=fixtures.build_file("pki", "root_ca.pem"))
            url = "https://localhost:%d" % port
            body = urllib.request.urlopen(url + "/browser/zorvin/flash/browser-setup.arc",
                                          context=context, timeout=10).read()
            with open(archive, "rb") as f:
                self.assertEqual(f.read(), body)
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(url + "/get/browser/install?status=success",
                                       context=context, timeout=10)
            self.assertEqual(503, refused.exception.code)
            lines = [server.stdout.readline().decode() for _ in range(2)]
            self.assertIn("archive    GET /browser/zorvin/flash/browser-setup.arc -> 200, %d "
                          "bytes" % len(body), lines[0])
            self.assertIn("status     GET /get/browser/install?status=success -> 503", lines[1])
        finally:
            server.terminate()
            server.wait(10)


if __name__ == "__main__":
    unittest.main()
