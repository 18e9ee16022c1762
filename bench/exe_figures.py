"""An executable's size, picture size and imports, from checks/pe_check.py,
and its bitness, from its PE header as pefile reads it."""

import sys
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "checks"))
import pe_check  # noqa: E402


def exe_figures(exe, arch):
    """Figures of EXE (a Unix path) built for ARCH (i686 or x86_64). They
    hold even when one of pe_check's checks fails."""
    report, _ = pe_check.check(str(exe), arch)
    return {"size": report["size"], "picture": report["splash_bytes"], "imports": report["imports"]}


def pe_bitness(path):
    """i686 or x86_64 from the machine field of a PE file's header."""
    try:
        machine = pefile.PE(str(path), fast_load=True).FILE_HEADER.Machine
    except pefile.PEFormatError as e:
        raise ValueError(f"{path} is not a PE file: {e}") from e
    return {value: arch for arch, value in pe_check.MACHINES.items()}.get(machine, f"machine 0x{machine:x}")
