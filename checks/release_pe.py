#!/usr/bin/python3
"""What the release scripts need to know about an executable, read with pefile:

    release_pe.py check EXE          prints "signed" or "unsigned"; exit 2 if EXE is no PE file
    release_pe.py version EXE        prints the file version of its version block (1.0.0.0)
    release_pe.py compare BUILT EXE  exit 0 if the bytes are the same, else 1 and names
                                     the first place where EXE differs from BUILT
"""
import sys

import pefile

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class BadInput(Exception):
    pass


def load(path):
    try:
        return pefile.PE(path, fast_load=True)
    except (OSError, pefile.PEFormatError) as error:
        raise BadInput(f"{path} is not a PE file ({error})") from None


def signed(pe):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY].Size > 0


def version(pe):
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    info = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not info:
        raise BadInput("the executable has no version block")
    ms, ls = info[0].FileVersionMS, info[0].FileVersionLS
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def section_name(section):
    return section.Name.rstrip(b"\0").decode("ascii", "replace")


def where(pe, offset):
    """The part of the file that holds OFFSET: a header field, a section or
    what follows the last section."""
    for section in pe.sections:
        start = section.PointerToRawData
        if start <= offset < start + section.SizeOfRawData:
            return f"section {section_name(section)} (offset {offset - start:#x} in it)"
    headers = [pe.DOS_HEADER, pe.NT_HEADERS, pe.FILE_HEADER, pe.OPTIONAL_HEADER,
               *pe.OPTIONAL_HEADER.DATA_DIRECTORY, *pe.sections]
    for header in headers:
        start = header.get_file_offset()
        if start <= offset < start + header.sizeof():
            field = max((start + at, name) for name, at in header.__field_offsets__.items() if start + at <= offset)
            owner = f"the header of section {section_name(header)}" if header in pe.sections else header.name
            return f"{owner}, field {field[1]}"
    if offset < pe.OPTIONAL_HEADER.SizeOfHeaders:
        return "the headers"
    return "the data after the sections"


def compare(built_path, given_path):
    with open(built_path, "rb") as handle:
        built = handle.read()
    with open(given_path, "rb") as handle:
        given = handle.read()
    if built == given:
        return 0
    pe = pefile.PE(data=given, fast_load=True)
    # The checksum sums up the whole file, so it differs whenever anything
    # else does: the place to name is the first difference elsewhere.
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    first = next((i for i, (a, b) in enumerate(zip(built, given))
                  if a != b and not checksum <= i < checksum + 4), min(len(built), len(given)))
    lengths = "" if len(built) == len(given) else f"; {len(given)} bytes against {len(built)} built"
    if first == len(built) == len(given):
        print("only the PE checksum differs")
    else:
        print(f"first difference at file offset {first:#x}, in {where(pe, first)}{lengths}")
    return 1


def main(argv):
    if len(argv) == 3 and argv[1] in ("check", "version"):
        pe = load(argv[2])
        print(version(pe) if argv[1] == "version" else "signed" if signed(pe) else "unsigned")
        return 0
    if len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except BadInput as error:
        print(error, file=sys.stderr)
        sys.exit(2)
