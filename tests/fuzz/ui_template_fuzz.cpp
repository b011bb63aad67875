// Bounded random-input driver for the window template reader and the
// component property records: mutations of the blocks in CORPUS_DIR (written
// by tools/rtwin.py) from a fixed seed, each in an exactly sized heap block so
// ASan sees any read past its end. An accepted block must have valid unique
// ids, ending parent chains, relocated handlers and property records that
// write back to the same bytes; a refused one must leave the set empty.
// Usage: ui_template_fuzz CORPUS_DIR [SECONDS] [MAX_ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "runtime/ui/props.h"
#include "runtime/ui/templates.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uintptr_t kBase = 0x10000000;
size_t g_round = 0;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FAIL round %zu: %s\n", g_round, what);
  std::abort();
}

template <typename... P>
void CheckProps(const Bytes& data) {  // every layout, whatever the unit's type
  auto one = [&](auto p) {
    if (!rt::ui::Parse(data, &p)) return;
    // The fields write back as they were read; bytes after them are ignored.
    const Bytes back = rt::ui::Serialise(p);
    Require(back.size() <= data.size() && std::equal(back.begin(), back.end(), data.begin()),
            "property record does not write back");
  };
  (one(P{}), ...);
}

void Check(const rt::ui::TemplateSet& set) {
  for (size_t i = 0; i < set.size(); ++i) {
    const rt::ui::WindowTemplate& w = set.at(i);
    Require(rt::ui::IsValidId(w.window_id) && set.Find(w.window_id) == &w && !w.units.empty(), "window");
    for (size_t k = 0; k < w.units.size(); ++k) {
      const rt::ui::UnitRecord& u = w.units[k];
      Require(rt::ui::IsValidId(u.unit_id) && w.IndexOf(u.unit_id) == static_cast<int>(k), "unit id");
      for (const auto& e : u.events) Require(e.handler == 0 || e.handler >= kBase, "handler not relocated");
      size_t steps = 0;
      for (uint32_t p = u.parent_id; p != 0 && !u.menu_item; ++steps) {
        const rt::ui::UnitRecord* parent = w.FindUnit(p);
        Require(steps <= w.units.size() && parent, "parent chain loops or leaves the window");
        p = parent->menu_item ? 0 : parent->parent_id;
      }
      CheckProps<rt::ui::WindowProps, rt::ui::EditBoxProps, rt::ui::LabelProps, rt::ui::ButtonProps,
                 rt::ui::GroupBoxProps, rt::ui::TimerProps>(u.property_data);
    }
  }
}

// 1 to 4 edits: flip a byte, cut, insert, erase, a telling word at an aligned
// place (lengths, counts, ids), or a piece of another input.
Bytes Mutate(const std::vector<Bytes>& corpus, std::mt19937& rng) {
  static const uint32_t kWords[] = {0, 1, 8, 0x7FFFFFFF, 0xFFFFFFFF, 0x06010000, 0x16010002, 0x52010001};
  Bytes b = corpus[rng() % corpus.size()];
  for (int e = 1 + static_cast<int>(rng() % 4); e > 0 && !b.empty(); --e) {
    size_t at = rng() % b.size();
    auto pos = b.begin() + static_cast<long>(at);
    switch (rng() % 6) {
      case 0: b[at] = static_cast<uint8_t>(rng()); break;
      case 1: b.resize(at); break;
      case 2: b.insert(pos, static_cast<uint8_t>(rng())); break;
      case 3: b.erase(pos); break;
      case 4: {
        uint32_t v = kWords[rng() % std::size(kWords)];
        for (size_t i = at & ~size_t{3}, k = 0; k < 4 && i < b.size(); ++i, ++k) b[i] = static_cast<uint8_t>(v >> (8 * k));
        break;
      }
      default: {
        const Bytes& o = corpus[rng() % corpus.size()];
        size_t from = rng() % o.size(), n = std::min<size_t>(rng() % 64, o.size() - from);
        b.insert(pos, o.begin() + static_cast<long>(from), o.begin() + static_cast<long>(from + n));
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
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
  const size_t max_rounds = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2000000;
  std::vector<Bytes> corpus;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  rt::ui::TemplateSet set;
  Require(!corpus.empty(), "empty corpus");
  for (const Bytes& b : corpus) {
    Require(!b.empty() && set.Load(b.data(), b.size(), kBase), "a corpus block is refused");
    Check(set);
  }
  std::mt19937 rng(20191017);
  const auto start = std::chrono::steady_clock::now();
  size_t accepted = 0;
  for (g_round = 1; g_round <= max_rounds; ++g_round) {
    Bytes input = Mutate(corpus, rng);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size() + !input.size()]);
    if (!input.empty()) std::memcpy(exact.get(), input.data(), input.size());
    if (set.Load(exact.get(), input.size(), kBase)) {
      ++accepted;
      Check(set);
    } else {
      Require(set.size() == 0, "a refused block left windows behind");
    }
    if ((g_round & 255) == 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds)
      break;
  }
  std::printf("ui_template_fuzz: %zu rounds, %zu blocks accepted\n", g_round, accepted);
  return 0;
}
