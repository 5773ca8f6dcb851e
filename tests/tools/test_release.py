"""make release (tools/release.sh): a signed and verified copy per tag line, over the
release-profile build of the image checks, with the test PKI standing in for the publisher;
the configurations it refuses; and what a folder of packages builds in."""

import hashlib
import json
import os
import subprocess
import tempfile
import unittest

import fixtures


def run(*args, **kwargs):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


class ReleaseTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.pki = os.environ["LI_PKI_DIR"]

    def tearDown(self):
        self.dir.cleanup()

    def test_every_tagged_copy_is_signed_stamped_and_listed(self):
        tags = os.path.join(self.dir.name, "tags.txt")
        # Saved on Windows in part: a byte-order mark, CR line ends and blanks at a line's end.
        with open(tags, "wb") as f:
            f.write(b"\xef\xbb\xbf# partners\r\nzorvin_tr.exe lang=tr&stat=1 \t\r\n\r\n"
                    b"zorvin_uk.exe  banerid=7&lang=uk\nplain.exe\ndash.exe --lang=tr\n")
        out = os.path.join(self.dir.name, "dist")
        env = dict(os.environ, BUILD=os.environ["LI_RELEASE_DIR"],
                   CA=os.path.join(self.pki, "root_ca.pem"))
        result = run(fixtures.tool("release.sh"), os.environ["LI_TEST_KEYS"],
                     os.path.join(self.pki, "sign_sha256.pem"),
                     os.path.join(self.pki, "sign_sha256.key"), tags, out, env=env)
        self.assertEqual(0, result.returncode, result.stderr.decode(errors="replace"))
        table = result.stdout.decode().splitlines()
        expected = {"zorvin_tr.exe": "lang=tr&stat=1", "zorvin_uk.exe": "banerid=7&lang=uk",
                    "plain.exe": "", "dash.exe": "--lang=tr"}
        for name, tag in expected.items():
            path = os.path.join(out, name)
            with open(path, "rb") as f:
                data = f.read()
            row = next(line.split() for line in table if line.startswith(name + " "))
            self.assertEqual([name, str(len(data)), hashlib.sha256(data).hexdigest()], row[:3])
            self.assertEqual(tag, " ".join(row[3:]))
            verified = run("osslsigncode", "verify", "-CAfile",
                           os.path.join(self.pki, "root_ca.pem"), "-in", path)
            self.assertEqual(0, verified.returncode, verified.stdout)
            report = json.loads(run("python3", fixtures.tool("inspect"), "--json", path).stdout)
            self.assertEqual(tag, report["tag"] or "")
            self.assertIn("319", report["brand_packages"])
        self.assertIn("default brand package (319)", result.stdout.decode())

    def test_a_copy_given_twice_or_an_unreachable_time_stamp_server_stops_the_release(self):
        tags = os.path.join(self.dir.name, "tags.txt")
        env = dict(os.environ, BUILD=os.environ["LI_RELEASE_DIR"])
        cases = [("a.exe lang=tr\nb.exe\nA.exe lang=uk\n", {}, "A.exe is given twice"),
                 # Nothing listens there: a copy must not go out without the asked-for stamp.
                 ("a.exe lang=tr\n", {"TIMESTAMP_URL": "http://127.0.0.1:9/"},
                  "time-stamp server http://127.0.0.1:9/")]
        for lines, extra, message in cases:
            with self.subTest(message):
                with open(tags, "w") as f:
                    f.write(lines)
                out = tempfile.mkdtemp(dir=self.dir.name)
                result = run(fixtures.tool("release.sh"), os.environ["LI_TEST_KEYS"],
                             os.path.join(self.pki, "sign_sha256.pem"),
                             os.path.join(self.pki, "sign_sha256.key"), tags, out,
                             env=dict(env, **extra))
                self.assertNotEqual(0, result.returncode)
                self.assertIn(message, result.stderr.decode(errors="replace"))
                self.assertFalse(os.path.exists(os.path.join(out, "a.exe")))

    def test_release_builds_refuse_missing_keys_and_bad_packages(self):
        bad = os.path.join(self.dir.name, "packages")
        os.makedirs(os.path.join(bad, "stage"))
        with open(os.path.join(bad, "stage", "brand_config"), "w") as f:
            f.write('{"brand_id": "x\\u0000"}')
        subprocess.run(["gcab", "-c", "-n", os.path.join(bad, "brand_nul.cab"),
                        os.path.join(bad, "stage", "brand_config")], check=True)
        source = os.environ["LI_SOURCE_DIR"]
        cases = [
            ([], "needs the publisher's keys"),
            (["-DLI_TRUSTED_KEYS_FILE=" + os.environ["LI_TEST_KEYS"], "-DLI_PACKAGES_DIR=" + bad],
             "Package brand_nul.cab is refused by make-brand-package"),
        ]
        for extra, message in cases:
            with self.subTest(message):
                build = tempfile.mkdtemp(dir=self.dir.name)
                result = run("cmake", "-S", source, "-B", build, "-G", "Ninja",
                             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(
                                 source, "cmake", "toolchain-mingw-i686.cmake"),
                             "-DLI_PROFILE=release", "-DLI_BUILD_TESTS=OFF", *extra)
                self.assertNotEqual(0, result.returncode)
                # CMake wraps its messages: compare with the blanks collapsed.
                self.assertIn(message, " ".join(result.stderr.decode(errors="replace").split()))


class PackagesFolderTest(unittest.TestCase):
    """A packages folder as a distributor keeps it (backup copies, the extension in capitals, a
    key given twice), configured in a folder of its own; the generated resource script is
    linked alone into a resource-only DLL and read back, with no build of the installer."""

    def test_packages_are_taken_by_their_whole_names(self):
        with tempfile.TemporaryDirectory() as folder:
            packages = os.path.join(folder, "packages")
            os.makedirs(packages)
            for name, kind, text in [
                    ("brand_default.cab", "brand", '{"brand_id": "default"}'),
                    ("brand_default.old.cab", "brand", '{"brand_id": "old"}'),
                    ("brand_ua_uk.Cab", "brand", '{"brand_id": "ua-ru", "brand_id": "ua-uk"}'),
                    ("partner.CAB", "partner", '{"partner_id": "p-1"}'),
                    ("partner.bak.cab", "partner", '{"partner_id": "p-0"}')]:
                document = os.path.join(folder, name + ".json")
                with open(document, "w") as f:
                    f.write(text)
                made = fixtures.run_tool("make-brand-package", "--allow-duplicate-keys", "-k",
                                         kind, document, "-o", os.path.join(packages, name))
                self.assertEqual(0, made.returncode, made.stderr)
            source, build = os.environ["LI_SOURCE_DIR"], os.path.join(folder, "build")
            configured = run("cmake", "-S", source, "-B", build, "-G", "Ninja",
                             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(
                                 source, "cmake", "toolchain-mingw-i686.cmake"),
                             "-DLI_PROFILE=release", "-DLI_BUILD_TESTS=OFF",
                             "-DLI_TRUSTED_KEYS_FILE=" + os.environ["LI_TEST_KEYS"],
                             "-DLI_PACKAGES_DIR=" + packages)
            stderr = " ".join(configured.stderr.decode(errors="replace").split())
            self.assertEqual(0, configured.returncode, stderr)
            for skipped in ("brand_default.old.cab", "partner.bak.cab"):
                self.assertIn("skipping " + skipped, stderr)
            self.assertIn('duplicate key "brand_id"', stderr)
            script, dll = os.path.join(folder, "packages_only.rc"), os.path.join(folder, "p.dll")
            with open(script, "w") as f:
                f.write('#include "resources/resource_ids.h"\n#include "packages.rc"\n')
            subprocess.run(["i686-w64-mingw32-windres", "-O", "coff", "-I", source, "-I",
                            os.path.join(build, "resources_generated"), "-i", script, "-o",
                            script + ".o"], check=True)
            subprocess.run(["i686-w64-mingw32-ld", "--dll", "-e", "0", "-o", dll, script + ".o"],
                           check=True)
            report = json.loads(run("python3", fixtures.tool("inspect"), "--json", dll).stdout)
            # The build checks the bytes it takes, whenever they change after the configuration.
            check = ["cmake", "--build", build, "--target", "package_check/partner.CAB.checked"]
            self.assertEqual(0, run(*check).returncode)
            with open(os.path.join(folder, "bad.json"), "w") as f:
                f.write('{"partner_id": "p-2", "unknown_key": 1}')
            subprocess.run(["gcab", "-c", "-n", os.path.join(packages, "partner.CAB"),
                            os.path.join(folder, "bad.json")], check=True)
            rebuilt = run(*check)
            self.assertNotEqual(0, rebuilt.returncode)
            self.assertIn("Package partner.CAB must hold exactly the member",
                          " ".join(rebuilt.stdout.decode(errors="replace").split()))
        self.assertEqual({"319": {"brand_id": "default"}, "BRAND_UA_UK": {"brand_id": "ua-uk"}},
                         {k: v["document"] for k, v in report["brand_packages"].items()})
        self.assertEqual({"partner_id": "p-1"}, report["partner_package"]["document"])


if __name__ == "__main__":
    unittest.main()
