// The tool's figures under Wine (see bench_app.cmake). Starts the local time
// service itself (Wine runs a Unix program given by its Unix path; it ends
// itself 20 s after the last request) unless tools/bench.sh gives it one;
// the baselines are a minimal HTTP server on a thread of this process, a raw
// WinINet GET and a program that only shows a window.
#include <winsock2.h>
#include <windows.h>

#include "bench/bench_service.h"
#include "bench/bench_timing.h"
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "json/json_object.h"
#include "runtime/core/commands.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "tests/support/child_process.h"
#include "tests/support/program_setup.h"
#include "web/codepage.h"
#include "web/web_request.h"

namespace {

using bench::Report;
inline double Seconds() { return bench::Seconds(); }

std::string WindowsPath(const std::string& unix_path) { return "Z:" + unix_path; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// tools/bench.sh starts the service and stops it again (a Unix process
// started from here outlives TerminateProcess); run alone, the benchmark
// starts its own.
struct Service : bench::TimeService {
  Service() : TimeService(std::getenv("BENCH_SERVICE_PORT") ? nullptr : "bench-service.port") {
    if (const char* given = std::getenv("BENCH_SERVICE_PORT")) port = std::atoi(given);
  }
};

void RawGet(const std::string& url) {
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET req = InternetOpenUrlA(root, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
  char buf[1024];
  DWORD n = 0;
  while (req && InternetReadFile(req, buf, sizeof buf, &n) && n) {
  }
  if (req) InternetCloseHandle(req);
  InternetCloseHandle(root);
}

// The smallest server WinINet can talk to: each request (read up to its
// blank line) gets the same service-like reply in one send, on a kept
// connection. A thread of this process, on 127.0.0.1.
class MinimalServer {
 public:
  MinimalServer() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = CreateThread(nullptr, 0, &MinimalServer::Accept, this, 0, nullptr);
  }
  ~MinimalServer() {
    closesocket(listener_);  // ends the accept loop
    if (thread_) {
      WaitForSingleObject(thread_, 2000);
      CloseHandle(thread_);
    }
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/getSysTime.do"; }
  int port() const { return port_; }

 private:
  static DWORD WINAPI Accept(void* self) {
    auto* server = static_cast<MinimalServer*>(self);
    for (;;) {
      SOCKET s = accept(server->listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return 0;
      CloseHandle(CreateThread(nullptr, 0, &MinimalServer::Serve, reinterpret_cast<void*>(s), 0, nullptr));
    }
  }
  static DWORD WINAPI Serve(void* arg) {
    SOCKET s = reinterpret_cast<SOCKET>(arg);
    static const char kBody[] = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json;charset=UTF-8\r\nContent-Length: " +
                              std::to_string(sizeof kBody - 1) + "\r\n\r\n" + kBody;
    std::string pending;
    char buf[4096];
    for (;;) {
      int n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      pending.append(buf, static_cast<size_t>(n));
      size_t end;
      while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
        pending.erase(0, end + 4);
        send(s, reply.data(), static_cast<int>(reply.size()), 0);
      }
    }
    closesocket(s);
    return 0;
  }
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  HANDLE thread_ = nullptr;
};

// What an idle message loop would run between two refreshes (the JSON
// object's idle-time work comes as a thread timer of 10 ms).
void Idle() {
  Sleep(15);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void Ratio(const char* what, const std::vector<double>& ours, const std::vector<double>& base, const char* target) {
  std::printf("%-40s %.3f / %.3f ms = %.2fx  (target %s)\n", what, Median(ours), Median(base),
              Median(ours) / Median(base), target);
}

bool IsVisible(HWND h) { return IsWindowVisible(h) != FALSE; }

// Starts the tool's test build; returns its process once its window shows.
testsupport::Process StartProgram(const std::string& exe, double* seconds_to_visible, HWND* window) {
  double t0 = Seconds();
  testsupport::Process program = testsupport::Spawn("\"" + testsupport::ExeDir() + exe + "\"");
  if (!program) return program;
  HWND found = testsupport::WaitForVisibleWindow(program, IsVisible, 2000, 5);
  *seconds_to_visible = Seconds() - t0;
  *window = found;
  return program;
}

testsupport::Process StartTool(const Service& service, double* seconds_to_visible, HWND* window) {
  SetEnvironmentVariableA("TIMECAL_URL", service.Url().c_str());
  return StartProgram("..\\app\\timecal_probe.exe", seconds_to_visible, window);
}

void StopTool(const testsupport::Process& program, HWND window) {
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  program.WaitOrEnd(20000, 1);
}


}  // namespace

int main() {
  Service service;
  if (!service.port) {
    std::printf("the local time service did not start\n");
    return 1;
  }
  // 1. Process start to visible window (the first refresh runs before it),
  // beside a program that only registers, creates and shows one window.
  std::vector<double> start_ms, blank_ms;
  for (int i = 0; i < 5; ++i) {
    double s = 0;
    HWND w = nullptr;
    testsupport::Process pi = StartTool(service, &s, &w);
    start_ms.push_back(s * 1000);
    StopTool(pi, w);
    pi = StartProgram("bench_blank_window.exe", &s, &w);
    blank_ms.push_back(s * 1000);
    StopTool(pi, w);
  }
  Report("process start to visible window", start_ms);
  Report("a program that only shows a window", blank_ms);

  // 2. The local service beside a minimal server, one raw WinINet GET each.
  MinimalServer minimal;
  std::vector<double> to_service, to_minimal;
  for (int i = 0; i < 200; ++i) {
    double t0 = Seconds();
    RawGet(service.Url());
    double t1 = Seconds();
    RawGet(minimal.Url());
    double t2 = Seconds();
    to_service.push_back((t1 - t0) * 1000);
    to_minimal.push_back((t2 - t1) * 1000);
  }
  Ratio("local service GET / minimal server GET", to_service, to_minimal, "<= 1.2x");

  // 3. One refresh, step by step, beside a raw WinINet GET of the same URL
  // (the minimal server's, so that the service's own time is not measured
  // twice); the loop idles between refreshes as the tool's would.
  testsupport::LoadProgramDllTable();
  double c0 = Seconds();
  json::JsonObject* json = json::NewJsonObject();
  double c1 = Seconds();
  prog::OwnedText cold_reply = web::WebGetText(minimal.Url().c_str());
  double c2 = Seconds();
  std::printf("cold start pieces: first JsonObject %.1f ms, first WebGetText %.1f ms\n", (c1 - c0) * 1000,
              (c2 - c1) * 1000);
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
  std::vector<double> http, raw, convert, parse, display, whole;
  for (int i = 0; i < 300; ++i) {
    Idle();
    double t0 = Seconds();
    prog::OwnedText reply = web::WebGetText(minimal.Url().c_str());
    double t1 = Seconds();
    prog::OwnedText text = web::Utf8ToAnsi(reply);
    double t2 = Seconds();
    json->methods->parse(json, prog::Str(text));
    prog::OwnedText member(json->methods->get_json(json, "sysTime2"));
    double t3 = Seconds();
    int32_t n = static_cast<int32_t>(prog::Str(member) ? std::strlen(prog::Str(member)) : 0);
    prog::OwnedText inner = prog::TakeText(
        prog::Call(rt::MidText, {rt::TextArg(prog::Str(member)), rt::IntArg(2), rt::IntArg(n - 2)}));
    rt::ArgRecord when = prog::Call(rt::ToDateTime, {rt::TextArg(prog::Str(inner))});
    prog::OwnedText shown = prog::TakeText(prog::Call(rt::ToText, {when}));
    SetWindowTextA(edit, prog::Str(shown));
    double t4 = Seconds();
    RawGet(minimal.Url());
    double t5 = Seconds();
    http.push_back((t1 - t0) * 1000);
    convert.push_back((t2 - t1) * 1000);
    parse.push_back((t3 - t2) * 1000);
    display.push_back((t4 - t3) * 1000);
    whole.push_back((t4 - t0) * 1000);
    raw.push_back((t5 - t4) * 1000);
  }
  Report("refresh: HTTP (WebGetText)", http);
  Report("refresh: raw WinINet GET (baseline)", raw);
  Report("refresh: UTF-8 to GBK", convert);
  Report("refresh: Parse + GetJson", parse);
  Report("refresh: date text + display", display);
  Ratio("full refresh / raw WinINet GET", whole, raw, "<= 1.1x");
  DestroyWindow(edit);
  json::DeleteJsonObject(json);

  // 4. Working set after 1,000 refreshes of the real window.
  SetEnvironmentVariableA("TIMECAL_TIMER_MS", "10");
  std::string stats = std::string(BENCH_BINARY_DIR) + "/bench-stats.log";
  DeleteFileA(WindowsPath(stats).c_str());
  SetEnvironmentVariableA("TIMECAL_STATS_LOG", WindowsPath(stats).c_str());
  double s = 0;
  HWND w = nullptr;
  testsupport::Process pi = StartTool(service, &s, &w);
  for (int i = 0; i < 1200; ++i) {
    std::string log = ReadAll(WindowsPath(stats));
    if (log.find("\n1000 ") != std::string::npos || log.rfind("1000 ", 0) == 0) break;
    Sleep(100);
  }
  std::string log = ReadAll(WindowsPath(stats));
  StopTool(pi, w);
  // Growth per refresh between the 100th and the 1,000th, and what it
  // would come to over a day at one refresh a second.
  unsigned long r0 = 0, priv0 = 0, ws0 = 0, handles0 = 0;
  unsigned long refreshes = 0, priv = 0, ws = 0, handles = 0;
  size_t at = log.find("1000 ");
  if (std::sscanf(log.c_str(), "%lu %lu %lu %lu", &r0, &priv0, &ws0, &handles0) == 4 && at != std::string::npos &&
      std::sscanf(log.c_str() + at, "%lu %lu %lu %lu", &refreshes, &priv, &ws, &handles) == 4 && refreshes > r0) {
    const double per = (static_cast<double>(priv) - priv0) / (refreshes - r0);
    std::printf("after %lu refreshes: working set %.1f MB, private %.1f MB, handles %lu\n", refreshes,
                ws / 1048576.0, priv / 1048576.0, handles);
    std::printf("private bytes per refresh (%lu to %lu, still warming up; tools/soak.sh runs the day): "
                "%+.0f B, %.1f MB a day at 1/s  (target <= 50 MB)\n",
                r0, refreshes, per, per * 86400 / 1e6);
  } else {
    std::printf("the tool did not reach 1000 refreshes\n");
  }
  return 0;
}
