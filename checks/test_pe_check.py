"""pe_check passes the built executables and fails on each fault it is there
to catch, planted with pefile in a copy of them. CTest passes the builds:
    TAVRELO_WIN64_DIR=build/win64 /usr/bin/python3 -m unittest checks/test_pe_check.py"""

import os
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
    'manifest lacks level="asInvoker"': lambda pe: pe.set_bytes_at_rva(
        resource_rva(pe, "RT_MANIFEST") + pe.get_data(resource_rva(pe, "RT_MANIFEST"), 2000).index(b"asInvoker"), b"AS"),
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
            faults = dict(FAULTS, **({"high-entropy ASLR not set": clear_flag(0x20)} if arch == "x86_64" else {}))
            with tempfile.TemporaryDirectory() as folder:
                for fragment, plant in faults.items():
                    with self.subTest(arch=arch, fault=fragment):
                        pe = pefile.PE(exe)
                        plant(pe)
                        broken = os.path.join(folder, "broken.exe")
                        pe.write(broken)
                        pe.close()
                        problems = pe_check.check(broken, arch)[1]
                        self.assertTrue(any(fragment in p for p in problems), f"no {fragment!r} in {problems}")


if __name__ == "__main__":
    unittest.main()
