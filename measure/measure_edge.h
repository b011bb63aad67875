// The measurement engine's Windows edge: the clock (performance counter
// mapped once to the PC's UTC clock), one timed HTTP(S) exchange per request
// over kept-alive connections (up to Options::connections requests of a
// source in flight at once, each on a worker thread of its own), and the
// drivers that run the portable core (measure.h) over several sources at
// once. The exchange is
// written once; the HTTP API under it is WinINet (the window programs) or
// WinHTTP (the service: WinINet is not meant for services), chosen per
// Measurement, each a row of one small table of API calls. The session goes
// the way Options::proxy says (the system's settings by default); every
// request asks caches for no kept reply, and one with an Age header is
// refused (kCachedReply).
//
// Every platform function is reached through PlatformCalls, a hook the
// caller supplies: a window program routes them through its own DLL command
// table (join kPlatformFunctions' rows into it with prog::JoinDllRows and
// map each PlatformCommand to its index in the hook); a console program can bind them with
// BindPlatformCalls() (GetProcAddress). Arguments are the 32-bit words of a
// stdcall call, pointers as words.
// Ownership: a Measurement owns its WinINet or WinHTTP handles (closed on
// destruction or when it finishes), its worker threads (joined when it
// finishes) and its result. PlatformCalls' context stays the caller's.
// Threads: only the caller's thread plans (the core is not shared); a
// worker makes one exchange at a time, on a source that has answered once
// on the caller's thread, so every platform function a worker calls was
// called (and bound, by a lazily binding hook) on the caller's thread first.
// May call: PlatformCalls, measure.h, the C++ standard library; owns its
// handles with the runtime's owner template (runtime/core/owner.h); its rows
// are of the shared DLL row type (program/dll_table.h, header-only).
//
// Usage, blocking (console, tests):
//   measure::PlatformCalls calls = measure::BindPlatformCalls();
//   measure::Result r = measure::MeasureBlocking(calls, urls, measure::Options{});
// Usage, from a window timer (no call blocks longer than one request + 20 ms:
// that is a source's first exchange, made on the caller's thread; later ones
// go out on workers and Step() returns at once):
//   measure::Measurement m(calls, urls, options);      // opens nothing yet
//   (a service: measure::Measurement m(calls, urls, options, measure::HttpApi::kWinHttp))
//   on each timer tick (e.g. every 10 ms, or at m.NextWakeTime()):
//     if (!m.Step()) { use m.result(); }                // false once finished
//   m.Cancel() stops early and keeps what is known (it waits for the
//   requests in flight, each at most its time-out); m.Partial() between
//   steps is the first estimate and each refinement of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measure/measure.h"
#include "program/dll_table.h"

namespace measure {

// The HTTP API a Measurement's exchanges go through. WinHTTP takes UTF-16
// text: a source whose host or path holds a byte outside ASCII fails with
// kBadUrl there (WinINet sends such bytes as they are).
enum class HttpApi { kWinInet, kWinHttp };

// The platform functions the edge calls, by index.
enum PlatformCommand : int {
  kPcInternetOpenA = 0,
  kPcInternetConnectA = 1,
  kPcHttpOpenRequestA = 2,
  kPcHttpSendRequestA = 3,
  kPcHttpQueryInfoA = 4,
  kPcInternetReadFile = 5,
  kPcInternetCloseHandle = 6,
  kPcInternetSetOptionA = 7,
  kPcQueryPerformanceCounter = 8,
  kPcQueryPerformanceFrequency = 9,
  kPcGetSystemTimePreciseAsFileTime = 10,  // optional: Windows 8 and later
  kPcGetSystemTimeAsFileTime = 11,
  kPcSleep = 12,
  kPcGetLastError = 13,
  kPcWinHttpOpen = 14,
  kPcWinHttpConnect = 15,
  kPcWinHttpOpenRequest = 16,
  kPcWinHttpSetTimeouts = 17,
  kPcWinHttpSetOption = 18,
  kPcWinHttpAddRequestHeaders = 19,
  kPcWinHttpSendRequest = 20,
  kPcWinHttpReceiveResponse = 21,
  kPcWinHttpQueryHeaders = 22,
  kPcWinHttpReadData = 23,
  kPcWinHttpCloseHandle = 24,
  kPlatformCommandCount = 25,
};

// Arguments are words of a 32-bit stdcall call; library and name say where
// a DLL command table binds each one. GetSystemTimePreciseAsFileTime may be
// missing (before Windows 8): the edge asks `available` before calling it.
constexpr prog::DllRow kPlatformFunctions[] = {
    {kPcInternetOpenA, "wininet.dll", "InternetOpenA", 5},
    {kPcInternetConnectA, "wininet.dll", "InternetConnectA", 8},
    {kPcHttpOpenRequestA, "wininet.dll", "HttpOpenRequestA", 8},
    {kPcHttpSendRequestA, "wininet.dll", "HttpSendRequestA", 5},
    {kPcHttpQueryInfoA, "wininet.dll", "HttpQueryInfoA", 5},
    {kPcInternetReadFile, "wininet.dll", "InternetReadFile", 4},
    {kPcInternetCloseHandle, "wininet.dll", "InternetCloseHandle", 1},
    {kPcInternetSetOptionA, "wininet.dll", "InternetSetOptionA", 4},
    {kPcQueryPerformanceCounter, "kernel32.dll", "QueryPerformanceCounter", 1},
    {kPcQueryPerformanceFrequency, "kernel32.dll", "QueryPerformanceFrequency", 1},
    {kPcGetSystemTimePreciseAsFileTime, "kernel32.dll", "GetSystemTimePreciseAsFileTime", 1},
    {kPcGetSystemTimeAsFileTime, "kernel32.dll", "GetSystemTimeAsFileTime", 1},
    {kPcSleep, "kernel32.dll", "Sleep", 1},
    {kPcGetLastError, "kernel32.dll", "GetLastError", 0},
    {kPcWinHttpOpen, "winhttp.dll", "WinHttpOpen", 5},
    {kPcWinHttpConnect, "winhttp.dll", "WinHttpConnect", 4},
    {kPcWinHttpOpenRequest, "winhttp.dll", "WinHttpOpenRequest", 7},
    {kPcWinHttpSetTimeouts, "winhttp.dll", "WinHttpSetTimeouts", 5},
    {kPcWinHttpSetOption, "winhttp.dll", "WinHttpSetOption", 4},
    {kPcWinHttpAddRequestHeaders, "winhttp.dll", "WinHttpAddRequestHeaders", 4},
    {kPcWinHttpSendRequest, "winhttp.dll", "WinHttpSendRequest", 7},
    {kPcWinHttpReceiveResponse, "winhttp.dll", "WinHttpReceiveResponse", 2},
    {kPcWinHttpQueryHeaders, "winhttp.dll", "WinHttpQueryHeaders", 6},
    {kPcWinHttpReadData, "winhttp.dll", "WinHttpReadData", 4},
    {kPcWinHttpCloseHandle, "winhttp.dll", "WinHttpCloseHandle", 1},
};
static_assert(prog::RowsDense(kPlatformFunctions, 0) &&
                  sizeof kPlatformFunctions / sizeof kPlatformFunctions[0] == kPlatformCommandCount,
              "one row per platform command, in command order");

struct PlatformCalls {
  void* context = nullptr;
  // Calls command `command` with its argument words; returns EAX.
  uint32_t (*call)(void* context, int command, const uint32_t* words, int count) = nullptr;
  // Whether an optional command exists; null means every command does.
  bool (*available)(void* context, int command) = nullptr;
};

// Binds every command with LoadLibraryA/GetProcAddress (for programs that
// have no DLL command table of their own).
PlatformCalls BindPlatformCalls();

// Monotonic seconds from the performance counter, mapped once to the PC's
// UTC clock (GetSystemTimePreciseAsFileTime, else the edge of a
// GetSystemTimeAsFileTime tick). Mono counts from the counter's zero, so
// all Clocks agree on it; only their mappings to UTC differ.
class Clock {
 public:
  explicit Clock(const PlatformCalls& calls);
  double Now() const;                  // mono seconds
  double UtcMinusMono() const { return utc_minus_mono_; }
  double Utc() const { return Now() + utc_minus_mono_; }
  // Sleeps while more than `spin` seconds remain, then spins on the counter.
  void WaitUntil(double mono, double spin = 0.020) const;

 private:
  PlatformCalls calls_;
  double period_ = 0;        // seconds per count
  double utc_minus_mono_ = 0;
};

// One HTTP API's calls of an exchange (measure_edge.cpp).
struct HttpCalls;

// Several sources measured together. A step takes the replies in, hands the
// requests due soon to workers, and makes at most one exchange itself (a
// source's first).
class Measurement {
 public:
  Measurement(const PlatformCalls& calls, const std::vector<std::string>& urls,
              const Options& options, HttpApi api = HttpApi::kWinInet);
  ~Measurement();
  Measurement(const Measurement&) = delete;
  Measurement& operator=(const Measurement&) = delete;

  // When Step() has something to do (mono, see clock()): a request to
  // hand out or to make, or, while requests are in flight, a look at their
  // replies every 20 ms; in the past when something is due now.
  // Meaningless once finished.
  double NextWakeTime() const;
  // Takes in the replies that came, hands each request due within 50 ms to
  // a worker, and makes a source's first exchange itself when it is due
  // within 20 ms (waiting for its instant on the counter). False once every
  // source is finished (then result() is complete).
  bool Step();
  // Waits until `mono` or until a reply comes in, whichever is first.
  void Wait(double mono);
  bool Finished() const;
  void Cancel();
  const Result& result() const { return result_; }
  // While measuring: what is known so far, combined as result() will be
  // (a source without an answer yet is failed, kUnfinished); result() once
  // finished.
  Result Partial() const;
  const Clock& clock() const { return clock_; }

 private:
  struct Source;
  struct Workers;
  void Finish();
  measure::Exchange Exchange(Source& source, double send_at);
  void Launch(Source& source, double send_at);
  void TakeReplies();
  bool InFlight() const;
  PlatformCalls calls_;
  const HttpCalls* http_;  // the chosen API's row (measure_edge.cpp)
  Clock clock_;
  Options options_;
  std::vector<std::unique_ptr<Source>> sources_;
  std::unique_ptr<class InternetHandle> session_;
  std::unique_ptr<Workers> workers_;
  Result result_;
  bool finished_ = false;
};

Result MeasureBlocking(const PlatformCalls& calls, const std::vector<std::string>& urls,
                       const Options& options, HttpApi api = HttpApi::kWinInet);

}  // namespace measure
