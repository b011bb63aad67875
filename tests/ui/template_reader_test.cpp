// The template reader: the block the Python writer makes from
// test_window.json reads back field for field, and every inconsistency in a
// hand-built block is refused without reading outside it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/ui/props.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/wire.h"
#include "window_templates.h"

namespace {

using rt::ui::TemplateSet;
using rt::ui::UnitRecord;
using rt::ui::WindowTemplate;

constexpr uintptr_t kBase = 0x00400000;

std::vector<uint8_t> GeneratedBlock() {
  return std::vector<uint8_t>(RtWindowTemplateData(), RtWindowTemplateData() + RtWindowTemplateSize());
}

TEST(GeneratedTemplate, WindowsAndUnitsReadBackInStoredOrder) {
  TemplateSet set;
  std::string error;
  std::vector<uint8_t> block = GeneratedBlock();
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase, &error)) << error;
  ASSERT_EQ(set.size(), 2u);
  const WindowTemplate* w = set.Find(rtwin::kTestWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->first_word, 0x02A82C38u);
  EXPECT_EQ(w->second_word, 0x19010007u);
  EXPECT_EQ(w->first_text, "first");
  EXPECT_EQ(w->second_text, "");
  EXPECT_EQ(set.Find(0x52019999), nullptr);

  // Stored order is the window's own unit, then creation order reversed.
  const uint32_t stored[] = {rtwin::TestWindow::kWindowUnit, rtwin::TestWindow::kButton2,
                             rtwin::TestWindow::kLabel3,     rtwin::TestWindow::kGroup1,
                             rtwin::TestWindow::kTimer1,     rtwin::TestWindow::kButton1,
                             rtwin::TestWindow::kEdit2,      rtwin::TestWindow::kEdit1,
                             rtwin::TestWindow::kLabel1};
  ASSERT_EQ(w->units.size(), std::size(stored));
  for (size_t i = 0; i < std::size(stored); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(w->units[i].unit_id, stored[i]);
    EXPECT_EQ(w->IndexOf(stored[i]), static_cast<int>(i));
  }
  EXPECT_EQ(w->Unit(std::size(stored)), nullptr);
  EXPECT_EQ(w->IndexOf(0x16019999), -1);

  struct Expect {
    uint32_t id, type;
    const char* name;
    int32_t left, top, width, height;
    uint32_t parent, flags;
  };
  const Expect units[] = {
      {rtwin::TestWindow::kWindowUnit, rt::ui::kTypeWindow, "", 50, 50, 372, 180, 0, 1},
      {rtwin::TestWindow::kLabel1, rt::ui::kTypeLabel, "标签1", 8, 6, 64, 24, 0, 1},
      {rtwin::TestWindow::kEdit1, rt::ui::kTypeEditBox, "编辑框1", 68, 11, 204, 20, 0, 5},
      {rtwin::TestWindow::kEdit2, rt::ui::kTypeEditBox, "编辑框2", 68, 39, 204, 20, 0, 7},
      {rtwin::TestWindow::kTimer1, rt::ui::kTypeTimer, "时钟1", 288, 0, 26, 26, 0, 0},
      {rtwin::TestWindow::kGroup1, rt::ui::kTypeGroupBox, "分组框1", 2, 65, 358, 70, 0, 1},
      {rtwin::TestWindow::kLabel3, rt::ui::kTypeLabel, "标签3", 5, 20, 313, 24,
       rtwin::TestWindow::kGroup1, 1},
  };
  for (const Expect& e : units) {
    SCOPED_TRACE(e.name);
    const UnitRecord* u = w->FindUnit(e.id);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->type_id, e.type);
    EXPECT_EQ(u->name, e.name);
    EXPECT_EQ(u->left, e.left);
    EXPECT_EQ(u->top, e.top);
    EXPECT_EQ(u->width, e.width);
    EXPECT_EQ(u->height, e.height);
    EXPECT_EQ(u->parent_id, e.parent);
    EXPECT_EQ(u->flags, e.flags);
    EXPECT_EQ(u->object, nullptr);
    EXPECT_FALSE(u->menu_item);
  }
  const UnitRecord* group = w->FindUnit(rtwin::TestWindow::kGroup1);
  EXPECT_EQ(group->children,
            (std::vector<uint32_t>{rtwin::TestWindow::kLabel3, rtwin::TestWindow::kButton2}));
  EXPECT_EQ(w->units[0].children.size(), 6u);  // the window holds its top-level units
  EXPECT_EQ(w->FindUnit(rtwin::TestWindow::kLabel1)->tag, "标记");
  // Cursor number 14 is stored as the system id of the hand cursor.
  EXPECT_EQ(w->FindUnit(rtwin::TestWindow::kLabel3)->mouse_pointer,
            (std::vector<uint8_t>{0x89, 0x7F, 0, 0}));
  EXPECT_EQ(w->FindUnit(rtwin::TestWindow::kLabel1)->mouse_pointer, std::vector<uint8_t>(4, 0));
}

TEST(GeneratedTemplate, HandlersAreRelocatedAgainstTheRoutineBase) {
  TemplateSet set;
  std::vector<uint8_t> block = GeneratedBlock();
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase));
  const WindowTemplate* w = set.Find(rtwin::kTestWindow);
  struct Case {
    uint32_t unit, event;
    uintptr_t handler;
  };
  const Case cases[] = {
      // Offset 0 is a real routine: the base itself.
      {rtwin::TestWindow::kWindowUnit, 0, kBase + rtwin::kRoutineOffset_TestWindowCreated},
      {rtwin::TestWindow::kWindowUnit, 3, kBase + rtwin::kRoutineOffset_TestWindowEvent3},
      {rtwin::TestWindow::kWindowUnit, 4, kBase + rtwin::kRoutineOffset_TestWindowEvent4},
      {rtwin::TestWindow::kWindowUnit, 1, 0},
      {rtwin::TestWindow::kButton1, 0, kBase + rtwin::kRoutineOffset_TestButtonClicked},
      {rtwin::TestWindow::kTimer1, 0, kBase + rtwin::kRoutineOffset_TestTimerTick},
      {rtwin::TestWindow::kEdit1, 0, kBase + rtwin::kRoutineOffset_TestEditChanged},
      {rtwin::TestWindow::kLabel1, 0, 0},
  };
  EXPECT_EQ(rtwin::kRoutineOffset_TestWindowCreated, 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.unit << " event " << c.event);
    EXPECT_EQ(w->FindUnit(c.unit)->Handler(c.event), c.handler);
  }
  const WindowTemplate* second = set.Find(rtwin::kSecondWindow);
  ASSERT_NE(second, nullptr);
  const UnitRecord* menu = second->FindUnit(rtwin::SecondWindow::kUnit_26010010);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->menu_item);
  EXPECT_EQ(menu->type_id, rt::ui::kTypeMenuItem);
  EXPECT_EQ(menu->menu_text, "文件");
  EXPECT_EQ(menu->menu_flags(), 4u);
  EXPECT_EQ(menu->Handler(0), kBase + rtwin::kRoutineOffset_TestMenuChosen);
  EXPECT_EQ(menu->Handler(7), kBase + rtwin::kRoutineOffset_TestMenuChosen);
}

TEST(GeneratedTemplate, PropertyDataMatchesTheComponentLayouts) {
  TemplateSet set;
  std::vector<uint8_t> block = GeneratedBlock();
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase));
  const WindowTemplate* w = set.Find(rtwin::kTestWindow);
  rt::ui::WindowProps wp;
  ASSERT_TRUE(rt::ui::Parse(w->units[0].property_data, &wp));
  EXPECT_EQ(wp.version, 6u);
  EXPECT_EQ(wp.border, 2u);
  EXPECT_EQ(wp.max_button, 0u);
  EXPECT_EQ(wp.start_position, 1u);
  EXPECT_EQ(wp.caption, "测试窗口  http://www.example.com");
  EXPECT_EQ(wp.icon.size(), 5430u);  // tests/ui/test.ico
  rt::ui::EditBoxProps ep;
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kEdit1)->property_data, &ep));
  EXPECT_EQ(ep.content, "初始");
  EXPECT_EQ(ep.input_mode, 1u);
  EXPECT_EQ(ep.password_char, 42);
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kEdit2)->property_data, &ep));
  EXPECT_EQ(ep.font.size(), 60u);
  EXPECT_EQ(ep.border, 5u);
  rt::ui::TimerProps tp;
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kTimer1)->property_data, &tp));
  EXPECT_EQ(tp.interval, 50);
  rt::ui::ButtonProps bp;
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kButton1)->property_data, &bp));
  EXPECT_EQ(bp.caption, "校准");
  EXPECT_EQ(bp.default_button, 1u);
  rt::ui::GroupBoxProps gp;
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kGroup1)->property_data, &gp));
  EXPECT_EQ(gp.caption, "说明");
  EXPECT_EQ(gp.title_align, 1u);
  rt::ui::LabelProps lp;
  ASSERT_TRUE(rt::ui::Parse(w->FindUnit(rtwin::TestWindow::kLabel3)->property_data, &lp));
  EXPECT_EQ(lp.text_colour, 0x0000FFu);
  EXPECT_EQ(lp.back_colour, rt::ui::kButtonFaceColour);
  EXPECT_EQ(lp.border, 3u);
}

TEST(GeneratedTemplate, EveryShortenedOrLengthenedBlockIsRefused) {
  std::vector<uint8_t> block = GeneratedBlock();
  TemplateSet set;
  for (size_t n = 0; n < block.size(); ++n) {
    // A copy of exactly n bytes, so ASan sees any read past the end.
    std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(n));
    ASSERT_FALSE(set.Load(cut.data(), cut.size(), kBase)) << "prefix of " << n << " bytes";
    ASSERT_EQ(set.size(), 0u);
  }
  block.push_back(0);
  std::string error;
  EXPECT_FALSE(set.Load(block.data(), block.size(), kBase, &error));
  EXPECT_EQ(error, "bytes left after the last window");
}

// ---- hand-built blocks -------------------------------------------------

struct UnitSpec {
  uint32_t id = 0x16010002, type = rt::ui::kTypeLabel;
  std::string name = "u";
  bool terminate_name = true;
  uint32_t parent = 0;
  std::vector<uint32_t> children;
  uint32_t child_count_delta = 0;
  std::vector<std::pair<uint32_t, uint32_t>> events;
  uint32_t event_count_delta = 0;
  size_t reserved_after_events = 20;
  std::vector<uint8_t> props = {1, 0, 0, 0};
  bool menu = false;
};

struct WindowSpec {
  uint32_t id = 0x52010001;
  std::vector<UnitSpec> units;
  int32_t count_delta = 0;
  int32_t block_length_delta = 0;
  std::vector<int64_t> offset_delta;  // per unit
  std::vector<uint32_t> length_delta;
  size_t gap_after_first = 0;
};

struct BlockSpec {
  std::vector<WindowSpec> windows;
  uint32_t list_length_delta = 0;
  uint32_t slot_value = 0;
  size_t trailing = 0;
};

std::vector<uint8_t> Record(const UnitSpec& u) {
  rt::ui::WireWriter w;
  w.U32(u.type);
  w.Bytes(std::string(20, '\0').data(), 20);
  w.Bytes(u.name.data(), u.name.size());
  if (!u.terminate_name) return w.data();
  w.Bytes("\0\0", 2);  // the name's terminator, then an empty second text
  if (u.menu) {
    w.Bytes(std::string(12, '\0').data(), 12);
    w.Bytes("m", 2);
    w.U32(u.events.empty() ? 0xFFFFFFFFu : u.events[0].second);
    w.Bytes(u.props.data(), u.props.size());  // menu records end here: extra bytes are wrong
    return w.data();
  }
  w.U32(0);
  for (int32_t v : {1, 2, 3, 4}) w.I32(v);
  w.U32(0);
  w.U32(u.parent);
  w.U32(static_cast<uint32_t>(u.children.size()) + u.child_count_delta);
  for (uint32_t c : u.children) w.U32(c);
  w.CountedBytes({0, 0, 0, 0});
  w.Bytes("", 1);
  w.U32(0);
  w.U32(1);
  w.U32(0);
  w.U32(static_cast<uint32_t>(u.events.size()) + u.event_count_delta);
  for (auto [index, offset] : u.events) {
    w.U32(index);
    w.U32(offset);
  }
  w.Bytes(std::string(u.reserved_after_events, '\0').data(), u.reserved_after_events);
  w.Bytes(u.props.data(), u.props.size());
  return w.data();
}

std::vector<uint8_t> Build(const BlockSpec& b) {
  rt::ui::WireWriter w;
  w.U32(static_cast<uint32_t>(8 * b.windows.size()) + b.list_length_delta);
  for (const WindowSpec& win : b.windows) w.U32(win.id);
  for (size_t i = 0; i < b.windows.size(); ++i) w.U32(b.slot_value);
  for (const WindowSpec& win : b.windows) {
    rt::ui::WireWriter unit_block;
    for (const UnitSpec& u : win.units) unit_block.U32(u.id);
    std::vector<std::vector<uint8_t>> records;
    for (const UnitSpec& u : win.units) records.push_back(Record(u));
    uint32_t at = 0;
    for (size_t i = 0; i < records.size(); ++i) {
      int64_t delta = i < win.offset_delta.size() ? win.offset_delta[i] : 0;
      unit_block.U32(static_cast<uint32_t>(at + delta));
      at += 4 + static_cast<uint32_t>(records[i].size()) + (i == 0 ? win.gap_after_first : 0);
    }
    for (size_t i = 0; i < records.size(); ++i) {
      uint32_t delta = i < win.length_delta.size() ? win.length_delta[i] : 0;
      unit_block.U32(static_cast<uint32_t>(records[i].size()) + delta);
      unit_block.Bytes(records[i].data(), records[i].size());
      if (i == 0) unit_block.Bytes(std::string(win.gap_after_first, '\0').data(), win.gap_after_first);
    }
    w.U32(0);
    w.U32(0);
    w.CountedText("");
    w.CountedText("");
    w.U32(static_cast<uint32_t>(win.units.size() + win.count_delta));
    w.U32(static_cast<uint32_t>(unit_block.data().size() + win.block_length_delta));
    w.Bytes(unit_block.data().data(), unit_block.data().size());
  }
  w.Bytes(std::string(b.trailing, '\x01').data(), b.trailing);
  return w.data();
}

BlockSpec GoodBlock() {
  UnitSpec own;
  own.id = 0x06010000;
  own.type = rt::ui::kTypeWindow;
  own.name = "";
  own.events = {{0, 0}, {3, 0xFFFFFFFF}};
  UnitSpec group;
  group.id = 0x16010003;
  group.type = rt::ui::kTypeGroupBox;
  group.children = {0x16010002};
  UnitSpec label;
  label.parent = 0x16010003;
  label.events = {{0, 16}};
  label.props.clear();
  WindowSpec w;
  w.units = {own, label, group};
  BlockSpec b;
  b.windows = {w};
  return b;
}

TEST(HandBuiltBlock, TheGoodBlockLoadsWithItsEdgeCases) {
  struct Case {
    const char* what;
    std::function<void(BlockSpec&)> change;
  };
  const Case cases[] = {
      {"as built", [](BlockSpec&) {}},
      {"slot words are ignored", [](BlockSpec& b) { b.slot_value = 0xDEADBEEF; }},
      {"no windows at all", [](BlockSpec& b) { b.windows.clear(); }},
      {"a unit without events", [](BlockSpec& b) { b.windows[0].units[1].events.clear(); }},
      {"a menu item", [](BlockSpec& b) {
         UnitSpec m;
         m.id = 0x26010009;
         m.type = rt::ui::kTypeMenuItem;
         m.menu = true;
         m.props.clear();
         m.events = {{0, 24}};
         b.windows[0].units.push_back(m);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockSpec spec = GoodBlock();
    c.change(spec);
    std::vector<uint8_t> block = Build(spec);
    TemplateSet set;
    std::string error;
    ASSERT_TRUE(set.Load(block.data(), block.size(), kBase, &error)) << error;
    ASSERT_EQ(set.size(), spec.windows.size());
  }
  std::vector<uint8_t> block = Build(GoodBlock());
  TemplateSet set;
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase));
  const WindowTemplate& w = set.at(0);
  EXPECT_EQ(w.units[0].Handler(0), kBase);
  EXPECT_EQ(w.units[0].Handler(3), 0u);
  EXPECT_EQ(w.units[1].Handler(0), kBase + 16);
  // Property data starts 20 bytes after the last event entry; none here.
  EXPECT_TRUE(w.units[1].property_data.empty());
  EXPECT_EQ(w.units[2].property_data, (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST(HandBuiltBlock, RecordOffsetsCountFromTheEndOfTheOffsetTable) {
  // Records stored in another order than the id table still tile the area.
  BlockSpec spec = GoodBlock();
  std::vector<uint8_t> block = Build(spec);
  TemplateSet set;
  ASSERT_TRUE(set.Load(block.data(), block.size(), kBase));
  const auto& units = set.at(0).units;
  EXPECT_EQ(units[1].unit_id, 0x16010002u);
  EXPECT_EQ(units[1].name, "u");
  EXPECT_EQ(units[2].children, (std::vector<uint32_t>{0x16010002}));
  // Swap the first two offsets: ids and records no longer match, and the
  // window's own unit becomes a label with a parent: refused, not misread.
  WindowSpec& w = spec.windows[0];
  std::vector<uint8_t> r0 = Record(w.units[0]), r1 = Record(w.units[1]);
  w.offset_delta = {static_cast<int64_t>(4 + r0.size()), -static_cast<int64_t>(4 + r0.size())};
  block = Build(spec);
  EXPECT_FALSE(set.Load(block.data(), block.size(), kBase));
}

TEST(HandBuiltBlock, InconsistenciesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(BlockSpec&)> change;
  };
  const Case cases[] = {
      {"list length not a multiple of 8", [](BlockSpec& b) { b.list_length_delta = 4; }},
      {"list length past the block", [](BlockSpec& b) { b.list_length_delta = 0x10000; }},
      {"window id without serial", [](BlockSpec& b) { b.windows[0].id = 0x52000000; }},
      {"window id without kind", [](BlockSpec& b) { b.windows[0].id = 0x50010001; }},
      {"duplicate window ids", [](BlockSpec& b) { b.windows.push_back(b.windows[0]); }},
      {"unit count one more", [](BlockSpec& b) { b.windows[0].count_delta = 1; }},
      {"unit count one less", [](BlockSpec& b) { b.windows[0].count_delta = -1; }},
      {"unit count huge", [](BlockSpec& b) { b.windows[0].count_delta = 0x3FFFFFFF; }},
      {"window without units", [](BlockSpec& b) { b.windows[0].units.clear(); }},
      {"unit block longer than the block", [](BlockSpec& b) { b.windows[0].block_length_delta = 8; }},
      {"unit block shorter than its records", [](BlockSpec& b) { b.windows[0].block_length_delta = -4; }},
      {"invalid unit id", [](BlockSpec& b) { b.windows[0].units[1].id = 0x16000000; }},
      {"duplicate unit id", [](BlockSpec& b) { b.windows[0].units[2].id = 0x16010002; }},
      {"record offset past the area", [](BlockSpec& b) { b.windows[0].offset_delta = {0, 0, 0x7000}; }},
      {"record offset overlapping", [](BlockSpec& b) { b.windows[0].offset_delta = {0, -4}; }},
      {"record length past the area", [](BlockSpec& b) { b.windows[0].length_delta = {0, 0, 4}; }},
      {"gap between records", [](BlockSpec& b) { b.windows[0].gap_after_first = 4; }},
      {"unterminated name", [](BlockSpec& b) { b.windows[0].units[2].terminate_name = false; }},
      {"type id zero", [](BlockSpec& b) { b.windows[0].units[1].type = 0; }},
      {"type number zero", [](BlockSpec& b) { b.windows[0].units[1].type = 0x00010000; }},
      {"child count past the record", [](BlockSpec& b) { b.windows[0].units[2].child_count_delta = 1000; }},
      {"event count past the record", [](BlockSpec& b) { b.windows[0].units[1].event_count_delta = 1000; }},
      {"reserved words missing", [](BlockSpec& b) {
         b.windows[0].units[1].reserved_after_events = 12;
       }},
      {"child not in the window", [](BlockSpec& b) { b.windows[0].units[2].children = {0x16017777}; }},
      {"parent not in the window", [](BlockSpec& b) { b.windows[0].units[1].parent = 0x16017777; }},
      {"parent is itself", [](BlockSpec& b) { b.windows[0].units[1].parent = 0x16010002; }},
      {"parents loop", [](BlockSpec& b) { b.windows[0].units[2].parent = 0x16010002; }},
      {"window's own unit has a parent", [](BlockSpec& b) { b.windows[0].units[0].parent = 0x16010003; }},
      {"window's own unit is a menu item", [](BlockSpec& b) {
         b.windows[0].units[0].id = 0x26010001;
         b.windows[0].units[0].menu = true;
       }},
      {"menu item with trailing bytes", [](BlockSpec& b) {
         UnitSpec m;
         m.id = 0x26010009;
         m.menu = true;
         m.props = {1};
         b.windows[0].units.push_back(m);
       }},
      {"trailing byte after the last window", [](BlockSpec& b) { b.trailing = 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockSpec spec = GoodBlock();
    c.change(spec);
    std::vector<uint8_t> block = Build(spec);
    TemplateSet set;
    std::string error;
    EXPECT_FALSE(set.Load(block.data(), block.size(), kBase, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(set.size(), 0u);
  }
}

TEST(LoadedSet, TheSeamFillsTheProcessWideSet) {
  std::vector<uint8_t> block = GeneratedBlock();
  ASSERT_TRUE(rt::ui::LoadTemplateBlock(block.data(), static_cast<uint32_t>(block.size()), kBase));
  EXPECT_NE(rt::ui::LoadedTemplates().Find(rtwin::kTestWindow), nullptr);
  uint8_t broken[3] = {0, 0, 0};
  EXPECT_FALSE(rt::ui::LoadTemplateBlock(broken, 3, kBase));
  EXPECT_EQ(rt::ui::LoadedTemplates().size(), 0u);
}

}  // namespace
