// Statistics over a stream of points: counts by return, number of returns and
// class; counts of the synthetic, keypoint, withheld and overlap flags by class;
// the smallest and largest value of every field (two whole points, extra-bytes
// attributes included); and how often the low decimal digits of the integer
// coordinates repeat those of the first point. Also the reading rule for an
// extra-bytes attribute value, shared with the histograms.
// Class and returns are read by the one rule of LASpointRecord's
// getEffective...() accessors.
#ifndef MORROWTIDE_LAS_LAS_POINT_SUMMARY_H
#define MORROWTIDE_LAS_LAS_POINT_SUMMARY_H

#include <cstdint>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"

// Width in bytes of the value of an attribute of descriptor `d` (its first
// element for an array type), by t = (data_type - 1) mod 10 with the sign of the
// dividend: 1 (U8, I8), 2 (U16, I16), 4 (U32, I32, F32), 8 (U64, I64, F64 and
// t = -1, the data type 0, which reads as an F64).
uint32_t attributeValueWidth(const LASextraAttribute& d);

// The value of descriptor `d` read from `bytes` as an F64: the number of type t,
// times scale[0] when bit 3 of options is set, plus offset[0] when bit 4 is set.
// Requires: `bytes` holds attributeValueWidth(d) bytes.
double readAttributeValue(const LASextraAttribute& d, const uint8_t* bytes);

// Whether attribute `index` of `attributes` has a descriptor and lies wholly in
// extra bytes of `size` bytes (offset >= 0 and offset + value width <= size).
bool attributeInside(const LASextraAttributes& attributes, int32_t index, int32_t size);

class LASpointSummary final {
 public:
  // Every count and match 0, both extreme points without layout, first true.
  LASpointSummary();
  LASpointSummary(const LASpointSummary&) = delete;
  LASpointSummary& operator=(const LASpointSummary&) = delete;

  // Counts `point` and folds its values into the extreme points and the digit
  // matches. The first point fixes the extreme points' extra-bytes buffers; an
  // attribute is compared only where it lies inside both the point's extra bytes
  // and those buffers, and attributes of data type 0 are skipped. Always true.
  // Requires: `point` is not null. Allocates only at the first point.
  bool add(const LASpointRecord* point);

  int64_t number_of_point_records = 0;
  int64_t points_by_return[16] = {};
  int64_t points_by_number_of_returns[16] = {};
  int64_t points_by_classification[32] = {};
  int64_t points_by_extended_classification[256] = {};  // only 32-255 are counted
  int64_t synthetic_points = 0;
  int64_t synthetic_by_classification[256] = {};
  int64_t keypoint_points = 0;
  int64_t keypoint_by_classification[256] = {};
  int64_t withheld_points = 0;
  int64_t withheld_by_classification[256] = {};
  int64_t overlap_points = 0;
  int64_t overlap_by_classification[256] = {};
  LASpointRecord min_point;  // every field the smallest value seen
  LASpointRecord max_point;  // every field the largest value seen
  // The first point's X, Y, Z (inner index) modulo 10, 100, 1000, 10000 (outer),
  // remainders of truncating division (negative for a negative coordinate).
  int16_t low_digits[4][3] = {};
  // Points whose coordinate matches low_digits at that modulus and every smaller one.
  int64_t low_digit_matches[4][3] = {};
  bool first = true;

 private:
  void countClassesAndFlags(const LASpointRecord& point);
  void takeFirst(const LASpointRecord& point);
  void extendFields(const LASpointRecord& point);
  void extendAttributes(const LASpointRecord& point);
  void matchLowDigits(const LASpointRecord& point);
};

#endif  // MORROWTIDE_LAS_LAS_POINT_SUMMARY_H
