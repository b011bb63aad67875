// The precise program's image: the constants block, the window template with
// its routine base, the support library table and the DLL command table.
// The Runtime loads it when the entry routine asks for service 6.
#include <cstdint>

#include "precise/dll_table.h"
#include "precise/precise.h"
#include "runtime/core/image.h"
#include "runtime/ui/ui_runtime.h"
#include "window_templates.h"

namespace {

// Texts the routines use in place. The default sources: the main tool's
// time service and well-known HTTPS sites whose Date header is kept right.
struct Constants {
  char default_sources[160];
};
constexpr Constants kConstants = {
    "http://quan.suning.com/getSysTime.do https://www.baidu.com/ https://www.qq.com/ "
    "https://www.taobao.com/"};

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

const rt::ProgramImage& Image() {
  static const rt::ProgramImage image = {
      3,        // build kind: not a debugging build
      0,        // reserved A
      0x180E6,  // last id number handed out when the program was built
      static_cast<uint32_t>(RtWindowRoutineBase()),
      Address(&kConstants),
      static_cast<uint32_t>(sizeof kConstants),
      Address(RtWindowTemplateData()),
      static_cast<uint32_t>(RtWindowTemplateSize()),
      1,
      Address(kLibraries),
      precise::kDllCommandCount,
      Address(precise::DllLibraryNames()),
      Address(precise::DllFunctionNames()),
  };
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
