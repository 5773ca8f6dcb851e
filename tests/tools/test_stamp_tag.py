"""stamp-tag on small PE files made here: where the tag goes, what is rewritten, what is
refused."""

import os
import re
import subprocess
import struct
import tempfile
import unittest

import fixtures

stamp_tag = fixtures.load_tool("stamp-tag")


def tag_layout(data):
    """(entry offset, entry dwLength, tag offset) of a stamped file, computed independently."""
    entry, _ = fixtures.security_directory(data)
    der_length = struct.unpack_from(">H", data, entry + 10)[0]
    # 8-byte entry header + 4-byte DER header + contents, rounded up to 8.
    relative = 8 + 4 + der_length
    relative += -relative % 8
    return entry, struct.unpack_from("<I", data, entry)[0], entry + relative


class StampTest(unittest.TestCase):
    def setUp(self):
        self.image = fixtures.make_pe([("BIN", 305, 1033, b"prefs")])
        self.signed = fixtures.sign_fake(self.image)

    def test_tag_sits_behind_the_signature_at_an_8_byte_boundary(self):
        for content_length in (0x100, 0x101, 0x104, 0x105, 0x2F1, 0xFFF0):
            with self.subTest(content_length=content_length):
                signed = fixtures.sign_fake(self.image, content_length)
                stamped = stamp_tag.stamp(signed, b"lang=tr&stat=1")
                entry, length, tag = tag_layout(stamped)
                self.assertEqual(0, (tag - entry) % 8)
                self.assertEqual(b"Zvct\x00\x0elang=tr&stat=1", stamped[tag:tag + 20])
                # dwLength covers the tag; the table is padded to 8 and ends the file.
                self.assertEqual(tag + 20 - entry, length)
                offset, size = fixtures.security_directory(stamped)
                self.assertEqual(entry, offset)
                self.assertEqual(len(stamped), offset + size)
                self.assertEqual(0, size % 8)
                self.assertGreaterEqual(size, length)
                # Nothing before the signature's end changes except the directory size.
                self.assertEqual(signed[:fixtures.PE_OFFSET + 156],
                                 stamped[:fixtures.PE_OFFSET + 156])
                self.assertEqual(signed[fixtures.PE_OFFSET + 160:entry],
                                 stamped[fixtures.PE_OFFSET + 160:entry])
                self.assertEqual(signed[entry + 4:entry + 12 + content_length],
                                 stamped[entry + 4:entry + 12 + content_length])

    def test_restamping_replaces_the_tag(self):
        once = stamp_tag.stamp(self.signed, b"a=1")
        twice = stamp_tag.stamp(once, b"b=22")
        self.assertEqual(b"b=22", stamp_tag.read_tag(twice))
        self.assertNotIn(b"a=1", twice[len(self.signed) - 16:])
        # Same text again gives the same file, so stamps never pile up.
        self.assertEqual(once, stamp_tag.stamp(twice, b"a=1"))
        shorter = stamp_tag.stamp(stamp_tag.stamp(self.signed, b"x" * 500), b"y")
        self.assertEqual(stamp_tag.stamp(self.signed, b"y"), shorter)

    def test_text_lengths(self):
        # PE32+: the 64-bit test build on machines that run no 32-bit programs.
        signed64 = fixtures.sign_fake(fixtures.make_pe(magic=0x20B))
        for text in (b"", b"k", b"%D0%B0=%20", b"v" * 0xFFFF):
            with self.subTest(length=len(text)):
                stamped = stamp_tag.stamp(self.signed, text)
                self.assertEqual(text, stamp_tag.read_tag(stamped))
                self.assertEqual(text, stamp_tag.read_tag(stamp_tag.stamp(signed64, text)))
        with self.assertRaisesRegex(stamp_tag.TagError, "65535"):
            stamp_tag.stamp(self.signed, b"v" * 0x10000)

    def test_checksum_is_kept_valid_when_the_file_has_one(self):
        # A file that osslsigncode signed (it writes a checksum): osslsigncode computes the
        # checksum of the stamped file on its own and prints both values.
        with open(fixtures.build_file("stand_in", "good.exe"), "rb") as f:
            signed = f.read()
        stamped = stamp_tag.stamp(signed, b"a=1")
        pe = struct.unpack_from("<I", stamped, 0x3C)[0]
        field = pe + 24 + 64

        def osslsigncode_report(data):
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "stamped.exe")
                with open(path, "wb") as f:
                    f.write(data)
                return subprocess.run(["osslsigncode", "verify", "-in", path],
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT
                                      ).stdout.decode(errors="replace")

        output = osslsigncode_report(stamped)
        self.assertNotIn("invalid PE checksum", output)
        written = re.search(r"^PE checksum\s*:\s*([0-9A-Fa-f]{8})", output, re.M)
        self.assertTrue(written, output)
        self.assertEqual(struct.unpack_from("<I", stamped, field)[0], int(written.group(1), 16))
        # The same check sees a wrong checksum.
        wrong = bytearray(stamped)
        struct.pack_into("<I", wrong, field, struct.unpack_from("<I", stamped, field)[0] ^ 1)
        self.assertIn("invalid PE checksum", osslsigncode_report(bytes(wrong)))
        self.assertNotEqual(signed, stamped)
        # A zero checksum (what the linker writes) stays zero.
        field = fixtures.PE_OFFSET + 24 + 64
        self.assertEqual(0, struct.unpack_from("<I", stamp_tag.stamp(self.signed, b"a"), field)[0])

    def test_refusals(self):
        signed = bytearray(self.signed)
        entry, _ = fixtures.security_directory(self.signed)
        short_der = bytearray(self.signed)
        short_der[entry + 9] = 0x81
        second_entry = fixtures.sign_fake(self.image, extra=struct.pack("<IHH", 16, 0x200, 2) + b"x" * 8)
        not_at_end = self.signed + b"\0" * 16
        cases = {
            "unsigned": (self.image, "not signed"),
            "not a PE file": (b"hello world" * 10, "no MZ"),
            "no PE signature": (b"MZ" + self.signed[2:fixtures.PE_OFFSET] + b"XX" +
                                self.signed[fixtures.PE_OFFSET + 2:], "no PE signature"),
            "ROM image": (fixtures.sign_fake(fixtures.make_pe(magic=0x107)), "unknown optional"),
            "short DER length": (bytes(short_der), "two-byte DER"),
            "second entry": (second_entry, "more than one entry"),
            "table not at the end": (not_at_end, "not at the end"),
            "truncated": (bytes(signed[:entry + 6]), "not at the end"),
        }
        for name, (data, message) in cases.items():
            with self.subTest(name):
                with self.assertRaisesRegex(stamp_tag.TagError, message):
                    stamp_tag.stamp(data, b"a=1")


class ReadTagTest(unittest.TestCase):
    """The tool's reader follows the installer's rules, so --read shows what it would see."""

    def test_damaged_tags(self):
        stamped = bytearray(stamp_tag.stamp(fixtures.sign_fake(fixtures.make_pe()), b"lang=tr"))
        entry, _ = fixtures.security_directory(stamped)
        _, _, tag = tag_layout(stamped)

        def patched(offset, value):
            data = bytearray(stamped)
            data[offset:offset + len(value)] = value
            return bytes(data)

        cases = {
            "intact": (bytes(stamped), b"lang=tr"),
            "magic": (patched(tag, b"Zvcx"), None),
            "N past the end": (patched(tag + 4, b"\x01\x00"), None),
            "N zero": (patched(tag + 4, b"\x00\x00"), b""),
            "DER short form": (patched(entry + 9, b"\x81"), None),
            "certificate offset 0": (patched(fixtures.PE_OFFSET + 152, b"\0\0\0\0"), None),
            "certificate offset wraps": (patched(fixtures.PE_OFFSET + 152, b"\xf8\xff\xff\xff"), None),
            "e_lfanew past the end": (patched(0x3C, b"\xff\xff\xff\x7f"), None),
            "cut inside the text": (bytes(stamped[:tag + 8]), None),
            "empty": (b"", None),
        }
        for name, (data, expected) in cases.items():
            with self.subTest(name):
                self.assertEqual(expected, stamp_tag.read_tag(data))


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "installer.exe")
        with open(self.path, "wb") as f:
            f.write(fixtures.sign_fake(fixtures.make_pe()))

    def tearDown(self):
        self.dir.cleanup()

    def test_stamp_in_place_then_read(self):
        result = fixtures.run_tool("stamp-tag", self.path, "lang=uk&def=1")
        self.assertEqual(0, result.returncode, result.stderr)
        result = fixtures.run_tool("stamp-tag", "--read", self.path)
        self.assertEqual(0, result.returncode)
        self.assertEqual(b"lang=uk&def=1\n", result.stdout)

    def test_output_leaves_the_input_alone(self):
        with open(self.path, "rb") as f:
            before = f.read()
        out = os.path.join(self.dir.name, "tagged.exe")
        self.assertEqual(0, fixtures.run_tool("stamp-tag", self.path, "a=1", "-o", out).returncode)
        with open(self.path, "rb") as f:
            self.assertEqual(before, f.read())
        self.assertEqual(b"a=1\n", fixtures.run_tool("stamp-tag", "--read", out).stdout)

    def test_non_ascii_text_is_stored_as_utf8(self):
        self.assertEqual(0, fixtures.run_tool("stamp-tag", self.path, "city=Минск").returncode)
        self.assertEqual("city=Минск\n".encode("utf-8"),
                         fixtures.run_tool("stamp-tag", "--read", self.path).stdout)

    def test_failures(self):
        unsigned = os.path.join(self.dir.name, "unsigned.exe")
        with open(unsigned, "wb") as f:
            f.write(fixtures.make_pe())
        result = fixtures.run_tool("stamp-tag", unsigned, "a=1")
        self.assertEqual(2, result.returncode)
        self.assertIn(b"not signed", result.stderr)
        result = fixtures.run_tool("stamp-tag", "--read", self.path)
        self.assertEqual(1, result.returncode)
        self.assertIn(b"has no tag", result.stderr)
        self.assertEqual(2, fixtures.run_tool("stamp-tag", os.path.join(self.dir.name, "none.exe"),
                                              "a=1").returncode)
        self.assertEqual(2, fixtures.run_tool("stamp-tag", self.path).returncode)
        # An argument that is not UTF-8 is an error, not a traceback.
        result = fixtures.run_tool("stamp-tag", self.path, os.fsdecode(b"a=\xff"))
        self.assertEqual(2, result.returncode)
        self.assertEqual(b"stamp-tag: the tag text is not UTF-8\n", result.stderr)
        self.assertFalse(any(name.endswith(".tmp") for name in os.listdir(self.dir.name)))

    def test_help(self):
        result = fixtures.run_tool("stamp-tag", "--help")
        self.assertEqual(0, result.returncode)
        self.assertIn(b"--read", result.stdout)


if __name__ == "__main__":
    unittest.main()
