// Bounded random-input driver for the text parsers of the Runtime core:
// ParseDateTime/ToDateTime, ToInt on texts, FindText and FindTextReverse,
// ReplaceSubtext and SplitText.
//
// Inputs are mutations of a small committed corpus, drawn from fixed seeds,
// so a failure repeats. Every input lives in an exactly sized heap block, so
// AddressSanitizer sees any read past a terminator. Beyond not crashing, each
// round checks a property against a plain reference.
//
// Usage: core_text_fuzz CORPUS_DIR [SECONDS] [MAX_ROUNDS]
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;

std::string Hex(const std::string& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}

[[noreturn]] void Fail(const char* what, const std::string& input, const std::string& detail) {
  std::fprintf(stderr, "FAIL %s\ninput: %s\n%s\n", what, Hex(input).c_str(), detail.c_str());
  std::abort();
}

// Owns a text block made from an input (null for the empty text).
struct HeapText {
  char* p;
  explicit HeapText(const std::string& s) : p(rt::NewText(s.data(), s.size())) {}
  ~HeapText() { rt::FreeBlock(p); }
  ArgRecord Arg() const { return rt::TextArg(p ? p : ""); }
};

std::string TakeText(ArgRecord r) {
  char* t = rt::AsPtr<char>(r);
  std::string s = t ? t : "";
  if (t && !*t) Fail("empty result block", "", "");
  rt::FreeBlock(t);
  return s;
}

// Tokens that steer the mutations towards the parsers' interesting paths.
const char* const kTokens[] = {
    "年", "月", "日", "时", "分", "秒", "\xA3\xB0", "\xA3\xB9", "\xA3\xAD", "\xA3\xBA", "\xA1\xA1",
    "\xA1\xAB", "\xA1\xEE", "-", "/", ":", ".", " ", "  ", "2019", "12", "29", "02", "9999",
    "\xC4", "\xB0\xA1", ",", "\r\n", "#引号", "\"", "+", "-2147483648", "99999999999"};

std::string Mutate(std::mt19937& rng, const std::vector<std::string>& corpus) {
  std::string s = corpus[rng() % corpus.size()];
  for (int steps = 1 + rng() % 4; steps > 0; --steps) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 6) {
      case 0:
        if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng());
        break;
      case 1:
        s.insert(at, kTokens[rng() % std::size(kTokens)]);
        break;
      case 2:
        if (!s.empty()) s.erase(at, 1 + rng() % 4);
        break;
      case 3:
        s.resize(at);
        break;
      case 4: {
        const std::string& other = corpus[rng() % corpus.size()];
        s.insert(at, other.substr(0, rng() % (other.size() + 1)));
        break;
      }
      default:
        s.insert(at, 1, static_cast<char>(0x80 + rng() % 0x80));
        break;
    }
  }
  for (char& c : s)
    if (c == '\0') c = 'x';  // texts end at their terminator
  return s;
}

void CheckDate(const std::string& input) {
  HeapText t(input);
  const double direct = rt::ParseDateTime(t.p);
  ArgRecord arg = t.Arg(), r{};
  rt::ToDateTime(&r, 1, &arg);
  if (r.type != rt::kDateTime || rt::AsDouble(r) != direct) Fail("ToDateTime differs", input, "");
  if (direct == rt::kMinDateTime) return;
  if (!(direct > rt::kMinDateTime && direct < rt::kMaxDateTime + 1)) Fail("date out of range", input, "");
  // A parsed date formats to a text that parses back to the same value;
  // times on 9999-12-31 lie past the clamp and format as its midnight.
  if (direct > rt::kMaxDateTime) return;
  const std::string text = rt::FormatDateTime(direct);
  if (rt::ParseDateTime(text.c_str()) != direct) Fail("date round trip", input, text);
}

void CheckToInt(const std::string& input) {
  HeapText t(input);
  ArgRecord arg = t.Arg(), r{};
  rt::ToInt(&r, 1, &arg);
  // Reference: strtoll on the folded text, saturated to 32 bits.
  const std::string folded = rt::FoldFullWidth(t.p, false);
  errno = 0;
  long long v = std::strtoll(folded.c_str(), nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  if (rt::AsInt(r) != static_cast<int32_t>(v))
    Fail("ToInt", input, std::to_string(rt::AsInt(r)) + " vs " + std::to_string(v));
}

bool Ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void CheckReplace(std::mt19937& rng, const std::string& input) {
  std::string sought = input.empty() ? "" : input.substr(rng() % input.size(), rng() % 4);
  const std::string repl = kTokens[rng() % std::size(kTokens)];
  const int start = static_cast<int>(rng() % (input.size() + 3)) - 1;
  const int count = static_cast<int>(rng() % 5) - 1;
  HeapText t(input), f(sought), p(repl);
  ArgRecord args[6] = {t.Arg(), f.Arg(), p.Arg(), rt::IntArg(start), rt::IntArg(count), rt::BoolArg(true)};
  ArgRecord r{};
  rt::ReplaceSubtext(&r, 6, args);
  const std::string got = TakeText(r);
  if (!Ascii(input) || !Ascii(sought)) return;
  // Reference on single-byte texts: the plain left-to-right replacement.
  std::string want;
  const size_t s = start < 1 ? 0 : static_cast<size_t>(start - 1);
  if (sought.empty() || s >= input.size() || count == 0) {
    want = input;
  } else {
    want = input.substr(0, s);
    size_t i = s;
    int left = count;
    while (i < input.size()) {
      if (left != 0 && input.compare(i, sought.size(), sought) == 0) {
        want += repl;
        i += sought.size();
        if (left > 0) --left;
      } else {
        want += input[i++];
      }
    }
  }
  if (got != want) Fail("ReplaceSubtext", input, "sought " + sought + " got " + got + " want " + want);
}

// Reference walk: every character start, stepping over pairs.
int64_t NaiveFind(const std::string& t, const std::string& f, size_t from, size_t end, bool ignore, bool last) {
  auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  int64_t found = -1;
  for (size_t i = from; i + f.size() <= end; i += (static_cast<unsigned char>(t[i]) >= 0x80 && i + 1 < t.size()) ? 2 : 1) {
    size_t k = 0;
    while (k < f.size() && (ignore ? fold(t[i + k]) == fold(f[k]) : t[i + k] == f[k])) ++k;
    if (k == f.size()) {
      found = static_cast<int64_t>(i) + 1;
      if (!last) break;
    }
  }
  return found;
}

void CheckFind(std::mt19937& rng, const std::string& input) {
  std::string sought = input.empty() ? "" : input.substr(rng() % input.size(), 1 + rng() % 3);
  if (sought.empty()) return;
  const int start = static_cast<int>(rng() % (input.size() + 3)) - 1;
  const bool ignore = rng() % 2;
  HeapText t(input), f(sought);
  ArgRecord args[4] = {t.Arg(), f.Arg(), rt::IntArg(start), rt::BoolArg(ignore)}, r{};
  rt::FindText(&r, 4, args);
  const size_t s = start < 1 ? 0 : static_cast<size_t>(start - 1);
  const int64_t want = NaiveFind(input, sought, s, input.size(), ignore, false);
  if (rt::AsInt(r) != want) Fail("FindText", input, sought + " " + std::to_string(rt::AsInt(r)));
  rt::FindTextReverse(&r, 4, args);
  const int64_t want_last = NaiveFind(input, sought, 0, std::min(s, input.size()), ignore, true);
  if (rt::AsInt(r) != want_last) Fail("FindTextReverse", input, sought + " " + std::to_string(rt::AsInt(r)));
}

void CheckSplit(std::mt19937& rng, const std::string& input) {
  const char* delims[] = {",", "\r\n", "\xA3\xAC", "年", " ", "a"};
  const std::string delim = delims[rng() % std::size(delims)];
  HeapText t(input), d(delim);
  ArgRecord args[2] = {t.Arg(), d.Arg()}, r{};
  rt::SplitText(&r, 2, args);
  auto* a = rt::AsPtr<rt::ArrayBlock>(r);
  if (!a || a->dims != 1) Fail("SplitText array", input, delim);
  auto** items = static_cast<char**>(rt::ArrayElements(a));
  std::string joined;
  for (int i = 0; i < a->sizes[0]; ++i) {
    if (i) joined += delim;
    if (items[i]) joined += items[i];
  }
  rt::FreeTextArray(a);
  if (joined != input && joined + delim != input) Fail("SplitText join", input, delim + " -> " + joined);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [SECONDS] [MAX_ROUNDS]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  const long max_rounds = argc > 3 ? std::atol(argv[3]) : 5000000;
  std::vector<std::string> corpus;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (corpus.empty()) {
    std::fprintf(stderr, "no corpus in %s\n", argv[1]);
    return 2;
  }
  std::sort(corpus.begin(), corpus.end());  // directory order varies
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  long rounds = 0;
  // Fixed seeds, one after the other, each getting an equal share of time.
  const unsigned kSeeds[] = {1, 20191017, 43755, 657434};
  for (size_t k = 0; k < std::size(kSeeds); ++k) {
    std::mt19937 rng(kSeeds[k]);
    const auto share = std::chrono::steady_clock::now() +
                       (deadline - std::chrono::steady_clock::now()) / static_cast<int>(std::size(kSeeds) - k);
    for (long n = 0; rounds < max_rounds; ++n, ++rounds) {
      if (n % 256 == 0 && std::chrono::steady_clock::now() >= share) break;
      const std::string input = Mutate(rng, corpus);
      CheckDate(input);
      CheckToInt(input);
      CheckFind(rng, input);
      CheckReplace(rng, input);
      CheckSplit(rng, input);
    }
  }
  std::printf("core_text_fuzz: %ld rounds, no failures\n", rounds);
  return 0;
}
