// Run by both the 32-bit and the 64-bit cscript: says whether "Narvo.Viewer" gives this process a
// working control, and which module its registry view names as the server and type library.
//   which-server.js FILE   (FILE: a file of three bytes "abc", whose CRC-32 is 891568578)
var shell = new ActiveXObject("WScript.Shell");
function read(path) {
    try {
        return shell.RegRead(path);
    } catch (e) {
        return "none";
    }
}
var clsid = read("HKCR\\Narvo.Viewer\\CLSID\\");
var object;
try {
    var crc = new ActiveXObject("Narvo.Viewer").GetCRC32(WScript.Arguments(0));
    object = crc === 891568578 ? "yes" : "wrong CRC-32 " + crc;
} catch (e) {
    object = "no";
}
WScript.Echo("object=" + object);
WScript.Echo("server=" + read("HKCR\\CLSID\\" + clsid + "\\InprocServer32\\"));
var libid = read("HKCR\\CLSID\\" + clsid + "\\TypeLib\\");
WScript.Echo("win32=" + read("HKCR\\TypeLib\\" + libid + "\\1.0\\409\\win32\\"));
WScript.Echo("win64=" + read("HKCR\\TypeLib\\" + libid + "\\1.0\\409\\win64\\"));
WScript.Quit(0);
