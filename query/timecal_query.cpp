// timecal-query: measures the PC clock's offset against time sources from
// the command line, like "w32tm /stripchart" does for NTP.
//
//   timecal-query.exe [--winhttp] [URL...]
//   timecal-query.exe --status   the time-keeping service's state and last
//                                result (its lines: keeper_status.cpp); exits
//                                0 running, 1 stopped, 4 not installed
//
// --winhttp measures over WinHTTP (as the service does) instead of WinINet.
// One line per source, then the combined offset. Exit codes:
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--status") return query::PrintKeeperStatus();
  std::vector<std::string> urls;
  measure::HttpApi api = measure::HttpApi::kWinInet;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--winhttp") {
      api = measure::HttpApi::kWinHttp;
      continue;
    }
    measure::Url parts;
    if (!measure::TryParseUrl(argv[i], &parts)) {
      std::fprintf(stderr,
                   "timecal-query: not an http:// or https:// URL: %s\n"
                   "usage: timecal-query.exe [--winhttp] [URL...]\n",
                   measure::Printable(argv[i]).c_str());
      return kExitBadArguments;
    }
    urls.push_back(argv[i]);
  }
  if (urls.empty()) urls.push_back(TIMECAL_SERVICE_URL);

  measure::Options options;
  options.build_utc = measure::BuildDateUtc(__DATE__);
  measure::Result r = measure::MeasureBlocking(measure::BindPlatformCalls(), urls, options, api);
  for (const measure::SourceResult& s : r.sources) PrintSource(s);
  if (r.disagree) {
    std::printf("sources disagree\n");
    std::fflush(stdout);
    return kExitDisagree;
  }
  if (!r.found) {
    std::printf("no source answered\n");
    std::fflush(stdout);
    return kExitNoAnswer;
  }
  std::printf("offset %s +/- %s s\n", measure::FormatSeconds(r.offset, true).c_str(),
              measure::FormatSeconds(r.bound, false).c_str());
  std::fflush(stdout);
  return kExitFound;
}
