#!/usr/bin/env python3
"""timecal-query.exe under Wine, over WinINet and over WinHTTP (as the service measures), against local time
services on loopback (plain; HTTPS with a test CA the prefix trusts, or a certificate nothing vouches for; a JSON
member of Unix milliseconds) and a real nginx; the truth is the service's --offset (nginx's clock is the PC's).
Arguments: <build dir here> <source root> [test names, e.g. QueryTest.test_millisecond_sources]
"""
import contextlib, itertools, json, os, pathlib, random, re, shutil, socket, subprocess, sys, tempfile, time, unittest
import urllib.request

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
events {} http { access_log off; client_body_temp_path %(p)s; proxy_temp_path %(p)s; fastcgi_temp_path %(p)s;
  uwsgi_temp_path %(p)s; scgi_temp_path %(p)s; server { listen 127.0.0.1:%(port)d; root %(p)s; } }"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_certificates(folder):
    """Server options of a localhost certificate a test CA the prefix trusts signed, and of a self-signed one."""
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, cwd=folder, capture_output=True)
    os.makedirs(folder, exist_ok=True)
    new = ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650"]
    leaf = ["-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
            "-addext", "extendedKeyUsage=serverAuth", "-addext", "basicConstraints=CA:FALSE"]
    if not os.path.exists(os.path.join(folder, "server.pem")):
        openssl(*new, "-subj", "/CN=timecal test CA", "-keyout", "ca.key", "-out", "ca.pem", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
        openssl(*new, *leaf, "-keyout", "server.key", "-out", "server.pem", "-CA", "ca.pem", "-CAkey", "ca.key")
    if not os.path.exists(os.path.join(folder, "untrusted.pem")):
        openssl(*new, *leaf, "-keyout", "untrusted.key", "-out", "untrusted.pem")
    subprocess.run([WINE_RUN, os.path.join(BUILD, "trust_ca.exe"), os.path.join(folder, "ca.der")], check=True, timeout=60)
    return [["--tls-cert", os.path.join(folder, name + ".pem"), "--tls-key", os.path.join(folder, name + ".key")]
            for name in ("server", "untrusted")]


def run_raw(*args):
    """Exit code and standard output of one run."""
    p = subprocess.run([WINE_RUN, QUERY] + list(args), capture_output=True, timeout=120)
    out = p.stdout.decode("utf-8", "replace").replace("\r", "")
    print("query %s -> %d:\n%s" % (" ".join(args), p.returncode, out), flush=True)
    return p.returncode, out


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
        with contextlib.ExitStack() as servers:
            def service(path, *options, lie=0.0, base="http://127.0.0.1"):
                """A time service at the truth (plus lie), stopped on exit; it prints its port once listening."""
                command = [sys.executable, os.path.join(ROOT, "tools", "timeservice.py"), "--port", "0",
                           "--offset", "%.6f" % (truth + lie), *options]
                process = servers.enter_context(subprocess.Popen(command, stdout=subprocess.PIPE, text=True))
                servers.callback(process.terminate)
                return "%s:%d%s" % (base, int(process.stdout.readline()), path)
            plain = [service("/getSysTime.do")]
            plain.append(plain[0].replace("/getSysTime.do", "/date"))  # the same service's Date header
            unreadable = service("/", "--fault", "notjson")  # 404 with a Date
            apart = [service("/date", lie=lie) for lie in (0, 0.4)]
            https, untrusted = [service("/date", *options, base="https://localhost")
                                for options in test_certificates(os.path.join(BUILD, "test-ca"))]
            prefix, port = servers.enter_context(tempfile.TemporaryDirectory()), free_port()
            pathlib.Path(prefix, "nginx.conf").write_text(NGINX_CONF % {"p": prefix, "port": port})
            nginx = servers.enter_context(subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-p", prefix,
                                                            "-c", os.path.join(prefix, "nginx.conf")]))
            servers.callback(nginx.terminate)
            nginx = "http://127.0.0.1:%d/" % port  # its 404 for / carries its Date header
            # Per source: a pattern of its failure line, or (the truth it answers, within).
            cases = [
                ("sysTime2, Date, and a 404's Date without sysTime2", plain + [unreadable], 0,
                 dict.fromkeys(plain + [unreadable], (truth, 0.010))),
                # Under an emulator TLS eats the time of sources using it: alone, only its bound must cover the truth.
                ("HTTPS with the test CA trusted", [https], 0,
                 {https: (truth, 0.010 if TIME_SCALE == 1 else float("inf"))}),
                # Refused for its certificate (which check speaks first is the API's), never answered.
                ("HTTPS with a certificate nobody trusted signed", [untrusted], 1,
                 {untrusted: r"^send: \d+: (certificate|secure channel)"}),
                ("a real nginx's Date header", [nginx], 0, {nginx: (0.0, 0.010)}),
                ("bad argument after a good one", [dead, "ftp://127.0.0.1/"], 2, {}),
                ("nothing listens", [dead], 1, {dead: r"^(connect|send): 12029: cannot connect$"}),
                # Neither of two sources 0.4 s apart is a majority: no offset.
                ("sources disagree", apart, 3, dict.fromkeys(apart, "^false ticker$")),
            ]
            # Each case over each API but two decided above either API's exchange (arguments, combination).
            for (name, urls, want, expect), api in itertools.product(cases, ([], ["--winhttp"])):
                if api and name in ("bad argument after a good one", "sources disagree"):
                    continue
                with self.subTest(name, api=api):
                    code, sources, combined, took = run_query(*api, *urls)
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
                        self.assertLessEqual(s["requests"], 24)  # Options::max_requests
                        # The combination is as close as the closest source must be.
                        self.assertLessEqual(abs(combined - truth_here), min(w for _, w in expect.values()))

    def test_console_tool(self):
        """--help, --version, -q and the arguments that are refused, by exit code and output."""
        truth = random.uniform(-40000, 40000)
        command = [sys.executable, os.path.join(ROOT, "tools", "timeservice.py"), "--port", "0",
                   "--offset", "%.6f" % truth]
        with subprocess.Popen(command, stdout=subprocess.PIPE, text=True) as service:
            try:
                url = "http://127.0.0.1:%d/date" % int(service.stdout.readline())
                usage = r"(?s)^usage: timecal-query.exe .*--proxy H:P.*--no-proxy.*-q .*" \
                        r"Exit codes: 0 offset found, 1 no source answered, 2 bad arguments,\s+3 sources answered"
                cases = [
                    ("help", ["--help"], 0, usage + r".*\n$"),
                    ("version", ["--version"], 0, r"^timecal-query \d+\.\d+ \(built \w{3} [ \d]\d \d{4}\)\n$"),
                    ("only the offset", ["-q", url], 0, r"^%s\n$" % NUMBER),
                    ("--proxy without HOST:PORT", ["--proxy", url], 2, r"^$"),
                    ("--proxy at the end", [url, "--proxy"], 2, r"^$"),
                    ("--proxy and --no-proxy", ["--no-proxy", "--proxy", "127.0.0.1:3128", url], 2, r"^$"),
                ]
                for name, args, want, pattern in cases:
                    with self.subTest(name):
                        code, out = run_raw(*args)
                        self.assertEqual(code, want)
                        self.assertRegex(out, pattern)
                        if args[0] == "-q":
                            self.assertLessEqual(abs(float(out) - truth), 0.010)
            finally:
                service.terminate()


    def test_millisecond_sources(self):
        """A URL whose fragment names a member of Unix milliseconds: within 5 ms of the truth in at most 2 s of
        measuring (the service's first to last reading of its clock), over each API; each bad member its reason."""
        truth = random.uniform(-40000, 40000)
        with contextlib.ExitStack() as servers:
            def service():
                command = [sys.executable, os.path.join(ROOT, "tools", "timeservice.py"), "--port", "0",
                           "--offset", "%.6f" % truth, "--json-ms", "data.t"]
                process = servers.enter_context(subprocess.Popen(command, stdout=subprocess.PIPE, text=True))
                servers.callback(process.terminate)
                return "http://127.0.0.1:%d" % int(process.stdout.readline())
            for api in ([], ["--winhttp"]):
                with self.subTest("a millisecond source", api=api):
                    base = service()
                    url = base + "/getSysTime.do#data.t"
                    code, sources, _, _ = run_query(*api, url)
                    with urllib.request.urlopen(base + "/stamps", timeout=10) as reply:
                        stamps = json.load(reply)
                    self.assertEqual(code, 0, sources)
                    s = sources[url]
                    print("millisecond source%s: error %+.1f ms, bound %.1f ms, %d requests, %.3f s of measuring"
                          % (" over WinHTTP" if api else "", (s["offset"] - truth) * 1000, s["bound"] * 1000,
                             s["requests"], stamps["span"]), flush=True)
                    self.assertLessEqual(abs(s["offset"] - truth), min(0.005, s["bound"] + 0.002))
                    self.assertLessEqual(s["requests"], 5)
                    self.assertLessEqual(stamps["span"], 2.0)
            # Each member's fault alone; the ISO 8601 form among them answers.
            base = service() + "/getSysTime.do"
            cases = [("#data.x", r'^no member "data\.x" in the reply$'),
                     ("?form=word#data.t", r'^unreadable time "soon" \(not Unix milliseconds'),
                     ("?form=negative#data.t", r'^negative time "-\d+"$'),
                     ("?form=seconds#data.t", r"^seconds, not milliseconds \(as milliseconds the time is 1970-"),
                     ("?form=far#data.t", r"^refused: server time \d{4}-\d\d-\d\d is more than a year from the PC"),
                     ("?form=iso#data.t", None)]
            code, sources, combined, _ = run_query(*[base + tail for tail, _ in cases])
            self.assertEqual(code, 0, sources)
            for tail, pattern in cases:
                with self.subTest(tail):
                    s = sources[base + tail]
                    if pattern:
                        self.assertRegex(s.get("failed", "answered"), pattern)
                    else:
                        self.assertLessEqual(abs(s["offset"] - truth), min(0.005, s["bound"] + 0.002), s)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
