"""Checks of the shipped executable that no Windows test can see, because Wine loads images
more leniently than Windows does.

  check_image.py <lite_installer.exe> [--map <link map>]

Prints every problem found and exits 1 if there is one. The image checks: the import table
names only KnownDLLs (which Windows never takes from the program's folder), and only
functions that XP SP3's copy of each exports (xp_sp3_exports.txt), and none of the C
runtime's functions that show a message box; every other DLL, WinINet among them, is
delay-loaded, one that all Windows versions from XP to 11 ship, and only for functions that
XP SP3's copy exports; ASLR and DEP stay declared, with the relocations ASLR needs on
x86; the image is terminal-server aware (else a Remote Desktop host gives it a per-user
Windows folder, where the elevated child makes its private folder); structured exception
handlers stay allowed (no NO_SEH flag); the image stays loadable on XP (subsystem and OS
version at most 5.1, page-aligned sections, no section both writable and executable) and its icon showable there (no PNG images). The map checks: the runtime
replacements in entry/runtime_overrides.cc keep the library code they replace out of the
link, the runtime's start-up code stays out, no reference needs a pseudo-relocation (the
program's entry applies none), the image starts at the program's own entry point, and a
SafeSEH table, if the image has one, lists the exception guard's handler."""

import argparse
import os
import re
import sys

import pe_image

# The only DLLs the import table may name: KnownDLLs, loaded from the system folder whatever
# lies beside the program. Compared without case.
STATIC_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
# The functions each of them exports on XP SP3, the oldest system the installer serves: one
# line per function, "<dll> <function> <minimum client>", the last column as the platform's
# documentation gives it. A function missing from the list fails the check: look it up at
# run time (GetProcAddress) if XP lacks it, or add it with its documented minimum.
XP_EXPORTS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp_sp3_exports.txt")
# Minimum clients that XP SP3 satisfies, whole, as the list names them ("Windows Vista,
# Windows XP with SP1" counts: XP has it; "Windows XP Professional x64 Edition" does not).
XP_OR_EARLIER = {"Windows 2000 Professional", "Windows XP", "Windows Vista, Windows XP with SP1",
                 "msvcrt.dll of Visual C++ 4.2", "msvcrt.dll of Windows XP",
                 "comctl32.dll 4.70 or later", "uxtheme.dll of Windows XP",
                 "gdiplus.dll 1.0 of Windows XP"}
# Imports that XP has but the program must not use: the C runtime's ends, which show a
# message box in a GUI program, where nobody may be there to press it (the program ends
# through entry/runtime_overrides.cc and platform/fatal.h instead).
_MESSAGE_BOX = "which shows a message box in a GUI program"
FORBIDDEN_IMPORTS = {
    ("msvcrt.dll", "abort"): f"the C runtime's abort, {_MESSAGE_BOX}",
    ("msvcrt.dll", "_assert"): f"the C runtime's assert, {_MESSAGE_BOX}",
    ("msvcrt.dll", "_wassert"): f"the C runtime's assert, {_MESSAGE_BOX}",
    ("msvcrt.dll", "_amsg_exit"): f"the C runtime's fatal-error end (R6xxx), {_MESSAGE_BOX}",
    ("msvcrt.dll", "_purecall"): f"the C runtime's pure-call end (R6025), {_MESSAGE_BOX}",
    ("msvcrt.dll", "terminate"): "the C runtime's terminate, which aborts",
    ("msvcrt.dll", "?terminate@@YAXXZ"): "the C runtime's terminate, which aborts",
}
# DLLs that may be delay-loaded (from the system folder, by the program's hook): present on
# every Windows from XP SP3 to 11.
DELAY_LOADABLE_DLLS = {
    "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll",
    "crypt32.dll", "wintrust.dll", "version.dll", "userenv.dll", "gdiplus.dll", "msimg32.dll",
    "uxtheme.dll", "wininet.dll", "urlmon.dll", "oleacc.dll",
}
# DLLs that must be delay-loaded: the image is not what the build meant without them.
REQUIRED_DELAY_LOADED = {"wininet.dll"}
IMAGE_DLLCHARACTERISTICS_NO_SEH = 0x0400
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
RT_ICON = 3
PNG_SIGNATURE = b"\x89PNG"
DIRECTORY_LOAD_CONFIG = 10
SEH_HANDLER_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+_?li_seh_handler\s*$", re.M)
ENTRY_SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+li_process_start\s*$", re.M)
XP_VERSION = (5, 1)
PAGE = 0x1000

# Library members that must not be linked: the unwinder and C++ exception support (the
# program has no exceptions, and no unwind data for them either), the library's static-init
# guards, and MinGW's own strtod. Each pattern matches an archive member name in the map.
FORBIDDEN_MEMBERS = {
    r"libgcc_eh\.a\(unwind-[^)]*\)": "the DWARF unwinder",
    r"libstdc\+\+\.a\(eh_[^)]*\)": "C++ exception support",
    r"libstdc\+\+\.a\(guard\.o\)": "the library's static-init guards",
    r"libmingwex\.a\([^)]*strtod[^)]*\)": "MinGW's strtod",
    r"/crt2u?\.o\b": "the C runtime's start-up code",
}
# A record the linker writes for a reference it resolved by automatic import. The runtime's
# start-up code applied these; the program's own entry point does not, so there must be none.
PSEUDO_RELOCATION = re.compile(r"^ \.rdata_runtime_pseudo_reloc\s+0x", re.M)


def load_xp_exports(path=XP_EXPORTS_FILE):
    """{dll: {function: minimum client}} from the list; a line that is malformed or names a
    system later than XP raises ValueError."""
    exports = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split(None, 2)
            if len(fields) != 3 or fields[2].strip() not in XP_OR_EARLIER:
                raise ValueError(f"{path}:{number}: not '<dll> <function> <minimum client "
                                 f"up to XP>': {line}")
            exports.setdefault(fields[0].lower(), {})[fields[1]] = fields[2]
    return exports


def import_problems(image, xp_exports):
    problems = []
    for dll, functions in image.imports():
        name = dll.lower()
        if name not in STATIC_DLLS:
            problems.append(f"{name} is in the import table, where Windows may take it from "
                            f"the program's folder; it must be delay-loaded")
            continue
        for function in functions:
            if (name, function) in FORBIDDEN_IMPORTS:
                problems.append(f"{name} {function} is imported: "
                                f"{FORBIDDEN_IMPORTS[(name, function)]}")
            elif xp_exports is not None and function not in xp_exports.get(name, {}):
                problems.append(f"{name} {function} is imported, but XP SP3's {name} may not "
                                f"export it (not in {os.path.basename(XP_EXPORTS_FILE)}): "
                                f"the executable would not start there. Look it up at run "
                                f"time, or add it with its documented minimum client")
    return problems


def delay_import_problems(delay_imports, xp_exports):
    """Delay-loaded functions that XP SP3's copy of their DLL may not export: the first call
    of one would end every XP run."""
    problems = []
    for dll, functions in sorted(delay_imports.items()):
        name = dll.lower()
        if name not in DELAY_LOADABLE_DLLS:
            continue  # refused as a DLL already
        for function in functions:
            if function not in xp_exports.get(name, {}):
                problems.append(f"{name} {function} is delay-loaded, but XP SP3's {name} may "
                                f"not export it (not in {os.path.basename(XP_EXPORTS_FILE)}): "
                                f"every XP run would end at its first call. Look it up at run "
                                f"time, or add it with its documented minimum client")
    return problems


def image_problems(image, xp_exports=None, functions=True):
    """Every problem of the image; `functions` False leaves the imported functions unchecked
    against XP SP3's (`xp_exports`, the list by default)."""
    problems = []
    if image.machine != 0x14C:
        problems.append(f"machine {image.machine:#x} is not i386")
    imported = [name.lower() for name in image.imported_dlls()]
    if functions and xp_exports is None:
        xp_exports = load_xp_exports()
    problems += import_problems(image, xp_exports if functions else None)
    if "kernel32.dll" not in imported:
        problems.append("kernel32.dll is not imported: the import table was not read")
    delay_imports = image.delay_imports()
    delayed = {name.lower() for name in delay_imports}
    if functions:
        problems += delay_import_problems(delay_imports, xp_exports)
    for name in sorted(REQUIRED_DELAY_LOADED - delayed):
        problems.append(f"no delay-load descriptor for {name}")
    for name in sorted(delayed - DELAY_LOADABLE_DLLS):
        problems.append(f"{name} is delay-loaded but is not a DLL that every Windows ships")

    flags = image.dll_characteristics
    if not flags & pe_image.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE:
        problems.append("DYNAMIC_BASE (ASLR) is not declared")
    if not flags & pe_image.IMAGE_DLLCHARACTERISTICS_NX_COMPAT:
        problems.append("NX_COMPAT (DEP) is not declared")
    if not flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE:
        problems.append("TERMINAL_SERVER_AWARE is not declared: a Remote Desktop host would "
                        "give the program a per-user Windows folder")
    if flags & IMAGE_DLLCHARACTERISTICS_NO_SEH:
        problems.append("NO_SEH is declared: the exception guard's handler would never run")
    reloc_rva, reloc_size = (image.directories[pe_image.DIRECTORY_BASERELOC]
                             if len(image.directories) > pe_image.DIRECTORY_BASERELOC
                             else (0, 0))
    if image.characteristics & pe_image.IMAGE_FILE_RELOCS_STRIPPED or not reloc_size:
        problems.append("base relocations are missing: ASLR cannot move the image")

    if any(icon.startswith(PNG_SIGNATURE) for icon in image.resources(RT_ICON)):
        problems.append("an icon image is stored as PNG, which XP cannot show: store it as a "
                        "bitmap (tools/make_icon.py)")
    if image.subsystem_version > XP_VERSION:
        problems.append(f"subsystem version {image.subsystem_version} is above XP's 5.1")
    if image.os_version > XP_VERSION:
        problems.append(f"OS version {image.os_version} is above XP's 5.1")
    if image.section_alignment % PAGE:
        problems.append(f"section alignment {image.section_alignment:#x} is not whole pages")
    if (image.file_alignment < 0x200 or image.file_alignment > 0x10000
            or image.file_alignment & (image.file_alignment - 1)):
        problems.append(f"file alignment {image.file_alignment:#x} is not a power of two "
                        f"from 512 to 64K")
    for s in image.sections:
        both = pe_image.IMAGE_SCN_MEM_WRITE | pe_image.IMAGE_SCN_MEM_EXECUTE
        if s.characteristics & both == both:
            problems.append(f"section {s.name} is both writable and executable")
        if s.raw_size and s.raw_offset + s.raw_size > len(image.data):
            problems.append(f"section {s.name} runs past the end of the file")
    return problems


def safe_seh_problems(image, map_text):
    """A SafeSEH table (in the load configuration) must list the guard's handler, or Windows
    refuses to call it; an image without one allows every handler."""
    table = image.safe_seh_handlers()
    if table is None:
        return []
    match = SEH_HANDLER_SYMBOL.search(map_text)
    if not match:
        return ["the map names no li_seh_handler, so the SafeSEH table cannot be checked"]
    rva = int(match.group(1), 16) - image.image_base
    if rva not in table:
        return [f"the SafeSEH table leaves out li_seh_handler (RVA {rva:#x})"]
    return []


def entry_problems(image, map_text):
    """The image must start at the program's own entry point (the runtime's start-up code is
    not linked; a link that lost the entry would start at address 0)."""
    match = ENTRY_SYMBOL.search(map_text)
    if not match:
        return ["the map names no li_process_start, the program's entry point"]
    rva = int(match.group(1), 16) - image.image_base
    if image.entry_point != rva:
        return [f"the entry point {image.entry_point:#x} is not li_process_start ({rva:#x})"]
    return []


def map_problems(map_text):
    problems = []
    for pattern, what in FORBIDDEN_MEMBERS.items():
        members = sorted(set(re.findall(pattern, map_text)))
        if members:
            problems.append(f"linked although replaced or unused: {what} ({', '.join(members)})")
    if PSEUDO_RELOCATION.search(map_text):
        problems.append("the link made pseudo-relocations, which nothing applies at start")
    if "Linker script and memory map" not in map_text:
        problems.append("the map file is not a GNU ld link map")
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--map")
    args = parser.parse_args(argv)
    try:
        problems = image_problems(pe_image.load(args.image))
    except (OSError, ValueError) as error:  # PeError is a ValueError
        problems = [f"cannot read {args.image}: {error}"]
    if args.map:
        try:
            with open(args.map, encoding="utf-8", errors="replace") as f:
                map_text = f.read()
            problems += map_problems(map_text)
            image = pe_image.load(args.image)
            problems += safe_seh_problems(image, map_text) + entry_problems(image, map_text)
        except (OSError, pe_image.PeError) as error:
            problems.append(f"cannot read {args.map}: {error}")
    for problem in problems:
        print(f"{args.image}: {problem}")
    if not problems:
        print(f"{args.image}: imports, security flags and layout are fine")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
