// The two warning boxes under the default ANSI code page (not Korean's): their Korean text reads
// as written, whatever code page the system uses.
// host.arg(0): the fixture folder (run-wine-test makes its archives).
eval(host.readText("../checks.js"));
var dir = host.arg(0);

group("invalid archive", function () {
    check("code", viewer.ViewArchive("ZIP", dir + "corrupt.zip", 0), -103);
    check("text", host.lastMessageBox("text"), "잘못된 파일 형식입니다");
});

group("entry that cannot be opened", function () {
    check("listed", viewer.ViewArchive("ZIP", dir + "hostile.zip", 0), 0);
    check("double-clicked", host.doubleClickRow(0), true);
    check("text", host.lastMessageBox("text"), "임시 파일을 생성할 수 없습니다");
    check("two boxes", host.messageBoxCount(), 2);
});

finish();
