// HttpDownload and HttpUploadSimple from page script against a local server: what arrives, the
// result codes a page sees, the box during an upload, and InternetOption's secure mode.
// host.arg(0): fixtures; arg(1): artifacts; arg(2): the served folder; arg(3), arg(4): the plain
// and TLS ports (the TLS certificate names 127.0.0.1).
eval(host.readText("../checks.js"));
var dir = host.arg(0), served = host.arg(2), port = +host.arg(3), tlsPort = +host.arg(4);
// Nothing listens there.
var closedPort = 1;

function download(url, name, options) {
    options = options || {};
    return viewer.HttpDownload("받는 중", "127.0.0.1", options.port || port, url,
                               options.header || "", name.indexOf(":") > 0 ? name : dir + name);
}

function upload(url, file, options) {
    options = options || {};
    return viewer.HttpUploadSimple("올리는 중", "127.0.0.1", options.port || port, url,
                                   options.header || "", file);
}

group("download result codes", function () {
    check("a new folder tree", download("/files/small.txt", "a\\b\\c\\small.txt"), 0);
    check("its bytes", host.readText(dir + "a\\b\\c\\small.txt"), "hello\n");
    check("with header lines", download("/files/small.txt", "h.txt",
                                        {header: "X-One: 1\r\nX-Two: 2"}), 0);
    check("without a Content-Length", download("/nolength/data.bin", "nolength.bin"), 0);
    check("all of it", viewer.GetCRC32(dir + "nolength.bin"),
          viewer.GetCRC32(served + "data.bin"));
    check("missing resource", download("/status/404", "abc.txt"), 25);
    check("existing file kept", host.readText(dir + "abc.txt"), "abc");
    check("206 is not success", download("/status/206", "partial.txt"), 25);
    check("nothing stored", host.readText(dir + "partial.txt"), null);
    check("no folder part", viewer.HttpDownload("c", "127.0.0.1", port, "/files/small.txt", "",
                                                "small.txt"), 40);
    check("a folder as destination", download("/files/small.txt", "out"), 40);
    check("nobody listening", download("/files/small.txt", "refused.txt", {port: closedPort}),
          23);
    // Only the low 16 bits of the port count.
    check("port beyond 16 bits", download("/files/small.txt", "wrapped.txt",
                                          {port: port + 65536}), 0);
});

group("upload result codes and what the server receives", function () {
    check("a file", upload("/upload/body1", dir + "abc.txt"), 0);
    var body = host.readText(served + "body1");
    check("received", body !== null, true);
    if (body !== null) {
        check("part header", body.indexOf('Content-Disposition: form-data; name="file"; ' +
                                          'filename="' + dir + 'abc.txt"\r\n' +
                                          "Content-Type: application/unknown\r\n\r\nabc\r\n") > 0,
              true);
        check("closing delimiter", body.slice(-45, -20), "-------------------------");
    }
    check("an empty file", upload("/upload/body2", dir + "empty.bin"), 0);
    check("a missing file", upload("/upload/body3", dir + "missing.bin"), 99);
    check("nothing sent", host.readText(served + "body3"), null);
    check("201 is not success", upload("/status/201", dir + "abc.txt"), 25);
    check("nobody listening", upload("/sink", dir + "abc.txt", {port: closedPort}), 23);
});

group("control characters in any string argument: 99, no request", function () {
    check("CR LF in the target", download("/upload/x HTTP/1.1\r\nX-Injected: 1\r\n\r\nGET /b",
                                          "ctl1.txt"), 99);
    check("in the server name", viewer.HttpDownload("c", "127.0.0.1\n", port, "/files/small.txt",
                                                    "", dir + "ctl2.txt"), 99);
    check("in a header value", download("/files/small.txt", "ctl3.txt", {header: "X-A: \x01"}),
          99);
    check("nothing stored", host.readText(dir + "ctl1.txt"), null);
    check("in an upload's target", upload("/upload/ctl4\r\nX: 1", dir + "abc.txt"), 99);
    check("in an upload's header", upload("/upload/ctl5", dir + "abc.txt", {header: "X: \x7f"}),
          99);
    check("nothing sent", host.readText(served + "ctl5"), null);
    check("a tab in a value is fine", download("/files/small.txt", "tab.txt",
                                               {header: "X-A: a\tb"}), 0);
});

group("the box during an upload", function () {
    var readings = [];
    function look() {
        if (readings.length >= 0 && readings.stopped) return;
        readings.push([host.progressBox("message"), host.progressBox("bar")]);
        host.after(30, look);
    }
    host.after(30, look);
    // 8 MiB, read by the server 256 KiB at a time every 20 ms.
    check("result", upload("/slow/20/262144/body4", served + "big.bin"), 0);
    readings.stopped = true;
    check("box gone", host.progressBox("bar"), null);
    check("readings", readings.length >= 2, true);
    for (var i = 0; i < readings.length; i++)
        check("caption " + i, readings[i][0], "올리는 중");
    check("bar moved", readings[readings.length - 1][1] > readings[0][1], true);
});

group("InternetOption selects TLS for both transfers", function () {
    viewer.InternetOption = 1;
    check("secure download", download("/files/small.txt", "tls.txt", {port: tlsPort}), 0);
    check("its bytes", host.readText(dir + "tls.txt"), "hello\n");
    check("secure upload", upload("/upload/body5", dir + "abc.txt", {port: tlsPort}), 0);
    check("secure to a plain server", download("/files/small.txt", "x1.txt"), 23);
    viewer.InternetOption = 3; // bits other than the lowest are ignored
    check("other bits ignored", download("/files/small.txt", "tls3.txt", {port: tlsPort}), 0);
    viewer.InternetOption = 2;
    check("plain again", download("/files/small.txt", "plain.txt"), 0);
    check("plain to a TLS server fails", download("/files/small.txt", "x2.txt",
                                                  {port: tlsPort}) != 0, true);
    check("and stores nothing", host.readText(dir + "x2.txt"), null);
    viewer.InternetOption = 0;
});

finish();
