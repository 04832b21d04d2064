#!/usr/bin/env bash
# Transfers of one large file over loopback, narvo beside curl against the same server in the same
# run: narvo download vs curl -o, narvo upload vs curl -F (the server reads every byte of an upload
# before it answers). The native narvo is the Release build (preset linux); the Windows build runs
# under Wine against the same server. The commands take turns, round after round, so that load
# from elsewhere on a shared machine falls on all of them alike. A full run writes its table into
# the Transfers section of docs/performance.md.
#
#   bench/transfer.sh                        1 GiB, 7 rounds natively, 3 under Wine
#   SIZE_MIB=256 ROUNDS=3 WINE_ROUNDS=1 bench/transfer.sh    a quick look (page left alone)
#   SKIP_WINE=1 bench/transfer.sh            native only (page left alone)
set -euo pipefail
. "$(dirname "$0")/../scripts/env.sh"

size_mib=${SIZE_MIB:-1024}
rounds=${ROUNDS:-7}
wine_rounds=${WINE_ROUNDS:-3}
skip_wine=${SKIP_WINE:-}
out="$NARVO_ROOT/bench/out"
mkdir -p "$out"

cd "$NARVO_ROOT"
echo "== building narvo (linux, Release)" >&2
cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target narvo >/dev/null
narvo="$NARVO_ROOT/build/linux/cli/narvo"
narvo_exe=
if [ -z "$skip_wine" ]; then
  echo "== building narvo.exe (win64)" >&2
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j 2 --target narvo >/dev/null
  narvo_exe="$NARVO_ROOT/build/win64/cli/narvo.exe"
fi

# Random content, made once and kept: nothing along the way can shortcut it.
data="$out/transfer-${size_mib}m.bin"
if [ ! -f "$data" ] || [ "$(stat -c %s "$data")" -ne $((size_mib << 20)) ]; then
  echo "== making $data" >&2
  head -c $((size_mib << 20)) /dev/urandom >"$data.tmp" && mv "$data.tmp" "$data"
fi

# Downloads land on tmpfs when there is one, so the disk's write-back does not decide.
work=$(mktemp -d -p /dev/shm narvo-bench.XXXXXX 2>/dev/null || mktemp -d -p "$out")
mkdir "$work/root"
ln -s "$data" "$work/root/data.bin"
server_pid=
wineserver_started=
cleanup() {
  set +e
  [ -n "$server_pid" ] && kill "$server_pid" && wait "$server_pid"
  [ -n "$wineserver_started" ] && "$NARVO_WINESERVER" -k
  rm -rf "$work"
} 2>/dev/null
trap cleanup EXIT

python3 "$NARVO_ROOT/tests/http/transfer_server.py" --root "$work/root" \
  --port-file "$work/ports.txt" --listen plain &
server_pid=$!
for _ in $(seq 1 100); do [ -s "$work/ports.txt" ] && break; sleep 0.1; done
port=$(head -1 "$work/ports.txt")
if [ -n "$narvo_exe" ]; then
  # One wineserver for the whole series, so each run pays only the program start.
  "$NARVO_WINESERVER" -p </dev/null >/dev/null 2>&1
  wineserver_started=1
fi
cd "$work"

doc=
[ "$size_mib" -eq 1024 ] && [ -z "$skip_wine" ] && doc="$NARVO_ROOT/docs/performance.md"
python3 - "$data" "$port" "$narvo" "$narvo_exe" "$NARVO_WINE" "$rounds" "$wine_rounds" \
  "$out/transfer.md" "$doc" <<'PY'
import filecmp, os, statistics, subprocess, sys, time

data, port, narvo, narvo_exe, wine, rounds, wine_rounds, table, doc = sys.argv[1:]
rounds, wine_rounds = int(rounds), int(wine_rounds)
size_mib = os.path.getsize(data) >> 20
get = "http://127.0.0.1:%s/files/data.bin" % port
sink = "http://127.0.0.1:%s/sink" % port
dest = "got.bin"

downloads = [("curl -o", ["curl", "-sS", "-o", dest, get]),
             ("narvo download", [narvo, "download", get, dest])]
# Without "Expect:" curl waits a second for a 100 Continue that this server never sends; narvo
# sends no Expect header either.
uploads = [("curl -F", ["curl", "-sS", "-o", os.devnull, "-H", "Expect:", "-F", "file=@" + data, sink]),
           ("curl -T (raw body, no form)", ["curl", "-sS", "-o", os.devnull, "-H", "Expect:", "-X", "POST", "-T", data, sink]),
           ("narvo upload", [narvo, "upload", sink, data])]
wine_downloads = [("narvo.exe download (Wine)", [wine, narvo_exe, "download", get, dest])] if narvo_exe else []
wine_uploads = [("narvo.exe upload (Wine)", [wine, narvo_exe, "upload", sink, data])] if narvo_exe else []

def run(command):
    if os.path.exists(dest):
        os.remove(dest)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start

# Every tool must really move the bytes before its time counts.
for name, command in downloads + wine_downloads:
    run(command)
    if not filecmp.cmp(data, dest, shallow=False):
        sys.exit("%s stored something else" % name)
for name, command in uploads + wine_uploads:
    run(command)

times = {}
for r in range(max(rounds, wine_rounds)):
    for name, command in downloads + uploads if r < rounds else []:
        times.setdefault(name, []).append(run(command))
    for name, command in wine_downloads + wine_uploads if r < wine_rounds else []:
        times.setdefault(name, []).append(run(command))
    print("round %d done" % (r + 1), file=sys.stderr)

median = {name: statistics.median(t) for name, t in times.items()}
lines = ["| %d MiB over loopback | tool | median s | MiB/s | × curl |" % size_mib,
         "|---|---|---:|---:|---:|"]
for what, group, peer in (("download", downloads + wine_downloads, "curl -o"),
                          ("upload", uploads + wine_uploads, "curl -F")):
    for name, _ in group:
        lines.append("| %s | %s | %.2f | %.0f | %.2f |" % (
            what, name, median[name], size_mib / median[name], median[name] / median[peer]))
lines.append("")
lines.append("Median of %d rounds natively, %d under Wine; all times per round: %s." % (
    rounds, wine_rounds, "; ".join("%s %s" % (n, " ".join("%.2f" % x for x in t))
                                   for n, t in times.items())))
text = "\n".join(lines) + "\n"
sys.stdout.write(text)
with open(table, "w") as f:
    f.write(text)
if doc:
    with open(doc) as f:
        page = f.read()
    begin, end = "<!-- bench:transfers:begin -->", "<!-- bench:transfers:end -->"
    if begin in page and end in page:
        page = page[:page.index(begin) + len(begin)] + "\n" + text + page[page.index(end):]
        with open(doc, "w") as f:
            f.write(page)
PY
