// The template writer (tools/rtwin.py) and the Runtime's reader describe the
// stored block separately: the writer in Python, the reader in C++. This
// test prints the C++ side's tables (type ids, cursor ids, each property
// record's fields in stored order with type, default and version) in the
// form `rtwin.py layout` prints the writer's, and compares the two.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "runtime/ui/property_records.h"
#include "runtime/ui/templates.h"

namespace {

using namespace rt::ui;

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

template <typename P>
void PrintRecord(std::ostringstream& out, const char* type_name) {
  const P defaults;
  out << "record " << type_name << " " << P::kMaxVersion << "\n";
  for (const RecordField<P>& f : RecordTable<P>::kFields) {
    if (f.since == kNotStored) continue;
    out << "  " << f.name << " ";
    if (f.word) out << "u32 " << defaults.*f.word;
    if (f.half) out << "u16 " << defaults.*f.half;
    if (f.bytes) out << "bytes " << (defaults.*f.bytes).size();
    if (f.text) out << "text " << (defaults.*f.text).size();
    out << " " << f.since << "\n";
  }
}

TEST(TemplateLayout, TheWriterAndTheReaderDescribeTheSameBlock) {
  std::ostringstream runtime;
  runtime << "no_routine " << Hex(kNoRoutine) << "\n";
  for (auto [name, id] : {std::pair{"window", kTypeWindow}, {"MenuItem", kTypeMenuItem}, {"EditBox", kTypeEditBox},
                          {"GroupBox", kTypeGroupBox}, {"Label", kTypeLabel}, {"Button", kTypeButton},
                          {"Timer", kTypeTimer}})
    runtime << "type " << name << " " << Hex(id) << "\n";
  for (size_t n = 0; n < std::size(kCursorIds); ++n) runtime << "cursor " << n << " " << kCursorIds[n] << "\n";
  // In the writer's order: its type names sorted.
  PrintRecord<ButtonProps>(runtime, "Button");
  PrintRecord<EditBoxProps>(runtime, "EditBox");
  PrintRecord<GroupBoxProps>(runtime, "GroupBox");
  PrintRecord<LabelProps>(runtime, "Label");
  PrintRecord<TimerProps>(runtime, "Timer");
  PrintRecord<WindowProps>(runtime, "window");

  std::string writer;
  if (FILE* p = popen(RT_PYTHON3 " " RT_RTWIN " layout", "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) writer.append(buf, n);
    pclose(p);
  }
  ASSERT_FALSE(writer.empty()) << "rtwin.py layout printed nothing";
  EXPECT_EQ(runtime.str(), writer);
}

}  // namespace
