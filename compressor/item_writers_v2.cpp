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
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/compressor/rgb_difference_coding.h"

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

// Multiplier symbols of the GPS time coder.
constexpr uint32_t kGpsMultiplierMax = 500;       // m >= 500
constexpr uint32_t kGpsMultiplierMinusTen = 510;  // m < -9
constexpr uint32_t kGpsMultiplierSame = 511;
constexpr uint32_t kGpsMultiplierNewSequence = 512;
// Zero-difference symbols.
constexpr uint32_t kGpsZeroSame = 0;
constexpr uint32_t kGpsZeroStep = 1;
constexpr uint32_t kGpsZeroNewSequence = 2;
// Context of the high halves of a new sequence's time.
constexpr uint32_t kGpsNewSequenceContext = 8;

}  // namespace

// ---------------------------------------------------------------------------
// POINT10

LASwriteItemCompressed_POINT10_v2::LASwriteItemCompressed_POINT10_v2(EntropyEncoder* encoder)
    : encoder(encoder),
      changed_values_model(encoder->newSymbolModel(64)),
      intensity_coder(encoder, 16, 4, 8, 0),
      scan_angle_rank_models{encoder->newSymbolModel(256), encoder->newSymbolModel(256)},
      point_source_coder(encoder, 16, 1, 8, 0),
      dx_coder(encoder, 32, 2, 8, 0),
      dy_coder(encoder, 32, 22, 8, 0),
      z_coder(encoder, 32, 20, 8, 0) {
  for (RollingMedian5& m : x_medians) m.reset();
  for (RollingMedian5& m : y_medians) m.reset();
}

// The coders delete their own models afterwards, as members.
LASwriteItemCompressed_POINT10_v2::~LASwriteItemCompressed_POINT10_v2() {
  encoder->deleteSymbolModel(changed_values_model);
  encoder->deleteSymbolModel(scan_angle_rank_models[0]);
  encoder->deleteSymbolModel(scan_angle_rank_models[1]);
  bit_byte_models.release(encoder);
  classification_models.release(encoder);
  user_data_models.release(encoder);
}

bool LASwriteItemCompressed_POINT10_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  // The chunk's first point does not predict intensity or Z: the second point is
  // coded against 0 in its class and level.
  for (uint16_t& v : last_intensity) v = 0;
  for (int32_t& v : last_z) v = 0;
  for (RollingMedian5& m : x_medians) m.reset();
  for (RollingMedian5& m : y_medians) m.reset();

  encoder->resetSymbolModel(changed_values_model, nullptr);
  encoder->resetSymbolModel(scan_angle_rank_models[0], nullptr);
  encoder->resetSymbolModel(scan_angle_rank_models[1], nullptr);
  bit_byte_models.reset(encoder);
  classification_models.reset(encoder);
  user_data_models.reset(encoder);
  intensity_coder.startEncoding();
  point_source_coder.startEncoding();
  dx_coder.startEncoding();
  dy_coder.startEncoding();
  z_coder.startEncoding();

  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

bool LASwriteItemCompressed_POINT10_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  const uint8_t* const last = last_item;
  const uint32_t return_byte = item[p10::kReturnByte];
  const uint32_t r = return_byte & 7;
  const uint32_t n = (return_byte >> 3) & 7;
  const uint32_t m = kReturnClass[n][r];
  const uint32_t l = n > r ? n - r : r - n;
  const uint32_t e = n == 1 ? 1 : 0;
  const uint16_t intensity = getU16LE(item + p10::kIntensity);
  const uint16_t point_source = getU16LE(item + p10::kPointSource);
  const uint16_t last_point_source = getU16LE(last + p10::kPointSource);

  // The changed-values symbol; intensity is compared with the last one of the
  // point's return class, every other field with the previous point.
  const uint32_t changed = (return_byte != last[p10::kReturnByte] ? 32u : 0u) |
                           (intensity != last_intensity[m] ? 16u : 0u) |
                           (item[p10::kClassification] != last[p10::kClassification] ? 8u : 0u) |
                           (item[p10::kScanAngleRank] != last[p10::kScanAngleRank] ? 4u : 0u) |
                           (item[p10::kUserData] != last[p10::kUserData] ? 2u : 0u) |
                           (point_source != last_point_source ? 1u : 0u);
  encoder->putSymbol(changed_values_model, changed);

  if (changed & 32) {
    encoder->putSymbol(encoder->symbolModelAtFirstUse(bit_byte_models[last[p10::kReturnByte]], 256),
                       return_byte);
  }
  if (changed & 16) {
    intensity_coder.encode(last_intensity[m], intensity, m < 3 ? m : 3);
    last_intensity[m] = intensity;
  }
  if (changed & 8) {
    encoder->putSymbol(
        encoder->symbolModelAtFirstUse(classification_models[last[p10::kClassification]], 256),
        item[p10::kClassification]);
  }
  if (changed & 4) {
    const uint32_t difference =
        (static_cast<uint32_t>(item[p10::kScanAngleRank]) - last[p10::kScanAngleRank]) & 0xFFu;
    encoder->putSymbol(scan_angle_rank_models[(return_byte >> 6) & 1], difference);
  }
  if (changed & 2) {
    encoder->putSymbol(encoder->symbolModelAtFirstUse(user_data_models[last[p10::kUserData]], 256),
                       item[p10::kUserData]);
  }
  if (changed & 1) {
    point_source_coder.encode(last_point_source, point_source, 0);
  }

  // X and Y steps against the class's running medians; the classes of their
  // residuals choose the contexts of Y and Z.
  const int32_t dx = wrappingDifference(getU32LE(item + p10::kX), getU32LE(last + p10::kX));
  dx_coder.encode(x_medians[m].get(), dx, e);
  x_medians[m].add(dx);
  const uint32_t kx = dx_coder.lastClass();

  const int32_t dy = wrappingDifference(getU32LE(item + p10::kY), getU32LE(last + p10::kY));
  dy_coder.encode(y_medians[m].get(), dy, e | (kx < 20 ? (kx & ~1u) : 20u));
  y_medians[m].add(dy);
  const uint32_t ky = dy_coder.lastClass();

  const uint32_t s = kx + ky;
  const int32_t z = getI32LE(item + p10::kZ);
  z_coder.encode(last_z[l], z, e | (s < 36 ? ((s / 2) & ~1u) : 18u));
  last_z[l] = z;

  std::memcpy(last_item, item, qf::kSizePoint10);
  return true;
}

// ---------------------------------------------------------------------------
// GPSTIME11

LASwriteItemCompressed_GPSTIME11_v2::LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder* encoder)
    : encoder(encoder),
      gps_multiplier_model(encoder->newSymbolModel(516)),
      gps_zero_diff_model(encoder->newSymbolModel(6)),
      gps_coder(encoder, 32, 9, 8, 0) {}

LASwriteItemCompressed_GPSTIME11_v2::~LASwriteItemCompressed_GPSTIME11_v2() {
  encoder->deleteSymbolModel(gps_multiplier_model);
  encoder->deleteSymbolModel(gps_zero_diff_model);
}

bool LASwriteItemCompressed_GPSTIME11_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  gps_last = 0;
  gps_next = 0;
  for (int i = 0; i < 4; ++i) {
    gps_diffs[i] = 0;
    gps_extreme_counters[i] = 0;
  }
  encoder->resetSymbolModel(gps_multiplier_model, nullptr);
  encoder->resetSymbolModel(gps_zero_diff_model, nullptr);
  gps_coder.startEncoding();
  gps_times[0] = static_cast<int64_t>(getU64LE(item));
  gps_times[1] = gps_times[2] = gps_times[3] = 0;
  return true;
}

// The time reaches no sequence: its high half is coded against the current
// sequence's, its low half raw, and it opens the next slot.
void LASwriteItemCompressed_GPSTIME11_v2::openSequence(int64_t time) {
  const uint64_t t = static_cast<uint64_t>(time);
  const uint64_t last = static_cast<uint64_t>(gps_times[gps_last]);
  gps_coder.encode(static_cast<int32_t>(static_cast<uint32_t>(last >> 32)),
                   static_cast<int32_t>(static_cast<uint32_t>(t >> 32)), kGpsNewSequenceContext);
  encoder->putRawU32(static_cast<uint32_t>(t));
  gps_next = (gps_next + 1) & 3;
  gps_last = gps_next;
  gps_diffs[gps_last] = 0;
  gps_extreme_counters[gps_last] = 0;
  gps_times[gps_last] = time;
}

bool LASwriteItemCompressed_GPSTIME11_v2::writeItem(const uint8_t* item, uint32_t& /*context*/) {
  const uint64_t t = getU64LE(item);
  const int64_t time = static_cast<int64_t>(t);
  // A switch to another sequence codes the time again there, where it fits; so
  // the second pass never switches.
  for (;;) {
    const uint32_t L = gps_last;
    const uint64_t d64 = t - static_cast<uint64_t>(gps_times[L]);
    const int32_t D = gps_diffs[L];
    AdaptiveSymbolModel* const model = D == 0 ? gps_zero_diff_model : gps_multiplier_model;

    if (d64 == 0) {
      encoder->putSymbol(model, D == 0 ? kGpsZeroSame : kGpsMultiplierSame);
      return true;
    }
    if (fitsI32(d64)) {
      const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(d64));
      if (D == 0) {
        encoder->putSymbol(gps_zero_diff_model, kGpsZeroStep);
        gps_coder.encode(0, d, 0);
        gps_diffs[L] = d;
        gps_extreme_counters[L] = 0;
      } else {
        // Multiplier: the single-precision quotient rounded half away from zero
        // in double precision, saturated to I32.
        const float q = static_cast<float>(d) / static_cast<float>(D);
        const int32_t multiplier = roundHalfAwayToI32(static_cast<double>(q));
        bool extreme = false;
        if (multiplier == 1) {
          encoder->putSymbol(gps_multiplier_model, 1);
          gps_coder.encode(D, d, 1);
          gps_extreme_counters[L] = 0;
        } else if (multiplier >= 2 && multiplier < static_cast<int32_t>(kGpsMultiplierMax)) {
          encoder->putSymbol(gps_multiplier_model, static_cast<uint32_t>(multiplier));
          gps_coder.encode(wrappingProduct(multiplier, D), d, multiplier > 9 ? 3 : 2);
        } else if (multiplier >= static_cast<int32_t>(kGpsMultiplierMax)) {
          encoder->putSymbol(gps_multiplier_model, kGpsMultiplierMax);
          gps_coder.encode(wrappingProduct(500, D), d, 4);
          extreme = true;
        } else if (multiplier == 0) {
          encoder->putSymbol(gps_multiplier_model, 0);
          gps_coder.encode(0, d, 7);
          extreme = true;
        } else if (multiplier >= -9) {
          encoder->putSymbol(
              gps_multiplier_model,
              static_cast<uint32_t>(static_cast<int32_t>(kGpsMultiplierMax) - multiplier));
          gps_coder.encode(wrappingProduct(multiplier, D), d, 5);
        } else {
          encoder->putSymbol(gps_multiplier_model, kGpsMultiplierMinusTen);
          gps_coder.encode(wrappingProduct(-10, D), d, 6);
          extreme = true;
        }
        if (extreme) {
          // The fourth extreme multiplier since the counter was cleared makes
          // this difference the sequence's new step.
          if (gps_extreme_counters[L]++ >= 3) {
            gps_diffs[L] = d;
            gps_extreme_counters[L] = 0;
          }
        }
      }
      gps_times[L] = time;
      return true;
    }

    // Too far for this sequence: switch to the first other one it fits.
    uint32_t i = 1;
    while (i < 4 && !fitsI32(t - static_cast<uint64_t>(gps_times[(L + i) & 3]))) ++i;
    if (i < 4) {
      encoder->putSymbol(model, (D == 0 ? kGpsZeroNewSequence : kGpsMultiplierNewSequence) + i);
      gps_last = (L + i) & 3;
      continue;
    }
    encoder->putSymbol(model, D == 0 ? kGpsZeroNewSequence : kGpsMultiplierNewSequence);
    openSequence(time);
    return true;
  }
}

// ---------------------------------------------------------------------------
// RGB12

LASwriteItemCompressed_RGB12_v2::LASwriteItemCompressed_RGB12_v2(EntropyEncoder* encoder)
    : encoder(encoder) {
  byte_used = encoder->newSymbolModel(128);
  for (AdaptiveSymbolModel*& m : rgb_diff) m = encoder->newSymbolModel(256);
}

LASwriteItemCompressed_RGB12_v2::~LASwriteItemCompressed_RGB12_v2() {
  encoder->deleteSymbolModel(byte_used);
  for (AdaptiveSymbolModel* m : rgb_diff) encoder->deleteSymbolModel(m);
}

bool LASwriteItemCompressed_RGB12_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  encoder->resetSymbolModel(byte_used, nullptr);
  for (AdaptiveSymbolModel* m : rgb_diff) encoder->resetSymbolModel(m, nullptr);
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
    : encoder(encoder), number(number) {
  byte_models.reset(new AdaptiveSymbolModel*[number]);
  for (uint32_t i = 0; i < number; ++i) byte_models[i] = encoder->newSymbolModel(256);
  last_bytes.reset(new uint8_t[number]());
}

LASwriteItemCompressed_BYTE_v2::~LASwriteItemCompressed_BYTE_v2() {
  for (uint32_t i = 0; i < number; ++i) encoder->deleteSymbolModel(byte_models[i]);
}

bool LASwriteItemCompressed_BYTE_v2::startChunk(const uint8_t* item, uint32_t& /*context*/) {
  for (uint32_t i = 0; i < number; ++i) encoder->resetSymbolModel(byte_models[i], nullptr);
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
