// Histogram bins: binning, growing the two sides around the anchor bin, the
// report and the bin-size-dependent number format.
#include "morrowtide/las/las_histogram_bins.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::kBinSizeTextSize;
using morrowtide::saturatingToI32;
using morrowtide::truncateSaturating;

namespace {

// Extra entries a side grows by beyond the index it needs.
constexpr int64_t kGrowth = 1024;

// Steps whose bounds print with a fixed number of decimals; any other step
// prints "%.15f" without trailing zeros.
struct StepDecimals {
  double step;
  int decimals;
};
constexpr StepDecimals kStepDecimals[] = {
    {0.5, 1},      {0.4, 1},      {0.3, 1},      {0.2, 1},       {0.1, 1},        {0.25, 2},
    {0.05, 2},     {0.04, 2},     {0.03, 2},     {0.02, 2},      {0.01, 2},       {0.125, 3},
    {0.025, 3},    {0.005, 3},    {0.004, 3},    {0.003, 3},     {0.002, 3},      {0.001, 3},
    {0.0125, 4},   {0.0025, 4},   {0.0005, 4},   {0.0002, 4},    {0.0001, 4},     {0.00125, 5},
    {0.00025, 5},  {0.00005, 5},  {0.00002, 5},  {0.00001, 5},   {0.000125, 6},   {0.000025, 6},
    {0.000005, 6}, {0.000002, 6}, {0.000001, 6}, {0.0000001, 7}, {0.00000001, 8}, {0.000000001, 9}};

// A clamp bound for the integer variants of add: `bound` truncated into T
// (saturating); a NaN bound gives `none`, which clamps nothing on its side.
template <typename T>
T integerBound(double bound, T none) {
  return std::isnan(bound) ? none : truncateSaturating<T>(bound);
}

}  // namespace

int32_t formatByBinSize(char* buffer, double value, double step) {
  for (const StepDecimals& s : kStepDecimals) {
    if (step == s.step) return std::snprintf(buffer, kBinSizeTextSize, "%.*f", s.decimals, value);
  }
  const int32_t written = std::snprintf(buffer, kBinSizeTextSize, "%.15f", value);
  size_t n = std::strlen(buffer);
  while (n > 0 && buffer[n - 1] == '0') n--;
  if (n > 0 && buffer[n - 1] == '.') n--;
  buffer[n] = '\0';
  return written;
}

LAShistogramBins::LAShistogramBins(double step, double clamp_min, double clamp_max)
    : step(step), clamp_min(clamp_min), clamp_max(clamp_max), one_over_step(1.0 / step) {}

LAShistogramBins::~LAShistogramBins() {
  std::free(positive_counts);
  std::free(negative_counts);
  std::free(positive_sums);
  std::free(negative_sums);
}

int32_t LAShistogramBins::binOf(double v) const {
  return saturatingToI32(std::floor(v * one_over_step));
}

template <typename T>
void LAShistogramBins::addClamped(T value) {
  const T lo = integerBound<T>(clamp_min, std::numeric_limits<T>::min());
  const T hi = integerBound<T>(clamp_max, std::numeric_limits<T>::max());
  if (hi < value) {
    value = hi;
  } else if (value < lo) {
    value = lo;
  }
  sum += static_cast<double>(value);
  count++;
  countBin(binOf(static_cast<double>(value)), false, 0.0);
}

void LAShistogramBins::add(int32_t value) { addClamped(value); }

void LAShistogramBins::add(int64_t value) { addClamped(value); }

void LAShistogramBins::add(double value) {
  if (std::isnan(value)) return;
  if (clamp_max < value) {
    value = clamp_max;
  } else if (value < clamp_min) {
    value = clamp_min;
  }
  sum += value;
  count++;
  countBin(binOf(value), false, 0.0);
}

void LAShistogramBins::addWithValue(int32_t item, int32_t value) {
  addWithValue(static_cast<double>(item), static_cast<double>(value));
}

void LAShistogramBins::addWithValue(double item, double value) {
  if (std::isnan(item) || std::isnan(value)) return;
  count++;
  sum += item;
  countBin(binOf(item), true, value);
}

void LAShistogramBins::countBin(int32_t b, bool with_value, double value) {
  if (first) {
    anchor_bin = b;
    first = false;
  }
  const int64_t index = static_cast<int64_t>(b) - anchor_bin;
  if (index >= 0) {
    if (index >= positive_size || (with_value && positive_sums == nullptr)) {
      growSide(true, index, with_value);
    }
    positive_counts[index]++;
    if (with_value) positive_sums[index] += value;
  } else {
    const int64_t k = -index - 1;
    if (k >= negative_size || (with_value && negative_sums == nullptr)) {
      growSide(false, k, with_value);
    }
    negative_counts[k]++;
    if (with_value) negative_sums[k] += value;
  }
}

void LAShistogramBins::growSide(bool positive, int64_t k, bool with_sums) {
  int32_t& size = positive ? positive_size : negative_size;
  uint32_t*& counts = positive ? positive_counts : negative_counts;
  double*& sums = positive ? positive_sums : negative_sums;
  const char* side = positive ? "pos" : "neg";
  const bool keep_sums = with_sums || sums != nullptr;
  // A side that already holds entry k only lacks its sums array.
  const int64_t n = k < size ? size : k + kGrowth;
  const long long shown = n;
  if (n > size) {
    void* grown = nullptr;
    if (n <= std::numeric_limits<int32_t>::max()) {
      const size_t bytes = static_cast<size_t>(n) * sizeof(uint32_t);
      grown = counts != nullptr ? std::realloc(counts, bytes) : std::malloc(bytes);
    }
    if (grown == nullptr) {
      las_messages::printLine(counts != nullptr ? "ERROR: reallocating %lld %s bins\n"
                                                : "ERROR: allocating %lld %s bins\n",
                              shown, side);
      std::exit(1);
    }
    counts = static_cast<uint32_t*>(grown);
    std::memset(counts + size, 0, static_cast<size_t>(n - size) * sizeof(uint32_t));
  }
  if (keep_sums) {
    const size_t bytes = static_cast<size_t>(n) * sizeof(double);
    const bool had_sums = sums != nullptr;
    void* grown = had_sums ? std::realloc(sums, bytes) : std::malloc(bytes);
    if (grown == nullptr) {
      las_messages::printLine(
          had_sums ? "ERROR: reallocating %lld %s values\n" : "ERROR: allocating %lld %s values\n",
          shown, side);
      std::exit(1);
    }
    sums = static_cast<double*>(grown);
    // Bins counted before the sums existed get a sum of 0.
    const int64_t from = had_sums ? size : 0;
    std::memset(sums + from, 0, static_cast<size_t>(n - from) * sizeof(double));
  }
  size = static_cast<int32_t>(n);
}

bool LAShistogramBins::report(FILE* file, const char* name, const char* name_avg) const {
  bool ok = true;
  if (name != nullptr) {
    if (positive_sums == nullptr) {
      ok = std::fprintf(file, "%s histogram with bin size %lf\n", name, step) >= 0;
    } else if (name_avg != nullptr) {
      ok = std::fprintf(file, "%s histogram of %s averages with bin size %lf\n", name, name_avg,
                        step) >= 0;
    } else {
      ok = std::fprintf(file, "%s histogram of averages with bin size %lf\n", name, step) >= 0;
    }
  }
  for (int64_t k = negative_size - 1; k >= 0; k--) {
    if (negative_counts[k] == 0) continue;
    ok &= reportBin(file, static_cast<int64_t>(anchor_bin) - 1 - k, negative_counts[k],
                    negative_sums, k, false);
  }
  for (int64_t k = 0; k < positive_size; k++) {
    if (positive_counts[k] == 0) continue;
    ok &= reportBin(file, static_cast<int64_t>(anchor_bin) + k, positive_counts[k], positive_sums,
                    k, true);
  }
  if (count != 0) {
    char average[kBinSizeTextSize];
    formatByBinSize(average, sum / static_cast<double>(count), step);
    const long long n = count;
    if (name != nullptr) {
      ok &= std::fprintf(file, "  average %s %s for %lld element(s)\n", name, average, n) >= 0;
    } else {
      ok &= std::fprintf(file, "  average %s for %lld element(s)\n", average, n) >= 0;
    }
  }
  return ok;
}

bool LAShistogramBins::reportBin(FILE* file, int64_t b, uint32_t c, const double* sums, int64_t k,
                                 bool positive) const {
  const int bin = static_cast<int>(b);  // a counted bin is an I32 bin number
  if (step == 1.0) {
    if (sums == nullptr) return std::fprintf(file, "  bin %d has %u\n", bin, c) >= 0;
    return std::fprintf(file, "  bin %d has average %g (of %u)\n", bin, sums[k] / c, c) >= 0;
  }
  // The bounds in F64: b + 1 of the highest bin does not fit an I32.
  char lower[kBinSizeTextSize];
  char upper[kBinSizeTextSize];
  formatByBinSize(lower, static_cast<double>(b) * step, step);
  formatByBinSize(upper, (static_cast<double>(b) + 1.0) * step, step);
  if (sums == nullptr) return std::fprintf(file, "  bin [%s,%s) has %u\n", lower, upper, c) >= 0;
  const char* format = positive ? "  bin [%s,%s) average has %g (of %u)\n"
                                : "  bin [%s,%s) has average %g (of %u)\n";
  return std::fprintf(file, format, lower, upper, sums[k] / c, c) >= 0;
}

void LAShistogramBins::reset() {
  first = true;
  sum = 0.0;
  count = 0;
  if (positive_size > 0) {
    std::memset(positive_counts, 0, static_cast<size_t>(positive_size) * sizeof(uint32_t));
    if (positive_sums)
      std::memset(positive_sums, 0, static_cast<size_t>(positive_size) * sizeof(double));
  }
  if (negative_size > 0) {
    std::memset(negative_counts, 0, static_cast<size_t>(negative_size) * sizeof(uint32_t));
    if (negative_sums)
      std::memset(negative_sums, 0, static_cast<size_t>(negative_size) * sizeof(double));
  }
}
