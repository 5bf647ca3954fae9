// Little-endian byte layout: the one set of helpers through which fixed-layout
// bytes (point items, record payloads, header fields) are read and written.
// Built on shifts, so the bytes do not depend on the host's byte order; on a
// little-endian host each compiles to a single load or store. Signed values are
// the unsigned ones with the same bits; F32/F64 travel as the U32/U64 with their
// bit pattern (copied with memcpy, never cast). No alignment is required.
#ifndef MORROWTIDE_COMPRESSOR_BYTE_ORDER_H
#define MORROWTIDE_COMPRESSOR_BYTE_ORDER_H

#include <cstdint>
#include <cstring>

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "F32 and F64 are 4 and 8 bytes");

namespace morrowtide {

inline uint16_t getU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t getU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t getU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(morrowtide::getU32LE(p)) |
         (static_cast<uint64_t>(morrowtide::getU32LE(p + 4)) << 32);
}

inline int16_t getI16LE(const uint8_t* p) { return static_cast<int16_t>(morrowtide::getU16LE(p)); }
inline int32_t getI32LE(const uint8_t* p) { return static_cast<int32_t>(morrowtide::getU32LE(p)); }
inline int64_t getI64LE(const uint8_t* p) { return static_cast<int64_t>(morrowtide::getU64LE(p)); }

inline float getF32LE(const uint8_t* p) {
  const uint32_t bits = morrowtide::getU32LE(p);
  float v;
  std::memcpy(&v, &bits, sizeof(v));
  return v;
}

inline double getF64LE(const uint8_t* p) {
  const uint64_t bits = morrowtide::getU64LE(p);
  double v;
  std::memcpy(&v, &bits, sizeof(v));
  return v;
}

inline void putU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void putU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void putU64LE(uint8_t* p, uint64_t v) {
  morrowtide::putU32LE(p, static_cast<uint32_t>(v));
  morrowtide::putU32LE(p + 4, static_cast<uint32_t>(v >> 32));
}

inline void putI16LE(uint8_t* p, int16_t v) { morrowtide::putU16LE(p, static_cast<uint16_t>(v)); }
inline void putI32LE(uint8_t* p, int32_t v) { morrowtide::putU32LE(p, static_cast<uint32_t>(v)); }
inline void putI64LE(uint8_t* p, int64_t v) { morrowtide::putU64LE(p, static_cast<uint64_t>(v)); }

inline void putF32LE(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  morrowtide::putU32LE(p, bits);
}

inline void putF64LE(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  morrowtide::putU64LE(p, bits);
}

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_BYTE_ORDER_H
