// The readers of a reply's time (measure.h): the HTTP Date header's three
// forms, sysTime2's Beijing time and the strict JSON reader that finds
// sysTime2 in a reply, and the build date. Dates go through the shared
// calendar (runtime/core/calendar.h).
#include <cstdint>
#include <cstring>
#include <string>

#include "measure/measure.h"
#include "runtime/core/calendar.h"

namespace measure {

namespace {

constexpr int64_t kBeijingMinusUtc = 8 * 3600;
constexpr double kSecondsPerDay = 86400.0;

bool Digits(const std::string& t, size_t at, size_t n, int* value) {
  if (at + n > t.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *value = v;
  return true;
}

// Years of four digits at most (1601 to 9999): the product stays in range.
bool CivilToUtc(int y, int mo, int d, int h, int mi, int s, int64_t* utc) {
  if (y < 1601 || mo < 1 || mo > 12 || d < 1) return false;
  if (d > rt::MonthLength(y, mo)) return false;
  if (h > 23 || mi > 59 || s > 59) return false;
  *utc = rt::DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

int MonthIndex(const std::string& t, size_t at) {
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (at + 3 > t.size()) return 0;
  for (int i = 0; i < 12; ++i)
    if (t.compare(at, 3, kMonths[i]) == 0) return i + 1;
  return 0;
}

bool Clock(const std::string& t, size_t at, int* h, int* mi, int* s) {
  return at + 8 <= t.size() && Digits(t, at, 2, h) && t[at + 2] == ':' &&
         Digits(t, at + 3, 2, mi) && t[at + 5] == ':' && Digits(t, at + 6, 2, s);
}

}  // namespace

bool TryParseBeijingTime(const std::string& t, int64_t* utc) {
  int y, mo, d, h, mi, s;
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ') return false;
  if (!Digits(t, 0, 4, &y) || !Digits(t, 5, 2, &mo) || !Digits(t, 8, 2, &d) ||
      !Clock(t, 11, &h, &mi, &s))
    return false;
  int64_t local;
  if (!CivilToUtc(y, mo, d, h, mi, s, &local)) return false;
  *utc = local - kBeijingMinusUtc;
  return true;
}

bool TryParseHttpDate(const std::string& text, int64_t* utc) {
  std::string t = text;
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.pop_back();
  size_t start = t.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  t = t.substr(start);
  int y, mo, d, h, mi, s;
  size_t comma = t.find(',');
  if (comma == 3) {
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    if (t.size() != 29 || t[4] != ' ' || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
        t.compare(25, 4, " GMT") != 0)
      return false;
    if (!Digits(t, 5, 2, &d) || !(mo = MonthIndex(t, 8)) || !Digits(t, 12, 4, &y) ||
        !Clock(t, 17, &h, &mi, &s))
      return false;
  } else if (comma != std::string::npos) {
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
    size_t p = comma + 2;
    if (p + 22 != t.size() || t[comma + 1] != ' ' || t[p + 2] != '-' || t[p + 6] != '-' ||
        t[p + 9] != ' ' || t.compare(p + 18, 4, " GMT") != 0)
      return false;
    if (!Digits(t, p, 2, &d) || !(mo = MonthIndex(t, p + 3)) || !Digits(t, p + 7, 2, &y) ||
        !Clock(t, p + 10, &h, &mi, &s))
      return false;
    y += y < 70 ? 2000 : 1900;
  } else {
    // asctime: "Sun Nov  6 08:49:37 1994"
    if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[19] != ' ') return false;
    if (!(mo = MonthIndex(t, 4)) || !Clock(t, 11, &h, &mi, &s) || !Digits(t, 20, 4, &y))
      return false;
    std::string day = t.substr(8, 2);
    if (day[0] == ' ') day[0] = '0';
    if (!Digits(day, 0, 2, &d)) return false;
  }
  return CivilToUtc(y, mo, d, h, mi, s, utc);
}

namespace {

// A strict JSON reader over the whole reply; remembers the top-level
// member "sysTime2" when it is a string.
class JsonReader {
 public:
  explicit JsonReader(const std::string& t) : t_(t) {}
  bool ReadTop(std::string* value) {
    Space();
    if (!Object(0, value)) return false;
    Space();
    return p_ == t_.size();
  }

 private:
  static constexpr int kMaxDepth = 64;
  void Space() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r'))
      ++p_;
  }
  bool Eat(char c) {
    Space();
    if (p_ < t_.size() && t_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  static void PutUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  bool Hex4(uint32_t* v) {
    if (p_ + 4 > t_.size()) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = t_[p_++];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      *v = *v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }
  bool String(std::string* out) {
    Space();
    if (p_ >= t_.size() || t_[p_] != '"') return false;
    ++p_;
    while (p_ < t_.size()) {
      unsigned char c = static_cast<unsigned char>(t_[p_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (p_ >= t_.size()) return false;
      char e = t_[p_++];
      static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
      if (const char* f = e ? std::strchr(kFrom, e) : nullptr) {
        *out += kTo[f - kFrom];
      } else if (e == 'u') {
        uint32_t v;
        if (!Hex4(&v)) return false;
        if (v >= 0xD800 && v < 0xDC00 && p_ + 1 < t_.size() && t_[p_] == '\\' &&
            t_[p_ + 1] == 'u') {
          p_ += 2;
          uint32_t low;
          if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
          v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
        }
        PutUtf8(v, out);
      } else {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    size_t s = p_;
    if (p_ < t_.size() && t_[p_] == '-') ++p_;
    auto digits = [&] {
      size_t b = p_;
      while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9') ++p_;
      return p_ - b;
    };
    size_t first = p_;
    size_t n = digits();
    if (n == 0 || (n > 1 && t_[first] == '0')) return false;
    if (p_ < t_.size() && t_[p_] == '.') {
      ++p_;
      if (digits() == 0) return false;
    }
    if (p_ < t_.size() && (t_[p_] == 'e' || t_[p_] == 'E')) {
      ++p_;
      if (p_ < t_.size() && (t_[p_] == '+' || t_[p_] == '-')) ++p_;
      if (digits() == 0) return false;
    }
    return p_ > s;
  }
  bool Word(const char* w) {
    size_t n = std::strlen(w);
    if (t_.compare(p_, n, w) != 0) return false;
    p_ += n;
    return true;
  }
  bool Value(int depth) {
    Space();
    if (p_ >= t_.size() || depth > kMaxDepth) return false;
    char c = t_[p_];
    if (c == '{') return Object(depth + 1, nullptr);
    if (c == '[') {
      ++p_;
      if (Eat(']')) return true;
      do {
        if (!Value(depth + 1)) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') {
      std::string ignored;
      return String(&ignored);
    }
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    return Number();
  }
  // `found` is set for the top-level object only.
  bool Object(int depth, std::string* found) {
    if (!Eat('{')) return false;
    if (Eat('}')) return true;
    do {
      std::string name;
      if (!String(&name) || !Eat(':')) return false;
      Space();
      if (found && name == "sysTime2" && p_ < t_.size() && t_[p_] == '"') {
        std::string v;
        if (!String(&v)) return false;
        *found = v;
        have_ = true;
      } else {
        if (found && name == "sysTime2") have_ = false;  // a later non-string wins
        if (!Value(depth)) return false;
      }
    } while (Eat(','));
    return Eat('}');
  }

 public:
  bool have_ = false;

 private:
  const std::string& t_;
  size_t p_ = 0;
};

}  // namespace

bool TryReadSysTime2(const std::string& body, std::string* value) {
  JsonReader reader(body);
  std::string v;
  if (!reader.ReadTop(&v) || !reader.have_) return false;
  *value = v;
  return true;
}

bool TryReadServerSecond(const std::string& body, const std::string& date_header, int64_t* utc,
                         Failure* failure) {
  constexpr size_t kQuoted = 40;  // of an unreadable text, what its failure quotes
  std::string text;
  if (TryReadSysTime2(body, &text)) {
    if (TryParseBeijingTime(text, utc)) return true;
    *failure = Failure{Reason::kUnreadableSysTime2, text.substr(0, kQuoted)};
    return false;
  }
  if (date_header.empty()) {
    *failure = Failure{Reason::kUnreadableReply};
    return false;
  }
  if (TryParseHttpDate(date_header, utc)) return true;
  *failure = Failure{Reason::kUnreadableDateHeader, date_header.substr(0, kQuoted)};
  return false;
}

bool TryReadServerSecond(const std::string& body, const std::string& date_header, int64_t* utc,
                         std::string* failure) {
  Failure f;
  if (TryReadServerSecond(body, date_header, utc, &f)) return true;
  *failure = FailureText(f);
  return false;
}

double BuildDateUtc(const char* date_macro) {
  if (!date_macro) return 0;
  std::string t = date_macro;
  int d, y, mo;
  if (t.size() != 11 || !(mo = MonthIndex(t, 0))) return 0;
  std::string day = t.substr(4, 2);
  if (day[0] == ' ') day[0] = '0';
  if (!Digits(day, 0, 2, &d) || !Digits(t, 7, 4, &y)) return 0;
  int64_t utc;
  if (!CivilToUtc(y, mo, d, 0, 0, 0, &utc)) return 0;
  // The build machine's zone is unknown: a day's margin keeps an honest
  // server from being refused on the day of the build.
  return static_cast<double>(utc) - kSecondsPerDay;
}

}  // namespace measure
