"""inspect: the resource walk over PE files made here and over the built installer."""

import json
import os
import struct
import subprocess
import tempfile
import unittest

import fixtures

inspect_tool = fixtures.load_tool("inspect")
stamp_tag = fixtures.load_tool("stamp-tag")

INSTALLER_LANGUAGES = [1028, 1029, 1031, 1033, 1036, 1040, 1041, 1046, 1049, 1055, 1058, 2052,
                       2070, 3082]


def cabinet(member, text, folder):
    path = os.path.join(folder, member)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    out = path + ".cab"
    subprocess.run(["gcab", "-c", "-n", "-z", out, path], check=True)
    with open(out, "rb") as f:
        return f.read()


class InspectTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def image(self):
        d = self.dir.name
        return fixtures.make_pe([
            ("BIN", 319, 1033, cabinet("brand_config", '{"brand_id": "zorvin"}', d)),
            ("BIN", "BRAND_UA_UK", 1033, cabinet("brand_config", '{"brand_id": "ua-uk"}', d)),
            ("BIN", 320, 1033, cabinet("partner_config", '{"partner_id": "p-9"}', d)),
            ("BIN", "BRAND_BROKEN", 1033, b"not a cabinet"),
            ("BIN", "BRAND_WRONG", 1033, cabinet("partner_config", "{}", d)),
            ("BIN", "BRAND_NUL", 1033, cabinet("brand_config", '{"brand_id": "a\\u0000"}', d)),
            ("BIN", "BRAND_TWICE", 1033,
             cabinet("brand_config", '{"brand_id": "a", "brand_id": "b"}', d)),
            ("BIN", 305, 1033, b"{}" * 10),
            ("BIN", 306, 1033, b"<vendor/>"),
            (6, 26, 1049, b"\0\0" * 16),
            (6, 26, 1055, b"\0\0" * 16),
            (6, 27, 1049, b"\0\0" * 16),
            (24, 1, 1033, b"<assembly/>"),
        ])

    def test_report_of_a_made_file(self):
        report = inspect_tool.inspect(self.image())
        self.assertIsNone(report["tag"])
        self.assertEqual([1049, 1055], report["string_table_languages"])
        brand = report["brand_packages"]
        self.assertEqual({"brand_id": "zorvin"}, brand["319"]["document"])
        self.assertEqual({"brand_id": "ua-uk"}, brand["BRAND_UA_UK"]["document"])
        self.assertIn("not a readable cabinet", brand["BRAND_BROKEN"]["error"])
        self.assertIn('no member "brand_config"', brand["BRAND_WRONG"]["error"])
        # What the installer's parser refuses is shown as refused, not as a document.
        self.assertIn("the installer would not read this document", brand["BRAND_NUL"]["error"])
        # A key given twice is read, as the installer reads it: the last value wins.
        self.assertEqual({"brand_id": "b"}, brand["BRAND_TWICE"]["document"])
        self.assertEqual(['duplicate key "brand_id": the installer takes the last value'],
                         brand["BRAND_TWICE"]["warnings"])
        self.assertEqual({"partner_id": "p-9"}, report["partner_package"]["document"])
        self.assertEqual({"master_preferences": 20, "clids.xml": 9}, report["vendor_documents"])

    def test_tag_of_a_stamped_file(self):
        stamped = stamp_tag.stamp(fixtures.sign_fake(self.image()), b"banner=2&lang=ru")
        self.assertEqual("banner=2&lang=ru", inspect_tool.inspect(stamped)["tag"])

    def test_text_output(self):
        path = os.path.join(self.dir.name, "made.exe")
        with open(path, "wb") as f:
            f.write(stamp_tag.stamp(fixtures.sign_fake(self.image()), b"a=1"))
        result = fixtures.run_tool("inspect", path)
        self.assertEqual(0, result.returncode, result.stderr)
        text = result.stdout.decode("utf-8")
        self.assertIn("Tag: a=1\n", text)
        self.assertIn("Default brand package (319) [", text)
        self.assertIn('    "brand_id": "zorvin"\n', text)
        self.assertIn("Brand package BRAND_UA_UK [", text)
        self.assertIn("Partner package (320) [", text)
        self.assertIn('  warning: duplicate key "brand_id": the installer takes the last value\n',
                      text)
        self.assertIn('    "partner_id": "p-9"\n', text)
        self.assertIn("String tables (2): 1049 1055\n", text)
        self.assertIn("Vendor documents: clids.xml [9B], master_preferences [20B]\n", text)

    def test_file_without_resources(self):
        report = inspect_tool.inspect(fixtures.make_pe())
        self.assertEqual({}, report["brand_packages"])
        self.assertIsNone(report["partner_package"])
        self.assertEqual([], report["string_table_languages"])

    def test_damaged_files_give_an_error_not_a_traceback(self):
        image = bytearray(self.image())
        section = fixtures.FILE_ALIGN

        def patched(offset, value):
            data = bytearray(image)
            data[offset:offset + len(value)] = value
            return bytes(data)

        cases = {
            "not a PE file": b"plain text",
            "no PE signature": patched(fixtures.PE_OFFSET, b"NE\0\0"),
            "resource directory outside every section":
                fixtures.make_pe([("BIN", 1, 0, b"x")], resource_rva=0x9000),
            "directory entry count too large": patched(section + 14, b"\xff\x7f"),
            "resource loop": patched(section + 20, struct.pack("<I", 0x80000000)),
            "truncated": bytes(image[:section + 8]),
            "unknown optional header": patched(fixtures.PE_OFFSET + 24, b"\x07\x01"),
        }
        for name, data in cases.items():
            with self.subTest(name):
                path = os.path.join(self.dir.name, "damaged.exe")
                with open(path, "wb") as f:
                    f.write(data)
                result = fixtures.run_tool("inspect", path)
                self.assertEqual(2, result.returncode, result.stdout)
                self.assertIn(b"inspect: ", result.stderr)
                self.assertNotIn(b"Traceback", result.stderr)

    def test_built_installer(self):
        installer = fixtures.build_file("lite_installer.exe")
        if not os.path.exists(installer):
            self.fail("the installer is not built (LI_BUILD_DIR=%s)" % fixtures.BUILD_DIR)
        result = fixtures.run_tool("inspect", "--json", installer)
        self.assertEqual(0, result.returncode, result.stderr)
        report = json.loads(result.stdout)
        self.assertIsNone(report["tag"])
        self.assertEqual(INSTALLER_LANGUAGES, report["string_table_languages"])
        self.assertIn("document", report["brand_packages"]["319"])
        vendor = os.path.join(fixtures.SOURCE_DIR, "resources", "vendor")
        self.assertEqual({
            "master_preferences": os.path.getsize(os.path.join(vendor, "master_preferences.json")),
            "clids.xml": os.path.getsize(os.path.join(vendor, "clids.xml")),
            "clids_searchband.xml": os.path.getsize(os.path.join(vendor, "clids_searchband.xml")),
        }, report["vendor_documents"])

    def test_help(self):
        result = fixtures.run_tool("inspect", "--help")
        self.assertEqual(0, result.returncode)
        self.assertIn(b"--json", result.stdout)


if __name__ == "__main__":
    unittest.main()
