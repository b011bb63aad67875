// TEMPORARY stand-in until the event log layer lands.
#pragma once
#include <string>
#include <vector>
namespace events {
enum class Event { kStarted, kStopped, kFirstSet, kLargeSet, kSourcesDisagree, kAllFailing, kSourcesBack,
                   kRefusedNeedsThree, kRefusedOverYear, kWindowsTime, kSetFailed, kCount };
inline bool TryRegisterSource(const std::string&) { return true; }
inline bool TryRemoveSource() { return true; }
inline void Report(Event, const std::vector<std::string>&) {}
}
