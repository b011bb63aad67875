// A pipe client for the service's tests, run under Wine by
// service_wine_test.py against a running service:
//   pipe_client state           one state request; prints its fields
//   pipe_client ask COMMAND     one request (1-4); prints the answer
//   pipe_client hostile         each malformed request and each rude client;
//                               one line per case: its name and what came back
//   pipe_client flood N         N calibration requests in a row; prints how
//                               many were accepted and how many were busy
//   pipe_client crowd N         N clients connect at once and say nothing
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keeper/keeper_win.h"

namespace {

HANDLE Open(DWORD wait_ms = 3000) {
  for (DWORD waited = 0;; waited += 100) {
    HANDLE h = CreateFileA(keeper::kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
      return h;
    }
    if (GetLastError() != ERROR_PIPE_BUSY || waited >= wait_ms) return nullptr;
    WaitNamedPipeA(keeper::kPipeName, 100);
  }
}

// Sends `bytes`, reads one answer; the answer's name or how it failed.
std::string Exchange(const void* bytes, DWORD size) {
  HANDLE h = Open();
  if (!h) return "no-connection";
  DWORD done = 0;
  std::string result;
  uint8_t in[256];
  if (!WriteFile(h, bytes, size, &done, nullptr)) {
    result = "write-failed";
  } else if (!ReadFile(h, in, sizeof in, &done, nullptr)) {
    result = "closed";
  } else {
    keeper::Status s;
    result = keeper::TryDecodeStatus(in, done, &s) ? "answer-" + std::to_string(static_cast<int>(s.answer))
                                                   : "unreadable";
  }
  CloseHandle(h);
  return result;
}

std::string Ask(keeper::Command c) {
  auto request = keeper::EncodeRequest(c);
  return Exchange(request.data(), static_cast<DWORD>(request.size()));
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

DWORD WINAPI Silent(void*) {
  HANDLE h = Open(10000);
  if (!h) return 1;
  uint8_t in[256];
  DWORD done = 0;
  BOOL answered = ReadFile(h, in, sizeof in, &done, nullptr);  // the service gives up on us
  CloseHandle(h);
  return answered ? 2 : 0;
}

int Hostile() {
  auto good = keeper::EncodeRequest(keeper::Command::kState);
  std::vector<uint8_t> bytes(good.begin(), good.end());
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"short", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5)});
  cases.push_back({"long", bytes});
  cases.back().bytes.resize(200, 0xAB);
  cases.push_back({"magic", bytes});
  cases.back().bytes[0] ^= 0xFF;
  cases.push_back({"version", bytes});
  cases.back().bytes[4] = 9;
  cases.push_back({"command0", bytes});
  cases.back().bytes[6] = 0;
  cases.push_back({"command99", bytes});
  cases.back().bytes[6] = 99;
  cases.push_back({"empty", {}});
  for (const Case& c : cases)
    std::printf("%s %s\n", c.name, Exchange(c.bytes.data(), static_cast<DWORD>(c.bytes.size())).c_str());
  // Half a message and then nothing: the service waits its time, then closes.
  {
    HANDLE h = Open();
    DWORD started = GetTickCount();
    std::printf("silent %s after %lu ms\n", Silent(nullptr) == 0 ? "closed" : "answered",
                GetTickCount() - started);
    if (h) CloseHandle(h);
  }
  // A client that asks and never reads: the next client is still served.
  HANDLE rude = Open();
  DWORD done = 0;
  if (rude) WriteFile(rude, good.data(), static_cast<DWORD>(good.size()), &done, nullptr);
  std::printf("after-unread %s\n", Ask(keeper::Command::kState).c_str());
  if (rude) CloseHandle(rude);
  return 0;
}

int Flood(int n) {
  int accepted = 0, busy = 0, other = 0;
  for (int i = 0; i < n; ++i) {
    std::string a = Ask(keeper::Command::kCalibrate);
    if (a == "answer-1") ++accepted;
    else if (a == "answer-2") ++busy;
    else ++other;
  }
  std::printf("accepted %d busy %d other %d\n", accepted, busy, other);
  return 0;
}

int Crowd(int n) {
  std::vector<HANDLE> threads;
  for (int i = 0; i < n; ++i) threads.push_back(CreateThread(nullptr, 0, Silent, nullptr, 0, nullptr));
  int answered = 0;
  for (HANDLE t : threads) {
    WaitForSingleObject(t, 60000);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    answered += code == 2;
    CloseHandle(t);
  }
  std::printf("crowd %d answered-silence %d then %s\n", n, answered, Ask(keeper::Command::kState).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  int n = argc > 2 ? std::atoi(argv[2]) : 0;
  if (mode == "state") return State();
  if (mode == "ask") return std::printf("%s\n", Ask(static_cast<keeper::Command>(n)).c_str()), 0;
  if (mode == "hostile") return Hostile();
  if (mode == "flood") return Flood(n);
  if (mode == "crowd") return Crowd(n);
  std::fprintf(stderr, "usage: pipe_client state|ask N|hostile|flood N|crowd N\n");
  return 2;
}
