// The platform functions the web client calls (web_request.cpp over
// WinINet, codepage.cpp), as rows of a program's DllCommandTable. They are
// the first rows of the table of every program that uses the web client:
// their command numbers start at 0.
// Owns: constant data only.
// May call: nothing; header-only and portable (program/dll_table.h).
#pragma once

#include <iterator>

#include "program/dll_table.h"

namespace web {

enum DllCommand : int {
  kInternetOpenA,
  kInternetCloseHandle,
  kInternetConnectA,
  kHttpOpenRequestA,
  kHttpSendRequestText,   // HttpSendRequestA, body as a text pointer
  kHttpSendRequestBytes,  // HttpSendRequestA, body as ByteSet data
  kInternetReadFile,
  kHttpQueryInfoA,
  kMultiByteToWideChar,
  kWideCharToMultiByte,
  kDllCommandEnd,  // one past the web client's last command
};

constexpr prog::DllRow kDllRows[] = {
    {kInternetOpenA, "wininet.dll", "InternetOpenA", 5},
    {kInternetCloseHandle, "wininet.dll", "InternetCloseHandle", 1},
    {kInternetConnectA, "wininet.dll", "InternetConnectA", 8},
    {kHttpOpenRequestA, "wininet.dll", "HttpOpenRequestA", 8},
    {kHttpSendRequestText, "wininet.dll", "HttpSendRequestA", 5},
    {kHttpSendRequestBytes, "wininet.dll", "HttpSendRequestA", 5},
    {kInternetReadFile, "wininet.dll", "InternetReadFile", 4},
    {kHttpQueryInfoA, "wininet.dll", "HttpQueryInfoA", 5},
    {kMultiByteToWideChar, "", "MultiByteToWideChar", 6},  // found in the system libraries
    {kWideCharToMultiByte, "kernel32.dll", "WideCharToMultiByte", 8},
};
static_assert(prog::RowsDense(kDllRows, 0) && std::size(kDllRows) == kDllCommandEnd,
              "one row per web command, in command order");

}  // namespace web
