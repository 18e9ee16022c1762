#!/usr/bin/env python3
"""Checks a built tavrelo.exe from its PE headers and resources.

Verifies the machine type, GUI subsystem, ASLR/DEP (and high-entropy ASLR on
x86_64), that symbols are stripped, that only DLLs present on every Windows are
imported, and the icon group, splash bitmap, version block and manifest.
Prints a short report; exits non-zero listing every property that is wrong.

    pe_check.py EXE --arch i686|x86_64 [--json OUT]
"""
import argparse
import json
import struct
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
RT_BITMAP, RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = self.pe + 4
        (self.machine, nsections, _, self.symbol_table, self.symbol_count, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from("<H", data, opt)[0]
        plus = self.magic == 0x20B
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        dirs = opt + (112 if plus else 96)
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.plus = plus
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for _, va, size, rawptr, _ in self.sections:
            if va <= rva < va + size:
                return rawptr + rva - va
        raise ValueError("rva %#x outside sections" % rva)

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    def imports(self):
        rva, size = self.directories[1]
        names = []
        if not rva:
            return names
        off = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, off)
            if not any(fields):
                break
            names.append(self.cstring(fields[3]))
            off += 20
        return names

    def resources(self):
        """{type: {id: bytes}} for the first language of each entry."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        out = {}

        def entries(table):
            named, ids = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)
                yield ident, target

        for type_id, type_target in entries(0):
            for res_id, res_target in entries(type_target & 0x7FFFFFFF):
                for _, lang_target in entries(res_target & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + lang_target)
                    off = self.offset(data_rva)
                    out.setdefault(type_id, {})[res_id] = self.data[off:off + size]
                    break
        return out


def version_block(data):
    """Fixed file and product version and the string tables of a VS_VERSIONINFO."""
    def children(start, end):
        pos = start
        while pos + 6 <= end:
            length, value_length, is_text = struct.unpack_from("<HHH", data, pos)
            if length == 0:
                break
            key_end = pos + 6
            while data[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = data[pos + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            size = value_length * (2 if is_text else 1)
            yield key, data[value:value + size], value + size, pos + length
            pos = (pos + length + 3) & ~3

    key, fixed, after, end = next(children(0, len(data)))
    if key != "VS_VERSION_INFO":
        raise ValueError("no VS_VERSION_INFO")
    sig, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", fixed)
    if sig != 0xFEEF04BD:
        raise ValueError("bad VS_FIXEDFILEINFO signature")
    ver = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    tables = {}
    for key, _, start, stop in children((after + 3) & ~3, end):
        if key == "StringFileInfo":
            for table, _, tstart, tstop in children(start, stop):
                strings = {}
                for name, value, _, _ in children(tstart, tstop):
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
                tables[table] = strings
    return ver(fms, fls), ver(pms, pls), tables


def check(path, arch):
    data = open(path, "rb").read()
    pe = Pe(data)
    problems = []
    report = {"file": path, "size": len(data)}
    expect_machine = {"i686": 0x14C, "x86_64": 0x8664}[arch]
    if pe.machine != expect_machine:
        problems.append("machine %#x, expected %#x" % (pe.machine, expect_machine))
    if pe.subsystem != 2:
        problems.append("subsystem %d, expected 2 (Windows GUI)" % pe.subsystem)
    flags = {"dynamic base (ASLR)": 0x40, "NX compatible (DEP)": 0x100}
    if arch == "x86_64":
        flags["high-entropy ASLR"] = 0x20
    for name, bit in flags.items():
        if not pe.dll_characteristics & bit:
            problems.append(name + " not set")
    report["dll_characteristics"] = hex(pe.dll_characteristics)
    if pe.symbol_table or pe.symbol_count:
        problems.append("COFF symbol table present: not stripped")
    if not any(r[0] for r in [pe.directories[5]]):
        problems.append("no base relocations: ASLR cannot move the image")

    imports = pe.imports()
    report["imports"] = imports
    for name in imports:
        if name.lower() not in ALLOWED_IMPORTS:
            problems.append("imports %s, which not every Windows has" % name)

    res = pe.resources()
    groups = res.get(RT_GROUP_ICON, {})
    if not groups:
        problems.append("no icon group")
    else:
        first = min(groups)
        group = groups[first]
        _, kind, count = struct.unpack_from("<HHH", group)
        images = []
        for i in range(count):
            w, h, colors, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            icon = res.get(RT_ICON, {}).get(icon_id, b"")
            header_bits = struct.unpack_from("<H", icon, 14)[0] if len(icon) >= 40 else None
            images.append((w or 256, h or 256, bits, header_bits, len(icon)))
        report["icon_group"] = {"id": first, "images": images}
        sizes = sorted((w, h) for w, h, *_ in images)
        if sizes != [(16, 16), (32, 32)]:
            problems.append("icon group %d holds %s, expected 32x32 and 16x16" % (first, sizes))
        for w, h, bits, header_bits, size in images:
            if bits != 8 or header_bits != 8:
                problems.append("icon %dx%d is not 8 bits per pixel" % (w, h))
            mask = ((w + 31) // 32 * 4) * h
            if size != 40 + 1024 + w * h + mask:
                problems.append("icon %dx%d has no transparency mask" % (w, h))

    splash = res.get(RT_BITMAP, {}).get(101, b"")
    # Info header: size, width, height, planes, bits per pixel, compression.
    if len(splash) < 40 or struct.unpack_from("<IiiHHI", splash) != (40, 490, 517, 1, 8, 1):
        problems.append("splash picture is not a 490 x 517 bottom-up 8-bit RLE8 bitmap")
    report["splash_bytes"] = len(splash)

    version = res.get(RT_VERSION, {}).get(1)
    if not version:
        problems.append("no version block")
    else:
        file_version, product_version, tables = version_block(version)
        report["version"] = {"file": file_version, "product": product_version, "tables": tables}
        if (file_version, product_version) != ("1.0.0.0", "1.0.0.0"):
            problems.append("fixed versions %s / %s" % (file_version, product_version))
        if list(tables) != ["040904B0"] and list(tables) != ["040904b0"]:
            problems.append("string tables %s, expected one 040904B0" % list(tables))
        for table in tables.values():
            for key in ("FileVersion", "ProductVersion"):
                if table.get(key) != "1.00":
                    problems.append("%s is %r" % (key, table.get(key)))

    manifest = res.get(RT_MANIFEST, {}).get(1, b"").decode("utf-8", "replace")
    for needed in ('level="asInvoker"', ">true</dpiAware>"):
        if needed not in manifest:
            problems.append("manifest lacks " + needed)
    return report, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--arch", choices=["i686", "x86_64"], required=True)
    parser.add_argument("--json")
    args = parser.parse_args()
    report, problems = check(args.exe, args.arch)
    print("%s: %d bytes (splash picture %d bytes), imports %s, DllCharacteristics %s"
          % (args.exe, report["size"], report.get("splash_bytes", 0),
             ", ".join(report["imports"]), report["dll_characteristics"]))
    if "version" in report:
        print("version %(file)s / %(product)s, strings %(tables)s" % report["version"])
    if args.json:
        with open(args.json, "w") as out:
            json.dump(report, out, indent=2)
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
