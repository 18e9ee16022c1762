#!/usr/bin/python3
"""pe_check.py EXE --arch i686|x86_64: checks a built tavrelo.exe with pefile, icoextract and Pillow;
prints its figures and each property that is wrong (and then exits 1)."""
import argparse
import io
import struct
import sys
from xml.dom import minidom
from xml.parsers.expat import ExpatError

import pefile
from icoextract import IconExtractor
from PIL import Image

MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
# A window, a registry read, four copies, one process and the resources, without a C++ runtime.
SIZE_BUDGETS = {"i686": 64 * 1024, "x86_64": 72 * 1024}
# OS and subsystem version of the oldest Windows of each machine: XP, and XP x64.
SYSTEM_VERSIONS = {"i686": (5, 1) * 2, "x86_64": (5, 2) * 2}
# What 32-bit Windows XP SP3 has, of the DLLs every Windows has: Win32 functions whose reference page
# (Microsoft Learn, Requirements) names XP SP1 or older, and the exports of the original msvcrt.dll
# (Visual C++ 4.2) as mingw-w64's msvcrt.def.in lists them.
XP_SP3 = {dll + ".dll": set(names.split()) for dll, names in {
    "kernel32": """CloseHandle CopyFileW CreateFileW CreateProcessW CreateSemaphoreW DeleteCriticalSection
    DeleteFileW EnterCriticalSection ExitProcess FindResourceW FlushFileBuffers FormatMessageW FreeLibrary
    GetCurrentDirectoryW GetCurrentThreadId GetFileAttributesW GetLastError GetModuleFileNameW
    GetModuleHandleA GetModuleHandleW GetProcAddress GetShortPathNameW GetStartupInfoW GetSystemDirectoryW
    HeapSetInformation InitializeCriticalSection IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA
    LoadLibraryW LoadResource LocalFree LockResource MoveFileExW MulDiv MultiByteToWideChar ReadFile
    ReleaseSemaphore SetCurrentDirectoryW SetDllDirectoryW SetLastError SetUnhandledExceptionFilter
    SizeofResource Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue VirtualProtect VirtualQuery
    WaitForSingleObject WideCharToMultiByte WriteFile""",
    "user32": """AdjustWindowRectEx BeginPaint CreateWindowExW DefWindowProcW DestroyIcon DestroyWindow
    DispatchMessageW EndPaint GetDC GetMessageW GetSystemMetrics GetWindowLongW KillTimer LoadCursorW
    LoadImageW MessageBoxW PostQuitMessage RegisterClassExW ReleaseDC SetTimer SetWindowLongW ShowWindow
    TranslateMessage UnregisterClassW UpdateWindow""",
    "gdi32": "CreateSolidBrush DeleteObject GetDeviceCaps SetBrushOrgEx SetStretchBltMode StretchDIBits",
    "advapi32": "RegCloseKey RegEnumKeyA RegOpenKeyExA RegQueryValueExA",
    "msvcrt": """__mb_cur_max __p__commode __p__fmode __p__wcmdln __set_app_type __setusermatherr
    __wgetmainargs __winitenv _amsg_exit _cexit _close _errno _initterm _iob _onexit _read abort atoi calloc
    exit fprintf fputc fputs free fwrite localeconv malloc memchr memcmp memcpy memmove memset realloc
    setlocale signal strchr strcmp strerror strlen strncmp vfprintf wcslen"""}.items()}
# Fixed file and product versions, the one string table (US English, Unicode) and the translation.
VERSION = ((0x10000, 0, 0x10000, 0), [(b"040904B0", b"1.00", b"1.00")], ["0x0409 0x04b0"])
# XP refuses a manifest with an element of the assembly namespace (asm.v1) that it does not know; it
# passes over elements of other namespaces (trustInfo and application in asm.v3) with all they hold.
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
XP_ASM_V1 = {"assembly", "noInherit", "assemblyIdentity", "description", "dependency", "dependentAssembly", "file"}


def bitness(path):
    machine = pefile.PE(str(path), fast_load=True).FILE_HEADER.Machine
    return {value: arch for arch, value in MACHINES.items()}.get(machine, f"machine {machine:#x}")


def icon_problems(ico):
    """An ICO file's: a 32x32 and a 16x16 image, 8 bits per pixel, a mask making some pixels transparent."""
    entries = [struct.unpack_from("<BBxxxxHII", ico, at) for at in range(6, 6 + 16 * ico[4], 16)]
    problems = [] if sorted(e[:2] for e in entries) == [(16, 16), (32, 32)] else [f"images {entries}"]
    for width, height, bpp, size, offset in entries:
        with Image.open(io.BytesIO(ico), formats=["ICO"]) as icon:
            icon.size = (width, height)  # the image that load() decodes
            alpha = icon.convert("RGBA").getchannel("A").getextrema()
        expected = 40 + 4 * 256 + width * height + (width + 31) // 32 * 4 * height  # with palette and mask
        if (bpp, ico[offset + 14], size, alpha) != (8, 8, expected, (0, 255)):
            problems.append(f"{width}x{height}: {bpp} bits per pixel, {size} bytes, alpha {alpha}: "
                            f"expected 8, {expected} bytes with a mask, alpha (0, 255)")
    return problems


def manifest_problems(manifest):
    """No elevation, dpi-aware, and an asm.v1 assembly 1.0 that XP's side-by-side parser accepts."""
    problems = [f"manifest lacks {s}" for s in (b'level="asInvoker"', b">true</dpiAware>") if s not in manifest]
    try:
        root = minidom.parseString(manifest).documentElement
    except ExpatError as e:
        return problems + [f"manifest is not XML: {e}"]
    if (root.namespaceURI, root.localName, root.getAttribute("manifestVersion")) != (ASM_V1, "assembly", "1.0"):
        problems.append(f"manifest root <{root.tagName}> of {root.namespaceURI}: expected an asm.v1 assembly 1.0")
    known = [root]
    while known:
        for child in known.pop().childNodes:
            if child.nodeType == child.ELEMENT_NODE and child.namespaceURI == ASM_V1:
                if child.localName in XP_ASM_V1:
                    known.append(child)
                else:
                    problems.append(
                        f"manifest element <{child.tagName}> of asm.v1, which XP does not know and refuses")
    return problems


def check(path, arch):
    """({file, size, imports, splash_bytes}, problems) of the executable at PATH."""
    data = open(path, "rb").read()
    pe = pefile.PE(data=data)
    head = pe.FILE_HEADER
    optional = pe.OPTIONAL_HEADER
    imports = {e.dll.decode().lower(): [i.name.decode() if i.name else f"ordinal {i.ordinal}" for i in e.imports]
               for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    resources = {(kind.id, entry.id): entry.directory.entries[0].data.struct  # its first language
                 for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries for entry in kind.directory.entries}

    def resource_data(key):  # b"" where there is no such resource
        entry = resources.get(key)
        return pe.get_data(entry.OffsetToData, entry.Size) if entry else b""
    splash = resource_data((10, 101))  # RT_RCDATA
    manifest = resource_data((24, 1))  # RT_MANIFEST
    info = {i.Key: i for i in getattr(pe, "FileInfo", [[]])[0]}
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    version = (fixed and (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
               [(t.LangID.upper(), t.entries.get(b"FileVersion"), t.entries.get(b"ProductVersion"))
                for t in getattr(info.get(b"StringFileInfo"), "StringTable", [])],
               [var.entry.get(b"Translation") for var in getattr(info.get(b"VarFileInfo"), "Var", [])])
    systems = (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion,
               optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)
    problems = [text for fault, text in (
        (len(data) > SIZE_BUDGETS[arch], f"{len(data)} bytes, past its budget of {SIZE_BUDGETS[arch]} bytes"),
        (head.Machine != MACHINES[arch], f"machine {head.Machine:#x}, expected {MACHINES[arch]:#x}"),
        (optional.Subsystem != 2, f"subsystem {optional.Subsystem}, expected 2 (Windows GUI)"),
        (arch == "i686" and not head.IMAGE_FILE_LARGE_ADDRESS_AWARE,
         "not large-address-aware, though the i686 link sets --large-address-aware"),
        (head.TimeDateStamp, f"link time stamp {head.TimeDateStamp:#x}: builds of the same sources would differ"),
        (not hasattr(pe, "DIRECTORY_ENTRY_BASERELOC"), "no base relocations: ASLR cannot move the image"),
        (head.PointerToSymbolTable or head.NumberOfSymbols, "a COFF symbol table: not stripped"),
        (systems != SYSTEM_VERSIONS[arch], f"OS, subsystem versions {systems}, expected {SYSTEM_VERSIONS[arch]}"),
        (version != VERSION, f"version block {version}, expected {VERSION}")) if fault]
    flags = ("DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA")[:3 if arch == "x86_64" else 2]
    problems += [f"{flag} not set" for flag in flags if not getattr(optional, "IMAGE_DLLCHARACTERISTICS_" + flag)]
    problems += [f"imports {dll}, which not every Windows has" for dll in imports if dll not in XP_SP3]
    problems += [f"imports {dll}!{f}, not among the functions Windows XP SP3 has" for dll, names in imports.items()
                 for f in names if arch == "i686" and dll in XP_SP3 and f not in XP_SP3[dll]]  # XP: 32-bit
    try:
        problems += ["icon: " + p for p in icon_problems(IconExtractor(data=data).get_icon().getvalue())]
    except Exception as e:  # icoextract, pefile, struct and Pillow raise their own kinds
        problems.append(f"no readable icon group: {e!r}")
    problems += manifest_problems(manifest)
    return {"file": path, "size": len(data), "imports": list(imports), "splash_bytes": len(splash)}, problems


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split(":")[0])
    parser.add_argument("exe")
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    report, problems = check(args.exe, args.arch)
    print("%(file)s: %(size)d bytes (splash picture %(splash_bytes)d bytes), imports %(imports)s" % report)
    print("".join(f"FAIL: {problem}\n" for problem in problems), end="")
    sys.exit(1 if problems else 0)
