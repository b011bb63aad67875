// Bounded random-input driver for the window template reader and the
// component property records.
//
// Inputs are mutations of a small committed corpus (blocks written by
// tools/rtwin.py), drawn from a fixed seed so a failure repeats. Each input
// lives in an exactly sized heap block, so AddressSanitizer sees any read
// past its end. Beyond not crashing, every accepted block must hold up: ids
// valid and unique, parent chains ending, handlers relocated, and every
// property record that parses writing back to the same bytes.
//
// Usage: ui_template_fuzz CORPUS_DIR [SECONDS] [MAX_ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/ui/props.h"
#include "runtime/ui/templates.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uintptr_t kBase = 0x10000000;

[[noreturn]] void Fail(const char* what, size_t round) {
  std::fprintf(stderr, "FAIL round %zu: %s\n", round, what);
  std::abort();
}

template <typename P>
void CheckProps(const Bytes& data, size_t round) {
  P p;
  if (!rt::ui::Parse(data, &p)) return;
  if (rt::ui::Serialise(p) != data) Fail("property record does not write back to its bytes", round);
}

void Check(const rt::ui::TemplateSet& set, size_t round) {
  for (size_t i = 0; i < set.size(); ++i) {
    const rt::ui::WindowTemplate& w = set.at(i);
    if (!rt::ui::IsValidId(w.window_id)) Fail("accepted an invalid window id", round);
    if (set.Find(w.window_id) != &w) Fail("window lookup misses", round);
    if (w.units.empty()) Fail("accepted a window without units", round);
    for (size_t k = 0; k < w.units.size(); ++k) {
      const rt::ui::UnitRecord& u = w.units[k];
      if (!rt::ui::IsValidId(u.unit_id)) Fail("accepted an invalid unit id", round);
      if (w.IndexOf(u.unit_id) != static_cast<int>(k)) Fail("duplicate unit id accepted", round);
      for (const auto& e : u.events)
        if (e.handler != 0 && e.handler < kBase) Fail("handler not relocated", round);
      size_t steps = 0;
      for (uint32_t p = u.parent_id; p != 0 && !u.menu_item; ++steps) {
        if (steps > w.units.size()) Fail("parent chain loops", round);
        const rt::ui::UnitRecord* parent = w.FindUnit(p);
        if (!parent) Fail("parent not in the window", round);
        p = parent->menu_item ? 0 : parent->parent_id;
      }
      switch (u.type_id) {
        case rt::ui::kTypeWindow: CheckProps<rt::ui::WindowProps>(u.property_data, round); break;
        case rt::ui::kTypeEditBox: CheckProps<rt::ui::EditBoxProps>(u.property_data, round); break;
        case rt::ui::kTypeLabel: CheckProps<rt::ui::LabelProps>(u.property_data, round); break;
        case rt::ui::kTypeButton: CheckProps<rt::ui::ButtonProps>(u.property_data, round); break;
        case rt::ui::kTypeGroupBox: CheckProps<rt::ui::GroupBoxProps>(u.property_data, round); break;
        case rt::ui::kTypeTimer: CheckProps<rt::ui::TimerProps>(u.property_data, round); break;
        default: break;
      }
    }
  }
}

Bytes Mutate(const std::vector<Bytes>& corpus, std::mt19937& rng) {
  Bytes b = corpus[rng() % corpus.size()];
  int edits = 1 + static_cast<int>(rng() % 4);
  static const uint32_t kWords[] = {0, 1, 4, 8, 0xFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFC,
                                    0x06010000, 0x16010002, 0x52010001};
  for (int e = 0; e < edits && !b.empty(); ++e) {
    size_t at = rng() % b.size();
    switch (rng() % 7) {
      case 0: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: b[at] = static_cast<uint8_t>(rng()); break;
      case 2: b.resize(at); break;  // cut
      case 3: b.insert(b.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
      case 4: b.erase(b.begin() + static_cast<long>(at)); break;
      case 5: {  // an interesting word at an aligned place (lengths, counts, ids)
        at &= ~size_t{3};
        uint32_t v = kWords[rng() % std::size(kWords)];
        for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        break;
      }
      default: {  // splice a piece of another input
        const Bytes& o = corpus[rng() % corpus.size()];
        if (o.empty()) break;
        size_t from = rng() % o.size(), n = rng() % 64;
        n = std::min(n, o.size() - from);
        b.insert(b.begin() + static_cast<long>(at), o.begin() + static_cast<long>(from),
                 o.begin() + static_cast<long>(from + n));
        break;
      }
    }
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [SECONDS] [MAX_ROUNDS]\n", argv[0]);
    return 2;
  }
  double seconds = argc > 2 ? std::atof(argv[2]) : 10;
  size_t max_rounds = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2000000;
  std::vector<Bytes> corpus;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (corpus.empty()) {
    std::fprintf(stderr, "empty corpus\n");
    return 2;
  }
  rt::ui::TemplateSet set;
  // The corpus itself must load.
  for (const Bytes& b : corpus) {
    if (!set.Load(b.data(), b.size(), kBase)) Fail("a corpus block is refused", 0);
    Check(set, 0);
  }
  std::mt19937 rng(20191017);
  auto start = std::chrono::steady_clock::now();
  size_t rounds = 0, accepted = 0;
  while (rounds < max_rounds) {
    Bytes input = Mutate(corpus, rng);
    // Exactly sized, so a read past the end is caught.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size() ? input.size() : 1]);
    if (!input.empty()) std::memcpy(exact.get(), input.data(), input.size());
    if (set.Load(exact.get(), input.size(), kBase)) {
      ++accepted;
      Check(set, rounds);
    } else if (set.size() != 0) {
      Fail("a refused block left windows behind", rounds);
    }
    ++rounds;
    if ((rounds & 255) == 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds)
      break;
  }
  std::printf("ui_template_fuzz: %zu rounds, %zu blocks accepted\n", rounds, accepted);
  return 0;
}
