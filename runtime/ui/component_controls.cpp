// The unit components: EditBox, Label, Button, GroupBox and Timer.
#include "runtime/ui/component.h"

#include <commctrl.h>

namespace rt::ui {
namespace {

constexpr UINT_PTR kTimerId = 1000;


// ---------------------------------------------------------------- EditBox

class EditComponent : public Component {
 public:
  EditBoxProps p;
  BrushOwner back;
  FontOwner font;
  HWND spin = nullptr;
  bool quiet = false;  // our own text writes raise the event themselves

  void Command(WORD code) override {
    if (code == EN_CHANGE && !quiet) RaiseEvent(0);
  }
  HBRUSH CtlColor(HDC dc) override {
    SetTextColor(dc, ColourOf(p.text_colour));
    SetBkColor(dc, ColourOf(p.back_colour));
    return back.get();
  }
  // Fields that only a new platform window can show answer 1: rebuild.
  int Apply(OnWrite what) override {
    switch (what) {
      case OnWrite::kContent:
        quiet = true;
        SetWindowTextA(hwnd, p.content.c_str());
        quiet = false;
        RaiseEvent(0);
        return 0;
      case OnWrite::kBorder: ApplyBorder(hwnd, p.border); return 0;
      case OnWrite::kRepaint: InvalidateRect(hwnd, nullptr, TRUE); return 0;
      case OnWrite::kBackground:
        back = MakeBrush(p.back_colour);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      case OnWrite::kFont: ReplaceFont(hwnd, &font, p.font); return 0;
      case OnWrite::kLimit: SendMessageA(hwnd, EM_LIMITTEXT, p.max_length, 0); return 0;
      case OnWrite::kInputMode:
        if (p.input_mode == 2) return 1;
        SendMessageA(hwnd, EM_SETREADONLY, p.input_mode == 1, 0);
        return 0;
      case OnWrite::kPasswordChar:
        if (p.input_mode == 2) SendMessageA(hwnd, EM_SETPASSWORDCHAR, p.password_char, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
      default: return Component::Apply(what);
    }
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
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font.get()), FALSE);
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
  BrushOwner back;
  FontOwner font;

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
  // A label paints everything itself: every write repaints it.
  int Apply(OnWrite what) override {
    switch (what) {
      case OnWrite::kCaption: SetWindowTextA(hwnd, p.caption.c_str()); break;  // WM_SETTEXT keeps it
      case OnWrite::kBorder: ApplyBorder(hwnd, p.border); break;
      case OnWrite::kFont: ReplaceFont(hwnd, &font, p.font); break;
      case OnWrite::kBackground: back = MakeBrush(p.back_colour); break;
      default: break;
    }
    InvalidateRect(hwnd, nullptr, TRUE);
    return 0;
  }
  void Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(dc, &r, back.get());
    HGDIOBJ old_font = SelectObject(dc, font.get());
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

// ---------------------------------------------------------------- Button

class ButtonComponent : public Component {
 public:
  ButtonProps p;
  FontOwner font;
  void Command(WORD code) override {
    if (code == BN_CLICKED) RaiseEvent(0);
  }
  int Apply(OnWrite what) override;
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

int ButtonComponent::Apply(OnWrite what) {
  switch (what) {
    case OnWrite::kStyle: ApplyButtonStyle(this); return 0;
    case OnWrite::kWindowText: SetWindowTextA(hwnd, p.caption.c_str()); return 0;
    case OnWrite::kFont: ReplaceFont(hwnd, &font, p.font); return 0;
    default: return Component::Apply(what);
  }
}

Component* CreateButton(const CreateArgs& a) {
  auto* c = NewParsed<ButtonComponent>(a);
  if (!c) return nullptr;
  c->font = MakeFont(c->p.font);
  HWND h = CreateControl("BUTTON", c->p.caption.c_str(), ButtonStyle(c->p) | WS_CLIPSIBLINGS, 0, a, c);
  if (!h) return nullptr;
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font.get()), FALSE);
  return c;
}

// ---------------------------------------------------------------- GroupBox

class GroupComponent : public Component {
 public:
  GroupBoxProps p;
  BrushOwner back;
  FontOwner font;
  HBRUSH CtlColor(HDC dc) override {
    SetTextColor(dc, ColourOf(p.text_colour));
    SetBkColor(dc, ColourOf(p.back_colour));
    return back.get();
  }
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM, bool* handled) override {
    *handled = false;
    if (msg != WM_ERASEBKGND) return 0;
    // The window clips its children, so nothing else paints the inside of
    // the frame: the box fills it with its own background.
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(reinterpret_cast<HDC>(wp), &r, back.get());
    *handled = true;
    return 1;
  }
  int Apply(OnWrite what) override;
};

DWORD TitleStyle(uint32_t align) { return align == 1 ? BS_CENTER : align == 2 ? BS_RIGHT : BS_LEFT; }

// Every write repaints the box.
int GroupComponent::Apply(OnWrite what) {
  switch (what) {
    case OnWrite::kCaption: SetWindowTextA(hwnd, p.caption.c_str()); break;
    case OnWrite::kStyle: {
      LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_CENTER);
      SetWindowLongPtrA(hwnd, GWL_STYLE, style | TitleStyle(p.title_align));
      break;
    }
    case OnWrite::kBackground: back = MakeBrush(p.back_colour); break;
    case OnWrite::kFont: ReplaceFont(hwnd, &font, p.font); break;
    default: break;
  }
  InvalidateRect(hwnd, nullptr, TRUE);
  return 0;
}

Component* CreateGroupBox(const CreateArgs& a) {
  auto* c = NewParsed<GroupComponent>(a);
  if (!c) return nullptr;
  c->back = MakeBrush(c->p.back_colour);
  c->font = MakeFont(c->p.font);
  HWND h = CreateControl("BUTTON", c->p.caption.c_str(),
                         BS_GROUPBOX | WS_CLIPSIBLINGS | TitleStyle(c->p.title_align), 0, a, c);
  if (!h) return nullptr;
  SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(c->font.get()), FALSE);
  return c;
}

// ---------------------------------------------------------------- Timer

class TimerComponent : public Component {
 public:
  TimerProps p;
  bool running = false;
  uint32_t period = 0;  // the interval the timer was last started with

  void Start() {
    period = p.interval;
    running = static_cast<int32_t>(p.interval) >= 1 &&
              SetTimer(hwnd, kTimerId, static_cast<UINT>(p.interval), nullptr);
  }
  void Stop() {
    if (running) KillTimer(hwnd, kTimerId);
    running = false;
  }
  void Destroying() override { Stop(); }
  // A negative interval is 0; an unchanged one leaves the timer alone.
  int Apply(OnWrite what) override {
    if (what != OnWrite::kInterval) return Component::Apply(what);
    if (static_cast<int32_t>(p.interval) < 0) p.interval = 0;
    if (p.interval == period) return 0;
    Stop();
    Start();
    return 0;
  }
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
  if (static_cast<int32_t>(c->p.interval) < 0) c->p.interval = 0;
  if (!CreateControl("Rt_Timer", "", 0, 0, a, c)) return nullptr;
  c->Start();
  return c;
}

}  // namespace

const Operation* EditBoxInterface(int op) {
  return Interface<CreateEditBox, WriteByTable<EditComponent>, GetAllEditBox,
                   ReadByTable<EditComponent>>(op);
}
const Operation* LabelInterface(int op) {
  return Interface<CreateLabel, WriteByTable<LabelComponent>, GetAll<LabelComponent>,
                   ReadByTable<LabelComponent>>(op);
}
const Operation* ButtonInterface(int op) {
  return Interface<CreateButton, WriteByTable<ButtonComponent>, GetAll<ButtonComponent>,
                   ReadByTable<ButtonComponent>>(op);
}
const Operation* GroupBoxInterface(int op) {
  return Interface<CreateGroupBox, WriteByTable<GroupComponent>, GetAll<GroupComponent>,
                   ReadByTable<GroupComponent>>(op);
}
const Operation* TimerInterface(int op) {
  return Interface<CreateTimer, WriteByTable<TimerComponent>, GetAll<TimerComponent>,
                   ReadByTable<TimerComponent>>(op);
}

}  // namespace rt::ui
