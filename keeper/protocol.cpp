// The pipe's messages byte by byte (protocol.h). Layout of a status:
//   0 magic u32 | 4 version u16 | 6 answer u16 | 8 flags u16 | 10 sources u16
//   12 measurements u32 | 16 measured_utc_ms i64 | 24 offset_us i32
//   28 bound_us u32 | 32 agreed u16 | 34 false_tickers u16 | 36 decision u16
//   38 zero u16 | 40 set_utc_ms i64 | 48 correction_ms i64 | 56 zero (8 bytes)
#include "keeper/protocol.h"

namespace keeper {
namespace {

enum Flag : uint16_t { kMeasuring = 1, kWindowsTime = 2, kFound = 4, kDisagree = 8 };

void Put(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t Get(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
  return value;
}

// Magic and version, the head of both messages; kState when they read.
Answer CheckHead(const uint8_t* bytes) {
  if (Get(bytes, 4) != kMagic) return Answer::kBadMagic;
  if (Get(bytes + 4, 2) != kVersion) return Answer::kBadVersion;
  return Answer::kState;
}

}  // namespace

std::array<uint8_t, kRequestSize> EncodeRequest(Command command) {
  std::array<uint8_t, kRequestSize> out{};
  Put(&out[0], kMagic, 4);
  Put(&out[4], kVersion, 2);
  Put(&out[6], static_cast<uint16_t>(command), 2);
  return out;
}

Answer DecodeRequest(const uint8_t* bytes, size_t size, Request* request) {
  if (!bytes || size != kRequestSize) return Answer::kBadSize;
  Answer head = CheckHead(bytes);
  if (head != Answer::kState) return head;
  uint64_t command = Get(bytes + 6, 2);
  if (command < 1 || command > kCommandCount) return Answer::kUnknownCommand;
  request->command = static_cast<Command>(command);
  return Answer::kState;
}

std::array<uint8_t, kStatusSize> EncodeStatus(const Status& s) {
  std::array<uint8_t, kStatusSize> out{};
  uint16_t flags = (s.measuring ? kMeasuring : 0) | (s.windows_time_syncing ? kWindowsTime : 0) |
                   (s.found ? kFound : 0) | (s.disagree ? kDisagree : 0);
  Put(&out[0], kMagic, 4);
  Put(&out[4], kVersion, 2);
  Put(&out[6], static_cast<uint16_t>(s.answer), 2);
  Put(&out[8], flags, 2);
  Put(&out[10], s.sources, 2);
  Put(&out[12], s.measurements, 4);
  Put(&out[16], static_cast<uint64_t>(s.measured_utc_ms), 8);
  Put(&out[24], static_cast<uint32_t>(s.offset_us), 4);
  Put(&out[28], s.bound_us, 4);
  Put(&out[32], s.agreed, 2);
  Put(&out[34], s.false_tickers, 2);
  Put(&out[36], s.decision, 2);
  Put(&out[40], static_cast<uint64_t>(s.set_utc_ms), 8);
  Put(&out[48], static_cast<uint64_t>(s.correction_ms), 8);
  return out;
}

bool TryDecodeStatus(const uint8_t* bytes, size_t size, Status* s) {
  if (!bytes || size != kStatusSize || CheckHead(bytes) != Answer::kState) return false;
  uint64_t answer = Get(bytes + 6, 2);
  if (answer >= static_cast<uint64_t>(Answer::kCount)) return false;
  Status out;
  uint16_t flags = static_cast<uint16_t>(Get(bytes + 8, 2));
  out.answer = static_cast<Answer>(answer);
  out.measuring = flags & kMeasuring;
  out.windows_time_syncing = flags & kWindowsTime;
  out.found = flags & kFound;
  out.disagree = flags & kDisagree;
  out.sources = static_cast<uint16_t>(Get(bytes + 10, 2));
  out.measurements = static_cast<uint32_t>(Get(bytes + 12, 4));
  out.measured_utc_ms = static_cast<int64_t>(Get(bytes + 16, 8));
  out.offset_us = static_cast<int32_t>(static_cast<uint32_t>(Get(bytes + 24, 4)));
  out.bound_us = static_cast<uint32_t>(Get(bytes + 28, 4));
  out.agreed = static_cast<uint16_t>(Get(bytes + 32, 2));
  out.false_tickers = static_cast<uint16_t>(Get(bytes + 34, 2));
  out.decision = static_cast<uint16_t>(Get(bytes + 36, 2));
  out.set_utc_ms = static_cast<int64_t>(Get(bytes + 40, 8));
  out.correction_ms = static_cast<int64_t>(Get(bytes + 48, 8));
  *s = out;
  return true;
}

bool WindowsTimeSynchronises(bool running, const char* type) {
  if (!running) return false;
  if (!type) return true;  // no setting read: its default synchronises
  const char* no_sync = "nosync";
  size_t i = 0;
  for (; type[i] && no_sync[i]; ++i) {
    char c = type[i] >= 'A' && type[i] <= 'Z' ? static_cast<char>(type[i] - 'A' + 'a') : type[i];
    if (c != no_sync[i]) return true;
  }
  return type[i] != 0 || no_sync[i] != 0;
}

bool RateLimit::TryTake(int64_t now_ms) {
  if (taken_ && now_ms - last_ms_ < interval_ms_) return false;
  taken_ = true;
  last_ms_ = now_ms;
  return true;
}

}  // namespace keeper
