// Filling a point inventory from a header and writing it into one. The per-point
// count (add) is inline in the header.
#include "morrowtide/las/las_point_inventory.h"

#include <cmath>

#include "morrowtide/compressor/exact_arithmetic.h"

using morrowtide::inIntegerRange;

namespace {

// On an axis with a negative scale factor the order of real and integer
// coordinates is turned around: the largest real value is that of the smallest
// integer. Both directions of the box follow this one rule.
bool reversesOrder(double scale_factor) { return scale_factor < 0.0; }

// The integer coordinate of real value `v` on an axis with scale `s` and offset
// `o`: (v - o) / s to the nearest integer, halves away from zero, as 64 bits,
// keeping the low 32. A zero scale, a non-finite value or one outside the 64-bit
// range gives 0.
int32_t quantize(double v, double s, double o) {
  if (s == 0.0) return 0;
  const double q = (v - o) / s;
  // The quotient has the sign of v - o, turned around by a negative scale.
  const bool q_positive = (v >= o) != reversesOrder(s);
  const double r = q_positive ? q + 0.5 : q - 0.5;
  if (!inIntegerRange<int64_t>(r)) return 0;
  const int64_t t = static_cast<int64_t>(r);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(t)));
}

// The integer extremes of the real extremes `max` and `min` of one axis.
void integerExtremes(double max, double min, double s, double o, int32_t& max_i, int32_t& min_i) {
  const bool reversed = reversesOrder(s);
  max_i = quantize(reversed ? min : max, s, o);
  min_i = quantize(reversed ? max : min, s, o);
}

// The real extremes of the integer extremes `max_i` and `min_i` of one axis:
// scale factor * integer + offset, the product and the sum two separate steps
// (the build never fuses them).
void realExtremes(int32_t max_i, int32_t min_i, double s, double o, double& max, double& min) {
  const bool reversed = reversesOrder(s);
  max = s * (reversed ? min_i : max_i) + o;
  min = s * (reversed ? max_i : min_i) + o;
}

}  // namespace

bool LASpointInventory::initFromHeader(const LASheader* header) {
  if (header == nullptr) return false;
  number_of_point_records = static_cast<int64_t>(header->pointCount());
  number_of_points_by_return[0] = 0;
  for (uint32_t r = 1; r <= las_format::kExtendedReturnCount; r++) {
    number_of_points_by_return[r] = static_cast<int64_t>(header->pointsByReturn(r - 1));
  }
  const LASheader& h = *header;
  integerExtremes(h.max_x, h.min_x, h.x_scale_factor, h.x_offset, max_X, min_X);
  integerExtremes(h.max_y, h.min_y, h.y_scale_factor, h.y_offset, max_Y, min_Y);
  integerExtremes(h.max_z, h.min_z, h.z_scale_factor, h.z_offset, max_Z, min_Z);
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
  LASboundingBox box;
  realExtremes(max_X, min_X, so.x_scale_factor, so.x_offset, box.max_x, box.min_x);
  realExtremes(max_Y, min_Y, so.y_scale_factor, so.y_offset, box.max_y, box.min_y);
  realExtremes(max_Z, min_Z, so.z_scale_factor, so.z_offset, box.max_z, box.min_z);
  return box;
}
