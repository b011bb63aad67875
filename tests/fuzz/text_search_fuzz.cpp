// Text search, replace and split commands on GBK texts, against plain
// references: a search that tries every character start (a byte >= 0x80 and
// the byte after it are one character), a split that joins back to its text.
// Input: four parameter bytes, then the text.
#include <algorithm>
#include <iterator>

#include "runtime/core/gbk_text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Check;
using fuzz::HeapText;
using fuzz::Run;

// First or last match in [from, end), or -1; positions count from 1.
int NaiveFind(const std::string& t, const std::string& f, size_t from, size_t end, bool ignore, bool last) {
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

void CheckFind(const std::string& input, const uint8_t* p) {
  if (input.empty()) return;
  const std::string sought = input.substr(p[0] % input.size(), 1 + p[1] % 3);
  const int start = static_cast<int>(p[2] % (input.size() + 3)) - 1;
  const bool ignore = p[3] & 1;
  const size_t s = start < 1 ? 0 : start - 1;
  HeapText t(input), f(sought);
  const std::vector<rt::ArgRecord> args = {t.Arg(), f.Arg(), rt::IntArg(start), rt::BoolArg(ignore)};
  Check(rt::AsInt(Run(rt::FindText, args)) == NaiveFind(input, sought, s, input.size(), ignore, false), "FindText",
        input, sought);
  Check(rt::AsInt(Run(rt::FindTextReverse, args)) ==
            NaiveFind(input, sought, 0, std::min(s, input.size()), ignore, true),
        "FindTextReverse", input, sought);
}

void CheckReplace(const std::string& input, const uint8_t* p) {
  static const char* const kReplacements[] = {"", "x", GBK_YEAR, "\xA1\xA1", "\xA3\xB0", "ab"};
  const std::string sought = input.empty() ? "" : input.substr(p[1] % input.size(), p[0] % 4);
  const int start = static_cast<int>(p[2] % (input.size() + 3)) - 1, count = static_cast<int>(p[3] % 5) - 1;
  HeapText t(input), f(sought), r(kReplacements[p[3] / 8 % std::size(kReplacements)]);
  char* text = rt::AsPtr<char>(Run(
      rt::ReplaceSubtext, {t.Arg(), f.Arg(), r.Arg(), rt::IntArg(start), rt::IntArg(count), rt::BoolArg(p[0] & 128)}));
  Check(!text || *text, "empty result block", input);
  rt::FreeBlock(text);
}

void CheckSplit(const std::string& input, const uint8_t* p) {
  static const char* const kDelimiters[] = {",", "\r\n", "\xA3\xAC", GBK_YEAR, " ", "a"};
  const std::string delim = kDelimiters[p[0] % std::size(kDelimiters)];
  HeapText t(input), d(delim);
  auto* a = rt::AsPtr<rt::ArrayBlock>(Run(rt::SplitText, {t.Arg(), d.Arg()}));
  Check(a && a->dims == 1, "SplitText array", input, delim);
  auto** items = static_cast<char**>(rt::ArrayElements(a));
  std::string joined;
  for (int i = 0; i < a->sizes[0]; ++i) joined += (i ? delim : "") + std::string(items[i] ? items[i] : "");
  rt::FreeTextArray(a);
  Check(joined == input || joined + delim == input, "SplitText join", input, delim + " -> " + joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 4096) return 0;
  const std::string input = fuzz::TextOf(data + 4, size - 4);
  CheckFind(input, data), CheckReplace(input, data), CheckSplit(input, data);
  return 0;
}
