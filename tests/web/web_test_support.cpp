#include "tests/web/web_test_support.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <fstream>

#include "runtime/core/image.h"
#include "runtime/core/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "web/dll_table.h"

namespace webtest {

void SetUpProgram() {
  static rt::ProgramImage image{};
  if (image.build_kind) return;
  rt::InstallDllCommands();
  image.build_kind = 3;
  image.dll_command_count = web::kDllCommandCount;
  image.dll_library_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(web::kDllLibraryNames));
  image.dll_function_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(web::kDllFunctionNames));
  rt::LoadProgramImage(&image);
}

web::OwnedBytes Bytes(const std::string& s) {
  auto* b = static_cast<rt::ByteSetBlock*>(prog::Allocate(static_cast<uint32_t>(8 + s.size())));
  b->dims = 1;
  b->length = static_cast<int32_t>(s.size());
  std::memcpy(b->data, s.data(), s.size());
  return web::OwnedBytes(b);
}

LoopbackServer::LoopbackServer() {
  const std::string port_file = std::string(WEB_TEST_BINARY_DIR) + "/web-server-port-" +
                                std::to_string(GetCurrentProcessId()) + ".txt";
  // Wine starts a Unix program given by its Unix path.
  std::string cmd = std::string(WEB_TEST_PYTHON) + " " + WEB_TEST_SERVER_SCRIPT + " " + port_file;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  CloseHandle(pi.hThread), CloseHandle(pi.hProcess);
  for (int i = 0; i < 200 && port_ <= 0; ++i, Sleep(100)) std::ifstream("Z:" + port_file) >> port_;
}

LoopbackServer::~LoopbackServer() { if (ok()) Get("/_quit"); }

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackServer::Get(const std::string& path) const {
  static WSADATA wsa;
  static bool started = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (!started || s == INVALID_SOCKET) return std::string();
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(port_));
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

}  // namespace webtest
