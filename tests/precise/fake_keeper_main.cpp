// fake_keeper.exe SECONDS OFFSET_US BOUND_US AGREED SOURCES: the stand-in service (fake_keeper.h) for
// tools/screenshot_precise.sh, reporting one finished measurement, for SECONDS.
#include <cstdlib>

#include "tests/precise/fake_keeper.h"

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const auto arg = [&](int i) { return std::atoi(argv[i]); };
  e2e::FakeKeeper keeper(e2e::Measured(arg(2), static_cast<uint32_t>(arg(3)), static_cast<uint16_t>(arg(4)),
                                       static_cast<uint16_t>(arg(5)), e2e::NowUtcMs() - 60000));  // a minute ago
  Sleep(static_cast<DWORD>(arg(1)) * 1000);
  return 0;
}
