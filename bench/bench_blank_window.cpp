// The start-up baseline for bench_app: a Windows program that only
// registers a class, creates one window, shows it and runs its loop until
// the window is closed. What is left of the tool's start beyond this is the
// tool's own.
#include <windows.h>

namespace {

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(h, m, w, l);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA c{};
  c.lpfnWndProc = Proc;
  c.hInstance = instance;
  c.lpszClassName = "BenchBlank";
  RegisterClassA(&c);
  HWND w = CreateWindowExA(0, "BenchBlank", "blank", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                           instance, nullptr);
  ShowWindow(w, SW_SHOW);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  return 0;
}
