#!/usr/bin/env python3
"""The packages installed under Wine, each in a fresh prefix of its own:
  reference prefix: regsvr32 (64-bit, then 32-bit) writes the tree the packages must write; the
                    x64 CAB installed through advpack's LaunchINFSection registers the control.
  package prefix:   msiexec installs the x64 MSI with the site policy, a client uses the control,
                    a higher version upgrades it in place, msiexec /x leaves the registry and the
                    disk as they were; then the same for the x86 MSI with the 32-bit client.
usage: install_test.py CURRENT_PACKAGES NEXT_PACKAGES WORK_DIR LOCALE_DIR"""
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from wineprefix import Prefix, rows  # noqa: E402

sys.path.insert(0, str(Path(__file__).parents[2] / "packaging"))
from file_version import file_version  # noqa: E402
import checks  # noqa: E402
from checks import check  # noqa: E402

CLASSES = "HKEY_LOCAL_MACHINE\\Software\\Classes"
CLASSES32 = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes"
POLICY = "HKEY_LOCAL_MACHINE\\Software\\Policies\\Veltrix\\Narvo"
UNINSTALL = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
FOLDER = {"x64": "C:\\Program Files\\Veltrix\\Narvo", "x86": "C:\\Program Files (x86)\\Veltrix\\Narvo"}
# Where a test looks at the whole machine: what Wine itself changes as programs run.
VOLATILE_KEYS = ("software\\microsoft\\windows\\currentversion\\installer",  # the installer's logs
                 "software\\wine", "system\\currentcontrolset\\control\\session manager",
                 "system\\currentcontrolset\\control\\video")
# Wine's msi deletes every empty key above a key it removes, up to the first one that is not
# empty: in a fresh prefix that is the (empty) Policies key above the site policy.
WINE_REMOVES_EMPTY = {("software\\policies", None, None),
                      ("software\\wow6432node\\policies", None, None)}
# The installer's own empty roots stay once made, as they always exist on Windows; anything under
# them is still compared.
INSTALLER_ROOTS = {("software\\classes\\installer" + sub, None, None)
                   for sub in ("", "\\features", "\\products", "\\upgradecodes")}
VOLATILE_FILES = ("windows/temp", "windows/logs", "users/", "narvo-", "probe")
# The installer's cache folder stays (it always exists on Windows); what it holds is checked.
KEPT_FOLDERS = {"windows/installer"}


def classes(prefix):
    # Both views; the MSI's own records under Classes\Installer are not part of the tree.
    return (rows(prefix.export(CLASSES), skip=("installer",)) |
            {("wow32",) + row for row in rows(prefix.export(CLASSES32), skip=("installer",))})


def machine(prefix):
    return rows(prefix.export("HKEY_LOCAL_MACHINE"), skip=VOLATILE_KEYS) - WINE_REMOVES_EMPTY - INSTALLER_ROOTS


def disk(prefix):
    return {p for p in prefix.files() if not p.startswith(VOLATILE_FILES)} - KEPT_FOLDERS


def as_32bit_reader_sees(tree):
    """Rows of both views as one: Wine's msi writes a 32-bit component's HKCR rows (ProgIDs,
    AppID, TypeLib) under Wow6432Node, where 32-bit readers look first, while 32-bit regsvr32
    writes them to the shared keys, and it writes the interfaces into the 64-bit view as well,
    which a 32-bit package cannot reach. A 32-bit client finds the same tree either way."""
    result = set()
    for row in tree:
        row = row[1:] if row[0] == "wow32" else row
        key = row[0][len("wow6432node\\"):] if row[0].startswith("wow6432node\\") else row[0]
        if key != "wow6432node":
            result.add((key,) + row[1:])
    return result


def show(label, items, limit=15):
    for item in sorted(items, key=str)[:limit]:
        print(f"  {label} {item}")


def compare(label, expected, found):
    missing, extra = expected - found, found - expected
    if check(not missing and not extra, f"{label}: {len(missing)} rows missing, {len(extra)} extra"):
        return
    show("missing", missing)
    show("extra  ", extra)


CLIENT = r"""
var failures = 0;
try {
    var viewer = new ActiveXObject("Narvo.Viewer");
    var crc = viewer.GetCRC32("C:\\probe.txt") >>> 0;
    if (crc != 0xcbf43926) { WScript.Echo("GetCRC32 answered " + crc.toString(16)); ++failures; }
} catch (e) {
    WScript.Echo("the control could not be used: " + e.message); ++failures;
}
WScript.Quit(failures ? 1 : 0);
"""


def use_control(prefix, arch, label):
    prefix.drive("C:\\probe.txt").write_bytes(b"123456789")
    prefix.drive("C:\\probe-client.js").write_text(CLIENT)
    cscript = "cscript" if arch == "x64" else "C:\\windows\\syswow64\\cscript.exe"
    code, output = prefix.run(cscript, "//nologo", "C:\\probe-client.js", check=False)
    check(code == 0, f"{label}: a {arch} script client cannot use Narvo.Viewer: {output.strip()}")


def regsvr32_delta(prefix, arch, before):
    folder = FOLDER[arch]
    prefix.drive(folder).mkdir(parents=True, exist_ok=True)
    prefix.drive(folder + "\\Narvo.dll").write_bytes(
        (CURRENT / arch / "Narvo.dll").read_bytes())
    regsvr32 = "regsvr32" if arch == "x64" else "C:\\windows\\syswow64\\regsvr32.exe"
    # Under the Korean code page regsvr32 writes the type library's Korean name as it is.
    prefix.run(regsvr32, "/s", folder + "\\Narvo.dll", korean=True)
    after = classes(prefix)
    prefix.run(regsvr32, "/s", "/u", folder + "\\Narvo.dll", korean=True)
    return after - before, before - after


def products(prefix, arch):
    # A 32-bit package's entry is in the 32-bit view.
    tree = prefix.export(UNINSTALL if arch == "x64" else UNINSTALL.replace("Software", "Software\\Wow6432Node"))
    return {key: values for key, values in tree.items()
            if "\\" not in key and values.get("displayname", "").startswith('"Narvo')}


def msi_lifecycle(prefix, arch, reference):
    msi = next(CURRENT.glob(f"Narvo-*-{arch}.msi"))
    prefix.drive(f"C:\\narvo-{arch}.msi").write_bytes(msi.read_bytes())
    if arch == "x86":
        # A setting the administrator made beforehand is not the package's to remove.
        prefix.run("reg", "add", POLICY, "/v", "LegacyCertificateChecks", "/t", "REG_DWORD",
                   "/d", "1", "/f")
    before_classes, before_machine, before_disk = classes(prefix), machine(prefix), disk(prefix)

    # The x64 package is given the site policy, the x86 one none.
    policy_properties = [
        "ALLOWEDSITES=https://intranet.example; http://127.0.0.1:8080;;https://[::1]:8443",
        "LEGACYCERTIFICATECHECKS=1"] if arch == "x64" else []
    prefix.run("msiexec", "/i", f"C:\\narvo-{arch}.msi", "/qn", *policy_properties, timeout=300)
    folder = FOLDER[arch]
    for name in ("Narvo.dll", "scripting.md"):
        check(prefix.drive(f"{folder}\\{name}").is_file(), f"{arch}: {folder}\\{name} is missing")
    added = classes(prefix) - before_classes
    if arch == "x64":
        compare(f"{arch} MSI against regsvr32", reference, added)
    else:
        compare(f"{arch} MSI against regsvr32 (as a 32-bit client reads them)",
                as_32bit_reader_sees(reference), as_32bit_reader_sees(added))
    policy = prefix.export(POLICY)
    if arch == "x64":
        check(policy == {"": {"legacycertificatechecks": "dword:00000001"},
                         "allowedsites": {"1": '"https://intranet.example"',
                                          "2": '"http://127.0.0.1:8080"', "3": '"https://[::1]:8443"'}},
              f"{arch}: the site policy is {policy}")
    else:
        check(policy == {"": {"legacycertificatechecks": "dword:00000001"}},
              f"{arch}: a package given no policy changed it to {policy}")
    use_control(prefix, arch, f"{arch} MSI")

    if arch == "x64":
        # A higher version replaces this one: one product, the new module, the same tree.
        upgrade = next(NEXT.glob("Narvo-*-x64.msi"))
        prefix.drive("C:\\narvo-next.msi").write_bytes(upgrade.read_bytes())
        # Given a shorter site list and no certificate setting, it holds just that.
        prefix.run("msiexec", "/i", "C:\\narvo-next.msi", "/qn",
                   "ALLOWEDSITES=https://other.example", timeout=300)
        policy = prefix.export(POLICY)
        check(policy == {"": {}, "allowedsites": {"1": '"https://other.example"'}},
              f"after the upgrade the site policy is {policy}")
        installed = products(prefix, arch)
        check(len(installed) == 1, f"after the upgrade {len(installed)} Narvo products are registered")
        expected = file_version((NEXT / "x64" / "Narvo.dll").read_bytes())
        found = file_version(prefix.drive(f"{folder}\\Narvo.dll").read_bytes())
        check(found == expected, f"after the upgrade the module is {found}, not {expected}")
        compare("the upgraded tree against regsvr32", reference, classes(prefix) - before_classes)
        use_control(prefix, arch, "upgraded MSI")
        msi_name = "C:\\narvo-next.msi"
    else:
        # A rebuild of the same version (another ProductCode) replaces it as well.
        rebuilt = prefix.drive("C:\\narvo-rebuilt.msi")
        rebuilt.write_bytes(msi.read_bytes())
        subprocess.run(["msibuild", str(rebuilt), "-q", "UPDATE `Property` SET `Value` = "
                        "'{0D6C1A52-8E43-4F7B-A1C9-3B5E7D9F2A64}' WHERE `Property` = 'ProductCode'"],
                       check=True, timeout=60)
        prefix.run("msiexec", "/i", "C:\\narvo-rebuilt.msi", "/qn", timeout=300)
        installed = products(prefix, arch)
        check(list(installed) == ["{0d6c1a52-8e43-4f7b-a1c9-3b5e7d9f2a64}"],
              f"after installing a rebuild of the same version the products are {list(installed)}")
        use_control(prefix, arch, "rebuilt MSI")
        msi_name = "C:\\narvo-rebuilt.msi"

    prefix.run("msiexec", "/x", msi_name, "/qn", timeout=300)
    compare(f"{arch}: the registry after msiexec /x", before_machine, machine(prefix))
    compare(f"{arch}: the disk after msiexec /x", before_disk, disk(prefix))
    check(not products(prefix, arch), f"{arch}: a product is still registered after msiexec /x")


def cab_install(prefix):
    cab = CURRENT / "narvo-x64.cab"
    folder = prefix.drive("C:\\narvo-cab")
    folder.mkdir()
    subprocess.run(["gcab", "-x", "-C", str(folder), str(cab)], check=True, timeout=60)
    prefix.run("rundll32", "advpack.dll,LaunchINFSection", "C:\\narvo-cab\\narvo.inf,DefaultInstall,1")
    server = prefix.export(CLASSES + "\\CLSID\\{ED48C2D7-D6A7-4AA9-BBD8-2261C0EB250E}\\InprocServer32")
    check(server.get("", {}).get("@") == '"C:\\\\narvo-cab\\\\Narvo.dll"',
          f"the CAB's INF registered {server.get('', {})}")
    use_control(prefix, "x64", "CAB")


def main():
    global CURRENT, NEXT
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    CURRENT, NEXT, work, locale = (Path(a) for a in sys.argv[1:])
    reference_prefix = Prefix(work / "prefix-regsvr32", locale)
    try:
        base = classes(reference_prefix)
        reference = {}
        for arch in ("x64", "x86"):
            added, removed = regsvr32_delta(reference_prefix, arch, base)
            check(not removed, f"regsvr32 ({arch}) removed {sorted(removed, key=str)[:5]}")
            reference[arch] = added
        check(len(reference["x64"]) > 50, f"regsvr32 wrote only {len(reference['x64'])} rows")
        cab_install(reference_prefix)
    finally:
        reference_prefix.stop(remove=not checks.failures)

    package_prefix = Prefix(work / "prefix-msiexec", locale)
    try:
        for arch in ("x64", "x86"):
            msi_lifecycle(package_prefix, arch, reference[arch])
    finally:
        # A failed run keeps its prefixes to be looked at.
        package_prefix.stop(remove=not checks.failures)
    print(f"{checks.failures} failures")
    sys.exit(1 if checks.failures else 0)


if __name__ == "__main__":
    main()
