// The rows a DllCommandTable is made of. Each program-side library and each
// program keeps the rows of the platform functions it calls in one constexpr
// table beside its own code (web/web_dll.h, json/json_dll.h, precise/
// dll_table.h); a program assembles its DllCommandTable from those tables at
// compile time (JoinDllRows) and hands the name arrays to the Runtime in its
// program image. The Runtime binds each entry on its first call
// (runtime/dll).
// Owns: nothing; constant data only.
// May call: nothing; header-only and portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/table_rows.h"

namespace prog {

// A pointer as the 32-bit argument word an entry's call pushes.
inline uint32_t W(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// One DLL command. Every command is stdcall and pushes `words` 32-bit
// argument words: the call's stack check and the test build's fault stubs
// (app/probe_faults.cpp) rely on the count. An empty library name lets the
// Runtime try its list of system libraries.
struct DllRow {
  int command;  // the index in the program's DllCommandTable
  const char* library;
  const char* name;
  int words;
};

// Whether `rows` hold commands first, first + 1, ... in that order: ids
// dense and unique, one row per id.
template <std::size_t N>
constexpr bool RowsDense(const DllRow (&rows)[N], int first) {
  return rt::RowsInKeyOrder(rows, &DllRow::command, first);
}

// A program's whole DllCommandTable: its rows and the two name arrays the
// program image carries, entry i of each for command i.
template <std::size_t N>
struct DllTable {
  static constexpr int kCount = static_cast<int>(N);
  DllRow rows[N];
  const char* libraries[N];
  const char* functions[N];
  // Every row sits at its own command number.
  constexpr bool Dense() const { return RowsDense(rows, 0); }
};

// The tables `parts` one after the other.
template <std::size_t... M>
constexpr DllTable<(M + ...)> JoinDllRows(const DllRow (&... parts)[M]) {
  DllTable<(M + ...)> out{};
  std::size_t at = 0;
  auto append = [&](const DllRow* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++at) {
      out.rows[at] = rows[i];
      out.libraries[at] = rows[i].library;
      out.functions[at] = rows[i].name;
    }
  };
  (append(parts, M), ...);
  return out;
}

}  // namespace prog
