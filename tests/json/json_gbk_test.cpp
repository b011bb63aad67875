// The checks read texts as the engine's conversion reads them: every byte
// and byte pair against the platform's code page 936, every name character
// against the script engine itself. (Replies, keys and values holding the
// euro sign and pairs ending in 0x5C go through the object in
// json_differential_tests.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json_validate.h"
#include "tests/json/json_test_env.h"

namespace {

// Characters in the first n bytes as the checker reads them (a zero byte
// after them), or 0 when it refuses one.
int CheckerCharacters(const unsigned char* text, int n) {
  int characters = 0;
  for (int i = 0; i < n; ++characters) {
    const int length = static_cast<int>(json::GbkCharLength(text + i));
    if (length == 0 || i + length > n) return 0;
    i += length;
  }
  return characters;
}

TEST(GbkReading, EveryByteAndPairReadsAsTheCodePageConversionReadsIt) {
  int mismatches = 0, pairs = 0;
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {  // b = -1: the byte alone
      const unsigned char bytes[3] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b < 0 ? 0 : b)};
      const int n = b < 0 ? 1 : 2;
      wchar_t first[4] = {};  // the platform's conversion; 0 characters: it refuses the bytes
      const int platform =
          MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), n, first, 4);
      const int checker = CheckerCharacters(bytes, n);
      if (checker != platform && ++mismatches <= 10)
        ADD_FAILURE() << std::hex << a << " " << b << ": checker " << checker << ", platform " << platform;
      // A pair read as one character is never a quote, backslash or other
      // ASCII character to the engine.
      if (n == 2 && platform == 1) {
        ++pairs;
        EXPECT_GE(first[0], 0x80) << std::hex << a << " " << b;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(pairs, 23940);  // every two-byte character of the code page
}

class GbkThroughTheEngine : public jsontest::ObjectTest {
 protected:
  // True when every name is read as exactly that name: each is assigned as
  // a member (d.name=1, which only a single identifier can stand in), the
  // object then holds exactly those members, each under its own name (the
  // prelude's additions to every object are not counted).
  bool AllReadAsNames(const std::vector<std::string>& names) {
    std::string assign, check;
    for (const std::string& name : names) {
      assign += "d." + name + "=1;";
      check += "&&('" + name + "' in d)";
    }
    return rt::AsInt(jsontest::Script(o_, rt::CallMethodBool, "Eval", "(function(){var d={},n=0,k;" + assign +
                                      "for(k in d)if(d.hasOwnProperty(k))n++;return n==" +
                                      std::to_string(names.size()) + check + ";})()")) != 0;
  }
};

TEST_F(GbkThroughTheEngine, EveryNameCharacterTheCheckerAcceptsIsAnIdentifierCharacter) {
  // Each accepted pair as a whole name and after a first letter.
  std::vector<std::string> names;
  int accepted = 0;
  for (int a = 0x81; a < 0xFF; ++a) {
    for (int b = 0x40; b < 0xFF; ++b) {
      const std::string pair = {static_cast<char>(a), static_cast<char>(b)};
      const bool alone = json::IsMemberPath(pair.c_str()), after = json::IsMemberPath(("x" + pair).c_str());
      EXPECT_EQ(alone, after) << std::hex << a << " " << b;  // no pair is a digit
      if (!alone && !after) continue;
      ++accepted;
      names.push_back(pair);
      names.push_back("x" + pair);
    }
  }
  EXPECT_GT(accepted, 21000);  // the ideographs at least
  const size_t kBatch = 6000;
  for (size_t from = 0; from < names.size(); from += kBatch) {
    const std::vector<std::string> batch(names.begin() + static_cast<long>(from),
                                         names.begin() + static_cast<long>(std::min(from + kBatch, names.size())));
    if (AllReadAsNames(batch)) continue;
    int shown = 0;  // find the culprits one by one, only on failure
    for (const std::string& name : batch)
      if (!AllReadAsNames({name}) && ++shown <= 10)
        ADD_FAILURE() << "not one identifier to the engine: " << std::hex
                      << (static_cast<unsigned char>(name[name.size() - 2]) << 8 | static_cast<unsigned char>(name.back()));
  }
  // The probe itself tells blanks from names: the ideographic space is no name.
  EXPECT_FALSE(AllReadAsNames({"x\xA1\xA1y"}));
}

}  // namespace
