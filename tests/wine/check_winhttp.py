#!/usr/bin/env python3
"""Drives the Windows HTTP seam (WinHTTP, under Wine) against a local plain-HTTP
server: final status, redirect limit, gzip decoding, the size limit on the
decoded body, the overall deadline before the head and inside the body, and
the headers it sends. Wine does not
trust a test CA; check_winhttp_roots.py covers the client's own root check and
the Linux client's tests the rest of TLS."""
import argparse
import gzip
import http.server
import subprocess
import sys
import threading
import time

seen_headers = []

# The client's limit on a decoded body, and a few compressed kilobytes that
# decode to 64 MiB.
BODY_LIMIT = 1024 * 1024
BOMB_DECODED = b" " * (64 << 20)
GZIP_BOMB = gzip.compress(BOMB_DECODED)
TOO_LARGE = "body-failure too_large the answer's body is larger than %d bytes" % BODY_LIMIT


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, extra=()):
        self.send_response(status)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:  # a client that stopped reading early
            pass

    def do_GET(self):
        seen_headers.append(dict(self.headers))
        path = self.path
        if path == "/ok":
            self.send(200, b'{"status":"ok"}')
        elif path == "/missing":
            self.send(404, b"not here")
        elif path.startswith("/redirect/"):
            left = int(path.rsplit("/", 1)[1])
            if left == 0:
                self.send(200, b"arrived")
            else:
                self.send(302, b"", [("Location", "/redirect/%d" % (left - 1))])
        elif path == "/gzip":
            # Compressed only when the client asks for it, as a real server does.
            body = b"packed " * 5000
            if "gzip" in self.headers.get("Accept-Encoding", ""):
                self.send(200, gzip.compress(body), [("Content-Encoding", "gzip")])
            else:
                self.send(200, body)
        elif path == "/at-limit":
            self.send(200, b" " * BODY_LIMIT)
        elif path == "/past-limit":
            self.send(200, b" " * (BODY_LIMIT + 1))
        elif path == "/gzip-bomb":
            # Compressed when the client asks for gzip; Wine 8's WinHTTP does
            # not (nor would it decode), so it gets the 64 MiB as they decode.
            if "gzip" in self.headers.get("Accept-Encoding", ""):
                self.send(200, GZIP_BOMB, [("Content-Encoding", "gzip")])
            else:
                self.send(200, BOMB_DECODED)
        elif path == "/slow-head":
            time.sleep(4)
            self.send(200, b"late")
        elif path == "/slow-body":
            self.send_response(200)
            self.send_header("Content-Length", "20")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(4)
            try:
                self.wfile.write(b"0123456789")
            except OSError:
                pass
        else:
            self.send(500, b"unknown")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]

    def probe(path, deadline_ms=5000):
        started = time.monotonic()
        out = subprocess.run(["bash", args.wine_run, args.probe, base + path, str(deadline_ms)],
                             capture_output=True, timeout=120)
        return out.stdout.decode("utf-8", "replace").splitlines(), time.monotonic() - started

    cases = [
        ("/ok", 5000, lambda lines: lines[:3] == ["head 200", "body 15", '{"status":"ok"}']),
        ("/missing", 5000, lambda lines: lines[:2] == ["head 404", "body 8"]),
        ("/redirect/5", 5000, lambda lines: lines[:3] == ["head 200", "body 7", "arrived"]),
        ("/redirect/6", 5000, lambda lines: lines and lines[0].startswith("failure other ")),
        ("/gzip", 5000, lambda lines: lines[:2] == ["head 200", "body 35000"]),
        ("/at-limit", 5000, lambda lines: lines[:2] == ["head 200", "body %d" % BODY_LIMIT]),
        ("/past-limit", 5000, lambda lines: lines[:2] == ["head 200", TOO_LARGE]),
        ("/gzip-bomb", 20000, lambda lines: lines[:2] == ["head 200", TOO_LARGE]),
        ("/slow-head", 1500, lambda lines: lines and lines[0].startswith("failure timed_out ")),
        ("/slow-body", 1500, lambda lines: lines[:2] == ["head 200"] + lines[1:2]
                                          and lines[1].startswith("body-failure timed_out ")),
    ]
    failed = 0
    for path, deadline, ok in cases:
        lines, took = probe(path, deadline)
        good = ok(lines)
        print("%s %s (%.1fs): %s" % ("ok  " if good else "FAIL", path, took, lines[:2]))
        failed += 0 if good else 1

    asked_gzip = any("gzip" in h.get("Accept-Encoding", "") for h in seen_headers)
    print("note: this WinHTTP %s gzip" % ("asked for" if asked_gzip else "did not ask for"))
    accept = [h.get("Accept") for h in seen_headers]
    if not accept or any(a != "*/*" for a in accept):
        print("FAIL Accept headers sent: %s" % accept)
        failed += 1
    if any("Proxy-Connection" in h for h in seen_headers):
        print("FAIL a proxy header was sent")
        failed += 1
    server.shutdown()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
