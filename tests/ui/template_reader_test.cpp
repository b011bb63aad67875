// The template reader on the block rtwin.py writes from test_window.json and on
// hand-built inconsistent blocks; the component property records' layouts and
// versions; and (ui_template_layout) the reader's tables against the writer's,
// printed in the form `rtwin.py layout` prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "runtime/core/gbk_text.h"
#include "runtime/ui/property_records.h"
#include "runtime/ui/templates.h"
#include "runtime/ui/byte_stream.h"
#include "window_templates.h"

namespace {

namespace tw = rtwin::TestWindow;
using rt::ui::TemplateSet;
using rt::ui::UnitRecord;
using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::pair<uint32_t, uint32_t>>;  // index, routine offset

constexpr uintptr_t kBase = 0x00400000;

Bytes GeneratedBlock() { return Bytes(RtWindowTemplateData(), RtWindowTemplateData() + RtWindowTemplateSize()); }
// "ok", or what the reader reports when it refuses `block`.
std::string LoadResult(TemplateSet& set, const Bytes& block) {
  std::string error;
  return set.Load(block.data(), block.size(), kBase, &error) ? "ok" : "refused: " + error;
}

const rt::ui::WindowTemplate& Generated(uint32_t id = rtwin::kTestWindow) {
  static TemplateSet set;
  static const std::string loaded = LoadResult(set, GeneratedBlock());
  EXPECT_EQ(loaded, "ok");
  EXPECT_EQ(set.size(), 2u);
  return *set.Find(id);
}

TEST(GeneratedTemplate, WindowsAndUnitsReadBackInStoredOrder) {
  const auto& w = Generated();
  EXPECT_EQ(w.first_word, 0x02A82C38u);
  EXPECT_EQ(w.second_word, 0x19010007u);
  EXPECT_EQ(w.first_text, "first");
  // The window's own unit, then creation order reversed.
  const uint32_t stored[] = {tw::kWindowUnit, tw::kButton2, tw::kLabel3, tw::kGroup1, tw::kTimer1,
                             tw::kButton1,    tw::kEdit2,   tw::kEdit1,  tw::kLabel1};
  ASSERT_EQ(w.units.size(), std::size(stored));
  for (size_t i = 0; i < std::size(stored); ++i) EXPECT_EQ(w.IndexOf(stored[i]), static_cast<int>(i)) << i;
  auto fields = [&](uint32_t id) {
    const UnitRecord* u = w.FindUnit(id);
    return std::make_tuple(u->type_id, u->name, u->left, u->top, u->width, u->height, u->parent_id, u->flags,
                           u->menu_item);
  };
  using Fields = decltype(fields(0));
  EXPECT_EQ(fields(tw::kWindowUnit), Fields(rt::ui::kTypeWindow, "", 50, 50, 372, 180, 0, 1, false));
  EXPECT_EQ(fields(tw::kEdit1), Fields(rt::ui::kTypeEditBox, GBK_TYPE_EDIT_BOX "1", 68, 11, 204, 20, 0, 5, false));
  EXPECT_EQ(fields(tw::kTimer1), Fields(rt::ui::kTypeTimer, GBK_TYPE_TIMER "1", 288, 0, 26, 26, 0, 0, false));
  EXPECT_EQ(fields(tw::kLabel3), Fields(rt::ui::kTypeLabel, GBK_TYPE_LABEL "3", 5, 20, 313, 24, tw::kGroup1, 1, false));
  EXPECT_EQ(w.FindUnit(tw::kGroup1)->children, (std::vector<uint32_t>{tw::kLabel3, tw::kButton2}));
  EXPECT_EQ(w.units[0].children.size(), 6u);  // the window holds its top-level units
  EXPECT_EQ(w.FindUnit(tw::kLabel1)->tag, GBK_TEST_TAG);
  // Cursor number 14 is stored as the system id of the hand cursor.
  EXPECT_EQ(w.FindUnit(tw::kLabel3)->mouse_pointer, (Bytes{0x89, 0x7F, 0, 0}));
}

TEST(GeneratedTemplate, PropertyDataMatchesTheComponentLayouts) {
  const auto& w = Generated();
  rt::ui::WindowProps wp;
  ASSERT_TRUE(rt::ui::TryParse(w.units[0].property_data, &wp));
  EXPECT_EQ(wp.start_position, 1u);
  EXPECT_EQ(wp.caption, GBK_TEST_WINDOW "  http://www.example.com");
  EXPECT_EQ(wp.icon.size(), 5430u);  // tests/ui/test.ico
  rt::ui::EditBoxProps ep;
  ASSERT_TRUE(rt::ui::TryParse(w.FindUnit(tw::kEdit1)->property_data, &ep));
  EXPECT_EQ(ep.content, GBK_TEST_INITIAL);
  EXPECT_EQ(ep.password_char, 42);  // default
  rt::ui::LabelProps lp;
  ASSERT_TRUE(rt::ui::TryParse(w.FindUnit(tw::kLabel3)->property_data, &lp));
  EXPECT_EQ(lp.text_colour, 0x0000FFu);
  EXPECT_EQ(lp.back_colour, rt::ui::kButtonFaceColour);  // default
}

TEST(GeneratedTemplate, EveryShortenedOrLengthenedBlockIsRefused) {
  Bytes block = GeneratedBlock();
  TemplateSet set;
  for (size_t n = 0; n < block.size(); ++n) {
    ASSERT_NE(LoadResult(set, Bytes(block.begin(), block.begin() + static_cast<long>(n))), "ok") << n;  // exact size
    ASSERT_EQ(set.size(), 0u);
  }
  block.push_back(0);
  EXPECT_EQ(LoadResult(set, block), "refused: bytes left after the last window");
}

struct UnitSpec {  // a menu item's record when the id says so
  uint32_t id = 0x16010002, type = rt::ui::kTypeLabel, parent = 0;
  std::vector<uint32_t> children;
  Events events;
  uint32_t extra_children = 0, extra_events = 0;  // added to the stored counts
  size_t cut = 0;                                 // bytes dropped from the record's end
  Bytes props = {1, 0, 0, 0};
};
struct BlockSpec {
  std::vector<uint32_t> ids = {0x52010001};  // every window holds `units`
  std::vector<UnitSpec> units;
  uint32_t list_delta = 0, slot = 0;
  int32_t count_delta = 0, length_delta = 0;
  uint32_t offset_delta = 0;  // added to the last record's offset
  size_t gap = 0, trailing = 0;  // zero bytes after the first record; bytes after the block
};

void Zeros(rt::ui::ByteWriter& w, size_t n) { w.Bytes(Bytes(n).data(), n); }

Bytes Record(const UnitSpec& u) {
  rt::ui::ByteWriter w;
  w.U32(u.type);
  Zeros(w, 20);
  w.Bytes("u", 2);  // the name, then an empty second text
  Zeros(w, 1);
  if (rt::ui::IsMenuItemId(u.id)) {  // menu records end after the handler and the properties
    Zeros(w, 12);
    w.Bytes("m", 2);
    w.U32(u.events[0].second);
  } else {
    for (uint32_t v : {0u, 1u, 2u, 3u, 4u, 0u, u.parent, static_cast<uint32_t>(u.children.size()) + u.extra_children})
      w.U32(v);
    for (uint32_t c : u.children) w.U32(c);
    w.CountedBytes({0, 0, 0, 0});
    Zeros(w, 1);
    for (uint32_t v : {0u, 1u, 0u, static_cast<uint32_t>(u.events.size()) + u.extra_events}) w.U32(v);
    for (auto [index, offset] : u.events) w.U32(index), w.U32(offset);
    Zeros(w, 20);
  }
  w.Bytes(u.props.data(), u.props.size());
  w.data().resize(w.data().size() - u.cut);
  return w.data();
}

Bytes Build(const BlockSpec& b) {
  rt::ui::ByteWriter w;
  w.U32(static_cast<uint32_t>(8 * b.ids.size()) + b.list_delta);
  for (uint32_t id : b.ids) w.U32(id);
  for (size_t i = 0; i < b.ids.size(); ++i) w.U32(b.slot);
  rt::ui::ByteWriter area;  // ids, offsets, then each record after its length
  for (const UnitSpec& u : b.units) area.U32(u.id);
  Bytes records;
  for (size_t i = 0; i < b.units.size(); ++i) {
    area.U32(static_cast<uint32_t>(records.size()) + (i + 1 == b.units.size() ? b.offset_delta : 0u));
    rt::ui::ByteWriter one;
    one.CountedBytes(Record(b.units[i]));
    records.insert(records.end(), one.data().begin(), one.data().end());
    if (i == 0) records.resize(records.size() + b.gap);
  }
  area.Bytes(records.data(), records.size());
  for (size_t i = 0; i < b.ids.size(); ++i) {
    for (int k = 0; k < 4; ++k) w.U32(0);  // two words, two empty counted texts
    w.U32(static_cast<uint32_t>(b.units.size() + b.count_delta));
    w.U32(static_cast<uint32_t>(area.data().size() + b.length_delta));
    w.Bytes(area.data().data(), area.data().size());
  }
  w.Bytes(std::string(b.trailing, '\x01').data(), b.trailing);
  return w.data();
}

UnitSpec Unit(uint32_t id, uint32_t type, Events events = {}, Bytes props = {1, 0, 0, 0}) {
  UnitSpec u;
  u.id = id, u.type = type, u.events = std::move(events), u.props = std::move(props);
  return u;
}
UnitSpec MenuItem(Bytes props) { return Unit(0x26010009, rt::ui::kTypeMenuItem, {{0, 24}}, std::move(props)); }
// The window's own unit, a label with a bound event and its group box (stored out of creation order).
BlockSpec GoodBlock() {
  BlockSpec b;
  b.units = {Unit(0x06010000, rt::ui::kTypeWindow, {{0, 0}, {3, 0xFFFFFFFF}}),
             Unit(0x16010002, rt::ui::kTypeLabel, {{0, 16}}, {}), Unit(0x16010003, rt::ui::kTypeGroupBox)};
  b.units[1].parent = 0x16010003, b.units[2].children = {0x16010002};
  return b;
}

TEST(HandBuiltBlock, TheGoodBlockLoads) {
  BlockSpec b = GoodBlock();
  b.slot = 0xDEADBEEF;  // slot words mean nothing when stored
  b.units.push_back(MenuItem({}));
  TemplateSet set;
  ASSERT_EQ(LoadResult(set, Build(b)), "ok");
  const auto& units = set.at(0).units;
  EXPECT_EQ(units[0].Handler(0), kBase);
  EXPECT_EQ(units[0].Handler(3), 0u);
  EXPECT_EQ(units[1].Handler(0), kBase + 16);
  EXPECT_EQ(units[3].Handler(5), kBase + 24);
  EXPECT_EQ(units[1].Handler(7), 0u);  // not bound
  EXPECT_EQ(set.at(0).FindUnit(0x16017777), nullptr);
  EXPECT_EQ(set.at(0).IndexOf(0x16017777), -1);
  EXPECT_EQ(set.at(0).Unit(units.size()), nullptr);
  EXPECT_EQ(set.Find(0x52017777), nullptr);
  // Property data starts 20 bytes after the last event entry.
  EXPECT_TRUE(units[1].property_data.empty());
  EXPECT_EQ(units[2].property_data, (Bytes{1, 0, 0, 0}));
}

// One case per check in the reader, named by the error it reports.
TEST(HandBuiltBlock, EachKindOfInconsistencyIsRefused) {
  const std::pair<const char*, void (*)(BlockSpec&)> cases[] = {
      {"window list length", [](BlockSpec& b) { b.list_delta = 4; }},
      {"invalid window id", [](BlockSpec& b) { b.ids[0] = 0x52000000; }},
      {"duplicate window id", [](BlockSpec& b) { b.ids.push_back(b.ids[0]); }},
      {"window record", [](BlockSpec& b) { b.length_delta = 8; }},
      {"window without its own unit", [](BlockSpec& b) { b.units.clear(); }},
      {"unit count past the unit block", [](BlockSpec& b) { b.count_delta = 0x3FFFFFFF; }},
      {"invalid unit id", [](BlockSpec& b) { b.units[1].id = 0x16000000; }},
      {"duplicate unit id", [](BlockSpec& b) { b.units[2].id = 0x16010002; }},
      {"unit record outside the unit block", [](BlockSpec& b) { b.offset_delta = 0x7000; }},
      {"unit records overlap or leave a gap", [](BlockSpec& b) { b.gap = 4; }},
      {"bytes left after the unit records", [](BlockSpec& b) { b.length_delta = 1, b.trailing = 1; }},
      {"unit record head", [](BlockSpec& b) { b.units[1].cut = Record(b.units[1]).size() - 25; }},
      {"unit type id", [](BlockSpec& b) { b.units[1].type = 0x00010000; }},
      {"child count past the record", [](BlockSpec& b) { b.units[2].extra_children = 14; }},  // fits at 3 bytes each, not at 4
      {"event count past the record", [](BlockSpec& b) { b.units[1].extra_events = 1000; }},
      {"reserved words after the events", [](BlockSpec& b) { b.units[1].cut = 8; }},
      {"child id", [](BlockSpec& b) { b.units[2].children = {0x16000000}; }},
      {"child id not in the window", [](BlockSpec& b) { b.units[2].children = {0x16017777}; }},
      {"child id not in the window", [](BlockSpec& b) { b.units[2].children = {0x06010000}; }},  // the window
      {"parent id", [](BlockSpec& b) { b.units[1].parent = 0x16017777; }},
      {"parent id", [](BlockSpec& b) { b.units[1].parent = 0x06010000; }},
      {"parent chain loops", [](BlockSpec& b) { b.units[2].parent = 0x16010002; }},
      {"window's own unit", [](BlockSpec& b) { b.units[0].parent = 0x16010003; }},
      {"menu item record has trailing bytes", [](BlockSpec& b) { b.units.push_back(MenuItem({1})); }},
  };
  for (const auto& [message, change] : cases) {
    SCOPED_TRACE(message);
    BlockSpec b = GoodBlock();
    change(b);
    TemplateSet set;
    EXPECT_EQ(LoadResult(set, Build(b)), std::string("refused: ") + message);
    EXPECT_EQ(set.size(), 0u);
  }
}

template <typename P>
void ExpectRoundTrip(const P& p) {
  SCOPED_TRACE(testing::Message() << typeid(P).name() << " version " << p.version);
  Bytes data = rt::ui::Serialise(p);
  P back;
  ASSERT_TRUE(rt::ui::TryParse(data, &back));
  EXPECT_EQ(rt::ui::Serialise(back), data);
  for (size_t n = 0; n < data.size(); ++n)
    ASSERT_FALSE(rt::ui::TryParse(Bytes(data.begin(), data.begin() + static_cast<long>(n)), &back)) << n;
  for (size_t extra : {1u, 7u}) {  // a newer writer's bytes after the fields: ignored
    Bytes longer = data;
    longer.insert(longer.end(), extra, 0xEE);
    P read;
    ASSERT_TRUE(rt::ui::TryParse(longer, &read)) << extra;
    EXPECT_EQ(rt::ui::Serialise(read), data);
  }
  data[0] = static_cast<uint8_t>(P::kMaxVersion + 1);
  EXPECT_FALSE(rt::ui::TryParse(data, &back));
}

template <typename P>
void ExpectRoundTrips(P p, uint32_t first = 1) {  // each version from `first` on
  for (p.version = first; p.version <= P::kMaxVersion; ++p.version) ExpectRoundTrip(p);
}

TEST(PropertyRecords, EveryLayoutAndVersionRoundTrips) {
  rt::ui::TimerProps t;
  rt::ui::ButtonProps b;
  rt::ui::LabelProps l;
  rt::ui::EditBoxProps e;
  rt::ui::WindowProps w;
  t.interval = 1000, b.font = Bytes(60, 7), l.text_b = "x";
  e.content = "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND;
  w.caption = "devarude", w.icon = Bytes(10, 1), w.class_name = "Mine";
  ExpectRoundTrips(t), ExpectRoundTrips(b), ExpectRoundTrips(rt::ui::GroupBoxProps{}), ExpectRoundTrips(l);
  ExpectRoundTrips(e), ExpectRoundTrips(w, 0);
}

TEST(PropertyRecords, OlderWindowVersionsKeepTheDefaults) {
  rt::ui::WindowProps w, back;
  w.version = 1;
  w.taskbar = 0;  // from version 2
  w.topmost = 1;  // from version 4
  w.class_name = "Mine";  // from version 6
  ASSERT_TRUE(rt::ui::TryParse(rt::ui::Serialise(w), &back));
  EXPECT_EQ(back.taskbar, 1u);
  EXPECT_EQ(back.topmost, 0u);
  EXPECT_EQ(back.class_name, "");
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

TEST(TemplateLayout, TheWriterAndTheReaderDescribeTheSameBlock) {
  using namespace rt::ui;
  std::ostringstream runtime;
  runtime << "no_routine " << Hex(kNoRoutine) << "\n";
  for (auto [name, id] : {std::pair{"window", kTypeWindow}, {"MenuItem", kTypeMenuItem}, {"EditBox", kTypeEditBox},
                          {"GroupBox", kTypeGroupBox}, {"Label", kTypeLabel}, {"Button", kTypeButton},
                          {"Timer", kTypeTimer}})
    runtime << "type " << name << " " << Hex(id) << "\n";
  for (size_t n = 0; n < std::size(kCursorIds); ++n) runtime << "cursor " << n << " " << kCursorIds[n] << "\n";
  auto print = [&](const auto defaults, const char* type_name) {  // each stored field and its default
    using P = std::decay_t<decltype(defaults)>;
    runtime << "record " << type_name << " " << P::kMaxVersion << "\n";
    for (const RecordField<P>& f : RecordTable<P>::kFields) {
      if (f.since == kNotStored) continue;
      runtime << "  " << f.name << " ";
      if (f.word) runtime << "u32 " << defaults.*f.word;
      if (f.half) runtime << "u16 " << defaults.*f.half;
      if (f.bytes) runtime << "bytes " << (defaults.*f.bytes).size();
      if (f.text) runtime << "text " << (defaults.*f.text).size();
      runtime << " " << f.since << "\n";
    }
  };
  // In the writer's order: its type names sorted.
  print(ButtonProps{}, "Button"), print(EditBoxProps{}, "EditBox"), print(GroupBoxProps{}, "GroupBox");
  print(LabelProps{}, "Label"), print(TimerProps{}, "Timer"), print(WindowProps{}, "window");

  std::string writer;
  if (FILE* p = popen(RT_PYTHON3 " " RT_RTWIN " layout", "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) writer.append(buf, n);
    pclose(p);
  }
  ASSERT_FALSE(writer.empty()) << "rtwin.py layout printed nothing";
  EXPECT_EQ(runtime.str(), writer);
}

}  // namespace
