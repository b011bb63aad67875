// The reply's date readers against a reference that matches each form's shape and leaves the calendar to
// the C library; a moment from the input's first bytes, written by strftime in every form, reads back.
#include <time.h>

#include <cstring>
#include <map>
#include <tuple>

#include "measure/measure.h"
#include "tests/fuzz/fuzz_support.h"

// Shapes: Y N D h m s digits ('_' a day digit or blank), bbb the month's name, w any byte but a comma
// (unread weekday), a leading '*' RFC 850's weekday (any run before the first comma but of three
// bytes); others stand for themselves.
static bool Reference(const std::string& t, const char* shape, int64_t* utc) {
  static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::map<char, int> f, digits;
  size_t i = 0;
  if (*shape == '*' && ((i = t.find(',')) == std::string::npos || i == 3 || !*++shape)) return false;
  for (; *shape; ++shape, ++i) {
    const char k = *shape == '_' ? 'D' : *shape;
    char c = i < t.size() ? t[i] : '\0';
    if (i >= t.size() || (k == 'w' && c == ',')) return false;
    if (k == 'b') {
      const size_t at = kMonths.find(t.substr(i, 3));
      if (at == std::string::npos || at % 3 || t.size() - i < 3) return false;
      f['N'] = static_cast<int>(at / 3) + 1, shape += 2, i += 2;
    } else if (std::strchr("YNDhms", k)) {
      if (*shape == '_' && c == ' ') c = '0';
      if (c < '0' || c > '9') return false;
      f[k] = f[k] * 10 + (c - '0'), ++digits[k];
    } else if (k != 'w' && c != k) {
      return false;
    }
  }
  const int year = digits['Y'] == 2 ? f['Y'] + (f['Y'] < 70 ? 2000 : 1900) : f['Y'];
  if (i != t.size() || year < 1601) return false;  // FILETIME's first year
  struct tm tm = {};
  tm.tm_year = year - 1900, tm.tm_mon = f['N'] - 1, tm.tm_mday = f['D'];
  tm.tm_hour = f['h'], tm.tm_min = f['m'], tm.tm_sec = f['s'];
  auto fields = [](const struct tm& x) { return std::tie(x.tm_year, x.tm_mon, x.tm_mday, x.tm_hour, x.tm_min, x.tm_sec); };
  const struct tm want = tm;
  *utc = timegm(&tm);  // a field out of its range moves the moment
  return fields(tm) == fields(want);
}

static std::string Format(const char* format, int64_t utc) {
  time_t t = static_cast<time_t>(utc);
  struct tm tm;
  char buf[64];
  return std::string(buf, strftime(buf, sizeof buf, format, gmtime_r(&t, &tm)));
}

FUZZ_TARGET(256) {
  // The header's value comes with blanks around it; the JSON member's does not.
  const size_t last = in.find_last_not_of(" \t\r"), first = in.find_first_not_of(" \t");
  const std::string trimmed = last == std::string::npos ? "" : in.substr(first, last + 1 - first);
  int64_t got = 0, want = 0;
  bool ok = measure::TryParseHttpDate(in, &got), ref = false;
  for (const char* shape : {"www, DD bbb YYYY hh:mm:ss GMT", "*, DD-bbb-YY hh:mm:ss GMT", "www bbb _D hh:mm:ss YYYY"})
    ref = ref || Reference(trimmed, shape, &want);
  fuzz::Check(ok == ref && (!ok || got == want), "HTTP date", in, std::to_string(got) + " vs " + std::to_string(want));
  ok = measure::TryParseBeijingTime(in, &got), ref = Reference(in, "YYYY-NN-DD hh:mm:ss", &want);
  fuzz::Check(ok == ref && (!ok || got == want - 8 * 3600), "Beijing time", in, std::to_string(got));
  // The round trip, 1601 to 9999 in Beijing (RFC 850's two-digit years: 1970 to 2069).
  uint64_t seed = 0;
  std::memcpy(&seed, data, std::min<size_t>(size, 8));
  const int64_t utc = -11644473600LL + static_cast<int64_t>(seed % 265046745600ULL);
  const std::string forms[] = {Format("%a, %d %b %Y %H:%M:%S GMT", utc), Format("%A, %d-%b-%y %H:%M:%S GMT", utc),
                               Format("%a %b %e %H:%M:%S %Y", utc), Format("%Y-%m-%d %H:%M:%S", utc + 8 * 3600)};
  for (int k = 0; k < 4; ++k) {
    ok = k == 3 ? measure::TryParseBeijingTime(forms[k], &got) : measure::TryParseHttpDate(forms[k], &got);
    if (k != 1 || (utc >= 0 && utc < 3155760000))
      fuzz::Check(ok && got == utc, "date round trip", in, forms[k] + " read as " + std::to_string(got));
  }
}
