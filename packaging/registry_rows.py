#!/usr/bin/env python3
"""Writes the registration of Narvo.dll as Windows Installer registry rows (a WiX include).

The rows come from the module's own sources, the way DllRegisterServer writes them: the two
registration scripts (module/Narvo.rgs, module/ProgIds.rgs, module/Viewer.rgs) in the registrar's tree language with
the registrar's replacements, and the type library's keys (TypeLib, and Interface for every
dual interface and dispinterface, in both registry views) from module/Narvo.idl. Nothing of the
tree is written down a second time here.

usage: registry_rows.py MODULE_DIR ARCH(x64|x86) OUTPUT.wxi OUTPUT.sql
wixl writes the value rows of the include; the SQL statements (one a line, for msibuild -q) add
what wixl cannot write: the rows of keys without values, and text that is not ASCII, which wixl
cannot store."""
import re
import sys
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

# The proxy/stub classes RegisterTypeLib names: the type-library marshaler for dual interfaces,
# the IDispatch marshaler for dispinterfaces.
PS_OA_INTERFACE = "{00020424-0000-0000-C000-000000000046}"
PS_DISPATCH = "{00020420-0000-0000-C000-000000000046}"
# Stand-ins for what the installer fills in (the module's installed path, its folder without the
# closing separator, which the packages' script action sets), kept apart from the scripts' own
# text until that is escaped.
MODULE_PATH, HELP_FOLDER = "\0MODULE\0", "\0HELPDIR\0"
INSTALLER_TEXT = {MODULE_PATH: "[#NarvoDll]", HELP_FOLDER: "[NARVOHELPDIR]"}
HIVES = {"HKCR": "HKCR", "HKEY_CLASSES_ROOT": "HKCR", "HKCU": "HKCU",
         "HKEY_CURRENT_USER": "HKCU", "HKLM": "HKLM", "HKEY_LOCAL_MACHINE": "HKLM"}


def fail(message):
    sys.exit(f"registry_rows: {message}")


def guid_text(value):
    return "{" + str(uuid.UUID(value)).upper() + "}"


class Tokens:
    """The registrar's tokens: runs of non-space text, '=' on its own, or '...' with '' for '."""

    def __init__(self, text, replacements):
        self.text, self.replacements, self.pos = text, replacements, 0

    def _replace(self, raw):
        def one(match):
            name = match.group(1)
            if not name:
                return "%"
            for key, value in self.replacements.items():
                if key.lower() == name.lower():
                    return value
            fail(f"the script names %{name}%, which the module does not replace")
        if raw.count("%") % 2:
            fail(f"an unpaired % in {raw!r}")
        return re.sub(r"%([^%]*)%", one, raw)

    def next(self):
        text = self.text
        while self.pos < len(text) and text[self.pos].isspace():
            self.pos += 1
        if self.pos >= len(text):
            return None
        if text[self.pos] == "'":
            raw, self.pos = "", self.pos + 1
            while True:
                if self.pos >= len(text):
                    fail("an unterminated quote")
                if text[self.pos] == "'":
                    if text[self.pos + 1:self.pos + 2] == "'":
                        raw, self.pos = raw + "'", self.pos + 2
                        continue
                    self.pos += 1
                    return (self._replace(raw), True)
                raw, self.pos = raw + text[self.pos], self.pos + 1
        if text[self.pos] == "=":
            self.pos += 1
            return ("=", False)
        start = self.pos
        while self.pos < len(text) and not text[self.pos].isspace() and text[self.pos] != "=":
            self.pos += 1
        return (self._replace(text[start:self.pos]), False)

    def peek(self):
        saved = self.pos
        token = self.next()
        self.pos = saved
        return token


def is_word(token, word):
    return token is not None and not token[1] and token[0].lower() == word.lower()


def parse_rgs(text, replacements):
    """Returns (hive, key path, value name or None for the default, text or None, mark) rows:
    mark is 'key' for a key without values of its own, 'owned' for the topmost key of a tree the
    script owns (removing deletes it with everything below), 'value' otherwise."""
    tokens, rows = Tokens(text, replacements), []

    def text_value():
        token = tokens.next()
        if not is_word(token, "s"):
            fail("only text values ('s') are supported")
        token = tokens.next()
        if token is None:
            fail("a value without text")
        return token[0]

    def entries(hive, path, owned):
        has_values = False
        while True:
            token = tokens.next()
            if token is None:
                fail("the script ends inside a block")
            if is_word(token, "}"):
                return has_values
            if is_word(token, "val"):
                name = tokens.next()
                if not is_word(tokens.next(), "="):
                    fail("'val NAME' without '='")
                rows.append((hive, path, name[0], text_value(), "value"))
                has_values = True
                continue
            mark = None
            if is_word(token, "NoRemove") or is_word(token, "ForceRemove"):
                mark, token = token[0].lower(), tokens.next()
            key = f"{path}\\{token[0]}" if path else token[0]
            owns = owned or mark != "noremove"
            if owns and not owned:
                rows.append((hive, key, None, None, "owned"))
            key_has_values = False
            if is_word(tokens.peek(), "="):
                tokens.next()
                rows.append((hive, key, None, text_value(), "value"))
                key_has_values = True
            if is_word(tokens.peek(), "{"):
                tokens.next()
                key_has_values = entries(hive, key, owns) or key_has_values
            if not key_has_values:
                rows.append((hive, key, None, None, "key"))
            has_values = True

    while (token := tokens.next()) is not None:
        hive = HIVES.get(token[0].upper()) if not token[1] else None
        if not hive or not is_word(tokens.next(), "{"):
            fail(f"a script must start with a root key, not {token[0]!r}")
        entries(hive, "", False)
    return rows


def idl_facts(idl):
    """The library's LIBID, version, LCID and name, the class's CLSID, and the interfaces
    RegisterTypeLib writes under Interface (dual ones and dispinterfaces)."""
    def attributes_before(match):
        start = idl.rfind("[", 0, match.start())
        return idl[start:match.start()]

    library = re.search(r"\blibrary\s+(\w+)", idl)
    if not library:
        fail("the IDL has no library")
    lib_attrs = attributes_before(library)
    facts = {
        "libid": guid_text(re.search(r"uuid\(([^)]+)\)", lib_attrs).group(1)),
        "version": re.search(r"version\(([\d.]+)\)", lib_attrs).group(1),
        "lcid": int(re.search(r"lcid\((\w+)\)", lib_attrs).group(1), 0),
        "name": re.search(r'helpstring\("([^"]*)"\)', lib_attrs).group(1),
        "interfaces": [],
        # LIBFLAG_FHASDISKIMAGE, which a library loaded from a file carries, and the IDL's own.
        "flags": 8 | sum(bit for word, bit in (("restricted", 1), ("control", 2), ("hidden", 4))
                         if re.search(rf"\b{word}\b", lib_attrs)),
    }
    coclass = re.search(r"\bcoclass\s+\w+", idl)
    facts["clsid"] = guid_text(re.search(r"uuid\(([^)]+)\)", attributes_before(coclass)).group(1))
    for match in re.finditer(r"\b(dispinterface|interface)\s+(\w+)\s*(:[^{]*)?\{", idl):
        attrs = attributes_before(match)
        if match.group(1) == "dispinterface":
            proxy = PS_DISPATCH
        elif re.search(r"\b(dual|oleautomation)\b", attrs):
            proxy = PS_OA_INTERFACE
        else:
            continue
        iid = guid_text(re.search(r"uuid\(([^)]+)\)", attrs).group(1))
        facts["interfaces"].append((match.group(2), iid, proxy))
    return facts


def typelib_rows(facts, module, arch):
    """What RegisterTypeLib writes for the module's library, as (view, hive, key, name, text,
    mark) rows; interfaces go into both registry views."""
    lib = f"TypeLib\\{facts['libid']}"
    version = f"{lib}\\{facts['version']}"
    platform = "win64" if arch == "x64" else "win32"
    rows = [("native", "HKCR", lib, None, None, "owned"),
            ("native", "HKCR", version, None, facts["name"], "value"),
            ("native", "HKCR", f"{version}\\{facts['lcid']:x}\\{platform}", None, module, "value"),
            ("native", "HKCR", f"{version}\\FLAGS", None, str(facts["flags"]), "value"),
            ("native", "HKCR", f"{version}\\HELPDIR", None, HELP_FOLDER, "value")]
    views = ["native", "wow32"] if arch == "x64" else ["native"]
    for view in views:
        for name, iid, proxy in facts["interfaces"]:
            key = f"Interface\\{iid}"
            rows += [(view, "HKCR", key, None, None, "owned"),
                     (view, "HKCR", key, None, name, "value"),
                     (view, "HKCR", f"{key}\\ProxyStubClsid", None, proxy, "value"),
                     (view, "HKCR", f"{key}\\ProxyStubClsid32", None, proxy, "value"),
                     (view, "HKCR", f"{key}\\TypeLib", None, facts["libid"], "value"),
                     (view, "HKCR", f"{key}\\TypeLib", "Version", facts["version"], "value")]
    return rows


def formatted(text):
    """Registry rows are formatted text: brackets of the scripts' own are written escaped."""
    text = re.sub(r"[\[\]]", lambda m: "[\\" + m.group() + "]", text)
    for stand_in, value in INSTALLER_TEXT.items():
        text = text.replace(stand_in, value)
    return text


def sql_text(text):
    if "'" in text:
        fail(f"a quote in {text!r} cannot be written into the tables")
    return text


def main():
    if len(sys.argv) != 5:
        fail("usage: registry_rows.py MODULE_DIR ARCH OUTPUT.wxi OUTPUT.sql")
    module_dir, arch, output = Path(sys.argv[1]), sys.argv[2], Path(sys.argv[3])
    if arch not in ("x64", "x86"):
        fail("ARCH is x64 or x86")
    idl = (module_dir / "Narvo.idl").read_text(encoding="utf-8")
    facts = idl_facts(idl)
    replacements = {"APPID": facts["libid"], "MODULEGUID": facts["libid"],
                    "CLSID": facts["clsid"], "MODULE": MODULE_PATH}
    rows = []
    # DllRegisterServer's order: the module's script, the class's, then the type library.
    for script in ("Narvo.rgs", "ProgIds.rgs", "Viewer.rgs"):
        text = (module_dir / script).read_bytes().decode("ascii")
        rows += [("native",) + row for row in parse_rgs(text, replacements)]
    rows += typelib_rows(facts, MODULE_PATH, arch)

    # wixl writes value rows only: the keys' own rows (created with the product and removed
    # with everything below them, or created empty) and text that is not ASCII are written into
    # the tables afterwards by the SQL statements.
    components = {"native": [], "wow32": []}
    statements = []
    roots = {"HKCR": 0, "HKCU": 1, "HKLM": 2}
    for number, (view, hive, key, name, value, mark) in enumerate(rows, 1):
        row_id = f"Reg{number:03d}"
        key = formatted(key)
        value = formatted(value) if value is not None else None
        if mark in ("owned", "key"):
            statements.append(
                "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) "
                f"VALUES ('{row_id}', {roots[hive]}, '{sql_text(key)}', "
                f"'{'*' if mark == 'owned' else '+'}', 'Registration_{view}')")
            continue
        if not value.isascii():
            statements.append(f"UPDATE `Registry` SET `Value` = '{sql_text(value)}' "
                              f"WHERE `Registry` = '{row_id}'")
            value = row_id
        name_attr = f" Name={quoteattr(name)}" if name else ""
        components[view].append(
            f'<RegistryValue Id="{row_id}" Root="{hive}" Key={quoteattr(key)}{name_attr} '
            f'Type="string" Value={quoteattr(value)}/>')

    win64 = "yes" if arch == "x64" else "no"
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!-- Generated by packaging/registry_rows.py from module/*.rgs and Narvo.idl. -->",
             '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">']
    for view, guid_seed in (("native", "registration"), ("wow32", "registration-wow32")):
        if not components[view]:
            continue
        guid = guid_text(str(uuid.uuid5(uuid.UUID(facts["clsid"][1:-1]), f"{guid_seed}-{arch}")))
        bits = win64 if view == "native" else "no"
        lines.append(f'  <Component Id="Registration_{view}" Guid="{guid}" Win64="{bits}">')
        lines += [f"    {line}" for line in components[view]]
        lines.append("  </Component>")
    lines.append("</Include>")
    output.write_text("\n".join(lines) + "\n", encoding="utf-8")
    Path(sys.argv[4]).write_text("\n".join(statements) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
