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

std::string RuntimeListing() {
  std::ostringstream out;
  char line[64];
  std::snprintf(line, sizeof line, "no_routine 0x%08X\n", kNoRoutine);
  out << line;
  const std::pair<const char*, uint32_t> types[] = {
      {"window", kTypeWindow}, {"MenuItem", kTypeMenuItem}, {"EditBox", kTypeEditBox},
      {"GroupBox", kTypeGroupBox}, {"Label", kTypeLabel}, {"Button", kTypeButton},
      {"Timer", kTypeTimer}};
  for (const auto& [name, id] : types) {
    std::snprintf(line, sizeof line, "type %s 0x%08X\n", name, id);
    out << line;
  }
  for (size_t n = 0; n < std::size(kCursorIds); ++n) out << "cursor " << n << " " << kCursorIds[n] << "\n";
  // In the writer's order: its type names sorted.
  PrintRecord<ButtonProps>(out, "Button");
  PrintRecord<EditBoxProps>(out, "EditBox");
  PrintRecord<GroupBoxProps>(out, "GroupBox");
  PrintRecord<LabelProps>(out, "Label");
  PrintRecord<TimerProps>(out, "Timer");
  PrintRecord<WindowProps>(out, "window");
  return out.str();
}

std::string WriterListing() {
  std::string out;
  if (FILE* p = popen(RT_PYTHON3 " " RT_RTWIN " layout", "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

TEST(TemplateLayout, TheWriterAndTheReaderDescribeTheSameBlock) {
  const std::string writer = WriterListing();
  ASSERT_FALSE(writer.empty()) << "rtwin.py layout printed nothing";
  EXPECT_EQ(RuntimeListing(), writer);
}

}  // namespace
