#!/usr/bin/env python3
"""Serves the demo pages on 127.0.0.1 and prints the port it was given.

Every host name reaches it, so the browser sees demo.localhost, ads.localhost
and track.localhost (all loopback) as different sites.
"""
import functools
import http.server
import os
import sys


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "demo")
    handler = functools.partial(QuietHandler, directory=os.path.abspath(folder))
    with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
        print(server.server_address[1], flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
