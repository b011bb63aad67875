// Bounded random inputs for the core's text parsers, mutated from the corpus
// with fixed seeds; each in an exactly sized block, so ASan sees any read past
// its terminator, and checked against plain references.
// Usage: core_text_fuzz CORPUS_DIR [SECONDS] [MAX_ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;
std::mt19937 rng;

void Check(bool ok, const char* what, const std::string& input, const std::string& detail = "") {
  if (ok) return;
  std::fprintf(stderr, "FAIL %s\ninput:", what);
  for (unsigned char c : input) std::fprintf(stderr, " %02X", c);
  std::fprintf(stderr, "\n%s\n", detail.c_str()), std::abort();
}

// A text block made from an input (null for the empty text).
struct HeapText {
  char* p;
  explicit HeapText(const std::string& s) : p(rt::NewText(s.data(), s.size())) {}
  ~HeapText() { rt::FreeBlock(p); }
  ArgRecord Arg() const { return rt::TextArg(p ? p : ""); }
};
ArgRecord Run(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r{};
  cmd(&r, static_cast<int>(args.size()), args.data());
  return r;
}

const char* const kTokens[] = {GBK_YEAR, GBK_MONTH, GBK_DAY, GBK_HOUR, GBK_MINUTE, GBK_SECOND, "\xA3\xB0", "\xA3\xAD", "\xA1\xA1", "-", "/",
                               ":", " ", "2019", "12", "29", "02", "9999", "\xC4", "\xB0\xA1", ",", "\r\n",
                               "+", "-2147483648", "99999999999"};
size_t Below(size_t n) { return n ? rng() % n : 0; }

std::string Mutate(const std::vector<std::string>& corpus) {
  std::string s = corpus[Below(corpus.size())];
  for (int steps = 1 + rng() % 4; steps > 0; --steps) {
    const size_t at = Below(s.size() + 1);
    switch (rng() % 4) {
      case 0: s.insert(at, kTokens[Below(std::size(kTokens))]); break;
      case 1: s.erase(at, 1 + rng() % 4); break;
      case 2: s.insert(at, corpus[Below(corpus.size())].substr(0, rng() % 8)); break;
      default: s.insert(at, 1, static_cast<char>(rng()));
    }
  }
  std::replace(s.begin(), s.end(), '\0', 'x');  // texts end at their terminator
  return s;
}

void CheckDate(const std::string& input) {
  HeapText t(input);
  const double d = rt::ParseDateTime(t.p);
  Check(rt::AsDouble(Run(rt::ToDateTime, {t.Arg()})) == d, "ToDateTime differs", input);
  Check(d >= rt::kMinDateTime && d < rt::kMaxDateTime + 1, "date out of range", input);
  if (d == rt::kMinDateTime || d > rt::kMaxDateTime) return;  // 9999-12-31's times format as its midnight
  const std::string text = rt::FormatDateTime(d);
  Check(rt::ParseDateTime(text.c_str()) == d, "date round trip", input, text);
}

void CheckToInt(const std::string& input) {
  HeapText t(input);
  const int got = rt::AsInt(Run(rt::ToInt, {t.Arg()}));
  // Reference: strtoll on the folded text, saturated to 32 bits.
  const int want = static_cast<int>(std::clamp<long long>(
      std::strtoll(rt::FoldFullWidth(t.p, false).c_str(), nullptr, 10), INT32_MIN, INT32_MAX));
  Check(got == want, "ToInt", input, std::to_string(got) + " vs " + std::to_string(want));
}

// Reference search walking every character start (a lead byte >= 0x80 and
// the byte after it make one character), first or last match in [from, end).
int NaiveFind(const std::string& t, const std::string& f, size_t from, size_t end, bool ignore, bool last) {
  auto fold = [ignore](char c) { return ignore && c >= 'A' && c <= 'Z' ? c + 32 : c; };
  int found = -1;
  for (size_t i = from; i + f.size() <= end; i += (static_cast<unsigned char>(t[i]) >= 0x80 && i + 1 < t.size()) ? 2 : 1) {
    size_t k = 0;
    while (k < f.size() && fold(t[i + k]) == fold(f[k])) ++k;
    if (k == f.size() && (found = static_cast<int>(i) + 1, !last)) break;
  }
  return found;
}

void CheckFind(const std::string& input) {
  if (input.empty()) return;
  const std::string sought = input.substr(Below(input.size()), 1 + rng() % 3);
  const int start = static_cast<int>(Below(input.size() + 3)) - 1;
  const bool ignore = rng() % 2;
  const size_t s = start < 1 ? 0 : start - 1;
  HeapText t(input), f(sought);
  const std::vector<ArgRecord> args = {t.Arg(), f.Arg(), rt::IntArg(start), rt::BoolArg(ignore)};
  Check(rt::AsInt(Run(rt::FindText, args)) == NaiveFind(input, sought, s, input.size(), ignore, false),
        "FindText", input, sought);
  Check(rt::AsInt(Run(rt::FindTextReverse, args)) == NaiveFind(input, sought, 0, std::min(s, input.size()), ignore, true),
        "FindTextReverse", input, sought);
}

void CheckReplace(const std::string& input) {
  const std::string sought = input.empty() ? "" : input.substr(Below(input.size()), rng() % 4);
  const std::string repl = kTokens[Below(std::size(kTokens))];
  const int start = static_cast<int>(Below(input.size() + 3)) - 1, count = static_cast<int>(rng() % 5) - 1;
  HeapText t(input), f(sought), p(repl);
  char* text = rt::AsPtr<char>(
      Run(rt::ReplaceSubtext, {t.Arg(), f.Arg(), p.Arg(), rt::IntArg(start), rt::IntArg(count), rt::BoolArg(true)}));
  Check(!text || *text, "empty result block", input);
  rt::FreeBlock(text);
}

void CheckSplit(const std::string& input) {
  const char* delims[] = {",", "\r\n", "\xA3\xAC", GBK_YEAR, " ", "a"};
  const std::string delim = delims[Below(std::size(delims))];
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

int main(int argc, char** argv) {
  std::vector<std::string> corpus;
  if (argc > 1)
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
      std::ifstream in(entry.path(), std::ios::binary);
      corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  if (corpus.empty()) return std::fprintf(stderr, "usage: %s CORPUS_DIR [SECONDS] [MAX_ROUNDS]\n", argv[0]), 2;
  std::sort(corpus.begin(), corpus.end());  // directory order varies
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration<double>(argc > 2 ? std::atof(argv[2]) : 10);
  const long max_rounds = argc > 3 ? std::atol(argv[3]) : 5000000;
  long rounds = 0;
  rng.seed(20191017);
  for (; rounds < max_rounds && (rounds % 256 || Clock::now() < deadline); ++rounds) {
    const std::string input = Mutate(corpus);
    CheckDate(input), CheckToInt(input), CheckFind(input), CheckReplace(input), CheckSplit(input);
  }
  std::printf("core_text_fuzz: %ld rounds, no failures\n", rounds);
}
