// Number text reader (ToInt on texts) against a reference from the rule: fold
// full-width (blanks kept), then read as atol does (white space, a sign, digits
// up to the first other byte, 0 for none); beyond 32 bits saturates.
#include <climits>

#include "tests/fuzz/fuzz_support.h"

namespace {

int32_t ReferenceToInt(const std::string& text) {
  const std::string t = fuzz::ReferenceFold(text);
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r'))) ++i;
  const bool negative = i < t.size() && t[i] == '-';
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  long long v = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) v = std::min<long long>(v * 10 + (t[i] - '0'), 1LL << 40);
  v = negative ? -v : v;
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
}

}  // namespace

FUZZ_TARGET(4096) {
  const std::string input = fuzz::TextOf(in);
  fuzz::HeapText text(input);
  const int32_t got = rt::AsInt(fuzz::Run(rt::ToInt, {text.Arg()}));
  const int32_t want = ReferenceToInt(input);
  fuzz::Check(got == want, "ToInt", input, std::to_string(got) + " vs " + std::to_string(want));
}
