// The 30-byte LAS 1.4 point record built from the in-memory point: copied LAS 1.4
// fields for an extended point, converted legacy fields otherwise.
#include "compressor/item_writers_raw.h"

#include <cstring>

#include "compressor/byte_order.h"
#include "compressor/exact_arithmetic.h"
#include "compressor/quodax_format.h"

namespace {

// The POINT10 fields of the in-memory point: return byte (return number 0-2,
// returns 3-5, scan direction 6, edge 7), classification byte (classification
// 0-4, synthetic 5, key-point 6, withheld 7), scan angle rank (I8 degrees).
namespace p10 = quodax_format::point10;

// Byte places of the LAS 1.4 fields and of the GPS time in the in-memory point.
constexpr int kExtendedScanAngle = 20;  // I16
constexpr int kExtendedTypeByte = 22;   // point type 0-1, channel 2-3, flags 4-7 (overlap 7)
constexpr int kExtendedClass = 23;
constexpr int kExtendedReturns = 24;    // return number 0-3, returns 4-7
constexpr int kGpsTime = 32;

}  // namespace

void LASwriteItemRaw_POINT14_LE::buildRecord(const uint8_t* point, uint8_t* record) {
  std::memcpy(record, point, 14);  // X, Y, Z, intensity

  const uint8_t returns = point[p10::kReturnByte];
  const uint8_t class_byte = point[p10::kClassification];
  const uint8_t extended = point[kExtendedTypeByte];
  const uint8_t classification = class_byte & 0x1F;

  // Scan direction and edge of flight line (bits 6, 7), synthetic, key-point and
  // withheld (bits 0-2) are placed the same for both kinds of point.
  uint8_t flags = static_cast<uint8_t>((returns & 0xC0) | (class_byte >> 5));
  record[16] = classification;
  record[17] = point[p10::kUserData];
  std::memcpy(record + 20, point + p10::kPointSource, 2);
  std::memcpy(record + 22, point + kGpsTime, 8);

  if ((extended & 0x03) != 0) {
    flags |= static_cast<uint8_t>((extended & 0x80) >> 4);  // overlap to bit 3
    flags |= static_cast<uint8_t>((extended & 0x0C) << 2);  // channel to bits 4-5
    if (classification == 0) record[16] = point[kExtendedClass];
    record[14] = point[kExtendedReturns];
    std::memcpy(record + 18, point + kExtendedScanAngle, 2);
  } else {
    const uint8_t return_number = returns & 0x07;
    const uint8_t number_of_returns = (returns >> 3) & 0x07;
    record[14] = static_cast<uint8_t>(return_number | (number_of_returns << 4));
    // Degrees to units of 0.006 degrees: the quotient in F32, the rounding in F64.
    const int8_t rank = static_cast<int8_t>(point[p10::kScanAngleRank]);
    const float q = static_cast<float>(rank) / 0.006f;
    putU16LE(record + 18, static_cast<uint16_t>(roundHalfAwayToI32(static_cast<double>(q))));
  }
  record[15] = flags;
}
