"""The tools' document reader (tools/brand_document.py: make-brand-package, inspect and the
build use it) and the installer's parser (tests/programs/config_probe.cc, under Wine) read the
same documents and refuse the same ones, and take the same "brand_id" from those they read."""

import json
import os
import subprocess
import tempfile
import unittest

import fixtures

import brand_document as reader  # in tools/, which fixtures puts on the path


def doc(brand_id, extra=""):
    return '{"brand_id": "%s"%s}' % (brand_id, extra)


# The top object is 1 deep and the value of "a" 2: the parser reads values up to 2048 deep.
DOCUMENTS = [
    doc("plain"), '{"brand_id": "first", "install": {}, "brand_id": "last"}',
    doc("x", ', "n": 1e400'), doc("x", ', "n": -1.8e308'), doc("x", ', "n": 9223372036854775808'),
    doc("largest", ', "n": 1.7976931348623157e308, "m": -9223372036854775808'),
    doc("tiny", ', "n": 1e-400, "m": -0.0e-99999'),
    doc("deepest", ', "a": ' + "[" * 2047 + "]" * 2047),
    doc("x", ', "a": ' + "[" * 2048 + "]" * 2048),
    doc("deepest scalar", ', "a": ' + "[" * 2046 + "1" + "]" * 2046),
    doc("x", ', "a": ' + "[" * 2047 + "1" + "]" * 2047), doc("x", ', "a": ' + "[" * 100000),
    doc("brackets in a string", ', "a": "%s"' % ("[" * 5000)),
    '"x"', '[{"brand_id": "in an array"}]', doc("x") + " x", doc("x", ', "n": NaN'),
    doc("a\\u0000"), doc("\\ud800"), "\ufeff" + doc("x"), '{"brand_id": 7}', "",
    b'{"brand_id": "\xff"}',
]


class DocumentReaderTest(unittest.TestCase):
    def test_tools_and_installer_take_the_same_settings(self):
        with tempfile.TemporaryDirectory() as folder:
            paths, tools = [], []
            for i, text in enumerate(DOCUMENTS):
                raw = text if isinstance(text, bytes) else text.encode("utf-8")
                paths.append(os.path.join(folder, "%02d.json" % i))
                with open(paths[-1], "wb") as f:
                    f.write(raw)
                try:
                    document = reader.read_document(raw)[0]
                except ValueError:
                    tools.append(None)
                    continue
                value = document.get("brand_id") if isinstance(document, dict) else None
                tools.append(value if isinstance(value, str) else "")
            probe = fixtures.build_file("test_programs", "config_probe.exe")
            result = subprocess.run([os.environ["LI_WINE_RUN"], probe] +
                                    [fixtures.wine_path(p) for p in paths], stdout=subprocess.PIPE,
                                    env=dict(os.environ, WINEDEBUG="-all"), timeout=240)
        self.assertEqual([json.loads(line) for line in result.stdout.decode().splitlines()], tools)
        # Each kind of answer occurs, so neither reader can be blind.
        self.assertEqual({None, "", "plain", "last", "largest", "tiny", "deepest",
                          "deepest scalar", "brackets in a string"}, set(tools))


if __name__ == "__main__":
    unittest.main()
