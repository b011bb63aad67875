// The program image as every program of this tree fills it: its constants
// block, its window templates (the accessors tools/rtwin generates), its
// support libraries and its DLL command table. The layout is the Runtime's
// (runtime/core/image.h); a program registers the image before its entry
// routine asks for service 6. Header-only.
#pragma once

#include <cstdint>

#include "runtime/core/image.h"

namespace prog {

struct ImageParts {
  const void* constants;
  uint32_t constants_size;
  const unsigned char* templates;
  uint32_t templates_size;
  uintptr_t routine_base;
  const rt::LibraryRecord* const* libraries;
  uint32_t library_count;
  uint32_t dll_command_count;
  const char* const* dll_library_names;
  const char* const* dll_function_names;
};

inline rt::ProgramImage MakeProgramImage(const ImageParts& p) {
  auto address = [](const void* a) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(a)); };
  return rt::ProgramImage{
      3,        // build kind: not a debugging build
      0,        // reserved A
      0x180E6,  // last id number handed out when the program was built
      static_cast<uint32_t>(p.routine_base),
      address(p.constants),
      p.constants_size,
      address(p.templates),
      p.templates_size,
      p.library_count,
      address(p.libraries),
      p.dll_command_count,
      address(p.dll_library_names),
      address(p.dll_function_names),
  };
}

}  // namespace prog
