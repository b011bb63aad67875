#include "program/dll_table.h"

namespace prog {

// An empty library name lets the Runtime try its list of system libraries.
const char* const kDllLibraryNames[kDllCommandCount] = {
    "wininet.dll", "wininet.dll", "wininet.dll", "wininet.dll", "wininet.dll", "wininet.dll",
    "wininet.dll", "wininet.dll", "",            "kernel32.dll", "ole32.dll", "ole32.dll",
    "user32.dll",  "user32.dll",
};

const char* const kDllFunctionNames[kDllCommandCount] = {
    "InternetOpenA",    "InternetCloseHandle", "InternetConnectA",    "HttpOpenRequestA",
    "HttpSendRequestA", "HttpSendRequestA",    "InternetReadFile",    "HttpQueryInfoA",
    "MultiByteToWideChar", "WideCharToMultiByte", "CoInitialize",     "CoUninitialize",
    "SetTimer",         "KillTimer",
};

}  // namespace prog
