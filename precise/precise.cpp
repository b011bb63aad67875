// The precise program's routines. The window never waits on the network as
// a whole: a measurement advances one exchange per tick of the work timer
// (时钟2), whose interval is set to the time left before the engine's next
// due request; the engine itself waits at most 20 ms for the exact send
// instant. The display timer (时钟1, 100 ms) shows both clocks, watches the
// elevated copy and starts automatic measurements when they are due.
#include "precise/precise.h"

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measure/measure_edge.h"
#include "precise/dll_table.h"
#include "precise/platform.h"
#include "precise/policy.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "runtime/ui/ui_numbers.h"
#include "window_templates.h"

namespace precise {
ProbeSeams g_probe = {nullptr, nullptr, nullptr};
}

namespace {

using namespace precise;
// Unit ids from the window description, property numbers from the window
// layer's table.
using namespace rtwin::PreciseWindow;
constexpr uint32_t kWindow = rtwin::kPreciseWindow;
using rt::ui::kButtonCaption;
using rt::ui::kTimerInterval;
using rt::ui::kWholeProperty;

// What to do once the running measurement has finished.
enum class After { kShow, kCalibrate, kAuto };

struct State {
  std::vector<std::string> urls;
  measure::PlatformCalls calls;
  // The PC clock to the microsecond. Made anew whenever that clock moves (a
  // set, a measurement's fresher mapping); its mono time does not move, so
  // the schedule keeps its times on it.
  std::optional<measure::Clock> clock;
  std::unique_ptr<measure::Measurement> running;
  After after = After::kShow;
  Outcome last;
  bool have_last = false;
  bool asking = false;   // a question box is open (timers still tick)
  bool auto_elevation_tried = false;  // automatic mode asks for rights once
  AutoSchedule schedule;  // automatic mode and the last result's age, on MonoMs()
  ElevatedCopy elevated;
  int64_t elevated_correction_ms = 0;
  std::string shown[kSourcesBox - kServiceTimeBox + 1];  // last texts written, by unit
};
std::unique_ptr<State> g_state;  // made by ProgramEntry, dropped by the end routine ReleasePrecise

void Show(uint32_t unit, int32_t property, const std::string& text) {
  std::string* last = unit >= kServiceTimeBox && unit <= kSourcesBox ? &g_state->shown[unit - kServiceTimeBox]
                                                                     : nullptr;
  if (last && *last == text) return;  // no flicker from rewriting the same text
  prog::WriteProperty(kWindow, unit, property, kWholeProperty, W(text.c_str()));
  if (last) *last = text;
}
void ShowText(uint32_t unit, const std::string& text) { Show(unit, rt::ui::kEditBoxContent, text); }
void Status(const std::string& text) { Show(kStatusLabel, rt::ui::kLabelCaption, text); }

int64_t NowUtcMs() { return std::llround(g_state->clock->Utc() * 1000.0); }
int64_t MonoMs() { return std::llround(g_state->clock->Now() * 1000.0); }
int64_t LocalOf(int64_t utc_ms) { return utc_ms + LocalShiftMs(utc_ms); }

void ShowClocks() {
  State& s = *g_state;
  int64_t utc = NowUtcMs();
  int64_t shift = LocalShiftMs(utc);
  ShowText(kPcTimeBox, ClockText(utc + shift));
  ShowText(kServiceTimeBox, s.have_last && s.last.has_offset
                                ? ClockText(utc + shift + std::llround(s.last.offset_ms))
                                : "");
}

void ShowOutcome() {
  const Outcome& o = g_state->last;
  ShowText(kOffsetBox, OffsetBoxText(o));
  ShowText(kRoundTripBox, o.has_offset ? SecondsText(o.rtt_ms) : "");
  ShowText(kSourcesBox, SourcesText(o));
  ShowClocks();
}

void ScheduleWork() {
  // Wake a little early: the engine waits out the rest on the counter.
  double ms = (g_state->running->NextWakeTime() - g_state->clock->Now()) * 1000.0 - 12.0;
  uint32_t interval = ms < 1 ? 1 : ms > 1000 ? 1000 : static_cast<uint32_t>(ms);
  prog::WriteProperty(kWindow, kWorkTimer, kTimerInterval, kWholeProperty, interval);
}

void StartMeasurement(After after) {
  State& s = *g_state;
  // A request made while measuring rides on the running measurement; a
  // calibration request outranks showing, automatic mode outranks neither.
  if (s.running) {
    if (after == After::kCalibrate || s.after == After::kShow) s.after = after;
    return;
  }
  measure::Options options;
  options.build_utc = measure::BuildDateUtc(__DATE__);
  s.running = std::make_unique<measure::Measurement>(s.calls, s.urls, options);
  s.after = after;
  Status(GBK_PRECISE_MEASURING "...");
  ScheduleWork();
}

void RecordCalibration(int64_t correction_ms) {
  State& s = *g_state;
  // The clock moved: map the counter to it anew, and what was measured now
  // lies that much closer.
  s.clock.emplace(s.calls);
  s.last.offset_ms -= static_cast<double>(correction_ms);
  ShowOutcome();
  if (s.running) {  // its counter was mapped to the clock as it was
    After after = s.after;
    s.running.reset();
    StartMeasurement(after);
  }
  ShowText(kLastCalibrationBox, CalibrationText(LocalOf(NowUtcMs()), correction_ms));
  Status(GBK_PRECISE_CALIBRATED);
}

// Sets the clock by the last offset, the target taken at this very moment.
// `unattended` is automatic mode: it asks for rights only once per run.
void Apply(bool unattended) {
  State& s = *g_state;
  // A question may have stayed open for minutes: an old result is measured
  // again first (and asked about again when it needs the question).
  if (!s.schedule.Fresh(MonoMs())) return StartMeasurement(unattended ? After::kAuto : After::kCalibrate);
  int64_t correction = std::llround(s.last.offset_ms);
  uint32_t error = SetClockUtc(std::llround(s.clock->Utc() * 1000.0 + s.last.offset_ms));
  if (error == 0) return RecordCalibration(correction);
  if (error != kPrivilegeNotHeld) return Status(GBK_PRECISE_CALIBRATION_FAILED " (" GBK_ERROR_CAPTION " " + std::to_string(error) + ")");
  if (s.elevated.Running()) return Status(GBK_PRECISE_CALIBRATING_ELEVATED "...");
  if (unattended && s.auto_elevation_tried)
    return Status(GBK_PRECISE_NO_RIGHT ": " GBK_PRECISE_RUN_AS_ADMIN);
  s.auto_elevation_tried = s.auto_elevation_tried || unattended;
  if (!s.elevated.TryStart(correction)) return Status(GBK_PRECISE_NO_RIGHT ", " GBK_PRECISE_NO_ELEVATION);
  s.elevated_correction_ms = correction;
  Status(GBK_PRECISE_CALIBRATING_ELEVATED "...");
}

void CalibrateByHand() {
  State& s = *g_state;
  if (!s.have_last || !s.last.has_offset) return Status(MeasuredText(s.last) + ", " GBK_PRECISE_CLOCK_UNCHANGED);
  int64_t correction = std::llround(s.last.offset_ms);
  switch (GuardFor(correction)) {
    case Guard::kRefuse:
      return Status(GBK_PRECISE_OFFSET_OVER_A_YEAR ", " GBK_PRECISE_REFUSE_CALIBRATION);
    case Guard::kAsk: {
      int64_t pc = LocalOf(NowUtcMs());
      s.asking = true;
      bool yes = AskYesNo(AskText(pc, pc + correction, correction), GBK_PRECISE_TITLE);
      s.asking = false;
      if (!yes) return Status(GBK_PRECISE_CANCELLED ", " GBK_PRECISE_CLOCK_UNCHANGED);
      break;
    }
    case Guard::kApply:
      break;
  }
  Apply(false);
}

// Sets the clock only when automatic mode is certain (DecideAuto); else
// says why not and when it measures next.
void AfterAutoMeasurement() {
  State& s = *g_state;
  AutoDecision d = DecideAuto(s.last, s.schedule.periods(), s.urls.size());
  if (d == AutoDecision::kSet) return Apply(true);
  int64_t left = s.schedule.next_due_ms() - MonoMs();
  std::string next = std::to_string(left <= 0 ? 0 : (left + 999) / 1000) + " " GBK_PRECISE_SECONDS_UNTIL_NEXT;
  Status(AutoText(d, s.schedule.periods()) + "; " + next);
}

void FinishMeasurement() {
  State& s = *g_state;
  s.last = OutcomeOf(s.running->result());
  s.have_last = true;
  s.clock = s.running->clock();
  s.running.reset();
  // Whatever started it, this result is the newest; when it serves the
  // pending automatic run, its agreement sets when the next one is due.
  s.schedule.Finished(MonoMs(), Agreed(s.last, s.urls.size()));
  prog::WriteProperty(kWindow, kWorkTimer, kTimerInterval, kWholeProperty, 0);
  ShowOutcome();
  Status(MeasuredText(s.last));
  switch (s.after) {
    case After::kShow: break;
    case After::kCalibrate: CalibrateByHand(); break;
    case After::kAuto: AfterAutoMeasurement(); break;
  }
}

void WatchElevatedCopy() {
  State& s = *g_state;
  uint32_t code = 0;
  if (!s.elevated.TryFinish(&code)) return;
  if (code == 0) return RecordCalibration(s.elevated_correction_ms);
  Status(GBK_PRECISE_ELEVATED_FAILED " (" GBK_ERROR_CAPTION " " + std::to_string(code) + "), " GBK_PRECISE_CLOCK_UNCHANGED);
}

// The elevated copy: sets the clock by the offset it was given and ends
// with 0 or the platform's error code. It never starts another copy.
[[noreturn]] void ApplyAndEnd(int64_t offset_ms) {
  if (GuardFor(offset_ms) == Guard::kRefuse) prog::EndProgram(87);  // ERROR_INVALID_PARAMETER
  measure::Clock clock(EngineCalls());
  int64_t now = std::llround(clock.Utc() * 1000.0);
  prog::EndProgram(static_cast<int32_t>(SetClockUtc(now + offset_ms)));
}

}  // namespace

extern "C" int ProgramEntry(void) {
  prog::Service(rt::kServiceLoadProgramImage);
  // Bound before it is needed, so that binding leaves no error code of its
  // own between a failed call and the question what went wrong.
  prog::CallDll(kGetLastError, {});
  CommandLine cl = ReadCommandLine(CommandLineText());
  if (cl.apply_offset_ms) ApplyAndEnd(*cl.apply_offset_ms);
  g_state = std::make_unique<State>();
  g_state->calls = EngineCalls();
  g_state->clock.emplace(g_state->calls);
  const char* probe_sources = g_probe.sources ? g_probe.sources() : nullptr;
  std::vector<std::string>& urls = g_state->urls;
  urls = probe_sources && *probe_sources ? UrlsIn(probe_sources) : cl.urls;
  if (urls.empty()) urls = UrlsIn(DefaultSources());
  if (g_probe.adjust_periods) {
    AutoPeriods periods;
    g_probe.adjust_periods(&periods);
    g_state->schedule.SetPeriods(periods);
  }
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(&ReleasePrecise));
  prog::LoadStartupWindow(kWindow);
  prog::RunMessageLoop();
  return 0;
}

extern "C" void OnPreciseWindowCreated(void) {
  ShowText(kLastCalibrationBox, GBK_PRECISE_NOT_YET_CALIBRATED);
  ShowClocks();
  StartMeasurement(After::kShow);
}

extern "C" void OnDisplayTick(void) {
  State& s = *g_state;
  ShowClocks();
  WatchElevatedCopy();
  // Due while a pressed measurement runs: that one serves (StartMeasurement
  // rides on it), so the automatic rhythm never waits for a press.
  if (!s.asking && s.schedule.TakeDue(MonoMs())) StartMeasurement(After::kAuto);
}

extern "C" void OnWorkTick(void) {
  State& s = *g_state;
  if (s.asking || !s.running) return;
  if (s.running->Step()) return ScheduleWork();
  FinishMeasurement();
}

extern "C" void OnMeasureClicked(void) { StartMeasurement(After::kShow); }

extern "C" void OnCalibrateClicked(void) {
  State& s = *g_state;
  if (s.asking) return;
  bool fresh = s.have_last && s.last.has_offset && s.schedule.Fresh(MonoMs());
  if (fresh && !s.running) return CalibrateByHand();
  StartMeasurement(After::kCalibrate);
}

extern "C" void OnAutoClicked(void) {
  State& s = *g_state;
  bool on = !s.schedule.on();
  s.auto_elevation_tried = false;
  Show(kAutoButton, kButtonCaption, on ? GBK_PRECISE_AUTO ": " GBK_PRECISE_ON : GBK_PRECISE_AUTO ": " GBK_PRECISE_OFF);
  if (on) {
    s.schedule.TurnOn(MonoMs());  // due at once
    if (!s.asking && s.schedule.TakeDue(MonoMs())) StartMeasurement(After::kAuto);
    return;
  }
  s.schedule.TurnOff();
  if (s.after == After::kAuto) s.after = After::kShow;
  Status(GBK_PRECISE_AUTO_OFF);
}

extern "C" void ReleasePrecise(void) {
  g_state.reset();  // closes the engine's connections and the copy's handle
}
