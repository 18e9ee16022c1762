"""Whether this machine runs 32-bit x86 code at all: a kernel without IA-32
emulation refuses every 32-bit program, and so Wine's 32-bit loader and
any i686 Windows program with it."""

import os
import struct
import subprocess
import tempfile

BASE = 0x08048000
# mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
CODE = bytes.fromhex("b801000000" "31db" "cd80")


def exit_program():
    """A static i386 ELF executable that only exits with status 0."""
    header_size, segment_size = 52, 32
    size = header_size + segment_size + len(CODE)
    header = struct.pack("<4s5B7x2H5I6H", b"\x7fELF", 1, 1, 1, 0, 0, 2, 3, 1, BASE + header_size + segment_size,
                         header_size, 0, 0, header_size, segment_size, 1, 0, 0, 0)
    segment = struct.pack("<8I", 1, 0, BASE, BASE, size, size, 5, 0x1000)
    return header + segment + CODE


def cannot_run_32bit(folder):
    """None when a 32-bit program runs here, else why it does not."""
    with tempfile.TemporaryDirectory(dir=folder) as scratch:
        path = os.path.join(scratch, "exit32")
        with open(path, "wb") as handle:
            handle.write(exit_program())
        os.chmod(path, 0o755)
        try:
            status = subprocess.run([path], stdin=subprocess.DEVNULL, capture_output=True, timeout=10).returncode
        except OSError as error:
            return f"the kernel refuses 32-bit programs ({error.strerror})"
        if status != 0:
            return f"a 32-bit program ends with status {status} instead of 0"
        return None
