#!/usr/bin/env python3
"""Times narvo against its peer tools, side by side in one run, and writes the medians.

    bench/run.py --narvo PATH --corpus DIR --dest DIR [--rounds N] [--only NAME,...]
                 [--wine-narvo COMMAND] [--results FILE] [--doc FILE]

Each scenario runs its commands in interleaved rounds (every command once per round, the order
rotating), so that load from elsewhere on a shared machine falls on all of them alike. The first
run of every command is a warm-up under /usr/bin/time -v, which gives its maximum resident set
size; the timed runs follow. Inputs are read once beforehand, so every run finds them in the page
cache. The table goes to standard output and, with --doc, into the marked section of that file.

Beside narvo and its peers, the large tasks time the limit (reading the input once with `cat`)
and, with --wine-narvo (a command line that runs the Windows build's narvo.exe), the Windows
build under Wine; neither counts as a peer.
"""
import argparse
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time


class Scenario:
    def __init__(self, name, title, inputs, rounds, commands, target=None, fresh=False, rerun=False):
        self.name, self.title, self.inputs, self.rounds = name, title, inputs, rounds
        self.commands = commands  # [(tool label, argv, output folder or None)]
        self.target = target      # (peer label, highest allowed ratio narvo / peer)
        self.fresh = fresh        # empty the output folder before each run
        self.rerun = rerun        # keep the output folder filled by the warm-up run


# Rows that are not peers: the limit and narvo's other build.
NOT_PEERS = ("narvo", "narvo.exe", "cat")


def scenarios(narvo, corpus, dest, wine_narvo=None):
    c = lambda name: os.path.join(corpus, name)
    # Windows paths for the same files: Wine's Z: drive is the Unix root.
    w = lambda path: "Z:" + path.replace("/", "\\")

    def extract(zip_name, tag):
        out = lambda tool: os.path.join(dest, f"{tag}-{tool}")
        return [
            ("narvo", [narvo, "extract-all", c(zip_name), out("narvo")], out("narvo")),
            ("unzip", ["unzip", "-o", "-j", "-q", c(zip_name), "-d", out("unzip")], out("unzip")),
            ("7z", ["7z", "e", "-y", "-bd", "-o" + out("7z"), c(zip_name)], out("7z")),
            ("bsdtar", ["bsdtar", "-xf", c(zip_name), "-C", out("bsdtar")], out("bsdtar")),
        ]

    def limit(path):
        return [("cat", ["sh", "-c", 'exec cat "$0" > /dev/null', path], None)]

    def wine_extract(zip_name, tag):
        if not wine_narvo:
            return []
        out = os.path.join(dest, f"{tag}-narvo.exe")
        return [("narvo.exe", [*wine_narvo, "extract-all", w(c(zip_name)), w(out)], out)]

    big = c("big.bin")
    result = [
        Scenario("list", "List 100,000 entries (tiny.zip)", [c("tiny.zip")], 21, [
            ("narvo", [narvo, "list", c("tiny.zip")], None),
            ("unzip", ["unzip", "-Z1", c("tiny.zip")], None),
            ("bsdtar", ["bsdtar", "-tf", c("tiny.zip")], None),
        ], target=("unzip", 0.5)),
    ]
    for zip_name, tag, title, rounds, target in [
        ("small.zip", "small", "20,000 small files", 11, ("bsdtar", 1.0)),
        ("big.zip", "big", "one 1 GiB entry", 9, ("bsdtar", 0.5)),
        ("mixed.zip", "mixed", "2,000 mixed files", 7, None),
    ]:
        extra = limit(c(zip_name)) + wine_extract(zip_name, f"{tag}-fresh") if tag == "big" else []
        result.append(Scenario(f"{tag}-fresh", f"Extract {title} into an empty folder ({zip_name})",
                               [c(zip_name)], rounds, extract(zip_name, f"{tag}-fresh") + extra,
                               target=target, fresh=True))
        result.append(Scenario(f"{tag}-rerun", f"Extract {title} again over the filled folder",
                               [c(zip_name)], rounds, extract(zip_name, f"{tag}-rerun"),
                               rerun=True))
    result += [
        Scenario("sha1", "SHA-1 of a 1 GiB file (big.bin)", [big], 9, [
            ("narvo", [narvo, "sha1", big], None),
            ("sha1sum", ["sha1sum", big], None),
            ("openssl", ["openssl", "dgst", "-sha1", big], None),
        ], target=("openssl", 1.0)),
        Scenario("crc32", "CRC-32 of a 1 GiB file (big.bin)", [big], 9, [
            ("narvo", [narvo, "crc32", big], None),
            ("rhash", ["rhash", "--crc32", big], None),
            ("7z", ["7z", "h", "-bd", "-scrcCRC32", big], None),
        ] + limit(big) + ([("narvo.exe", [*wine_narvo, "crc32", w(big)], None)] if wine_narvo else []),
                 target=("7z", 0.35)),
    ]
    return result


def warm(paths):
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 22):
                pass


def empty_folder(path):
    if os.path.isdir(path):
        # Extracted files are read-only; their folder is not, so removal works without chmod.
        shutil.rmtree(path)
    os.makedirs(path)


def timed_run(argv):
    """Wall-clock seconds of one run, output discarded. A failing command stops the benchmark."""
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"bench: {' '.join(argv)} failed ({proc.returncode}): {proc.stderr.decode()[-500:]}")
    return elapsed


def max_rss_kib(argv):
    proc = subprocess.run(["/usr/bin/time", "-v", *argv], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        sys.exit(f"bench: {' '.join(argv)} failed ({proc.returncode}): {proc.stderr[-500:]}")
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr)
    return int(match.group(1)) if match else None


def display(argv, out):
    """The command line as the table shows it: corpus names bare, the output folder as OUT."""
    if argv[:2] == ["sh", "-c"]:  # the limit, run through a shell for its redirection
        return f"cat {argv[3]} > /dev/null"
    words = []
    for i, word in enumerate(argv):
        if i == 0 and os.path.basename(word).startswith("narvo"):
            word = "narvo"
        elif i == 0 and os.path.basename(word) == "wine-run":
            word = "wine"
        elif i == 1 and os.path.basename(word) == "narvo.exe":
            word = "narvo.exe"
        if out:
            word = word.replace(out, "OUT").replace("Z:" + out.replace("/", "\\"), "OUT")
        words.append(word)
    return " ".join(words)


def run_scenario(s, rounds_override):
    rounds = rounds_override or s.rounds
    print(f"bench: {s.name}: {s.title} ({rounds} rounds)", flush=True)
    warm(s.inputs)
    times = {label: [] for label, _, _ in s.commands}
    rss = {}
    for label, argv, out in s.commands:
        if out:
            empty_folder(out)
            if s.rerun:
                timed_run(argv)  # fills the folder, so that the measured runs are all re-runs
        rss[label] = max_rss_kib(argv)
    for r in range(rounds):
        order = s.commands[r % len(s.commands):] + s.commands[:r % len(s.commands)]
        for label, argv, out in order:
            if out and s.fresh:
                empty_folder(out)
            times[label].append(timed_run(argv))
    for _, _, out in s.commands:
        if out:
            shutil.rmtree(out, ignore_errors=True)
    medians = {label: statistics.median(t) for label, t in times.items()}
    peers = {k: v for k, v in medians.items() if k not in NOT_PEERS}
    best = min(peers, key=peers.get)
    row = {"name": s.name, "title": s.title, "rounds": rounds, "times": times, "median": medians,
           "max_rss_kib": rss, "best_peer": best, "ratio_best": medians["narvo"] / peers[best],
           "commands": {label: display(argv, out) for label, argv, out in s.commands}}
    if s.target:
        peer, limit = s.target
        row["target"] = {"peer": peer, "limit": limit, "ratio": medians["narvo"] / medians[peer]}
    for label in medians:
        print(f"  {label:8} median {medians[label]:8.3f} s   max RSS {rss[label] or 0:>8} KiB")
    print(f"  narvo / {best} = {row['ratio_best']:.2f}", flush=True)
    return row


def tool_versions():
    probes = {
        "unzip": (["unzip", "-v"], r"UnZip [\d.]+"),
        "7z": (["7z"], r"p7zip Version [\d.]+"),
        "bsdtar": (["bsdtar", "--version"], r"bsdtar [\d.]+ - libarchive [\d.]+"),
        "sha1sum": (["sha1sum", "--version"], r"sha1sum \(GNU coreutils\) [\d.]+"),
        "openssl": (["openssl", "version"], r"OpenSSL [\w.]+"),
        "rhash": (["rhash", "--version"], r"RHash v[\d.]+"),
        "zip": (["zip", "-v"], r"This is Zip [\d.]+"),
    }
    versions = {}
    for tool, (argv, pattern) in probes.items():
        out = subprocess.run(argv, capture_output=True, text=True).stdout
        match = re.search(pattern, out)
        versions[tool] = match.group(0) if match else "?"
    return versions


def machine():
    cpu = "?"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    mem = int(open("/proc/meminfo").readline().split()[1]) // (1024 * 1024)
    return f"{cpu}, {os.cpu_count()} cores, {mem} GiB RAM, Linux {platform.release()}"


def filesystem(path):
    out = subprocess.run(["df", "--output=fstype", path], capture_output=True, text=True).stdout
    return out.split()[-1] if out.split() else "?"


def seconds(t):
    return f"{t * 1000:.0f} ms" if t < 1 else f"{t:.2f} s"


def render(results, info):
    tools = ["narvo", "unzip", "bsdtar", "7z", "sha1sum", "openssl", "rhash", "cat", "narvo.exe"]
    lines = [
        f"Measured {info['date']} on {info['machine']}; corpus on {info['corpus_fs']}, extraction "
        f"into {info['dest_fs']}; load average {info['load']} at the start, {info['load_end']} at the end. Median wall-clock "
        "time of interleaved rounds (page cache warm); ratio = narvo's median / the peer's median, "
        "so below 1 means narvo is faster. `cat` is the limit (the input read once, "
        "`cat FILE > /dev/null`); `narvo.exe` is the Windows build under Wine. Neither is a peer.",
        "",
        "| Task | Rounds | " + " | ".join(tools) + " | narvo ÷ best peer | Target |",
        "|---|---|" + "---|" * len(tools) + "---|---|",
    ]
    for row in results:
        cells = [seconds(row["median"][t]) if t in row["median"] else "" for t in tools]
        target = ""
        if "target" in row:
            t = row["target"]
            verdict = "met" if t["ratio"] <= t["limit"] else "**not met**"
            target = f"≤ {t['limit']:g} × {t['peer']}: {t['ratio']:.2f}, {verdict}"
        lines.append(f"| {row['title']} | {row['rounds']} | " + " | ".join(cells) +
                     f" | {row['ratio_best']:.2f} ({row['best_peer']}) | {target} |")
    lines += ["", "Maximum resident set size (`/usr/bin/time -v`, MiB):", "",
              "| Task | " + " | ".join(tools) + " |", "|---|" + "---|" * len(tools)]
    for row in results:
        rss = row["max_rss_kib"]
        cells = [f"{rss[t] / 1024:.1f}" if rss.get(t) else "" for t in tools]
        lines.append(f"| {row['title']} | " + " | ".join(cells) + " |")
    lines += ["", "Peer versions: " + ", ".join(info["versions"].values()) + ".", "",
              "Command lines (paths shortened; `OUT` is the tool's own output folder):", ""]
    for row in results:
        wine_corpus = "Z:" + info["corpus"].replace("/", "\\") + "\\"
        texts = [t.replace(info["corpus"] + "/", "").replace(wine_corpus, "")
                 for t in row["commands"].values()]
        lines.append(f"- {row['name']}: " + ", ".join(f"`{t}`" for t in texts))
    return "\n".join(lines) + "\n"


def update_doc(doc, text):
    begin, end = "<!-- bench:core:begin -->", "<!-- bench:core:end -->"
    content = open(doc).read()
    if begin not in content or end not in content:
        sys.exit(f"bench: {doc} lacks the {begin} ... {end} markers")
    head, rest = content.split(begin, 1)
    _, tail = rest.split(end, 1)
    with open(doc, "w") as f:
        f.write(head + begin + "\n" + text + end + tail)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--narvo", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--dest", required=True)
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--wine-narvo", help="command line that runs narvo.exe under Wine")
    parser.add_argument("--only", help="comma-separated scenario names")
    parser.add_argument("--results", help="where to write every run's time as JSON")
    parser.add_argument("--doc", help="file whose marked section receives the table")
    args = parser.parse_args()
    corpus, dest = os.path.abspath(args.corpus), os.path.abspath(args.dest)
    os.makedirs(dest, exist_ok=True)

    chosen = scenarios(os.path.abspath(args.narvo), corpus, dest,
                       args.wine_narvo.split() if args.wine_narvo else None)
    if args.only:
        names = args.only.split(",")
        unknown = set(names) - {s.name for s in chosen}
        if unknown:
            sys.exit(f"bench: unknown scenario {', '.join(sorted(unknown))}")
        chosen = [s for s in chosen if s.name in names]

    info = {"date": datetime.date.today().isoformat(), "machine": machine(),
            "corpus_fs": filesystem(corpus), "dest_fs": filesystem(dest), "versions": tool_versions(),
            "corpus": corpus, "dest": dest}
    info["load"] = " ".join(open("/proc/loadavg").read().split()[:3])
    results = [run_scenario(s, args.rounds) for s in chosen]
    info["load_end"] = " ".join(open("/proc/loadavg").read().split()[:3])
    if args.results:
        with open(args.results, "w") as f:
            json.dump({"info": info, "results": results}, f, indent=1)
    text = render(results, info)
    print(text)
    if args.doc:
        update_doc(args.doc, text)


if __name__ == "__main__":
    main()
