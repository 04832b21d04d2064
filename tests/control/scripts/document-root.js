// DocumentRoot: the per-user registry value, created with the documents folder when it is missing
// or unusable, returned exactly as stored otherwise, and read once per control.
var fso = new ActiveXObject("Scripting.FileSystemObject");
eval(fso.OpenTextFile(fso.GetParentFolderName(WScript.ScriptFullName) + "\\..\\checks.js").ReadAll());

var shell = new ActiveXObject("WScript.Shell");
var keyPath = "HKCU\\SOFTWARE\\Veltrix\\Narvo";
var valuePath = keyPath + "\\document_root";
function removeKey() {
    shell.Run("reg delete " + keyPath + " /f", 0, true);
}
function stored() {
    try {
        return shell.RegRead(valuePath);
    } catch (e) {
        return "(missing)";
    }
}
function newRoot() {
    return new ActiveXObject("Narvo.Viewer").DocumentRoot;
}
function repeat(text, count) {
    var result = "";
    while (count-- > 0) result += text;
    return result;
}

group("document root", function () {
    // Wine's ExpandEnvironmentStrings keeps the terminating NUL.
    var profile = shell.ExpandEnvironmentStrings("%USERPROFILE%").replace(/\0/g, "");
    var documents = profile + "\\Documents\\";

    removeKey();
    check("no key before", stored(), "(missing)");
    var first = new ActiveXObject("Narvo.Viewer");
    check("default is the documents folder and one backslash", first.DocumentRoot, documents);
    check("default stored", stored(), documents);

    shell.RegWrite(valuePath, "D:\\shared", "REG_SZ");
    check("read once per control", first.DocumentRoot, documents);
    check("stored text as it is, no separator added", newRoot(), "D:\\shared");
    check("honoured value not rewritten", stored(), "D:\\shared");

    var longest = "E:\\" + repeat("x", 1020); // 1023 characters: 1024 bytes with the NUL
    shell.RegWrite(valuePath, longest, "REG_SZ");
    check("value filling the buffer", newRoot(), longest);

    shell.RegWrite(valuePath, longest + "y", "REG_SZ");
    check("value too long for the buffer", newRoot(), documents);
    check("too long value overwritten", stored(), documents);

    shell.RegWrite(valuePath, "%TEMP%\\docs", "REG_EXPAND_SZ");
    check("expandable value counts as missing", newRoot(), documents);
    check("expandable value overwritten", stored(), documents);

    shell.RegWrite(valuePath, "", "REG_SZ");
    check("empty value counts as missing", newRoot(), documents);
});
removeKey();
finish();
