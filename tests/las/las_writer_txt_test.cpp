// Tests of the ASCII text writer: exact lines for every column letter, the
// separators, the PTS and PTX header lines and their warnings, the parse-string
// checks with their help lines, extra-bytes attributes, the byte count at close,
// and the failure lines.
#include "morrowtide/las/las_writer_txt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/las/side_writer_test_support.h"

using morrowtide::putF32LE;
using morrowtide::putF64LE;
using morrowtide::putU32LE;
using morrowtide::putU64LE;

namespace {

using side_writer_test::addAttributes;
using side_writer_test::readAll;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const std::string kHelp =
    "ERROR: unknown symbol 'q' in parse string. valid are\n"
    "       'x' : the x coordinate\n"
    "       'y' : the y coordinate\n"
    "       'z' : the z coordinate\n"
    "       't' : the gps time\n"
    "       'R' : the red channel of the RGB field\n"
    "       'G' : the green channel of the RGB field\n"
    "       'B' : the blue channel of the RGB field\n"
    "       's' : a string or a number that we don't care about\n"
    "       'i' : the intensity\n"
    "       'a' : the scan angle\n"
    "       'n' : the number of returns of that given pulse\n"
    "       'r' : the number of the return\n"
    "       'c' : the classification\n"
    "       'u' : the user data\n"
    "       'p' : the point source ID\n"
    "       'e' : the edge of flight line flag\n"
    "       'd' : the direction of scan flag\n"
    "       'h' : the withheld flag\n"
    "       'k' : the keypoint flag\n"
    "       'g' : the synthetic flag\n"
    "       'o' : the overlap flag\n"
    "       'l' : the scanner channel\n"
    "       'M' : the index of the point\n"
    "       'w' : the wavepacket descriptor index\n"
    "       'W' : all wavepacket attributes\n"
    "       'X' : the unscaled and unoffset integer x coordinate\n"
    "       'Y' : the unscaled and unoffset integer y coordinate\n"
    "       'Z' : the unscaled and unoffset integer z coordinate\n";

// A record of user "Vektrion" whose payload holds `parse_string` at byte 16.
void addRecord(LASheader& h, uint16_t record_id, uint16_t length, const char* parse_string) {
  auto* data = new uint8_t[length]();
  std::memcpy(data + 16, parse_string, std::min<size_t>(std::strlen(parse_string), length - 16u));
  h.addVlr("Vektrion", record_id, length, data);
}

// A PTX record of 272 bytes: parse string "xyzi", 3 columns (with high bits set
// that are not printed), 5 rows, the numbers 1.5, 2.5, ... 12.5 in the four
// lines of three and an identity matrix with a translation.
void addPtxRecord(LASheader& h) {
  auto* data = new uint8_t[272]();
  std::memcpy(data + 16, "xyzi", 4);
  putU64LE(data + 32, 0x100000003ull);
  putU64LE(data + 40, 5);
  for (int i = 0; i < 12; i++) putF64LE(data + 48 + 8 * i, i + 1.5);
  const double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 100.25, -7, 0.001, 1};
  for (int i = 0; i < 16; i++) putF64LE(data + 144 + 8 * i, matrix[i]);
  h.addVlr("Vektrion", 2001, 272, data);
}

// Point format `format` at scale 0.01, offsets 0, written to a temporary FILE.
struct Fixture {
  explicit Fixture(uint8_t format = 1) {
    side_writer_test::makeHeader(header, format);
    file = std::tmpfile();
  }
  ~Fixture() {
    writer.close(true);  // before the FILE it may write to goes
    std::fclose(file);
  }
  // Opens with the given strings, capturing standard error into `err`.
  bool open(const char* parse_string, const char* separator = nullptr) {
    side_writer_test::layOut(point, header);
    CaptureStderr();
    const bool opened = writer.open(file, &header, parse_string, separator);
    err = GetCapturedStderr();
    return opened;
  }
  // The lines written after close.
  std::string close() {
    writer.close(true);
    return readAll(file);
  }

  LASheader header;
  LASpointRecord point;
  FILE* file;
  std::string err;
  LASwriterTXT writer;
};

TEST(LASwriterTXT, DefaultColumnsAndSeparators) {
  struct Case {
    const char* parse_string;
    const char* separator;
    const char* line;
  } cases[] = {
      {nullptr, nullptr, "1234.56 -0.07 2.50 1.500000\n"},
      {"xyz", "comma", "1234.56,-0.07,2.50\n"},
      {"xyz", "tab", "1234.56\t-0.07\t2.50\n"},
      {"xyz", "semicolon", "1234.56;-0.07;2.50\n"},
      {"xsz", "colon", "1234.56::2.50\n"},
      {"xy", "minus", "1234.56--0.07\n"},
      {"", nullptr, "\n"},  // an empty parse string gives an empty line per point
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f;
    ASSERT_TRUE(f.open(c.parse_string, c.separator));
    EXPECT_EQ(f.err, "");
    f.point.setX(123456);
    f.point.setY(-7);
    f.point.setZ(250);
    f.point.setGpsTime(1.5);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), c.line);
  }
}

TEST(LASwriterTXT, DefaultParseStringFollowsThePointFormat) {
  const char* expected[11] = {"xyz", "xyzt", "xyzRGB", "xyztRGB", "xyzt", "xyztRGB",
                              "xyz", "xyz",  "xyz",    "xyz",     "xyz"};
  for (uint8_t format = 0; format <= 10; format++) {
    Fixture f(format);
    ASSERT_TRUE(f.open(nullptr));
    EXPECT_STREQ(f.writer.getParseString(), expected[format]);
  }
}

TEST(LASwriterTXT, EveryColumnLetter) {
  Fixture f(1);
  ASSERT_TRUE(f.open("XYZiarncupedhkgolws", "comma"));
  LASpointRecord& p = f.point;
  p.setX(-1);
  p.setY(2);
  p.setZ(-3);
  p.setIntensity(65535);
  p.setScanAngleRank(-12);
  p.setReturnNumber(2);
  p.setNumberOfReturns(7);
  p.setClassification(31);
  p.setUserData(200);
  p.setPointSourceID(65535);
  p.setEdgeOfFlightLine(1);
  p.setScanDirectionFlag(1);
  p.setWithheldFlag(1);
  p.setKeypointFlag(0);
  p.setSyntheticFlag(1);
  p.setExtendedClassificationFlags(0x08);
  p.setScannerChannel(3);
  p.wavepacket.setIndex(255);
  ASSERT_TRUE(f.writer.writePoint(&p));
  EXPECT_EQ(f.close(), "-1,2,-3,65535,-12,2,7,31,200,65535,1,1,1,0,1,1,3,255,\n");
}

TEST(LASwriterTXT, PointNumbersCountFromOneAndFromZero) {
  Fixture f;
  ASSERT_TRUE(f.open("xMm"));
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.close(), "0.00 1 0\n0.00 2 1\n");
}

TEST(LASwriterTXT, ClassificationColumnTakesTheLas14ClassWhenTheLegacyOneIsZero) {
  // The column printed the LAS 1.4 class byte for every point, which a legacy
  // point does not fill.
  struct Case {
    uint8_t format;
    uint8_t legacy;
    uint8_t extended;
    const char* line;
  } cases[] = {{1, 7, 0, "7\n"}, {1, 0, 40, "0\n"}, {6, 0, 40, "40\n"}, {6, 3, 40, "3\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f(c.format);
    ASSERT_TRUE(f.open("c"));
    f.point.setClassification(c.legacy);
    f.point.setExtendedClassification(c.extended);
    if (c.format >= 6) f.point.setExtendedPointType(1);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), c.line);
  }
}

TEST(LASwriterTXT, WavePacketColumnPrintsTheWholeOffset) {
  // The offset was printed as its low 32 bits with "%d" and the size signed.
  struct Case {
    uint64_t offset;
    uint32_t size;
    const char* line;
  } cases[] = {
      {60, 88, "1,60,88,1000.5,0,0,1\n"},
      {0x100000005ull, 0xFFFFFFFFu, "1,4294967301,4294967295,1000.5,0,0,1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f(4);
    ASSERT_TRUE(f.open("W", "comma"));
    f.point.wavepacket.setIndex(1);
    f.point.wavepacket.setOffset(c.offset);
    f.point.wavepacket.setSize(c.size);
    f.point.wavepacket.setLocation(1000.5f);
    f.point.wavepacket.setZt(1.0f);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), c.line);
  }
}

TEST(LASwriterTXT, ColourColumnsAndTheirScale) {
  struct Case {
    float scale;
    const char* line;
  } cases[] = {{1.0f, "65535 256 0\n"}, {0.00390625f, "256.00 1.00 0.00\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f(2);
    ASSERT_TRUE(f.open("RGB"));
    f.writer.setScaleRgb(c.scale);
    f.point.setRgb(0, 65535);
    f.point.setRgb(1, 256);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), c.line);
  }
}

TEST(LASwriterTXT, ParseStringAndSeparatorErrors) {
  struct Case {
    const char* parse_string;
    const char* separator;
    std::string err;
  } cases[] = {
      {"xyz", "pipe", "ERROR: unknown seperator 'pipe'\n"},
      {"xyzq", nullptr, kHelp},
      {"xyz0", nullptr, "ERROR: extra bytes attribute '0' does not exist.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parse_string);
    Fixture f;
    EXPECT_FALSE(f.open(c.parse_string, c.separator));
    EXPECT_EQ(f.err, c.err);
    EXPECT_FALSE(f.writer.failed());
  }
  Fixture f;
  side_writer_test::makeHeader(f.header, 1);
  CaptureStderr();
  EXPECT_FALSE(f.writer.open(nullptr, &f.header, nullptr, nullptr));
  EXPECT_FALSE(f.writer.openFile(nullptr, &f.header, nullptr, nullptr));
  EXPECT_FALSE(f.writer.openFile("/nonexistent/dir/a.txt", &f.header, nullptr, nullptr));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: file pointer is zero\n"
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent/dir/a.txt'\n");
}

TEST(LASwriterTXT, PtsHeaderLine) {
  struct Case {
    bool record;
    uint8_t minor;
    const char* parse_string;
    const char* separator;
    std::string out;
    std::string err;
  } cases[] = {
      {false, 2, nullptr, nullptr, "1000       \n0.00 0.00 0.00 0.000000\n",
       "WARNING: found no VLR with PTS or PTX info.\n"},
      {true, 2, nullptr, nullptr, "1000       \n0.00 0.00 0.00 -2048\n", ""},
      {true, 4, "original", nullptr, "5000000000       \n0.00 0.00 0.00 -2048\n", ""},
      {true, 2, "xyzt", "comma", "1000       \n0.00,0.00,0.00,0.000000\n",
       "WARNING: the parse string for PTS should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n"
       "WARNING: the separator for PTS should be 'space' not 'comma'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    Fixture f;
    f.header.version_minor = c.minor;
    f.header.number_of_point_records = 1000;
    f.header.extended_number_of_point_records = 5000000000ull;
    if (c.record) addRecord(f.header, 2000, 32, "xyzi");
    f.writer.setPts(true);
    ASSERT_TRUE(f.open(c.parse_string, c.separator));
    EXPECT_EQ(f.err, c.err);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), c.out);  // the count line stays as it was at open
  }
}

// The count line of a PTS file the writer made kept the header's count at open
// ("0       " before six points): the file contradicted itself.
TEST(LASwriterTXT, PtsCountLineTellsThePointsWrittenInAFileItMade) {
  struct Case {
    bool ptx;         // PTX asked for, answered with PTS for want of a record
    uint8_t minor;    // 4: the count is the extended one
    uint32_t count;   // the header's at open
    int points;       // written
    int64_t counted;  // points_written at close, when not `points`
    std::string count_line;
    std::string err;  // at close
  } cases[] = {
      {false, 2, 0, 1, -1, "1       \n", ""},
      {false, 2, 1000, 3, -1, "3          \n", ""},
      {false, 4, 5, 2, -1, "2                \n", ""},  // 5000000005 at open
      {true, 2, 12, 1, -1, "1        \n", ""},
      {false, 2, 2, 2, -1, "2       \n", ""},  // equal: nothing to do
      // The line is as wide as the count at open and its seven spaces.
      {false, 2, 0, 0, 99999999, "99999999\n", ""},
      {false, 2, 0, 0, 100000000, "0       \n",
       "WARNING: cannot update PTS count line from 0 to 100000000 points.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count_line);
    const ScratchDir scratch;
    const std::string name = scratch.path("a.pts");
    Fixture f;
    f.header.version_minor = c.minor;
    f.header.number_of_point_records = c.count;
    f.header.extended_number_of_point_records = 5000000000ull + c.count;
    side_writer_test::layOut(f.point, f.header);
    f.writer.setPts(!c.ptx);
    f.writer.setPtx(c.ptx);
    CaptureStderr();
    ASSERT_TRUE(f.writer.openFile(name.c_str(), &f.header, "xyz", nullptr));
    GetCapturedStderr();
    std::string lines;
    for (int i = 0; i < c.points; i++) {
      ASSERT_TRUE(f.writer.writePoint(&f.point));
      lines += "0.00 0.00 0.00\n";
    }
    if (c.counted >= 0) f.writer.points_written = c.counted;
    CaptureStderr();
    EXPECT_EQ(f.writer.close(true), static_cast<int64_t>(c.count_line.size() + lines.size()));
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_FALSE(f.writer.failed());
    EXPECT_EQ(side_writer_test::fileText(name), c.count_line + lines);
  }
}

TEST(LASwriterTXT, PtsCountLineElsewhereStaysWithAWarning) {
  const std::string warning = "WARNING: cannot update PTS count line from 1000 to 1 points.\n";
  // A caller's FILE, seekable as it is, is the caller's.
  {
    Fixture f;
    f.header.number_of_point_records = 1000;
    f.writer.setPts(true);
    ASSERT_TRUE(f.open("xyz"));
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    CaptureStderr();
    EXPECT_EQ(f.close(), "1000       \n0.00 0.00 0.00\n");
    EXPECT_EQ(GetCapturedStderr(), warning);
  }
  // Standard output.
  {
    LASheader header;
    side_writer_test::makeHeader(header, 1);
    header.number_of_point_records = 1000;
    LASpointRecord point;
    side_writer_test::layOut(point, header);
    LASwriterTXT writer;
    writer.setPts(true);
    CaptureStdout();
    CaptureStderr();
    ASSERT_TRUE(writer.open(stdout, &header, "xyz", nullptr));
    ASSERT_TRUE(writer.writePoint(&point));
    writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "WARNING: found no VLR with PTS or PTX info.\n" + warning);
    EXPECT_EQ(GetCapturedStdout(), "1000       \n0.00 0.00 0.00\n");
  }
  // A file the writer made, then replaced: the line stays behind in it.
  {
    const ScratchDir scratch;
    const std::string name = scratch.path("a.pts");
    const std::string next = scratch.path("b.pts");
    Fixture f;
    f.header.number_of_point_records = 1000;
    side_writer_test::layOut(f.point, f.header);
    f.writer.setPts(true);
    CaptureStderr();
    ASSERT_TRUE(f.writer.openFile(name.c_str(), &f.header, "xyz", nullptr));
    GetCapturedStderr();
    FILE* replacement = std::fopen(next.c_str(), "w");  // the writer's from here on
    ASSERT_NE(replacement, nullptr);
    ASSERT_TRUE(f.writer.replaceFile(replacement));
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    CaptureStderr();
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), warning);
    EXPECT_EQ(side_writer_test::fileText(name), "1000       \n");
    EXPECT_EQ(side_writer_test::fileText(next), "0.00 0.00 0.00\n");
  }
}

// The descriptor through which this process has `path` open, or -1.
int descriptorOf(const std::string& path) {
  struct stat wanted;
  if (stat(path.c_str(), &wanted) != 0) return -1;
  for (int fd = 0; fd < 1024; fd++) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino) return fd;
  }
  return -1;
}

TEST(LASwriterTXT, PtsCountLineThatCannotBeRewrittenIsAFailure) {
  const ScratchDir scratch;
  const std::string name = scratch.path("a.pts");
  const std::string read_only = scratch.path("b.pts");
  FILE* made = std::fopen(read_only.c_str(), "w");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  Fixture f;
  side_writer_test::layOut(f.point, f.header);
  f.writer.setPts(true);
  CaptureStderr();
  ASSERT_TRUE(f.writer.openFile(name.c_str(), &f.header, "xyz", nullptr));
  GetCapturedStderr();
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  // The file's descriptor now reads another file: the lines still buffered,
  // flushed by the seek back to the count line, are refused.
  const int fd = descriptorOf(name);
  ASSERT_GE(fd, 0);
  const int other = ::open(read_only.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(dup2(other, fd), fd);
  ::close(other);
  CaptureStderr();
  f.writer.close(true);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot update the PTS count line to 1 points\n");
  EXPECT_TRUE(f.writer.failed());
}

TEST(LASwriterTXT, RecordParseStringIsReadWithinThePayload) {
  // A parse string filling the payload to its end was read past the payload.
  Fixture f;
  addRecord(f.header, 2000, 24, "xyz");  // too short: warned, not read
  addRecord(f.header, 2001, 32, "xyzixyzixyzixyzi");
  f.header.vlrs[0].record_id = 1999;  // leaves the 2001 record to PTS mode
  f.writer.setPts(true);
  ASSERT_TRUE(f.open(nullptr));
  EXPECT_STREQ(f.writer.getParseString(), "xyzixyzixyzixyzi");

  Fixture g;
  addRecord(g.header, 2000, 31, "xyzi");
  g.writer.setPts(true);
  ASSERT_TRUE(g.open(nullptr));
  EXPECT_EQ(g.err, "WARNING: found VLR for PTS with wrong payload size of 31.\n");
  EXPECT_STREQ(g.writer.getParseString(), "xyzt");
}

TEST(LASwriterTXT, PtxHeaderLines) {
  Fixture f;
  addPtxRecord(f.header);
  f.writer.setPtx(true);
  ASSERT_TRUE(f.open("original"));
  EXPECT_EQ(f.err, "");
  EXPECT_STREQ(f.writer.getParseString(), "xyzi");
  for (const uint16_t intensity : {2048, 4095, 0, 1}) {
    f.point.setIntensity(intensity);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
  }
  EXPECT_EQ(f.close(),
            "3     \n"
            "5     \n"
            "1.5 2.5 3.5\n"
            "4.5 5.5 6.5\n"
            "7.5 8.5 9.5\n"
            "10.5 11.5 12.5\n"
            "1 0 0 0\n"
            "0 1 0 0\n"
            "0 0 1 0\n"
            "100.25 -7 0.001 1\n"
            "0.00 0.00 0.00 0.5\n"
            "0.00 0.00 0.00 1\n"
            "0.00 0.00 0.00 0\n"
            "0.00 0.00 0.00 0\n");
}

TEST(LASwriterTXT, PtxWithoutUsableRecordFallsBackToPts) {
  // After announcing PTS the intensities were still scaled as PTX.
  struct Case {
    bool record;
    std::string err;
  } cases[] = {
      {true,
       "WARNING: found VLR for PTX with wrong payload size of 271.\n"
       "         outputting PTS instead ...\n"
       "WARNING: the parse string for PTX should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n"},
      {false,
       "WARNING: found no VLR with PTX info.\n"
       "         outputting PTS instead ...\n"
       "WARNING: the parse string for PTX should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Fixture f;
    f.header.number_of_point_records = 12;
    if (c.record) addRecord(f.header, 2001, 271, "xyzi");
    f.writer.setPtx(true);
    ASSERT_TRUE(f.open("original"));
    EXPECT_EQ(f.err, c.err);
    EXPECT_STREQ(f.writer.getParseString(), "original");
    f.point.setIntensity(2048);
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.close(), "12       \n0 1 0 0 0 1 0 0\n");  // o r i g i n a l
  }
}

TEST(LASwriterTXT, SeparatorWarningNamesTheSeparatorInForce) {
  // Reopened without a separator name, the warning printed a null name.
  Fixture f;
  ASSERT_TRUE(f.open("xyz", "dot"));
  f.writer.close(true);
  f.writer.setPts(true);
  ASSERT_TRUE(f.open("xyz", nullptr));
  EXPECT_EQ(f.err,
            "WARNING: found no VLR with PTS or PTX info.\n"
            "WARNING: the separator for PTS should be 'space' not 'dot'\n");
}

TEST(LASwriterTXT, ExtraBytesAttributes) {
  Fixture f;
  addAttributes(f.header,
                {{"a", 9, 0, 4},
                 {"b", 9, 0, 4},
                 {"c", 5, 4, 4},
                 {"d", 2, 8, 1},
                 {"e", 7, 9, 8},
                 {"f", 6, 13, 4}},
                14);
  LASextraAttribute* a = f.header.attribute_descriptors;
  a[0].options = 0x08;
  a[0].scale[0] = 0.1;
  a[1].options = 0x10;
  a[1].offset[0] = 100.0;
  ASSERT_TRUE(f.open("0123s45"));
  ASSERT_EQ(f.point.extra_bytes_size, 14);
  putF32LE(f.point.extra_bytes, 25.0f);
  putU32LE(f.point.extra_bytes + 4, 4000000000u);
  f.point.extra_bytes[8] = 0x80;
  CaptureStderr();
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(GetCapturedStderr(), "WARNING: attribute 4 not (yet) implemented.\n");
  // The U32 printed with "%d" came out negative; attribute 5's bytes 13-16 lie
  // past the 14 extra bytes and were read anyway: its column stays empty.
  EXPECT_EQ(f.close(), "2.5 125 4000000000 -128   \n");
}

TEST(LASwriterTXT, PointsAfterAnOpenThatFailedEarlyAreRefused) {
  // writePoint after an open that failed before the parse string (or the
  // header) was settled read a parse string that was never set, and crashed.
  struct Case {
    const char* separator;
    bool header;
    const char* err;
  } cases[] = {{"pipe", true, "ERROR: unknown seperator 'pipe'\n"},
               {nullptr, false, "ERROR: LASheader pointer is zero\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Fixture f;
    side_writer_test::layOut(f.point, f.header);
    ASSERT_TRUE(f.writer.open(f.file, &f.header, "xyz", nullptr));  // a header from before
    f.writer.close(true);
    CaptureStderr();
    EXPECT_FALSE(f.writer.open(f.file, c.header ? &f.header : nullptr, nullptr, c.separator));
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.writer.points_written, 0);
    EXPECT_EQ(f.close(), "");
  }
}

TEST(LASwriterTXT, ByteCountAndLifecycle) {
  Fixture f;
  ASSERT_TRUE(f.open("X"));
  f.point.setX(12345);
  ASSERT_TRUE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.close(true), 6);
  EXPECT_EQ(f.writer.close(true), 0);
  EXPECT_FALSE(f.writer.writePoint(&f.point));
  EXPECT_EQ(f.writer.getParseString(), nullptr);
  EXPECT_EQ(readAll(f.file), "12345\n");  // the caller's FILE stays open

  // A pipe has no position: the count shows all 32 bits set, and nothing failed.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* out = fdopen(fds[1], "w");
  ASSERT_NE(out, nullptr);
  LASwriterTXT piped;
  ASSERT_TRUE(piped.open(out, &f.header, "X", nullptr));
  ASSERT_TRUE(piped.writePoint(&f.point));
  EXPECT_EQ(piped.close(true), 4294967295);
  EXPECT_FALSE(piped.failed());
  std::fclose(out);
  char buffer[16] = {};
  EXPECT_EQ(read(fds[0], buffer, sizeof(buffer)), 6);
  EXPECT_STREQ(buffer, "12345\n");
  ::close(fds[0]);
}

TEST(LASwriterTXT, FailedWritesNameWhatFailed) {
  {
    FILE* read_only = std::fopen("/dev/null", "r");
    ASSERT_NE(read_only, nullptr);
    LASheader header;
    side_writer_test::makeHeader(header, 1);
    for (const bool pts : {true, false}) {
      LASwriterTXT writer;
      writer.setPts(pts);
      writer.setPtx(!pts);
      CaptureStderr();
      EXPECT_FALSE(writer.open(read_only, &header, "xyz", nullptr));
      EXPECT_EQ(GetCapturedStderr(),
                std::string(pts ? "WARNING: found no VLR with PTS or PTX info.\n"
                                  "ERROR: cannot write the PTS header\n"
                                : "WARNING: found no VLR with PTX info.\n"
                                  "         outputting PTS instead ...\n"
                                  "ERROR: cannot write the PTX header\n"));
      EXPECT_TRUE(writer.failed());
      writer.close(true);
    }
    std::fclose(read_only);
  }
  {
    std::string memory(8, '\0');
    FILE* small = fmemopen(memory.data(), memory.size(), "w");
    ASSERT_NE(small, nullptr);
    std::setvbuf(small, nullptr, _IONBF, 0);
    Fixture f;
    side_writer_test::layOut(f.point, f.header);
    CaptureStderr();
    ASSERT_TRUE(f.writer.open(small, &f.header, "xyz", nullptr));
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_FALSE(f.writer.writePoint(&f.point));
    EXPECT_EQ(f.writer.points_written, 0);
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write point 1 as text\n");
    EXPECT_TRUE(f.writer.failed());
    std::fclose(small);
  }
  {
    Fixture f;
    side_writer_test::layOut(f.point, f.header);
    CaptureStderr();
    ASSERT_TRUE(f.writer.openFile("/dev/full", &f.header, nullptr, nullptr));
    ASSERT_TRUE(f.writer.writePoint(&f.point));
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot close the text output\n");
    EXPECT_TRUE(f.writer.failed());
  }
}

}  // namespace
