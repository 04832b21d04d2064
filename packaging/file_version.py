#!/usr/bin/env python3
"""Prints the file version (a.b.c.d) of a Windows module's version record: the fixed part
(VS_FIXEDFILEINFO, found by its signature) of its VERSIONINFO resource."""
import struct
import sys


def file_version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit("file_version: the module has no version record")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: file_version.py MODULE")
    with open(sys.argv[1], "rb") as f:
        print(file_version(f.read()))
