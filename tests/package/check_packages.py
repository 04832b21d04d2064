#!/usr/bin/env python3
"""What scripts/package wrote, without installing it: each architecture's MSI and CAB hold what
they should under one version, and every signed file verifies against the test CA while a copy
altered by one byte does not.
usage: check_packages.py PACKAGE_DIR VERSION SOURCE_ROOT"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
sys.path.insert(0, str(Path(__file__).parents[2] / "packaging"))
from file_version import file_version  # noqa: E402
import checks  # noqa: E402
from checks import check  # noqa: E402

CLSID = "{ED48C2D7-D6A7-4AA9-BBD8-2261C0EB250E}"


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, timeout=120)


def table(msi, name):
    """An MSI table as a list of rows (lists of columns)."""
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["msiinfo", "export", str(msi), name], check=True, timeout=60,
                       stdout=open(Path(folder) / "t", "wb"))
        text = (Path(folder) / "t").read_bytes().decode("utf-8", "replace")
    return [line.split("\t") for line in text.split("\r\n")[3:] if line]


def verifies(path, ca):
    return run("osslsigncode", "verify", "-CAfile", str(ca), "-in", str(path)).returncode == 0


def altered_copy(path, folder, marker):
    """A copy of the file with one byte changed inside data the signature covers: the first
    occurrence of `marker` (a string every such file holds in its contents)."""
    data = bytearray(path.read_bytes())
    at = data.find(marker)
    if at < 0:
        raise AssertionError(f"{marker!r} is not in {path}")
    data[at] ^= 0x01
    copy = Path(folder) / ("altered-" + path.name)
    copy.write_bytes(data)
    return copy


def check_signatures(files, ca):
    with tempfile.TemporaryDirectory() as folder:
        for path, marker in files:
            check(verifies(path, ca), f"{path} does not verify against the test CA")
            copy = altered_copy(path, folder, marker)
            check(not verifies(copy, ca), f"{path} altered by one byte still verifies")


def check_architecture(out, arch, version, fields):
    msi = out / f"Narvo-{version}-{arch}.msi"
    cab = out / f"narvo-{arch}.cab"
    dll = out / arch / "Narvo.dll"
    if not check(msi.is_file() and cab.is_file() and dll.is_file(), f"{arch}: a package is missing"):
        return []
    dotted = fields.replace(",", ".")
    check(file_version(dll.read_bytes()) == dotted, f"{arch}: Narvo.dll is not version {dotted}")

    # The MSI: version, platform, files, the conditions and rows wixl cannot write itself.
    properties = dict(row[:2] for row in table(msi, "Property"))
    check(properties.get("ProductVersion") == version, f"{arch}: ProductVersion {properties.get('ProductVersion')}")
    for name in ("ALLOWEDSITES", "LEGACYCERTIFICATECHECKS"):
        check(name in properties.get("SecureCustomProperties", "").split(";"),
              f"{arch}: {name} is not a secure property")
    info = run("msiinfo", "suminfo", str(msi)).stdout
    template = "x64;1033" if arch == "x64" else "Intel;1033"
    check(f"Template: {template}" in info, f"{arch}: the package's platform is not {template}")
    files = {row[2].split("|")[-1] for row in table(msi, "File")}
    check(files == {"Narvo.dll", "scripting.md"}, f"{arch}: the MSI holds {files}")
    directories = {row[0]: row for row in table(msi, "Directory")}
    folder = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"
    check(directories.get("VeltrixFolder", [None, None])[1] == folder,
          f"{arch}: Veltrix is not under {folder}")
    components = {row[0]: row for row in table(msi, "Component")}
    check('REMOVE~="ALL"' in components["SitePolicy"][4] and
          'REMOVE~="ALL"' in components["CertificatePolicy"][4],
          f"{arch}: the policy components are not conditioned for removal")
    registry = {row[0]: row for row in table(msi, "Registry")}
    check(any(row[4] == "Narvo 1.0 형식 라이브러리" for row in registry.values()),
          f"{arch}: the type library's Korean name is not in the registry rows")
    platform = "win64" if arch == "x64" else "win32"
    check(any(row[2].endswith(f"\\409\\{platform}") and row[4] == "[#NarvoDll]"
              for row in registry.values()), f"{arch}: no {platform} type library path")
    upgrade = {row[6]: row for row in table(msi, "Upgrade")}
    check(upgrade["WIX_UPGRADE_DETECTED"][2] == version and
          int(upgrade["WIX_UPGRADE_DETECTED"][4]) & 512,
          f"{arch}: a package of the same version does not replace an installed one")
    sequence = {row[0]: int(row[2]) for row in table(msi, "InstallExecuteSequence")}
    check(sequence["InstallInitialize"] < sequence["RemoveExistingProducts"] < sequence["ProcessComponents"],
          f"{arch}: the older version is not removed before this one is installed")

    # The CAB: the module and an INF for code download and for advpack.
    listing = run("gcab", "-t", str(cab)).stdout.split()
    check(sorted(listing) == ["Narvo.dll", "narvo.inf"], f"{arch}: the CAB holds {listing}")
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["gcab", "-x", "-C", folder, str(cab)], check=True, timeout=60)
        inf = (Path(folder) / "narvo.inf").read_text()
        packed = Path(folder) / "Narvo.dll"
        check(packed.read_bytes() == dll.read_bytes(), f"{arch}: the CAB's module is not the signed one")
        # The MSI's module as well: msiextract writes it under its install path.
        subprocess.run(["msiextract", "-C", folder, str(msi)], check=True, timeout=60,
                       capture_output=True)
        installed = [p for p in Path(folder).rglob("Narvo.dll") if p != packed]
        check(len(installed) == 1 and installed[0].read_bytes() == dll.read_bytes(),
              f"{arch}: the MSI's module is not the signed one")
    section = re.search(r"\[Narvo\.dll\]([^\[]*)", inf)
    expected = {"clsid": CLSID, "FileVersion": fields, "RegisterServer": "yes",
                f"file-{platform}-{'x64' if arch == 'x64' else 'x86'}": "thiscab"}
    found = dict(line.strip().split("=", 1) for line in (section.group(1) if section else "").splitlines()
                 if "=" in line)
    check(found == expected, f"{arch}: the INF's [Narvo.dll] is {found}")
    check(re.search(r"RegisterOCXs=(\S+)", inf) and "%01%\\Narvo.dll" in inf,
          f"{arch}: the INF has no RegisterOCXs for advpack")

    return [(dll, "Narvo document exchange control".encode("utf-16-le")),
            (msi, b"Narvo.Viewer.1"), (cab, b"narvo.inf")]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    out, version, root = Path(sys.argv[1]), sys.argv[2], Path(sys.argv[3])
    fields = version.replace(".", ",") + ",0"
    signed = []
    for arch in ("x64", "x86"):
        signed += check_architecture(out, arch, version, fields)
    check_signatures(signed, out / "test-signing" / "test-ca.pem")

    # One version everywhere: the sample page, in the repository and as packaged.
    for page in (root / "docs" / "sample-page.html", out / "sample-page.html"):
        versions = set(re.findall(r"#Version=([\d,]+)", page.read_text(encoding="utf-8")))
        check(versions == {fields}, f"{page} names #Version={versions}, not {fields}")
    print(f"{checks.failures} failures")
    sys.exit(1 if checks.failures else 0)


if __name__ == "__main__":
    main()
