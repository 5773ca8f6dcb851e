"""Shared helpers of the tool tests: paths of the build, loading the tools as modules, and
small PE files built from scratch (headers, one section with a resource directory, and an
optional certificate table standing in for a signature)."""

import importlib.machinery
import importlib.util
import os
import struct
import subprocess
import sys

SOURCE_DIR = os.environ.get("LI_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.environ.get("LI_BUILD_DIR", "")
TOOLS = os.path.join(SOURCE_DIR, "tools")
# The tools import their shared modules from their own folder, as a script run from there does.
sys.path.insert(0, TOOLS)


def tool(name):
    return os.path.join(TOOLS, name)


def run_tool(name, *args, **kwargs):
    return subprocess.run([sys.executable, tool(name)] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kwargs)


def load_tool(name):
    module_name = name.replace("-", "_") + "_tool"
    loader = importlib.machinery.SourceFileLoader(module_name, tool(name))
    module_spec = importlib.util.spec_from_loader(module_name, loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


def build_file(*parts):
    return os.path.join(BUILD_DIR, *parts)


# --- PE images -------------------------------------------------------------------------

PE_OFFSET = 0x80
SECTION_RVA = 0x1000
FILE_ALIGN = 0x200


def _resource_section(resources, rva):
    """A resource directory (types -> names -> languages) for [(type, name, lang, bytes)]."""
    tree = {}
    for rtype, name, lang, body in resources:
        tree.setdefault(rtype, {}).setdefault(name, {})[lang] = body

    def ordered(keys):
        # Named entries first, then numbered ones, each sorted: as resource compilers do.
        named = sorted(k for k in keys if isinstance(k, str))
        numbered = sorted(k for k in keys if not isinstance(k, str))
        return named, numbered

    layout = bytearray()
    strings = bytearray()
    data_entries = []
    payload = bytearray()

    # Directories first (breadth first), then the data entries, the names and the data.
    def dir_size(node):
        return 16 + 8 * len(node)

    order = []  # breadth-first list of (node, level)
    queue = [(tree, 0)]
    while queue:
        node, level = queue.pop(0)
        order.append((node, level))
        if level < 2:
            named, numbered = ordered(node.keys())
            for key in named + numbered:
                queue.append((node[key], level + 1))
    offsets = {}
    at = 0
    for node, level in order:
        offsets[id(node)] = at
        at += dir_size(node)
    data_entry_base = at
    leaf_count = sum(len(node) for node, level in order if level == 2)
    string_base = data_entry_base + 16 * leaf_count
    name_offsets = {}
    for node, level in order:
        if level < 3:
            for key in node:
                if isinstance(key, str) and key not in name_offsets:
                    name_offsets[key] = string_base + len(strings)
                    encoded = key.encode("utf-16-le")
                    strings += struct.pack("<H", len(key)) + encoded
    payload_base = (string_base + len(strings) + 7) & ~7

    leaf_index = 0
    for node, level in order:
        named, numbered = ordered(node.keys())
        layout += struct.pack("<IIHHHH", 0, 0, 0, 0, len(named), len(numbered))
        for key in named + numbered:
            name_field = (0x80000000 | name_offsets[key]) if isinstance(key, str) else key
            if level < 2:
                target = 0x80000000 | offsets[id(node[key])]
            else:
                target = data_entry_base + 16 * leaf_index
                body = node[key]
                data_entries.append(struct.pack("<IIII", rva + payload_base + len(payload),
                                                len(body), 0, 0))
                payload += body + b"\0" * (-len(body) % 8)
                leaf_index += 1
            layout += struct.pack("<II", name_field, target)
    section = layout + b"".join(data_entries) + strings
    section += b"\0" * (payload_base - len(section)) + payload
    return bytes(section)


def make_pe(resources=(), magic=0x10B, checksum=0, resource_rva=None):
    """A PE32 (or PE32+) image with one section ".rsrc" holding `resources`."""
    section = _resource_section(resources, SECTION_RVA) if resources else b""
    raw_size = (len(section) + FILE_ALIGN - 1) // FILE_ALIGN * FILE_ALIGN or FILE_ALIGN
    optional_size = 224 if magic == 0x10B else 240
    header = bytearray(FILE_ALIGN)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, PE_OFFSET)
    header[PE_OFFSET:PE_OFFSET + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", header, PE_OFFSET + 4, 0x14C, 1, 0, 0, 0, optional_size, 0x102)
    optional = PE_OFFSET + 24
    struct.pack_into("<H", header, optional, magic)
    struct.pack_into("<I", header, optional + 64, checksum)
    directories = optional + (96 if magic == 0x10B else 112)
    struct.pack_into("<I", header, directories - 4, 16)
    if resources or resource_rva is not None:
        struct.pack_into("<II", header, directories + 16,
                         SECTION_RVA if resource_rva is None else resource_rva, len(section))
    table = optional + optional_size
    header[table:table + 8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", header, table + 8, max(len(section), 1), SECTION_RVA, raw_size,
                     FILE_ALIGN)
    return bytes(header) + section + b"\0" * (raw_size - len(section))


def der_blob(content_length):
    """A stand-in for a PKCS#7 signature: a DER SEQUENCE with a two-byte length."""
    return b"\x30\x82" + struct.pack(">H", content_length) + bytes(
        (i * 7 + 3) & 0xFF for i in range(content_length))


def sign_fake(image, content_length=0x2F1, extra=b""):
    """`image` with a certificate table of one entry (the DER stand-in, padded to 8) at its
    end, as a signing tool leaves it. `extra` is placed behind the entry (a second entry)."""
    image = bytearray(image + b"\0" * (-len(image) % 8))
    blob = der_blob(content_length)
    entry = struct.pack("<IHH", 8 + len(blob), 0x0200, 0x0002) + blob
    entry += b"\0" * (-len(entry) % 8)
    offset = len(image)
    table = entry + extra
    struct.pack_into("<II", image, security_directory_offset(image), offset, len(table))
    return bytes(image) + table


def security_directory_offset(data):
    """Data directory 4: 16 bytes further on in a PE32+ optional header."""
    return PE_OFFSET + (168 if struct.unpack_from("<H", data, PE_OFFSET + 24)[0] == 0x20B else 152)


def security_directory(data):
    return struct.unpack_from("<II", data, security_directory_offset(data))


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")
