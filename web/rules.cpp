#include "runtime/core/gbk_text.h"
#include "web/rules.h"

namespace web {

OwnedText TextBetween(const char* text, const char* left, const char* right, int32_t start,
                      bool ignore_case) {
  // A program cannot write a double quote inside a literal; "#引号" stands in.
  OwnedText l = Replace(left, "#" GBK_QUOTE_WORD, "\"", true);
  OwnedText r = Replace(right, "#" GBK_QUOTE_WORD, "\"", true);
  int32_t p = Find(text, Or(l), start < 1 ? 0 : start, ignore_case);
  if (p == -1) return OwnedText();
  p += Len(l);
  int32_t q = Find(text, Or(r), p, ignore_case);
  if (q == -1) return OwnedText();
  return Mid(text, p, q - p);
}

OwnedText TextAfterColon(const char* text) {
  int32_t p = Find(text, ":");
  if (p == -1) return OwnedText();
  OwnedText rest = Right(text, Len(text) - p);
  return Trim(Or(rest));
}

OwnedText TextBefore(const char* text, const char* separator, int32_t start, bool ignore_case) {
  if (start <= 0) start = 1;
  int32_t p = Find(text, separator, start, ignore_case);
  if (p == -1) return OwnedText();
  return Left(text, p - 1);
}

namespace {

// The host as the label-counting form picks it (before the port cut).
OwnedText HostByLabels(OwnedText lowered, bool main_domain, int32_t labels) {
  OwnedText u = Replace(Or(lowered), "http://", "", true);
  u = Replace(Or(u), "https://", "", true);
  int32_t slash = Find(Or(u), "/");
  if (slash != -1) u = Left(Or(u), slash - 1);
  const int32_t L = Len(u);
  int32_t P = L;
  for (int32_t i = 0; i < labels; ++i) P = FindReverse(Or(u), ".", P);
  int32_t Q = FindReverse(Or(u), ".", P);
  if (main_domain) return Right(Or(u), L - Q);
  if (Q != -1) {
    int32_t R = FindReverse(Or(u), ".", Q);
    if (R != -1) return Right(Or(u), L - R);
  }
  return u;
}

}  // namespace

OwnedText UrlHost(const char* url, bool main_domain, bool keep_port,
                  std::optional<int32_t> label_count) {
  OwnedText u = Lower(url);
  OwnedText host;
  if (label_count) {
    host = HostByLabels(std::move(u), main_domain, *label_count);
  } else {
    OwnedText last = Right(Or(u), 1);
    if (!Same(last.get(), "/")) Append(u, {"/"});
    OwnedText scheme = Left(Or(u), 8);
    if (Same(scheme.get(), "https://")) {
      host = TextBetween(Or(u), "https://", "/");
    } else {
      if (Find(Or(u), "http://") == -1) u = Concat({"http://", Or(u)});
      host = TextBetween(Or(u), "http://", "/");
    }
    if (main_domain) {
      TextList parts = Split(Or(host), ".");
      if (parts.size() > 1)
        host = Concat({parts[parts.size() - 2], ".", parts[parts.size() - 1]});
    }
  }
  if (keep_port) return host;
  int32_t colon = Find(Or(host), ":");
  if (colon != -1) return Left(Or(host), colon - 1);
  return host;
}

int32_t UrlPort(const char* url) {
  OwnedText host = UrlHost(url, false, true);
  int32_t colon = FindReverse(Or(host), ":");
  if (colon != -1) {
    OwnedText digits = Right(Or(host), Len(host) - colon);
    return TextToInt(Or(digits));
  }
  OwnedText lowered = Lower(url);
  OwnedText scheme = Left(Or(lowered), 5);
  return Same(scheme.get(), "https") ? 443 : 80;
}

OwnedText UrlPath(const char* url) {
  OwnedText host = UrlHost(url);
  // The host is looked for after the scheme, so that a host such as "t" or
  // "http" is not found inside "http://" itself.
  const int32_t scheme = Find(url, "://");
  int32_t p = Find(url, Or(host), scheme == -1 ? 1 : scheme + 3, true);
  int32_t q = Find(url, "/", p, true);
  if (q > 0) return Right(url, Len(url) - q + 1);
  return Concat({"/"});
}

OwnedText CapitalizeFirst(const char* text) {
  OwnedText first = Left(text, 1);
  OwnedText upper = Upper(Or(first));
  OwnedText rest = Mid(text, 2, Len(text));
  return Concat({Or(upper), Or(rest)});
}

OwnedText NormalizeHeaderNames(const char* headers) {
  TextList lines = Split(headers, "\r\n");
  OwnedText out;
  for (int32_t i = 0; i < lines.size(); ++i) {
    const char* line = Or(lines[i]);
    int32_t colon = Find(line, ":");
    if (colon == -1) continue;
    OwnedText name = Left(line, colon - 1);
    if (Find(Or(name), "-") != -1) {
      TextList words = Split(Or(name), "-");
      OwnedText rebuilt;
      for (int32_t w = 0; w < words.size(); ++w) {
        OwnedText word = CapitalizeFirst(Or(words[w]));
        if (w == 0)
          Append(rebuilt, {Or(word)});
        else
          Append(rebuilt, {"-", Or(word)});
      }
      name = std::move(rebuilt);
    } else {
      name = CapitalizeFirst(Or(name));
    }
    OwnedText rest = Right(line, Len(line) - colon + 1);
    Append(out, {Or(name), Or(rest), "\r\n"});
  }
  return Left(Or(out), Len(out) - 2);
}

OwnedText CookieName(const char* item) {
  int32_t eq = Find(item, "=");
  if (eq == -1) return Trim(item);
  OwnedText name = Left(item, eq - 1);
  return Trim(Or(name));
}

bool CookieListHasName(const TextList& list, const char* name) {
  for (int32_t i = 0; i < list.size(); ++i) {
    OwnedText n = CookieName(Or(list[i]));
    if (Same(n.get(), name)) return true;
  }
  return false;
}

OwnedText MergeCookies(OwnedText& submitted, OwnedText& returned) {
  submitted = RemoveBlanks(Or(submitted));
  returned = RemoveBlanks(Or(returned));
  TextList old_items = Split(Or(submitted), ";");
  TextList items = Split(Or(returned), ";");
  for (int32_t i = 0; i < old_items.size(); ++i) {
    OwnedText name = CookieName(Or(old_items[i]));
    // The list grows as old items are added, so of several old items with
    // one name only the first gets in.
    if (!CookieListHasName(items, Or(name))) items.push_back(CopyOf(Or(old_items[i])));
  }
  OwnedText merged;
  for (int32_t i = 0; i < items.size(); ++i) {
    OwnedText tail = Right(Or(items[i]), 8);
    if (Same(tail.get(), "=deleted")) continue;
    Append(merged, {Or(items[i]), "; "});
  }
  merged = Left(Or(merged), Len(merged) - 2);
  submitted = RemoveDuplicateItems(Or(merged), "; ", 1);
  return CopyOf(Or(submitted));
}

int32_t SplitCharacters(const char* text, TextList& out) {
  out = TextList();
  OwnedBytes bytes = TextToBytes(text);
  const int32_t n = BytesLen(bytes.get());
  const uint8_t* b = n ? bytes.get()->data : nullptr;
  for (int32_t pos = 1; pos <= n;) {
    uint8_t c = b[pos - 1];
    int32_t step = 1;
    if (pos == n)
      step = 1;
    else if (c > 0x80)
      step = 2;
    else if (c == 0x0D && b[pos] == 0x0A)
      step = 2;
    OwnedBytes piece = BytesMid(bytes.get(), pos, step);
    out.push_back(BytesToText(piece.get()));
    pos += step;
  }
  return out.size();
}

int32_t FindTextInArray(const TextList& list, const char* text) {
  for (int32_t i = 0; i < list.size(); ++i)
    if (Same(list[i], text)) return i + 1;
  return -1;
}

OwnedText RemoveDuplicateItems(const char* text, const char* separator, int32_t mode) {
  TextList items;
  if (mode == 0)
    SplitCharacters(text, items);
  else
    items = Split(text, separator);
  TextList taken;
  OwnedText out;
  for (int32_t i = 0; i < items.size(); ++i) {
    if (FindTextInArray(taken, items[i]) != -1) continue;
    taken.push_back(CopyOf(Or(items[i])));
    Append(out, {Or(items[i]), separator});
  }
  return Left(Or(out), Len(out) - Len(separator));
}

}  // namespace web
