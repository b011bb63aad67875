// Component property records: each layout and version reads back what it
// writes, older versions keep the defaults of the fields they lack, and data
// too short, too long or of a version above the component's is refused.
#include <gtest/gtest.h>

#include <typeinfo>

#include "runtime/ui/props.h"

namespace {

using rt::ui::Bytes;

template <typename P>
void ExpectRoundTrip(P p, uint32_t version) {
  SCOPED_TRACE(testing::Message() << typeid(P).name() << " version " << version);
  p.version = version;
  Bytes data = rt::ui::Serialise(p);
  P back;
  ASSERT_TRUE(rt::ui::Parse(data, &back));
  EXPECT_EQ(rt::ui::Serialise(back), data);
  for (size_t n = 0; n < data.size(); ++n)
    ASSERT_FALSE(rt::ui::Parse(Bytes(data.begin(), data.begin() + static_cast<long>(n)), &back)) << n;
  Bytes longer = data;
  longer.push_back(0);
  EXPECT_FALSE(rt::ui::Parse(longer, &back));
  data[0] = static_cast<uint8_t>(P::kMaxVersion + 1);
  EXPECT_FALSE(rt::ui::Parse(data, &back));
}

TEST(PropertyRecords, EveryLayoutAndVersionRoundTrips) {
  rt::ui::TimerProps t;
  t.interval = 1000;
  ExpectRoundTrip(t, 1);
  rt::ui::ButtonProps b;
  b.caption = "校准";
  b.font = Bytes(60, 7);
  ExpectRoundTrip(b, 1);
  rt::ui::GroupBoxProps g;
  g.caption = "说明";
  ExpectRoundTrip(g, 1);
  rt::ui::LabelProps l;
  l.caption = "北京时间:";
  l.extra_b = "x";
  rt::ui::EditBoxProps e;
  e.content = "2019年10月17日12时33分29秒";
  for (uint32_t v : {1u, 2u}) {
    ExpectRoundTrip(l, v);
    ExpectRoundTrip(e, v);
  }
  rt::ui::WindowProps w;
  w.caption = "devarude";
  w.icon = Bytes(10, 1);
  w.class_name = "Mine";
  for (uint32_t v = 0; v <= rt::ui::WindowProps::kMaxVersion; ++v) ExpectRoundTrip(w, v);
}

TEST(PropertyRecords, OlderWindowVersionsKeepTheDefaults) {
  rt::ui::WindowProps w, back;
  w.version = 1;
  w.taskbar = 0;  // from version 2
  w.topmost = 1;  // from version 4
  w.class_name = "Mine";  // from version 6
  ASSERT_TRUE(rt::ui::Parse(rt::ui::Serialise(w), &back));
  EXPECT_EQ(back.taskbar, 1u);
  EXPECT_EQ(back.topmost, 0u);
  EXPECT_EQ(back.class_name, "");
}

TEST(PropertyRecords, FieldOrderMatchesTheStoredLayout) {
  rt::ui::TimerProps t;
  t.interval = 0x01020304;
  EXPECT_EQ(rt::ui::Serialise(t), (Bytes{1, 0, 0, 0, 4, 3, 2, 1}));
  rt::ui::ButtonProps b;
  b.default_button = 1;
  b.h_align = 2;
  b.v_align = 0;
  b.caption = "ab";
  EXPECT_EQ(rt::ui::Serialise(b),
            (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 'b'}));
  // Version, 9 words, a 16-bit password character, 6 words, font, content.
  rt::ui::EditBoxProps e;
  e.version = 1;
  e.password_char = 0x2A;
  e.content = "c";
  Bytes d = rt::ui::Serialise(e);
  ASSERT_EQ(d.size(), 4u + 36 + 2 + 24 + 4 + 5);
  EXPECT_EQ(d[40], 0x2A);
  EXPECT_EQ(d[41], 0);
  EXPECT_EQ(d.back(), 'c');
}

}  // namespace
