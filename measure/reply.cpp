// The readers of a reply's time (measure.h): the HTTP Date header's three
// forms, sysTime2's Beijing time, a named member's finer time (Unix
// milliseconds or a date-time with fractions), the strict JSON reader that
// finds either member in a reply, and the build date. Dates go through the shared
// calendar (runtime/core/calendar.h).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// A strict JSON reader over the whole reply; remembers the member a path
// of names leads to (the last of equal names at each step), its kind and
// its text.
class JsonReader {
 public:
  JsonReader(const std::string& t, const std::vector<std::string>& path) : t_(t), path_(path) {}
  bool ReadTop() {
    Space();
    if (!Object(0, 0)) return false;
    Space();
    return p_ == t_.size();
  }
  JsonMember found_;

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
  bool Number(std::string* text = nullptr) {
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
    if (text) text->assign(t_, s, p_ - s);
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
    if (c == '{') return Object(depth + 1, kOffPath);
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
  // The member the path leads to, kept with its kind: a later one of the
  // same name replaces it, whatever its kind.
  bool Leaf(int depth) {
    Space();
    if (p_ >= t_.size() || depth > kMaxDepth) return false;
    JsonMember m;
    char c = t_[p_];
    if (c == '"') {
      m.kind = JsonMember::Kind::kString;
      if (!String(&m.text)) return false;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      m.kind = JsonMember::Kind::kNumber;
      if (!Number(&m.text)) return false;
    } else {
      m.kind = JsonMember::Kind::kOther;
      size_t start = p_;
      if (!Value(depth)) return false;
      m.text.assign(t_, start, p_ - start);
    }
    found_ = m;
    return true;
  }
  // `level` is how far along the path this object lies (kOffPath: off it).
  // A later member of a name on the path replaces all that an earlier one
  // held, as the last of equal names does in a script's reading.
  static constexpr size_t kOffPath = ~size_t{0};
  bool Object(int depth, size_t level) {
    if (!Eat('{')) return false;
    if (Eat('}')) return true;
    do {
      std::string name;
      if (!String(&name) || !Eat(':')) return false;
      bool on_path = level < path_.size() && name == path_[level];
      if (on_path && level + 1 == path_.size()) {
        if (!Leaf(depth)) return false;
        continue;
      }
      if (on_path) found_ = JsonMember{};
      Space();
      if (on_path && p_ < t_.size() && t_[p_] == '{') {
        if (depth > kMaxDepth || !Object(depth + 1, level + 1)) return false;
      } else if (!Value(depth)) {
        return false;
      }
    } while (Eat(','));
    return Eat('}');
  }

  const std::string& t_;
  const std::vector<std::string>& path_;
  size_t p_ = 0;
};

}  // namespace

bool TryReadJsonMember(const std::string& body, const std::string& path, JsonMember* member) {
  std::vector<std::string> names(1);
  for (char c : path) {
    if (c != '.') {
      names.back() += c;
      continue;
    }
    if (names.back().empty()) return false;
    names.emplace_back();
  }
  if (names.back().empty()) return false;
  JsonReader reader(body, names);
  if (!reader.ReadTop()) return false;
  *member = reader.found_;
  return true;
}

bool TryReadSysTime2(const std::string& body, std::string* value) {
  JsonMember m;
  if (!TryReadJsonMember(body, "sysTime2", &m) || m.kind != JsonMember::Kind::kString) return false;
  *value = m.text;
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

namespace {

constexpr size_t kQuotedValue = 40;  // of an unreadable member, what its failure quotes
constexpr int kFinestDigits = 6;     // of a second: 1 us, what a double of utc seconds still holds

// Digits t[at, end) after a decimal point, `shift` places of a second
// already given (3 for milliseconds): their value in microseconds, cut at
// the sixth place, and the resolution of the last digit (1 us at the finest).
bool Fraction(const std::string& t, size_t at, size_t end, int shift, int64_t* micro,
              double* resolution) {
  if (end <= at) return false;
  int64_t v = 0;
  int places = shift;
  for (size_t i = at; i < end; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    if (places < kFinestDigits) v = v * 10 + (t[i] - '0'), ++places;
  }
  for (int p = places; p < kFinestDigits; ++p) v *= 10;
  *micro = v;
  *resolution = 1.0;
  for (int p = 0; p < places; ++p) *resolution /= 10;
  return true;
}

// A JSON number's text (already checked as JSON) as Unix milliseconds.
bool ReadUnixMs(const std::string& t, FineTime* f, bool* negative) {
  if (!t.empty() && t[0] == '-') {
    *negative = true;
    return false;
  }
  size_t point = t.find_first_of(".eE");
  size_t whole = point == std::string::npos ? t.size() : point;
  if (whole > 18 || t.find_first_of("eE") != std::string::npos) return false;
  int64_t ms = 0;
  for (size_t i = 0; i < whole; ++i) ms = ms * 10 + (t[i] - '0');
  int64_t micro = 0;  // of the millisecond's fraction
  f->resolution = 0.001;
  if (point != std::string::npos && !Fraction(t, point + 1, t.size(), 3, &micro, &f->resolution))
    return false;
  f->second = ms / 1000;
  f->fraction = static_cast<double>(ms % 1000 * 1000 + micro) / 1e6;
  f->unix_number = true;
  return true;
}

// "2026-12-07T21:00:00.123Z", "...+08:00" or "-05:30", or Beijing time
// "2026-12-08 05:00:00.123"; 1 to 9 fraction digits.
bool ReadDateTime(const std::string& t, FineTime* f) {
  int y, mo, d, h, mi, s;
  if (t.size() < 21 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') ||
      t[19] != '.')
    return false;
  if (!Digits(t, 0, 4, &y) || !Digits(t, 5, 2, &mo) || !Digits(t, 8, 2, &d) ||
      !Clock(t, 11, &h, &mi, &s))
    return false;
  size_t end = t.find_first_not_of("0123456789", 20);
  if (end == std::string::npos) end = t.size();
  if (end - 20 > 9) return false;
  int64_t micro, local;
  if (!Fraction(t, 20, end, 0, &micro, &f->resolution) || !CivilToUtc(y, mo, d, h, mi, s, &local))
    return false;
  int64_t east = 0;  // the zone's offset east of UTC, seconds
  const std::string zone = t.substr(end);
  if (t[10] == ' ') {
    if (!zone.empty()) return false;
    east = kBeijingMinusUtc;
  } else if (zone != "Z") {
    int zh, zm;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
        !Digits(zone, 1, 2, &zh) || !Digits(zone, 4, 2, &zm) || zh > 23 || zm > 59)
      return false;
    east = (zh * 3600 + zm * 60) * (zone[0] == '-' ? -1 : 1);
  }
  f->second = local - east;
  f->fraction = static_cast<double>(micro) / 1e6;
  f->unix_number = false;
  return true;
}

}  // namespace

bool TryReadFineTime(const std::string& body, const std::string& path, FineTime* time,
                     Failure* failure) {
  JsonMember m;
  if (!TryReadJsonMember(body, path, &m) || m.kind == JsonMember::Kind::kMissing) {
    *failure = Failure{Reason::kFieldMissing, path};
    return false;
  }
  FineTime f;
  bool negative = false;
  bool ok = m.kind == JsonMember::Kind::kNumber ? ReadUnixMs(m.text, &f, &negative)
            : m.kind == JsonMember::Kind::kString ? ReadDateTime(m.text, &f)
                                                  : false;
  if (ok) {
    *time = f;
    return true;
  }
  *failure = Failure{negative ? Reason::kFieldNegative : Reason::kFieldNotTime,
                     m.text.substr(0, kQuotedValue)};
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
