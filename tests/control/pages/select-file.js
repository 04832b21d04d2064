// SelectFile in the hosted control: the open-file dialog is found, read (title, filter list, the
// files it offers) and answered by the container, as a person would pick a file or cancel.
// host.arg(0): the fixture folder, which is the container's current folder, so the dialog opens
// there.
eval(host.readText("../checks.js"));
var dir = host.arg(0);

function contains(list, name) {
    return ("|" + list + "|").indexOf("|" + name + "|") >= 0;
}

group("a filter of two pairs", function () {
    host.answerFileDialog(dir + "abc.txt");
    // The trailing tab and blanks go before the tabs become separators: no empty third pair.
    var chosen = viewer.SelectFile("Pick a document", "Text files\t*.txt\tAll\t*.*\t  ", "x");
    check("chosen path", chosen, dir + "abc.txt");
    check("one dialog", host.fileDialogCount(), 1);
    check("title", host.lastFileDialog("title"), "Pick a document");
    check("filter list", host.lastFileDialog("filters"), "Text files|All");
    check("first pair selected", host.lastFileDialog("filterIndex"), "0");
    var files = host.lastFileDialog("files");
    check("offers text files", contains(files, "abc.txt"), true);
    check("and folders", contains(files, "src"), true);
    check("not other files", contains(files, "ff.bin") || contains(files, "list.zip"), false);
    check("owned by the container's window", host.lastFileDialog("owner"), "NarvoHostFrame");
});

group("the default filter", function () {
    var cases = [["", "empty"], [" \t \t", "blanks and tabs only"]];
    for (var i = 0; i < cases.length; i++) {
        host.answerFileDialog(dir + "ff.bin");
        check(cases[i][1] + ": chosen", viewer.SelectFile("Any", cases[i][0], ""), dir + "ff.bin");
        check(cases[i][1] + ": all files", host.lastFileDialog("filters"), "All Files");
        check(cases[i][1] + ": every file offered",
              contains(host.lastFileDialog("files"), "list.zip"), true);
    }
});

group("Korean text", function () {
    host.answerFileDialog(dir + "abc.txt");
    check("chosen", viewer.SelectFile("문서 선택", "문서 파일\t*.txt", ""), dir + "abc.txt");
    check("title", host.lastFileDialog("title"), "문서 선택");
    check("description", host.lastFileDialog("filters"), "문서 파일");
});

group("no title", function () {
    host.answerFileDialog("");
    viewer.SelectFile("", "", "");
    check("the dialog's own caption", host.lastFileDialog("title").length > 0, true);
});

group("cancel", function () {
    host.answerFileDialog("");
    var chosen = viewer.SelectFile("Cancel me", "", "");
    check("an empty string", chosen, "");
    check("a string, not an absent value", typeof chosen, "string");
});

group("only existing files", function () {
    var boxes = host.messageBoxCount();
    // The dialog refuses a missing file with a box of its own and stays open; the container
    // dismisses the box, then cancels.
    host.answerFileDialog(dir + "missing.txt");
    check("nothing chosen", viewer.SelectFile("Missing", "", ""), "");
    check("the dialog said why", host.messageBoxCount(), boxes + 1);
});

group("without a list window", function () {
    check("deactivated", host.deactivate(), 0);
    host.answerFileDialog(dir + "abc.txt");
    check("chosen", viewer.SelectFile("No owner", "", ""), dir + "abc.txt");
    check("no owner", host.lastFileDialog("owner"), "");
    check("reactivated", host.activate(), 0);
});

finish();
