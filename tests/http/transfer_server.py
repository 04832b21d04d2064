#!/usr/bin/env python3
"""An HTTP(S) server on 127.0.0.1 for the transfer tool tests and benchmarks.

  GET  /files/NAME     the file ROOT/NAME, with Content-Length
  GET  /slow/MS/PIECE/NAME
                       the same, its body sent in pieces of PIECE bytes, each after MS milliseconds
  GET  /nolength/NAME  the same without Content-Length: the body ends when the connection does
  GET  /status/CODE    an empty answer with that status
  GET  /to/URL         a 302 redirect to URL (the rest of the path, as it is)
  POST /upload/NAME    reads the whole body into ROOT/NAME, then answers 200
  POST /slow/MS/PIECE/NAME
                       the same, reading PIECE bytes at a time, each after MS milliseconds
  POST /sink           reads the whole body and throws it away, then answers 200
  POST /status/CODE    reads the whole body and throws it away, then answers CODE

Each --listen is "plain" or "tls:CERT:KEY"; the ports chosen, one a line in the order given,
go to --port-file once every listener is up. Runs until it is killed.
"""
import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time

CHUNK = 1 << 20


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"  # one request per connection
    root = "."

    def log_message(self, *args):
        pass

    def answer(self, status, body=b""):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def pacing(self, prefix):
        """Splits PREFIX/MS/PIECE/NAME into (seconds, piece size, NAME); None when malformed."""
        try:
            ms, piece, name = self.path[len(prefix):].split("/", 2)
            return int(ms) / 1000.0, max(1, int(piece)), name
        except ValueError:
            return None

    def do_GET(self):
        if self.path.startswith("/to/"):
            self.send_response(302)
            self.send_header("Location", self.path[len("/to/"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path.startswith("/status/"):
            self.answer(int(self.path[len("/status/"):]))
            return
        pace, announce = None, True
        if self.path.startswith("/files/"):
            name = self.path[len("/files/"):]
        elif self.path.startswith("/nolength/"):
            name, announce = self.path[len("/nolength/"):], False
        elif self.path.startswith("/slow/") and self.pacing("/slow/"):
            delay, piece, name = self.pacing("/slow/")
            pace = (delay, piece)
        else:
            self.answer(404)
            return
        path = os.path.join(self.root, os.path.basename(name))
        try:
            f = open(path, "rb")
        except OSError:
            self.answer(404)
            return
        with f:
            self.send_response(200)
            if announce:
                self.send_header("Content-Length", str(os.fstat(f.fileno()).st_size))
            self.end_headers()
            self.wfile.flush()
            try:
                if pace:
                    while True:
                        time.sleep(pace[0])
                        data = f.read(pace[1])
                        if not data:
                            break
                        self.wfile.write(data)
                        self.wfile.flush()
                else:
                    self.connection.sendfile(f)
            except (BrokenPipeError, ConnectionResetError):
                pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        target, status, delay, piece = None, 200, 0, CHUNK
        if self.path.startswith("/upload/"):
            target = open(os.path.join(self.root, os.path.basename(self.path[len("/upload/"):])), "wb")
        elif self.path.startswith("/slow/") and self.pacing("/slow/"):
            delay, piece, name = self.pacing("/slow/")
            piece = min(piece, CHUNK)
            target = open(os.path.join(self.root, os.path.basename(name)), "wb")
        elif self.path.startswith("/status/"):
            status = int(self.path[len("/status/"):])
        elif self.path != "/sink":
            self.answer(404)
            return
        buffer = memoryview(bytearray(CHUNK))
        left = length
        try:
            while left > 0:
                if delay:
                    time.sleep(delay)
                n = self.rfile.readinto(buffer[: min(piece, left)])
                if not n:
                    break
                if target:
                    target.write(buffer[:n])
                left -= n
        finally:
            if target:
                target.close()
        if left == 0:
            self.answer(status, b"received %d bytes\n" % length)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 64


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--listen", action="append", default=[])
    args = parser.parse_args()
    Handler.root = args.root

    ports = []
    for spec in args.listen or ["plain"]:
        server = Server(("127.0.0.1", 0), Handler)
        if spec.startswith("tls:"):
            _, cert, key = spec.split(":", 2)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            server.socket = context.wrap_socket(server.socket, server_side=True)
        ports.append(server.server_address[1])
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        f.write("".join("%d\n" % p for p in ports))
    os.replace(args.port_file + ".tmp", args.port_file)
    threading.Event().wait()


if __name__ == "__main__":
    sys.exit(main())
