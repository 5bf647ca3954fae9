// Tests of the writers' output through the writers that switch FILEs (LAS, BIN,
// QFIT, text): replaceFile hands later output to the new FILE and says so, also
// when the old FILE fails to close; who closes the new FILE afterwards; the rule
// every owned FILE is closed by.
#include "morrowtide/las/las_writer_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "morrowtide/las/las_writer_bin.h"
#include "morrowtide/las/las_writer_las.h"
#include "morrowtide/las/las_writer_qfit.h"
#include "morrowtide/las/las_writer_txt.h"
#include "tests/las/failing_byte_stream.h"
#include "tests/las/side_writer_test_support.h"

namespace {

using side_writer_test::Bytes;
using side_writer_test::LE;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// One kind of writer behind the calls the tests make.
struct Kind {
  const char* name;
  std::function<std::unique_ptr<LASwriter>()> make;
  std::function<bool(LASwriter&, const char*, const LASheader&)> open_file;
  std::function<bool(LASwriter&, FILE*, const LASheader&)> open_stdio;
  std::function<bool(LASwriter&, FILE*)> replace_file;
  const char* close_line;  // the old FILE failed to close
  std::string point;       // what the tests' point becomes in the output
};

template <class W>
W& as(LASwriter& w) {
  return static_cast<W&>(w);
}

std::string text(const LE& bytes) { return std::string(bytes.b.begin(), bytes.b.end()); }

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> all = {
      {"LAS", [] { return std::make_unique<LASwriterLAS>(); },
       [](LASwriter& w, const char* name, const LASheader& h) {
         return as<LASwriterLAS>(w).openFile(name, &h, 0, 2, -1, 4096);
       },
       [](LASwriter& w, FILE* f, const LASheader& h) {
         return as<LASwriterLAS>(w).openStdio(f, &h, 0, 2, -1);
       },
       [](LASwriter& w, FILE* f) { return as<LASwriterLAS>(w).replaceFile(f); },
       "ERROR: closing output '/dev/full'\n",
       text(LE().i32(11).i32(22).i32(33).u16(0).u8(9).u8(0).u8(0).u8(0).u16(0).f64(4.5))},
      {"BIN", [] { return std::make_unique<LASwriterBIN>(); },
       [](LASwriter& w, const char* name, const LASheader& h) {
         return as<LASwriterBIN>(w).openFile(name, &h, "ts8", 4096);
       },
       [](LASwriter& w, FILE* f, const LASheader& h) {
         return as<LASwriterBIN>(w).openStdio(f, &h, "ts8");
       },
       [](LASwriter& w, FILE* f) { return as<LASwriterBIN>(w).replaceFile(f); },
       "ERROR: cannot close the BIN output\n",
       text(LE().u8(0).u8(0).u16(0).i32(11).i32(22).i32(33).u32(22500))},
      {"QFIT", [] { return std::make_unique<LASwriterQFIT>(); },
       [](LASwriter& w, const char* name, const LASheader& h) {
         return as<LASwriterQFIT>(w).openFile(name, &h, 40, 4096);
       },
       [](LASwriter& w, FILE* f, const LASheader& h) {
         return as<LASwriterQFIT>(w).openStdio(f, &h, 40);
       },
       [](LASwriter& w, FILE* f) { return as<LASwriterQFIT>(w).replaceFile(f); },
       "ERROR: cannot close the QFIT output\n",
       text(LE().i32(4500).i32(220000).i32(110000).i32(330).zeros(24))},
      {"text",
       [] {
         auto w = std::make_unique<LASwriterTXT>();
         w->setPts(true);  // so that open writes a line the full device refuses
         return w;
       },
       [](LASwriter& w, const char* name, const LASheader& h) {
         return as<LASwriterTXT>(w).openFile(name, &h, nullptr, nullptr);
       },
       [](LASwriter& w, FILE* f, const LASheader& h) {
         return as<LASwriterTXT>(w).open(f, &h, nullptr, nullptr);
       },
       [](LASwriter& w, FILE* f) { return as<LASwriterTXT>(w).replaceFile(f); },
       "ERROR: cannot close the text output\n", "0.11 0.22 0.33 4.500000\n"},
  };
  return all;
}

// A LAS 1.2 header of point format 1 announcing one point, and that point.
void makeHeaderAndPoint(LASheader& h, LASpointRecord& p) {
  side_writer_test::makeHeader(h, 1);
  h.number_of_point_records = 1;
  side_writer_test::layOut(p, h);
  p.setX(11);
  p.setY(22);
  p.setZ(33);
  p.setGpsTime(4.5);
}

class LASwriterOutputTest : public side_writer_test::TempDir {};

// After an openFile whose FILE then failed to close (its buffered header bytes
// refused by the full device), replaceFile printed the close line and returned
// false although later output already went to the new FILE: a caller that took
// the FILE back closed it, and the writer's close closed it again.
TEST_F(LASwriterOutputTest, AFailedCloseOfTheOldFileStillHandsOverTheNewOne) {
  for (const Kind& kind : kinds()) {
    SCOPED_TRACE(kind.name);
    LASheader h;
    LASpointRecord p;
    makeHeaderAndPoint(h, p);
    std::unique_ptr<LASwriter> w = kind.make();
    CaptureStderr();
    ASSERT_TRUE(kind.open_file(*w, "/dev/full", h));
    GetCapturedStderr();
    const std::string name = path(std::string(kind.name) + ".out");
    FILE* other = std::fopen(name.c_str(), "wb");
    ASSERT_NE(other, nullptr);
    CaptureStderr();
    EXPECT_TRUE(kind.replace_file(*w, other));
    EXPECT_EQ(GetCapturedStderr(), kind.close_line);
    EXPECT_TRUE(w->failed());
    // `other` is the writer's now: its close closes it (a FILE left open would
    // be reported as a leak by the sanitizer build).
    ASSERT_TRUE(w->writePoint(&p));
    CaptureStderr();
    w->close(false);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(side_writer_test::fileText(name), kind.point);
  }
}

// The rule every FILE a writer owns is closed by: an error indicator set before
// fails the close, though fclose itself has nothing left to fail on.
TEST_F(LASwriterOutputTest, CloseFileFailsOnAnErrorIndicatorSetBefore) {
  for (const bool error_set : {false, true}) {
    SCOPED_TRACE(error_set);
    FILE* f = std::fopen(path("closed.out").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (error_set) {
      EXPECT_EQ(std::fgetc(f), EOF);  // reading a FILE opened for writing sets it
      ASSERT_NE(std::ferror(f), 0);
    }
    EXPECT_EQ(morrowtide::closeFile(f), !error_set);
  }
}

TEST_F(LASwriterOutputTest, ACallersFileStaysTheCallersAfterAReplacement) {
  for (const Kind& kind : kinds()) {
    SCOPED_TRACE(kind.name);
    LASheader h;
    LASpointRecord p;
    makeHeaderAndPoint(h, p);
    FILE* first = std::tmpfile();
    FILE* second = std::tmpfile();
    ASSERT_TRUE(first != nullptr && second != nullptr);
    std::unique_ptr<LASwriter> w = kind.make();
    CaptureStderr();
    ASSERT_TRUE(kind.open_stdio(*w, first, h));
    EXPECT_TRUE(kind.replace_file(*w, second));
    ASSERT_TRUE(w->writePoint(&p));
    w->close(false);
    GetCapturedStderr();
    EXPECT_FALSE(w->failed());
    const std::string before = side_writer_test::readAll(first);
    const std::string after = side_writer_test::readAll(second);
    EXPECT_FALSE(before.empty());  // the header went to the first FILE
    EXPECT_EQ(after, kind.point);
    // Both are still open: closing them here is no second close.
    EXPECT_EQ(std::fclose(first), 0);
    EXPECT_EQ(std::fclose(second), 0);
  }
}

TEST_F(LASwriterOutputTest, AReplacementThatCannotBeMadeLeavesTheFileTheCallers) {
  LASheader h;
  LASpointRecord p;
  makeHeaderAndPoint(h, p);
  FILE* spare = std::tmpfile();
  ASSERT_NE(spare, nullptr);
  for (const Kind& kind : kinds()) {
    SCOPED_TRACE(kind.name);
    std::unique_ptr<LASwriter> w = kind.make();
    CaptureStderr();
    EXPECT_FALSE(kind.replace_file(*w, spare));  // nothing open
    const std::string name = path(std::string(kind.name) + ".kept");
    ASSERT_TRUE(kind.open_file(*w, name.c_str(), h));
    EXPECT_FALSE(kind.replace_file(*w, nullptr));
    ASSERT_TRUE(w->writePoint(&p));
    w->close(false);
    GetCapturedStderr();
    EXPECT_FALSE(w->failed());
    // The writer's own file got everything.
    EXPECT_GT(side_writer_test::fileText(name).size(), kind.point.size());
  }
  // A stream that writes to no FILE has none to replace.
  Bytes las_bytes, bin_bytes, qfit_bytes;
  LASwriterLAS las;
  ASSERT_TRUE(las.open(new FailingByteStream(&las_bytes), &h, 0, 2, -1));
  LASwriterBIN bin;
  ASSERT_TRUE(bin.open(new FailingByteStream(&bin_bytes), &h, "ts8"));
  LASwriterQFIT qfit;
  ASSERT_TRUE(qfit.open(new FailingByteStream(&qfit_bytes), &h, 40));
  CaptureStderr();
  EXPECT_FALSE(las.replaceFile(spare));
  EXPECT_FALSE(bin.replaceFile(spare));
  EXPECT_FALSE(qfit.replaceFile(spare));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: the stream of this writer has no FILE to replace\n"
            "ERROR: the stream of this writer has no FILE to replace\n"
            "ERROR: the stream of this writer has no FILE to replace\n");
  EXPECT_EQ(std::ftell(spare), 0);
  EXPECT_EQ(std::fclose(spare), 0);
}

}  // namespace
