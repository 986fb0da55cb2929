#!/usr/bin/env python3
"""Drives the Windows HTTP seam (WinHTTP, under Wine) against local HTTPS
servers whose CAs are not public roots, to show that the client's own check
guards the request itself, on every hop.

First WinHTTP itself refuses an unknown CA. Then two CAs are added to the
user's root store, as an administrator or a TLS-inspecting proxy would, so
that WinHTTP's own check passes: the client's check, made when WinHTTP is
about to send a hop's request, must stop every hop whose server's chain does
not lead to the roots the probe trusts (the compiled-in public roots, or the
test CAs it is given in their place). The probe reports each hop's check;
each server records the TLS handshakes it completed and the requests it got.
Wine 8 still writes a request whose handle the check closed (Windows does
not), so a stopped hop is shown by the probe's record, not by the server's."""
import argparse
import hashlib
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.paths.append(self.path)
        location = self.server.redirects.get(self.path)
        body = b"" if location else b'{"status":"ok"}'
        self.send_response(302 if location else 200)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class RecordingServer(http.server.ThreadingHTTPServer):
    """Serves on 127.0.0.1, over TLS with `context` (plain HTTP without)."""
    daemon_threads = True

    def __init__(self, context=None):
        super().__init__(("127.0.0.1", 0), Handler)
        self.context = context
        self.handshakes = 0
        self.paths = []
        self.redirects = {}
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def port(self):
        return self.server_address[1]

    def get_request(self):
        sock, address = self.socket.accept()
        if self.context is None:
            return sock, address
        sock.settimeout(30)
        tls = self.context.wrap_socket(sock, server_side=True)  # a failed handshake raises OSError
        self.handshakes += 1
        return tls, address

    def forget(self):
        self.handshakes = 0
        self.paths = []


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_ca(folder, name):
    """A test CA `name` and a certificate for localhost it issues: name.pem,
    name-leaf.pem and its key, and the CA in DER as name.der."""
    with open(os.path.join(folder, "leaf.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".pem",
            "-days", "2", "-subj", "/O=Tarvo Test/CN=Tarvo Test Root " + name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + "-leaf.key", "-out", name + "-leaf.csr",
            "-subj", "/CN=localhost", cwd=folder)
    openssl("x509", "-req", "-in", name + "-leaf.csr", "-CA", name + ".pem", "-CAkey", name + ".key",
            "-CAcreateserial", "-out", name + "-leaf.pem", "-days", "2", "-extfile", "leaf.ext", cwd=folder)
    openssl("x509", "-in", name + ".pem", "-outform", "DER", "-out", name + ".der", cwd=folder)
    return os.path.join(folder, name + ".der")


def tls_context(folder, name, tls_version=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, name + "-leaf.pem"), os.path.join(folder, name + "-leaf.key"))
    if tls_version is not None:
        # Old protocol versions need OpenSSL's lowest security level.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = tls_version
        context.maximum_version = tls_version
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--add-user-root", required=True)
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="tarvo-roots-")
    ca_a = make_ca(folder, "a")
    ca_b = make_ca(folder, "b")
    a = RecordingServer(tls_context(folder, "a"))        # CA a, the probe's root when it is given roots
    b = RecordingServer(tls_context(folder, "b"))        # CA b, in the user's store only
    plain = RecordingServer()
    old_tls = RecordingServer(tls_context(folder, "a", ssl.TLSVersion.TLSv1_1))
    a.redirects = {
        "/to-b": "https://localhost:%d/ok" % b.port,
        "/to-plain": "http://localhost:%d/ok" % plain.port,
    }
    servers = {"a": a, "b": b, "plain": plain, "tls1.1": old_tls}

    def wine(*command):
        return subprocess.run(["bash", args.wine_run, *command], capture_output=True, timeout=120, cwd=folder)

    def probe(server, path, roots):
        out = wine(args.probe, "https://localhost:%d%s" % (server.port, path), "5000", *roots)
        return out.stdout.decode("utf-8", "replace").splitlines()

    def requests_seen():
        return {name: server.paths for name, server in servers.items() if server.paths}

    thumbprints = []
    for der in (ca_a, ca_b):
        with open(der, "rb") as f:
            thumbprints.append(hashlib.sha1(f.read()).hexdigest().upper())

    failed = 0

    def check(name, server, path, roots, first_line, expect_hops, expect_requests=None, shook_hands=()):
        """`expect_hops`: the probe's hop lines (or a list of the acceptable
        ones); `expect_requests`: what the
        servers received, when it is known under Wine; `shook_hands`: servers
        that must have completed a handshake."""
        nonlocal failed
        for s in servers.values():
            s.forget()
        lines = probe(server, path, roots)
        hops = [line for line in lines if line.startswith("hop ")]
        handshakes = {n: s.handshakes for n, s in servers.items()}
        hop_options = expect_hops if expect_hops and isinstance(expect_hops[0], list) else [expect_hops]
        good = (bool(lines) and lines[0].startswith(first_line) and hops in hop_options
                and (expect_requests is None or requests_seen() == expect_requests)
                and all(handshakes[n] > 0 for n in shook_hands))
        print("%s %s: %s %s, requests %s, handshakes %s"
              % ("ok  " if good else "FAIL", name, lines[:1], hops, requests_seen(), handshakes))
        if not good:
            print("     expected %s... %s, requests %s, handshakes with %s"
                  % (first_line, expect_hops, expect_requests, shook_hands))
        failed += 0 if good else 1

    sent = "hop https localhost sent"
    stopped = "hop https localhost stopped"
    try:
        check("unknown CA, refused by WinHTTP itself", a, "/ok", [], "failure other ", [], {})

        for der in (ca_a, ca_b):
            if wine(args.add_user_root, der).returncode != 0:
                print("FAIL could not add a CA to the user's root store")
                return 1

        check("CA in the user's store, public roots: stopped before sending", a, "/ok", [], "failure other ",
              [stopped], shook_hands=["a"])
        check("the probe's root trusted: answered", a, "/ok", [ca_a], "head 200", [sent], {"a": ["/ok"]})
        check("redirect to a server of another CA: its hop stopped before sending", a, "/to-b", [ca_a],
              "failure other ", [sent, stopped], shook_hands=["a", "b"])
        check("redirect to a server of another CA, both trusted: answered", a, "/to-b", [ca_a, ca_b],
              "head 200", [sent, sent], {"a": ["/to-b"], "b": ["/ok"]})
        # Wine's WinHTTP refuses this redirect itself, before the client's check.
        check("redirect from HTTPS to plain HTTP: not followed", a, "/to-plain", [ca_a], "failure other ",
              [[sent], [sent, "hop http localhost stopped"]], {"a": ["/to-plain"]})
        check("a server that speaks only TLS 1.1: refused", old_tls, "/ok", [ca_a], "failure other ", [], {})
    finally:
        # Deleting through the store API leaves Wine's registry entry behind.
        for thumbprint in thumbprints:
            wine("reg", "delete", "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint,
                 "/f")
        for server in servers.values():
            server.shutdown()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
