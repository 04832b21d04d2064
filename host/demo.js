// Narvo's demonstration page: the control hosted in place and driven from script, as a web page
// would drive it. host.arg(0) is a folder with the demo files that scripts/demo makes.
var dir = host.arg(0);

function show(label, call) {
    try {
        host.echo(label + " = " + call());
    } catch (e) {
        host.echo(label + ": " + (e.description || "error 0x" + (e.number >>> 0).toString(16)));
    }
}

host.resize(560, 200);
host.echo("Narvo.Viewer, hosted in place; every call below goes through its IDispatch.");
show("DocumentRoot", function () { return viewer.DocumentRoot; });
show("GetSHA1(readme.txt)", function () { return viewer.GetSHA1(dir + "readme.txt"); });
show("GetCRC32(readme.txt)", function () {
    return (viewer.GetCRC32(dir + "readme.txt") >>> 0).toString(16);
});
show("ExtractAll(\"ZIP\", demo.zip, out\\)", function () {
    return viewer.ExtractAll("ZIP", dir + "demo.zip", dir + "out\\", 0);
});
show("ExtractAll(\"RAR\", demo.zip, out\\)", function () {
    return viewer.ExtractAll("RAR", dir + "demo.zip", dir + "out\\", 0);
});
show("ViewArchive(\"ZIP\", demo.zip)", function () {
    return viewer.ViewArchive("ZIP", dir + "demo.zip", 0);
});
show("Column widths", function () {
    return viewer.GetColumnWidth(0) + ", " + viewer.GetColumnWidth(1) + ", " +
           viewer.GetColumnWidth(2);
});
show("List size", function () {
    return viewer.GetWindowWidth() + " x " + viewer.GetWindowHeight();
});
viewer.InternetOption = 1;
show("InternetOption after a put of 1", function () { return viewer.InternetOption; });

host.echo("ready for the screenshot");
host.sleep(4000);
host.quit(0);
