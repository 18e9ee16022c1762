"""pe_check passes the built executables and fails on each fault it is there
to catch, planted with pefile in a copy of them. CTest passes the builds:
    TAVRELO_WIN64_DIR=build/win64 /usr/bin/python3 -m unittest checks/test_pe_check.py"""

import os
import shutil
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_check  # noqa: E402

BUILDS = {"i686": "TAVRELO_WIN32_DIR", "x86_64": "TAVRELO_WIN64_DIR"}


def resource_rva(pe, kind):
    """Where the first resource of KIND starts."""
    [entries] = [entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == pefile.RESOURCE_TYPE[kind]]
    return entries.directory.entries[0].directory.entries[0].data.struct.OffsetToData


def clear_flag(flag):
    return lambda pe: setattr(pe.OPTIONAL_HEADER, "DllCharacteristics", pe.OPTIONAL_HEADER.DllCharacteristics & ~flag)


def import_name_rva(pe, dll):
    return next(entry.struct.Name for entry in pe.DIRECTORY_ENTRY_IMPORT if entry.dll.lower() == dll)


def rename_import(dll, function, new_name):
    """Overwrites the name of an imported function with a name no longer than it."""
    def plant(pe):
        [entry] = [entry for entry in pe.DIRECTORY_ENTRY_IMPORT if entry.dll.lower() == dll]
        [imported] = [imported for imported in entry.imports if imported.name == function]
        assert len(new_name) <= len(function)
        pe.set_bytes_at_offset(imported.name_offset, new_name + b"\0")
    return plant


def replace_in_manifest(old, new):
    """Overwrites the first OLD in the manifest with NEW, of the same length."""
    def plant(pe):
        start = resource_rva(pe, "RT_MANIFEST")
        pe.set_bytes_at_rva(start + pe.get_data(start, 2000).index(old), new)
    return plant


FAULTS = {
    "link time stamp": lambda pe: setattr(pe.FILE_HEADER, "TimeDateStamp", 0x65000000),
    "dynamic base (ASLR) not set": clear_flag(0x40),
    "NX compatible (DEP) not set": clear_flag(0x100),
    "no base relocations": lambda pe: setattr(pe.OPTIONAL_HEADER.DATA_DIRECTORY[5], "VirtualAddress", 0),
    "not stripped": lambda pe: setattr(pe.FILE_HEADER, "NumberOfSymbols", 3),
    "subsystem 3": lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 3),
    "imports ole32.dll": lambda pe: pe.set_bytes_at_rva(import_name_rva(pe, b"user32.dll"), b"ole32.dll\0"),
    # The icon group: a 6-byte header whose last word counts the images, then
    # 14 bytes for each, its bits per pixel at 6.
    "icon: holds ['32x32']": lambda pe: pe.set_word_at_rva(resource_rva(pe, "RT_GROUP_ICON") + 4, 1),
    "icon: 32x32: 4 bits per pixel": lambda pe: pe.set_word_at_rva(resource_rva(pe, "RT_GROUP_ICON") + 6 + 6, 4),
    "splash bitmap is": lambda pe: pe.set_dword_at_rva(resource_rva(pe, "RT_BITMAP") + 16, 2),  # RLE4
    "FileVersion is '1.01'": lambda pe: pe.FileInfo[0][0].StringTable[0].entries.update({b"FileVersion": b"1.01"}),
    'manifest lacks level="asInvoker"': replace_in_manifest(b"asInvoker", b"ASInvoker"),
    # What Windows XP refuses: a newer system in the header, and a manifest
    # element in the assembly namespace that its parser does not know.
    "subsystem version 6.0": lambda pe: (setattr(pe.OPTIONAL_HEADER, "MajorSubsystemVersion", 6),
                                         setattr(pe.OPTIONAL_HEADER, "MinorSubsystemVersion", 0)),
    "OS version 6.1": lambda pe: (setattr(pe.OPTIONAL_HEADER, "MajorOperatingSystemVersion", 6),
                                  setattr(pe.OPTIONAL_HEADER, "MinorOperatingSystemVersion", 1)),
    "manifest element <trustInfo> is in the urn:schemas-microsoft-com:asm.v1 namespace": replace_in_manifest(
        b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"', b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v1"'),
}
# Faults that only one bitness's checks catch.
ARCH_FAULTS = {
    "x86_64": {"high-entropy ASLR not set": clear_flag(0x20)},
    # The import of the posix-thread build that XP lacks, in place of one it has.
    "i686": {"imports kernel32.dll!GetTickCount64, which is not on the list": rename_import(
        b"kernel32.dll", b"InitializeCriticalSection", b"GetTickCount64")},
}


class PeCheckTest(unittest.TestCase):
    def test_built_executables_pass_and_each_planted_fault_fails(self):
        builds = {arch: os.environ[name] for arch, name in BUILDS.items() if os.environ.get(name)}
        with self.assertRaises(ValueError):
            pe_check.bitness(__file__)
        if not builds:
            self.skipTest("no Windows build given (TAVRELO_WIN32_DIR, TAVRELO_WIN64_DIR)")
        for arch, build in builds.items():
            exe = os.path.join(build, "bin", "tavrelo.exe")
            self.assertEqual(pe_check.check(exe, arch)[1], [], exe)
            self.assertIn("machine", pe_check.check(exe, "x86_64" if arch == "i686" else "i686")[1][0])
            self.assertEqual(pe_check.bitness(exe), arch)  # as the bench names the exes it ran
            faults = dict(FAULTS, **ARCH_FAULTS[arch])
            with tempfile.TemporaryDirectory() as folder:
                grown = shutil.copy(exe, os.path.join(folder, "grown.exe"))
                with open(grown, "ab") as f:
                    f.write(bytes(pe_check.SIZE_BUDGETS[arch] - os.path.getsize(exe) + 1))
                self.assertIn("%d bytes, past its budget" % (pe_check.SIZE_BUDGETS[arch] + 1), pe_check.check(grown, arch)[1][0])
                for fragment, plant in faults.items():
                    with self.subTest(arch=arch, fault=fragment):
                        pe = pefile.PE(exe)
                        plant(pe)
                        broken = os.path.join(folder, "broken.exe")
                        pe.write(broken)
                        pe.close()
                        problems = pe_check.check(broken, arch)[1]
                        self.assertTrue(any(fragment in p for p in problems), f"no {fragment!r} in {problems}")


class WindowsXpRulesTest(unittest.TestCase):
    """The rules that need no build: the committed manifest and list of XP
    functions pass, and each rule fails on a fault of its own."""

    MANIFEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "launcher", "resources",
                            "tavrelo.manifest")

    def test_manifest_keeps_to_what_windows_xp_parses(self):
        with open(self.MANIFEST, "rb") as manifest:
            committed = manifest.read()
        self.assertEqual(pe_check.manifest_problems(committed), [])
        trust_info = b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">'
        self.assertIn(trust_info, committed)
        faults = {
            # The crash of XP SP2's parser: one element, one namespace, declared twice.
            "manifest element <ms:trustInfo> declares namespace urn:schemas-microsoft-com:asm.v3 twice": committed
            .replace(trust_info, b'<ms:trustInfo xmlns:ms="urn:schemas-microsoft-com:asm.v3" '
                                 b'xmlns="urn:schemas-microsoft-com:asm.v3">').replace(b"</trustInfo>", b"</ms:trustInfo>"),
            "manifest element <trustInfo> is in the urn:schemas-microsoft-com:asm.v1 namespace": committed.replace(
                trust_info, b"<trustInfo>"),
            "manifest root is <assembly> in urn:schemas-microsoft-com:asm.v3": committed.replace(
                b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1"', b'<assembly xmlns="urn:schemas-microsoft-com:asm.v3"'),
            "manifest is not well-formed XML": committed.replace(b"</security>", b""),
        }
        for fragment, manifest in faults.items():
            with self.subTest(fault=fragment):
                problems = pe_check.manifest_problems(manifest)
                self.assertTrue(any(fragment in p for p in problems), f"no {fragment!r} in {problems}")

    def test_xp_function_list_holds_only_sourced_functions_of_xp_sp3_or_older(self):
        with open(pe_check.XP_FUNCTIONS, encoding="utf-8") as listed:
            functions, problems = pe_check.xp_functions(listed)
        self.assertEqual(problems, [])
        self.assertIn(("kernel32.dll", "SetDllDirectoryW"), functions)
        self.assertNotIn(("kernel32.dll", "GetTickCount64"), functions)
        faults = {
            "list line 1: GetTickCount64 dates from Windows Vista, after Windows XP SP3":
                "kernel32.dll | GetTickCount64 | Windows Vista | learn: GetTickCount64",
            "list line 1: expected DLL | function | first Windows | source": "kernel32.dll | Sleep | Windows XP |",
        }
        for fragment, line in faults.items():
            with self.subTest(fault=fragment):
                functions, problems = pe_check.xp_functions([line], name="list")
                self.assertEqual(functions, set())
                self.assertTrue(any(fragment in p for p in problems), f"no {fragment!r} in {problems}")


if __name__ == "__main__":
    unittest.main()
