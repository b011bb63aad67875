#include "measure/measure_edge.h"

#include <algorithm>
#include <initializer_list>

#include "runtime/core/owner.h"
#include "web/wininet_numbers.h"

namespace measure {

namespace {

using prog::W;

uint32_t Call(const PlatformCalls& calls, PlatformCommand command,
              std::initializer_list<uint32_t> words) {
  return calls.call(calls.context, command, words.begin(), static_cast<int>(words.size()));
}

bool Available(const PlatformCalls& calls, PlatformCommand command) {
  return !calls.available || calls.available(calls.context, command);
}

int64_t Counter(const PlatformCalls& calls, PlatformCommand command) {
  int64_t value = 0;  // LARGE_INTEGER
  Call(calls, command, {W(&value)});
  return value;
}

// FILETIME (100 ns since 1601) to utc seconds.
double FileTimeUtc(const PlatformCalls& calls, PlatformCommand command) {
  uint32_t ft[2] = {0, 0};
  Call(calls, command, {W(ft)});
  int64_t t = (static_cast<int64_t>(ft[1]) << 32) | ft[0];
  return static_cast<double>(t - kFileTimeAt1970) / 1e7;
}

// WinINet's numbers.
using namespace web::wininet;
constexpr uint32_t kLargestBody = 64 * 1024;
constexpr double kLongestExchange = 3.0;
constexpr double kStepSlack = 0.020;  // Step() waits at most this for a send

// The WinINet errors a source meets, each with its reason code (whose
// texts are FailureText's and the programs' own); any other error is
// kNetworkError with its number.
struct ErrorReason {
  uint32_t code;
  Reason reason;
};
constexpr ErrorReason kErrorReasons[] = {
    {12002, Reason::kTimedOut},
    {12007, Reason::kHostNotFound},
    {12029, Reason::kCannotConnect},
    {12030, Reason::kConnectionAborted},
    {12031, Reason::kConnectionReset},
    {12152, Reason::kInvalidResponse},
    {12038, Reason::kCertificateName},
    {12037, Reason::kCertificateDate},
    {12045, Reason::kCertificateAuthority},
    {12057, Reason::kCertificateRevocation},
    {12175, Reason::kSecureChannel},
};

// The failure of `step` with WinINet error `code`.
Failure WinInetFailure(Step step, uint32_t code) {
  Failure f{Reason::kNetworkError, code, step};
  for (const ErrorReason& e : kErrorReasons)
    if (e.code == code) f.reason = e.reason;
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------

Clock::Clock(const PlatformCalls& calls) : calls_(calls) {
  int64_t frequency = Counter(calls_, kPcQueryPerformanceFrequency);
  period_ = frequency > 0 ? 1.0 / static_cast<double>(frequency) : 1e-7;
  if (Available(calls_, kPcGetSystemTimePreciseAsFileTime)) {
    // The reading with the tightest pair of counter values around it.
    double best_gap = 1e9;
    for (int i = 0; i < 5; ++i) {
      double before = Now();
      double utc = FileTimeUtc(calls_, kPcGetSystemTimePreciseAsFileTime);
      double after = Now();
      if (after - before < best_gap) {
        best_gap = after - before;
        utc_minus_mono_ = utc - (before + after) / 2;
      }
    }
    return;
  }
  // The coarse clock: catch the instant it ticks, which is exact.
  double first = FileTimeUtc(calls_, kPcGetSystemTimeAsFileTime);
  double start = Now();
  double utc = first;
  while ((utc = FileTimeUtc(calls_, kPcGetSystemTimeAsFileTime)) == first && Now() - start < 0.1) {
  }
  utc_minus_mono_ = utc - Now();
}

double Clock::Now() const {
  // From the counter's own zero, not from this Clock's making: every Clock
  // then reads the same mono, and a time kept across a new mapping (made
  // after the PC clock was set) does not jump. A double holds the count
  // exactly for centuries of uptime at 10 MHz.
  return static_cast<double>(Counter(calls_, kPcQueryPerformanceCounter)) * period_;
}

void Clock::WaitUntil(double mono, double spin) const {
  for (;;) {
    double left = mono - Now();
    if (left <= 0) return;
    if (left > spin + 0.002) {
      double ms = std::min((left - spin) * 1000, 200.0);
      Call(calls_, kPcSleep, {static_cast<uint32_t>(ms)});
    }
  }
}

// ---------------------------------------------------------------------------
// One source: its measurer and its connection.

// A WinINet handle with the hook that closes it, owned by one line over the
// project's owner template.
struct InternetSlot {
  const PlatformCalls* calls;
  uint32_t handle;
};
void CloseInternetSlot(const InternetSlot& s) noexcept {
  if (s.handle) Call(*s.calls, kPcInternetCloseHandle, {s.handle});
}
class InternetHandle : public rt::UniqueOf<InternetSlot, CloseInternetSlot> {
 public:
  InternetHandle() = default;
  InternetHandle(const PlatformCalls* calls, uint32_t h) : Unique(InternetSlot{calls, h}) {}
  uint32_t handle() const { return get().handle; }
};

struct Measurement::Source {
  std::string url;
  Url parts;
  bool parsed = false;
  SourceMeasurer measurer;
  InternetHandle connection;
  Source(const std::string& u, const Options& o, double base, double start)
      : url(u), measurer(o, base, start) {
    parsed = TryParseUrl(u, &parts);
  }
};

Measurement::Measurement(const PlatformCalls& calls, const std::vector<std::string>& urls,
                         const Options& options)
    : calls_(calls), clock_(calls_), options_(options) {
  double start = clock_.Now();
  for (const std::string& u : urls) {
    sources_.push_back(std::make_unique<Source>(u, options_, clock_.UtcMinusMono(), start));
    if (!sources_.back()->parsed) sources_.back()->measurer.Stop(Reason::kBadUrl);
  }
  session_ = std::make_unique<InternetHandle>(
      &calls_, Call(calls_, kPcInternetOpenA,
                    {W("timecal-query/1.0"), kOpenTypeDirect, 0, 0, 0}));
  if (Finished()) Finish();
}

Measurement::~Measurement() = default;

bool Measurement::Finished() const {
  if (finished_) return true;
  for (const auto& s : sources_)
    if (!s->measurer.Finished()) return false;
  return true;
}

double Measurement::NextWakeTime() const {
  double next = 1e300;
  for (const auto& s : sources_)
    if (!s->measurer.Finished()) next = std::min(next, s->measurer.NextSendTime());
  return next;
}

void Measurement::Cancel() {
  for (auto& s : sources_) s->measurer.Stop(Reason::kCancelled);
  Finish();
}

void Measurement::Finish() {
  if (finished_) return;
  finished_ = true;
  result_ = Result{};
  for (auto& s : sources_) {
    s->measurer.Stop();
    result_.sources.push_back(s->measurer.Result(s->url));
    s->connection.reset();
  }
  session_.reset();
  Combine(result_);
  result_.reference_mono = clock_.Now();
  result_.reference_utc = result_.reference_mono + clock_.UtcMinusMono();
}

bool Measurement::Step() {
  if (finished_) return false;
  double now = clock_.Now();
  Source* due = nullptr;
  for (auto& s : sources_) {
    if (s->measurer.Finished()) continue;
    if (now >= s->measurer.Deadline()) {
      s->measurer.Stop(Reason::kTimedOut);
      continue;
    }
    if (!due || s->measurer.NextSendTime() < due->measurer.NextSendTime()) due = s.get();
  }
  if (!due) {
    Finish();
    return false;
  }
  double send_at = due->measurer.NextSendTime();
  if (send_at - now > kStepSlack) return true;
  due->measurer.Take(Exchange(*due, send_at));
  if (Finished()) {
    Finish();
    return false;
  }
  return true;
}

// One timed request. Everything that may be slow (the connection handle,
// the request handle, time-outs) is set up before the wait, so that only the
// send itself sits between t1 and t4.
measure::Exchange Measurement::Exchange(Source& s, double send_at) {
  measure::Exchange x;
  auto fail = [&](measure::Step step) {  // (Step alone names the member function)
    x.ok = false;
    x.failure = WinInetFailure(step, Call(calls_, kPcGetLastError, {}));
    x.received = clock_.Now();
    if (x.sent == 0) x.sent = x.received;
    return x;
  };
  if (!session_ || !session_->handle()) return fail(measure::Step::kOpen);
  if (!s.connection.handle()) {
    s.connection = InternetHandle(
        &calls_, Call(calls_, kPcInternetConnectA,
                      {session_->handle(), W(s.parts.host.c_str()), static_cast<uint32_t>(s.parts.port),
                       0, 0, kServiceHttp, 0, 0}));
    if (!s.connection.handle()) return fail(measure::Step::kConnect);
  }
  uint32_t flags = kFlagReload | kFlagNoCacheWrite | kFlagKeepConnection | kFlagNoCookies |
                   kFlagNoUi | kFlagPragmaNoCache | kFlagNoAutoRedirect |
                   (s.parts.secure ? kFlagSecure : 0);
  InternetHandle request(&calls_, Call(calls_, kPcHttpOpenRequestA,
                                       {s.connection.handle(), W("GET"), W(s.parts.path.c_str()), 0,
                                        0, 0, flags, 0}));
  if (!request.handle()) return fail(measure::Step::kOpenRequest);
  double left = s.measurer.Deadline() - std::max(send_at, clock_.Now());
  uint32_t timeout_ms = static_cast<uint32_t>(std::max(0.2, std::min(kLongestExchange, left)) * 1000);
  for (uint32_t option : {kOptionConnectTimeout, kOptionSendTimeout, kOptionReceiveTimeout})
    Call(calls_, kPcInternetSetOptionA, {request.handle(), option, W(&timeout_ms), 4});

  clock_.WaitUntil(send_at);
  x.sent = clock_.Now();
  uint32_t sent = Call(calls_, kPcHttpSendRequestA, {request.handle(), 0, 0, 0, 0});
  x.received = clock_.Now();
  if (!sent) return fail(measure::Step::kSend);

  char date[128] = {0};
  uint32_t size = sizeof date - 1;
  if (!Call(calls_, kPcHttpQueryInfoA, {request.handle(), kQueryDate, W(date), W(&size), 0}))
    date[0] = 0;
  std::string body;
  char chunk[4096];
  for (;;) {
    uint32_t got = 0;
    if (!Call(calls_, kPcInternetReadFile, {request.handle(), W(chunk), sizeof chunk, W(&got)}) ||
        got == 0)
      break;
    body.append(chunk, got);
    if (body.size() > kLargestBody) break;  // not the time service's reply
  }
  int64_t second;
  if (!TryReadServerSecond(body, date, &second, &x.failure)) {
    uint32_t status = 0, status_size = 4;
    Call(calls_, kPcHttpQueryInfoA,
         {request.handle(), kQueryStatusCode | kQueryFlagNumber, W(&status), W(&status_size), 0});
    if (status != 200) {
      x.failure.reply = x.failure.reason;
      x.failure.reason = Reason::kHttpStatus;
      x.failure.number = status;
    }
    return x;
  }
  x.ok = true;
  x.server_second = second;
  return x;
}

Result MeasureBlocking(const PlatformCalls& calls, const std::vector<std::string>& urls,
                       const Options& options) {
  Measurement m(calls, urls, options);
  while (m.Step()) {
    // Sleep until shortly before the next send; Step() spins the rest.
    double wake = m.NextWakeTime() - kStepSlack / 2;
    m.clock().WaitUntil(wake, 0);
  }
  return m.result();
}

}  // namespace measure
