// A stand-in for the time-keeping service, served by the service's own pipe server (service/pipe_server.cpp) on a
// thread of the test (or of tools/screenshot_precise.sh's helper): it reports the status it is given, answers a
// measurement or calibration request as told and counts it as one more finished measurement, and records the requests.
// One at a time: the server asks a plain function.
#pragma once

#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

#include "keeper/protocol.h"

namespace e2e {

int64_t NowUtcMs();
// One finished measurement: offset +- bound, `agreed` of `sources` agreeing, at `utc_ms`.
keeper::Status Measured(int32_t offset_us, uint32_t bound_us, uint16_t agreed, uint16_t sources, int64_t utc_ms,
                        uint16_t decision = 0);

class FakeKeeper {
 public:
  explicit FakeKeeper(const keeper::Status& status);  // answers once the constructor returns
  ~FakeKeeper();                                      // its pipe is gone when the destructor returns
  FakeKeeper(const FakeKeeper&) = delete;
  FakeKeeper& operator=(const FakeKeeper&) = delete;

  // From the next request on: the status, and the answer to measure and calibrate requests (kAccepted at first).
  void Report(const keeper::Status& status) { std::lock_guard<std::mutex> lock(mutex_); status_ = status; }
  void AnswerRequests(keeper::Answer answer) { std::lock_guard<std::mutex> lock(mutex_); answer_ = answer; }
  std::vector<keeper::Command> Requests() const {  // every one but kState, in order
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  static keeper::Status Ask(keeper::Command command);
  mutable std::mutex mutex_;
  keeper::Status status_;
  keeper::Answer answer_ = keeper::Answer::kAccepted;
  std::vector<keeper::Command> requests_;
  HANDLE stop_;
  std::thread thread_;
};

}  // namespace e2e
