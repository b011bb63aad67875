#!/usr/bin/env python3
"""timecal-query.exe under Wine against servers started here on loopback:
the local time service (sysTime2 and Date, with a random fractional true
offset, plain and jittered), the same service over HTTPS with a test CA that
the prefix trusts, and a real nginx from Debian. The truth is the service's
own --offset: it and Wine read the same host clock.

  query_wine_test.py <build dir of the query tests> <source root>
"""
import contextlib, os, random, re, shutil, socket, subprocess, sys, tempfile, time, unittest

# Under an emulator (tools/wine-env.sh) Windows programs run this many times slower.
TIME_SCALE = max(1, int(os.environ.get("RT_TEST_TIME_SCALE", "1") or 1))
BUILD, ROOT = sys.argv[1], sys.argv[2]
QUERY = os.path.join(BUILD, "..", "..", "query", "timecal-query.exe")
WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
NUMBER = r"[+-]\d+\.\d{3}"
SOURCE_LINE = re.compile(r"^source (\S+) offset (%s) \+/- (\d+\.\d{3}) s rtt \d+\.\d{3} s requests (\d+)$" % NUMBER)
FAILED_LINE = re.compile(r"^source (\S+) (?:failed: (.+)|(false ticker))$")
OFFSET_LINE = re.compile(r"^offset (%s) \+/- \d+\.\d{3} s$" % NUMBER)
NGINX_CONF = """daemon off; master_process off; pid %(p)s/nginx.pid; error_log %(p)s/error.log;
events { worker_connections 64; }
http {
  access_log off; client_body_temp_path %(p)s; proxy_temp_path %(p)s; fastcgi_temp_path %(p)s;
  uwsgi_temp_path %(p)s; scgi_temp_path %(p)s;
  server { listen 127.0.0.1:%(port)d; root %(p)s; keepalive_requests 1000; }
}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def server(command, port):
    """A process listening on `port` of 127.0.0.1 (yielded), stopped on exit."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):  # 10 s
            with contextlib.suppress(OSError):
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("server did not start: %s" % command)
        yield port
    finally:
        process.terminate()
        process.wait(10)


@contextlib.contextmanager
def nginx_on_loopback():
    """A real nginx from Debian serving a page on loopback; yields its URL."""
    with tempfile.TemporaryDirectory() as prefix:
        port = free_port()
        with open(os.path.join(prefix, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF % {"p": prefix, "port": port})
        with open(os.path.join(prefix, "index.html"), "w") as f:
            f.write("<html>nginx on loopback</html>\n")
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        with server([nginx, "-p", prefix, "-c", os.path.join(prefix, "nginx.conf")], port):
            yield "http://127.0.0.1:%d/" % port


def trusted_test_ca(folder):
    """A test CA, trusted by the prefix, and a localhost server certificate it signed."""
    def openssl(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(folder, exist_ok=True)
    if not os.path.exists(os.path.join(folder, "server.pem")):
        new = ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650"]
        openssl(*new, "-subj", "/CN=timecal test CA", "-keyout", "ca.key", "-out", "ca.pem",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
        openssl(*new, "-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.pem",
                "-CA", "ca.pem", "-CAkey", "ca.key", "-addext", "subjectAltName=DNS:localhost",
                "-addext", "extendedKeyUsage=serverAuth", "-addext", "basicConstraints=CA:FALSE")
    subprocess.run([WINE_RUN, os.path.join(BUILD, "trust_ca.exe"), os.path.join(folder, "ca.der")],
                   check=True, timeout=60)
    return ["--tls-cert", os.path.join(folder, "server.pem"), "--tls-key", os.path.join(folder, "server.key")]


def run_query(*urls):
    """Exit code, each source's figures (or failure) by URL, the combined offset, seconds taken."""
    started = time.time()
    p = subprocess.run([WINE_RUN, QUERY] + list(urls), capture_output=True, timeout=120)
    took = time.time() - started
    lines = p.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    print("query %s -> %d in %.1f s:\n  %s" % (" ".join(urls), p.returncode, took, "\n  ".join(lines)), flush=True)
    sources, combined = {}, None
    for line in lines:
        m, failed, offset = SOURCE_LINE.match(line), FAILED_LINE.match(line), OFFSET_LINE.match(line)
        if m:
            sources[m[1]] = {"offset": float(m[2]), "bound": float(m[3]), "requests": int(m[4])}
        elif failed:
            sources[failed[1]] = {"failed": failed[2] or failed[3]}
        elif offset:
            combined = float(offset[1])
        else:
            assert line in ("no source answered", "sources disagree"), "unexpected line %r" % line
    return p.returncode, sources, combined, took


class QueryTest(unittest.TestCase):
    def test_exit_codes_and_lines_per_source(self):
        truth = random.uniform(-40000, 40000)
        dead = "http://127.0.0.1:%d/getSysTime.do" % free_port()
        tls = trusted_test_ca(os.path.join(BUILD, "test-ca"))
        with contextlib.ExitStack() as servers:
            def service(path, *options, base="http://127.0.0.1"):
                port = free_port()
                command = [sys.executable, os.path.join(ROOT, "tools", "timeservice.py"), "--port", str(port)]
                return "%s:%d%s" % (base, servers.enter_context(server(command + list(options), port)), path)
            at_truth = ("--offset", "%.6f" % truth)
            plain = [service("/getSysTime.do", *at_truth)]
            plain.append(plain[0].replace("/getSysTime.do", "/date"))  # the same service's Date header
            # 20 ms +- 5 ms of jitter, half before the clock is read, half after.
            jittered = service("/getSysTime.do", *at_truth, "--delay", "0.010", "--reply-delay", "0.010",
                               "--jitter", "0.0025")
            too_old = service("/getSysTime.do", "--offset", str(-4 * 366 * 86400))
            unreadable = service("/", "--fault", "notjson")  # 404 with a Date: still a time
            apart = [service("/date", "--offset", "%.6f" % (truth + lie)) for lie in (0, 0.4)]
            https = service("/date", *at_truth, *tls, base="https://localhost")
            nginx = servers.enter_context(nginx_on_loopback())
            # Per source: a pattern of its failure line, or (the truth it answers, within).
            cases = [
                # All measured at once, 12 s each at most.
                ("sysTime2 and Date, plain and jittered", plain + [jittered], 0,
                 {plain[0]: (truth, 0.010), plain[1]: (truth, 0.010), jittered: (truth, 0.015)}),
                # Under an emulator the TLS work of each exchange eats the time of every
                # source measured with it, before halving is done: alone, and there its
                # bound need only cover the truth.
                ("HTTPS with the test CA trusted", [https], 0,
                 {https: (truth, 0.010 if TIME_SCALE == 1 else float("inf"))}),
                ("Date headers alone: a real nginx's, and the service's 404 without sysTime2",
                 [nginx, unreadable], 0, {nginx: (0.0, 0.010), unreadable: (0.0, 0.010)}),
                ("bad argument", ["ftp://127.0.0.1/"], 2, {}),
                ("bad argument among good", [dead, "--verbose"], 2, {}),
                ("nothing listens, and a time before the build date", [dead, too_old], 1,
                 {dead: "^(connect|send)", too_old: "^refused"}),
                # Neither of two sources 0.4 s apart is a majority: no offset.
                ("sources disagree", apart, 3, dict.fromkeys(apart, "^false ticker$")),
            ]
            for name, urls, want, expect in cases:
                with self.subTest(name):
                    code, sources, combined, took = run_query(*urls)
                    self.assertEqual(code, want, sources)
                    self.assertEqual(combined is None, want != 0)
                    self.assertLess(took, (15 if want in (1, 2) else 20) * TIME_SCALE)
                    for url, pattern in expect.items():
                        s = sources[url]
                        if not isinstance(pattern, tuple):
                            self.assertRegex(s.get("failed", "answered"), pattern)
                            continue
                        truth_here, within = pattern
                        self.assertNotIn("failed", s, s)
                        # Near the truth, which the bound covers (to the printed digits).
                        self.assertLessEqual(abs(s["offset"] - truth_here), min(within, s["bound"] + 0.002), s)
                        self.assertLessEqual(s["requests"], 16)
                        # The combination is as close as the closest source must be.
                        self.assertLessEqual(abs(combined - truth_here), min(w for _, w in expect.values()))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
