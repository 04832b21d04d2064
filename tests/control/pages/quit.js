// host.quit ends the container at once with the page's code, even inside a try block.
try {
    host.quit(5);
} catch (e) {
    host.echo("caught");
}
host.quit(6);
