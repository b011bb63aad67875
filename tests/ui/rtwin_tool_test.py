"""Checks of tools/rtwin.py: the writer's output as the dumper reads it,
and the refusals of both. Run as: rtwin_tool_test.py RTWIN.py TESTS_UI_DIR"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

RTWIN, HERE = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


def run(*args):
    return subprocess.run([sys.executable, RTWIN] + list(args), capture_output=True, text=True)


class WriterAndDumper(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def build(self, doc):
        src = self.path("w.json")
        with open(src, "w", encoding="utf-8") as f:
            json.dump(doc, f, ensure_ascii=False)
        return run("build", src, "-o", self.path("w.bin"))

    def test_test_window_dumps_in_stored_order(self):
        r = run("build", os.path.join(HERE, "test_window.json"), "-o", self.path("t.bin"))
        self.assertEqual(r.returncode, 0, r.stderr)
        d = run("dump", self.path("t.bin"))
        self.assertEqual(d.returncode, 0, d.stderr)
        lines = [l for l in d.stdout.splitlines() if l.startswith("  unit ")]
        names = [l.split()[4] for l in lines[:9]]
        self.assertEqual(names, ['""', '"按钮2"', '"标签3"', '"分组框1"', '"时钟1"', '"按钮1"',
                                 '"编辑框2"', '"编辑框1"', '"标签1"'])
        self.assertIn("event 0 -> base+0", d.stdout)
        self.assertIn('caption         "校准"', d.stdout)
        self.assertIn("icon            [5430 bytes", d.stdout)
        self.assertIn("menu flags 0x4", d.stdout)

    def test_texts_are_stored_as_gbk(self):
        r = run("build", os.path.join(HERE, "test_window.json"), "-o", self.path("t.bin"))
        self.assertEqual(r.returncode, 0, r.stderr)
        data = open(self.path("t.bin"), "rb").read()
        self.assertIn("北京时间:".encode("gbk") + b"", data)
        self.assertNotIn("北京时间:".encode("utf-8"), data)

    def test_example_main_window_builds(self):
        r = run("build", os.path.join(os.path.dirname(RTWIN), "rtwin_example_main_window.json"),
                "-o", self.path("m.bin"))
        self.assertEqual(r.returncode, 0, r.stderr)
        d = run("dump", self.path("m.bin"))
        self.assertIn("window 0x52010001", d.stdout)
        self.assertIn("units 9", d.stdout)

    def test_refusals(self):
        base = {"id": "0x52010001", "unit": {"props": {}}, "units": []}
        cases = [
            ("unknown property", {"units": [{"id": "0x16010002", "type": "Label",
                                              "props": {"colour_typo": 1}}]}),
            ("text outside GBK", {"units": [{"id": "0x16010002", "type": "Label",
                                              "props": {"caption": "\U0001F600"}}]}),
            ("version too high", {"units": [{"id": "0x16010002", "type": "Timer",
                                              "props": {"version": 2}}]}),
            ("bad routine name", {"units": [{"id": "0x16010002", "type": "Timer",
                                              "events": {"0": "not a name"}}]}),
            ("missing icon", {"unit": {"props": {"icon": "no-such.ico"}}}),
        ]
        for what, change in cases:
            with self.subTest(what):
                doc = dict(base, **change)
                r = self.build(doc)
                self.assertEqual(r.returncode, 1)
                self.assertIn("rtwin:", r.stderr)

    def test_dump_refuses_a_cut_block(self):
        self.assertEqual(self.build({"id": "0x52010001", "unit": {}, "units": []}).returncode, 0)
        data = open(self.path("w.bin"), "rb").read()
        for n in (3, len(data) // 2, len(data) - 1):
            with open(self.path("cut.bin"), "wb") as f:
                f.write(data[:n])
            r = run("dump", self.path("cut.bin"))
            self.assertEqual(r.returncode, 1, n)


if __name__ == "__main__":
    unittest.main(verbosity=1)
