// The precise calibration program's decisions and texts, apart from any
// platform, one file each behind this one header:
//   policy.cpp        when a correction may be applied at once, must be asked
//                     about or is refused; when automatic mode measures and
//                     when it sets
//   command_line.cpp  how the command line reads
//   texts.cpp         every text the window shows (GBK, as the program's
//                     literals are) and the calendar fields they are made of
//
// Owns: nothing beyond its values. Portable, no Win32 and no Runtime calls:
// the same code runs in the program and in the native tests.
// May call: the C++ standard library and the shared calendar
// (runtime/core/calendar.h); reads the engine's source states and reason
// codes (measure/measure.h) to name them in Chinese.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/measure.h"

namespace precise {

// ---- Guards on a correction (milliseconds the clock moves) ----
constexpr int64_t kAskAboveMs = 120 * 1000;                  // asks first above two minutes
// Refuses above one year: the engine's year, which also bounds how far a
// source may be from the PC clock, so that the two limits cannot drift apart.
constexpr int64_t kRefuseAboveMs = measure::kOneYearSeconds * 1000;
enum class Guard { kApply, kAsk, kRefuse };
Guard GuardFor(int64_t correction_ms);

// ---- What a finished measurement says, in the program's own terms ----
struct SourceView {
  std::string url;
  measure::SourceState state = measure::SourceState::kFailed;
  double offset_ms = 0, bound_ms = 0, rtt_ms = 0;  // when answered or a false ticker
  measure::Reason reason = measure::Reason::kNone;  // when failed or refused
  uint32_t reason_number = 0;                        // WinINet error or HTTP status
};
struct Outcome {
  bool has_offset = false;  // the combination found an offset
  bool disagree = false;    // sources answered, but no majority of them agrees
  double offset_ms = 0;     // true time minus the PC clock
  double bound_ms = 0;      // the true offset lies within offset ± bound
  double rtt_ms = 0;        // round trip of the best source
  std::vector<SourceView> sources;
  int Answered() const;     // sources that gave an offset that was used (truechimers)
  int FalseTickers() const;
};

// The engine's result in the program's terms (figures in milliseconds).
Outcome OutcomeOf(const measure::Result& r);

// ---- Automatic mode ----
struct AutoPeriods {
  int64_t period_ms = 15 * 60 * 1000;   // re-measure after a good measurement
  int64_t first_retry_ms = 30 * 1000;   // after a failed one, doubling each time
  int64_t threshold_ms = 100;           // calibrate above this |offset|
};
// Automatic mode acts only when it is certain the clock is off: the
// offset's distance from zero must exceed its bound by this much, so that
// a wide bound around a modest offset (+279.5 ms ± 400 ms) sets nothing.
constexpr int64_t kCertainMarginMs = 10;
// A result older than this is measured again before any set (by hand or
// automatic): the offset itself stays valid, but a fresh one also notices a
// clock that someone else set in between.
constexpr int64_t kFreshMs = 60 * 1000;

// Whether the sources agree well enough to act on: an offset resting on at
// least two agreeing sources that outnumber the disagreeing ones, or on the
// one source when only one is configured.
bool Agreed(const Outcome& o, size_t configured_sources);

// What automatic mode does with a finished measurement, and otherwise why
// not (the window shows the reason in its status line).
enum class AutoDecision {
  kSet,              // agreed, certainly off, above the threshold, no question needed
  kNoOffset,         // no source answered
  kSourcesDisagree,  // sources answered, but no majority of them agrees
  kTooFewAgree,      // an offset, but not resting on enough agreeing sources
  kUncertain,        // the offset lies within its bound (and margin) of zero
  kWithinThreshold,  // at most the threshold away: nothing worth setting
  kNeedsQuestion,    // a correction that would need the question (or is refused)
  kCount
};
// Sets only when all hold: Agreed; |offset| - bound > kCertainMarginMs;
// |offset| > threshold; GuardFor(offset) == kApply. When several fail, the
// first of this order is named: no offset, disagree, too few agree; then
// within the threshold when the whole interval offset ± bound lies within it
// (a small offset measured well is simply small, not uncertain), else
// uncertain, else within the threshold; last the question.
AutoDecision DecideAuto(const Outcome& o, const AutoPeriods& p, size_t configured_sources);
inline bool AutoMaySet(const Outcome& o, const AutoPeriods& p, size_t configured_sources) {
  return DecideAuto(o, p, configured_sources) == AutoDecision::kSet;
}
// The time-keeping service decides by the same code, with no one to ask: a
// correction that would need the question (above two minutes) is set only
// when at least kUnattendedLargeAgree sources agree and none is a false
// ticker, or when a person has confirmed this one measurement (then the
// ordinary agreement suffices); above a year never. Everything else is
// DecideAuto's answer.
constexpr int kUnattendedLargeAgree = 3;
AutoDecision DecideUnattended(const Outcome& o, const AutoPeriods& p, size_t configured_sources,
                              bool confirmed);
// Milliseconds until the next automatic measurement: the period after a good
// measurement; after the n-th failure in a row (n >= 1) the first retry
// doubled n-1 times, never longer than the period.
int64_t NextAutoDelayMs(const AutoPeriods& p, int failures_in_a_row);

// When automatic mode measures, and whether a result is fresh enough to set,
// on a monotonic time in milliseconds the caller passes in (any origin; it
// must never jump when the clock is set). Automatic measurements follow one
// another a period after the START of the last automatic one, or the
// NextAutoDelayMs retry after a failure, whatever the person presses: a
// press measures at once and its result is shown (and is fresh), but it
// neither postpones nor replaces the next automatic run. An automatic run
// that falls due while a pressed measurement runs is served by that one.
class AutoSchedule {
 public:
  explicit AutoSchedule(const AutoPeriods& p = AutoPeriods()) : periods_(p) {}
  void SetPeriods(const AutoPeriods& p) { periods_ = p; }
  const AutoPeriods& periods() const { return periods_; }

  // Automatic mode on: an automatic measurement is due at once, failures
  // are forgotten. Off: nothing is due and a pending one no longer counts.
  void TurnOn(int64_t now_ms);
  void TurnOff();
  bool on() const { return on_; }

  // True when an automatic measurement is due at now_ms: the schedule then
  // counts it as started at now_ms and pending until Finished; the caller
  // starts one (or lets the running measurement serve). False while one is
  // pending.
  bool TakeDue(int64_t now_ms);
  bool pending() const { return pending_; }
  // Any measurement finished at now_ms; `agreed`: its offset is one automatic
  // mode can rest on. Returns whether it served the pending automatic run
  // (whose success or failure then sets the next due time).
  bool Finished(int64_t now_ms, bool agreed);
  // Whether the last finished measurement may still be set at now_ms.
  bool Fresh(int64_t now_ms) const;
  // When the next automatic measurement is due (meaningful while on).
  int64_t next_due_ms() const { return next_due_ms_; }
  int failures() const { return failures_; }

 private:
  AutoPeriods periods_;
  bool on_ = false;
  bool pending_ = false;
  int64_t last_start_ms_ = 0;  // the start of the last automatic measurement
  int64_t next_due_ms_ = 0;
  int failures_ = 0;           // automatic measurements in a row without agreement
  bool have_result_ = false;
  int64_t result_ms_ = 0;      // when the last measurement finished
};

// The sources used when none are given: the main tool's time service and
// well-known HTTPS sites whose Date header is kept right (blank-separated).
constexpr char kDefaultSources[] =
    "http://quan.suning.com/getSysTime.do https://www.baidu.com/ https://www.qq.com/ "
    "https://www.taobao.com/";

// ---- Command line ----
struct CommandLine {
  std::vector<std::string> urls;           // http:// and https:// arguments, in order
  std::optional<int64_t> apply_offset_ms;  // "--apply-offset=<ms>": the elevated copy
  std::vector<std::string> unknown;        // anything else (ignored)
  // "--proxy HOST:PORT" (or "--proxy=HOST:PORT") or "--no-proxy"; the system's
  // settings without either. The last one given counts; a --proxy without a
  // HOST:PORT is unknown and changes nothing.
  measure::Proxy proxy;
};
// Splits a Windows command line (the program's own name first, skipped) by
// the usual rules: blanks separate, double quotes group.
std::vector<std::string> SplitCommandLine(const std::string& line);
CommandLine ReadCommandLine(const std::string& line);
// The http:// and https:// words of a blank-separated list, in order.
std::vector<std::string> UrlsIn(const std::string& text);
std::string ApplyOffsetArgument(int64_t offset_ms);  // what ReadCommandLine reads back

// ---- Calendar (proleptic Gregorian, Unix milliseconds) ----
struct Fields {
  int year, month, day, hour, minute, second, millisecond;
  int day_of_week;  // 0 = Sunday
};
Fields FieldsOf(int64_t unix_ms);  // floor: -1 ms is 1969-12-31 23:59:59.999
int64_t UnixMsOf(const Fields& f);  // ignores day_of_week

// ---- Texts (GBK) ----
// "2026年12月7日12时33分29.4秒": the tenth of a second truncated.
std::string ClockText(int64_t unix_ms);
// "+0.153 秒 ±0.012"
std::string OffsetText(double offset_ms, double bound_ms);
// "0.021 秒"
std::string SecondsText(double ms);
// "+0.153" (a signed correction in seconds, three decimals)
std::string SignedSeconds(double ms);
// Why a source failed or was refused: "无法连接 (12029)", "服务器返回错误 (HTTP 404)";
// the number only where the reason has one and it is not 0.
std::string ReasonText(measure::Reason reason, uint32_t number);
// One line per source: its state, figures and URL (made printable).
std::string SourceLine(const SourceView& s);
std::string SourcesText(const Outcome& o);  // lines joined by CR LF
// The question asked before a correction above kAskAboveMs.
std::string AskText(int64_t pc_local_ms, int64_t target_local_ms, int64_t correction_ms);
// "12时33分29秒 调整 +0.153 秒"
std::string CalibrationText(int64_t local_ms, int64_t correction_ms);
// The offset box after a measurement: the offset with its bound, 来源互不一致
// when sources answered but no majority agrees, else 无法确定.
std::string OffsetBoxText(const Outcome& o);
// Why a measurement gave no offset (来源互不一致 or 没有可用的时间源), or 测量完成.
std::string MeasuredText(const Outcome& o);
// Why automatic mode did not set the clock (or 已校准 for kSet), naming the
// threshold where it is the reason.
std::string AutoText(AutoDecision d, const AutoPeriods& p);

}  // namespace precise
