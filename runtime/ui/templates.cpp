// Reading the stored window templates (see templates.h).
#include "runtime/ui/templates.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime/ui/byte_stream.h"

namespace rt::ui {
namespace {

// Each unit record is parsed from its own bounded slice, so a bad length
// inside one record can never reach the next.
bool ReadUnitRecord(const uint8_t* data, size_t size, uint32_t unit_id, uintptr_t base,
                    UnitRecord* u, std::string* error) {
  ByteReader r(data, size);
  u->unit_id = unit_id;
  u->menu_item = IsMenuItemId(unit_id);
  uint32_t reserved_words[5];
  if (!r.U32(&u->type_id) || !r.Skip(sizeof reserved_words) || !r.ZText(&u->name) ||
      !r.ZText(&u->second_text))
    return Fail(error, "unit record head");
  uint32_t lib = u->type_id >> 16, type = u->type_id & 0xFFFF;
  if (lib == 0 || type == 0) return Fail(error, "unit type id");
  if (u->menu_item) {
    uint32_t offset = 0;
    if (!r.Bytes(u->menu_extra, sizeof u->menu_extra) || !r.ZText(&u->menu_text) || !r.U32(&offset))
      return Fail(error, "menu item record");
    u->menu_handler = Relocate(offset, base);
    if (!r.AtEnd()) return Fail(error, "menu item record has trailing bytes");
    return true;
  }
  uint32_t object_slot = 0, cursor_slot = 0, child_count = 0, event_count = 0;
  if (!r.U32(&object_slot) || !r.I32(&u->left) || !r.I32(&u->top) || !r.I32(&u->width) ||
      !r.I32(&u->height) || !r.U32(&cursor_slot) || !r.U32(&u->parent_id) || !r.U32(&child_count))
    return Fail(error, "unit geometry");
  if (child_count > r.Remaining() / 4) return Fail(error, "child count past the record");
  u->children.resize(child_count);
  for (uint32_t& c : u->children)
    if (!r.U32(&c) || !IsValidId(c)) return Fail(error, "child id");
  if (!r.CountedBytes(&u->mouse_pointer) || !r.ZText(&u->tag) || !r.U32(&u->option1) ||
      !r.U32(&u->flags) || !r.U32(&u->option2) || !r.U32(&event_count))
    return Fail(error, "unit options");
  if (event_count > r.Remaining() / 8) return Fail(error, "event count past the record");
  u->events.resize(event_count);
  for (EventBinding& e : u->events) {
    uint32_t offset = 0;
    r.U32(&e.index);
    r.U32(&offset);
    e.handler = Relocate(offset, base);
  }
  // The property data starts 20 bytes after the last event entry.
  if (!r.Skip(20)) return Fail(error, "reserved words after the events");
  u->property_data.assign(data + r.Position(), data + size);
  return true;
}

bool ReadUnitBlock(const std::vector<uint8_t>& block, uint32_t count, uintptr_t base,
                   WindowTemplate* w, std::string* error) {
  if (count == 0) return Fail(error, "window without its own unit");
  ByteReader r(block.data(), block.size());
  if (count > r.Remaining() / 8) return Fail(error, "unit count past the unit block");
  std::vector<uint32_t> ids(count), offsets(count);
  for (uint32_t& id : ids) r.U32(&id);
  for (uint32_t& off : offsets) r.U32(&off);
  // Offsets count from the end of the offset table.
  const uint8_t* records = block.data() + r.Position();
  const size_t area = r.Remaining();
  std::vector<std::pair<size_t, size_t>> spans;  // (start, end) of each record
  w->units.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (!IsValidId(ids[i])) return Fail(error, "invalid unit id");
    for (uint32_t j = 0; j < i; ++j)
      if (ids[j] == ids[i]) return Fail(error, "duplicate unit id");
    ByteReader rec(records, area);
    uint32_t length = 0;
    if (!rec.Skip(offsets[i]) || !rec.U32(&length) || length > rec.Remaining())
      return Fail(error, "unit record outside the unit block");
    size_t start = rec.Position();
    spans.emplace_back(offsets[i], start + length);
    if (!ReadUnitRecord(records + start, length, ids[i], base, &w->units[i], error)) return false;
  }
  // The records must tile the area exactly: no overlaps, gaps or leftovers.
  std::sort(spans.begin(), spans.end());
  size_t at = 0;
  for (const auto& s : spans) {
    if (s.first != at) return Fail(error, "unit records overlap or leave a gap");
    at = s.second;
  }
  if (at != area) return Fail(error, "bytes left after the unit records");
  // The window's own unit is neither a menu item nor a child of anything.
  if (w->units[0].menu_item || w->units[0].parent_id != 0) return Fail(error, "window's own unit");
  // Parents and children must name units of this window, and parent chains
  // must end (event dispatch walks them).
  for (const UnitRecord& u : w->units) {
    if (u.menu_item) continue;
    if (u.parent_id != 0 && (w->IndexOf(u.parent_id) <= 0 || u.parent_id == u.unit_id))
      return Fail(error, "parent id");
    for (uint32_t c : u.children)
      if (w->IndexOf(c) <= 0) return Fail(error, "child id not in the window");
    uint32_t p = u.parent_id;
    for (uint32_t steps = 0; p != 0; ++steps) {
      if (steps > count) return Fail(error, "parent chain loops");
      const UnitRecord* parent = w->FindUnit(p);
      p = parent && !parent->menu_item ? parent->parent_id : 0;
    }
  }
  return true;
}

}  // namespace

uint32_t UnitRecord::menu_flags() const {
  uint32_t v;
  std::memcpy(&v, menu_extra, 4);
  return v;
}

uintptr_t UnitRecord::Handler(uint32_t event) const {
  if (menu_item) return menu_handler;
  for (const EventBinding& e : events)
    if (e.index == event) return e.handler;
  return 0;
}

int WindowTemplate::IndexOf(uint32_t unit_id) const {
  if (units.empty()) return -1;
  if (units[0].unit_id == unit_id) return 0;
  for (size_t i = 1; i < units.size(); ++i)
    if (units[i].unit_id == unit_id) return static_cast<int>(i);
  return -1;
}
UnitRecord* WindowTemplate::Unit(size_t i) { return i < units.size() ? &units[i] : nullptr; }
const UnitRecord* WindowTemplate::Unit(size_t i) const { return i < units.size() ? &units[i] : nullptr; }
UnitRecord* WindowTemplate::FindUnit(uint32_t id) {
  int i = IndexOf(id);
  return i < 0 ? nullptr : &units[static_cast<size_t>(i)];
}
const UnitRecord* WindowTemplate::FindUnit(uint32_t id) const {
  int i = IndexOf(id);
  return i < 0 ? nullptr : &units[static_cast<size_t>(i)];
}

bool TemplateSet::Load(const uint8_t* block, size_t size, uintptr_t base, std::string* error) {
  windows_.clear();
  std::vector<WindowTemplate> windows;
  ByteReader r(block, size);
  uint32_t list_length = 0;
  if (!r.U32(&list_length) || list_length % 8 != 0 || list_length > r.Remaining())
    return Fail(error, "window list length");
  const uint32_t count = list_length / 8;
  windows.resize(count);
  for (WindowTemplate& w : windows) {
    r.U32(&w.window_id);
    if (!IsValidId(w.window_id)) return Fail(error, "invalid window id");
  }
  for (uint32_t i = 0; i < count; ++i)
    for (uint32_t j = 0; j < i; ++j)
      if (windows[i].window_id == windows[j].window_id) return Fail(error, "duplicate window id");
  r.Skip(4 * static_cast<size_t>(count));  // the slot words mean nothing when stored
  for (WindowTemplate& w : windows) {
    uint32_t unit_count = 0, block_length = 0;
    if (!r.U32(&w.first_word) || !r.U32(&w.second_word) || !r.CountedText(&w.first_text) ||
        !r.CountedText(&w.second_text) || !r.U32(&unit_count) || !r.U32(&block_length) ||
        block_length > r.Remaining())
      return Fail(error, "window record");
    w.unit_block.assign(block + r.Position(), block + r.Position() + block_length);
    r.Skip(block_length);
    if (!ReadUnitBlock(w.unit_block, unit_count, base, &w, error)) return false;
  }
  if (!r.AtEnd()) return Fail(error, "bytes left after the last window");
  windows_ = std::move(windows);
  return true;
}

WindowTemplate* TemplateSet::Find(uint32_t id) {
  for (WindowTemplate& w : windows_)
    if (w.window_id == id) return &w;
  return nullptr;
}
const WindowTemplate* TemplateSet::Find(uint32_t id) const {
  for (const WindowTemplate& w : windows_)
    if (w.window_id == id) return &w;
  return nullptr;
}

TemplateSet& LoadedTemplates() {
  static TemplateSet set;
  return set;
}

bool LoadTemplateBlock(const uint8_t* block, uint32_t size, uintptr_t routine_base) {
  return LoadedTemplates().Load(block, size, routine_base);
}

}  // namespace rt::ui
