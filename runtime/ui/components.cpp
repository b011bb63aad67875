// What every component shares: the type table, the common window
// procedure with notification reflection, colours, brushes, fonts, borders
// and icons (see component.h).
#include "runtime/ui/component.h"

#include <cstring>
#include <vector>

#include "runtime/core/gbk_text.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"

namespace rt::ui {
namespace {

constexpr char kUnitProp[] = "RtUnit";

// Property kinds by program number; 0 to 7 are the common unit properties.
#define RT_COMMON_KINDS 1001, 1001, 1001, 1001, 1005, 1003, 1003, 1011
constexpr uint16_t kWindowKinds[] = {RT_COMMON_KINDS, 1005, 1006, 1017, 1009, 1006, 1012, 1006,
                                     1003, 1003, 1003, 1006, 1003, 1010, 1003, 1003, 1003,
                                     1016, 1001, 1003, 1003, 1006, 1003, 1003, 1005};
constexpr uint16_t kMenuItemKinds[] = {RT_COMMON_KINDS};
constexpr uint16_t kEditBoxKinds[] = {RT_COMMON_KINDS, 1005, 1006, 1014, 1017, 1013, 1003, 1001,
                                      1003, 1006, 1006, 1006, 1005, 1006, 1006, 1001, 1001,
                                      1001, 1001, 1005, 1018, 1020};
constexpr uint16_t kGroupBoxKinds[] = {RT_COMMON_KINDS, 1005, 1006, 1014, 1017, 1013};
constexpr uint16_t kLabelKinds[] = {RT_COMMON_KINDS, 1005, 1006, 1006, 1001, 1015, 1015, 1015,
                                    1013, 1014, 1017, 1009, 1006, 1006, 1015, 1015, 1015,
                                    1006, 1003, 1006, 1018, 1020};
constexpr uint16_t kButtonKinds[] = {RT_COMMON_KINDS, 1009, 1006, 1005, 1006, 1006, 1013};
constexpr uint16_t kTimerKinds[] = {RT_COMMON_KINDS, 1001};
#undef RT_COMMON_KINDS

template <size_t N>
constexpr uint32_t Count(const uint16_t (&)[N]) {
  return static_cast<uint32_t>(N);
}

constexpr ComponentType kTypes[] = {
    {1, GBK_TYPE_WINDOW, "window", kTypeWindow, kTypeRaisesEvents, Count(kWindowKinds), kWindowKinds,
     WindowInterface, "RtWindow"},
    {3, GBK_TYPE_MENU, "MenuItem", kTypeMenuItem, kTypeRaisesEvents, Count(kMenuItemKinds), kMenuItemKinds,
     MenuItemInterface, ""},
    {5, GBK_TYPE_EDIT_BOX, "EditBox", kTypeEditBox, kTypeRaisesEvents, Count(kEditBoxKinds), kEditBoxKinds,
     EditBoxInterface, "EDIT"},
    {9, GBK_TYPE_GROUP_BOX, "GroupBox", kTypeGroupBox, kTypeRaisesEvents, Count(kGroupBoxKinds),
     kGroupBoxKinds, GroupBoxInterface, "BUTTON"},
    {10, GBK_TYPE_LABEL, "Label", kTypeLabel, kTypeRaisesEvents, Count(kLabelKinds), kLabelKinds,
     LabelInterface, "Rt_Label"},
    {11, GBK_TYPE_BUTTON, "Button", kTypeButton, kTypeRaisesEvents, Count(kButtonKinds), kButtonKinds,
     ButtonInterface, "BUTTON"},
    {32, GBK_TYPE_TIMER, "Timer", kTypeTimer, kTypeRaisesEvents, Count(kTimerKinds), kTimerKinds,
     TimerInterface, "Rt_Timer"},
};
static_assert(Count(kWindowKinds) == 32 && Count(kEditBoxKinds) == 29 && Count(kLabelKinds) == 29 &&
                  Count(kButtonKinds) == 14 && Count(kGroupBoxKinds) == 13 && Count(kTimerKinds) == 9,
              "property counts of the component types");

// The component being created by one of our own classes: WM_NCCREATE ties
// it to its window, so a failed creation knows the window procedure already
// released it.
Component* g_attached_in_create = nullptr;

std::vector<HICON> g_icons;

}  // namespace

const ComponentType* FindType(uint32_t type_id) {
  for (const ComponentType& t : kTypes)
    if (t.type_id == type_id) return &t;
  return nullptr;
}

const Operation* OperationOf(const ComponentType* type, int op) {
  return type && type->interface_fn ? type->interface_fn(op) : nullptr;
}

Component::~Component() = default;

LRESULT Component::Handle(UINT, WPARAM, LPARAM, bool* handled) {
  *handled = false;
  return 0;
}

void Component::RaiseEvent(uint32_t index) {
  EventRecord record{};
  record.window_id = window_id;
  record.unit_id = unit_id;
  record.event = index;
  Notify(kNotifyEvent, reinterpret_cast<intptr_t>(&record), 0);
}

Component* ComponentOf(HWND hwnd) {
  return hwnd ? static_cast<Component*>(GetPropA(hwnd, kUnitProp)) : nullptr;
}

void AttachControl(Component* c, HWND hwnd) {
  c->hwnd = hwnd;
  SetPropA(hwnd, kUnitProp, c);
  c->old_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ComponentProc)));
}

LRESULT CALLBACK ComponentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Component* c = ComponentOf(hwnd);
  if (!c && msg == WM_NCCREATE) {
    c = static_cast<Component*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    if (c) {
      c->hwnd = hwnd;
      c->old_proc = DefWindowProcA;
      SetPropA(hwnd, kUnitProp, c);
      g_attached_in_create = c;
    }
  }
  if (!c) return DefWindowProcA(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_COMMAND:
      // Controls tell their parent; each control handles its own news.
      if (lp) {
        if (Component* child = ComponentOf(reinterpret_cast<HWND>(lp))) {
          if (child != c) {
            child->Command(HIWORD(wp));
            return 0;
          }
        }
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (Component* child = ComponentOf(reinterpret_cast<HWND>(lp))) {
        if (HBRUSH brush = child->CtlColor(reinterpret_cast<HDC>(wp)))
          return reinterpret_cast<LRESULT>(brush);
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == hwnd && c->cursor && LOWORD(lp) == HTCLIENT) {
        SetCursor(c->cursor);
        return TRUE;
      }
      break;
    case kMsgUnitLayout:
    case kMsgWindowLayout:
    case kMsgUnitSettle:
      return 0;  // nothing of these components needs late layout
    case WM_DESTROY: {
      c->Destroying();
      uint32_t w = c->window_id, u = c->unit_id;
      Notify(kNotifyDestroyed, static_cast<intptr_t>(w), static_cast<intptr_t>(u));
      break;
    }
    case WM_NCDESTROY: {
      WNDPROC old = c->old_proc;
      RemovePropA(hwnd, kUnitProp);
      if (old != DefWindowProcA)
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      c->hwnd = nullptr;
      delete c;
      return CallWindowProcA(old, hwnd, msg, wp, lp);
    }
    default:
      break;
  }
  bool handled = false;
  LRESULT r = c->Handle(msg, wp, lp, &handled);
  if (handled) return r;
  return CallWindowProcA(c->old_proc, hwnd, msg, wp, lp);
}

void RegisterRuntimeClass(const char* name, UINT style) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, name, &wc)) return;
  wc = WNDCLASSA{};
  wc.style = style;
  wc.lpfnWndProc = ComponentProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

HWND CreateComponentWindow(DWORD ex_style, const char* cls, const char* text, DWORD style, int x,
                           int y, int width, int height, HWND parent, HMENU menu, Component* c) {
  g_attached_in_create = nullptr;
  HWND h = CreateWindowExA(ex_style, cls, text, style, x, y, width, height, parent, menu,
                           GetModuleHandleA(nullptr), c);
  if (!h) {
    // Our own classes release the component with their window; a platform
    // control never saw it.
    if (g_attached_in_create != c) delete c;
    g_attached_in_create = nullptr;
    return nullptr;
  }
  g_attached_in_create = nullptr;
  if (!ComponentOf(h)) AttachControl(c, h);
  return h;
}

HWND CreateControl(const char* cls, const char* text, DWORD style, DWORD ex_style,
                   const CreateArgs& a, Component* c) {
  c->window_id = a.window_id;
  c->unit_id = a.unit_id;
  return CreateComponentWindow(ex_style, cls, text, WS_CHILD | style | a.style, a.left, a.top,
                               a.width, a.height, a.parent,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(a.control_id)), c);
}

COLORREF ColourOf(uint32_t stored) {
  return stored == kButtonFaceColour ? GetSysColor(COLOR_BTNFACE) : (stored & 0x00FFFFFFu);
}

HBRUSH MakeBrush(uint32_t stored) {
  if (stored == kButtonFaceColour) return GetSysColorBrush(COLOR_BTNFACE);
  return CreateSolidBrush(stored & 0x00FFFFFFu);
}

void FreeBrush(HBRUSH brush) {
  // System colour brushes belong to the system.
  if (brush && brush != GetSysColorBrush(COLOR_BTNFACE)) DeleteObject(brush);
}

HFONT MakeFont(const Bytes& font) {
  if (font.size() == sizeof(LOGFONTA)) {
    LOGFONTA lf;
    std::memcpy(&lf, font.data(), sizeof lf);
    lf.lfFaceName[LF_FACESIZE - 1] = '\0';
    if (HFONT f = CreateFontIndirectA(&lf)) return f;
  }
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void FreeFont(HFONT font) {
  if (font && font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font);
}

void BorderStyles(uint32_t border, DWORD* style, DWORD* ex) {
  switch (border) {
    case 1: *ex |= WS_EX_CLIENTEDGE; break;
    case 2: *ex |= WS_EX_DLGMODALFRAME; break;
    case 3: *ex |= WS_EX_STATICEDGE; break;
    case 4: *ex |= WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME; break;
    case 5: *style |= WS_BORDER; break;
    default: break;
  }
}

void ApplyBorder(HWND hwnd, uint32_t border) {
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)) & ~static_cast<DWORD>(WS_BORDER | WS_DLGFRAME);
  DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)) &
             ~static_cast<DWORD>(WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME | WS_EX_STATICEDGE);
  BorderStyles(border, &style, &ex);
  SetWindowLongPtrA(hwnd, GWL_STYLE, static_cast<LONG_PTR>(style));
  SetWindowLongPtrA(hwnd, GWL_EXSTYLE, static_cast<LONG_PTR>(ex));
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string WindowText(HWND hwnd) {
  int n = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(n < 0 ? 0 : n) + 1, '\0');
  GetWindowTextA(hwnd, &text[0], n + 1);
  text.resize(std::strlen(text.c_str()));
  return text;
}

Bytes TextBytes(const char* text) {
  return text ? Bytes(text, text + std::strlen(text)) : Bytes();
}

uint32_t Clamp(uint32_t v, uint32_t hi) { return v > hi ? hi : v; }

HICON IconFromFile(const Bytes& file, int size) {
  // An icon file: a 6-byte header, 16-byte entries, then the images.
  if (file.size() < 6) return nullptr;
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(file[at] | file[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (u16(0) != 0 || u16(2) != 1) return nullptr;
  uint32_t count = u16(4);
  if (file.size() < 6 + 16 * static_cast<size_t>(count)) return nullptr;
  int best = -1, best_score = -1;
  for (uint32_t i = 0; i < count; ++i) {
    size_t e = 6 + 16 * static_cast<size_t>(i);
    int w = file[e] ? file[e] : 256;
    uint32_t bits = u16(e + 6), bytes = u32(e + 8), offset = u32(e + 12);
    if (offset > file.size() || bytes > file.size() - offset || bytes < 40) continue;
    // Prefer the exact size, then the nearest larger one, then the most colours.
    int fit = w == size ? 3000 : w > size ? 2000 - (w - size) : 1000 - (size - w);
    int score = fit * 64 + static_cast<int>(bits > 32 ? 32 : bits);
    if (score > best_score) {
      best_score = score;
      best = static_cast<int>(i);
    }
  }
  if (best < 0) return nullptr;
  size_t e = 6 + 16 * static_cast<size_t>(best);
  HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(file.data() + u32(e + 12)), u32(e + 8), TRUE,
                                        0x00030000, size, size, LR_DEFAULTCOLOR);
  if (icon) g_icons.push_back(icon);
  return icon;
}

void DestroyCachedIcons() {
  for (HICON icon : g_icons) DestroyIcon(icon);
  g_icons.clear();
}

}  // namespace rt::ui
