// One histogram of point statistics: values sorted into bins of a fixed width
// (the step) and counted per bin; in the averages mode each bin also sums a
// second value, so the report shows that value's mean per bin. The bins live in
// two growable arrays on either side of an anchor bin (the bin of the first
// value), so the range need not be known in advance. Read this first:
// - bin numbers are I32 (far values clamp to the I32 limits); the distance from
//   the anchor and the array sizes are computed in 64 bits, and a side that would
//   need more than 2^31 - 1 entries is an allocation failure;
// - an array that cannot grow prints its "ERROR: " line and ends the process
//   with exit status 1; NaN values are ignored.
#ifndef MORROWTIDE_LAS_LAS_HISTOGRAM_BINS_H
#define MORROWTIDE_LAS_LAS_HISTOGRAM_BINS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace morrowtide {

// Bytes a buffer of formatByBinSize needs for any F64: "%.15f" of -DBL_MAX is
// 1 sign + 309 digits + 1 point + 15 decimals, plus the NUL.
constexpr size_t kBinSizeTextSize = 352;

}  // namespace morrowtide

// Writes `value` into `buffer` with as many decimals as `step` calls for (exact
// steps of the table; any other step "%.15f" without trailing zeros and point).
// Returns the number of characters written.
// Requires: `buffer` holds kBinSizeTextSize bytes.
int32_t formatByBinSize(char* buffer, double value, double step);

class LAShistogramBins final {
 public:
  // An empty histogram of bins `step` wide; add() clamps to [clamp_min, clamp_max].
  LAShistogramBins(double step, double clamp_min, double clamp_max);
  ~LAShistogramBins();
  LAShistogramBins(const LAShistogramBins&) = delete;
  LAShistogramBins& operator=(const LAShistogramBins&) = delete;

  double getStep() const { return step; }

  // Clamps `value`, adds it to sum and counts it in its bin. For the integer
  // variants the clamps are first truncated to the integer type (saturating).
  void add(int32_t value);
  void add(int64_t value);
  void add(double value);
  // Counts `item` in its bin (no clamping) and adds `value` to that bin's sum;
  // sum and count follow the items. A NaN item or value is ignored.
  void addWithValue(int32_t item, int32_t value);
  void addWithValue(double item, double value);

  // Prints the title (when `name` is not null), every non-empty bin from the
  // lowest up and the overall average (when anything was added) to `file`.
  // `name_avg` names the averaged value of an averages histogram (may be null).
  // Returns false when a line could not be written.
  bool report(FILE* file, const char* name, const char* name_avg) const;
  // Empties the histogram, keeping its arrays; the next value anchors anew.
  void reset();

  double sum = 0.0;
  int64_t count = 0;
  double step;
  double clamp_min;
  double clamp_max;
  double one_over_step;
  bool first = true;
  int32_t anchor_bin = 0;
  int32_t positive_size = 0;
  int32_t negative_size = 0;
  uint32_t* positive_counts = nullptr;  // owned (malloc); bins anchor_bin + k
  uint32_t* negative_counts = nullptr;  // owned (malloc); bins anchor_bin - 1 - k
  double* positive_sums = nullptr;      // owned (malloc); null for a plain histogram
  double* negative_sums = nullptr;      // owned (malloc)

 private:
  // The bin of v: floor(v / step) saturated to the I32 range.
  int32_t binOf(double v) const;
  // Counts bin b (and adds `value` to its sum when `with_value`), growing the
  // side's arrays as needed.
  void countBin(int32_t b, bool with_value, double value);
  // Makes entry `k` of one side exist, with a sums array when `with_sums` is set
  // or the side has one. Exits with status 1 when an array cannot grow.
  void growSide(bool positive, int64_t k, bool with_sums);
  template <typename T>
  void addClamped(T value);
  bool reportBin(FILE* file, int64_t b, uint32_t c, const double* sums, int64_t k,
                 bool positive) const;
};

#endif  // MORROWTIDE_LAS_LAS_HISTOGRAM_BINS_H
