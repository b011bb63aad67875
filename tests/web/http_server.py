#!/usr/bin/env python3
"""Loopback HTTP test server of the web client tests (standard library only).

Binds 127.0.0.1 on a free port, writes the port into --port-file and serves
until /_quit, a file named like the port file plus ".quit", an idle spell of --idle seconds, or --lifetime seconds in all.
It records the exact request head (request line and header block) and body
of the last ordinary request, which /_last returns as head + body.

With --tls it serves HTTPS with a throwaway self-signed certificate made by
the openssl command line; without openssl it writes "notls" as the port.
"""
import argparse
import os
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

LAST = {"head": b"", "body": b""}
LOCK = threading.Lock()
ACTIVITY = {"t": time.time()}
CONTROL = ("/_last", "/_quit", "/_closedport")

# Fill pattern of the large body: byte i is the XOR of the three low bytes
# of i, so misplaced 1 KB chunks show up.
_LOW16 = bytes(((j & 0xFF) ^ (j >> 8)) & 0xFF for j in range(65536))
_XOR = [bytes((k ^ c) for k in range(256)) for c in range(256)]


def pattern_chunk(base):
    return _LOW16.translate(_XOR[(base >> 16) & 0xFF])


def reply(sock, status, body=b"", headers=(), length=None):
    lines = ["HTTP/1.1 %s" % status]
    lines += list(headers)
    lines.append("Content-Length: %d" % (len(body) if length is None else length))
    lines.append("Connection: close")
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    sock.sendall(head + body)


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            part = self.request.recv(65536)
            if not part:
                return None, None
            data += part
            if len(data) > 1 << 20:
                return None, None
        head, _, rest = data.partition(b"\r\n\r\n")
        head += b"\r\n\r\n"
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip() or 0)
        body = rest
        while len(body) < length:
            part = self.request.recv(65536)
            if not part:
                break
            body += part
        return head, body[:length] if length else body

    def handle(self):
        ACTIVITY["t"] = time.time()
        self.request.settimeout(120)
        try:
            head, body = self.read_request()
        except (OSError, ValueError):
            return
        if head is None:
            return
        target = head.split(b"\r\n", 1)[0].split(b" ")
        url = urllib.parse.urlsplit(target[1].decode("latin-1") if len(target) > 1 else "/")
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        path = url.path
        if self.server.tls_context is not None:
            with open(self.server.log_file, "a") as f:
                f.write("request: %s\n" % head.split(b"\r\n", 1)[0].decode("latin-1"))
        if path not in CONTROL:
            with LOCK:
                LAST["head"], LAST["body"] = head, body
        try:
            self.route(path, query, head, body)
        except OSError:
            pass

    def route(self, path, query, head, body):
        s = self.request
        arg = lambda k, d="": query.get(k, [d])[0]
        if path == "/_last":
            with LOCK:
                reply(s, "200 OK", LAST["head"] + LAST["body"])
        elif path == "/_quit":
            reply(s, "200 OK", b"bye")
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        elif path == "/_closedport":
            probe = socket.socket()
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
            probe.close()
            reply(s, "200 OK", str(port).encode())
        elif path == "/getSysTime.do":
            reply(s, "200 OK", b'{"sysTime2":"2019-10-17 12:33:29","sysTime1":"20191017123329"}',
                  ["Content-Type: application/json;charset=UTF-8"])
        elif path == "/text":
            reply(s, "200 OK", urllib.parse.unquote_to_bytes(arg("b")))
        elif path == "/echo":
            reply(s, "200 OK", body)
        elif path == "/empty":
            reply(s, "200 OK", b"")
        elif path == "/binary":
            reply(s, "200 OK", b"AB\x00CD\x00\xff\xfe")
        elif path == "/invalid":
            reply(s, "200 OK", b"\xff\xfe\xd6\xd0abc\xe4\xb8")
        elif path == "/utf8":
            reply(s, "200 OK", "中文 ok".encode("utf-8"))
        elif path == "/status":
            reply(s, "%s Custom" % arg("code", "404"), b"status body")
        elif path == "/cookies":
            reply(s, "200 OK", b"ok", [
                "Set-Cookie: a=1; path=/",
                "Set-Cookie: b=2",
                "set-cookie: c=3",
                "Set-Cookie: gone=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT",
            ])
        elif path == "/redirect":
            reply(s, "302 Found", b"moved", ["Location: /text?b=redirected"])
        elif path == "/bigheaders":
            lines = ["X-Fill-%d: %s" % (i, "x" * 100) for i in range(int(arg("lines", "80")))]
            reply(s, "200 OK", b"big", lines + ["Set-Cookie: late=1"])
        elif path == "/big":
            total = int(float(arg("mb", "32")) * (1 << 20))
            s.sendall(("HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                       % total).encode())
            sent = 0
            while sent < total:
                chunk = pattern_chunk(sent)[: total - sent]
                s.sendall(chunk)
                sent += len(chunk)
        elif path == "/truncated":
            reply(s, "200 OK", b"t" * 3000, length=10000)
        elif path == "/chunked":
            s.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                      b"5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
        elif path == "/close":
            pass  # closes without a reply
        elif path == "/silent":
            time.sleep(float(arg("s", "5")))
        elif path == "/slow":
            time.sleep(float(arg("ms", "500")) / 1000.0)
            reply(s, "200 OK", b"slow")
        else:
            reply(s, "404 Not Found", b"no such path")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, tls_context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.tls_context = tls_context

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls_context is not None:
            sock.settimeout(30)
            try:
                sock = self.tls_context.wrap_socket(sock, server_side=True)
            except (OSError, ssl.SSLError) as e:
                # What the client did in the handshake is a test finding.
                with open(self.log_file, "a") as f:
                    f.write("handshake failed: %s\n" % e)
                raise
            with open(self.log_file, "a") as f:
                f.write("handshake done: %s %s\n" % (sock.version(), sock.cipher()[0]))
        return sock, addr

    def handle_error(self, request, client_address):
        pass  # a client that went away is part of the tests


def make_tls_context(workdir):
    openssl = shutil.which("openssl")
    if not openssl:
        return None
    cert, key = os.path.join(workdir, "cert.pem"), os.path.join(workdir, "key.pem")
    subprocess.run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def write_port(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--idle", type=float, default=120)
    parser.add_argument("--lifetime", type=float, default=900)
    parser.add_argument("--tls", action="store_true")
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="web-test-server-")
    try:
        context = None
        if args.tls:
            try:
                context = make_tls_context(workdir)
            except (OSError, subprocess.CalledProcessError, ssl.SSLError):
                context = None
            if context is None:
                write_port(args.port_file, "notls")
                return 0
        server = Server(context)
        server.log_file = args.port_file + ".log"
        started = time.time()

        quit_file = args.port_file + ".quit"

        def watchdog():
            while True:
                time.sleep(0.2)
                now = time.time()
                if (os.path.exists(quit_file) or now - ACTIVITY["t"] > args.idle
                        or now - started > args.lifetime):
                    server.shutdown()
                    return

        threading.Thread(target=watchdog, daemon=True).start()
        write_port(args.port_file, str(server.server_address[1]))
        server.serve_forever(poll_interval=0.2)
        server.server_close()
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
        for leftover in (args.port_file, args.port_file + ".quit"):
            try:
                os.remove(leftover)
            except OSError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
