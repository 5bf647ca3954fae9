// Exact integer steps shared by the coders and writers: differences and products
// that wrap in 32 bits (formed unsigned, then read as signed), the test whether a
// 64-bit difference fits a 32-bit residual, and the one saturating float-to-I32
// conversion (toward zero, or to the nearest integer with halves away from zero).
// Nothing here is undefined for any input: out-of-range floats saturate at the
// I32 bounds and NaN gives 0.
#ifndef MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H
#define MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H

#include <cstdint>

namespace morrowtide {

// a - b, wrapping in 32 bits, read as I32.
inline int32_t wrappingDifference(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

// a * b, wrapping in 32 bits, read as I32.
inline int32_t wrappingProduct(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Whether the 64-bit wrapping difference `d` read as I64 lies in -2^31 .. 2^31-1,
// i.e. equals its own low 32 bits sign-extended.
inline bool fitsI32(uint64_t d) {
  return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(d))) == d;
}

// F64 to I32 toward zero, saturating at the I32 bounds; NaN gives 0. Every value
// above -2^31 - 1 and below 2^31 truncates into range.
inline int32_t saturatingToI32(double v) {
  if (v >= 2147483648.0) return INT32_MAX;
  if (v <= -2147483649.0) return INT32_MIN;
  if (v != v) return 0;
  return static_cast<int32_t>(v);
}

// F32 to I32 the same way (every F32 is exact as an F64).
inline int32_t saturatingToI32(float v) { return saturatingToI32(static_cast<double>(v)); }

// The nearest integer to `v`, halves away from zero (v + 0.5 or v - 0.5 by the
// sign of v, then toward zero), saturating at the I32 bounds; NaN gives 0.
inline int32_t roundHalfAwayToI32(double v) {
  return saturatingToI32(v >= 0.0 ? v + 0.5 : v - 0.5);
}

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H
