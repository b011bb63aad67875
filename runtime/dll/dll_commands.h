// Binding of the program's external DLL commands.
//
// Owns: the DllCommandTable slots of the Runtime state: for each entry the
// library and function name references (copied from the program image), the
// bound function address and the module handle the entry loaded for itself.
// An entry is bound on its first call and stays bound until program end,
// when every module an entry loaded is released once.
// Failure: an entry that cannot be bound never returns; it takes the fatal
// path with "无法找到指定DLL库文件中的输出命令“%s”" (empty library name) or
// "无法找到指定DLL库文件“%s”中的输出命令“%s”".
// May call: Win32 (LoadLibraryA, GetProcAddress, FreeLibrary), image.h,
// fatal.h. Windows only.
#pragma once

#include <cstdint>

namespace rt {

// Installs the resolver behind slot 1, the table loader the image loader
// calls, and the release hook of the program-end sequence. Call once before
// the program image is loaded.
void InstallDllCommands();

// The table loader: a fresh set of unbound slots for `count` entries. The
// name arrays are copied; the names themselves stay in the image. Loading a
// table again releases the modules the previous one bound.
void LoadDllCommandTable(uint32_t count, const char* const* libraries, const char* const* functions);

// Returns the function address of entry `index`, binding it first if
// needed; never returns null (an unbindable entry is fatal).
void* RequireDllCommand(uint32_t index);

// Releases every module an entry loaded (once per entry) and discards the
// slots. Safe to call twice.
void ReleaseDllCommandModules();

// Inspection for tests and diagnostics: the cached address and module of an
// entry (null while unbound or out of range), and the entry count.
struct DllBinding {
  void* address;
  void* module;  // HMODULE
};
DllBinding InspectDllCommand(uint32_t index);
uint32_t DllCommandCount();

// The libraries tried, in order, for an entry with an empty library name.
extern const char* const kSystemLibraryList[6];

}  // namespace rt
