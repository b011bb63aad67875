// ReadProperty and WriteProperty: the common unit properties 0 to 7, which
// the Runtime keeps itself, and each component's own properties, prepared
// and converted by their declared kinds; plus the unit rebuild.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"

namespace rt::ui {
namespace {

constexpr int32_t kPositionLimit = 32627;  // not 32767: the stored limit
constexpr char kDefaultFace[] = GBK_FONT_SONG;

uint32_t CursorIdOf(uint32_t number) {
  return number < std::size(kCursorIds) ? kCursorIds[number] : number;
}
uint32_t CursorNumberOf(uint32_t id) {
  for (uint32_t n = 0; n < std::size(kCursorIds); ++n)
    if (kCursorIds[n] == id) return n;
  return id;
}
uint32_t Word(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutWord(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// Pointer data with its leading cursor number translated either way.
Bytes TranslateCursor(const uint8_t* data, uint32_t size, bool to_system) {
  Bytes b(data, data + size);
  if (b.size() >= 4) PutWord(b.data(), to_system ? CursorIdOf(Word(b.data())) : CursorNumberOf(Word(b.data())));
  return b;
}

uint64_t Ptr(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }
uint64_t TextResult(const std::string& s) { return Ptr(NewText(s.data(), s.size())); }
uint64_t BytesResult(const Bytes& b) { return Ptr(NewByteSet(b.data(), b.size())); }

WindowTemplate* RequireWindow(uint32_t window_id) {
  WindowTemplate* w = LoadedTemplates().Find(window_id);
  if (!w || w->units.empty()) FatalError(GBK_MSG_WINDOW_NOT_LOADED, 0);
  return w;
}

UnitRecord* RequireUnit(WindowTemplate* w, uint32_t unit_id) {
  UnitRecord* u = unit_id == 0 ? &w->units[0] : w->FindUnit(unit_id);
  // An id the window does not have names no window that could be loaded.
  if (!u) FatalError(GBK_MSG_NOT_LOADED, 0);
  return u;
}

Component* RequireLive(const UnitRecord& u) {
  Component* c = LiveComponent(u);
  if (!c) FatalError(GBK_MSG_NOT_LOADED, 0);
  return c;
}

// The unit's window rectangle in its parent's client coordinates (screen
// coordinates for a top-level window).
RECT UnitRect(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  HWND parent = (GetWindowLongPtrA(h, GWL_STYLE) & WS_CHILD) ? GetParent(h) : nullptr;
  if (parent) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int PixelsPerInchY() {
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

LOGFONTA FontOf(const Bytes& bytes) {
  LOGFONTA lf{};
  if (bytes.size() == sizeof lf)
    std::memcpy(&lf, bytes.data(), sizeof lf);
  else
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfFaceName[LF_FACESIZE - 1] = '\0';
  return lf;
}

uint32_t FontMember(const LOGFONTA& lf, int member) {
  switch (member) {
    case 0: return static_cast<uint32_t>(lf.lfEscapement);
    case 1: return lf.lfWeight >= 700 ? 1 : 0;
    case 2: return lf.lfItalic ? 1 : 0;
    case 3: return lf.lfStrikeOut ? 1 : 0;
    case 4: return lf.lfUnderline ? 1 : 0;
    case 5: return static_cast<uint32_t>(MulDiv(std::abs(lf.lfHeight), 72, PixelsPerInchY()));
    default: return 0;
  }
}

void SetFontMember(LOGFONTA* lf, int member, uint32_t value, bool single) {
  switch (member) {
    case 0: {
      int32_t angle = static_cast<int32_t>(value);
      if (single) angle = ((angle % 3600) + 3600) % 3600;
      lf->lfEscapement = lf->lfOrientation = angle;
      break;
    }
    case 1: lf->lfWeight = value ? 700 : 0; break;
    case 2: lf->lfItalic = value ? 1 : 0; break;
    case 3: lf->lfStrikeOut = value ? 1 : 0; break;
    case 4: lf->lfUnderline = value ? 1 : 0; break;
    case 5: {
      int32_t size = static_cast<int32_t>(value);
      if (size < 0) size = 0;
      // Plain integer arithmetic here; only reading rounds (MulDiv).
      lf->lfHeight = -static_cast<LONG>(int64_t{size} * PixelsPerInchY() / 72);
      break;
    }
    case 6: {
      const char* face = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
      size_t n = face ? std::strlen(face) : 0;
      if (n == 0 || n > 31) {
        face = kDefaultFace;
        n = std::strlen(face);
      }
      std::memset(lf->lfFaceName, 0, sizeof lf->lfFaceName);
      std::memcpy(lf->lfFaceName, face, n);
      break;
    }
    default: break;
  }
}

uint64_t ReadFont(const Bytes& bytes, int32_t element) {
  LOGFONTA lf = FontOf(bytes);
  if (element == 6) return Ptr(CopyText(lf.lfFaceName));
  if (element >= 0 && element < 6) return FontMember(lf, element);
  if (element != kWholeProperty) return 0;
  auto* record = static_cast<uint32_t*>(AllocateBlock(28));
  for (int m = 0; m < 6; ++m) record[m] = FontMember(lf, m);
  record[6] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(CopyText(lf.lfFaceName)));
  return Ptr(record);
}

// The 60-byte LOGFONTA a font write hands the component.
bool PreparedFont(Component* c, const ComponentType* type, int own, int32_t element, uint32_t lo,
                  LOGFONTA* out) {
  if (element == kWholeProperty) {
    LOGFONTA lf{};
    const auto* record = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(lo));
    for (int m = 0; m < 7; ++m) SetFontMember(&lf, m, record ? record[m] : 0, false);
    *out = lf;
    return true;
  }
  if (element < 0 || element > 6) return false;
  PropOut current;
  const Operation* read = OperationOf(type, kOpRead);
  if (read && read->read) read->read(c, own, &current);
  LOGFONTA lf = FontOf(current.bytes);
  SetFontMember(&lf, element, lo, true);
  *out = lf;
  return true;
}

uint64_t ConvertRead(uint16_t kind, const PropOut& v, int32_t element) {
  switch (ClassOf(kind)) {
    case KindClass::kPair: return uint64_t(v.lo) | uint64_t(v.hi) << 32;
    case KindClass::kBool: return v.lo == 1 ? 1 : 0;
    case KindClass::kText: return TextResult(v.text);
    case KindClass::kBytes: return BytesResult(v.bytes);
    case KindClass::kCursor:
      return BytesResult(TranslateCursor(v.bytes.data(), static_cast<uint32_t>(v.bytes.size()), false));
    case KindClass::kFont: return ReadFont(v.bytes, element);
    case KindClass::kWord:
    case KindClass::kEnum: break;
  }
  return v.lo;
}

void Rebuild(WindowTemplate* w, UnitRecord* u) {
  PumpPending();
  RaiseFailureCount();  // no event reaches the program meanwhile
  if (Component* c = LiveComponent(*u)) {
    const Operation* get_all = OperationOf(c->type, kOpGetAll);
    Bytes data;
    if (get_all && get_all->get_all && get_all->get_all(c, &data)) u->property_data = data;
    int id = GetDlgCtrlID(c->hwnd);
    HWND before = GetWindow(c->hwnd, GW_HWNDPREV);
    DestroyWindow(c->hwnd);
    size_t index = static_cast<size_t>(w->IndexOf(u->unit_id));
    if (Component* fresh = RecreateUnit(*w, index, id)) {
      SetWindowPos(fresh->hwnd, before ? before : HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      SendMessageA(fresh->hwnd, kMsgUnitLayout, 0, 0);
      if (u->visible()) ShowWindow(fresh->hwnd, SW_SHOWNA);
    }
  }
  PumpPending();
  LowerFailureCount();
}

uint64_t ReadCommon(UnitRecord* u, int32_t number) {
  Component* c = LiveComponent(*u);
  switch (number) {
    case 0: case 1: case 2: case 3: {
      if (!c) {
        int32_t stored[] = {u->left, u->top, u->width, u->height};
        return static_cast<uint32_t>(stored[number]);
      }
      RECT r = UnitRect(c->hwnd);
      int32_t live[] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
      return static_cast<uint32_t>(live[number]);
    }
    case 4:
      return TextResult(u->tag);
    case 5:
      return c ? (IsWindowVisible(c->hwnd) ? 1 : 0) : (u->flags & kFlagVisible ? 1 : 0);
    case 6:
      return c ? (IsWindowEnabled(c->hwnd) ? 0 : 1) : (u->flags & kFlagDisabled ? 1 : 0);
    default:
      return BytesResult(TranslateCursor(u->mouse_pointer.data(),
                                         static_cast<uint32_t>(u->mouse_pointer.size()), false));
  }
}

void WriteCommon(UnitRecord* u, int32_t number, uint32_t lo) {
  Component* c = LiveComponent(*u);
  int32_t v = static_cast<int32_t>(lo);
  switch (number) {
    case 0: case 1: {
      v = v < -kPositionLimit ? -kPositionLimit : v > kPositionLimit ? kPositionLimit : v;
      (number == 0 ? u->left : u->top) = v;
      if (c) {
        RECT r = UnitRect(c->hwnd);
        SetWindowPos(c->hwnd, nullptr, number == 0 ? v : r.left, number == 1 ? v : r.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return;
    }
    case 2: case 3: {
      v = v < 0 ? 0 : v > kPositionLimit ? kPositionLimit : v;
      (number == 2 ? u->width : u->height) = v;
      if (c) {
        RECT r = UnitRect(c->hwnd);
        SetWindowPos(c->hwnd, nullptr, 0, 0, number == 2 ? v : r.right - r.left,
                     number == 3 ? v : r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return;
    }
    case 4: {
      const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(lo));
      u->tag = text ? text : "";
      return;
    }
    case 5:
      u->flags = lo ? (u->flags | kFlagVisible) : (u->flags & ~kFlagVisible);
      if (c) ShowWindow(c->hwnd, lo ? ((GetWindowLongPtrA(c->hwnd, GWL_STYLE) & WS_CHILD) ? SW_SHOWNA : SW_SHOW)
                                    : SW_HIDE);
      return;
    case 6:
      u->flags = lo ? (u->flags | kFlagDisabled) : (u->flags & ~kFlagDisabled);
      if (c) EnableWindow(c->hwnd, lo ? FALSE : TRUE);
      return;
    default: {
      const auto* set = reinterpret_cast<const ByteSetBlock*>(static_cast<uintptr_t>(lo));
      int32_t n = ByteSetLength(set);
      u->mouse_pointer = TranslateCursor(set ? set->data : nullptr, n > 0 ? static_cast<uint32_t>(n) : 0, true);
      HCURSOR cursor = CursorOfPointer(u->mouse_pointer);
      if (c) {
        c->cursor = cursor;
        u->cursor = reinterpret_cast<uintptr_t>(cursor);
      }
      return;
    }
  }
}

// Menu items: 0 the caption; 1 and 2 flag bits 2 and 1; 3 the inverse of bit 0.
uint64_t ReadMenuItem(const UnitRecord* u, int32_t number) {
  uint32_t flags = u->menu_flags();
  switch (number) {
    case 0: return TextResult(u->menu_text);
    case 1: return (flags >> 2) & 1;
    case 2: return (flags >> 1) & 1;
    case 3: return (flags & 1) ? 0 : 1;
    default: return 0;
  }
}

void WriteMenuItem(WindowTemplate* w, UnitRecord* u, int32_t number, uint32_t lo) {
  uint32_t flags = u->menu_flags();
  switch (number) {
    case 0: {
      const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(lo));
      u->menu_text = text ? text : "";
      break;
    }
    case 1: flags = lo ? flags | 4 : flags & ~4u; break;
    case 2: flags = lo ? flags | 2 : flags & ~2u; break;
    case 3: flags = lo ? flags & ~1u : flags | 1; break;
    default: return;
  }
  PutWord(u->menu_extra, flags);
  // The live menu is rebuilt from the records.
  if (Component* window = LiveComponent(w->units[0])) {
    MenuOwner old(GetMenu(window->hwnd));
    SetMenu(window->hwnd, BuildMenu(*w).release());  // the window owns its menu
  }
}

}  // namespace

uint64_t ReadProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element) {
  WindowTemplate* w = RequireWindow(window_id);
  UnitRecord* u = RequireUnit(w, unit_id);
  if (u->menu_item) return ReadMenuItem(u, number);
  if (number < 0) return 0;
  if (number < kCommonCount) return ReadCommon(u, number);
  Component* c = RequireLive(*u);
  const ComponentType* type = FindType(u->type_id);
  if (!type || static_cast<uint32_t>(number) >= type->property_count) return 0;
  const Operation* read = OperationOf(type, kOpRead);
  PropOut out;
  if (!read || !read->read || !read->read(c, number - kCommonCount, &out)) return 0;
  return ConvertRead(type->kinds[number], out, element);
}

void WriteProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element,
                   uint32_t lo, uint32_t hi) {
  WindowTemplate* w = RequireWindow(window_id);
  UnitRecord* u = RequireUnit(w, unit_id);
  if (u->menu_item) return WriteMenuItem(w, u, number, lo);
  if (number < 0) return;
  if (number < kCommonCount) return WriteCommon(u, number, lo);
  Component* c = RequireLive(*u);
  const ComponentType* type = FindType(u->type_id);
  if (!type || static_cast<uint32_t>(number) >= type->property_count) return;
  const Operation* write = OperationOf(type, kOpWrite);
  if (!write || !write->write) return;
  const uint16_t kind = type->kinds[number];
  PropIn in;
  Bytes scratch;
  LOGFONTA font;
  switch (ClassOf(kind)) {
    case KindClass::kPair:
      in.lo = lo;
      in.hi = hi;
      break;
    case KindClass::kBool: in.lo = lo ? 1 : 0; break;
    case KindClass::kText: {
      const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(lo));
      in.text = text ? text : "";
      break;
    }
    case KindClass::kEnum: in.lo = static_cast<int32_t>(lo) < 0 ? 0 : lo; break;
    case KindClass::kBytes:
    case KindClass::kCursor: {
      const auto* set = reinterpret_cast<const ByteSetBlock*>(static_cast<uintptr_t>(lo));
      int32_t n = ByteSetLength(set);
      in.data = n > 0 ? set->data : nullptr;
      in.size = n > 0 ? static_cast<uint32_t>(n) : 0;
      if (ClassOf(kind) == KindClass::kCursor && in.size > 3) {
        scratch = TranslateCursor(in.data, in.size, true);
        in.data = scratch.data();
      }
      break;
    }
    case KindClass::kFont:
      if (!PreparedFont(c, type, number - kCommonCount, element, lo, &font)) return;
      in.data = reinterpret_cast<const uint8_t*>(&font);
      in.size = sizeof font;
      break;
    case KindClass::kWord: in.lo = lo; break;
  }
  if (write->write(c, number - kCommonCount, in) == 1) Rebuild(w, u);
}

}  // namespace rt::ui
