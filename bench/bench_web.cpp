// Web client timings (see bench_web.cmake). The baseline is the shortest
// correct WinINet GET, linked directly, against the same server.
#include <windows.h>

#include "bench/bench_timing.h"
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/process_figures.h"
#include "tests/web/web_test_support.h"
#include "web/codepage.h"
#include "web/web_request.h"

namespace {

using bench::Report;
inline double Now() { return bench::Seconds(); }

size_t DirectGet(int port, const char* path, DWORD chunk = 64 * 1024, DWORD flags = INTERNET_FLAG_RELOAD) {
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET conn = InternetConnectA(root, "127.0.0.1", static_cast<INTERNET_PORT>(port), nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET req = HttpOpenRequestA(conn, "GET", path, "HTTP/1.1", nullptr, nullptr, flags, 0);
  HttpSendRequestA(req, nullptr, 0, nullptr, 0);
  static std::vector<char> buf(64 * 1024);
  size_t total = 0;
  DWORD n = 0;
  while (InternetReadFile(req, buf.data(), std::min<DWORD>(chunk, static_cast<DWORD>(buf.size())), &n) && n)
    total += n;
  InternetCloseHandle(req);
  InternetCloseHandle(conn);
  InternetCloseHandle(root);
  return total;
}

template <typename Fn>
double BytesPer(int cycles, Fn fn) {
  for (int i = 0; i < 50; ++i) fn();
  const unsigned long before = testsupport::PrivateBytes();
  for (int i = 0; i < cycles; ++i) fn();
  return (static_cast<double>(testsupport::PrivateBytes()) - before) / cycles;
}

}  // namespace

int main() {
  webtest::LoadProgramDllTable();
  webtest::LoopbackServer server;
  if (!server.ok()) {
    std::printf("test server did not start\n");
    return 1;
  }
  const std::string url = server.Url("/getSysTime.do");
  const int rounds = 1000;
  std::vector<double> ours, direct;
  for (int i = 0; i < rounds; ++i) {
    double t0 = Now();
    prog::OwnedText text = web::WebGetText(url.c_str());
    double t1 = Now();
    DirectGet(server.port(), "/getSysTime.do");
    double t2 = Now();
    ours.push_back((t1 - t0) * 1000);
    direct.push_back((t2 - t1) * 1000);
  }
  Report("WebGetText, small reply", ours);
  Report("direct WinINet GET, small reply", direct);

  // Memory each small request leaves behind, beside raw WinINet GETs with the
  // tool's flags (reload, need file) and with reload alone.
  const double ours_bytes = BytesPer(2000, [&] { web::OwnedText t = web::WebGetText(url.c_str()); });
  const double need_file = BytesPer(2000, [&] { DirectGet(server.port(), "/getSysTime.do", 64 * 1024, 0x80004010u); });
  const double reload = BytesPer(2000, [&] { DirectGet(server.port(), "/getSysTime.do"); });
  std::printf("private bytes per small request: WebGetText %+.0f B; raw GET, reload + need file %+.0f B; "
              "raw GET, reload %+.0f B\n", ours_bytes, need_file, reload);

  const double mb = 32;
  std::vector<double> ratios;
  for (int i = 0; i < 5; ++i) {
    double t0 = Now();
    prog::OwnedBytes body = web::WebRequest(server.Url("/big?mb=32").c_str());
    double t1 = Now();
    size_t n = DirectGet(server.port(), "/big?mb=32");
    double t2 = Now();
    size_t n1 = DirectGet(server.port(), "/big?mb=32", 1024);
    double t3 = Now();
    std::printf("32 MB: WebRequest %6.1f MB/s (%d bytes), direct 64 KB reads %6.1f MB/s (%zu), "
                "direct 1 KB reads %6.1f MB/s (%zu); WebRequest / direct 64 KB %.2fx (target >= 0.8x)\n",
                mb / (t1 - t0), body.get() ? body.get()->length : 0, mb / (t2 - t1), n,
                mb / (t3 - t2), n1, (t2 - t1) / (t1 - t0));
    ratios.push_back((t2 - t1) / (t1 - t0));
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("32 MB: WebRequest / direct 64 KB reads, median of 5: %.2fx (target >= 0.8x)\n", ratios[2]);

  std::string utf8;
  while (utf8.size() < (8u << 20)) utf8 += "{\"sysTime2\":\"2019-10-17 12:33:29\"} \xE4\xB8\xAD\xE6\x96\x87 ";
  for (int i = 0; i < 3; ++i) {
    double t0 = Now();
    prog::OwnedText gbk = web::Utf8ToAnsi(utf8.c_str());
    double t1 = Now();
    std::printf("Utf8ToAnsi of %zu bytes: %.1f ms (%.0f MB/s), %zu bytes out\n", utf8.size(),
                (t1 - t0) * 1000, utf8.size() / 1048576.0 / (t1 - t0), std::strlen(gbk.get()));
  }
  return 0;
}
