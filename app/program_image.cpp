// The program image: the constants block, the window templates with their
// routine base, the support library table and the DLL command table. The
// Runtime loads it when the entry routine asks for service 6.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/timecal.h"
#include "runtime/core/image.h"
#include "runtime/ui/ui_runtime.h"
#include "app/dll_table.h"
#include "program/program_image.h"
#include "window_templates.h"

#ifndef TIMECAL_SERVICE_URL
#error "the build names the time service (TIMECAL_SERVICE_URL)"
#endif

namespace {

// Texts the routines use in place. The block also holds the empty ByteSet
// (dimension 1, length 0) that stands in for a null ByteSet argument.
struct Constants {
  char url[256];
  char member_key[sizeof "sysTime2"];
  char empty_text[1];
  alignas(4) int32_t empty_bytes[2];
};
static_assert(sizeof(TIMECAL_SERVICE_URL) <= 256, "service URL fits its constant");

#ifdef TIMECAL_PROBE
Constants g_constants = {TIMECAL_SERVICE_URL, "sysTime2", "", {1, 0}};  // the probe may repoint the URL
#else
const Constants g_constants = {TIMECAL_SERVICE_URL, "sysTime2", "", {1, 0}};
#endif

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};

const rt::ProgramImage& Image() {
  static const rt::ProgramImage image = prog::MakeProgramImage(
      {&g_constants, static_cast<uint32_t>(sizeof g_constants), RtWindowTemplateData(),
       static_cast<uint32_t>(RtWindowTemplateSize()), RtWindowRoutineBase(), kLibraries, 1,
       app::kDllCommandCount, app::kDllLibraryNames, app::kDllFunctionNames});
  return image;
}

// The image is known to the Runtime before the entry routine runs.
struct Register {
  Register() { rt::RegisterProgramImage(&Image()); }
} g_register;

}  // namespace

namespace app {
const char* TimeServiceUrl() { return g_constants.url; }
const char* MemberKey() { return g_constants.member_key; }
const char* EmptyText() { return g_constants.empty_text; }

#ifdef TIMECAL_PROBE
void ProbeSetServiceUrl(const char* url) {
  std::strncpy(g_constants.url, url, sizeof g_constants.url - 1);
}
#endif
}  // namespace app
