// What may be pasted into the JSON object's scripts: one well-formed JSON
// value, a member path, or a plain single-quoted string. Nothing else.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "json/json_validate.h"

namespace {

void Check(bool (*accepts)(const char*), std::initializer_list<std::pair<const char*, bool>> cases) {
  for (const auto& c : cases) EXPECT_EQ(accepts(c.first), c.second) << c.first;
}

TEST(IsSafeJson, AcceptsExactlyOneJsonValue) {
  // (ASCII texts: the json_checks corpus, replayed against RapidJSON.)
  Check(json::IsSafeJson, {
      {"null", true},                  // (a reply the object refuses; a key the engine refuses)
      {"\"\xd6\xd0\xce\xc4\"", true},  // GBK inside a string
      {"5e-3323333333333", false},     // an exponent the engine would read for good
      {"\"\xd6\"", false},             // lead byte without its second byte
      {"\"\x95\x5c\"", true},          // one character: its second byte is no backslash
      {"[\"\xa9\x5c\",\"\x80\"]", true},  // U+2010 and the euro sign
      {"\"\xff\"", false}, {"\"\x81\x7f\"", false}, {"\"\x81\x22", false},  // unreadable bytes
      {"\xd6\xd0", false},             // GBK outside a string
  });
  EXPECT_FALSE(json::IsSafeJson(nullptr));
  EXPECT_FALSE(json::IsSafeJson(nullptr, 4));
  EXPECT_FALSE(json::IsSafeJson("1\0 2", 4));  // an embedded NUL is not JSON
}

TEST(IsSafeJson, BoundsDepthAndSize) {
  // (512 and 513 deep: the json_checks corpus.) No recursion to overflow:
  EXPECT_FALSE(json::IsSafeJson((std::string(100000, '[') + std::string(100000, ']')).c_str()));
  std::string big = "\"" + std::string(json::kMaxJsonBytes - 2, 'x') + "\"";
  EXPECT_TRUE(json::IsSafeJson(big.c_str()));
  EXPECT_FALSE(json::IsSafeJson(big.insert(1, "x").c_str()));
}

TEST(IsMemberPath, NamesAndSubscriptsOnly) {
  Check(json::IsMemberPath, {
      {"sysTime2", true}, {"a.b", true}, {"list[2]", true}, {"[0]", true}, {"a[\"x y\"]", true},
      {"a['q'].b_$1", true}, {"\xc3\xfb\xd7\xd6", true},  // a GBK name
      {"", false}, {"a.", false}, {"1a", false}, {"a;b", false}, {"a[b]", false}, {"a()", false},
      {"a[\"\\\"]", false}, {"a b", false}, {"a[1", false}, {"a=1", false}, {"a\n", false},
      {"a[\"\x95\x5c\"]", true}, {"\xa4\xa2\xa5\xa2", true},  // a pair ending in 0x5C quoted; kana
      // Only letters may be name characters: no blank, digit or sign of any width.
      {"x\xa1\xa1" "in\xa1\xa1" "delete\xa1\xa1" "da.a", false},  // ideographic spaces
      {"\xa3\xb1", false}, {"a\xa3\xab", false}, {"a\x80", false}, {"a\xa1\xa2", false},
      {"a\xaa\xa1", false},  // user-defined (private use)
  });
}

TEST(GbkCharLength, LeadAndSecondByteEdgesAndTheNameTable) {
  // Code page 936: up to 0x80 alone (the euro sign); a lead byte 0x81..0xFE with a second
  // 0x40..0x7E or 0x80..0xFE; 0xFF never. Name characters: ends of the table's first and last ranges.
  struct Case { unsigned char lead, second; size_t length; bool name; };
  const Case cases[] = {
      {0x7E, 0x40, 1, false}, {0x7F, 0x40, 1, false}, {0x80, 0x40, 1, false}, {0xFF, 0x40, 0, false},
      {0x81, 0x3F, 0, false}, {0x81, 0x40, 2, true}, {0x81, 0x7E, 2, true}, {0x81, 0x7F, 0, false},
      {0x81, 0x80, 2, true}, {0x81, 0xFE, 2, true}, {0x81, 0xFF, 0, false}, {0xA0, 0xFE, 2, true},
      {0xA1, 0x40, 2, false}, {0xFE, 0x40, 2, true}, {0xFE, 0x4F, 2, true}, {0xFE, 0x50, 2, false},
      {0xFE, 0x7F, 0, false}, {0xFE, 0xFE, 2, false}, {0xFE, 0xFF, 0, false},
  };
  for (const Case& c : cases) {
    const char pair[3] = {static_cast<char>(c.lead), static_cast<char>(c.second), 0};
    SCOPED_TRACE(testing::Message() << std::hex << int{c.lead} << " " << int{c.second});
    EXPECT_EQ(json::GbkCharLength(reinterpret_cast<const unsigned char*>(pair)), c.length);
    EXPECT_EQ(json::IsMemberPath(pair), c.name);
  }
}

TEST(IsPlainQuotable, StaysInsideSingleQuotes) {
  Check(json::IsPlainQuotable, {
      {"", true}, {"plain text, \"double\" quotes", true}, {"\xd6\xd0", true},
      {"\x95\x5c\x80", true},  // one character and the euro sign
      {"it's", false}, {"back\\slash", false}, {"two\nlines", false}, {"\xff", false}, {"\x81'", false},
  });
}

}  // namespace
