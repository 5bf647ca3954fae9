// Tests of the histogram bins: binning around the anchor, growth, clamping, the
// report's exact lines and the bin-size number format. The binary is linked with
// --wrap=malloc and --wrap=realloc so a test can make the next allocation fail.
#include "morrowtide/las/las_histogram_bins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/las/failing_allocation.h"

using morrowtide::kBinSizeTextSize;

namespace {

constexpr double kClamp = 2e307;

// The report of `bins` as text.
std::string reportOf(const LAShistogramBins& bins, const char* name, const char* name_avg) {
  char* text = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&text, &size);
  EXPECT_TRUE(bins.report(file, name, name_avg));
  std::fclose(file);
  std::string s(text, size);
  std::free(text);
  return s;
}

TEST(LAShistogramBins, ReportsNonEmptyBinsFromTheLowestUpAndTheAverage) {
  LAShistogramBins bins(0.5, -kClamp, kClamp);
  bins.add(1.2);
  bins.add(1.3);
  bins.add(0.2);
  EXPECT_EQ(bins.anchor_bin, 2);
  EXPECT_EQ(reportOf(bins, "z coordinate", nullptr),
            "z coordinate histogram with bin size 0.500000\n"
            "  bin [0.0,0.5) has 1\n"
            "  bin [1.0,1.5) has 2\n"
            "  average z coordinate 0.9 for 3 element(s)\n");
  EXPECT_EQ(reportOf(bins, nullptr, nullptr),
            "  bin [0.0,0.5) has 1\n"
            "  bin [1.0,1.5) has 2\n"
            "  average 0.9 for 3 element(s)\n");
  EXPECT_EQ(reportOf(LAShistogramBins(0.5, -kClamp, kClamp), "empty", nullptr),
            "empty histogram with bin size 0.500000\n");
}

TEST(LAShistogramBins, BinsGrowOnBothSidesOfTheAnchor) {
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.add(int32_t{10});
  EXPECT_EQ(bins.positive_size, 1024);
  EXPECT_EQ(bins.positive_counts[0], 1u);
  bins.add(int64_t{9});
  EXPECT_EQ(bins.negative_size, 1024);
  EXPECT_EQ(bins.negative_counts[0], 1u);
  bins.add(-1990.0);  // 2000 bins below the anchor: negative index 1999
  EXPECT_EQ(bins.negative_size, 3023);
  EXPECT_EQ(bins.negative_counts[1999], 1u);
  bins.add(1034.0);  // positive index 1024
  EXPECT_EQ(bins.positive_size, 2048);
  EXPECT_EQ(reportOf(bins, "n", nullptr),
            "n histogram with bin size 1.000000\n"
            "  bin -1990 has 1\n"
            "  bin 9 has 1\n"
            "  bin 10 has 1\n"
            "  bin 1034 has 1\n"
            "  average n -234.25 for 4 element(s)\n");
}

TEST(LAShistogramBins, StepOnePrintsBareBinsAndAStrippedAverage) {
  LAShistogramBins thirds(1.0, -kClamp, kClamp);
  for (int32_t v : {1, 2, 7}) thirds.add(v);
  EXPECT_EQ(reportOf(thirds, nullptr, nullptr),
            "  bin 1 has 1\n  bin 2 has 1\n  bin 7 has 1\n"
            "  average 3.333333333333333 for 3 element(s)\n");
  LAShistogramBins twos(1.0, -kClamp, kClamp);
  for (double v : {1.5, 2.5}) twos.add(v);
  EXPECT_EQ(reportOf(twos, nullptr, nullptr),
            "  bin 1 has 1\n  bin 2 has 1\n  average 2 for 2 element(s)\n");
}

TEST(LAShistogramBins, AveragesReportTheMeanValuePerBin) {
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.addWithValue(int32_t{2}, int32_t{100});
  bins.addWithValue(int32_t{2}, int32_t{300});
  bins.addWithValue(int32_t{6}, int32_t{50});
  EXPECT_EQ(reportOf(bins, "classification", "intensity"),
            "classification histogram of intensity averages with bin size 1.000000\n"
            "  bin 2 has average 200 (of 2)\n"
            "  bin 6 has average 50 (of 1)\n"
            "  average classification 3.333333333333333 for 3 element(s)\n");
  // Other steps: the negative side says "has average", the positive "average has".
  LAShistogramBins half(0.5, -kClamp, kClamp);
  half.addWithValue(1.0, 4.0);
  half.addWithValue(0.25, 3.0);
  EXPECT_EQ(reportOf(half, "scan angle", nullptr),
            "scan angle histogram of averages with bin size 0.500000\n"
            "  bin [0.0,0.5) has average 3 (of 1)\n"
            "  bin [1.0,1.5) average has 4 (of 1)\n"
            "  average scan angle 0.6 for 2 element(s)\n");
}

TEST(LAShistogramBins, AddClampsEveryVariantToTheBounds) {
  LAShistogramBins bins(1.0, -3.7, 100.9);
  bins.add(250.0);
  EXPECT_EQ(bins.sum, 100.9);
  bins.add(int32_t{250});   // the bound truncated to 100
  bins.add(int64_t{-250});  // and to -3
  EXPECT_EQ(bins.sum, 100.9 + 100 - 3);
  EXPECT_EQ(reportOf(bins, nullptr, nullptr),
            "  bin -3 has 1\n  bin 100 has 2\n  average 65.966666666666669 for 3 element(s)\n");
}

TEST(LAShistogramBins, IntegerVariantsSaturateTheBoundsAndANaNBoundClampsNothing) {
  const double nan = std::nan("");
  struct Case {
    double clamp_min;
    double clamp_max;
    int64_t value;
    bool as_i32;
    double sum;
  };
  const Case cases[] = {
      {-1e300, 1e300, INT64_MIN, false, -9223372036854775808.0},
      {-1e300, 1e300, INT64_MAX, false, 9223372036854775808.0},
      {-1e300, 1e300, INT32_MIN, true, -2147483648.0},
      {-1e300, 1e300, INT32_MAX, true, 2147483647.0},
      {nan, 5.5, -1000, true, -1000.0},
      {nan, 5.5, 1000, false, 5.0},
      {-3.5, nan, INT64_MAX, false, 9223372036854775808.0},
      {-3.5, nan, -1000, true, -3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.clamp_min << " " << c.clamp_max << " " << c.value);
    LAShistogramBins bins(1.0, c.clamp_min, c.clamp_max);
    if (c.as_i32) {
      bins.add(static_cast<int32_t>(c.value));
    } else {
      bins.add(c.value);
    }
    EXPECT_EQ(bins.sum, c.sum);
    EXPECT_EQ(bins.count, 1);
  }
}

TEST(LAShistogramBins, ResetReanchorsAndReportsOnlyTheNewValues) {
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.add(5.0);
  bins.add(-50.0);
  bins.reset();
  EXPECT_EQ(reportOf(bins, nullptr, nullptr), "");
  bins.add(-60.0);
  EXPECT_EQ(bins.anchor_bin, -60);
  EXPECT_EQ(bins.positive_size, 1024);  // arrays kept
  EXPECT_EQ(reportOf(bins, nullptr, nullptr), "  bin -60 has 1\n  average -60 for 1 element(s)\n");
}

TEST(FormatByBinSize, PrintsTheDecimalsTheStepCallsFor) {
  struct Case {
    double value, step;
    const char* text;
  };
  const Case cases[] = {
      {3.14159, 0.25, "3.14"},
      {3.14159, 0.3, "3.1"},
      {3.14159, 0.7, "3.14159"},
      {2.0, 0.7, "2"},
      {3.14159, 0.125, "3.142"},
      {3.14159, 0.0025, "3.1416"},
      {3.14159, 0.00001, "3.14159"},
      {1.0, 0.000001, "1.000000"},
      {1.0, 0.0000001, "1.0000000"},
      {1.0, 0.00000001, "1.00000000"},
      {1.0, 0.000000001, "1.000000000"},
      {-0.5, 1.0, "-0.5"},
      {100.0, 1.0, "100"},
      {0.0, 2.0, "0"},
  };
  for (const Case& c : cases) {
    char text[kBinSizeTextSize];
    formatByBinSize(text, c.value, c.step);
    EXPECT_STREQ(text, c.text) << c.value << " with step " << c.step;
  }
}

TEST(LAShistogramBins, TheReportHoldsAnyF64AndTheTopBinsUpperBound) {
  // A bound or average whose "%.15f" text passed 63 characters overflowed the
  // 64-byte buffers, and the upper bound of the clamped bin 2147483647 was
  // computed as b + 1 in 32 bits, which overflows.
  LAShistogramBins bins(0.5, -kClamp, kClamp);
  bins.add(1e300);
  const std::string average =
      "  average big " + std::string("1") + std::string(300, '0') + ".0 for 1 element(s)\n";
  const std::string report = reportOf(bins, "big", nullptr);
  EXPECT_EQ(report.substr(0, report.find('\n') + 1), "big histogram with bin size 0.500000\n");
  EXPECT_NE(report.find("  bin [1073741823.5,1073741824.0) has 1\n"), std::string::npos);
  // 1e300 printed exactly is not 1 and 300 zeros; compare the length only.
  const size_t at = report.find("  average big ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(report.size() - at, average.size());

  char text[kBinSizeTextSize];
  EXPECT_EQ(formatByBinSize(text, -1.7976931348623157e308, 0.7), 326);
  EXPECT_EQ(std::strlen(text), 310u);
}

TEST(LAShistogramBins, NaNValuesAreIgnored) {
  // A NaN was counted in bin 0 and turned the sum and average into NaN.
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.add(std::nan(""));
  bins.addWithValue(std::nan(""), 1.0);
  EXPECT_EQ(bins.count, 0);
  EXPECT_TRUE(bins.first);
  bins.add(3.0);
  bins.addWithValue(3.0, std::nan(""));
  EXPECT_EQ(reportOf(bins, nullptr, nullptr), "  bin 3 has 1\n  average 3 for 1 element(s)\n");
}

TEST(LAShistogramBins, MixingAddAndAddWithValueNeverReadsPastTheArrays) {
  // Bins counted by add had no sums array, so a later addWithValue wrote
  // through a null pointer, and an add that grew the counts left the sums short.
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.add(1.0);
  bins.add(-5.0);
  bins.addWithValue(1.0, 10.0);
  bins.addWithValue(-5.0, 20.0);
  bins.add(3003.0);  // grows the positive counts and sums together
  EXPECT_EQ(reportOf(bins, nullptr, nullptr),
            "  bin -5 has average 10 (of 2)\n"
            "  bin 1 has average 5 (of 2)\n"
            "  bin 3003 has average 0 (of 1)\n"
            "  average 599 for 5 element(s)\n");
}

using LAShistogramBinsDeathTest = testing::Test;

TEST_F(LAShistogramBinsDeathTest, FarApartValuesAreAnAllocationFailure) {
  // The bin distance was an I32 difference: from bin -2^31 to bin 2^31 - 1 it
  // wrapped to -1 and the value went silently into the wrong bin.
  LAShistogramBins bins(1.0, -kClamp, kClamp);
  bins.add(-1e300);
  EXPECT_EQ(bins.anchor_bin, INT32_MIN);
  EXPECT_EXIT(bins.add(1e300), testing::ExitedWithCode(1),
              "^ERROR: reallocating 4294968319 pos bins\n$");
  LAShistogramBins averages(1.0, -kClamp, kClamp);
  averages.addWithValue(1e300, 1.0);
  EXPECT_EXIT(averages.addWithValue(-1e300, 1.0), testing::ExitedWithCode(1),
              "^ERROR: allocating 4294968318 neg bins\n$");
}

TEST_F(LAShistogramBinsDeathTest, AFailedGrowthNamesTheSideAndTheArray) {
  struct Case {
    bool with_value;
    bool anchored;  // a first value at 0 was added before
    double value;
    int before;  // allocations that succeed before one fails
    const char* message;
  };
  const Case cases[] = {
      {false, false, 1.0, 0, "^ERROR: allocating 1024 pos bins\n$"},
      {true, false, 1.0, 1, "^ERROR: allocating 1024 pos values\n$"},
      {false, true, -1.0, 0, "^ERROR: allocating 1024 neg bins\n$"},
      {false, true, 2000.0, 0, "^ERROR: reallocating 3024 pos bins\n$"},
      {true, true, -1.0, 1, "^ERROR: allocating 1024 neg values\n$"},
      {true, true, 2000.0, 1, "^ERROR: reallocating 3024 pos values\n$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LAShistogramBins bins(1.0, -kClamp, kClamp);
    if (c.anchored) c.with_value ? bins.addWithValue(0.0, 1.0) : bins.add(0.0);
    EXPECT_EXIT((g_allocations_before_failure = c.before,
                 c.with_value ? bins.addWithValue(c.value, 1.0) : bins.add(c.value)),
                testing::ExitedWithCode(1), c.message);
  }
}

}  // namespace
