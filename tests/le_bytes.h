// Expected file bytes for tests, built value by value in little-endian order:
// LE().u16(7).text("LASF", 4).f64(0.5).b; and uAt to read a value back.
#ifndef MORROWTIDE_TESTS_LE_BYTES_H
#define MORROWTIDE_TESTS_LE_BYTES_H

#include <cstdint>
#include <cstring>
#include <vector>

struct LE {
  std::vector<uint8_t> b;

  LE& u8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  LE& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  LE& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  LE& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  LE& u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32)); }
  LE& f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return u32(bits);
  }
  LE& f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return u64(bits);
  }
  // `text` zero-padded (or cut) to n bytes.
  LE& text(const char* text, size_t n) {
    const size_t len = std::strlen(text);
    for (size_t i = 0; i < n; i++) u8(i < len ? static_cast<uint8_t>(text[i]) : 0);
    return *this;
  }
  LE& zeros(size_t n) { return text("", n); }
  LE& raw(const std::vector<uint8_t>& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
  }
};

// The `n`-byte little-endian value at `at` of `bytes`; bytes past the end count as 0.
inline uint64_t uAt(const std::vector<uint8_t>& bytes, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n && at + i < bytes.size(); i++) {
    v |= static_cast<uint64_t>(bytes[at + i]) << (8 * i);
  }
  return v;
}

#endif  // MORROWTIDE_TESTS_LE_BYTES_H
