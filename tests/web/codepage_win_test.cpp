// Code-page conversion through DLL entries 8 and 9; the ANSI code page is 936.
#include <gtest/gtest.h>

#include <string>

#include "tests/web/web_test_support.h"
#include "web/codepage.h"

namespace {

using webtest::S;
int Unit(const prog::OwnedBytes& b, int i) { return b.get()->data[2 * i] | b.get()->data[2 * i + 1] << 8; }

class CodePage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { webtest::LoadProgramDllTable(); }
};

TEST_F(CodePage, Utf8ToAnsi) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xE4\xB8\xAD", "\xD6\xD0"},
      {"\xF0\x9F\x98\x80", "??"},  // not in GBK
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(S(web::Utf8ToAnsi(c.first.c_str())), c.second);
  }
  EXPECT_EQ(web::Utf8ToAnsi(static_cast<const char*>(nullptr)).get(), nullptr);
}

TEST_F(CodePage, InvalidUtf8ConvertsWithoutRunningShort) {
  // Each invalid byte is one replacement unit, more than the bytes' worth.
  const char* in = "\xFF\xFE\xD6\xD0" "abc\xE4\xB8";
  prog::OwnedBytes units = web::MultiByteToUtf16(in);
  ASSERT_NE(units.get(), nullptr);
  const int32_t n = units.get()->length;
  ASSERT_GE(n, 2);
  EXPECT_EQ(Unit(units, n / 2 - 1), 0) << "ends with a zero unit";
  EXPECT_NE(web::Utf8ToAnsi(in).get(), nullptr);
  EXPECT_EQ(Unit(web::MultiByteToUtf16("\xD6\xD0"), 0), 0xFFFD);
}

TEST_F(CodePage, Utf16StopsAtTheZeroUnitOrTheBlockEnd) {
  prog::OwnedBytes units = web::MultiByteToUtf16("\xD6\xD0", 936);
  ASSERT_NE(units.get(), nullptr);
  EXPECT_EQ(Unit(units, 0), 0x4E2D);
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get())), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get(), 65001)), "\xE4\xB8\xAD");
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("A\0\0\0B\0", 6)).get())), "A");
  // Six units and an odd byte, no zero unit: never read past the block.
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("a\0b\0c\0d\0e\0f\0g", 13)).get())), "abcdef");
  EXPECT_EQ(web::Utf16ToMultiByte(nullptr).get(), nullptr);
}

}  // namespace
