// The URL splitter (measure.h): an http:// or https:// URL to the host,
// port and path a connection needs, refusing what WinINet would read
// differently (user info, blanks, a bad port), and the fragment's member
// path, which stays here (no server sees it); a proxy's "host:port" by the
// same rules; and its text to and from the UTF-16 that WinHTTP takes.
#include <string>
#include <utility>

#include "measure/measure.h"

namespace measure {

namespace {

// A fragment that names a JSON member: names joined by '.', none empty, no
// blank, control byte, DEL or '#' (TryReadJsonMember splits it the same way).
bool IsMemberPath(const std::string& path) {
  bool empty_name = true;
  for (char c : path) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7F || c == '#') return false;
    if (c == '.') {
      if (empty_name) return false;
      empty_name = true;
    } else {
      empty_name = false;
    }
  }
  return !empty_name;
}

}  // namespace

bool TryParseUrl(const std::string& text, Url* url) {
  Url u;
  size_t rest;
  if (text.compare(0, 7, "http://") == 0) {
    rest = 7;
  } else if (text.compare(0, 8, "https://") == 0) {
    rest = 8;
    u.secure = true;
  } else {
    return false;
  }
  size_t slash = text.find_first_of("/?#", rest);
  std::string authority = text.substr(rest, slash == std::string::npos ? std::string::npos : slash - rest);
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  for (char c : authority)
    if (static_cast<unsigned char>(c) <= ' ' || c == '\\') return false;
  u.port = u.secure ? 443 : 80;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    std::string port = authority.substr(colon + 1);
    authority.resize(colon);
    if (port.empty() || port.size() > 5) return false;
    int v = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return false;
    u.port = v;
  }
  if (authority.empty()) return false;
  u.host = authority;
  u.path = slash == std::string::npos ? "/" : text.substr(slash);
  size_t hash = u.path.find('#');
  if (hash != std::string::npos) {
    u.field = u.path.substr(hash + 1);
    u.path.resize(hash);
    if (!u.field.empty() && !IsMemberPath(u.field)) return false;
  }
  if (u.path.empty() || u.path[0] != '/') u.path.insert(0, "/");
  for (char c : u.path)
    if (static_cast<unsigned char>(c) <= ' ') return false;
  *url = u;
  return true;
}

bool TryParseProxy(const std::string& text, Proxy* proxy) {
  // A URL's authority with its port required and nothing after it; ASCII
  // only, as WinHTTP takes the name in UTF-16.
  Url parts;
  size_t colon = text.rfind(':');
  if (text.find_first_of("/?#") != std::string::npos || colon == std::string::npos ||
      text.find(']', colon) != std::string::npos || !TryParseUrl("http://" + text, &parts))
    return false;
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  proxy->mode = ProxyMode::kNamed;
  proxy->server = text;
  return true;
}

size_t TakeProxyWords(const std::vector<std::string>& words, size_t i, Proxy* proxy) {
  static constexpr char kProxy[] = "--proxy", kDirect[] = "--no-proxy", kNamed[] = "--proxy=";
  const std::string& w = words[i];
  if (w == kDirect) {
    *proxy = Proxy{ProxyMode::kDirect, ""};
    return 1;
  }
  if (w.rfind(kNamed, 0) == 0) return TryParseProxy(w.substr(sizeof kNamed - 1), proxy) ? 1 : 0;
  return w == kProxy && i + 1 < words.size() && TryParseProxy(words[i + 1], proxy) ? 2 : 0;
}

bool TryWidenAscii(const std::string& text, std::u16string* wide) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
    out += static_cast<char16_t>(c);
  }
  *wide = std::move(out);
  return true;
}

std::string NarrowToAscii(const std::u16string& wide) {
  std::string out;
  out.reserve(wide.size());
  for (char16_t u : wide) out += u < 0x80 ? static_cast<char>(u) : '?';
  return out;
}

}  // namespace measure
