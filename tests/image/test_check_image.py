"""The image checks against small hand-made PE images (each with one fault, so that every
check is seen to fire) and against the executables this build made.

Environment: LI_LOCAL_IMAGE, LI_LOCAL_MAP (the local-profile executable and its map) and
LI_RELEASE_IMAGE, LI_RELEASE_MAP (the release profile's, built by the test fixture). A test
whose file is missing fails: the fixture was meant to build it."""

import os
import struct
import unittest

import check_image
import pe_image

IMAGE_BASE = 0x400000
SECTION_RVAS = {".text": 0x1000, ".data": 0x2000, ".idata": 0x3000, ".reloc": 0x4000}
FILE_ALIGNMENT = 0x200


def build_image(imports=("KERNEL32.dll", "USER32.dll"), delay=("wininet.dll",),
                dll_characteristics=0x8140, relocations=True, subsystem=(4, 0),
                os_version=(4, 0), text_flags=0x60000020, section_alignment=0x1000,
                file_alignment=FILE_ALIGNMENT, safe_seh=None):
    """A PE32 image with an import table, delay-load descriptors in .data and a .reloc
    section, laid out as GNU ld lays out the installer."""
    # .idata: descriptors, then the name strings and one-entry thunk tables.
    idata_rva = SECTION_RVAS[".idata"]
    base = idata_rva + 20 * (len(imports) + 1)  # the strings and thunks follow the records
    descriptors = bytearray()
    tail = bytearray()
    for name in imports:
        hint_name = len(tail)
        tail += b"\0\0Function\0\0"
        thunk = len(tail)
        tail += struct.pack("<II", base + hint_name, 0)
        name_offset = len(tail)
        tail += name.encode() + b"\0"
        descriptors += struct.pack("<IIIII", base + thunk, 0, 0, base + name_offset,
                                   base + thunk)
    descriptors += b"\0" * 20
    idata = bytes(descriptors + tail)

    # .data: a delay-load descriptor per DLL, its name and its name table.
    data_rva = SECTION_RVAS[".data"]
    data = bytearray(b"\0" * 16)
    for name in delay:
        record = len(data)
        data += b"\0" * 32
        hint_name = len(data)
        data += b"\0\0InternetOpenW\0\0"
        int_table = len(data)
        data += struct.pack("<II", data_rva + hint_name, 0)
        iat = len(data)
        data += struct.pack("<II", 0, 0)
        name_offset = len(data)
        data += name.encode() + b"\0\0\0\0"
        struct.pack_into("<IIIII", data, record, 1, data_rva + name_offset, data_rva + 8,
                         data_rva + iat, data_rva + int_table)
    # A load configuration with a SafeSEH table of the given handler RVAs.
    load_config = None
    if safe_seh is not None:
        table = len(data)
        data += b"".join(struct.pack("<I", rva) for rva in safe_seh)
        load_config = (data_rva + len(data), 0x48)
        config = bytearray(0x48)
        struct.pack_into("<III", config, 0, 0x48, 0, 0)
        struct.pack_into("<II", config, 0x40, IMAGE_BASE + data_rva + table, len(safe_seh))
        data += config
    data = bytes(data)

    reloc = struct.pack("<IIHH", SECTION_RVAS[".text"], 12, 0x3000, 0) if relocations else b""
    bodies = [(".text", b"\xc3" * 16, text_flags), (".data", data, 0xC0000040),
              (".idata", idata, 0xC0000040)]
    if relocations:
        bodies.append((".reloc", reloc, 0x42000040))

    header_size = 0x400
    sections = b""
    raw = b""
    offset = header_size
    for name, body, flags in bodies:
        size = (len(body) + FILE_ALIGNMENT - 1) // FILE_ALIGNMENT * FILE_ALIGNMENT
        sections += struct.pack("<8sIIIIIIHHI", name.encode(), len(body), SECTION_RVAS[name],
                                size, offset, 0, 0, 0, 0, flags)
        raw += body.ljust(size, b"\0")
        offset += size

    directories = [(0, 0)] * 16
    directories[1] = (idata_rva, len(idata))
    if relocations:
        directories[5] = (SECTION_RVAS[".reloc"], len(reloc))
    if load_config:
        directories[10] = load_config
    optional = struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 40, 0x200, 0x600, 0, 0x1000, 0x1000,
        0x2000, IMAGE_BASE, section_alignment, file_alignment, os_version[0], os_version[1],
        0, 0, subsystem[0], subsystem[1], 0, 0x5000, header_size, 0, 2, dll_characteristics,
        0x200000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    characteristics = 0x0102 | (0 if relocations else 0x0001)
    coff = struct.pack("<HHIIIHH", 0x14C, len(bodies), 0, 0, 0, len(optional),
                       characteristics)
    dos = b"MZ".ljust(0x3C, b"\0") + struct.pack("<I", 0x40)
    headers = (dos + b"PE\0\0" + coff + optional + sections).ljust(header_size, b"\0")
    return headers + raw


class SyntheticImageTest(unittest.TestCase):
    def test_each_fault_is_reported(self):
        cases = [
            ("sound image", {}, None),
            ("a DLL that Windows does not ship", {"imports": ("KERNEL32.dll",
                                                              "libstdc++-6.dll")},
             "libstdc++-6.dll is in the import table"),
            ("a system DLL at start-up", {"imports": ("KERNEL32.dll", "SHELL32.dll")},
             "shell32.dll is in the import table"),
            ("WinINet at start-up", {"imports": ("KERNEL32.dll", "WININET.dll")},
             "wininet.dll is in the import table"),
            ("WinINet not delay-loaded", {"delay": ()}, "no delay-load descriptor"),
            ("a DLL added in Vista, delay-loaded", {"delay": ("wininet.dll", "bcrypt.dll")},
             "bcrypt.dll is delay-loaded"),
            ("exception handlers switched off", {"dll_characteristics": 0x8540}, "NO_SEH"),
            ("no ASLR", {"dll_characteristics": 0x8100}, "DYNAMIC_BASE"),
            ("no DEP", {"dll_characteristics": 0x8040}, "NX_COMPAT"),
            ("per-user Windows folder", {"dll_characteristics": 0x0140}, "TERMINAL_SERVER_AWARE"),
            ("relocations stripped", {"relocations": False}, "base relocations are missing"),
            ("Vista subsystem", {"subsystem": (6, 0)}, "subsystem version"),
            ("Vista OS version", {"os_version": (6, 0)}, "OS version"),
            ("writable code", {"text_flags": 0xE0000020}, "both writable and executable"),
            ("sub-page sections", {"section_alignment": 0x200}, "section alignment"),
            ("tiny file alignment", {"file_alignment": 0x10}, "file alignment"),
        ]
        for label, changes, expected in cases:
            with self.subTest(label):
                problems = check_image.image_problems(pe_image.PeImage(build_image(**changes)))
                if expected is None:
                    self.assertEqual([], problems)
                else:
                    self.assertTrue(any(expected in p for p in problems), problems)

    def test_imports_and_delay_loads_are_read_back(self):
        image = pe_image.PeImage(build_image(imports=("KERNEL32.dll", "ole32.dll")))
        self.assertEqual(["KERNEL32.dll", "ole32.dll"], image.imported_dlls())
        self.assertEqual({"wininet.dll": ["InternetOpenW"]}, image.delay_imports())

    def test_damaged_images_are_refused(self):
        good = build_image()
        damaged = [
            ("empty", b""),
            ("no MZ", b"ZM" + good[2:]),
            ("e_lfanew beyond the file", good[:0x3C] + struct.pack("<I", 0x7FFFFFF0)
             + good[0x40:]),
            ("cut inside the section table", good[:0x40 + 24 + 224 + 20]),
        ]
        for label, data in damaged:
            with self.subTest(label):
                with self.assertRaises(pe_image.PeError):
                    pe_image.PeImage(data).imported_dlls()

    def test_forbidden_library_members_in_a_map(self):
        header = "Linker script and memory map\n"
        cases = [
            (" .text 0x1 0x2 libli_core.a(entry.cc.obj)\n", None),
            (" .text 0x1 0x2 /usr/lib/gcc/libgcc_eh.a(unwind-dw2.o)\n", "DWARF unwinder"),
            (" .text 0x1 0x2 libstdc++.a(eh_personality.o)\n", "C++ exception support"),
            (" .text 0x1 0x2 libstdc++.a(guard.o)\n", "static-init guards"),
            (" .text 0x1 0x2 libmingwex.a(lib32_libmingwex_a-strtodg.o)\n", "strtod"),
            (" .text 0x1 0x2 /usr/lib/crt2u.o\n", "start-up code"),
            (" .rdata_runtime_pseudo_reloc\n                0x1 0x18 x_rtr000000.o\n",
             "pseudo-relocations"),
            (" *(.rdata_runtime_pseudo_reloc)\n", None),
        ]
        for line, expected in cases:
            with self.subTest(line.strip()):
                problems = check_image.map_problems(header + line)
                if expected is None:
                    self.assertEqual([], problems)
                else:
                    self.assertTrue(any(expected in p for p in problems), problems)
        self.assertTrue(check_image.map_problems("not a map"))

    def test_safe_seh_table_must_list_the_guard_handler(self):
        handler_line = f"                0x{IMAGE_BASE + 0x1004:08x}                li_seh_handler\n"
        cases = [
            ("no load configuration", None, handler_line, None),
            ("handler listed", (0x1000, 0x1004), handler_line, None),
            ("handler left out", (0x1000,), handler_line, "leaves out li_seh_handler"),
            ("handler unknown", (0x1000,), "", "names no li_seh_handler"),
        ]
        for label, table, map_text, expected in cases:
            with self.subTest(label):
                image = pe_image.PeImage(build_image(safe_seh=table))
                problems = check_image.safe_seh_problems(image, map_text)
                if expected is None:
                    self.assertEqual([], problems)
                else:
                    self.assertTrue(any(expected in p for p in problems), problems)

    def test_entry_point_must_be_the_programs_own(self):
        image = pe_image.PeImage(build_image())  # starts at RVA 0x1000
        cases = [(0x1000, None), (0x1010, "is not li_process_start"), (None, "names no")]
        for rva, expected in cases:
            line = "" if rva is None else f"  0x{IMAGE_BASE + rva:08x}    li_process_start\n"
            problems = check_image.entry_problems(image, line)
            with self.subTest(rva=rva):
                self.assertEqual(expected is None, not problems, problems)
                if expected:
                    self.assertIn(expected, problems[0])

class BuiltImageTest(unittest.TestCase):
    def check(self, image_variable, map_variable):
        image = os.environ.get(image_variable)
        self.assertTrue(image and os.path.isfile(image), f"{image_variable}={image}")
        problems = check_image.image_problems(pe_image.load(image))
        map_file = os.environ.get(map_variable)
        if map_file:
            self.assertTrue(os.path.isfile(map_file), f"{map_variable}={map_file}")
            with open(map_file, encoding="utf-8", errors="replace") as f:
                map_text = f.read()
            problems += check_image.map_problems(map_text)
            loaded = pe_image.load(image)
            problems += check_image.safe_seh_problems(loaded, map_text)
            problems += check_image.entry_problems(loaded, map_text)
        self.assertEqual([], problems)

    def test_local_profile_executable(self):
        arch = os.environ.get("LI_LOCAL_ARCH", "i686")
        if arch != "i686":
            self.skipTest(f"the local build is a {arch} test build; what ships is the x86 one")
        self.check("LI_LOCAL_IMAGE", "LI_LOCAL_MAP")

    def test_release_profile_executable(self):
        self.check("LI_RELEASE_IMAGE", "LI_RELEASE_MAP")


if __name__ == "__main__":
    unittest.main()
