// The Windows web tests' and web bench's program set-up and loopback server.
#pragma once

#include <cstring>
#include <string>

#include "tests/support/program_setup.h"
#include "program/text_ops.h"

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

class LoopbackServer {
 public:
  LoopbackServer();  // waits up to 20 s for the server's port
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string Url(const std::string& path) const;  // http://127.0.0.1:<port><path>
  std::string Get(const std::string& path) const;  // a reply body, whole

 private:
  int port_ = 0;
};

}  // namespace webtest
