// fake_keeper.exe SECONDS OFFSET_US BOUND_US AGREED SOURCES: the stand-in service (fake_keeper.h) for
// tools/screenshot_precise.sh, reporting one finished measurement, for SECONDS.
#include <cstdlib>

#include "tests/precise/fake_keeper.h"

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  keeper::Status s;
  s.measurements = 1;
  s.found = true;
  s.offset_us = std::atoi(argv[2]);
  s.bound_us = static_cast<uint32_t>(std::atoi(argv[3]));
  s.agreed = static_cast<uint16_t>(std::atoi(argv[4]));
  s.sources = static_cast<uint16_t>(std::atoi(argv[5]));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  s.measured_utc_ms = static_cast<int64_t>(((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000 -
                                           11644473600000ULL) - 60000;  // a minute ago
  e2e::FakeKeeper keeper(s);
  Sleep(static_cast<DWORD>(std::atoi(argv[1])) * 1000);
  return 0;
}
