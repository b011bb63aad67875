// Windows side of the Runtime core: the entry table, the slot entry points,
// the image loader's platform steps, the hidden owner window and the fatal
// sink (a modal "错误" box, then program end with 0xFFFFFFFF).
#include <windows.h>

#include "runtime/core/commands.h"
#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/memory.h"

namespace rt {
void LoadImageData(const ProgramImage* image);
}

extern "C" {
// Assembly thunks (entry_thunks_i686.S).
void rt_slot_call_builtin();
void rt_slot_call_dll();
void rt_slot_runtime_service();

// C entry points the thunks and the table use.
void* rt_resolve_dll_command(uint32_t index) {
  rt::DllResolver resolve = rt::GetDllResolver();
  if (!resolve) rt::FatalError(GBK_MSG_NO_EXPORT, 0);
  return resolve(index);
}
intptr_t rt_runtime_service_c(int service, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                              intptr_t a5, intptr_t a6) {
  return rt::RuntimeService(service, a1, a2, a3, a4, a5, a6);
}

static void SlotRaise(int32_t code) { rt::RaiseRuntimeError(code); }
static uint64_t SlotRead(uint32_t w, uint32_t u, int32_t n, int32_t e) {
  return rt::UiEntries().read_property(w, u, n, e);
}
static void SlotWrite(uint32_t w, uint32_t u, int32_t n, int32_t e, uint32_t lo, uint32_t hi) {
  rt::UiEntries().write_property(w, u, n, e, lo, hi);
}
static void* SlotAlloc(uint32_t size) { return rt::AllocateBlock(size); }
static void* SlotRealloc(void* b, uint32_t size) { return rt::ReallocateBlock(b, size); }
static void SlotFree(void* b) { rt::FreeBlock(b); }
static void SlotEnd(int32_t code) { rt::EndProgram(code); }
static void SlotLoop() { rt::UiEntries().run_message_loop(); }
static void* SlotLoad(uint32_t id) { return rt::UiEntries().load_startup_window(id); }

// The table lives in read-only data; program code calls through it only.
extern const rt::RuntimeEntryTable rt_entry_table = {{
    reinterpret_cast<const void*>(&SlotRaise),
    reinterpret_cast<const void*>(&rt_slot_call_dll),
    reinterpret_cast<const void*>(&rt_slot_call_builtin),  // library commands: same contract
    reinterpret_cast<const void*>(&rt_slot_call_builtin),
    reinterpret_cast<const void*>(&SlotRead),
    reinterpret_cast<const void*>(&SlotWrite),
    reinterpret_cast<const void*>(&SlotAlloc),
    reinterpret_cast<const void*>(&SlotRealloc),
    reinterpret_cast<const void*>(&SlotFree),
    reinterpret_cast<const void*>(&SlotEnd),
    reinterpret_cast<const void*>(&SlotLoop),
    reinterpret_cast<const void*>(&SlotLoad),
    reinterpret_cast<const void*>(&rt_slot_runtime_service),
}};
}  // extern "C"

namespace rt {
namespace {

constexpr UINT kEndFromOtherThread = 0x83E7;
constexpr char kHideOwnerClass[] = "Rt_HideOwner";

// The hidden owner needs a procedure of its own: it must run the program
// end on the main thread when another thread hands it over.
LRESULT CALLBACK HideOwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kEndFromOtherThread) EndProgram(static_cast<int32_t>(wp));
  return DefWindowProcA(hwnd, msg, wp, lp);
}

[[noreturn]] void WindowsFatalSink(const std::string& text, int) {
  if (!text.empty()) MessageBoxA(nullptr, text.c_str(), GBK_ERROR_CAPTION, MB_OK | MB_ICONERROR);
  TakeEndRoutines();  // discarded: no end routine runs after a runtime error
  RunProgramEndSequence(-1);
  ExitProcess(kFatalExitCode);
}

struct InstallSink {
  InstallSink() { SetFatalSink(WindowsFatalSink); }
} g_install_sink;

}  // namespace

const RuntimeEntryTable& EntryTable() { return rt_entry_table; }

void EndProgram(int32_t exit_code) {
  RunProgramEndSequence(exit_code);
  ExitProcess(static_cast<UINT>(exit_code));
}

void LoadProgramImage(const ProgramImage* image) {
  RuntimeState& s = State();
  // Steps 1 and 3: the process heap is taken by memory.cpp on every call.
  if (!s.ole_initialised && SUCCEEDED(OleInitialize(nullptr))) s.ole_initialised = true;
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  SplitProgramPath(path, s.program_dir, sizeof s.program_dir, s.program_file, sizeof s.program_file);
  if (s.program_dir[0]) SetCurrentDirectoryA(s.program_dir);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!GetClassInfoA(instance, kHideOwnerClass, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = HideOwnerProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = kHideOwnerClass;
    RegisterClassA(&wc);
  }
  if (!s.hidden_owner || !IsWindow(static_cast<HWND>(s.hidden_owner)))
    s.hidden_owner = CreateWindowExA(WS_EX_TOOLWINDOW, kHideOwnerClass, "", 0, 0, 0, 0, 0,
                                     nullptr, nullptr, instance, nullptr);
  s.main_thread = GetCurrentThreadId();
  LoadImageData(image);
}

bool PlatformSetLocalClock(const CalendarFields& f) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(f.year);
  st.wMonth = static_cast<WORD>(f.month);
  st.wDay = static_cast<WORD>(f.day);
  st.wHour = static_cast<WORD>(f.hour);
  st.wMinute = static_cast<WORD>(f.minute);
  st.wSecond = static_cast<WORD>(f.second);
  st.wDayOfWeek = static_cast<WORD>(f.day_of_week);
  st.wMilliseconds = 0;
  if (!SetLocalTime(&st)) return false;
  // SetLocalTime converts with the daylight-saving rule in force before the
  // change; across a DST boundary the first call lands an hour off. The
  // platform's advice is a second call, made once the first has succeeded.
  return SetLocalTime(&st) != FALSE;
}

}  // namespace rt
