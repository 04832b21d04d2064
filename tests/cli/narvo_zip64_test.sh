#!/usr/bin/env bash
# ZIP64 and archives built to hurt: an entry past 4 GiB and more than 65,535 entries list and
# extract whole; shared data, impossible sizes and links at the target are refused or replaced.
# Usage: narvo_zip64_test.sh COMMAND... (the narvo program, possibly behind a runner such as Wine)
set -u
narvo=("$@")
. "$(dirname "${BASH_SOURCE[0]}")/../support/narvo_run.sh"
make_zip64="$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)/make_zip64.py"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
windows=0
[ ${#narvo[@]} -gt 1 ] && windows=1

# --- an entry of 4 GiB + 4 KiB + 3 (a sparse archive; the extracted file is real) ---------------
size=$((4 * 1024 * 1024 * 1024 + 4096 + 3))
crc=$(python3 "$make_zip64" zeros zeros.zip $size)
run list zeros.zip
expect 0 "list of a ZIP64 entry"
[ "$(cat stdout.txt)" = "$(printf 'zeros.bin\t4,294,971,395')" ] || fail "ZIP64 size: $(cat stdout.txt)"
mkdir o
run extract-all zeros.zip o
expect 0 "extract-all of a ZIP64 entry"
[ "$(stat -c %s o/zeros.bin 2>/dev/null)" = "$size" ] || fail "ZIP64 entry: $(ls -l o)"
run crc32 o/zeros.bin
[ "$(cat stdout.txt)" = "$crc" ] || fail "ZIP64 entry CRC-32 $(cat stdout.txt), expected $crc"
rm -f o/zeros.bin zeros.zip

# --- more than 65,535 entries ---------------------------------------------------------------------
python3 -c "
import zipfile
with zipfile.ZipFile('many.zip', 'w') as z:
    for i in range(70000):
        z.writestr('f%05d' % i, str(i))"
run list many.zip
expect 0 "list of 70,000 entries"
[ "$(wc -l <stdout.txt)" -eq 70000 ] || fail "70,000 entries: $(wc -l <stdout.txt) listed"
[ "$(tail -1 stdout.txt)" = "$(printf 'f69999\t5')" ] || fail "last of 70,000: $(tail -1 stdout.txt)"
# Creating 70,000 files under Wine takes many minutes; the Windows build lists them, the native one
# extracts them too (the reading code is the same).
if [ $windows = 0 ]; then
  rm -rf o && mkdir o
  run extract-all many.zip o
  expect 0 "extract-all of 70,000 entries"
  [ "$(ls o | wc -l)" -eq 70000 ] && [ "$(cat o/f69999)" = 69999 ] || fail "70,000 entries extracted: $(ls o | wc -l)"
fi
rm -rf o many.zip

# --- built to hurt ----------------------------------------------------------------------------
# Two directory records sharing one entry's data (the non-recursive zip bomb's trick), and a
# directory declaring more entries than it can hold.
python3 - <<'PY'
import struct, zipfile
with zipfile.ZipFile('one.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('a.txt', 'x' * 100000)
d = open('one.zip', 'rb').read()
central, end = d.find(b'PK\x01\x02'), d.find(b'PK\x05\x06')
record = d[central:end]
second = record.replace(b'a.txt', b'b.txt')
bomb = d[:end] + second + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 2, 2, 2 * len(record), central, 0)
open('bomb.zip', 'wb').write(bomb)
counted = bytearray(d)
struct.pack_into('<HH', counted, end + 8, 60000, 60000)
open('count.zip', 'wb').write(counted)
PY
mkdir -p o
run extract-all bomb.zip o
expect 1 "overlapping entries" -103
[ -z "$(ls o)" ] || fail "overlapping entries: wrote $(ls o)"
run list count.zip
expect 1 "an entry count the directory cannot hold" -103
python3 "$make_zip64" forged forged.zip
run extract-all forged.zip o
expect 1 "an entry larger than the free space" -1
grep -q "no room for huge.bin" stderr.txt || fail "no room: $(cat stderr.txt)"
[ -z "$(ls o)" ] || fail "an entry larger than the free space: wrote $(ls o)"

# A symbolic link standing at the target is replaced, never written through (POSIX build).
if [ $windows = 0 ]; then
  printf 'mine' >victim.txt
  ln -s ../victim.txt o/a.txt
  run extract-all one.zip o
  expect 0 "extract-all over a symbolic link"
  [ "$(cat victim.txt)" = mine ] || fail "the link's target was written"
  [ ! -L o/a.txt ] && [ "$(stat -c %s o/a.txt)" -eq 100000 ] || fail "the link was not replaced"
fi

echo "$failures failures"
[ "$failures" -eq 0 ]
