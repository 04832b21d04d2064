// The progress box while transfers run from page script against a local server, under the Korean
// code page: caption, bar and label read from the real dialog, its place on the screen, a transfer
// started from the progress pump, the box closed from the keyboard, the control's window closed
// and the control let go mid-transfer, and a quit request arriving meanwhile.
// host.arg(0): fixtures; arg(1): artifacts; arg(2): the served folder; arg(3): the plain port.
eval(host.readText("../checks.js"));
var dir = host.arg(0), artifacts = host.arg(1), served = host.arg(2), port = +host.arg(3);
var caption = "자료를 받는 중입니다";
// 200,000 bytes in 8 pieces, one every 100 ms.
var slow = "/slow/100/25000/data.bin";

// Reads the box each time the transfer's progress pump lets a timer run, until stop() is called;
// each(sample) runs on every reading.
function watchBox(each) {
    var watch = {samples: [], stopped: false};
    watch.stop = function () { watch.stopped = true; };
    function look() {
        if (watch.stopped) return;
        var s = {bar: host.progressBox("bar"), percent: host.progressBox("percent"),
                 message: host.progressBox("message"), visible: host.progressBox("visible")};
        watch.samples.push(s);
        if (each) each(s, watch.samples.length - 1);
        host.after(30, look);
    }
    host.after(30, look);
    return watch;
}

function download(name, url, title) {
    return viewer.HttpDownload(title || caption, "127.0.0.1", port, url || slow, "", dir + name);
}

function sameAsServed(path) {
    return viewer.GetCRC32(dir + path) === viewer.GetCRC32(served + "data.bin");
}

function centre(rectText) {
    var r = rectText.split(",");
    return [(+r[0] + +r[2]) / 2, (+r[1] + +r[3]) / 2];
}

group("a slow download shows the box, its bar and label following the reports", function () {
    check("no box before", host.progressBox("bar"), null);
    var layout = null, shot = false;
    var watch = watchBox(function (s) {
        if (!layout)
            layout = {range: host.progressBox("range"), picture: host.progressBox("picture"),
                      style: host.progressBox("style"), rect: host.progressBox("rect")};
        if (!shot && s.bar >= 300 && artifacts)
            shot = host.screenshotScreen(artifacts + "progress-box.bmp");
    });
    check("result", download("got\\deep\\data.bin"), 0);
    watch.stop();
    check("box gone at the end", host.progressBox("bar"), null);
    check("file complete", sameAsServed("got\\deep\\data.bin"), true);

    var samples = watch.samples;
    check("several readings", samples.length >= 4, true);
    // The first reading comes before any body byte: a new control labels nothing below 1 %.
    check("first bar", samples[0].bar, 0);
    check("first label", samples[0].percent, "");
    var distinct = 0, previous = -1;
    for (var i = 0; i < samples.length; i++) {
        var s = samples[i];
        check("caption " + i, s.message, caption);
        check("shown " + i, s.visible, true);
        check("bar moves forward " + i, s.bar >= previous, true);
        check("bar within range " + i, s.bar <= 1000, true);
        if (s.bar >= 10) check("label of bar " + s.bar, s.percent, Math.floor(s.bar / 10) + " %");
        if (s.bar != previous) distinct++;
        previous = s.bar;
    }
    check("bar seen at several places", distinct >= 3, true);
    check("per mille", layout.range, "0-1000");
    check("picture size", layout.picture, "48x46");
    check("no title bar", (layout.style & 0x00C00000) == 0, true);
    check("a popup", (layout.style & 0x80000000) != 0, true);
    var box = centre(layout.rect), work = centre(host.workArea());
    check("centred across", Math.abs(box[0] - work[0]) <= 1, true);
    check("centred down", Math.abs(box[1] - work[1]) <= 1, true);
    if (artifacts) check("screenshot taken", shot, true);
});

group("the next box labels from the last percentage shown", function () {
    // The last transfer ended at 100 %; the first report of this one (0) differs and is written.
    var watch = watchBox();
    check("result", download("again.bin", "/slow/300/100000/data.bin"), 0);
    watch.stop();
    check("first bar", watch.samples[0].bar, 0);
    // On a loaded machine the first reading may come before the first report has been written.
    var label = "(none)";
    for (var i = 0; i < watch.samples.length && label == "(none)"; i++)
        if (watch.samples[i].percent !== "") label = watch.samples[i].percent;
    check("first label", label, "0 %");
});

group("a transfer started from the progress pump shares the box", function () {
    var inner = null, seen = null, after = "not run";
    host.after(150, function () {
        seen = host.progressBox("message");
        inner = viewer.HttpDownload("안쪽", "127.0.0.1", port, "/files/small.txt", "",
                                    dir + "inner\\small.txt");
        after = host.progressBox("bar");
    });
    check("outer result", download("outer.bin", slow, "바깥"), 0);
    check("inner ran", inner, 0);
    check("inner found the outer's box, message unchanged", seen, "바깥");
    check("inner closed the box", after, null);
    check("box still gone", host.progressBox("bar"), null);
    check("outer file complete", sameAsServed("outer.bin"), true);
    check("inner file", host.readText(dir + "inner\\small.txt"), "hello\n");
});

group("closing the box from the keyboard hides it; the download goes on", function () {
    var state = null;
    host.after(150, function () {
        host.progressBox("close");
        host.sleep(50);
        state = [host.progressBox("visible"), host.progressBox("bar") !== null];
    });
    check("result", download("closed.bin"), 0);
    check("hidden but still there", String(state), "false,true");
    check("destroyed at the end", host.progressBox("bar"), null);
    check("file complete", sameAsServed("closed.bin"), true);
});

group("closing the control's window closes the box; the download goes on", function () {
    var closed = "not run";
    host.after(150, function () {
        check("deactivated", host.deactivate(), 0);
        closed = host.progressBox("bar");
    });
    check("result", download("deactivated.bin"), 0);
    check("box closed with the window", closed, null);
    check("file complete", sameAsServed("deactivated.bin"), true);
    check("reactivated", host.activate(), 0);
    check("a later download", download("later.txt", "/files/small.txt"), 0);
});

group("a quit request during a transfer is left for the host", function () {
    host.after(150, function () { host.postQuit(9); });
    check("result", download("quit.bin"), 0);
    check("quit still waiting", host.takeQuit(), 9);
    check("only once", host.takeQuit(), null);
});

group("the page letting the control go during a transfer", function () {
    var closed = "not run", heldByTheTransfer = null;
    host.after(150, function () {
        host.release();
        closed = host.progressBox("bar");
        heldByTheTransfer = !host.canUnload();
    });
    check("result", download("released.bin"), 0);
    check("box closed with the control's window", closed, null);
    check("the running transfer kept the control", heldByTheTransfer, true);
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    check("file complete", fso.GetFile(dir + "released.bin").Size, 200000);
    check("control gone afterwards", host.canUnload(), true);
});

finish();
