// The control hosted in place by the ATL host, under the Korean ANSI code page: the list it builds,
// its column and window operations, resizing, deactivation and reactivation, and release.
// host.arg(0): a fixture folder; host.arg(1): the folder for the screenshot artifact.
eval(host.readText("../checks.js"));

group("activation builds the list", function () {
    check("name header", host.columnHeader(0), "이름");
    check("type header", host.columnHeader(1), "종류");
    check("size header", host.columnHeader(2), "크기");
    check("three columns only", host.columnHeader(3), null);
    // 420 pixels wide: (420 - 20) split 50/30/20.
    check("name width", viewer.GetColumnWidth(0), 200);
    check("type width", viewer.GetColumnWidth(1), 120);
    check("size width", viewer.GetColumnWidth(2), 80);
    check("list width", viewer.GetWindowWidth(), 420);
    check("list height", viewer.GetWindowHeight(), 240);
});

group("focus", function () {
    // The control's window hands the focus on to its list.
    check("focus ends in the list", host.focus(), "SysListView32");
});

group("column widths", function () {
    check("width beyond 16 bits", viewer.SetColumnWidth(0, 70000), 1);
    check("only its low 16 bits arrive", viewer.GetColumnWidth(0), 70000 % 65536);
    check("no fourth column to set", viewer.SetColumnWidth(3, 50), 0);
    check("no fourth column to read", viewer.GetColumnWidth(3), 0);
    check("fit the header", viewer.SetColumnWidth(1, -2), 1);
    check("a fitted width", viewer.GetColumnWidth(1) > 0, true);
    if (host.argCount > 1 && host.arg(1))
        check("screenshot saved", host.screenshot(host.arg(1) + "hosted-control.bmp"), true);
});

group("resizing moves the list with the control", function () {
    host.resize(300, 200);
    check("width", viewer.GetWindowWidth(), 300);
    check("height", viewer.GetWindowHeight(), 200);
});

group("deactivation keeps the state, reactivation builds a new list", function () {
    viewer.InternetOption = 3;
    viewer.ViewFilterExclude = "tmp|bak";
    check("deactivated", host.deactivate(), 0);
    check("no list", host.columnHeader(0), null);
    check("no width without a list", viewer.GetWindowWidth(), 0);
    check("no column without a list", viewer.SetColumnWidth(0, 10), 0);
    check("option kept", viewer.InternetOption, 3);
    check("reactivated", host.activate(), 0);
    check("headers again", host.columnHeader(2), "크기");
    // The new list takes the control's current width: (300 - 20) split 50/30/20.
    check("new name width", viewer.GetColumnWidth(0), 140);
    check("new size width", viewer.GetColumnWidth(2), 56);
    check("filter kept", viewer.ViewFilterExclude, "tmp|bak");
});

group("a control narrower than the margin", function () {
    host.resize(10, 100);
    host.deactivate();
    host.activate();
    // w = 10 - 20 = -10: the columns are asked for -5 and -3 (and -2, the list view's fit-header).
    check("first", viewer.GetColumnWidth(0), -5);
    check("second", viewer.GetColumnWidth(1), -3);
    host.resize(420, 240);
});

group("release", function () {
    check("control alive", host.canUnload(), false);
    host.release();
    check("no reference left", host.canUnload(), true);
    check("the page's viewer is gone", errorOf(function () { viewer.GetWindowWidth(); }),
          "8000ffff");
});

finish();
