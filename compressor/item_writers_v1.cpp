// The version 1 item writers. Item layouts they read (little-endian):
//   point (20 bytes): X I32 @0, Y I32 @4, Z I32 @8, intensity U16 @12, return byte
//     @14, classification byte @15, scan angle rank @16 (taken unsigned), user
//     data @17, point source ID U16 @18;
//   GPS time (8 bytes): the F64 bit pattern, coded as an I64;
//   colour (6 bytes): red, green, blue, U16 each, coded as six bytes;
//   wave packet (29 bytes): index U8 @0, offset U64 @1, size U32 @9, location @13,
//     x(t) @17, y(t) @21, z(t) @25 (F32, coded as their I32 bit patterns);
//   extra bytes: `number` bytes.
// Differences of coded integers wrap in their width, so they are formed in
// unsigned arithmetic and only then read as signed.
#include "morrowtide/compressor/item_writers_v1.h"

#include <algorithm>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/point_field_coding.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/compressor/wave_packet_coding.h"

using namespace morrowtide;

namespace {

namespace qf = quodax_format;
namespace p10 = quodax_format::point10;

inline int32_t median3(const int32_t v[3]) {
  return std::max(std::min(v[0], v[1]), std::min(std::max(v[0], v[1]), v[2]));
}

// Largest context of the Y and Z coders.
constexpr uint32_t kMaxCoordinateContext = 19;

// The shapes of the version 1 residual coders; the point source ID's is every
// version's (kPointSourceCoderShape).
constexpr ResidualCoderShape kV1DxCoderShape{32, 1};
constexpr ResidualCoderShape kV1DyCoderShape{32, kMaxCoordinateContext + 1};
constexpr ResidualCoderShape kV1ZCoderShape{32, kMaxCoordinateContext + 1};
constexpr ResidualCoderShape kV1IntensityCoderShape{16, 1};
constexpr ResidualCoderShape kV1ScanAngleRankCoderShape{8, 2};
constexpr ResidualCoderShape kV1GpsCoderShape{32, 6};
constexpr ResidualCoderShape kV1RgbCoderShape{8, 6};  // one context per colour byte

// GPS time symbols: zero-difference model (no step yet) and multiplier model.
constexpr uint32_t kGpsZeroSame = 0;
constexpr uint32_t kGpsZeroStep = 1;
constexpr uint32_t kGpsZeroRaw = 2;
constexpr uint32_t kGpsMultiplierMax = 509;
constexpr uint32_t kGpsMultiplierRaw = 510;
constexpr uint32_t kGpsMultiplierSame = 511;
constexpr uint32_t kGpsZeroDiffSymbols = kGpsZeroRaw + 1;
constexpr uint32_t kGpsMultiplierSymbols = kGpsMultiplierSame + 1;
// An extreme multiplier seen this many times before makes the time the new step.
constexpr int32_t kGpsExtremeLimit = 3;

}  // namespace

// ---------------------------------------------------------------------------
// POINT10

LASwriteItemCompressed_POINT10_v1::LASwriteItemCompressed_POINT10_v1(EntropyEncoder* encoder)
    : encoder(encoder),
      dx_coder(encoder, kV1DxCoderShape),
      dy_coder(encoder, kV1DyCoderShape),
      z_coder(encoder, kV1ZCoderShape),
      intensity_coder(encoder, kV1IntensityCoderShape),
      scan_angle_rank_coder(encoder, kV1ScanAngleRankCoderShape),
      point_source_coder(encoder, kPointSourceCoderShape),
      changed_values_model(encoder, kPoint10ChangedValuesSymbols) {}

bool LASwriteItemCompressed_POINT10_v1::startChunk(const uint8_t* item, uint32_t&) {
  std::fill(std::begin(last_x_diffs), std::end(last_x_diffs), 0);
  std::fill(std::begin(last_y_diffs), std::end(last_y_diffs), 0);
  last_diff_index = 0;
  dx_coder.startEncoding();
  dy_coder.startEncoding();
  z_coder.startEncoding();
  intensity_coder.startEncoding();
  scan_angle_rank_coder.startEncoding();
  point_source_coder.startEncoding();
  changed_values_model.reset();
  for (OwnedSymbolModel& m : bit_byte_models) m.reset();
  for (OwnedSymbolModel& m : classification_models) m.reset();
  for (OwnedSymbolModel& m : user_data_models) m.reset();
  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

// X and Y steps against the median of the last three steps, Z against the
// previous Z, the contexts from the step classes; the steps join the rings.
// Returns the sum of the X and Y classes, which chooses the scan angle rank's
// context.
[[gnu::always_inline]] inline uint32_t LASwriteItemCompressed_POINT10_v1::codeCoordinates(
    const uint8_t* item) {
  const uint8_t* const last = last_item;
  const int32_t mx = median3(last_x_diffs);
  const int32_t my = median3(last_y_diffs);
  const int32_t dx = wrappingDifference(getU32LE(item + p10::kX), getU32LE(last + p10::kX));
  dx_coder.encode(mx, dx, 0);
  const uint32_t kx = dx_coder.lastClass();
  const int32_t dy = wrappingDifference(getU32LE(item + p10::kY), getU32LE(last + p10::kY));
  dy_coder.encode(my, dy, std::min(kx, kMaxCoordinateContext));
  const uint32_t ky = dy_coder.lastClass();
  const uint32_t s = kx + ky;
  z_coder.encode(getI32LE(last + p10::kZ), getI32LE(item + p10::kZ),
                 std::min(s / 2, kMaxCoordinateContext));

  last_x_diffs[last_diff_index] = dx;
  last_y_diffs[last_diff_index] = dy;
  last_diff_index = last_diff_index == 2 ? 0 : last_diff_index + 1;
  return s;
}

// The changed-values symbol: every field against the previous point's.
[[gnu::always_inline]] inline uint32_t LASwriteItemCompressed_POINT10_v1::changedValues(
    const uint8_t* item) const {
  const uint8_t* const last = last_item;
  uint32_t changed = 0;
  if (getU16LE(item + p10::kIntensity) != getU16LE(last + p10::kIntensity)) {
    changed |= kPoint10V1ChangedIntensity;
  }
  if (item[p10::kReturnByte] != last[p10::kReturnByte]) changed |= kPoint10V1ChangedReturnByte;
  if (item[p10::kClassification] != last[p10::kClassification]) {
    changed |= kPoint10ChangedClassification;
  }
  if (item[p10::kScanAngleRank] != last[p10::kScanAngleRank]) {
    changed |= kPoint10ChangedScanAngleRank;
  }
  if (item[p10::kUserData] != last[p10::kUserData]) changed |= kPoint10ChangedUserData;
  if (getU16LE(item + p10::kPointSource) != getU16LE(last + p10::kPointSource)) {
    changed |= kPoint10ChangedPointSource;
  }
  return changed;
}

// The fields that changed, in the order of their bits; `xy_classes` (the sum
// of the X and Y classes) chooses the scan angle rank's context.
[[gnu::always_inline]] inline void LASwriteItemCompressed_POINT10_v1::codeChangedFields(
    const uint8_t* item, uint32_t changed, uint32_t xy_classes) {
  const uint8_t* const last = last_item;
  if (changed & kPoint10V1ChangedIntensity) {
    intensity_coder.encode(getU16LE(last + p10::kIntensity), getU16LE(item + p10::kIntensity), 0);
  }
  if (changed & kPoint10V1ChangedReturnByte) {
    encoder->putSymbol(bit_byte_models[last[p10::kReturnByte]].atFirstUse(encoder, 256),
                       item[p10::kReturnByte]);
  }
  if (changed & kPoint10ChangedClassification) {
    encoder->putSymbol(classification_models[last[p10::kClassification]].atFirstUse(encoder, 256),
                       item[p10::kClassification]);
  }
  if (changed & kPoint10ChangedScanAngleRank) {
    scan_angle_rank_coder.encode(last[p10::kScanAngleRank], item[p10::kScanAngleRank],
                                 xy_classes < 6 ? 1 : 0);
  }
  if (changed & kPoint10ChangedUserData) {
    encoder->putSymbol(user_data_models[last[p10::kUserData]].atFirstUse(encoder, 256),
                       item[p10::kUserData]);
  }
  if (changed & kPoint10ChangedPointSource) {
    point_source_coder.encode(getU16LE(last + p10::kPointSource),
                              getU16LE(item + p10::kPointSource), 0);
  }
}

bool LASwriteItemCompressed_POINT10_v1::writeItem(const uint8_t* item, uint32_t&) {
  // Coordinates first, then the changed-values symbol and the fields that
  // changed.
  const uint32_t xy_classes = codeCoordinates(item);
  const uint32_t changed = changedValues(item);
  encoder->putSymbol(changed_values_model, changed);
  if (changed != 0) codeChangedFields(item, changed, xy_classes);

  // The point becomes the previous point.
  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

// ---------------------------------------------------------------------------
// GPSTIME11

LASwriteItemCompressed_GPSTIME11_v1::LASwriteItemCompressed_GPSTIME11_v1(EntropyEncoder* encoder)
    : encoder(encoder),
      gps_multiplier_model(encoder, kGpsMultiplierSymbols),
      gps_zero_diff_model(encoder, kGpsZeroDiffSymbols),
      gps_coder(encoder, kV1GpsCoderShape) {}

bool LASwriteItemCompressed_GPSTIME11_v1::startChunk(const uint8_t* item, uint32_t&) {
  gps_multiplier_model.reset();
  gps_zero_diff_model.reset();
  gps_coder.startEncoding();
  gps_extreme_counter = 0;
  gps_diff = 0;
  last_gps_time = static_cast<int64_t>(getU64LE(item));
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v1::writeItem(const uint8_t* item, uint32_t&) {
  const uint64_t t = getU64LE(item);
  const uint64_t d = t - static_cast<uint64_t>(last_gps_time);
  const int32_t d32 = static_cast<int32_t>(static_cast<uint32_t>(d));

  if (gps_diff == 0) {
    if (d == 0) {
      encoder->putSymbol(gps_zero_diff_model, kGpsZeroSame);
      return true;
    }
    if (fitsI32(d)) {
      encoder->putSymbol(gps_zero_diff_model, kGpsZeroStep);
      gps_coder.encode(0, d32, 0);
      gps_diff = d32;
    } else {
      encoder->putSymbol(gps_zero_diff_model, kGpsZeroRaw);
      encoder->putRawU64(t);
    }
    last_gps_time = static_cast<int64_t>(t);
    return true;
  }

  if (d == 0) {
    encoder->putSymbol(gps_multiplier_model, kGpsMultiplierSame);
    return true;
  }
  if (!fitsI32(d)) {
    encoder->putSymbol(gps_multiplier_model, kGpsMultiplierRaw);
    encoder->putRawU64(t);
    last_gps_time = static_cast<int64_t>(t);
    return true;
  }

  // The multiplier: d / step rounded in single precision, kept within 0..509.
  float q = static_cast<float>(d32) / static_cast<float>(gps_diff);
  q = q + 0.5f;
  const int32_t rounded = saturatingToI32(q);
  const uint32_t m = rounded < 0 ? 0u
                     : static_cast<uint32_t>(rounded) > kGpsMultiplierMax
                         ? kGpsMultiplierMax
                         : static_cast<uint32_t>(rounded);
  encoder->putSymbol(gps_multiplier_model, m);
  bool extreme = false;
  if (m == 0) {
    gps_coder.encode(gps_diff / 4, d32, 2);
    extreme = true;
  } else if (m == 1) {
    gps_coder.encode(gps_diff, d32, 1);
    gps_diff = d32;
    gps_extreme_counter = 0;
  } else {
    const uint32_t context = m < 10 ? 3 : m < 50 ? 4 : 5;
    gps_coder.encode(wrappingProduct(static_cast<int32_t>(m), gps_diff), d32, context);
    extreme = m == kGpsMultiplierMax;
  }
  if (extreme) {
    const int32_t seen = gps_extreme_counter;
    gps_extreme_counter = seen + 1;
    if (seen >= kGpsExtremeLimit) {
      gps_diff = d32;
      gps_extreme_counter = 0;
    }
  }
  last_gps_time = static_cast<int64_t>(t);
  return true;
}

// ---------------------------------------------------------------------------
// RGB12

LASwriteItemCompressed_RGB12_v1::LASwriteItemCompressed_RGB12_v1(EntropyEncoder* encoder)
    : encoder(encoder), byte_used(encoder, 64), rgb_coder(encoder, kV1RgbCoderShape) {}

bool LASwriteItemCompressed_RGB12_v1::startChunk(const uint8_t* item, uint32_t&) {
  byte_used.reset();
  rgb_coder.startEncoding();
  std::memcpy(last_item, item, qf::kSizeRgb12);
  return true;
}

bool LASwriteItemCompressed_RGB12_v1::writeItem(const uint8_t* item, uint32_t&) {
  uint32_t used = 0;
  for (uint32_t i = 0; i < qf::kSizeRgb12; ++i) {
    if (item[i] != last_item[i]) used |= 1u << i;
  }
  encoder->putSymbol(byte_used, used);
  for (uint32_t i = 0; i < qf::kSizeRgb12; ++i) {
    if (used & (1u << i)) rgb_coder.encode(last_item[i], item[i], i);
  }
  std::memcpy(last_item, item, qf::kSizeRgb12);
  return true;
}

// ---------------------------------------------------------------------------
// WAVEPACKET13

LASwriteItemCompressed_WAVEPACKET13_v1::LASwriteItemCompressed_WAVEPACKET13_v1(
    EntropyEncoder* encoder)
    : encoder(encoder),
      packet_index(encoder, 256),
      offset_symbol{{encoder, 4}, {encoder, 4}, {encoder, 4}, {encoder, 4}},
      ic_offset_diff(encoder, kWavePacketCoderShape),
      ic_packet_size(encoder, kWavePacketCoderShape),
      ic_return_point(encoder, kWavePacketCoderShape),
      ic_xyz(encoder, kWavePacketXyzCoderShape) {}

bool LASwriteItemCompressed_WAVEPACKET13_v1::startChunk(const uint8_t* item, uint32_t&) {
  packet_index.reset();
  for (OwnedSymbolModel& m : offset_symbol) m.reset();
  ic_offset_diff.startEncoding();
  ic_packet_size.startEncoding();
  ic_return_point.startEncoding();
  ic_xyz.startEncoding();
  last_offset_diff = 0;
  last_offset_symbol = 0;
  std::memcpy(last_item, item + 1, qf::kSizeWavePacket13 - 1);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET13_v1::writeItem(const uint8_t* item, uint32_t&) {
  codeWavePacket(*encoder, item, last_item, packet_index, offset_symbol, ic_offset_diff,
                 ic_packet_size, ic_return_point, ic_xyz, last_offset_diff, last_offset_symbol);
  std::memcpy(last_item, item + 1, qf::kSizeWavePacket13 - 1);
  return true;
}

// ---------------------------------------------------------------------------
// BYTE

LASwriteItemCompressed_BYTE_v1::LASwriteItemCompressed_BYTE_v1(EntropyEncoder* encoder,
                                                               uint32_t number)
    : encoder(encoder),
      number(number),
      last_bytes(new uint8_t[number == 0 ? 1 : number]()),
      // A coder needs one context; an item of no bytes codes nothing with it.
      bytes_coder(encoder, ResidualCoderShape{8, number == 0 ? 1 : number}) {}

bool LASwriteItemCompressed_BYTE_v1::startChunk(const uint8_t* item, uint32_t&) {
  bytes_coder.startEncoding();
  if (number != 0) std::memcpy(last_bytes.get(), item, number);
  return true;
}

bool LASwriteItemCompressed_BYTE_v1::writeItem(const uint8_t* item, uint32_t&) {
  uint8_t* last = last_bytes.get();
  for (uint32_t i = 0; i < number; ++i) bytes_coder.encode(last[i], item[i], i);
  if (number != 0) std::memcpy(last, item, number);
  return true;
}
