// Window template reader and property records on exactly sized blocks (ASan): an accepted block has valid
// unique ids, ending parent chains, relocated handlers, records that write back; a refused one no windows.
#include <algorithm>

#include "runtime/ui/property_records.h"
#include "runtime/ui/templates.h"
#include "tests/fuzz/fuzz_support.h"

using Bytes = std::vector<uint8_t>;
constexpr uintptr_t kBase = 0x10000000;

static void Require(bool ok, const char* what) { fuzz::Check(ok, what, ""); }

static void CheckProps(const Bytes& data) {  // every layout, whatever the unit's type
  auto one = [&](auto p) {
    if (!rt::ui::TryParse(data, &p)) return;
    const Bytes back = rt::ui::Serialise(p);
    Require(back.size() <= data.size() && std::equal(back.begin(), back.end(), data.begin()),
            "property record does not write back");
  };
  one(rt::ui::WindowProps{}), one(rt::ui::EditBoxProps{}), one(rt::ui::LabelProps{});
  one(rt::ui::ButtonProps{}), one(rt::ui::GroupBoxProps{}), one(rt::ui::TimerProps{});
}

static void CheckSet(const rt::ui::TemplateSet& set) {
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
      CheckProps(u.property_data);
    }
  }
}

FUZZ_TARGET(1 << 16) {
  const Bytes exact(data, data + size);
  rt::ui::TemplateSet set;
  if (set.Load(exact.data(), exact.size(), kBase)) CheckSet(set);
  else Require(set.size() == 0, "a refused block left windows behind");
  CheckProps(exact);  // every layout on the raw bytes too, not only on accepted units
}
