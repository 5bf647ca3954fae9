// The 30-byte LAS 1.4 point record built from the in-memory point: copied LAS 1.4
// fields for an extended point, converted legacy fields otherwise.
#include "morrowtide/compressor/item_writers_raw.h"

#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/quodax_format.h"

namespace p10 = quodax_format::point10;
namespace pf = point_fields;

void LASwriteItemRaw_POINT14_LE::buildRecord(const uint8_t* point, uint8_t* record) {
  std::memcpy(record, point, 14);  // X, Y, Z, intensity
  record[14] = pf::returnsByte(point);
  record[15] = pf::flagsByte(point);
  record[16] = pf::classification(point);
  record[17] = point[p10::kUserData];
  std::memcpy(record + 20, point + p10::kPointSource, 2);
  std::memcpy(record + 22, point + pf::kGpsTime, 8);
  if (pf::isExtended(point)) {
    std::memcpy(record + 18, point + pf::kExtendedScanAngle, 2);
  } else {
    // Degrees to units of 0.006 degrees: the quotient in F32, the rounding in F64.
    const int8_t rank = static_cast<int8_t>(point[p10::kScanAngleRank]);
    const float q = static_cast<float>(rank) / 0.006f;
    putU16LE(record + 18, static_cast<uint16_t>(roundHalfAwayToI32(static_cast<double>(q))));
  }
}
