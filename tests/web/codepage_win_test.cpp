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

TEST_F(CodePage, Utf8AnsiAndUtf16) {
  EXPECT_EQ(S(web::Utf8ToAnsi("\xE4\xB8\xAD")), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf8ToAnsi("\xF0\x9F\x98\x80")), "??");  // not in GBK
  EXPECT_EQ(web::Utf8ToAnsi(static_cast<const char*>(nullptr)).get(), nullptr);
  prog::OwnedBytes units = web::MultiByteToUtf16("\xD6\xD0", 936);
  ASSERT_NE(units.get(), nullptr);
  EXPECT_EQ(Unit(units, 0), 0x4E2D);
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get())), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get(), 65001)), "\xE4\xB8\xAD");
  EXPECT_EQ(web::Utf16ToMultiByte(nullptr).get(), nullptr);
}

TEST_F(CodePage, InvalidTextAndUnendedBlocksConvertWithoutRunningShortOrPast) {
  // Each invalid byte is one replacement unit, more than the bytes' worth.
  const char* in = "\xFF\xFE\xD6\xD0" "abc\xE4\xB8";
  prog::OwnedBytes units = web::MultiByteToUtf16(in);
  ASSERT_NE(units.get(), nullptr);
  const int32_t n = units.get()->length;
  ASSERT_GE(n, 2);
  EXPECT_EQ(Unit(units, n / 2 - 1), 0) << "ends with a zero unit";
  EXPECT_NE(web::Utf8ToAnsi(in).get(), nullptr);
  EXPECT_EQ(Unit(web::MultiByteToUtf16("\xD6\xD0"), 0), 0xFFFD);
  // UTF-16 stops at the zero unit, or at the block's end: six units and an
  // odd byte, no zero unit, never read past the block.
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("A\0\0\0B\0", 6)).get())), "A");
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("a\0b\0c\0d\0e\0f\0g", 13)).get())), "abcdef");
}

}  // namespace
