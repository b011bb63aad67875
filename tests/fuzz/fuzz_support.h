// Shared by the fuzz targets and the core tests: the entry, a failure report the fuzzer sees as a
// crash, texts in exactly sized heap blocks (ASan sees a read past the end), and plain references
// written from the rules, not from the runtime's helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/memory.h"
#include "tests/support/command_call.h"

// The entry: inputs over `most` bytes are skipped; the body sees data, size and in.
#define FUZZ_TARGET(most)                                                                            \
  static void FuzzOne(const uint8_t* data, size_t size, const std::string& in);                     \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                          \
    if (size <= (most)) FuzzOne(data, size, std::string(reinterpret_cast<const char*>(data), size)); \
    return 0;                                                                                        \
  }                                                                                                  \
  static void FuzzOne([[maybe_unused]] const uint8_t* data, [[maybe_unused]] size_t size, \
                      [[maybe_unused]] const std::string& in)

namespace fuzz {

// Aborts with the input in hex unless `ok`: the caller's reference disagrees.
inline void Check(bool ok, const char* what, const std::string& input, const std::string& detail = "") {
  if (ok) return;
  std::fprintf(stderr, "FAIL %s\ninput:", what);
  for (unsigned char c : input) std::fprintf(stderr, " %02X", c);
  std::fprintf(stderr, "\n%s\n", detail.c_str());
  std::abort();
}

// A runtime text block of exactly the bytes up to the first zero (null when empty).
struct HeapText {
  char* p;
  explicit HeapText(const std::string& s) : p(rt::NewText(s.data(), std::strlen(s.c_str()))) {}
  HeapText(const HeapText&) = delete;
  ~HeapText() { rt::FreeBlock(p); }
  const char* c_str() const { return p ? p : ""; }
  rt::ArgRecord Arg() const { return rt::TextArg(c_str()); }
};

inline constexpr auto& Run = testsupport::CallCommand;

inline std::string TextOf(const std::string& s) { return s.substr(0, s.find('\0')); }

// The first (or last) match of f in t starting in [from, end) at a character
// start (a byte >= 0x80 takes the next), letters folded when `ignore`; from 1, or -1.
inline int ReferenceFind(const std::string& t, const std::string& f, size_t from, size_t end, bool ignore, bool last) {
  auto fold = [ignore](char c) { return ignore && c >= 'A' && c <= 'Z' ? c + 32 : c; };
  int found = -1;
  for (size_t i = from; i + f.size() <= end;
       i += (static_cast<unsigned char>(t[i]) >= 0x80 && i + 1 < t.size()) ? 2 : 1) {
    size_t k = 0;
    while (k < f.size() && fold(t[i + k]) == fold(f[k])) ++k;
    if (k == f.size() && (found = static_cast<int>(i) + 1, !last)) break;
  }
  return found;
}

// FindText and FindTextReverse on t and f from `start` (from 1) agree with ReferenceFind.
inline bool SearchesAgree(const std::string& t, const std::string& f, int start, bool ignore) {
  const size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  HeapText text(t), sought(f);
  const std::vector<rt::ArgRecord> args = {text.Arg(), sought.Arg(), rt::IntArg(start), rt::BoolArg(ignore)};
  return rt::AsInt(Run(rt::FindText, args)) == ReferenceFind(t, f, from, t.size(), ignore, false) &&
         rt::AsInt(Run(rt::FindTextReverse, args)) == ReferenceFind(t, f, 0, std::min(from, t.size()), ignore, true);
}

// Full-width folding, blanks kept: 0xA3A1..0xA3FE to their second byte minus
// 0x80, 0xA1A1 a blank, 0xA1AB "~", 0xA1EE and 0xA1EF "*"; other pairs stay.
inline std::string ReferenceFold(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char a = s[i], b = i + 1 < s.size() ? s[i + 1] : 0;
    const char one = a == 0xA3 && b >= 0xA1 && b <= 0xFE     ? static_cast<char>(b - 0x80)
                     : a == 0xA1 && b == 0xA1                ? ' '
                     : a == 0xA1 && b == 0xAB                ? '~'
                     : a == 0xA1 && (b == 0xEE || b == 0xEF) ? '*' : '\0';
    if (a < 0x80 || i + 1 == s.size()) out += s[i];
    else out += one ? std::string(1, one) : s.substr(i, 2), ++i;  // both bytes read
  }
  return out;
}

inline bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
inline int MonthDays(int64_t y, int64_t m) {
  return m == 2 ? 28 + IsLeap(y) : m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31;
}
inline std::string Fields(const rt::CalendarFields& f) {
  char b[64];
  std::snprintf(b, sizeof b, "%d-%d-%d %d:%d:%d", f.year, f.month, f.day, f.hour, f.minute, f.second);
  return b;
}

}  // namespace fuzz
