// Checks and look-ups for constexpr tables whose rows are indexed by a key
// (a reason code, a decision, a command id): one row per key, in key order,
// so that a row is found by indexing and a missing or misplaced row fails
// the build instead of showing the wrong text or calling the wrong command.
// Header-only and portable: no platform header, so program-side code and the
// native tests may use it too.
#pragma once

#include <cstddef>

namespace rt {

// Whether rows[i].*key == first + i for every row.
template <typename Row, std::size_t N, typename Key>
constexpr bool RowsInKeyOrder(const Row (&rows)[N], Key Row::*key, long long first = 0) {
  for (std::size_t i = 0; i < N; ++i)
    if (static_cast<long long>(rows[i].*key) != first + static_cast<long long>(i)) return false;
  return true;
}

// The row at `index`, or the `fallback` row for an index the table does not
// have (a code from a newer producer than the table).
template <typename Row, std::size_t N>
constexpr const Row& RowOr(const Row (&rows)[N], std::size_t index, std::size_t fallback) {
  return index < N ? rows[index] : rows[fallback];
}

}  // namespace rt
