// The version 2 item writers. Item layouts they read (little-endian):
//   point (20 bytes): X I32 @0, Y I32 @4, Z I32 @8, intensity U16 @12, return byte
//     @14 (return number bits 0-2, number of returns bits 3-5, scan direction bit
//     6, edge of flight line bit 7), classification byte @15, scan angle rank @16
//     (taken unsigned), user data @17, point source ID U16 @18;
//   GPS time (8 bytes): the F64 bit pattern, coded as an I64;
//   colour (6 bytes): red, green, blue, U16 each;
//   extra bytes: `number` bytes, each coded on its own.
// Differences of coded integers wrap in their width, so they are formed in
// unsigned arithmetic and only then read as signed.
#include "morrowtide/compressor/item_writers_v2.h"

#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/coordinate_contexts.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/point_field_coding.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/compressor/rgb_difference_coding.h"

using namespace morrowtide;

namespace {

namespace qf = quodax_format;
namespace p10 = quodax_format::point10;

// Return class by number of returns (row) and return number (column).
constexpr uint8_t kReturnClass[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},  {14, 0, 1, 3, 6, 10, 10, 9},
    {13, 1, 2, 4, 7, 11, 11, 10},    {12, 3, 4, 5, 8, 12, 12, 11},
    {11, 6, 7, 8, 9, 13, 13, 12},    {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15},
};

// This coder gives an unchanged time symbols of its own.
constexpr bool kUnchangedTimeSymbols = true;
using GpsSymbols = GpsSequenceSymbols<kUnchangedTimeSymbols>;

}  // namespace

// ---------------------------------------------------------------------------
// POINT10

LASwriteItemCompressed_POINT10_v2::LASwriteItemCompressed_POINT10_v2(EntropyEncoder* encoder)
    : encoder(encoder),
      changed_values_model(encoder, kPoint10ChangedValuesSymbols),
      intensity_coder(encoder, kIntensityCoderShape),
      scan_angle_rank_models{{encoder, 256}, {encoder, 256}},
      point_source_coder(encoder, kPointSourceCoderShape),
      dx_coder(encoder, kDxCoderShape),
      dy_coder(encoder, kDyCoderShape),
      z_coder(encoder, kZCoderShape) {
  for (RollingMedian5& m : x_medians) m.reset();
  for (RollingMedian5& m : y_medians) m.reset();
}

bool LASwriteItemCompressed_POINT10_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  // The chunk's first point does not predict intensity or Z: the second point is
  // coded against 0 in its class and level.
  for (uint16_t& v : last_intensity) v = 0;
  for (int32_t& v : last_z) v = 0;
  for (RollingMedian5& m : x_medians) m.reset();
  for (RollingMedian5& m : y_medians) m.reset();

  changed_values_model.reset();
  for (OwnedSymbolModel& m : scan_angle_rank_models) m.reset();
  for (OwnedSymbolModel& m : bit_byte_models) m.reset();
  for (OwnedSymbolModel& m : classification_models) m.reset();
  for (OwnedSymbolModel& m : user_data_models) m.reset();
  intensity_coder.startEncoding();
  point_source_coder.startEncoding();
  dx_coder.startEncoding();
  dy_coder.startEncoding();
  z_coder.startEncoding();

  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

// The changed-values symbol; intensity is compared with the last one of the
// point's return class, every other field with the previous point.
[[gnu::always_inline]] inline uint32_t LASwriteItemCompressed_POINT10_v2::changedValues(
    const uint8_t* item, uint32_t return_class) const {
  const uint8_t* const last = last_item;
  const bool intensity_changed = getU16LE(item + p10::kIntensity) != last_intensity[return_class];
  const bool point_source_changed =
      getU16LE(item + p10::kPointSource) != getU16LE(last + p10::kPointSource);
  return (item[p10::kReturnByte] != last[p10::kReturnByte] ? kPoint10V2ChangedReturnByte : 0u) |
         (intensity_changed ? kPoint10V2ChangedIntensity : 0u) |
         (item[p10::kClassification] != last[p10::kClassification] ? kPoint10ChangedClassification
                                                                   : 0u) |
         (item[p10::kScanAngleRank] != last[p10::kScanAngleRank] ? kPoint10ChangedScanAngleRank
                                                                 : 0u) |
         (item[p10::kUserData] != last[p10::kUserData] ? kPoint10ChangedUserData : 0u) |
         (point_source_changed ? kPoint10ChangedPointSource : 0u);
}

// The fields that changed, in the order of their bits.
[[gnu::always_inline]] inline void LASwriteItemCompressed_POINT10_v2::codeChangedFields(
    const uint8_t* item, uint32_t changed, uint32_t return_class) {
  const uint8_t* const last = last_item;
  if (changed & kPoint10V2ChangedReturnByte) {
    encoder->putSymbol(bit_byte_models[last[p10::kReturnByte]].atFirstUse(encoder, 256),
                       item[p10::kReturnByte]);
  }
  if (changed & kPoint10V2ChangedIntensity) {
    const uint16_t intensity = getU16LE(item + p10::kIntensity);
    intensity_coder.encode(last_intensity[return_class], intensity,
                           return_class < 3 ? return_class : 3);
    last_intensity[return_class] = intensity;
  }
  if (changed & kPoint10ChangedClassification) {
    encoder->putSymbol(classification_models[last[p10::kClassification]].atFirstUse(encoder, 256),
                       item[p10::kClassification]);
  }
  if (changed & kPoint10ChangedScanAngleRank) {
    // The model of the point's scan direction (bit 6 of the return byte).
    const uint32_t difference =
        (static_cast<uint32_t>(item[p10::kScanAngleRank]) - last[p10::kScanAngleRank]) & 0xFFu;
    encoder->putSymbol(scan_angle_rank_models[(item[p10::kReturnByte] >> 6) & 1], difference);
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

// X and Y steps against the return class's running medians; the classes of
// their residuals choose the contexts of Y and Z, the level the last Z.
[[gnu::always_inline]] inline void LASwriteItemCompressed_POINT10_v2::codeCoordinates(
    const uint8_t* item, uint32_t return_class, uint32_t level, uint32_t single_return) {
  const uint8_t* const last = last_item;
  const int32_t dx = wrappingDifference(getU32LE(item + p10::kX), getU32LE(last + p10::kX));
  dx_coder.encode(x_medians[return_class].get(), dx, single_return);
  x_medians[return_class].add(dx);
  const uint32_t kx = dx_coder.lastClass();

  const int32_t dy = wrappingDifference(getU32LE(item + p10::kY), getU32LE(last + p10::kY));
  dy_coder.encode(y_medians[return_class].get(), dy, yContext(single_return, kx));
  y_medians[return_class].add(dy);
  const uint32_t ky = dy_coder.lastClass();

  const int32_t z = getI32LE(item + p10::kZ);
  z_coder.encode(last_z[level], z, zContext(single_return, kx + ky));
  last_z[level] = z;
}

bool LASwriteItemCompressed_POINT10_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  // The return fields: the return class m chooses the medians and the last
  // intensity, the level l (the distance between return number and number of
  // returns) the last Z, and a single return the coordinates' contexts.
  const uint32_t return_byte = item[p10::kReturnByte];
  const uint32_t r = return_byte & 7;
  const uint32_t n = (return_byte >> 3) & 7;
  const uint32_t m = kReturnClass[n][r];
  const uint32_t l = n > r ? n - r : r - n;

  const uint32_t changed = changedValues(item, m);
  encoder->putSymbol(changed_values_model, changed);
  codeChangedFields(item, changed, m);
  codeCoordinates(item, m, l, singleReturnContext(n));

  // The point becomes the previous point.
  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

// ---------------------------------------------------------------------------
// GPSTIME11

LASwriteItemCompressed_GPSTIME11_v2::LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder* encoder)
    : encoder(encoder),
      gps_multiplier_model(encoder, GpsSymbols::kMultiplierSymbols),
      gps_zero_diff_model(encoder, GpsSymbols::kZeroDiffSymbols),
      gps_coder(encoder, kGpsCoderShape) {}

bool LASwriteItemCompressed_GPSTIME11_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  sequences.start(getU64LE(item));
  gps_multiplier_model.reset();
  gps_zero_diff_model.reset();
  gps_coder.startEncoding();
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  encodeGpsTime<kUnchangedTimeSymbols>(*encoder, gps_multiplier_model, gps_zero_diff_model,
                                       gps_coder, sequences, getU64LE(item));
  return true;
}

// ---------------------------------------------------------------------------
// RGB12

LASwriteItemCompressed_RGB12_v2::LASwriteItemCompressed_RGB12_v2(EntropyEncoder* encoder)
    : encoder(encoder), byte_used(encoder, 128) {
  for (OwnedSymbolModel& m : rgb_diff) m.make(encoder, 256);
}

bool LASwriteItemCompressed_RGB12_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  byte_used.reset();
  for (OwnedSymbolModel& m : rgb_diff) m.reset();
  for (int i = 0; i < 3; ++i) last_item[i] = getU16LE(item + 2 * i);
  return true;
}

bool LASwriteItemCompressed_RGB12_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  const uint16_t colour[3] = {getU16LE(item), getU16LE(item + 2), getU16LE(item + 4)};
  codeRgbDifference(*encoder, byte_used, rgb_diff, last_item, colour);
  for (int i = 0; i < 3; ++i) last_item[i] = colour[i];
  return true;
}

// ---------------------------------------------------------------------------
// BYTE

LASwriteItemCompressed_BYTE_v2::LASwriteItemCompressed_BYTE_v2(EntropyEncoder* encoder,
                                                               uint32_t number)
    : encoder(encoder), number(number), byte_models(number) {
  for (OwnedSymbolModel& m : byte_models) m.make(encoder, 256);
  last_bytes.reset(new uint8_t[number]());
}

bool LASwriteItemCompressed_BYTE_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  for (OwnedSymbolModel& m : byte_models) m.reset();
  std::memcpy(last_bytes.get(), item, number);
  return true;
}

bool LASwriteItemCompressed_BYTE_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  for (uint32_t i = 0; i < number; ++i) {
    encoder->putSymbol(byte_models[i], static_cast<uint32_t>(item[i] - last_bytes[i]) & 0xFFu);
  }
  std::memcpy(last_bytes.get(), item, number);
  return true;
}
