// The service's events under Wine: every message formats from the built timecal-events.dll in both languages as
// messages.mc reads (expected_messages.py's own reading of it), the event source's key is there after registering
// and gone after removing, and an event with the wrong number of inserts is never written.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "expected_messages.h"
#include "keeper/protocol.h"
#include "service/events/event_log.h"

namespace {

using events::Event;
constexpr int kEvents = static_cast<int>(Event::kCount);

// FormatMessage's text without the line end windmc leaves after each message (LF, where Microsoft's writes CR LF).
std::wstring Formatted(HMODULE module, uint32_t id, uint16_t language) {
  DWORD_PTR args[4];
  for (int i = 0; i < 4; ++i) args[i] = reinterpret_cast<DWORD_PTR>(kSampleInserts[i]);
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           module, id, language, reinterpret_cast<wchar_t*>(&text), 0,
                           reinterpret_cast<va_list*>(args));
  std::wstring out = n ? std::wstring(text, n) : L"(FormatMessage error " + std::to_wstring(GetLastError()) + L")";
  LocalFree(text);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r')) out.pop_back();
  return out;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR to) {
  reinterpret_cast<std::set<uint16_t>*>(to)->insert(language);
  return TRUE;
}

// English must be LANG_NEUTRAL, the text a reader in any other language gets.
TEST(EventMessages, EveryEventReadsAsTheMessageFileInNeutralAndChinese) {
  const HMODULE dll = LoadLibraryExA(RT_EVENTS_DLL, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(dll, nullptr) << RT_EVENTS_DLL;
  std::set<uint16_t> languages;
  EnumResourceLanguagesW(dll, reinterpret_cast<LPCWSTR>(RT_MESSAGETABLE), MAKEINTRESOURCEW(1), AddLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, (std::set<uint16_t>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), 0x0804}));
  std::vector<int> texts_per_event(kEvents);
  for (const ExpectedMessage& m : kExpectedMessages) {
    SCOPED_TRACE(std::string(m.name) + (m.language ? " Chinese" : " neutral"));
    int e = 0;
    while (e < kEvents && events::RowOf(static_cast<Event>(e)).message_id != m.id) ++e;
    ASSERT_LT(e, kEvents) << "no event reports this message";
    ++texts_per_event[e];
    EXPECT_EQ(events::RowOf(static_cast<Event>(e)).inserts, m.inserts);
    EXPECT_EQ(Formatted(dll, m.id, m.language), m.text);
  }
  EXPECT_EQ(texts_per_event, std::vector<int>(kEvents, 2));
  FreeLibrary(dll);
}

const std::string kSourceKey =
    std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + keeper::kEventSource;

// The source's value as stored: its type and bytes.
std::pair<DWORD, std::string> Value(const char* name) {
  char data[512] = {};
  DWORD type = 0, size = sizeof(data) - 1;
  LONG r = RegGetValueA(HKEY_LOCAL_MACHINE, kSourceKey.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
  return r == ERROR_SUCCESS ? std::make_pair(type, std::string(data, size)) : std::make_pair(DWORD{0}, std::string());
}

// Registering over an earlier registration (an install over an install) leaves the new path; removing twice is
// still removed.
TEST(EventSource, RegisterLeavesTheKeyAndRemoveTakesItAway) {
  const std::string paths[] = {"%SystemRoot%\\timecal\\timecal-events.dll", "C:\\timecal\\timecal-events.dll"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(events::TryRegisterSource(path));
    EXPECT_EQ(Value("EventMessageFile"), std::make_pair(DWORD{REG_EXPAND_SZ}, path + '\0'));
    EXPECT_EQ(Value("TypesSupported"), std::make_pair(DWORD{REG_DWORD}, std::string("\7\0\0\0", 4)));
  }
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(events::TryRemoveSource());
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSourceKey.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    if (key) RegCloseKey(key);
  }
}

using Written = std::tuple<uint16_t, uint32_t, std::vector<std::string>>;  // type, message, inserts
std::vector<Written> g_written;
bool Record(uint16_t type, uint32_t id, const std::vector<std::string>& inserts) {
  g_written.emplace_back(type, id, inserts);
  return true;
}

TEST(EventReport, WritesOnlyWithTheEventsInsertCount) {
  events::ReportFn previous = events::ReportHook(Record);
  for (int e = 0; e < kEvents; ++e) {
    const events::EventRow& row = events::RowOf(static_cast<Event>(e));
    SCOPED_TRACE(e);
    for (int count : {row.inserts - 1, row.inserts + 1, row.inserts}) {
      if (count < 0) continue;
      SCOPED_TRACE(count);
      g_written.clear();
      std::vector<std::string> inserts(count, "1");
      events::Report(static_cast<Event>(e), inserts);
      std::vector<Written> expected;
      if (count == row.inserts) expected.emplace_back(row.type, row.message_id, inserts);
      EXPECT_EQ(g_written, expected);
    }
  }
  events::ReportHook(previous);
}

}  // namespace
