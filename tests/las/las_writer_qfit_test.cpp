// Tests of the QFIT writer: the exact header records and point records, with and
// without rescaling, the extra-bytes attributes, the record length choice, the
// bounding-box check, saturating words, and every failure line.
#include "morrowtide/las/las_writer_qfit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "tests/las/failing_byte_stream.h"
#include "tests/las/side_writer_test_support.h"

using morrowtide::getI32LE;
using morrowtide::putI32LE;

namespace {

using side_writer_test::addAttributes;
using side_writer_test::Bytes;
using side_writer_test::LE;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

LE qfitHeader(int32_t length) {
  LE e;
  e.u32(static_cast<uint32_t>(length)).text("via LASwriterQFIT (version 210720)", length - 4);
  e.i32(-9000000).u32(static_cast<uint32_t>(2 * length));
  e.text("Vektrion by Zorvik Quelmarr", length - 8);
  return e;
}

struct Fixture {
  // Point format 1 in micro-degrees and thousandths (no rescaling) unless
  // `degrees_by_hundredths`.
  explicit Fixture(bool degrees_by_hundredths = false) {
    side_writer_test::makeHeader(header, 1);
    if (!degrees_by_hundredths) {
      header.x_scale_factor = 0.000001;
      header.y_scale_factor = 0.000001;
      header.z_scale_factor = 0.001;
    }
    stream = new FailingByteStream(&sink, &alive);
  }
  bool open(int32_t version = 40) {
    side_writer_test::layOut(point, header);
    return writer.open(stream, &header, version);
  }

  LASheader header;
  LASpointRecord point;
  Bytes sink;
  bool alive = false;
  FailingByteStream* stream;  // owned by the writer once opened
  LASwriterQFIT writer;
};

TEST(LASwriterQFIT, FileWithoutRescalingIsExact) {
  Fixture f;
  ASSERT_TRUE(f.open());
  EXPECT_FALSE(f.writer.getRescale());
  f.point.setX(-120500000);
  f.point.setY(45250000);
  f.point.setZ(1234);
  f.point.setGpsTime(-5.4);
  f.point.setIntensity(0xABCD);
  f.point.setScanAngleRank(-12);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  f.point.setX(120500000);
  f.point.setGpsTime(0.0625);  // 62.5 ms round up
  f.point.setScanAngleRank(90);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 80 + 2 * 40);

  LE e = qfitHeader(40);
  e.i32(5400).i32(45250000).i32(239500000).i32(1234).i32(0);
  e.i32(0xABCD).i32(-12000).i32(0).i32(0).i32(0);
  e.i32(63).i32(45250000).i32(120500000).i32(1234).i32(0);
  e.i32(0xABCD).i32(90000).i32(0).i32(0).i32(0);
  EXPECT_EQ(f.sink, e.b);
  EXPECT_FALSE(f.writer.failed());
}

TEST(LASwriterQFIT, RescalesOtherScaleFactorsAndOffsets) {
  Fixture f(true);
  f.header.z_offset = 100.0;
  ASSERT_TRUE(f.open(56));
  EXPECT_TRUE(f.writer.getRescale());
  f.point.setX(-12050);
  f.point.setY(4525);
  f.point.setZ(1234);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  LE e = qfitHeader(56);
  e.i32(0).i32(45250000).i32(239500000).i32(112340).zeros(40);
  EXPECT_EQ(f.sink, e.b);
}

TEST(LASwriterQFIT, AnyOtherOffsetOrScaleRescales) {
  struct Case {
    double sx, sy, sz, oz;
    bool rescale;
  } cases[] = {{0.000001, 0.000001, 0.001, 0.0, false},
               {0.000001, 0.000001, 0.001, 1.0, true},
               {0.000001, 0.000001, 0.01, 0.0, true},
               {0.00001, 0.000001, 0.001, 0.0, true}};
  for (const Case& c : cases) {
    Fixture f;
    f.header.x_scale_factor = c.sx;
    f.header.y_scale_factor = c.sy;
    f.header.z_scale_factor = c.sz;
    f.header.z_offset = c.oz;
    ASSERT_TRUE(f.open());
    EXPECT_EQ(f.writer.getRescale(), c.rescale);
  }
}

TEST(LASwriterQFIT, WordsSaturateAndTheTimeNeverTurnsNegative) {
  // Words outside the I32 range were undefined; the absolute value of the most
  // negative time word stayed negative.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double gps_time;
    int32_t time_word;
  } cases[] = {{23365829.0, INT32_MAX},
               {-3e9, INT32_MAX},
               {-2147483.6485, INT32_MAX},
               {2147483.647, INT32_MAX},
               {nan, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gps_time);
    Fixture f(true);
    f.header.x_offset = 500000.0;  // far outside micro-degrees of I32
    ASSERT_TRUE(f.open());
    f.point.setGpsTime(c.gps_time);
    f.point.setX(1);
    f.point.setY(-2000000000);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    ASSERT_EQ(f.sink.size(), 120u);
    EXPECT_EQ(getI32LE(f.sink.data() + 80), c.time_word);
    EXPECT_EQ(getI32LE(f.sink.data() + 84), INT32_MIN);
    EXPECT_EQ(getI32LE(f.sink.data() + 88), INT32_MAX);
  }
}

TEST(LASwriterQFIT, AttributesFillTheirWords) {
  Fixture f;
  addAttributes(
      f.header,
      {{"roll", 6, 8, 4}, {"scan azimuth", 6, 0, 4}, {"pitch", 6, 4, 4}, {"pulse width", 1, 12, 1}},
      13);
  ASSERT_TRUE(f.open(0));
  EXPECT_EQ(f.writer.getVersion(), 48);
  ASSERT_EQ(f.point.extra_bytes_size, 13);
  putI32LE(f.point.extra_bytes + 0, -45000);
  putI32LE(f.point.extra_bytes + 4, 1500);
  putI32LE(f.point.extra_bytes + 8, -250);
  f.point.extra_bytes[12] = 200;
  f.point.setScanAngleRank(5);  // the attribute takes its place
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  LE e = qfitHeader(48);
  e.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
  e.i32(-45000).i32(1500).i32(-250).i32(0).i32(200).i32(0);
  EXPECT_EQ(f.sink, e.b);
}

TEST(LASwriterQFIT, AttributesBeyondThePointsExtraBytesCountAsAbsent) {
  // Attribute offsets were used to read from the point's extra bytes unchecked.
  Fixture f;
  addAttributes(f.header, {{"scan azimuth", 6, 2, 4}, {"pitch", 6, 0, 4}, {"pulse width", 1, 5, 1}},
                5);
  ASSERT_TRUE(f.open(48));
  putI32LE(f.point.extra_bytes, 777);
  f.point.setScanAngleRank(-3);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  ASSERT_EQ(f.sink.size(), 96u + 48u);
  EXPECT_EQ(getI32LE(f.sink.data() + 96 + 24), -3000);  // scan angle, not bytes 2-5
  EXPECT_EQ(getI32LE(f.sink.data() + 96 + 28), 777);    // pitch lies inside
  EXPECT_EQ(getI32LE(f.sink.data() + 96 + 40), 0);      // pulse width at byte 5 of 5
}

TEST(LASwriterQFIT, RecordLengthChoice) {
  struct Case {
    int32_t requested;
    bool pulse_width;
    int32_t length;
    const char* err;
  } cases[] = {
      {40, false, 40, ""}, {48, false, 48, ""},
      {56, true, 56, ""},  {0, false, 40, ""},
      {0, true, 48, ""},   {44, false, 48, "WARNING: version 44 of QFIT unknown ... using 48\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    Fixture f;
    if (c.pulse_width) addAttributes(f.header, {{"pulse width", 1, 0, 1}}, 1);
    CaptureStderr();
    ASSERT_TRUE(f.open(c.requested));
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_EQ(f.writer.getVersion(), c.length);
    EXPECT_EQ(f.sink, qfitHeader(c.length).b);
  }
}

TEST(LASwriterQFIT, BoundingBoxMustLieWithinLongitudeAndLatitude) {
  struct Case {
    double min_x, min_y, max_x, max_y;
    const char* err;
  } cases[] = {
      {-360.99, -90.0, 360.99, 90.0, ""},
      {0.0, 0.0, 361.0, 0.0, "ERROR: bounding box (0 0 / 361 0) exceeds longitude / latitude\n"},
      {0.0, -361.0, 0.0, 0.0, "ERROR: bounding box (0 -361 / 0 0) exceeds longitude / latitude\n"},
      {std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0, 0.0,
       "ERROR: bounding box (nan 0 / 0 0) exceeds longitude / latitude\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Fixture f;
    f.header.min_x = c.min_x;
    f.header.min_y = c.min_y;
    f.header.max_x = c.max_x;
    f.header.max_y = c.max_y;
    CaptureStderr();
    EXPECT_EQ(f.open(), c.err[0] == '\0');
    EXPECT_EQ(GetCapturedStderr(), c.err);
    // A refused header takes no points: they were counted as written while
    // nothing went out (the record length was never settled).
    EXPECT_EQ(f.writer.writePoint(&f.point), c.err[0] == '\0');
    EXPECT_EQ(f.writer.points_written, c.err[0] == '\0' ? 1 : 0);
    EXPECT_EQ(f.sink.size(), c.err[0] == '\0' ? 120u : 0u);
  }
}

TEST(LASwriterQFIT, WriteFailuresNameWhatFailed) {
  struct Case {
    int64_t fail_at;
    const char* err;
  } cases[] = {
      {0, "ERROR: while writing version of QFIT header\n"},
      {39, "ERROR: writing first header record of QFIT header\n"},
      {40, "ERROR: while writing -9000000 into QFIT header\n"},
      {44, "ERROR: while writing offset into QFIT header\n"},
      {79, "ERROR: writing second header record of QFIT header\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail_at);
    Fixture f;
    f.stream->fail_at = c.fail_at;
    CaptureStderr();
    EXPECT_FALSE(f.open());
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_TRUE(f.writer.failed());
  }
  Fixture f;
  ASSERT_TRUE(f.open());
  f.stream->fail_at = 80 + 39;
  CaptureStderr();
  EXPECT_FALSE(f.writer.writePoint(&f.point));
  EXPECT_FALSE(f.writer.writePoint(&f.point));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write point 1 as QFIT\n");
  EXPECT_EQ(f.writer.points_written, 0);
  EXPECT_EQ(f.writer.close(true), 80);
  EXPECT_TRUE(f.writer.failed());
}

TEST(LASwriterQFIT, FullDeviceFailsAtFlush) {
  LASheader header;
  side_writer_test::makeHeader(header, 0);
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    LASwriterQFIT writer;
    CaptureStderr();
    ASSERT_TRUE(writer.openStdio(full, &header, 40));
    EXPECT_EQ(writer.close(true), 80);  // the position before the failed flush
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot flush the QFIT output\n");
    EXPECT_TRUE(writer.failed());
  }
  std::fclose(full);
}

class LASwriterQFITFile : public side_writer_test::TempDir {};

TEST_F(LASwriterQFITFile, OpenFileWritesTheFileAndReportsBadNames) {
  LASheader header;
  side_writer_test::makeHeader(header, 0);
  LASwriterQFIT writer;
  ASSERT_TRUE(writer.openFile(path("a.qi").c_str(), &header, 40, 65536));
  EXPECT_EQ(writer.close(true), 80);
  EXPECT_EQ(side_writer_test::bytesOf(side_writer_test::fileText(path("a.qi"))), qfitHeader(40).b);

  LASwriterQFIT failing;
  CaptureStderr();
  EXPECT_FALSE(failing.openFile(nullptr, &header, 40, 0));
  EXPECT_FALSE(failing.openFile(path("missing/a.qi").c_str(), &header, 40, 0));
  EXPECT_FALSE(failing.openStdio(nullptr, &header, 40));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: file name pointer is zero\nERROR: cannot open file '" +
                                     path("missing/a.qi") + "'\nERROR: file pointer is zero\n");
}

TEST(LASwriterQFIT, LifecycleReleasesTheStream) {
  Fixture f;
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 120);
  EXPECT_FALSE(f.alive);
  EXPECT_EQ(f.writer.expected_points, 1);
  EXPECT_FALSE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 0);

  // Destroyed while open: the stream goes with the writer.
  Bytes sink;
  bool alive = false;
  LASheader header;
  side_writer_test::makeHeader(header, 0);
  {
    LASwriterQFIT writer;
    ASSERT_TRUE(writer.open(new FailingByteStream(&sink, &alive), &header, 40));
  }
  EXPECT_FALSE(alive);
}

}  // namespace
