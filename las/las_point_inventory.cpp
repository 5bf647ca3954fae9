// Filling a point inventory from a header and writing it into one. The per-point
// count (add) is inline in the header.
#include "morrowtide/las/las_point_inventory.h"

#include <cmath>

#include "morrowtide/compressor/exact_arithmetic.h"

using morrowtide::inIntegerRange;

namespace {

// The integer coordinate of real value `v` on an axis with scale `s` and offset
// `o`: (v - o) / s to the nearest integer, halves away from zero, as 64 bits,
// keeping the low 32. A zero scale, a non-finite value or one outside the 64-bit
// range gives 0.
int32_t quantize(double v, double s, double o) {
  if (s == 0.0) return 0;
  const double q = (v - o) / s;
  const double r = v >= o ? q + 0.5 : q - 0.5;
  if (!inIntegerRange<int64_t>(r)) return 0;
  const int64_t t = static_cast<int64_t>(r);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(t)));
}

}  // namespace

bool LASpointInventory::initFromHeader(const LASheader* header) {
  if (header == nullptr) return false;
  number_of_point_records = static_cast<int64_t>(header->pointCount());
  number_of_points_by_return[0] = 0;
  for (uint32_t r = 1; r <= las_format::kExtendedReturnCount; r++) {
    number_of_points_by_return[r] = static_cast<int64_t>(header->pointsByReturn(r - 1));
  }
  max_X = quantize(header->max_x, header->x_scale_factor, header->x_offset);
  min_X = quantize(header->min_x, header->x_scale_factor, header->x_offset);
  max_Y = quantize(header->max_y, header->y_scale_factor, header->y_offset);
  min_Y = quantize(header->min_y, header->y_scale_factor, header->y_offset);
  max_Z = quantize(header->max_z, header->z_scale_factor, header->z_offset);
  min_Z = quantize(header->min_z, header->z_scale_factor, header->z_offset);
  first_point = false;
  return true;
}

bool LASpointInventory::updateHeader(LASheader* header) const {
  if (header == nullptr) return false;
  const bool las14 = header->version_minor >= 4;
  // A legacy count: the value below 2^32, else 0 for LAS 1.4, else no value.
  auto legacy = [las14](int64_t count, uint32_t& field) {
    const uint64_t c = static_cast<uint64_t>(count);
    if (c <= las_format::kMaxLegacyCount) {
      field = static_cast<uint32_t>(c);
    } else if (las14) {
      field = 0;
    } else {
      return false;
    }
    return true;
  };
  if (!legacy(number_of_point_records, header->number_of_point_records)) return false;
  for (int r = 1; r <= 5; r++) {
    if (!legacy(number_of_points_by_return[r], header->number_of_points_by_return[r - 1])) {
      return false;
    }
  }
  const LASboundingBox box = boundingBox(*header);
  header->max_x = box.max_x;
  header->min_x = box.min_x;
  header->max_y = box.max_y;
  header->min_y = box.min_y;
  header->max_z = box.max_z;
  header->min_z = box.min_z;
  header->extended_number_of_point_records = static_cast<uint64_t>(number_of_point_records);
  for (int i = 0; i < 15; i++) {
    header->extended_number_of_points_by_return[i] =
        static_cast<uint64_t>(number_of_points_by_return[i + 1]);
  }
  return true;
}

LASboundingBox LASpointInventory::boundingBox(const LASscaleOffset& so) const {
  // Product and sum as two separate operations (the build never fuses them).
  LASboundingBox box;
  box.max_x = so.x_scale_factor * max_X + so.x_offset;
  box.min_x = so.x_scale_factor * min_X + so.x_offset;
  box.max_y = so.y_scale_factor * max_Y + so.y_offset;
  box.min_y = so.y_scale_factor * min_Y + so.y_offset;
  box.max_z = so.z_scale_factor * max_Z + so.z_offset;
  box.min_z = so.z_scale_factor * min_Z + so.z_offset;
  return box;
}
