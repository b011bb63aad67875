// Text commands on GBK texts: searching, cutting, replacing, splitting, case and blanks.
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "tests/core/command_table.h"
#include "tests/fuzz/fuzz_support.h"

using namespace cmdtest;  // Check, T, I
const rt::ArgRecord O = rt::OmittedArg();
const auto F = rt::FindText, R = rt::FindTextReverse, P = rt::ReplaceSubtext, S = rt::SplitText, M = rt::MidText;

// What the text_search fuzz driver leaves out: empty texts, flag values, short calls.
TEST(TextSearch, EmptyTextsFlagValuesAndShortCalls) {
  Check({{F, {T("#" GBK_QUOTE_WORD "abc#" GBK_QUOTE_WORD), T("#" GBK_QUOTE_WORD), I(2), O}, "9"},
         {F, {T("abc"), T(""), O, O}, "1"},                     {F, {T(""), T(""), O, O}, "-1"},
         {F, {T("xABc"), T("abc"), O, rt::BoolArg(true)}, "2"},
         {F, {T("xABc"), T("abc"), O, I(2)}, "-1"},             // only 1 ignores case
         {F, {T("abc")}, "1"},                                  // short call: sought reads empty
         {R, {T("ab,ab,ab"), T("ab"), O, O}, "7"},
         {R, {T("ab,ab,ab"), T("ab"), I(8), O}, "4"},           // the match at 7 does not fit before 8
         {R, {T("ab"), T(""), I(1), O}, "-1"},                  {R, {T("ab"), T(""), I(2), O}, "1"},
         {R, {T(""), T(""), O, O}, "-1"}});
}

// Sought texts past 16 bytes are compared by strncmp after the first 16: near misses at 16, 17, last.
TEST(TextSearch, EveryStartAgainstAPlainReading) {
  const std::string s = "ABCDEFGHIJKLMNOPQRST", text = "ABCDEFGHIJKLMNOPqRST|ABCDEFGHIJKLMNOPQxST|\xB0" + s +
                                                         "|1" + s + "|ABCDEFGHIJKLMNOPQRSx|" + s + "|" + s.substr(0, 18);
  for (const std::string& f : {s, s.substr(0, 16), s.substr(0, 17), "1" + s, std::string("abcdefghijklmnopqrst")})
    for (int ignore = 0; ignore < 2; ++ignore)
      for (int start = -1; start <= static_cast<int>(text.size()) + 2; ++start)
        ASSERT_TRUE(fuzz::SearchesAgree(text, f, start, ignore)) << f << " " << ignore << " " << start;
}

TEST(TextCutting, CutsAtBytesAndClampsCounts) {
  Check({{rt::LeftText, {T("hello"), I(0)}, "(null)"},    {rt::LeftText, {T("\xC4\xE3"), I(1)}, "\xC4"},
         {rt::RightText, {T("hello"), I(-1)}, "(null)"},  {M, {T("hello"), I(5), I(10)}, "o"},
         {M, {T("hello"), I(2), I(3)}, "ell"},             {rt::TextLengthCmd, {T(GBK_YEAR "a")}, "3"},
         {rt::TextLengthCmd, {T(nullptr)}, "0"},           {rt::CharText, {I(0x141)}, "A"},  // the low byte
         {rt::CharText, {I(256)}, "(null)"},  // low byte 0: no one-terminator block
         {rt::CharCode, {T("\xC4\xE3")}, "-60"},           {rt::CharCode, {T("ab"), I(3)}, "0"}});
}

TEST(TextPositions, ExtremeLongAndIntPositionsAndCountsClamp) {
  // Below 1: the start; past the text: nothing; a negative count: all; no overflow.
  const std::pair<rt::ArgRecord, rt::ArgRecord> extremes[] = {
      {rt::LongArg(INT64_MIN), rt::LongArg(INT64_MAX)}, {I(INT32_MIN), I(INT32_MAX)}};
  for (const auto& [lo, hi] : extremes) {
    SCOPED_TRACE(lo.type);  // each pair: the lowest value, then the highest
    Check({{F, {T("abc"), T("a"), lo, O}, "1"},           {F, {T("abc"), T("c"), hi, O}, "-1"},
           {R, {T("abab"), T("ab"), lo, O}, "-1"},        {R, {T("abab"), T("ab"), hi, O}, "3"},
           {P, {T("aa"), T("a"), T("b"), lo}, "bb"},      {P, {T("aa"), T("a"), T("b"), hi}, "aa"},
           {P, {T("aa"), T("a"), T("b"), O, lo}, "bb"},   {P, {T("aa"), T("a"), T("b"), O, hi}, "bb"},
           {M, {T("hello"), lo, I(3)}, "(null)"},         {M, {T("hello"), hi, I(3)}, "(null)"},
           {M, {T("hello"), I(1), lo}, "(null)"},         {M, {T("hello"), I(2), hi}, "ello"},
           {rt::LeftText, {T("hello"), lo}, "(null)"},    {rt::LeftText, {T("hello"), hi}, "hello"},
           {rt::RightText, {T("hello"), lo}, "(null)"},   {rt::RightText, {T("hello"), hi}, "hello"},
           {rt::CharCode, {T("ab"), lo}, "0"},            {rt::CharCode, {T("ab"), hi}, "0"},
           {S, {T("a,b,c"), T(","), lo}, ""},             {S, {T("a,b,c"), T(","), hi}, "a|b|c"},
           {rt::SpaceText, {lo}, "(null)"},               {F, {T("abc"), T(""), hi, O}, "-1"}});
  }
}

TEST(TextReplaceAndSplit, StartCountCaseDelimiterAndMaximum) {
  const rt::ArgRecord keep_case = rt::BoolArg(true);
  Check({{P, {T("a#" GBK_QUOTE_WORD "b#" GBK_QUOTE_WORD), T("#" GBK_QUOTE_WORD), T("\""), O, O, keep_case}, "a\"b\""},
         {P, {T("axaxa"), T("a"), T("b"), I(2), I(1)}, "axbxa"},  {P, {T("xaxa"), T(""), T("b")}, "xaxa"},
         {P, {T("xaxa"), T("a")}, "xx"},                           // replacement omitted
         {P, {T("aa"), T("a")}, "(null)"},                         // empty result is null
         {P, {T("xAxa"), T("a"), T("b")}, "xbxb"},                 // omitted flag ignores case
         {P, {T("xAxa"), T("a"), T("b"), O, O, keep_case}, "xAxb"},
         {P, {T("aaa"), T("a"), T("bb"), O, I(-7)}, "bbbbbb"},     // any negative: all
         {P, {T("\xB0\xA1\xA1"), T("\xA1\xA1"), T("x")}, "\xB0\xA1\xA1"},  {P, {T("a\xB0"), T("\xB0"), T("x")}, "ax"},
         {S, {T("a,,b"), T(",")}, "a|(null)|b"},  {S, {T("a,b,")}, "a|b"},  {S, {T("")}, ""},
         {S, {T("a,b"), T("")}, "a,b"},           // an empty delimiter: one piece
         {S, {T("l1\r\nl2\r\nl3"), T("\r\n"), I(2)}, "l1|l2"},  {S, {T("a,b"), T(","), I(-3)}, ""},
         {S, {T("\xB0\xA1\xA1x"), T("\xA1")}, "\xB0\xA1|x"}});  // 0xA1 only where a character starts
}

TEST(TextCaseAndBlanks, StepOverDoubleByteCharacters) {
  const auto U = rt::ToUpperText, Lo = rt::ToLowerText, Tr = rt::TrimBlanks, X = rt::RemoveAllBlanks;
  Check({{U, {T("abc" GBK_YEAR "Z")}, "ABC" GBK_YEAR "Z"},
         {U, {T("\xB0\x61")}, "\xB0\x61"},  // a trail byte that looks like 'a'
         {Lo, {T("ABC\xC4\x41x")}, "abc\xC4\x41x"},  {Tr, {T(" \xA1\xA1 a b\xA1\xA1  ")}, "a b"},
         {Tr, {T("   ")}, "(null)"},                 {Tr, {T("\xA1 a")}, "\xA1 a"},  // 0xA1 0x20 is one character
         {Tr, {T("a\xB0\xA1\xA1")}, "a\xB0\xA1\xA1"},  // trail byte 0xA1 is no blank
         {X, {T(" a\xA1\xA1 b ")}, "ab"},            {X, {T("\xB0\xA1\xA1\xA1")}, "\xB0\xA1"}});
}
