// The windowing Runtime (see ui_runtime.h): installation, the notification
// entry and event dispatch, the startup window, the idle-aware message loop
// and the program-end sequence.
#include "runtime/ui/ui_runtime.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"

namespace rt::ui {
namespace {

constexpr UINT kEndFromOtherThread = 0x83E7;

bool g_loop_entered = false;
bool g_end_begun = false;
int g_quit_code = 0;
uint32_t g_event_window = 0, g_event_unit = 0, g_focus_unit = 0;
LibraryNotify g_entry = nullptr;  // the Runtime's entry, as handed to our library
char g_program_dir[MAX_PATH + 2] = {};

struct IdleEntry {
  HWND hwnd;
  IdleCallback callback;
  void* argument;
};
std::vector<IdleEntry> g_idle;

// The component library's notification routine.
int32_t ComponentLibraryNotify(int32_t code, intptr_t a, intptr_t) {
  if (code == 1) g_entry = reinterpret_cast<LibraryNotify>(a);
  if (code == 6) g_entry = nullptr;  // from now on the components call us directly
  return 0;
}

Component* Live(const UnitRecord& u) {
  auto* c = static_cast<Component*>(u.object);
  return c && c->hwnd && IsWindow(c->hwnd) ? c : nullptr;
}

void UnitDestroyed(uint32_t window_id, uint32_t unit_id) {
  WindowTemplate* w = LoadedTemplates().Find(window_id);
  if (w && !w->units.empty()) {
    UnitRecord* u = unit_id == 0 ? &w->units[0] : w->FindUnit(unit_id);
    if (u) {
      u->object = nullptr;
      u->cursor = 0;
      if (u == &w->units[0]) w->loaded = nullptr;
    }
  }
  // Only a loop that has started may end because the last window went.
  if (g_loop_entered && !AnyLoadedWindowAlive()) PostQuitMessage(0);
}

// Finds the routine bound to an event and makes its unit the current
// event source; 0 when none is bound or events are suppressed.
uintptr_t FindHandler(uint32_t window_id, uint32_t unit_id, uint32_t event) {
  if (FailureCount() > 0) return 0;
  WindowTemplate* w = LoadedTemplates().Find(window_id);
  if (!w || w->units.empty()) FatalError(GBK_MSG_NO_EVENT_WINDOW, 0);
  const UnitRecord* u = unit_id == 0 ? &w->units[0] : w->FindUnit(unit_id);
  if (!u) FatalError(GBK_MSG_NO_EVENT_UNIT, 0);
  // Copies of a unit inside a parent of the same type share its bindings
  // (the reader has refused parent chains that loop).
  while (u->parent_id) {
    const UnitRecord* parent = w->FindUnit(u->parent_id);
    if (!parent || parent->type_id != u->type_id) break;
    u = parent;
  }
  const ComponentType* type = FindType(u->type_id);
  if (!type || !(type->flags & (kTypeRaisesEvents | (1u << 6))))
    FatalError(GBK_MSG_BAD_EVENT_UNIT, 0);
  uintptr_t handler = u->Handler(event);
  if (!handler) return 0;
  g_event_window = window_id;
  g_event_unit = u->unit_id;
  return handler;
}

int32_t DispatchSimple(EventRecord* r) {
  if (!r) return 0;
  uintptr_t handler = FindHandler(r->window_id, r->unit_id, r->event);
  if (!handler) return 0;
  int count = static_cast<int>(std::min<uint32_t>(r->arg_count, 5));
  rt_call_with_words(handler, r->args, count);
  g_event_window = 0;
  return 1;
}

int32_t DispatchTyped(TypedEventRecord* r) {
  if (!r) return 0;
  uintptr_t handler = FindHandler(r->window_id, r->unit_id, r->event);
  if (!handler) return 0;
  std::vector<uint32_t> words;
  uint32_t count = std::min<uint32_t>(r->arg_count, 12);
  for (uint32_t i = 0; i < count; ++i) {
    const TypedArgument& a = r->args[i];
    uint32_t lo = static_cast<uint32_t>(a.value), hi = static_cast<uint32_t>(a.value >> 32);
    bool eight = false;
    if (a.flags & 1) {
      // a reference: its first four bytes as they are
    } else if ((a.flags & 2) || a.type == kTypeMenuItem) {
      eight = true;
    } else if (a.type == kShort) {
      lo = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(lo)));
    } else if (a.type == kByte) {
      lo &= 0xFF;
    } else if (a.type == kLong || a.type == kDouble || a.type == kDateTime || a.type == kUnsettled8) {
      eight = true;
    }
    words.push_back(lo);
    if (eight) words.push_back(hi);
  }
  rt_call_with_words(handler, words.data(), static_cast<int>(words.size()));
  g_event_window = 0;
  return 1;
}

bool IsIdleNeutral(const MSG& m) {
  static POINT last_pos{-1, -1};
  static UINT last_msg = 0;
  if (m.message == WM_MOUSEMOVE || m.message == WM_NCMOUSEMOVE) {
    bool same = m.message == last_msg && m.pt.x == last_pos.x && m.pt.y == last_pos.y;
    last_pos = m.pt;
    last_msg = m.message;
    return same;
  }
  return m.message == WM_PAINT || m.message == 0x0118;  // the caret's blink timer
}

// The pump's idle step: one round of housekeeping, then nothing more.
bool IdleStep(long count) { return count < 1; }

void RunIdleCallbacks() {
  for (size_t i = g_idle.size(); i-- > 0;) {
    if (i >= g_idle.size()) continue;
    IdleEntry e = g_idle[i];
    if (!IsWindow(e.hwnd)) {
      g_idle.erase(g_idle.begin() + static_cast<long>(i));
      continue;
    }
    e.callback(e.argument);
  }
}

// Keyboard navigation between a window's tab stops, as in a dialog.
bool PreTranslate(MSG* m) {
  if (m->message < WM_KEYFIRST || m->message > WM_KEYLAST || !m->hwnd) return false;
  HWND root = GetAncestor(m->hwnd, GA_ROOT);
  Component* c = ComponentOf(root);
  return c && c->type && c->type->type_id == kTypeWindow && IsDialogMessageA(root, m);
}

void Dispatch(MSG* m) {
  if (PreTranslate(m)) return;
  TranslateMessage(m);
  DispatchMessageA(m);
}

}  // namespace

int32_t NotificationEntry(int32_t code, intptr_t a, intptr_t b) {
  switch (code) {
    case kNotifyTemplates:
      return static_cast<int32_t>(reinterpret_cast<intptr_t>(&LoadedTemplates()));
    case kNotifyDestroyed:
      UnitDestroyed(static_cast<uint32_t>(a), static_cast<uint32_t>(b));
      return 0;
    case kNotifyEvent:
      return DispatchSimple(reinterpret_cast<EventRecord*>(a));
    case kNotifyTypedEvent:
      return DispatchTyped(reinterpret_cast<TypedEventRecord*>(a));
    case kNotifyAllocate: {
      auto size = static_cast<uint32_t>(a);
      void* block = b == 0 ? AllocateBlock(size) : TryAllocateBlock(size);
      return static_cast<int32_t>(reinterpret_cast<intptr_t>(block));
    }
    case kNotifyFree:
      FreeBlock(reinterpret_cast<void*>(a));
      return 0;
    case kNotifyReallocate:
      return static_cast<int32_t>(
          reinterpret_cast<intptr_t>(ReallocateBlock(reinterpret_cast<void*>(a), static_cast<uint32_t>(b))));
    default:
      return 0;  // facilities this program does not use
  }
}

int32_t Notify(int32_t code, intptr_t a, intptr_t b) {
  return g_entry ? g_entry(code, a, b) : NotificationEntry(code, a, b);
}

bool WindowAlive(const WindowTemplate* w) { return w && !w->units.empty() && Live(w->units[0]); }

bool AnyLoadedWindowAlive() {
  for (const WindowTemplate& w : LoadedTemplates().windows())
    if (WindowAlive(&w)) return true;
  return false;
}

void* LoadStartupWindow(uint32_t window_id) {
  WindowTemplate* w = LoadedTemplates().Find(window_id);
  void* window = w ? LoadWindow(w, false, true, 1, nullptr) : nullptr;
  if (!window) FatalError(GBK_MSG_NO_START_WINDOW, 0);
  return window;
}

void RunMessageLoop() {
  g_loop_entered = true;
  if (!AnyLoadedWindowAlive()) return;
  MSG m;
  bool idle = true;
  long idle_count = 0;
  for (;;) {
    while (idle && !PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) {
      RunIdleCallbacks();
      if (!IdleStep(idle_count++)) idle = false;
    }
    do {
      BOOL got = GetMessageA(&m, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        g_quit_code = got == 0 ? static_cast<int>(m.wParam) : 0;
        return;
      }
      Dispatch(&m);
      if (!IsIdleNeutral(m)) {
        idle = true;
        idle_count = 0;
      }
    } while (PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  }
}

void PumpPending() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) {
    if (m.message == WM_QUIT) return;
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) return;
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));  // leave it for the loop
      return;
    }
    Dispatch(&m);
  }
}

void ProgramEnd(int32_t exit_code) {
  RaiseFailureCount();
  RuntimeState& s = State();
  if (s.main_thread && GetCurrentThreadId() != s.main_thread) {
    // Only the main thread ends the program; hand over and wait.
    HWND owner = static_cast<HWND>(s.hidden_owner);
    if (owner && IsWindow(owner))
      SendMessageA(owner, kEndFromOtherThread, static_cast<WPARAM>(exit_code), 0);
    if (!g_end_begun) ExitProcess(static_cast<UINT>(exit_code));
    // The main thread is ending the program already: this thread does
    // nothing more, and leaves the exit to it.
    ExitThread(static_cast<DWORD>(exit_code));
  }
  g_end_begun = true;
  g_idle.clear();
  for (EndRoutine routine : TakeEndRoutines()) rt_call_preserved(routine);
  std::vector<LibraryRecord> libraries;
  libraries.swap(s.libraries);
  for (const LibraryRecord& lib : libraries)
    if (lib.notify) lib.notify(6, 0, 0);
  s.library_values.clear();
  ReleaseDllModules();
  SetConstantsBlock(nullptr, 0);
  DestroyCachedIcons();
  if (s.hidden_owner && IsWindow(static_cast<HWND>(s.hidden_owner)))
    DestroyWindow(static_cast<HWND>(s.hidden_owner));
  s.hidden_owner = nullptr;
  g_event_window = g_event_unit = 0;
  if (s.ole_initialised) {
    OleUninitialize();
    s.ole_initialised = false;
  }
}

void RegisterIdleCallback(void* hwnd, IdleCallback callback, void* argument) {
  HWND h = static_cast<HWND>(hwnd);
  if (!callback || !h || !IsWindow(h)) return;
  for (const IdleEntry& e : g_idle)
    if (e.hwnd == h) return;
  g_idle.push_back({h, callback, argument});
}

size_t IdleCallbackCount() { return g_idle.size(); }
int QuitCode() { return g_quit_code; }
bool LoopEntered() { return g_loop_entered; }
uint32_t CurrentEventWindow() { return g_event_window; }
uint32_t CurrentEventUnit() { return g_event_unit; }
uint32_t FocusUnit() { return g_focus_unit; }
void NoteFocusUnit(uint32_t unit_id) { g_focus_unit = unit_id; }

void RecordProgramDirectory() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  char* slash = std::strrchr(path, '\\');
  size_t n = slash ? static_cast<size_t>(slash - path) + 1 : 0;
  std::memcpy(g_program_dir, path, n);
  g_program_dir[n] = '\0';
}

const char* ProgramDirectory() { return g_program_dir; }

}  // namespace rt::ui

extern "C" const rt::LibraryRecord RtComponentLibrary = {
    rt::ui::ComponentLibraryNotify,
    "52545549434F4D504F4E454E54530001",
    GBK_UI_LIBRARY,
};

namespace rt {

void InstallWindowingRuntime() {
  SetTemplateLoader(ui::LoadTemplateBlock);
  SetNotificationEntry(ui::NotificationEntry);
  SetProgramEndHook(ui::ProgramEnd);
  UiEntryPoints entries{};
  entries.read_property = ui::ReadProperty;
  entries.write_property = ui::WriteProperty;
  entries.run_message_loop = ui::RunMessageLoop;
  entries.load_startup_window = ui::LoadStartupWindow;
  SetUiEntryPoints(entries);
}

}  // namespace rt
