#!/usr/bin/python3
"""pe_check.py EXE --arch i686|x86_64: checks a built tavrelo.exe, read with pefile:
size within its budget, machine, GUI subsystem, no link time stamp, ASLR with relocations, DEP (and
high-entropy ASLR on x86_64), stripped, imports only of DLLs every Windows has
and, for the shipped i686 exe, only of functions Windows XP SP3 has
(xp_sp3_functions.txt), OS and subsystem versions that XP loads, the icon
(art/check_art.py's checks, the group read by icoextract), the splash bitmap
(Pillow), version block and a manifest that XP's side-by-side parser accepts.
Prints every property that is wrong."""
import argparse
import io
import os
import sys
from xml.dom import minidom
from xml.parsers.expat import ExpatError

import pefile
from icoextract import IconExtractor
from PIL import BmpImagePlugin

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "art"))
import check_art  # noqa: E402

# What each executable may weigh: a window, a registry read, four copies, one
# process and the resources, with no C++ runtime that the launcher never uses.
SIZE_BUDGETS = {"i686": 80 * 1024, "x86_64": 96 * 1024}
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
RT = pefile.RESOURCE_TYPE
IDB_SPLASH = 101

XP_FUNCTIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp_sp3_functions.txt")
# The systems that a source on that list may name as a function's first:
# XP SP3 and the ones before it.
XP_OR_OLDER = {"Windows NT 4.0", "Windows 2000 Professional", "Windows XP", "Windows XP with SP1"}
# The newest OS and subsystem version in the header that the oldest supported
# Windows of each machine type loads: XP (5.1), and XP x64 (5.2), the first
# 64-bit Windows.
OLDEST_SYSTEMS = {"i686": ("Windows XP", (5, 1)), "x86_64": ("Windows XP x64", (5, 2))}

# XP's side-by-side parser reads the elements of the assembly namespace
# (asm.v1) and refuses to start a program whose manifest has one it does not
# know: trustInfo or application must carry a namespace of their own (asm.v2,
# asm.v3), whose elements it passes over, as it does the compatibility
# section (compatibility.v1). These are the asm.v1 elements it knows in an
# application manifest.
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
XP_ASM_V1_ELEMENTS = {"assembly", "noInherit", "assemblyIdentity", "description", "dependency", "dependentAssembly",
                      "file"}


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


def xp_functions(lines, name=os.path.basename(XP_FUNCTIONS)):
    """({(dll, function)}, problems) from the lines of the list of functions
    that Windows XP SP3 has: "DLL | function | first Windows | source"."""
    functions, problems = set(), []
    for number, line in enumerate(lines, 1):
        text = line.strip()
        if not text or text.startswith("#"):
            continue
        fields = [field.strip() for field in text.split("|")]
        if len(fields) != 4 or not all(fields):
            problems.append(f"{name} line {number}: expected DLL | function | first Windows | source")
        elif fields[2] not in XP_OR_OLDER:
            problems.append(f"{name} line {number}: {fields[1]} dates from {fields[2]}, after Windows XP SP3")
        else:
            functions.add((fields[0].lower(), fields[1]))
    return functions, problems


def xp_import_problems(pe):
    """Every imported function, DLL by DLL, must be on the XP SP3 list."""
    with open(XP_FUNCTIONS, encoding="utf-8") as listed:
        functions, problems = xp_functions(listed)
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        for imported in entry.imports:
            function = imported.name.decode() if imported.name else f"ordinal {imported.ordinal}"
            if (dll, function) not in functions:
                problems.append(f"imports {dll}!{function}, which is not on the list of functions Windows XP SP3 "
                                f"has ({os.path.basename(XP_FUNCTIONS)})")
    return problems


def system_version_problems(optional, arch):
    system, newest = OLDEST_SYSTEMS[arch]
    fields = {"OS": (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion),
              "subsystem": (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)}
    return [f"{field} version {version[0]}.{version[1]}: {system} loads at most {newest[0]}.{newest[1]}"
            for field, version in fields.items() if version > newest]


def manifest_problems(manifest):
    """The manifest asks for no elevation, is dpi-aware, and keeps to what
    XP's side-by-side parser accepts: the asm.v1 assembly of version 1.0 at
    its root, no asm.v1 element that XP does not know, and no element that
    declares one namespace twice (which makes XP SP2's parser crash)."""
    text = manifest.decode("utf-8", "replace")
    problems = ["manifest lacks " + needed for needed in ('level="asInvoker"', ">true</dpiAware>")
                if needed not in text]
    try:
        document = minidom.parseString(manifest)
    except ExpatError as error:
        return problems + [f"manifest is not well-formed XML: {error}"]
    root = document.documentElement
    if (root.namespaceURI, root.localName, root.getAttribute("manifestVersion")) != (ASM_V1, "assembly", "1.0"):
        problems.append(f"manifest root is <{root.tagName}> in {root.namespaceURI}, manifestVersion "
                        f"{root.getAttribute('manifestVersion')!r}: expected an {ASM_V1} assembly, version 1.0")
    for element in document.getElementsByTagName("*"):
        declared = [attribute.value for attribute in element.attributes.values()
                    if attribute.name == "xmlns" or attribute.name.startswith("xmlns:")]
        problems += [f"manifest element <{element.tagName}> declares namespace {uri} twice"
                     for uri in sorted(set(declared)) if declared.count(uri) > 1]
    # XP reads the asm.v1 elements from the root down and passes over the
    # others with all they hold.
    known = [root]
    while known:
        for child in known.pop().childNodes:
            if child.nodeType != child.ELEMENT_NODE or child.namespaceURI != ASM_V1:
                continue
            if child.localName in XP_ASM_V1_ELEMENTS:
                known.append(child)
            else:
                problems.append(f"manifest element <{child.tagName}> is in the {ASM_V1} namespace, where Windows "
                                "XP knows no such element and refuses to start the program")
    return problems


def check(path, arch):
    """(report, problems) of the executable at PATH."""
    with open(path, "rb") as f:
        data = f.read()
    pe = pefile.PE(data=data)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    imports = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    found = resources(pe)
    report = {"file": path, "size": len(data), "imports": imports,
              "dll_characteristics": hex(optional.DllCharacteristics),
              "splash_bytes": len(found.get(RT["RT_BITMAP"], {}).get(IDB_SPLASH, b""))}
    problems = []
    if len(data) > SIZE_BUDGETS[arch]:
        problems.append("%d bytes, past its budget of %d bytes" % (len(data), SIZE_BUDGETS[arch]))
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
    if arch == "i686":  # the shipped exe; XP SP3 is a 32-bit system
        problems += xp_import_problems(pe)
    problems += system_version_problems(optional, arch)
    try:
        problems += ["icon: " + p for p in check_art.icon_problems(IconExtractor(data=data).get_icon())]
    except Exception as e:  # icoextract raises its own errors, and pefile's
        problems.append("no readable icon group: %s" % e)
    problems += splash_problems(found.get(RT["RT_BITMAP"], {}).get(IDB_SPLASH, b""))
    problems += version_problems(pe) if hasattr(pe, "VS_FIXEDFILEINFO") else ["no version block"]
    problems += manifest_problems(found.get(RT["RT_MANIFEST"], {}).get(1, b""))
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
