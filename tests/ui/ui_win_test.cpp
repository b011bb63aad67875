// Real windows under Wine from test_window.json. Destroying a shown window costs ~2 s, so the TestWindow tests
// share one (one that changes it calls Changes()); the Loop test ends the run, so runs alone (ui_loop_tests).
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/memory.h"
#include "program/program_calls.h"
#include "runtime/ui/component.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/ui_runtime.h"
#include "tests/core/fatal_trap.h"
#include "window_templates.h"

namespace {

namespace tw = rtwin::TestWindow;
namespace sw = rtwin::SecondWindow;

struct Calls {
  int button = 0, inner = 0, tick = 0, edit = 0, menu = 0, units_alive_at_created = 0;
  bool visible_at_created = true;
  uint32_t source_unit = 0;
  std::vector<std::string> order;
} g_calls, g_at_load;

void Source() { g_calls.source_unit = rt::ui::CurrentEventUnit(); }

}  // namespace

// The routines the template binds (reached through the stub table).
extern "C" void TestWindowCreated(void) {
  g_calls.order.push_back("created");
  Source();
  if (rt::ui::WindowTemplate* w = rt::ui::LoadedTemplates().Find(rtwin::kTestWindow)) {
    auto* c = static_cast<rt::ui::Component*>(w->units[0].object);
    g_calls.visible_at_created = c && IsWindowVisible(c->hwnd);
    for (const auto& u : w->units) g_calls.units_alive_at_created += u.object != nullptr;
  }
}
extern "C" void TestWindowEvent3(void) { g_calls.order.push_back("3"); }
extern "C" void TestWindowEvent4(void) { g_calls.order.push_back("4"); }
extern "C" void TestButtonClicked(void) { ++g_calls.button; Source(); }
extern "C" void TestInnerButtonClicked(void) { ++g_calls.inner; Source(); }
extern "C" void TestTimerTick(void) { ++g_calls.tick; }
extern "C" void TestEditChanged(void) { ++g_calls.edit; }
extern "C" void TestMenuChosen(void) { ++g_calls.menu; }

namespace {

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};
rt::ProgramImage g_image;

uint32_t Addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Image loaded once; a fresh copy of the templates and counters each call.
void FreshTemplates() {
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    rt::InstallWindowingRuntime();
    g_image = rt::ProgramImage{3, 0, 0x180E6, static_cast<uint32_t>(RtWindowRoutineBase()), 0, 0,
                               Addr(RtWindowTemplateData()), RtWindowTemplateSize(), 1, Addr(kLibraries), 0, 0, 0};
    rt::LoadProgramImage(&g_image);
  }
  rt::ui::LoadedTemplates().Load(RtWindowTemplateData(), RtWindowTemplateSize(), RtWindowRoutineBase());
  g_calls = Calls{};
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  MSG m;
  do {
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
      if (m.message != WM_QUIT) DispatchMessageA(&m);
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

std::string Text(HWND h, bool class_name = false) {
  char buf[512] = {};
  class_name ? GetClassNameA(h, buf, sizeof buf) : GetWindowTextA(h, buf, sizeof buf);
  return buf;
}

rt::ui::WindowTemplate* Tpl(uint32_t id = rtwin::kTestWindow) { return rt::ui::LoadedTemplates().Find(id); }
HWND Hwnd(uint32_t unit, uint32_t window = rtwin::kTestWindow) {
  rt::ui::WindowTemplate* w = Tpl(window);
  rt::ui::UnitRecord* u = w ? (unit == 0 ? &w->units[0] : w->FindUnit(unit)) : nullptr;
  auto* c = u ? static_cast<rt::ui::Component*>(u->object) : nullptr;
  return c ? c->hwnd : nullptr;
}
HWND Load(uint32_t id = rtwin::kTestWindow) {
  EXPECT_NE(rt::ui::LoadWindow(Tpl(id), false, 1, nullptr), nullptr);
  return Hwnd(0, id);
}

uint64_t Read(uint32_t unit, int32_t number, int32_t element = -1, uint32_t window = rtwin::kTestWindow) {
  return prog::ReadProperty(window, unit, number, element);
}
void Write(uint32_t unit, int32_t number, uint64_t value, int32_t element = -1,
           uint32_t window = rtwin::kTestWindow) {
  prog::WriteProperty(window, unit, number, element, value);
}
uint64_t P(const void* p) { return reinterpret_cast<uintptr_t>(p); }
using Bytes = std::vector<uint8_t>;
int32_t RaiseEvent(uint32_t window, uint32_t unit, uint32_t event) {
  rt::ui::EventRecord record{};
  record.window_id = window, record.unit_id = unit, record.event = event;
  return rt::ui::NotificationEntry(rt::ui::kNotifyEvent, reinterpret_cast<intptr_t>(&record), 0);
}

class TestWindow : public testing::Test {
 protected:
  static void TearDownTestSuite() { Unload(); }
  void SetUp() override {
    if (changed_ || !Hwnd(0)) {
      Unload();
      FreshTemplates();
      Load();
      g_at_load = g_calls;
    }
    changed_ = false;
    ASSERT_NE(Hwnd(0), nullptr);
    g_calls = Calls{};
  }
  static void Changes() { changed_ = true; }

 private:
  static void Unload() {
    if (HWND h = Hwnd(0)) DestroyWindow(h);
    PumpFor(10);
  }
  static inline bool changed_ = false;
};

// Sizes, places, parents, class names, captions, ids and the three styles checked: app_e2e_tests.
TEST_F(TestWindow, LoadsOnceAndFollowsTheStoredLooks) {
  EXPECT_EQ(g_at_load.order, (std::vector<std::string>{"created", "3", "4"}));  // run before the window is shown
  EXPECT_FALSE(g_at_load.visible_at_created);
  EXPECT_EQ(g_at_load.units_alive_at_created, 9);
  EXPECT_EQ(g_at_load.source_unit, tw::kWindowUnit);
  EXPECT_EQ(rt::ui::LoadWindow(Tpl(), false, 1, nullptr), Tpl()->units[0].object);  // loaded again: brought forward
  EXPECT_TRUE(g_calls.order.empty());
  HWND h = Hwnd(0);
  EXPECT_EQ(Text(h, true), "RtWindow");
  const LONG on = WS_CAPTION | WS_CLIPCHILDREN | WS_VISIBLE;
  EXPECT_EQ(GetWindowLongA(h, GWL_STYLE) & (on | WS_CHILD), on);
  EXPECT_NE(SendMessageA(h, WM_GETICON, ICON_BIG, 0), 0);
  {  // Framed, but no caption text and no control box: no caption bar.
    rt::ui::WindowProps bare;
    bare.control_box = 0;
    const Bytes data = rt::ui::Serialise(bare);
    rt::ui::CreateArgs a;
    a.data = data.data(), a.size = static_cast<uint32_t>(data.size()), a.width = 90, a.height = 40;
    rt::ui::Component* c = rt::ui::WindowInterface(rt::ui::kOpCreate)->create(a);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(GetWindowLongA(c->hwnd, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
    DestroyWindow(c->hwnd);
  }
  EXPECT_EQ(Text(Hwnd(tw::kEdit1)), GBK_TEST_INITIAL);
  // The styles the stored properties (borders, password, alignment) give.
  struct Case { uint32_t unit; LONG style_on, style_off, ex_on; };
  const Case cases[] = {
      {tw::kEdit1, ES_AUTOHSCROLL, WS_DISABLED | ES_PASSWORD, WS_EX_CLIENTEDGE},
      {tw::kEdit2, ES_PASSWORD | WS_DISABLED | ES_RIGHT | WS_BORDER, ES_READONLY, 0},
      {tw::kButton1, BS_DEFPUSHBUTTON, 0, 0},
      {tw::kGroup1, BS_GROUPBOX | BS_CENTER, 0, 0},
      {tw::kLabel3, 0, 0, WS_EX_STATICEDGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.unit);
    HWND u = Hwnd(c.unit);
    ASSERT_NE(u, nullptr);
    LONG s = GetWindowLongA(u, GWL_STYLE);
    EXPECT_EQ(s & c.style_on, c.style_on);
    EXPECT_EQ(s & c.style_off, 0);
    EXPECT_EQ(GetWindowLongA(u, GWL_EXSTYLE) & c.ex_on, c.ex_on);
  }
  // A stored 60-byte font is used; elsewhere the default GUI font.
  const auto gui = reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(SendMessageA(Hwnd(tw::kEdit1), WM_GETFONT, 0, 0), gui);
  EXPECT_NE(SendMessageA(Hwnd(tw::kEdit2), WM_GETFONT, 0, 0), gui);
  // Stacking, so tab order, follows creation order.
  EXPECT_EQ(GetNextDlgTabItem(h, Hwnd(tw::kEdit1), FALSE), Hwnd(tw::kButton1));
}

TEST_F(TestWindow, ClicksTicksAndDispatchReachTheBoundRoutines) {
  SendMessageA(Hwnd(tw::kButton1), BM_CLICK, 0, 0);
  EXPECT_EQ(g_calls.button, 1);
  EXPECT_EQ(g_calls.source_unit, tw::kButton1);
  SendMessageA(Hwnd(tw::kButton2), BM_CLICK, 0, 0);  // inside the group box: notifies the box, reflected
  EXPECT_EQ(g_calls.inner, 1);
  EXPECT_EQ(g_calls.source_unit, tw::kButton2);
  PumpFor(600);  // a 50 ms timer
  EXPECT_GE(g_calls.tick, 3);
  EXPECT_LE(g_calls.tick, 13);
  const int ticks = g_calls.tick;  // while the failure counter is raised no event reaches the program
  rt::RaiseFailureCount();
  PumpFor(300);
  SendMessageA(Hwnd(tw::kButton1), BM_CLICK, 0, 0);
  rt::LowerFailureCount();
  EXPECT_EQ(g_calls.tick, ticks);
  EXPECT_EQ(g_calls.button, 1);
  EXPECT_EQ(RaiseEvent(rtwin::kTestWindow, tw::kButton1, 0), 1);  // through the entry: 1 when a bound routine ran
  EXPECT_EQ(RaiseEvent(rtwin::kTestWindow, tw::kButton1, 9), 0);
  EXPECT_EQ(g_calls.button, 2);
}

TEST_F(TestWindow, PropertiesAreClampedConvertedStoredAndApplied) {
  Changes();
  Write(tw::kEdit1, 8, P("2019" GBK_YEAR));  // raises event 0 once (the text shown: app_e2e_tests)
  EXPECT_EQ(g_calls.edit, 1);
  SendMessageA(Hwnd(tw::kEdit1), EM_SETREADONLY, FALSE, 0);
  SendMessageA(Hwnd(tw::kEdit1), WM_CHAR, 'x', 0);  // typing raises it too
  EXPECT_EQ(g_calls.edit, 2);
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  // Fonts read as seven-member records; the stored one: -16 px, weight 700, 宋体.
  auto* record = reinterpret_cast<uint32_t*>(Read(tw::kEdit2, 12));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(std::vector<uint32_t>(record, record + 3), (std::vector<uint32_t>{0, 1, 0}));
  EXPECT_EQ(record[5], static_cast<uint32_t>(MulDiv(16, 72, dpi)));
  prog::OwnedText face(reinterpret_cast<char*>(record[6]));
  EXPECT_STREQ(prog::Str(face), GBK_FONT_SONG);
  prog::Free(record);
  // Places and sizes (0 to 3) are clamped and kept in the template too.
  struct Case { uint32_t unit; int32_t number, element; uint32_t written; int32_t read; };
  const Case cases[] = {
      {tw::kLabel1, 0, -1, 40000, 32627}, {tw::kLabel1, 0, -1, -40000u, -32627},
      {tw::kLabel1, 2, -1, -5u, 0}, {tw::kEdit1, 3, -1, 99999, 32627},
      {tw::kLabel3, 2, -1, 200, 200},  // inside the group
      {tw::kEdit1, 9, -1, 9, 5}, {tw::kEdit1, 9, -1, -3u, 0}, {tw::kTimer1, 8, -1, -1u, 0},
      {tw::kTimer1, 9, -1, 5, 0},
      // Font members: italic a Bool, the angle modulo 3600.
      {tw::kEdit2, 12, 2, 5, 1}, {tw::kEdit2, 12, 0, 3700, 100}, {tw::kEdit2, 12, 0, -100u, 3500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.unit << std::dec << " " << c.number << "/" << c.element
                                    << " <- " << static_cast<int32_t>(c.written));
    Write(c.unit, c.number, c.written, c.element);
    if (c.number < 4) {
      const rt::ui::UnitRecord* u = Tpl()->FindUnit(c.unit);
      EXPECT_EQ((std::array<int32_t, 4>{u->left, u->top, u->width, u->height})[c.number], c.read);
    }
    if (c.read > -30000 && c.read < 30000) {
      EXPECT_EQ(static_cast<int32_t>(Read(c.unit, c.number, c.element)), c.read);
    }
  }
  Write(tw::kEdit2, 12, 11, 5);  // a size write truncates: lfHeight = -(11 * dpi / 72)
  LOGFONTA sized{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Hwnd(tw::kEdit2), WM_GETFONT, 0, 0)), sizeof sized, &sized);
  EXPECT_EQ(sized.lfHeight, -(11 * dpi / 72));
  Write(tw::kButton1, 6, 1);  // disabled: applies at once and is kept in the flags
  EXPECT_FALSE(IsWindowEnabled(Hwnd(tw::kButton1)));
  EXPECT_TRUE(Tpl()->FindUnit(tw::kButton1)->flags & rt::ui::kFlagDisabled);
  // Mouse pointer: cursor numbers are stored as system ids, read as numbers.
  prog::OwnedBytes hand(reinterpret_cast<rt::ByteSetBlock*>(static_cast<uintptr_t>(Read(tw::kLabel3, 7))));
  EXPECT_EQ(Bytes(hand.get()->data, hand.get()->data + rt::ByteSetLength(hand.get())), (Bytes{14, 0, 0, 0}));
  const uint8_t cross[] = {2, 0, 0, 0};
  prog::OwnedBytes set(rt::NewByteSet(cross, 4));
  Write(tw::kLabel1, 7, P(set.get()));
  EXPECT_EQ(Tpl()->FindUnit(tw::kLabel1)->mouse_pointer, (Bytes{0x03, 0x7F, 0, 0}));
  HWND old = Hwnd(tw::kButton1);  // a picture rebuilds the button quietly: same id, text and binding
  const uint8_t picture[] = {1, 2, 3, 4, 5, 6, 7, 8};
  prog::OwnedBytes image(rt::NewByteSet(picture, 8));
  Write(tw::kButton1, 8, P(image.get()));
  HWND fresh = Hwnd(tw::kButton1);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(IsWindow(old));
  EXPECT_EQ(GetDlgCtrlID(fresh), 130);
  EXPECT_EQ(Text(fresh), GBK_CALIBRATE);
  EXPECT_EQ(rt::FailureCount(), 0);
  Write(tw::kButton1, 6, 0);
  SendMessageA(fresh, BM_CLICK, 0, 0);
  EXPECT_EQ(g_calls.button, 1);
}

TEST_F(TestWindow, UnknownSourcesAndTargetsAreFatalWithTheirMessages) {
  constexpr uint32_t label = sw::kUnit_16010002, second = rtwin::kSecondWindow;
  const std::pair<void (*)(), const char*> cases[] = {
      {[] { RaiseEvent(0x52019999, 0, 0); }, GBK_MSG_NO_EVENT_WINDOW},
      {[] { RaiseEvent(rtwin::kTestWindow, 0x16019999, 0); }, GBK_MSG_NO_EVENT_UNIT},
      {[] { Write(0, 0, 1, -1, 0x52019999); }, GBK_MSG_WINDOW_NOT_LOADED},
      {[] { Read(label, 8, -1, second); }, GBK_MSG_NOT_LOADED},  // own property, window not created
      {[] { Read(0x16019999, 0); }, GBK_MSG_NOT_LOADED},  // no such unit
      {[] { prog::LoadStartupWindow(0x52019999); }, GBK_MSG_NO_START_WINDOW},
  };
  for (const auto& [call, message] : cases) {
    SCOPED_TRACE(message);
    std::string text;
    EXPECT_EQ(FatalCode(call, &text), 0);
    EXPECT_EQ(text, rt::FormatFatalText(message, 0));
  }
  EXPECT_EQ(Read(label, 0, -1, second), 4u);  // a window not created: common properties from the template
  Write(label, 0, 9, -1, second);
  EXPECT_EQ(Tpl(second)->FindUnit(label)->left, 9);
}

int32_t __cdecl Sum3(int32_t a, int32_t b, int32_t c) { return a * 100 + b * 10 + c; }
int64_t __cdecl Wide(int32_t a, int64_t b) { return b - a; }

TEST(Entry, HandlersGetTheirArgumentsInOrder) {
  const uint32_t words[] = {1, 2, 3};
  EXPECT_EQ(static_cast<uint32_t>(rt_call_with_words(reinterpret_cast<uintptr_t>(&Sum3), words, 3)), 123u);
  const uint32_t wide[] = {5, 10, 1};  // 5, then the 64-bit value 0x1_0000000A
  EXPECT_EQ(static_cast<int64_t>(rt_call_with_words(reinterpret_cast<uintptr_t>(&Wide), wide, 3)),
            0x10000000All - 5);
}

int g_timer_rounds = 0;
size_t g_idle_wanted = 0, g_idle_at_close = 0;
void Idle(void*) {}
void CloseWhenIdle(void* hwnd) { PostMessageA(static_cast<HWND>(hwnd), WM_CLOSE, 0, 0); }
// Closes the test window once the gone window's callback is dropped (or ~6 s).
VOID CALLBACK CloseTestWindow(HWND, UINT, UINT_PTR id, DWORD) {
  if (rt::ui::IdleCallbackCount() > g_idle_wanted && ++g_timer_rounds < 20) return;
  KillTimer(nullptr, id);
  g_idle_at_close = rt::ui::IdleCallbackCount();
  if (HWND w = Hwnd(0)) PostMessageA(w, WM_CLOSE, 0, 0);
}

DWORD WINAPI EndFromOtherThread(void*) { rt::EndProgram(5); }

TEST(Loop, MenusIdleCallbacksAndTheLastWindowEndingIt) {
  FreshTemplates();  // only an entered loop may end on the last window
  ASSERT_FALSE(rt::ui::LoopEntered());
  DestroyWindow(Load());
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(Tpl()->units[0].object, nullptr);

  FreshTemplates();
  HWND h = Load();
  HWND other = Load(rtwin::kSecondWindow);
  ASSERT_NE(other, nullptr);
  // Not shown in the task bar: owned by the hidden owner window.
  EXPECT_EQ(GetWindow(other, GW_OWNER), static_cast<HWND>(rt::State().hidden_owner));
  HMENU menu = GetMenu(other);  // menu items build the menu and raise their routine
  ASSERT_NE(menu, nullptr);
  char caption[32] = {};
  GetMenuStringA(menu, 0, caption, sizeof caption, MF_BYPOSITION);
  EXPECT_STREQ(caption, GBK_TEST_FILE);
  EXPECT_TRUE(GetMenuState(menu, 0, MF_BYPOSITION) & MF_CHECKED);
  SendMessageA(other, WM_COMMAND, GetMenuItemID(menu, 0), 0);
  EXPECT_EQ(g_calls.menu, 1);
  Write(sw::kUnit_26010010, 0, P(GBK_TEST_EDIT), -1, rtwin::kSecondWindow);
  GetMenuStringA(GetMenu(other), 0, caption, sizeof caption, MF_BYPOSITION);
  EXPECT_STREQ(caption, GBK_TEST_EDIT);

  const size_t before = rt::ui::IdleCallbackCount();
  rt::ui::RegisterIdleCallback(h, Idle, nullptr);
  rt::ui::RegisterIdleCallback(h, Idle, nullptr);  // same window again
  EXPECT_EQ(rt::ui::IdleCallbackCount(), before + 1);
  rt::ui::RegisterIdleCallback(other, CloseWhenIdle, other);
  // The second window closes on its idle call; the loop goes on until the first closes too.
  g_idle_wanted = before + 1;
  SetTimer(nullptr, 0, 300, CloseTestWindow);
  rt::ui::RunMessageLoop();
  EXPECT_TRUE(rt::ui::LoopEntered());
  EXPECT_EQ(rt::ui::QuitCode(), 0);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(g_idle_at_close, before + 1);
  EXPECT_GE(g_calls.tick, 1);
  // Last: once the main thread has begun the end, EndProgram on another thread ends only it; the process lives on.
  rt::ui::ProgramEnd(0);
  HANDLE t = CreateThread(nullptr, 0, EndFromOtherThread, nullptr, 0, nullptr);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(t, &code) && code == 5);
  CloseHandle(t);
}

}  // namespace
