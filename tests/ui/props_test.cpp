// Component property records: each layout reads back what it writes, older
// versions take defaults for the fields they lack, and data that is too
// short, too long or of a version above the component's is refused.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "runtime/ui/props.h"

namespace {

using rt::ui::Bytes;

template <typename P>
void ExpectRoundTrip(const P& p) {
  Bytes data = rt::ui::Serialise(p);
  P back;
  ASSERT_TRUE(rt::ui::Parse(data, &back));
  EXPECT_EQ(rt::ui::Serialise(back), data);
  // Any shortening and any extra byte is refused.
  for (size_t n = 0; n < data.size(); ++n) {
    Bytes cut(data.begin(), data.begin() + static_cast<long>(n));
    ASSERT_FALSE(rt::ui::Parse(cut, &back)) << n;
  }
  Bytes longer = data;
  longer.push_back(0);
  EXPECT_FALSE(rt::ui::Parse(longer, &back));
  // A version above the highest is refused.
  Bytes newer = data;
  newer[0] = static_cast<uint8_t>(P::kMaxVersion + 1);
  EXPECT_FALSE(rt::ui::Parse(newer, &back));
}

TEST(PropertyRecords, EveryLayoutRoundTrips) {
  rt::ui::TimerProps t;
  t.interval = 1000;
  ExpectRoundTrip(t);
  rt::ui::ButtonProps b;
  b.caption = "校准";
  b.font = Bytes(60, 7);
  ExpectRoundTrip(b);
  rt::ui::GroupBoxProps g;
  g.caption = "说明";
  ExpectRoundTrip(g);
  rt::ui::LabelProps l;
  l.caption = "北京时间:";
  l.extra_b = "x";
  ExpectRoundTrip(l);
  l.version = 1;
  ExpectRoundTrip(l);
  rt::ui::EditBoxProps e;
  e.content = "2019年10月17日12时33分29秒";
  e.password_char = 0x2A;
  ExpectRoundTrip(e);
  e.version = 1;
  ExpectRoundTrip(e);
  for (uint32_t v = 0; v <= rt::ui::WindowProps::kMaxVersion; ++v) {
    SCOPED_TRACE(v);
    rt::ui::WindowProps w;
    w.version = v;
    w.caption = "devarude";
    w.icon = Bytes(10, 1);
    ExpectRoundTrip(w);
  }
}

TEST(PropertyRecords, OlderWindowVersionsKeepTheDefaults) {
  rt::ui::WindowProps w;
  w.version = 1;
  w.taskbar = 0;  // not stored in version 1
  w.topmost = 1;
  w.class_name = "Mine";
  rt::ui::WindowProps back;
  ASSERT_TRUE(rt::ui::Parse(rt::ui::Serialise(w), &back));
  EXPECT_EQ(back.taskbar, 1u);
  EXPECT_EQ(back.topmost, 0u);
  EXPECT_EQ(back.class_name, "");
  // Version 6 stores the class name between the option words and the blocks.
  w.version = 6;
  ASSERT_TRUE(rt::ui::Parse(rt::ui::Serialise(w), &back));
  EXPECT_EQ(back.class_name, "Mine");
  EXPECT_EQ(back.taskbar, 0u);
  EXPECT_EQ(back.topmost, 1u);
}

TEST(PropertyRecords, FieldOrderMatchesTheStoredLayout) {
  struct Case {
    const char* what;
    Bytes data;
    std::function<void(const Bytes&)> check;
  };
  rt::ui::TimerProps t;
  t.interval = 0x01020304;
  rt::ui::ButtonProps b;
  b.default_button = 1;
  b.h_align = 2;
  b.v_align = 0;
  b.caption = "ab";
  rt::ui::EditBoxProps e;
  e.version = 1;
  e.password_char = 0x2A;
  e.content = "c";
  const Case cases[] = {
      {"timer", rt::ui::Serialise(t),
       [](const Bytes& d) { EXPECT_EQ(d, (Bytes{1, 0, 0, 0, 4, 3, 2, 1})); }},
      {"button", rt::ui::Serialise(b),
       [](const Bytes& d) {
         EXPECT_EQ(d, (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0, 0, 2, 0, 0, 0, 'a', 'b'}));
       }},
      // 4 version + 9 words + u16 password character + 6 words + font + content
      {"edit box v1", rt::ui::Serialise(e),
       [](const Bytes& d) {
         ASSERT_EQ(d.size(), 4u + 36 + 2 + 24 + 4 + 5);
         EXPECT_EQ(d[40], 0x2A);
         EXPECT_EQ(d[41], 0);
         EXPECT_EQ(d.back(), 'c');
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.check(c.data);
  }
}

}  // namespace
