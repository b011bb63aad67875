// The tool's DllCommandTable, assembled from the rows of the libraries it
// uses: the web client's, then the JSON object's (whose numbers follow
// web's). The program image (program_image.cpp) carries its name arrays;
// the test build's fault seams (probe_faults.cpp) are made from its rows;
// the tests that bind the program's commands load it too.
// Owns: constant data only.
// May call: nothing; header-only (web/web_dll.h, json/json_dll.h).
#pragma once

#include "json/json_dll.h"
#include "program/dll_table.h"
#include "web/web_dll.h"

namespace app {

inline constexpr auto kDllTable = prog::JoinDllRows(web::kDllRows, json::kDllRows);
static_assert(kDllTable.Dense(), "every command at its own number, none missing");

constexpr int kDllCommandCount = kDllTable.kCount;
constexpr const char* const* kDllLibraryNames = kDllTable.libraries;
constexpr const char* const* kDllFunctionNames = kDllTable.functions;

}  // namespace app
