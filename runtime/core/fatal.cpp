// The one fatal path (see fatal.h).
#include "runtime/core/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace rt {
namespace {

// Messages of runtime error codes 1 to 11, indexed by code - 1.
constexpr const char* kErrorMessages[] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};
constexpr int kErrorCount = sizeof kErrorMessages / sizeof kErrorMessages[0];
static_assert(kErrorCount == 11, "codes 1 to 11");

int g_failures = 0;

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
  std::string text = "运行时出错!\r\n\r\n";
  if (code != 0) text += "错误代码：" + std::to_string(code) + "\r\n\r\n";
  if (message && *message) {
    text += "错误信息：";
    text += message;
    text += "\r\n";
  }
  return text;
}

void FatalError(const char* message, int code) {
  ++g_failures;
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

}  // namespace rt
