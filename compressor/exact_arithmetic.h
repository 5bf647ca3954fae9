// Exact integer steps shared by the coders and writers: differences and products
// that wrap in 32 bits (formed unsigned, then read as signed), the test whether a
// 64-bit difference fits a 32-bit residual, and the one family of saturating
// float-to-integer conversions, by one of two rounding rules: truncation (toward
// zero) or half away from zero (v + 0.5 or v - 0.5 by the sign of v, then toward
// zero). Nothing here is undefined for any input: out-of-range values saturate at
// the bounds of the integer type, and NaN gives 0.
#ifndef MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H
#define MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H

#include <cstdint>
#include <limits>
#include <type_traits>

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

// The F64 bounds of integer type T, both exact: its lowest value, and 2^digits,
// one above its highest (twice the power of two max / 2 + 1, so formed without
// rounding).
template <typename T>
inline constexpr double kLowestOf = static_cast<double>(std::numeric_limits<T>::min());
template <typename T>
inline constexpr double kAboveHighestOf = 2.0 * (std::numeric_limits<T>::max() / 2 + 1);

// Whether `v` lies in [lowest of T, highest of T + 1), where every value
// truncates into T; false for NaN and the infinities. (The values between
// lowest - 1 and lowest, which truncate to the lowest too, are outside.)
template <typename T>
constexpr bool inIntegerRange(double v) {
  return v >= kLowestOf<T> && v < kAboveHighestOf<T>;
}

// `v` truncated toward zero, saturating at the bounds of T; NaN gives 0. The
// order of the tests lets a value in range, or above it, take at most two.
template <typename T>
constexpr T truncateSaturating(double v) {
  static_assert(std::is_integral<T>::value, "an integer type");
  if (v >= kAboveHighestOf<T>) return std::numeric_limits<T>::max();
  if (v >= kLowestOf<T>) return static_cast<T>(v);
  return v != v ? T{0} : std::numeric_limits<T>::min();
}

// The nearest integer to `v`, halves away from zero, saturating at the bounds
// of T; NaN gives 0. For an unsigned T every negative value gives 0.
template <typename T>
constexpr T roundHalfAwaySaturating(double v) {
  return morrowtide::truncateSaturating<T>(v >= 0.0 ? v + 0.5 : v - 0.5);
}

// The I32 members of the family, by the names the coders use.
// F64 to I32 by truncation.
inline int32_t saturatingToI32(double v) { return morrowtide::truncateSaturating<int32_t>(v); }
// F32 to I32 by truncation (every F32 is exact as an F64).
inline int32_t saturatingToI32(float v) { return morrowtide::truncateSaturating<int32_t>(v); }
// F64 to I32, halves away from zero.
inline int32_t roundHalfAwayToI32(double v) {
  return morrowtide::roundHalfAwaySaturating<int32_t>(v);
}

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_EXACT_ARITHMETIC_H
