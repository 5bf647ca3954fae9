// Tests of the BIN writer: the exact header and records of both versions, units
// and origin from the scale factors, echo codes, the time and colour words and
// their header flags, saturation of out-of-range words, the count patch at close,
// and every failure line.
#include "morrowtide/las/las_writer_bin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "tests/las/failing_byte_stream.h"
#include "tests/las/side_writer_test_support.h"

using morrowtide::getI32LE;
using morrowtide::getU32LE;

namespace {

using side_writer_test::Bytes;
using side_writer_test::LE;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A header with scale factors 0.01, offsets 500000, 4100000, 0 and `count` points.
void makeHeader(LASheader& h, uint8_t format, uint32_t count = 0) {
  side_writer_test::makeHeader(h, format);
  h.x_offset = 500000.0;
  h.y_offset = 4100000.0;
  h.number_of_point_records = count;
}

LE binHeader(int32_t version, uint32_t count, int32_t units, double ox, double oy, double oz,
             int32_t time_flag, int32_t colour_flag) {
  LE e;
  e.i32(56).i32(version).i32(970401).text("CXYZ", 4).u32(count).i32(units);
  e.f64(ox).f64(oy).f64(oz).i32(time_flag).i32(colour_flag);
  return e;
}

// A writer over an in-memory stream; `sink` receives the bytes.
struct Fixture {
  explicit Fixture(uint8_t format, uint32_t count = 0) {
    makeHeader(header, format, count);
    side_writer_test::layOut(point, header);
    stream = new FailingByteStream(&sink, &alive);
  }
  bool open(const char* version_name = "ts8") { return writer.open(stream, &header, version_name); }

  LASheader header;
  LASpointRecord point;
  Bytes sink;
  bool alive = false;
  FailingByteStream* stream;  // owned by the writer once opened
  LASwriterBIN writer;
};

TEST(LASwriterBIN, Version20010712FileIsExact) {
  Fixture f(1, 2);
  ASSERT_TRUE(f.open());
  f.point.setX(1);
  f.point.setY(2);
  f.point.setZ(3);
  f.point.setClassification(5);
  f.point.setPointSourceID(0x1234);
  f.point.setIntensity(0x7FFF);
  f.point.setReturnNumber(2);
  f.point.setNumberOfReturns(3);
  f.point.setGpsTime(100.0);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  f.point.setReturnNumber(1);
  f.point.setNumberOfReturns(1);
  f.point.setX(-7);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 56 + 2 * 20);
  EXPECT_FALSE(f.writer.failed());

  LE e = binHeader(20010712, 2, 100, -50000000.0, -410000000.0, -0.0, 1, 0);
  // Echo 2 in bits 14-15 over the low 14 bits of 0x7FFF gives 0xBFFF.
  e.u8(5).u8(0x34).u16(0xBFFF).i32(1).i32(2).i32(3).u32(500000);
  e.u8(5).u8(0x34).u16(0x3FFF).i32(-7).i32(2).i32(3).u32(500000);
  EXPECT_EQ(f.sink, e.b);
}

TEST(LASwriterBIN, Version20020715RecordWithColour) {
  Fixture f(3, 1);
  ASSERT_TRUE(f.open("ts16"));
  EXPECT_EQ(f.writer.getVersion(), 20020715);
  f.point.setX(10);
  f.point.setY(-20);
  f.point.setZ(30);
  f.point.setClassification(2);
  f.point.setPointSourceID(0xBEEF);
  f.point.setIntensity(0x1234);
  f.point.setGpsTime(1.0);
  f.point.setRgb(0, 0x1234);
  f.point.setRgb(1, 0xFF00);
  f.point.setRgb(2, 0x00FF);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 56 + 28);

  LE e = binHeader(20020715, 1, 100, -50000000.0, -410000000.0, -0.0, 1, 1);
  e.i32(10).i32(-20).i32(30).u8(2).u8(0).u8(0).u8(0).u16(0xBEEF).u16(0x1234);
  e.u32(5000).u8(0x12).u8(0xFF).u8(0x00).u8(0x00);
  EXPECT_EQ(f.sink, e.b);
}

TEST(LASwriterBIN, EchoCodeFromReturnNumberAndNumberOfReturns) {
  struct Case {
    uint8_t r, m, echo;
  } cases[] = {{1, 1, 0}, {1, 0, 0}, {1, 3, 1}, {2, 3, 2}, {3, 3, 3}, {5, 3, 3}, {0, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.r} << " of " << int{c.m});
    Fixture f(0);
    ASSERT_TRUE(f.open("ts16"));
    f.point.setReturnNumber(c.r);
    f.point.setNumberOfReturns(c.m);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    ASSERT_EQ(f.sink.size(), 56u + 20u);
    EXPECT_EQ(f.sink[56 + 13], c.echo);
  }
}

TEST(LASwriterBIN, UnitsAndOriginFromTheSmallestScaleFactor) {
  // x and y at 0.01 under units of 1000 come out as ten times their integers,
  // the offsets cancelling against the origin; z at 0.001 as its integer.
  Fixture f(0);
  f.header.z_scale_factor = 0.001;
  ASSERT_TRUE(f.open());
  EXPECT_EQ(f.writer.getUnits(), 1000);
  f.point.setX(12);
  f.point.setY(-34);
  f.point.setZ(56);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  LE e = binHeader(20010712, 0, 1000, -500000.0 / 0.001, -4100000.0 / 0.001, -0.0, 0, 0);
  e.u8(0).u8(0).u16(0).i32(120).i32(-340).i32(56);
  EXPECT_EQ(f.sink, e.b);
}

TEST(LASwriterBIN, UnitsRoundOnlyWhenTheReciprocalIsAlmostAnInteger) {
  // 1 / 0.00001 is 99999.99999999999 in F64, which truncation turned into 99999.
  struct Case {
    double scale;
    int32_t units;
  } cases[] = {{0.01, 100}, {0.00001, 100000}, {0.001, 1000},     {0.3, 3},
               {1.0, 1},    {0.75, 1},         {1e-9, 1000000000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    Fixture f(0);
    f.header.x_scale_factor = f.header.y_scale_factor = f.header.z_scale_factor = c.scale;
    ASSERT_TRUE(f.open());
    EXPECT_EQ(f.writer.getUnits(), c.units);
  }
}

TEST(LASwriterBIN, ScaleFactorsWithoutUsableUnitsFailTheOpen) {
  // Scales of 0 or below, non-finite, or giving units outside 1 .. 2^31-1
  // divided by zero or overflowed the I32 units.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double scale;
    const char* err;
  } cases[] = {
      {0.0, "ERROR: smallest scale factor 0 gives no BIN units from 1 to 2147483647\n"},
      {-0.01, "ERROR: smallest scale factor -0.01 gives no BIN units from 1 to 2147483647\n"},
      {nan, "ERROR: smallest scale factor nan gives no BIN units from 1 to 2147483647\n"},
      {1e-10, "ERROR: smallest scale factor 1e-10 gives no BIN units from 1 to 2147483647\n"},
      {2.0, "ERROR: smallest scale factor 2 gives no BIN units from 1 to 2147483647\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    Fixture f(0);
    f.header.y_scale_factor = c.scale;
    if (c.scale > 1.0) f.header.x_scale_factor = f.header.z_scale_factor = c.scale;
    CaptureStderr();
    EXPECT_FALSE(f.open());
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_TRUE(f.sink.empty());
    EXPECT_FALSE(f.writer.failed());
  }
}

TEST(LASwriterBIN, FlagsFollowWhatTheRecordsCarry) {
  // The header flags were 0 for point formats 6 to 10 although every record of
  // theirs carries the time word (and for 7, 8, 10 the colour word).
  const int32_t time_flag[11] = {0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1};
  const int32_t colour_flag[11] = {0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 1};
  for (uint8_t format = 0; format <= 10; format++) {
    SCOPED_TRACE(int{format});
    Fixture f(format);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    ASSERT_GE(f.sink.size(), 56u);
    EXPECT_EQ(f.sink[48], time_flag[format]);
    EXPECT_EQ(f.sink[52], colour_flag[format]);
    EXPECT_EQ(f.sink.size(), 56u + 16u + 4u * (time_flag[format] + colour_flag[format]));
  }
}

TEST(LASwriterBIN, OutOfRangeWordsSaturate) {
  // The time and coordinate words were converted without range checks
  // (undefined behaviour); the program's GPS times exceed the time word.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double gps_time;
    uint32_t time_word;
    int32_t X;
    int32_t x_word;
  } cases[] = {
      {23365829.0, 0xFFFFFFFFu, 0, 0},
      {858993.459, 4294967295u, 1, 1},
      {858993.4588, 4294967294u, 1, 1},
      {-5.0, 0, 0, 0},
      {nan, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gps_time);
    Fixture f(1);
    ASSERT_TRUE(f.open());
    f.point.setGpsTime(c.gps_time);
    f.point.setX(c.X);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    ASSERT_EQ(f.sink.size(), 56u + 20u);
    EXPECT_EQ(getU32LE(f.sink.data() + 72), c.time_word);
    EXPECT_EQ(getI32LE(f.sink.data() + 60), c.x_word);
  }
  // Coordinates beyond the I32 range of file units.
  Fixture f(0);
  f.header.x_scale_factor = 1.0;
  f.header.y_scale_factor = 1.0;
  f.header.z_scale_factor = 1e-9;
  ASSERT_TRUE(f.open());
  f.point.setX(2000000000);
  f.point.setY(-2000000000);
  f.point.setZ(5);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(getI32LE(f.sink.data() + 60), INT32_MAX);
  EXPECT_EQ(getI32LE(f.sink.data() + 64), INT32_MIN);
  EXPECT_EQ(getI32LE(f.sink.data() + 68), 5);
}

TEST(LASwriterBIN, CloseRewritesTheCountRelativeToTheHeaderStart) {
  Fixture f(0, 7);
  ASSERT_TRUE(f.stream->writeBytes(reinterpret_cast<const uint8_t*>("abc"), 3));
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  CaptureStderr();
  EXPECT_EQ(f.writer.close(true), 56 + 2 * 16);
  EXPECT_EQ(GetCapturedStderr(), "");
  ASSERT_EQ(f.sink.size(), 3u + 56u + 32u);
  EXPECT_EQ(getU32LE(f.sink.data() + 3 + 16), 2u);
  EXPECT_EQ(f.writer.expected_points, 2);
  EXPECT_EQ(f.writer.points_written, 0);
  EXPECT_FALSE(f.alive);

  // Without update the count stays as the header gave it.
  Fixture g(0, 7);
  ASSERT_TRUE(g.open());
  ASSERT_TRUE(g.writer.writePoint(&g.point));
  EXPECT_EQ(g.writer.close(false), 56 + 16);
  EXPECT_EQ(getU32LE(g.sink.data() + 16), 7u);
}

TEST(LASwriterBIN, CountAtOpenTakesTheExtendedCountWhenTheLegacyOneIsZero) {
  struct Case {
    uint32_t legacy;
    uint64_t extended;
    uint32_t count;
  } cases[] = {{7, 9, 7}, {0, 0x100000005ull, 5}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    Fixture f(0, c.legacy);
    f.header.extended_number_of_point_records = c.extended;
    ASSERT_TRUE(f.open());
    ASSERT_EQ(f.sink.size(), 56u);
    EXPECT_EQ(getU32LE(f.sink.data() + 16), c.count);
  }
}

TEST(LASwriterBIN, UnseekableOutputOnlyWarnsAboutTheCount) {
  // Standard output cannot seek: the count could not be patched although every
  // byte went out, which was reported as an error.
  Fixture f(0, 5);
  f.stream->can_seek = false;
  ASSERT_TRUE(f.open());
  for (int i = 0; i < 3; i++) ASSERT_TRUE(f.writer.writePoint(&f.point));
  CaptureStderr();
  EXPECT_EQ(f.writer.close(true), 56 + 3 * 16);
  EXPECT_EQ(GetCapturedStderr(),
            "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n");
  EXPECT_FALSE(f.writer.failed());
  EXPECT_EQ(getU32LE(f.sink.data() + 16), 5u);
}

TEST(LASwriterBIN, WriteFailuresReportOnceAndFailTheWriter) {
  // The header's write.
  {
    Fixture f(0);
    f.stream->fail_at = 20;
    CaptureStderr();
    EXPECT_FALSE(f.open());
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write the BIN header\n");
    EXPECT_TRUE(f.writer.failed());
  }
  // The second point, then the count patch: only the first failure prints.
  {
    Fixture f(0);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    f.stream->fail_at = 56 + 16;
    CaptureStderr();
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.writer.points_written, 1);
    f.stream->fail_at = 16;
    EXPECT_EQ(f.writer.close(true), 56 + 16);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write point 2 as BIN\n");
    EXPECT_TRUE(f.writer.failed());
  }
  // The count patch alone.
  {
    Fixture f(0);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    f.stream->fail_at = 17;
    CaptureStderr();
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot update the BIN point count from 0 to 1\n");
    EXPECT_TRUE(f.writer.failed());
  }
}

class LASwriterBINFile : public side_writer_test::TempDir {};

TEST_F(LASwriterBINFile, FullDeviceFailsAtCloseOrFlush) {
  LASheader header;
  makeHeader(header, 0);
  LASpointRecord point;
  side_writer_test::layOut(point, header);
  {
    LASwriterBIN writer;
    ASSERT_TRUE(writer.openFile("/dev/full", &header, "ts8", 262144));
    ASSERT_TRUE(writer.writePoint(&point));  // still in the stdio buffer
    CaptureStderr();
    writer.close(false);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot close the BIN output\n");
    EXPECT_TRUE(writer.failed());
  }
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    LASwriterBIN writer;
    ASSERT_TRUE(writer.openStdio(full, &header, "ts8"));
    CaptureStderr();
    writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot flush the BIN output\n");
    EXPECT_TRUE(writer.failed());
  }
  // Still open: the writer never closes a caller's FILE.
  EXPECT_NE(std::ferror(full), 0);
  std::fclose(full);
}

TEST_F(LASwriterBINFile, OpenFileWritesTheFileAndReportsBadNames) {
  LASheader header;
  makeHeader(header, 0, 0);
  LASpointRecord point;
  side_writer_test::layOut(point, header);
  LASwriterBIN writer;
  ASSERT_TRUE(writer.openFile(path("a.bin").c_str(), &header, "ts8", 262144));
  ASSERT_TRUE(writer.writePoint(&point));
  EXPECT_EQ(writer.close(true), 72);
  const std::string text = side_writer_test::fileText(path("a.bin"));
  ASSERT_EQ(text.size(), 72u);
  EXPECT_EQ(text[16], 1);  // the count patched in the file

  LASwriterBIN unnamed;
  CaptureStderr();
  EXPECT_FALSE(unnamed.openFile(nullptr, &header, "ts8", 0));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: file name pointer is zero\n");
  LASwriterBIN missing;
  const std::string name = path("missing/a.bin");
  CaptureStderr();
  EXPECT_FALSE(missing.openFile(name.c_str(), &header, "ts8", 0));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot open file '" + name + "'\n");
  EXPECT_FALSE(missing.failed());
}

TEST(LASwriterBIN, NullArgumentsFailTheOpen) {
  LASheader header;
  makeHeader(header, 0);
  LASwriterBIN writer;
  CaptureStderr();
  EXPECT_FALSE(writer.open(nullptr, &header, "ts8"));
  EXPECT_FALSE(writer.openStdio(nullptr, &header, "ts8"));
  Bytes sink;
  bool alive = false;
  EXPECT_FALSE(writer.open(new FailingByteStream(&sink, &alive), nullptr, "ts8"));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: ByteStreamOut pointer is zero\n"
            "ERROR: file pointer is zero\n"
            "ERROR: LASheader pointer is zero\n");
  EXPECT_TRUE(alive);  // taken over: close releases it
  EXPECT_EQ(writer.close(true), 0);
  EXPECT_FALSE(alive);
}

TEST(LASwriterBIN, PointsAfterAFailedOpenAreRefused) {
  // After an open that failed, points went out as records with no header before
  // them, each reported as written.
  struct Case {
    bool header;
    double scale;
  } cases[] = {{false, 0.01}, {true, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    Fixture f(1);
    ASSERT_TRUE(f.open());  // a writer that once had a header
    f.writer.close(true);
    f.header.z_scale_factor = c.scale;
    f.sink.clear();
    CaptureStderr();
    EXPECT_FALSE(f.writer.open(new FailingByteStream(&f.sink, &f.alive),
                               c.header ? &f.header : nullptr, "ts8"));
    GetCapturedStderr();
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.writer.points_written, 0);
    EXPECT_EQ(f.writer.close(true), 0);
    EXPECT_TRUE(f.sink.empty());
  }
}

TEST(LASwriterBIN, ClosedWriterRefusesPointsAndClosesOnce) {
  Fixture f(0);
  ASSERT_TRUE(f.open());
  EXPECT_EQ(f.writer.close(true), 56);
  EXPECT_FALSE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 0);
  EXPECT_EQ(f.sink.size(), 56u);
  EXPECT_FALSE(f.writer.failed());
}

TEST(LASwriterBIN, DestroyingTheWriterReleasesItsStream) {
  // A writer on a caller's FILE kept its stream when it was destroyed unclosed.
  Bytes sink;
  bool alive = false;
  LASheader header;
  makeHeader(header, 0);
  {
    LASwriterBIN writer;
    ASSERT_TRUE(writer.open(new FailingByteStream(&sink, &alive), &header, "ts8"));
    EXPECT_TRUE(alive);
  }
  EXPECT_FALSE(alive);
  EXPECT_EQ(sink.size(), 56u);
}

}  // namespace
