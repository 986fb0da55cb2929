#!/usr/bin/env python3
"""Drives the Windows HTTP seam (WinHTTP, under Wine) against a local HTTPS
server whose CA is not a public root. First WinHTTP itself refuses it. Then the
CA is added to the user's root store, as an administrator or a TLS-inspecting
proxy would: WinHTTP now trusts it and sends the request, and the client's own
check against the compiled-in roots must still refuse the answer."""
import argparse
import hashlib
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading

seen_paths = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        seen_paths.append(self.path)
        body = b'{"status":"ok"}'
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_credentials(folder):
    """A test CA and a certificate for localhost it issues."""
    with open(os.path.join(folder, "leaf.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/O=Tarvo Test/CN=Tarvo Test Root Added By Hand",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
            "-subj", "/CN=localhost", cwd=folder)
    openssl("x509", "-req", "-in", "leaf.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "leaf.pem", "-days", "2", "-extfile", "leaf.ext", cwd=folder)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--add-user-root", required=True)
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="tarvo-roots-")
    make_credentials(folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "leaf.pem"), os.path.join(folder, "leaf.key"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "https://localhost:%d/ok" % server.server_address[1]

    def wine(*command):
        return subprocess.run(["bash", args.wine_run, *command], capture_output=True, timeout=120, cwd=folder)

    def probe():
        out = wine(args.probe, url, "5000")
        return out.stdout.decode("utf-8", "replace").splitlines()

    with open(os.path.join(folder, "ca.der"), "rb") as f:
        thumbprint = hashlib.sha1(f.read()).hexdigest().upper()
    failed = 0
    try:
        lines = probe()
        good = bool(lines) and lines[0].startswith("failure other ") and not seen_paths
        print("%s unknown CA, refused by WinHTTP itself: %s" % ("ok  " if good else "FAIL", lines[:1]))
        failed += 0 if good else 1

        added = wine(args.add_user_root, os.path.join(folder, "ca.der"))
        if added.returncode != 0:
            print("FAIL could not add the CA to the user's root store")
            return 1
        lines = probe()
        good = bool(lines) and lines[0].startswith("failure other ") and seen_paths == ["/ok"]
        print("%s CA in the user's store, WinHTTP sent the request, the client refused the answer: %s, requests %s"
              % ("ok  " if good else "FAIL", lines[:1], seen_paths))
        failed += 0 if good else 1
    finally:
        # Deleting through the store API leaves Wine's registry entry behind.
        wine("reg", "delete", "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint, "/f")
        server.shutdown()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
