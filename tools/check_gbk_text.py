#!/usr/bin/env python3
"""Checks the program's GBK texts: every macro in runtime/core/gbk_text.h holds
the GBK bytes of the text in its comment, and no C++ source outside that header
writes a non-ASCII narrow literal (which would depend on the compiler's
execution character set). Usage: check_gbk_text.py [REPO_ROOT]"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
header = os.path.join(root, "runtime", "core", "gbk_text.h")
MACRO = re.compile(r'^#define (GBK_\w+) ((?:"(?:\\.|[^"\\])*"\s*)+)\s*// (.*)$')
LITERAL = re.compile(r'"((?:\\.|[^"\\])*)"')
failures = []


def c_bytes(parts):
    """The bytes of adjacent narrow literals holding ASCII and \\xNN escapes."""
    out = bytearray()
    for body in LITERAL.findall(parts):
        body = re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: "\\u%04x" % int(m.group(1), 16), body)
        out += body.encode("ascii").decode("unicode_escape").encode("latin-1")
    return bytes(out)


count = 0
names = set()
for n, line in enumerate(open(header, encoding="utf-8"), 1):
    if not line.startswith("#define GBK_"):
        continue
    m = MACRO.match(line.rstrip("\n"))
    if not m:
        failures.append("%s:%d: not NAME \"bytes\"  // text" % (header, n))
        continue
    name, parts, text = m.groups()
    count += 1
    if name in names:
        failures.append("%s:%d: %s defined twice" % (header, n, name))
    names.add(name)
    if c_bytes(parts) != text.encode("gbk"):
        failures.append("%s:%d: %s bytes are not the GBK of %r" % (header, n, name, text))

# Narrow literals outside comments; prefixed (L, u8, u, U) ones are left alone.
TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|(\b(?:u8|u|U|L))?"((?:\\.|[^"\\\n])*)"|\'(?:\\.|[^\'\\\n])*\'', re.S)
for top in sorted(os.listdir(root)):
    if top.startswith(".") or top == "build" or not os.path.isdir(os.path.join(root, top)):
        continue
    for dirpath, _, files in os.walk(os.path.join(root, top)):
        for f in files:
            if not f.endswith((".cpp", ".h")):
                continue
            path = os.path.join(dirpath, f)
            source = open(path, encoding="utf-8").read()
            for m in TOKEN.finditer(source):
                if m.group(2) is not None and not m.group(1) and any(ord(c) > 127 for c in m.group(2)):
                    line = source.count("\n", 0, m.start()) + 1
                    failures.append("%s:%d: non-ASCII narrow literal; use runtime/core/gbk_text.h" % (path, line))

for f in failures:
    print(f)
print("gbk_text: %d texts checked, %d failures" % (count, len(failures)))
sys.exit(1 if failures or count == 0 else 0)
