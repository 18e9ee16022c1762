#!/usr/bin/python3
"""pe_check.py EXE --arch i686|x86_64: checks a built tavrelo.exe, read with pefile:
machine, GUI subsystem, no link time stamp, ASLR with relocations, DEP (and
high-entropy ASLR on x86_64), stripped, imports only of DLLs every Windows has,
the icon (art/check_art.py's checks, the group read by icoextract), the splash
bitmap (Pillow), version block and manifest. Prints every property that is wrong."""
import argparse
import io
import os
import sys

import pefile
from icoextract import IconExtractor
from PIL import BmpImagePlugin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "art"))
import check_art  # noqa: E402

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
RT = pefile.RESOURCE_TYPE
IDB_SPLASH = 101


def bitness(path):
    """i686 or x86_64, from the machine field of a PE file's header."""
    try:
        machine = pefile.PE(str(path), fast_load=True).FILE_HEADER.Machine
    except pefile.PEFormatError as error:
        raise ValueError(f"{path} is not a PE file: {error}") from error
    return {value: arch for arch, value in MACHINES.items()}.get(machine, f"machine 0x{machine:x}")


def resources(pe):
    """{type: {id: bytes}}, the first language of each entry."""
    found, directory = {}, getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        for entry in kind.directory.entries:
            data = entry.directory.entries[0].data.struct
            found.setdefault(kind.id, {})[entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def splash_problems(bitmap):
    """The bitmap the launcher draws: 8 bits per pixel in a palette, RLE8 or
    uncompressed, at most 4096 x 4096, and whole (Pillow decodes it)."""
    if not bitmap:
        return ["no splash bitmap (bitmap resource %d)" % IDB_SPLASH]
    try:
        picture = BmpImagePlugin.DibImageFile(io.BytesIO(bitmap))
        picture.load()
    except (OSError, SyntaxError, ValueError) as e:
        return ["splash bitmap is unreadable: %s" % e]
    if picture.mode != "P" or picture.info.get("compression") not in (0, 1) or max(picture.size) > 4096:
        return ["splash bitmap is %s %d x %d, compression %s: expected 8 bits per pixel, RLE8 or none, "
                "at most 4096 x 4096" % ((picture.mode,) + picture.size + (picture.info.get("compression"),))]
    return []


def version_problems(pe):
    fixed = pe.VS_FIXEDFILEINFO[0]
    versions = [(fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS)]
    problems = [] if versions == [(0x10000, 0)] * 2 else ["fixed versions %s, expected 1.0.0.0" % versions]
    tables = [table for info in pe.FileInfo[0] if info.Key == b"StringFileInfo" for table in info.StringTable]
    if [table.LangID.upper() for table in tables] != [b"040904B0"]:
        problems.append("string tables %s, expected one 040904B0" % [table.LangID for table in tables])
    for table in tables:
        for key in (b"FileVersion", b"ProductVersion"):
            if table.entries.get(key) != b"1.00":
                problems.append("%s is %r, expected '1.00'" % (key.decode(), table.entries.get(key, b"").decode()))
    return problems


def check(path, arch):
    """(report, problems) of the executable at PATH."""
    pe = pefile.PE(path)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    imports = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    found = resources(pe)
    report = {"file": path, "size": len(pe.__data__), "imports": imports,
              "dll_characteristics": hex(optional.DllCharacteristics),
              "splash_bytes": len(found.get(RT["RT_BITMAP"], {}).get(IDB_SPLASH, b""))}
    problems = []
    if header.Machine != MACHINES[arch]:
        problems.append("machine %#x, expected %#x" % (header.Machine, MACHINES[arch]))
    if header.TimeDateStamp:
        problems.append("link time stamp %#x: builds of the same sources would differ" % header.TimeDateStamp)
    if optional.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        problems.append("subsystem %d, expected 2 (Windows GUI)" % optional.Subsystem)
    flags = {"dynamic base (ASLR)": "DYNAMIC_BASE", "NX compatible (DEP)": "NX_COMPAT"}
    if arch == "x86_64":
        flags["high-entropy ASLR"] = "HIGH_ENTROPY_VA"
    problems += [name + " not set" for name, flag in flags.items()
                 if not getattr(optional, "IMAGE_DLLCHARACTERISTICS_" + flag)]
    if not hasattr(pe, "DIRECTORY_ENTRY_BASERELOC"):
        problems.append("no base relocations: ASLR cannot move the image")
    if header.PointerToSymbolTable or header.NumberOfSymbols:
        problems.append("COFF symbol table present: not stripped")
    problems += ["imports %s, which not every Windows has" % name for name in imports
                 if name.lower() not in ALLOWED_IMPORTS]
    try:
        problems += ["icon: " + p for p in check_art.icon_problems(IconExtractor(data=pe.__data__).get_icon())]
    except Exception as e:  # icoextract raises its own errors, and pefile's
        problems.append("no readable icon group: %s" % e)
    problems += splash_problems(found.get(RT["RT_BITMAP"], {}).get(IDB_SPLASH, b""))
    problems += version_problems(pe) if hasattr(pe, "VS_FIXEDFILEINFO") else ["no version block"]
    manifest = found.get(RT["RT_MANIFEST"], {}).get(1, b"").decode("utf-8", "replace")
    problems += ["manifest lacks " + needed for needed in ('level="asInvoker"', ">true</dpiAware>")
                 if needed not in manifest]
    return report, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split(":")[0])
    parser.add_argument("exe")
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    report, problems = check(args.exe, args.arch)
    print("%(file)s: %(size)d bytes (splash picture %(splash_bytes)d bytes), imports %(imports)s, "
          "DllCharacteristics %(dll_characteristics)s" % report)
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
