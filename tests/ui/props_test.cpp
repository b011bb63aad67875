// Component property records: each layout and version round-trips, older
// versions keep the defaults of the fields they lack, bytes after the fields
// are ignored, and data too short or of a version above the component's is
// refused. Field order against
// the writer is checked by template_reader_test.
#include <gtest/gtest.h>

#include <typeinfo>

#include "runtime/core/gbk_text.h"
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
  for (size_t extra : {1u, 7u}) {  // a newer writer's bytes after the fields: ignored
    Bytes longer = data;
    longer.insert(longer.end(), extra, 0xEE);
    P read;
    ASSERT_TRUE(rt::ui::Parse(longer, &read)) << extra;
    EXPECT_EQ(rt::ui::Serialise(read), data);
  }
  data[0] = static_cast<uint8_t>(P::kMaxVersion + 1);
  EXPECT_FALSE(rt::ui::Parse(data, &back));
}

TEST(PropertyRecords, EveryLayoutAndVersionRoundTrips) {
  rt::ui::TimerProps t;
  t.interval = 1000;
  ExpectRoundTrip(t, 1);
  rt::ui::ButtonProps b;
  b.font = Bytes(60, 7);
  ExpectRoundTrip(b, 1);
  ExpectRoundTrip(rt::ui::GroupBoxProps{}, 1);
  rt::ui::LabelProps l;
  l.extra_b = "x";
  rt::ui::EditBoxProps e;
  e.content = "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND;
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

}  // namespace
