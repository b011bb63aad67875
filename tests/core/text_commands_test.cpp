// Text commands: searching, cutting, replacing, splitting, case and blanks.
// Literals in this file compile to GBK, as the program's texts do.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;
using rt::IntArg;
using rt::TextArg;

ArgRecord Call(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r{};
  cmd(&r, static_cast<int>(args.size()), args.data());
  return r;
}
int CallInt(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r = Call(cmd, std::move(args));
  EXPECT_EQ(r.type, rt::kInt);
  return rt::AsInt(r);
}
// Text result as a string; "(null)" stands for the null text. An empty
// result must be null, never an empty block.
std::string Take(const char* t) {
  if (!t) return "(null)";
  EXPECT_NE(t[0], '\0') << "empty result should be null";
  std::string s = t;
  rt::FreeBlock(const_cast<char*>(t));
  return s;
}
std::string CallText(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r = Call(cmd, std::move(args));
  EXPECT_EQ(r.type, rt::kText);
  return Take(rt::AsText(r));
}
std::vector<std::string> CallSplit(std::vector<ArgRecord> args) {
  ArgRecord r = Call(rt::SplitText, std::move(args));
  auto* a = rt::AsPtr<rt::ArrayBlock>(r);
  EXPECT_NE(a, nullptr);  // a real block even with no elements
  std::vector<std::string> out;
  if (!a) return out;
  EXPECT_EQ(a->dims, 1);
  auto** items = static_cast<char**>(rt::ArrayElements(a));
  for (int i = 0; i < a->sizes[0]; ++i) out.push_back(Take(items[i]));
  rt::FreeBlock(a);
  return out;
}
const ArgRecord kOmit = rt::OmittedArg();

TEST(TextSearch, FindTextForwards) {
  struct Case { const char* text; const char* sought; ArgRecord start, ignore; int want; };
  const Case cases[] = {
      {"#引号abc#引号", "#引号", kOmit, kOmit, 1},
      {"#引号abc#引号", "#引号", IntArg(2), kOmit, 9},
      {"#引号abc", "#引号", IntArg(2), kOmit, -1},
      {"abc", "", kOmit, kOmit, 1},
      {"", "", kOmit, kOmit, -1},
      {"abc", "", IntArg(4), kOmit, -1},
      {"abc", "c", IntArg(-5), kOmit, 3},
      {"abc", "abcd", kOmit, kOmit, -1},
      {"xABc", "abc", kOmit, rt::BoolArg(true), 2},
      {"xABc", "abc", kOmit, rt::BoolArg(false), -1},
      {"xABc", "abc", kOmit, IntArg(2), -1},  // only 1 ignores case
      // "\xB0\xA1" is one character: the search never starts on its 2nd byte.
      {"\xB0\xA1\xA1", "\xA1\xA1", kOmit, kOmit, -1},
      {"a\xB0", "\xB0", kOmit, kOmit, 2},  // a lone lead byte at the end
      {"\xB0\x61\x61", "a", kOmit, kOmit, 3},  // the first 'a' is a second byte
      {"\xB0\xB0\xB0\x61", "a", kOmit, kOmit, -1},
      {"x\xB0\xB0\xB0\x61\x61", "a", IntArg(2), kOmit, 6},
      {"abc", "b", TextArg("2"), kOmit, 2},  // a mistyped start reads as absent 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.sought);
    EXPECT_EQ(CallInt(rt::FindText, {TextArg(c.text), TextArg(c.sought), c.start, c.ignore}), c.want);
  }
  EXPECT_EQ(CallInt(rt::FindText, {TextArg("abc")}), 1);  // short call: sought reads empty
}

TEST(TextSearch, FindTextReverseFindsOnlyMatchesEndingBeforeStart) {
  struct Case { const char* text; const char* sought; ArgRecord start; int want; };
  const Case cases[] = {
      {"ab,ab,ab", "ab", kOmit, 7},
      {"ab,ab,ab", "ab", IntArg(8), 4},  // the match at 7 does not fit before 8
      {"ab,ab,ab", "ab", IntArg(9), 7},
      {"ab,ab,ab", "ab", IntArg(1), -1},
      {"ab,ab,ab", "ab", IntArg(0), -1},
      {"ab,ab,ab", "", IntArg(0), -1},
      {"ab,ab,ab", "", kOmit, 1},
      {"ab,ab,ab", "ab", IntArg(100), 7},
      {"\xB0\xA1\xA1", "\xA1\xA1", kOmit, -1},
      {"\xD2\xFD\xBA\xC5x\xD2\xFD\xBA\xC5", "\xBA\xC5", kOmit, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.sought);
    EXPECT_EQ(CallInt(rt::FindTextReverse, {TextArg(c.text), TextArg(c.sought), c.start, kOmit}), c.want);
  }
  EXPECT_EQ(CallInt(rt::FindTextReverse, {TextArg("aBAb"), TextArg("ab"), kOmit, rt::BoolArg(true)}), 3);
}

TEST(TextCutting, LeftRightMidAndLength) {
  struct Case { rt::BuiltinCommand cmd; std::vector<ArgRecord> args; std::string want; };
  const Case cases[] = {
      {rt::LeftText, {TextArg("hello"), IntArg(0)}, "(null)"},
      {rt::LeftText, {TextArg("hello"), IntArg(2)}, "he"},
      {rt::LeftText, {TextArg("hello"), IntArg(99)}, "hello"},
      {rt::LeftText, {TextArg(""), IntArg(3)}, "(null)"},
      {rt::LeftText, {TextArg("\xC4\xE3"), IntArg(1)}, "\xC4"},  // cuts at bytes
      {rt::RightText, {TextArg("hello"), IntArg(3)}, "llo"},
      {rt::RightText, {TextArg("hello"), IntArg(-1)}, "(null)"},
      {rt::RightText, {TextArg("hello"), IntArg(0x7FFFFFFF)}, "hello"},
      {rt::MidText, {TextArg("hello"), IntArg(0), IntArg(3)}, "(null)"},
      {rt::MidText, {TextArg("hello"), IntArg(5), IntArg(10)}, "o"},
      {rt::MidText, {TextArg("hello"), IntArg(6), IntArg(1)}, "(null)"},
      {rt::MidText, {TextArg("hello"), IntArg(2), IntArg(3)}, "ell"},
      {rt::MidText, {TextArg("hello"), IntArg(2), IntArg(0)}, "(null)"},
      {rt::MidText, {TextArg("hello"), IntArg(INT32_MIN), IntArg(3)}, "(null)"},
      {rt::CharText, {IntArg(65)}, "A"},
      {rt::CharText, {IntArg(0x141)}, "A"},
      {rt::CharText, {IntArg(0)}, "(null)"},
      {rt::CharText, {IntArg(256)}, "(null)"},  // low byte 0: no one-terminator block
      {rt::SpaceText, {IntArg(3)}, "   "},
      {rt::SpaceText, {IntArg(0)}, "(null)"},
      {rt::SpaceText, {IntArg(-4)}, "(null)"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(CallText(c.cmd, c.args), c.want);
  }
  EXPECT_EQ(CallInt(rt::TextLengthCmd, {TextArg("年a")}), 3);
  EXPECT_EQ(CallInt(rt::TextLengthCmd, {TextArg(nullptr)}), 0);
  EXPECT_EQ(CallInt(rt::CharCode, {TextArg("\xC4\xE3")}), -60);
  EXPECT_EQ(CallInt(rt::CharCode, {TextArg("ab"), IntArg(2)}), 'b');
  EXPECT_EQ(CallInt(rt::CharCode, {TextArg("ab"), IntArg(3)}), 0);
  EXPECT_EQ(CallInt(rt::CharCode, {TextArg("ab"), IntArg(0)}), 0);
}

TEST(TextReplace, Cases) {
  const ArgRecord kKeepCase = rt::BoolArg(true);
  struct Case { std::vector<ArgRecord> args; std::string want; };
  const Case cases[] = {
      {{TextArg("a#引号b#引号"), TextArg("#引号"), TextArg("\""), kOmit, kOmit, kKeepCase}, "a\"b\""},
      {{TextArg("xaxa"), TextArg("a"), TextArg("b"), kOmit, IntArg(1)}, "xbxa"},
      {{TextArg("axaxa"), TextArg("a"), TextArg("b"), IntArg(2), IntArg(1)}, "axbxa"},
      {{TextArg("xaxa"), TextArg(""), TextArg("b")}, "xaxa"},
      {{TextArg("xaxa"), TextArg("a"), TextArg("b"), kOmit, IntArg(0)}, "xaxa"},
      {{TextArg("xaxa"), TextArg("a"), TextArg("b"), IntArg(5)}, "xaxa"},
      {{TextArg("xaxa"), TextArg("a")}, "xx"},              // replacement omitted
      {{TextArg("aa"), TextArg("a")}, "(null)"},            // empty result is null
      {{TextArg(""), TextArg("a"), TextArg("b")}, "(null)"},
      {{TextArg("xAxa"), TextArg("a"), TextArg("b")}, "xbxb"},  // omitted flag ignores case
      {{TextArg("xAxa"), TextArg("a"), TextArg("b"), kOmit, kOmit, kKeepCase}, "xAxb"},
      {{TextArg("aaaa"), TextArg("aa"), TextArg("b")}, "bb"},
      {{TextArg("aaa"), TextArg("a"), TextArg("bb"), kOmit, IntArg(-7)}, "bbbbbb"},  // any negative: all
      {{TextArg("aaa"), TextArg("a"), TextArg("b"), kOmit, IntArg(0x7FFFFFFF)}, "bbb"},
      {{TextArg("\xB0\xA1\xA1"), TextArg("\xA1\xA1"), TextArg("x")}, "\xB0\xA1\xA1"},
      {{TextArg("a\xB0"), TextArg("\xB0"), TextArg("x")}, "ax"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(CallText(rt::ReplaceSubtext, c.args), c.want);
  }
}

TEST(TextSplit, Cases) {
  using V = std::vector<std::string>;
  struct Case { std::vector<ArgRecord> args; V want; };
  const Case cases[] = {
      {{TextArg("a,,b"), TextArg(",")}, V{"a", "(null)", "b"}},
      {{TextArg("a,b,")}, V{"a", "b"}},
      {{TextArg("")}, V{}},
      {{TextArg("l1\r\nl2\r\nl3"), TextArg("\r\n"), IntArg(2)}, V{"l1", "l2"}},
      {{TextArg("a,b"), TextArg(","), IntArg(0)}, V{}},
      {{TextArg("a,b"), TextArg(","), IntArg(-3)}, V{}},
      {{TextArg("a,b"), TextArg("")}, V{"a,b"}},
      {{TextArg(",a")}, V{"(null)", "a"}},
      {{TextArg("a,b"), TextArg(","), IntArg(5)}, V{"a", "b"}},
      // 0xA1 matches where a character starts, never as the trail of 0xB0A1.
      {{TextArg("\xB0\xA1\xA1x"), TextArg("\xA1")}, V{"\xB0\xA1", "x"}},
      {{TextArg("甲，乙"), TextArg("，")}, V{"甲", "乙"}},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(CallSplit(c.args), c.want);
  }
}

TEST(TextSplit, JoiningThePiecesGivesTheTextBack) {
  // Texts of ASCII, delimiter bytes and whole GBK characters; the join may
  // lack only one delimiter that ended the text.
  std::mt19937 rng(20191017);
  const char* alphabet[] = {"a", ",", "b", "\xA3\xAC", "\xC4\xE3", "\r\n", " "};
  const char* delims[] = {",", "\xA3\xAC", "\r\n", "a,", "\xAC"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int n = rng() % 12; n > 0; --n) text += alphabet[rng() % 7];
    const std::string delim = delims[rng() % 5];
    SCOPED_TRACE(text + " / " + delim);
    std::string joined;
    std::vector<std::string> pieces = CallSplit({TextArg(text.c_str()), TextArg(delim.c_str())});
    for (size_t i = 0; i < pieces.size(); ++i)
      joined += (i ? delim : "") + (pieces[i] == "(null)" ? "" : pieces[i]);
    EXPECT_TRUE(joined == text || joined + delim == text) << joined;
  }
}

TEST(TextCaseAndBlanks, Cases) {
  struct Case { rt::BuiltinCommand cmd; const char* text; std::string want; };
  const Case cases[] = {
      {rt::ToUpperText, "abc年Z", "ABC年Z"},
      {rt::ToUpperText, "\xB0\x61", "\xB0\x61"},  // a trail byte that looks like 'a'
      {rt::ToUpperText, "", "(null)"},
      {rt::ToLowerText, "ABC\xC4\x41x", "abc\xC4\x41x"},
      {rt::TrimBlanks, " \xA1\xA1 a b\xA1\xA1  ", "a b"},
      {rt::TrimBlanks, "   ", "(null)"},
      {rt::TrimBlanks, "\xA1 a", "\xA1 a"},        // 0xA1 0x20 is one character
      {rt::TrimBlanks, "a\xB0\xA1\xA1", "a\xB0\xA1\xA1"},  // trail byte 0xA1 is no blank
      {rt::TrimBlanks, "a\xA1", "a\xA1"},          // lone lead byte kept
      {rt::RemoveAllBlanks, " a\xA1\xA1 b ", "ab"},
      {rt::RemoveAllBlanks, "\xA1\xA1", "(null)"},
      {rt::RemoveAllBlanks, "\xB0\xA1\xA1\xA1", "\xB0\xA1"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(CallText(c.cmd, {TextArg(c.text)}), c.want);
  }
}

}  // namespace
