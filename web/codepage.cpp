#include "web/codepage.h"

#include "web/web_dll.h"

namespace web {
namespace {

constexpr uint32_t kWholeText = 0xFFFFFFFFu;  // length -1: up to the terminator

}  // namespace

OwnedBytes MultiByteToUtf16(const char* text, std::optional<int32_t> code_page) {
  if (Empty(text)) return OwnedBytes();
  const uint32_t cp = static_cast<uint32_t>(code_page.value_or(kCodePageUtf8));
  // The size is asked in the code page that converts: sized by the system
  // code page instead, bytes that are not valid UTF-8 can need more units
  // than were counted. One unit more than the count keeps a zero unit at
  // the end whatever the conversion writes.
  uint16_t probe = 0;
  const int32_t units = static_cast<int32_t>(
      prog::CallDll(kMultiByteToWideChar, {cp, 0, W(text), kWholeText, W(&probe), 0}));
  if (units <= 0 || units > 0x3FFFFFF0) return OwnedBytes();
  OwnedBytes out = ZeroBytes(2 * (units + 1));
  const uint32_t done = prog::CallDll(
      kMultiByteToWideChar,
      {cp, 0, W(text), kWholeText, W(out.get()->data), static_cast<uint32_t>(units)});
  if (done == 0) return OwnedBytes();
  return out;
}

OwnedText Utf16ToMultiByte(const rt::ByteSetBlock* units, std::optional<int32_t> code_page) {
  const int32_t count = BytesLen(units) / 2;
  if (count <= 0) return OwnedText();
  const uint8_t* data = units->data;
  int32_t end = 0;
  while (end < count && (data[2 * end] | data[2 * end + 1])) ++end;
  if (end == 0) return OwnedText();
  // The conversion reads up to a zero unit; a ByteSet without one is given
  // one in a copy, so nothing past the block is ever read.
  OwnedBytes terminated;
  if (end == count) {
    terminated = ZeroBytes(2 * (count + 1));
    std::memcpy(terminated.get()->data, data, static_cast<size_t>(2 * count));
    data = terminated.get()->data;
  }
  const uint32_t cp = static_cast<uint32_t>(code_page.value_or(kCodePageAnsi));
  // Sized in the target code page, which is exact for any code page
  // (UTF-8 needs up to three bytes per unit, not two).
  const int32_t bytes = static_cast<int32_t>(
      prog::CallDll(kWideCharToMultiByte, {cp, 0, W(data), kWholeText, 0, 0, 0, 0}));
  if (bytes <= 0 || bytes > 0x7FFFFFF0) return OwnedText();
  OwnedText out = Spaces(bytes);
  const uint32_t done = prog::CallDll(
      kWideCharToMultiByte,
      {cp, 0, W(data), kWholeText, W(out.get()), static_cast<uint32_t>(bytes), 0, 0});
  if (done == 0) return OwnedText();
  return CopyOf(Or(out));
}

OwnedText Utf8ToAnsi(const char* text) {
  OwnedBytes units = MultiByteToUtf16(text, kCodePageUtf8);
  return Utf16ToMultiByte(units.get(), kCodePageGbk);
}

}  // namespace web
