// Narvo's demonstration page: the control hosted in place and driven from script, as a web page
// would drive it, against a web server on 127.0.0.1. scripts/demo makes the files and the server:
// host.arg(0) is the page's working folder, arg(1) the folder for screenshots, arg(2) the port.
var dir = host.arg(0), shots = host.arg(1), port = +host.arg(2);
var archive = dir + "inbox\\reports.zip";

function show(label, call) {
    try {
        host.echo(label + " = " + call());
    } catch (e) {
        host.echo(label + ": " + (e.description || "error 0x" + (e.number >>> 0).toString(16)));
    }
}

host.resize(560, 220);
host.echo("Narvo.Viewer, hosted in place; every call below goes through its IDispatch.");
show("DocumentRoot", function () { return viewer.DocumentRoot; });

// The download runs for a few seconds; meanwhile the page's timer photographs the progress box
// once it is well under way.
var photographed = false;
function watchBox() {
    if (photographed) return;
    if (host.progressBox("bar") >= 450) {
        host.echo("progress box at " + host.progressBox("rect"));
        photographed = host.screenshotScreen(shots + "progress-box.bmp");
        return;
    }
    host.after(40, watchBox);
}
host.after(40, watchBox);
show("HttpDownload(reports.zip)", function () {
    return viewer.HttpDownload("보고서 묶음을 받는 중입니다", "127.0.0.1", port,
                               "/slow/40/32768/reports.zip", "", archive);
});

viewer.ViewFilterExclude = "~";
show("ViewArchive(\"ZIP\", reports.zip)", function () {
    return viewer.ViewArchive("ZIP", archive, 0);
});
show("SetColumnWidth(0, 200)", function () { return viewer.SetColumnWidth(0, 200); });
show("Column widths", function () {
    return viewer.GetColumnWidth(0) + ", " + viewer.GetColumnWidth(1) + ", " +
           viewer.GetColumnWidth(2);
});
show("GetSHA1(reports.zip)", function () { return viewer.GetSHA1(archive); });
show("GetCRC32(reports.zip)", function () {
    return (viewer.GetCRC32(archive) >>> 0).toString(16);
});
show("ExtractAll(\"ZIP\", reports.zip, out\\)", function () {
    return viewer.ExtractAll("ZIP", archive, dir + "out\\", 0);
});
show("ExtractAll(\"RAR\", reports.zip, out\\)", function () {
    return viewer.ExtractAll("RAR", archive, dir + "out\\", 0);
});
show("HttpUploadSimple(readme.txt)", function () {
    return viewer.HttpUploadSimple("올리는 중입니다", "127.0.0.1", port, "/upload/readme-copy.txt",
                                   "", dir + "readme.txt");
});
show("HttpDownload of a missing resource", function () {
    return viewer.HttpDownload("받는 중", "127.0.0.1", port, "/files/missing.zip", "",
                               dir + "inbox\\missing.zip");
});
// The container answers the open-file dialog as a user would.
host.answerFileDialog(archive);
show("SelectFile", function () {
    return viewer.SelectFile("보낼 파일 선택", "압축 파일\t*.zip\t모든 파일\t*.*", "");
});
if (host.screenshot(shots + "list.bmp")) host.echo("list photographed");

// Opening an entry: a double-click on readme.txt extracts it beside the archive and hands it to
// the program Windows has for text files.
show("double-click on readme.txt", function () { return host.doubleClickRow(0); });
// A text file opens in its program; a type without one shows the work folder "source" instead.
var opened = host.findWindow("readme", 5000) || host.findWindow("source", 3000);
show("opened in", function () { return opened; });
host.sleep(500);
host.screenshotScreen(shots + "screen.bmp");
if (opened) host.endProcess(+opened.split(" ")[0]);
host.quit(0);
