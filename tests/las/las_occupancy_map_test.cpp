// Tests of the occupancy map: cells of points, rows and columns on both sides of
// their anchors, growth, reset, the ASCII grid file, and refusals that leave the
// map unchanged. Linked with --wrap=malloc and --wrap=realloc (failing growth).
#include "morrowtide/las/las_occupancy_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/las/failing_allocation.h"
#include "tests/scratch_dir.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string readFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string gridOf(const LASoccupancyMap& map) {
  const ScratchDir scratch;
  const std::string name = scratch.path("grid.asc");
  EXPECT_TRUE(map.writeAsciiGrid(name.c_str()));
  return readFile(name);
}

// A format 0 point whose integer coordinates are hundredths.
class LASoccupancyMapPoints : public testing::Test {
 protected:
  void SetUp() override {
    scale_offset.x_scale_factor = scale_offset.y_scale_factor = 0.01;
    ASSERT_TRUE(point.initFromFormat(&scale_offset, 0, 20, nullptr));
  }
  const LASpointRecord* at(int32_t x, int32_t y) {
    point.setX(x);
    point.setY(y);
    return &point;
  }
  LASscaleOffset scale_offset;
  LASpointRecord point;
};

TEST_F(LASoccupancyMapPoints, PointsInOneCellSetItOnce) {
  LASoccupancyMap map(2.0f);
  EXPECT_FALSE(map.active());
  EXPECT_FALSE(map.occupied(at(1050, 2010)));
  EXPECT_TRUE(map.add(at(1050, 2010)));   // (10.5, 20.1): cell (5, 10)
  EXPECT_FALSE(map.add(at(1190, 2190)));  // (11.9, 21.9): the same cell
  EXPECT_TRUE(map.active());
  EXPECT_EQ(map.num_occupied, 1u);
  EXPECT_TRUE(map.occupiedCell(5, 10));
  EXPECT_TRUE(map.occupied(at(1000, 2000)));
  EXPECT_FALSE(map.occupied(at(999, 2000)));
  EXPECT_EQ(map.min_x, 5);
  EXPECT_EQ(map.max_y, 10);
}

TEST_F(LASoccupancyMapPoints, CellsRoundDown) {
  LASoccupancyMap map(1.0f);
  EXPECT_TRUE(map.add(at(-50, 0)));  // x = -0.5 lies in column -1
  EXPECT_TRUE(map.occupiedCell(-1, 0));
  EXPECT_FALSE(map.occupiedCell(0, 0));
}

TEST_F(LASoccupancyMapPoints, PointsWithoutACellInTheI32RangeLeaveTheMapUnchanged) {
  // Cells outside 32 bits or NaN were converted without a check: an undefined
  // conversion and a bit set in some arbitrary cell.
  LASoccupancyMap map(1.0f);
  scale_offset.x_offset = 3e9;
  EXPECT_FALSE(map.add(at(0, 0)));
  scale_offset.x_offset = -2147483649.0;
  EXPECT_FALSE(map.add(at(0, 0)));
  scale_offset.x_offset = std::nan("");
  EXPECT_FALSE(map.add(at(0, 0)));
  EXPECT_FALSE(map.occupied(at(0, 0)));
  EXPECT_FALSE(map.active());
  EXPECT_EQ(map.num_occupied, 0u);
  scale_offset.x_offset = -2147483648.0;  // the lowest column still fits
  EXPECT_TRUE(map.add(at(0, 0)));
  EXPECT_TRUE(map.occupiedCell(INT32_MIN, 0));
  point.scale_offset = nullptr;
  EXPECT_FALSE(map.add(&point));
  EXPECT_FALSE(map.occupied(&point));
}

TEST(LASoccupancyMap, RowsAndColumnsGrowOnBothSidesOfTheirAnchors) {
  LASoccupancyMap map(1.0f);
  EXPECT_TRUE(map.addCell(5, 5));
  EXPECT_TRUE(map.addCell(3, 5));             // left of the row's anchor column
  EXPECT_TRUE(map.addCell(5, 2));             // three rows below the anchor row
  EXPECT_TRUE(map.addCell(-40, 2));           // a second left word in that row
  EXPECT_TRUE(map.addCell(7, 2005));          // 2000 rows above: past 1024 rows
  EXPECT_TRUE(map.addCell(5 + 300 * 32, 5));  // past the row's first 256 words
  EXPECT_TRUE(map.addCell(100, -3000));       // far below
  using Cells = std::vector<std::pair<int32_t, int32_t>>;
  for (const auto& c :
       Cells{{5, 5}, {3, 5}, {5, 2}, {-40, 2}, {7, 2005}, {5 + 300 * 32, 5}, {100, -3000}}) {
    EXPECT_TRUE(map.occupiedCell(c.first, c.second)) << c.first << ", " << c.second;
  }
  for (const auto& c : Cells{{4, 5},
                             {6, 5},
                             {5, 3},
                             {5, 4},
                             {5, 2006},
                             {-41, 2},
                             {5 + 301 * 32, 5},
                             {-100000, 5},
                             {0, -100000},
                             {99, -3000}}) {
    EXPECT_FALSE(map.occupiedCell(c.first, c.second)) << c.first << ", " << c.second;
  }
  EXPECT_FALSE(map.addCell(3, 5));
  EXPECT_EQ(map.num_occupied, 7u);
  EXPECT_EQ(map.min_x, -40);
  EXPECT_EQ(map.max_x, 5 + 300 * 32);
  EXPECT_EQ(map.min_y, -3000);
  EXPECT_EQ(map.max_y, 2005);
}

TEST(LASoccupancyMap, ColumnsBeyondSixteenBitWordCountsStayInTheirRow) {
  // A row's word count was a U16: past 65,280 words it wrapped to a small count
  // and the bit was written far outside the row.
  LASoccupancyMap map(1.0f);
  EXPECT_TRUE(map.addCell(0, 0));
  EXPECT_TRUE(map.addCell(2100000, 0));  // word 65625
  EXPECT_TRUE(map.addCell(-2100000, 0));
  EXPECT_TRUE(map.occupiedCell(2100000, 0));
  EXPECT_TRUE(map.occupiedCell(-2100000, 0));
  EXPECT_FALSE(map.occupiedCell(2100001, 0));
  EXPECT_FALSE(map.occupiedCell(1, 0));
}

TEST(LASoccupancyMap, ResetEmptiesTheMapAndTheNextCellAnchorsIt) {
  LASoccupancyMap map(2.5f);
  EXPECT_EQ(map.cell_size, -2.5f);
  map.addCell(1, 1);
  map.addCell(-7, 9);
  EXPECT_EQ(map.cell_size, 2.5f);
  map.reset();
  EXPECT_FALSE(map.active());
  EXPECT_EQ(map.cell_size, -2.5f);
  EXPECT_EQ(map.num_occupied, 0u);
  EXPECT_EQ(map.min_x, 0);
  EXPECT_EQ(map.max_y, 0);
  EXPECT_FALSE(map.occupiedCell(1, 1));
  EXPECT_TRUE(map.addCell(100, -100));
  EXPECT_EQ(map.anchor_row, -100);
  EXPECT_EQ(map.min_x, 100);
  EXPECT_EQ(map.max_y, -100);
  EXPECT_TRUE(map.occupiedCell(100, -100));
}

TEST(LASoccupancyMap, InvalidCellSizesMakeAMapThatNeverBecomesActive) {
  // A cell size of 0 was stored as -0.0, which counts as active, and divided
  // every coordinate by 0.
  for (float size : {0.0f, -1.0f, NAN, INFINITY}) {
    LASoccupancyMap map(size);
    EXPECT_FALSE(map.active()) << size;
    EXPECT_FALSE(map.addCell(1, 1)) << size;
    EXPECT_FALSE(map.occupiedCell(1, 1)) << size;
    EXPECT_EQ(map.num_occupied, 0u);
  }
}

TEST(LASoccupancyMap, FailedGrowthLeavesTheMapUnchanged) {
  // The growth's allocations were not checked.
  for (int before = 0; before < 4; before++) {
    SCOPED_TRACE(before);
    LASoccupancyMap map(1.0f);
    g_allocations_before_failure = before;  // rows, words, anchors, the row
    EXPECT_FALSE(map.addCell(3, 4));
    g_allocations_before_failure = -1;
    EXPECT_FALSE(map.active());
    EXPECT_EQ(map.anchor_row, 0);  // a failed first cell anchored the map at its row
    EXPECT_EQ(map.num_occupied, 0u);
    EXPECT_TRUE(map.addCell(3, 4));
    EXPECT_TRUE(map.occupiedCell(3, 4));
  }
  LASoccupancyMap map(1.0f);
  ASSERT_TRUE(map.addCell(0, 0));
  g_allocations_before_failure = 0;
  EXPECT_FALSE(map.addCell(20000, 0));  // its row cannot grow
  EXPECT_FALSE(map.addCell(0, 5000));   // the rows cannot grow
  g_allocations_before_failure = -1;
  EXPECT_EQ(map.max_x, 0);
  EXPECT_EQ(map.max_y, 0);
  EXPECT_EQ(map.num_occupied, 1u);
  EXPECT_FALSE(map.occupiedCell(20000, 0));
  EXPECT_TRUE(map.addCell(20000, 0));
}

TEST(LASoccupancyMapGrid, WritesTheRowsFromTheTop) {
  LASoccupancyMap map(1.0f);
  map.addCell(0, 0);
  map.addCell(2, 1);
  EXPECT_EQ(gridOf(map),
            "ncols 3\nnrows 2\nxllcorner 0.000000\nyllcorner 0.000000\ncellsize 1.000000\n"
            "NODATA_value 0\n\n"
            "0 0 1 \n"
            "1 0 0 \n");
  LASoccupancyMap shifted(0.5f);
  shifted.addCell(-3, 7);
  EXPECT_EQ(gridOf(shifted),
            "ncols 1\nnrows 1\nxllcorner -1.500000\nyllcorner 3.500000\ncellsize 0.500000\n"
            "NODATA_value 0\n\n1 \n");
}

TEST(LASoccupancyMapGrid, AnEmptyMapWritesOneEmptyCellWithTheStoredSize) {
  LASoccupancyMap map(2.0f);
  EXPECT_EQ(gridOf(map),
            "ncols 1\nnrows 1\nxllcorner -0.000000\nyllcorner -0.000000\ncellsize -2.000000\n"
            "NODATA_value 0\n\n0 \n");
}

TEST(LASoccupancyMapGrid, AGridWiderThan32BitsIsRefusedBeforeAnyFileIsOpened) {
  // The column count max_x - min_x + 1 overflowed 32 bits and gave a wrong
  // header and a loop that never ended.
  LASoccupancyMap map(1.0f);
  map.addCell(INT32_MIN, 0);
  map.addCell(INT32_MAX, 1);
  const ScratchDir scratch;
  const std::string name = scratch.path("grid.asc");
  CaptureStderr();
  EXPECT_FALSE(map.writeAsciiGrid(name.c_str()));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: occupancy grid of 4294967296 columns and 2 rows is too large\n");
  EXPECT_EQ(std::fopen(name.c_str(), "r"), nullptr);
}

TEST(LASoccupancyMapGrid, FailuresToOpenWriteOrCloseReturnFalse) {
  // Writing and closing were not checked: a full disk reported success.
  LASoccupancyMap map(1.0f);
  map.addCell(0, 0);
  CaptureStderr();
  EXPECT_FALSE(map.writeAsciiGrid("/nonexistent-directory/grid.asc"));
  EXPECT_EQ(GetCapturedStderr(), "");  // an open failure is silent
  CaptureStderr();
  EXPECT_FALSE(map.writeAsciiGrid("/dev/full"));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write occupancy grid '/dev/full'\n");
}

}  // namespace
