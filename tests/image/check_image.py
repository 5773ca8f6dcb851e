"""Checks of the shipped executable that no Windows test can see, because Wine loads images
more leniently than Windows does.

  check_image.py <lite_installer.exe> [--map <link map>]

Prints every problem found and exits 1 if there is one. The image checks: every imported
DLL is one that all Windows versions from XP to 11 ship; WinINet is delay-loaded and never
imported at start-up; ASLR and DEP stay declared, with the relocations ASLR needs on x86; the
image stays loadable on XP (subsystem and OS version at most 5.1, page-aligned sections, no
section both writable and executable). The map check: the runtime replacements in
startup/runtime_overrides.cc keep the library code they replace out of the link."""

import argparse
import re
import sys

import pe_image

# System DLLs present on every Windows from XP SP3 to 11, compared without case.
ALLOWED_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "wintrust.dll", "version.dll", "userenv.dll", "gdiplus.dll", "msvcrt.dll", "msimg32.dll",
    "uxtheme.dll",
}
DELAY_LOADED_DLLS = {"wininet.dll"}
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
}


def image_problems(image):
    problems = []
    if image.machine != 0x14C:
        problems.append(f"machine {image.machine:#x} is not i386")
    imported = [name.lower() for name in image.imported_dlls()]
    for name in imported:
        if name in DELAY_LOADED_DLLS:
            problems.append(f"{name} is in the import table; it must be delay-loaded")
        elif name not in ALLOWED_DLLS:
            problems.append(f"{name} is imported but is not a DLL that every Windows ships")
    if "kernel32.dll" not in imported:
        problems.append("kernel32.dll is not imported: the import table was not read")
    delayed = {name.lower(): functions for name, functions in image.delay_imports().items()}
    for name in DELAY_LOADED_DLLS:
        if name not in delayed:
            problems.append(f"no delay-load descriptor for {name}")
    for name in delayed:
        if name not in DELAY_LOADED_DLLS:
            problems.append(f"{name} is delay-loaded but not expected to be")

    flags = image.dll_characteristics
    if not flags & pe_image.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE:
        problems.append("DYNAMIC_BASE (ASLR) is not declared")
    if not flags & pe_image.IMAGE_DLLCHARACTERISTICS_NX_COMPAT:
        problems.append("NX_COMPAT (DEP) is not declared")
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


def map_problems(map_text):
    problems = []
    for pattern, what in FORBIDDEN_MEMBERS.items():
        members = sorted(set(re.findall(pattern, map_text)))
        if members:
            problems.append(f"linked although replaced or unused: {what} ({', '.join(members)})")
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
                problems += map_problems(f.read())
        except OSError as error:
            problems.append(f"cannot read {args.map}: {error}")
    for problem in problems:
        print(f"{args.image}: {problem}")
    if not problems:
        print(f"{args.image}: imports, security flags and layout are fine")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
