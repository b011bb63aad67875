// The URL splitter (TryParseUrl) against a regular expression: http(s)://, a host without user info,
// blanks, backslashes or control bytes, a port 1..65535 after the last colon unless a ']' follows, a
// path without blanks, a fragment kept apart that is empty or names a member path (names joined by
// '.', none empty, no blank, control byte, DEL or '#'). Printable: no control byte, backslash or DEL; escapes read back.
#include <regex>

#include "measure/measure.h"
#include "tests/fuzz/fuzz_support.h"

// 1 scheme, 2 host, 3 port, 4 path and query, 5 fragment.
const std::regex kUrl(
    "(https?)://([^/?#@\\\\\\x00- ]*:[^/?#@\\\\\\x00- :]*\\][^/?#@\\\\\\x00- :]*|[^/?#@\\\\\\x00- :]+|"
    "[^/?#@\\\\\\x00- ]+(?=:\\d))(?::(\\d{1,5}))?([/?][^#\\x00- ]*)?"
    "(#(?:[^.#\\x00- \\x7F]+(?:\\.[^.#\\x00- \\x7F]+)*)?)?");

// The text Printable showed, escapes read back; false when one stands for a byte that needed none.
static bool ReadBack(const std::string& shown, std::string* text) {
  for (size_t i = 0; i < shown.size(); ++i) {
    const bool escape = shown[i] == '\\';
    const int c = escape ? std::stoi(shown.substr(i + 2, 2), nullptr, 16) : static_cast<unsigned char>(shown[i]);
    if (escape && c >= 0x20 && c != 0x7F && c != '\\') return false;
    *text += static_cast<char>(c), i += escape ? 3 : 0;
  }
  return true;
}

FUZZ_TARGET(200) {  // std::regex recurses per byte
  measure::Url got;
  const bool ok = measure::TryParseUrl(in, &got);
  std::smatch m;
  const bool matched = std::regex_match(in, m, kUrl) && (!m[3].matched || (std::stoi(m[3]) >= 1 && std::stoi(m[3]) <= 65535));
  fuzz::Check(ok == matched, ok ? "accepted a URL the rules refuse" : "refused a good URL", in);
  if (ok) {
    const std::string path = m[4].str();
    const int port = m[3].matched ? std::stoi(m[3]) : m[1] == "https" ? 443 : 80;
    fuzz::Check(got.secure == (m[1] == "https") && got.host == m[2].str() && got.port == port &&
                    got.path == (path.empty() || path[0] != '/' ? "/" + path : path) &&
                    got.field == (m[5].matched ? m[5].str().substr(1) : ""),
                "URL parts", in, got.host + " " + std::to_string(got.port) + " " + got.path);
  }
  const std::string shown = measure::Printable(in);
  for (unsigned char c : shown) fuzz::Check(c >= 0x20 && c != 0x7F, "Printable left a control byte", in, shown);
  std::string back;
  fuzz::Check(ReadBack(shown, &back) && back == in, "Printable's escapes do not read back", in, shown);
}
