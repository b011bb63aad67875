// Loading a window from its template: the window's own unit first, then
// units N-1 down to 1, moved into their parents, shown, and the window's
// Created, 3 and 4 events raised before the window itself appears.
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"

namespace rt::ui {
namespace {

constexpr int kFirstControlId = 100;
constexpr int kControlIdStep = 10;

DWORD StyleOf(const UnitRecord& u) {
  return ((u.flags & kFlagDisabled) ? WS_DISABLED : 0u) | ((u.flags & kFlagTabStop) ? WS_TABSTOP : 0u);
}

HCURSOR CursorOf(const UnitRecord& u) {
  if (u.mouse_pointer.size() < 4) return nullptr;
  uint32_t id = uint32_t(u.mouse_pointer[0]) | uint32_t(u.mouse_pointer[1]) << 8 |
                uint32_t(u.mouse_pointer[2]) << 16 | uint32_t(u.mouse_pointer[3]) << 24;
  if (id == 0 || id > 0xFFFF) return nullptr;
  return LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
}

Component* CreateUnit(UnitRecord& u, const CreateArgs& base) {
  const Operation* op = OperationOf(FindType(u.type_id), kOpCreate);
  if (!op || !op->create) return nullptr;
  CreateArgs a = base;
  a.data = u.property_data.data();
  a.size = static_cast<uint32_t>(u.property_data.size());
  a.style = StyleOf(u);
  a.left = u.left;
  a.top = u.top;
  a.width = u.width;
  a.height = u.height;
  a.unit_id = u.unit_id;
  a.visible = u.visible();
  Component* c = op->create(a);
  if (c) {
    c->type = FindType(u.type_id);
    c->cursor = CursorOf(u);
    u.cursor = reinterpret_cast<uintptr_t>(c->cursor);
  }
  u.object = c;
  return c;
}

HWND HwndOf(const UnitRecord& u) {
  auto* c = static_cast<Component*>(u.object);
  return c && c->hwnd && IsWindow(c->hwnd) ? c->hwnd : nullptr;
}

}  // namespace

Component* RecreateUnit(WindowTemplate& w, size_t index, int control_id) {
  UnitRecord& u = w.units[index];
  HWND window = HwndOf(w.units[0]);
  if (!window) return nullptr;
  CreateArgs a;
  a.parent = window;
  a.control_id = control_id;
  a.window_id = w.window_id;
  Component* c = CreateUnit(u, a);
  if (!c) return nullptr;
  if (u.parent_id)
    if (const UnitRecord* parent = w.FindUnit(u.parent_id))
      if (HWND ph = HwndOf(*parent)) {
        SetParent(c->hwnd, ph);
        SetWindowPos(c->hwnd, nullptr, u.left, u.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
  return c;
}

void* LoadWindow(WindowTemplate* w, bool reuse, bool show, int owner_mode, void* owner_handle) {
  (void)show;  // the startup window is shown normally either way
  if (!w || w->units.empty()) return nullptr;
  UnitRecord& own = w->units[0];
  if (own.type_id != kTypeWindow) return nullptr;
  // 1. A window already loaded is brought forward instead.
  if (!reuse) {
    if (HWND h = HwndOf(own)) {
      if (IsIconic(h))
        ShowWindow(h, SW_RESTORE);
      else
        SetForegroundWindow(h);
      return own.object;
    }
  }
  // 2. The owner.
  HWND owner = owner_mode == 1 ? nullptr : static_cast<HWND>(owner_handle);
  if (owner && !IsWindow(owner)) return nullptr;
  // 3. The menu of the window's menu items.
  HMENU menu = BuildMenu(*w);
  // 4. The window's own unit.
  CreateArgs base;
  base.window_id = w->window_id;
  base.parent = owner;
  base.menu = menu;
  Component* window = CreateUnit(own, base);
  if (!window) {
    if (menu) DestroyMenu(menu);
    return nullptr;
  }
  // 5. Units N-1 down to 1, with control ids 100, 110, ... in that order.
  std::vector<size_t> created;
  base.parent = window->hwnd;
  base.menu = nullptr;
  int control_id = kFirstControlId;
  for (size_t i = w->units.size(); i-- > 1;) {
    UnitRecord& u = w->units[i];
    if (u.menu_item) continue;
    base.control_id = control_id;
    control_id += kControlIdStep;
    if (!CreateUnit(u, base)) {
      // 6. Any failure undoes the whole window.
      DestroyWindow(window->hwnd);
      for (UnitRecord& r : w->units) r.object = nullptr;
      return nullptr;
    }
    created.push_back(i);
  }
  // 7. Units with a parent unit move into it, keeping their stored position;
  // then the stacking (and so the tab order) follows creation order.
  for (size_t i : created) {
    UnitRecord& u = w->units[i];
    if (!u.parent_id) continue;
    const UnitRecord* parent = w->FindUnit(u.parent_id);
    HWND ph = parent ? HwndOf(*parent) : nullptr;
    HWND h = HwndOf(u);
    if (!ph || !h) continue;
    SetParent(h, ph);
    SetWindowPos(h, nullptr, u.left, u.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i]))
      SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // 8. Late layout, then the units' visibility.
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i])) SendMessageA(h, kMsgUnitLayout, 0, 0);
  SendMessageA(window->hwnd, kMsgWindowLayout, 0, 0);
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i])) ShowWindow(h, w->units[i].visible() ? SW_SHOWNA : SW_HIDE);
  // 9. Created, then events 3 and 4 while the window lives; it is hidden yet.
  HWND wh = window->hwnd;
  window->RaiseEvent(0);
  if (IsWindow(wh)) window->RaiseEvent(3);
  if (IsWindow(wh)) window->RaiseEvent(4);
  if (!IsWindow(wh)) return nullptr;
  // 10. Show the window.
  if (own.visible()) {
    ShowWindow(wh, SW_SHOW);
    HWND f = GetFocus();
    if (f && IsChild(wh, f))
      if (Component* c = ComponentOf(f)) NoteFocusUnit(c->unit_id);
  }
  // 11. Every live unit settles, last first; the focus stays where it was.
  HWND focus = GetFocus();
  for (size_t k = created.size(); k-- > 0;)
    if (HWND h = HwndOf(w->units[created[k]])) SendMessageA(h, kMsgUnitSettle, 0, 0);
  if (GetFocus() != focus && focus && IsWindow(focus)) SetFocus(focus);
  // 12. Loaded.
  w->loaded = own.object;
  return own.object;
}

}  // namespace rt::ui
