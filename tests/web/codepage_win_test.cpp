// Code-page conversion through DLL entries 8 and 9, on a system whose ANSI
// code page is 936.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/core/program_calls.h"
#include "tests/web/web_test_support.h"
#include "web/codepage.h"

namespace {

using web::OwnedBytes;
using web::OwnedText;

std::string S(const OwnedText& t) { return t.get() ? std::string(t.get()) : std::string(); }
OwnedBytes Bytes(const std::string& s) {
  auto* b = static_cast<rt::ByteSetBlock*>(prog::Allocate(static_cast<uint32_t>(8 + s.size())));
  b->dims = 1;
  b->length = static_cast<int32_t>(s.size());
  std::memcpy(b->data, s.data(), s.size());
  return OwnedBytes(b);
}

class CodePage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { webtest::SetUpProgram(); }
};

TEST_F(CodePage, Utf8ToAnsi) {
  struct Case {
    const char* name;
    std::string utf8, gbk;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"ascii", "{\"sysTime2\":\"2019-10-17 12:33:29\"}", "{\"sysTime2\":\"2019-10-17 12:33:29\"}"},
      {"U+4E2D", "\xE4\xB8\xAD", "\xD6\xD0"},
      {"mixed", "a\xE4\xB8\xAD\xE6\x96\x87z", "a\xD6\xD0\xCE\xC4z"},
      {"not in GBK", "\xF0\x9F\x98\x80", "??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(S(web::Utf8ToAnsi(c.utf8.c_str())), c.gbk);
  }
  EXPECT_EQ(web::Utf8ToAnsi(static_cast<const char*>(nullptr)).get(), nullptr);
}

TEST_F(CodePage, InvalidUtf8ConvertsWithoutRunningShort) {
  // D6 D0 is one character in code page 936 but three units' worth of
  // replacement characters... in UTF-8 each invalid byte is one unit.
  const char* inputs[] = {"\xD6\xD0", "\xFF\xFE\xD6\xD0" "abc\xE4\xB8", "\x80\x80\x80\x80\x80", "\xE4\xB8"};
  for (const char* in : inputs) {
    SCOPED_TRACE(in);
    OwnedBytes units = web::MultiByteToUtf16(in);
    ASSERT_NE(units.get(), nullptr);
    const int32_t n = units.get()->length;
    ASSERT_GE(n, 2);
    EXPECT_EQ(n % 2, 0);
    EXPECT_EQ(units.get()->data[n - 1] | units.get()->data[n - 2], 0) << "ends with a zero unit";
    OwnedText text = web::Utf8ToAnsi(in);
    EXPECT_NE(text.get(), nullptr);
  }
  OwnedBytes units = web::MultiByteToUtf16("\xD6\xD0");
  EXPECT_EQ(units.get()->data[0] | (units.get()->data[1] << 8), 0xFFFD);
}

TEST_F(CodePage, Utf16HalvesWithCodePages) {
  OwnedBytes units = web::MultiByteToUtf16("\xD6\xD0", 936);
  ASSERT_NE(units.get(), nullptr);
  EXPECT_EQ(units.get()->data[0] | (units.get()->data[1] << 8), 0x4E2D);
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get())), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get(), 65001)), "\xE4\xB8\xAD");
  // Units after a zero unit are not part of the text.
  OwnedBytes two = Bytes(std::string("A\0\0\0B\0", 6));
  EXPECT_EQ(S(web::Utf16ToMultiByte(two.get())), "A");
}

TEST_F(CodePage, Utf16WithoutZeroUnitIsNeverReadPast) {
  // Six units and an odd byte, no terminator: the conversion must stop at
  // the block's end.
  OwnedBytes units = Bytes(std::string("a\0b\0c\0d\0e\0f\0g", 13));
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get())), "abcdef");
  EXPECT_EQ(web::Utf16ToMultiByte(nullptr).get(), nullptr);
  OwnedBytes zero = Bytes(std::string("\0\0", 2));
  EXPECT_EQ(web::Utf16ToMultiByte(zero.get()).get(), nullptr);
}

}  // namespace
