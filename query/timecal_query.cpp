// timecal-query: measures the PC clock's offset against time sources from
// the command line, like "w32tm /stripchart" does for NTP.
//
//   timecal-query.exe [--winhttp] [--proxy HOST:PORT | --no-proxy] [-q] [URL...]
//   timecal-query.exe --status   the time-keeping service's state and last
//                                result (its lines: keeper_status.cpp); exits
//                                0 running, 1 stopped, 4 not installed
//   timecal-query.exe --help | --version
//
// --winhttp measures over WinHTTP (as the service does) instead of WinINet.
// Requests go by the system's proxy settings unless --proxy names one or
// --no-proxy goes direct. One line per source, then the combined offset; -q
// prints only the offset in seconds (nothing when there is none). Exit codes
// (kUsage says them too):
//   0  an offset was found (the last line is "offset ...")
//   1  no source answered ("no source answered")
//   2  bad arguments
//   3  sources answered but no majority of them agrees ("sources disagree")
// Every URL and reason is printed through measure::Printable: they come
// from the command line or a server, and a control byte in them must not
// reach the console as itself.
// Owns nothing beyond main(); the platform calls are bound by name
// (BindPlatformCalls), the measurement is the engine's (measure/).
#include <cstdio>
#include <string>
#include <vector>

#include "measure/measure_edge.h"
#include "query/keeper_status.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitDisagree = 3;

void PrintSource(const measure::SourceResult& s) {
  using measure::FormatSeconds;
  const std::string url = measure::Printable(s.url);
  switch (s.state) {
    case measure::SourceState::kAnswered:
      std::printf("source %s offset %s +/- %s s rtt %s s requests %d\n", url.c_str(),
                  FormatSeconds(s.offset, true).c_str(), FormatSeconds(s.bound, false).c_str(),
                  FormatSeconds(s.rtt, false).c_str(), s.requests);
      break;
    case measure::SourceState::kFalseTicker:
      std::printf("source %s false ticker\n", url.c_str());
      break;
    case measure::SourceState::kFailed:
    case measure::SourceState::kRefused:
      std::printf("source %s failed: %s\n", url.c_str(),
                  measure::Printable(measure::FailureText(s.failure)).c_str());
      break;
  }
}

constexpr char kVersion[] = "timecal-query 1.0";
constexpr char kUsage[] =
    "usage: timecal-query.exe [--winhttp] [--proxy HOST:PORT | --no-proxy] [-q] [URL...]\n"
    "       timecal-query.exe --status | --help | --version\n"
    "Measures how far this PC's clock is from time sources (a JSON sysTime2 or any\n"
    "web site's Date header), to a few milliseconds with an honest bound. Sets nothing.\n"
    "  URL              http:// or https://; without one the tool's time service\n"
    "  --winhttp        measure over WinHTTP (as the service does), not WinINet\n"
    "  --proxy H:P      through this proxy (HTTPS by CONNECT, certificates checked)\n"
    "  --no-proxy       directly, whatever the system's proxy settings say\n"
    "                   (by default: the system's proxy settings)\n"
    "  -q               print only the offset in seconds\n"
    "  --status         the time-keeping service's state and last result\n"
    "                   (exits 0 running, 1 stopped, 4 not installed)\n"
    "Exit codes: 0 offset found, 1 no source answered, 2 bad arguments,\n"
    "            3 sources answered but disagree.\n";

int BadArgument(const char* what, const char* word) {
  std::fprintf(stderr, "timecal-query: %s: %s\n%s", what, measure::Printable(word).c_str(), kUsage);
  return kExitBadArguments;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--status") return query::PrintKeeperStatus();
  std::vector<std::string> urls;
  measure::HttpApi api = measure::HttpApi::kWinInet;
  measure::Options options;
  bool quiet = false, proxy_given = false;
  const std::vector<std::string> words(argv, argv + argc);
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "/?") {
      std::printf("%s", kUsage);
      return kExitFound;
    }
    if (word == "--version") {
      std::printf("%s (built %s)\n", kVersion, __DATE__);
      return kExitFound;
    }
    if (word == "--winhttp") {
      api = measure::HttpApi::kWinHttp;
    } else if (word == "-q") {
      quiet = true;
    } else if (word == "--no-proxy" || word == "--proxy" || word.rfind("--proxy=", 0) == 0) {
      // One way to the sources: a second choice contradicts the first.
      if (proxy_given) return BadArgument("one of --proxy and --no-proxy, once", argv[i]);
      proxy_given = true;
      const size_t taken = measure::TakeProxyWords(words, i, &options.proxy);
      const bool name_follows = word == "--proxy" && i + 1 < words.size();
      if (!taken) return BadArgument("--proxy wants HOST:PORT", (name_follows ? words[i + 1] : word).c_str());
      i += taken - 1;
    } else {
      measure::Url parts;
      if (!measure::TryParseUrl(word, &parts)) return BadArgument("not an http:// or https:// URL", argv[i]);
      urls.push_back(word);
    }
  }
  if (urls.empty()) urls.push_back(TIMECAL_SERVICE_URL);

  options.build_utc = measure::BuildDateUtc(__DATE__);
  measure::Result r = measure::MeasureBlocking(measure::BindPlatformCalls(), urls, options, api);
  if (!quiet)
    for (const measure::SourceResult& s : r.sources) PrintSource(s);
  int code = r.disagree ? kExitDisagree : r.found ? kExitFound : kExitNoAnswer;
  if (quiet) {
    if (r.found) std::printf("%s\n", measure::FormatSeconds(r.offset, true).c_str());
  } else if (code == kExitDisagree) {
    std::printf("sources disagree\n");
  } else if (code == kExitNoAnswer) {
    std::printf("no source answered\n");
  } else {
    std::printf("offset %s +/- %s s\n", measure::FormatSeconds(r.offset, true).c_str(),
                measure::FormatSeconds(r.bound, false).c_str());
  }
  std::fflush(stdout);
  return code;
}
