"""Reads what the shipped-executable checks need from a 32-bit PE image: the headers, the
section table, the import table, the delay-load descriptors and resources by type.

GNU ld leaves the delay-import data directory empty (MinGW's helper reaches its descriptors
by symbol), so delay-loaded DLLs are found by their descriptors: 32-byte records with the
RVA attribute whose name, import address table and name table all lie inside the image.
Every offset is checked against the file before it is read; a damaged image raises
PeError."""

import struct

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080
DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_BASERELOC = 5
DIRECTORY_LOAD_CONFIG = 10
# Offsets in the 32-bit load configuration: SEHandlerTable (a VA) and SEHandlerCount.
LOAD_CONFIG_SEH_TABLE = 0x40
LOAD_CONFIG_SEH_COUNT = 0x44


class PeError(ValueError):
    pass


class Section:
    def __init__(self, name, virtual_size, rva, raw_size, raw_offset, characteristics):
        self.name = name
        self.virtual_size = virtual_size
        self.rva = rva
        self.raw_size = raw_size
        self.raw_offset = raw_offset
        self.characteristics = characteristics


class PeImage:
    def __init__(self, data):
        self.data = data
        if self._u16(0) != 0x5A4D:
            raise PeError("no MZ header")
        pe = self._u32(0x3C)
        if self._bytes(pe, 4) != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, section_count, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self._bytes(pe + 4, 20))
        optional = pe + 24
        if self._u16(optional) != 0x10B:
            raise PeError("not a PE32 image")
        self.entry_point = self._u32(optional + 16)
        self.image_base = self._u32(optional + 28)
        self.section_alignment = self._u32(optional + 32)
        self.file_alignment = self._u32(optional + 36)
        self.os_version = (self._u16(optional + 40), self._u16(optional + 42))
        self.subsystem_version = (self._u16(optional + 48), self._u16(optional + 50))
        self.subsystem = self._u16(optional + 68)
        self.dll_characteristics = self._u16(optional + 70)
        directory_count = self._u32(optional + 92)
        if 96 + 8 * directory_count > optional_size:
            raise PeError("data directories overrun the optional header")
        self.directories = [struct.unpack_from("<II", self._bytes(optional + 96 + 8 * i, 8))
                            for i in range(directory_count)]
        table = optional + optional_size
        self.sections = []
        for i in range(section_count):
            raw = self._bytes(table + 40 * i, 40)
            name = raw[:8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", raw, 8)
            characteristics = struct.unpack_from("<I", raw, 36)[0]
            self.sections.append(Section(name, virtual_size, rva, raw_size, raw_offset,
                                         characteristics))

    # --- bounds-checked reads -------------------------------------------------------------
    def _bytes(self, offset, length):
        if offset < 0 or length < 0 or offset + length > len(self.data):
            raise PeError(f"read of {length} bytes at {offset:#x} beyond the file")
        return self.data[offset:offset + length]

    def _u16(self, offset):
        return struct.unpack("<H", self._bytes(offset, 2))[0]

    def _u32(self, offset):
        return struct.unpack("<I", self._bytes(offset, 4))[0]

    def offset_of(self, rva):
        """File offset of an RVA that lies in a section's file data, or None."""
        for s in self.sections:
            if s.rva <= rva < s.rva + s.raw_size:
                offset = s.raw_offset + rva - s.rva
                return offset if offset < len(self.data) else None
        return None

    def string_at(self, rva, limit=256):
        offset = self.offset_of(rva)
        if offset is None:
            raise PeError(f"string RVA {rva:#x} outside the file data")
        raw = self.data[offset:offset + limit]
        end = raw.find(b"\0")
        if end < 0:
            raise PeError(f"unterminated string at RVA {rva:#x}")
        return raw[:end].decode("ascii", "replace")

    # --- tables ---------------------------------------------------------------------------
    def section(self, name):
        return next((s for s in self.sections if s.name == name), None)

    def imports(self):
        """[(DLL name, [function names])] of the import table, in table order; a function
        imported by ordinal is "#<ordinal>"."""
        if len(self.directories) <= DIRECTORY_IMPORT:
            return []
        rva, size = self.directories[DIRECTORY_IMPORT]
        if rva == 0:
            return []
        offset = self.offset_of(rva)
        if offset is None:
            raise PeError("import directory outside the file data")
        found = []
        while True:
            record = self._bytes(offset, 20)
            if record == b"\0" * 20:
                return found
            name_table, _, _, name_rva, address_table = struct.unpack("<IIIII", record)
            name = self.string_at(name_rva)
            functions = self._names_of_thunks(name_table or address_table)
            if functions is None:
                raise PeError(f"the name table of {name} lies outside the file data")
            found.append((name, functions))
            offset += 20

    def imported_dlls(self):
        """DLL names of the import table, in table order."""
        return [name for name, _ in self.imports()]

    def resources(self, type_id):
        """The data of every resource of numeric type `type_id` (all names and languages)."""
        if len(self.directories) <= DIRECTORY_RESOURCE:
            return []
        rva = self.directories[DIRECTORY_RESOURCE][0]
        if rva == 0:
            return []
        root = self.offset_of(rva)
        if root is None:
            raise PeError("resource directory outside the file data")

        def entries(directory):
            named, numbered = struct.unpack("<HH", self._bytes(directory + 12, 4))
            for i in range(named + numbered):
                yield struct.unpack("<II", self._bytes(directory + 16 + 8 * i, 8))

        found = []
        for ident, offset in entries(root):
            if ident != type_id or not offset & 0x80000000:
                continue
            for _, names in entries(root + (offset & 0x7FFFFFFF)):
                for _, language in entries(root + (names & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack("<II", self._bytes(root + language, 8))
                    data = self.offset_of(data_rva)
                    if data is None:
                        raise PeError(f"resource data at RVA {data_rva:#x} outside the file data")
                    found.append(self._bytes(data, size))
        return found

    def safe_seh_handlers(self):
        """The handler RVAs of the SafeSEH table, or None when the image has none."""
        if len(self.directories) <= DIRECTORY_LOAD_CONFIG:
            return None
        rva, size = self.directories[DIRECTORY_LOAD_CONFIG]
        if rva == 0 or size < LOAD_CONFIG_SEH_COUNT + 4:
            return None
        offset = self.offset_of(rva)
        if offset is None:
            raise PeError("load configuration outside the file data")
        table_va = self._u32(offset + LOAD_CONFIG_SEH_TABLE)
        count = self._u32(offset + LOAD_CONFIG_SEH_COUNT)
        if table_va == 0:
            return None
        table = self.offset_of(table_va - self.image_base)
        if table is None:
            raise PeError("SafeSEH table outside the file data")
        return {self._u32(table + 4 * i) for i in range(count)}

    def _names_of_thunks(self, rva):
        names = []
        offset = self.offset_of(rva)
        if offset is None:
            return None
        while True:
            value = self._u32(offset)
            if value == 0:
                return names
            if value & 0x80000000:
                names.append(f"#{value & 0xFFFF}")
            else:
                hint_name = self.offset_of(value)
                if hint_name is None:
                    return None
                names.append(self.string_at(value + 2))
            offset += 4

    def delay_imports(self):
        """{DLL name: [function names]} of every delay-load descriptor in the file data."""
        found = {}
        for s in self.sections:
            if s.characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA:
                continue
            start, end = s.raw_offset, s.raw_offset + min(s.raw_size, s.virtual_size)
            for offset in range(start, end - 31, 4):
                attributes, name_rva, module_rva, iat_rva, int_rva = struct.unpack_from(
                    "<IIIII", self.data, offset)
                if attributes != 1 or not name_rva or not iat_rva or not int_rva:
                    continue
                if None in (self.offset_of(name_rva), self.offset_of(iat_rva),
                            self.offset_of(int_rva)):
                    continue
                try:
                    name = self.string_at(name_rva, 64)
                    functions = self._names_of_thunks(int_rva)
                except PeError:
                    continue
                if name.lower().endswith(".dll") and functions:
                    found[name] = functions
        return found


def load(path):
    with open(path, "rb") as f:
        return PeImage(f.read())
