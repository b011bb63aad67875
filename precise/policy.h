// The precise calibration program's decisions and texts, apart from any
// platform: when a correction may be applied at once, must be asked about
// or is refused; when automatic mode measures and when it sets; how the
// command line reads; and every text the window shows (GBK, as the program's
// literals are).
//
// Owns: nothing beyond its values. Portable, no Win32 and no Runtime calls:
// the same code runs in the program and in the native tests.
// May call: the C++ standard library; reads the engine's reason codes
// (measure/measure.h) to name them in Chinese.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/measure.h"

namespace precise {

// ---- Guards on a correction (milliseconds the clock moves) ----
constexpr int64_t kAskAboveMs = 120 * 1000;                  // asks first above two minutes
constexpr int64_t kRefuseAboveMs = 365LL * 24 * 3600 * 1000;  // refuses above one year
enum class Guard { kApply, kAsk, kRefuse };
Guard GuardFor(int64_t correction_ms);

// ---- What a finished measurement says, in the program's own terms ----
enum class SourceState { kAnswered, kFailed, kFalseTicker, kRefused };
struct SourceView {
  std::string url;
  SourceState state = SourceState::kFailed;
  double offset_ms = 0, bound_ms = 0, rtt_ms = 0;  // when answered or a false ticker
  measure::Reason reason = measure::Reason::kNone;  // when failed or refused
  uint32_t reason_number = 0;                        // WinINet error or HTTP status
};
struct Outcome {
  bool has_offset = false;  // the combination found an offset
  double offset_ms = 0;     // true time minus the PC clock
  double bound_ms = 0;      // the true offset lies within offset ± bound
  double rtt_ms = 0;        // round trip of the best source
  std::vector<SourceView> sources;
  int Answered() const;     // sources that gave an offset that was used
  int FalseTickers() const;
};

// ---- Automatic mode ----
struct AutoPeriods {
  int64_t period_ms = 15 * 60 * 1000;   // re-measure after a good measurement
  int64_t first_retry_ms = 30 * 1000;   // after a failed one, doubling each time
  int64_t threshold_ms = 100;           // calibrate above this |offset|
};
// Whether the sources agree well enough to act on: an offset resting on at
// least two agreeing sources that outnumber the disagreeing ones, or on the
// one source when only one is configured.
bool Agreed(const Outcome& o);
// Whether automatic mode may set the clock from this outcome: agreed, above
// the threshold, and within the guard that needs no question.
bool AutoMaySet(const Outcome& o, const AutoPeriods& p);
// Milliseconds until the next automatic measurement: the period after a good
// measurement; after the n-th failure in a row (n >= 1) the first retry
// doubled n-1 times, never longer than the period.
int64_t NextAutoDelayMs(const AutoPeriods& p, int failures_in_a_row);

// ---- Command line ----
struct CommandLine {
  std::vector<std::string> urls;           // http:// and https:// arguments, in order
  std::optional<int64_t> apply_offset_ms;  // "--apply-offset=<ms>": the elevated copy
  std::vector<std::string> unknown;        // anything else (ignored)
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
// One line per source: its state, figures and URL.
std::string SourceLine(const SourceView& s);
std::string SourcesText(const Outcome& o);  // lines joined by CR LF
// The question asked before a correction above kAskAboveMs.
std::string AskText(int64_t pc_local_ms, int64_t target_local_ms, int64_t correction_ms);
// "12时33分29秒 调整 +0.153 秒"
std::string CalibrationText(int64_t local_ms, int64_t correction_ms);

}  // namespace precise
