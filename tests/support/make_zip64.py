#!/usr/bin/env python3
"""Writes ZIP64 archives no tool here makes quickly.

make_zip64.py zeros OUT SIZE   one stored entry "zeros.bin" of SIZE zero bytes; the archive is a
                               sparse file, so a 5 GiB entry costs no disk until extracted
make_zip64.py forged OUT       one deflated entry "huge.bin" whose ZIP64 record claims 2**45
                               bytes (32 TiB), more than any test machine's disk holds
"""
import struct
import sys
import zlib

MIB = 1 << 20


def zip64_extra(*values):
    return struct.pack('<HH', 1, 8 * len(values)) + b''.join(struct.pack('<Q', v) for v in values)


def write(out, name, method, crc, compressed_size, size, data_writer):
    name = name.encode()
    local_extra = zip64_extra(size, compressed_size)
    with open(out, 'wb') as f:
        f.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, method, 0, 0x5821, crc,
                            0xFFFFFFFF, 0xFFFFFFFF, len(name), len(local_extra)))
        f.write(name + local_extra)
        data_writer(f)
        central_at = f.tell()
        extra = zip64_extra(size, compressed_size, 0)
        f.write(struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 45, 0, method, 0, 0x5821, crc,
                            0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0,
                            0xFFFFFFFF))
        f.write(name + extra)
        central_size = f.tell() - central_at
        end64_at = f.tell()
        f.write(struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 1, 1, central_size,
                            central_at))
        f.write(struct.pack('<IIQI', 0x07064b50, 0, end64_at, 1))
        f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                            0xFFFFFFFF, 0))


def zeros(out, size):
    block = bytes(MIB)
    crc = 0
    for _ in range(size // MIB):
        crc = zlib.crc32(block, crc)
    crc = zlib.crc32(bytes(size % MIB), crc)

    def data(f):
        f.seek(size - 1, 1)  # a hole, read back as zeros
        f.write(b'\0')
    write(out, 'zeros.bin', 0, crc, size, size, data)
    print('%08x' % crc)


def forged(out):
    packed = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = packed.compress(bytes(MIB)) + packed.flush()
    write(out, 'huge.bin', 8, 0, len(body), 1 << 45, lambda f: f.write(body))


if __name__ == '__main__':
    if sys.argv[1] == 'zeros':
        zeros(sys.argv[2], int(sys.argv[3]))
    else:
        forged(sys.argv[2])
