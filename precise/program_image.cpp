// The precise program's image: the constants block, the window template with
// its routine base, the support library table and the DLL command table.
// The Runtime loads it when the entry routine asks for service 6.
#include <cstdint>

#include "precise/dll_table.h"
#include "precise/precise.h"
#include "program/program_image.h"
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
