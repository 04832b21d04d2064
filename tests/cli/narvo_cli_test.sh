#!/usr/bin/env bash
# Drives the narvo tool as a user would and compares it with the standard tools.
# Usage: narvo_cli_test.sh COMMAND... (the narvo program, possibly behind a runner such as Wine)
set -u
narvo=("$@")
. "$(dirname "${BASH_SOURCE[0]}")/../support/narvo_run.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

# --- digests: the FIPS 180 examples and a large file, against sha1sum and zlib -------------------
printf 'abc' >v1
: >v2
printf 'abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq' >v3
python3 -c "import sys; sys.stdout.buffer.write(b'a' * 1000000)" >v4
python3 -c "
import random, sys
r = random.Random(1234)
sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(3 * 1024 * 1024 + 17)))" >large.bin
printf '\377\377\377\377' >ones.bin
for f in v1 v2 v3 v4 large.bin ones.bin; do
  run sha1 "$f"
  expect 0 "sha1 $f"
  [ "$(cat stdout.txt)" = "$(sha1sum "$f" | cut -d' ' -f1)" ] || fail "sha1 $f: $(cat stdout.txt)"
  run crc32 "$f"
  expect 0 "crc32 $f"
  want=$(python3 -c "import zlib,sys; print('%08x' % zlib.crc32(open(sys.argv[1],'rb').read()))" "$f")
  [ "$(cat stdout.txt)" = "$want" ] || fail "crc32 $f: $(cat stdout.txt), expected $want"
done
run crc32 ones.bin
[ "$(cat stdout.txt)" = "ffffffff" ] || fail "crc32 of four 0xFF bytes: $(cat stdout.txt)"
run sha1 missing.bin
expect 1 "sha1 of a missing file"
[ -s stderr.txt ] || fail "sha1 of a missing file says nothing"

# --- list: the rows the viewer shows, against unzip's own listing ---------------------------------
mkdir -p src/docs src/page.files src/empty
printf 'hello' >src/readme.txt
python3 -c "import sys; sys.stdout.buffer.write(b'x' * 1234567)" >src/docs/big.bin
printf 'gif' >src/page.files/img.gif
printf 'htm' >src/page.htm
printf 'tmp' >src/scratch.tmp
(cd src && zip -q -r ../a.zip readme.txt docs page.files page.htm scratch.tmp empty)
run list a.zip
expect 0 "list"
unzip -Z1 a.zip | grep -v '\.files' >names.txt
[ "$(cut -f1 stdout.txt)" = "$(cat names.txt)" ] || fail "list names differ from unzip -Z1: $(cat stdout.txt)"
grep -qx "$(printf 'docs/big.bin\t1,234,567')" stdout.txt || fail "list size text: $(cat stdout.txt)"
grep -qx "$(printf 'docs/\t0')" stdout.txt || fail "list folder row: $(cat stdout.txt)"
run list a.zip --exclude '.tmp|big'
expect 0 "list --exclude"
grep -q -e scratch.tmp -e big.bin stdout.txt && fail "excluded rows listed: $(cat stdout.txt)"
grep -q readme.txt stdout.txt || fail "list --exclude dropped readme.txt"
run list a.zip --exclude ''
[ "$status" -eq 0 ] && [ ! -s stdout.txt ] || fail "an empty filter must hide every row"
printf 'not a zip' >text.zip
run list text.zip
expect 1 "list of a text file"
grep -q -- '-103' stderr.txt || fail "list of a text file: $(cat stderr.txt)"
# A directory record damaged part-way: nothing listed, not even the rows read before it.
python3 -c "
d = bytearray(open('a.zip', 'rb').read())
at = d.find(b'PK\x01\x02', d.find(b'PK\x01\x02') + 1)
d[at:at + 4] = b'XXXX'
open('damaged.zip', 'wb').write(d)"
run list damaged.zip
expect 1 "list of a damaged directory"
[ ! -s stdout.txt ] || fail "list of a damaged directory printed rows: $(cat stdout.txt)"

# --- extract-all: the same files as unzip -j, a trailing separator added, unchanged ones kept ---
mkdir out ref
run extract-all a.zip out
expect 0 "extract-all"
(cd ref && unzip -q -o -j ../a.zip)
diff -r out ref >/dev/null || fail "extract-all differs from unzip -j: $(diff -r out ref | head -3)"
[ -w out/readme.txt ] && [ "$(id -u)" -ne 0 ] && fail "extracted files must be read-only"
[ -z "$(find out -perm -u+w -type f)" ] || fail "extracted files must be read-only"
touch -d '2001-02-03 04:05:06' out/readme.txt
run extract-all a.zip out/
expect 0 "extract-all again"
[ "$(date -r out/readme.txt +%Y)" = 2001 ] || fail "an unchanged entry was rewritten"
run extract-all a.zip missing-folder
expect 1 "extract-all into a missing folder"
grep -q -- '-1 ' stderr.txt || fail "extract-all into a missing folder: $(cat stderr.txt)"
run extract-all text.zip out
expect 1 "extract-all of a text file"
grep -q -- '-102' stderr.txt || fail "extract-all of a text file: $(cat stderr.txt)"

# --- usage --------------------------------------------------------------------------------------
run --help
expect 0 "--help"
grep -q usage stdout.txt || fail "--help prints no usage"
run
expect 2 "no command"
run frobnicate
expect 2 "unknown command"
run list
expect 2 "list without an archive"
run list a.zip --bogus
expect 2 "unknown option"
run list a.zip --exclude
expect 2 "option without its value"
run sha1 v1 v2
expect 2 "two files for sha1"

echo "$failures failures"
[ "$failures" -eq 0 ]
