#include "morrowtide/las/las_point_inventory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int64_t k2to32 = int64_t{1} << 32;

struct Box {
  int32_t min_X, max_X, min_Y, max_Y, min_Z, max_Z;
};

void expectBox(const LASpointInventory& inv, const Box& b) {
  EXPECT_EQ(inv.min_X, b.min_X);
  EXPECT_EQ(inv.max_X, b.max_X);
  EXPECT_EQ(inv.min_Y, b.min_Y);
  EXPECT_EQ(inv.max_Y, b.max_Y);
  EXPECT_EQ(inv.min_Z, b.min_Z);
  EXPECT_EQ(inv.max_Z, b.max_Z);
}

// A format 1 (legacy) point and a format 6 (LAS 1.4) point to count.
class LASpointInventoryAdd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(legacy.initFromFormat(nullptr, 1, 28, nullptr));
    ASSERT_TRUE(las14.initFromFormat(nullptr, 6, 30, nullptr));
  }
  void add(int32_t x, int32_t y, int32_t z) {
    legacy.setX(x), legacy.setY(y), legacy.setZ(z);
    inventory.add(&legacy);
  }
  LASpointRecord legacy, las14;
  LASpointInventory inventory;
};

TEST_F(LASpointInventoryAdd, StartsEmpty) {
  EXPECT_TRUE(inventory.first_point);
  EXPECT_EQ(inventory.number_of_point_records, 0);
  expectBox(inventory, {0, 0, 0, 0, 0, 0});
  for (int64_t n : inventory.number_of_points_by_return) EXPECT_EQ(n, 0);
}

TEST_F(LASpointInventoryAdd, FirstPointSetsTheBoxOthersExtendIt) {
  add(5, -1, 100);
  EXPECT_FALSE(inventory.first_point);
  expectBox(inventory, {5, 5, -1, -1, 100, 100});  // zero extent
  add(3, -7, 100);
  add(8, 4, -2147483647 - 1);
  add(8, -7, 2147483647);  // equal to current extremes on X and Y: no change
  expectBox(inventory, {3, 8, -7, 4, -2147483647 - 1, 2147483647});
  EXPECT_EQ(inventory.number_of_point_records, 4);
  EXPECT_EQ(inventory.number_of_points_by_return[1], 4);
}

TEST_F(LASpointInventoryAdd, AValueBelowTheMinimumNeverAlsoMovesTheMaximum) {
  // After a box taken from a header with minimum above maximum, a value below
  // the minimum becomes the minimum only (the maximum is tested only otherwise).
  inventory.first_point = false;
  inventory.min_X = 10, inventory.max_X = 0;
  add(5, 0, 0);
  EXPECT_EQ(inventory.min_X, 5);
  EXPECT_EQ(inventory.max_X, 0);
}

TEST_F(LASpointInventoryAdd, CountsByTheReturnNumberOfTheFormat) {
  las14.setReturnNumber(3);
  las14.setExtendedReturnNumber(12);
  inventory.add(&las14);
  las14.setExtendedReturnNumber(0);
  inventory.add(&las14);
  legacy.setReturnNumber(0);
  legacy.setExtendedReturnNumber(9);  // ignored for a legacy point
  inventory.add(&legacy);
  legacy.setReturnNumber(7);
  inventory.add(&legacy);
  std::vector<int64_t> expected(16, 0);
  expected[12] = 1;
  expected[0] = 2;
  expected[7] = 1;
  EXPECT_EQ(std::vector<int64_t>(inventory.number_of_points_by_return,
                                 inventory.number_of_points_by_return + 16),
            expected);
  EXPECT_EQ(inventory.number_of_point_records, 4);
}

TEST(LASpointInventory, InitFromHeaderTakesCountsAndBox) {
  LASheader header;
  header.clean();
  header.number_of_point_records = 0;
  header.extended_number_of_point_records = 5000000000ull;
  header.number_of_points_by_return[0] = 7;
  header.extended_number_of_points_by_return[0] = 1;  // legacy count wins
  header.extended_number_of_points_by_return[1] = 4000000000ull;
  header.extended_number_of_points_by_return[14] = 15;
  header.x_scale_factor = 0.5, header.y_scale_factor = 0.5, header.z_scale_factor = 1.0;
  header.x_offset = 0.0, header.y_offset = 10.0, header.z_offset = 0.0;
  header.max_x = 1.25, header.min_x = -1.25;       // 2.5 and -2.5: halves away from zero
  header.max_y = 11.0, header.min_y = 9.74;        // 2, -0.52
  header.max_z = 3e9, header.min_z = -2147483649;  // low 32 bits of the 64-bit integer

  LASpointInventory inv;
  ASSERT_TRUE(inv.initFromHeader(&header));
  EXPECT_EQ(inv.number_of_point_records, 5000000000);
  std::vector<int64_t> expected(16, 0);
  expected[1] = 7;
  expected[2] = 4000000000;
  expected[15] = 15;
  EXPECT_EQ(
      std::vector<int64_t>(inv.number_of_points_by_return, inv.number_of_points_by_return + 16),
      expected);
  expectBox(inv, {-3, 3, -1, 2, 2147483647, -1294967296});
  EXPECT_FALSE(inv.first_point);
  EXPECT_FALSE(inv.initFromHeader(nullptr));
}

TEST(LASpointInventory, InitFromHeaderTurnsUnrepresentableExtremesIntoZero) {
  // A zero scale or a non-finite or huge bound made the conversion to a 64-bit
  // integer undefined.
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double scale, value;
  };
  const Case cases[] = {
      {"zero scale", 0.0, 5.0},      {"nan", 1.0, std::nan("")},           {"infinity", 1.0, inf},
      {"minus infinity", 1.0, -inf}, {"2^63", 1.0, 9223372036854775808.0}, {"1e300", 1e-10, 1e300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader header;
    header.clean();
    header.x_scale_factor = c.scale;
    header.max_x = c.value;
    header.min_x = c.value;
    header.max_y = 1.0;
    LASpointInventory inv;
    inv.max_X = inv.min_X = 99;
    ASSERT_TRUE(inv.initFromHeader(&header));
    EXPECT_EQ(inv.max_X, 0);
    EXPECT_EQ(inv.min_X, 0);
    EXPECT_EQ(inv.max_Y, 100);
  }
  // Just inside the 64-bit range the low 32 bits are kept.
  LASheader header;
  header.clean();
  header.x_scale_factor = 1.0;
  header.max_x = 9223372036854774784.0;  // 2^63 - 1024
  LASpointInventory inv;
  ASSERT_TRUE(inv.initFromHeader(&header));
  EXPECT_EQ(inv.max_X, -1024);
}

// A LAS 1.2 header with scale 0.01 and offsets 1000, 2000, 0.
class LASpointInventoryUpdate : public testing::Test {
 protected:
  void SetUp() override {
    header.clean();
    header.x_offset = 1000.0, header.y_offset = 2000.0;
    inv.number_of_point_records = 6;
    inv.number_of_points_by_return[1] = 3;
    inv.number_of_points_by_return[2] = 2;
    inv.number_of_points_by_return[6] = 1;
    inv.number_of_points_by_return[15] = 9;
    inv.min_X = -100, inv.max_X = 250;
    inv.min_Y = 1, inv.max_Y = 2;
    inv.min_Z = -5, inv.max_Z = 5;
  }
  LASheader header;
  LASpointInventory inv;
};

TEST_F(LASpointInventoryUpdate, WritesCountsAndBox) {
  ASSERT_TRUE(inv.updateHeader(&header));
  EXPECT_EQ(header.number_of_point_records, 6u);
  EXPECT_EQ(std::vector<uint32_t>(header.number_of_points_by_return,
                                  header.number_of_points_by_return + 5),
            (std::vector<uint32_t>{3, 2, 0, 0, 0}));
  EXPECT_EQ(header.extended_number_of_point_records, 6u);
  std::vector<uint64_t> extended(15, 0);
  extended[0] = 3, extended[1] = 2, extended[5] = 1, extended[14] = 9;
  EXPECT_EQ(std::vector<uint64_t>(header.extended_number_of_points_by_return,
                                  header.extended_number_of_points_by_return + 15),
            extended);
  EXPECT_EQ(header.max_x, 0.01 * 250 + 1000.0);
  EXPECT_EQ(header.min_x, 0.01 * -100 + 1000.0);
  EXPECT_EQ(header.max_y, 0.01 * 2 + 2000.0);
  EXPECT_EQ(header.min_z, 0.01 * -5);
  EXPECT_FALSE(inv.updateHeader(nullptr));
}

TEST_F(LASpointInventoryUpdate, TooManyPointsForLegacyFields) {
  inv.number_of_point_records = k2to32;
  ASSERT_FALSE(inv.updateHeader(&header));  // LAS 1.2: refused, nothing stored
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.extended_number_of_point_records, 0u);
  EXPECT_EQ(header.max_x, 0.0);

  header.version_minor = 4;
  ASSERT_TRUE(inv.updateHeader(&header));
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.extended_number_of_point_records, static_cast<uint64_t>(k2to32));

  LASheader h12;
  h12.clean();
  inv.number_of_point_records = k2to32 - 1;
  inv.number_of_points_by_return[3] = k2to32;
  ASSERT_FALSE(inv.updateHeader(&h12));  // stops at return 3
  EXPECT_EQ(h12.number_of_point_records, 4294967295u);
  EXPECT_EQ(
      std::vector<uint32_t>(h12.number_of_points_by_return, h12.number_of_points_by_return + 5),
      (std::vector<uint32_t>{3, 2, 0, 0, 0}));
  EXPECT_EQ(h12.max_x, 0.0);
}

// A negative scale factor turned the box around: x scale -0.01 with X from -100
// to 100 gave max_x -1 and min_x 1, and initFromHeader took max_X from max_x.
TEST(LASpointInventory, BoxWithANegativeScaleFactorOnEachAxis) {
  struct Case {
    const char* name;
    double x_scale, y_scale, z_scale;
    LASboundingBox box;
  };
  // X -100 to 250, Y -8 to 24, Z 3 to 7; offsets 0, 20, 30.
  const Case cases[] = {
      {"x, the issue's scale", -0.01, 0.5, 0.25, {1, -2.5, 32, 16, 31.75, 30.75}},
      {"y", 0.5, -0.5, 0.25, {125, -50, 24, 8, 31.75, 30.75}},
      {"z", 0.5, 0.5, -0.25, {125, -50, 32, 16, 29.25, 28.25}},
      {"every axis", -0.5, -0.5, -0.25, {50, -125, 24, 8, 29.25, 28.25}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader header;
    header.clean();
    header.x_scale_factor = c.x_scale, header.y_scale_factor = c.y_scale;
    header.z_scale_factor = c.z_scale;
    header.y_offset = 20.0, header.z_offset = 30.0;
    LASpointInventory inv;
    inv.first_point = false;
    inv.min_X = -100, inv.max_X = 250;
    inv.min_Y = -8, inv.max_Y = 24;
    inv.min_Z = 3, inv.max_Z = 7;
    ASSERT_TRUE(inv.updateHeader(&header));
    EXPECT_EQ(header.max_x, c.box.max_x);
    EXPECT_EQ(header.min_x, c.box.min_x);
    EXPECT_EQ(header.max_y, c.box.max_y);
    EXPECT_EQ(header.min_y, c.box.min_y);
    EXPECT_EQ(header.max_z, c.box.max_z);
    EXPECT_EQ(header.min_z, c.box.min_z);
    // And back: the integer box the header's came from.
    LASpointInventory back;
    ASSERT_TRUE(back.initFromHeader(&header));
    expectBox(back, {-100, 250, -8, 24, 3, 7});
  }
}

// initFromHeader rounded by the sign of v - o, which a negative scale factor
// turns against the quotient's: with scale -0.01 the real 1 became -99, not -100.
TEST(LASpointInventory, InitFromHeaderRoundsHalvesAwayFromZeroWithANegativeScale) {
  LASheader header;
  header.clean();
  header.x_scale_factor = -0.5, header.y_scale_factor = -0.01, header.z_scale_factor = -1.0;
  header.z_offset = 10.0;
  header.max_x = 1.25, header.min_x = -1.25;  // -2.5 and 2.5: halves away from zero
  header.max_y = 1.0, header.min_y = -2.5;    // -100 and 250
  header.max_z = 10.0, header.min_z = 9.5;    // 0 and 0.5
  LASpointInventory inv;
  ASSERT_TRUE(inv.initFromHeader(&header));
  expectBox(inv, {-3, 3, -100, 250, 0, 1});
}

}  // namespace
