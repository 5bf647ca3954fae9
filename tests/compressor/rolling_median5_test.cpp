// Tests of RollingMedian5: worked sequences with their exact end states, and the
// displacement rule (largest while high, smallest otherwise) on random input.
#include "morrowtide/compressor/rolling_median5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<int32_t> valuesOf(const RollingMedian5& m) {
  return std::vector<int32_t>(m.values, m.values + 5);
}

TEST(RollingMedian5, SequencesEndInExactState) {
  struct Case {
    std::vector<int32_t> fed;
    std::vector<int32_t> values;
    bool high;
    int32_t median;
  };
  const Case cases[] = {
      {{}, {0, 0, 0, 0, 0}, true, 0},
      // Turns low at the first value and stays low.
      {{5, 1, 3}, {0, 0, 1, 3, 5}, false, 1},
      {{-4, -2, 7, 7, -1}, {-1, 0, 0, 7, 7}, true, 0},
      // A value equal to the median counts as "not below" while high.
      {{0}, {0, 0, 0, 0, 0}, false, 0},
      {{0, 0}, {0, 0, 0, 0, 0}, true, 0},
      {{INT32_MIN, INT32_MAX, INT32_MAX}, {0, 0, 0, INT32_MAX, INT32_MAX}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.fed));
    RollingMedian5 m;
    m.reset();
    for (int32_t d : c.fed) m.add(d);
    EXPECT_EQ(valuesOf(m), c.values);
    EXPECT_EQ(m.high, c.high);
    EXPECT_EQ(m.get(), c.median);
  }
}

TEST(RollingMedian5, ResetForgetsEverything) {
  RollingMedian5 m;
  for (int32_t d : {9, 8, 7, -6, 100}) m.add(d);
  m.reset();
  EXPECT_EQ(valuesOf(m), (std::vector<int32_t>{0, 0, 0, 0, 0}));
  EXPECT_TRUE(m.high);
}

TEST(RollingMedian5, NewValueDisplacesLargestWhileHighElseSmallest) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> small(-20, 20);
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  RollingMedian5 m;
  m.reset();
  for (int i = 0; i < 20000; ++i) {
    const int32_t d = (i % 3 == 0) ? any(rng) : small(rng);
    std::vector<int32_t> expected = valuesOf(m);
    const bool was_high = m.high;
    const int32_t median = m.get();
    if (was_high) {
      expected.pop_back();
    } else {
      expected.erase(expected.begin());
    }
    expected.push_back(d);
    std::sort(expected.begin(), expected.end());
    m.add(d);
    ASSERT_EQ(valuesOf(m), expected) << "step " << i;
    const bool flips = was_high ? !(d < median) : !(d > median);
    ASSERT_EQ(m.high, flips ? !was_high : was_high) << "step " << i;
  }
}

}  // namespace
