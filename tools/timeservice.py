#!/usr/bin/env python3
"""A small local time service for the tool, on 127.0.0.1 only.

GET /getSysTime.do answers a UTF-8 JSON object whose sysTime2 is the current
local time as "YYYY-MM-DD HH:MM:SS" (and sysTime1 as "YYYYMMDDHHMMSS"), the
shape the public service answers with.

Options let tests and people see how the tool copes:
  --offset S      add S seconds to the time served (may be negative)
  --delay S       wait S seconds before every answer
  --fault NAME    answer with a fault instead: empty, notjson, nomember,
                  number, null, hostile, huge (32 MB), close, or cycle
                  (each fault in turn, then a good answer, round and round),
                  or a hostile reply of tools/hostile_replies.py,
                  or soak (cycle through the light faults; every 100th
                  answer is 32 MB and every 100th, offset by 50, waits 3 s)
  --port N        port to listen on (0 picks a free one; printed on stdout)

GET /control?fault=NAME&delay=S&offset=S changes the settings while running
(fault=none goes back to good answers); GET /stats answers the request count.
"""
import argparse
import datetime
import http.server
import json
import os
import socketserver
import sys
import threading
import time
import urllib.parse

import hostile_replies

FAULTS = ["empty", "notjson", "nomember", "number", "null", "hostile", "huge", "close"]
HOSTILE = (b"(function(){var f=new ActiveXObject('Scripting.FileSystemObject');"
           b"f.CreateTextFile('C:\\\\pwned.txt',true).Close();"
           b"return {sysTime2:'2001-01-01 01:01:01'}})()")


class Settings:
    def __init__(self, args):
        self.lock = threading.Lock()
        self.fault = args.fault
        self.delay = args.delay
        self.offset = args.offset
        self.requests = 0
        self.cycle = 0


def now_texts(offset):
    t = datetime.datetime.now() + datetime.timedelta(seconds=offset)
    return t.strftime("%Y-%m-%d %H:%M:%S"), t.strftime("%Y%m%d%H%M%S")


def body_for(fault, offset):
    time2, time1 = now_texts(offset)
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


def make_handler(settings):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def answer(self, body, status=200):
            self.send_response(status)
            self.send_header("Content-Type", "application/json;charset=UTF-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            url = urllib.parse.urlparse(self.path)
            if url.path == "/control":
                q = urllib.parse.parse_qs(url.query)
                with settings.lock:
                    if "fault" in q:
                        settings.fault = q["fault"][0]
                    if "delay" in q:
                        settings.delay = float(q["delay"][0])
                    if "offset" in q:
                        settings.offset = float(q["offset"][0])
                return self.answer(b"ok")
            if url.path == "/stats":
                return self.answer(str(settings.requests).encode())
            if url.path != "/getSysTime.do":
                return self.answer(b"not found", 404)
            with settings.lock:
                settings.requests += 1
                fault, delay, offset = settings.fault, settings.delay, settings.offset
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
                        delay = 3.0
            if delay:
                time.sleep(delay)
            if fault == "close":
                self.close_connection = True
                self.connection.shutdown(2)
                return
            if hostile_replies.answer(self, fault, body_for(None, offset)):
                return
            self.answer(body_for(fault, offset))

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=18080)
    p.add_argument("--port-file", help="write the port here once listening")
    p.add_argument("--offset", type=float, default=0.0)
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--fault", choices=FAULTS + hostile_replies.NAMES + ["cycle", "soak", "none"], default=None)
    args = p.parse_args()
    server = Server(("127.0.0.1", args.port), make_handler(Settings(args)))
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
