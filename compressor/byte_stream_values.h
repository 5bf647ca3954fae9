// Typed writes of single values to a ByteStreamOut, for writers that put header
// fields and table entries straight to a stream: the value's bytes in host order
// go through the stream's LE write of that width, which on every LE kind is one
// writeBytes call. They live in morrowtide::detail, not in morrowtide: the
// stream kinds derive from morrowtide::ByteStreamOutLE, so argument-dependent
// lookup of a client's own writeU16LE(stream, value) on one of them would find
// these as well. Calls inside name them qualified: with a ByteStreamOut argument
// an unqualified call would also find a client's global function of that name.
#ifndef MORROWTIDE_COMPRESSOR_BYTE_STREAM_VALUES_H
#define MORROWTIDE_COMPRESSOR_BYTE_STREAM_VALUES_H

#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/byte_stream_out.h"

namespace morrowtide::detail {

// Each writes `value` least significant byte first and returns what the
// stream's write returns. Requires: `stream` is not null.
inline bool writeU16LE(ByteStreamOut* stream, uint16_t value) {
  uint8_t bytes[2];
  std::memcpy(bytes, &value, sizeof(bytes));
  return stream->writeU16LE(bytes);
}

inline bool writeU32LE(ByteStreamOut* stream, uint32_t value) {
  uint8_t bytes[4];
  std::memcpy(bytes, &value, sizeof(bytes));
  return stream->writeU32LE(bytes);
}

inline bool writeU64LE(ByteStreamOut* stream, uint64_t value) {
  uint8_t bytes[8];
  std::memcpy(bytes, &value, sizeof(bytes));
  return stream->writeU64LE(bytes);
}

inline bool writeI64LE(ByteStreamOut* stream, int64_t value) {
  return morrowtide::detail::writeU64LE(stream, static_cast<uint64_t>(value));
}

// IEEE 754 values as their bit patterns.
inline bool writeF32LE(ByteStreamOut* stream, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return morrowtide::detail::writeU32LE(stream, bits);
}

inline bool writeF64LE(ByteStreamOut* stream, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return morrowtide::detail::writeU64LE(stream, bits);
}

}  // namespace morrowtide::detail

#endif  // MORROWTIDE_COMPRESSOR_BYTE_STREAM_VALUES_H
