"""A fresh Wine prefix of the package tests' own, its programs and its registry as data."""
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


class Prefix:
    def __init__(self, path, locale_dir):
        self.path = Path(path)
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        self.korean = dict(self.env, LOCPATH=str(locale_dir), LANG="ko_KR.UTF-8")
        self.korean.pop("LC_ALL", None)
        shutil.rmtree(self.path, ignore_errors=True)
        self.path.mkdir(parents=True)
        self.run("wineboot", "-i", timeout=300, check=False)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=300)
        if not (self.path / "system.reg").exists():
            raise RuntimeError(f"no Wine prefix was made at {self.path}")
        # One server for the rest of the run; stop() ends it, and should the test be killed it
        # ends by itself a minute after its last program.
        subprocess.run([WINESERVER, "-p60"], env=self.env, timeout=60)
        # The script hosts register their own type libraries when they first run: let that
        # happen before a test takes its first look at the registry.
        self.drive("C:\\narvo-warmup.js").write_text("WScript.Quit(0);")
        for host in ("cscript", "C:\\windows\\syswow64\\cscript.exe"):
            self.run(host, "//nologo", "C:\\narvo-warmup.js", check=False)
        self.drive("C:\\narvo-warmup.js").unlink()

    def stop(self, remove=False):
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=60, check=False)
        if remove:
            shutil.rmtree(self.path, ignore_errors=True)

    def run(self, *args, korean=False, timeout=180, check=True):
        # Output goes to a file: services a program starts inherit its handles and would keep a
        # pipe open past the program's end.
        with tempfile.TemporaryFile() as log:
            result = subprocess.run([WINE, *args], env=self.korean if korean else self.env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    timeout=timeout)
            log.seek(0)
            output = log.read().decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(args)} exited with {result.returncode}: {output}")
        return result.returncode, output

    def drive(self, windows_path=""):
        """The host path of a C: path."""
        relative = windows_path.replace("\\", "/")
        if relative[:2].lower() == "c:":
            relative = relative[2:]
        return self.path / "drive_c" / relative.lstrip("/")

    def export(self, key):
        """A registry subtree as {key path: {value name: data}}, names folded to lower case
        (the registry ignores their case); the key path is relative to `key`."""
        target = self.drive("C:\\narvo-export.reg")
        target.unlink(missing_ok=True)
        self.run("regedit", "/E", "C:\\narvo-export.reg", key, check=False)
        tree = {}
        if not target.exists():
            return tree  # the key does not exist
        text = target.read_bytes().decode("utf-16")
        target.unlink()
        current, pending = None, ""
        prefix = "[" + key.lower()
        for line in text.splitlines():
            if pending:
                line, pending = pending + line.strip(), ""
            if line.endswith("\\") and not line.startswith("["):
                pending = line[:-1]
                continue
            if line.startswith("[") and line.endswith("]"):
                lowered = line.lower()
                if lowered.startswith(prefix):
                    current = lowered[len(prefix):-1].lstrip("\\")
                    tree.setdefault(current, {})
                continue
            if current is None or "=" not in line:
                continue
            if line.startswith("@="):
                name, data = "@", line[2:]
            elif line.startswith('"'):
                end = line.index('"=', 1)
                name, data = line[1:end].lower(), line[end + 2:]
            else:
                continue
            tree[current][name] = data
        return tree

    def files(self):
        """Every file and folder under C:, as paths relative to the drive."""
        root = self.drive()
        return {str(p.relative_to(root)).lower() for p in root.rglob("*")}


def rows(tree, skip=()):
    """A registry tree as a set of rows: every key, and every value with its data."""
    result = set()
    for key, values in tree.items():
        if any(key == s or key.startswith(s + "\\") for s in skip):
            continue
        result.add((key, None, None))
        result.update((key, name, data) for name, data in values.items())
    return result
