#!/usr/bin/env python3
"""Copies a type library written by widl to its final place after checking that the LIBID stored
in it is the one the IDL declares: some widl versions alter its last byte when the library holds a
dispinterface, and a library registered under the wrong LIBID is never found again."""
import re
import shutil
import struct
import sys
import uuid


def idl_libid(idl_text):
    library = re.search(r"\blibrary\s+\w+", idl_text)
    if not library:
        sys.exit("check_typelib: no library statement in the IDL")
    guids = re.findall(r"uuid\(\s*([0-9A-Fa-f-]{36})\s*\)", idl_text[: library.start()])
    if not guids:
        sys.exit("check_typelib: the library has no uuid attribute")
    return uuid.UUID(guids[-1])


def tlb_libid(data):
    # MSFT layout: the header, one offset per type description, then 15 segment descriptors of
    # which the sixth is the GUID table; the header's third field is the LIBID's offset in it.
    magic, _version, guid_offset = struct.unpack_from("<4sIi", data, 0)
    if magic != b"MSFT":
        sys.exit("check_typelib: not an MSFT type library")
    varflags, = struct.unpack_from("<i", data, 0x14)
    type_count, = struct.unpack_from("<i", data, 0x20)
    segments = 0x54 + (4 if varflags & 0x100 else 0) + 4 * type_count
    guid_table, = struct.unpack_from("<i", data, segments + 16 * 5)
    start = guid_table + guid_offset
    return uuid.UUID(bytes_le=bytes(data[start:start + 16]))


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check_typelib.py IDL WRITTEN_TLB FINAL_TLB")
    idl, written, final = sys.argv[1:]
    with open(idl, encoding="utf-8") as f:
        expected = idl_libid(f.read())
    with open(written, "rb") as f:
        found = tlb_libid(f.read())
    if found != expected:
        sys.exit(f"check_typelib: {written} holds LIBID {{{str(found).upper()}}} but the IDL "
                 f"declares {{{str(expected).upper()}}} (widl altered it)")
    shutil.copyfile(written, final)


if __name__ == "__main__":
    main()
