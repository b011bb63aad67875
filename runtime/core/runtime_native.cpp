// Native (non-Windows) stand-ins for the platform steps of the Runtime core,
// so that the portable parts and program-side code run under sanitizers.
#include "runtime/core/commands.h"
#include "runtime/core/image.h"

#include <cstdlib>

namespace rt {
void LoadImageData(const ProgramImage* image);

const RuntimeEntryTable& EntryTable() {
  static const RuntimeEntryTable table{};
  return table;
}

void EndProgram(int32_t exit_code) {
  RunProgramEndSequence(exit_code);
  std::_Exit(exit_code);
}

void LoadProgramImage(const ProgramImage* image) { LoadImageData(image); }

// There is no clock to set natively; the refusal is the honest answer.
bool PlatformSetLocalClock(const CalendarFields&) { return false; }

}  // namespace rt
