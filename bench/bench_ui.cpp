// Windowing timings: what the template machinery costs over the platform
// calls it stands on. Prints figures only.
#include <windows.h>

#include "bench/bench_timing.h"

#include <cstdio>
#include <cstring>

#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/program_calls.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"
#include "window_templates.h"

extern "C" void BenchCreated(void) {}
extern "C" void BenchClicked(void) {}

namespace {

using bench::Report;
inline double Now() { return bench::Seconds(); }

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};
rt::ProgramImage g_image;

uint32_t Addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

HWND WindowOf(uint32_t unit) {
  rt::ui::WindowTemplate* w = rt::ui::LoadedTemplates().Find(rtwin::kBenchWindow);
  rt::ui::UnitRecord* u = unit ? w->FindUnit(unit) : &w->units[0];
  return static_cast<rt::ui::Component*>(u->object)->hwnd;
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// The same 200 windows made directly: a top-level window and its controls.
HWND DirectWindow() {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  HWND top = CreateWindowExA(0, "BenchPlain", "bench", WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0,
                             640, 1180, nullptr, nullptr, inst, nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  char text[32];
  for (int i = 1; i <= 200; ++i) {
    int kind = i % 3, left = 8 + ((i - 1) % 4) * 150, top_y = 4 + ((i - 1) / 4) * 22;
    const char* cls = kind == 0 ? "BUTTON" : kind == 1 ? "EDIT" : "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | (kind == 0 ? BS_PUSHBUTTON | WS_TABSTOP : 0) |
                  (kind == 1 ? ES_AUTOHSCROLL | WS_TABSTOP : 0);
    std::snprintf(text, sizeof text, "%s%d", kind == 0 ? GBK_TYPE_BUTTON : kind == 1 ? GBK_TYPE_EDIT_BOX : GBK_TYPE_LABEL, i);
    HWND h = CreateWindowExA(kind == 1 ? WS_EX_CLIENTEDGE : 0, cls, text, style, left, top_y, 140, 20, top,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(100 + 10 * i)), inst, nullptr);
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  ShowWindow(top, SW_SHOW);
  return top;
}

}  // namespace

int main() {
  rt::InstallWindowingRuntime();
  g_image = rt::ProgramImage{3, 0, 0x180E6, static_cast<uint32_t>(RtWindowRoutineBase()), 0, 0,
                             Addr(RtWindowTemplateData()), RtWindowTemplateSize(), 1, Addr(kLibraries),
                             0, 0, 0};
  rt::LoadProgramImage(&g_image);
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "BenchPlain";
  RegisterClassA(&wc);

  const int rounds = 5;
  std::printf("bench_ui (%d rounds of a 200-unit window, template block %u bytes)\n", rounds,
              RtWindowTemplateSize());
  // Destroying a shown top-level window costs Wine about 2 s without a
  // window manager; only the making and showing is timed.
  double loaded = 0, direct = 0, t0 = 0;
  for (int i = 0; i < rounds; ++i) {
    t0 = Now();
    rt::ui::LoadWindow(rt::ui::LoadedTemplates().Find(rtwin::kBenchWindow), false, true, 1, nullptr);
    Pump();
    loaded += Now() - t0;
    DestroyWindow(WindowOf(0));
    Pump();
    t0 = Now();
    HWND top = DirectWindow();
    Pump();
    direct += Now() - t0;
    DestroyWindow(top);
    Pump();
  }
  loaded /= rounds;
  direct /= rounds;
  std::printf("  load template (200 units)     %8.2f ms per window\n", loaded * 1e3);
  std::printf("  CreateWindowEx x201           %8.2f ms per window  (template/direct %.2fx)\n",
              direct * 1e3, loaded / direct);
  t0 = Now();
  std::vector<uint8_t> block(RtWindowTemplateData(), RtWindowTemplateData() + RtWindowTemplateSize());
  rt::ui::TemplateSet scratch;
  for (int i = 0; i < 1000; ++i) scratch.Load(block.data(), block.size(), 0x400000);
  std::printf("  read the template block      %8.3f ms per read\n", (Now() - t0));

  rt::ui::LoadWindow(rt::ui::LoadedTemplates().Find(rtwin::kBenchWindow), false, true, 1, nullptr);
  const uint32_t edit = 0x16010002;  // unit 1, an edit box
  HWND edit_hwnd = WindowOf(edit);
  const int n = 100000;  // about a minute each under Wine
  char value[32];
  t0 = Now();
  for (int i = 0; i < n; ++i) {
    std::snprintf(value, sizeof value, "%d", i);
    prog::WriteProperty(rtwin::kBenchWindow, edit, 8, -1, reinterpret_cast<uintptr_t>(value));
    prog::OwnedText back(reinterpret_cast<char*>(
        static_cast<uintptr_t>(prog::ReadProperty(rtwin::kBenchWindow, edit, 8, -1))));
  }
  double props = Now() - t0;
  char buf[32];
  t0 = Now();
  for (int i = 0; i < n; ++i) {
    std::snprintf(value, sizeof value, "%d", i);
    SetWindowTextA(edit_hwnd, value);
    GetWindowTextA(edit_hwnd, buf, sizeof buf);
  }
  double plain = Now() - t0;
  std::printf("  %d WriteProperty+ReadProperty %7.3f us per pair\n", n, props / n * 1e6);
  std::printf("  %d SetWindowTextA+GetWindowTextA %4.3f us per pair  (property/direct %.2fx)\n", n,
              plain / n * 1e6, props / plain);
  t0 = Now();
  for (int i = 0; i < n; ++i) prog::ReadProperty(rtwin::kBenchWindow, edit, 0, -1);
  std::printf("  %d ReadProperty(left)          %7.3f us each\n", n, (Now() - t0) / n * 1e6);
  DestroyWindow(WindowOf(0));
  return 0;
}
