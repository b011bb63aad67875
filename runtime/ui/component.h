// Components: the unit types a window template can hold, each described by
// a type entry whose interface function hands out the type's operations by
// number (1 create, 4 write property, 5 get all property data, 6 read
// property).
//
// Owns: each Component object is owned by its platform window; it deletes
// itself when the window is gone (WM_NCDESTROY), after reporting the
// destruction (notification 2000) on WM_DESTROY. Fonts, brushes and icons a
// component makes are released with it.
// Events go to the Runtime's notification entry (code 2008).
// May call: Win32, property_records.h, templates.h, the notification entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime/core/owner.h"
#include "runtime/ui/property_records.h"

namespace rt::ui {

struct ComponentType;
struct UnitRecord;

// Component messages sent while a window loads.
constexpr UINT kMsgUnitLayout = 0x806F;    // to every unit after creation
constexpr UINT kMsgWindowLayout = 0x8004;  // to the window after its units
constexpr UINT kMsgUnitSettle = 0x8076;    // to every live unit, last first

// What create receives.
struct CreateArgs {
  const uint8_t* data = nullptr;  // property data and its length
  uint32_t size = 0;
  DWORD style = 0;                // WS_DISABLED / WS_TABSTOP from the unit's flags
  HWND parent = nullptr;          // the window for units; the owner for a window
  int control_id = 0;
  HMENU menu = nullptr;           // window only
  int left = 0, top = 0, width = 0, height = 0;
  uint32_t window_id = 0, unit_id = 0;
  bool visible = false;           // the unit's visible flag (shown later by the loader)
};

// A value handed to a component's property writer, already prepared by the
// property's kind (numbers in lo/hi, texts never null, byte data as a span).
struct PropIn {
  uint32_t lo = 0, hi = 0;
  const char* text = "";
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};
// What a component's reader hands back.
struct PropOut {
  uint32_t lo = 0, hi = 0;
  std::string text;
  Bytes bytes;
};

class Component {
 public:
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const ComponentType* type = nullptr;
  HWND hwnd = nullptr;
  uint32_t window_id = 0, unit_id = 0;
  HCURSOR cursor = nullptr;  // set from the unit's mouse pointer; null = class default

  // A message for this window; set *handled to skip the default processing.
  virtual LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp, bool* handled);
  // A notification this control sent its parent, reflected back to it.
  virtual void Command(WORD code) { (void)code; }
  // Colours for painting this control (WM_CTLCOLOR*); null = default.
  virtual HBRUSH CtlColor(HDC dc) {
    (void)dc;
    return nullptr;
  }
  virtual void Destroying() {}
  // After a property write stored its value in the record: what else the
  // write does (property_records.h). Gives 1 when the unit must be rebuilt.
  virtual int Apply(OnWrite what) { return what == OnWrite::kRebuild ? 1 : 0; }
  void RaiseEvent(uint32_t index);

  WNDPROC old_proc = nullptr;  // what the common procedure falls back to

 protected:
  Component() = default;
};

// The component of a unit record while its platform window lives, or null.
Component* LiveComponent(const UnitRecord& u);
// The system cursor a unit's mouse-pointer data names (a leading cursor id
// of 1 to 0xFFFF), or null for the class default.
HCURSOR CursorOfPointer(const Bytes& mouse_pointer);

// Component of a window handle, or null when it is not one of ours.
Component* ComponentOf(HWND hwnd);
// The procedure of every component window (own classes, subclassed controls).
LRESULT CALLBACK ComponentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// Ties a freshly created control to its component and subclasses it.
void AttachControl(Component* c, HWND hwnd);
// Registers one of the Runtime's own classes once (procedure ComponentProc).
void RegisterRuntimeClass(const char* name, UINT style);

// Shared pieces.
COLORREF ColourOf(uint32_t stored);  // 0xFF000000 -> the button-face colour
// The GDI objects and menus components make, each with its one owner. The
// system's own colour brush and default font are never deleted.
void FreeBrush(HBRUSH brush);
void FreeFont(HFONT font);
using BrushOwner = rt::UniqueOf<HBRUSH, FreeBrush>;
using FontOwner = rt::UniqueOf<HFONT, FreeFont>;
using MenuOwner = rt::UniqueOf<HMENU, DestroyMenu>;
using IconOwner = rt::UniqueOf<HICON, DestroyIcon>;
BrushOwner MakeBrush(uint32_t stored);
FontOwner MakeFont(const Bytes& font);  // 60 bytes -> a font; else the default GUI font
// A control's font replaced by one made from `stored`, shown at once.
void ReplaceFont(HWND hwnd, FontOwner* font, const Bytes& stored);
// Edit box and label borders 0..5: the styles at creation, or a live change.
void BorderStyles(uint32_t border, DWORD* style, DWORD* ex);
void ApplyBorder(HWND hwnd, uint32_t border);
// Creates a window for component `c`; on failure the component is gone.
HWND CreateComponentWindow(DWORD ex_style, const char* cls, const char* text, DWORD style, int x,
                           int y, int width, int height, HWND parent, HMENU menu, Component* c);
// A child control of a unit: WS_CHILD, the unit's style bits, its rectangle.
HWND CreateControl(const char* cls, const char* text, DWORD style, DWORD ex_style,
                   const CreateArgs& a, Component* c);
Bytes TextBytes(const char* text);
std::string WindowText(HWND hwnd);  // the window's current text
uint32_t Clamp(uint32_t v, uint32_t hi);  // prepared values are never negative

// Operation table of a type.
using CreateFn = Component* (*)(const CreateArgs&);
using WriteFn = int (*)(Component*, int index, const PropIn&);  // 1 = rebuild the unit
using GetAllFn = bool (*)(Component*, Bytes* out);
using ReadFn = int (*)(Component*, int index, PropOut* out);     // 1 = index known
struct Operation {
  CreateFn create;
  WriteFn write;
  GetAllFn get_all;
  ReadFn read;
};
enum OperationNumber : int { kOpCreate = 1, kOpWrite = 4, kOpGetAll = 5, kOpRead = 6 };
using InterfaceFn = const Operation* (*)(int op);

// A new component of class C with its record `p` read from the unit's data;
// null when the data does not parse.
template <typename C>
C* NewParsed(const CreateArgs& a) {
  auto* c = new C;
  if (TryParse(a.data, a.size, &c->p)) return c;
  delete c;
  return nullptr;
}
// Operation 5 of a component class whose record `p` is kept current.
template <typename C>
bool GetAll(Component* base, Bytes* out) {
  *out = Serialise(static_cast<C*>(base)->p);
  return true;
}

// Operation 4 of a component class C: the row of the record's table stores
// the prepared value (clamped), then the component applies the change.
// An own number without a row does nothing.
template <typename C>
int WriteByTable(Component* base, int own, const PropIn& v) {
  using P = decltype(C::p);
  auto* c = static_cast<C*>(base);
  const RecordField<P>* f = FieldOf<P>(own);
  if (!f || f->since == kNotStored) return 0;
  if (f->word) c->p.*f->word = f->max && v.lo > f->max ? f->max : v.lo;
  if (f->half) c->p.*f->half = static_cast<uint8_t>(v.text[0]);
  if (f->text) c->p.*f->text = v.text;
  if (f->bytes) (c->p.*f->bytes).assign(v.data, v.data + v.size);
  return c->Apply(f->on_write);
}
// Operation 6 of a component class C: 1 when the own number is known.
template <typename C>
int ReadByTable(Component* base, int own, PropOut* out) {
  using P = decltype(C::p);
  auto* c = static_cast<C*>(base);
  const RecordField<P>* f = FieldOf<P>(own);
  if (!f) return 0;
  if (f->word) out->lo = c->p.*f->word;
  if (f->half) out->text = std::string(1, static_cast<char>(c->p.*f->half));
  if (f->text) {
    if (f->on_write == OnWrite::kWindowText || f->on_write == OnWrite::kContent)
      c->p.*f->text = WindowText(c->hwnd);
    out->text = c->p.*f->text;
  }
  if (f->bytes) out->bytes = c->p.*f->bytes;
  return 1;
}

// The interface function of a type: operations 1, 4, 5 and 6, each its own
// entry holding that one function; any other number has none.
template <CreateFn create, WriteFn write, GetAllFn get_all, ReadFn read>
const Operation* Interface(int op) {
  static constexpr Operation kOps[] = {{create, nullptr, nullptr, nullptr},
                                       {nullptr, write, nullptr, nullptr},
                                       {nullptr, nullptr, get_all, nullptr},
                                       {nullptr, nullptr, nullptr, read}};
  switch (op) {
    case kOpCreate: return &kOps[0];
    case kOpWrite: return &kOps[1];
    case kOpGetAll: return &kOps[2];
    case kOpRead: return &kOps[3];
    default: return nullptr;
  }
}

// Type flag bits that allow events.
constexpr uint32_t kTypeRaisesEvents = 1u << 2;

struct ComponentType {
  uint32_t number;
  const char* name;
  const char* english;
  uint32_t type_id;
  uint32_t flags;
  uint32_t property_count;  // common 0..7 included
  const uint16_t* kinds;    // property_count entries
  InterfaceFn interface_fn;
  const char* class_name;   // platform class of its windows
};

const ComponentType* FindType(uint32_t type_id);
const Operation* OperationOf(const ComponentType* type, int op);

// Per-type creation and operations (component_*.cpp).
const Operation* WindowInterface(int op);
const Operation* EditBoxInterface(int op);
const Operation* LabelInterface(int op);
const Operation* ButtonInterface(int op);
const Operation* GroupBoxInterface(int op);
const Operation* TimerInterface(int op);
const Operation* MenuItemInterface(int op);

struct WindowTemplate;
// The menu of a window's menu items, or none when it has none shown.
MenuOwner BuildMenu(const WindowTemplate& w);

// Icons made from window icon blocks; destroyed at program end.
HICON IconFromFile(const Bytes& file, int size);
void DestroyCachedIcons();

}  // namespace rt::ui
