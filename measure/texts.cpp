// The engine's English (measure.h): each failure's text from its code (one
// table row per reason), the refused server's date, the query's number forms,
// and text from outside made printable. The console query prints these; a
// program in another language keeps its own table of the same codes.
#include <cstdint>
#include <cstdio>
#include <string>

#include "measure/measure.h"
#include "runtime/core/calendar.h"
#include "runtime/core/table_rows.h"

namespace measure {

namespace {

// The English of each reason, one row per code in code order. A failure
// from an exchange's step starts with the step's name and, where `number`
// is set, ends with the WinINet or WinHTTP error: "send: cannot connect (12029)".
// `text` is a format given the failure's number (the HTTP status); where
// `after_detail` is set, the failure's detail stands between the two.
struct EnglishRow {
  Reason reason;
  const char* text;
  const char* number;
  const char* after_detail;
};
using R = Reason;
constexpr EnglishRow kEnglish[] = {
    {R::kNone, "", nullptr, nullptr},
    {R::kNoReply, "no reply", nullptr, nullptr},
    {R::kTimedOut, "timed out", " (%u)", nullptr},
    {R::kNoReplyInTime, "no reply in time", nullptr, nullptr},
    {R::kHostNotFound, "host name not resolved", " (%u)", nullptr},
    {R::kCannotConnect, "cannot connect", " (%u)", nullptr},
    {R::kConnectionAborted, "connection aborted", " (%u)", nullptr},
    {R::kConnectionReset, "connection reset", " (%u)", nullptr},
    {R::kInvalidResponse, "invalid server response", " (%u)", nullptr},
    {R::kCertificateName, "certificate name does not match", " (%u)", nullptr},
    {R::kCertificateDate, "certificate date invalid", " (%u)", nullptr},
    {R::kCertificateAuthority, "certificate authority not trusted", " (%u)", nullptr},
    {R::kCertificateRevocation, "certificate revocation check failed", " (%u)", nullptr},
    {R::kCertificateRevoked, "certificate revoked", " (%u)", nullptr},
    {R::kCertificateInvalid, "certificate invalid", " (%u)", nullptr},
    {R::kSecureChannel, "secure channel error", " (%u)", nullptr},
    {R::kClientCertificateNeeded, "server asks for a client certificate", " (%u)", nullptr},
    {R::kNetworkError, "error", " %u", nullptr},
    {R::kHttpStatus, "HTTP %u, ", nullptr, nullptr},  // then why the reply gave no time
    {R::kUnreadableReply, "no sysTime2 and no Date header", nullptr, nullptr},
    {R::kUnreadableSysTime2, "unreadable sysTime2 \"", nullptr, "\""},
    {R::kUnreadableDateHeader, "unreadable Date header \"", nullptr, "\""},
    {R::kServerClockStepped, "inconsistent replies (the server clock stepped)", nullptr, nullptr},
    {R::kBadUrl, "bad URL", nullptr, nullptr},
    {R::kCancelled, "cancelled", nullptr, nullptr},
    {R::kBeforeBuildDate, "refused: server time ", nullptr, " is before this program was built"},
    {R::kTooFarFromPcClock, "refused: server time ", nullptr,
     " is more than a year from the PC clock"},
    {R::kUnfinished, "unfinished", nullptr, nullptr},
    {R::kBadInstants, "the PC's receive instant is before its send instant", nullptr, nullptr},
    {R::kFieldMissing, "no member \"", nullptr, "\" in the reply"},
    {R::kFieldNotTime, "unreadable time \"", nullptr,
     "\" (not Unix milliseconds or a date-time with fractions)"},
    {R::kFieldNegative, "negative time \"", nullptr, "\""},
    {R::kFieldInSeconds, "seconds, not milliseconds (as milliseconds the time is ", nullptr, ")"},
};
static_assert(sizeof kEnglish / sizeof kEnglish[0] == static_cast<size_t>(R::kCount),
              "one English text per reason code");
static_assert(rt::RowsInKeyOrder(kEnglish, &EnglishRow::reason), "reason rows in code order");

// The WinINet call each step of an exchange makes, as its failure names it.
constexpr const char* kStepNames[] = {"", "InternetOpen", "connect", "open request", "send"};
static_assert(sizeof kStepNames / sizeof kStepNames[0] == static_cast<size_t>(Step::kCount),
              "one name per step");

}  // namespace

std::string FailureText(const Failure& f) {
  // A code from a newer engine than this table reads as no reply.
  const EnglishRow& row = rt::RowOr(kEnglish, static_cast<size_t>(f.reason), 1);
  char buf[96];
  std::snprintf(buf, sizeof buf, row.text, static_cast<unsigned>(f.number));
  std::string text = buf;
  if (f.step != Step::kNone) {
    text = rt::RowOr(kStepNames, static_cast<size_t>(f.step), 0) + (": " + text);
    if (row.number) {
      std::snprintf(buf, sizeof buf, row.number, static_cast<unsigned>(f.number));
      text += buf;
    }
  }
  if (row.after_detail) text += f.detail + row.after_detail;
  if (f.reason == Reason::kHttpStatus && f.reply != Reason::kHttpStatus)
    text += FailureText(Failure{f.reply, f.detail});
  return text;
}

// Any int64 second, as a reply may carry one: the day is a floor division
// (no negation, which overflows at the minimum), and the calendar takes any
// day count.
std::string DateText(int64_t utc) {
  const rt::CivilDate c = rt::CivilFromDays(utc / 86400 - (utc % 86400 < 0));
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(c.year), c.month,
                c.day);
  return buf;
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F && b != '\\') {
      out += c;
      continue;
    }
    char esc[5];
    std::snprintf(esc, sizeof esc, "\\x%02X", b);
    out += esc;
  }
  return out;
}

std::string FormatSeconds(double s, bool sign) {
  char buf[48];
  std::snprintf(buf, sizeof buf, sign ? "%+.3f" : "%.3f", s);
  std::string r = buf;
  if (r == "-0.000") r = "+0.000";
  return r;
}

}  // namespace measure
