// The windowing Runtime: installation into the core's seams, the
// notification entry, window loading, the startup window, the message loop,
// program end, event dispatch and property access.
//
// Owns: the loop state (loop entered, end begun, idle callbacks, quit code),
// the current event source, and through templates.h the loaded templates
// with their live component objects. Everything runs on the one UI thread;
// only the program-end sequence checks for another thread and hands over.
// May call: runtime/core (fatal, memory, image), components.
#pragma once

#include <cstdint>

#include "runtime/core/image.h"

namespace rt {

// Installs the template reader, the notification entry, the program-end
// sequence and the property, loop and startup-window entries into the core.
// Call once before the program image is loaded (the start-up step does).
void InstallWindowingRuntime();

}  // namespace rt

// The Runtime's own component library, for the program image's library
// table: its notification routine receives code 1 (the Runtime's
// notification entry) at image load and code 6 at program end.
extern "C" const rt::LibraryRecord RtComponentLibrary;

namespace rt::ui {

struct WindowTemplate;

#pragma pack(push, 4)
// Simple event record (notification 2008).
struct EventRecord {
  uint32_t window_id;
  uint32_t unit_id;  // 0: the window itself
  uint32_t event;
  uint32_t arg_count;  // 0..5
  uint32_t args[5];
  uint32_t result_present;
  uint32_t result;
};
// Typed event record (notification 2031).
struct TypedArgument {
  uint64_t value;
  uint32_t type;
  uint32_t flags;  // bit 0: pass 4 bytes as is; bit 1: pass all 8
};
struct TypedEventRecord {
  uint32_t window_id;
  uint32_t unit_id;
  uint32_t event;
  uint32_t arg_count;  // 0..12
  TypedArgument args[12];
  uint32_t result_present;
  uint64_t result;
};
#pragma pack(pop)
static_assert(sizeof(EventRecord) == 44, "simple event record");
static_assert(sizeof(TypedEventRecord) == 16 + 192 + 12, "typed event record");

enum NotificationCode : int32_t {
  kNotifyTemplates = 1001,
  kNotifyDestroyed = 2000,
  kNotifyEvent = 2008,
  kNotifyAllocate = 2024,
  kNotifyFree = 2025,
  kNotifyReallocate = 2026,
  kNotifyTypedEvent = 2031,
};

int32_t NotificationEntry(int32_t code, intptr_t a, intptr_t b);
// What components call: the entry handed to the library at load, or ours.
int32_t Notify(int32_t code, intptr_t a, intptr_t b);

// Window loading (owner mode 1: no owner).
void* LoadWindow(WindowTemplate* w, bool reuse, int owner_mode, void* owner);
void* LoadStartupWindow(uint32_t window_id);
void RunMessageLoop();
void ProgramEnd(int32_t exit_code);
bool AnyLoadedWindowAlive();
bool WindowAlive(const WindowTemplate* w);
int QuitCode();
bool LoopEntered();

using IdleCallback = void (*)(void* argument);
void RegisterIdleCallback(void* hwnd, IdleCallback callback, void* argument);
size_t IdleCallbackCount();

// The unit of the event whose routine runs (0 when none runs).
uint32_t CurrentEventUnit();

uint64_t ReadProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element);
void WriteProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element,
                   uint32_t lo, uint32_t hi);

// Creates unit `index` of a loaded window again from its record (the
// rebuild after a property write); the old window must be gone.
class Component;
Component* RecreateUnit(WindowTemplate& w, size_t index, int control_id);

// Lets pending messages run (until none waits or WM_QUIT is next).
void PumpPending();

}  // namespace rt::ui

extern "C" {
// Calls a routine with every register preserved (call_preserved_i686.S).
uint32_t rt_call_preserved(void (*routine)(void));
// Pushes `count` words (last first) and calls the routine; EDX:EAX back.
uint64_t rt_call_with_words(uintptr_t routine, const uint32_t* words, int count);
}
