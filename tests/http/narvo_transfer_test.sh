#!/usr/bin/env bash
# narvo download and upload as a user runs them, against a real server on 127.0.0.1: plain HTTP,
# and TLS with a certificate authority the test makes (trusted for the run) and one it does not;
# under Wine also the administrator's legacy certificate checks, set for the run.
# Usage: narvo_transfer_test.sh SERVER.py RUNNER|- TRUST-HELPER|- NARVO
set -u
server_py=$1 runner=$2 trust=$3 narvo_path=$4
narvo=("$narvo_path")
[ "$runner" = - ] || narvo=("$runner" "$narvo_path")
. "$(dirname "${BASH_SOURCE[0]}")/../support/narvo_run.sh"
work=$(mktemp -d)
server_pid=
trusted=
policy='HKLM\SOFTWARE\Policies\Veltrix\Narvo'
legacy=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$trusted" ] && $runner "$trust" remove "$work/ca.der" >/dev/null 2>&1
  [ -n "$legacy" ] && $runner reg delete "$policy" /v LegacyCertificateChecks /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# --- certificates: a trusted authority, an untrusted one, and three server certificates --------
cat >ca.cnf <<'CNF'
[ ca ]
default_ca = mine
[ mine ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
CNF
: >index.txt
echo 01 >serial
# crypt32 matches DNS names only: a certificate for 127.0.0.1 names it both ways.
here=subjectAltName=DNS:127.0.0.1,IP:127.0.0.1
certs() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Narvo Test Root" \
    -keyout ca.key -out ca.pem &&
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Narvo Stranger Root" \
    -keyout stranger.key -out stranger.pem &&
  openssl x509 -in ca.pem -outform DER -out ca.der &&
  # Right host, dates and authority.
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext "$here" \
    -keyout good.key -out good.csr &&
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in good.csr -out good.pem -notext -days 30 &&
  # Valid dates, but named for another host.
  openssl req -newkey rsa:2048 -nodes -subj /CN=wrong.example -addext subjectAltName=DNS:wrong.example \
    -keyout wrong.key -out wrong.csr &&
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in wrong.csr -out wrong.pem -notext -days 30 &&
  # Right host, but long expired.
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext "$here" \
    -keyout expired.key -out expired.csr &&
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem -notext \
    -startdate 20200101000000Z -enddate 20200201000000Z &&
  # Right host and dates, from an authority nobody trusts.
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext "$here" \
    -keyout untrusted.key -out untrusted.csr &&
  openssl x509 -req -in untrusted.csr -CA stranger.pem -CAkey stranger.key -CAcreateserial -days 30 \
    -copy_extensions copy -out untrusted.pem
}
certs >certs.log 2>&1 || { cat certs.log; echo "FAIL: cannot make certificates"; exit 1; }
if [ "$trust" = - ]; then
  export SSL_CERT_FILE="$work/ca.pem"
else
  $runner "$trust" add "$work/ca.der" || { echo "FAIL: cannot trust the test authority"; exit 1; }
  trusted=1
fi

# --- the server ----------------------------------------------------------------------------------
mkdir files
python3 -c "
import random, sys
r = random.Random(7)
sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(700000)))" >files/data.bin
printf 'hello\n' >files/small.txt
python3 "$server_py" --root files --port-file ports.txt --listen plain \
  --listen tls:wrong.pem:wrong.key --listen tls:expired.pem:expired.key \
  --listen tls:untrusted.pem:untrusted.key --listen tls:good.pem:good.key &
server_pid=$!
for _ in $(seq 1 100); do [ -s ports.txt ] && break; sleep 0.1; done
[ -s ports.txt ] || { echo "FAIL: the server did not start"; exit 1; }
mapfile -t ports <ports.txt
plain=${ports[0]} wrong=${ports[1]} expired=${ports[2]} untrusted=${ports[3]} good=${ports[4]}

# --- download ------------------------------------------------------------------------------------
run download "http://127.0.0.1:$plain/files/data.bin" got/deeper/data.bin
expect 0 "download into a new folder tree"
cmp -s files/data.bin got/deeper/data.bin || fail "downloaded bytes differ"
[ -s stderr.txt ] && fail "no progress bar when standard error is not a terminal: $(cat stderr.txt)"
printf 'keep me' >kept.txt
run download "http://127.0.0.1:$plain/status/404" kept.txt
expect 1 "download of a missing resource" 25
[ "$(cat kept.txt)" = "keep me" ] || fail "a failed download changed the destination"
run download "HTTP://127.0.0.1:$plain/files/small.txt#part" small.txt
expect 0 "download with an upper-case scheme and a fragment"
[ "$(cat small.txt 2>/dev/null)" = hello ] || fail "small.txt: $(cat small.txt 2>/dev/null)"
run download "http://127.0.0.1:$plain" nothing.txt --header "X-Test: 1"
expect 1 "download of / (no such resource)" 25

# --- upload: the server keeps the body it received -------------------------------------------
run upload "http://127.0.0.1:$plain/upload/body1" files/small.txt --header "X-Note: a" \
  --header "Content-Type: text/plain"
expect 0 "upload"
if [ -f files/body1 ]; then
  grep -q 'name="file"; filename="files.small\.txt"' files/body1 ||
    fail "upload part header: $(head -c 300 files/body1)"
  grep -q 'Content-Type: application/unknown' files/body1 || fail "upload part type"
  [ "$(tail -c 45 files/body1 | head -c 25)" = "-------------------------" ] ||
    fail "upload closing delimiter: $(tail -c 45 files/body1)"
else
  fail "the server got no upload"
fi
run upload "http://127.0.0.1:$plain/upload/none" missing.bin
expect 1 "upload of a missing file" 99
grep -q "cannot open" stderr.txt || fail "upload of a missing file says why: $(cat stderr.txt)"
[ -e files/none ] && fail "upload of a missing file reached the server"

# --- TLS: chain, host name and dates are all checked ---------------------------------------------
run download "https://127.0.0.1:$good/files/data.bin" tls-good.bin
expect 0 "TLS with a valid certificate"
cmp -s files/data.bin tls-good.bin || fail "TLS download bytes differ"
run upload "https://127.0.0.1:$good/upload/body2" files/data.bin
expect 0 "TLS upload"
python3 -c "
import sys
body, data = open('files/body2', 'rb').read(), open('files/data.bin', 'rb').read()
start = body.index(b'\r\n\r\n') + 4
sys.exit(body[start:start + len(data) + 2] != data + b'\r\n')" || fail "TLS upload bytes differ"
for name in wrong expired untrusted; do
  port_var=$name
  run download "https://127.0.0.1:${!port_var}/files/small.txt" "tls-$name.txt"
  expect 1 "TLS download, certificate $name" 23
  [ -e "tls-$name.txt" ] && fail "the answer of a server with a $name certificate was stored"
  run upload "https://127.0.0.1:${!port_var}/upload/tls-$name" files/small.txt
  expect 1 "TLS upload, certificate $name" 23
  [ -e "files/tls-$name" ] && fail "an upload reached a server with a $name certificate"
done
run download "http://127.0.0.1:$wrong/files/small.txt" plain-to-tls.txt
[ "$status" -eq 1 ] || fail "plain HTTP to a TLS port must fail"

# A secure transfer follows redirects within TLS only.
run download "https://127.0.0.1:$good/to/https://127.0.0.1:$good/files/small.txt" tls-hop.txt
expect 0 "https to https redirect"
[ "$(cat tls-hop.txt 2>/dev/null)" = hello ] || fail "https redirect: $(cat tls-hop.txt 2>/dev/null)"
run download "https://127.0.0.1:$good/to//files/small.txt" tls-path.txt
expect 0 "https redirect to a path"
run download "https://127.0.0.1:$good/to/http://127.0.0.1:$plain/files/small.txt" downgrade.txt
[ "$status" -eq 1 ] && grep -Eq "result (23|25) " stderr.txt ||
  fail "an https to http redirect must fail with 23 or 25: $status $(cat stderr.txt)"
[ -e downgrade.txt ] && fail "an https to http redirect stored the answer"
# A plain request sent on to https goes on secure, with the full certificate checks.
run download "http://127.0.0.1:$plain/to/https://127.0.0.1:$good/files/small.txt" upgrade.txt
expect 0 "http to https redirect"
[ "$(cat upgrade.txt 2>/dev/null)" = hello ] || fail "http to https: $(cat upgrade.txt 2>/dev/null)"
run download "http://127.0.0.1:$plain/to/https://127.0.0.1:$wrong/files/small.txt" upgrade-wrong.txt
expect 1 "http to https redirect, certificate wrong" 23
[ -e upgrade-wrong.txt ] && fail "an http to https redirect stored the answer of a wrong certificate"

# The administrator's legacy checks (Windows policy only): host name and dates are not checked,
# the chain still is.
if [ "$trust" != - ]; then
  $runner reg add "$policy" /v LegacyCertificateChecks /t REG_DWORD /d 1 /f >/dev/null 2>&1 &&
    legacy=1 || fail "cannot set the legacy policy"
  run download "https://127.0.0.1:$wrong/files/small.txt" legacy-wrong.txt
  expect 0 "legacy checks, certificate for another host name"
  run download "https://127.0.0.1:$expired/files/small.txt" legacy-expired.txt
  expect 0 "legacy checks, expired certificate"
  run download "https://127.0.0.1:$untrusted/files/small.txt" legacy-untrusted.txt
  expect 1 "legacy checks, untrusted authority" 23
  $runner reg delete "$policy" /v LegacyCertificateChecks /f >/dev/null 2>&1 && legacy=
  run download "https://127.0.0.1:$wrong/files/small.txt" strict-again.txt
  expect 1 "the policy removed, full checks again" 23
fi

# --- control characters and unquotable file names: 99, nothing reaches the server ------------
run upload "http://127.0.0.1:$plain/upload/ctl1"$'\r\nX-Injected: 1' files/small.txt
expect 1 "CR LF in the request target" 99
run upload "http://127.0.0.1:$plain/upload/ctl2" files/small.txt --header $'X-A: 1\x01'
expect 1 "a control character in a header value" 99
run download "http://127.0.0.1:$plain/files/small.txt"$'\x7f' ctl3.txt
expect 1 "DEL in the request target" 99
ls files | grep -q '^ctl' && fail "a refused upload reached the server: $(ls files)"
[ -e ctl3.txt ] && fail "a refused download stored something"
if [ "$trust" = - ]; then # Windows file names cannot hold a quote
  printf 'q' >'files/a"b.txt'
  run upload "http://127.0.0.1:$plain/upload/quoted" 'files/a"b.txt'
  expect 1 "a quote in the file name" 99
  [ -e files/quoted ] && fail "an upload with a quote in its file name reached the server"
fi

# --- usage ---------------------------------------------------------------------------------------
run download "ftp://127.0.0.1/x" x
expect 2 "an ftp:// URL"
run download "http://127.0.0.1:99999/x" x
expect 2 "a port out of range"
run download "http://user:pw@127.0.0.1/x" x
expect 2 "credentials in the URL"
run upload "http://127.0.0.1:$plain/sink"
expect 2 "upload without a file"
run download "http://127.0.0.1:$plain/x" x --header
expect 2 "--header without its line"

echo "$failures failures"
[ "$failures" -eq 0 ]
