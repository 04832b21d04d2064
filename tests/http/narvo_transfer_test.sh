#!/usr/bin/env bash
# narvo download and upload as a user runs them, against a real server on 127.0.0.1: plain HTTP,
# and TLS with a certificate authority the test makes (trusted for the run) and one it does not.
# Usage: narvo_transfer_test.sh SERVER.py RUNNER|- TRUST-HELPER|- NARVO
set -u
server_py=$1 runner=$2 trust=$3 narvo_path=$4
narvo=("$narvo_path")
[ "$runner" = - ] || narvo=("$runner" "$narvo_path")
. "$(dirname "${BASH_SOURCE[0]}")/../support/narvo_run.sh"
work=$(mktemp -d)
server_pid=
trusted=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$trusted" ] && $runner "$trust" remove "$work/ca.der" >/dev/null 2>&1
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
certs() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Narvo Test Root" \
    -keyout ca.key -out ca.pem &&
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Narvo Stranger Root" \
    -keyout stranger.key -out stranger.pem &&
  openssl x509 -in ca.pem -outform DER -out ca.der &&
  # Valid dates, but named for another host.
  openssl req -newkey rsa:2048 -nodes -subj /CN=wrong.example -addext subjectAltName=DNS:wrong.example \
    -keyout wrong.key -out wrong.csr &&
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in wrong.csr -out wrong.pem -notext -days 30 &&
  # Right host, but long expired.
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout expired.key -out expired.csr &&
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem -notext \
    -startdate 20200101000000Z -enddate 20200201000000Z &&
  # Right host and dates, from an authority nobody trusts.
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
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
  --listen tls:untrusted.pem:untrusted.key &
server_pid=$!
for _ in $(seq 1 100); do [ -s ports.txt ] && break; sleep 0.1; done
[ -s ports.txt ] || { echo "FAIL: the server did not start"; exit 1; }
mapfile -t ports <ports.txt
plain=${ports[0]} wrong=${ports[1]} expired=${ports[2]} untrusted=${ports[3]}

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

# --- TLS: host name and dates are not checked, the chain is ----------------------------------
run download "https://127.0.0.1:$wrong/files/data.bin" tls-wrong.bin
expect 0 "TLS with a certificate for another host name"
cmp -s files/data.bin tls-wrong.bin || fail "TLS download bytes differ"
run download "https://127.0.0.1:$expired/files/small.txt" tls-expired.txt
expect 0 "TLS with an expired certificate"
run upload "https://127.0.0.1:$expired/upload/body2" files/data.bin
expect 0 "TLS upload"
python3 -c "
import sys
body, data = open('files/body2', 'rb').read(), open('files/data.bin', 'rb').read()
start = body.index(b'\r\n\r\n') + 4
sys.exit(body[start:start + len(data) + 2] != data + b'\r\n')" || fail "TLS upload bytes differ"
run download "https://127.0.0.1:$untrusted/files/small.txt" tls-untrusted.txt
expect 1 "TLS with an untrusted authority" 23
[ -e tls-untrusted.txt ] && fail "an untrusted server's answer was stored"
run upload "https://127.0.0.1:$untrusted/sink" files/small.txt
expect 1 "TLS upload to an untrusted server" 23
run download "http://127.0.0.1:$wrong/files/small.txt" plain-to-tls.txt
[ "$status" -eq 1 ] || fail "plain HTTP to a TLS port must fail"

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
