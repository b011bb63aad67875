// The template reader: the block rtwin.py writes from test_window.json reads
// back field for field, and every inconsistency in a hand-built block is
// refused without reading outside it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/ui/props.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/wire.h"
#include "window_templates.h"

namespace {

namespace tw = rtwin::TestWindow;
using rt::ui::TemplateSet;
using rt::ui::UnitRecord;
using Bytes = std::vector<uint8_t>;

constexpr uintptr_t kBase = 0x00400000;

Bytes GeneratedBlock() { return Bytes(RtWindowTemplateData(), RtWindowTemplateData() + RtWindowTemplateSize()); }

const rt::ui::WindowTemplate& Generated(uint32_t id = rtwin::kTestWindow) {
  static TemplateSet set;
  static const bool loaded = [] {
    Bytes b = GeneratedBlock();
    return set.Load(b.data(), b.size(), kBase);
  }();
  EXPECT_TRUE(loaded);
  EXPECT_EQ(set.size(), 2u);
  EXPECT_EQ(set.Find(0x52019999), nullptr);
  return *set.Find(id);
}

TEST(GeneratedTemplate, WindowsAndUnitsReadBackInStoredOrder) {
  const auto& w = Generated();
  EXPECT_EQ(w.first_word, 0x02A82C38u);
  EXPECT_EQ(w.second_word, 0x19010007u);
  EXPECT_EQ(w.first_text, "first");
  EXPECT_EQ(w.second_text, "");
  // The window's own unit, then creation order reversed.
  const uint32_t stored[] = {tw::kWindowUnit, tw::kButton2, tw::kLabel3, tw::kGroup1, tw::kTimer1,
                             tw::kButton1,    tw::kEdit2,   tw::kEdit1,  tw::kLabel1};
  ASSERT_EQ(w.units.size(), std::size(stored));
  for (size_t i = 0; i < std::size(stored); ++i) EXPECT_EQ(w.IndexOf(stored[i]), static_cast<int>(i)) << i;
  EXPECT_EQ(w.Unit(std::size(stored)), nullptr);
  EXPECT_EQ(w.IndexOf(0x16019999), -1);
  // Type, name, left, top, width, height, parent, flags.
  auto row = [&](uint32_t id) {
    const UnitRecord* u = w.FindUnit(id);
    return testing::PrintToString(std::make_tuple(u->type_id, u->name, u->left, u->top, u->width, u->height,
                                                  u->parent_id, u->flags, u->menu_item));
  };
  auto expect = [](uint32_t type, const char* name, int32_t l, int32_t t, int32_t wd, int32_t h, uint32_t parent,
                   uint32_t flags) {
    return testing::PrintToString(std::make_tuple(type, std::string(name), l, t, wd, h, parent, flags, false));
  };
  EXPECT_EQ(row(tw::kWindowUnit), expect(rt::ui::kTypeWindow, "", 50, 50, 372, 180, 0, 1));
  EXPECT_EQ(row(tw::kEdit1), expect(rt::ui::kTypeEditBox, "编辑框1", 68, 11, 204, 20, 0, 5));
  EXPECT_EQ(row(tw::kEdit2), expect(rt::ui::kTypeEditBox, "编辑框2", 68, 39, 204, 20, 0, 7));
  EXPECT_EQ(row(tw::kTimer1), expect(rt::ui::kTypeTimer, "时钟1", 288, 0, 26, 26, 0, 0));
  EXPECT_EQ(row(tw::kLabel3), expect(rt::ui::kTypeLabel, "标签3", 5, 20, 313, 24, tw::kGroup1, 1));
  EXPECT_EQ(w.FindUnit(tw::kGroup1)->children, (std::vector<uint32_t>{tw::kLabel3, tw::kButton2}));
  EXPECT_EQ(w.units[0].children.size(), 6u);  // the window holds its top-level units
  EXPECT_EQ(w.FindUnit(tw::kLabel1)->tag, "标记");
  // Cursor number 14 is stored as the system id of the hand cursor.
  EXPECT_EQ(w.FindUnit(tw::kLabel3)->mouse_pointer, (Bytes{0x89, 0x7F, 0, 0}));
  EXPECT_EQ(w.FindUnit(tw::kLabel1)->mouse_pointer, Bytes(4, 0));
}

TEST(GeneratedTemplate, HandlersAreRelocatedAgainstTheRoutineBase) {
  const auto& w = Generated();
  // Offset 0 is a real routine: the base itself.
  EXPECT_EQ(rtwin::kRoutineOffset_TestWindowCreated, 0u);
  const std::pair<uint32_t, uintptr_t> events[] = {
      {0, kBase}, {3, kBase + rtwin::kRoutineOffset_TestWindowEvent3},
      {4, kBase + rtwin::kRoutineOffset_TestWindowEvent4}, {1, 0}};
  for (auto [event, handler] : events) EXPECT_EQ(w.units[0].Handler(event), handler) << event;
  EXPECT_EQ(w.FindUnit(tw::kButton1)->Handler(0), kBase + rtwin::kRoutineOffset_TestButtonClicked);
  EXPECT_EQ(w.FindUnit(tw::kLabel1)->Handler(0), 0u);
  const UnitRecord* menu = Generated(rtwin::kSecondWindow).FindUnit(rtwin::SecondWindow::kUnit_26010010);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->menu_item);
  EXPECT_EQ(menu->type_id, rt::ui::kTypeMenuItem);
  EXPECT_EQ(menu->menu_text, "文件");
  EXPECT_EQ(menu->menu_flags(), 4u);
  EXPECT_EQ(menu->Handler(0), kBase + rtwin::kRoutineOffset_TestMenuChosen);
  EXPECT_EQ(menu->Handler(7), kBase + rtwin::kRoutineOffset_TestMenuChosen);  // any event
}

TEST(GeneratedTemplate, PropertyDataMatchesTheComponentLayouts) {
  const auto& w = Generated();
  rt::ui::WindowProps wp;
  ASSERT_TRUE(rt::ui::Parse(w.units[0].property_data, &wp));
  EXPECT_EQ(wp.version, 6u);
  EXPECT_EQ(wp.start_position, 1u);
  EXPECT_EQ(wp.caption, "测试窗口  http://www.example.com");
  EXPECT_EQ(wp.icon.size(), 5430u);  // tests/ui/test.ico
  rt::ui::EditBoxProps ep;
  ASSERT_TRUE(rt::ui::Parse(w.FindUnit(tw::kEdit1)->property_data, &ep));
  EXPECT_EQ(ep.content, "初始");
  EXPECT_EQ(ep.password_char, 42);  // default
  ASSERT_TRUE(rt::ui::Parse(w.FindUnit(tw::kEdit2)->property_data, &ep));
  EXPECT_EQ(ep.font.size(), 60u);
  rt::ui::LabelProps lp;
  ASSERT_TRUE(rt::ui::Parse(w.FindUnit(tw::kLabel3)->property_data, &lp));
  EXPECT_EQ(lp.text_colour, 0x0000FFu);
  EXPECT_EQ(lp.back_colour, rt::ui::kButtonFaceColour);  // default
}

TEST(GeneratedTemplate, EveryShortenedOrLengthenedBlockIsRefused) {
  Bytes block = GeneratedBlock();
  TemplateSet set;
  for (size_t n = 0; n < block.size(); ++n) {
    Bytes cut(block.begin(), block.begin() + static_cast<long>(n));  // exact size for ASan
    ASSERT_FALSE(set.Load(cut.data(), cut.size(), kBase)) << n;
    ASSERT_EQ(set.size(), 0u);
  }
  block.push_back(0);
  std::string error;
  EXPECT_FALSE(set.Load(block.data(), block.size(), kBase, &error));
  EXPECT_EQ(error, "bytes left after the last window");
}

TEST(LoadedSet, TheSeamFillsTheProcessWideSet) {
  Bytes block = GeneratedBlock();
  ASSERT_TRUE(rt::ui::LoadTemplateBlock(block.data(), static_cast<uint32_t>(block.size()), kBase));
  EXPECT_NE(rt::ui::LoadedTemplates().Find(rtwin::kTestWindow), nullptr);
  uint8_t broken[3] = {};
  EXPECT_FALSE(rt::ui::LoadTemplateBlock(broken, 3, kBase));
  EXPECT_EQ(rt::ui::LoadedTemplates().size(), 0u);
}

// ---- hand-built blocks -----------------------------------------------------

struct UnitSpec {
  uint32_t id = 0x16010002, type = rt::ui::kTypeLabel, parent = 0;
  std::string name = "u";
  bool terminated = true, menu = false;
  std::vector<uint32_t> children;
  std::vector<std::pair<uint32_t, uint32_t>> events;  // index, routine offset
  uint32_t extra_children = 0, extra_events = 0;      // added to the stored counts
  size_t reserved = 20;                               // zero bytes after the events
  Bytes props = {1, 0, 0, 0};
};
struct WindowSpec {
  uint32_t id = 0x52010001;
  std::vector<UnitSpec> units;
  int32_t count_delta = 0, length_delta = 0;
  int64_t offset_delta[4] = {};
  uint32_t size_delta[4] = {};
  size_t gap = 0;  // zero bytes after the first record
};
struct BlockSpec {
  std::vector<WindowSpec> windows;
  uint32_t list_delta = 0, slot = 0;
  size_t trailing = 0;
};

void Zeros(rt::ui::WireWriter& w, size_t n) { w.Bytes(Bytes(n).data(), n); }

Bytes Record(const UnitSpec& u) {
  rt::ui::WireWriter w;
  w.U32(u.type);
  Zeros(w, 20);
  w.Bytes(u.name.data(), u.name.size());
  if (!u.terminated) return w.data();
  Zeros(w, 2);  // the name's terminator, then an empty second text
  if (u.menu) {  // menu records end after the handler and the properties
    Zeros(w, 12);
    w.Bytes("m", 2);
    w.U32(u.events.empty() ? 0xFFFFFFFFu : u.events[0].second);
  } else {
    for (uint32_t v : {0u, 1u, 2u, 3u, 4u, 0u, u.parent, static_cast<uint32_t>(u.children.size()) + u.extra_children})
      w.U32(v);
    for (uint32_t c : u.children) w.U32(c);
    w.CountedBytes({0, 0, 0, 0});
    Zeros(w, 1);
    for (uint32_t v : {0u, 1u, 0u, static_cast<uint32_t>(u.events.size()) + u.extra_events}) w.U32(v);
    for (auto [index, offset] : u.events) {
      w.U32(index);
      w.U32(offset);
    }
    Zeros(w, u.reserved);
  }
  w.Bytes(u.props.data(), u.props.size());
  return w.data();
}

Bytes Build(const BlockSpec& b) {
  rt::ui::WireWriter w;
  w.U32(static_cast<uint32_t>(8 * b.windows.size()) + b.list_delta);
  for (const WindowSpec& win : b.windows) w.U32(win.id);
  for (size_t i = 0; i < b.windows.size(); ++i) w.U32(b.slot);
  for (const WindowSpec& win : b.windows) {
    rt::ui::WireWriter area;  // ids, offsets, then each record after its length
    std::vector<Bytes> records;
    for (const UnitSpec& u : win.units) {
      area.U32(u.id);
      records.push_back(Record(u));
    }
    uint32_t at = 0;
    for (size_t i = 0; i < records.size(); ++i) {
      area.U32(static_cast<uint32_t>(at + win.offset_delta[i]));
      at += 4 + static_cast<uint32_t>(records[i].size() + (i == 0 ? win.gap : 0));
    }
    for (size_t i = 0; i < records.size(); ++i) {
      area.U32(static_cast<uint32_t>(records[i].size()) + win.size_delta[i]);
      area.Bytes(records[i].data(), records[i].size());
      if (i == 0) Zeros(area, win.gap);
    }
    for (int i = 0; i < 4; ++i) w.U32(0);  // two words, two empty counted texts
    w.U32(static_cast<uint32_t>(win.units.size() + win.count_delta));
    w.U32(static_cast<uint32_t>(area.data().size() + win.length_delta));
    w.Bytes(area.data().data(), area.data().size());
  }
  w.Bytes(std::string(b.trailing, '\x01').data(), b.trailing);
  return w.data();
}

// The window's own unit, a label with a bound event, and the group box
// holding it (records stored in another order than creation).
BlockSpec GoodBlock() {
  UnitSpec own, label, group;
  own.id = 0x06010000;
  own.type = rt::ui::kTypeWindow;
  own.name = "";
  own.events = {{0, 0}, {3, 0xFFFFFFFF}};
  label.parent = 0x16010003;
  label.events = {{0, 16}};
  label.props.clear();
  group.id = 0x16010003;
  group.type = rt::ui::kTypeGroupBox;
  group.children = {0x16010002};
  BlockSpec b;
  b.windows = {WindowSpec{}};
  b.windows[0].units = {own, label, group};
  return b;
}
UnitSpec MenuItem(Bytes props) {
  UnitSpec m;
  m.id = 0x26010009;
  m.type = rt::ui::kTypeMenuItem;
  m.menu = true;
  m.props = std::move(props);
  m.events = {{0, 24}};
  return m;
}

struct Change {
  const char* what;
  std::function<void(BlockSpec&)> change;
};
Bytes Changed(const Change& c) {
  BlockSpec b = GoodBlock();
  c.change(b);
  return Build(b);
}

TEST(HandBuiltBlock, TheGoodBlockLoadsWithItsEdgeCases) {
  const Change cases[] = {
      {"slot words are ignored", [](BlockSpec& b) { b.slot = 0xDEADBEEF; }},
      {"no windows at all", [](BlockSpec& b) { b.windows.clear(); }},
      {"a unit without events", [](BlockSpec& b) { b.windows[0].units[1].events.clear(); }},
      {"a menu item", [](BlockSpec& b) { b.windows[0].units.push_back(MenuItem({})); }},
  };
  for (const Change& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes block = Changed(c);
    TemplateSet set;
    std::string error;
    EXPECT_TRUE(set.Load(block.data(), block.size(), kBase, &error)) << error;
  }
  Bytes block = Build(GoodBlock());
  TemplateSet set;
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase));
  const auto& units = set.at(0).units;
  EXPECT_EQ(units[0].Handler(0), kBase);
  EXPECT_EQ(units[0].Handler(3), 0u);
  EXPECT_EQ(units[1].Handler(0), kBase + 16);
  EXPECT_EQ(units[1].name, "u");
  EXPECT_EQ(units[2].children, (std::vector<uint32_t>{0x16010002}));
  // Property data starts 20 bytes after the last event entry; none here.
  EXPECT_TRUE(units[1].property_data.empty());
  EXPECT_EQ(units[2].property_data, (Bytes{1, 0, 0, 0}));
}

TEST(HandBuiltBlock, InconsistenciesAreRefused) {
  const Change cases[] = {
      {"list length not a multiple of 8", [](BlockSpec& b) { b.list_delta = 4; }},
      {"list length past the block", [](BlockSpec& b) { b.list_delta = 0x10000; }},
      {"window id without serial", [](BlockSpec& b) { b.windows[0].id = 0x52000000; }},
      {"window id without kind", [](BlockSpec& b) { b.windows[0].id = 0x50010001; }},
      {"duplicate window ids", [](BlockSpec& b) { b.windows.push_back(b.windows[0]); }},
      {"unit count one more", [](BlockSpec& b) { b.windows[0].count_delta = 1; }},
      {"unit count one less", [](BlockSpec& b) { b.windows[0].count_delta = -1; }},
      {"unit count huge", [](BlockSpec& b) { b.windows[0].count_delta = 0x3FFFFFFF; }},
      {"window without units", [](BlockSpec& b) { b.windows[0].units.clear(); }},
      {"unit area longer than the block", [](BlockSpec& b) { b.windows[0].length_delta = 8; }},
      {"unit area shorter than its records", [](BlockSpec& b) { b.windows[0].length_delta = -4; }},
      {"invalid unit id", [](BlockSpec& b) { b.windows[0].units[1].id = 0x16000000; }},
      {"duplicate unit id", [](BlockSpec& b) { b.windows[0].units[2].id = 0x16010002; }},
      {"record offset past the area", [](BlockSpec& b) { b.windows[0].offset_delta[2] = 0x7000; }},
      {"record offset overlapping", [](BlockSpec& b) { b.windows[0].offset_delta[1] = -4; }},
      {"records swapped against their ids", [](BlockSpec& b) {
         const auto n = static_cast<int64_t>(4 + Record(b.windows[0].units[0]).size());
         b.windows[0].offset_delta[0] = n;
         b.windows[0].offset_delta[1] = -n;
       }},
      {"record length past the area", [](BlockSpec& b) { b.windows[0].size_delta[2] = 4; }},
      {"gap between records", [](BlockSpec& b) { b.windows[0].gap = 4; }},
      {"unterminated name", [](BlockSpec& b) { b.windows[0].units[2].terminated = false; }},
      {"type id zero", [](BlockSpec& b) { b.windows[0].units[1].type = 0; }},
      {"type number zero", [](BlockSpec& b) { b.windows[0].units[1].type = 0x00010000; }},
      {"child count past the record", [](BlockSpec& b) { b.windows[0].units[2].extra_children = 1000; }},
      {"event count past the record", [](BlockSpec& b) { b.windows[0].units[1].extra_events = 1000; }},
      {"reserved words missing", [](BlockSpec& b) { b.windows[0].units[1].reserved = 12; }},
      {"child not in the window", [](BlockSpec& b) { b.windows[0].units[2].children = {0x16017777}; }},
      {"parent not in the window", [](BlockSpec& b) { b.windows[0].units[1].parent = 0x16017777; }},
      {"parent is itself", [](BlockSpec& b) { b.windows[0].units[1].parent = 0x16010002; }},
      {"parents loop", [](BlockSpec& b) { b.windows[0].units[2].parent = 0x16010002; }},
      {"window's own unit has a parent", [](BlockSpec& b) { b.windows[0].units[0].parent = 0x16010003; }},
      {"window's own unit is a menu item", [](BlockSpec& b) { b.windows[0].units[0] = MenuItem({}); }},
      {"menu item with trailing bytes", [](BlockSpec& b) { b.windows[0].units.push_back(MenuItem({1})); }},
      {"trailing byte after the last window", [](BlockSpec& b) { b.trailing = 1; }},
  };
  for (const Change& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes block = Changed(c);
    TemplateSet set;
    std::string error;
    EXPECT_FALSE(set.Load(block.data(), block.size(), kBase, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(set.size(), 0u);
  }
}

}  // namespace
