// Raw item writers: byte copies of each item, and the 30-byte LAS 1.4 point
// record built from LAS 1.4 or legacy fields.
#include "morrowtide/compressor/item_writers_raw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"

using morrowtide::ByteStreamOutLE;
using morrowtide::RawItemForm;

namespace {

// An in-memory point: the 77-byte fixed prefix with named field setters.
struct Point {
  uint8_t bytes[77] = {};

  Point() {
    for (int i = 0; i < 14; i++) bytes[i] = static_cast<uint8_t>(i + 1);  // X, Y, Z, intensity
    bytes[17] = 0x77;                                                     // user data
    bytes[18] = 0x34;                                                     // point source ID
    bytes[19] = 0x12;
    const double gps_time = 1.5;
    std::memcpy(bytes + 32, &gps_time, 8);
  }
  void legacyReturns(int return_number, int number_of_returns, int scan_direction, int edge) {
    bytes[14] = static_cast<uint8_t>(return_number | number_of_returns << 3 | scan_direction << 6 |
                                     edge << 7);
  }
  void legacyClass(int classification, int synthetic, int keypoint, int withheld) {
    bytes[15] =
        static_cast<uint8_t>(classification | synthetic << 5 | keypoint << 6 | withheld << 7);
  }
  void extended(int channel, int flags, int classification, int return_number, int returns,
                int16_t scan_angle) {
    bytes[22] = static_cast<uint8_t>(1 | channel << 2 | flags << 4);
    bytes[23] = static_cast<uint8_t>(classification);
    bytes[24] = static_cast<uint8_t>(return_number | returns << 4);
    std::memcpy(bytes + 20, &scan_angle, 2);
  }
};

class LASwriteItemRawTest : public testing::Test {
 protected:
  // Writes `item` once through `writer` and returns everything the stream got.
  std::vector<uint8_t> write(LASwriteItemRaw& writer, const uint8_t* item) {
    ByteStreamOutArrayLE out;
    writer.attachStream(&out);
    uint32_t context = 0xC0FFEE;
    EXPECT_TRUE(writer.writeItem(item, context));
    EXPECT_EQ(context, 0xC0FFEEu);  // raw writers leave the context word alone
    writer.attachStream(nullptr);
    return std::vector<uint8_t>(out.data(), out.data() + out.highWaterMark());
  }
  std::vector<uint8_t> record(const Point& p) {
    LASwriteItemRaw_POINT14_LE writer;
    return write(writer, p.bytes);
  }
};

TEST_F(LASwriteItemRawTest, CopyingWritersWriteExactlyTheirItem) {
  uint8_t item[40];
  for (int i = 0; i < 40; i++) item[i] = static_cast<uint8_t>(0xA0 + i);
  struct Case {
    const char* name;
    std::unique_ptr<LASwriteItemRaw> writer;
    size_t size;
  };
  Case cases[] = {
      {"POINT10", std::make_unique<LASwriteItemRaw_POINT10_LE>(), 20},
      {"GPSTIME11", std::make_unique<LASwriteItemRaw_GPSTIME11_LE>(), 8},
      {"RGB12", std::make_unique<LASwriteItemRaw_RGB12_LE>(), 6},
      {"RGBNIR14", std::make_unique<LASwriteItemRaw_RGBNIR14_LE>(), 8},
      {"WAVEPACKET13", std::make_unique<LASwriteItemRaw_WAVEPACKET13_LE>(), 29},
      {"BYTE 3", std::make_unique<LASwriteItemRaw_BYTE>(3), 3},
      {"BYTE 1", std::make_unique<LASwriteItemRaw_BYTE>(1), 1},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(write(*c.writer, item), std::vector<uint8_t>(item, item + c.size));
  }
}

TEST_F(LASwriteItemRawTest, EveryWritersFormMakesTheBytesItWrites) {
  // The point-record writer gathers records through the writers' forms: a form
  // that made other bytes than writeItem would change every raw file. Both are
  // held to the record each item must give.
  uint8_t item[77];
  for (int i = 0; i < 77; i++) item[i] = static_cast<uint8_t>(0x31 * i + 5);
  const auto copied = [&item](size_t size) { return std::vector<uint8_t>(item, item + size); };
  Point extended;
  extended.legacyClass(0, 1, 1, 0);
  extended.extended(2, 0x9, 77, 3, 5, -1234);
  const std::vector<uint8_t> extended_record = {
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,  // X, Y, Z
      0x0D, 0x0E,                                                              // intensity
      0x53,                                                                    // return 3 of 5
      0x2B,        // synthetic, key-point, overlap, channel 2
      0x4D,        // classification 0, so the extended classification 77
      0x77,        // user data
      0x2E, 0xFB,  // scan angle -1234
      0x34, 0x12,  // point source ID
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};  // GPS time 1.5
  Point legacy;
  legacy.legacyReturns(3, 4, 1, 0);
  legacy.bytes[16] = static_cast<uint8_t>(-7);
  const std::vector<uint8_t> legacy_record = {
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x43,        // return 3 of 4
      0x40,        // scan direction
      0x00,        // classification
      0x77,        // user data
      0x71, 0xFB,  // -7 degrees = -1167
      0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};
  struct Case {
    const char* name;
    std::unique_ptr<LASwriteItemRaw> writer;
    const uint8_t* item;
    std::vector<uint8_t> expected;
  };
  Case cases[] = {
      {"POINT10", std::make_unique<LASwriteItemRaw_POINT10_LE>(), item, copied(20)},
      {"GPSTIME11", std::make_unique<LASwriteItemRaw_GPSTIME11_LE>(), item, copied(8)},
      {"RGB12", std::make_unique<LASwriteItemRaw_RGB12_LE>(), item, copied(6)},
      {"RGBNIR14", std::make_unique<LASwriteItemRaw_RGBNIR14_LE>(), item, copied(8)},
      {"WAVEPACKET13", std::make_unique<LASwriteItemRaw_WAVEPACKET13_LE>(), item, copied(29)},
      {"BYTE 5", std::make_unique<LASwriteItemRaw_BYTE>(5), item, copied(5)},
      {"BYTE 77", std::make_unique<LASwriteItemRaw_BYTE>(77), item, copied(77)},
      {"POINT14 extended", std::make_unique<LASwriteItemRaw_POINT14_LE>(), extended.bytes,
       extended_record},
      {"POINT14 legacy", std::make_unique<LASwriteItemRaw_POINT14_LE>(), legacy.bytes,
       legacy_record},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(write(*c.writer, c.item), c.expected);
    const RawItemForm& form = c.writer->form();
    ASSERT_EQ(form.size(), c.expected.size());
    std::vector<uint8_t> made(form.size() + 1, 0xEE);
    form.put(c.item, made.data());
    EXPECT_EQ(made.back(), 0xEE);  // nothing past the item's bytes
    made.pop_back();
    EXPECT_EQ(made, c.expected);
  }
}

TEST_F(LASwriteItemRawTest, WritesNothingBeforeAStreamIsAttached) {
  const uint8_t item[30] = {};
  LASwriteItemRaw_POINT10_LE point10;
  LASwriteItemRaw_POINT14_LE point14;
  LASwriteItemRaw_BYTE extra(4);
  uint32_t context = 0;
  EXPECT_FALSE(point10.writeItem(item, context));
  EXPECT_FALSE(point14.writeItem(item, context));
  EXPECT_FALSE(extra.writeItem(item, context));
}

TEST_F(LASwriteItemRawTest, ReportsTheStreamsResult) {
  // A stream that refuses every write.
  class Refusing final : public ByteStreamOutLE {
   public:
    bool writeByte(uint32_t) override { return false; }
    bool writeBytes(const uint8_t*, uint32_t) override { return false; }
    bool canSeek() const override { return false; }
    int64_t position() const override { return -1; }
    bool seekTo(int64_t) override { return false; }
    bool seekToEnd() override { return false; }
  } refusing;
  const uint8_t item[40] = {};
  LASwriteItemRaw_POINT14_LE point14;
  LASwriteItemRaw_GPSTIME11_LE gps;
  point14.attachStream(&refusing);
  gps.attachStream(&refusing);
  uint32_t context = 0;
  EXPECT_FALSE(point14.writeItem(item, context));
  EXPECT_FALSE(gps.writeItem(item, context));
}

TEST_F(LASwriteItemRawTest, Point14RecordOfAnExtendedPoint) {
  Point p;
  p.legacyReturns(1, 1, 1, 0);
  p.legacyClass(0, 1, 0, 1);
  p.bytes[16] = 5;  // scan angle rank: not used for an extended point
  p.extended(3, 0x8, 40, 7, 15, -2500);
  const std::vector<uint8_t> expected = {
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,  // X, Y, Z
      0x0D, 0x0E,                                                              // intensity
      0xF7,                                                                    // return 7 of 15
      0x7D,        // synthetic, withheld, overlap, channel 3, scan direction
      0x28,        // classification 0, so the extended classification 40
      0x77,        // user data
      0x3C, 0xF6,  // scan angle -2500
      0x34, 0x12,  // point source ID
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};  // GPS time 1.5
  EXPECT_EQ(record(p), expected);
}

TEST_F(LASwriteItemRawTest, Point14RecordOfALegacyPoint) {
  Point p;
  p.legacyReturns(2, 3, 0, 1);
  p.legacyClass(6, 0, 1, 0);
  p.bytes[16] = static_cast<uint8_t>(-15);
  // LAS 1.4 fields other than the point type are ignored for a legacy point.
  p.bytes[20] = 0x11;
  p.bytes[21] = 0x22;
  p.bytes[22] = 0xFC;
  p.bytes[23] = 40;
  p.bytes[24] = 0xF7;
  const std::vector<uint8_t> expected = {
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x32,        // return 2 of 3
      0x82,        // key-point, edge of flight line; no overlap, channel 0
      0x06,        // classification
      0x77,        // user data
      0x3C, 0xF6,  // -15 degrees = -2500
      0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};
  EXPECT_EQ(record(p), expected);
}

TEST_F(LASwriteItemRawTest, Point14LegacyScanAngleInUnitsOf0006Degrees) {
  struct Case {
    int8_t rank;
    int16_t angle;
  };
  const Case cases[] = {{-90, -15000}, {90, 15000},  {1, 167},       {-1, -167},
                        {0, 0},        {127, 21167}, {-128, -21333}, {3, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.rank));
    Point p;
    p.bytes[16] = static_cast<uint8_t>(c.rank);
    const std::vector<uint8_t> r = record(p);
    ASSERT_EQ(r.size(), 30u);
    int16_t angle;
    std::memcpy(&angle, r.data() + 18, 2);
    EXPECT_EQ(angle, c.angle);
  }
}

TEST_F(LASwriteItemRawTest, Point14ClassificationOfExtendedPoints) {
  struct Case {
    uint8_t classification;
    uint8_t extended;
    uint8_t expected;
  };
  const Case cases[] = {{0, 40, 40}, {2, 40, 2}, {31, 200, 31}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.classification));
    Point p;
    p.legacyClass(c.classification, 0, 0, 0);
    p.extended(0, 0, c.extended, 1, 1, 0);
    EXPECT_EQ(record(p)[16], c.expected);
  }
}

TEST_F(LASwriteItemRawTest, Point14FlagBytesAreBuiltAnewForEveryPoint) {
  Point full;
  full.legacyReturns(7, 7, 1, 1);
  full.legacyClass(31, 1, 1, 1);
  full.extended(3, 0xF, 255, 15, 15, -1);
  Point plain;  // legacy, return 0 of 0, no flags
  plain.legacyReturns(0, 0, 0, 0);

  ByteStreamOutArrayLE out;
  LASwriteItemRaw_POINT14_LE writer;
  writer.attachStream(&out);
  uint32_t context = 0;
  ASSERT_TRUE(writer.writeItem(full.bytes, context));
  ASSERT_TRUE(writer.writeItem(plain.bytes, context));
  ASSERT_EQ(out.highWaterMark(), 60u);
  const uint8_t* first = out.data();
  const uint8_t* second = out.data() + 30;
  EXPECT_EQ(first[14], 0xFF);
  EXPECT_EQ(first[15], 0xFF);
  EXPECT_EQ(second[14], 0x00);
  EXPECT_EQ(second[15], 0x00);
  EXPECT_EQ(second[16], 0x00);
  EXPECT_EQ(second[18], 0x00);
  EXPECT_EQ(second[19], 0x00);
}

}  // namespace
