"""Checks of the shipped executable that no Windows test can see, because Wine loads images
more leniently than Windows does.

  check_image.py <lite_installer.exe> [--map <link map>]

Prints every problem found and exits 1 if there is one. The image checks: the import table
names only KnownDLLs (which Windows never takes from the program's folder), and every other
DLL, WinINet among them, is delay-loaded and one that all Windows versions from XP to 11
ship; ASLR and DEP stay declared, with the relocations ASLR needs on x86; the image is
terminal-server aware (else a Remote Desktop host gives it a per-user Windows folder, where
the elevated child makes its private folder); structured exception handlers stay allowed
(no NO_SEH flag); the image stays loadable on XP (subsystem
and OS version at most 5.1, page-aligned sections, no section both writable and
executable). The map checks: the runtime replacements in startup/runtime_overrides.cc keep
the library code they replace out of the link, the runtime's start-up code stays out, no
reference needs a pseudo-relocation (the program's entry applies none), the image starts at
the program's own entry point, and a SafeSEH table, if the image has one, lists the
exception guard's handler."""

import argparse
import re
import sys

import pe_image

# The only DLLs the import table may name: KnownDLLs, loaded from the system folder whatever
# lies beside the program. Compared without case.
STATIC_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
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


def image_problems(image):
    problems = []
    if image.machine != 0x14C:
        problems.append(f"machine {image.machine:#x} is not i386")
    imported = [name.lower() for name in image.imported_dlls()]
    for name in imported:
        if name not in STATIC_DLLS:
            problems.append(f"{name} is in the import table, where Windows may take it from "
                            f"the program's folder; it must be delay-loaded")
    if "kernel32.dll" not in imported:
        problems.append("kernel32.dll is not imported: the import table was not read")
    delayed = {name.lower() for name in image.delay_imports()}
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
    except (OSError, pe_image.PeError) as error:
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
