#include "tests/web/web_test_support.h"

#include <windows.h>

#include <fstream>

#include "tests/support/child_process.h"
#include "web/web_request.h"

namespace webtest {

LoopbackServer::LoopbackServer() {
  const std::string port_file = std::string(WEB_TEST_BINARY_DIR) + "/web-server-port-" +
                                std::to_string(GetCurrentProcessId()) + ".txt";
  // Wine starts a Unix program given by its Unix path.
  if (!testsupport::Spawn(std::string(WEB_TEST_PYTHON) + " " + WEB_TEST_SERVER_SCRIPT + " " + port_file))
    return;
  for (int i = 0; i < 200 && port_ <= 0; ++i, Sleep(100)) std::ifstream("Z:" + port_file) >> port_;
}

LoopbackServer::~LoopbackServer() { if (ok()) Get("/_quit"); }

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackServer::Get(const std::string& path) const {
  return B(web::WebRequest(Url(path).c_str()));
}

}  // namespace webtest
