// The soak: a thousand mixed operations in one hosted control, then two hundred releases and
// creations of the control in the same site, with the process's resource counts read after a
// warm-up, between the phases and at the end. Handles must come back to the warm-up level and
// memory must not grow with the number of operations; every operation's result is checked too.
// host.arg(0): fixtures; arg(1): artifacts; arg(2): the served folder; arg(3): the plain port.
eval(host.readText("../checks.js"));
var dir = host.arg(0), served = host.arg(2), port = +host.arg(3);

// Allowances: handles against the warm-up level; memory between the middle and the end of a
// phase (its first half pays for caches and heap growth that then stay). A bitmap lost with
// every progress box came to 1.2 MiB in the second half of the operations.
var handleAllowance = 30, guiAllowance = 30, memoryAllowance = 1 << 20;
var operationCount = 1000, recreationCount = 200;

// Results are tallied per kind of operation; the first wrong result of a kind is printed.
var wrong = {};
function expect(kind, actual, expected) {
    if (actual === expected) return;
    if (!wrong[kind]) {
        wrong[kind] = 0;
        check(kind + " (first wrong result)", actual, expected);
    }
    wrong[kind]++;
}

var dataCrc = viewer.GetCRC32(served + "data.bin");
var dataSha = viewer.GetSHA1(served + "data.bin");
var filtered = ".tmp|~";
var fresh = 0;

function listed(kind, archive, rows) {
    expect(kind, viewer.ViewArchive("ZIP", dir + archive, 0), 0);
    expect(kind + " rows", host.listRowCount(), rows);
}

// One kind of operation each; the soak runs them in turn.
var kinds = [
    function listUnfiltered() {
        viewer.ViewFilterExclude = "no such name";
        listed("list", "list.zip", 12);
    },
    function listFiltered() {
        viewer.ViewFilterExclude = filtered;
        listed("list filtered", "list.zip", 10);
    },
    function extractUnchanged() {
        expect("extract again", viewer.ExtractAll("ZIP", dir + "docs.zip", dir + "out\\", 0), 0);
    },
    function sha1() {
        expect("sha1", viewer.GetSHA1(served + "data.bin"), dataSha);
    },
    function download() {
        expect("download", viewer.HttpDownload("soak", "127.0.0.1", port, "/files/data.bin", "",
                                               dir + "dl.bin"), 0);
    },
    function crc32() {
        expect("crc32", viewer.GetCRC32(dir + "dl.bin"), dataCrc);
    },
    function extractFresh() {
        // The download makes the folder the extraction needs.
        var folder = dir + "fresh\\" + (++fresh) + "\\";
        expect("download into a new folder",
               viewer.HttpDownload("soak", "127.0.0.1", port, "/files/small.txt", "",
                                   folder + "small.txt"), 0);
        expect("extract", viewer.ExtractAll("ZIP", dir + "second.zip", folder, 0), 0);
    },
    function upload() {
        expect("upload", viewer.HttpUploadSimple("soak", "127.0.0.1", port, "/sink", "",
                                                 dir + "abc.txt"), 0);
    },
    function reactivate() {
        expect("deactivate", host.deactivate(), 0);
        expect("activate", host.activate(), 0);
        expect("a list again", host.listRowCount(), 0);
    },
    function resize() {
        var width = viewer.GetWindowWidth() == 420 ? 300 : 420;
        host.resize(width, width == 420 ? 240 : 200);
        expect("resize", viewer.GetWindowWidth(), width);
    }
];
// The open-file dialog takes the container a third of a second to read and cancel: one in 25.
var dialogEvery = 25;
// Wine's open-file dialog keeps a registry key (its ComDlg32\LastVisitedMRU) open each time it
// is shown, whoever shows it. The keys the dialog leaves open are counted and set apart from the
// handle check, and checked on their own: at most one per dialog.
var dialogKeys = 0, dialogsShown = 0;

function keysOpen() {
    var keys = host.resourceCounts().registryKeys;
    return keys === null ? 0 : keys;
}

function operation(i) {
    if (i % dialogEvery == dialogEvery - 1) {
        var keys = keysOpen();
        host.answerFileDialog("");
        expect("file dialog cancelled", viewer.SelectFile("soak", "", ""), "");
        dialogKeys += keysOpen() - keys;
        dialogsShown++;
    } else {
        kinds[i % kinds.length]();
    }
}

// A new control in the same site: the page's viewer is the new one (no state carried over), and
// it lists an archive.
function recreation() {
    viewer.InternetOption = 5;
    expect("recreate", host.recreate(), true);
    expect("a new control", viewer.InternetOption, 0);
    listed("list in a new control", "docs.zip", 2);
}

var readings = [];
function reading(name) {
    var counts = host.resourceCounts();
    host.echo("soak: " + name + ": " + counts.text);
    readings[name] = {handles: counts.handles, memory: counts.memory, gdi: counts.gdi,
                      user: counts.user, memorySource: counts.memorySource,
                      dialogKeys: dialogKeys, dialogsShown: dialogsShown};
}

function handlesBack(name) {
    var kept = dialogKeys - readings["warm-up"].dialogKeys;
    var handles = readings[name].handles - kept;
    if (kept) host.echo("soak: " + name + ": " + kept + " registry keys the open-file dialog kept");
    check(name + ": handles within " + handleAllowance + " of the warm-up's (" +
          readings["warm-up"].handles + ", " + handles + " besides the dialog's keys)",
          handles - readings["warm-up"].handles <= handleAllowance, true);
    check(name + ": at most a key per dialog (" + kept + " for " +
          (dialogsShown - readings["warm-up"].dialogsShown) + ")",
          kept <= dialogsShown - readings["warm-up"].dialogsShown, true);
    var fields = ["gdi", "user"];
    for (var f = 0; f < fields.length; f++) {
        var before = readings["warm-up"][fields[f]], now = readings[name][fields[f]];
        if (before === null || now === null) continue;
        check(name + ": " + fields[f] + " objects within " + guiAllowance + " (" + before + ", " +
              now + ")", now - before <= guiAllowance, true);
    }
}

function memoryFlat(from, to) {
    var grown = readings[to].memory - readings[from].memory;
    host.echo("soak: " + readings[to].memorySource + " from " + from + " to " + to + ": " +
              (grown >= 0 ? "+" : "") + Math.round(grown / 1024) + " KiB");
    check(readings[to].memorySource + " grew by " + Math.round(grown / 1024) + " KiB from " +
          from + " to " + to + " (at most " + (memoryAllowance >> 10) + ")",
          grown <= memoryAllowance, true);
}

group("the counts a page reads", function () {
    var counts = host.resourceCounts();
    check("handles counted", counts.handles > 0, true);
    check("registry keys among them", counts.registryKeys === null ||
                                      counts.registryKeys < counts.handles, true);
    check("handle source", counts.handleSource == "GetProcessHandleCount" ||
                           counts.handleSource == "SystemHandleInformation", true);
    check("memory counted", counts.memory > 0, true);
    check("the field compared", counts.memorySource == "PrivateUsage" ? counts.privateUsage :
                                                                        counts.pagefileUsage,
          counts.memory);
    check("GDI: a count or unavailable", counts.gdi === null || counts.gdi > 0, true);
    check("USER: a count or unavailable", counts.user === null || counts.user > 0, true);
    host.echo("soak: GDI objects " + (counts.gdi === null ? "unavailable" : "counted") +
              ", USER objects " + (counts.user === null ? "unavailable" : "counted") +
              ", private bytes " + (counts.privateUsage === null ? "unavailable" : "counted"));
});

group("warm-up", function () {
    for (var i = 0; i < 2 * dialogEvery; i++) operation(i);
    for (var r = 0; r < 5; r++) recreation();
    for (var i = 0; i < dialogEvery; i++) operation(i);
    reading("warm-up");
});

group("a thousand operations in one control", function () {
    var dialogs = host.fileDialogCount();
    for (var i = 0; i < operationCount; i++) {
        operation(i);
        if (i + 1 == operationCount / 2) reading("operation " + (i + 1));
    }
    reading("operation " + operationCount);
    check("dialogs shown", host.fileDialogCount() - dialogs, operationCount / dialogEvery);
    check("extracted into new folders", host.readText(dir + "fresh\\" + fresh + "\\more.txt"), "t");
    handlesBack("operation " + operationCount);
    memoryFlat("operation " + operationCount / 2, "operation " + operationCount);
});

group("two hundred controls in the same site", function () {
    for (var r = 0; r < recreationCount; r++) {
        recreation();
        if (r + 1 == recreationCount / 2) reading("recreation " + (r + 1));
    }
    reading("recreation " + recreationCount);
    handlesBack("recreation " + recreationCount);
    memoryFlat("recreation " + recreationCount / 2, "recreation " + recreationCount);
});

group("the last control goes", function () {
    host.release();
    check("no reference left", host.canUnload(), true);
    check("no message box on the way", host.messageBoxCount(), 0);
});

for (var kind in wrong) say("soak: " + kind + ": " + wrong[kind] + " wrong results");
finish();
