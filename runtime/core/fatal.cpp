// The one fatal path (see fatal.h).
#include "runtime/core/fatal.h"

#include <cstdio>
#include <cstdlib>

#include "runtime/core/gbk_text.h"

namespace rt {
namespace {

// Messages of runtime error codes 1 to 11, indexed by code - 1.
constexpr const char* kErrorMessages[] = {
    GBK_MSG_INDEX_OUT_OF_RANGE,
    GBK_MSG_NOT_NUMERIC,
    GBK_MSG_DIMENSION_MISMATCH,
    GBK_MSG_INDEX_BELOW_ONE,
    GBK_MSG_TYPE_MISMATCH,
    GBK_MSG_STACK_ERROR,
    GBK_MSG_NO_RESULT,
    GBK_MSG_EQUALITY_ONLY,
    GBK_MSG_CHOICE_INDEX,
    GBK_MSG_REDIM_SIZE,
    GBK_MSG_ARGUMENT_TYPE,
};
constexpr int kErrorCount = sizeof kErrorMessages / sizeof kErrorMessages[0];
static_assert(kErrorCount == 11, "codes 1 to 11");

int g_failures = 0;
ErrorCallback g_callback = nullptr;
bool g_callback_running = false;

[[noreturn]] void DefaultSink(const std::string& text, int) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  std::_Exit(static_cast<int>(kFatalExitCode & 0xFF));
}
FatalSink g_sink = DefaultSink;

}  // namespace

const char* RuntimeErrorMessage(int code) {
  return code >= 1 && code <= kErrorCount ? kErrorMessages[code - 1] : nullptr;
}

std::string FormatFatalText(const char* message, int code) {
  std::string text = GBK_RUNTIME_ERROR "!\r\n\r\n";
  if (code != 0) text += GBK_ERROR_CODE + std::to_string(code) + "\r\n\r\n";
  if (message && *message) {
    text += GBK_ERROR_INFO;
    text += message;
    text += "\r\n";
  }
  return text;
}

void FatalError(const char* message, int code) {
  ++g_failures;
  if (g_callback && !g_callback_running) {
    g_callback_running = true;
    int skip = g_callback(code, message);
    g_callback_running = false;
    if (skip) {
      // The callback took care of reporting; the program still ends.
      g_sink(std::string(), code);
      std::abort();
    }
  }
  g_sink(FormatFatalText(message, code), code);
  std::abort();  // a sink must not return
}

void RaiseRuntimeError(int code) {
  const char* message = RuntimeErrorMessage(code);
  FatalError(message, code);
}

int FailureCount() { return g_failures; }
void RaiseFailureCount() { ++g_failures; }
void LowerFailureCount() {
  if (g_failures > 0) --g_failures;
}
void ResetFailureCountForImageLoad() { g_failures = 0; }

FatalSink SetFatalSink(FatalSink sink) {
  FatalSink previous = g_sink;
  g_sink = sink ? sink : DefaultSink;
  return previous;
}
void SetErrorCallback(ErrorCallback cb) { g_callback = cb; }

}  // namespace rt
