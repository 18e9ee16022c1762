"""An executable's bitness, from its PE header, named as checks/pe_check.py names it."""

import sys
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "checks"))
import pe_check  # noqa: E402


def pe_bitness(path):
    """i686 or x86_64 from the machine field of a PE file's header."""
    try:
        machine = pefile.PE(str(path), fast_load=True).FILE_HEADER.Machine
    except pefile.PEFormatError as e:
        raise ValueError(f"{path} is not a PE file: {e}") from e
    return {value: arch for arch, value in pe_check.MACHINES.items()}.get(machine, f"machine 0x{machine:x}")
