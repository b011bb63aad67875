// The numbers program code and test drivers share with the window layer.
// Programs read and write unit properties by number through the entry
// table (prog::ReadProperty / WriteProperty), and a test driver finds a
// unit's platform window by the control id the loader gave it. Plain
// constants only, no Runtime function, so program code (which reaches the
// Runtime only through the entry table) and the generated window headers
// (window_templates.h) may include it. The property numbers are checked
// against the components' record tables (property_records.h), which remain
// the one place a property is defined.
// Portable; may call nothing.
#pragma once

#include <cstdint>

namespace rt::ui {

// Properties 0 to 7 of every unit are the common ones the Runtime keeps
// itself; a component's own property n has program number 8 + n.
constexpr int kCommonCount = 8;

// The element argument that reads or writes a property as a whole.
constexpr int32_t kWholeProperty = -1;

// Program numbers of the properties programs reach.
constexpr int32_t kEditBoxContent = kCommonCount + 0;  // an edit box's text
constexpr int32_t kLabelCaption = kCommonCount + 0;
constexpr int32_t kButtonCaption = kCommonCount + 2;
constexpr int32_t kTimerInterval = kCommonCount + 0;  // milliseconds, 0 stops

// A window's units get control ids 100, 110, ... in creation order (the
// order the window description lists them in; menu items get none).
constexpr int kFirstControlId = 100;
constexpr int kControlIdStep = 10;
constexpr int ControlIdAt(int position) { return kFirstControlId + position * kControlIdStep; }

}  // namespace rt::ui
