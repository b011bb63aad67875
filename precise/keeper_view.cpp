// The precise program as the service's client (keeper_view.h): its texts
// (GBK, runtime/core/gbk_text.h), its one decision and the service
// program's command line.
#include "precise/keeper_view.h"

#include <cstdio>
#include <cstdlib>

#include "runtime/core/gbk_text.h"
#include "runtime/core/table_rows.h"

namespace precise {

int64_t KeeperCorrectionMs(const keeper::Status& status) { return status.offset_us / 1000; }

bool KeeperNeedsQuestion(const keeper::Status& status) {
  return status.measurements > 0 && status.found &&
         status.decision == static_cast<uint16_t>(AutoDecision::kNeedsQuestion) &&
         std::llabs(KeeperCorrectionMs(status)) > kAskAboveMs;
}

namespace {

std::string TimeOfDay(int64_t local_ms) {
  Fields f = FieldsOf(local_ms);
  char text[48];
  std::snprintf(text, sizeof text, "%d" GBK_HOUR "%d" GBK_MINUTE "%d" GBK_SECOND, f.hour, f.minute, f.second);
  return text;
}

std::string LastResult(const keeper::Status& s, int64_t measured_local_ms) {
  if (s.measurements == 0) return s.measuring ? GBK_PRECISE_MEASURING : GBK_PRECISE_KEEPER_NOT_MEASURED;
  std::string text = TimeOfDay(measured_local_ms) + " ";
  if (!s.found) return text + (s.disagree ? GBK_PRECISE_NO_MAJORITY : GBK_PRECISE_NO_SOURCE);
  return text + OffsetText(s.offset_us / 1000.0, s.bound_us / 1000.0) + ", " GBK_PRECISE_KEEPER_AGREE " " +
         std::to_string(s.agreed) + "/" + std::to_string(s.sources);
}

}  // namespace

std::string KeeperText(const KeeperView& view, int64_t measured_local_ms) {
  std::string text;
  switch (view.state) {
    case keeper::ServiceState::kRunning:
      text = GBK_PRECISE_KEEPER_RUNNING ", " + LastResult(view.status, measured_local_ms);
      break;
    case keeper::ServiceState::kStopped:
      text = GBK_PRECISE_KEEPER_STOPPED;
      break;
    case keeper::ServiceState::kNotInstalled:
      text = GBK_PRECISE_KEEPER_NOT_INSTALLED;
      break;
  }
  bool two_keepers = view.windows_time ||
                     (view.state == keeper::ServiceState::kRunning && view.status.windows_time_syncing);
  if (two_keepers) text += "; Windows " GBK_PRECISE_KEEPER_WINDOWS_TIME;
  return text;
}

namespace {

// The status line for each answer to a measurement or calibration request,
// one row per answer in answer order; null: refused, with its number.
struct AnswerRow {
  keeper::Answer answer;
  const char* text;
};
using A = keeper::Answer;
constexpr AnswerRow kAnswerTexts[] = {
    {A::kState, GBK_PRECISE_KEEPER_MEASURING "..."},  // an older service that only reports
    {A::kAccepted, GBK_PRECISE_KEEPER_MEASURING "..."},
    {A::kBusy, GBK_PRECISE_KEEPER_BUSY},
    {A::kBadSize, nullptr},
    {A::kBadMagic, nullptr},
    {A::kBadVersion, nullptr},
    {A::kUnknownCommand, nullptr},
};
static_assert(sizeof kAnswerTexts / sizeof kAnswerTexts[0] == static_cast<size_t>(A::kCount),
              "one text per answer");
static_assert(rt::RowsInKeyOrder(kAnswerTexts, &AnswerRow::answer), "answer rows in answer order");

// The service program's exit codes, one row per code in code order.
struct OutcomeRow {
  keeper::InstallExit code;
  const char* installing;
  const char* removing;
};
constexpr OutcomeRow kOutcomeTexts[] = {
    {keeper::kInstallDone, GBK_PRECISE_KEEPER_INSTALLED, GBK_PRECISE_KEEPER_REMOVED},
    {keeper::kInstallFailed, GBK_PRECISE_KEEPER_MANAGER_REFUSED, GBK_PRECISE_KEEPER_MANAGER_REFUSED},
    {keeper::kInstallBadArguments, GBK_PRECISE_KEEPER_BAD_URL, GBK_PRECISE_KEEPER_BAD_URL},
    {keeper::kInstallNotInstalled, GBK_PRECISE_KEEPER GBK_PRECISE_KEEPER_NOT_INSTALLED,
     GBK_PRECISE_KEEPER GBK_PRECISE_KEEPER_NOT_INSTALLED},
    {keeper::kInstallNoRight, GBK_PRECISE_KEEPER_NO_ADMIN, GBK_PRECISE_KEEPER_NO_ADMIN},
};
static_assert(rt::RowsInKeyOrder(kOutcomeTexts, &OutcomeRow::code), "exit code rows in code order");

}  // namespace

std::string KeeperAnswerText(keeper::Answer answer) {
  const size_t index = static_cast<size_t>(answer);
  const char* text = index < static_cast<size_t>(A::kCount) ? kAnswerTexts[index].text : nullptr;
  if (text) return text;
  return GBK_PRECISE_KEEPER_REFUSED " (" + std::to_string(index) + ")";
}

KeeperAction KeeperActionOf(const CommandLine& cl) {
  for (const std::string& word : cl.unknown) {
    if (word == "--install") return KeeperAction::kInstall;
    if (word == "--uninstall") return KeeperAction::kUninstall;
  }
  return KeeperAction::kNone;
}

std::string KeeperParameters(KeeperAction action, const std::vector<std::string>& urls,
                             const measure::Proxy& proxy) {
  if (action != KeeperAction::kInstall) return "--uninstall";
  std::string out = "--install";
  for (const std::string& url : urls) {
    // The splitter took the quotes away, so a word holds none; a blank in
    // it needs them back.
    bool blank = url.find_first_of(" \t") != std::string::npos;
    out += blank ? " \"" + url + "\"" : " " + url;
  }
  // A checked "host:port" holds no blank; the system's way is the service's default.
  if (proxy.mode == measure::ProxyMode::kNamed) out += " --proxy " + proxy.server;
  if (proxy.mode == measure::ProxyMode::kDirect) out += " --no-proxy";
  return out;
}

std::string KeeperOutcomeText(KeeperAction action, uint32_t exit_code) {
  bool installing = action == KeeperAction::kInstall;
  if (exit_code < sizeof kOutcomeTexts / sizeof kOutcomeTexts[0]) {
    const OutcomeRow& row = kOutcomeTexts[exit_code];
    return installing ? row.installing : row.removing;
  }
  return std::string(installing ? GBK_PRECISE_KEEPER_INSTALL : GBK_PRECISE_KEEPER_REMOVE) +
         GBK_PRECISE_FAILED " (" GBK_ERROR_CAPTION " " + std::to_string(exit_code) + ")";
}

}  // namespace precise
