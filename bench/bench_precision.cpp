// How right the clock ends up (see bench_precision.cmake): for each service
// setting, the main tool's click error (the time its click asks for minus
// the service's true time at the click, from its test build's clock log)
// beside the query's error (measured offset minus the service's true
// offset), with the query's bound and time per measurement.
// BENCH_PRECISION_RUNS sets the query's runs per setting (default 10; the
// tool is clicked 20 times per setting).
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_service.h"
#include "bench/bench_timing.h"
#include "measure/measure_edge.h"
#include "tests/app/tool_driver.h"
#include "window_templates.h"  // the tool's control ids

namespace {

struct Service : bench::TimeService {
  Service() : TimeService("bench-precision.port") {}
  bool Control(const std::string& query) const {
    HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET req = InternetOpenUrlA(root, Url("/control?" + query).c_str(), nullptr, 0,
                                     INTERNET_FLAG_RELOAD, 0);
    char buf[16] = {0};
    DWORD n = 0;
    bool ok = req && InternetReadFile(req, buf, sizeof buf - 1, &n) && std::string(buf, n) == "ok";
    if (req) InternetCloseHandle(req);
    InternetCloseHandle(root);
    return ok;
  }
};

struct Setting {
  const char* name;
  double delay, reply_delay, jitter;
};
constexpr Setting kSettings[] = {
    {"no delay", 0, 0, 0},
    {"20 ms, half each side of the stamp", 0.010, 0.010, 0},
    {"20 ms, all before the stamp", 0.020, 0, 0},
    {"100 ms, half each side", 0.050, 0.050, 0},
    {"20 +- 5 ms jitter, half each side", 0.010, 0.010, 0.0025},
};

// Local wall-clock seconds (the tool logs local time; the service serves it
// while the tool is clicked).
double LocalNow() {
  FILETIME utc, local;
  GetSystemTimePreciseAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  ULARGE_INTEGER u{{local.dwLowDateTime, local.dwHighDateTime}};
  return static_cast<double>(u.QuadPart) / 1e7;
}

bool LoggedSeconds(const std::string& line, double* seconds) {
  SYSTEMTIME t{};
  if (std::sscanf(line.c_str(), "%hu-%hu-%hu %hu:%hu:%hu", &t.wYear, &t.wMonth, &t.wDay, &t.wHour,
                  &t.wMinute, &t.wSecond) != 6)
    return false;
  FILETIME f;
  if (!SystemTimeToFileTime(&t, &f)) return false;
  ULARGE_INTEGER u{{f.dwLowDateTime, f.dwHighDateTime}};
  *seconds = static_cast<double>(u.QuadPart) / 1e7;
  return true;
}

struct Figures {
  double median = NAN, p95 = NAN;
};
Figures Summarise(std::vector<double> v) {
  Figures f;
  if (v.empty()) return f;
  std::sort(v.begin(), v.end());
  f.median = v[v.size() / 2];
  f.p95 = v[std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1)];
  return f;
}

// The tool clicked `clicks` times at random moments; |error| in seconds.
std::vector<double> ToolErrors(const Service& service, std::mt19937& rng, int clicks,
                               double* signed_median) {
  std::vector<double> errors, signed_errors;
  double truth = std::uniform_real_distribution<double>(-3000, 3000)(rng);
  // The tool shows and sets local time; the query reads Beijing time.
  service.Control("zone=local&offset=" + std::to_string(truth));
  e2e::Program tool(e2e::kTool, service.Url());
  if (!tool.window()) return errors;
  Sleep(1500);  // a refresh with the new offset
  std::vector<double> clicked;
  for (int i = 0; i < clicks; ++i) {
    Sleep(static_cast<DWORD>(std::uniform_int_distribution<int>(0, 999)(rng)));
    double before = LocalNow();
    tool.Click(rtwin::MainWindow::control::kButton1);
    clicked.push_back((before + LocalNow()) / 2);
  }
  std::vector<std::string> asked = tool.Lines(e2e::kClockLog);
  tool.Close();
  service.Control("zone=beijing");
  for (size_t i = 0; i < asked.size() && i < clicked.size(); ++i) {
    double set;
    if (!LoggedSeconds(asked[i], &set)) continue;
    double error = set - (clicked[i] + truth);
    signed_errors.push_back(error);
    errors.push_back(std::fabs(error));
  }
  *signed_median = Summarise(signed_errors).median;
  return errors;
}

}  // namespace

int main() {
  Service service;
  if (!service.port) {
    std::printf("the local time service did not start\n");
    return 1;
  }
  int runs = 10;
  if (const char* r = std::getenv("BENCH_PRECISION_RUNS")) runs = std::max(1, std::atoi(r));
  const int clicks = 20;
  std::mt19937 rng(20261207);
  measure::PlatformCalls calls = measure::BindPlatformCalls();
  std::printf("tool: %d clicks per setting at random moments; query: %d runs per setting, "
              "a random fractional true offset each\n", clicks, runs);
  std::printf("%-36s | %-28s | %-62s\n", "service", "tool click |error| (signed)",
              "query |error|, bound, covered, time");
  for (const Setting& s : kSettings) {
    char control[160];
    std::snprintf(control, sizeof control, "fault=none&delay=%.4f&reply_delay=%.4f&jitter=%.4f",
                  s.delay, s.reply_delay, s.jitter);
    service.Control(control);
    double tool_signed = NAN;
    Figures tool = Summarise(ToolErrors(service, rng, clicks, &tool_signed));

    std::vector<double> errors, bounds;
    int covered = 0;
    double seconds = 0;
    for (int i = 0; i < runs; ++i) {
      double truth = std::uniform_real_distribution<double>(-3000, 3000)(rng);
      service.Control("offset=" + std::to_string(truth));
      double t0 = bench::Seconds();
      measure::Result r = measure::MeasureBlocking(calls, {service.Url()}, measure::Options{});
      seconds += bench::Seconds() - t0;
      if (!r.found) continue;
      double error = std::fabs(r.offset - truth);
      errors.push_back(error);
      bounds.push_back(r.bound);
      covered += error <= r.bound;
    }
    Figures query = Summarise(errors);
    Figures bound = Summarise(bounds);
    std::printf("%-36s | median %6.0f ms p95 %6.0f ms (%+5.0f ms) | median %5.1f ms p95 %5.1f ms, "
                "bound %5.1f ms, covered %d/%zu, %4.1f s\n",
                s.name, tool.median * 1000, tool.p95 * 1000, tool_signed * 1000,
                query.median * 1000, query.p95 * 1000, bound.median * 1000, covered,
                errors.size(), seconds / runs);
    std::fflush(stdout);
  }
  return 0;
}
