"""Checks of tools/rtwin.py: the writer's output as the dumper reads it (the
stored order is ui_template_tests'), and the writer's refusals. Run as: rtwin_tool_test.py RTWIN.py TESTS_UI_DIR"""
import json, os, subprocess, sys, tempfile, unittest

RTWIN, HERE = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


class WriterAndDumper(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.tmp.name, "w.bin")

    def run_tool(self, *args, code=0):
        r = subprocess.run([sys.executable, RTWIN, *args], capture_output=True, text=True)
        self.assertEqual(r.returncode, code, r.stderr)
        return r

    def test_test_window_dumps_with_gbk_texts(self):
        self.run_tool("build", os.path.join(HERE, "test_window.json"), "-o", self.out)
        d = self.run_tool("dump", self.out)
        for text in ("event 0 -> base+0", 'caption         "校准"', "icon            [5430 bytes",
                     "menu flags 0x4"):
            self.assertIn(text, d.stdout)
        # The example the writer's help points to builds too.
        example = os.path.join(os.path.dirname(RTWIN), "rtwin_example_main_window.json")
        self.run_tool("build", example, "-o", self.out)

    def test_refusals(self):
        def label(type_, **unit):
            return {"units": [dict({"id": "0x16010002", "type": type_}, **unit)]}
        cases = [
            ("unknown property", label("Label", props={"colour_typo": 1})),
            ("text outside GBK", label("Label", props={"caption": "\U0001F600"})),
            ("version too high", label("Timer", props={"version": 2})),
            ("bad routine name", label("Timer", events={"0": "not a name"})),
            ("missing icon", {"unit": {"props": {"icon": "no-such.ico"}}}),
        ]
        for what, change in cases:
            with self.subTest(what):
                with open(self.out + ".json", "w", encoding="utf-8") as f:
                    json.dump(dict({"id": "0x52010001", "unit": {"props": {}}, "units": []}, **change), f)
                self.assertIn("rtwin:", self.run_tool("build", self.out + ".json", "-o", self.out, code=1).stderr)


if __name__ == "__main__":
    unittest.main(verbosity=1)
