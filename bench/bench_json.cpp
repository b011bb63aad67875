// JSON object timings under the real Script Control: what one refresh of
// the tool costs (Parse of a service reply and two GetJson), beside the
// part of it that is only restarting the control and loading the prelude;
// then a 1 MB reply, the validator's share, and what 10,000 Parse cycles
// leave behind in memory and handles. Prints figures only.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "json/json_object.h"
#include "json/json_validate.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "app/process_figures.h"
#include "tests/support/program_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
std::vector<double> TimeEach(int cycles, Fn fn) {
  std::vector<double> ms;
  ms.reserve(cycles);
  for (int i = 0; i < cycles; ++i) {
    auto start = Clock::now();
    fn();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms;
}

void Report(const char* what, const std::vector<double>& ms) {
  double total = 0;
  for (double m : ms) total += m;
  std::printf("%-44s n=%-5zu median %8.3f ms  p99 %8.3f ms  mean %8.3f ms\n", what, ms.size(),
              ms[ms.size() / 2], ms[ms.size() * 99 / 100], total / ms.size());
}

}  // namespace

int main() {
  testsupport::LoadProgramDllTable();
  const char* reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  json::JsonObject* o = json::NewJsonObject();
  const int kCycles = 1000;

  // Interleaved, so that drift (the engine's own memory growth) falls on both.
  std::vector<double> restart, refresh;
  for (int i = 0; i < kCycles; ++i) {
    restart.push_back(TimeEach(1, [&] {
      prog::Call(rt::ClearObject, {rt::PtrArg(rt::kComObject, o->engine)});
      o->methods->init_engine(o);
    })[0]);
    refresh.push_back(TimeEach(1, [&] {
      json::Parse(o, reply);
      prog::Free(json::GetJson(o, "sysTime2"));
      prog::Free(json::GetJson(o, "sysTime2"));
    })[0]);
  }
  std::sort(restart.begin(), restart.end());
  std::sort(refresh.begin(), refresh.end());
  Report("restart control + load prelude (baseline)", restart);
  Report("Parse + 2 GetJson (one refresh)", refresh);
  Report("validator on the service reply", TimeEach(kCycles, [&] { json::IsSafeJson(reply); }));

  // About 1 MB: an array of small records.
  std::string big = "[";
  for (int i = 0; big.size() < (1u << 20); ++i)
    big += (i ? "," : "") + std::string("{\"id\":") + std::to_string(i) +
           ",\"name\":\"item number " + std::to_string(i) + "\",\"ok\":true,\"v\":[1.5,2,3]}";
  big += "]";
  std::printf("1 MB reply: %zu bytes\n", big.size());
  Report("validator on 1 MB", TimeEach(20, [&] { json::IsSafeJson(big.c_str()); }));
  bool parsed = false;
  Report("Parse of 1 MB", TimeEach(10, [&] { parsed = json::Parse(o, big.c_str()); }));
  std::printf("1 MB parsed: %s, Count %d\n", parsed ? "yes" : "no", json::Count(o, ""));

  // Parse restarts the control every time: what 10,000 cycles leave behind.
  const unsigned long bytes_before = testsupport::PrivateBytes(), handles_before = testsupport::OpenHandles();
  for (int i = 0; i < 10000; ++i) {
    json::Parse(o, reply);
    prog::Free(json::GetJson(o, "sysTime2"));
  }
  std::printf("10000 Parse+GetJson cycles: private bytes %lu -> %lu, handles %lu -> %lu\n", bytes_before,
              testsupport::PrivateBytes(), handles_before, testsupport::OpenHandles());
  json::DeleteJsonObject(o);
  return 0;
}
