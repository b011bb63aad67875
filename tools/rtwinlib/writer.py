"""Window descriptions (JSON) -> the stored template block."""

import json
import os
import struct

from .layout import (CURSOR_IDS, EVENT_ALIASES, FIELDS, MENU_ITEM_REST, NO_ROUTINE,
                     STUB_STRIDE, TYPE_IDS, UNIT_HEAD, UNIT_REST, TemplateError, encode, gbk,
                     num, u32)


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
        values = {"type_id": type_id, "name": unit.get("name", ""),
                  "second_text": unit.get("second_text", "")}
        events = unit.get("events", {}) or {}
        if type_name == "MenuItem":
            props = unit.get("props", {}) or {}
            words = props.get("words", [0, 0])
            routine = None
            for _, name in events.items():
                routine = name  # a menu item has one event: the last one named
            values.update(flags=props.get("flags", 0), word_1=words[0], word_2=words[1],
                          caption=props.get("caption", ""), routine=self.routine_offset(routine))
            return encode(UNIT_HEAD + MENU_ITEM_REST, values)
        flags = (1 if unit.get("visible", True) else 0) | \
            (2 if unit.get("disabled", False) else 0) | (4 if unit.get("tabstop", False) else 0)
        cursor = num(unit.get("cursor", 0), "cursor")
        if 0 <= cursor < len(CURSOR_IDS):
            cursor = CURSOR_IDS[cursor]
        values.update({k: unit.get(k, 0) for k in ("left", "top", "width", "height",
                                                   "option1", "option2")})
        values.update(parent=parent_id, children=children, mouse_pointer=u32(cursor),
                      tag=unit.get("tag", ""), flags=flags)
        values["events"] = [(EVENT_ALIASES[key] if key in EVENT_ALIASES else num(key, "event index"),
                             self.routine_offset(name)) for key, name in events.items()]
        if "raw_props" in unit:
            values["props"] = bytes.fromhex(unit["raw_props"])
        else:
            values["props"] = self.property_data(type_name, unit.get("props"), base_dir)
        return encode(UNIT_HEAD + UNIT_REST, values)

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
