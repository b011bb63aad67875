// Fault injection for the end-to-end test build (TIMECAL_INJECT):
//   dll     after the first refresh, every other refresh fails one platform
//           call of the DllCommandTable (the first call of the refresh, then
//           the second, ...), each followed by a good refresh, until a
//           refresh makes fewer calls than the one to fail; then "done".
//           Calls go through a resolver wrapped around the Runtime's own, so
//           each call either reaches the real function (counted: WinINet
//           handles opened and closed) or a stub that fails the way the
//           function reports failure (0 / FALSE; a failed close still closes
//           the handle, so a leak can only be the tool's).
//   com:K   the same for the COM steps of a refresh (creating the script
//           engine, binding a member by name, each invocation: Language,
//           AddCode, Eval), from the Kth step on, through the COM layer's
//           own seam.
//   heap:N  after the second refresh, the Nth heap request fails (the
//           allocator's own seam); the tool must end on the fatal path.
// Every refresh appends to TIMECAL_FAULT_LOG: refresh number, failed entry
// (dll) or step (com), -1 for none, platform calls or COM steps made, what
// the service box shows (T a time,
// F 100年1月1日, O other), WinINet handles open, heap blocks live, heap
// requests since the last refresh ended.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/dll_table.h"
#include "app/timecal.h"
#include "runtime/com/com.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/memory.h"
#include "program/program_calls.h"

namespace app {
namespace {

rt::DllResolver g_real = nullptr;
void* g_address[kDllCommandCount] = {};
int g_calls = 0, g_fail_at = 0, g_failed = -1;
long g_open_handles = 0;

void Count(int index, uint32_t result) {
  if (!result) return;
  if (index == web::kInternetOpenA || index == web::kInternetConnectA || index == web::kHttpOpenRequestA)
    ++g_open_handles;
  if (index == web::kInternetCloseHandle) --g_open_handles;
}

template <size_t>
using Word = uint32_t;
template <int Index, typename Seq>
struct Stub;
template <int Index, size_t... I>
struct Stub<Index, std::index_sequence<I...>> {
  static uint32_t __stdcall Pass(Word<I>... w) {
    using Fn = uint32_t(__stdcall*)(Word<I>...);
    const uint32_t r = reinterpret_cast<Fn>(g_address[Index])(w...);
    Count(Index, r);
    return r;
  }
  static uint32_t __stdcall Fail(Word<I>... w) {
    if (Index == web::kInternetCloseHandle) Pass(w...);
    return 0;
  }
};
template <int Index, size_t Words>
constexpr std::pair<void*, void*> Entry() {
  using S = Stub<Index, std::make_index_sequence<Words>>;
  return {reinterpret_cast<void*>(&S::Pass), reinterpret_cast<void*>(&S::Fail)};
}
// Each entry's pair of stubs, taking the argument words of its table row.
template <size_t... I>
std::array<std::pair<void*, void*>, sizeof...(I)> Stubs(std::index_sequence<I...>) {
  return {Entry<static_cast<int>(I), kDllTable.rows[I].words>()...};
}
const auto kStubs = Stubs(std::make_index_sequence<kDllCommandCount>());

bool g_dll_failures = false;  // dll mode: g_fail_at counts platform calls

void* Resolve(uint32_t index) {
  void* real = g_real(index);
  if (index >= kDllCommandCount) return real;
  g_address[index] = real;
  if (++g_calls == g_fail_at && g_dll_failures) {
    g_failed = static_cast<int>(index);
    return kStubs[index].second;
  }
  return kStubs[index].first;
}

char ShownCategory() {
  char* shown = reinterpret_cast<char*>(static_cast<uintptr_t>(
      prog::ReadProperty(kMainWindow, kServiceTimeBox, kEditBoxContent, kWholeProperty)));
  const char* t = shown ? shown : "";
  const char c = std::strcmp(t, "100" GBK_YEAR "1" GBK_MONTH "1" GBK_DAY) == 0 ? 'F'
                 : std::strstr(t, GBK_SECOND) || std::strstr(t, GBK_DAY) ? 'T'
                                                                          : 'O';
  prog::Free(shown);
  return c;
}

void Log(const char* line) {
  const char* path = std::getenv("TIMECAL_FAULT_LOG");
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::fputs(line, f);
    std::fclose(f);
  }
}

}  // namespace

void ProbeCountPlatformCalls() {
  if (g_real) return;  // once: wrapping the wrapper would call itself
  g_real = rt::Hooks().resolve_dll;
  rt::Hooks().resolve_dll = &Resolve;
}

long ProbeOpenInternetHandles() { return g_open_handles; }

void ProbeFaultsAfterRefresh() {
  static const char* mode = std::getenv("TIMECAL_INJECT");
  static const bool com = mode && std::strncmp(mode, "com:", 4) == 0;
  static int refreshes = 0, next_failure = com ? std::atoi(mode + 4) : 1;
  static int64_t requests_before = 0, steps_before = 0;
  static bool done = false;
  if (!mode || done) return;
  ++refreshes;
  const char shown = ShownCategory();
  const rt::HeapFigures heap = rt::GetHeapFigures();
  const int64_t steps = rt::ComStepsTaken();
  if (com) {
    g_calls = static_cast<int>(steps - steps_before);
    g_failed = g_fail_at != 0 && g_calls >= g_fail_at ? g_fail_at : -1;
  }
  steps_before = steps;
  char line[128];
  std::snprintf(line, sizeof line, "%d %d %d %c %ld %lld %lld\n", refreshes, g_failed, g_calls, shown,
                g_open_handles, static_cast<long long>(heap.live_blocks),
                static_cast<long long>(heap.requests - requests_before));
  const bool failing_refresh = g_fail_at != 0;
  const bool ran_out = failing_refresh && g_failed == -1;
  if (refreshes > 1) Log(line);
  requests_before = heap.requests;
  if (std::strncmp(mode, "heap:", 5) == 0) {
    if (refreshes == 2) rt::FailNthAllocation(std::atoi(mode + 5));
    return;
  }
  if (!com && std::strcmp(mode, "dll") != 0) return;
  if (ran_out) {
    rt::FailNthComStep(0);
    Log("done\n");
    done = true;
    g_fail_at = 0;
    return;
  }
  g_dll_failures = !com;
  if (refreshes == 1) ProbeCountPlatformCalls();  // in com mode too: the handle figure is logged always
  // A good refresh follows each failing one; the next failing one fails the
  // call after the last one failed.
  g_fail_at = failing_refresh || refreshes == 1 ? 0 : next_failure++;
  if (com) rt::FailNthComStep(g_fail_at);
  g_calls = 0;
  g_failed = -1;
}

}  // namespace app
