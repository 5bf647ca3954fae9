#include "morrowtide/las/las_writer.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

// The smallest writer: counts points, closes as every writer does.
class CountingWriter final : public LASwriter {
 public:
  explicit CountingWriter(bool* destroyed) : destroyed(destroyed) {}
  ~CountingWriter() override { *destroyed = true; }
  bool writePoint(const LASpointRecord*) override { return ++points_written > 0; }
  bool chunk() override { return false; }
  bool updateHeader(const LASheader*, bool, bool) override { return true; }
  int64_t close(bool) override {
    expected_points = points_written;
    points_written = 0;
    return 0;
  }

 private:
  bool* destroyed;
};

TEST(LASwriter, StartsWithDefaultScalesAndNoPoints) {
  bool destroyed = false;
  CountingWriter w(&destroyed);
  EXPECT_EQ(w.scale_offset.x_scale_factor, 0.01);
  EXPECT_EQ(w.scale_offset.y_scale_factor, 0.01);
  EXPECT_EQ(w.scale_offset.z_scale_factor, 0.01);
  EXPECT_EQ(w.scale_offset.x_offset, 0.0);
  EXPECT_EQ(w.scale_offset.y_offset, 0.0);
  EXPECT_EQ(w.scale_offset.z_offset, 0.0);
  EXPECT_EQ(w.expected_points, 0);
  EXPECT_EQ(w.points_written, 0);
  EXPECT_TRUE(w.inventory.first_point);
  static_assert(!std::is_copy_constructible<LASwriter>::value, "no copies");
}

TEST(LASwriter, UpdateInventoryCountsOnlyWhatIsPassedAndDeleteReachesTheWriter) {
  bool destroyed = false;
  LASwriter* w = new CountingWriter(&destroyed);
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(nullptr, 0, 20, nullptr));
  p.setX(-4);
  w->writePoint(&p);
  w->writePoint(&p);
  EXPECT_TRUE(w->updateInventory(&p));
  EXPECT_EQ(w->inventory.number_of_point_records, 1);  // writePoint does not count
  EXPECT_EQ(w->inventory.min_X, -4);
  EXPECT_EQ(w->close(true), 0);
  EXPECT_EQ(w->expected_points, 2);
  delete w;
  EXPECT_TRUE(destroyed);
}

}  // namespace
