#!/usr/bin/env bash
# The build's guard against widl altering the LIBID: a library whose LIBID widl changes is refused,
# the product's own library passes.
#   typelib-check-test.sh CHECKER IDL WIDL [WIDL ARGS...]
set -euo pipefail
checker=$1 idl=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same library under a LIBID whose last byte is not 0x0D: widl rewrites it to 0x0D.
sed -E '/^library /,$!s/(uuid\(8ABAE432-4C5B-40AD-9E2C-9A4835E347)0D\)/\124)/' "$idl" > "$work/altered.idl"
grep -q '9A4835E34724' "$work/altered.idl"
iconv -f UTF-8 -t CP949 -o "$work/altered949.idl" "$work/altered.idl"
"$@" -t -o "$work/altered.tlb" "$work/altered949.idl" 2>/dev/null
if python3 "$checker" "$work/altered.idl" "$work/altered.tlb" "$work/out.tlb" 2>"$work/err"; then
  echo "FAIL: an altered LIBID was accepted"
  exit 1
fi
grep -q 'widl altered it' "$work/err"
[ ! -e "$work/out.tlb" ]

iconv -f UTF-8 -t CP949 -o "$work/own949.idl" "$idl"
"$@" -t -o "$work/own.tlb" "$work/own949.idl" 2>/dev/null
python3 "$checker" "$idl" "$work/own.tlb" "$work/out.tlb"
cmp -s "$work/own.tlb" "$work/out.tlb"
echo "LIBID check: altered library refused, own library passed"
