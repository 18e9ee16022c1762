"""An executable's size, picture size and imports, from the JSON report of
checks/pe_check.py."""

import json
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def exe_figures(exe, arch, work):
    """Figures of EXE (a Unix path) built for ARCH (i686 or x86_64). The
    report is read even when a check failed: the figures still hold."""
    report_path = Path(work) / f"pe_check-{arch}.json"
    report_path.unlink(missing_ok=True)
    checked = subprocess.run([sys.executable, str(ROOT / "checks" / "pe_check.py"), str(exe), "--arch", arch,
                              "--json", str(report_path)], capture_output=True, text=True)
    if not report_path.exists():
        raise RuntimeError(f"pe_check.py wrote no report for {exe}: {checked.stdout}{checked.stderr}")
    report = json.loads(report_path.read_text())
    return {"size": report["size"], "picture": report["splash_bytes"], "imports": report["imports"]}


MACHINES = {0x14C: "i686", 0x8664: "x86_64"}


def pe_bitness(path):
    """i686 or x86_64 from the machine field of a PE file's header."""
    with open(path, "rb") as handle:
        head = handle.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[offset:offset + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a PE file")
    machine = int.from_bytes(head[offset + 4:offset + 6], "little")
    return MACHINES.get(machine, f"machine 0x{machine:x}")
