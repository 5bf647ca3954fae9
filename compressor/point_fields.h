// The in-memory point's byte places, named here once for the compressor and the
// LAS library alike, and how the fields of a LAS 1.4 point record are read from
// an in-memory point, whatever kind of point it is, with the 30-byte record of
// formats 6 to 10 built from them (quodax_format::point14). The raw item form
// and the layered coder both take a point through buildPoint14Record, and the
// point statistics read its class, returns and flags through the same
// functions, so a compressed file decodes to the records an uncompressed one
// holds and the statistics count what the file stores.
//
// The in-memory point (LASpointRecord's fixed prefix, which the item writers read
// through their item pointers): the 20 legacy bytes at 0 (the POINT10 item, its
// fields at quodax_format::point10), then
//   20 I16 extended scan angle
//   22 extended point type (bits 0-1), scanner channel (2-3), classification
//      flags (4-7: synthetic, key-point, withheld, overlap)
//   23 U8 extended classification
//   24 extended return number (bits 0-3), extended number of returns (4-7)
//   25 U8 spare byte   26-31 unused   32 F64 GPS time
//   40 U16[4] red, green, blue, near infrared   48 the 29-byte wave packet
// A point is a LAS 1.4 point when its extended point type is not 0.
#ifndef MORROWTIDE_COMPRESSOR_POINT_FIELDS_H
#define MORROWTIDE_COMPRESSOR_POINT_FIELDS_H

#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/quodax_format.h"

namespace point_fields {

// Byte places in the in-memory point: the POINT10 item (the legacy fields), the
// LAS 1.4 fields, the GPS time (the GPSTIME11 item), the colour (RGB12, RGB14,
// RGBNIR14) and the wave packet (WAVEPACKET13, WAVEPACKET14), which ends the
// point's fixed prefix. A POINT14 item views bytes 0 to 39.
constexpr uint32_t kPoint10 = 0;
constexpr uint32_t kExtendedScanAngle = 20;
constexpr uint32_t kExtendedTypeByte = 22;
constexpr uint32_t kExtendedClass = 23;
constexpr uint32_t kExtendedReturns = 24;
constexpr uint32_t kSpareByte = 25;
constexpr uint32_t kGpsTime = 32;
constexpr uint32_t kRgb = 40;
constexpr uint32_t kWavePacket = 48;
constexpr uint32_t kFixedSize = kWavePacket + quodax_format::kSizeWavePacket13;
// The legacy fields' places are the POINT10 item's own, as it starts the point.
static_assert(kPoint10 == 0, "quodax_format::point10 places the legacy fields");
static_assert(kPoint10 + quodax_format::kSizePoint10 <= kExtendedScanAngle &&
                  kGpsTime + quodax_format::kSizeGpsTime11 <= kRgb &&
                  kRgb + quodax_format::kSizeRgbNir14 <= kWavePacket,
              "the views do not overlap");
static_assert(kFixedSize == 77, "the fixed prefix is 77 bytes");

inline bool isExtended(const uint8_t* point) { return (point[kExtendedTypeByte] & 0x03) != 0; }

// The class a LAS 1.4 record stores: the 5-bit legacy classification, or for a
// LAS 1.4 point whose 5-bit classification is 0 its extended classification.
inline uint8_t classification(const uint8_t* point) {
  const uint8_t legacy = point[quodax_format::point10::kClassification] & 0x1F;
  if (legacy == 0 && isExtended(point)) return point[kExtendedClass];
  return legacy;
}

// Return number and number of returns: the 4-bit LAS 1.4 fields of a LAS 1.4
// point, the 3-bit legacy fields of a legacy point.
inline uint8_t returnNumber(const uint8_t* point) {
  if (isExtended(point)) return point[kExtendedReturns] & 0x0F;
  return point[quodax_format::point10::kReturnByte] & 0x07;
}
inline uint8_t numberOfReturns(const uint8_t* point) {
  if (isExtended(point)) return point[kExtendedReturns] >> 4;
  return (point[quodax_format::point10::kReturnByte] >> 3) & 0x07;
}

// Byte 14 of the LAS 1.4 record: return number (bits 0-3), number of returns (4-7).
inline uint8_t returnsByte(const uint8_t* point) {
  return static_cast<uint8_t>(returnNumber(point) | (numberOfReturns(point) << 4));
}

// Byte 15 of the LAS 1.4 record: synthetic, key-point and withheld (bits 0-2,
// from bits 5-7 of the legacy classification byte), overlap (bit 3) and scanner
// channel (bits 4-5, both 0 for a legacy point), scan direction (bit 6) and edge
// of flight line (bit 7).
inline uint8_t flagsByte(const uint8_t* point) {
  const uint8_t returns = point[quodax_format::point10::kReturnByte];
  const uint8_t class_byte = point[quodax_format::point10::kClassification];
  uint8_t flags = static_cast<uint8_t>((returns & 0xC0) | (class_byte >> 5));
  if (isExtended(point)) {
    const uint8_t extended = point[kExtendedTypeByte];
    flags |= static_cast<uint8_t>((extended & 0x80) >> 4);  // overlap to bit 3
    flags |= static_cast<uint8_t>((extended & 0x0C) << 2);  // channel to bits 4-5
  }
  return flags;
}

// Builds the 30-byte LAS 1.4 record of the in-memory point at `point` into
// `record`, setting every byte anew: the LAS 1.4 fields of a LAS 1.4 point, the
// legacy fields converted for a legacy one.
inline void buildPoint14Record(const uint8_t* point, uint8_t* record) {
  namespace p10 = quodax_format::point10;
  namespace p14 = quodax_format::point14;
  // X, Y and Z one by one, in the widths their setters store: one wider load
  // over several fresh stores waits for them instead of forwarding their bytes.
  std::memcpy(record + p14::kX, point + p10::kX, 4);
  std::memcpy(record + p14::kY, point + p10::kY, 4);
  std::memcpy(record + p14::kZ, point + p10::kZ, 4);
  std::memcpy(record + p14::kIntensity, point + p10::kIntensity, 2);
  record[p14::kReturns] = returnsByte(point);
  record[p14::kFlags] = flagsByte(point);
  record[p14::kClassification] = classification(point);
  record[p14::kUserData] = point[p10::kUserData];
  std::memcpy(record + p14::kPointSource, point + p10::kPointSource, 2);
  std::memcpy(record + p14::kGpsTime, point + kGpsTime, 8);
  if (isExtended(point)) {
    std::memcpy(record + p14::kScanAngle, point + kExtendedScanAngle, 2);
  } else {
    // Degrees to units of 0.006 degrees: the quotient in F32, the rounding in F64.
    const int8_t rank = static_cast<int8_t>(point[p10::kScanAngleRank]);
    const float q = static_cast<float>(rank) / 0.006f;
    morrowtide::putU16LE(
        record + p14::kScanAngle,
        static_cast<uint16_t>(morrowtide::roundHalfAwayToI32(static_cast<double>(q))));
  }
}

}  // namespace point_fields

#endif  // MORROWTIDE_COMPRESSOR_POINT_FIELDS_H
