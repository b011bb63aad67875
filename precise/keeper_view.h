// The precise program as a client of the time-keeping service (keeper/
// protocol.h): what the window shows of the service, when a calibration
// through it needs the person's yes, and the service program's command
// line for installing and removing it. Apart from any platform, like
// policy.h: the same code runs in the program and in the native tests.
//
// Owns: nothing beyond its values.
// May call: the C++ standard library, the keeper's messages (keeper/), the
// program's own decisions and texts (policy.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keeper/protocol.h"
#include "precise/policy.h"

namespace precise {

// The window asks the service's pipe at most this often, and waits at most
// kPipeWaitMs for a free instance of it (an answer itself comes at once).
constexpr int64_t kKeeperPollMs = 1000;
constexpr uint32_t kPipeWaitMs = 300;

// The service as one look found it: the pipe's status when it answered,
// otherwise the service manager's word (stopped or not installed).
struct KeeperView {
  keeper::ServiceState state = keeper::ServiceState::kNotInstalled;
  keeper::Status status;  // valid when state is kRunning
  bool windows_time = false;  // the Windows Time service also sets this clock
};

// Whether a calibration through the service must ask the person first: its
// last measurement was set aside as needing the question (DecideUnattended)
// and the correction is above kAskAboveMs. The answer 是 sends
// kCalibrateConfirmed.
bool KeeperNeedsQuestion(const keeper::Status& status);
// The correction that last measurement asks for, in milliseconds.
int64_t KeeperCorrectionMs(const keeper::Status& status);

// The window's line for the service: its state, and while it runs its last
// result ("运行中, 18时57分23秒 +0.012 秒 ±0.003, 相符 3/4"); a warning
// follows when another program (Windows Time) also sets the clock.
// `measured_local_ms` is the last measurement's time in local time.
std::string KeeperText(const KeeperView& view, int64_t measured_local_ms);
// The status line after the service answered a measurement or calibration
// request (正在测量, 正忙, or why it refused).
std::string KeeperAnswerText(keeper::Answer answer);

// ---- Installing and removing the service ----
enum class KeeperAction { kNone, kInstall, kUninstall };
// "--install" or "--uninstall" among the command line's other words.
KeeperAction KeeperActionOf(const CommandLine& cl);
// The service program's parameters: "--install URL..." (then "--proxy
// host:port" or "--no-proxy" when the command line named a way) or
// "--uninstall". Words with a blank are quoted.
std::string KeeperParameters(KeeperAction action, const std::vector<std::string>& urls,
                             const measure::Proxy& proxy = {});
// The status line once the service program ended with `exit_code`
// (keeper::InstallExit, or anything else it may end with).
std::string KeeperOutcomeText(KeeperAction action, uint32_t exit_code);

}  // namespace precise
