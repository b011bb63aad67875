// A pipe client for service_wine_test.py, run under Wine against a running service:
//   pipe_client state     one state request; prints its fields
//   pipe_client hostile   each malformed request and a client that never reads: one line each, what came back
//   pipe_client flood N   N calibration requests in a row: how many were accepted, how many busy
//   pipe_client crowd N   N clients connect at once and say nothing; then one state request
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "keeper/keeper_win.h"

namespace {

using keeper::Handle;

Handle Open(DWORD wait_ms = 3000) {
  for (DWORD waited = 0;; waited += 100) {
    HANDLE h = CreateFileA(keeper::kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
      return Handle(h);
    }
    if (GetLastError() != ERROR_PIPE_BUSY || waited >= wait_ms) return Handle();
    WaitNamedPipeA(keeper::kPipeName, 100);
  }
}

// Sends `bytes` and reads one answer: "answer-N" (the Answer), or how it failed.
std::string Exchange(const std::vector<uint8_t>& bytes) {
  Handle h = Open();
  uint8_t in[256];
  DWORD done = 0;
  keeper::Status s;
  if (!h) return "no-connection";
  if (!WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)) return "write-failed";
  if (!ReadFile(h.get(), in, sizeof in, &done, nullptr)) return "closed";
  return keeper::TryDecodeStatus(in, done, &s) ? "answer-" + std::to_string(static_cast<int>(s.answer)) : "unreadable";
}

std::vector<uint8_t> Request(keeper::Command c) {
  auto r = keeper::EncodeRequest(c);
  return {r.begin(), r.end()};
}

int State() {
  keeper::Status s;
  if (!keeper::TryAsk(keeper::Command::kState, &s, 3000)) return std::printf("state failed %lu\n", GetLastError()), 1;
  std::printf("answer=%d measuring=%d measurements=%u found=%d offset_us=%ld bound_us=%lu agreed=%u "
              "false_tickers=%u decision=%u set_utc_ms=%lld correction_ms=%lld\n",
              static_cast<int>(s.answer), s.measuring, s.measurements, s.found, static_cast<long>(s.offset_us),
              static_cast<unsigned long>(s.bound_us), s.agreed, s.false_tickers, s.decision,
              static_cast<long long>(s.set_utc_ms), static_cast<long long>(s.correction_ms));
  return 0;
}

int Hostile() {
  const std::vector<uint8_t> good = Request(keeper::Command::kState);
  // (name, byte index to change or -1, its new value, size)
  const struct { const char* name; int at; uint8_t value; size_t size; } cases[] = {
      {"short", -1, 0, 5},        {"long", -1, 0, 200},       {"empty", -1, 0, 0},
      {"magic", 0, 0x00, 8},      {"version", 4, 9, 8},       {"command0", 6, 0, 8},
      {"command99", 6, 99, 8},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    bytes.resize(c.size, 0xAB);
    if (c.at >= 0) bytes[c.at] = c.value;
    std::printf("%s %s\n", c.name, Exchange(bytes).c_str());
  }
  // A client that asks and never reads: the next client is still served.
  Handle rude = Open();
  DWORD done = 0;
  if (rude) WriteFile(rude.get(), good.data(), static_cast<DWORD>(good.size()), &done, nullptr);
  std::printf("after-unread %s\n", Exchange(good).c_str());
  return 0;
}

int Flood(int n) {
  int accepted = 0, busy = 0;
  for (int i = 0; i < n; ++i) {
    std::string a = Exchange(Request(keeper::Command::kCalibrate));
    accepted += a == "answer-1";
    busy += a == "answer-2";
  }
  std::printf("accepted %d busy %d other %d\n", accepted, busy, n - accepted - busy);
  return 0;
}

// Connects and says nothing: 0 when the service gives up on it, 2 when it answered anyway.
DWORD WINAPI Silent(void*) {
  Handle h = Open(10000);
  uint8_t in[256];
  DWORD done = 0;
  return !h ? 1 : ReadFile(h.get(), in, sizeof in, &done, nullptr) ? 2 : 0;
}

int Crowd(int n) {
  std::vector<Handle> threads;
  for (int i = 0; i < n; ++i) threads.emplace_back(CreateThread(nullptr, 0, Silent, nullptr, 0, nullptr));
  int answered = 0;
  for (const Handle& t : threads) {
    DWORD code = 0;
    WaitForSingleObject(t.get(), 60000);
    GetExitCodeThread(t.get(), &code);
    answered += code == 2;
  }
  std::printf("crowd %d answered-silence %d then %s\n", n, answered,
              Exchange(Request(keeper::Command::kState)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  int n = argc > 2 ? std::atoi(argv[2]) : 0;
  if (mode == "state") return State();
  if (mode == "hostile") return Hostile();
  if (mode == "flood") return Flood(n);
  if (mode == "crowd") return Crowd(n);
  std::fprintf(stderr, "usage: pipe_client state|hostile|flood N|crowd N\n");
  return 2;
}
