// A stand-in for the time-keeping service on its real pipe (\\.\pipe\TimecalPrecise, message mode), served on a
// thread of the test (or of tools/screenshot_precise.sh's helper): it reports the status it is given, answers a
// measurement or calibration request as told and counts it as one more finished measurement, and records the requests.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "keeper/protocol.h"

namespace e2e {

class FakeKeeper {
 public:
  explicit FakeKeeper(const keeper::Status& status);  // answers once the constructor returns
  ~FakeKeeper();                                      // its pipe is gone when the destructor returns
  FakeKeeper(const FakeKeeper&) = delete;
  FakeKeeper& operator=(const FakeKeeper&) = delete;

  void Report(const keeper::Status& status);      // from the next request on
  void AnswerRequests(keeper::Answer answer);     // to measure and calibrate requests (kAccepted at first)
  std::vector<keeper::Command> Requests() const;  // every one but kState, in order

 private:
  void Serve();
  std::vector<uint8_t> Answer(const uint8_t* request, DWORD size);

  mutable std::mutex mutex_;
  keeper::Status status_;
  keeper::Answer answer_ = keeper::Answer::kAccepted;
  std::vector<keeper::Command> requests_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace e2e
