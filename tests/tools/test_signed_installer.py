"""The whole road of a tag: sign a copy of the built installer with the test PKI, stamp a
tag into it, check that the Authenticode signature still verifies, and read the tag back
with the installer's own reader under Wine."""

import os
import shutil
import subprocess
import tempfile
import unittest

import fixtures

stamp_tag = fixtures.load_tool("stamp-tag")

DELIVERED = "win10pin=1&browser=1&pps=3&zorvinuid=42&download_date=20261201"


def run(*args):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


class SignedInstallerTagTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pki = os.environ.get("LI_PKI_DIR") or fixtures.build_file("pki")
        cls.installer = fixtures.build_file("lite_installer.exe")
        cls.probe = fixtures.build_file("test_programs", "distrib_probe.exe")
        cls.wine_run = os.environ.get("LI_WINE_RUN") or fixtures.build_file("wine_run.sh")
        for path in (cls.installer, cls.probe, cls.wine_run,
                     os.path.join(cls.pki, "sign_sha256.pem"), os.path.join(cls.pki, "root_ca.pem")):
            if not os.path.exists(path):
                raise AssertionError("missing build output %s (LI_BUILD_DIR=%s)"
                                     % (path, fixtures.BUILD_DIR))
        cls.dir = tempfile.mkdtemp(prefix="signed-tag-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def sign(self, source, target, nest=False):
        unsigned = target + ".unsigned"
        shutil.copyfile(source, unsigned)
        result = run("osslsigncode", "sign", "-certs", os.path.join(self.pki, "sign_sha256.pem"),
                     "-key", os.path.join(self.pki, "sign_sha256.key"), "-h", "sha256",
                     "-n", "Zorvin Browser", "-in", unsigned, "-out", target)
        self.assertEqual(0, result.returncode, result.stdout)
        if nest:
            single = target + ".single"
            os.replace(target, single)
            result = run("osslsigncode", "sign", "-nest", "-certs",
                         os.path.join(self.pki, "sign_sha256.pem"),
                         "-key", os.path.join(self.pki, "sign_sha256.key"), "-h", "sha1",
                         "-n", "Zorvin Browser", "-in", single, "-out", target)
            self.assertEqual(0, result.returncode, result.stdout)

    def verify(self, path):
        return run("osslsigncode", "verify", "-CAfile", os.path.join(self.pki, "root_ca.pem"),
                   "-in", path)

    def assert_verifies(self, path):
        result = self.verify(path)
        self.assertEqual(0, result.returncode, result.stdout.decode(errors="replace"))
        self.assertIn(b"Succeeded", result.stdout)
        self.assertNotIn(b"MISMATCH", result.stdout)

    def read_with_installer_reader(self, path):
        env = dict(os.environ, WINEDEBUG="-all")
        result = subprocess.run([self.wine_run, self.probe, "--read-tag=" + fixtures.wine_path(path)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                                timeout=240)
        return result.returncode, result.stdout

    def test_stamped_installer_still_verifies_and_its_tag_is_read(self):
        signed = self.path("signed.exe")
        tagged = self.path("tagged.exe")
        self.sign(self.installer, signed)
        self.assert_verifies(signed)
        result = fixtures.run_tool("stamp-tag", signed, DELIVERED, "-o", tagged)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assert_verifies(tagged)

        code, out = self.read_with_installer_reader(tagged)
        self.assertEqual(0, code, out)
        self.assertEqual(DELIVERED.encode(), out.strip())
        code, out = self.read_with_installer_reader(signed)
        self.assertEqual(3, code, out)

        # A new tag replaces the old one and the signature still holds.
        self.assertEqual(0, fixtures.run_tool("stamp-tag", tagged, "lang=tr&banner=3").returncode)
        self.assert_verifies(tagged)
        code, out = self.read_with_installer_reader(tagged)
        self.assertEqual((0, b"lang=tr&banner=3"), (code, out.strip()))
        inspected = fixtures.run_tool("inspect", tagged)
        self.assertIn(b"Tag: lang=tr&banner=3\n", inspected.stdout)

    def test_verification_is_not_blind(self):
        # Changing a hashed byte (one of the first section's, not the tag) must break the
        # signature, or the checks above would prove nothing.
        tagged = self.path("tampered.exe")
        self.sign(self.installer, tagged)
        with open(tagged, "rb") as f:
            stamped = bytearray(stamp_tag.stamp(f.read(), b"a=1"))
        stamped[0x400] ^= 0xFF
        with open(tagged, "wb") as f:
            f.write(stamped)
        self.assertNotEqual(0, self.verify(tagged).returncode)

    def test_dual_signed_installer(self):
        signed = self.path("dual.exe")
        self.sign(self.installer, signed, nest=True)
        self.assert_verifies(signed)
        self.assertEqual(0, fixtures.run_tool("stamp-tag", signed, "pps=7").returncode)
        self.assert_verifies(signed)
        result = self.verify(signed)
        self.assertIn(b"Number of verified signatures: 2", result.stdout)
        code, out = self.read_with_installer_reader(signed)
        self.assertEqual((0, b"pps=7"), (code, out.strip()))


if __name__ == "__main__":
    unittest.main()
