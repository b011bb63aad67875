// The Windows web tests' and web bench's program set-up and loopback server.
#pragma once

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>

#include "program/text_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/program_setup.h"
#include "web/web_request.h"

namespace webtest {

using testsupport::LoadProgramDllTable;  // the DLL binding and the program's table

inline prog::OwnedBytes Bytes(const std::string& s) {  // a ByteSet, zero bytes included
  prog::OwnedBytes b = prog::ZeroBytes(static_cast<int32_t>(s.size()));
  if (b.get()) std::memcpy(b.get()->data, s.data(), s.size());
  return b;
}
inline std::string S(const prog::OwnedText& t) { return t.get() ? t.get() : ""; }
inline std::string B(const prog::OwnedBytes& b) {
  return b.get() ? std::string(reinterpret_cast<const char*>(b.get()->data), b.get()->length) : "";
}

// http_server.py on a free port, started by its Unix path (waits up to 20 s for the port).
class LoopbackServer {
 public:
  LoopbackServer() {
    const std::string port_file = std::string(WEB_TEST_BINARY_DIR) + "/web-server-port-" +
                                  std::to_string(GetCurrentProcessId()) + ".txt";
    if (!testsupport::Spawn(std::string(WEB_TEST_PYTHON) + " " + WEB_TEST_SERVER_SCRIPT + " " + port_file)) return;
    for (int i = 0; i < 200 && port_ <= 0; ++i, Sleep(100)) std::ifstream("Z:" + port_file) >> port_;
  }
  ~LoopbackServer() { if (ok()) Get("/_quit"); }
  LoopbackServer(const LoopbackServer&) = delete;
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::string Get(const std::string& path) const { return B(web::WebRequest(Url(path).c_str())); }

 private:
  int port_ = 0;
};

}  // namespace webtest
