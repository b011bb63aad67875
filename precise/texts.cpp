// The precise program's texts (policy.h), GBK as the program's literals are
// (runtime/core/gbk_text.h): clocks, offsets, each source's line with the
// Chinese of the engine's reasons (one row per code), the question before a
// large correction and automatic mode's status; and the calendar fields
// they are made of (through the shared calendar, runtime/core/calendar.h).
#include <cmath>
#include <cstdio>

#include "precise/policy.h"
#include "runtime/core/calendar.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/table_rows.h"

namespace precise {

Fields FieldsOf(int64_t unix_ms) {
  constexpr int64_t kMsPerDay = 86400000;
  // No product of days: at the ends of int64 it would leave the range.
  const int64_t days = rt::FloorDiv(unix_ms, kMsPerDay);
  const int64_t in_day = unix_ms % kMsPerDay + (unix_ms % kMsPerDay < 0 ? kMsPerDay : 0);
  const rt::CivilDate c = rt::CivilFromDays(days);
  Fields f{};
  f.year = static_cast<int>(c.year);  // within 300 million years of 1970
  f.month = c.month;
  f.day = c.day;
  f.hour = static_cast<int>(in_day / 3600000);
  f.minute = static_cast<int>(in_day / 60000 % 60);
  f.second = static_cast<int>(in_day / 1000 % 60);
  f.millisecond = static_cast<int>(in_day % 1000);
  f.day_of_week = rt::Weekday(days);
  return f;
}

// The product stays in range for the years a clock shows (a few thousand).
int64_t UnixMsOf(const Fields& f) {
  return rt::DaysFromCivil(f.year, f.month, f.day) * 86400000 + f.hour * 3600000LL +
         f.minute * 60000LL + f.second * 1000LL + f.millisecond;
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
    {R::kNoReplyInTime, GBK_PRECISE_REASON_TIMED_OUT, " (%u)"},
    {R::kHostNotFound, GBK_PRECISE_REASON_HOST_NOT_FOUND, " (%u)"},
    {R::kCannotConnect, GBK_PRECISE_REASON_CANNOT_CONNECT, " (%u)"},
    {R::kConnectionAborted, GBK_PRECISE_REASON_CONNECTION_LOST, " (%u)"},
    {R::kConnectionReset, GBK_PRECISE_REASON_CONNECTION_LOST, " (%u)"},
    {R::kInvalidResponse, GBK_PRECISE_REASON_INVALID_RESPONSE, " (%u)"},
    {R::kCertificateName, GBK_PRECISE_REASON_CERT_NAME, " (%u)"},
    {R::kCertificateDate, GBK_PRECISE_REASON_CERT_DATE, " (%u)"},
    {R::kCertificateAuthority, GBK_PRECISE_REASON_CERT_AUTHORITY, " (%u)"},
    {R::kCertificateRevocation, GBK_PRECISE_REASON_CERT_REVOCATION, " (%u)"},
    {R::kCertificateRevoked, GBK_PRECISE_REASON_CERT_REVOKED, " (%u)"},
    {R::kCertificateInvalid, GBK_PRECISE_REASON_CERT_INVALID, " (%u)"},
    {R::kSecureChannel, GBK_PRECISE_REASON_SECURE_CHANNEL, " (%u)"},
    {R::kClientCertificateNeeded, GBK_PRECISE_REASON_CLIENT_CERT_NEEDED, " (%u)"},
    {R::kNetworkError, GBK_PRECISE_REASON_NETWORK_ERROR, " (%u)"},
    {R::kHttpStatus, GBK_PRECISE_REASON_HTTP_ERROR, " (HTTP %u)"},
    {R::kUnreadableReply, GBK_PRECISE_REASON_UNREADABLE_REPLY, nullptr},
    {R::kUnreadableSysTime2, GBK_PRECISE_REASON_UNREADABLE_REPLY, nullptr},
    {R::kUnreadableDateHeader, GBK_PRECISE_REASON_UNREADABLE_REPLY, nullptr},
    {R::kServerClockStepped, GBK_PRECISE_REASON_SERVER_CLOCK_STEPPED, nullptr},
    {R::kBadUrl, GBK_PRECISE_REASON_BAD_URL, nullptr},
    {R::kCancelled, GBK_PRECISE_CANCELLED, nullptr},
    {R::kBeforeBuildDate, GBK_PRECISE_REASON_BEFORE_BUILD_DATE, nullptr},
    {R::kTooFarFromPcClock, GBK_PRECISE_REASON_TOO_FAR_FROM_PC, nullptr},
    {R::kUnfinished, GBK_PRECISE_REASON_UNFINISHED, nullptr},
    {R::kBadInstants, GBK_PRECISE_REASON_BAD_INSTANTS, nullptr},
    {R::kFieldMissing, GBK_PRECISE_REASON_FIELD_MISSING, nullptr},
    {R::kFieldNotTime, GBK_PRECISE_REASON_FIELD_NOT_TIME, nullptr},
    {R::kFieldNegative, GBK_PRECISE_REASON_FIELD_NEGATIVE, nullptr},
    {R::kFieldInSeconds, GBK_PRECISE_REASON_FIELD_IN_SECONDS, nullptr},
    {R::kCachedReply, GBK_PRECISE_REASON_CACHED_REPLY, nullptr},
    {R::kProxyErrorPage, GBK_PRECISE_REASON_PROXY_ERROR_PAGE, " (HTTP %u)"},
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
    case measure::SourceState::kAnswered:
      return GBK_PRECISE_ANSWERED "  " + OffsetText(s.offset_ms, s.bound_ms) + "  " GBK_PRECISE_ROUND_TRIP " " + SecondsText(s.rtt_ms) +
             "  " + url;
    case measure::SourceState::kFalseTicker:
      return GBK_PRECISE_DISAGREES_WITH_OTHERS "," GBK_PRECISE_NOT_USED "  " + OffsetText(s.offset_ms, s.bound_ms) + "  " + url;
    case measure::SourceState::kRefused:
      return GBK_PRECISE_REFUSED ": " + ReasonText(s.reason, s.reason_number) + "  " + url;
    case measure::SourceState::kFailed:
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
