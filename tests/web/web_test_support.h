// Shared pieces of the Windows web tests: the program set-up (DLL command
// binding and the program's table) and the loopback test server, which a
// test program starts itself (python, 127.0.0.1, a free port) and stops.
#pragma once

#include <cstdint>
#include <string>

namespace webtest {

// Installs the DLL command binding and loads a program image that carries
// the program's DLL command table (and nothing else).
void SetUpProgram();

class LoopbackServer {
 public:
  // Starts tests/web/http_server.py; `tls` serves HTTPS with a throwaway
  // certificate. Waits at most 20 s for the port.
  explicit LoopbackServer(bool tls = false);
  ~LoopbackServer();  // asks the server to quit and waits for it
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool ok() const { return port_ > 0; }
  bool tls_unavailable() const { return tls_unavailable_; }
  int port() const { return port_; }
  // "http://127.0.0.1:<port><path>" (or https).
  std::string Url(const std::string& path) const;
  // The last ordinary request the server saw: request line and header
  // block (ending in an empty line), then the body. Read over a plain
  // socket, independent of WinINet.
  std::string LastRequest() const;
  // What the TLS server noted about handshakes.
  std::string Log() const;
  // A loopback port nobody listens on.
  int ClosedPort() const;

 private:
  std::string Control(const std::string& path) const;
  std::string port_file_;
  int port_ = 0;
  bool tls_ = false, tls_unavailable_ = false;
};

// Helpers over the raw request the server recorded.
std::string RequestLine(const std::string& raw);
std::string HeaderBlock(const std::string& raw);  // lines after the request line, CR LF each
std::string Body(const std::string& raw);

}  // namespace webtest
