#!/usr/bin/env python3
"""timecal-query.exe under Wine through a real caching proxy (Debian's squid on loopback) in front of a local time
service whose answers caches may keep a minute (--max-age 60): named with --proxy and by the prefix's Internet
Settings, over WinINet and WinHTTP, plain and HTTPS (CONNECT, test CA; an untrusted certificate still refused); and a
proxy told to ignore the client's no-cache, whose kept replies must be refused, never taken as the time. squid's
access log says what the proxy did with each request. Arguments: <build dir here> <source root>
"""
import contextlib, http.client, os, pathlib, random, re, shutil, signal, socket, subprocess, sys, tempfile, time
import unittest

import query_wine_test as query  # its servers, certificates and query runner (same arguments)

SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
SQUID_CONF = """http_port 127.0.0.1:%(port)d
http_access allow localhost
http_access deny all
cache_mem 8 MB
maximum_object_size_in_memory 64 KB
pid_filename %(d)s/squid.pid
access_log stdio:%(d)s/access.log
cache_log %(d)s/cache.log
cache_store_log none
coredump_dir %(d)s
netdb_filename none
visible_hostname localhost
icp_port 0
htcp_port 0
pinger_enable off
shutdown_lifetime 0 seconds
"""
# A proxy that serves what it keeps whatever the client asks (ignore-reload: no-cache and Pragma are ignored).
STALE_CONF = "refresh_pattern . 60 100% 1440 ignore-reload override-expire override-lastmod\n"
LOG_LINE = re.compile(r"^\S+\s+\d+\s+\S+\s+([A-Z_]+)/\d+\s+\d+\s+(\S+)\s+(\S+)")


class Squid:
    """squid -N on loopback with its config, pid, logs and memory cache in `folder`, stopped by its pid."""

    def __init__(self, folder, extra=""):
        self.folder, self.port = folder, query.free_port()
        os.chmod(folder, 0o777)  # run as root, squid writes its logs as its own user
        conf = os.path.join(folder, "squid.conf")
        pathlib.Path(conf).write_text(SQUID_CONF % {"port": self.port, "d": folder} + extra)
        self.process = subprocess.Popen([shutil.which("squid") or "/usr/sbin/squid", "-N", "-f", conf])
        for _ in range(100):
            with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return
            time.sleep(0.2)
        raise AssertionError("squid did not listen: " + pathlib.Path(folder, "cache.log").read_text())

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def log(self):
        """(action, method, URL) per request so far, as the access log has them."""
        path = os.path.join(self.folder, "access.log")
        text = pathlib.Path(path).read_text() if os.path.exists(path) else ""
        return [m.groups() for m in map(LOG_LINE.match, text.splitlines()) if m]


def wine_reg(*args):
    subprocess.run([query.WINE_RUN, "reg", *args], cwd=query.BUILD, capture_output=True, check=True, timeout=120)


class ProxyTest(unittest.TestCase):
    def test_through_a_caching_proxy(self):
        # Within a minute: squid ages a reply by its Date, and one hours away would never be served from its cache.
        truth = random.uniform(-30, 30)
        scale = query.TIME_SCALE
        with contextlib.ExitStack() as stack:
            # By name, not by the proxy's address: Wine's WinHTTP sends a request for the proxy's own host (the port
            # aside) as if to the server itself, which squid refuses.
            def service(*options, base="http://localhost"):
                command = [sys.executable, os.path.join(query.ROOT, "tools", "timeservice.py"), "--port", "0",
                           "--offset", "%.6f" % truth, "--max-age", "60", *options]
                process = stack.enter_context(subprocess.Popen(command, stdout=subprocess.PIPE, text=True))
                stack.callback(process.terminate)
                return "%s:%d/date" % (base, int(process.stdout.readline()))

            def squid(extra=""):
                proxy = Squid(stack.enter_context(tempfile.TemporaryDirectory()), extra)
                stack.callback(proxy.stop)
                return proxy

            plain = service()
            https, untrusted = [service(*options, base="https://localhost")
                                for options in query.test_certificates(os.path.join(query.BUILD, "test-ca"))]
            honest, stale = squid(), squid(STALE_CONF)

            def run(proxy, *args):
                """The query's answer, and the proxy's log lines of this run."""
                before = len(proxy.log())
                answer = query.run_query(*args)
                time.sleep(0.2)  # the log's last line
                return answer, proxy.log()[before:]

            def measures(answer, url, within):
                code, sources, combined, _ = answer
                self.assertEqual(code, 0, sources)
                self.assertNotIn("failed", sources[url], sources)
                self.assertLessEqual(abs(combined - truth), min(within, sources[url]["bound"] + 0.002), sources)

            named = "127.0.0.1:%d" % honest.port
            # Through the honest proxy: every request reaches the server (a miss), the time is the server's. Under
            # an emulator WinHTTP's path is the slower: there its bound must cover the truth, within 10 ms.
            for name, args, within in [("named, WinINet, first", ["--proxy", named], 0.003),
                                       ("named, WinINet, second in a row", ["--proxy", named], 0.003),
                                       ("named, WinHTTP", ["--winhttp", "--proxy", named], 0.003 if scale == 1 else 0.010)]:
                with self.subTest(name):
                    answer, log = run(honest, *args, plain)
                    measures(answer, plain, within)
                    self.assertTrue(log, "the requests went through the proxy")
                    self.assertEqual([a for a, _, _ in log if "HIT" in a], [], log)

            # The system's setting (the prefix's Internet Settings) is the default; --no-proxy goes around it.
            wine_reg("add", SETTINGS_KEY, "/v", "ProxyServer", "/t", "REG_SZ", "/d", named, "/f")
            wine_reg("add", SETTINGS_KEY, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
            try:
                with self.subTest("the system's proxy setting"):
                    answer, log = run(honest, plain)
                    measures(answer, plain, 0.003)
                    self.assertTrue(log and all("HIT" not in a for a, _, _ in log), log)
                with self.subTest("the proxy's error page, by the system's setting"):
                    dead = "http://localhost:%d/date" % query.free_port()
                    (code, sources, combined, _), log = run(honest, dead)
                    self.assertEqual((code, combined), (1, None), (sources, log))
                    self.assertRegex(sources[dead]["failed"], r"^HTTP 5\d\d, an error page a proxy on the way")
                with self.subTest("--no-proxy past the system's setting"):
                    answer, log = run(honest, "--no-proxy", plain)
                    measures(answer, plain, 0.003)
                    self.assertEqual(log, [])
            finally:
                wine_reg("add", SETTINGS_KEY, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
                wine_reg("delete", SETTINGS_KEY, "/v", "ProxyServer", "/f")

            # A source the proxy cannot reach: its error page carries the proxy's own Date, never taken as the time.
            with self.subTest("the proxy's error page"):
                dead = "http://localhost:%d/date" % query.free_port()
                (code, sources, combined, _), log = run(honest, "--proxy", named, dead)
                self.assertEqual((code, combined), (1, None), (sources, log))
                self.assertRegex(sources[dead]["failed"], r"^HTTP 5\d\d, an error page a proxy on the way may have")

            # HTTPS by CONNECT: the test CA's certificate measures, an untrusted one is refused as directly.
            with self.subTest("HTTPS through the proxy"):
                answer, log = run(honest, "--proxy", named, https)
                # Under an emulator TLS eats the time: only the bound must cover the truth there.
                measures(answer, https, 0.010 if scale == 1 else float("inf"))
                self.assertTrue(log and all(a == "TCP_TUNNEL" and m == "CONNECT" for a, m, _ in log), log)
            with self.subTest("an untrusted certificate through the proxy"):
                (code, sources, _, _), log = run(honest, "--proxy", named, untrusted)
                self.assertEqual(code, 1, sources)
                self.assertRegex(sources[untrusted]["failed"], r"^send: \d+: (certificate|secure channel)")

            # A proxy that ignores no-cache answers from what it keeps (filled once here): each such reply
            # carries its Age and is refused, so the source fails with that reason and gives no time.
            fill = http.client.HTTPConnection("127.0.0.1", stale.port, timeout=10)
            fill.request("GET", plain)
            fill.getresponse().read()
            fill.close()
            for name, args in [("a stale proxy, WinINet", []), ("a stale proxy, WinHTTP", ["--winhttp"])]:
                with self.subTest(name):
                    (code, sources, combined, _), log = run(stale, *args, "--proxy", "127.0.0.1:%d" % stale.port,
                                                            plain)
                    self.assertEqual((code, combined), (1, None), (sources, log))
                    self.assertRegex(sources[plain]["failed"], r"^refused: a cache answered with Age: \d+$")
                    # (The copy may not be in yet for the run's first request: that one goes to the server.)
                    self.assertTrue(any("HIT" in a for a, _, _ in log), log)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
