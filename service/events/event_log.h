// The service's events in the Application log: one per change of state,
// never one per measurement. The texts live in timecal-events.dll (built
// from messages.mc by windmc, English as the neutral language and Chinese),
// which the event source's EventMessageFile names; the service passes only
// the inserts, so the viewer shows each event in the reader's language.
//
// The installer registers the source (TryRegisterSource) with the DLL's full
// path and removes it on uninstall; the service reports (Report). Reporting
// never fails the service: an event that cannot be written is dropped, and
// so is one with the wrong number of inserts (the viewer would show the
// message with its %n placeholders read from garbage).
//
// Owns: nothing between calls (each report opens and closes the source).
// May call: advapi32 (registry, event log), keeper/protocol.h for the
// source's name. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace events {

enum class Event {
  kStarted,            // %1 configured sources
  kStopped,
  kFirstSet,           // first set since start: %1 correction in seconds ("+0.153"),
                       // %2 bound in seconds, %3 agreeing, %4 configured sources
  kLargeSet,           // a set above 1 s, the same inserts
  kSourcesDisagree,    // %1 sources that answered
  kAllFailing,         // %1 since when (UTC time text), %2 the first source's reason
  kSourcesBack,        // %1 agreeing
  kRefusedNeedsThree,  // %1 correction, %2 agreeing, %3 false tickers
  kRefusedOverYear,    // %1 correction
  kWindowsTime,        // the Windows Time service also sets the clock
  kSetFailed,          // %1 Windows error number
  kCount
};

// One event's row: its message id in timecal-events.dll (severity bits
// included, as ReportEvent wants it), its EVENTLOG_*_TYPE and how many
// inserts its texts take.
struct EventRow {
  Event event;
  uint32_t message_id;
  uint16_t type;
  int inserts;
};
const EventRow& RowOf(Event e);

// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\TimecalPrecise
// with EventMessageFile (REG_EXPAND_SZ, message_file_path) and
// TypesSupported 7. Needs administrator rights; false when refused.
bool TryRegisterSource(const std::string& message_file_path);
// Removes that key; true when it is gone afterwards (also when it never was).
bool TryRemoveSource();

// Writes the event with its inserts; drops it when the insert count is not
// the event's or the log refuses. Never throws.
void Report(Event e, const std::vector<std::string>& inserts) noexcept;

// Test seam: the call that writes one checked event. The default opens the
// source, reports and closes it (RegisterEventSourceA, ReportEventA,
// DeregisterEventSource). Returns the previous hook.
using ReportFn = bool (*)(uint16_t type, uint32_t message_id, const std::vector<std::string>& inserts);
ReportFn ReportHook(ReportFn fn);
bool PlatformReport(uint16_t type, uint32_t message_id, const std::vector<std::string>& inserts);

}  // namespace events
