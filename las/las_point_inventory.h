// Counts of the points passed to a writer, by return number, and the bounding
// box of their integer coordinates. The LAS writer patches its header from it at
// the end of a run; it can also be filled from, and written into, a LASheader.
// add() runs once per point: no allocation, no data-dependent branch.
#ifndef MORROWTIDE_LAS_LAS_POINT_INVENTORY_H
#define MORROWTIDE_LAS_LAS_POINT_INVENTORY_H

#include <cstdint>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"

// A bounding box in real coordinates, in the order of the header fields.
struct LASboundingBox {
  double max_x = 0.0;
  double min_x = 0.0;
  double max_y = 0.0;
  double min_y = 0.0;
  double max_z = 0.0;
  double min_z = 0.0;
};

class LASpointInventory final {
 public:
  // Every counter and extreme 0, first_point true.
  LASpointInventory() = default;

  // Counts one point by its return number (extended_return_number for a LAS 1.4
  // point, else return_number) and extends the box. Always true.
  // Requires: `point` is not null.
  bool add(const LASpointRecord* point) {
    const uint32_t r = point->getExtendedPointType() != 0 ? point->getExtendedReturnNumber()
                                                          : point->getReturnNumber();
    number_of_point_records++;
    number_of_points_by_return[r]++;
    const int32_t x = point->getX();
    const int32_t y = point->getY();
    const int32_t z = point->getZ();
    if (first_point) {
      max_X = min_X = x;
      max_Y = min_Y = y;
      max_Z = min_Z = z;
      first_point = false;
      return true;
    }
    extend(x, min_X, max_X);
    extend(y, min_Y, max_Y);
    extend(z, min_Z, max_Z);
    return true;
  }
  // Takes counts and bounding box from `header` (the box through its scale and
  // offset; a zero scale or a value whose integer does not fit 64 bits gives 0;
  // on an axis with a negative scale factor max_X comes from min_x and min_X
  // from max_x). False, changing nothing, for a null header.
  bool initFromHeader(const LASheader* header);
  // Writes counts and bounding box into `header`. False for a null header, or at
  // the first count of 2^32 or more on a header below LAS 1.4 (the counts stored
  // before stay stored); for LAS 1.4 such a legacy count becomes 0.
  bool updateHeader(LASheader* header) const;
  // The box of the integer extremes in real coordinates: on each axis
  // scale factor * integer + offset, the product and the sum two separate steps.
  // On an axis with a negative scale factor the maximum comes from the smallest
  // integer and the minimum from the largest, so that max >= min.
  LASboundingBox boundingBox(const LASscaleOffset& scale_offset) const;

  int64_t number_of_point_records = 0;
  int64_t number_of_points_by_return[16] = {};  // index = return number 0-15
  int32_t max_X = 0;
  int32_t min_X = 0;
  int32_t max_Y = 0;
  int32_t min_Y = 0;
  int32_t max_Z = 0;
  int32_t min_Z = 0;
  bool first_point = true;

 private:
  // A value below the minimum becomes the minimum; otherwise one above the
  // maximum becomes the maximum (selects, no branches).
  static void extend(int32_t v, int32_t& min, int32_t& max) {
    const bool below = v < min;
    const bool above = !below && v > max;
    min = below ? v : min;
    max = above ? v : max;
  }
};

#endif  // MORROWTIDE_LAS_LAS_POINT_INVENTORY_H
