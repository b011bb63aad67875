// Calls a built-in command as the entry table's slot 3 does: a fresh result, mutable arguments in order.
#pragma once

#include <vector>

#include "runtime/core/value.h"

namespace testsupport {

inline rt::ArgRecord CallCommand(rt::BuiltinCommand cmd, std::vector<rt::ArgRecord> args) {
  rt::ArgRecord r{};
  cmd(&r, static_cast<int>(args.size()), args.data());
  return r;
}

}  // namespace testsupport
