"""The stored template layout, as data that the writer and the dumper share.

The Runtime's C++ reads the same layout (runtime/ui/templates.h and the
record tables of runtime/ui/property_records.h); `rtwin.py layout` prints
this module's tables in the form the native test ui_template_layout
compares with the C++ ones.
"""

import struct

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

# Property records: (highest version, fields). A field is (name, kind,
# default, first version that has it, 0 for every version); kinds u32, u16, bytes (counted
# block) and text (counted text).
FIELDS = {
    "Timer": (1, [("interval", "u32", 0, 0)]),
    "Button": (1, [("default_button", "u32", 0, 0), ("h_align", "u32", 1, 0),
                   ("v_align", "u32", 1, 0), ("picture", "bytes", b"", 0),
                   ("font", "bytes", b"", 0), ("caption", "text", "", 0)]),
    "GroupBox": (1, [("title_align", "u32", 0, 0), ("text_colour", "u32", 0, 0),
                     ("back_colour", "u32", 0xFF000000, 0), ("font", "bytes", b"", 0),
                     ("caption", "text", "", 0)]),
    "Label": (2, [("effect", "u32", 0, 0), ("word_a", "u32", 8, 0), ("border", "u32", 0, 0),
                  ("colour_a1", "u32", 0x808080, 0), ("colour_a2", "u32", 0xFFFFFF, 0),
                  ("colour_a3", "u32", 0x808080, 0), ("text_colour", "u32", 0, 0),
                  ("back_colour", "u32", 0xFF000000, 0), ("word_b", "u32", 1, 0),
                  ("word_c", "u32", 0, 0), ("colour_b1", "u32", 0x808080, 0),
                  ("colour_b2", "u32", 0xFFFFFF, 0), ("colour_b3", "u32", 0x808080, 0),
                  ("h_align", "u32", 0, 0), ("v_align", "u32", 1, 0), ("word_wrap", "u32", 0, 0),
                  ("font", "bytes", b"", 0), ("picture", "bytes", b"", 0),
                  ("caption", "text", "", 0), ("text_a", "text", "", 2),
                  ("text_b", "text", "", 2)]),
    "EditBox": (2, [("border", "u32", 1, 0), ("text_colour", "u32", 0, 0),
                    ("back_colour", "u32", 0xFFFFFF, 0), ("hide_selection", "u32", 1, 0),
                    ("max_length", "u32", 0, 0), ("multi_line", "u32", 0, 0),
                    ("scroll_bars", "u32", 0, 0), ("align", "u32", 0, 0),
                    ("input_mode", "u32", 0, 0), ("password_char", "u16", 42, 0),
                    ("letter_case", "u32", 0, 0), ("spin", "u32", 0, 0),
                    ("spin_low", "u32", 0, 0), ("spin_high", "u32", 100, 0),
                    ("word_a", "u32", 0, 0), ("word_b", "u32", 0, 0), ("font", "bytes", b"", 0),
                    ("content", "text", "", 0), ("text_a", "text", "", 2)]),
    "window": (6, [("border", "u32", 2, 0), ("word_a", "u32", 1, 0),
                   ("colour", "u32", 0xFF000000, 0), ("max_button", "u32", 1, 0),
                   ("min_button", "u32", 1, 0), ("control_box", "u32", 1, 0),
                   ("start_position", "u32", 0, 0), ("movable", "u32", 1, 0),
                   ("word_1", "u32", 0, 0), ("word_2", "u32", 0, 0), ("word_3", "u32", 1, 0),
                   ("word_4", "u32", 0, 0), ("word_5", "u32", 0, 0), ("taskbar", "u32", 1, 2),
                   ("word_v3a", "u32", 0, 3), ("word_v3b", "u32", 0, 3), ("topmost", "u32", 0, 4),
                   ("word_v5", "u32", 0, 5), ("class_name", "text", "", 6),
                   ("picture", "bytes", b"", 0), ("icon", "bytes", b"", 0),
                   ("block_b", "bytes", b"", 0), ("caption", "text", "", 0),
                   ("text_last", "text", "", 0)]),
}

# The unit record after its length: (name, kind). Kinds: u32, i32, ztext
# (zero-terminated), zero (that many zero bytes), ids (u32 count, then that
# many u32), counted (u32 length, then the bytes), events (u32 count, then
# index and routine offset pairs), rest (the property data, to the end).
UNIT_HEAD = [("type_id", "u32"), ("reserved", ("zero", 20)), ("name", "ztext"),
             ("second_text", "ztext")]
MENU_ITEM_REST = [("flags", "u32"), ("word_1", "u32"), ("word_2", "u32"), ("caption", "ztext"),
                  ("routine", "u32")]
UNIT_REST = [("object_slot", "u32"), ("left", "i32"), ("top", "i32"), ("width", "i32"),
             ("height", "i32"), ("cursor_slot", "u32"), ("parent", "u32"), ("children", "ids"),
             ("mouse_pointer", "counted"), ("tag", "ztext"), ("option1", "u32"),
             ("flags", "u32"), ("option2", "u32"), ("events", "events"),
             ("reserved_2", ("zero", 20)), ("props", "rest")]

UNIT_FLAGS = [("visible", 1), ("disabled", 2), ("tabstop", 4)]


class TemplateError(Exception):
    pass


def is_menu_item_id(uid):
    return (uid >> 24) & 0xF == 6 and uid >> 28 == 2


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


def encode(fields, values):
    """Bytes of `values` (a dict, texts as str) laid out by `fields`."""
    out = b""
    for name, kind in fields:
        v = values.get(name)
        if isinstance(kind, tuple):  # ("zero", n)
            out += bytes(kind[1])
        elif kind == "u32":
            out += u32(num(v or 0, name))
        elif kind == "i32":
            out += struct.pack("<i", num(v or 0, name))
        elif kind == "ztext":
            b = gbk(v or "")
            if b"\0" in b:
                raise TemplateError("zero byte inside a text: %r" % v)
            out += b + b"\0"
        elif kind == "ids":
            out += u32(len(v)) + b"".join(u32(i) for i in v)
        elif kind == "counted":
            out += u32(len(v)) + v
        elif kind == "events":
            out += u32(len(v)) + b"".join(u32(i) + u32(r) for i, r in v)
        elif kind == "rest":
            out += v
    return out


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


def decode(fields, r):
    """The values laid out by `fields`, read from Reader `r` (texts as bytes)."""
    values = {}
    for name, kind in fields:
        if isinstance(kind, tuple):
            r.take(kind[1])
        elif kind == "u32":
            values[name] = r.u32()
        elif kind == "i32":
            values[name] = r.i32()
        elif kind == "ztext":
            values[name] = r.z()
        elif kind == "ids":
            values[name] = [r.u32() for _ in range(r.u32())]
        elif kind == "counted":
            values[name] = r.counted()
        elif kind == "events":
            values[name] = [(r.u32(), r.u32()) for _ in range(r.u32())]
        elif kind == "rest":
            values[name] = r.take(r.left())
    return values


def layout_listing():
    """The tables in the plain form the native layout test compares."""
    out = ["no_routine 0x%08X" % NO_ROUTINE]
    for name, tid in sorted(TYPE_IDS.items(), key=lambda t: t[1]):
        out.append("type %s 0x%08X" % (name, tid))
    for n, cid in enumerate(CURSOR_IDS):
        out.append("cursor %d %d" % (n, cid))
    for type_name in sorted(FIELDS):
        max_version, fields = FIELDS[type_name]
        out.append("record %s %d" % (type_name, max_version))
        for name, kind, default, since in fields:
            shown = default if isinstance(default, int) else len(default)
            out.append("  %s %s %d %d" % (name, kind, shown, since))
    return "\n".join(out) + "\n"
