// Binding of external DLL commands (see dll_commands.h).
#include "runtime/dll/dll_commands.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"

namespace rt {

const char* const kSystemLibraryList[6] = {
    "Kernel32.dll", "Gdi32.dll", "User32.dll", "Advapi32.dll", "Mpr.dll", "Shell32.dll",
};

namespace {

// One reference to a loaded module; released exactly once.
class ModuleRef {
 public:
  ModuleRef() = default;
  explicit ModuleRef(HMODULE h) : h_(h) {}
  ModuleRef(const ModuleRef&) = delete;
  ModuleRef& operator=(const ModuleRef&) = delete;
  ModuleRef(ModuleRef&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  ModuleRef& operator=(ModuleRef&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  ~ModuleRef() { reset(); }
  HMODULE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset(HMODULE h = nullptr) {
    if (h_) FreeLibrary(h_);
    h_ = h;
  }

 private:
  HMODULE h_ = nullptr;
};

struct Entry {
  const char* library = nullptr;   // as stored in the image
  const char* function = nullptr;
  void* address = nullptr;
  ModuleRef module;
};

// Kept on the heap and never destroyed by static destruction: modules are
// released by the program-end sequence, not while the C runtime unwinds.
std::vector<Entry>& Entries() {
  static auto* entries = new std::vector<Entry>();
  return *entries;
}

// The name GetProcAddress takes: the export name, or for "#n" the ordinal
// (low 16 bits of the decimal number after the "#").
FARPROC LookUp(HMODULE module, const char* function) {
  if (function[0] == '#') {
    unsigned long n = std::strtoul(function + 1, nullptr, 10);
    WORD ordinal = static_cast<WORD>(n & 0xFFFFu);
    if (ordinal == 0) return nullptr;  // no export has ordinal 0
    return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  }
  return GetProcAddress(module, function);
}

// Directory of the module our code lives in, with its trailing backslash
// (empty when unknown).
std::string InstanceDirectory() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&InstanceDirectory), &self))
    return std::string();
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string dir(path, n);
  size_t slash = dir.rfind('\\');
  if (slash == std::string::npos) return std::string();
  dir.resize(slash + 1);
  return dir;
}

// A named library: an absolute path as given; otherwise the program's
// directory, then the module's directory, then the system search order.
ModuleRef LoadNamedLibrary(const char* name) {
  if (std::strchr(name, ':')) return ModuleRef(LoadLibraryA(name));
  const char* program_dir = State().program_dir;
  // An unknown program directory would turn "\name" into the root of the
  // current drive; a library is never looked for there.
  if (program_dir[0]) {
    std::string path = std::string(program_dir) + "\\" + name;
    if (HMODULE h = LoadLibraryA(path.c_str())) return ModuleRef(h);
  }
  // The module's directory: for a Runtime linked into the program this is
  // the program's directory again, tried a second time.
  std::string instance = InstanceDirectory();
  if (!instance.empty()) {
    std::string path = instance + name;
    if (HMODULE h = LoadLibraryA(path.c_str())) return ModuleRef(h);
  }
  return ModuleRef(LoadLibraryA(name));
}

std::string Format(const char* pattern, const char* a, const char* b = nullptr) {
  int n = std::snprintf(nullptr, 0, pattern, a, b);
  if (n <= 0) return std::string(pattern);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(&out[0], out.size(), pattern, a, b);
  out.resize(static_cast<size_t>(n));
  return out;
}

[[noreturn]] void CannotBind(const char* library, const char* function) {
  std::string message =
      (library && library[0])
          ? Format(GBK_MSG_NO_EXPORT_HEAD GBK_OPEN_QUOTE "%s" GBK_CLOSE_QUOTE
                   GBK_MSG_NO_EXPORT_TAIL GBK_OPEN_QUOTE "%s" GBK_CLOSE_QUOTE,
                   library, function ? function : "")
          : Format(GBK_MSG_NO_EXPORT GBK_OPEN_QUOTE "%s" GBK_CLOSE_QUOTE, function ? function : "");
  FatalError(message.c_str(), 0);
}

}  // namespace

void LoadDllCommandTable(uint32_t count, const char* const* libraries,
                         const char* const* functions) {
  ReleaseDllCommandModules();
  std::vector<Entry>& entries = Entries();
  entries.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    entries[i].library = libraries ? libraries[i] : nullptr;
    entries[i].function = functions ? functions[i] : nullptr;
  }
}

void* ResolveDllCommand(uint32_t index) {
  std::vector<Entry>& entries = Entries();
  if (index >= entries.size()) {
    // Compiled code never names an entry the image lacks; say which one.
    char number[16];
    std::snprintf(number, sizeof number, "%u", index);
    CannotBind(nullptr, number);
  }
  Entry& e = entries[index];
  if (e.address) return e.address;
  const char* function = e.function ? e.function : "";
  const char* library = e.library ? e.library : "";

  ModuleRef module;
  void* address = nullptr;
  if (!library[0]) {
    for (const char* candidate : kSystemLibraryList) {
      ModuleRef m(LoadLibraryA(candidate));
      if (!m) continue;
      if (FARPROC f = LookUp(m.get(), function)) {
        address = reinterpret_cast<void*>(f);
        module = std::move(m);
        break;
      }
      // m goes out of scope: the library is released before the next try.
    }
  } else {
    module = LoadNamedLibrary(library);
    if (module) address = reinterpret_cast<void*>(LookUp(module.get(), function));
  }
  if (!address) {
    module.reset();
    CannotBind(library, function);
  }
  e.address = address;
  e.module = std::move(module);
  return address;
}

void ReleaseDllCommandModules() {
  // Each slot holds its own reference (released by its ModuleRef), so two
  // entries of one library release it twice, as they loaded it twice.
  Entries().clear();
}

DllBinding InspectDllCommand(uint32_t index) {
  const std::vector<Entry>& entries = Entries();
  if (index >= entries.size()) return DllBinding{nullptr, nullptr};
  return DllBinding{entries[index].address, entries[index].module.get()};
}

uint32_t DllCommandCount() { return static_cast<uint32_t>(Entries().size()); }

void InstallDllCommands() {
  SetDllResolver(&ResolveDllCommand);
  SetDllTableLoader(&LoadDllCommandTable);
  SetDllReleaseHook(&ReleaseDllCommandModules);
}

}  // namespace rt
