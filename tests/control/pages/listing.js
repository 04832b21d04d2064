// ViewArchive and ViewFilterExclude in the hosted control, read back from the real list view:
// rows in archive order, type names, icons and the image list, the ".files" rule, the filter,
// size texts, failures with their warning box, and a call while the control has no window.
// host.arg(0): the fixture folder (run-wine-test --recorder makes its archives); host.arg(1): the
// folder for the screenshot artifact.
eval(host.readText("../checks.js"));
eval(host.readText("rows.js"));
var dir = host.arg(0);
var korean = "문서.nvt";

// The list's rows as "name|type|size" lines.
function rows() {
    var count = host.listRowCount(), lines = [];
    for (var i = 0; i < count; i++)
        lines.push(host.listCell(i, 0) + "|" + host.listCell(i, 1) + "|" + host.listCell(i, 2));
    return lines;
}

function names() {
    var count = host.listRowCount(), list = [];
    for (var i = 0; i < count; i++) list.push(host.listCell(i, 0));
    return list.join(",");
}

function imageOf(name) {
    return host.listImage(rowOf(name));
}

var nvtType = "Narvo test document";
var nvtImage; // the image of .nvt, from the first listing on
var listed = "README,docs/,docs/a.nvt,b.nvt,c.NVT,old.dir/readme,page.nvt,a.tmp,~x.doc,a.TMP," +
             "huge.bin," + korean;

group("the list before any archive", function () {
    check("headers", host.listCell(-1, 0) + host.listCell(-1, 1) + host.listCell(-1, 2),
          "이름종류크기");
    check("empty", host.listRowCount(), 0);
    check("image 0 only", host.imageList("count"), 1);
    check("16 pixels wide", host.imageList("width"), 16);
    check("16 pixels high", host.imageList("height"), 16);
    check("8-bit colour", host.imageList("bits"), 8);
    check("no mask", host.imageList("masked"), 0);
});

group("a listing", function () {
    check("listed", viewer.ViewArchive("ZIP", dir + "list.zip", 0), 0);
    // Archive order; ".files" anywhere in the name hides a row, whatever the filter.
    check("rows in archive order", names(), listed);
    var lines = rows();
    check("no extension", lines[0], "README||999");
    check("folder entry", lines[1], "docs/||0");
    check("registered type, thousands", lines[2], "docs/a.nvt|" + nvtType + "|1,000");
    check("empty entry", lines[3], "b.nvt|" + nvtType + "|0");
    check("largest 32-bit size", lines[10], "huge.bin|" + host.listCell(10, 1) + "|4,294,967,295");
    check("code page 949 name", host.listCell(11, 0), korean);
    check("its type", host.listCell(11, 1), nvtType);

    check("no extension shows image 0", imageOf("README"), 0);
    check("folder entry shows image 0", imageOf("docs/"), 0);
    var nvt = nvtImage = imageOf("docs/a.nvt");
    check("a type of its own", nvt > 0, true);
    check("one image per extension", imageOf("b.nvt"), nvt);
    check("shared by every row of it", imageOf(korean), nvt);
    check("letter case makes another key", imageOf("c.NVT") != nvt && imageOf("c.NVT") > 0, true);
    check("the shell names both cases alike", host.listCell(rowOf("c.NVT"), 1), nvtType);
    check("a dot in a folder part", imageOf("old.dir/readme") > 0, true);
    check("other types have names", host.listCell(rowOf("a.tmp"), 1) != "", true);
    // Image 0, then one icon for each of nvt, NVT, dir/readme, tmp, doc, TMP, bin, and for the
    // hidden rows' files/, gif and txt: hidden rows are looked up too.
    check("image count", host.imageList("count"), 11);
    check("nothing selected", host.listSelection(), -1);
    if (host.argCount > 1 && host.arg(1))
        check("screenshot saved", host.screenshot(host.arg(1) + "archive-list.bmp"), true);
});

group("listing again", function () {
    var nvt = imageOf("b.nvt");
    check("same archive", viewer.ViewArchive("zip", dir + "list.zip", 0), 0);
    check("same rows", names(), listed);
    check("no new images for known extensions", host.imageList("count"), 11);
    check("same image", imageOf("b.nvt"), nvt);
    check("another archive", viewer.ViewArchive("Zip", dir + "second.zip", 0), 0);
    check("its rows", names(), "new.nvz,more.nvt,more.txt");
    check("one new image for its one new extension", host.imageList("count"), 12);
    check("known extension keeps its image", imageOf("more.nvt"), nvt);
    check("new extension, new image", imageOf("new.nvz"), 11);
});

group("exclusion filter", function () {
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    viewer.ViewFilterExclude = ".tmp|~";
    check("as stored", viewer.ViewFilterExclude, ".tmp|~");
    check("not applied before the next listing", host.listRowCount(), 12);
    check("listed", viewer.ViewArchive("ZIP", dir + "list.zip", 0), 0);
    // Case-sensitive substrings anywhere in the name.
    check("filtered rows", names(),
          "README,docs/,docs/a.nvt,b.nvt,c.NVT,old.dir/readme,page.nvt,a.TMP,huge.bin," + korean);
    viewer.ViewFilterExclude = "문서|docs/";
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    check("code page 949 pattern and folder part", names(),
          "README,b.nvt,c.NVT,old.dir/readme,page.nvt,a.tmp,~x.doc,a.TMP,huge.bin");
    viewer.ViewFilterExclude = "";
    check("empty text", viewer.ViewArchive("ZIP", dir + "list.zip", 0), 0);
    check("an empty pattern hides every row", host.listRowCount(), 0);
    check("empty text kept", viewer.ViewFilterExclude, "");
    viewer.ViewFilterExclude = "|";
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    check("a bar alone hides every row", host.listRowCount(), 0);
    viewer.ViewFilterExclude = "a.t||b";
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    check("an empty piece hides every row", host.listRowCount(), 0);
    viewer.ViewFilterExclude = "nothing matches this";
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    check("back to every row", names(), listed);
});

group("other formats leave the list alone", function () {
    var before = rows().join("/");
    check("RAR", viewer.ViewArchive("RAR", dir + "list.zip", 0), 500);
    check("empty format", viewer.ViewArchive("", dir + "second.zip", 0), 500);
    check("ZIP with a blank", viewer.ViewArchive("ZIP ", dir + "second.zip", 0), 500);
    check("list untouched", rows().join("/"), before);
    check("no box", host.messageBoxCount(), 0);
});

group("an archive without entries", function () {
    check("listed", viewer.ViewArchive("ZIP", dir + "empty.zip", 0), 0);
    check("empty list", host.listRowCount(), 0);
    check("no box", host.messageBoxCount(), 0);
});

group("archives that cannot be read", function () {
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    var cases = [["corrupt.zip", "corrupt"], ["missing.zip", "missing"], ["", "no name"]];
    for (var i = 0; i < cases.length; i++) {
        var boxes = host.messageBoxCount();
        var path = cases[i][0] ? dir + cases[i][0] : "";
        check(cases[i][1] + ": code", viewer.ViewArchive("ZIP", path, 0), -103);
        check(cases[i][1] + ": one box", host.messageBoxCount(), boxes + 1);
        check(cases[i][1] + ": its text", host.lastMessageBox("text"), "잘못된 파일 형식입니다");
        check(cases[i][1] + ": no caption", host.lastMessageBox("caption"), "");
        check(cases[i][1] + ": owned by the container's window", host.lastMessageBox("owner"),
              "NarvoHostFrame");
        check(cases[i][1] + ": list emptied", host.listRowCount(), 0);
    }
    // Nothing left to open: neither a row nor the empty list reacts.
    check("no row to double-click", host.doubleClickRow(0), false);
    host.doubleClickRow(-1);
    check("no box from the double-click", host.lastMessageBox("text"), "잘못된 파일 형식입니다");
});

group("calls while the control has no window", function () {
    check("deactivated", host.deactivate(), 0);
    check("listed without a list", viewer.ViewArchive("ZIP", dir + "list.zip", 0), 0);
    check("no list window", host.listRowCount(), null);
    var boxes = host.messageBoxCount();
    check("failure", viewer.ViewArchive("ZIP", dir + "corrupt.zip", 0), -103);
    check("box shown", host.messageBoxCount(), boxes + 1);
    check("without an owner", host.lastMessageBox("owner"), "");
    viewer.ViewArchive("ZIP", dir + "list.zip", 0);
    check("reactivated", host.activate(), 0);
    check("nothing fills the new list", host.listRowCount(), 0);
    check("listed again", viewer.ViewArchive("ZIP", dir + "list.zip", 0), 0);
    check("rows", names(), listed);
    // The cache's image list outlives the window, so its indexes stay right.
    check("images kept", host.imageList("count"), 12);
    check("same image as before", imageOf("b.nvt"), nvtImage);
});

finish();
