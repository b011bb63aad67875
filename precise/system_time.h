// Unix milliseconds as the platform's time structures and back, for every
// program that hands a time to Windows or reads one from it (the precise
// window, the time-keeping service, their test builds, the query).
// Owns nothing; header-only, Windows only (the calendar itself is policy.h's).
#pragma once

#include <windows.h>

#include <cstdint>

#include "measure/measure.h"
#include "precise/policy.h"

namespace precise {

inline FILETIME FileTimeOf(int64_t unix_ms) {
  uint64_t ticks = static_cast<uint64_t>(unix_ms * 10000 + measure::kFileTimeAt1970);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

inline int64_t UnixMsOf(const FILETIME& f) {
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  return (ticks - measure::kFileTimeAt1970) / 10000;
}

// SetSystemTime's argument: UTC, milliseconds kept.
inline SYSTEMTIME SystemTimeOf(int64_t utc_ms) {
  Fields f = FieldsOf(utc_ms);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(f.year);
  st.wMonth = static_cast<WORD>(f.month);
  st.wDayOfWeek = static_cast<WORD>(f.day_of_week);
  st.wDay = static_cast<WORD>(f.day);
  st.wHour = static_cast<WORD>(f.hour);
  st.wMinute = static_cast<WORD>(f.minute);
  st.wSecond = static_cast<WORD>(f.second);
  st.wMilliseconds = static_cast<WORD>(f.millisecond);
  return st;
}

// The PC clock now, to the platform's finest reading.
inline int64_t PcClockUnixMs() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  return UnixMsOf(ft);
}

}  // namespace precise
