// Item layouts of point formats 0 to 10: building, checking and recognising
// item lists, and the item's own type tests.
#include "morrowtide/compressor/las_item.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "morrowtide/compressor/quodax.h"
#include "tests/compressor/quodax_test_support.h"

namespace {

using quodax_test::errorOf;
using quodax_test::Items;
using quodax_test::quodaxError;
using quodax_test::toItems;
using quodax_test::toList;

TEST(LASitem, TypeNamesAndFixedSizes) {
  struct Case {
    uint32_t type;
    const char* name;
    uint16_t size;      // a size that matches
    uint16_t bad_size;  // a size that does not
  };
  const Case cases[] = {
      {0, "BYTE", 7, 0},    {6, "POINT10", 20, 30},      {7, "GPSTIME11", 8, 6},
      {8, "RGB12", 6, 8},   {9, "WAVEPACKET13", 29, 28}, {10, "POINT14", 30, 20},
      {11, "RGB14", 6, 8},  {12, "RGBNIR14", 8, 6},      {13, "WAVEPACKET14", 29, 30},
      {14, "BYTE14", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LASitem good{c.type, c.size, 0};
    ASSERT_NE(good.typeName(), nullptr);
    EXPECT_STREQ(good.typeName(), c.name);
    EXPECT_TRUE(good.matchesType(c.type));
    EXPECT_FALSE((LASitem{c.type, c.bad_size, 0}.matchesType(c.type)));
    EXPECT_FALSE(good.matchesType(c.type == 0 ? 14 : 0));
  }
  for (uint32_t type : {1u, 2u, 3u, 4u, 5u, 15u, 0xFFFFFFFFu, 0x80000006u}) {
    SCOPED_TRACE(type);
    const LASitem item{type, 20, 0};
    EXPECT_EQ(item.typeName(), nullptr);
    EXPECT_FALSE(item.matchesType(type));
  }
}

TEST(QuodaxSetupItems, BuildsTheListOfEveryFormat) {
  struct Case {
    uint8_t point_type;
    uint16_t point_size;
    bool compatible;
    uint16_t compressor;
    Items expected;
  };
  const Case cases[] = {
      {0, 20, false, 0, {{6, 20, 0}}},
      {1, 28, false, 0, {{6, 20, 0}, {7, 8, 0}}},
      {1, 30, false, 0, {{6, 20, 0}, {7, 8, 0}, {0, 2, 0}}},
      {2, 26, false, 0, {{6, 20, 0}, {8, 6, 0}}},
      {3, 34, false, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}}},
      {4, 57, false, 0, {{6, 20, 0}, {7, 8, 0}, {9, 29, 0}}},
      {5, 63, false, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {9, 29, 0}}},
      {5, 64, false, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {9, 29, 0}, {0, 1, 0}}},
      {6, 30, false, 0, {{10, 30, 0}}},
      {7, 36, false, 0, {{10, 30, 0}, {11, 6, 0}}},
      {8, 38, false, 0, {{10, 30, 0}, {12, 8, 0}}},
      {9, 59, false, 0, {{10, 30, 0}, {13, 29, 0}}},
      {10, 67, false, 0, {{10, 30, 0}, {12, 8, 0}, {13, 29, 0}}},
      {10, 70, false, 0, {{10, 30, 0}, {12, 8, 0}, {13, 29, 0}, {14, 3, 0}}},
      // Compatibility mode: legacy items, the LAS 1.4 extras in a BYTE item.
      {6, 30, true, 0, {{6, 20, 0}, {7, 8, 0}, {0, 5, 0}}},
      {7, 37, true, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {0, 6, 0}}},
      {8, 38, true, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {0, 7, 0}}},
      {9, 59, true, 0, {{6, 20, 0}, {7, 8, 0}, {9, 29, 0}, {0, 5, 0}}},
      {10, 67, true, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {9, 29, 0}, {0, 7, 0}}},
      {3, 34, true, 0, {{6, 20, 0}, {7, 8, 0}, {8, 6, 0}}},
      // A compressor other than 0 gives the versions of a version-2 request.
      {5, 65, false, 2, {{6, 20, 2}, {7, 8, 2}, {8, 6, 2}, {9, 29, 1}, {0, 2, 2}}},
      {10, 70, false, 3, {{10, 30, 3}, {12, 8, 3}, {13, 29, 3}, {14, 3, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << int(c.point_type) << " size " << c.point_size
                                    << (c.compatible ? " compatible" : ""));
    Quodax d;
    ASSERT_TRUE(d.requestCompatibilityMode(c.compatible ? 1 : 0));
    uint16_t num = 0;
    LASitem* list = nullptr;
    ASSERT_TRUE(d.setupItems(num, list, c.point_type, c.point_size, c.compressor));
    EXPECT_EQ(toItems(num, list), c.expected);
    EXPECT_EQ(d.errorText(), nullptr);
    // The descriptor's own list is not the one built.
    EXPECT_EQ(d.num_items, 0);
    EXPECT_EQ(d.items, nullptr);
    if (!c.compatible) {
      // Every standard list is recognised again as its own format and size.
      uint8_t point_type = 0;
      uint16_t record_length = 0;
      EXPECT_TRUE(d.matchPointType(num, list, &point_type, &record_length)) << errorOf(d);
      EXPECT_EQ(point_type, c.point_type);
      EXPECT_EQ(record_length, c.point_size);
    }
    delete[] list;
  }
}

TEST(QuodaxSetupItems, ShortPointSizeWarnsAndUsesTheBaseLayout) {
  Quodax d;
  uint16_t num = 0;
  LASitem* list = nullptr;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(d.setupItems(num, list, 1, 25, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: point size 25 too small by 3 bytes for point type 1. assuming point_size "
            "of 28\n");
  EXPECT_EQ(toItems(num, list), (Items{{6, 20, 0}, {7, 8, 0}}));
  EXPECT_EQ(d.errorText(), nullptr);
  delete[] list;
}

TEST(QuodaxSetupItems, UnknownPointTypeFailsAndLeavesTheReferences) {
  Quodax d;
  LASitem kept[1] = {{6, 20, 0}};
  uint16_t num = 1;
  LASitem* list = kept;
  EXPECT_FALSE(d.setupItems(num, list, 11, 20, 0));
  EXPECT_EQ(errorOf(d), quodaxError("point type 11 unknown"));
  EXPECT_EQ(num, 1);
  EXPECT_EQ(list, kept);
}

TEST(QuodaxValidateItem, ReportsTheFirstBrokenRule) {
  struct Case {
    LASitem item;
    const char* error;  // null: valid
  };
  const Case cases[] = {
      {{0, 0, 0}, "BYTE has size < 1"},
      {{0, 0, 9}, "BYTE has size < 1"},  // size is checked before version
      {{14, 0, 1}, "BYTE14 has size < 1"},
      {{6, 21, 0}, "POINT10 has size != 20"},
      {{7, 4, 0}, "GPSTIME11 has size != 8"},
      {{8, 8, 0}, "RGB12 has size != 6"},
      {{9, 30, 0}, "WAVEPACKET13 has size != 29"},
      {{10, 20, 0}, "POINT14 has size != 30"},
      {{11, 8, 0}, "RGB14 has size != 6"},
      {{12, 6, 0}, "RGBNIR14 has size != 8"},
      {{13, 28, 0}, "WAVEPACKET14 has size != 29"},
      {{0, 3, 3}, "BYTE has version > 2"},
      {{6, 20, 3}, "POINT10 has version > 2"},
      {{7, 8, 3}, "GPSTIME11 has version > 2"},
      {{8, 6, 3}, "RGB12 has version > 2"},
      {{9, 29, 2}, "WAVEPACKET13 has version > 1"},
      {{10, 30, 1}, "POINT14 has version != 0 and != 2 and != 3 and != 4"},
      {{11, 6, 5}, "RGB14 has version != 0 and != 2 and != 3 and != 4"},
      {{12, 8, 1}, "RGBNIR14 has version != 0 and != 2 and != 3 and != 4"},
      {{14, 1, 1}, "BYTE14 has version != 0 and != 2 and != 3 and != 4"},
      {{13, 29, 2}, "WAVEPACKET14 has version != 0 and != 3 and != 4"},
      {{3, 4, 5}, "item unknown (3,4,5)"},
      {{15, 1, 0}, "item unknown (15,1,0)"},
      {{0xFFFFFFFF, 1, 0}, "item unknown (-1,1,0)"},
      {{0, 65535, 2}, nullptr},
      {{6, 20, 2}, nullptr},
      {{9, 29, 1}, nullptr},
      {{10, 30, 4}, nullptr},
      {{12, 8, 2}, nullptr},
      {{13, 29, 3}, nullptr},
      {{14, 1, 4}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.item.type << "," << c.item.size << "," << c.item.version);
    Quodax d;
    EXPECT_EQ(d.validateItem(&c.item), c.error == nullptr);
    EXPECT_EQ(errorOf(d), c.error ? quodaxError(c.error) : "(none)");
  }
  Quodax d;
  EXPECT_FALSE(d.validateItem(nullptr));
  EXPECT_EQ(errorOf(d), quodaxError("items pointer cannot be NULL"));
}

TEST(QuodaxValidateItems, ChecksCountPointerItemsAndTotalSize) {
  struct Case {
    Items items;
    uint16_t point_size;
    const char* error;
  };
  const Case cases[] = {
      {{{6, 20, 0}, {7, 8, 0}}, 28, nullptr},
      {{{6, 20, 0}, {7, 8, 0}}, 0, nullptr},
      {{{6, 20, 0}, {7, 8, 0}}, 30, "point has size of 30 but items only add up to 28 bytes"},
      {{{6, 20, 0}, {8, 8, 0}, {9, 29, 5}}, 0, "RGB12 has size != 6"},
      // Sizes add up in 16 bits.
      {{{0, 65535, 0}, {6, 20, 0}}, 19, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error ? c.error : "valid");
    Quodax d;
    const std::vector<LASitem> list = toList(c.items);
    EXPECT_EQ(d.validateItems(static_cast<uint16_t>(list.size()), list.data(), c.point_size),
              c.error == nullptr);
    EXPECT_EQ(errorOf(d), c.error ? quodaxError(c.error) : "(none)");
  }

  Quodax d;
  const LASitem one[1] = {{6, 20, 0}};
  EXPECT_FALSE(d.validateItems(0, one, 0));
  EXPECT_EQ(errorOf(d), quodaxError("number of items cannot be zero"));
  EXPECT_FALSE(d.validateItems(1, nullptr, 0));
  EXPECT_EQ(errorOf(d), quodaxError("items pointer cannot be NULL"));
}

TEST(QuodaxMatchPointType, RecognisesOnlyTheStandardPatterns) {
  const char* const kNoMatch = "LASitem array does not match LAS specification 1.4";
  struct Case {
    Items items;
    uint8_t point_type;  // 127: no match
    const char* error;
  };
  const Case cases[] = {
      {{{6, 20, 5}}, 0, nullptr},  // versions are not looked at
      {{{6, 20, 0}, {0, 2, 0}}, 0, nullptr},
      {{{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {9, 29, 0}, {0, 9, 0}}, 5, nullptr},
      {{{10, 30, 0}, {0, 2, 0}}, 6, nullptr},
      {{{10, 30, 0}, {14, 2, 0}}, 6, nullptr},
      {{{10, 30, 0}, {9, 29, 0}}, 9, nullptr},
      {{{10, 30, 0}, {13, 29, 0}}, 9, nullptr},
      {{{10, 30, 0}, {12, 8, 0}, {9, 29, 0}}, 10, nullptr},
      {{{6, 20, 0}, {14, 2, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {0, 0, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {0, 1, 0}, {0, 1, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {0, 1, 0}, {7, 8, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {11, 6, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {13, 29, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {8, 6, 0}, {9, 29, 0}}, 127, kNoMatch},
      {{{6, 20, 0}, {7, 9, 0}}, 127, kNoMatch},
      {{{10, 30, 0}, {8, 6, 0}}, 127, kNoMatch},
      {{{10, 30, 0}, {7, 8, 0}}, 127, kNoMatch},
      {{{10, 30, 0}, {11, 6, 0}, {13, 29, 0}}, 127, kNoMatch},
      {{{7, 8, 0}}, 127, "first LASitem is neither POINT10 nor POINT14"},
      {{{6, 30, 0}}, 127, "first LASitem is neither POINT10 nor POINT14"},
      {{{6, 20, 0}, {7, 8, 0}, {8, 6, 0}, {9, 29, 0}, {0, 1, 0}, {0, 1, 0}},
       127,
       "more than five LASitem entries"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case for type " << int(c.point_type) << " with "
                                    << c.items.size() << " items");
    Quodax d;
    const std::vector<LASitem> list = toList(c.items);
    uint16_t sum = 0;
    for (const LASitem& item : list) sum = static_cast<uint16_t>(sum + item.size);
    uint8_t point_type = 0;
    uint16_t record_length = 0;
    EXPECT_EQ(d.matchPointType(static_cast<uint16_t>(list.size()), list.data(), &point_type,
                               &record_length),
              c.error == nullptr);
    EXPECT_EQ(point_type, c.point_type);
    EXPECT_EQ(record_length, sum);
    EXPECT_EQ(errorOf(d), c.error ? quodaxError(c.error) : "(none)");
  }
}

TEST(QuodaxMatchPointType, NullArrayAndOptionalOutputs) {
  Quodax d;
  uint8_t point_type = 42;
  uint16_t record_length = 42;
  EXPECT_FALSE(d.matchPointType(1, nullptr, &point_type, &record_length));
  EXPECT_EQ(errorOf(d), quodaxError("LASitem array is zero"));
  EXPECT_EQ(point_type, 42);
  EXPECT_EQ(record_length, 42);

  const LASitem none[1] = {{6, 20, 0}};
  EXPECT_FALSE(d.matchPointType(0, none, &point_type, &record_length));
  EXPECT_EQ(errorOf(d), quodaxError("less than one LASitem entries"));
  EXPECT_EQ(point_type, 127);
  EXPECT_EQ(record_length, 0);

  const LASitem list[2] = {{6, 20, 0}, {7, 8, 0}};
  EXPECT_TRUE(d.matchPointType(2, list, nullptr, nullptr));
  EXPECT_TRUE(d.matchPointType(2, list, &point_type, nullptr));
  EXPECT_EQ(point_type, 1);
}

TEST(QuodaxMatchPointType, OwnListForm) {
  Quodax d;
  ASSERT_TRUE(d.setup(3, 36, 2));
  uint8_t point_type = 0;
  uint16_t record_length = 0;
  EXPECT_TRUE(d.matchPointType(point_type, record_length));
  EXPECT_EQ(point_type, 3);
  EXPECT_EQ(record_length, 36);
}

}  // namespace
