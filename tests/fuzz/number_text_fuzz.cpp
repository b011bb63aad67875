// Number text reader (ToInt on texts) against a reference from the rule: fold full-width, read as atol does.
#include <climits>

#include "tests/fuzz/fuzz_support.h"

static int32_t ReferenceToInt(const std::string& text) {
  const std::string t = fuzz::ReferenceFold(text);
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r'))) ++i;
  const bool negative = i < t.size() && t[i] == '-';
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  long long v = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) v = std::min<long long>(v * 10 + (t[i] - '0'), 1LL << 40);
  return static_cast<int32_t>(std::clamp<long long>(negative ? -v : v, INT32_MIN, INT32_MAX));
}

FUZZ_TARGET(4096) {
  const std::string input = fuzz::TextOf(in);
  fuzz::HeapText text(input);
  const int32_t got = rt::AsInt(fuzz::Run(rt::ToInt, {text.Arg()})), want = ReferenceToInt(input);
  fuzz::Check(got == want, "ToInt", input, std::to_string(got) + " vs " + std::to_string(want));
}
