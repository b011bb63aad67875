// The time keeper's door: the names every program of the project uses for
// the service, and the small fixed messages its named pipe carries.
//
// A client (the precise window, the console query) sends one request and
// reads one status back, both of a fixed size with a magic word and a
// version in front. A request only names a command: a client can ask for
// the state, a measurement or a calibration, never give a time, an offset
// or a source. Every field is little-endian at a fixed place, written and
// read byte by byte, so that the layout never depends on a compiler.
//
// Owns: plain values only. Portable (no Win32): the service, its clients
// and the native tests share it.
// May call: the C++ standard library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace keeper {

// The service's name in the service manager, its pipe and its event source.
constexpr char kServiceName[] = "TimecalPrecise";
constexpr char kPipeName[] = "\\\\.\\pipe\\TimecalPrecise";
constexpr char kEventSource[] = "TimecalPrecise";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\TimecalPrecise\\Parameters";
constexpr char kSourcesValue[] = "Sources";  // REG_MULTI_SZ of URLs
// REG_SZ: "host:port" a proxy, "direct" none, empty or absent the system's
// WinHTTP setting. Set by hand; an install leaves it as it is.
constexpr char kProxyValue[] = "Proxy";
constexpr char kProxyDirect[] = "direct";
// The service program, next to the precise program.
constexpr char kServiceProgram[] = "timecal-service.exe";

// `timecal-service.exe --install [URL...]` and `--uninstall` end with one
// of these (the precise program's --install and --uninstall pass them on).
enum InstallExit : int {
  kInstallDone = 0,          // installed, updated or removed
  kInstallFailed = 1,        // the service manager or the registry refused (message says why)
  kInstallBadArguments = 2,  // a word that is no http(s) URL
  kInstallNotInstalled = 3,  // --uninstall: there was no such service
  kInstallNoRight = 4,       // not an administrator (access denied)
};

// Whether the Windows Time service also sets the clock: it runs and its
// Parameters\Type is anything but "NoSync" (compared ignoring case).
bool WindowsTimeSynchronises(bool running, const char* type);

constexpr uint32_t kMagic = 0x4B435454;  // "TTCK" as bytes on the wire
constexpr uint16_t kVersion = 1;

enum class Command : uint16_t {
  kState = 1,               // the service's state and last result
  kMeasure = 2,             // measure now; set nothing
  kCalibrate = 3,           // measure now and set when the rules allow
  kCalibrateConfirmed = 4,  // as kCalibrate, a person has said yes to a
                            // correction above two minutes: the three-source
                            // rule is lifted for this one measurement
};
constexpr int kCommandCount = 4;

// How the service answered a request.
enum class Answer : uint16_t {
  kState = 0,            // here is the state
  kAccepted = 1,         // the measurement has started (or was running)
  kBusy = 2,             // a measurement was asked for less than 10 s ago
  kBadSize = 3,          // the request was not exactly kRequestSize bytes
  kBadMagic = 4,
  kBadVersion = 5,
  kUnknownCommand = 6,
  kCount
};

constexpr size_t kRequestSize = 8;  // magic, version, command
struct Request {
  Command command = Command::kState;
};
std::array<uint8_t, kRequestSize> EncodeRequest(Command command);
// kState and the request when it reads; otherwise why it does not (the
// answer the service sends back).
Answer DecodeRequest(const uint8_t* bytes, size_t size, Request* request);

// What the service last did, as the window and `timecal-query --status`
// show it. Times are Unix milliseconds of the PC clock (UTC).
enum class ServiceState : uint16_t { kNotInstalled = 0, kStopped = 1, kRunning = 2 };
struct Status {
  Answer answer = Answer::kState;
  bool measuring = false;
  bool windows_time_syncing = false;  // the Windows Time service also sets the clock
  uint32_t measurements = 0;          // finished since the service started
  // The last finished measurement (valid when measurements > 0).
  bool found = false;                 // an offset was found
  bool disagree = false;              // sources answered but no majority agrees
  int64_t measured_utc_ms = 0;
  int32_t offset_us = 0;              // true time minus PC clock, clamped to +-2^31 us
  uint32_t bound_us = 0;
  uint16_t sources = 0;               // configured
  uint16_t agreed = 0;                // truechimers
  uint16_t false_tickers = 0;
  uint16_t decision = 0;              // precise::AutoDecision of that measurement
  // The last set (valid when set_utc_ms != 0).
  int64_t set_utc_ms = 0;
  int64_t correction_ms = 0;
};
constexpr size_t kStatusSize = 64;
std::array<uint8_t, kStatusSize> EncodeStatus(const Status& status);
// False unless the bytes are exactly one status of this version.
bool TryDecodeStatus(const uint8_t* bytes, size_t size, Status* status);

// At most one measurement per `interval_ms` for the pipe's clients: the
// first request is taken at once, the next only `interval_ms` after the
// last one taken. Time is a monotonic millisecond count (any origin).
class RateLimit {
 public:
  explicit RateLimit(int64_t interval_ms = 10000) : interval_ms_(interval_ms) {}
  bool TryTake(int64_t now_ms);

 private:
  int64_t interval_ms_;
  bool taken_ = false;
  int64_t last_ms_ = 0;
};

}  // namespace keeper
