#include "morrowtide/las/las_point_record.h"

#include <gtest/gtest.h>

#include <new>
#include <type_traits>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// The 77 bytes of the fixed prefix.
std::vector<uint8_t> prefix(const LASpointRecord& p) {
  const uint8_t* b = p.fixed_bytes;
  return std::vector<uint8_t>(b, b + 77);
}

// Byte offset of item i's pointer from the start of the point; -1 for a pointer
// into the extra-bytes buffer, -2 for null.
int offsetOf(const LASpointRecord& p, int i) {
  const uint8_t* ptr = p.item_pointers[i];
  if (ptr == nullptr) return -2;
  if (ptr == p.extra_bytes) return -1;
  return static_cast<int>(ptr - reinterpret_cast<const uint8_t*>(&p));
}

std::vector<uint8_t> resetPrefix() {
  std::vector<uint8_t> v(77, 0);
  v[14] = 0x09;
  v[24] = 0x11;
  return v;
}

TEST(LASpointRecord, StartsAtTheResetValuesWithEveryPrefixByteDefined) {
  // The unused bytes 26-31 were left as the memory held them, so the same point
  // could give different bytes; placement into 0xFF-filled storage shows it.
  alignas(LASpointRecord) unsigned char storage[sizeof(LASpointRecord)];
  std::memset(storage, 0xFF, sizeof(storage));
  LASpointRecord* p = new (storage) LASpointRecord();
  EXPECT_EQ(prefix(*p), resetPrefix());
  EXPECT_EQ(p->item_pointers, nullptr);
  EXPECT_EQ(p->items, nullptr);
  EXPECT_EQ(p->extra_bytes, nullptr);
  EXPECT_EQ(p->scale_offset, nullptr);
  EXPECT_EQ(p->num_items, 0);
  EXPECT_EQ(p->record_size, 0u);
  EXPECT_EQ(p->has_gps_time | p->has_rgb | p->has_nir | p->has_wavepacket, 0);
  p->~LASpointRecord();
}

TEST(LASpointRecord, FieldsSitAtTheirBytePlaces) {
  LASpointRecord p;
  p.setX(0x04030201);
  p.setY(-2);
  p.setZ(0x0C0B0A09);
  p.setIntensity(0x0E0D);
  p.setReturnNumber(5);
  p.setNumberOfReturns(6);
  p.setScanDirectionFlag(1);
  p.setEdgeOfFlightLine(0);
  p.setClassification(0x13);
  p.setSyntheticFlag(1);
  p.setKeypointFlag(0);
  p.setWithheldFlag(1);
  p.setScanAngleRank(-90);
  p.setUserData(0x77);
  p.setPointSourceID(0x1234);
  p.setExtendedScanAngle(-15000);
  p.setExtendedPointType(1);
  p.setScannerChannel(3);
  p.setExtendedClassificationFlags(0xA);
  p.setExtendedClassification(200);
  p.setExtendedReturnNumber(12);
  p.setExtendedNumberOfReturns(15);
  p.setSpareByte(0x55);
  p.setGpsTime(1.0);
  p.setRgb(0, 0x0201);
  p.setRgb(1, 0x0403);
  p.setRgb(2, 0x0605);
  p.setRgb(3, 0x0807);
  p.wavepacket.setIndex(1);
  p.wavepacket.setOffset(0x0102030405060708ull);
  p.wavepacket.setSize(0xA0B0C0D0);
  p.wavepacket.setLocation(1.0f);
  p.wavepacket.setXt(2.0f);
  p.wavepacket.setYt(-2.0f);
  p.wavepacket.setZt(0.5f);
  const std::vector<uint8_t> expected = {
      0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF, 0xFF, 0xFF, 0x09, 0x0A, 0x0B, 0x0C,  // X Y Z
      0x0D, 0x0E,                                                              // intensity
      0x75,                                            // return 5, of 6, scan direction 1, edge 0
      0xB3,                                            // class 19, synthetic, withheld
      0xA6, 0x77,                                      // scan angle -90, user data
      0x34, 0x12,                                      // point source
      0x68, 0xC5,                                      // extended scan angle -15000
      0xAD,                                            // type 1, channel 3, flags 0xA
      0xC8,                                            // extended classification 200
      0xFC,                                            // extended return 12 of 15
      0x55,                                            // spare byte
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // unused
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // gps time 1.0
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // rgb, nir
      0x01,                                            // wave packet index
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // offset
      0xD0, 0xC0, 0xB0, 0xA0,                          // size
      0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,  // location, x_t
      0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x3F,  // y_t, z_t
  };
  EXPECT_EQ(prefix(p), expected);

  EXPECT_EQ(p.getY(), -2);
  EXPECT_EQ(p.getReturnNumber(), 5);
  EXPECT_EQ(p.getNumberOfReturns(), 6);
  EXPECT_EQ(p.getScanDirectionFlag(), 1);
  EXPECT_EQ(p.getClassification(), 0x13);
  EXPECT_EQ(p.getWithheldFlag(), 1);
  EXPECT_EQ(p.getScanAngleRank(), -90);
  EXPECT_EQ(p.getExtendedScanAngle(), -15000);
  EXPECT_EQ(p.getScannerChannel(), 3);
  EXPECT_EQ(p.getExtendedClassificationFlags(), 0xA);
  EXPECT_EQ(p.getExtendedReturnNumber(), 12);
  EXPECT_EQ(p.getExtendedNumberOfReturns(), 15);
  EXPECT_EQ(p.getRgb(3), 0x0807);
  EXPECT_EQ(p.wavepacket.getOffset(), 0x0102030405060708ull);
  EXPECT_EQ(p.wavepacket.getZt(), 0.5f);

  // A setter changes only its own bits and takes the low bits of its value.
  p.setNumberOfReturns(0xF9);  // low 3 bits: 1
  EXPECT_EQ(p.fixed_bytes[14], 0x4D);
  p.setExtendedPointType(0);
  EXPECT_EQ(p.fixed_bytes[22], 0xAC);
}

TEST(LASpointRecord, InitFromFormatLaysOutEveryFormat) {
  struct Case {
    uint8_t format;
    uint16_t size;
    std::vector<uint32_t> types;
    std::vector<int> offsets;  // -1: the extra-bytes buffer
    uint8_t gps, rgb, nir, wave, extended;
  };
  const Case cases[] = {
      {0, 20, {6}, {0}, 0, 0, 0, 0, 0},
      {1, 28, {6, 7}, {0, 32}, 1, 0, 0, 0, 0},
      {2, 26, {6, 8}, {0, 40}, 0, 1, 0, 0, 0},
      {3, 34, {6, 7, 8}, {0, 32, 40}, 1, 1, 0, 0, 0},
      {4, 57, {6, 7, 9}, {0, 32, 48}, 1, 0, 0, 1, 0},
      {5, 66, {6, 7, 8, 9, 0}, {0, 32, 40, 48, -1}, 1, 1, 0, 1, 0},
      {6, 30, {10}, {0}, 1, 0, 0, 0, 1},
      {7, 36, {10, 11}, {0, 40}, 1, 1, 0, 0, 1},
      {8, 40, {10, 12, 14}, {0, 40, -1}, 1, 1, 1, 0, 1},
      {9, 59, {10, 13}, {0, 48}, 1, 0, 0, 1, 1},
      {10, 67, {10, 12, 13}, {0, 40, 48}, 1, 1, 1, 1, 1},
  };
  LASscaleOffset so;
  LASextraAttributes attributes;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    LASpointRecord p;
    p.setX(5);
    ASSERT_TRUE(p.initFromFormat(&so, c.format, c.size, &attributes));
    std::vector<uint8_t> expected = resetPrefix();  // X reset too
    expected[22] = c.extended;
    EXPECT_EQ(prefix(p), expected);
    ASSERT_EQ(p.num_items, c.types.size());
    for (size_t i = 0; i < c.types.size(); i++) {
      EXPECT_EQ(p.items[i].type, c.types[i]);
      EXPECT_EQ(offsetOf(p, static_cast<int>(i)), c.offsets[i]);
    }
    EXPECT_EQ(p.record_size, c.size);
    EXPECT_EQ(p.has_gps_time, c.gps);
    EXPECT_EQ(p.has_rgb, c.rgb);
    EXPECT_EQ(p.has_nir, c.nir);
    EXPECT_EQ(p.has_wavepacket, c.wave);
    EXPECT_EQ(p.getExtendedPointType(), c.extended);
    EXPECT_EQ(p.scale_offset, &so);
    EXPECT_EQ(p.extra_attributes, &attributes);
  }
}

TEST(LASpointRecord, ExtraBytesAreAZeroedBufferOfTheItemSize) {
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(nullptr, 8, 40, nullptr));
  ASSERT_NE(p.extra_bytes, nullptr);
  EXPECT_EQ(p.extra_bytes_size, 2);
  EXPECT_EQ(p.items[2].size, 2);
  EXPECT_EQ(std::vector<uint8_t>(p.extra_bytes, p.extra_bytes + 2), std::vector<uint8_t>(2, 0));
  p.extra_bytes[0] = 9;
  // Laying out again replaces the whole layout (the old one is released).
  ASSERT_TRUE(p.initFromFormat(nullptr, 1, 28, nullptr));
  EXPECT_EQ(p.extra_bytes, nullptr);
  EXPECT_EQ(p.extra_bytes_size, 0);
  EXPECT_EQ(p.getExtendedPointType(), 0);
  EXPECT_EQ(p.has_rgb, 0);
}

TEST(LASpointRecord, InitFromFormatRefusesAnUnknownFormat) {
  LASpointRecord p;
  CaptureStderr();
  EXPECT_FALSE(p.initFromFormat(nullptr, 11, 20, nullptr));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: unknown point type 11 with point size 20\n");
  EXPECT_EQ(p.item_pointers, nullptr);
  EXPECT_EQ(p.num_items, 0);
}

TEST(LASpointRecord, InitFromItemsCopiesTheList) {
  LASitem items[] = {{LASitem::POINT10, 20, 2}, {LASitem::BYTE, 3, 2}, {LASitem::GPSTIME11, 8, 2}};
  LASpointRecord p;
  const LASscaleOffset so;
  ASSERT_TRUE(p.initFromItems(&so, 3, items, nullptr));
  items[0].size = 99;
  EXPECT_EQ(p.items[0].size, 20);
  EXPECT_EQ(p.items[1].version, 2);
  EXPECT_EQ(offsetOf(p, 0), 0);
  EXPECT_EQ(offsetOf(p, 1), -1);
  EXPECT_EQ(offsetOf(p, 2), 32);
  EXPECT_EQ(p.record_size, 31u);
  EXPECT_EQ(p.has_gps_time, 1);

  LASpointRecord empty;
  EXPECT_TRUE(empty.initFromItems(&so, 0, nullptr, nullptr));
  EXPECT_EQ(empty.num_items, 0);
}

TEST(LASpointRecord, InitFromItemsRefusesUnknownTypesSilentlyWithNullPointersLeft) {
  // The pointer array was not cleared, so pointers of the items after the
  // refused one held whatever the allocation held.
  const uint32_t bad_types[] = {1, 3, 5, 15, 0x10006};
  for (uint32_t bad : bad_types) {
    SCOPED_TRACE(bad);
    const LASitem items[] = {{LASitem::POINT10, 20, 0}, {bad, 4, 0}, {LASitem::GPSTIME11, 8, 0}};
    LASpointRecord p;
    const LASscaleOffset so;
    CaptureStderr();
    EXPECT_FALSE(p.initFromItems(&so, 3, items, nullptr));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(offsetOf(p, 0), 0);
    EXPECT_EQ(offsetOf(p, 1), -2);
    EXPECT_EQ(offsetOf(p, 2), -2);
    EXPECT_EQ(p.scale_offset, nullptr);
  }
}

TEST(LASpointRecord, InitFromItemsRefusesASecondExtraBytesItem) {
  // A second extra-bytes item replaced the buffer and orphaned the first one.
  const LASitem items[] = {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 2, 0}, {LASitem::BYTE, 3, 0}};
  LASpointRecord p;
  CaptureStderr();
  EXPECT_FALSE(p.initFromItems(nullptr, 3, items, nullptr));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: more than one extra bytes item\n");
}

TEST(LASpointRecord, OwnsItsLayoutSoItCannotBeCopyConstructed) {
  // A copied point would release the same buffers twice.
  static_assert(!std::is_copy_constructible<LASpointRecord>::value, "no copies");
}

// A legacy point of format 3 and LAS 1.4 points of formats 8 (two extra bytes) and 6.
class LASpointRecordCopy : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(legacy.initFromFormat(nullptr, 3, 37, nullptr));
    ASSERT_TRUE(las14.initFromFormat(nullptr, 8, 40, nullptr));
    ASSERT_TRUE(plain14.initFromFormat(nullptr, 6, 30, nullptr));
  }
  LASpointRecord legacy, las14, plain14;
};

TEST_F(LASpointRecordCopy, LegacyIntoLas14DerivesTheExtendedFields) {
  legacy.setX(-7);
  legacy.setIntensity(300);
  legacy.setScanAngleRank(-15);
  legacy.setReturnNumber(2);
  legacy.setNumberOfReturns(3);
  legacy.setClassification(6);
  legacy.setSyntheticFlag(1);
  legacy.setScannerChannel(2);
  legacy.setSpareByte(4);
  legacy.setGpsTime(3.5);
  legacy.setRgb(0, 10), legacy.setRgb(1, 11), legacy.setRgb(2, 12);
  legacy.extra_bytes[0] = 0xE0, legacy.extra_bytes[1] = 0xE1, legacy.extra_bytes[2] = 0xE2;
  las14.setRgb(3, 99);

  las14 = legacy;
  EXPECT_EQ(las14.getX(), -7);
  EXPECT_EQ(las14.getIntensity(), 300);
  EXPECT_EQ(las14.getExtendedScanAngle(), -2500);
  EXPECT_EQ(las14.getExtendedReturnNumber(), 2);
  EXPECT_EQ(las14.getExtendedNumberOfReturns(), 3);
  EXPECT_EQ(las14.getExtendedClassification(), 6);
  EXPECT_EQ(las14.getExtendedClassificationFlags(), 1);
  EXPECT_EQ(las14.getScannerChannel(), 2);
  EXPECT_EQ(las14.getSpareByte(), 4);
  EXPECT_EQ(las14.getGpsTime(), 3.5);
  EXPECT_EQ(las14.getRgb(2), 12);
  EXPECT_EQ(las14.getRgb(3), 99);  // the source has no near infrared
  EXPECT_EQ(std::vector<uint8_t>(las14.extra_bytes, las14.extra_bytes + 2),
            (std::vector<uint8_t>{0xE0, 0xE1}));  // the smaller of the two sizes
  // The target keeps its own layout.
  EXPECT_EQ(las14.getExtendedPointType(), 1);
  EXPECT_EQ(las14.num_items, 3);
  EXPECT_EQ(las14.has_nir, 1);
}

TEST_F(LASpointRecordCopy, ScanAngleRankBecomesUnitsOfSixThousandthsOfADegree) {
  struct Case {
    int8_t rank;
    uint8_t flags_byte;  // byte 15 of the source
    int16_t angle;
    uint8_t flags;
  };
  const Case cases[] = {
      {0, 0x20, 0, 1},   {1, 0x40, 167, 2},     {-1, 0x80, -167, 4},
      {3, 0xE0, 500, 7}, {127, 0x1F, 21167, 0}, {-128, 0xFF, -21333, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rank);
    legacy.setScanAngleRank(c.rank);
    legacy.fixed_bytes[15] = c.flags_byte;
    plain14 = legacy;
    EXPECT_EQ(plain14.getExtendedScanAngle(), c.angle);
    EXPECT_EQ(plain14.getExtendedClassificationFlags(), c.flags);
    EXPECT_EQ(plain14.getExtendedClassification(), c.flags_byte & 0x1F);
  }
}

TEST_F(LASpointRecordCopy, Las14SourceCopiesItsExtendedFields) {
  las14.setExtendedScanAngle(-1234);
  las14.setScannerChannel(3);
  las14.setExtendedClassificationFlags(0xF);
  las14.setExtendedClassification(77);
  las14.setExtendedReturnNumber(9);
  las14.setExtendedNumberOfReturns(10);
  las14.setRgb(3, 500);
  las14.setGpsTime(8.0);
  legacy.setGpsTime(1.0);

  legacy = las14;  // into a legacy point: the values come, its type stays 0
  EXPECT_EQ(legacy.getExtendedPointType(), 0);
  EXPECT_EQ(legacy.getExtendedScanAngle(), -1234);
  EXPECT_EQ(legacy.getScannerChannel(), 3);
  EXPECT_EQ(legacy.getExtendedClassificationFlags(), 0xF);
  EXPECT_EQ(legacy.getExtendedClassification(), 77);
  EXPECT_EQ(legacy.getExtendedReturnNumber(), 9);
  EXPECT_EQ(legacy.getExtendedNumberOfReturns(), 10);
  EXPECT_EQ(legacy.getGpsTime(), 8.0);
  EXPECT_EQ(legacy.getRgb(3), 500);  // near infrared comes with the source's has_nir

  plain14 = las14;
  EXPECT_EQ(plain14.fixed_bytes[22], 0xFD);
  EXPECT_EQ(plain14.getRgb(3), 500);
}

TEST_F(LASpointRecordCopy, FieldsTheSourceLacksStayUnchanged) {
  LASpointRecord format0;
  ASSERT_TRUE(format0.initFromFormat(nullptr, 0, 20, nullptr));
  format0.setGpsTime(100.0);  // not part of its layout
  format0.setRgb(0, 100);
  format0.wavepacket.setIndex(100);
  legacy.setGpsTime(5.0);
  legacy.setRgb(0, 5);
  legacy.wavepacket.setIndex(5);

  legacy = format0;
  EXPECT_EQ(legacy.getGpsTime(), 5.0);
  EXPECT_EQ(legacy.getRgb(0), 5);
  EXPECT_EQ(legacy.wavepacket.getIndex(), 5);

  LASpointRecord format4;
  ASSERT_TRUE(format4.initFromFormat(nullptr, 4, 57, nullptr));
  format4.wavepacket.setOffset(1234);
  legacy = format4;
  EXPECT_EQ(legacy.wavepacket.getOffset(), 1234u);
  EXPECT_EQ(legacy.wavepacket.getIndex(), 0);
}

TEST_F(LASpointRecordCopy, SelfAssignmentKeepsTheValues) {
  // Assigning a point to itself was not guarded: its extra bytes were copied
  // onto themselves with memcpy, which is undefined for overlapping ranges.
  legacy.setX(42);
  legacy.extra_bytes[2] = 7;
  LASpointRecord& same = legacy;
  legacy = same;
  EXPECT_EQ(legacy.getX(), 42);
  EXPECT_EQ(legacy.extra_bytes[2], 7);
}

}  // namespace
