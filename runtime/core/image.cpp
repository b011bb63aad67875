// Runtime services, end routines and the seams of the image loader.
#include "runtime/core/image.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

std::vector<EndRoutine> g_end_routines;
TemplateLoader g_template_loader = nullptr;
DllTableLoader g_dll_loader = nullptr;
LibraryNotify g_notification_entry = nullptr;
ProgramEndFn g_program_end = nullptr;
DllResolver g_dll_resolver = nullptr;
const ProgramImage* g_image = nullptr;
DllReleaseFn g_dll_release = nullptr;

[[noreturn]] void NoUi() { FatalError(GBK_MSG_NO_START_WINDOW, 0); }
uint64_t NoRead(uint32_t, uint32_t, int32_t, int32_t) { NoUi(); }
void NoWrite(uint32_t, uint32_t, int32_t, int32_t, uint32_t, uint32_t) { NoUi(); }
void NoLoop() {}
void* NoLoad(uint32_t) { NoUi(); }
UiEntryPoints g_ui{NoRead, NoWrite, NoLoop, NoLoad};

}  // namespace

RuntimeState& State() {
  static RuntimeState state;
  return state;
}

void MakeArrayWritable(uint32_t element_width, ArrayBlock** variable) {
  if (!variable || !*variable || !IsConstant(*variable)) return;
  const ArrayBlock* source = *variable;
  // Copy only what lies inside the constants block: a malformed constant
  // header must not make us read past it.
  uint32_t available = BytesToConstantsEnd(source);
  if (available < 4) return;
  int32_t dims = source->dims;
  if (dims < 0 || static_cast<uint32_t>(dims) > (available - 4) / 4) return;
  int64_t count = 1;
  for (int32_t i = 0; i < dims; ++i) count *= std::max<int32_t>(source->sizes[i], 0);
  if (dims == 0) count = 0;
  uint32_t header = 4 + 4 * static_cast<uint32_t>(dims);
  uint32_t size = BlockSize(header, count, element_width);
  auto* copy = static_cast<uint8_t*>(AllocateBlock(size));
  uint32_t take = std::min(size, available);
  std::memcpy(copy, source, take);
  if (take < size) std::memset(copy + take, 0, size - take);
  *variable = reinterpret_cast<ArrayBlock*>(copy);
}

void RegisterEndRoutine(EndRoutine routine) {
  if (!routine) return;
  if (std::find(g_end_routines.begin(), g_end_routines.end(), routine) != g_end_routines.end())
    return;
  g_end_routines.push_back(routine);
}

std::vector<EndRoutine> TakeEndRoutines() {
  std::vector<EndRoutine> list;
  list.swap(g_end_routines);
  return list;
}

intptr_t RuntimeService(int service, intptr_t a1, intptr_t a2, intptr_t, intptr_t, intptr_t,
                        intptr_t) {
  switch (service) {
    case kServiceFindFile:
    case kServiceEndFileSearch:
    case kServiceReserved4:
    case kServiceReserved5:
      return 0;  // facilities this program does not use
    case kServiceMakeArrayWritable:
      MakeArrayWritable(static_cast<uint32_t>(a1), reinterpret_cast<ArrayBlock**>(a2));
      return 0;
    case kServiceRegisterEndRoutine:
      RegisterEndRoutine(reinterpret_cast<EndRoutine>(a1));
      return 0;
    case kServiceLoadProgramImage:
      if (!g_image) FatalError(GBK_MSG_BAD_TEMPLATES "!", 0);
      LoadProgramImage(g_image);
      return 0;
    default:
      FatalError(GBK_MSG_UNKNOWN_SERVICE, 0);
  }
}

void SetDllReleaseHook(DllReleaseFn fn) { g_dll_release = fn; }
void ReleaseDllModules() {
  if (g_dll_release) g_dll_release();
}
void RegisterProgramImage(const ProgramImage* image) { g_image = image; }
const ProgramImage* RegisteredProgramImage() { return g_image; }
void SetTemplateLoader(TemplateLoader loader) { g_template_loader = loader; }
void SetDllTableLoader(DllTableLoader loader) { g_dll_loader = loader; }
void SetNotificationEntry(LibraryNotify entry) { g_notification_entry = entry; }
void SetProgramEndHook(ProgramEndFn fn) { g_program_end = fn; }
void SetUiEntryPoints(const UiEntryPoints& ui) { g_ui = ui; }
const UiEntryPoints& UiEntries() { return g_ui; }
void SetDllResolver(DllResolver resolver) { g_dll_resolver = resolver; }
DllResolver GetDllResolver() { return g_dll_resolver; }

void RunProgramEndSequence(int32_t exit_code) {
  if (g_program_end) {
    g_program_end(exit_code);
    return;
  }
  // No windowing runtime linked: run the end routines ourselves.
  RaiseFailureCount();
  for (EndRoutine r : TakeEndRoutines()) r();
}

void SplitProgramPath(const char* path, char* dir, size_t dir_size, char* file, size_t file_size) {
  const char* slash = std::strrchr(path, '\\');
  size_t dir_len = slash ? static_cast<size_t>(slash - path) : 0;
  const char* name = slash ? slash + 1 : path;
  if (dir_size) {
    size_t n = std::min(dir_len, dir_size - 1);
    std::memcpy(dir, path, n);
    dir[n] = '\0';
  }
  if (file_size) {
    size_t n = std::min(std::strlen(name), file_size - 1);
    std::memcpy(file, name, n);
    file[n] = '\0';
  }
}

// Pieces of the loader shared by every platform (steps 2, 7 to 11).
void LoadImageData(const ProgramImage* image) {
  RuntimeState& s = State();
  s.image = image;
  s.build_kind = image->build_kind;
  s.reserved_a = image->reserved_a;
  s.next_id_number = image->last_id_number + 1;
  ResetFailureCountForImageLoad();
  auto addr = [](uint32_t a) { return reinterpret_cast<const void*>(static_cast<uintptr_t>(a)); };
  if (image->constants_size > 0) SetConstantsBlock(addr(image->constants_address), image->constants_size);
  if (image->dll_command_count > 0 && g_dll_loader)
    g_dll_loader(image->dll_command_count,
                 static_cast<const char* const*>(addr(image->dll_library_names)),
                 static_cast<const char* const*>(addr(image->dll_function_names)));
  s.libraries.clear();
  auto* const* records = static_cast<const LibraryRecord* const*>(addr(image->library_table));
  for (uint32_t i = 0; i < image->library_count && records; ++i) {
    if (records[i]->notify)
      records[i]->notify(1, reinterpret_cast<intptr_t>(g_notification_entry), 0);
    s.libraries.push_back(*records[i]);
  }
  s.library_values.assign(s.libraries.size(), 0);
  if (image->templates_size > 0) {
    const auto* block = static_cast<const uint8_t*>(addr(image->templates_address));
    if (!g_template_loader || !g_template_loader(block, image->templates_size, image->routine_base))
      FatalError(GBK_MSG_BAD_TEMPLATES "!", 0);
  }
}

}  // namespace rt
