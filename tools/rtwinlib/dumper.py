"""The stored template block -> a readable listing."""

import json

from .layout import (FIELDS, MENU_ITEM_REST, NO_ROUTINE, TYPE_NAMES, UNIT_FLAGS, UNIT_HEAD,
                     UNIT_REST, Reader, TemplateError, decode, is_menu_item_id)


def show_text(b):
    return json.dumps(b.decode("gbk", errors="replace"), ensure_ascii=False)


def show_block(b):
    if not b:
        return "[]"
    head = b[:16].hex()
    return "[%d bytes: %s%s]" % (len(b), head, "..." if len(b) > 16 else "")


def show_routine(off):
    return "none" if off == NO_ROUTINE else "base+%d" % off


def dump_props(type_name, data, out):
    if type_name not in FIELDS:
        out.append("      property data %s" % show_block(data))
        return
    r = Reader(data, "%s property data" % type_name)
    max_version, fields = FIELDS[type_name]
    version = r.u32()
    out.append("      version %d%s" % (version, "  (ABOVE %d)" % max_version
                                       if version > max_version else ""))
    for name, kind, _, since in fields:
        if version < since:
            continue
        if kind == "u32":
            v = r.u32()
            out.append("      %-15s %d (0x%X)" % (name, v, v))
        elif kind == "u16":
            out.append("      %-15s %d" % (name, r.u16()))
        elif kind == "bytes":
            out.append("      %-15s %s" % (name, show_block(r.counted())))
        elif kind == "text":
            out.append("      %-15s %s" % (name, show_text(r.counted())))
    if r.left():
        out.append("      TRAILING %d bytes" % r.left())


def dump_unit(i, uid, rec, out):
    v = decode(UNIT_HEAD, rec)
    tname = TYPE_NAMES.get(v["type_id"], "type 0x%08X" % v["type_id"])
    out.append("  unit %d 0x%08X %s %s%s" % (i, uid, tname, show_text(v["name"]),
                                            "  second " + show_text(v["second_text"])
                                            if v["second_text"] else ""))
    if is_menu_item_id(uid):
        m = decode(MENU_ITEM_REST, rec)
        out.append("    menu flags 0x%X words %d %d caption %s routine %s"
                   % (m["flags"], m["word_1"], m["word_2"], show_text(m["caption"]),
                      show_routine(m["routine"])))
        return
    u = decode(UNIT_REST, rec)
    out.append("    rect %d,%d %dx%d  parent 0x%08X  flags 0x%X %s" % (
        u["left"], u["top"], u["width"], u["height"], u["parent"], u["flags"],
        " ".join(n for n, bit in UNIT_FLAGS if u["flags"] & bit)))
    if u["children"]:
        out.append("    children " + " ".join("0x%08X" % k for k in u["children"]))
    extras = []
    if u["mouse_pointer"] != bytes(4):
        extras.append("mouse pointer " + show_block(u["mouse_pointer"]))
    if u["tag"]:
        extras.append("tag " + show_text(u["tag"]))
    if u["option1"] or u["option2"]:
        extras.append("options %d %d" % (u["option1"], u["option2"]))
    if extras:
        out.append("    " + "  ".join(extras))
    for idx, off in u["events"]:
        out.append("    event %d -> %s" % (idx, show_routine(off)))
    dump_props(tname, u["props"], out)


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
            dump_unit(i, uid, Reader(u.counted(), "unit 0x%08X" % uid), out)
    if r.left():
        raise TemplateError("%d bytes left after the last window" % r.left())
    return "\n".join(out)
