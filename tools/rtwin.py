#!/usr/bin/env python3
"""rtwin: writes and dumps the Runtime's stored window templates.

Commands
  rtwin.py build  WINDOWS.json... -o BLOCK.bin       template block, raw bytes
  rtwin.py dump   BLOCK.bin                          readable listing of a block
  rtwin.py gen    WINDOWS.json... --cpp F.cpp --header F.h [--asm F.S]
                  [--depfile F.d]                    sources for a build target
                  (cmake/RtTemplates.cmake: rt_add_window_templates)
  rtwin.py layout                                    the layout tables, as the
                  native test ui_template_layout compares them with the C++

The work is done by the package rtwinlib beside this file: layout (the one
description of the stored block), writer, dumper and codegen.

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
             word_1[0] word_2[0] word_3[1] word_4[0] word_5[0] taskbar[1]
             word_v3a[0] word_v3b[0] topmost[0] word_v5[0] class_name[""]
             picture[] icon[] block_b[] caption[""] text_last[""]
    EditBox  version[2] border[1] text_colour[0] back_colour[0xFFFFFF]
             hide_selection[1] max_length[0] multi_line[0] scroll_bars[0]
             align[0] input_mode[0] password_char[42] letter_case[0] spin[0]
             spin_low[0] spin_high[100] word_a[0] word_b[0] font[] content[""]
             text_a[""]
    Label    version[2] effect[0] word_a[8] border[0] colour_a1[0x808080]
             colour_a2[0xFFFFFF] colour_a3[0x808080] text_colour[0]
             back_colour[0xFF000000] word_b[1] word_c[0] colour_b1[0x808080]
             colour_b2[0xFFFFFF] colour_b3[0x808080] h_align[0] v_align[1]
             word_wrap[0] font[] picture[] caption[""] text_a[""] text_b[""]
    Button   version[1] default_button[0] h_align[1] v_align[1] picture[]
             font[] caption[""]
    GroupBox version[1] title_align[0] text_colour[0] back_colour[0xFF000000]
             font[] caption[""]
    Timer    version[1] interval[0]
    MenuItem flags[0] words[[0,0]] caption[""] (the unit's single event
             index 0 names its routine)
  Numbers may be written as JSON numbers or "0x..." strings. A byte block
  (icon, picture, font, block_b) is a file path relative to the JSON
  file, {"hex": "..."}, or a list of byte values; a font may also be
  {"face": "宋体", "height": -12, "weight": 700, "italic": 0, "underline": 0,
  "strikeout": 0, "charset": 134}, written as a 60-byte LOGFONTA.

Routines: every distinct routine name gets a stub in a fixed-stride table
whose first stub is the routine base; a handler's stored offset is its stub
index times the stride (8 bytes). tests/ui/test_window.json and
tools/rtwin_example_main_window.json show complete descriptions.
"""

import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LIB = os.path.join(HERE, "rtwinlib")
sys.path.insert(0, HERE)

from rtwinlib.codegen import asm_source, cpp_source, header_source, write_if_changed  # noqa: E402
from rtwinlib.dumper import dump_block  # noqa: E402
from rtwinlib.layout import TemplateError, layout_listing  # noqa: E402
from rtwinlib.writer import Writer, load_windows  # noqa: E402


def main(argv):
    ap = argparse.ArgumentParser(description="window template writer and dumper")
    sub = ap.add_subparsers(dest="cmd", required=True)
    b = sub.add_parser("build")
    b.add_argument("json", nargs="+")
    b.add_argument("-o", "--output", required=True)
    sub.add_parser("layout")
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
        if a.cmd == "layout":
            sys.stdout.write(layout_listing())
            return 0
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
            deps = [os.path.abspath(p) for p in a.json] + w.deps + [os.path.abspath(__file__)] + \
                [os.path.join(LIB, f) for f in sorted(os.listdir(LIB)) if f.endswith(".py")]
            esc = lambda p: p.replace(" ", "\\ ")
            write_if_changed(a.depfile, "%s: %s\n" % (esc(os.path.abspath(a.cpp)),
                                                      " ".join(esc(p) for p in deps)))
        return 0
    except TemplateError as e:
        print("rtwin: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
