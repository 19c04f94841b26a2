#!/usr/bin/env python3
"""Serves the files under --root on 127.0.0.1 (404 for anything missing), for the tests.

The port is printed as "PORT <n>"; every request path is appended to --log; the server stops
when standard input closes.
"""
import argparse
import os
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.server.log:
            with open(self.server.log, "a", encoding="utf-8") as f:
                f.write(self.path + "\n")
        path = os.path.normpath(os.path.join(self.server.root, self.path.lstrip("/")))
        if not path.startswith(self.server.root) or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "9")
            self.end_headers()
            self.wfile.write(b"not found")
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", default="")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.root = os.path.abspath(args.root)
    server.log = args.log
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
