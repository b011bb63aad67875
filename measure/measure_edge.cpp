#include "measure/measure_edge.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "runtime/core/owner.h"
#include "runtime/core/table_rows.h"
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

constexpr uint32_t kLargestBody = 64 * 1024;
constexpr double kLongestExchange = 3.0;
constexpr double kStepSlack = 0.020;  // Step() waits at most this for a send
constexpr double kLaunchAhead = 0.050;  // a worker gets its request this long before it goes out
constexpr double kReplyPoll = 0.020;    // NextWakeTime() while requests are in flight

// The API errors a source meets, each with its reason code (whose texts are
// FailureText's and the programs' own); any other error is kNetworkError
// with its number. WinHTTP kept most of WinINet's numbers; each API has its
// own table all the same, as the two do not mean every number alike.
struct ErrorReason {
  uint32_t code;
  Reason reason;
};
constexpr ErrorReason kWinInetReasons[] = {
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
    {12157, Reason::kSecureChannel},  // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
    {12175, Reason::kSecureChannel},
};
constexpr ErrorReason kWinHttpReasons[] = {
    {12002, Reason::kTimedOut},              // ERROR_WINHTTP_TIMEOUT
    {12005, Reason::kBadUrl},                // ERROR_WINHTTP_INVALID_URL
    {12006, Reason::kBadUrl},                // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
    {12007, Reason::kHostNotFound},          // ERROR_WINHTTP_NAME_NOT_RESOLVED
    {12017, Reason::kCancelled},             // ERROR_WINHTTP_OPERATION_CANCELLED
    {12029, Reason::kCannotConnect},         // ERROR_WINHTTP_CANNOT_CONNECT
    {12030, Reason::kConnectionAborted},     // ERROR_WINHTTP_CONNECTION_ERROR
    {12037, Reason::kCertificateDate},       // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
    {12038, Reason::kCertificateName},       // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
    {12044, Reason::kClientCertificateNeeded},  // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
    {12045, Reason::kCertificateAuthority},  // ERROR_WINHTTP_SECURE_INVALID_CA
    {12057, Reason::kCertificateRevocation}, // ERROR_WINHTTP_SECURE_CERT_REV_FAILED
    {12152, Reason::kInvalidResponse},       // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
    {12157, Reason::kSecureChannel},         // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
    {12169, Reason::kCertificateInvalid},    // ERROR_WINHTTP_SECURE_INVALID_CERT
    {12170, Reason::kCertificateRevoked},    // ERROR_WINHTTP_SECURE_CERT_REVOKED
    {12175, Reason::kSecureChannel},         // ERROR_WINHTTP_SECURE_FAILURE
    {12179, Reason::kCertificateInvalid},    // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
    {12181, Reason::kInvalidResponse},       // ERROR_WINHTTP_HEADER_COUNT_EXCEEDED
    {12182, Reason::kInvalidResponse},       // ERROR_WINHTTP_HEADER_SIZE_OVERFLOW
    {12183, Reason::kInvalidResponse},       // ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW
    {12184, Reason::kInvalidResponse},       // ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW
};

// WinHTTP's numbers as the platform's winhttp.h has them (the edge reaches
// WinHTTP only through PlatformCalls, so it includes no platform header).
namespace winhttp {
constexpr uint32_t kAccessTypeDefaultProxy = 0;      // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
constexpr uint32_t kAccessTypeNoProxy = 1;           // WINHTTP_ACCESS_TYPE_NO_PROXY
constexpr uint32_t kAccessTypeNamedProxy = 3;        // WINHTTP_ACCESS_TYPE_NAMED_PROXY
constexpr uint32_t kFlagRefresh = 0x00000100u;       // WINHTTP_FLAG_REFRESH
constexpr uint32_t kFlagSecure = 0x00800000u;        // WINHTTP_FLAG_SECURE
constexpr uint32_t kOptionReceiveResponseTimeout = 7;  // WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT
constexpr uint32_t kOptionDisableFeature = 63;       // WINHTTP_OPTION_DISABLE_FEATURE
constexpr uint32_t kDisableCookies = 0x1;            // WINHTTP_DISABLE_COOKIES
constexpr uint32_t kDisableRedirects = 0x2;          // WINHTTP_DISABLE_REDIRECTS
constexpr uint32_t kAddHeaderAdd = 0x20000000u;      // WINHTTP_ADDREQ_FLAG_ADD
constexpr uint32_t kAddHeaderReplace = 0x80000000u;  // WINHTTP_ADDREQ_FLAG_REPLACE
constexpr uint32_t kWholeString = 0xFFFFFFFFu;       // (DWORD)-1: the text ends at its NUL
constexpr uint32_t kQueryDate = 9;                   // WINHTTP_QUERY_DATE
constexpr uint32_t kQueryStatusCode = 19;            // WINHTTP_QUERY_STATUS_CODE
constexpr uint32_t kQueryAge = 48;                   // WINHTTP_QUERY_AGE
constexpr uint32_t kQueryVia = 66;                   // WINHTTP_QUERY_VIA
constexpr uint32_t kQueryFlagNumber = 0x20000000u;   // WINHTTP_QUERY_FLAG_NUMBER
constexpr uint32_t kOptionMaxConnsPerServer = 73;    // WINHTTP_OPTION_MAX_CONNS_PER_SERVER
constexpr uint32_t kOptionMaxConnsPer10Server = 74;  // WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER
}  // namespace winhttp

// The headers the exchange reads, by the query code both APIs share.
constexpr uint32_t kHeaderDate = web::wininet::kQueryDate;
constexpr uint32_t kHeaderAge = web::wininet::kQueryAge;
constexpr uint32_t kHeaderVia = web::wininet::kQueryVia;
static_assert(kHeaderDate == winhttp::kQueryDate && kHeaderAge == winhttp::kQueryAge &&
                  kHeaderVia == winhttp::kQueryVia,
              "WinHTTP's query codes are WinINet's");

// WinINet's per-process connection limits (wininet.h; set with a null handle).
constexpr uint32_t kInternetOptionMaxConnsPerServer = 73;    // INTERNET_OPTION_MAX_CONNS_PER_SERVER
constexpr uint32_t kInternetOptionMaxConnsPer10Server = 74;  // INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER

// The agent both APIs send.
constexpr char kAgent[] = "timecal-query/1.0";
// What every request asks of the caches on its way: the server's own reply,
// never a kept one. Both headers, for caches of HTTP/1.1 and of HTTP/1.0.
constexpr char kNoCacheHeaders[] = "Cache-Control: no-cache\r\nPragma: no-cache";
// A named proxy carries every request: nothing bypasses it, not even the
// loopback addresses that the platform would otherwise reach directly.
constexpr char kBypassNothing[] = "<-loopback>";

// --- WinINet's calls ---

namespace inet {
using namespace web::wininet;

uint32_t Open(const PlatformCalls& c, const Proxy& proxy) {
  switch (proxy.mode) {
    case ProxyMode::kDirect:
      return Call(c, kPcInternetOpenA, {W(kAgent), kOpenTypeDirect, 0, 0, 0});
    case ProxyMode::kNamed:
      return Call(c, kPcInternetOpenA,
                  {W(kAgent), kOpenTypeProxy, W(proxy.server.c_str()), W(kBypassNothing), 0});
    case ProxyMode::kSystem:
      break;
  }
  // The user's Internet Settings, as the browser uses them.
  return Call(c, kPcInternetOpenA, {W(kAgent), kOpenTypePreconfig, 0, 0, 0});
}
uint32_t Connect(const PlatformCalls& c, uint32_t session, const Url& url) {
  return Call(c, kPcInternetConnectA, {session, W(url.host.c_str()), static_cast<uint32_t>(url.port),
                                       0, 0, kServiceHttp, 0, 0});
}
uint32_t OpenRequest(const PlatformCalls& c, uint32_t connection, const Url& url) {
  uint32_t flags = kFlagReload | kFlagNoCacheWrite | kFlagKeepConnection | kFlagNoCookies |
                   kFlagNoUi | kFlagPragmaNoCache | kFlagNoAutoRedirect |
                   (url.secure ? kFlagSecure : 0);
  return Call(c, kPcHttpOpenRequestA, {connection, W("GET"), W(url.path.c_str()), 0, 0, 0, flags, 0});
}
bool Prepare(const PlatformCalls& c, uint32_t request, uint32_t timeout_ms) {
  for (uint32_t option : {kOptionConnectTimeout, kOptionSendTimeout, kOptionReceiveTimeout})
    Call(c, kPcInternetSetOptionA, {request, option, W(&timeout_ms), 4});
  return true;
}
bool Send(const PlatformCalls& c, uint32_t request) {
  // The flags' reload and no-cache pragma do not reach every cache on the
  // way (a proxy answers from its cache all the same): the headers do.
  return Call(c, kPcHttpSendRequestA,
              {request, W(kNoCacheHeaders), static_cast<uint32_t>(sizeof kNoCacheHeaders - 1), 0, 0}) != 0;
}
std::string Header(const PlatformCalls& c, uint32_t request, uint32_t which) {
  char value[128] = {0};
  uint32_t size = sizeof value - 1;
  if (!Call(c, kPcHttpQueryInfoA, {request, which, W(value), W(&size), 0})) return "";
  return value;
}
uint32_t Status(const PlatformCalls& c, uint32_t request) {
  uint32_t status = 0, size = 4;
  Call(c, kPcHttpQueryInfoA, {request, kQueryStatusCode | kQueryFlagNumber, W(&status), W(&size), 0});
  return status;
}
bool Read(const PlatformCalls& c, uint32_t request, char* to, uint32_t size, uint32_t* got) {
  return Call(c, kPcInternetReadFile, {request, W(to), size, W(got)}) != 0;
}
// WinINet keeps a few connections per server for the whole process (two
// for HTTP/1.1 by default): a request past them waits for one to free, and
// would go out late. Raised for the process, never lowered.
void AllowConnections(const PlatformCalls& c, uint32_t, uint32_t count) {
  for (uint32_t option : {kInternetOptionMaxConnsPerServer, kInternetOptionMaxConnsPer10Server})
    Call(c, kPcInternetSetOptionA, {0, option, W(&count), 4});
}
}  // namespace inet

// --- WinHTTP's calls ---

namespace whttp {
using namespace winhttp;

std::u16string Wide(const char* ascii) {
  std::u16string wide;
  TryWidenAscii(ascii, &wide);
  return wide;
}

uint32_t Open(const PlatformCalls& c, const Proxy& proxy) {
  const std::u16string agent = Wide(kAgent);
  switch (proxy.mode) {
    case ProxyMode::kDirect:
      return Call(c, kPcWinHttpOpen, {W(agent.c_str()), kAccessTypeNoProxy, 0, 0, 0});
    case ProxyMode::kNamed: {
      // The name is ASCII (TryParseProxy).
      const std::u16string server = Wide(proxy.server.c_str()), bypass = Wide(kBypassNothing);
      return Call(c, kPcWinHttpOpen,
                  {W(agent.c_str()), kAccessTypeNamedProxy, W(server.c_str()), W(bypass.c_str()), 0});
    }
    case ProxyMode::kSystem:
      break;
  }
  // WinHTTP's own setting (netsh winhttp set proxy), not the user's: a
  // service has no user's Internet Settings.
  return Call(c, kPcWinHttpOpen, {W(agent.c_str()), kAccessTypeDefaultProxy, 0, 0, 0});
}
// A source's host and path are ASCII (checked when the source was made).
uint32_t Connect(const PlatformCalls& c, uint32_t session, const Url& url) {
  std::u16string host;
  if (!TryWidenAscii(url.host, &host)) return 0;
  return Call(c, kPcWinHttpConnect, {session, W(host.c_str()), static_cast<uint32_t>(url.port), 0});
}
uint32_t OpenRequest(const PlatformCalls& c, uint32_t connection, const Url& url) {
  std::u16string path;
  if (!TryWidenAscii(url.path, &path)) return 0;
  uint32_t flags = kFlagRefresh | (url.secure ? kFlagSecure : 0);
  return Call(c, kPcWinHttpOpenRequest,
              {connection, W(Wide("GET").c_str()), W(path.c_str()), 0, 0, 0, flags});
}
// Everything the exchange relies on is checked: a request that would follow
// a redirect, keep a cookie, be answered from a cache or wait past its time
// is not sent. WinHTTP's certificate checks are left as they are (all on).
bool Prepare(const PlatformCalls& c, uint32_t request, uint32_t timeout_ms) {
  uint32_t disable = kDisableCookies | kDisableRedirects;
  // Caches between us and the server heed only request headers.
  const std::u16string headers = Wide(kNoCacheHeaders);
  return Call(c, kPcWinHttpSetTimeouts, {request, timeout_ms, timeout_ms, timeout_ms, timeout_ms}) &&
         Call(c, kPcWinHttpSetOption, {request, kOptionReceiveResponseTimeout, W(&timeout_ms), 4}) &&
         Call(c, kPcWinHttpSetOption, {request, kOptionDisableFeature, W(&disable), 4}) &&
         Call(c, kPcWinHttpAddRequestHeaders,
              {request, W(headers.c_str()), kWholeString, kAddHeaderAdd | kAddHeaderReplace});
}
// Until the reply's headers are in, as WinINet's send is.
bool Send(const PlatformCalls& c, uint32_t request) {
  return Call(c, kPcWinHttpSendRequest, {request, 0, 0, 0, 0, 0, 0}) &&
         Call(c, kPcWinHttpReceiveResponse, {request, 0});
}
std::string Header(const PlatformCalls& c, uint32_t request, uint32_t which) {
  char16_t value[128] = {0};
  uint32_t size = sizeof value - sizeof value[0];  // bytes
  if (!Call(c, kPcWinHttpQueryHeaders, {request, which, 0, W(value), W(&size), 0})) return "";
  return NarrowToAscii(std::u16string(value, std::min<size_t>(size / 2, 127)));
}
uint32_t Status(const PlatformCalls& c, uint32_t request) {
  uint32_t status = 0, size = 4;
  Call(c, kPcWinHttpQueryHeaders,
       {request, kQueryStatusCode | kQueryFlagNumber, 0, W(&status), W(&size), 0});
  return status;
}
bool Read(const PlatformCalls& c, uint32_t request, char* to, uint32_t size, uint32_t* got) {
  return Call(c, kPcWinHttpReadData, {request, W(to), size, W(got)}) != 0;
}
// WinHTTP's limits are the session's.
void AllowConnections(const PlatformCalls& c, uint32_t session, uint32_t count) {
  if (!session) return;
  for (uint32_t option : {kOptionMaxConnsPerServer, kOptionMaxConnsPer10Server})
    Call(c, kPcWinHttpSetOption, {session, option, W(&count), 4});
}
}  // namespace whttp

}  // namespace

// One API's calls of an exchange, one row per HttpApi; the exchange itself
// (timing, body, the server's second, the status) is Measurement's, once.
struct HttpCalls {
  HttpApi api;
  PlatformCommand close;  // closes any handle of the API
  bool ascii_only;        // takes UTF-16: a source's host and path must be ASCII
  const ErrorReason* reasons;
  size_t reason_count;
  uint32_t (*open)(const PlatformCalls&, const Proxy&);  // the session; 0 on failure
  uint32_t (*connect)(const PlatformCalls&, uint32_t session, const Url&);
  uint32_t (*open_request)(const PlatformCalls&, uint32_t connection, const Url&);
  // Time-outs and request settings, before the wait; false: do not send.
  bool (*prepare)(const PlatformCalls&, uint32_t request, uint32_t timeout_ms);
  // Sends the request and returns once the reply's headers are in.
  bool (*send)(const PlatformCalls&, uint32_t request);
  // A header's value by its query code (kHeaderDate...); "" when none.
  std::string (*header)(const PlatformCalls&, uint32_t request, uint32_t which);
  uint32_t (*status)(const PlatformCalls&, uint32_t request);
  bool (*read)(const PlatformCalls&, uint32_t request, char* to, uint32_t size, uint32_t* got);
  // Lets `count` requests to one server be in flight at once.
  void (*allow_connections)(const PlatformCalls&, uint32_t session, uint32_t count);
};

namespace {

constexpr HttpCalls kHttpCalls[] = {
    {HttpApi::kWinInet, kPcInternetCloseHandle, false, kWinInetReasons, std::size(kWinInetReasons),
     inet::Open, inet::Connect, inet::OpenRequest, inet::Prepare, inet::Send, inet::Header,
     inet::Status, inet::Read, inet::AllowConnections},
    {HttpApi::kWinHttp, kPcWinHttpCloseHandle, true, kWinHttpReasons, std::size(kWinHttpReasons),
     whttp::Open, whttp::Connect, whttp::OpenRequest, whttp::Prepare, whttp::Send, whttp::Header,
     whttp::Status, whttp::Read, whttp::AllowConnections},
};
static_assert(rt::RowsInKeyOrder(kHttpCalls, &HttpCalls::api) &&
                  sizeof kHttpCalls / sizeof kHttpCalls[0] == 2,
              "one row per HTTP API, in HttpApi order");

// The failure of `step` with API error `code`.
Failure ApiFailure(const HttpCalls& http, Step step, uint32_t code) {
  Failure f{Reason::kNetworkError, code, step};
  for (size_t i = 0; i < http.reason_count; ++i)
    if (http.reasons[i].code == code) f.reason = http.reasons[i].reason;
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
    double ms = left > spin + 0.002 ? std::min((left - spin) * 1000, 200.0) : 0;
    // Sleep(0) while spinning gives the core to any other thread that is
    // ready: workers may wait for their instants side by side on two cores.
    Call(calls_, kPcSleep, {static_cast<uint32_t>(ms)});
  }
}

// ---------------------------------------------------------------------------
// One source: its measurer and its connection.

// A WinINet or WinHTTP handle with the hook and the command that close it,
// owned by one line over the project's owner template.
struct InternetSlot {
  const PlatformCalls* calls;
  PlatformCommand close;
  uint32_t handle;
};
void CloseInternetSlot(const InternetSlot& s) noexcept {
  if (s.handle) Call(*s.calls, s.close, {s.handle});
}
class InternetHandle : public rt::UniqueOf<InternetSlot, CloseInternetSlot> {
 public:
  InternetHandle() = default;
  InternetHandle(const PlatformCalls* calls, const HttpCalls& http, uint32_t h)
      : Unique(InternetSlot{calls, http.close, h}) {}
  uint32_t handle() const { return get().handle; }
};

struct Measurement::Source {
  std::string url;
  Url parts;
  bool parsed = false;
  SourceMeasurer measurer;
  InternetHandle connection;
  bool warm = false;  // answered once: its later requests go out on workers
  Source(const std::string& u, const HttpCalls& http, const Options& o, double base, double start)
      : url(u), measurer(o, base, start) {
    std::u16string wide;
    parsed = TryParseUrl(u, &parts) &&
             (!http.ascii_only || (TryWidenAscii(parts.host, &wide) && TryWidenAscii(parts.path, &wide)));
  }
};

Measurement::Measurement(const PlatformCalls& calls, const std::vector<std::string>& urls,
                         const Options& options, HttpApi api)
    : calls_(calls),
      http_(&rt::RowOr(kHttpCalls, static_cast<size_t>(api), 0)),
      clock_(calls_),
      options_(options) {
  double start = clock_.Now();
  for (const std::string& u : urls) {
    sources_.push_back(std::make_unique<Source>(u, *http_, options_, clock_.UtcMinusMono(), start));
    if (!sources_.back()->parsed) sources_.back()->measurer.Stop(Reason::kBadUrl);
  }
  session_ = std::make_unique<InternetHandle>(&calls_, *http_, http_->open(calls_, options_.proxy));
  http_->allow_connections(calls_, session_->handle(),
                           static_cast<uint32_t>(std::max<size_t>(2, urls.size() * std::max(1, options_.connections))));
  workers_ = std::make_unique<Workers>();
  // Bound here, on the caller's thread, before any worker may need it.
  Call(calls_, kPcGetLastError, {});
  if (Finished()) Finish();
}

// The workers: one thread per request in flight at the busiest moment, each
// kept for the measurement; a lane is a thread and the request it carries.
struct Measurement::Workers {
  struct Lane {
    Source* source = nullptr;  // whose request it carries (the caller's side)
    bool busy = false;         // a request given, its reply not yet taken (the caller's side)
    double send_at = 0;        // under the mutex from here on
    bool ready = false;        // the request is to be made
    bool done = false;         // its reply is in `reply`
    measure::Exchange reply;
    std::thread thread;
  };
  std::mutex mutex;
  std::condition_variable work;     // a lane has a request, or the workers stop
  std::condition_variable replied;  // a lane's reply is in
  bool stopping = false;
  std::vector<std::unique_ptr<Lane>> lanes;

  // Requests in flight are finished (each within its time-out), the rest dropped.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    work.notify_all();
    for (auto& lane : lanes)
      if (lane->thread.joinable()) lane->thread.join();
  }
  ~Workers() { Stop(); }
};

Measurement::~Measurement() {
  if (workers_) workers_->Stop();  // before the handles they use close
}

bool Measurement::InFlight() const {
  for (const auto& lane : workers_->lanes)
    if (lane->busy) return true;
  return false;
}

void Measurement::Launch(Source& s, double send_at) {
  s.measurer.Launch(send_at);
  Workers& w = *workers_;
  Workers::Lane* lane = nullptr;
  for (auto& l : w.lanes)
    if (!l->busy) lane = l.get();
  if (!lane) {
    w.lanes.push_back(std::make_unique<Workers::Lane>());
    lane = w.lanes.back().get();
    lane->thread = std::thread([this, lane] {
      Workers& w = *workers_;
      std::unique_lock<std::mutex> lock(w.mutex);
      for (;;) {
        w.work.wait(lock, [&] { return w.stopping || lane->ready; });
        if (w.stopping) return;
        lane->ready = false;
        Source* source = lane->source;
        double at = lane->send_at;
        lock.unlock();
        measure::Exchange x = Exchange(*source, at);
        lock.lock();
        lane->reply = x;
        lane->done = true;
        w.replied.notify_all();
      }
    });
  }
  lane->busy = true;
  lane->source = &s;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    lane->send_at = send_at;
    lane->done = false;
    lane->ready = true;
  }
  w.work.notify_all();
}

void Measurement::TakeReplies() {
  std::vector<std::pair<Source*, measure::Exchange>> in;
  {
    std::lock_guard<std::mutex> lock(workers_->mutex);
    for (auto& lane : workers_->lanes)
      if (lane->busy && lane->done) {
        in.emplace_back(lane->source, lane->reply);
        lane->busy = lane->done = false;
      }
  }
  for (auto& [source, x] : in) source->measurer.Take(x);
}

void Measurement::Wait(double mono) {
  double left = mono - clock_.Now();
  if (left <= 0 || finished_) return;
  left = std::min(left, 1.0);  // the caller asks again
  Workers& w = *workers_;
  std::unique_lock<std::mutex> lock(w.mutex);
  w.replied.wait_for(lock, std::chrono::duration<double>(left), [&] {
    for (auto& lane : w.lanes)
      if (lane->busy && lane->done) return true;
    return false;
  });
}

bool Measurement::Finished() const {
  if (finished_) return true;
  for (const auto& s : sources_)
    if (!s->measurer.Finished()) return false;
  return true;
}

double Measurement::NextWakeTime() const {
  double next = 1e300;
  for (const auto& s : sources_) {
    if (s->measurer.Finished()) continue;
    next = std::min(next, s->measurer.Deadline());
    // A source with all its connections busy waits for a reply first.
    if (s->measurer.HasRequest() && s->measurer.InFlight() < std::max(1, options_.connections))
      next = std::min(next, s->measurer.NextSendTime() - (s->warm ? kLaunchAhead : 0));
  }
  if (InFlight()) next = std::min(next, clock_.Now() + kReplyPoll);
  return next;
}

void Measurement::Cancel() {
  for (auto& s : sources_) s->measurer.Stop(Reason::kCancelled);
  Finish();
}

void Measurement::Finish() {
  if (finished_) return;
  finished_ = true;
  workers_->Stop();
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

Result Measurement::Partial() const {
  if (finished_) return result_;
  Result r;
  for (const auto& s : sources_) r.sources.push_back(s->measurer.Result(s->url));
  Combine(r);
  r.reference_mono = clock_.Now();
  r.reference_utc = r.reference_mono + clock_.UtcMinusMono();
  return r;
}

bool Measurement::Step() {
  if (finished_) return false;
  TakeReplies();
  double now = clock_.Now();
  Source* due = nullptr;  // the earliest first exchange, made here
  for (auto& s : sources_) {
    SourceMeasurer& m = s->measurer;
    if (m.Finished()) continue;
    if (now >= m.Deadline()) {
      m.Stop(Reason::kTimedOut);
      continue;
    }
    if (!s->warm) {
      if (m.HasRequest() && m.InFlight() == 0 && (!due || m.NextSendTime() < due->measurer.NextSendTime()))
        due = s.get();
      continue;
    }
    while (m.HasRequest() && m.InFlight() < std::max(1, options_.connections) &&
           m.NextSendTime() - now <= kLaunchAhead)
      Launch(*s, m.NextSendTime());
  }
  if (due && due->measurer.NextSendTime() - now <= kStepSlack) {
    measure::Exchange x = Exchange(*due, due->measurer.NextSendTime());
    due->warm = x.ok && due->connection.handle();
    due->measurer.Take(x);
  }
  if (Finished() && !InFlight()) {
    Finish();
    return false;
  }
  return true;
}

// One timed request, over either API. Everything that may be slow (the
// connection handle, the request handle, time-outs, request settings) is
// set up before the wait, so that only the send itself sits between t1 and
// t4.
measure::Exchange Measurement::Exchange(Source& s, double send_at) {
  const HttpCalls& http = *http_;
  measure::Exchange x;
  auto fail = [&](measure::Step step) {  // (Step alone names the member function)
    x.ok = false;
    x.failure = ApiFailure(http, step, Call(calls_, kPcGetLastError, {}));
    x.received = clock_.Now();
    if (x.sent == 0) x.sent = x.received;
    return x;
  };
  if (!session_ || !session_->handle()) return fail(measure::Step::kOpen);
  if (!s.connection.handle()) {
    s.connection = InternetHandle(&calls_, http, http.connect(calls_, session_->handle(), s.parts));
    if (!s.connection.handle()) return fail(measure::Step::kConnect);
  }
  InternetHandle request(&calls_, http, http.open_request(calls_, s.connection.handle(), s.parts));
  if (!request.handle()) return fail(measure::Step::kOpenRequest);
  double left = s.measurer.Deadline() - std::max(send_at, clock_.Now());
  uint32_t timeout_ms = static_cast<uint32_t>(std::max(0.2, std::min(kLongestExchange, left)) * 1000);
  if (!http.prepare(calls_, request.handle(), timeout_ms)) return fail(measure::Step::kOpenRequest);

  clock_.WaitUntil(send_at);
  x.sent = clock_.Now();
  bool sent = http.send(calls_, request.handle());
  x.received = clock_.Now();
  if (!sent) return fail(measure::Step::kSend);

  const std::string date = http.header(calls_, request.handle(), kHeaderDate);
  std::string body;
  char chunk[4096];
  for (;;) {
    uint32_t got = 0;
    if (!http.read(calls_, request.handle(), chunk, sizeof chunk, &got) || got == 0) break;
    body.append(chunk, got);
    if (body.size() > kLargestBody) break;  // not the time service's reply
  }
  // A cache answered in spite of the request's headers: its Date is the kept
  // reply's, not the server's clock now (the body was read all the same, so
  // that the connection stays usable).
  const std::string age = http.header(calls_, request.handle(), kHeaderAge);
  if (!age.empty()) {
    x.failure = Failure{Reason::kCachedReply, "Age: " + age};
    return x;
  }
  int64_t second = 0;
  FineTime fine;  // a source whose URL names a member reads only that
  bool read = s.parts.field.empty() ? TryReadServerSecond(body, date, &second, &x.failure)
                                    : TryReadFineTime(body, s.parts.field, &fine, &x.failure);
  if (!read) {
    uint32_t status = http.status(calls_, request.handle());
    if (status != 200) {
      x.failure.reply = x.failure.reason;
      x.failure.reason = Reason::kHttpStatus;
      x.failure.number = status;
    }
    return x;
  }
  // An error status other than "not found" that a proxy may have written
  // itself (a named proxy carries every request; the system's shows itself
  // by the Via its replies carry) is stamped by the proxy's clock: no
  // reading of the source's. Straight from the source, any reply's Date is
  // the server's own (a site's 403 page included).
  const uint32_t status = http.status(calls_, request.handle());
  if (status >= 400 && status != 404 && status != 410 &&
      (options_.proxy.mode == ProxyMode::kNamed ||
       (options_.proxy.mode == ProxyMode::kSystem && !http.header(calls_, request.handle(), kHeaderVia).empty()))) {
    x.failure = Failure{Reason::kHttpStatus, status};
    x.failure.reply = Reason::kProxyErrorPage;
    return x;
  }
  x.ok = true;
  x.server_second = s.parts.field.empty() ? second : fine.second;
  x.server_fraction = fine.fraction;
  x.resolution = fine.resolution;
  x.unix_number = fine.unix_number;
  return x;
}

Result MeasureBlocking(const PlatformCalls& calls, const std::vector<std::string>& urls,
                       const Options& options, HttpApi api) {
  Measurement m(calls, urls, options, api);
  // Until shortly before the next send (Step() waits out the rest), or a reply.
  while (m.Step()) m.Wait(m.NextWakeTime() - kStepSlack / 2);
  return m.result();
}

}  // namespace measure
