#include "morrowtide/las/las_point_summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using morrowtide::attributeValueWidth;
using morrowtide::readAttributeValue;

namespace {

// A descriptor of `data_type` with options, scale and offset.
LASextraAttribute descriptor(uint8_t data_type, uint8_t options = 0, double scale = 1.0,
                             double offset = 0.0) {
  LASextraAttribute d;
  std::memset(&d, 0, sizeof(d));
  d.data_type = data_type;
  d.options = options;
  d.scale[0] = scale;
  d.offset[0] = offset;
  return d;
}

// The bytes storeValue writes into an 8-byte buffer filled with 0xAA.
std::vector<uint8_t> stored(const LASextraAttribute& d, double value) {
  std::vector<uint8_t> bytes(8, 0xAA);
  d.storeValue(value, bytes.data());
  return bytes;
}

TEST(LASextraAttributeStoreValue, RoundsRemovesScaleAndOffsetAndWritesTheTypeWidth) {
  struct Case {
    uint8_t data_type, options;
    double scale, offset, value;
    std::vector<uint8_t> bytes;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {3, 0x08, 0.01, 0.0, 1.234, {123, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},  // U16
      {3, 0x08, 0.01, 0.0, -1.0, {0, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {4, 0, 1.0, 0.0, -2.5, {0xFD, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},  // I16
      {1, 0, 1.0, 0.0, 2.5, {3, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},      // U8
      {2, 0, 1.0, 0.0, -2.4, {0xFE, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},  // I8
      {5, 0x18, 0.5, 100.0, 101.0, {2, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}},        // U32
      {5, 0x10, 0.5, 100.0, 101.0, {1, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}},        // offset only
      {6, 0, 1.0, 0.0, -7.5, {0xF8, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA}},  // I32
      {7, 0, 1.0, 0.0, 4294967296.0, {0, 0, 0, 0, 1, 0, 0, 0}},                  // U64
      {8, 0, 1.0, 0.0, -1.0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},  // I64
      {9, 0, 1.0, 0.0, 1.5, {0, 0, 0xC0, 0x3F, 0xAA, 0xAA, 0xAA, 0xAA}},         // F32
      {10, 0, 1.0, 0.0, 1.5, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},                    // F64
      {13, 0, 1.0, 0.0, 258.0, {2, 1, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},      // first U16 of 2
      {0, 0, 1.0, 0.0, 5.0, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},   // no type
      {4, 0, 1.0, 0.0, nan, {0, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "data type " << int(c.data_type) << " value " << c.value);
    EXPECT_EQ(stored(descriptor(c.data_type, c.options, c.scale, c.offset), c.value), c.bytes);
  }
}

TEST(LASextraAttributeStoreValue, IntegersSaturateAtTheirOwnTypesRange) {
  // Values outside a type's range were converted through a 32-bit integer and
  // cut to its low bits (300 stored as U8 gave 44), or overflowed the
  // conversion itself for the 32- and 64-bit types.
  struct Case {
    uint8_t data_type;
    double value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {1, 300.0, {0xFF, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {2, -200.0, {0x80, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {2, 128.0, {0x7F, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {3, 70000.0, {0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {4, 40000.0, {0xFF, 0x7F, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {4, -40000.0, {0x00, 0x80, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
      {5, 5e9, {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xAA, 0xAA, 0xAA}},
      {6, -3e9, {0x00, 0x00, 0x00, 0x80, 0xAA, 0xAA, 0xAA, 0xAA}},
      {6, 2147483647.4, {0xFF, 0xFF, 0xFF, 0x7F, 0xAA, 0xAA, 0xAA, 0xAA}},
      {7, 1e20, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {7, -1e20, {0, 0, 0, 0, 0, 0, 0, 0}},
      {8, 1e19, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {8, -1e19, {0, 0, 0, 0, 0, 0, 0, 0x80}},
      {8, INFINITY, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "data type " << int(c.data_type) << " value " << c.value);
    EXPECT_EQ(stored(descriptor(c.data_type), c.value), c.bytes);
  }
}

TEST(AttributeValue, ReadsTheFirstElementByTypeThenScalesAndOffsets) {
  const uint8_t bytes[8] = {0xF6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(readAttributeValue(descriptor(1), bytes), 246.0);
  EXPECT_EQ(readAttributeValue(descriptor(2), bytes), -10.0);
  EXPECT_EQ(readAttributeValue(descriptor(3), bytes), 65526.0);
  EXPECT_EQ(readAttributeValue(descriptor(24), bytes), -10.0);  // a triple of I16
  EXPECT_EQ(readAttributeValue(descriptor(8), bytes), -10.0);
  EXPECT_EQ(readAttributeValue(descriptor(2, 0x08, 0.5), bytes), -5.0);
  EXPECT_EQ(readAttributeValue(descriptor(2, 0x18, 0.5, 100.0), bytes), 95.0);
  EXPECT_EQ(readAttributeValue(descriptor(2, 0x10, 0.5, 100.0), bytes), 90.0);
  struct Width {
    uint8_t data_type;
    uint32_t width;
  };
  for (const Width w : {Width{0, 8}, Width{1, 1}, Width{4, 2}, Width{6, 4}, Width{8, 8},
                        Width{9, 4}, Width{10, 8}, Width{11, 1}, Width{30, 8}}) {
    EXPECT_EQ(attributeValueWidth(descriptor(w.data_type)), w.width) << int(w.data_type);
  }
}

// A point layout with a few extra bytes described by caller-set attributes,
// plus helpers to add legacy (format 1) and LAS 1.4 (format 6) points.
class LASpointSummaryAdd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(legacy.initFromFormat(nullptr, 1, 28, nullptr));
    ASSERT_TRUE(las14.initFromFormat(nullptr, 6, 30, nullptr));
  }
  // Describes `n` attributes at the given offsets in extra bytes of the point.
  void describe(std::vector<LASextraAttribute> d, std::vector<int32_t> offsets) {
    descriptors = std::move(d);
    attribute_offsets = std::move(offsets);
    attributes.attribute_count = static_cast<int32_t>(descriptors.size());
    attributes.attribute_descriptors = descriptors.data();
    attributes.attribute_offsets = attribute_offsets.data();
  }
  // Lays `p` out as format 1 with `extra` extra bytes holding `bytes`.
  void withExtraBytes(LASpointRecord& p, uint16_t extra, std::vector<uint8_t> bytes) {
    ASSERT_TRUE(p.initFromFormat(nullptr, 1, static_cast<uint16_t>(28 + extra), &attributes));
    ASSERT_EQ(p.extra_bytes_size, extra);
    std::memcpy(p.extra_bytes, bytes.data(), bytes.size());
  }

  LASpointRecord legacy, las14;
  LASpointSummary summary;
  std::vector<LASextraAttribute> descriptors;
  std::vector<int32_t> attribute_offsets;
  LASextraAttributes attributes;
};

TEST_F(LASpointSummaryAdd, LowDigitsOfTheFirstPointAndTheirMatches) {
  legacy.setX(1234567), legacy.setY(-7654), legacy.setZ(42);
  EXPECT_TRUE(summary.add(&legacy));
  const int16_t expected[4][3] = {{7, -4, 2}, {67, -54, 42}, {567, -654, 42}, {4567, -7654, 42}};
  for (int m = 0; m < 4; m++) {
    for (int c = 0; c < 3; c++) {
      EXPECT_EQ(summary.low_digits[m][c], expected[m][c]) << m << " " << c;
      EXPECT_EQ(summary.low_digit_matches[m][c], 1) << m << " " << c;
    }
  }
  // Remainder 7 by 10 matches, 17 by 100 does not: the rest of X stays.
  legacy.setX(1234517);
  summary.add(&legacy);
  const int64_t matches[4][3] = {{2, 2, 2}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}};
  for (int m = 0; m < 4; m++) {
    for (int c = 0; c < 3; c++) EXPECT_EQ(summary.low_digit_matches[m][c], matches[m][c]);
  }
  EXPECT_FALSE(summary.first);
  EXPECT_EQ(summary.number_of_point_records, 2);
}

TEST_F(LASpointSummaryAdd, CountsLegacyReturnsClassesAndFlags) {
  for (uint8_t r : {1, 2, 2}) {
    legacy.setReturnNumber(r);
    legacy.setNumberOfReturns(3);
    summary.add(&legacy);
  }
  legacy.setClassification(0);
  legacy.setSyntheticFlag(1);
  legacy.setWithheldFlag(1);
  legacy.setExtendedClassification(77);      // ignored for a legacy point
  legacy.setExtendedClassificationFlags(8);  // overlap: only for LAS 1.4 points
  summary.add(&legacy);
  EXPECT_EQ(summary.points_by_return[1], 1);
  EXPECT_EQ(summary.points_by_return[2], 3);
  EXPECT_EQ(summary.points_by_number_of_returns[3], 4);
  EXPECT_EQ(summary.points_by_classification[0], 4);
  EXPECT_EQ(summary.synthetic_points, 1);
  EXPECT_EQ(summary.synthetic_by_classification[0], 1);
  EXPECT_EQ(summary.withheld_by_classification[0], 1);
  EXPECT_EQ(summary.keypoint_points, 0);
  EXPECT_EQ(summary.overlap_points, 0);
  EXPECT_EQ(summary.points_by_extended_classification[77], 0);
}

TEST_F(LASpointSummaryAdd, LAS14PointsCountByTheOneClassAndReturnsRule) {
  // A LAS 1.4 point whose 5-bit classification was left 0 was counted as class
  // 0, even with an extended classification of 5.
  las14.setClassification(0);
  las14.setExtendedClassification(5);
  las14.setExtendedReturnNumber(9);
  las14.setExtendedNumberOfReturns(12);
  las14.setReturnNumber(1);
  las14.setKeypointFlag(1);
  summary.add(&las14);
  EXPECT_EQ(summary.points_by_classification[5], 1);
  EXPECT_EQ(summary.points_by_classification[0], 0);
  EXPECT_EQ(summary.keypoint_by_classification[5], 1);
  EXPECT_EQ(summary.points_by_return[9], 1);
  EXPECT_EQ(summary.points_by_number_of_returns[12], 1);

  las14.setExtendedClassification(40);
  las14.setExtendedClassificationFlags(8);  // overlap
  summary.add(&las14);
  EXPECT_EQ(summary.points_by_extended_classification[40], 1);
  EXPECT_EQ(summary.overlap_points, 1);
  EXPECT_EQ(summary.overlap_by_classification[40], 1);
  EXPECT_EQ(summary.keypoint_by_classification[40], 1);

  // A non-zero 5-bit classification is the class.
  las14.setClassification(3);
  summary.add(&las14);
  EXPECT_EQ(summary.points_by_classification[3], 1);
  EXPECT_EQ(summary.overlap_by_classification[3], 1);
}

TEST_F(LASpointSummaryAdd, ExtremePointsTakeEachFieldOnItsOwn) {
  legacy.setScanAngleRank(0);
  legacy.setReturnNumber(3);
  legacy.setNumberOfReturns(5);
  legacy.setGpsTime(100.0);
  legacy.setIntensity(500);
  summary.add(&legacy);
  legacy.setScanAngleRank(10);
  legacy.setReturnNumber(1);
  summary.add(&legacy);
  legacy.setScanAngleRank(-10);
  legacy.setReturnNumber(7);
  legacy.setIntensity(501);
  legacy.setGpsTime(std::nan(""));  // a NaN changes nothing
  summary.add(&legacy);
  EXPECT_EQ(summary.min_point.getScanAngleRank(), -10);
  EXPECT_EQ(summary.max_point.getScanAngleRank(), 10);
  EXPECT_EQ(summary.min_point.getReturnNumber(), 1);
  EXPECT_EQ(summary.max_point.getReturnNumber(), 7);
  // Only the return number's bits of the shared byte changed.
  EXPECT_EQ(summary.min_point.getNumberOfReturns(), 5);
  EXPECT_EQ(summary.max_point.getNumberOfReturns(), 5);
  EXPECT_EQ(summary.min_point.getIntensity(), 500);
  EXPECT_EQ(summary.max_point.getIntensity(), 501);
  EXPECT_EQ(summary.min_point.getGpsTime(), 100.0);
  EXPECT_EQ(summary.max_point.getGpsTime(), 100.0);

  // A point without GPS time leaves the extreme GPS times alone.
  LASpointRecord no_time;
  ASSERT_TRUE(no_time.initFromFormat(nullptr, 0, 20, nullptr));
  no_time.setGpsTime(-5.0);
  summary.add(&no_time);
  EXPECT_EQ(summary.min_point.getGpsTime(), 100.0);
}

TEST_F(LASpointSummaryAdd, LAS14FieldsAndWavePacketsAreCompared) {
  las14.setExtendedScanAngle(100);
  las14.setScannerChannel(2);
  summary.add(&las14);
  las14.setExtendedScanAngle(-200);
  las14.setScannerChannel(3);
  summary.add(&las14);
  EXPECT_EQ(summary.min_point.getExtendedScanAngle(), -200);
  EXPECT_EQ(summary.max_point.getExtendedScanAngle(), 100);
  EXPECT_EQ(summary.min_point.getScannerChannel(), 2);
  EXPECT_EQ(summary.max_point.getScannerChannel(), 3);

  LASpointSummary waves;
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(nullptr, 4, 57, nullptr));
  p.wavepacket.setOffset(1000);
  p.wavepacket.setLocation(2.5f);
  waves.add(&p);
  p.wavepacket.setOffset(10);
  p.wavepacket.setLocation(7.5f);
  waves.add(&p);
  EXPECT_EQ(waves.min_point.wavepacket.getOffset(), 10u);
  EXPECT_EQ(waves.max_point.wavepacket.getOffset(), 1000u);
  EXPECT_EQ(waves.min_point.wavepacket.getLocation(), 2.5f);
  EXPECT_EQ(waves.max_point.wavepacket.getLocation(), 7.5f);
}

TEST_F(LASpointSummaryAdd, AttributesKeepTheirSmallestAndLargestValues) {
  // Attribute 0: I8 at byte 0; attribute 1: U16 scaled by 0.5 at byte 1.
  describe({descriptor(2), descriptor(3, 0x08, 0.5)}, {0, 1});
  LASpointRecord p;
  withExtraBytes(p, 3, {5, 10, 0});  // 5 and 5.0
  summary.add(&p);
  p.extra_bytes[0] = 0xF6;  // -10
  p.extra_bytes[1] = 20;    // 10.0
  summary.add(&p);
  EXPECT_EQ(summary.min_point.extra_bytes_size, 3);
  EXPECT_EQ(std::vector<uint8_t>(summary.min_point.extra_bytes, summary.min_point.extra_bytes + 3),
            (std::vector<uint8_t>{0xF6, 10, 0}));
  EXPECT_EQ(std::vector<uint8_t>(summary.max_point.extra_bytes, summary.max_point.extra_bytes + 3),
            (std::vector<uint8_t>{5, 20, 0}));
}

TEST_F(LASpointSummaryAdd, AttributesOutsideTheFirstPointsExtraBytesAreNotTouched) {
  // The extreme points' buffers have the first point's size; a later point with
  // more extra bytes had its attribute compared and stored past their end.
  describe({descriptor(1), descriptor(5)}, {0, 2});  // U8 at 0, U32 at 2 to 5
  LASpointRecord small, large;
  withExtraBytes(small, 2, {7, 0});
  withExtraBytes(large, 6, {9, 0, 1, 2, 3, 4});
  summary.add(&small);
  summary.add(&large);  // its U8 still counts
  EXPECT_EQ(summary.max_point.extra_bytes[0], 9);
  EXPECT_EQ(summary.min_point.extra_bytes[0], 7);
  EXPECT_EQ(summary.number_of_point_records, 2);
}

TEST_F(LASpointSummaryAdd, AttributesWithoutAValueTypeAreSkipped) {
  // Data type 0 has no value: its bytes were read as an F64 and overwritten.
  describe({descriptor(0)}, {0});
  LASpointRecord p;
  withExtraBytes(p, 8, {1, 2, 3, 4, 5, 6, 7, 8});
  summary.add(&p);
  std::memset(p.extra_bytes, 0, 8);
  p.extra_bytes[7] = 0x80;  // -0.0, below the first point's bytes read as an F64
  summary.add(&p);
  EXPECT_EQ(std::vector<uint8_t>(summary.min_point.extra_bytes, summary.min_point.extra_bytes + 8),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(std::vector<uint8_t>(summary.max_point.extra_bytes, summary.max_point.extra_bytes + 8),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
