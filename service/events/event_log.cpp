// The event source's registration and the reports (event_log.h).
#include "service/events/event_log.h"

#include <windows.h>

#include "keeper/protocol.h"
#include "messages.h"  // windmc's ids, generated from messages.mc

namespace events {
namespace {

constexpr EventRow kRows[] = {
    {Event::kStarted, MSG_STARTED, EVENTLOG_INFORMATION_TYPE, 1},
    {Event::kStopped, MSG_STOPPED, EVENTLOG_INFORMATION_TYPE, 0},
    {Event::kFirstSet, MSG_FIRST_SET, EVENTLOG_INFORMATION_TYPE, 4},
    {Event::kLargeSet, MSG_LARGE_SET, EVENTLOG_WARNING_TYPE, 4},
    {Event::kSourcesDisagree, MSG_SOURCES_DISAGREE, EVENTLOG_WARNING_TYPE, 1},
    {Event::kAllFailing, MSG_ALL_FAILING, EVENTLOG_ERROR_TYPE, 2},
    {Event::kSourcesBack, MSG_SOURCES_BACK, EVENTLOG_INFORMATION_TYPE, 1},
    {Event::kRefusedNeedsThree, MSG_REFUSED_NEEDS_THREE, EVENTLOG_WARNING_TYPE, 3},
    {Event::kRefusedOverYear, MSG_REFUSED_OVER_YEAR, EVENTLOG_ERROR_TYPE, 1},
    {Event::kWindowsTime, MSG_WINDOWS_TIME, EVENTLOG_WARNING_TYPE, 0},
    {Event::kSetFailed, MSG_SET_FAILED, EVENTLOG_ERROR_TYPE, 1},
};
constexpr size_t kCount = static_cast<size_t>(Event::kCount);
static_assert(sizeof(kRows) / sizeof(kRows[0]) == kCount, "one row per event");

// The message's severity (its top two bits, set by messages.mc) is the
// event's type, so the viewer's icon and the text's tone agree.
constexpr uint16_t TypeOfSeverity(uint32_t id) {
  return (id >> 30) == 1 ? EVENTLOG_INFORMATION_TYPE
         : (id >> 30) == 2 ? EVENTLOG_WARNING_TYPE
         : (id >> 30) == 3 ? EVENTLOG_ERROR_TYPE
                           : 0;
}
constexpr bool RowsInOrder() {
  for (size_t i = 0; i < kCount; ++i) {
    if (kRows[i].event != static_cast<Event>(i)) return false;
    if (TypeOfSeverity(kRows[i].message_id) != kRows[i].type) return false;
    if (kRows[i].inserts < 0 || kRows[i].inserts > 4) return false;
    for (size_t j = 0; j < i; ++j) {
      if ((kRows[j].message_id & 0xFFFF) == (kRows[i].message_id & 0xFFFF)) return false;
    }
  }
  return true;
}
static_assert(RowsInOrder(), "rows in enum order, type matching the message's severity, distinct event ids");

constexpr char kApplicationLog[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
static_assert(kTypesSupported == 7, "error, warning and information");

std::string SourceKey() { return std::string(kApplicationLog) + keeper::kEventSource; }

ReportFn g_report = PlatformReport;

}  // namespace

const EventRow& RowOf(Event e) {
  size_t i = static_cast<size_t>(e);
  return kRows[i < kCount ? i : 0];
}

bool TryRegisterSource(const std::string& message_file_path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SourceKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(message_file_path.c_str()),
                           static_cast<DWORD>(message_file_path.size() + 1)) == ERROR_SUCCESS &&
            RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                           sizeof(kTypesSupported)) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool TryRemoveSource() {
  std::string name = SourceKey();
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, name.c_str());
  HKEY key = nullptr;
  LONG open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key);
  if (open == ERROR_SUCCESS) RegCloseKey(key);
  return open == ERROR_FILE_NOT_FOUND;
}

bool PlatformReport(uint16_t type, uint32_t message_id, const std::vector<std::string>& inserts) {
  HANDLE source = RegisterEventSourceA(nullptr, keeper::kEventSource);
  if (source == nullptr) return false;
  std::vector<const char*> strings;
  for (const std::string& s : inserts) strings.push_back(s.c_str());
  BOOL ok = ReportEventA(source, type, 0, message_id, nullptr, static_cast<WORD>(strings.size()), 0,
                         strings.empty() ? nullptr : strings.data(), nullptr);
  DeregisterEventSource(source);
  return ok != FALSE;
}

ReportFn ReportHook(ReportFn fn) {
  ReportFn previous = g_report;
  g_report = fn;
  return previous;
}

void Report(Event e, const std::vector<std::string>& inserts) noexcept {
  size_t i = static_cast<size_t>(e);
  if (i >= kCount || inserts.size() != static_cast<size_t>(kRows[i].inserts)) return;
  try {
    g_report(kRows[i].type, kRows[i].message_id, inserts);
  } catch (...) {
    // Out of memory for the inserts' pointers: the event is dropped.
  }
}

}  // namespace events
