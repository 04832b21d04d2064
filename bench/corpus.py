#!/usr/bin/env python3
"""Makes the benchmark corpora: the same bytes on every run (fixed seeds), zipped by Info-ZIP zip.

    bench/corpus.py OUT_DIR

OUT_DIR receives
    small.zip   20,000 small files (200 B - 16 KiB, mostly text), all at the archive's root
    tiny.zip    100,000 tiny entries (0 - 96 B) spread over nested folders
    mixed.zip   ~2,000 files of mixed kinds and sizes (text, binary, stored media, empty, a few
                large ones), at the root
    big.bin     1 GiB of compressible mixed data (text, tables, noise, runs), and
    big.zip     that file as one deflated entry.
A corpus already made with the same recipe version is kept; a changed recipe remakes it.
"""
import array
import math
import os
import random
import shutil
import subprocess
import sys

RECIPE = "2"  # bump when a generator below changes, so old corpora are remade
KIB, MIB, GIB = 1024, 1024**2, 1024**3


class Text:
    """Word-salad lines from a fixed vocabulary: compresses like prose or source code."""

    def __init__(self, rng, lines=20000):
        letters = "etaoinshrdlcumwfgypbvkjxqz"
        weights = [12, 9, 8, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1]
        words = ["".join(rng.choices(letters, weights, k=rng.randint(2, 10))) for _ in range(4000)]
        self.lines = []
        for _ in range(lines):
            line = " ".join(rng.choices(words, k=rng.randint(3, 14)))
            self.lines.append((line.capitalize() + ".\n").encode())
        self.mean = sum(map(len, self.lines)) / len(self.lines)

    def make(self, rng, size):
        out = b""
        while len(out) < size:
            out += b"".join(rng.choices(self.lines, k=int((size - len(out)) / self.mean) + 2))
        return out[:size]


def table(rng, size):
    """Rows of slowly growing little-endian integers, like an index or a log of counters."""
    start, step = rng.randrange(1 << 24), rng.randint(1, 9)
    words = array.array("I", range(start, start + step * (size // 4 + 1), step))
    return words.tobytes()[:size]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def run_zip(archive, folder, names=None, extra=()):
    """Zips folder's files into archive with stored paths relative to folder (Info-ZIP, level 6)."""
    if os.path.exists(archive):
        os.remove(archive)
    cmd = ["zip", "-q", "-X", *extra, os.path.abspath(archive)]
    if names is None:
        subprocess.run(cmd + ["-r", "."], cwd=folder, check=True)
    else:
        subprocess.run(cmd + ["-@"], cwd=folder, check=True, input="\n".join(names).encode())


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high))))


def make_small(out, work, text):
    rng = random.Random(20000)
    folder = os.path.join(work, "small")
    os.makedirs(folder)
    for i in range(20000):
        size = log_uniform(rng, 200, 16 * KIB)
        data = rng.randbytes(size) if rng.random() < 0.1 else text.make(rng, size)
        write(os.path.join(folder, f"doc{i:05d}.{rng.choice(['txt', 'htm', 'xml', 'dat'])}"), data)
    run_zip(os.path.join(out, "small.zip"), folder)


def make_tiny(out, work):
    rng = random.Random(100000)
    folder = os.path.join(work, "tiny")
    names = []
    for i in range(100000):
        rel = f"part{i // 10000:02d}/group{i // 500 % 20:02d}/entry{i:06d}.txt"
        path = os.path.join(folder, rel)
        if i % 500 == 0:
            os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, f"entry {i} {rng.getrandbits(64):x}\n".encode() * rng.randint(0, 3))
        names.append(rel)
    run_zip(os.path.join(out, "tiny.zip"), folder, names)


def make_mixed(out, work, text):
    rng = random.Random(2000)
    folder = os.path.join(work, "mixed")
    os.makedirs(folder)
    for i in range(2000):
        kind = rng.choices(["txt", "bin", "jpg", "tbl", "empty"], [50, 15, 15, 15, 5])[0]
        size = log_uniform(rng, 1, MIB) if i % 200 else log_uniform(rng, 4 * MIB, 16 * MIB)
        if kind == "txt":
            data = text.make(rng, size)
        elif kind in ("bin", "jpg"):
            data = rng.randbytes(size)
        elif kind == "tbl":
            data = table(rng, size)
        else:
            data = b""
        write(os.path.join(folder, f"file{i:04d}.{kind}"), data)
    # Media is stored, as zip users usually ask for; everything else is deflated.
    run_zip(os.path.join(out, "mixed.zip"), folder, extra=["-n", ".jpg"])


def make_big(out, text):
    """1 GiB in 64 KiB blocks: text 55 %, tables 20 %, noise 15 %, runs 10 % (deflates to ~45 %)."""
    rng = random.Random(1 << 30)
    path = os.path.join(out, "big.bin")
    block = 64 * KIB
    with open(path, "wb") as f:
        for _ in range(GIB // block):
            kind = rng.choices(["text", "table", "noise", "run"], [55, 20, 15, 10])[0]
            if kind == "text":
                data = text.make(rng, block)
            elif kind == "table":
                data = table(rng, block)
            elif kind == "noise":
                data = rng.randbytes(block)
            else:
                data = bytes([rng.randrange(256)]) * block
            f.write(data)
    run_zip(os.path.join(out, "big.zip"), out, ["big.bin"])



def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    stamp = os.path.join(out, "corpus.recipe")
    if os.path.exists(stamp) and open(stamp).read() == RECIPE:
        return
    os.makedirs(out, exist_ok=True)
    if os.path.exists(stamp):
        os.remove(stamp)
    work = os.path.join(out, "work")
    shutil.rmtree(work, ignore_errors=True)
    text = Text(random.Random(42))
    for name, step in [("small", lambda: make_small(out, work, text)),
                       ("tiny", lambda: make_tiny(out, work)),
                       ("mixed", lambda: make_mixed(out, work, text)),
                       ("big", lambda: make_big(out, text))]:
        print(f"corpus: making {name}", flush=True)
        step()
    shutil.rmtree(work)
    write(stamp, RECIPE.encode())


if __name__ == "__main__":
    main()
