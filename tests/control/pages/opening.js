// Opening archive entries with a real double-click on the hosted control's list: extraction into
// source\ beside the archive, companion entries, a second open that launches without extracting,
// an executable run directly, a registered type whose program records how it was started, an
// unassociated type exploring the folder, names that would lead out of the work folder, and
// entries that cannot be written. Every window a launch opens is closed here again.
// host.arg(0): the fixture folder (run-wine-test --recorder: archives, the .nvt type, launches.txt).
eval(host.readText("../checks.js"));
eval(host.readText("rows.js"));
var dir = host.arg(0);
var fso = new ActiveXObject("Scripting.FileSystemObject");
var recorderName = "narvo-launch-recorder.exe";
var cannotCreate = "임시 파일을 생성할 수 없습니다";

function exists(path) {
    return fso.FileExists(path);
}

function readOnly(path) {
    return exists(path) && (fso.GetFile(path).Attributes & 1) == 1;
}

function launches() {
    var text = host.readText(dir + "launches.txt");
    return text ? text.replace(/\n$/, "").split("\n") : [];
}

// Waits (bounded) for the launch log to reach count lines and gives the last one.
function awaitLaunch(count) {
    for (var waited = 0; launches().length < count && waited < 15000; waited += 100)
        host.sleep(100);
    var lines = launches();
    return lines.length >= count ? lines[count - 1] : "(no launch)";
}

function open(name) {
    return host.doubleClickRow(rowOf(name));
}

// The program a launch line names, and the command line it was given.
function program(line) {
    return line.split("\t")[0];
}
function commandLine(line) {
    return line.split("\t")[1];
}
function endsWith(text, tail) {
    return text.length >= tail.length && text.substr(text.length - tail.length) == tail;
}

// The file manager showing a folder named name: its process is found, checked and ended.
function explored(name) {
    var found = host.findWindow(name, 15000);
    if (!found) return false;
    check("file manager ended", host.endProcess(parseInt(found, 10)), true);
    return found.substr(found.indexOf(" ") + 1) == name;
}

var work = dir + "source\\";
host.resize(420, 400);
check("listed", viewer.ViewArchive("ZIP", dir + "open.zip", 0), 0);

group("a registered type", function () {
    check("double-clicked", open("report.nvt"), true);
    check("selected", host.listSelection(), rowOf("report.nvt"));
    check("no box", host.messageBoxCount(), 0);
    check("extracted into source beside the archive", fso.OpenTextFile(work + "report.nvt").ReadAll(),
          "report\r\n");
    check("read-only", readOnly(work + "report.nvt"), true);
    var line = awaitLaunch(1);
    check("its program", fso.GetFileName(program(line)), recorderName);
    check("started with the quoted path", endsWith(commandLine(line), " \"" + work + "report.nvt\""),
          true);
});

group("opened again", function () {
    // With the archive gone, only a file already in place can open: nothing is extracted again.
    fso.MoveFile(dir + "open.zip", dir + "moved.zip");
    try {
        check("double-clicked", open("report.nvt"), true);
        check("launched without the archive", commandLine(awaitLaunch(2)), commandLine(launches()[0]));
        check("no box", host.messageBoxCount(), 0);
        check("an entry not yet extracted", open("a.b.nvt"), true);
        check("cannot be opened", host.lastMessageBox("text"), cannotCreate);
        check("not launched", launches().length, 2);
    } finally {
        fso.MoveFile(dir + "moved.zip", dir + "open.zip");
    }
});

group("companion entries", function () {
    open("page.nvt");
    check("launched", endsWith(commandLine(awaitLaunch(3)), "\"" + work + "page.nvt\""), true);
    check("first companion", fso.OpenTextFile(work + "page.files\\a.gif").ReadAll(), "GIF89a-a");
    check("second companion", exists(work + "page.files\\b.css"), true);
    check("other letter case is no companion", exists(work + "page.files\\c.gif"), false);
    check("nor extracted elsewhere", exists(work + "c.gif"), false);
    open("a.b.nvt");
    check("stem up to the last dot", exists(work + "a.b.files\\x.gif"), true);
    check("launched", endsWith(commandLine(awaitLaunch(4)), "\"" + work + "a.b.nvt\""), true);
});

group("an executable entry runs directly", function () {
    open("setup.EXE");
    var line = awaitLaunch(5);
    check("the extracted file itself", program(line).toLowerCase(), (work + "setup.EXE").toLowerCase());
    check("extracted", readOnly(work + "setup.EXE"), true);
});

group("a name in code page 949", function () {
    open("보고서.nvt");
    check("extracted", fso.OpenTextFile(work + "보고서.nvt").ReadAll(), "korean report");
    check("launched with it", endsWith(commandLine(awaitLaunch(6)), "\"" + work + "보고서.nvt\""),
          true);
});

group("no program for the type", function () {
    // The folder is shown instead: for an unassociated type, for an empty entry (never
    // extracted: its CRC is 0) and for a nested entry (written under its base name).
    open("data.nvx");
    check("extracted", exists(work + "data.nvx"), true);
    check("folder explored for an unassociated type", explored("source"), true);
    open("empty.nvt");
    check("empty entry not extracted", exists(work + "empty.nvt"), false);
    check("folder explored for an empty entry", explored("source"), true);
    open("docs/inner.nvt");
    check("nested entry under its base name", exists(work + "inner.nvt"), true);
    check("folder explored for a nested entry", explored("source"), true);
    check("no program started", launches().length, 6);
    check("no box", host.lastMessageBox("text"), cannotCreate);
    check("one box so far", host.messageBoxCount(), 1);
});

group("entries that cannot be written", function () {
    // A folder stands where the entry would go.
    fso.CreateFolder(work + "blocked.nvt");
    open("blocked.nvt");
    check("box", host.messageBoxCount(), 2);
    check("its text", host.lastMessageBox("text"), cannotCreate);
    check("owned by the container's window", host.lastMessageBox("owner"), "NarvoHostFrame");
    check("no caption", host.lastMessageBox("caption"), "");
    // A file stands where the work folder would be.
    fso.CreateFolder(dir + "blocked");
    fso.CopyFile(dir + "open.zip", dir + "blocked\\open.zip");
    fso.CreateTextFile(dir + "blocked\\source").Close();
    check("listed", viewer.ViewArchive("ZIP", dir + "blocked\\open.zip", 0), 0);
    open("report.nvt");
    check("box for the work folder", host.messageBoxCount(), 3);
    check("nothing launched for either", launches().length, 6);
});

group("nothing selected", function () {
    check("empty space double-clicked", host.doubleClickRow(-1), true);
    check("selection cleared", host.listSelection(), -1);
    host.sleep(300);
    check("nothing launched", launches().length, 6);
    check("no box", host.messageBoxCount(), 3);
});

group("names that lead out of the work folder", function () {
    fso.CreateFolder(dir + "h");
    fso.CopyFile(dir + "hostile.zip", dir + "h\\hostile.zip");
    // victim.exe beside the work folder has the same bytes (and CRC-32) as ../victim.exe.
    fso.CopyFile(dir + "victim.exe", dir + "h\\victim.exe");
    check("listed", viewer.ViewArchive("ZIP", dir + "h\\hostile.zip", 0), 0);
    var hostile = ["../up.nvt", "..\\back.nvt", "/root.nvt", "C:drive.nvt", "sub/../../deep.nvt",
                   "../victim.exe"];
    for (var i = 0; i < hostile.length; i++) {
        var boxes = host.messageBoxCount();
        check(hostile[i] + ": double-clicked", open(hostile[i]), true);
        check(hostile[i] + ": box", host.messageBoxCount(), boxes + 1);
        check(hostile[i] + ": its text", host.lastMessageBox("text"), cannotCreate);
    }
    check("no work folder made", fso.FolderExists(dir + "h\\source"), false);
    check("nothing written beside it", fso.GetFolder(dir + "h").Files.Count, 2);
    check("nothing launched", launches().length, 6);
    check("nothing explored", host.findWindow("h", 1000), null);

    // A sound entry opens; of its companions only the contained one is extracted.
    open("safe.nvt");
    check("launched", endsWith(commandLine(awaitLaunch(7)), "\"" + dir + "h\\source\\safe.nvt\""),
          true);
    check("contained companion", exists(dir + "h\\source\\safe.files\\kept.gif"), true);
    check("escaping companion skipped", exists(dir + "h\\source\\safe.files\\escaped.gif"), false);
    check("nor written above", exists(dir + "h\\escaped.gif") || exists(dir + "escaped.gif"),
          false);
    check("no box", host.messageBoxCount(), 9);
});

finish();
