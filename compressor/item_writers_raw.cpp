// The 30-byte LAS 1.4 point record built from the in-memory point: copied LAS 1.4
// fields for an extended point, converted legacy fields otherwise.
#include "compressor/item_writers_raw.h"

#include <cstring>

namespace {

// Byte places in the in-memory point.
constexpr int kReturnByte = 14;      // return number 0-2, returns 3-5, scan dir 6, edge 7
constexpr int kClassByte = 15;       // classification 0-4, synthetic 5, key-point 6, withheld 7
constexpr int kScanAngleRank = 16;   // I8 degrees
constexpr int kUserData = 17;
constexpr int kPointSourceId = 18;
constexpr int kExtendedScanAngle = 20;  // I16
constexpr int kExtendedTypeByte = 22;   // point type 0-1, channel 2-3, flags 4-7 (overlap 7)
constexpr int kExtendedClass = 23;
constexpr int kExtendedReturns = 24;    // return number 0-3, returns 4-7
constexpr int kGpsTime = 32;

}  // namespace

void LASwriteItemRaw_POINT14_LE::buildRecord(const uint8_t* point, uint8_t* record) {
  std::memcpy(record, point, 14);  // X, Y, Z, intensity

  const uint8_t returns = point[kReturnByte];
  const uint8_t class_byte = point[kClassByte];
  const uint8_t extended = point[kExtendedTypeByte];
  const uint8_t classification = class_byte & 0x1F;

  // Scan direction and edge of flight line (bits 6, 7), synthetic, key-point and
  // withheld (bits 0-2) are placed the same for both kinds of point.
  uint8_t flags = static_cast<uint8_t>((returns & 0xC0) | (class_byte >> 5));
  record[16] = classification;
  record[17] = point[kUserData];
  std::memcpy(record + 20, point + kPointSourceId, 2);
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
    const int8_t rank = static_cast<int8_t>(point[kScanAngleRank]);
    const float q = static_cast<float>(rank) / 0.006f;
    const double rounded = q >= 0 ? static_cast<double>(q) + 0.5 : static_cast<double>(q) - 0.5;
    const uint16_t angle = static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(rounded)));
    record[18] = static_cast<uint8_t>(angle);
    record[19] = static_cast<uint8_t>(angle >> 8);
  }
  record[15] = flags;
}
