// Text search, replace and split on GBK texts against fuzz::ReferenceFind, a split that joins back
// to its text, a replacement never an empty block. Input: four parameter bytes, then the text.
#include <iterator>

#include "runtime/core/gbk_text.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::Check, fuzz::HeapText, fuzz::Run;

static void CheckFind(const std::string& input, const uint8_t* p) {
  if (input.empty()) return;
  const std::string sought = input.substr(p[0] % input.size(), 1 + p[1] % 3);
  const int start = static_cast<int>(p[2] % (input.size() + 3)) - 1;
  Check(fuzz::SearchesAgree(input, sought, start, p[3] & 1), "FindText or FindTextReverse", input, sought);
}

static void CheckReplace(const std::string& input, const uint8_t* p) {
  static const char* const kReplacements[] = {"", "x", GBK_YEAR, "\xA1\xA1", "\xA3\xB0", "ab"};
  const std::string sought = input.empty() ? "" : input.substr(p[1] % input.size(), p[0] % 4);
  const int start = static_cast<int>(p[2] % (input.size() + 3)) - 1, count = static_cast<int>(p[3] % 5) - 1;
  HeapText t(input), f(sought), r(kReplacements[p[3] / 8 % std::size(kReplacements)]);
  char* text = rt::AsPtr<char>(Run(
      rt::ReplaceSubtext, {t.Arg(), f.Arg(), r.Arg(), rt::IntArg(start), rt::IntArg(count), rt::BoolArg(p[0] & 128)}));
  Check(!text || *text, "empty result block", input);
  rt::FreeBlock(text);
}

static void CheckSplit(const std::string& input, const uint8_t* p) {
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

FUZZ_TARGET(4096) {
  if (size < 4) return;
  const std::string input = fuzz::TextOf(in.substr(4));
  CheckFind(input, data), CheckReplace(input, data), CheckSplit(input, data);
}
