// The service's pipe: a door, not a hole. Local clients only, a security
// descriptor that admits administrators and interactive users (and the
// service's own account, which must create the instances), a few
// instances, one fixed request and one fixed answer per connection, and a
// time-out on every wait, so that a client that sends half a message or
// never reads ties up one instance for at most a few seconds.
#include <windows.h>
#include <sddl.h>

#include "service/service.h"

namespace service {
namespace {

constexpr DWORD kInstances = 4;
constexpr DWORD kReadMs = 2000;   // for the request
constexpr DWORD kWriteMs = 1000;  // for the answer
constexpr DWORD kLingerMs = 1000; // for the client to read it and go
// System and administrators all; interactive users read and write; the
// service's own account all (it creates every instance after the first).
constexpr char kSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)(A;;GA;;;LS)";

void FreeLocal(void* p) noexcept { LocalFree(p); }
using LocalBlock = rt::UniqueOf<void*, FreeLocal>;

// One overlapped operation, waited for with a time-out and abandoned
// (CancelIo) when it runs out or the service stops. True when it
// completed; *done holds the bytes moved and *error the failure.
bool Finish(HANDLE pipe, OVERLAPPED* ov, BOOL started, DWORD wait_ms, HANDLE stop, DWORD* done,
            DWORD* error) {
  *error = started ? ERROR_SUCCESS : GetLastError();
  if (!started && *error != ERROR_IO_PENDING) return false;
  if (!started) {
    HANDLE both[] = {ov->hEvent, stop};
    if (WaitForMultipleObjects(2, both, FALSE, wait_ms) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      GetOverlappedResult(pipe, ov, done, TRUE);  // the cancel has landed
      *error = ERROR_TIMEOUT;
      return false;
    }
  }
  if (GetOverlappedResult(pipe, ov, done, FALSE)) return true;
  *error = GetLastError();
  return false;
}

void ServeOne(HANDLE pipe, HANDLE event, HANDLE stop, AskFunction ask) {
  OVERLAPPED ov{};
  ov.hEvent = event;
  DWORD done = 0, error = 0;
  // One byte more than a request: a longer message then shows as too long.
  uint8_t in[keeper::kRequestSize + 1];
  BOOL ok = ReadFile(pipe, in, sizeof in, nullptr, &ov);
  bool read = Finish(pipe, &ov, ok, kReadMs, stop, &done, &error);
  keeper::Status answer;
  if (!read && error != ERROR_MORE_DATA) return;  // gone, silent, or stopping
  keeper::Request request;
  keeper::Answer head = read ? keeper::DecodeRequest(in, done, &request) : keeper::Answer::kBadSize;
  if (head == keeper::Answer::kState) {
    answer = ask(request.command);
  } else {
    answer = ask(keeper::Command::kState);  // the refusal carries the state as well
    answer.answer = head;
  }
  std::array<uint8_t, keeper::kStatusSize> out = keeper::EncodeStatus(answer);
  ov = OVERLAPPED{};
  ov.hEvent = event;
  ok = WriteFile(pipe, out.data(), static_cast<DWORD>(out.size()), nullptr, &ov);
  if (!Finish(pipe, &ov, ok, kWriteMs, stop, &done, &error)) return;
  // Wait for the client to read and close: disconnecting first would throw
  // the answer away. Whatever it sends now is read and dropped.
  for (int i = 0; i < 4; ++i) {
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ok = ReadFile(pipe, in, sizeof in, nullptr, &ov);
    if (!Finish(pipe, &ov, ok, kLingerMs, stop, &done, &error) && error != ERROR_MORE_DATA) return;
  }
}

struct Instance {
  HANDLE stop;
  AskFunction ask;
  SECURITY_ATTRIBUTES* security;
};

DWORD WINAPI InstanceThread(void* context) {
  const Instance& self = *static_cast<Instance*>(context);
  Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw = CreateNamedPipeA(keeper::kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                kInstances, keeper::kStatusSize, keeper::kRequestSize, 0, self.security);
  Handle pipe(raw == INVALID_HANDLE_VALUE ? nullptr : raw);
  if (!pipe || !event) return 1;
  while (WaitForSingleObject(self.stop, 0) != WAIT_OBJECT_0) {
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD done = 0, error = 0;
    BOOL ok = ConnectNamedPipe(pipe.get(), &ov);
    bool connected = Finish(pipe.get(), &ov, ok, INFINITE, self.stop, &done, &error) ||
                     error == ERROR_PIPE_CONNECTED;
    if (connected) ServeOne(pipe.get(), event.get(), self.stop, self.ask);
    DisconnectNamedPipe(pipe.get());
  }
  return 0;
}

}  // namespace

void ServePipe(HANDLE stop, AskFunction ask) {
  LocalBlock descriptor;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kSddl, SDDL_REVISION_1, &raw, nullptr)) return;
  descriptor.reset(raw);
  SECURITY_ATTRIBUTES security{sizeof security, raw, FALSE};
  Instance self{stop, ask, &security};
  Handle threads[kInstances];
  HANDLE waits[kInstances];
  DWORD started = 0;
  for (DWORD i = 0; i < kInstances; ++i) {
    threads[i].reset(CreateThread(nullptr, 0, InstanceThread, &self, 0, nullptr));
    if (threads[i]) waits[started++] = threads[i].get();
  }
  if (started) WaitForMultipleObjects(started, waits, TRUE, INFINITE);
}

}  // namespace service
