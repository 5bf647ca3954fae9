#include "morrowtide/las/las_histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Writable copies of command-line arguments, as argv.
class Args {
 public:
  Args(std::initializer_list<const char*> args) {
    for (const char* a : args) storage_.emplace_back(a, a + std::strlen(a) + 1);
    for (auto& s : storage_) argv_.push_back(s.data());
  }
  int32_t argc() const { return static_cast<int32_t>(argv_.size()); }
  char** argv() { return argv_.data(); }
  std::string operator[](size_t i) const { return argv_[i]; }

 private:
  std::vector<std::vector<char>> storage_;
  std::vector<char*> argv_;
};

std::string reportOf(const LAShistogram& h) {
  char* text = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&text, &size);
  EXPECT_TRUE(h.report(file));
  std::fclose(file);
  std::string s(text, size);
  std::free(text);
  return s;
}

// The slots filled, in order.
std::vector<int> filled(const LAShistogram& h) {
  std::vector<int> slots;
  for (int i = 0; i < LAShistogram::kSlots; i++) {
    if (h.bins[i]) slots.push_back(i);
  }
  return slots;
}

TEST(LAShistogramParse, ConsumesHistogramOptionsAndLeavesTheRest) {
  Args args{"prog", "-i", "-histo", "z", "0.5", "-histo_avg", "return_map", "5", "intensity", "-o"};
  LAShistogram h;
  EXPECT_FALSE(h.active);
  EXPECT_TRUE(h.parse(args.argc(), args.argv()));
  EXPECT_TRUE(h.active);
  EXPECT_EQ(filled(h), (std::vector<int>{2, 39}));
  EXPECT_EQ(h.bins[2]->getStep(), 0.5);
  EXPECT_EQ(h.bins[39]->getStep(), 1.0);  // the return map ignores its step
  const std::vector<std::string> left = {"prog", "-i", "", "", "", "", "", "", "", "-o"};
  for (size_t i = 0; i < left.size(); i++) EXPECT_EQ(args[i], left[i]) << i;
  EXPECT_EQ(reportOf(h),
            "z coordinate histogram with bin size 0.500000\n"
            "return map histogram with bin size 1.000000\n");
}

TEST(LAShistogramParse, HelpStopsParsingAfterWhatWasConsumed) {
  Args args{"prog", "-histo", "x", "1", "-help", "-histo", "y", "abc"};
  LAShistogram h;
  EXPECT_TRUE(h.parse(args.argc(), args.argv()));
  EXPECT_EQ(filled(h), (std::vector<int>{0}));
  EXPECT_EQ(args[1] + args[2] + args[3], "");
  EXPECT_EQ(args[5], "-histo");
}

TEST(LAShistogramParse, RefusesMissingArgumentsAndInvalidSteps) {
  // A step of 0, below 0 or not finite was accepted and made bins of width
  // 0 (every value in one saturated bin) or mirrored ones.
  struct Case {
    std::vector<const char*> args;
    const char* message;
  };
  const Case cases[] = {
      {{"-histo", "z"}, "ERROR: '-histo' needs 2 arguments: name step\n"},
      {{"-histo", "z", "abc"},
       "ERROR: '-histo' needs 2 arguments: name step but 'abc' is no valid step\n"},
      {{"-histo", "z", "0"},
       "ERROR: '-histo' needs 2 arguments: name step but '0' is no valid step\n"},
      {{"-histo", "z", "-1"},
       "ERROR: '-histo' needs 2 arguments: name step but '-1' is no valid step\n"},
      {{"-histo", "z", "inf"},
       "ERROR: '-histo' needs 2 arguments: name step but 'inf' is no valid step\n"},
      {{"-histo", "z", "nan"},
       "ERROR: '-histo' needs 2 arguments: name step but 'nan' is no valid step\n"},
      {{"-histo_avg", "scan_angle", "1"},
       "ERROR: '-histo_avg' needs 3 arguments: name step name_avg\n"},
      {{"-histo_avg", "scan_angle", "x", "z"},
       "ERROR: '-histo_avg' needs 3 arguments: name step name_avg but 'x' is no valid step\n"},
      {{"-histo_avg", "scan_angle", "0", "z"},
       "ERROR: '-histo_avg' needs 3 arguments: name step name_avg but '0' is no valid step\n"},
      {{"-histo", "gps", "1"}, "ERROR: histogram of 'gps' not implemented\n"},
      {{"-histo_avg", "intensity", "1", "z"}, "ERROR: histogram of 'intensity' not implemented\n"},
      {{"-histo_avg", "scan_angle", "1", "gps_time"},
       "ERROR: histogram of 'scan_angle' with 'gps_time' averages not implemented\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> copies = {"prog"};
    for (const char* a : c.args) copies.push_back(a);
    std::vector<char*> argv;
    for (auto& s : copies) argv.push_back(&s[0]);
    LAShistogram h;
    CaptureStderr();
    EXPECT_FALSE(h.parse(static_cast<int32_t>(argv.size()), argv.data()));
    EXPECT_EQ(GetCapturedStderr(), c.message);
    EXPECT_TRUE(filled(h).empty());
  }
}

TEST(LAShistogramParse, ArgumentsConsumedBeforeAFailureStayBlank) {
  Args args{"prog", "-histo", "x", "1", "-histo", "nothing", "1"};
  LAShistogram h;
  CaptureStderr();
  EXPECT_FALSE(h.parse(args.argc(), args.argv()));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: histogram of 'nothing' not implemented\n");
  EXPECT_EQ(args[1] + args[2] + args[3], "");
  EXPECT_EQ(args[4], "-histo");
}

TEST(LAShistogramHisto, NamesSelectTheirSlots) {
  struct Case {
    const char* name;
    int slot;
  };
  const Case cases[] = {
      {"x", 0},
      {"Z", 5},
      {"intensity", 6},
      {"classification", 7},
      {"scan_angle", 8},
      {"extended_scan_angle", 9},
      {"my_scan_angle_deg", 8},
      {"return_number", 10},
      {"number_of_returns", 11},
      {"user_data", 12},
      {"point_source_ID", 13},
      {"my_gps_time", 14},
      {"scanner_channel", 15},
      {"I", 19},
      {"attribute3", 23},
      {"3", 23},
      {"0", 20},
      {"attribute9", 29},
      {"wavepacket_index", 30},
      {"wavepacket_location", 33},
  };
  for (const Case& c : cases) {
    LAShistogram h;
    EXPECT_TRUE(h.histo(c.name, 2.0)) << c.name;
    EXPECT_EQ(filled(h), std::vector<int>{c.slot}) << c.name;
  }
  LAShistogram h;
  CaptureStderr();
  EXPECT_FALSE(h.histo("10", 1.0));
  EXPECT_FALSE(h.histo("xyz", 1.0));  // exact names are not substrings
  EXPECT_FALSE(h.histo("x", 0.0));    // called directly: the step is checked too
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: histogram of '10' not implemented\n"
            "ERROR: histogram of 'xyz' not implemented\n"
            "ERROR: histogram of 'x' needs a finite step above 0, not 0\n");
  EXPECT_FALSE(h.active);
}

TEST(LAShistogramHisto, AveragesPairsSelectTheirSlots) {
  struct Case {
    const char* name;
    const char* name_avg;
    int slot;
  };
  const Case cases[] = {
      {"classification", "intensity", 34},
      {"classification", "my_scan_angle", 35},
      {"scan_angle", "z", 36},
      {"scan_angle", "number_of_returns", 37},
      {"scan_angle", "intensity", 38},
      {"return_map", "intensity", 39},
  };
  for (const Case& c : cases) {
    LAShistogram h;
    EXPECT_TRUE(h.histoAvg(c.name, 0.5, c.name_avg)) << c.name << " " << c.name_avg;
    EXPECT_EQ(filled(h), std::vector<int>{c.slot});
  }
}

TEST(LAShistogramUnparse, WritesThePlainSlotsOnlyAndCanBeBounded) {
  LAShistogram h;
  char text[64];
  std::memset(text, '#', sizeof(text));
  EXPECT_EQ(h.unparse(text, sizeof(text)), 0);
  EXPECT_EQ(text[0], '#');  // untouched
  ASSERT_TRUE(h.histo("x", 0.5));
  ASSERT_TRUE(h.histoAvg("classification", 1.0, "intensity"));
  EXPECT_EQ(h.unparse(text, sizeof(text)), 18);
  EXPECT_STREQ(text, "-histo x 0.500000 ");
  ASSERT_TRUE(h.histo("3", 2.0));
  ASSERT_TRUE(h.histo("my_gps_time", 0.25));
  EXPECT_EQ(h.unparse(text, sizeof(text)), 70);
  EXPECT_STREQ(text, "-histo x 0.500000 -histo gps_time 0.250000 -histo attribute3 2.");
  // The text ends where the buffer does; the length of the whole is returned.
  char small[10];
  EXPECT_EQ(h.unparse(small, sizeof(small)), 70);
  EXPECT_STREQ(small, "-histo x ");
}

TEST(LAShistogramReport, EverySlotHasItsTitleAndItsUnparseText) {
  // Each plain slot once, by the name unparse writes back: unparse lists them in
  // slot order, and the report prints each title (no bins, nothing added).
  const char* const names[] = {"x",
                               "y",
                               "z",
                               "X",
                               "Y",
                               "Z",
                               "intensity",
                               "classification",
                               "scan_angle",
                               "extended_scan_angle",
                               "return_number",
                               "number_of_returns",
                               "user_data",
                               "point_source",
                               "gps_time",
                               "scanner_channel",
                               "R",
                               "G",
                               "B",
                               "I",
                               "attribute0",
                               "attribute1",
                               "attribute2",
                               "attribute3",
                               "attribute4",
                               "attribute5",
                               "attribute6",
                               "attribute7",
                               "attribute8",
                               "attribute9",
                               "wavepacket_index",
                               "wavepacket_offset",
                               "wavepacket_size",
                               "wavepacket_location"};
  LAShistogram h;
  for (const char* name : names) ASSERT_TRUE(h.histo(name, 0.5)) << name;
  ASSERT_TRUE(h.histoAvg("classification", 0.5, "intensity"));
  ASSERT_TRUE(h.histoAvg("classification", 0.5, "scan_angle"));
  ASSERT_TRUE(h.histoAvg("scan_angle", 0.5, "z"));
  ASSERT_TRUE(h.histoAvg("scan_angle", 0.5, "number_of_returns"));
  ASSERT_TRUE(h.histoAvg("scan_angle", 0.5, "intensity"));
  ASSERT_TRUE(h.histoAvg("return_map", 0.5, "intensity"));
  std::string expected_options;
  for (const char* name : names) expected_options += std::string("-histo ") + name + " 0.500000 ";
  std::vector<char> text(4096);
  EXPECT_EQ(h.unparse(text.data(), text.size()), static_cast<int32_t>(expected_options.size()));
  EXPECT_EQ(std::string(text.data()), expected_options);
  // An averages histogram with no value added has no sums yet: its title is
  // the plain one.
  EXPECT_EQ(reportOf(h),
            "x coordinate histogram with bin size 0.500000\n"
            "y coordinate histogram with bin size 0.500000\n"
            "z coordinate histogram with bin size 0.500000\n"
            "raw integer X coordinate histogram with bin size 0.500000\n"
            "raw integer Y coordinate histogram with bin size 0.500000\n"
            "raw integer Z coordinate histogram with bin size 0.500000\n"
            "intensity histogram with bin size 0.500000\n"
            "classification histogram with bin size 0.500000\n"
            "scan angle histogram with bin size 0.500000\n"
            "extended scan angle histogram with bin size 0.500000\n"
            "return_number histogram with bin size 0.500000\n"
            "number_of_returns histogram with bin size 0.500000\n"
            "user data histogram with bin size 0.500000\n"
            "point source id histogram with bin size 0.500000\n"
            "gps_time histogram with bin size 0.500000\n"
            "scanner channel histogram with bin size 0.500000\n"
            "color R channel histogram with bin size 0.500000\n"
            "color G channel histogram with bin size 0.500000\n"
            "color B channel histogram with bin size 0.500000\n"
            "color I channel histogram with bin size 0.500000\n"
            "attribute 0 histogram with bin size 0.500000\n"
            "attribute 1 histogram with bin size 0.500000\n"
            "attribute 2 histogram with bin size 0.500000\n"
            "attribute 3 histogram with bin size 0.500000\n"
            "attribute 4 histogram with bin size 0.500000\n"
            "attribute 5 histogram with bin size 0.500000\n"
            "attribute 6 histogram with bin size 0.500000\n"
            "attribute 7 histogram with bin size 0.500000\n"
            "attribute 8 histogram with bin size 0.500000\n"
            "attribute 9 histogram with bin size 0.500000\n"
            "wavepacket_index histogram with bin size 0.500000\n"
            "wavepacket_offset histogram with bin size 0.500000\n"
            "wavepacket_size histogram with bin size 0.500000\n"
            "wavepacket_location histogram with bin size 0.500000\n"
            "classification histogram with bin size 0.500000\n"
            "classification histogram with bin size 0.500000\n"
            "scan angle histogram with bin size 0.500000\n"
            "scan_angle histogram with bin size 0.500000\n"
            "scan angle histogram with bin size 0.500000\n"
            "return map histogram with bin size 1.000000\n");
  // Once a value is added, the averages titles name their averaged value.
  LASscaleOffset scale_offset;
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(&scale_offset, 0, 20, nullptr));
  LAShistogram averages;
  ASSERT_TRUE(averages.histoAvg("classification", 1.0, "my_scan_angle"));
  ASSERT_TRUE(averages.histoAvg("scan_angle", 1.0, "number_of_returns"));
  averages.add(&p);
  EXPECT_EQ(reportOf(averages),
            "classification histogram of scan_angle averages with bin size 1.000000\n"
            "  bin 0 has average 0 (of 1)\n"
            "  average classification 0 for 1 element(s)\n"
            "scan_angle histogram of number_of_returns averages with bin size 1.000000\n"
            "  bin 0 has average 1 (of 1)\n"
            "  average scan_angle 0 for 1 element(s)\n");
}

TEST(LAShistogramAddWavepacket, SizesOf2To31AndAboveStayPositive) {
  // The U32 wave packet size was binned as an I32: a size of 3,000,000,000
  // became -1,294,967,296 and landed in a negative bin.
  LASscaleOffset scale_offset;
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(&scale_offset, 4, 57, nullptr));
  LAShistogram h;
  ASSERT_TRUE(h.histo("wavepacket_size", 1073741824.0));
  p.wavepacket.setSize(10);
  h.add(&p);
  p.wavepacket.setSize(3000000000u);
  h.add(&p);
  EXPECT_EQ(reportOf(h),
            "wavepacket_size histogram with bin size 1073741824.000000\n"
            "  bin [0,1073741824) has 1\n"
            "  bin [2147483648,3221225472) has 1\n"
            "  average wavepacket_size 1500000005 for 2 element(s)\n");
}

// Points to feed: a legacy format 1 point and a LAS 1.4 format 6 point with a
// z scale of 0.01.
class LAShistogramAdd : public testing::Test {
 protected:
  void SetUp() override {
    scale_offset.x_scale_factor = scale_offset.y_scale_factor = scale_offset.z_scale_factor = 0.01;
    ASSERT_TRUE(legacy.initFromFormat(&scale_offset, 1, 28, nullptr));
    ASSERT_TRUE(las14.initFromFormat(&scale_offset, 6, 30, nullptr));
  }
  LASscaleOffset scale_offset;
  LASpointRecord legacy, las14;
  LAShistogram h;
};

TEST_F(LAShistogramAdd, ScanAnglesScaledZAndReturnMapCodes) {
  ASSERT_TRUE(h.histo("scan_angle", 1.0));
  ASSERT_TRUE(h.histoAvg("scan_angle", 1.0, "z"));
  ASSERT_TRUE(h.histoAvg("return_map", 1.0, "intensity"));
  las14.setExtendedScanAngle(-1500);  // -9 degrees
  las14.setZ(250);
  las14.setExtendedReturnNumber(2);
  las14.setExtendedNumberOfReturns(3);
  las14.setIntensity(10);
  h.add(&las14);
  legacy.setScanAngleRank(-12);
  legacy.setZ(-100);
  legacy.setReturnNumber(2);
  legacy.setNumberOfReturns(3);
  legacy.setIntensity(30);
  h.add(&legacy);
  legacy.setNumberOfReturns(6);
  legacy.setIntensity(7);
  h.add(&legacy);
  EXPECT_EQ(reportOf(h),
            "scan angle histogram with bin size 1.000000\n"
            "  bin -12 has 2\n"
            "  bin -9 has 1\n"
            "  average scan angle -11 for 3 element(s)\n"
            "scan angle histogram of z coordinate averages with bin size 1.000000\n"
            "  bin -12 has average -1 (of 2)\n"
            "  bin -9 has average 2.5 (of 1)\n"
            "  average scan angle -11 for 3 element(s)\n"
            "return map histogram of intensity averages with bin size 1.000000\n"
            "  bin 4 has average 20 (of 2)\n"
            "  bin 15 has average 7 (of 1)\n"
            "  average return map 7.666666666666667 for 3 element(s)\n");
}

TEST_F(LAShistogramAdd, LAS14PointsAreBinnedByTheOneClassAndReturnsRule) {
  // LAS 1.4 points with a 5-bit class of 0 were binned as class 0, and their
  // returns were read from the 3-bit legacy fields; legacy points averaged the
  // 4-bit LAS 1.4 number of returns, which they do not carry.
  ASSERT_TRUE(h.histo("classification", 1.0));
  ASSERT_TRUE(h.histo("return_number", 1.0));
  ASSERT_TRUE(h.histo("number_of_returns", 1.0));
  ASSERT_TRUE(h.histoAvg("classification", 1.0, "intensity"));
  ASSERT_TRUE(h.histoAvg("scan_angle", 1.0, "number_of_returns"));
  ASSERT_TRUE(h.histoAvg("return_map", 1.0, "intensity"));
  las14.setClassification(0);
  las14.setExtendedClassification(40);
  las14.setReturnNumber(1), las14.setNumberOfReturns(1);
  las14.setExtendedReturnNumber(9), las14.setExtendedNumberOfReturns(12);
  las14.setIntensity(100);
  h.add(&las14);
  legacy.setClassification(2);
  legacy.setReturnNumber(2), legacy.setNumberOfReturns(2);
  legacy.setExtendedNumberOfReturns(9);
  legacy.setIntensity(50);
  h.add(&legacy);
  EXPECT_EQ(reportOf(h),
            "classification histogram with bin size 1.000000\n"
            "  bin 2 has 1\n  bin 40 has 1\n"
            "  average classification 21 for 2 element(s)\n"
            "return_number histogram with bin size 1.000000\n"
            "  bin 2 has 1\n  bin 9 has 1\n"
            "  average return_number 5.5 for 2 element(s)\n"
            "number_of_returns histogram with bin size 1.000000\n"
            "  bin 2 has 1\n  bin 12 has 1\n"
            "  average number_of_returns 7 for 2 element(s)\n"
            "classification histogram of intensity averages with bin size 1.000000\n"
            "  bin 2 has average 50 (of 1)\n  bin 40 has average 100 (of 1)\n"
            "  average classification 21 for 2 element(s)\n"
            "scan_angle histogram of number_of_returns averages with bin size 1.000000\n"
            "  bin 0 has average 7 (of 2)\n"
            "  average scan_angle 0 for 2 element(s)\n"
            "return map histogram of intensity averages with bin size 1.000000\n"
            "  bin 2 has average 50 (of 1)\n  bin 15 has average 100 (of 1)\n"
            "  average return map 8.5 for 2 element(s)\n");
}

TEST_F(LAShistogramAdd, AttributesReadInsideTheExtraBytesOrCountAsZero) {
  // An attribute whose offset lay past the point's extra bytes was read from
  // beyond the buffer.
  LASextraAttribute descriptors[2];
  std::memset(descriptors, 0, sizeof(descriptors));
  descriptors[0].data_type = 2;  // I8
  descriptors[1].data_type = 4;  // I16 at bytes 3-4 of a 4-byte buffer
  int32_t offsets[2] = {0, 3};
  LASextraAttributes attributes;
  attributes.attribute_count = 2;
  attributes.attribute_descriptors = descriptors;
  attributes.attribute_offsets = offsets;
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(&scale_offset, 1, 32, &attributes));
  p.extra_bytes[0] = 0xFB;  // -5
  for (const char* name : {"0", "1", "2"}) ASSERT_TRUE(h.histo(name, 1.0));
  h.add(&p);
  h.add(&legacy);  // no attributes: every attribute counts at 0
  EXPECT_EQ(reportOf(h),
            "attribute 0 histogram with bin size 1.000000\n"
            "  bin -5 has 1\n  bin 0 has 1\n"
            "  average attribute 0 -2.5 for 2 element(s)\n"
            "attribute 1 histogram with bin size 1.000000\n"
            "  bin 0 has 2\n"
            "  average attribute 1 0 for 2 element(s)\n"
            "attribute 2 histogram with bin size 1.000000\n"
            "  bin 0 has 2\n"
            "  average attribute 2 0 for 2 element(s)\n");
}

TEST_F(LAShistogramAdd, ResetKeepsTheRequestedHistograms) {
  ASSERT_TRUE(h.histo("X", 10.0));
  legacy.setX(1234);
  h.add(&legacy);
  h.reset();
  EXPECT_TRUE(h.active);
  EXPECT_EQ(reportOf(h), "raw integer X coordinate histogram with bin size 10.000000\n");
  legacy.setX(-5);
  h.add(&legacy);
  EXPECT_EQ(reportOf(h),
            "raw integer X coordinate histogram with bin size 10.000000\n"
            "  bin [-10,0) has 1\n"
            "  average raw integer X coordinate -5 for 1 element(s)\n");
}

}  // namespace
