// The tool's figures under Wine (see bench_app.cmake). Starts the local time
// service itself (Wine runs a Unix program given by its Unix path); the
// service ends itself 20 s after the last request.
#include <windows.h>

#include "bench/bench_service.h"
#include "bench/bench_timing.h"
#include <wininet.h>

#include <algorithm>
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

struct Service : bench::TimeService {
  Service() : TimeService("bench-service.port") {}
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

bool IsVisible(HWND h) { return IsWindowVisible(h) != FALSE; }

// Starts the tool's test build; returns its process once its window shows.
testsupport::Process StartTool(const Service& service, double* seconds_to_visible, HWND* window) {
  SetEnvironmentVariableA("TIMECAL_URL", service.Url().c_str());
  double t0 = Seconds();
  testsupport::Process tool =
      testsupport::Spawn("\"" + testsupport::ExeDir() + "..\\app\\timecal_probe.exe\"");
  if (!tool) return tool;
  HWND found = testsupport::WaitForVisibleWindow(tool, IsVisible, 2000, 5);
  *seconds_to_visible = Seconds() - t0;
  *window = found;
  return tool;
}

void StopTool(const testsupport::Process& tool, HWND window) {
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  tool.WaitOrEnd(20000, 1);
}


}  // namespace

int main() {
  Service service;
  if (!service.port) {
    std::printf("the local time service did not start\n");
    return 1;
  }
  // 1. Process start to visible window (the first refresh runs before it).
  std::vector<double> start_ms;
  for (int i = 0; i < 5; ++i) {
    double s = 0;
    HWND w = nullptr;
    testsupport::Process pi = StartTool(service, &s, &w);
    start_ms.push_back(s * 1000);
    StopTool(pi, w);
  }
  Report("process start to visible window", start_ms);

  // 2. One refresh, step by step, beside a raw WinINet GET.
  testsupport::LoadProgramDllTable();
  json::JsonObject* json = json::NewJsonObject();
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
  std::vector<double> http, raw, convert, parse, display;
  for (int i = 0; i < 300; ++i) {
    double t0 = Seconds();
    prog::OwnedText reply = web::WebGetText(service.Url().c_str());
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
    RawGet(service.Url());
    double t5 = Seconds();
    http.push_back((t1 - t0) * 1000);
    convert.push_back((t2 - t1) * 1000);
    parse.push_back((t3 - t2) * 1000);
    display.push_back((t4 - t3) * 1000);
    raw.push_back((t5 - t4) * 1000);
  }
  Report("refresh: HTTP (WebGetText)", http);
  Report("refresh: raw WinINet GET (baseline)", raw);
  Report("refresh: UTF-8 to GBK", convert);
  Report("refresh: Parse + GetJson", parse);
  Report("refresh: date text + display", display);
  DestroyWindow(edit);
  json::DeleteJsonObject(json);

  // 3. Working set after 1,000 refreshes of the real window.
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
  size_t at = log.find("1000 ");
  unsigned long refreshes = 0, priv = 0, ws = 0, handles = 0;
  if (at != std::string::npos &&
      std::sscanf(log.c_str() + at, "%lu %lu %lu %lu", &refreshes, &priv, &ws, &handles) == 4)
    std::printf("after %lu refreshes: working set %.1f MB, private %.1f MB, handles %lu\n", refreshes,
                ws / 1048576.0, priv / 1048576.0, handles);
  else
    std::printf("the tool did not reach 1000 refreshes\n");
  return 0;
}
