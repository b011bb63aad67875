#include "precise/policy.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "runtime/core/gbk_text.h"
#include "runtime/core/table_rows.h"

namespace precise {

Guard GuardFor(int64_t correction_ms) {
  // llabs of INT64_MIN is undefined; anything that large is refused anyway.
  if (correction_ms > kRefuseAboveMs || correction_ms < -kRefuseAboveMs) return Guard::kRefuse;
  if (correction_ms > kAskAboveMs || correction_ms < -kAskAboveMs) return Guard::kAsk;
  return Guard::kApply;
}

int Outcome::Answered() const {
  int n = 0;
  for (const SourceView& s : sources) n += s.state == SourceState::kAnswered;
  return n;
}

int Outcome::FalseTickers() const {
  int n = 0;
  for (const SourceView& s : sources) n += s.state == SourceState::kFalseTicker;
  return n;
}

bool Agreed(const Outcome& o, size_t configured_sources) {
  int agreeing = o.Answered();
  bool enough = agreeing >= 2 || (agreeing == 1 && configured_sources == 1);
  return o.has_offset && !o.disagree && enough && agreeing > o.FalseTickers();
}

AutoDecision DecideAuto(const Outcome& o, const AutoPeriods& p, size_t configured_sources) {
  using D = AutoDecision;
  if (o.disagree) return D::kSourcesDisagree;
  // A figure that is not a number says nothing about the clock.
  if (!o.has_offset || !std::isfinite(o.offset_ms) || !std::isfinite(o.bound_ms)) return D::kNoOffset;
  if (!Agreed(o, configured_sources)) return D::kTooFewAgree;
  double distance = std::fabs(o.offset_ms), bound = std::fabs(o.bound_ms);
  double threshold = static_cast<double>(p.threshold_ms);
  if (distance + bound <= threshold) return D::kWithinThreshold;
  if (distance - bound <= static_cast<double>(kCertainMarginMs)) return D::kUncertain;
  if (distance <= threshold) return D::kWithinThreshold;
  // Unattended, nothing that would need a question is applied.
  if (GuardFor(std::llround(o.offset_ms)) != Guard::kApply) return D::kNeedsQuestion;
  return D::kSet;
}

int64_t NextAutoDelayMs(const AutoPeriods& p, int failures_in_a_row) {
  if (failures_in_a_row <= 0) return p.period_ms;
  int64_t delay = p.first_retry_ms;
  for (int i = 1; i < failures_in_a_row && delay < p.period_ms; ++i) delay *= 2;
  return delay < p.period_ms ? delay : p.period_ms;
}

void AutoSchedule::TurnOn(int64_t now_ms) {
  on_ = true;
  pending_ = false;
  failures_ = 0;
  next_due_ms_ = now_ms;
}

void AutoSchedule::TurnOff() {
  on_ = false;
  pending_ = false;
}

bool AutoSchedule::TakeDue(int64_t now_ms) {
  if (!on_ || pending_ || now_ms < next_due_ms_) return false;
  pending_ = true;
  last_start_ms_ = now_ms;
  return true;
}

bool AutoSchedule::Finished(int64_t now_ms, bool agreed) {
  have_result_ = true;
  result_ms_ = now_ms;
  if (!pending_) return false;  // a pressed measurement: the schedule stays
  pending_ = false;
  // Counted from the start, so that neither the measurement's own length
  // nor the presses in between move the rhythm.
  failures_ = agreed ? 0 : failures_ + 1;
  next_due_ms_ = last_start_ms_ + NextAutoDelayMs(periods_, failures_);
  return true;
}

bool AutoSchedule::Fresh(int64_t now_ms) const { return have_result_ && now_ms - result_ms_ < kFreshMs; }

std::vector<std::string> SplitCommandLine(const std::string& line) {
  // Backslashes are kept as they are: URLs and numbers never need them
  // doubled, and a quoted program path ends at its closing quote.
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') quoted = !quoted;
      else if (!quoted && (c == ' ' || c == '\t')) break;
      else word += c;
    }
    out.push_back(word);
  }
  return out;
}

namespace {

constexpr char kApplyPrefix[] = "--apply-offset=";

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// A whole decimal number of milliseconds, optionally signed, nothing else.
std::optional<int64_t> ReadMs(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  size_t at = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  int64_t v = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    int digit = text[i] - '0';
    // Nineteen digits can exceed int64_t: such an offset is no offset.
    if (v > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return text[0] == '-' ? -v : v;
}

}  // namespace

CommandLine ReadCommandLine(const std::string& line) {
  CommandLine cl;
  std::vector<std::string> words = SplitCommandLine(line);
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (StartsWith(w, "http://") || StartsWith(w, "https://")) {
      cl.urls.push_back(w);
    } else if (StartsWith(w, kApplyPrefix)) {
      cl.apply_offset_ms = ReadMs(w.substr(sizeof kApplyPrefix - 1));
      if (!cl.apply_offset_ms) cl.unknown.push_back(w);
    } else {
      cl.unknown.push_back(w);
    }
  }
  return cl;
}

std::vector<std::string> UrlsIn(const std::string& text) {
  return ReadCommandLine("- " + text).urls;  // a stand-in for the program's own name
}

std::string ApplyOffsetArgument(int64_t offset_ms) {
  return kApplyPrefix + std::to_string(offset_ms);
}

// Civil dates from days since 1970-01-01 (the way there is the engine's
// measure::DaysFromCivil), over the proleptic Gregorian calendar in 400-year
// eras (146097 days each).
namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

Fields FieldsOf(int64_t unix_ms) {
  int64_t days = FloorDiv(unix_ms, 86400000);
  int64_t in_day = unix_ms - days * 86400000;
  int64_t z = days + 719468;
  int64_t era = FloorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  Fields f{};
  f.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  f.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  f.year = static_cast<int>(yoe + era * 400 + (f.month <= 2));
  f.hour = static_cast<int>(in_day / 3600000);
  f.minute = static_cast<int>(in_day / 60000 % 60);
  f.second = static_cast<int>(in_day / 1000 % 60);
  f.millisecond = static_cast<int>(in_day % 1000);
  f.day_of_week = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  return f;
}

int64_t UnixMsOf(const Fields& f) {
  int64_t days =
      measure::DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day));
  return days * 86400000 + f.hour * 3600000LL + f.minute * 60000LL + f.second * 1000LL +
         f.millisecond;
}

std::string ClockText(int64_t unix_ms) {
  Fields f = FieldsOf(unix_ms);
  char text[64];
  std::snprintf(text, sizeof text, "%d" GBK_YEAR "%d" GBK_MONTH "%d" GBK_DAY "%d" GBK_HOUR "%d" GBK_MINUTE "%d.%d" GBK_SECOND, f.year, f.month, f.day, f.hour,
                f.minute, f.second, f.millisecond / 100);
  return text;
}

std::string SignedSeconds(double ms) {
  char text[48];
  double s = ms / 1000.0;
  // Rounded first, so that -0.0004 s shows as +0.000 and never as -0.000.
  double r = std::round(s * 1000.0) / 1000.0;
  std::snprintf(text, sizeof text, "%s%.3f", r < 0 ? "-" : "+", std::fabs(r));
  return text;
}

std::string SecondsText(double ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f " GBK_SECOND, std::fabs(ms) / 1000.0);
  return text;
}

std::string OffsetText(double offset_ms, double bound_ms) {
  char bound[32];
  std::snprintf(bound, sizeof bound, "%.3f", std::fabs(bound_ms) / 1000.0);
  return SignedSeconds(offset_ms) + " " GBK_SECOND " " GBK_PLUS_MINUS + bound;
}

namespace {

// The window's words for the engine's reasons, one row per code in code
// order. `number` is how the reason's number follows the text, or null.
struct ReasonRow {
  measure::Reason reason;
  const char* text;
  const char* number;
};
using R = measure::Reason;
constexpr ReasonRow kReasonTexts[] = {
    {R::kNone, GBK_PRECISE_REASON_UNKNOWN_REASON, nullptr},
    {R::kNoReply, GBK_PRECISE_NO_ANSWER, nullptr},
    {R::kTimedOut, GBK_PRECISE_REASON_TIMED_OUT, " (%u)"},
    {R::kHostNotFound, GBK_PRECISE_REASON_HOST_NOT_FOUND, " (%u)"},
    {R::kCannotConnect, GBK_PRECISE_REASON_CANNOT_CONNECT, " (%u)"},
    {R::kConnectionLost, GBK_PRECISE_REASON_CONNECTION_LOST, " (%u)"},
    {R::kInvalidResponse, GBK_PRECISE_REASON_INVALID_RESPONSE, " (%u)"},
    {R::kCertificateName, GBK_PRECISE_REASON_CERT_NAME, " (%u)"},
    {R::kCertificateDate, GBK_PRECISE_REASON_CERT_DATE, " (%u)"},
    {R::kCertificateAuthority, GBK_PRECISE_REASON_CERT_AUTHORITY, " (%u)"},
    {R::kCertificateRevocation, GBK_PRECISE_REASON_CERT_REVOCATION, " (%u)"},
    {R::kSecureChannel, GBK_PRECISE_REASON_SECURE_CHANNEL, " (%u)"},
    {R::kNetworkError, GBK_PRECISE_REASON_NETWORK_ERROR, " (%u)"},
    {R::kHttpStatus, GBK_PRECISE_REASON_HTTP_ERROR, " (HTTP %u)"},
    {R::kUnreadableReply, GBK_PRECISE_REASON_UNREADABLE_REPLY, nullptr},
    {R::kServerClockStepped, GBK_PRECISE_REASON_SERVER_CLOCK_STEPPED, nullptr},
    {R::kBadUrl, GBK_PRECISE_REASON_BAD_URL, nullptr},
    {R::kCancelled, GBK_PRECISE_CANCELLED, nullptr},
    {R::kBeforeBuildDate, GBK_PRECISE_REASON_BEFORE_BUILD_DATE, nullptr},
    {R::kTooFarFromPcClock, GBK_PRECISE_REASON_TOO_FAR_FROM_PC, nullptr},
    {R::kUnfinished, GBK_PRECISE_REASON_UNFINISHED, nullptr},
    {R::kBadInstants, GBK_PRECISE_REASON_BAD_INSTANTS, nullptr},
};
static_assert(sizeof kReasonTexts / sizeof kReasonTexts[0] == static_cast<size_t>(R::kCount),
              "one text per reason code");
static_assert(rt::RowsInKeyOrder(kReasonTexts, &ReasonRow::reason), "reason rows in code order");

}  // namespace

std::string ReasonText(measure::Reason reason, uint32_t number) {
  // A code from a newer engine than this table: the text for "unknown".
  const ReasonRow& row = rt::RowOr(kReasonTexts, static_cast<size_t>(reason), 0);
  std::string text = row.text;
  if (row.number && number != 0) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, row.number, static_cast<unsigned>(number));
    text += suffix;
  }
  return text;
}

std::string SourceLine(const SourceView& s) {
  // The URL came from a command line or the environment: a control byte in
  // it must not break the box's lines.
  const std::string url = measure::Printable(s.url);
  switch (s.state) {
    case SourceState::kAnswered:
      return GBK_PRECISE_ANSWERED "  " + OffsetText(s.offset_ms, s.bound_ms) + "  " GBK_PRECISE_ROUND_TRIP " " + SecondsText(s.rtt_ms) +
             "  " + url;
    case SourceState::kFalseTicker:
      return GBK_PRECISE_DISAGREES_WITH_OTHERS "," GBK_PRECISE_NOT_USED "  " + OffsetText(s.offset_ms, s.bound_ms) + "  " + url;
    case SourceState::kRefused:
      return GBK_PRECISE_REFUSED ": " + ReasonText(s.reason, s.reason_number) + "  " + url;
    case SourceState::kFailed:
      break;
  }
  return GBK_PRECISE_FAILED ": " + ReasonText(s.reason, s.reason_number) + "  " + url;
}

std::string SourcesText(const Outcome& o) {
  std::string text;
  for (const SourceView& s : o.sources) {
    if (!text.empty()) text += "\r\n";
    text += SourceLine(s);
  }
  return text;
}

namespace {

std::string WholeSecondsText(int64_t unix_ms) {
  Fields f = FieldsOf(unix_ms);
  char text[64];
  std::snprintf(text, sizeof text, "%d" GBK_YEAR "%d" GBK_MONTH "%d" GBK_DAY "%d" GBK_HOUR "%d" GBK_MINUTE "%d" GBK_SECOND, f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

}  // namespace

std::string AskText(int64_t pc_local_ms, int64_t target_local_ms, int64_t correction_ms) {
  return GBK_PRECISE_PC_TIME_FROM " " + WholeSecondsText(pc_local_ms) + "\r\n" GBK_PRECISE_CHANGE_TO " " +
         WholeSecondsText(target_local_ms) + "\r\n" GBK_PRECISE_ADJUST " " + SignedSeconds(static_cast<double>(correction_ms)) +
         " " GBK_SECOND GBK_FULL_STOP "\r\n\r\n" GBK_PRECISE_CALIBRATE_QUESTION "?";
}

std::string CalibrationText(int64_t local_ms, int64_t correction_ms) {
  Fields f = FieldsOf(local_ms);
  char when[48];
  std::snprintf(when, sizeof when, "%d" GBK_HOUR "%d" GBK_MINUTE "%d" GBK_SECOND, f.hour, f.minute, f.second);
  return std::string(when) + " " GBK_PRECISE_ADJUST " " + SignedSeconds(static_cast<double>(correction_ms)) + " " GBK_SECOND;
}

std::string OffsetBoxText(const Outcome& o) {
  if (o.has_offset) return OffsetText(o.offset_ms, o.bound_ms);
  return o.disagree ? GBK_PRECISE_NO_MAJORITY : GBK_PRECISE_UNKNOWN;
}

std::string MeasuredText(const Outcome& o) {
  if (o.has_offset) return GBK_PRECISE_MEASURED;
  return o.disagree ? GBK_PRECISE_NO_MAJORITY : GBK_PRECISE_NO_SOURCE;
}

namespace {

// Automatic mode's words for each decision, one row per decision in
// decision order. Where `after_threshold` is set, the threshold in
// milliseconds stands between the two parts.
struct AutoRow {
  AutoDecision decision;
  const char* text;
  const char* after_threshold;
};
using D = AutoDecision;
constexpr AutoRow kAutoTexts[] = {
    {D::kSet, GBK_PRECISE_CALIBRATED, nullptr},
    {D::kNoOffset, GBK_PRECISE_MEASURING_FAILED, nullptr},
    {D::kSourcesDisagree, GBK_PRECISE_NO_MAJORITY ", " GBK_PRECISE_NOT_AUTO_CALIBRATED, nullptr},
    {D::kTooFewAgree, GBK_PRECISE_TOO_FEW_AGREE ", " GBK_PRECISE_NOT_AUTO_CALIBRATED, nullptr},
    {D::kUncertain, GBK_PRECISE_WITHIN_BOUND ", " GBK_PRECISE_NOT_AUTO_CALIBRATED, nullptr},
    {D::kWithinThreshold, GBK_PRECISE_OFFSET_WITHIN, GBK_PRECISE_MILLISECONDS_WITHIN ", " GBK_PRECISE_NO_NEED},
    {D::kNeedsQuestion, GBK_PRECISE_OFFSET_TOO_LARGE ", " GBK_PRECISE_AUTO_LEAVES ", " GBK_PRECISE_CALIBRATE_BY_HAND, nullptr},
};
static_assert(sizeof kAutoTexts / sizeof kAutoTexts[0] == static_cast<size_t>(D::kCount),
              "one text per automatic decision");
static_assert(rt::RowsInKeyOrder(kAutoTexts, &AutoRow::decision), "automatic decision rows in decision order");

}  // namespace

std::string AutoText(AutoDecision d, const AutoPeriods& p) {
  const AutoRow& row = rt::RowOr(kAutoTexts, static_cast<size_t>(d), static_cast<size_t>(D::kNoOffset));
  std::string text = row.text;
  if (row.after_threshold) text += " " + std::to_string(p.threshold_ms) + " " + row.after_threshold;
  return text;
}

}  // namespace precise
