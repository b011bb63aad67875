#include "tests/web/web_test_support.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"
#include "web/dll_table.h"

namespace webtest {

void SetUpProgram() {
  static bool done = false;
  if (done) return;
  done = true;
  rt::InstallDllCommands();
  static rt::ProgramImage image{};
  image.build_kind = 3;
  image.dll_command_count = web::kDllCommandCount;
  image.dll_library_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(web::kDllLibraryNames));
  image.dll_function_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(web::kDllFunctionNames));
  rt::LoadProgramImage(&image);
}

namespace {

std::string WindowsPath(const std::string& unix_path) {
  std::string p = "Z:" + unix_path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// One HTTP/1.0 exchange over a plain socket; returns the body.
std::string RawGet(int port, const std::string& path) {
  static bool started = [] {
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  }();
  if (!started) return std::string();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return std::string();
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    std::string req = "GET " + path + " HTTP/1.0\r\n\r\n";
    send(s, req.data(), static_cast<int>(req.size()), 0);
    char buf[4096];
    for (int n; (n = recv(s, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  }
  closesocket(s);
  size_t cut = reply.find("\r\n\r\n");
  return cut == std::string::npos ? std::string() : reply.substr(cut + 4);
}

}  // namespace

LoopbackServer::LoopbackServer(bool tls) : tls_(tls) {
  char name[64];
  std::snprintf(name, sizeof name, "/web-server-port-%lu-%d.txt", GetCurrentProcessId(), tls ? 1 : 0);
  port_file_ = std::string(WEB_TEST_BINARY_DIR) + name;
  const std::string win_port_file = WindowsPath(port_file_);
  DeleteFileA(win_port_file.c_str());
  DeleteFileA((win_port_file + ".log").c_str());
  // Wine starts a Unix program given by its Unix path.
  std::string cmd = std::string(WEB_TEST_PYTHON) + " " + WEB_TEST_SERVER_SCRIPT + " --port-file " +
                    port_file_ + " --idle 120" + (tls ? " --tls" : "");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (int i = 0; i < 200; ++i) {
    std::string text = ReadFile(win_port_file);
    if (text == "notls") {
      tls_unavailable_ = true;
      return;
    }
    if (!text.empty()) {
      port_ = std::atoi(text.c_str());
      return;
    }
    Sleep(100);
  }
}

LoopbackServer::~LoopbackServer() {
  if (port_ <= 0) return;
  const std::string win_port_file = WindowsPath(port_file_);
  // A quit file works for the TLS server too, which plain requests cannot reach.
  HANDLE quit = CreateFileA((win_port_file + ".quit").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (quit != INVALID_HANDLE_VALUE) CloseHandle(quit);
  for (int i = 0; i < 50 && GetFileAttributesA(win_port_file.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackServer::Control(const std::string& path) const {
  if (!tls_) return RawGet(port_, path);
  // The TLS server only speaks TLS; its control requests go through WinINet.
  HMODULE wininet = LoadLibraryA("wininet.dll");
  using Open = void*(WINAPI*)(const char*, DWORD, const char*, const char*, DWORD);
  using OpenUrl = void*(WINAPI*)(void*, const char*, const char*, DWORD, DWORD, DWORD_PTR);
  using Read = BOOL(WINAPI*)(void*, void*, DWORD, DWORD*);
  using Close = BOOL(WINAPI*)(void*);
  auto open = reinterpret_cast<Open>(GetProcAddress(wininet, "InternetOpenA"));
  auto open_url = reinterpret_cast<OpenUrl>(GetProcAddress(wininet, "InternetOpenUrlA"));
  auto read = reinterpret_cast<Read>(GetProcAddress(wininet, "InternetReadFile"));
  auto close = reinterpret_cast<Close>(GetProcAddress(wininet, "InternetCloseHandle"));
  std::string body;
  void* root = open("test", 1, nullptr, nullptr, 0);
  // INTERNET_FLAG_RELOAD | IGNORE_CERT_CN_INVALID | IGNORE_CERT_DATE_INVALID; unknown CA
  // cannot be waved through here, so this may fail against a self-signed
  // certificate; the server then stops on its idle timer.
  void* req = open_url(root, Url(path).c_str(), nullptr, 0, 0x80000000u | 0x1000 | 0x2000, 0);
  char buf[4096];
  DWORD n = 0;
  while (req && read(req, buf, sizeof buf, &n) && n) body.append(buf, n);
  if (req) close(req);
  close(root);
  FreeLibrary(wininet);
  return body;
}

std::string LoopbackServer::LastRequest() const { return Control("/_last"); }

std::string LoopbackServer::Log() const { return ReadFile(WindowsPath(port_file_ + ".log")); }

int LoopbackServer::ClosedPort() const { return std::atoi(Control("/_closedport").c_str()); }

std::string RequestLine(const std::string& raw) { return raw.substr(0, raw.find("\r\n")); }

std::string HeaderBlock(const std::string& raw) {
  size_t start = raw.find("\r\n");
  size_t end = raw.find("\r\n\r\n");
  if (start == std::string::npos || end == std::string::npos) return std::string();
  return raw.substr(start + 2, end - start);
}

std::string Body(const std::string& raw) {
  size_t end = raw.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

}  // namespace webtest
