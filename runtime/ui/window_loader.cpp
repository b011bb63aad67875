// Loading a window from its template: the window's own unit first, then
// units N-1 down to 1, moved into their parents, shown, and the window's
// Created, 3 and 4 events raised before the window itself appears.
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_numbers.h"
#include "runtime/ui/ui_runtime.h"

namespace rt::ui {
namespace {

DWORD StyleOf(const UnitRecord& u) {
  return ((u.flags & kFlagDisabled) ? WS_DISABLED : 0u) | ((u.flags & kFlagTabStop) ? WS_TABSTOP : 0u);
}

HWND HwndOf(const UnitRecord& u) {
  Component* c = LiveComponent(u);
  return c ? c->hwnd : nullptr;
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
    c->cursor = CursorOfPointer(u.mouse_pointer);
    u.cursor = reinterpret_cast<uintptr_t>(c->cursor);
  }
  u.object = c;
  return c;
}

// A unit with a parent unit moves into it, keeping its stored position.
void MoveIntoParent(const WindowTemplate& w, const UnitRecord& u, HWND h) {
  if (!u.parent_id) return;
  const UnitRecord* parent = w.FindUnit(u.parent_id);
  HWND ph = parent ? HwndOf(*parent) : nullptr;
  if (!ph || !h) return;
  SetParent(h, ph);
  SetWindowPos(h, nullptr, u.left, u.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A window already loaded is brought forward instead of loaded again.
bool BringForward(const UnitRecord& own) {
  HWND h = HwndOf(own);
  if (!h) return false;
  if (IsIconic(h))
    ShowWindow(h, SW_RESTORE);
  else
    SetForegroundWindow(h);
  return true;
}

// Units N-1 down to 1 (menu items aside), with control ids 100, 110, ... in
// that order (ui_numbers.h); the indices created, or false when one fails.
bool CreateUnits(WindowTemplate* w, CreateArgs base, std::vector<size_t>* created) {
  int position = 0;
  for (size_t i = w->units.size(); i-- > 1;) {
    UnitRecord& u = w->units[i];
    if (u.menu_item) continue;
    base.control_id = ControlIdAt(position++);
    if (!CreateUnit(u, base)) return false;
    created->push_back(i);
  }
  return true;
}

// Parents, stacking (and so the tab order) in creation order, late layout,
// then each unit's own visibility.
void ArrangeUnits(WindowTemplate* w, HWND window, const std::vector<size_t>& created) {
  for (size_t i : created) MoveIntoParent(*w, w->units[i], HwndOf(w->units[i]));
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i]))
      SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i])) SendMessageA(h, kMsgUnitLayout, 0, 0);
  SendMessageA(window, kMsgWindowLayout, 0, 0);
  for (size_t i : created)
    if (HWND h = HwndOf(w->units[i])) ShowWindow(h, w->units[i].visible() ? SW_SHOWNA : SW_HIDE);
}

// Created, then events 3 and 4 while the window lives (it is hidden yet);
// false when an event routine closed it.
bool RaiseLoadEvents(Component* window) {
  HWND wh = window->hwnd;
  window->RaiseEvent(0);
  if (IsWindow(wh)) window->RaiseEvent(3);
  if (IsWindow(wh)) window->RaiseEvent(4);
  return IsWindow(wh);
}

// Every live unit settles, last first; the focus stays where it was.
void SettleUnits(WindowTemplate* w, const std::vector<size_t>& created) {
  HWND focus = GetFocus();
  for (size_t k = created.size(); k-- > 0;)
    if (HWND h = HwndOf(w->units[created[k]])) SendMessageA(h, kMsgUnitSettle, 0, 0);
  if (GetFocus() != focus && focus && IsWindow(focus)) SetFocus(focus);
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
  if (c) MoveIntoParent(w, u, c->hwnd);
  return c;
}

void* LoadWindow(WindowTemplate* w, bool reuse, int owner_mode, void* owner_handle) {
  if (!w || w->units.empty()) return nullptr;
  UnitRecord& own = w->units[0];
  if (own.type_id != kTypeWindow) return nullptr;
  if (!reuse && BringForward(own)) return own.object;
  HWND owner = owner_mode == 1 ? nullptr : static_cast<HWND>(owner_handle);
  if (owner && !IsWindow(owner)) return nullptr;

  MenuOwner menu = BuildMenu(*w);
  CreateArgs base;
  base.window_id = w->window_id;
  base.parent = owner;
  base.menu = menu.get();
  Component* window = CreateUnit(own, base);
  if (!window) return nullptr;
  menu.release();  // the window's now, destroyed with it

  std::vector<size_t> created;
  base.parent = window->hwnd;
  base.menu = nullptr;
  if (!CreateUnits(w, base, &created)) {
    // Any failure undoes the whole window.
    DestroyWindow(window->hwnd);
    for (UnitRecord& r : w->units) r.object = nullptr;
    return nullptr;
  }
  ArrangeUnits(w, window->hwnd, created);
  if (!RaiseLoadEvents(window)) return nullptr;
  if (own.visible()) ShowWindow(window->hwnd, SW_SHOW);
  SettleUnits(w, created);
  w->loaded = own.object;
  return own.object;
}

}  // namespace rt::ui
