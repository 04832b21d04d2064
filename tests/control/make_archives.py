#!/usr/bin/env python3
"""Writes the archives the list and entry-opening pages work on into a fixture folder.

    make_archives.py FOLDER [RECORDER_EXE]

RECORDER_EXE, when given, is stored in open.zip as setup.EXE and in hostile.zip as
../victim.exe, and copied beside the archives as victim.exe (the same bytes, so the same CRC-32).
"""
import struct
import sys
import zipfile
from pathlib import Path

DATE = (2021, 6, 15, 10, 30, 24)


def write_zip(path, entries):
    """entries: (name, bytes) in central-directory order; a name ending in "/" is a folder."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
            archive.writestr(info, data)


def set_listed_size(path, entry_name, size):
    """Rewrites the uncompressed size that the central directory records for one entry."""
    data = bytearray(Path(path).read_bytes())
    at = data.rfind(b"PK\x01\x02")
    while at >= 0:
        name_length = struct.unpack_from("<H", data, at + 28)[0]
        if data[at + 46:at + 46 + name_length] == entry_name.encode():
            struct.pack_into("<I", data, at + 24, size)
            Path(path).write_bytes(bytes(data))
            return
        at = data.rfind(b"PK\x01\x02", 0, at)
    raise SystemExit(f"no entry {entry_name} in {path}")


def rename_entry(path, placeholder, name):
    """Gives an entry a name of raw bytes (a double-byte code page), in both of its headers."""
    data = Path(path).read_bytes()
    assert len(placeholder) == len(name) and data.count(placeholder) == 2
    Path(path).write_bytes(data.replace(placeholder, name))


KOREAN_DOCUMENT = "문서.nvt".encode("cp949")
KOREAN_REPORT = "보고서.nvt".encode("cp949")


def main():
    folder = Path(sys.argv[1])
    recorder = Path(sys.argv[2]).read_bytes() if len(sys.argv) > 2 else b"MZ"

    # Listing: names without a dot, folder entries, a dot in a folder part, companion entries
    # hidden by ".files", filter targets, both letter cases of an extension, sizes around the
    # thousands separator and the largest a 32-bit size field holds, a name in code page 949.
    write_zip(folder / "list.zip", [
        ("README", b"r" * 999),
        ("docs/", b""),
        ("docs/a.nvt", b"a" * 1000),
        ("b.nvt", b""),
        ("c.NVT", b"c"),
        ("old.dir/readme", b"o"),
        ("page.nvt", b"p"),
        ("page.files/", b""),
        ("page.files/img.gif", b"g"),
        ("my.filesystem.txt", b"f"),
        ("a.tmp", b"t"),
        ("~x.doc", b"x"),
        ("a.TMP", b"T"),
        ("huge.bin", b"h"),
        ("K" * len(KOREAN_DOCUMENT), b"k"),
    ])
    set_listed_size(folder / "list.zip", "huge.bin", 0xFFFFFFFF)
    rename_entry(folder / "list.zip", b"K" * len(KOREAN_DOCUMENT), KOREAN_DOCUMENT)
    # A second archive: one extension not met before (".nvz") beside known ones.
    write_zip(folder / "second.zip", [("new.nvz", b"n"), ("more.nvt", b"m"), ("more.txt", b"t")])
    write_zip(folder / "empty.zip", [])
    good = (folder / "list.zip").read_bytes()
    # Cut before the end of the central directory: not readable as an archive.
    (folder / "corrupt.zip").write_bytes(good[: len(good) // 2])

    # Entry opening: a registered type (.nvt), companions, an executable, an unassociated type
    # (.nvx), an empty entry (CRC 0), a folder entry, a nested entry, a name in code page 949, and
    # an entry whose place a page can block.
    write_zip(folder / "open.zip", [
        ("report.nvt", b"report\r\n"),
        ("page.nvt", b"<page>"),
        ("page.files/", b""),
        ("page.files/a.gif", b"GIF89a-a"),
        ("page.files/b.css", b"b {}"),
        ("Page.files/c.gif", b"GIF89a-c"),
        ("a.b.nvt", b"a.b"),
        ("a.b.files/x.gif", b"GIF89a-x"),
        ("setup.EXE", recorder),
        ("data.nvx", b"data"),
        ("empty.nvt", b""),
        ("docs/", b""),
        ("docs/inner.nvt", b"inner"),
        ("R" * len(KOREAN_REPORT), b"korean report"),
        ("blocked.nvt", b"blocked"),
    ])
    rename_entry(folder / "open.zip", b"R" * len(KOREAN_REPORT), KOREAN_REPORT)

    # Names that lead out of the work folder; beside them one sound entry whose companion does.
    write_zip(folder / "hostile.zip", [
        ("../up.nvt", b"up"),
        ("..\\back.nvt", b"back"),
        ("/root.nvt", b"root"),
        ("C:drive.nvt", b"drive"),
        ("sub/../../deep.nvt", b"deep"),
        ("../victim.exe", recorder),
        ("safe.nvt", b"safe"),
        ("safe.files/../../escaped.gif", b"GIF89a-e"),
        ("safe.files/kept.gif", b"GIF89a-k"),
    ])
    (folder / "victim.exe").write_bytes(recorder)


if __name__ == "__main__":
    main()
