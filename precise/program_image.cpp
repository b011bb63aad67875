// The precise program's image: the constants block, the window template with
// its routine base, the support library table and the DLL command table.
// The Runtime loads it when the entry routine asks for service 6.
#include <cstdint>

#include "precise/dll_table.h"
#include "precise/policy.h"
#include "precise/precise.h"
#include "program/program_image.h"
#include "runtime/core/image.h"
#include "runtime/ui/ui_runtime.h"
#include "window_templates.h"

namespace {

// Texts the routines use in place: the default sources (policy.h).
struct Constants {
  char default_sources[160];
};
constexpr Constants MakeConstants() {
  Constants c{};
  for (size_t i = 0; i < sizeof precise::kDefaultSources; ++i) c.default_sources[i] = precise::kDefaultSources[i];
  return c;
}
static_assert(sizeof precise::kDefaultSources <= sizeof(Constants::default_sources), "the sources fit");
constexpr Constants kConstants = MakeConstants();

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};

const rt::ProgramImage& Image() {
  static const rt::ProgramImage image = prog::MakeProgramImage(
      {&kConstants, static_cast<uint32_t>(sizeof kConstants), RtWindowTemplateData(),
       static_cast<uint32_t>(RtWindowTemplateSize()), RtWindowRoutineBase(), kLibraries, 1,
       precise::kDllCommandCount, precise::kDllTable.libraries, precise::kDllTable.functions});
  return image;
}

// The image is known to the Runtime before the entry routine runs.
struct Register {
  Register() { rt::RegisterProgramImage(&Image()); }
} g_register;

}  // namespace

namespace precise {
const char* DefaultSources() { return kConstants.default_sources; }
}  // namespace precise
