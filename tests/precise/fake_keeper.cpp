#include "tests/precise/fake_keeper.h"

namespace e2e {

FakeKeeper::FakeKeeper(const keeper::Status& status) : status_(status) {
  // One instance, made before the thread starts and kept until the end: a client never finds the pipe missing, at
  // most busy between two requests (and then waits for it).
  pipe_ = CreateNamedPipeA(keeper::kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                           1, keeper::kStatusSize, keeper::kStatusSize, 0, nullptr);
  if (pipe_ != INVALID_HANDLE_VALUE) thread_ = std::thread([this] { Serve(); });
}

FakeKeeper::~FakeKeeper() {
  if (pipe_ == INVALID_HANDLE_VALUE) return;
  stop_ = true;
  // A connection of our own ends the wait for a client.
  HANDLE wake = CreateFileA(keeper::kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (wake == INVALID_HANDLE_VALUE) WaitNamedPipeA(keeper::kPipeName, 5000);
  if (wake == INVALID_HANDLE_VALUE)
    wake = CreateFileA(keeper::kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  thread_.join();
  if (wake != INVALID_HANDLE_VALUE) CloseHandle(wake);
  CloseHandle(pipe_);
}

void FakeKeeper::Report(const keeper::Status& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
}

void FakeKeeper::AnswerRequests(keeper::Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_ = answer;
}

std::vector<keeper::Command> FakeKeeper::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<uint8_t> FakeKeeper::Answer(const uint8_t* bytes, DWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  keeper::Status out = status_;
  keeper::Request request;
  out.answer = keeper::DecodeRequest(bytes, size, &request);
  if (out.answer == keeper::Answer::kState && request.command != keeper::Command::kState) {
    requests_.push_back(request.command);
    out.answer = answer_;
    if (answer_ == keeper::Answer::kAccepted) {  // finished at once: the next status has one more
      ++status_.measurements;
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      status_.measured_utc_ms =
          static_cast<int64_t>(((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) / 10000 - 11644473600000ULL);
    }
  }
  auto encoded = keeper::EncodeStatus(out);
  return std::vector<uint8_t>(encoded.begin(), encoded.end());
}

void FakeKeeper::Serve() {
  while (!stop_) {
    BOOL connected = ConnectNamedPipe(pipe_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (stop_) break;
    uint8_t request[64];
    DWORD got = 0, put = 0;
    if (connected && ReadFile(pipe_, request, sizeof request, &got, nullptr)) {
      std::vector<uint8_t> answer = Answer(request, got);
      WriteFile(pipe_, answer.data(), static_cast<DWORD>(answer.size()), &put, nullptr);
      FlushFileBuffers(pipe_);  // until the client has read it
    }
    DisconnectNamedPipe(pipe_);
  }
  DisconnectNamedPipe(pipe_);
}

}  // namespace e2e
