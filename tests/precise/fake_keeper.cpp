#include "tests/precise/fake_keeper.h"

#include "service/service.h"

namespace e2e {
namespace {
FakeKeeper* g_keeper = nullptr;
}

int64_t NowUtcMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>(((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000 - 11644473600000ULL);
}

keeper::Status Measured(int32_t offset_us, uint32_t bound_us, uint16_t agreed, uint16_t sources, int64_t utc_ms,
                        uint16_t decision) {
  keeper::Status s;
  s.measurements = 1, s.found = true, s.offset_us = offset_us, s.bound_us = bound_us;
  s.agreed = agreed, s.sources = sources, s.measured_utc_ms = utc_ms, s.decision = decision;
  return s;
}

FakeKeeper::FakeKeeper(const keeper::Status& status)
    : status_(status), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  g_keeper = this;
  thread_ = std::thread([this] { service::ServePipe(stop_, Ask); });
  // The server makes its instances on threads of its own: a client could connect once one waits.
  for (int i = 0; i < 200 && !WaitNamedPipeA(keeper::kPipeName, 50); ++i) Sleep(25);
}

FakeKeeper::~FakeKeeper() {
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
  g_keeper = nullptr;
}

keeper::Status FakeKeeper::Ask(keeper::Command command) {
  FakeKeeper& k = *g_keeper;
  std::lock_guard<std::mutex> lock(k.mutex_);
  keeper::Status out = k.status_;
  if (command == keeper::Command::kState) return out;
  k.requests_.push_back(command);
  out.answer = k.answer_;
  if (k.answer_ == keeper::Answer::kAccepted) {  // finished at once: the next status has one more
    ++k.status_.measurements;
    k.status_.measured_utc_ms = NowUtcMs();
  }
  return out;
}

}  // namespace e2e
