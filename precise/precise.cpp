// The precise program's routines. The window never waits on the network as
// a whole: a measurement advances on each tick of the work timer (时钟2),
// whose interval is set to the time left before the engine's next due
// request (or its next look at the replies in flight); a tick makes at most
// a source's first exchange itself, waiting at most 20 ms for the exact send
// instant, and hands the later ones to the engine's workers. The offset box
// shows the first estimate while measuring and refines it. The display
// timer (时钟1, 100 ms) shows both clocks, watches the elevated copy and the
// service program, looks at the time-keeping service once a second and
// starts automatic measurements when they are due.
//
// While the service runs, the window is its client: 校准 and 测量 ask the
// service (the window sets nothing itself and starts no elevated copy), and
// automatic mode is the service's; its results and sets show as they come.
#include "precise/precise.h"

#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measure/measure_edge.h"
#include "precise/dll_table.h"
#include "precise/keeper_view.h"
#include "precise/platform.h"
#include "precise/policy.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "runtime/ui/ui_numbers.h"
#include "window_templates.h"

namespace precise {
ProbeSeams g_probe = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
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
  measure::Proxy proxy;  // the command line's way to the sources
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
  // The time-keeping service as last looked at (MonoMs() of the look).
  KeeperView keeper;
  bool keeper_looked = false;
  int64_t keeper_looked_ms = 0;
  int64_t keeper_set_utc_ms = 0;     // its last set the window has taken in
  bool keeper_waiting = false;       // for the result of a request it accepted
  uint32_t keeper_waiting_after = 0;  // the measurements count when it did
  ElevatedProcess installer;         // the service program, installing or removing
  KeeperAction installer_action = KeeperAction::kNone;
  std::map<uint32_t, std::string> shown;  // last texts written, by unit
};
std::unique_ptr<State> g_state;  // made by ProgramEntry, dropped by the end routine ReleasePrecise

void Show(uint32_t unit, int32_t property, const std::string& text) {
  // Each unit shows one text property, so the unit alone is the key.
  std::string& last = g_state->shown[unit];
  if (last == text) return;  // no flicker from rewriting the same text
  prog::WriteProperty(kWindow, unit, property, kWholeProperty, W(text.c_str()));
  last = text;
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
  options.proxy = s.proxy;
  s.running = std::make_unique<measure::Measurement>(s.calls, s.urls, options);
  s.after = after;
  Status(GBK_PRECISE_MEASURING "...");
  ScheduleWork();
}

// `set_utc_ms`: when the clock was set, if not just now (by the service).
void RecordCalibration(int64_t correction_ms, std::optional<int64_t> set_utc_ms = std::nullopt) {
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
  ShowText(kLastCalibrationBox, CalibrationText(LocalOf(set_utc_ms.value_or(NowUtcMs())), correction_ms));
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

bool KeeperRuns() { return g_state->keeper.state == keeper::ServiceState::kRunning; }

const char* AutoCaption() {
  if (KeeperRuns()) return GBK_PRECISE_KEEPER_AUTO;
  return g_state->schedule.on() ? GBK_PRECISE_AUTO ": " GBK_PRECISE_ON : GBK_PRECISE_AUTO ": " GBK_PRECISE_OFF;
}

void ShowKeeper() {
  const KeeperView& k = g_state->keeper;
  ShowText(kKeeperBox, KeeperText(k, LocalOf(k.status.measured_utc_ms)));
  bool installed = k.state != keeper::ServiceState::kNotInstalled;
  Show(kKeeperButton, kButtonCaption, installed ? GBK_PRECISE_KEEPER_REMOVE : GBK_PRECISE_KEEPER_INSTALL);
  Show(kAutoButton, kButtonCaption, AutoCaption());
}

// Takes in what the running service last did: a set moves the window's
// clock as its own would; the result a request waited for shows in the
// status line, as automatic mode's would.
void TakeKeeperResult(bool first_look) {
  State& s = *g_state;
  const keeper::Status st = s.keeper.status;
  if (st.set_utc_ms != 0 && st.set_utc_ms != s.keeper_set_utc_ms) {
    s.keeper_set_utc_ms = st.set_utc_ms;
    // A set from before the window's first look is already in its clock.
    if (!first_look) RecordCalibration(st.correction_ms, st.set_utc_ms);
  }
  if (!s.keeper_waiting || st.measurements <= s.keeper_waiting_after) return;
  s.keeper_waiting = false;
  AutoDecision d = st.decision < static_cast<uint16_t>(AutoDecision::kCount) ? static_cast<AutoDecision>(st.decision)
                                                                            : AutoDecision::kNoOffset;
  Status(GBK_PRECISE_KEEPER ": " + AutoText(d, s.schedule.periods()));
}

void LookAtKeeperNow() {
  State& s = *g_state;
  bool first_look = !s.keeper_looked;
  s.keeper = LookAtKeeper();
  s.keeper_looked = true;
  s.keeper_looked_ms = MonoMs();
  if (KeeperRuns()) {
    // The service keeps the clock now: the window's automatic mode gives way.
    if (s.schedule.on()) s.schedule.TurnOff();
    if (s.after == After::kAuto) s.after = After::kShow;
    TakeKeeperResult(first_look);
  } else {
    s.keeper_waiting = false;
  }
  ShowKeeper();
}

// One request to the running service; the answer shows in the status line
// and an accepted request waits for its result.
void AskKeeper(keeper::Command command) {
  State& s = *g_state;
  keeper::Status answer;
  if (!TryAskKeeper(command, &answer)) return Status(GBK_PRECISE_KEEPER_SILENT);
  Status(KeeperAnswerText(answer.answer));
  if (answer.answer != keeper::Answer::kAccepted && answer.answer != keeper::Answer::kState) return;
  s.keeper_waiting = true;
  s.keeper_waiting_after = answer.measurements;
}

// 校准 through the service: a correction its own rules set aside (above two
// minutes without three sources agreeing) is asked about as the window's
// own would be, and a yes lifts that rule for the one next measurement.
void CalibrateThroughKeeper() {
  State& s = *g_state;
  const keeper::Status& st = s.keeper.status;
  if (!KeeperNeedsQuestion(st)) return AskKeeper(keeper::Command::kCalibrate);
  int64_t correction = KeeperCorrectionMs(st);
  if (GuardFor(correction) == Guard::kRefuse)
    return Status(GBK_PRECISE_OFFSET_OVER_A_YEAR ", " GBK_PRECISE_REFUSE_CALIBRATION);
  int64_t pc = LocalOf(NowUtcMs());
  s.asking = true;
  bool yes = AskYesNo(AskText(pc, pc + correction, correction), GBK_PRECISE_TITLE);
  s.asking = false;
  if (!yes) return Status(GBK_PRECISE_CANCELLED ", " GBK_PRECISE_CLOCK_UNCHANGED);
  AskKeeper(keeper::Command::kCalibrateConfirmed);
}

void WatchInstaller() {
  State& s = *g_state;
  uint32_t code = 0;
  if (!s.installer.TryFinish(&code)) return;
  Status(KeeperOutcomeText(s.installer_action, code));
  LookAtKeeperNow();
}

// `timecal-precise.exe --install [URL...]` or `--uninstall`: the service
// program, elevated, does it; this program waits and ends with its code.
// Declining the prompt is the service program's "no right"; a program that
// cannot be started at all (none next to this one), its "failed".
[[noreturn]] void InstallAndEnd(KeeperAction action, const CommandLine& cl) {
  ElevatedProcess program;
  if (!program.TryStart(KeeperProgramPath(), KeeperParameters(action, cl.urls, cl.proxy), true))
    prog::EndProgram(program.declined() ? keeper::kInstallNoRight : keeper::kInstallFailed);
  prog::EndProgram(static_cast<int32_t>(program.WaitForEnd()));
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
  if (KeeperAction action = KeeperActionOf(cl); action != KeeperAction::kNone) InstallAndEnd(action, cl);
  g_state = std::make_unique<State>();
  g_state->calls = EngineCalls();
  g_state->clock.emplace(g_state->calls);
  const char* probe_sources = g_probe.sources ? g_probe.sources() : nullptr;
  std::vector<std::string>& urls = g_state->urls;
  urls = probe_sources && *probe_sources ? UrlsIn(probe_sources) : cl.urls;
  if (urls.empty()) urls = UrlsIn(DefaultSources());
  g_state->proxy = cl.proxy;
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
  LookAtKeeperNow();
  StartMeasurement(After::kShow);
  if (g_probe.after_created) g_probe.after_created();
}

extern "C" void OnDisplayTick(void) {
  State& s = *g_state;
  ShowClocks();
  WatchElevatedCopy();
  WatchInstaller();
  if (MonoMs() - s.keeper_looked_ms >= kKeeperPollMs) LookAtKeeperNow();
  // Due while a pressed measurement runs: that one serves (StartMeasurement
  // rides on it), so the automatic rhythm never waits for a press.
  if (!s.asking && s.schedule.TakeDue(MonoMs())) StartMeasurement(After::kAuto);
  if (g_probe.after_display_tick) g_probe.after_display_tick(s.running != nullptr);
}

// The first estimate, offset ± bound, as soon as one source has answered,
// and each refinement of it; the finished result replaces it.
void ShowPartial() {
  Outcome o = OutcomeOf(g_state->running->Partial());
  if (o.has_offset) ShowText(kOffsetBox, OffsetBoxText(o));
}

extern "C" void OnWorkTick(void) {
  State& s = *g_state;
  if (s.asking || !s.running) return;
  if (s.running->Step()) {
    ShowPartial();
    return ScheduleWork();
  }
  FinishMeasurement();
}

extern "C" void OnMeasureClicked(void) {
  if (KeeperRuns()) return AskKeeper(keeper::Command::kMeasure);
  StartMeasurement(After::kShow);
}

extern "C" void OnCalibrateClicked(void) {
  State& s = *g_state;
  if (s.asking) return;
  if (KeeperRuns()) return CalibrateThroughKeeper();
  bool fresh = s.have_last && s.last.has_offset && s.schedule.Fresh(MonoMs());
  if (fresh && !s.running) return CalibrateByHand();
  StartMeasurement(After::kCalibrate);
}

extern "C" void OnAutoClicked(void) {
  State& s = *g_state;
  if (KeeperRuns()) return Status(GBK_PRECISE_KEEPER_AUTO);
  bool on = !s.schedule.on();
  s.auto_elevation_tried = false;
  if (on) s.schedule.TurnOn(MonoMs());  // due at once
  else s.schedule.TurnOff();
  Show(kAutoButton, kButtonCaption, AutoCaption());
  if (on) {
    if (!s.asking && s.schedule.TakeDue(MonoMs())) StartMeasurement(After::kAuto);
    return;
  }
  if (s.after == After::kAuto) s.after = After::kShow;
  Status(GBK_PRECISE_AUTO_OFF);
}

extern "C" void OnKeeperClicked(void) {
  State& s = *g_state;
  if (s.asking || s.installer.Running()) return;
  KeeperAction action =
      s.keeper.state == keeper::ServiceState::kNotInstalled ? KeeperAction::kInstall : KeeperAction::kUninstall;
  if (!s.installer.TryStart(KeeperProgramPath(), KeeperParameters(action, s.urls, s.proxy), true))
    return Status(s.installer.declined() ? std::string(GBK_PRECISE_NO_ELEVATION)
                                         : GBK_PRECISE_KEEPER_CANNOT_START " " + std::string(keeper::kServiceProgram));
  s.installer_action = action;
  Status(action == KeeperAction::kInstall ? GBK_PRECISE_KEEPER_INSTALLING "..." : GBK_PRECISE_KEEPER_REMOVING "...");
}

extern "C" void ReleasePrecise(void) {
  g_state.reset();  // closes the engine's connections and the copy's and the service program's handles
}
