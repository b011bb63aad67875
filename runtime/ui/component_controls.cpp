// The unit components: EditBox, Label, Button, GroupBox and Timer.
#include "runtime/ui/component.h"

#include <commctrl.h>

namespace rt::ui {
namespace {

constexpr UINT_PTR kTimerId = 1000;

void SetFontBytes(HWND hwnd, Bytes* stored, HFONT* font, const PropIn& v) {
  stored->assign(v.data, v.data + v.size);
  HFONT old = *font;
  *font = MakeFont(*stored);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(*font), TRUE);
  FreeFont(old);
}

void SetBrush(HBRUSH* brush, uint32_t* stored, uint32_t colour) {
  *stored = colour;
  FreeBrush(*brush);
  *brush = MakeBrush(colour);
}

// ---------------------------------------------------------------- EditBox

class EditComponent : public Component {
 public:
  EditBoxProps p;
  HBRUSH back = nullptr;
  HFONT font = nullptr;
  HWND spin = nullptr;
  bool quiet = false;  // our own text writes raise the event themselves

  ~EditComponent() override {
    FreeBrush(back);
    FreeFont(font);
  }
  void Command(WORD code) override {
    if (code == EN_CHANGE && !quiet) RaiseEvent(0);
  }
  HBRUSH CtlColor(HDC dc) override {
    SetTextColor(dc, ColourOf(p.text_colour));
    SetBkColor(dc, ColourOf(p.back_colour));
    return back;
  }
  void SetContent(const char* text) {
    p.content = text;
    quiet = true;
    SetWindowTextA(hwnd, text);
    quiet = false;
    RaiseEvent(0);
  }
};

DWORD EditStyle(const EditBoxProps& p) {
  DWORD style = WS_CLIPSIBLINGS;
  if (!p.hide_selection) style |= ES_NOHIDESEL;
  if (p.multi_line)
    style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  else
    style |= ES_AUTOHSCROLL;
  if (p.scroll_bars & 1) style |= WS_HSCROLL;
  if (p.scroll_bars & 2) style |= WS_VSCROLL;
  if (p.align == 1) style |= ES_CENTER;
  if (p.align == 2) style |= ES_RIGHT;
  if (p.input_mode == 1) style |= ES_READONLY;
  if (p.input_mode == 2) style |= ES_PASSWORD;
  if (p.letter_case == 1) style |= ES_LOWERCASE;
  if (p.letter_case == 2) style |= ES_UPPERCASE;
  return style;
}

Component* CreateEditBox(const CreateArgs& a) {
  auto* c = NewParsed<EditComponent>(a);
  if (!c) return nullptr;
  c->back = MakeBrush(c->p.back_colour);
  c->font = MakeFont(c->p.font);
  DWORD style = EditStyle(c->p), ex = 0;
  BorderStyles(c->p.border, &style, &ex);
  HWND h = CreateControl("EDIT", c->p.content.c_str(), style, ex, a, c);
  if (!h) return nullptr;
  // An edit control may trade a WS_BORDER given at creation for a border of
  // its own drawing; set after creation it stays.
  if (c->p.border == 5) ApplyBorder(h, c->p.border);
  if (c->p.input_mode == 2) SendMessageA(h, EM_SETPASSWORDCHAR, c->p.password_char, 0);
  if (c->p.max_length) SendMessageA(h, EM_LIMITTEXT, c->p.max_length, 0);
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font), FALSE);
  if (c->p.spin && !c->p.multi_line) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&icc);
    c->spin = CreateWindowExA(0, UPDOWN_CLASSA, "",
                              WS_CHILD | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS |
                                  (a.visible ? WS_VISIBLE : 0),
                              0, 0, 0, 0, a.parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (c->spin) {
      SendMessageA(c->spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(h), 0);
      SendMessageA(c->spin, UDM_SETRANGE32, c->p.spin_low, c->p.spin_high);
    }
  }
  return c;
}

// Fields that only a new platform window can show answer 1: rebuild.
int WriteEditBox(Component* base, int index, const PropIn& v) {
  auto* c = static_cast<EditComponent*>(base);
  EditBoxProps& p = c->p;
  switch (index) {
    case 0: c->SetContent(v.text); return 0;
    case 1: p.border = Clamp(v.lo, 5); ApplyBorder(c->hwnd, p.border); return 0;
    case 2: p.text_colour = v.lo; InvalidateRect(c->hwnd, nullptr, TRUE); return 0;
    case 3: SetBrush(&c->back, &p.back_colour, v.lo); InvalidateRect(c->hwnd, nullptr, TRUE); return 0;
    case 4: SetFontBytes(c->hwnd, &p.font, &c->font, v); return 0;
    case 5: p.hide_selection = v.lo; return 1;
    case 6: p.max_length = v.lo; SendMessageA(c->hwnd, EM_LIMITTEXT, v.lo, 0); return 0;
    case 7: p.multi_line = v.lo; return 1;
    case 8: p.scroll_bars = Clamp(v.lo, 3); return 1;
    case 9: p.align = Clamp(v.lo, 2); return 1;
    case 10:
      p.input_mode = Clamp(v.lo, 2);
      if (p.input_mode == 2) return 1;
      SendMessageA(c->hwnd, EM_SETREADONLY, p.input_mode == 1, 0);
      return 0;
    case 11:
      p.password_char = static_cast<uint8_t>(v.text[0]);
      if (p.input_mode == 2) SendMessageA(c->hwnd, EM_SETPASSWORDCHAR, p.password_char, 0);
      InvalidateRect(c->hwnd, nullptr, TRUE);
      return 0;
    case 12: p.letter_case = Clamp(v.lo, 2); return 1;
    case 13: p.spin = v.lo; return 1;
    case 14: p.spin_low = v.lo; return 1;
    case 15: p.spin_high = v.lo; return 1;
    case 16: p.word_a = v.lo; return 0;
    case 17: p.word_b = v.lo; return 0;
    case 18: p.extra = v.text; return 0;
    default: return 0;
  }
}

int ReadEditBox(Component* base, int index, PropOut* out) {
  auto* c = static_cast<EditComponent*>(base);
  EditBoxProps& p = c->p;
  switch (index) {
    case 0: p.content = WindowText(c->hwnd); out->text = p.content; return 1;
    case 1: out->lo = p.border; return 1;
    case 2: out->lo = p.text_colour; return 1;
    case 3: out->lo = p.back_colour; return 1;
    case 4: out->bytes = p.font; return 1;
    case 5: out->lo = p.hide_selection; return 1;
    case 6: out->lo = p.max_length; return 1;
    case 7: out->lo = p.multi_line; return 1;
    case 8: out->lo = p.scroll_bars; return 1;
    case 9: out->lo = p.align; return 1;
    case 10: out->lo = p.input_mode; return 1;
    case 11: out->text = std::string(1, static_cast<char>(p.password_char)); return 1;
    case 12: out->lo = p.letter_case; return 1;
    case 13: out->lo = p.spin; return 1;
    case 14: out->lo = p.spin_low; return 1;
    case 15: out->lo = p.spin_high; return 1;
    case 16: out->lo = p.word_a; return 1;
    case 17: out->lo = p.word_b; return 1;
    case 18: out->text = p.extra; return 1;
    case 19: case 20: return 1;
    default: return 0;
  }
}

bool GetAllEditBox(Component* base, Bytes* out) {
  auto* c = static_cast<EditComponent*>(base);
  c->p.content = WindowText(c->hwnd);
  *out = Serialise(c->p);
  return true;
}

// ---------------------------------------------------------------- Label

class LabelComponent : public Component {
 public:
  LabelProps p;
  HBRUSH back = nullptr;
  HFONT font = nullptr;

  ~LabelComponent() override {
    FreeBrush(back);
    FreeFont(font);
  }
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override {
    *handled = false;
    if (msg == WM_ERASEBKGND) {
      *handled = true;
      return 1;  // painted with the caption, without flicker
    }
    if (msg == WM_SETTEXT) {
      p.caption = lp ? reinterpret_cast<const char*>(lp) : "";
      InvalidateRect(hwnd, nullptr, TRUE);
    }
    if (msg == WM_PAINT) {
      Paint();
      *handled = true;
    }
    (void)wp;
    return 0;
  }
  void Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(dc, &r, back);
    HGDIOBJ old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    UINT format = DT_NOPREFIX | (p.h_align == 1 ? DT_CENTER : p.h_align == 2 ? DT_RIGHT : DT_LEFT);
    if (p.word_wrap)
      format |= DT_WORDBREAK | DT_TOP;
    else
      format |= DT_SINGLELINE | (p.v_align == 1 ? DT_VCENTER : p.v_align == 2 ? DT_BOTTOM : DT_TOP);
    const char* text = p.caption.c_str();
    int length = static_cast<int>(p.caption.size());
    if (p.effect == 1 || p.effect == 2) {
      // A white copy one or two pixels away gives the raised look.
      RECT shadow = r;
      OffsetRect(&shadow, static_cast<int>(p.effect), static_cast<int>(p.effect));
      SetTextColor(dc, RGB(255, 255, 255));
      DrawTextA(dc, text, length, &shadow, format);
    }
    SetTextColor(dc, ColourOf(p.text_colour));
    DrawTextA(dc, text, length, &r, format);
    SelectObject(dc, old_font);
    EndPaint(hwnd, &ps);
  }
};

Component* CreateLabel(const CreateArgs& a) {
  auto* c = NewParsed<LabelComponent>(a);
  if (!c) return nullptr;
  RegisterRuntimeClass("Rt_Label", CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS);
  c->back = MakeBrush(c->p.back_colour);
  c->font = MakeFont(c->p.font);
  DWORD style = WS_CLIPSIBLINGS, ex = 0;
  BorderStyles(c->p.border, &style, &ex);
  if (!CreateControl("Rt_Label", c->p.caption.c_str(), style, ex, a, c)) return nullptr;
  return c;
}

int WriteLabel(Component* base, int index, const PropIn& v) {
  auto* c = static_cast<LabelComponent*>(base);
  LabelProps& p = c->p;
  switch (index) {
    case 0: SetWindowTextA(c->hwnd, v.text); break;  // WM_SETTEXT keeps the caption
    case 1: p.effect = Clamp(v.lo, 2); break;
    case 2: p.border = Clamp(v.lo, 5); ApplyBorder(c->hwnd, p.border); break;
    case 3: p.word_a = v.lo; break;
    case 4: case 5: case 6: p.colours_a[index - 4] = v.lo; break;
    case 7: SetFontBytes(c->hwnd, &p.font, &c->font, v); break;
    case 8: p.text_colour = v.lo; break;
    case 9: SetBrush(&c->back, &p.back_colour, v.lo); break;
    case 10: p.picture.assign(v.data, v.data + v.size); break;
    case 11: p.word_b = v.lo; break;
    case 12: p.word_c = v.lo; break;
    case 13: case 14: case 15: p.colours_b[index - 13] = v.lo; break;
    case 16: p.h_align = Clamp(v.lo, 2); break;
    case 17: p.word_wrap = v.lo; break;
    case 18: p.v_align = Clamp(v.lo, 2); break;
    case 19: p.extra_a = v.text; break;
    case 20: p.extra_b = v.text; break;
    default: return 0;
  }
  InvalidateRect(c->hwnd, nullptr, TRUE);
  return 0;
}

int ReadLabel(Component* base, int index, PropOut* out) {
  const LabelProps& p = static_cast<LabelComponent*>(base)->p;
  switch (index) {
    case 0: out->text = p.caption; return 1;
    case 1: out->lo = p.effect; return 1;
    case 2: out->lo = p.border; return 1;
    case 3: out->lo = p.word_a; return 1;
    case 4: case 5: case 6: out->lo = p.colours_a[index - 4]; return 1;
    case 7: out->bytes = p.font; return 1;
    case 8: out->lo = p.text_colour; return 1;
    case 9: out->lo = p.back_colour; return 1;
    case 10: out->bytes = p.picture; return 1;
    case 11: out->lo = p.word_b; return 1;
    case 12: out->lo = p.word_c; return 1;
    case 13: case 14: case 15: out->lo = p.colours_b[index - 13]; return 1;
    case 16: out->lo = p.h_align; return 1;
    case 17: out->lo = p.word_wrap; return 1;
    case 18: out->lo = p.v_align; return 1;
    case 19: out->text = p.extra_a; return 1;
    case 20: out->text = p.extra_b; return 1;
    default: return 0;
  }
}

// ---------------------------------------------------------------- Button

class ButtonComponent : public Component {
 public:
  ButtonProps p;
  HFONT font = nullptr;
  ~ButtonComponent() override { FreeFont(font); }
  void Command(WORD code) override {
    if (code == BN_CLICKED) RaiseEvent(0);
  }
};

DWORD ButtonStyle(const ButtonProps& p) {
  DWORD style = p.default_button == 1 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
  style |= p.h_align == 0 ? BS_LEFT : p.h_align == 2 ? BS_RIGHT : BS_CENTER;
  style |= p.v_align == 0 ? BS_TOP : p.v_align == 2 ? BS_BOTTOM : BS_VCENTER;
  return style;
}

void ApplyButtonStyle(ButtonComponent* c) {
  LONG_PTR style = GetWindowLongPtrA(c->hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(0x0F | 0xF00);
  SetWindowLongPtrA(c->hwnd, GWL_STYLE, style | ButtonStyle(c->p));
  InvalidateRect(c->hwnd, nullptr, TRUE);
}

Component* CreateButton(const CreateArgs& a) {
  auto* c = NewParsed<ButtonComponent>(a);
  if (!c) return nullptr;
  c->font = MakeFont(c->p.font);
  HWND h = CreateControl("BUTTON", c->p.caption.c_str(), ButtonStyle(c->p) | WS_CLIPSIBLINGS, 0, a, c);
  if (!h) return nullptr;
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font), FALSE);
  return c;
}

int WriteButton(Component* base, int index, const PropIn& v) {
  auto* c = static_cast<ButtonComponent*>(base);
  switch (index) {
    case 0: c->p.picture.assign(v.data, v.data + v.size); return 1;  // a new face: rebuild
    case 1: c->p.default_button = Clamp(v.lo, 1); ApplyButtonStyle(c); return 0;
    case 2: c->p.caption = v.text; SetWindowTextA(c->hwnd, v.text); return 0;
    case 3: c->p.h_align = Clamp(v.lo, 2); ApplyButtonStyle(c); return 0;
    case 4: c->p.v_align = Clamp(v.lo, 2); ApplyButtonStyle(c); return 0;
    case 5: SetFontBytes(c->hwnd, &c->p.font, &c->font, v); return 0;
    default: return 0;
  }
}

int ReadButton(Component* base, int index, PropOut* out) {
  auto* c = static_cast<ButtonComponent*>(base);
  switch (index) {
    case 0: out->bytes = c->p.picture; return 1;
    case 1: out->lo = c->p.default_button; return 1;
    case 2: c->p.caption = WindowText(c->hwnd); out->text = c->p.caption; return 1;
    case 3: out->lo = c->p.h_align; return 1;
    case 4: out->lo = c->p.v_align; return 1;
    case 5: out->bytes = c->p.font; return 1;
    default: return 0;
  }
}

// ---------------------------------------------------------------- GroupBox

class GroupComponent : public Component {
 public:
  GroupBoxProps p;
  HBRUSH back = nullptr;
  HFONT font = nullptr;
  ~GroupComponent() override {
    FreeBrush(back);
    FreeFont(font);
  }
  HBRUSH CtlColor(HDC dc) override {
    SetTextColor(dc, ColourOf(p.text_colour));
    SetBkColor(dc, ColourOf(p.back_colour));
    return back;
  }
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM, bool* handled) override {
    *handled = false;
    if (msg != WM_ERASEBKGND) return 0;
    // The window clips its children, so nothing else paints the inside of
    // the frame: the box fills it with its own background.
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(reinterpret_cast<HDC>(wp), &r, back);
    *handled = true;
    return 1;
  }
};

DWORD TitleStyle(uint32_t align) { return align == 1 ? BS_CENTER : align == 2 ? BS_RIGHT : BS_LEFT; }

Component* CreateGroupBox(const CreateArgs& a) {
  auto* c = NewParsed<GroupComponent>(a);
  if (!c) return nullptr;
  c->back = MakeBrush(c->p.back_colour);
  c->font = MakeFont(c->p.font);
  HWND h = CreateControl("BUTTON", c->p.caption.c_str(),
                         BS_GROUPBOX | WS_CLIPSIBLINGS | TitleStyle(c->p.title_align), 0, a, c);
  if (!h) return nullptr;
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font), FALSE);
  return c;
}

int WriteGroupBox(Component* base, int index, const PropIn& v) {
  auto* c = static_cast<GroupComponent*>(base);
  switch (index) {
    case 0: c->p.caption = v.text; SetWindowTextA(c->hwnd, v.text); break;
    case 1: {
      c->p.title_align = Clamp(v.lo, 2);
      LONG_PTR style = GetWindowLongPtrA(c->hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_CENTER);
      SetWindowLongPtrA(c->hwnd, GWL_STYLE, style | TitleStyle(c->p.title_align));
      break;
    }
    case 2: c->p.text_colour = v.lo; break;
    case 3: SetBrush(&c->back, &c->p.back_colour, v.lo); break;
    case 4: SetFontBytes(c->hwnd, &c->p.font, &c->font, v); break;
    default: return 0;
  }
  InvalidateRect(c->hwnd, nullptr, TRUE);
  return 0;
}

int ReadGroupBox(Component* base, int index, PropOut* out) {
  auto* c = static_cast<GroupComponent*>(base);
  switch (index) {
    case 0: out->text = c->p.caption; return 1;
    case 1: out->lo = c->p.title_align; return 1;
    case 2: out->lo = c->p.text_colour; return 1;
    case 3: out->lo = c->p.back_colour; return 1;
    case 4: out->bytes = c->p.font; return 1;
    default: return 0;
  }
}

// ---------------------------------------------------------------- Timer

class TimerComponent : public Component {
 public:
  TimerProps p;
  bool running = false;

  void Start() {
    running = p.interval >= 1 && SetTimer(hwnd, kTimerId, static_cast<UINT>(p.interval), nullptr);
  }
  void Stop() {
    if (running) KillTimer(hwnd, kTimerId);
    running = false;
  }
  void Destroying() override { Stop(); }
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp, bool* handled) override {
    *handled = false;
    if (msg == WM_TIMER && wp == kTimerId) {
      // The platform keeps at most one timer message pending, so a slow
      // Tick routine never finds a queue of them behind it.
      DefWindowProcA(hwnd, msg, wp, lp);
      RaiseEvent(0);
      *handled = true;
    }
    return 0;
  }
};

Component* CreateTimer(const CreateArgs& a) {
  auto* c = NewParsed<TimerComponent>(a);
  if (!c) return nullptr;
  RegisterRuntimeClass("Rt_Timer", CS_DBLCLKS);
  if (c->p.interval < 0) c->p.interval = 0;
  if (!CreateControl("Rt_Timer", "", 0, 0, a, c)) return nullptr;
  c->Start();
  return c;
}

int WriteTimer(Component* base, int index, const PropIn& v) {
  auto* c = static_cast<TimerComponent*>(base);
  if (index != 0) return 0;
  int32_t interval = static_cast<int32_t>(v.lo);
  if (interval < 0) interval = 0;
  if (interval == c->p.interval) return 0;
  c->Stop();
  c->p.interval = interval;
  c->Start();
  return 0;
}

int ReadTimer(Component* base, int index, PropOut* out) {
  if (index != 0) return 0;
  out->lo = static_cast<uint32_t>(static_cast<TimerComponent*>(base)->p.interval);
  return 1;
}

}  // namespace

const Operation* EditBoxInterface(int op) {
  return Interface<CreateEditBox, WriteEditBox, GetAllEditBox, ReadEditBox>(op);
}
const Operation* LabelInterface(int op) {
  return Interface<CreateLabel, WriteLabel, GetAll<LabelComponent>, ReadLabel>(op);
}
const Operation* ButtonInterface(int op) {
  return Interface<CreateButton, WriteButton, GetAll<ButtonComponent>, ReadButton>(op);
}
const Operation* GroupBoxInterface(int op) {
  return Interface<CreateGroupBox, WriteGroupBox, GetAll<GroupComponent>, ReadGroupBox>(op);
}
const Operation* TimerInterface(int op) {
  return Interface<CreateTimer, WriteTimer, GetAll<TimerComponent>, ReadTimer>(op);
}

}  // namespace rt::ui
