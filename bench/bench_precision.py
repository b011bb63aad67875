#!/usr/bin/env python3
"""timecal-query beside Debian's htpdate, in one run, on the same local time service (tools/timeservice.py on
127.0.0.1) with the same secret offset and path settings: for each path, the median over RUNS runs of each one's
|error| (what it measured minus the service's offset) and of the time its whole command took, as a user sees it
(timecal-query.exe started under Wine, process start included; htpdate a Linux program started here). htpdate
only asks (-q): it never sets the clock. Prints only; nothing is asserted.

Wine's server is kept running for the run (wineserver -p, ended with -k: the prefix is the bench's), as on a
desktop where Wine is in use: process start is then the program's own. Both ask http://127.0.0.1:PORT/date, the service's Date-header-only answer, which both read the time from and
which the service's delays apply to (htpdate asks by HEAD).
Usage: bench_precision.py QUERY_EXE [RUNS [PATH_WORDS]]   (Wine's environment set: tools/bench.sh runs it in its
session); PATH_WORDS keeps only the paths whose name contains them ("100 ms").
"""
import os, random, re, statistics, subprocess, sys, tempfile, time, urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# name, then the service's wait before it reads its clock, after, and the jitter of each wait (s).
PATHS = [
    ("no delay", 0, 0, 0),
    ("40 ms round trip, halves +-5 ms", 0.020, 0.020, 0.005),
    ("100 ms round trip, halves +-30 ms", 0.050, 0.050, 0.030),
]
QUERY_OFFSET = re.compile(r"^offset ([+-]\d+\.\d+) \+/- (\d+\.\d+) s", re.M)
HTPDATE_OFFSET = re.compile(r"^Offset (-?\d+\.\d+) seconds", re.M)


def timed(command):
    """Its output and the seconds it took; at most 60 s. The output goes through a file: Wine's own helper
    processes, which outlive the command, would hold a pipe open."""
    with tempfile.TemporaryFile() as out:
        started = time.monotonic()
        subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
        took = time.monotonic() - started
        out.seek(0)
        return out.read().decode("utf-8", "replace"), took


def main():
    query, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 3
    paths = [p for p in PATHS if len(sys.argv) < 4 or sys.argv[3] in p[0]]
    # Its own output is not ours to wait for: a child's pipe it held would never close.
    server = subprocess.Popen(["wineserver", "-p", "-f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3)
    timed(["wine", query, "--"])  # loads Wine once, untimed
    service = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "timeservice.py"), "--port", "0"],
                               stdout=subprocess.PIPE, text=True)
    try:
        base = "http://127.0.0.1:%d" % int(service.stdout.readline())
        url = base + "/date"

        def control(**settings):
            query_text = "&".join("%s=%.6f" % item for item in settings.items())
            with urllib.request.urlopen(base + "/control?" + query_text, timeout=10) as reply:
                assert reply.read() == b"ok"

        rng = random.Random(20261207)
        print("timecal-query beside htpdate -q -p 9, %d runs per path, a random fractional secret offset each; "
              "medians of |error| and of the whole command's time" % runs)
        print("| path (local service) | htpdate -p 9: error / time | timecal-query: error / time | "
              "timecal-query bound |")
        print("|---|---|---|---|")
        for name, delay, reply_delay, jitter in paths:
            control(delay=delay, reply_delay=reply_delay, jitter=jitter)
            figures = {"htpdate": ([], []), "query": ([], []), "bound": ([], [])}
            for _ in range(runs):
                truth = rng.uniform(-3000, 3000)
                control(offset=truth)
                for who, command, pattern in (("htpdate", ["htpdate", "-q", "-p", "9", url], HTPDATE_OFFSET),
                                              ("query", ["wine", query, url], QUERY_OFFSET)):
                    out, took = timed(command)
                    m = pattern.search(out)
                    if not m:
                        print("  %s gave no offset: %r" % (who, out[-200:]), flush=True)
                        continue
                    figures[who][0].append(abs(float(m[1]) - truth) * 1000)
                    figures[who][1].append(took)
                    if who == "query":
                        figures["bound"][0].append(float(m[2]) * 1000)

            def cell(who):
                errors, times = figures[who]
                if not errors:
                    return "none"
                return "%.1f ms / %.1f s" % (statistics.median(errors), statistics.median(times))
            bound = figures["bound"][0]
            print("| %s | %s | %s | %s |" % (name, cell("htpdate"), cell("query"),
                                             "%.1f ms" % statistics.median(bound) if bound else "none"), flush=True)
            for who in ("htpdate", "query"):  # each run's, for the spread behind the medians
                print("  %s errors (ms): %s" % (who, " ".join("%.1f" % e for e in figures[who][0])), file=sys.stderr)
    finally:
        service.terminate()
        service.wait()
        subprocess.run(["wineserver", "-k"])
        server.wait()


if __name__ == "__main__":
    main()
