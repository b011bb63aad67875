// The engine's English (measure.h): each failure's text from its code (one
// table row per reason; the words of WinINet's and WinHTTP's other errors,
// one row per number), the refused server's date, the query's number forms,
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
// from an exchange's step starts with the step's name and, where `numbered`
// is set, the WinINet or WinHTTP error's number before the words, as
// Windows tools print an error: "send: 12029: cannot connect". `text` is a
// format given the failure's number (the HTTP status); where `after_detail`
// is set, the failure's detail stands between the two.
struct EnglishRow {
  Reason reason;
  const char* text;
  bool numbered;
  const char* after_detail;
};
using R = Reason;
constexpr EnglishRow kEnglish[] = {
    {R::kNone, "", false, nullptr},
    {R::kNoReply, "no reply", false, nullptr},
    {R::kTimedOut, "timed out", true, nullptr},
    {R::kNoReplyInTime, "no reply in time", false, nullptr},
    {R::kHostNotFound, "host name not resolved", true, nullptr},
    {R::kCannotConnect, "cannot connect", true, nullptr},
    {R::kConnectionAborted, "connection aborted", true, nullptr},
    {R::kConnectionReset, "connection reset", true, nullptr},
    {R::kInvalidResponse, "invalid server response", true, nullptr},
    {R::kCertificateName, "certificate name does not match", true, nullptr},
    {R::kCertificateDate, "certificate date invalid", true, nullptr},
    {R::kCertificateAuthority, "certificate authority not trusted", true, nullptr},
    {R::kCertificateRevocation, "certificate revocation check failed", true, nullptr},
    {R::kCertificateRevoked, "certificate revoked", true, nullptr},
    {R::kCertificateInvalid, "certificate invalid", true, nullptr},
    {R::kSecureChannel, "secure channel error", true, nullptr},
    {R::kClientCertificateNeeded, "server asks for a client certificate", true, nullptr},
    {R::kNetworkError, "error", true, nullptr},
    {R::kHttpStatus, "HTTP %u, ", false, nullptr},  // then why the reply gave no time
    {R::kUnreadableReply, "no sysTime2 and no Date header", false, nullptr},
    {R::kUnreadableSysTime2, "unreadable sysTime2 \"", false, "\""},
    {R::kUnreadableDateHeader, "unreadable Date header \"", false, "\""},
    {R::kServerClockStepped, "inconsistent replies (the server clock stepped)", false, nullptr},
    {R::kBadUrl, "bad URL", false, nullptr},
    {R::kCancelled, "cancelled", false, nullptr},
    {R::kBeforeBuildDate, "refused: server time ", false, " is before this program was built"},
    {R::kTooFarFromPcClock, "refused: server time ", false,
     " is more than a year from the PC clock"},
    {R::kUnfinished, "unfinished", false, nullptr},
    {R::kBadInstants, "the PC's receive instant is before its send instant", false, nullptr},
    {R::kFieldMissing, "no member \"", false, "\" in the reply"},
    {R::kFieldNotTime, "unreadable time \"", false,
     "\" (not Unix milliseconds or a date-time with fractions)"},
    {R::kFieldNegative, "negative time \"", false, "\""},
    {R::kFieldInSeconds, "seconds, not milliseconds (as milliseconds the time is ", false, ")"},
    {R::kCachedReply, "refused: a cache answered with ", false, ""},  // "Age: 5", "a Date 2 s old"
    {R::kProxyErrorPage, "an error page a proxy on the way may have written", false, nullptr},
};
static_assert(sizeof kEnglish / sizeof kEnglish[0] == static_cast<size_t>(R::kCount),
              "one English text per reason code");
static_assert(rt::RowsInKeyOrder(kEnglish, &EnglishRow::reason), "reason rows in code order");

// The words of the WinINet and WinHTTP errors that have no reason of their
// own (kNetworkError), one row per number in number order (the two APIs
// share their numbers; where they mean different things both are named).
struct ErrorWords {
  uint32_t number;
  const char* words;
};
constexpr ErrorWords kErrorWords[] = {
    {12001, "out of handles"},
    {12003, "extended error"},
    {12004, "internal error"},
    {12005, "invalid URL"},
    {12006, "unrecognized scheme"},
    {12008, "protocol not found"},
    {12009, "invalid option"},
    {12010, "bad option length"},
    {12011, "option not settable"},
    {12012, "shutting down"},
    {12013, "incorrect user name"},
    {12014, "incorrect password"},
    {12015, "login failure"},
    {12016, "invalid operation"},
    {12017, "operation cancelled"},
    {12018, "incorrect handle type"},
    {12019, "incorrect handle state"},
    {12020, "not a proxy request"},
    {12021, "registry value not found"},
    {12022, "bad registry parameter"},
    {12023, "no direct access"},
    {12024, "no context"},
    {12025, "no callback"},
    {12026, "request pending"},
    {12027, "incorrect format"},
    {12028, "item not found"},
    {12032, "retry needed"},
    {12033, "invalid proxy request"},
    {12036, "handle exists"},
    {12039, "redirected from HTTP to HTTPS"},
    {12040, "redirected from HTTPS to HTTP"},
    {12041, "mixed secure and insecure content"},
    {12044, "client certificate needed"},
    {12046, "client authorization not set up"},
    {12047, "asynchronous thread failed"},
    {12048, "redirect changes the scheme"},
    {12150, "header not found"},
    {12151, "downlevel server"},
    {12153, "invalid header"},
    {12154, "invalid query request"},
    {12155, "header already exists"},
    {12156, "redirect failed"},
    {12157, "secure channel error"},
    {12158, "unable to cache the file"},
    {12159, "TCP/IP not installed"},
    {12163, "disconnected"},
    {12164, "server unreachable"},
    {12165, "proxy server unreachable"},
    {12166, "bad proxy script"},
    {12167, "unable to download the proxy script"},
    {12169, "invalid certificate"},
    {12170, "certificate revoked"},
    {12171, "failed a security check"},
    {12172, "not initialized"},
    {12175, "decoding failed (WinINet) or secure failure (WinHTTP)"},
    {12178, "proxy auto-configuration service error"},
    {12180, "proxy auto-detection failed"},
    {12185, "client certificate has no private key"},
    {12186, "no access to the client certificate's private key"},
};
constexpr bool NumbersAscend() {
  for (size_t i = 1; i < sizeof kErrorWords / sizeof kErrorWords[0]; ++i)
    if (kErrorWords[i - 1].number >= kErrorWords[i].number) return false;
  return true;
}
static_assert(NumbersAscend(), "one row per error number, in number order");

const char* WordsOf(uint32_t number) {
  for (const ErrorWords& row : kErrorWords)
    if (row.number == number) return row.words;
  return "error";
}

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
  std::string text = f.reason == Reason::kNetworkError ? WordsOf(f.number) : buf;
  if (f.step != Step::kNone) {
    if (row.numbered && f.number != 0) text = std::to_string(f.number) + ": " + text;
    text = rt::RowOr(kStepNames, static_cast<size_t>(f.step), 0) + (": " + text);
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
