// An uncaught error ends the container with a message and a non-zero exit code.
host.echo("before");
viewer.NoSuchMember();
host.echo("never");
