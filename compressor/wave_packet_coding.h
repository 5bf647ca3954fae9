// The per-record wave packet coding shared by the version 1 wave packet writer and
// the layered LAS 1.4 wave packet writers: a packet is coded against a reference
// packet with an index symbol, an offset symbol and five residuals.
//
// Read this first:
// - the reference is the packet without its index byte (28 bytes): offset U64 @0,
//   size U32 @8, location @12, x(t) @16, y(t) @20, z(t) @24; the item is the full
//   29 bytes (index @0, then the same fields one byte later); all little-endian,
//   the four F32 fields taken as the I32 with the same bits;
// - offset symbols: 0 same offset, 1 advanced by exactly the reference's size,
//   2 any other step of -2^31 .. 2^31-1 (coded against the last such step), 3 a
//   larger step (the offset is sent raw); symbol 1 is chosen only when the step
//   equals the size as a 64-bit value, so the offset always decodes to itself.
#ifndef MORROWTIDE_COMPRESSOR_WAVE_PACKET_CODING_H
#define MORROWTIDE_COMPRESSOR_WAVE_PACKET_CODING_H

#include <cstdint>

#include "morrowtide/compressor/integer_residual_coder.h"

class AdaptiveSymbolModel;
class EntropyEncoder;

namespace morrowtide {

class OwnedSymbolModel;

// The coders of the offset step, the size and the location (one context), and
// of x(t), y(t), z(t) (contexts 0, 1, 2).
constexpr ResidualCoderShape kWavePacketCoderShape{32, 1};
constexpr ResidualCoderShape kWavePacketXyzCoderShape{32, 3};

// Offset symbols of the wave packet coding.
constexpr uint32_t kWaveOffsetSame = 0;
constexpr uint32_t kWaveOffsetAfterReference = 1;
constexpr uint32_t kWaveOffsetStep = 2;
constexpr uint32_t kWaveOffsetRaw = 3;

// Codes the 29-byte packet at `item` against the 28-byte `reference` into
// `encoder`: the index with `packet_index` (256 symbols), the offset symbol with
// offset_symbol[last_offset_symbol] (4 symbols each), then the residuals with the
// four coders (kWavePacketCoderShape; ic_xyz kWavePacketXyzCoderShape). Updates
// last_offset_symbol and, for a step, last_offset_diff. The reference is neither
// read past nor changed.
// Requires: `encoder` started; every model reset and every coder started.
void codeWavePacket(EntropyEncoder& encoder, const uint8_t* item, const uint8_t* reference,
                    AdaptiveSymbolModel* packet_index, AdaptiveSymbolModel* const offset_symbol[4],
                    IntegerResidualCoder& ic_offset_diff, IntegerResidualCoder& ic_packet_size,
                    IntegerResidualCoder& ic_return_point, IntegerResidualCoder& ic_xyz,
                    int32_t& last_offset_diff, uint32_t& last_offset_symbol);
// The same with the models of their owners.
void codeWavePacket(EntropyEncoder& encoder, const uint8_t* item, const uint8_t* reference,
                    const OwnedSymbolModel& packet_index, const OwnedSymbolModel offset_symbol[4],
                    IntegerResidualCoder& ic_offset_diff, IntegerResidualCoder& ic_packet_size,
                    IntegerResidualCoder& ic_return_point, IntegerResidualCoder& ic_xyz,
                    int32_t& last_offset_diff, uint32_t& last_offset_symbol);

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_WAVE_PACKET_CODING_H
