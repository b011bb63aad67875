#!/usr/bin/env python3
"""rtwin: writes and dumps the Runtime's stored window templates.

Commands
  rtwin.py build  WINDOWS.json... -o BLOCK.bin       template block, raw bytes
  rtwin.py dump   BLOCK.bin                          readable listing of a block
  rtwin.py gen    WINDOWS.json... --cpp F.cpp --header F.h [--asm F.S]
                  [--depfile F.d]                    sources for a build target
                  (cmake/RtTemplates.cmake: rt_add_window_templates)

Window description (JSON, UTF-8; every text is stored as GBK)
  {"windows": [ WINDOW, ... ]}           (a file may also hold one WINDOW)

  WINDOW = {
    "name": "MainWindow",                header constant rtwin::kMainWindow
    "id": "0x52010001",                  WindowId (class 5, kind 2, serial)
    "first_word": "0x02A82C38",          optional, kept with the record (0)
    "second_word": "0x19010007",         optional (0)
    "first_text": "", "second_text": "", optional counted texts ("")
    "unit": UNIT,                        the window's own unit, type window
    "units": [ UNIT, ... ]               in CREATION order; the writer stores
                                         them reversed, as the loader expects
  }

  UNIT = {
    "name": "标签1",                      unit name ("" for the window's unit)
    "symbol": "Label1",                  optional ASCII name for the header
    "id": "0x16010002",                  UnitId (window's own: 0x06010000)
    "type": "Label",                     window | EditBox | Label | Button |
                                         GroupBox | Timer | MenuItem | number
    "left": 8, "top": 6, "width": 64, "height": 24,
    "visible": true, "disabled": false, "tabstop": false,
    "parent": "分组框1",                  name or id of the containing unit;
                                         absent/null: the window itself
    "events": {"0": "RoutineName"},      event index (or Created, Clicked,
                                         Tick, Changed = 0) -> extern "C"
                                         void RoutineName(void) of the target
    "tag": "", "cursor": 0,              tag text; cursor number 0..14
    "second_text": "", "option1": 0, "option2": 0,
    "props": { ... },                    property data, fields below
    "raw_props": "hex..."                optional: property data verbatim
  }

  Property fields (any left out take the default in brackets):
    window   version[6] border[2] word_a[1] colour[0xFF000000] max_button[1]
             min_button[1] control_box[1] start_position[0] movable[1]
             words[[0,0,1,0,0]] taskbar[1] words_v3[[0,0]] topmost[0]
             word_v5[0] class_name[""] block_a[] icon[] block_b[]
             caption[""] text_last[""]
    EditBox  version[2] border[1] text_colour[0] back_colour[0xFFFFFF]
             hide_selection[1] max_length[0] multi_line[0] scroll_bars[0]
             align[0] input_mode[0] password_char[42] letter_case[0] spin[0]
             spin_low[0] spin_high[100] word_a[0] word_b[0] font[] content[""]
             extra[""]
    Label    version[2] effect[0] word_a[8] border[0]
             colours_a[[0x808080,0xFFFFFF,0x808080]] text_colour[0]
             back_colour[0xFF000000] word_b[1] word_c[0]
             colours_b[[0x808080,0xFFFFFF,0x808080]] h_align[0] v_align[1]
             word_wrap[0] font[] picture[] caption[""] extra_a[""] extra_b[""]
    Button   version[1] default_button[0] h_align[1] v_align[1] picture[]
             font[] caption[""]
    GroupBox version[1] title_align[0] text_colour[0] back_colour[0xFF000000]
             font[] caption[""]
    Timer    version[1] interval[0]
    MenuItem flags[0] words[[0,0]] caption[""] (the unit's single event
             index 0 names its routine)
  Numbers may be written as JSON numbers or "0x..." strings. A byte block
  (icon, picture, font, block_a, block_b) is a file path relative to the JSON
  file, {"hex": "..."}, or a list of byte values; a font may also be
  {"face": "宋体", "height": -12, "weight": 700, "italic": 0, "underline": 0,
  "strikeout": 0, "charset": 134}, written as a 60-byte LOGFONTA.

Routines: every distinct routine name gets a stub in a fixed-stride table
whose first stub is the routine base; a handler's stored offset is its stub
index times the stride (8 bytes). tests/ui/test_window.json and
tools/rtwin_example_main_window.json show complete descriptions.
"""

import argparse
import json
import os
import struct
import sys

STUB_STRIDE = 8
NO_ROUTINE = 0xFFFFFFFF

TYPE_IDS = {
    "window": 0x00010001,
    "MenuItem": 0x00010003,
    "EditBox": 0x00010005,
    "GroupBox": 0x00010009,
    "Label": 0x0001000A,
    "Button": 0x0001000B,
    "Timer": 0x00010020,
}
TYPE_NAMES = {v: k for k, v in TYPE_IDS.items()}

EVENT_ALIASES = {"Created": 0, "Clicked": 0, "Tick": 0, "Changed": 0}

# Cursor numbers 0..14 and the system cursor ids they are stored as.
CURSOR_IDS = [0, 32512, 32515, 32513, 32514, 32651, 32650, 32648, 32646,
              32643, 32645, 32642, 32644, 32516, 32649]

LABEL_COLOURS = [0x808080, 0xFFFFFF, 0x808080]

# Field lists: (name, kind, default, first version that has it).
# Kinds: u32, u16, u32list (fixed length = len(default)), bytes, text.
FIELDS = {
    "Timer": (1, [("interval", "u32", 0, 0)]),
    "Button": (1, [("default_button", "u32", 0, 0), ("h_align", "u32", 1, 0),
                   ("v_align", "u32", 1, 0), ("picture", "bytes", b"", 0),
                   ("font", "bytes", b"", 0), ("caption", "text", "", 0)]),
    "GroupBox": (1, [("title_align", "u32", 0, 0), ("text_colour", "u32", 0, 0),
                     ("back_colour", "u32", 0xFF000000, 0), ("font", "bytes", b"", 0),
                     ("caption", "text", "", 0)]),
    "Label": (2, [("effect", "u32", 0, 0), ("word_a", "u32", 8, 0), ("border", "u32", 0, 0),
                  ("colours_a", "u32list", LABEL_COLOURS, 0), ("text_colour", "u32", 0, 0),
                  ("back_colour", "u32", 0xFF000000, 0), ("word_b", "u32", 1, 0),
                  ("word_c", "u32", 0, 0), ("colours_b", "u32list", LABEL_COLOURS, 0),
                  ("h_align", "u32", 0, 0), ("v_align", "u32", 1, 0), ("word_wrap", "u32", 0, 0),
                  ("font", "bytes", b"", 0), ("picture", "bytes", b"", 0),
                  ("caption", "text", "", 0), ("extra_a", "text", "", 2),
                  ("extra_b", "text", "", 2)]),
    "EditBox": (2, [("border", "u32", 1, 0), ("text_colour", "u32", 0, 0),
                    ("back_colour", "u32", 0xFFFFFF, 0), ("hide_selection", "u32", 1, 0),
                    ("max_length", "u32", 0, 0), ("multi_line", "u32", 0, 0),
                    ("scroll_bars", "u32", 0, 0), ("align", "u32", 0, 0),
                    ("input_mode", "u32", 0, 0), ("password_char", "u16", 42, 0),
                    ("letter_case", "u32", 0, 0), ("spin", "u32", 0, 0),
                    ("spin_low", "u32", 0, 0), ("spin_high", "u32", 100, 0),
                    ("word_a", "u32", 0, 0), ("word_b", "u32", 0, 0), ("font", "bytes", b"", 0),
                    ("content", "text", "", 0), ("extra", "text", "", 2)]),
    "window": (6, [("border", "u32", 2, 0), ("word_a", "u32", 1, 0),
                   ("colour", "u32", 0xFF000000, 0), ("max_button", "u32", 1, 0),
                   ("min_button", "u32", 1, 0), ("control_box", "u32", 1, 0),
                   ("start_position", "u32", 0, 0), ("movable", "u32", 1, 0),
                   ("words", "u32list", [0, 0, 1, 0, 0], 0), ("taskbar", "u32", 1, 2),
                   ("words_v3", "u32list", [0, 0], 3), ("topmost", "u32", 0, 4),
                   ("word_v5", "u32", 0, 5), ("class_name", "text", "", 6),
                   ("block_a", "bytes", b"", 0), ("icon", "bytes", b"", 0),
                   ("block_b", "bytes", b"", 0), ("caption", "text", "", 0),
                   ("text_last", "text", "", 0)]),
}


class TemplateError(Exception):
    pass


def num(v, what="number"):
    if isinstance(v, bool):
        return int(v)
    if isinstance(v, int):
        return v
    if isinstance(v, str):
        try:
            return int(v, 0)
        except ValueError:
            pass
    raise TemplateError("%s: not a number: %r" % (what, v))


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def gbk(s):
    try:
        return s.encode("gbk")
    except UnicodeEncodeError as e:
        raise TemplateError("text not representable in GBK: %r (%s)" % (s, e))


def ztext(s):
    b = gbk(s)
    if b"\0" in b:
        raise TemplateError("zero byte inside a text: %r" % s)
    return b + b"\0"


def counted_text(s):
    b = gbk(s)
    return u32(len(b)) + b


def logfont(font):
    face = gbk(font.get("face", ""))
    if len(face) > 31:
        raise TemplateError("font face longer than 31 bytes")
    return struct.pack("<5i8B32s", num(font.get("height", 0)), num(font.get("width", 0)),
                       num(font.get("escapement", 0)), num(font.get("orientation", 0)),
                       num(font.get("weight", 0)), num(font.get("italic", 0)),
                       num(font.get("underline", 0)), num(font.get("strikeout", 0)),
                       num(font.get("charset", 134)), num(font.get("out_precision", 0)),
                       num(font.get("clip_precision", 0)), num(font.get("quality", 0)),
                       num(font.get("pitch_and_family", 0)), face)


class Writer:
    def __init__(self):
        self.routines = []  # distinct routine names, in first-use order
        self.deps = []      # files read (for the build's depfile)

    def routine_offset(self, name):
        if name is None or name == "":
            return NO_ROUTINE
        if not isinstance(name, str) or not name.isidentifier() or not name.isascii():
            raise TemplateError("routine name must be an ASCII identifier: %r" % (name,))
        if name not in self.routines:
            self.routines.append(name)
        return self.routines.index(name) * STUB_STRIDE

    def byte_block(self, v, base_dir, field):
        if v is None:
            return b""
        if isinstance(v, (bytes, bytearray)):
            return bytes(v)
        if isinstance(v, list):
            return bytes(num(x) & 0xFF for x in v)
        if isinstance(v, dict):
            if "hex" in v:
                return bytes.fromhex(v["hex"])
            if field == "font":
                return logfont(v)
            if "file" in v:
                v = v["file"]
        if isinstance(v, str):
            if v == "":
                return b""
            path = v if os.path.isabs(v) else os.path.join(base_dir, v)
            self.deps.append(os.path.abspath(path))
            try:
                with open(path, "rb") as f:
                    return f.read()
            except OSError as e:
                raise TemplateError("%s: cannot read %s: %s" % (field, path, e))
        raise TemplateError("%s: not a byte block: %r" % (field, v))

    def property_data(self, type_name, props, base_dir):
        if type_name not in FIELDS:
            raise TemplateError("no property layout for type %s (use raw_props)" % type_name)
        max_version, fields = FIELDS[type_name]
        props = dict(props or {})
        version = num(props.pop("version", max_version), "version")
        if version > max_version:
            raise TemplateError("%s: version %d above %d" % (type_name, version, max_version))
        out = u32(version)
        for name, kind, default, since in fields:
            v = props.pop(name, default)
            if version < since:
                continue
            if kind == "u32":
                out += u32(num(v, name))
            elif kind == "u16":
                out += struct.pack("<H", num(v, name) & 0xFFFF)
            elif kind == "u32list":
                if not isinstance(v, list) or len(v) != len(default):
                    raise TemplateError("%s: needs %d numbers" % (name, len(default)))
                out += b"".join(u32(num(x, name)) for x in v)
            elif kind == "bytes":
                b = self.byte_block(v, base_dir, name)
                out += u32(len(b)) + b
            elif kind == "text":
                out += counted_text(v)
        if props:
            raise TemplateError("%s: unknown properties %s" % (type_name, sorted(props)))
        return out

    def unit_record(self, unit, type_name, parent_id, children, base_dir):
        type_id = TYPE_IDS.get(type_name)
        if type_id is None:
            type_id = num(type_name, "type")
        rec = u32(type_id) + bytes(20) + ztext(unit.get("name", "")) + \
            ztext(unit.get("second_text", ""))
        events = unit.get("events", {}) or {}
        if type_name == "MenuItem":
            props = unit.get("props", {}) or {}
            words = props.get("words", [0, 0])
            rec += u32(num(props.get("flags", 0))) + u32(num(words[0])) + u32(num(words[1]))
            rec += ztext(props.get("caption", ""))
            routine = None
            for key, name in events.items():
                routine = name
            rec += u32(self.routine_offset(routine))
            return rec
        flags = (1 if unit.get("visible", True) else 0) | \
            (2 if unit.get("disabled", False) else 0) | (4 if unit.get("tabstop", False) else 0)
        cursor = num(unit.get("cursor", 0), "cursor")
        if 0 <= cursor < len(CURSOR_IDS):
            cursor = CURSOR_IDS[cursor]
        rec += u32(0)
        rec += struct.pack("<4i", num(unit.get("left", 0)), num(unit.get("top", 0)),
                           num(unit.get("width", 0)), num(unit.get("height", 0)))
        rec += u32(0) + u32(parent_id) + u32(len(children)) + b"".join(u32(c) for c in children)
        rec += u32(4) + u32(cursor)
        rec += ztext(unit.get("tag", ""))
        rec += u32(num(unit.get("option1", 0))) + u32(flags) + u32(num(unit.get("option2", 0)))
        rec += u32(len(events))
        for key, name in events.items():
            index = EVENT_ALIASES[key] if key in EVENT_ALIASES else num(key, "event index")
            rec += u32(index) + u32(self.routine_offset(name))
        rec += bytes(20)
        if "raw_props" in unit:
            rec += bytes.fromhex(unit["raw_props"])
        else:
            rec += self.property_data(type_name, unit.get("props"), base_dir)
        return rec

    def window_record(self, win, base_dir):
        own = dict(win.get("unit", {}))
        own.setdefault("id", "0x06010000")
        own["type"] = own.get("type", "window")
        own.setdefault("name", "")
        units = list(win.get("units", []))
        by_name = {}
        for u in units:
            if u.get("name"):
                by_name[u["name"]] = num(u["id"], "unit id")

        def parent_of(u):
            p = u.get("parent")
            if p is None or p == "" or p == 0:
                return 0
            if isinstance(p, str) and p in by_name:
                return by_name[p]
            return num(p, "parent")

        children = {}
        for u in units:
            if u.get("type") != "MenuItem":
                children.setdefault(parent_of(u), []).append(num(u["id"], "unit id"))
        # Stored order: own unit, then the units in reverse creation order.
        stored = [(own, 0)] + [(u, parent_of(u)) for u in reversed(units)]
        ids, records = [], []
        for u, parent in stored:
            uid = num(u["id"], "unit id")
            ids.append(uid)
            type_name = u.get("type")
            if type_name is None:
                raise TemplateError("unit %r has no type" % u.get("name"))
            if type_name == "MenuItem":
                kids = []
            elif u is own:
                kids = children.get(0, [])  # the window contains its top-level units
            else:
                kids = children.get(uid, [])
            records.append(self.unit_record(u, type_name, parent, kids, base_dir))
        table = b"".join(u32(i) for i in ids)
        offsets, body, at = [], b"", 0
        for r in records:
            offsets.append(at)
            body += u32(len(r)) + r
            at += 4 + len(r)
        block = table + b"".join(u32(o) for o in offsets) + body
        out = u32(num(win.get("first_word", 0))) + u32(num(win.get("second_word", 0)))
        out += counted_text(win.get("first_text", "")) + counted_text(win.get("second_text", ""))
        out += u32(len(ids)) + u32(len(block)) + block
        return out

    def block(self, windows):
        ids = [num(w["id"], "window id") for w in windows]
        out = u32(8 * len(ids)) + b"".join(u32(i) for i in ids) + bytes(4 * len(ids))
        for w in windows:
            out += self.window_record(w, w["_base_dir"])
        return out


def load_windows(paths):
    windows = []
    for p in paths:
        with open(p, encoding="utf-8") as f:
            doc = json.load(f)
        found = doc.get("windows", [doc] if "id" in doc else [])
        for w in found:
            w["_base_dir"] = os.path.dirname(os.path.abspath(p))
            windows.append(w)
    return windows


# ---------------------------------------------------------------- dumping

class Reader:
    def __init__(self, data, what="block"):
        self.d, self.p, self.what = data, 0, what

    def need(self, n):
        if n > len(self.d) - self.p:
            raise TemplateError("%s ends at byte %d, %d more needed" % (self.what, self.p, n))

    def u32(self):
        self.need(4)
        v = struct.unpack_from("<I", self.d, self.p)[0]
        self.p += 4
        return v

    def i32(self):
        v = self.u32()
        return v - (1 << 32) if v & 0x80000000 else v

    def u16(self):
        self.need(2)
        v = struct.unpack_from("<H", self.d, self.p)[0]
        self.p += 2
        return v

    def take(self, n):
        self.need(n)
        b = self.d[self.p:self.p + n]
        self.p += n
        return b

    def counted(self):
        return self.take(self.u32())

    def z(self):
        end = self.d.find(b"\0", self.p)
        if end < 0:
            raise TemplateError("%s: unterminated text at byte %d" % (self.what, self.p))
        b = self.d[self.p:end]
        self.p = end + 1
        return b

    def left(self):
        return len(self.d) - self.p


def show_text(b):
    return json.dumps(b.decode("gbk", errors="replace"), ensure_ascii=False)


def show_block(b):
    if not b:
        return "[]"
    head = b[:16].hex()
    return "[%d bytes: %s%s]" % (len(b), head, "..." if len(b) > 16 else "")


def dump_props(type_name, data, out):
    if type_name not in FIELDS:
        out.append("      property data %s" % show_block(data))
        return
    r = Reader(data, "%s property data" % type_name)
    max_version, fields = FIELDS[type_name]
    version = r.u32()
    out.append("      version %d%s" % (version, "  (ABOVE %d)" % max_version
                                       if version > max_version else ""))
    for name, kind, default, since in fields:
        if version < since:
            continue
        if kind == "u32":
            v = r.u32()
            out.append("      %-15s %d (0x%X)" % (name, v, v))
        elif kind == "u16":
            out.append("      %-15s %d" % (name, r.u16()))
        elif kind == "u32list":
            out.append("      %-15s %s" % (name, ", ".join("0x%X" % r.u32() for _ in default)))
        elif kind == "bytes":
            out.append("      %-15s %s" % (name, show_block(r.counted())))
        elif kind == "text":
            out.append("      %-15s %s" % (name, show_text(r.counted())))
    if r.left():
        out.append("      TRAILING %d bytes" % r.left())


def dump_block(data):
    out = []
    r = Reader(data)
    length = r.u32()
    if length % 8:
        raise TemplateError("window list length %d is not a multiple of 8" % length)
    count = length // 8
    ids = [r.u32() for _ in range(count)]
    r.take(4 * count)
    out.append("template block, %d bytes, %d window(s)" % (len(data), count))
    for wid in ids:
        w1, w2 = r.u32(), r.u32()
        t1, t2 = r.counted(), r.counted()
        n, m = r.u32(), r.u32()
        ub = r.take(m)
        out.append("window 0x%08X  words 0x%08X 0x%08X  texts %s %s  units %d  block %d bytes"
                   % (wid, w1, w2, show_text(t1), show_text(t2), n, m))
        u = Reader(ub, "unit block of 0x%08X" % wid)
        uids = [u.u32() for _ in range(n)]
        offs = [u.u32() for _ in range(n)]
        base = u.p
        for i, (uid, off) in enumerate(zip(uids, offs)):
            u.p = base + off
            rec = Reader(u.counted(), "unit 0x%08X" % uid)
            tid = rec.u32()
            rec.take(20)
            name, second = rec.z(), rec.z()
            tname = TYPE_NAMES.get(tid, "type 0x%08X" % tid)
            out.append("  unit %d 0x%08X %s %s%s" % (i, uid, tname, show_text(name),
                                                    "  second " + show_text(second)
                                                    if second else ""))
            if (uid >> 24) & 0xF == 6 and uid >> 28 == 2:
                flags, a, b = rec.u32(), rec.u32(), rec.u32()
                cap = rec.z()
                off_r = rec.u32()
                out.append("    menu flags 0x%X words %d %d caption %s routine %s"
                           % (flags, a, b, show_text(cap), show_routine(off_r)))
                continue
            rec.u32()
            l, t, wdt, h = rec.i32(), rec.i32(), rec.i32(), rec.i32()
            rec.u32()
            parent = rec.u32()
            kids = [rec.u32() for _ in range(rec.u32())]
            mouse = rec.counted()
            tag = rec.z()
            o1, flags, o2 = rec.u32(), rec.u32(), rec.u32()
            events = [(rec.u32(), rec.u32()) for _ in range(rec.u32())]
            rec.take(20)
            props = rec.take(rec.left())
            names = [("visible", 1), ("disabled", 2), ("tabstop", 4)]
            out.append("    rect %d,%d %dx%d  parent 0x%08X  flags 0x%X %s" % (
                l, t, wdt, h, parent, flags,
                " ".join(n_ for n_, bit in names if flags & bit)))
            if kids:
                out.append("    children " + " ".join("0x%08X" % k for k in kids))
            extras = []
            if mouse != bytes(4):
                extras.append("mouse pointer " + show_block(mouse))
            if tag:
                extras.append("tag " + show_text(tag))
            if o1 or o2:
                extras.append("options %d %d" % (o1, o2))
            if extras:
                out.append("    " + "  ".join(extras))
            for idx, off_r in events:
                out.append("    event %d -> %s" % (idx, show_routine(off_r)))
            dump_props(tname, props, out)
    if r.left():
        raise TemplateError("%d bytes left after the last window" % r.left())
    return "\n".join(out)


def show_routine(off):
    return "none" if off == NO_ROUTINE else "base+%d" % off


# ---------------------------------------------------------------- sources

def c_bytes(data):
    lines = []
    for i in range(0, len(data), 16):
        lines.append("  " + ",".join("0x%02x" % b for b in data[i:i + 16]) + ",")
    return "\n".join(lines) if lines else "  0"


def header_source(windows, routines):
    out = ["// Generated by tools/rtwin.py from the window descriptions; do not edit.",
           "#pragma once", "", "#include <cstdint>", "",
           "// The template block, its size and the routine base for the ProgramImage.",
           'extern "C" const unsigned char* RtWindowTemplateData(void);',
           'extern "C" uint32_t RtWindowTemplateSize(void);',
           'extern "C" uintptr_t RtWindowRoutineBase(void);', "",
           "// Event routines the target defines (stubs reach them from the base)."]
    for r in routines:
        out.append('extern "C" void %s(void);' % r)
    out += ["", "namespace rtwin {", ""]
    for r in routines:
        out.append("constexpr uint32_t kRoutineOffset_%s = %du;" % (r, routines.index(r) * STUB_STRIDE))
    for w in windows:
        wname = w.get("name") or "Window_%08X" % num(w["id"])
        out.append("")
        out.append("constexpr uint32_t k%s = 0x%08Xu;" % (wname, num(w["id"])))
        out.append("namespace %s {" % wname)
        own = w.get("unit", {})
        out.append("constexpr uint32_t kWindowUnit = 0x%08Xu;" % num(own.get("id", "0x06010000")))
        seen = set()
        for u in w.get("units", []):
            uid = num(u["id"])
            out.append("constexpr uint32_t kUnit_%08X = 0x%08Xu;  // %s" % (uid, uid, u.get("name", "")))
            for sym in (u.get("symbol"), u.get("name")):
                if sym and sym.isidentifier() and sym not in seen:
                    seen.add(sym)
                    out.append("constexpr uint32_t k%s = 0x%08Xu;" % (sym, uid))
        out.append("}  // namespace %s" % wname)
    out += ["", "}  // namespace rtwin", ""]
    return "\n".join(out)


def cpp_source(data, header_name):
    return "\n".join([
        "// Generated by tools/rtwin.py from the window descriptions; do not edit.",
        '#include "%s"' % header_name, "",
        "namespace {",
        "alignas(4) const unsigned char kTemplateBlock[] = {",
        c_bytes(data), "};", "}  // namespace", "",
        'extern "C" const unsigned char* RtWindowTemplateData(void) { return kTemplateBlock; }',
        'extern "C" uint32_t RtWindowTemplateSize(void) { return %du; }' % len(data),
        "#if defined(_WIN32) && defined(__i386__)",
        "// First stub of the routine table (window_stubs.S).",
        'extern "C" void RtWindowRoutineStubs(void);',
        'extern "C" uintptr_t RtWindowRoutineBase(void) {',
        "  return reinterpret_cast<uintptr_t>(&RtWindowRoutineStubs);", "}",
        "#else",
        "// Without the stub table the stored offsets stay plain offsets.",
        'extern "C" uintptr_t RtWindowRoutineBase(void) { return 0; }',
        "#endif", ""])


def asm_source(routines):
    out = ["# Generated by tools/rtwin.py; do not edit.",
           "# Fixed-stride jump stubs: stub i sits at RtWindowRoutineStubs + %d * i," % STUB_STRIDE,
           "# so a handler's stored offset leads to callable code.",
           '        .section .text$rtstubs,"xr"',
           "        .balign %d" % STUB_STRIDE,
           "        .globl _RtWindowRoutineStubs",
           "_RtWindowRoutineStubs:"]
    if not routines:
        out.append("        ret")
    for r in routines:
        out.append("        jmp     _%s" % r)
        out.append("        .balign %d, 0xcc" % STUB_STRIDE)
    out.append("")
    return "\n".join(out)


def write_if_changed(path, text):
    data = text.encode("utf-8")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    ap = argparse.ArgumentParser(description="window template writer and dumper")
    sub = ap.add_subparsers(dest="cmd", required=True)
    b = sub.add_parser("build")
    b.add_argument("json", nargs="+")
    b.add_argument("-o", "--output", required=True)
    d = sub.add_parser("dump")
    d.add_argument("block")
    g = sub.add_parser("gen")
    g.add_argument("json", nargs="+")
    g.add_argument("--cpp", required=True)
    g.add_argument("--header", required=True)
    g.add_argument("--asm")
    g.add_argument("--depfile")
    a = ap.parse_args(argv)
    try:
        if a.cmd == "dump":
            with open(a.block, "rb") as f:
                print(dump_block(f.read()))
            return 0
        w = Writer()
        windows = load_windows(a.json)
        data = w.block(windows)
        if a.cmd == "build":
            with open(a.output, "wb") as f:
                f.write(data)
            return 0
        write_if_changed(a.header, header_source(windows, w.routines))
        write_if_changed(a.cpp, cpp_source(data, os.path.basename(a.header)))
        if a.asm:
            write_if_changed(a.asm, asm_source(w.routines))
        if a.depfile:
            deps = [os.path.abspath(p) for p in a.json] + w.deps + [os.path.abspath(__file__)]
            esc = lambda p: p.replace(" ", "\\ ")
            write_if_changed(a.depfile, "%s: %s\n" % (esc(os.path.abspath(a.cpp)),
                                                      " ".join(esc(p) for p in deps)))
        return 0
    except TemplateError as e:
        print("rtwin: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
