// Window templates: the stored block of windows and their units, read once
// at image load into memory, with event routines relocated.
//
// Owns: the set of loaded templates (one process-wide instance behind
// LoadedTemplates(), filled by the image loader's template seam). Every
// record is copied out of the stored block, so the block may go away.
// Refuses anything it cannot account for: a read past the end, counts or
// offsets that do not add up, invalid ids, unterminated texts, parent chains
// that loop, bytes left over. A refused block leaves the set empty.
// May call: nothing (portable, no Win32; built natively for tests and fuzz).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rt::ui {

// Id layout: class in bits 28-31, kind in bits 24-27, serial in bits 0-23.
constexpr uint32_t IdClass(uint32_t id) { return id >> 28; }
constexpr uint32_t IdKind(uint32_t id) { return (id >> 24) & 0xFu; }
constexpr uint32_t IdSerial(uint32_t id) { return id & 0xFFFFFFu; }
constexpr bool IsValidId(uint32_t id) { return IdSerial(id) != 0 && IdKind(id) != 0; }
constexpr bool IsMenuItemId(uint32_t id) { return IdKind(id) == 6 && IdClass(id) == 2; }

// TypeIds of the Runtime's own components (library 1).
enum TypeId : uint32_t {
  kTypeWindow = 0x00010001,
  kTypeMenuItem = 0x00010003,
  kTypeEditBox = 0x00010005,
  kTypeGroupBox = 0x00010009,
  kTypeLabel = 0x0001000A,
  kTypeButton = 0x0001000B,
  kTypeTimer = 0x00010020,
};

constexpr uint32_t kNoRoutine = 0xFFFFFFFFu;

// Cursor numbers 0..14 and the system cursor ids a unit's mouse pointer
// stores them as (IDC_ARROW, IDC_CROSS, ... IDC_HAND).
constexpr uint32_t kCursorIds[] = {0,     32512, 32515, 32513, 32514, 32651, 32650, 32648,
                                   32646, 32643, 32645, 32642, 32644, 32516, 32649};

// Unit flag bits.
constexpr uint32_t kFlagVisible = 1u << 0;
constexpr uint32_t kFlagDisabled = 1u << 1;
constexpr uint32_t kFlagTabStop = 1u << 2;

struct EventBinding {
  uint32_t index = 0;
  uintptr_t handler = 0;  // relocated routine address; 0 = none
};

struct UnitRecord {
  uint32_t unit_id = 0;
  uint32_t type_id = 0;
  std::string name;
  std::string second_text;
  void* object = nullptr;  // the live component while the window is loaded
  int32_t left = 0, top = 0, width = 0, height = 0;
  uintptr_t cursor = 0;    // run-time cursor handle
  uint32_t parent_id = 0;  // 0: the window itself
  std::vector<uint32_t> children;
  std::vector<uint8_t> mouse_pointer;
  std::string tag;
  uint32_t option1 = 0, flags = 0, option2 = 0;
  std::vector<EventBinding> events;
  std::vector<uint8_t> property_data;  // opens with the version word
  // Menu items only.
  bool menu_item = false;
  uint8_t menu_extra[12] = {};
  std::string menu_text;
  uintptr_t menu_handler = 0;
  uint32_t menu_flags() const;  // first word of menu_extra

  bool visible() const { return flags & kFlagVisible; }
  // Handler bound to `event`, 0 when none.
  uintptr_t Handler(uint32_t event) const;
};

struct WindowTemplate {
  uint32_t window_id = 0;
  uint32_t first_word = 0, second_word = 0;
  std::string first_text, second_text;
  std::vector<UnitRecord> units;  // [0] is the window's own unit
  std::vector<uint8_t> unit_block;  // as stored
  void* loaded = nullptr;           // run-time window state (runtime/ui)

  // Index of a UnitId, or -1. The window's own entry is compared first.
  int IndexOf(uint32_t unit_id) const;
  UnitRecord* Unit(size_t index);
  const UnitRecord* Unit(size_t index) const;
  UnitRecord* FindUnit(uint32_t unit_id);
  const UnitRecord* FindUnit(uint32_t unit_id) const;
};

class TemplateSet {
 public:
  // Reads the whole block; false (and an empty set) when it is refused.
  // `error` (optional) receives a short description of the first problem.
  bool Load(const uint8_t* block, size_t size, uintptr_t routine_base, std::string* error = nullptr);
  void Clear() { windows_.clear(); }

  WindowTemplate* Find(uint32_t window_id);
  const WindowTemplate* Find(uint32_t window_id) const;
  size_t size() const { return windows_.size(); }
  WindowTemplate& at(size_t i) { return windows_[i]; }
  const WindowTemplate& at(size_t i) const { return windows_[i]; }
  std::vector<WindowTemplate>& windows() { return windows_; }

 private:
  std::vector<WindowTemplate> windows_;
};

// The process-wide set the image loader fills.
TemplateSet& LoadedTemplates();
// The template seam: reads the block into LoadedTemplates().
bool LoadTemplateBlock(const uint8_t* block, uint32_t size, uintptr_t routine_base);

// Relocation of one stored routine offset.
constexpr uintptr_t Relocate(uint32_t offset, uintptr_t base) {
  return offset == kNoRoutine ? 0 : base + offset;
}

}  // namespace rt::ui
