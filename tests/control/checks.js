// Checks shared by the script-client tests (cscript) and the page scripts (narvo-host). A failed
// check prints one line; finish() prints the count and ends the run, non-zero when any failed.
var failures = 0;

function say(text) {
    if (typeof WScript != "undefined")
        WScript.Echo(text);
    else
        host.echo(text);
}

function check(name, actual, expected) {
    if (actual === expected) return;
    failures++;
    say("FAIL " + name + ": got " + actual + " (" + typeof actual + "), expected " + expected +
        " (" + typeof expected + ")");
}

// The error number a call raises, as unsigned hexadecimal, or "none".
function errorOf(call) {
    try {
        call();
    } catch (e) {
        return (e.number >>> 0).toString(16);
    }
    return "none";
}

// Runs related checks; an error nobody expected counts as a failure and the next group runs.
function group(name, body) {
    try {
        body();
    } catch (e) {
        failures++;
        say("FAIL " + name + ": uncaught " + (e.number >>> 0).toString(16) + " " + e.description);
    }
}

function finish() {
    say(failures ? failures + " checks failed" : "all checks passed");
    if (typeof WScript != "undefined")
        WScript.Quit(failures ? 1 : 0);
    else
        host.quit(failures ? 1 : 0);
}
