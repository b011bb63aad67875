// The web client's URL, header and cookie rules on two texts split by a zero byte: the host starts host:port,
// a path "/", merged cookies are the submitted ones rewritten without double blanks, characters join back.
#include "tests/fuzz/fuzz_support.h"
#include "web/rules.h"

static std::string S(const prog::OwnedText& t) { return t.get() ? t.get() : ""; }

FUZZ_TARGET(8192) {
  const std::string first = fuzz::TextOf(in);
  const std::string other = first.size() < size ? fuzz::TextOf(in.substr(first.size() + 1)) : first;
  fuzz::HeapText text(first), second(other);
  const char* t = text.c_str();
  const std::string host = S(web::UrlHost(t)), path = S(web::UrlPath(t));
  fuzz::Check(S(web::UrlHost(t, false, true)).rfind(host, 0) == 0, "host is the start of host:port", in);
  fuzz::Check(!path.empty() && path[0] == '/', "path starts with a slash", in);
  web::UrlHost(t, true, true, static_cast<int32_t>(size % 4)), web::UrlPort(t), web::NormalizeHeaderNames(t);
  web::TextAfterColon(t), web::TextBefore(t, second.c_str()), web::TextBetween(t, second.c_str(), ";");
  web::RemoveDuplicateItems(t, ";", static_cast<int32_t>(size % 3));
  web::TextList chars;
  const int32_t n = web::SplitCharacters(t, chars);
  std::string joined;
  for (int32_t i = 0; i < n; ++i) joined += chars[i] ? chars[i] : "";
  fuzz::Check(joined == first, "characters join back to the text", in);
  prog::OwnedText s = web::CopyOf(t), r = web::CopyOf(second.c_str());
  const std::string merged = S(web::MergeCookies(s, r));
  fuzz::Check(merged == S(s), "merge rewrites the submitted cookies", in, other);
  fuzz::Check(merged.find("  ") == std::string::npos, "merged cookies hold no double blank", in, other);
}
