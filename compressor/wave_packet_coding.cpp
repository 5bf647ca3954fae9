// Wave packet coding: the index, the offset (as a symbol plus, for a step, a
// residual, or raw), then size, return point location and x(t), y(t), z(t) as
// residuals against the reference's fields. Offset differences wrap in 64 bits.
#include "morrowtide/compressor/wave_packet_coding.h"

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/integer_residual_coder.h"

namespace morrowtide {

namespace {

// Field offsets in the reference; the item has the same fields one byte later.
constexpr int kOffset = 0;
constexpr int kSize = 8;
constexpr int kLocation = 12;
constexpr int kXt = 16;
constexpr int kYt = 20;
constexpr int kZt = 24;
constexpr int kIndexBytes = 1;

// One body for both kinds of model holder (a model pointer, or its owner).
template <class Model>
inline void codePacket(EntropyEncoder& encoder, const uint8_t* item, const uint8_t* reference,
                       const Model& packet_index, const Model offset_symbol[4],
                       IntegerResidualCoder& ic_offset_diff, IntegerResidualCoder& ic_packet_size,
                       IntegerResidualCoder& ic_return_point, IntegerResidualCoder& ic_xyz,
                       int32_t& last_offset_diff, uint32_t& last_offset_symbol) {
  const uint8_t* fields = item + kIndexBytes;
  encoder.putSymbol(packet_index, item[0]);

  const uint64_t offset = getU64LE(fields + kOffset);
  const uint32_t reference_size = getU32LE(reference + kSize);
  const uint64_t d = offset - getU64LE(reference + kOffset);
  const int32_t d32 = static_cast<int32_t>(static_cast<uint32_t>(d));
  uint32_t symbol;
  if (fitsI32(d)) {
    if (d == 0) {
      symbol = kWaveOffsetSame;
    } else if (d == static_cast<uint64_t>(reference_size)) {
      // Compared in 64 bits: a size of 2^31 or more never matches a negative step.
      symbol = kWaveOffsetAfterReference;
    } else {
      symbol = kWaveOffsetStep;
    }
  } else {
    symbol = kWaveOffsetRaw;
  }
  encoder.putSymbol(offset_symbol[last_offset_symbol], symbol);
  last_offset_symbol = symbol;
  if (symbol == kWaveOffsetStep) {
    ic_offset_diff.encode(last_offset_diff, d32, 0);
    last_offset_diff = d32;
  } else if (symbol == kWaveOffsetRaw) {
    encoder.putRawU64(offset);
  }

  ic_packet_size.encode(static_cast<int32_t>(reference_size), getI32LE(fields + kSize), 0);
  ic_return_point.encode(getI32LE(reference + kLocation), getI32LE(fields + kLocation), 0);
  ic_xyz.encode(getI32LE(reference + kXt), getI32LE(fields + kXt), 0);
  ic_xyz.encode(getI32LE(reference + kYt), getI32LE(fields + kYt), 1);
  ic_xyz.encode(getI32LE(reference + kZt), getI32LE(fields + kZt), 2);
}

}  // namespace

void codeWavePacket(EntropyEncoder& encoder, const uint8_t* item, const uint8_t* reference,
                    AdaptiveSymbolModel* packet_index, AdaptiveSymbolModel* const offset_symbol[4],
                    IntegerResidualCoder& ic_offset_diff, IntegerResidualCoder& ic_packet_size,
                    IntegerResidualCoder& ic_return_point, IntegerResidualCoder& ic_xyz,
                    int32_t& last_offset_diff, uint32_t& last_offset_symbol) {
  codePacket(encoder, item, reference, packet_index, offset_symbol, ic_offset_diff, ic_packet_size,
             ic_return_point, ic_xyz, last_offset_diff, last_offset_symbol);
}

void codeWavePacket(EntropyEncoder& encoder, const uint8_t* item, const uint8_t* reference,
                    const OwnedSymbolModel& packet_index, const OwnedSymbolModel offset_symbol[4],
                    IntegerResidualCoder& ic_offset_diff, IntegerResidualCoder& ic_packet_size,
                    IntegerResidualCoder& ic_return_point, IntegerResidualCoder& ic_xyz,
                    int32_t& last_offset_diff, uint32_t& last_offset_symbol) {
  codePacket(encoder, item, reference, packet_index, offset_symbol, ic_offset_diff, ic_packet_size,
             ic_return_point, ic_xyz, last_offset_diff, last_offset_symbol);
}

}  // namespace morrowtide
