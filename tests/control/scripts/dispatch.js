// IViewer from JScript through late binding, the way a page script drives it.
var dir = WScript.Arguments(0); // fixture folder, ending in a backslash
var fso = new ActiveXObject("Scripting.FileSystemObject");
eval(fso.OpenTextFile(fso.GetParentFolderName(WScript.ScriptFullName) + "\\..\\checks.js").ReadAll());

var v = new ActiveXObject("Narvo.Viewer");
var abcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";

group("names in any letter case", function () {
    check("lower", v.getsha1(dir + "abc.txt"), abcSha1);
    check("upper", v.GETCRC32(dir + "abc.txt"), 0x352441c2);
    check("mixed", v.gEtWiNdOwWiDtH(), 0);
    v.put_InternetOption = 9;
    check("accessor names", v.GET_INTERNETOPTION, 9);
    check("unknown name", errorOf(function () { v.NoSuchMember(); }) !== "none", true);
});

group("digests", function () {
    check("crc of ff ff ff ff is all ones, seen signed", v.GetCRC32(dir + "ff.bin"), -1);
    check("crc of empty file", v.GetCRC32(dir + "empty.bin"), 0);
    check("crc of missing file", v.GetCRC32(dir + "missing.bin"), 0);
    check("sha1 of empty file", v.GetSHA1(dir + "empty.bin"),
          "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    check("sha1 of missing file", v.GetSHA1(dir + "missing.bin"),
          "0000000000000000000000000000000000000000");
    check("sha1 of no name", v.GetSHA1(undefined), "0000000000000000000000000000000000000000");
});

group("conversions", function () {
    v.InternetOption = "42";
    check("decimal text to integer", v.InternetOption, 42);
    v.InternetOption = 7.6;
    check("fraction rounded", v.InternetOption, 8);
    v.InternetOption = -1;
    check("negative", v.InternetOption, -1);
    v.ViewFilterExclude = 12345;
    check("number to text", v.ViewFilterExclude, "12345");
    check("decimal texts to integers", v.SetColumnWidth("3", "120"), 0);
    check("letters are no integer", errorOf(function () { v.SetColumnWidth("abc", 1); }),
          "80020005");
    check("beyond 32 bits", errorOf(function () { v.InternetOption = 4294967296; }), "80020005");
    check("null is no text", errorOf(function () { v.GetSHA1(null); }), "80020005");
    check("failed put changes nothing", v.InternetOption, -1);
});

group("argument counts", function () {
    check("too few", errorOf(function () { v.GetSHA1(); }), "8002000e");
    check("too many", errorOf(function () { v.GetCRC32("a", "b"); }), "8002000e");
    check("arguments to a property read", errorOf(function () { v.GetWindowHeight(1); }),
          "8002000e");
    check("put to the read-only DocumentRoot", errorOf(function () { v.DocumentRoot = "x"; }),
          "8002000e");
});

group("properties", function () {
    var fresh = new ActiveXObject("Narvo.Viewer.1");
    check("new option word", fresh.InternetOption, 0);
    fresh.InternetOption = 1;
    check("option after put", fresh.InternetOption, 1);
    check("other control untouched", v.InternetOption, -1);
    check("filter starts empty", fresh.ViewFilterExclude, "");
    fresh.ViewFilterExclude = "a||b";
    check("filter as stored", fresh.ViewFilterExclude, "a||b");
    check("document root is text", typeof fresh.DocumentRoot, "string");
});

group("extract all", function () {
    check("zip in any case", v.ExtractAll("Zip", dir + "docs.zip", dir + "out\\", 0), 0);
    check("first entry", fso.FileExists(dir + "out\\a.txt"), true);
    check("second entry", fso.FileExists(dir + "out\\b.txt"), true);
    check("other formats", v.ExtractAll("RAR", dir + "docs.zip", dir + "out\\", 0), 500);
    check("missing archive", v.ExtractAll("ZIP", dir + "missing.zip", dir + "out\\", 0), -102);
});

finish();
