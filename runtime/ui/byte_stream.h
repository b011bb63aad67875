// Bounded little-endian reading and writing of stored template data.
//
// The reader never touches a byte outside [data, data + size): every read
// checks the remaining length first and a failed read leaves the position
// unchanged. Portable, header-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rt::ui {

inline bool Fail(std::string* error, const char* what) {
  if (error && error->empty()) *error = what;
  return false;
}

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }

  bool Skip(size_t n) {
    if (n > Remaining()) return false;
    pos_ += n;
    return true;
  }
  bool Bytes(void* out, size_t n) {
    if (n > Remaining()) return false;
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool U32(uint32_t* v) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    *v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
  }
  bool I32(int32_t* v) {
    uint32_t u;
    if (!U32(&u)) return false;
    *v = static_cast<int32_t>(u);
    return true;
  }
  bool U16(uint16_t* v) {
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    *v = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  // u32 length, then that many bytes.
  bool CountedBytes(std::vector<uint8_t>* out) {
    size_t start = pos_;
    uint32_t n;
    if (!U32(&n) || n > Remaining()) {
      pos_ = start;
      return false;
    }
    out->assign(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return true;
  }
  bool CountedText(std::string* out) {
    std::vector<uint8_t> bytes;
    if (!CountedBytes(&bytes)) return false;
    out->assign(bytes.begin(), bytes.end());
    return true;
  }
  // Bytes up to and including a zero byte, which must lie inside the data.
  bool ZText(std::string* out) {
    const void* zero = Remaining() ? std::memchr(data_ + pos_, 0, Remaining()) : nullptr;
    if (!zero) return false;
    size_t n = static_cast<size_t>(static_cast<const uint8_t*>(zero) - (data_ + pos_));
    out->assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n + 1;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class ByteWriter {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    out_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Bytes(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void CountedBytes(const std::vector<uint8_t>& b) {
    U32(static_cast<uint32_t>(b.size()));
    Bytes(b.data(), b.size());
  }
  void CountedText(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  std::vector<uint8_t>& data() { return out_; }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace rt::ui
