#!/usr/bin/env bash
# Archives as other tools write them, and forged ones where no tool would: each method decodes to
# the original bytes or is refused before anything is written, and a bad entry is never good.
# Usage: narvo_archives_test.sh COMMAND... (the narvo program, possibly behind a runner such as Wine)
set -u
narvo=("$@")
. "$(dirname "${BASH_SOURCE[0]}")/../support/narvo_run.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

python3 -c "
import random
r = random.Random(5)
open('doc.txt', 'w').write(''.join('line %d %s\n' % (i, r.choice(['alpha', 'beta', 'gamma'])) for i in range(30000)))
# Repeats from 32 KiB to 64 KiB back and a run far longer than 258 bytes, for Deflate64.
a, b, c = r.randbytes(24000), r.randbytes(36000), r.randbytes(20000)
open('big.bin', 'wb').write(a + b + a + b'z' * 200000 + a + c + a + open('doc.txt', 'rb').read())"

# extracts ARCHIVE WHAT: extract-all succeeds and gives doc.txt back byte for byte.
extracts() {
  rm -rf o && mkdir o
  run extract-all "$1" o
  expect 0 "$2"
  cmp -s o/doc.txt doc.txt || fail "$2: doc.txt differs from the original"
}
# refuses ARCHIVE WHAT CODE TEXT: extract-all fails with CODE, says TEXT, and writes nothing.
refuses() {
  rm -rf o && mkdir o
  run extract-all "$1" o
  expect 1 "$2" "$3"
  grep -q "$4" stderr.txt || fail "$2: expected '$4' ($(cat stderr.txt))"
  [ -z "$(ls o)" ] || fail "$2: wrote $(ls o)"
}

# --- every method a writer here offers ----------------------------------------------------------
for method in Copy Deflate BZip2 LZMA; do
  7z a -tzip -mm=$method "7z-$method.zip" doc.txt >/dev/null
  extracts "7z-$method.zip" "7-Zip $method"
done
python3 -c "
import zipfile
for name, kind in (('py-bzip2.zip', zipfile.ZIP_BZIP2), ('py-lzma.zip', zipfile.ZIP_LZMA)):
    with zipfile.ZipFile(name, 'w', kind) as z:
        z.write('doc.txt')"
extracts py-bzip2.zip "Python bzip2"
extracts py-lzma.zip "Python LZMA"
zip -q -9 info-zip.zip doc.txt
extracts info-zip.zip "Info-ZIP deflate"
: >empty.txt
zip -q with-empty.zip empty.txt doc.txt # Info-ZIP stores an empty file: no data at all
extracts with-empty.zip "an empty stored entry"
[ -f o/empty.txt ] && [ ! -s o/empty.txt ] || fail "an empty stored entry: $(ls -l o)"
bsdtar --format zip -cf bsdtar.zip doc.txt
extracts bsdtar.zip "bsdtar (data descriptor)"

# Deflate64, as Windows Explorer writes large files: listed, extracted, and damage is found.
7z a -tzip -mm=Deflate64 7z-deflate64.zip doc.txt big.bin >/dev/null
extracts 7z-deflate64.zip "7-Zip Deflate64"
cmp -s o/big.bin big.bin || fail "7-Zip Deflate64: big.bin differs from the original"
run list 7z-deflate64.zip
expect 0 "list of a Deflate64 archive"
[ "$(cut -f1 stdout.txt | sort | tr '\n' ' ')" = "big.bin doc.txt " ] ||
  fail "list of a Deflate64 archive: $(cat stdout.txt)"
7z a -tzip -mm=Deflate64 7z-deflate64-big.zip big.bin >/dev/null
python3 - <<'PY'
d = bytearray(open('7z-deflate64-big.zip', 'rb').read())
d[len(d) // 2] ^= 0x10
open('7z-deflate64-bad.zip', 'wb').write(d)
PY
rm -rf o && mkdir o && run extract-all 7z-deflate64-bad.zip o
expect 1 "a damaged Deflate64 entry"
grep -Eq "result (-3|-105) " stderr.txt || fail "a damaged Deflate64 entry: $(cat stderr.txt)"

# A large deflated entry with stretches of noise, which the engine decodes on two threads where
# its build has ISA-L: the same bytes from every writer, and damage late in the entry is found.
python3 -c "
import random
r = random.Random(9)
words = [''.join(r.choice('etaoinshrd') for _ in range(r.randint(2, 9))) for _ in range(3000)]
text = ' '.join(r.choice(words) for _ in range(15000)).encode()
with open('mixed.bin', 'wb') as f:
    for i in range(640):  # 40 MiB in 64 KiB pieces, four in ten of them noise
        f.write(r.randbytes(65536) if r.random() < 0.4 else text[:65536])"
zip -q info-zip-mixed.zip mixed.bin
7z a -tzip -mm=Deflate 7z-mixed.zip mixed.bin >/dev/null
python3 -c "
import zipfile
zipfile.ZipFile('py-mixed.zip', 'w', zipfile.ZIP_DEFLATED).write('mixed.bin')"
for writer in info-zip 7z py; do
  rm -rf o && mkdir o
  run extract-all "$writer-mixed.zip" o
  expect 0 "a large mixed entry by $writer"
  cmp -s o/mixed.bin mixed.bin || fail "a large mixed entry by $writer: it differs from the original"
done
python3 - <<'PY'
d = bytearray(open('info-zip-mixed.zip', 'rb').read())
for at in range(len(d) * 3 // 4, len(d) * 3 // 4 + 4096, 512):
    d[at] ^= 0x5A
open('info-zip-mixed-bad.zip', 'wb').write(d)
PY
rm -rf o && mkdir o && run extract-all info-zip-mixed-bad.zip o
expect 1 "a damaged large mixed entry"
grep -Eq "result (-3|-105) " stderr.txt || fail "a damaged large mixed entry: $(cat stderr.txt)"

# --- refused before anything is written ---------------------------------------------------------
7z a -tzip -mm=PPMd 7z-ppmd.zip doc.txt >/dev/null
refuses 7z-ppmd.zip "PPMd" -103 "unsupported compression method 98"
7z a -tzip -pSECRET -mem=AES256 7z-aes.zip doc.txt >/dev/null
refuses 7z-aes.zip "AES" -103 "encrypted entry"
zip -q -P secret zip-crypt.zip doc.txt
refuses zip-crypt.zip "traditional encryption" -103 "encrypted entry"
run list zip-crypt.zip
expect 0 "list of an encrypted archive"
grep -q "^doc.txt" stdout.txt || fail "the encrypted entry is not listed: $(cat stdout.txt)"

# --- forged sizes: the engine's own count and CRC decide ------------------------------------------
# forge IN OUT FIELD DELTA: adds DELTA to a size field (compressed at 18/20, uncompressed at
# 22/24 in the local/central header) of the archive's one entry.
forge() {
  python3 - "$@" <<'PY'
import struct, sys
src, dst, field, delta = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
d = bytearray(open(src, 'rb').read())
local, central = d.find(b'PK\x03\x04'), d.find(b'PK\x01\x02')
for at in ((local + 18, central + 20) if field == 'compressed' else (local + 22, central + 24)):
    struct.pack_into('<I', d, at, struct.unpack_from('<I', d, at)[0] + delta)
open(dst, 'wb').write(d)
PY
}
zip -q -0 stored.zip doc.txt
size=$(stat -c %s doc.txt)
forge info-zip.zip larger.zip uncompressed 100
rm -rf o && mkdir o && run extract-all larger.zip o
expect 1 "a stored size larger than the data" -105
cmp -s o/doc.txt doc.txt || fail "a size mismatch must leave the complete file"
forge info-zip.zip smaller.zip uncompressed -100
rm -rf o && mkdir o && run extract-all smaller.zip o
expect 1 "data running past the stored size" -3
[ "$(stat -c %s o/doc.txt)" -eq $((size - 100)) ] || fail "writing must stop at the stored size"
forge stored.zip stored-short.zip compressed -100
rm -rf o && mkdir o && run extract-all stored-short.zip o
expect 1 "stored data ending early" -3
forge stored.zip stored-huge.zip compressed 1000000000
rm -rf o && mkdir o && run extract-all stored-huge.zip o
expect 1 "data past the archive's end" -103
[ -z "$(ls o)" ] || fail "data past the archive's end: wrote $(ls o)"

# --- names in every encoding ---------------------------------------------------------------------
# The Windows build runs under code page 949 (NARVO_KOREAN=1): it lists in CP949, and a character
# CP949 lacks becomes _uXXXX; the native build lists and writes UTF-8.
windows=0
[ ${#narvo[@]} -gt 1 ] && windows=1
mkdir names && printf 'k' >"names/café 한글.txt"
(cd names && 7z a -tzip -mcu=on ../7z-names.zip "café 한글.txt" >/dev/null)
python3 - <<'PY'
import struct, unicodedata, zipfile, zlib
def clear_utf8_flag(path):
    d = bytearray(open(path, 'rb').read())
    for sig, at in ((b'PK\x03\x04', 6), (b'PK\x01\x02', 8)):
        i = d.find(sig)
        while i >= 0:
            struct.pack_into('<H', d, i + at, struct.unpack_from('<H', d, i + at)[0] & ~0x800)
            i = d.find(sig, i + 4)
    open(path, 'wb').write(d)
with zipfile.ZipFile('py-names.zip', 'w') as z:
    z.writestr('한국어 문서.txt', 'a')                                      # UTF-8 flag
    z.writestr(unicodedata.normalize('NFD', '맥 résumé.txt'), 'b')          # NFD, as macOS writes
    z.writestr('QQQQ.txt', 'c')  # renamed below to CP949 bytes, without the flag
    z.writestr('smile 😀.txt', 'd')
    raw = b'field?.txt'
    info = zipfile.ZipInfo(raw.decode('ascii'))
    info.extra = struct.pack('<HHBI', 0x7075, 5 + len('필드 ü.txt'.encode()), 1, zlib.crc32(raw)) + '필드 ü.txt'.encode()
    z.writestr(info, 'e')
clear_utf8_flag('py-names.zip')
d = open('py-names.zip', 'rb').read().replace(b'QQQQ.txt', b'\xc7\xd1\xb1\xdb.txt')
open('py-names.zip', 'wb').write(d)
PY
# The names expected in the list, in the build's code page.
python3 - "$windows" <<'PY' >want-names.txt
import sys
windows = sys.argv[1] == '1'
def shown(name):
    if not windows:
        return name.encode()
    out = b''
    for c in name:
        try:
            out += c.encode('cp949')
        except UnicodeEncodeError:
            out += b'_u%04X' % ord(c)
    return out
rows = [shown('한국어 문서.txt'), shown('맥 résumé.txt'), b'\xc7\xd1\xb1\xdb.txt', shown('smile 😀.txt'),
        shown('필드 ü.txt')]
sys.stdout.buffer.write(b''.join(r + b'\t1\n' for r in rows))
PY
run list py-names.zip
expect 0 "list of names in every encoding"
cmp -s stdout.txt want-names.txt || fail "names: $(cat -v stdout.txt) expected $(cat -v want-names.txt)"
run list 7z-names.zip
[ "$(cut -f1 stdout.txt)" = "$(
  if [ $windows = 1 ]; then printf 'caf_u00E9 \xc7\xd1\xb1\xdb.txt'; else printf 'café 한글.txt'; fi)" ] ||
  fail "7-Zip's UTF-8 name: $(cat -v stdout.txt)"
rm -rf o && mkdir o && run extract-all py-names.zip o
expect 0 "extract-all of names in every encoding"
[ "$(ls o | wc -l)" -eq 5 ] || fail "names: extracted $(ls o)"
if [ $windows = 1 ]; then
  for f in "한국어 문서.txt" "맥 r_u00E9sum_u00E9.txt" "한글.txt" "smile _u1F600.txt" "필드 _u00FC.txt"; do
    [ -f "o/$f" ] || fail "names: no o/$f in $(ls o)"
  done
else
  for f in "한국어 문서.txt" "맥 résumé.txt" "smile 😀.txt" "필드 ü.txt" $'\xc7\xd1\xb1\xdb.txt'; do
    [ -f "o/$f" ] || fail "names: no o/$f in $(ls o)"
  done
fi

# --- base names Windows would turn into a device, a stream or another file: refused everywhere ----
python3 - <<'PY'
import zipfile
names = ['COM1.log', 'nul.txt', 'aux.tar.gz', 'CON .txt', 'lpt0', 'conin$.txt', 'CONOUT$',
         'COM\u00b9.txt', 'evil.exe.', 'evil.exe ', 'a:b.txt', 'q?.txt', 'x<y', 'bell\x07']
for i, name in enumerate(names):
    with zipfile.ZipFile('special-%d.zip' % i, 'w') as z:
        z.writestr('docs/' + name, 'x')
PY
for zip in special-*.zip; do
  refuses "$zip" "special base name in $zip" -1 "name not allowed for a file"
done
python3 -c "
import zipfile
with zipfile.ZipFile('plain-names.zip', 'w') as z:
    for name in ('CONSOLE.txt', 'COM10.txt', 'nula.txt', 'LPT.txt', 'a..b.txt'):
        z.writestr(name, 'x')"
rm -rf o && mkdir o && run extract-all plain-names.zip o
expect 0 "names that merely look like devices"
[ "$(ls o | wc -l)" -eq 5 ] || fail "names that merely look like devices: $(ls o)"

# --- names that would forge rows or drive the terminal are escaped in the list -----------------
python3 -c "
import zipfile
with zipfile.ZipFile('control.zip', 'w') as z:
    z.writestr('a\\nfake\\t1,000', 'x')
    z.writestr('b\\x1b[31m', 'y')
    z.writestr('c\\\\d', 'z')"
run list control.zip
expect 0 "list of control characters"
[ "$(cut -f1 stdout.txt)" = "$(printf '%s\n' 'a\x0afake\x091,000' 'b\x1b[31m' 'c\x5cd')" ] ||
  fail "control characters in names: $(cat -v stdout.txt)"

echo "$failures failures"
[ "$failures" -eq 0 ]
