// The colour difference coding of the version 2 RGB writer, kept as a function so
// that the layered colour writers code their records with the same steps.
#include "morrowtide/compressor/rgb_difference_coding.h"

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/entropy_encoder.h"

namespace morrowtide {

namespace {

// 0 for v <= 0, 255 for v >= 255, else v.
inline int32_t clampByte(int32_t v) { return v <= 0 ? 0 : (v >= 255 ? 255 : v); }

// A difference of two bytes (-255 to 255) folded into 0 to 255.
inline uint32_t folded(int32_t difference) { return static_cast<uint32_t>(difference) & 0xFFu; }

// One body for both kinds of model holder (a model pointer, or its owner).
template <class Model>
inline uint32_t codeRgb(EntropyEncoder& encoder, const Model& byte_used, const Model rgb_diff[6],
                        const uint16_t reference[3], const uint16_t colour[3]) {
  // Byte i of both colours; every value fits an int32_t, so the arithmetic below
  // cannot overflow.
  int32_t p[6];
  int32_t n[6];
  for (int i = 0; i < 3; ++i) {
    p[2 * i] = reference[i] & 0xFF;
    p[2 * i + 1] = reference[i] >> 8;
    n[2 * i] = colour[i] & 0xFF;
    n[2 * i + 1] = colour[i] >> 8;
  }
  uint32_t symbol = 0;
  for (int i = 0; i < 6; ++i) {
    if (n[i] != p[i]) symbol |= 1u << i;
  }
  const bool grey = colour[0] == colour[1] && colour[1] == colour[2];
  if (!grey) symbol |= 1u << 6;
  encoder.putSymbol(byte_used, symbol);

  int32_t dr_low = 0;
  if (symbol & (1u << 0)) {
    dr_low = n[0] - p[0];
    encoder.putSymbol(rgb_diff[0], folded(dr_low));
  }
  int32_t dr_high = 0;
  if (symbol & (1u << 1)) {
    dr_high = n[1] - p[1];
    encoder.putSymbol(rgb_diff[1], folded(dr_high));
  }
  if (symbol & (1u << 6)) {
    // Green follows red's change; blue the mean of red's and green's changes
    // (signed division, truncating toward zero).
    if (symbol & (1u << 2)) {
      encoder.putSymbol(rgb_diff[2], folded(n[2] - clampByte(dr_low + p[2])));
    }
    if (symbol & (1u << 4)) {
      encoder.putSymbol(rgb_diff[4], folded(n[4] - clampByte(p[4] + (dr_low + n[2] - p[2]) / 2)));
    }
    if (symbol & (1u << 3)) {
      encoder.putSymbol(rgb_diff[3], folded(n[3] - clampByte(dr_high + p[3])));
    }
    if (symbol & (1u << 5)) {
      encoder.putSymbol(rgb_diff[5], folded(n[5] - clampByte(p[5] + (dr_high + n[3] - p[3]) / 2)));
    }
  }
  return symbol;
}

}  // namespace

uint32_t codeRgbDifference(EntropyEncoder& encoder, AdaptiveSymbolModel* byte_used,
                           AdaptiveSymbolModel* const rgb_diff[6], const uint16_t reference[3],
                           const uint16_t colour[3]) {
  return codeRgb(encoder, byte_used, rgb_diff, reference, colour);
}

uint32_t codeRgbDifference(EntropyEncoder& encoder, const OwnedSymbolModel& byte_used,
                           const OwnedSymbolModel rgb_diff[6], const uint16_t reference[3],
                           const uint16_t colour[3]) {
  return codeRgb(encoder, byte_used, rgb_diff, reference, colour);
}

}  // namespace morrowtide
