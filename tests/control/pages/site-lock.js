// The control on a browser's page (narvo-host --url): an allowed page scripts it as always; a
// refused page gets no `viewer`, and members called anyway refuse by themselves, doing nothing.
// host.arg(0): fixtures; arg(1): artifacts; arg(2): "allowed" or "refused"; arg(3): the served
// folder; arg(4): the plain port.
eval(host.readText("../checks.js"));
var dir = host.arg(0), expected = host.arg(2), served = host.arg(3), port = +host.arg(4);
var E_FAIL = -2147467259, E_ACCESSDENIED = "80070005";

if (expected == "allowed") {
    group("an allowed page scripts the control as before", function () {
        check("negotiation", host.safetyResult, 0);
        check("viewer", viewer !== null, true);
        check("a member", viewer.GetCRC32(dir + "abc.txt") >>> 0, 0x352441c2);
        check("a download", viewer.HttpDownload("c", "127.0.0.1", port, "/files/small.txt", "",
                                                dir + "got\\small.txt"), 0);
        check("its bytes", host.readText(dir + "got\\small.txt"), "hello\n");
    });
} else {
    group("a refused page gets no viewer", function () {
        check("negotiation", host.safetyResult, E_FAIL);
        check("viewer", viewer, null);
    });
    group("members called anyway refuse and do nothing", function () {
        var v = host.viewerByForce();
        check("digest", errorOf(function () { v.GetCRC32(dir + "ff.bin"); }), E_ACCESSDENIED);
        check("download", errorOf(function () {
            v.HttpDownload("c", "127.0.0.1", port, "/files/small.txt", "", dir + "new\\x.txt");
        }), E_ACCESSDENIED);
        check("no folder made", host.readText(dir + "new\\x.txt"), null);
        check("upload", errorOf(function () {
            v.HttpUploadSimple("c", "127.0.0.1", port, "/upload/stolen", "", dir + "abc.txt");
        }), E_ACCESSDENIED);
        check("nothing sent", host.readText(served + "stolen"), null);
        check("extract", errorOf(function () { v.ExtractAll("zip", dir + "docs.zip", dir + "out\\", 0); }),
              E_ACCESSDENIED);
        check("nothing extracted", host.readText(dir + "out\\a.txt"), null);
        check("view", errorOf(function () { v.ViewArchive("zip", dir + "docs.zip", 0); }),
              E_ACCESSDENIED);
        check("no rows shown", host.listRowCount(), 0);
        check("select", errorOf(function () { v.SelectFile("t", "All|*.*", ""); }),
              E_ACCESSDENIED);
        check("property", errorOf(function () { v.InternetOption = 1; }), E_ACCESSDENIED);
        check("document root", errorOf(function () { return v.DocumentRoot; }), E_ACCESSDENIED);
        check("no dialog", host.fileDialogCount(), 0);
        check("no message box", host.messageBoxCount(), 0);
        check("no progress box", host.progressBox("bar"), null);
    });
}
finish();
