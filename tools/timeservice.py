#!/usr/bin/env python3
"""A small local time service for the tool, on 127.0.0.1 only.

GET /getSysTime.do answers a UTF-8 JSON object whose sysTime2 is the
service's time as "YYYY-MM-DD HH:MM:SS" in Beijing time (UTC+8), truncated
to whole seconds (and sysTime1 as "YYYYMMDDHHMMSS"), the shape the public
service answers with. Every answer, whatever its path, carries a Date header
(UTC, whole seconds) read from the same shifted clock at the same instant;
GET /date answers only that header with a short text body. HEAD answers as
GET does, without the body (htpdate asks that way).

Options let tests and people see how the tool copes:
  --offset S      add S seconds to the time served (fractional, may be negative)
  --zone Z        sysTime2's zone: beijing (UTC+8, the default) or local
                  (this process's local time)
  --delay S       wait S seconds before reading the clock for an answer
  --reply-delay S wait S seconds after reading the clock, before answering
  --jitter S      add a uniform draw from [-S, +S] to each of the two waits
                  that is not zero (never below zero)
  --fault NAME    answer with a fault instead: empty, notjson, nomember,
                  number, null, hostile, huge (32 MB), close, or cycle
                  (each fault in turn, then a good answer, round and round),
                  or a hostile reply of tools/hostile_replies.py,
                  or soak (cycle through the light faults; every 100th
                  answer is 32 MB and every 100th, offset by 50, waits 3 s)
  --json-ms PATH  /getSysTime.do answers instead a JSON object whose member
                  PATH (names joined by '.', as a source URL's fragment
                  names it: data.t gives {"code":0,"data":{"t":...}}) holds
                  the service's time in Unix milliseconds, the millisecond
                  its clock shows (not cut to the second); the request's
                  form= picks another value: iso (ISO 8601 UTC with
                  milliseconds), seconds (Unix seconds, the wrong unit),
                  negative, word (a word, no time) or far (400 days ahead)
  --max-age S     let caches keep each answer S seconds (Cache-Control:
                  max-age=S), as a CDN's time page might; a cache between
                  the tool and the service then answers from its copy
                  unless the request says no-cache
  --port N        port to listen on (0 picks a free one; printed on stdout)
  --tls-cert PEM --tls-key PEM
                  serve HTTPS with this certificate chain and key

GET /control?fault=NAME&delay=S&reply_delay=S&jitter=S&offset=S&zone=Z
changes the settings while running (fault=none goes back to good answers);
GET /stats answers the request count; GET /stamps answers how many times
the time was read for an answer and the seconds from the first to the last
(JSON: count, span). --idle-exit S ends the service after S
seconds without a request (a Windows program that starts it under Wine cannot
end it with TerminateProcess).

Connections are kept alive (HTTP/1.1) and every reply goes out in one
send(), headers and body together, on a socket without Nagle's delay.
Paths are looked up in ROUTES; a module may add its own before serving.
"""
import argparse
import datetime
import email.utils
import http.server
import json
import math
import os
import random
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

import hostile_replies

FAULTS = ["empty", "notjson", "nomember", "number", "null", "hostile", "huge", "close"]
HOSTILE = (b"(function(){var f=new ActiveXObject('Scripting.FileSystemObject');"
           b"f.CreateTextFile('C:\\\\pwned.txt',true).Close();"
           b"return {sysTime2:'2001-01-01 01:01:01'}})()")
ZONES = ["beijing", "local"]
BEIJING = datetime.timezone(datetime.timedelta(hours=8))


class Settings:
    def __init__(self, args):
        self.lock = threading.Lock()
        self.fault = args.fault
        self.delay = args.delay
        self.reply_delay = args.reply_delay
        self.jitter = args.jitter
        self.offset = args.offset
        self.zone = args.zone
        self.json_ms = args.json_ms
        self.stamps = []  # monotonic instants the time was read for an answer
        self.max_age = args.max_age
        self.requests = 0
        self.last_request = time.monotonic()
        self.cycle = 0
        self.random = random.Random()

    def waits(self):
        """The two waits of one answer, with their jitter drawn."""
        with self.lock:
            def draw(base):
                if not base or not self.jitter:
                    return base
                return max(0.0, base + self.random.uniform(-self.jitter, self.jitter))
            return draw(self.delay), draw(self.reply_delay)


class Stamp:
    """The service's clock read once: the shifted instant and its texts."""

    def __init__(self, offset, zone):
        now = time.time() + offset
        self.ms = math.floor(now * 1000)
        whole = int(now // 1)  # truncated, as the public service does
        if zone == "local":
            shown = datetime.datetime.fromtimestamp(whole)
        else:
            shown = datetime.datetime.fromtimestamp(whole, BEIJING)
        self.time2 = shown.strftime("%Y-%m-%d %H:%M:%S")
        self.time1 = shown.strftime("%Y%m%d%H%M%S")
        self.date = email.utils.formatdate(whole, usegmt=True)


def body_for(fault, stamp):
    time2, time1 = stamp.time2, stamp.time1
    if fault in (None, "none"):
        return json.dumps({"sysTime2": time2, "sysTime1": time1}).encode("utf-8")
    if fault == "empty":
        return b""
    if fault == "notjson":
        return "<html><body>服务暂不可用</body></html>".encode("utf-8")
    if fault == "nomember":
        return json.dumps({"sysTime1": time1}).encode("utf-8")
    if fault == "number":
        return ('{"sysTime2":%s}' % time1).encode("utf-8")
    if fault == "null":
        return b'{"sysTime2":null}'
    if fault == "hostile":
        return HOSTILE
    if fault == "huge":
        pad = b" " * (32 * 1024 * 1024)
        return b'{"pad":"' + pad + b'","sysTime2":"' + time2.encode() + b'"}'
    raise ValueError(fault)


MS_FORMS = {
    "ms": lambda ms: ms,
    "iso": lambda ms: datetime.datetime.fromtimestamp(ms // 1000, datetime.timezone.utc)
    .strftime("%Y-%m-%dT%H:%M:%S") + ".%03dZ" % (ms % 1000),
    "seconds": lambda ms: ms // 1000,
    "negative": lambda ms: -ms,
    "word": lambda ms: "soon",
    "far": lambda ms: ms + 400 * 86400 * 1000,
}


def json_ms_body(path, form, stamp):
    """{"code":0, ...} with the member `path` names holding the time in the form asked."""
    value = MS_FORMS.get(form, MS_FORMS["ms"])(stamp.ms)
    for name in reversed(path.split(".")):
        value = {name: value}
    return json.dumps(dict(code=0, **value)).encode("utf-8")


def pick_fault(settings):
    """The fault of this request and any extra wait before it (soak)."""
    with settings.lock:
        settings.requests += 1
        fault, extra = settings.fault, 0.0
        if fault == "cycle":
            names = FAULTS + ["none"]
            fault = names[settings.cycle % len(names)]
            settings.cycle += 1
        elif fault == "soak":
            n = settings.cycle
            settings.cycle += 1
            light = ["none", "empty", "notjson", "nomember", "number", "null", "hostile", "close"]
            fault = "huge" if n % 100 == 99 else light[n % len(light)]
            if n % 100 == 49:
                extra = 3.0
        return fault, extra


def route_time(handler, settings, query):
    fault, extra = pick_fault(settings)
    before, after = settings.waits()
    if extra:
        before = extra
    if before:
        time.sleep(before)
    stamp = handler.stamp()
    with settings.lock:
        settings.stamps.append(time.monotonic())
    if after:
        time.sleep(after)
    if fault == "close":
        handler.close_connection = True
        handler.connection.shutdown(socket.SHUT_RDWR)
        return
    if hostile_replies.answer(handler, fault, body_for(None, stamp)):
        return
    if settings.json_ms and fault in (None, "none"):
        form = urllib.parse.parse_qs(query).get("form", ["ms"])[0]
        return handler.answer(json_ms_body(settings.json_ms, form, stamp), stamp=stamp)
    handler.answer(body_for(fault, stamp), stamp=stamp)


def route_date(handler, settings, query):
    before, after = settings.waits()
    if before:
        time.sleep(before)
    stamp = handler.stamp()
    if after:
        time.sleep(after)
    handler.answer(b"the time is in the Date header\n", stamp=stamp,
                   content_type="text/plain")


def route_control(handler, settings, query):
    q = urllib.parse.parse_qs(query)
    with settings.lock:
        if "fault" in q:
            settings.fault = q["fault"][0]
        for name in ("delay", "reply_delay", "jitter", "offset"):
            if name in q:
                setattr(settings, name, float(q[name][0]))
        if "zone" in q and q["zone"][0] in ZONES:
            settings.zone = q["zone"][0]
    handler.answer(b"ok")


def route_stats(handler, settings, query):
    handler.answer(str(settings.requests).encode())


def route_stamps(handler, settings, query):
    with settings.lock:
        stamps = list(settings.stamps)
    span = stamps[-1] - stamps[0] if stamps else 0.0
    handler.answer(json.dumps({"count": len(stamps), "span": span}).encode())


ROUTES = {
    "/getSysTime.do": route_time,
    "/date": route_date,
    "/control": route_control,
    "/stats": route_stats,
    "/stamps": route_stamps,
}


def make_handler(settings, routes=None):
    routes = dict(ROUTES if routes is None else routes)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            super().setup()
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def log_message(self, *args):
            pass

        def stamp(self):
            with settings.lock:
                offset, zone = settings.offset, settings.zone
            return Stamp(offset, zone)

        def answer(self, body, status=200, stamp=None,
                   content_type="application/json;charset=UTF-8"):
            """Headers and body in one buffer, written with one send()."""
            stamp = stamp or self.stamp()
            reason = self.responses.get(status, ("",))[0]
            cache = ("Cache-Control: max-age=%d\r\n" % settings.max_age
                     if settings.max_age is not None else "")
            head = ("HTTP/1.1 %d %s\r\n"
                    "Server: timeservice\r\n"
                    "Date: %s\r\n"
                    "%s"
                    "Content-Type: %s\r\n"
                    "Content-Length: %d\r\n"
                    "\r\n") % (status, reason, stamp.date, cache, content_type, len(body))
            self.wfile.write(head.encode("latin-1") + (b"" if self.command == "HEAD" else body))

        def do_GET(self):
            settings.last_request = time.monotonic()
            url = urllib.parse.urlparse(self.path)
            route = routes.get(url.path)
            if route is None:
                return self.answer(b"not found", 404, content_type="text/plain")
            route(self, settings, url.query)

        # As GET without the body: htpdate asks by HEAD and reads the Date.
        do_HEAD = do_GET

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=18080)
    p.add_argument("--port-file", help="write the port here once listening")
    p.add_argument("--offset", type=float, default=0.0)
    p.add_argument("--zone", choices=ZONES, default="beijing")
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--reply-delay", type=float, default=0.0)
    p.add_argument("--jitter", type=float, default=0.0)
    p.add_argument("--max-age", type=int, default=None)
    p.add_argument("--fault", choices=FAULTS + hostile_replies.NAMES + ["cycle", "soak", "none"], default=None)
    p.add_argument("--idle-exit", type=float, default=0.0)
    p.add_argument("--json-ms", metavar="PATH", default=None)
    p.add_argument("--tls-cert")
    p.add_argument("--tls-key")
    args = p.parse_args()
    settings = Settings(args)
    server = Server(("127.0.0.1", args.port), make_handler(settings))
    if args.idle_exit > 0:
        def watch():
            while time.monotonic() - settings.last_request < args.idle_exit:
                time.sleep(0.5)
            os._exit(0)
        threading.Thread(target=watch, daemon=True).start()
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    if not args.port_file:
        print(server.server_address[1], flush=True)
    else:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
