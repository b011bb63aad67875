#!/usr/bin/env python3
"""Loopback HTTP server of the web tests on a free 127.0.0.1 port (written to the given file); /_last gives back
the last ordinary request, head and body. Stops on /_quit or after 120 idle seconds."""
import contextlib, os, re, socketserver, sys, threading, time, urllib.parse

LAST, ACTIVE = [b""], [time.time()]


def reply(s, status, body=b"", headers=()):
    head = ["HTTP/1.1 " + status, *headers, "Content-Length: %d" % len(body), "Connection: close"]
    s.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        ACTIVE[0], s, data = time.time(), self.request, b""
        s.settimeout(120)
        with contextlib.suppress(OSError):
            while b"\r\n\r\n" not in data and (part := s.recv(65536)):
                data += part
            head, blank, body = data.partition(b"\r\n\r\n")
            m = re.search(rb"\r\ncontent-length:\s*(\d+)", head, re.I)
            while blank and m and len(body) < int(m.group(1)) and (part := s.recv(65536)):
                body += part
            if blank:
                self.route(s, head + b"\r\n\r\n", body)

    def route(self, s, head, body):
        url = urllib.parse.urlsplit(head.split(b" ")[1].decode("latin-1"))
        q = dict(p.partition("=")[::2] for p in url.query.split("&"))
        if not url.path.startswith("/_"):
            LAST[0] = head + body
        if url.path == "/_last":
            reply(s, "200 OK", LAST[0])
        elif url.path == "/_quit":
            reply(s, "200 OK")
            threading.Thread(target=self.server.shutdown).start()
        elif url.path == "/getSysTime.do":
            reply(s, "200 OK", b'{"sysTime2":"2019-10-17 12:33:29","sysTime1":"20191017123329"}',
                  ["Content-Type: application/json;charset=UTF-8"])
        elif url.path == "/text":  # ?b=<percent-encoded body>&code=<status>
            reply(s, q.get("code", "200") + " X", urllib.parse.unquote_to_bytes(q.get("b", "")))
        elif url.path == "/redirect":
            reply(s, "302 Found", b"here", ["Location: /text?b=moved"])
        elif url.path == "/echo":
            reply(s, "200 OK", body)
        elif url.path == "/cookies":  # behind 8 KB of other headers
            reply(s, "200 OK", b"ok", ["X-Fill-%d: %s" % (i, "x" * 100) for i in range(80)] + [
                "Set-Cookie: a=1; path=/", "Set-Cookie: b=2", "set-cookie: c=3",
                "Set-Cookie: gone=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT"])
        elif url.path == "/big":  # byte i is i % 251
            total = int(float(q.get("mb", "32")) * (1 << 20))
            reply(s, "200 OK", (bytes(range(251)) * (total // 251 + 1))[:total])
        else:
            reply(s, "404 Not Found", b"no such path")


def main(port_file):
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True

    def idle_stop():
        while time.time() - ACTIVE[0] < 120:
            time.sleep(1)
        server.shutdown()

    threading.Thread(target=idle_stop, daemon=True).start()
    open(port_file + ".tmp", "w").write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever(poll_interval=0.2)
    os.remove(port_file)


if __name__ == "__main__":
    main(sys.argv[1])
