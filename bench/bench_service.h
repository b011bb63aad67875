// The local time service (tools/timeservice.py) a Windows benchmark starts on
// a free loopback port; the target defines BENCH_PYTHON, BENCH_TIMESERVICE
// and BENCH_BINARY_DIR. A Unix program started from Wine outlives
// TerminateProcess: the service ends itself once no request came for 20 s.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/child_process.h"

namespace bench {

class TimeService {
 public:
  // `port_file`: a file name in the benchmark's build folder; null starts
  // no service (the caller knows the port of one already running).
  explicit TimeService(const char* port_file) {
    if (!port_file) return;
    const std::string path = std::string(BENCH_BINARY_DIR) + "/" + port_file;
    DeleteFileA(("Z:" + path).c_str());
    process_ = testsupport::Spawn(std::string(BENCH_PYTHON) + " " + BENCH_TIMESERVICE +
                                  " --idle-exit 20 --port 0 --port-file " + path);
    if (!process_) return;
    for (int i = 0; i < 100 && !port; ++i) {
      std::ifstream in("Z:" + path, std::ios::binary);
      port = std::atoi(std::string(std::istreambuf_iterator<char>(in), {}).c_str());
      if (!port) Sleep(100);
    }
  }
  std::string Url(const std::string& path = "/getSysTime.do") const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  int port = 0;  // 0 when the service did not start

 private:
  testsupport::Process process_;
};

}  // namespace bench
