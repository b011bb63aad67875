#include "precise/dll_table.h"

namespace precise {
namespace {

struct Names {
  const char* libraries[kDllCommandCount];
  const char* functions[kDllCommandCount];
};

// Built on first use: the engine's rows are constant data of its own
// library, so they are in place before any constructor runs.
const Names& Table() {
  static const Names names = [] {
    Names n{};
    for (int i = 0; i < measure::kPlatformCommandCount; ++i) {
      n.libraries[i] = measure::kPlatformFunctions[i].library;
      n.functions[i] = measure::kPlatformFunctions[i].name;
    }
    for (const prog::DllRow& row : kOwnCommands) {
      n.libraries[row.command] = row.library;
      n.functions[row.command] = row.name;
    }
    return n;
  }();
  return names;
}

}  // namespace

const char* const* DllLibraryNames() { return Table().libraries; }
const char* const* DllFunctionNames() { return Table().functions; }

}  // namespace precise
