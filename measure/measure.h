// The measurement engine's portable core: how far the PC clock is from
// time sources that answer in whole seconds (or to the millisecond, from a
// JSON member the source's URL names), to a few milliseconds, with a bound
// that covers the true offset. This header is the one include for
// every user of the core; its parts live in one file each:
//   measurer.cpp  the per-source measurer (a step-driven state machine)
//   combine.cpp   the combiner of several sources
//   reply.cpp     the readers of a reply's time: a JSON object's "sysTime2"
//                 in Beijing time or a named member's finer time (their strict
//                 JSON reader), an HTTP Date header
//   url.cpp       the URL splitter, and ASCII to and from UTF-16 for it
//   texts.cpp     the engine's English: each failure's text, dates, numbers,
//                 text from outside made printable
// It performs no I/O and reads no clock: the caller (measure_edge.h on
// Windows, a simulated server in the tests) does every exchange and tells
// the measurer what happened.
// Ownership: plain values only; every object owns its std containers.
// May call: the C++ standard library and the shared calendar
// (runtime/core/calendar.h, header-only arithmetic); builds natively under
// ASan/UBSan.
//
// Times: "mono" is seconds on a monotonic counter (any origin); "utc" is
// seconds since 1970-01-01 00:00 UTC. The caller maps mono to the PC's UTC
// once (utc = mono + pc_utc_minus_mono) and passes that mapping in.
//
// Usage (one source, one request at a time):
//   measure::SourceMeasurer m(options, clock_mapping, start_mono);
//   while (!m.Finished()) {
//     double send_at = m.NextSendTime();   // wait until then (mono)
//     measure::Exchange x = ...;           // one timed request, sent at send_at
//     m.Take(x);
//   }
//   measure::SourceResult r = m.Result(url);
// Several requests in flight (up to options.connections): while
// m.HasRequest() and a connection is free, m.Launch(m.NextSendTime()) and
// send that request at that instant; Take() each reply as it comes, in any
// order. A Take() with nothing launched launches the request itself.
// Several sources: one SourceMeasurer each; put their Result()s in a
// measure::Result's sources and call measure::Combine(result).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace measure {

// Why a source failed or was refused, as a code: each text is derived from
// it, the English by FailureText (one table row per code in texts.cpp, the
// console query prints it) and a program's own language by its own table
// (one row per code, checked against kCount).
enum class Reason : int {
  kNone,                  // no failure (answered, false ticker)
  kNoReply,               // an exchange failed and said nothing more
  kTimedOut,              // 12002 (WinINet and WinHTTP), or the source's time ran out
  kNoReplyInTime,         // the source's time ran out before any exchange was done
  kHostNotFound,          // 12007
  kCannotConnect,         // 12029
  kConnectionAborted,     // 12030
  kConnectionReset,       // 12031 (WinINet)
  kInvalidResponse,       // 12152; WinHTTP: 12181-12184 (headers or body past its limits)
  kCertificateName,       // 12038
  kCertificateDate,       // 12037
  kCertificateAuthority,  // 12045
  kCertificateRevocation, // 12057
  kCertificateRevoked,    // WinHTTP 12170
  kCertificateInvalid,    // WinHTTP 12169, 12179 (not for a server's use)
  kSecureChannel,         // 12175; WinHTTP: 12157
  kClientCertificateNeeded,  // WinHTTP 12044: the server asks for one; none is sent
  kNetworkError,          // any other WinINet or WinHTTP error
  kHttpStatus,            // not 200 and no readable time (reply says why)
  kUnreadableReply,       // no sysTime2 and no Date header
  kUnreadableSysTime2,    // a sysTime2 that is no Beijing time
  kUnreadableDateHeader,  // a Date header that is no HTTP date
  kServerClockStepped,    // replies that no single offset explains
  kBadUrl,                // unparsable; WinHTTP: not ASCII, or 12005/12006
  kCancelled,             // Cancel(); WinHTTP: 12017 (a handle closed under a call)
  kBeforeBuildDate,       // refused: the server's time is before the build
  kTooFarFromPcClock,     // refused: more than a year from the PC clock
  kUnfinished,            // the result was asked for while measuring
  kBadInstants,           // our receive instant before our send, or not finite
  kFieldMissing,          // the member the URL names is not in the reply (or no JSON object)
  kFieldNotTime,          // that member holds no Unix milliseconds and no date-time with fractions
  kFieldNegative,         // that member holds negative milliseconds
  kFieldInSeconds,        // that member's number counts seconds, not milliseconds
  kCachedReply,           // refused: a cache answered (an Age header: that exchange; a Date the
                          // server's clock had left: the source)
  kProxyErrorPage,        // an error status a proxy on the way may have written itself
  kCount
};

// The exchange's step a WinINet or WinHTTP error came from; the English
// text names it (by WinINet's calls: "InternetOpen" for either API's open).
enum class Step : int { kNone, kOpen, kConnect, kOpenRequest, kSend, kCount };

// A failure as data: the code, the platform's number and what the English
// text quotes besides. Everything else is derived from the code.
struct Failure {
  Failure() = default;
  Failure(Reason r, uint32_t n = 0, Step s = Step::kNone) : reason(r), number(n), step(s) {}
  Failure(Reason r, std::string quoted) : reason(r), detail(std::move(quoted)) {}
  Reason reason = Reason::kNone;
  uint32_t number = 0;     // WinINet or WinHTTP error, or the HTTP status for kHttpStatus; 0 if none
  Step step = Step::kNone; // where such an error came from
  Reason reply = Reason::kNone;  // for kHttpStatus: why the reply gave no time
  std::string detail;      // the reply's unreadable text (its first 40 bytes), the
                           // refused server's date ("2026-12-07"), or what gave a
                           // cached reply away ("Age: 5")
};
// "send: cannot connect (12029)", "HTTP 404, no sysTime2 and no Date header",
// "refused: server time 1999-01-01 is before this program was built"; empty
// for kNone. Bytes from outside are kept as they came (see Printable).
std::string FailureText(const Failure& failure);

// What one timed request gave: our send and receive instants and the
// server's whole second, or why there is none. A source whose URL names a
// member gives its time finer than that: server_second plus the fraction,
// to within the resolution (the server's own reading lay in
// [server_second + fraction, ... + resolution)).
struct Exchange {
  double sent = 0;        // t1, mono, just before the request went out
  double received = 0;    // t4, mono, when the reply's headers were in
  bool ok = false;
  int64_t server_second = 0;  // the server's clock, whole seconds, utc
  Failure failure;            // why, when !ok (kNone: kNoReply is assumed)
  double server_fraction = 0; // [0, 1): the part of the server's time past server_second
  double resolution = 0;      // seconds; 0: a whole-second reply (its tick is aimed at)
  bool unix_number = false;   // the time came as a JSON number of Unix milliseconds
};

// One year, the farthest a source may be from the PC clock and the largest
// correction any program of the project applies: 365 days, one number.
constexpr int64_t kOneYearSeconds = 365LL * 86400;

// How the edge reaches its sources: by the system's proxy settings (WinINet:
// the user's Internet Settings; WinHTTP: its own default, "netsh winhttp set
// proxy"), directly, or through the proxy named here, which then carries
// every request, loopback included. HTTPS goes through a proxy by CONNECT,
// with the same certificate checks as directly.
enum class ProxyMode { kSystem, kDirect, kNamed };
struct Proxy {
  ProxyMode mode = ProxyMode::kSystem;
  std::string server;  // kNamed: "host:port"
};
// "host:port" (a host name, an IPv4 address or a bracketed IPv6 address, a
// port 1..65535, nothing else) as a named proxy.
bool TryParseProxy(const std::string& text, Proxy* proxy);
// The way to the sources as a command line names it at words[i]:
// "--no-proxy", "--proxy=HOST:PORT", or "--proxy" with HOST:PORT the next
// word. Returns how many words it took, 0 (and *proxy untouched) for any
// other word or a name that is no HOST:PORT.
size_t TakeProxyWords(const std::vector<std::string>& words, size_t i, Proxy* proxy);

struct Options {
  double build_utc = 0;          // replies before this are refused
  double max_seconds = 12;       // one source's whole measurement
  double target_resolution = 0.002;  // stop halving below this (s)
  int max_requests = 24;          // per source and measurement, failed ones included
  int max_failures = 3;          // failed exchanges in a row before the source fails
  double max_distance = static_cast<double>(kOneYearSeconds);  // refuse offsets beyond (s)
  double send_margin = 0.004;    // earliest send is this after "now" (s)
  Proxy proxy;                   // the edge's way to the sources
  // Politeness toward each source, besides max_requests: no one-second span
  // holds more than this many of its requests.
  int max_per_second = 10;
  int connections = 4;           // a source's requests in flight at once, at most
};

enum class SourceState {
  kAnswered,     // offset and bound are valid
  kFailed,       // no usable answer; reason says why
  kFalseTicker,  // answered, but its interval misses the majority's common point
  kRefused,      // answered a time that fails the sanity checks; reason says why
};

struct SourceResult {
  std::string url;
  SourceState state = SourceState::kFailed;
  Failure failure;         // for kFailed and kRefused: why
  double offset = 0;       // server minus PC, seconds
  double bound = 0;        // |true offset - offset| <= bound (honest server)
  double rtt = 0;          // smallest round trip seen, seconds
  int requests = 0;        // exchanges attempted, failed ones included
};

struct Result {
  std::vector<SourceResult> sources;  // in the order the sources were given
  bool found = false;       // a majority of the answered sources agree (below)
  bool disagree = false;    // sources answered, but no majority agrees: no offset
  int truechimers = 0;      // answered sources whose intervals share the offset
  double offset = 0;        // combined offset, seconds (server minus PC)
  double bound = 0;         // honest bound of the combined offset
  double reference_utc = 0; // PC UTC instant the measurement refers to
  double reference_mono = 0;  // the same instant on the monotonic counter
};

// One source's measurer. The first exchange opens the connection; then each
// round aims a fan of requests at one tick of the server's second, each to
// reach the server at its own point of the current uncertainty, so that the
// tick splits it k+1 ways; rounds go on until the uncertainty stops
// shrinking or is down to the target resolution. A source that answers
// finer than a second (Exchange::resolution) has no tick to aim at: its
// exchanges go back to back and their intervals narrow the bound. Never
// blocks and never reads a clock: "now" comes in.
class SourceMeasurer {
 public:
  SourceMeasurer(const Options& options, double pc_utc_minus_mono, double start_mono);
  bool Finished() const;
  // When to send the next request (mono): its aim, or later when the
  // per-second limit says so. Valid while HasRequest().
  double NextSendTime() const;
  // A request is planned (else the round waits for replies in flight).
  bool HasRequest() const { return !finished_ && !plan_.empty(); }
  // The request for NextSendTime() goes out at `at` (mono).
  void Launch(double at);
  int InFlight() const { return in_flight_; }
  // When the measurement must be over (mono): an exchange's time-out
  // should not reach past it.
  double Deadline() const { return start_ + options_.max_seconds; }
  // The outcome of a launched exchange (any order), or, with none in
  // flight, of the one sent for the last NextSendTime().
  void Take(const Exchange& exchange);
  // Call when the caller gives up (time out, shutdown): finishes with what
  // is known; a source with no answer fails for `reason` when it is given,
  // else for its last failure. Finished() is true afterwards.
  void Stop(Reason reason = Reason::kNone);
  SourceResult Result(const std::string& url) const;
  // The mono instant the offset refers to (the last good exchange).
  double ReferenceMono() const;

 private:
  struct Sample {
    double u1, u4;   // send and receive, PC utc
    int64_t second;  // server's whole second
    double fraction = 0;  // past it, for a finer source
    double width = 1;     // the reply's resolution: the server read second + fraction + [0, width)
  };
  struct Planned {
    double send;   // mono
    double phase;  // the offset at which the server's tick meets this request
    bool check;    // aimed outside the honest interval, kept whatever the estimate
  };
  void Plan(double now);
  void PlanFine(double now);
  void PlanRound(double now);
  double Tick(double phase, double earliest) const;
  void Aim(const std::vector<double>& phases, bool check, double earliest, double tick);
  int Fan(double width, int budget) const;
  void Prune();
  void UpdateEstimate();
  bool Bounds(double* lo, double* hi) const;
  void Finish(SourceState state, Failure failure);
  // kCachedReply when a good exchange's second is one the server's clock had
  // already left before we sent, by the honest interval so far; else kNone.
  // Such a reply fails the source (see Take).
  Failure CachedReply(const Exchange& exchange) const;

  Options options_;
  double base_;         // pc utc minus mono
  double start_;        // mono
  double next_send_;    // mono
  std::vector<Sample> samples_;
  std::vector<Planned> plan_;    // this round's requests not yet launched, in send order
  std::vector<double> launched_; // every launch's instant (mono), in order
  int in_flight_ = 0;
  double round_width_ = 0;       // the estimate's width when the last round was planned
  int stalls_ = 0;               // rounds that left the estimate about as wide
  bool checked_ = false;         // the edge checks are planned
  double est_lo_ = 0, est_hi_ = 0;  // where the offset is believed to lie
  bool have_estimate_ = false;
  int failures_ = 0;
  double min_rtt_ = 0;
  bool finished_ = false;
  SourceState state_ = SourceState::kFailed;
  Failure failure_;
  Failure last_failure_;  // of the last failed exchange (kNone: none failed)
  bool fine_ = false;         // the source answers finer than a second
  bool fine_stalled_ = false; // its last exchange narrowed nothing
  double fine_width_ = 0;     // its honest interval's width so far
};

// Selects and combines the answered sources by their intervals
// [offset - bound, offset + bound]: the truechimers are the largest set of
// sources whose intervals share a common point, provided that set is more
// than half of the answered sources and no other set of its size exists;
// every other answered source is a false ticker, however near. The combined
// offset is the centre of the truechimers' common interval and the bound its
// half-width. Without such a majority nothing is found, `disagree` is set and
// every answered source is marked a false ticker. One answered source is its
// own majority. reference_* are left to the caller.
void Combine(Result& result);

// A text from outside (a server's header, a URL) made safe for a console or
// a window: bytes below 0x20, 0x7F and backslash as \xNN; other bytes kept.
// Applied once, where a text is shown (the query's lines, the window's
// source lines): the engine's own texts keep a reply's bytes as they came.
std::string Printable(const std::string& text);

// "YYYY-MM-DD HH:MM:SS" in Beijing time (UTC+8) to utc seconds.
bool TryParseBeijingTime(const std::string& text, int64_t* utc);
// An HTTP Date header value (IMF-fixdate, RFC 850 or asctime form) to utc.
bool TryParseHttpDate(const std::string& text, int64_t* utc);
// If body is a JSON object with a string member "sysTime2", its text.
// A small strict reader: no script engine, any nesting depth up to 64.
bool TryReadSysTime2(const std::string& body, std::string* value);
// The server's second from a reply: sysTime2 when the body is a JSON object
// with it, else the Date header. False with *failure set when neither reads
// (kUnreadableReply, kUnreadableSysTime2 or kUnreadableDateHeader); the
// second form gives its FailureText.
bool TryReadServerSecond(const std::string& body, const std::string& date_header,
                         int64_t* utc, Failure* failure);
bool TryReadServerSecond(const std::string& body, const std::string& date_header,
                         int64_t* utc, std::string* failure);
// A source's JSON member named by a dotted path of object members ("data.t":
// member "t" of the top-level member "data"), read by the same strict reader:
// the last of equal names wins, as it does for sysTime2. A string's text is
// decoded; a number's is its JSON text as written. False when body is not
// one JSON object or the path has an empty name; true with kMissing when
// the member (or an object on its way) is not there.
struct JsonMember {
  enum class Kind { kMissing, kString, kNumber, kOther };
  Kind kind = Kind::kMissing;
  std::string text;
};
bool TryReadJsonMember(const std::string& body, const std::string& path, JsonMember* member);
// A finer server time: utc second, the fraction past it and the resolution.
struct FineTime {
  int64_t second = 0;
  double fraction = 0;    // [0, 1)
  double resolution = 0;  // seconds, 1e-6 at the finest
  bool unix_number = false;
};
// The time in the member `path` names (Url::field). Accepted, and nothing else:
//  - a JSON number of Unix milliseconds, digits with an optional fraction
//    ("1796644800123", "1796644800123.25"; no exponent, at most 18 digits
//    before the point); resolution 1 ms, a tenth of that per fraction digit;
//  - a JSON string of an ISO 8601 date-time with 1 to 9 fraction digits and
//    a zone, "Z" or +HH:MM / -HH:MM ("2026-12-07T21:00:00.123Z",
//    "2026-12-08T05:00:00.123+08:00");
//  - a JSON string in sysTime2's Beijing form with 1 to 9 fraction digits
//    ("2026-12-08 05:00:00.123", UTC+8).
// A date-time's resolution is its last digit's; no resolution is finer than
// 1 us (later digits are cut, which keeps the server's reading inside it).
// False with *failure: kFieldMissing (detail: the path), kFieldNotTime or
// kFieldNegative (detail: the value's first 40 bytes). Whether a number
// counts seconds needs the PC clock: the measurer decides that.
bool TryReadFineTime(const std::string& body, const std::string& path, FineTime* time,
                     Failure* failure);
// __DATE__ ("Dec  7 2026") to utc midnight of that day; 0 when unreadable.
double BuildDateUtc(const char* date_macro);
// FILETIME's 100 ns ticks from 1601-01-01 to 1970-01-01, where utc starts.
constexpr int64_t kFileTimeAt1970 = 116444736000000000LL;
// "YYYY-MM-DD" of the day of any utc second (the year may be long or signed).
std::string DateText(int64_t utc);

// An http:// or https:// URL split for the connection. False for any
// other scheme, a missing host, user info, or a port outside 1..65535.
// The fragment is never sent: it names the JSON member that holds a finer
// time ("http://host/api/time#data.t", see TryReadFineTime), a dotted path
// of member names, each at least one byte, none with a blank, control byte,
// DEL, '.' or '#' (no escapes are read); an empty fragment names nothing.
// False for any other fragment.
struct Url {
  bool secure = false;
  std::string host;
  int port = 0;
  std::string path;  // "/" when the URL has none; with the query
  std::string field; // the fragment's member path; empty: the source answers in whole seconds
};
bool TryParseUrl(const std::string& text, Url* url);

// Text for an API that takes UTF-16 (WinHTTP): a URL's host and path, the
// request's headers. Each ASCII byte becomes its own UTF-16 unit; false for
// a text with any other byte (no code page is guessed for it).
bool TryWidenAscii(const std::string& text, std::u16string* wide);
// A header such an API gives back (the Date): ASCII units kept, every other
// unit '?' (a Date outside ASCII is unreadable either way).
std::string NarrowToAscii(const std::u16string& wide);

// The query's number forms: "+0.123", "-1.500".
std::string FormatSeconds(double s, bool sign);

}  // namespace measure
