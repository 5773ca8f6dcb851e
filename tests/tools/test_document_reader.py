"""The distributor's tools and the installer read a configuration document alike: the same
documents go to the tools' reader (make-brand-package, used by inspect and the build) and to
the installer's parser under Wine (tests/programs/config_probe.cc), and both must take the
same "brand_id" from each, or none where the document is unreadable."""

import json
import os
import subprocess
import tempfile
import unittest

import fixtures

reader = fixtures.load_tool("make-brand-package")


def nested(depth, inner=""):
    """A value of `depth` arrays, one inside the other, around `inner`."""
    return "[" * depth + inner + "]" * depth


# The top object is 1 deep and the value of "a" 2, so each of its arrays is one deeper.
DOCUMENTS = [
    '{"brand_id": "plain"}',
    '{"brand_id": "first", "install": {}, "brand_id": "last"}',
    '{"brand_id": "x", "n": 1e400}',
    '{"brand_id": "x", "n": -1.8e308}',
    '{"brand_id": "largest", "n": 1.7976931348623157e308}',
    '{"brand_id": "tiny", "n": 1e-400, "m": -0.0e-99999}',
    '{"brand_id": "x", "n": 9223372036854775808}',
    '{"brand_id": "int64", "n": -9223372036854775808}',
    '{"brand_id": "deepest", "a": %s}' % nested(2047),
    '{"brand_id": "x", "a": %s}' % nested(2048),
    '{"brand_id": "deepest scalar", "a": %s}' % nested(2046, "1"),
    '{"brand_id": "x", "a": %s}' % nested(2047, "1"),
    '{"brand_id": "x", "a": %s}' % nested(100000),
    '{"brand_id": "brackets in a string", "a": "%s"}' % nested(5000),
    '"x"',
    '[{"brand_id": "in an array"}]',
    '{"brand_id": "x"} x',
    '{"brand_id": "x", "n": NaN}',
    '{"brand_id": "a\\u0000"}',
    '{"brand_id": "\\ud800"}',
    '\ufeff{"brand_id": "x"}',
    '{"brand_id": 7}',
    '',
]


class DocumentReaderTest(unittest.TestCase):
    def test_tools_and_installer_take_the_same_settings(self):
        probe = fixtures.build_file("test_programs", "config_probe.exe")
        wine_run = os.environ.get("LI_WINE_RUN") or fixtures.build_file("wine_run.sh")
        self.assertTrue(os.path.exists(probe), "missing build output %s" % probe)
        with tempfile.TemporaryDirectory() as folder:
            paths = []
            for i, text in enumerate(DOCUMENTS + [b'{"brand_id": "\xff"}']):
                paths.append(os.path.join(folder, "%02d.json" % i))
                with open(paths[-1], "wb") as f:
                    f.write(text if isinstance(text, bytes) else text.encode("utf-8"))
            result = subprocess.run([wine_run, probe] + [fixtures.wine_path(p) for p in paths],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=dict(os.environ, WINEDEBUG="-all"), timeout=240)
            self.assertEqual(0, result.returncode, result.stderr)
            installer = [json.loads(line) for line in result.stdout.decode().splitlines()]
            tools = []
            for path in paths:
                with open(path, "rb") as f:
                    raw = f.read()
                try:
                    document, _ = reader.read_document(raw)
                except ValueError:
                    document = None
                value = document.get("brand_id") if isinstance(document, dict) else None
                tools.append(value if isinstance(value, str) else "")
        self.assertEqual(installer, tools)
        # Not a comparison of two blind readers: each kind of answer occurs.
        self.assertEqual({"", "plain", "last", "largest", "tiny", "int64", "deepest",
                          "deepest scalar", "brackets in a string"}, set(tools))


if __name__ == "__main__":
    unittest.main()
