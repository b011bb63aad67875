// The core command tests' table: each row calls a command and compares the result as shown: an Int in
// decimal, a Text or ByteSet as its bytes, an array of texts (always a block, even empty) as its items
// joined by '|', a null block as "(null)". Results are freed; an empty text or byte set must be null.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/core/memory.h"
#include "tests/support/command_call.h"

namespace cmdtest {

inline std::string Shown(const rt::ArgRecord& r) {
  if (r.type == rt::kInt) return std::to_string(rt::AsInt(r));
  if (r.type == (rt::kText | rt::kByRefOrArrayBit)) {
    auto* a = rt::AsPtr<rt::ArrayBlock>(r);
    if (!a || a->dims != 1) return "(no array)";
    std::string out;
    auto** items = static_cast<char**>(rt::ArrayElements(a));
    for (int i = 0; i < a->sizes[0]; ++i) out += (i ? "|" : "") + Shown(rt::TextArg(items[i]));
    return rt::FreeBlock(a), out;
  }
  if (r.type != rt::kText && r.type != rt::kByteSet) return "(type " + std::to_string(r.type) + ")";
  auto* b = rt::AsPtr<rt::ByteSetBlock>(r);
  if (!b) return "(null)";
  EXPECT_TRUE(r.type == rt::kText || b->dims == 1);
  const std::string s = r.type == rt::kText ? std::string(rt::AsText(r))
                        : std::string(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->length));
  rt::FreeBlock(b);
  EXPECT_NE(s, "") << "empty result should be null";
  return s;
}

struct Row { rt::BuiltinCommand cmd; std::vector<rt::ArgRecord> args; std::string want; };
inline void Check(const std::vector<Row>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(Shown(testsupport::CallCommand(rows[i].cmd, rows[i].args)), rows[i].want);
  }
}

inline rt::ArgRecord T(const char* t) { return rt::TextArg(t); }
inline rt::ArgRecord I(int32_t v) { return rt::IntArg(v); }

}  // namespace cmdtest
