// Property records of the six components and their property tables.
//
// Each component keeps its own properties in a plain record that is read
// from the property data at the end of its unit record, and written back
// for the "get all property data" operation and the unit rebuild. One
// constexpr table per record (RecordTable<P>::kFields) lists its fields in
// stored order, and for each field the own property number programs address
// it by, the declared kind, the clamp a write applies and what else a write
// must do. That one table drives the stored layout (TryParse, Serialise),
// the kinds the Runtime prepares values by, and the generic property read
// and write of every component; adding a property is one row.
//
// TryParse refuses a version above the component's highest and data too
// short for the fields of its version; bytes after those fields (written by
// a newer writer) are ignored. Serialise writes the record's own version, so
// TryParse(Serialise(x)) reads back x.
// Portable, no Win32; may call byte_stream.h, ui_numbers.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/ui/ui_numbers.h"

namespace rt::ui {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kButtonFaceColour = 0xFF000000u;

// Declared property kinds: the 16-bit codes of a type's property table. They
// decide how a written value is prepared and how a read one is converted.
enum PropertyKind : uint16_t {
  kKindWord = 1000, kKindInt = 1001, kKindPair1002 = 1002, kKindBool = 1003, kKindPair1004 = 1004,
  kKindText = 1005, kKindEnum = 1006, kKindText1007 = 1007, kKindText1008 = 1008,
  kKindPicture = 1009, kKindBytes1010 = 1010, kKindCursor = 1011, kKindBytes1012 = 1012,
  kKindFont = 1013, kKindTextColour = 1014, kKindColour = 1015, kKindText1016 = 1016,
  kKindBackColour = 1017, kKindText1018 = 1018, kKindText1019 = 1019, kKindText1020 = 1020,
  kKindText1021 = 1021, kKindText1022 = 1022, kKindBytes1023 = 1023, kKindBytes1024 = 1024,
};

// How a kind's values travel between program code and a component.
enum class KindClass : uint8_t { kWord, kPair, kBool, kText, kEnum, kBytes, kCursor, kFont };
struct KindRow {
  PropertyKind kind;
  KindClass how;
};
constexpr KindRow kKindClasses[] = {
    {kKindWord, KindClass::kWord},        {kKindInt, KindClass::kWord},
    {kKindPair1002, KindClass::kPair},    {kKindBool, KindClass::kBool},
    {kKindPair1004, KindClass::kPair},    {kKindText, KindClass::kText},
    {kKindEnum, KindClass::kEnum},        {kKindText1007, KindClass::kText},
    {kKindText1008, KindClass::kText},    {kKindPicture, KindClass::kBytes},
    {kKindBytes1010, KindClass::kBytes},  {kKindCursor, KindClass::kCursor},
    {kKindBytes1012, KindClass::kBytes},  {kKindFont, KindClass::kFont},
    {kKindTextColour, KindClass::kWord},  {kKindColour, KindClass::kWord},
    {kKindText1016, KindClass::kText},    {kKindBackColour, KindClass::kWord},
    {kKindText1018, KindClass::kText},    {kKindText1019, KindClass::kText},
    {kKindText1020, KindClass::kText},    {kKindText1021, KindClass::kText},
    {kKindText1022, KindClass::kText},    {kKindBytes1023, KindClass::kBytes},
    {kKindBytes1024, KindClass::kBytes},
};
// ORDER: kKindClasses runs 1000, 1001, ... without gaps.
static_assert(std::size(kKindClasses) == 25 && kKindClasses[24].kind == 1024, "kinds 1000..1024");
// Kinds outside the table are passed and read as the plain word.
constexpr KindClass ClassOf(uint16_t kind) {
  return kind >= 1000 && kind <= 1024 ? kKindClasses[kind - 1000].how : KindClass::kWord;
}

// The common unit properties 0 to 7 (left, top, width, height, tag,
// visible, disabled, mouse pointer), which the Runtime keeps itself.
constexpr uint16_t kCommonKinds[] = {kKindInt, kKindInt,  kKindInt,  kKindInt,
                                     kKindText, kKindBool, kKindBool, kKindCursor};
static_assert(std::size(kCommonKinds) == kCommonCount, "one kind per common property");

// What a property write does besides storing the value; the component
// carries it out (Component::Apply). kRebuild: only a new platform window
// can show it, so the Runtime rebuilds the unit. kWindowText and kContent
// mark texts the platform window holds too: a read fetches them from it
// first. kCaption is a text the component keeps current itself.
enum class OnWrite : uint8_t {
  kStore, kRebuild, kRepaint, kBorder, kFont, kBackground, kWindowText, kCaption, kStyle,
  kLimit, kPasswordChar, kInputMode, kContent, kInterval,
};

constexpr int kNoProperty = -1;
constexpr uint32_t kNotStored = 0xFFFFFFFFu;  // `since` of a property kept nowhere

// One field of a record: exactly one member pointer is set, or none for a
// property that is known but kept nowhere (read as zero, writes ignored).
template <typename P>
struct RecordField {
  const char* name = "";       // as the window descriptions (tools/rtwin) name it
  int own = kNoProperty;       // own property number (program number - 8)
  PropertyKind kind = kKindWord;
  uint32_t since = 0;          // record version that brought the field (0: every one)
  uint32_t P::*word = nullptr;
  uint16_t P::*half = nullptr;  // a one-character text to programs
  std::string P::*text = nullptr;
  Bytes P::*bytes = nullptr;
  uint32_t max = 0;            // a write keeps at most this (0: any value)
  OnWrite on_write = OnWrite::kStore;
};

template <typename P>
constexpr RecordField<P> Word(const char* name, uint32_t P::*m, int own, PropertyKind kind,
                              uint32_t max = 0, OnWrite w = OnWrite::kStore, uint32_t since = 0) {
  RecordField<P> f{name, own, kind, since};
  f.word = m;
  f.max = max;
  f.on_write = w;
  return f;
}
template <typename P>
constexpr RecordField<P> Half(const char* name, uint16_t P::*m, int own, PropertyKind kind,
                              OnWrite w) {
  RecordField<P> f{name, own, kind, 0};
  f.half = m;
  f.on_write = w;
  return f;
}
template <typename P>
constexpr RecordField<P> Text(const char* name, std::string P::*m, int own, PropertyKind kind,
                              OnWrite w = OnWrite::kStore, uint32_t since = 0) {
  RecordField<P> f{name, own, kind, since};
  f.text = m;
  f.on_write = w;
  return f;
}
template <typename P>
constexpr RecordField<P> Block(const char* name, Bytes P::*m, int own, PropertyKind kind,
                               OnWrite w = OnWrite::kStore) {
  RecordField<P> f{name, own, kind, 0};
  f.bytes = m;
  f.on_write = w;
  return f;
}
// A property with a kind but no field of its own.
template <typename P>
constexpr RecordField<P> Unkept(int own, PropertyKind kind) {
  return RecordField<P>{"", own, kind, kNotStored};
}

struct TimerProps {
  static constexpr uint32_t kMaxVersion = 1;
  uint32_t version = 1;
  uint32_t interval = 0;  // ms; a negative number written is stored as 0
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

// The words and texts named by letter are stored and handed back unchanged;
// nothing in the Runtime gives them a meaning.
struct LabelProps {
  static constexpr uint32_t kMaxVersion = 2;
  uint32_t version = 2;
  uint32_t effect = 0, word_a = 8, border = 0;
  uint32_t colour_a1 = 0x808080, colour_a2 = 0xFFFFFF, colour_a3 = 0x808080;
  uint32_t text_colour = 0, back_colour = kButtonFaceColour;
  uint32_t word_b = 1, word_c = 0;
  uint32_t colour_b1 = 0x808080, colour_b2 = 0xFFFFFF, colour_b3 = 0x808080;
  uint32_t h_align = 0, v_align = 1, word_wrap = 0;
  Bytes font, picture;
  std::string caption;
  std::string text_a, text_b;  // version 2
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
  std::string text_a;  // version 2
};

struct WindowProps {
  static constexpr uint32_t kMaxVersion = 6;
  uint32_t version = 6;
  uint32_t border = 2, word_a = 1, colour = kButtonFaceColour;
  uint32_t max_button = 1, min_button = 1, control_box = 1, start_position = 0, movable = 1;
  uint32_t word_1 = 0, word_2 = 0, word_3 = 1, word_4 = 0, word_5 = 0;
  uint32_t taskbar = 1;                // version 2
  uint32_t word_v3a = 0, word_v3b = 0;  // version 3
  uint32_t topmost = 0;                // version 4
  uint32_t word_v5 = 0;                // version 5
  std::string class_name;              // version 6
  Bytes picture, icon, block_b;
  std::string caption, text_last;
};

template <typename P>
struct RecordTable;

template <>
struct RecordTable<TimerProps> {
  using P = TimerProps;
  static constexpr RecordField<P> kFields[] = {
      Word("interval", &P::interval, 0, kKindInt, 0, OnWrite::kInterval),
  };
};

template <>
struct RecordTable<ButtonProps> {
  using P = ButtonProps;
  static constexpr RecordField<P> kFields[] = {
      Word("default_button", &P::default_button, 1, kKindEnum, 1, OnWrite::kStyle),
      Word("h_align", &P::h_align, 3, kKindEnum, 2, OnWrite::kStyle),
      Word("v_align", &P::v_align, 4, kKindEnum, 2, OnWrite::kStyle),
      Block("picture", &P::picture, 0, kKindPicture, OnWrite::kRebuild),  // a new face
      Block("font", &P::font, 5, kKindFont, OnWrite::kFont),
      Text("caption", &P::caption, 2, kKindText, OnWrite::kWindowText),
  };
};

template <>
struct RecordTable<GroupBoxProps> {
  using P = GroupBoxProps;
  static constexpr RecordField<P> kFields[] = {
      Word("title_align", &P::title_align, 1, kKindEnum, 2, OnWrite::kStyle),
      Word("text_colour", &P::text_colour, 2, kKindTextColour, 0, OnWrite::kRepaint),
      Word("back_colour", &P::back_colour, 3, kKindBackColour, 0, OnWrite::kBackground),
      Block("font", &P::font, 4, kKindFont, OnWrite::kFont),
      Text("caption", &P::caption, 0, kKindText, OnWrite::kCaption),
  };
};

template <>
struct RecordTable<LabelProps> {
  using P = LabelProps;
  // A label paints everything itself: every write repaints it.
  static constexpr RecordField<P> kFields[] = {
      Word("effect", &P::effect, 1, kKindEnum, 2, OnWrite::kRepaint),
      Word("word_a", &P::word_a, 3, kKindInt, 0, OnWrite::kRepaint),
      Word("border", &P::border, 2, kKindEnum, 5, OnWrite::kBorder),
      Word("colour_a1", &P::colour_a1, 4, kKindColour, 0, OnWrite::kRepaint),
      Word("colour_a2", &P::colour_a2, 5, kKindColour, 0, OnWrite::kRepaint),
      Word("colour_a3", &P::colour_a3, 6, kKindColour, 0, OnWrite::kRepaint),
      Word("text_colour", &P::text_colour, 8, kKindTextColour, 0, OnWrite::kRepaint),
      Word("back_colour", &P::back_colour, 9, kKindBackColour, 0, OnWrite::kBackground),
      Word("word_b", &P::word_b, 11, kKindEnum, 0, OnWrite::kRepaint),
      Word("word_c", &P::word_c, 12, kKindEnum, 0, OnWrite::kRepaint),
      Word("colour_b1", &P::colour_b1, 13, kKindColour, 0, OnWrite::kRepaint),
      Word("colour_b2", &P::colour_b2, 14, kKindColour, 0, OnWrite::kRepaint),
      Word("colour_b3", &P::colour_b3, 15, kKindColour, 0, OnWrite::kRepaint),
      Word("h_align", &P::h_align, 16, kKindEnum, 2, OnWrite::kRepaint),
      Word("v_align", &P::v_align, 18, kKindEnum, 2, OnWrite::kRepaint),
      Word("word_wrap", &P::word_wrap, 17, kKindBool, 0, OnWrite::kRepaint),
      Block("font", &P::font, 7, kKindFont, OnWrite::kFont),
      Block("picture", &P::picture, 10, kKindPicture, OnWrite::kRepaint),
      Text("caption", &P::caption, 0, kKindText, OnWrite::kCaption),
      Text("text_a", &P::text_a, 19, kKindText1018, OnWrite::kRepaint, 2),
      Text("text_b", &P::text_b, 20, kKindText1020, OnWrite::kRepaint, 2),
  };
};

template <>
struct RecordTable<EditBoxProps> {
  using P = EditBoxProps;
  static constexpr RecordField<P> kFields[] = {
      Word("border", &P::border, 1, kKindEnum, 5, OnWrite::kBorder),
      Word("text_colour", &P::text_colour, 2, kKindTextColour, 0, OnWrite::kRepaint),
      Word("back_colour", &P::back_colour, 3, kKindBackColour, 0, OnWrite::kBackground),
      Word("hide_selection", &P::hide_selection, 5, kKindBool, 0, OnWrite::kRebuild),
      Word("max_length", &P::max_length, 6, kKindInt, 0, OnWrite::kLimit),
      Word("multi_line", &P::multi_line, 7, kKindBool, 0, OnWrite::kRebuild),
      Word("scroll_bars", &P::scroll_bars, 8, kKindEnum, 3, OnWrite::kRebuild),
      Word("align", &P::align, 9, kKindEnum, 2, OnWrite::kRebuild),
      Word("input_mode", &P::input_mode, 10, kKindEnum, 2, OnWrite::kInputMode),
      Half("password_char", &P::password_char, 11, kKindText, OnWrite::kPasswordChar),
      Word("letter_case", &P::letter_case, 12, kKindEnum, 2, OnWrite::kRebuild),
      Word("spin", &P::spin, 13, kKindEnum, 0, OnWrite::kRebuild),
      Word("spin_low", &P::spin_low, 14, kKindInt, 0, OnWrite::kRebuild),
      Word("spin_high", &P::spin_high, 15, kKindInt, 0, OnWrite::kRebuild),
      Word("word_a", &P::word_a, 16, kKindInt),
      Word("word_b", &P::word_b, 17, kKindInt),
      Block("font", &P::font, 4, kKindFont, OnWrite::kFont),
      Text("content", &P::content, 0, kKindText, OnWrite::kContent),
      Text("text_a", &P::text_a, 18, kKindText, OnWrite::kStore, 2),
      Unkept<P>(19, kKindText1018),
      Unkept<P>(20, kKindText1020),
  };
};

template <>
struct RecordTable<WindowProps> {
  using P = WindowProps;
  // Own properties 0 to 3 are kept; which stored field each of 4 to 23
  // stands for is not known, so those read as zero and ignore writes.
  static constexpr RecordField<P> kFields[] = {
      Word("border", &P::border, 1, kKindEnum, 6),
      Word("word_a", &P::word_a, kNoProperty, kKindWord),
      Word("colour", &P::colour, 2, kKindBackColour, 0, OnWrite::kBackground),
      Word("max_button", &P::max_button, kNoProperty, kKindWord),
      Word("min_button", &P::min_button, kNoProperty, kKindWord),
      Word("control_box", &P::control_box, kNoProperty, kKindWord),
      Word("start_position", &P::start_position, kNoProperty, kKindWord),
      Word("movable", &P::movable, kNoProperty, kKindWord),
      Word("word_1", &P::word_1, kNoProperty, kKindWord),
      Word("word_2", &P::word_2, kNoProperty, kKindWord),
      Word("word_3", &P::word_3, kNoProperty, kKindWord),
      Word("word_4", &P::word_4, kNoProperty, kKindWord),
      Word("word_5", &P::word_5, kNoProperty, kKindWord),
      Word("taskbar", &P::taskbar, kNoProperty, kKindWord, 0, OnWrite::kStore, 2),
      Word("word_v3a", &P::word_v3a, kNoProperty, kKindWord, 0, OnWrite::kStore, 3),
      Word("word_v3b", &P::word_v3b, kNoProperty, kKindWord, 0, OnWrite::kStore, 3),
      Word("topmost", &P::topmost, kNoProperty, kKindWord, 0, OnWrite::kStore, 4),
      Word("word_v5", &P::word_v5, kNoProperty, kKindWord, 0, OnWrite::kStore, 5),
      Text("class_name", &P::class_name, kNoProperty, kKindText, OnWrite::kStore, 6),
      Block("picture", &P::picture, 3, kKindPicture),
      Block("icon", &P::icon, kNoProperty, kKindPicture),
      Block("block_b", &P::block_b, kNoProperty, kKindPicture),
      Text("caption", &P::caption, 0, kKindText, OnWrite::kWindowText),
      Text("text_last", &P::text_last, kNoProperty, kKindText),
      Unkept<P>(4, kKindEnum),      Unkept<P>(5, kKindBytes1012), Unkept<P>(6, kKindEnum),
      Unkept<P>(7, kKindBool),      Unkept<P>(8, kKindBool),      Unkept<P>(9, kKindBool),
      Unkept<P>(10, kKindEnum),     Unkept<P>(11, kKindBool),     Unkept<P>(12, kKindBytes1010),
      Unkept<P>(13, kKindBool),     Unkept<P>(14, kKindBool),     Unkept<P>(15, kKindBool),
      Unkept<P>(16, kKindText1016), Unkept<P>(17, kKindInt),      Unkept<P>(18, kKindBool),
      Unkept<P>(19, kKindBool),     Unkept<P>(20, kKindEnum),     Unkept<P>(21, kKindBool),
      Unkept<P>(22, kKindBool),     Unkept<P>(23, kKindText),
  };
};

// The own-property count of a record's table: one past the highest number.
template <typename P>
constexpr int OwnCount() {
  int n = 0;
  for (const RecordField<P>& f : RecordTable<P>::kFields)
    if (f.own + 1 > n) n = f.own + 1;
  return n;
}

// The row of own property `own`, or null.
template <typename P>
constexpr const RecordField<P>* FieldOf(int own) {
  for (const RecordField<P>& f : RecordTable<P>::kFields)
    if (f.own == own && own != kNoProperty) return &f;
  return nullptr;
}

// Every own number below the count has exactly one row, so the kinds table
// of a type can be built from its record table.
template <typename P>
constexpr bool NumbersAreDense() {
  for (int own = 0; own < OwnCount<P>(); ++own) {
    int rows = 0;
    for (const RecordField<P>& f : RecordTable<P>::kFields) rows += f.own == own;
    if (rows != 1) return false;
  }
  return true;
}
static_assert(NumbersAreDense<TimerProps>() && NumbersAreDense<ButtonProps>() &&
                  NumbersAreDense<GroupBoxProps>() && NumbersAreDense<LabelProps>() &&
                  NumbersAreDense<EditBoxProps>() && NumbersAreDense<WindowProps>(),
              "every own property number has exactly one row");

// The program number of the property the window descriptions call `name`,
// or kNoProperty.
template <typename P>
constexpr int ProgramNumberOf(std::string_view name) {
  for (const RecordField<P>& f : RecordTable<P>::kFields)
    if (f.own != kNoProperty && name == f.name) return kCommonCount + f.own;
  return kNoProperty;
}
static_assert(ProgramNumberOf<EditBoxProps>("content") == kEditBoxContent &&
                  ProgramNumberOf<LabelProps>("caption") == kLabelCaption &&
                  ProgramNumberOf<ButtonProps>("caption") == kButtonCaption &&
                  ProgramNumberOf<TimerProps>("interval") == kTimerInterval,
              "the numbers programs use (ui_numbers.h) are the tables' numbers");

bool TryParse(const uint8_t* data, size_t size, TimerProps* p);
bool TryParse(const uint8_t* data, size_t size, ButtonProps* p);
bool TryParse(const uint8_t* data, size_t size, GroupBoxProps* p);
bool TryParse(const uint8_t* data, size_t size, LabelProps* p);
bool TryParse(const uint8_t* data, size_t size, EditBoxProps* p);
bool TryParse(const uint8_t* data, size_t size, WindowProps* p);
template <typename P>
bool TryParse(const Bytes& data, P* p) {
  return TryParse(data.data(), data.size(), p);
}

Bytes Serialise(const TimerProps& p);
Bytes Serialise(const ButtonProps& p);
Bytes Serialise(const GroupBoxProps& p);
Bytes Serialise(const LabelProps& p);
Bytes Serialise(const EditBoxProps& p);
Bytes Serialise(const WindowProps& p);

}  // namespace rt::ui
