// Program image and the Runtime entry table.
//
// Owns: the ProgramImage layout, the 13-slot RuntimeEntryTable, the Runtime
// services of slot 12 and the Runtime state filled when the image is loaded
// (directory, main thread, DLL command arrays, library records, end
// routines). Program code reaches the Runtime only through the entry table.
// Who frees what: the state lives until the program-end sequence releases
// it (runtime/ui owns that sequence). May call: memory.h, fatal.h, and the
// hooks below that the windowing and DLL subsystems install.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/core/value.h"

namespace rt {

// 13 little-endian 32-bit fields; addresses are 32-bit on the target.
struct ProgramImage {
  uint32_t build_kind;        // 3 for this program; 2 marks a debugging build
  uint32_t reserved_a;
  uint32_t last_id_number;    // highest 24-bit id handed out at build time
  uint32_t routine_base;      // address that event handler offset 0 names
  uint32_t constants_address;
  uint32_t constants_size;
  uint32_t templates_address;
  uint32_t templates_size;
  uint32_t library_count;
  uint32_t library_table;     // -> library_count pointers to LibraryRecord
  uint32_t dll_command_count;
  uint32_t dll_library_names; // -> dll_command_count pointers to names
  uint32_t dll_function_names;
};
static_assert(sizeof(ProgramImage) == 0x34, "13 fields");
static_assert(offsetof(ProgramImage, dll_command_count) == 0x28, "DLL count at 0x28");
static_assert(offsetof(ProgramImage, dll_function_names) == 0x30, "DLL names at 0x30");

// Notification routine of a support library: (code, argument, argument).
using LibraryNotify = int32_t (*)(int32_t code, intptr_t a, intptr_t b);
struct LibraryRecord {
  LibraryNotify notify;      // 0 when the library has none
  const char* identifier;    // 32 hex digits; not used at run time
  const char* display_name;  // not used at run time
};

// The entry table: 13 consecutive routine addresses.
enum EntrySlot : int {
  kSlotRaiseRuntimeError = 0,
  kSlotCallDllCommand = 1,
  kSlotCallLibraryCommand = 2,
  kSlotCallBuiltinCommand = 3,
  kSlotReadProperty = 4,
  kSlotWriteProperty = 5,
  kSlotAllocateBlock = 6,
  kSlotReallocateBlock = 7,
  kSlotFreeBlock = 8,
  kSlotEndProgram = 9,
  kSlotRunMessageLoop = 10,
  kSlotLoadStartupWindow = 11,
  kSlotRuntimeService = 12,
  kSlotCount = 13,
};
struct RuntimeEntryTable {
  const void* slot[kSlotCount];
};
static_assert(sizeof(void*) != 4 || sizeof(RuntimeEntryTable) == 52, "13 x 32-bit");

const RuntimeEntryTable& EntryTable();

// Runtime services (slot 12).
enum RuntimeServiceNumber : int {
  kServiceFindFile = 0,
  kServiceEndFileSearch = 1,
  kServiceMakeArrayWritable = 2,
  kServiceRegisterEndRoutine = 3,
  kServiceReserved4 = 4,
  kServiceReserved5 = 5,
  kServiceLoadProgramImage = 6,
};
using EndRoutine = void (*)();

// The C++ side of the services (the slot 12 thunk lands in RuntimeService).
intptr_t RuntimeService(int service, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                        intptr_t a5, intptr_t a6);
void MakeArrayWritable(uint32_t element_width, ArrayBlock** variable);
void RegisterEndRoutine(EndRoutine routine);
// Takes the list (in registration order) and leaves it empty.
std::vector<EndRoutine> TakeEndRoutines();

// The image this program links: the application registers it before its
// entry routine runs (a static registration in app/); service 6 loads it.
void RegisterProgramImage(const ProgramImage* image);
const ProgramImage* RegisteredProgramImage();

// State filled from the image.
struct RuntimeState {
  char program_dir[264] = {};    // without the final backslash
  char program_file[264] = {};
  uint32_t main_thread = 0;
  bool ole_initialised = false;
  void* hidden_owner = nullptr;  // HWND of the "Rt_HideOwner" window
  std::vector<LibraryRecord> libraries;
};
RuntimeState& State();
// Sent to the hidden owner: run the program end (code in wParam) on the
// main thread, for an end asked for on another thread.
constexpr unsigned kMsgEndFromOtherThread = 0x83E7;

// Service 6: the loading algorithm. Windows only.
void LoadProgramImage(const ProgramImage* image);
// Splits a full path at the last backslash (directory, file name).
void SplitProgramPath(const char* path, char* dir, size_t dir_size, char* file, size_t file_size);

}  // namespace rt

namespace rt {
// The program-end sequence: end routines, notifications, module release.
// EndProgram and the fatal path call it with the exit code; it must be safe
// to run twice.
void RunProgramEndSequence(int32_t exit_code);
[[noreturn]] void EndProgram(int32_t exit_code);
// Releases the modules loaded for DLL commands (the program-end sequence
// calls it).
void ReleaseDllModules();

// Entry points behind slots 4, 5, 10 and 11.
struct UiEntryPoints {
  uint64_t (*read_property)(uint32_t, uint32_t, int32_t, int32_t);
  void (*write_property)(uint32_t, uint32_t, int32_t, int32_t, uint32_t, uint32_t);
  void (*run_message_loop)();
  void* (*load_startup_window)(uint32_t);
};
// The template reader gets the block, its size and the routine base; it
// returns false when the block cannot be read.
using TemplateLoader = bool (*)(const uint8_t* block, uint32_t size, uintptr_t routine_base);
using DllTableLoader = void (*)(uint32_t count, const char* const* libraries,
                                const char* const* functions);
using ProgramEndFn = void (*)(int32_t exit_code);
// Binding of DLL command i: returns the address or does not return.
using DllResolver = void* (*)(uint32_t index);
using DllReleaseFn = void (*)();

// The seams the other subsystems fill before the image is loaded: the
// windowing Runtime (runtime/ui) the template reader, the notification
// entry handed to libraries, the program-end sequence and the UI entry
// points; the DLL subsystem (runtime/dll) the command table loader, the
// resolver and the module release. An empty seam is a subsystem not linked.
struct RuntimeHooks {
  TemplateLoader load_templates = nullptr;
  DllTableLoader load_dll_table = nullptr;
  LibraryNotify notification_entry = nullptr;
  ProgramEndFn program_end = nullptr;
  DllResolver resolve_dll = nullptr;
  DllReleaseFn release_dll_modules = nullptr;
  UiEntryPoints ui;  // fatal stand-ins until the windowing Runtime installs its own
};
RuntimeHooks& Hooks();
}  // namespace rt
