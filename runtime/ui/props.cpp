// Property records (see props.h). One field list per component drives both
// directions, so reading and writing cannot drift apart.
#include "runtime/ui/props.h"

#include "runtime/ui/wire.h"

namespace rt::ui {
namespace {

struct In {
  WireReader r;
  bool ok = true;
  bool reading() const { return true; }
  void u32(uint32_t& v) { ok = ok && r.U32(&v); }
  void u16(uint16_t& v) { ok = ok && r.U16(&v); }
  void bytes(Bytes& v) { ok = ok && r.CountedBytes(&v); }
  void text(std::string& v) { ok = ok && r.CountedText(&v); }
};

struct Out {
  WireWriter w;
  bool ok = true;
  bool reading() const { return false; }
  void u32(uint32_t& v) { w.U32(v); }
  void u16(uint16_t& v) { w.U16(v); }
  void bytes(Bytes& v) { w.CountedBytes(v); }
  void text(std::string& v) { w.CountedText(v); }
};

template <typename IO> void Fields(IO& io, TimerProps& p) {
  uint32_t interval = static_cast<uint32_t>(p.interval);
  io.u32(interval);
  p.interval = static_cast<int32_t>(interval);
}

template <typename IO> void Fields(IO& io, ButtonProps& p) {
  io.u32(p.default_button);
  io.u32(p.h_align);
  io.u32(p.v_align);
  io.bytes(p.picture);
  io.bytes(p.font);
  io.text(p.caption);
}

template <typename IO> void Fields(IO& io, GroupBoxProps& p) {
  io.u32(p.title_align);
  io.u32(p.text_colour);
  io.u32(p.back_colour);
  io.bytes(p.font);
  io.text(p.caption);
}

template <typename IO> void Fields(IO& io, LabelProps& p) {
  io.u32(p.effect);
  io.u32(p.word_a);
  io.u32(p.border);
  for (uint32_t& c : p.colours_a) io.u32(c);
  io.u32(p.text_colour);
  io.u32(p.back_colour);
  io.u32(p.word_b);
  io.u32(p.word_c);
  for (uint32_t& c : p.colours_b) io.u32(c);
  io.u32(p.h_align);
  io.u32(p.v_align);
  io.u32(p.word_wrap);
  io.bytes(p.font);
  io.bytes(p.picture);
  io.text(p.caption);
  if (p.version >= 2) {
    io.text(p.extra_a);
    io.text(p.extra_b);
  }
}

template <typename IO> void Fields(IO& io, EditBoxProps& p) {
  io.u32(p.border);
  io.u32(p.text_colour);
  io.u32(p.back_colour);
  io.u32(p.hide_selection);
  io.u32(p.max_length);
  io.u32(p.multi_line);
  io.u32(p.scroll_bars);
  io.u32(p.align);
  io.u32(p.input_mode);
  io.u16(p.password_char);
  io.u32(p.letter_case);
  io.u32(p.spin);
  io.u32(p.spin_low);
  io.u32(p.spin_high);
  io.u32(p.word_a);
  io.u32(p.word_b);
  io.bytes(p.font);
  io.text(p.content);
  if (p.version >= 2) io.text(p.extra);
}

template <typename IO> void Fields(IO& io, WindowProps& p) {
  io.u32(p.border);
  io.u32(p.word_a);
  io.u32(p.colour);
  io.u32(p.max_button);
  io.u32(p.min_button);
  io.u32(p.control_box);
  io.u32(p.start_position);
  io.u32(p.movable);
  for (uint32_t& w : p.words) io.u32(w);
  if (p.version >= 2) io.u32(p.taskbar);
  if (p.version >= 3)
    for (uint32_t& w : p.words_v3) io.u32(w);
  if (p.version >= 4) io.u32(p.topmost);
  if (p.version >= 5) io.u32(p.word_v5);
  if (p.version >= 6) io.text(p.class_name);
  io.bytes(p.block_a);
  io.bytes(p.icon);
  io.bytes(p.block_b);
  io.text(p.caption);
  io.text(p.text_last);
}

template <typename P>
bool ParseAny(const uint8_t* data, size_t size, P* p) {
  P fresh;  // fields a lower version lacks keep their defaults
  In in{WireReader(data, size)};
  in.u32(fresh.version);
  if (!in.ok || fresh.version > P::kMaxVersion) return false;
  Fields(in, fresh);
  // Bytes after the known fields come from a newer writer: ignored. Every
  // read is bounded by the data, so only data too short is refused.
  if (!in.ok) return false;
  *p = std::move(fresh);
  return true;
}

template <typename P>
Bytes SerialiseAny(const P& p) {
  P copy = p;
  Out out;
  out.u32(copy.version);
  Fields(out, copy);
  return std::move(out.w.data());
}

}  // namespace

bool Parse(const uint8_t* d, size_t n, TimerProps* p) { return ParseAny(d, n, p); }
bool Parse(const uint8_t* d, size_t n, ButtonProps* p) { return ParseAny(d, n, p); }
bool Parse(const uint8_t* d, size_t n, GroupBoxProps* p) { return ParseAny(d, n, p); }
bool Parse(const uint8_t* d, size_t n, LabelProps* p) { return ParseAny(d, n, p); }
bool Parse(const uint8_t* d, size_t n, EditBoxProps* p) { return ParseAny(d, n, p); }
bool Parse(const uint8_t* d, size_t n, WindowProps* p) { return ParseAny(d, n, p); }

Bytes Serialise(const TimerProps& p) { return SerialiseAny(p); }
Bytes Serialise(const ButtonProps& p) { return SerialiseAny(p); }
Bytes Serialise(const GroupBoxProps& p) { return SerialiseAny(p); }
Bytes Serialise(const LabelProps& p) { return SerialiseAny(p); }
Bytes Serialise(const EditBoxProps& p) { return SerialiseAny(p); }
Bytes Serialise(const WindowProps& p) { return SerialiseAny(p); }

}  // namespace rt::ui
