#!/usr/bin/python3
"""Checks the end-to-end tools that one Windows build made, without running
them, so that a fault shows on any machine, including one that cannot run
that build's programs:

    tool_exports.py TOOLS_FOLDER --arch i686|x86_64

- every program and DLL in the folder is of the build's bitness (a tool of
  the other bitness cannot work with the launcher under test);
- icon-probe.dll exports its hook under the plain name the driver asks for;
- no DLL exports a name with a stdcall decoration (a 32-bit CALLBACK export
  is named Hook@12 unless the linker drops it, and then GetProcAddress with
  the plain name finds nothing).
"""
import argparse
import re
import sys
from pathlib import Path

import pefile

from pe_check import MACHINES

PROBE_HEADER = Path(__file__).resolve().parent.parent / "e2e" / "tools" / "icon_probe.h"
DECORATED = re.compile(r"@\d+$")


def hook_name():
    """The name the driver looks the hook up by, as icon_probe.h gives it."""
    return re.search(r'kIconProbeHookName\[\] = "(\w+)"', PROBE_HEADER.read_text()).group(1)


def exports(pe):
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    return [symbol.name.decode() for symbol in directory.symbols if symbol.name] if directory else []


def problems(folder, arch):
    found = []
    files = sorted(p for p in Path(folder).rglob("*") if p.suffix.lower() in (".exe", ".dll"))
    if not files:
        return [f"no programs or DLLs in {folder}"]
    for path in files:
        pe = pefile.PE(str(path), fast_load=True)
        if pe.FILE_HEADER.Machine != MACHINES[arch]:
            found.append(f"{path.name}: machine {pe.FILE_HEADER.Machine:#x}, not {arch}")
        if path.suffix.lower() == ".dll":
            names = exports(pe)
            found += [f"{path.name}: decorated export {name}" for name in names if DECORATED.search(name)]
            if path.name == "icon-probe.dll" and hook_name() not in names:
                found.append(f"{path.name}: no export named {hook_name()} (exports: {', '.join(names)})")
    if not (Path(folder) / "icon-probe.dll").is_file():
        found.append(f"no icon-probe.dll in {folder}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    found = problems(args.folder, args.arch)
    for problem in found:
        print(problem)
    print(f"{args.arch} tools in {args.folder}: {'FAILED' if found else 'ok'}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
