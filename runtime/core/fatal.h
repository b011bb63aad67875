// The one fatal path of the Runtime and the runtime error table.
//
// Owns: the failure counter and the error-code messages (codes 1 to 11).
// Every unrecoverable error of every subsystem reaches FatalError, which
// raises the failure counter (no more events), builds the "运行时出错!" text,
// hands it to the platform sink (a modal "错误" box, then the program-end
// sequence without end routines, exit code 0xFFFFFFFF), and never returns.
// May call: the platform sink installed by the Windows runtime or a test.
#pragma once

#include <cstdint>
#include <string>

namespace rt {

constexpr uint32_t kFatalExitCode = 0xFFFFFFFFu;

[[noreturn]] void FatalError(const char* message, int code);
[[noreturn]] void RaiseRuntimeError(int code);

// Message of a runtime error code (1 to 11), or null for any other code.
const char* RuntimeErrorMessage(int code);
// The exact text the error box shows.
std::string FormatFatalText(const char* message, int code);

// Failure counter: while above 0 no component event is dispatched.
int FailureCount();
void RaiseFailureCount();
void LowerFailureCount();  // only the unit rebuild lowers it, never below 0
void ResetFailureCountForImageLoad();

// Where the finished text goes. The Windows runtime installs the message box
// and program end; natively the default prints and exits. A test sink may
// throw to regain control. A sink must not return.
using FatalSink = void (*)(const std::string& text, int code);
FatalSink SetFatalSink(FatalSink sink);  // returns the previous sink

}  // namespace rt
