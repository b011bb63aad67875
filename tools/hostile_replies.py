"""Hostile replies for the local time service (tools/timeservice.py).

Each mode answers GET /getSysTime.do the way a broken or malicious server
might; a mode that needs it is bounded in time so a test always ends.

  bigheaders   1 MB of header lines, then a good reply
  cookies      10,000 Set-Cookie lines, then a good reply
  endless      a body that never ends (streamed for at most ENDLESS_SECONDS)
  random       4 KB of random bytes as the body
  badutf8      a good reply with invalid UTF-8 in another member
  utf16        the good reply encoded as UTF-16 with its byte-order mark
  bom          the good reply after a UTF-8 byte-order mark
  nul          the good reply with a NUL byte after its opening brace
  redirectloop 301 to the same URL; a client that follows it without limit
               is answered 508 after LOOP_HOPS hops
  otherscheme  301 to https on a closed loopback port
  drip         the good reply one byte a second for DRIP_SECONDS, then the rest

answer(handler, mode, good_body) writes the reply and returns True when the
mode is one of these; False leaves the request to the caller.
"""
import random
import time

NAMES = ["bigheaders", "cookies", "endless", "random", "badutf8", "utf16", "bom", "nul",
         "redirectloop", "otherscheme", "drip"]
ENDLESS_SECONDS = 10.0
DRIP_SECONDS = 3
LOOP_HOPS = 50


def _head(handler, status=200, headers=(), length=None):
    handler.send_response(status)
    handler.send_header("Content-Type", "application/json;charset=UTF-8")
    for name, value in headers:
        handler.send_header(name, value)
    if length is not None:
        handler.send_header("Content-Length", str(length))
    else:
        handler.send_header("Connection", "close")
        handler.close_connection = True
    handler.end_headers()


def _whole(handler, body, headers=()):
    _head(handler, headers=headers, length=len(body))
    handler.wfile.write(body)


def _whole_status(handler, status):
    handler.send_response(status)
    handler.send_header("Content-Length", "0")
    handler.end_headers()


def _endless(handler):
    _head(handler)  # no length: the body runs until the connection closes
    handler.wfile.write(b'{"sysTime2":"')
    chunk = b" " * 65536
    stop = time.monotonic() + ENDLESS_SECONDS
    try:
        while time.monotonic() < stop:
            handler.wfile.write(chunk)
    except OSError:
        pass  # the client gave up


def _drip(handler, body):
    _head(handler, length=len(body))
    try:
        for i in range(min(DRIP_SECONDS, len(body))):
            handler.wfile.write(body[i:i + 1])
            handler.wfile.flush()
            time.sleep(1)
        handler.wfile.write(body[DRIP_SECONDS:])
    except OSError:
        pass


def _redirect(handler, location, status=301):
    handler.send_response(status)
    handler.send_header("Location", location)
    handler.send_header("Content-Length", "0")
    handler.end_headers()


def answer(handler, mode, good_body):
    if mode not in NAMES:
        return False
    host = "127.0.0.1:%d" % handler.server.server_address[1]
    if mode == "bigheaders":
        _whole(handler, good_body, [("X-Pad-%04d" % i, "a" * 1000) for i in range(1024)])
    elif mode == "cookies":
        _whole(handler, good_body, [("Set-Cookie", "c%05d=v%05d; Path=/" % (i, i)) for i in range(10000)])
    elif mode == "endless":
        _endless(handler)
    elif mode == "random":
        _whole(handler, random.Random(20191017).randbytes(4096))
    elif mode == "badutf8":
        _whole(handler, b'{"note":"\xc3\x28\xff\xfe\xed\xa0\x80\xf8\x88\x80\x80\x80",' + good_body[1:])
    elif mode == "utf16":
        _whole(handler, good_body.decode("utf-8").encode("utf-16"))
    elif mode == "bom":
        _whole(handler, b"\xef\xbb\xbf" + good_body)
    elif mode == "nul":
        _whole(handler, good_body[:1] + b"\x00" + good_body[1:])
    elif mode == "redirectloop":
        # The hop count rides in the query, so the loop is one URL to the client
        # but the server can end it.
        path, _, hops = handler.path.partition("?hop=")
        hops = int(hops) + 1 if hops.isdigit() else 1
        if hops > LOOP_HOPS:
            _whole_status(handler, 508)
        else:
            _redirect(handler, "http://%s%s?hop=%d" % (host, path, hops))
    elif mode == "otherscheme":
        _redirect(handler, "https://127.0.0.1:1%s" % handler.path)
    elif mode == "drip":
        _drip(handler, good_body)
    return True
