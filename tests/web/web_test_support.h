// Shared by the Windows web tests and the web bench: the program set-up and
// the loopback test server (tests/web/http_server.py on 127.0.0.1).
#pragma once

#include <string>

#include "web/text_ops.h"

namespace webtest {

// Installs the DLL command binding and loads an image holding the program's
// DLL command table.
void SetUpProgram();

// A ByteSet holding `s`, zero bytes included.
web::OwnedBytes Bytes(const std::string& s);

class LoopbackServer {
 public:
  LoopbackServer();   // starts the server; waits up to 20 s for its port
  ~LoopbackServer();  // sends /_quit
  LoopbackServer(const LoopbackServer&) = delete;
  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string Url(const std::string& path) const;  // http://127.0.0.1:<port><path>
  // The reply body of a GET over a plain socket, not WinINet. "/_last": the
  // last ordinary request, head and body; "/_closedport": an unused port.
  std::string Get(const std::string& path) const;

 private:
  int port_ = 0;
};

}  // namespace webtest
