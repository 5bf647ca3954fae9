// Statistics over a stream of points: counts by return, number of returns and
// class; counts of the synthetic, keypoint, withheld and overlap flags by class;
// the smallest and largest value of every field (two whole points, extra-bytes
// attributes included); and how often the low decimal digits of the integer
// coordinates repeat those of the first point. Attribute values are read by the
// rule of las_header.h (readAttributeValue, attributeInside).
// Class and returns are read by the one rule of LASpointRecord's
// getEffective...() accessors.
#ifndef MORROWTIDE_LAS_LAS_POINT_SUMMARY_H
#define MORROWTIDE_LAS_LAS_POINT_SUMMARY_H

#include <cstdint>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"

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
