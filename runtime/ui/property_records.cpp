// Property records (see property_records.h). The record's table drives both
// directions, so reading and writing cannot drift apart.
#include "runtime/ui/property_records.h"

#include <type_traits>

#include "runtime/ui/byte_stream.h"

namespace rt::ui {
namespace {

// The stored fields of `p`'s version, in table order; `io` reads or writes
// each one.
template <typename R, typename IO>
void EachStoredField(R& p, IO& io) {
  using P = std::remove_const_t<R>;
  for (const RecordField<P>& f : RecordTable<P>::kFields) {
    if (f.since == kNotStored || f.since > p.version) continue;
    if (f.word) io.u32(p.*f.word);
    if (f.half) io.u16(p.*f.half);
    if (f.bytes) io.bytes(p.*f.bytes);
    if (f.text) io.text(p.*f.text);
  }
}

struct In {
  ByteReader r;
  bool ok = true;
  void u32(uint32_t& v) { ok = ok && r.U32(&v); }
  void u16(uint16_t& v) { ok = ok && r.U16(&v); }
  void bytes(Bytes& v) { ok = ok && r.CountedBytes(&v); }
  void text(std::string& v) { ok = ok && r.CountedText(&v); }
};

struct Out {
  ByteWriter w;
  void u32(uint32_t v) { w.U32(v); }
  void u16(uint16_t v) { w.U16(v); }
  void bytes(const Bytes& v) { w.CountedBytes(v); }
  void text(const std::string& v) { w.CountedText(v); }
};

template <typename P>
bool ParseAny(const uint8_t* data, size_t size, P* p) {
  P fresh;  // fields a lower version lacks keep their defaults
  In in{ByteReader(data, size)};
  in.u32(fresh.version);
  if (!in.ok || fresh.version > P::kMaxVersion) return false;
  EachStoredField(fresh, in);
  // Bytes after the known fields come from a newer writer: ignored. Every
  // read is bounded by the data, so only data too short is refused.
  if (!in.ok) return false;
  *p = std::move(fresh);
  return true;
}

template <typename P>
Bytes SerialiseAny(const P& p) {
  Out out;
  out.u32(p.version);
  EachStoredField(p, out);
  return std::move(out.w.data());
}

}  // namespace

bool TryParse(const uint8_t* d, size_t n, TimerProps* p) { return ParseAny(d, n, p); }
bool TryParse(const uint8_t* d, size_t n, ButtonProps* p) { return ParseAny(d, n, p); }
bool TryParse(const uint8_t* d, size_t n, GroupBoxProps* p) { return ParseAny(d, n, p); }
bool TryParse(const uint8_t* d, size_t n, LabelProps* p) { return ParseAny(d, n, p); }
bool TryParse(const uint8_t* d, size_t n, EditBoxProps* p) { return ParseAny(d, n, p); }
bool TryParse(const uint8_t* d, size_t n, WindowProps* p) { return ParseAny(d, n, p); }

Bytes Serialise(const TimerProps& p) { return SerialiseAny(p); }
Bytes Serialise(const ButtonProps& p) { return SerialiseAny(p); }
Bytes Serialise(const GroupBoxProps& p) { return SerialiseAny(p); }
Bytes Serialise(const LabelProps& p) { return SerialiseAny(p); }
Bytes Serialise(const EditBoxProps& p) { return SerialiseAny(p); }
Bytes Serialise(const WindowProps& p) { return SerialiseAny(p); }

}  // namespace rt::ui
