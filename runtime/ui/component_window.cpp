// The `window` component: the top-level window of a loaded template, and
// the menu items it carries.
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"

namespace rt::ui {
namespace {

constexpr UINT kMenuCommandBase = 0x7000;  // + the menu item's unit index

class WindowComponent : public Component {
 public:
  WindowProps p;
  BrushOwner back;
  FontOwner font;
  HFONT shown_font = nullptr;  // what WM_SETFONT last gave; a plain window keeps none

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override {
    *handled = false;
    switch (msg) {
      case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, back.get());
        *handled = true;
        return 1;
      }
      case WM_SETFONT:
        shown_font = reinterpret_cast<HFONT>(wp);
        *handled = true;
        return 0;
      case WM_GETFONT:
        *handled = true;
        return reinterpret_cast<LRESULT>(shown_font);
      case WM_COMMAND:
        if (lp == 0 && LOWORD(wp) >= kMenuCommandBase) {
          RaiseMenuEvent(LOWORD(wp) - kMenuCommandBase);
          *handled = true;
        }
        return 0;
      default:
        return 0;
    }
  }

  int Apply(OnWrite what) override {
    switch (what) {
      case OnWrite::kWindowText: SetWindowTextA(hwnd, p.caption.c_str()); return 0;
      case OnWrite::kBackground:
        back = MakeBrush(p.colour);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      default: return Component::Apply(what);
    }
  }

  void RaiseMenuEvent(uint32_t index) {
    auto* set = reinterpret_cast<TemplateSet*>(Notify(kNotifyTemplates, 0, 0));
    const WindowTemplate* w = set ? set->Find(window_id) : nullptr;
    const UnitRecord* u = w ? w->Unit(index) : nullptr;
    if (!u || !u->menu_item) return;
    EventRecord record{};
    record.window_id = window_id;
    record.unit_id = u->unit_id;
    Notify(kNotifyEvent, reinterpret_cast<intptr_t>(&record), 0);
  }
};

bool Resizable(uint32_t border) { return border == 1 || border == 3 || border == 5; }

Component* CreateWindowUnit(const CreateArgs& a) {
  auto* c = NewParsed<WindowComponent>(a);
  if (!c) return nullptr;
  const WindowProps& p = c->p;
  const char* cls = p.class_name.empty() ? "RtWindow" : p.class_name.c_str();
  RegisterRuntimeClass(cls, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS);

  DWORD style = WS_CLIPCHILDREN | (a.style & WS_DISABLED);
  DWORD ex = 0;
  if (p.border != 0) {
    style |= WS_DLGFRAME;
    if (!p.caption.empty() || p.control_box) style |= WS_CAPTION;
    if (p.control_box) style |= WS_SYSMENU;
  }
  // The platform gives every overlapped window a caption bar; a window that
  // is to have none must be a pop-up.
  if ((style & WS_CAPTION) != WS_CAPTION) style |= WS_POPUP;
  switch (p.border) {
    case 1: style |= WS_THICKFRAME; break;
    case 3: style |= WS_THICKFRAME; ex |= WS_EX_TOOLWINDOW; break;
    case 4: ex |= WS_EX_TOOLWINDOW; break;
    case 5: style |= WS_THICKFRAME; ex |= WS_EX_CLIENTEDGE; break;
    case 6: ex |= WS_EX_CLIENTEDGE; break;
    default: break;  // 2: the fixed dialog frame already set; 0: no frame
  }
  if (p.max_button) style |= WS_MAXIMIZEBOX;
  if (p.min_button) style |= WS_MINIMIZEBOX;
  int left = a.left, top = a.top;
  if (p.start_position == 1) {
    left = (GetSystemMetrics(SM_CXSCREEN) - a.width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - a.height) / 2;
  } else if (p.start_position == 2) {
    style |= WS_MINIMIZE;
  } else if (p.start_position == 3 && Resizable(p.border)) {
    style |= WS_MAXIMIZE;
  }
  HWND owner = a.parent;
  if (!p.taskbar) {
    owner = static_cast<HWND>(State().hidden_owner);
  } else if (!owner) {
    ex |= WS_EX_APPWINDOW;
  }
  c->window_id = a.window_id;
  c->unit_id = a.unit_id;
  c->back = MakeBrush(p.colour);
  c->font = MakeFont(Bytes());
  HWND h = CreateComponentWindow(ex, cls, p.caption.c_str(), style, left, top, a.width, a.height,
                                 owner, a.menu, c);
  if (!h) return nullptr;
  RECT r;
  GetWindowRect(h, &r);
  if (r.right - r.left != a.width || r.bottom - r.top != a.height)
    MoveWindow(h, left, top, a.width, a.height, FALSE);
  if (HICON big = IconFromFile(p.icon, GetSystemMetrics(SM_CXICON)))
    SendMessageA(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (HICON small = IconFromFile(p.icon, GetSystemMetrics(SM_CXSMICON)))
    SendMessageA(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font.get()), FALSE);
  if (p.topmost) SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (!p.movable) RemoveMenu(GetSystemMenu(h, FALSE), SC_MOVE, MF_BYCOMMAND);
  return c;
}

}  // namespace

const Operation* WindowInterface(int op) {
  return Interface<CreateWindowUnit, WriteByTable<WindowComponent>, GetAll<WindowComponent>,
                   ReadByTable<WindowComponent>>(op);
}

// Menu items are built by the window loader from their records and have no
// window of their own: no operation.
const Operation* MenuItemInterface(int) { return nullptr; }

MenuOwner BuildMenu(const WindowTemplate& w) {
  MenuOwner menu;
  for (size_t i = w.units.size(); i-- > 1;) {
    const UnitRecord& u = w.units[i];
    if (!u.menu_item) continue;
    uint32_t flags = u.menu_flags();
    if (flags & 1) continue;  // hidden
    if (!menu) menu.reset(CreateMenu());
    UINT how = MF_STRING | ((flags & 2) ? MF_GRAYED : 0) | ((flags & 4) ? MF_CHECKED : 0);
    AppendMenuA(menu.get(), how, kMenuCommandBase + i, u.menu_text.c_str());
  }
  return menu;
}

}  // namespace rt::ui
