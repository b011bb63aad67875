// Property records of the six components: the layouts of the property data
// at the end of a unit record, read into plain structs and written back
// (the "get all property data" operation, and the unit rebuild, need the
// reverse direction).
//
// Parse refuses a version above the component's highest and data too short
// for the fields of its version; bytes after those fields (written by a
// newer writer) are ignored. Serialise
// writes the record's own version, so Parse(Serialise(x)) reads back x.
// Portable, no Win32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt::ui {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kButtonFaceColour = 0xFF000000u;

struct TimerProps {
  static constexpr uint32_t kMaxVersion = 1;
  uint32_t version = 1;
  int32_t interval = 0;
};

struct ButtonProps {
  static constexpr uint32_t kMaxVersion = 1;
  uint32_t version = 1;
  uint32_t default_button = 0, h_align = 1, v_align = 1;
  Bytes picture, font;
  std::string caption;
};

struct GroupBoxProps {
  static constexpr uint32_t kMaxVersion = 1;
  uint32_t version = 1;
  uint32_t title_align = 0, text_colour = 0, back_colour = kButtonFaceColour;
  Bytes font;
  std::string caption;
};

struct LabelProps {
  static constexpr uint32_t kMaxVersion = 2;
  uint32_t version = 2;
  uint32_t effect = 0, word_a = 8, border = 0;
  uint32_t colours_a[3] = {0x808080, 0xFFFFFF, 0x808080};
  uint32_t text_colour = 0, back_colour = kButtonFaceColour;
  uint32_t word_b = 1, word_c = 0;
  uint32_t colours_b[3] = {0x808080, 0xFFFFFF, 0x808080};
  uint32_t h_align = 0, v_align = 1, word_wrap = 0;
  Bytes font, picture;
  std::string caption;
  std::string extra_a, extra_b;  // version 2
};

struct EditBoxProps {
  static constexpr uint32_t kMaxVersion = 2;
  uint32_t version = 2;
  uint32_t border = 1, text_colour = 0, back_colour = 0xFFFFFF;
  uint32_t hide_selection = 1, max_length = 0, multi_line = 0, scroll_bars = 0, align = 0;
  uint32_t input_mode = 0;
  uint16_t password_char = 42;
  uint32_t letter_case = 0, spin = 0, spin_low = 0, spin_high = 100, word_a = 0, word_b = 0;
  Bytes font;
  std::string content;
  std::string extra;  // version 2
};

struct WindowProps {
  static constexpr uint32_t kMaxVersion = 6;
  uint32_t version = 6;
  uint32_t border = 2, word_a = 1, colour = kButtonFaceColour;
  uint32_t max_button = 1, min_button = 1, control_box = 1, start_position = 0, movable = 1;
  uint32_t words[5] = {0, 0, 1, 0, 0};
  uint32_t taskbar = 1;            // version 2
  uint32_t words_v3[2] = {0, 0};   // version 3
  uint32_t topmost = 0;            // version 4
  uint32_t word_v5 = 0;            // version 5
  std::string class_name;          // version 6
  Bytes block_a, icon, block_b;
  std::string caption, text_last;
};

bool Parse(const uint8_t* data, size_t size, TimerProps* p);
bool Parse(const uint8_t* data, size_t size, ButtonProps* p);
bool Parse(const uint8_t* data, size_t size, GroupBoxProps* p);
bool Parse(const uint8_t* data, size_t size, LabelProps* p);
bool Parse(const uint8_t* data, size_t size, EditBoxProps* p);
bool Parse(const uint8_t* data, size_t size, WindowProps* p);
template <typename P>
bool Parse(const Bytes& data, P* p) {
  return Parse(data.data(), data.size(), p);
}

Bytes Serialise(const TimerProps& p);
Bytes Serialise(const ButtonProps& p);
Bytes Serialise(const GroupBoxProps& p);
Bytes Serialise(const LabelProps& p);
Bytes Serialise(const EditBoxProps& p);
Bytes Serialise(const WindowProps& p);

}  // namespace rt::ui
