// The platform functions the JSON object calls (COM start and end for its
// thread, the thread timer of its idle-time work), as rows of a program's
// DllCommandTable. A program that uses the JSON object lists them right
// after the web client's (web/web_dll.h), so their numbers follow web's.
// Owns: constant data only.
// May call: nothing; header-only and portable (program/dll_table.h).
#pragma once

#include <iterator>

#include "program/dll_table.h"
#include "web/web_dll.h"

namespace json {

enum DllCommand : int {
  kCoInitialize = web::kDllCommandEnd,
  kCoUninitialize,
  kSetTimer,   // the idle-time work (a thread timer)
  kKillTimer,
  kDllCommandEnd,  // one past the JSON object's last command
};

constexpr prog::DllRow kDllRows[] = {
    {kCoInitialize, "ole32.dll", "CoInitialize", 1},
    {kCoUninitialize, "ole32.dll", "CoUninitialize", 0},
    {kSetTimer, "user32.dll", "SetTimer", 4},
    {kKillTimer, "user32.dll", "KillTimer", 2},
};
static_assert(prog::RowsDense(kDllRows, web::kDllCommandEnd) &&
                  std::size(kDllRows) == kDllCommandEnd - web::kDllCommandEnd,
              "one row per JSON command, in command order");

}  // namespace json
