// Tests of the VRML writer and formatByScale: the exact text with and without
// colours, which point formats and parse strings give colours, the growth of the
// colour buffer, number formatting by scale, and the failure lines.
#include "morrowtide/las/las_writer_wrl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/las/side_writer_test_support.h"

using morrowtide::kNumberBufferSize;

namespace {

using side_writer_test::readAll;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const std::string kVrmlHeader = "#VRML V2.0 utf8\n";
const std::string kAppearance =
    "\tappearance Appearance {\n"
    "\t\tmaterial Material {\n"
    "\t\t\temissiveColor .5 .2 .7\n"
    "\t\t}\n"
    "\t}\n";
const std::string kGeometry =
    "\tgeometry PointSet {\n"
    "\t\tcoord Coordinate {\n"
    "\t\t\tpoint [\n";
const std::string kPointsEnd = "\t\t\t]\n\t\t}\n";
const std::string kEnd = "\t}\n}\n";

// Point format `format` at scale 0.01 with offsets 500000, 4100000, 0.
struct Fixture {
  explicit Fixture(uint8_t format) {
    side_writer_test::makeHeader(header, format);
    header.x_offset = 500000.0;
    header.y_offset = 4100000.0;
    side_writer_test::layOut(point, header);
    file = std::tmpfile();
  }
  ~Fixture() {
    writer.close(true);  // before the FILE it may write to goes
    std::fclose(file);
  }
  bool open(const char* parse_string = nullptr) { return writer.open(file, &header, parse_string); }
  bool write(int32_t x, int32_t y, int32_t z, uint16_t r = 0, uint16_t g = 0, uint16_t b = 0) {
    point.setX(x);
    point.setY(y);
    point.setZ(z);
    point.setRgb(0, r);
    point.setRgb(1, g);
    point.setRgb(2, b);
    return writer.writePoint(&point);
  }
  std::string text() { return readAll(file); }

  LASheader header;
  LASpointRecord point;
  FILE* file;
  LASwriterWRL writer;
};

TEST(LASwriterWRL, PointsWithoutColourAreExact) {
  // The material field was written "emmissiveColor", which strict VRML97
  // viewers reject.
  Fixture f(1);
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.write(123, 250, 700));
  ASSERT_TRUE(f.write(-5, 0, -1));
  const std::string expected = kVrmlHeader + "Shape {\n" + kAppearance + kGeometry +
                               "500001.23 4100002.50 7.00\n"
                               "499999.95 4100000.00 -0.01\n" +
                               kPointsEnd + kEnd;
  EXPECT_EQ(f.writer.close(true), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(f.text(), expected);
  EXPECT_EQ(f.writer.expected_points, 2);
  EXPECT_FALSE(f.writer.failed());
}

TEST(LASwriterWRL, OutputStartsWithTheVrmlHeaderLine) {
  // The file started with "Shape {", and a VRML97 file must start with its
  // header line: viewers refused it.
  const std::string shape =
      "Shape {\n" + kAppearance + kGeometry + "500001.23 4100002.50 7.00\n" + kPointsEnd + kEnd;
  {
    const ScratchDir scratch;
    const std::string name = scratch.path("a.wrl");
    Fixture f(1);
    ASSERT_TRUE(f.writer.openFile(name.c_str(), &f.header, nullptr));
    ASSERT_TRUE(f.write(123, 250, 700));
    EXPECT_EQ(f.writer.close(true), static_cast<int64_t>(kVrmlHeader.size() + shape.size()));
    EXPECT_EQ(side_writer_test::fileText(name), kVrmlHeader + shape);
  }
  // A FILE that already holds bytes goes on after them with the Shape alone.
  {
    const std::string before = "#VRML V2.0 utf8\n# the caller's lines\n";
    Fixture f(1);
    std::fputs(before.c_str(), f.file);
    ASSERT_TRUE(f.open());
    ASSERT_TRUE(f.write(123, 250, 700));
    EXPECT_EQ(f.writer.close(true), static_cast<int64_t>(before.size() + shape.size()));
    EXPECT_EQ(f.text(), before + shape);
  }
  // A pipe has no position: nothing can come before, so the line is written.
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* out = fdopen(fds[1], "w");
    ASSERT_NE(out, nullptr);
    Fixture f(1);
    ASSERT_TRUE(f.writer.open(out, &f.header, nullptr));
    ASSERT_TRUE(f.write(123, 250, 700));
    EXPECT_EQ(f.writer.close(true), -1);
    std::fclose(out);
    std::string piped(kVrmlHeader.size() + shape.size() + 1, '\0');
    EXPECT_EQ(read(fds[0], piped.data(), piped.size()), static_cast<ssize_t>(piped.size() - 1));
    ::close(fds[0]);
    EXPECT_EQ(piped.substr(0, piped.size() - 1), kVrmlHeader + shape);
  }
}

TEST(LASwriterWRL, ColoursFollowThePointsInAColorNode) {
  Fixture f(3);
  ASSERT_TRUE(f.open());
  ASSERT_TRUE(f.write(0, 0, 0, 65535, 0, 256));
  ASSERT_TRUE(f.write(0, 0, 0, 255, 128, 1));
  f.writer.close(true);
  EXPECT_EQ(f.text(), kVrmlHeader + "Shape {\n" + kGeometry +
                          "500000.00 4100000.00 0.00\n"
                          "500000.00 4100000.00 0.00\n" +
                          kPointsEnd +
                          "\t\tcolor Color {\n"
                          "\t\t\tcolor [\n"
                          "1.00 0.00 0.00\n"
                          "1.00 0.50 0.00\n"
                          "\t\t\t]\n"
                          "\t\t}\n" +
                          kEnd);
}

TEST(LASwriterWRL, ColourBufferDoublesWhenFull) {
  Fixture f(2);
  ASSERT_TRUE(f.open());
  EXPECT_EQ(f.writer.rgbCapacity(), 1024u);
  for (int i = 0; i < 1024; i++) ASSERT_TRUE(f.write(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(f.writer.rgbCapacity(), 1024u);
  ASSERT_TRUE(f.write(0, 0, 0, 0, 0xFF00, 0));
  EXPECT_EQ(f.writer.rgbCapacity(), 2048u);
  f.writer.close(true);
  const std::string text = f.text();
  EXPECT_NE(text.find("0.00 0.00 0.00\n0.00 1.00 0.00\n\t\t\t]\n"), std::string::npos);
}

TEST(LASwriterWRL, WhichPointsGetColours) {
  struct Case {
    uint8_t format;
    const char* parse_string;
    bool colours;
    const char* err;
  } cases[] = {
      {2, nullptr, true, ""},
      {5, "xyzRGB", true, ""},
      {7, nullptr, false, ""},  // LAS 1.4 formats with colour are not taken
      {2, "xyz", false, ""},
      {1, nullptr, false, ""},
      {1, "RGB", false, "WARNING: points do not have RGB colors\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int{c.format} << " " << (c.parse_string ? c.parse_string : "null"));
    Fixture f(c.format);
    CaptureStderr();
    ASSERT_TRUE(f.open(c.parse_string));
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_EQ(f.writer.rgbCapacity() != 0, c.colours);
    f.writer.close(true);
    const std::string text = f.text();
    EXPECT_EQ(text.find("appearance") == std::string::npos, c.colours);
    EXPECT_EQ(text.find("color Color") != std::string::npos, c.colours);
  }
}

TEST(FormatByScale, DecimalsFollowTheScale) {
  struct Case {
    double value, scale;
    const char* text;
  } cases[] = {
      {12.5, 0.001, "12.500"},
      {12.5, 0.5, "12.5"},
      {7.0, 1.0, "7"},
      {-0.25, 0.25, "-0.25"},
      {3.1, 0.002, "3.1"},
      {1.0, 0.1, "1.0"},
      {1.0, 1e-09, "1.000000000"},
      {100.0, 0.02, "100"},
      {0.0, 3.0, "0"},
      {1e22, 1.0, "10000000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    char buffer[kNumberBufferSize];
    formatByScale(buffer, c.value, c.scale);
    EXPECT_STREQ(buffer, c.text);
  }
}

TEST(LASwriterWRL, FailedWritesNameWhatFailed) {
  // A read-only FILE refuses the opening text.
  {
    FILE* read_only = std::fopen("/dev/null", "r");
    ASSERT_NE(read_only, nullptr);
    Fixture f(1);
    CaptureStderr();
    EXPECT_FALSE(f.writer.open(read_only, &f.header, nullptr));
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write the VRML opening text\n");
    EXPECT_TRUE(f.writer.failed());
    std::fclose(read_only);
  }
  // An unbuffered memory FILE with room for the opening text only.
  {
    const std::string opening = kVrmlHeader + "Shape {\n" + kAppearance + kGeometry;
    std::string memory(opening.size() + 4, '\0');
    FILE* small = fmemopen(memory.data(), memory.size(), "w");
    ASSERT_NE(small, nullptr);
    std::setvbuf(small, nullptr, _IONBF, 0);
    Fixture f(1);
    CaptureStderr();
    ASSERT_TRUE(f.writer.open(small, &f.header, nullptr));
    EXPECT_FALSE(f.write(1, 2, 3));
    EXPECT_EQ(f.writer.points_written, 0);
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot write point 1 as VRML\n");
    EXPECT_TRUE(f.writer.failed());
    std::fclose(small);
  }
  // A full device fails when the buffered text goes out at close.
  {
    Fixture f(1);
    CaptureStderr();
    ASSERT_TRUE(f.writer.openFile("/dev/full", &f.header, nullptr));
    ASSERT_TRUE(f.write(1, 2, 3));
    f.writer.close(true);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot close the VRML output\n");
    EXPECT_TRUE(f.writer.failed());
  }
}

TEST(LASwriterWRL, OpenFailuresAndLifecycle) {
  Fixture f(1);
  CaptureStderr();
  EXPECT_EQ(f.writer.close(true), 0);  // never opened: nothing written
  EXPECT_FALSE(f.writer.openFile(nullptr, &f.header, nullptr));
  EXPECT_FALSE(f.writer.openFile("/nonexistent/dir/a.wrl", &f.header, nullptr));
  EXPECT_FALSE(f.writer.open(nullptr, &f.header, nullptr));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent/dir/a.wrl'\n"
            "ERROR: file pointer is zero\n");
  EXPECT_EQ(f.text(), "");

  ASSERT_TRUE(f.open());
  EXPECT_GT(f.writer.close(true), 0);
  EXPECT_FALSE(f.write(1, 2, 3));
  EXPECT_EQ(f.writer.close(true), 0);
  EXPECT_EQ(f.text(), kVrmlHeader + "Shape {\n" + kAppearance + kGeometry + kPointsEnd + kEnd);
}

}  // namespace
