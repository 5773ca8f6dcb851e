"""make-brand-package: which documents pass, which are refused, and what the cabinet holds."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

import fixtures

tool = fixtures.load_tool("make-brand-package")


def gcab_members(cabinet, folder):
    listing = subprocess.run(["gcab", "-t", cabinet], stdout=subprocess.PIPE, check=True)
    out = os.path.join(folder, "out")
    os.makedirs(out, exist_ok=True)
    subprocess.run(["gcab", "-x", "-C", out, cabinet], check=True)
    members = {}
    for name in os.listdir(out):
        with open(os.path.join(out, name), "rb") as f:
            members[name] = f.read()
    return listing.stdout.decode().split(), members


class ValidateTest(unittest.TestCase):
    def test_accepted_documents(self):
        documents = [
            {},
            {"brand_id": "tb", "brand_name": "tb", "languages": {"interface": "tr"}},
            {"install": {"setup_url": "https://d/x.arc", "conf_policy_url": "", "slide_url": "s",
                         "slide_url_if_tagged": "t", "alternate_installer_title": True,
                         "send_statistics": False, "make_browser_default": True,
                         "need_ppapi_flash": False}},
            # The installer falls back to top-level keys for every install.* setting.
            {"setup_url": "u", "conf_policy_url": "c", "slide_url": "s", "slide_url_if_tagged": "t",
             "alternate_installer_title": False, "send_statistics": True,
             "make_browser_default": False, "need_ppapi_flash": True},
            {"license_url": "l", "partner_id": "p-1", "urls": {"variations": "https://v"}},
            {"languages": {}, "urls": {}, "install": {}},
            {"brand_id": ""},
        ]
        for document in documents:
            with self.subTest(document=document):
                errors, _ = tool.validate(document)
                self.assertEqual([], errors)

    def test_refused_documents(self):
        cases = [
            ([], "must be a JSON object"),
            ("brand", "must be a JSON object"),
            ({"brandid": "x"}, 'unknown key "brandid"'),
            ({"install": {"setup_ur": "x"}}, 'unknown key "install.setup_ur"'),
            ({"languages": {"ui": "ru"}}, 'unknown key "languages.ui"'),
            ({"urls": {"variation": "x"}}, 'unknown key "urls.variation"'),
            ({"install": {"brand_id": "x"}}, 'unknown key "install.brand_id"'),
            ({"languages": {"interface": {"code": "ru"}}}, '"languages.interface" must be a string'),
            ({"brand_id": 7}, '"brand_id" must be a string, not number'),
            ({"brand_name": None}, '"brand_name" must be a string, not null'),
            ({"license_url": ["a"]}, '"license_url" must be a string, not array'),
            ({"partner_id": True}, '"partner_id" must be a string, not true or false'),
            ({"install": {"send_statistics": "false"}},
             '"install.send_statistics" must be true or false, not string'),
            ({"need_ppapi_flash": 1}, '"need_ppapi_flash" must be true or false, not number'),
            ({"install": "yes"}, '"install" must be an object, not string'),
            ({"languages": "ru"}, '"languages" must be an object, not string'),
            ({"urls": []}, '"urls" must be an object, not array'),
        ]
        for document, message in cases:
            with self.subTest(document=document):
                errors, _ = tool.validate(document)
                self.assertTrue(any(message in e for e in errors), errors)

    def test_what_the_installers_parser_refuses_is_refused(self):
        cases = [
            (b'{"brand_id": "a\\u0000b"}', "u0000"),
            (b'{"brand_id": "\\ud800"}', "lone surrogate"),
            (b'{"brand_id": "\\udc00x"}', "lone surrogate"),
            (b'{"a\\u0000": "x"}', "u0000"),
            (b'{"brand_id": "\xff"}', "not UTF-8"),
            (b'{"brand_id": "\xed\xa0\x80"}', "not UTF-8"),
            (b'{"partner_id": NaN}', "NaN"),
            (b'{"partner_id": -Infinity}', "Infinity"),
            (b'{"partner_id": 18446744073709551616}', "beyond 64 bits"),
            (b"\xef\xbb\xbf{}", "byte-order mark"),
            (b'{"brand_id": "' + b"x" * (16 << 20) + b'"}', "more than the installer reads"),
        ]
        for raw, message in cases:
            with self.subTest(raw=raw[:40]):
                with self.assertRaisesRegex(ValueError, message):
                    tool.read_document(raw)
        # A surrogate pair is one character, and a valid one.
        self.assertEqual(({"brand_id": "\U0001F600"}, []),
                         tool.read_document(b'{"brand_id": "\\ud83d\\ude00"}'))
        # The parser takes the last of two values; the reader says which keys came twice.
        self.assertEqual(({"brand_id": "y", "install": {"slide_url": "b"}},
                          ["slide_url", "brand_id"]),
                         tool.read_document(b'{"brand_id": "x", "install": {"slide_url": "a", '
                                            b'"slide_url": "b"}, "brand_id": "y"}'))
        # The parser's depth, read under any recursion limit of the interpreter.
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(100)
        try:
            deepest = tool.read_document(b"[" * 2047 + b"{}" + b"]" * 2047)[0]
        finally:
            sys.setrecursionlimit(limit)
        for _ in range(2047):
            deepest = deepest[0]
        self.assertEqual({}, deepest)

    def test_every_problem_is_reported(self):
        errors, _ = tool.validate({"a": 1, "b": 2, "brand_id": 3, "install": {"c": 4}})
        self.assertEqual(4, len(errors))

    def test_warnings(self):
        _, warnings = tool.validate({"languages": {"interface": "pt"}})
        self.assertTrue(any("not an installer language" in w for w in warnings))
        _, warnings = tool.validate({"languages": {"interface": "pt-BR"}})
        self.assertEqual([], warnings)
        _, warnings = tool.validate({"setup_url": "a", "install": {"setup_url": "b"}})
        self.assertTrue(any("both at the top level" in w for w in warnings))


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def test_brand_and_partner_packages(self):
        text = '{"brand_id": "ua", "languages": {"interface": "uk"}, "brand_name": "Зорвін"}\n'
        document = self.write("doc.json", text)
        for kind, member in (("brand", "brand_config"), ("partner", "partner_config")):
            with self.subTest(kind):
                cabinet = os.path.join(self.dir.name, kind + ".cab")
                result = fixtures.run_tool("make-brand-package", "--kind", kind, document,
                                           "-o", cabinet)
                self.assertEqual(0, result.returncode, result.stderr)
                with open(cabinet, "rb") as f:
                    self.assertEqual(b"MSCF", f.read(4))
                listing, members = gcab_members(cabinet, os.path.join(self.dir.name, kind))
                self.assertEqual([member], listing)
                # The member is the document byte for byte.
                self.assertEqual({member: text.encode("utf-8")}, members)

    def test_uncompressed_package(self):
        document = self.write("doc.json", json.dumps({"brand_id": "x" * 5000}))
        small = os.path.join(self.dir.name, "small.cab")
        plain = os.path.join(self.dir.name, "plain.cab")
        self.assertEqual(0, fixtures.run_tool("make-brand-package", document, "-o", small).returncode)
        self.assertEqual(0, fixtures.run_tool("make-brand-package", "--no-compress", document,
                                              "-o", plain).returncode)
        self.assertLess(os.path.getsize(small), 1000)
        self.assertGreater(os.path.getsize(plain), 5000)
        _, members = gcab_members(plain, os.path.join(self.dir.name, "plain"))
        self.assertEqual(5016, len(members["brand_config"]))

    def test_bad_documents_are_refused_and_nothing_is_written(self):
        cases = {
            "unknown key": ('{"brand": "x"}', b'unknown key "brand"'),
            "wrong type": ('{"install": {"make_browser_default": 0}}', b"must be true or false"),
            "not JSON": ('{"brand_id": ', b"not valid JSON"),
            "duplicate key": ('{"brand_id": "a", "brand_id": "b"}', b'duplicate key "brand_id"'),
            "byte-order mark": ("\ufeff{}".encode("utf-8"), b"byte-order mark"),
            "not UTF-8": (b'{"brand_id": "\xe9"}', b"not UTF-8"),
            "top-level array": ("[]", b"must be a JSON object"),
            # Only this one can be let through, as a warning; the package is written then.
            "duplicate key allowed": ('{"brand_id": "a", "brand_id": "b"}',
                                      b'warning: duplicate key "brand_id"', "--allow-duplicate-keys"),
        }
        for name, (text, message, *flags) in cases.items():
            with self.subTest(name):
                document = self.write("bad.json", text)
                cabinet = os.path.join(self.dir.name, "bad.cab")
                result = fixtures.run_tool("make-brand-package", *flags, document, "-o", cabinet)
                self.assertEqual(0 if flags else 1, result.returncode)
                self.assertIn(message, result.stderr)
                self.assertEqual(bool(flags), os.path.exists(cabinet))

    def test_check_only(self):
        good = self.write("good.json", '{"brand_id": "tb", "languages": {"interface": "xx"}}')
        result = fixtures.run_tool("make-brand-package", "--check", good)
        self.assertEqual(0, result.returncode)
        self.assertIn(b"warning", result.stderr)
        self.assertEqual(["good.json"], os.listdir(self.dir.name))
        # Without --check an output is required.
        self.assertEqual(2, fixtures.run_tool("make-brand-package", good).returncode)
        self.assertEqual(2, fixtures.run_tool("make-brand-package", "--check",
                                              os.path.join(self.dir.name, "missing.json")).returncode)

    def test_gcab_failure_is_reported(self):
        good = self.write("good.json", "{}")
        result = fixtures.run_tool("make-brand-package", good, "-o",
                                   os.path.join(self.dir.name, "no", "such", "folder.cab"))
        self.assertEqual(2, result.returncode)
        result = fixtures.run_tool("make-brand-package", "--gcab", "/nonexistent/gcab", good, "-o",
                                   os.path.join(self.dir.name, "x.cab"))
        self.assertEqual(2, result.returncode)

    def test_help(self):
        result = fixtures.run_tool("make-brand-package", "--help")
        self.assertEqual(0, result.returncode)
        self.assertIn(b"partner_config", result.stdout)


if __name__ == "__main__":
    unittest.main()
