// Mistakes a library caller can make with the writers and the header: calls out
// of order, null points, points of another layout, headers whose sizes, version
// or record count disagree with what is written. None may crash the process or
// leave a file whose header lies while open, close and failed() report success.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_bin.h"
#include "morrowtide/las/las_writer_las.h"
#include "morrowtide/las/las_writer_qfit.h"
#include "morrowtide/las/las_writer_txt.h"
#include "morrowtide/las/las_writer_wrl.h"
#include "tests/las/failing_byte_stream.h"
#include "tests/le_bytes.h"

using morrowtide::identityOfLayout;

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Bytes = std::vector<uint8_t>;

// A clean LAS 1.`minor` header for point format `format` of `length` bytes, its
// block size and offset those of the version.
void makeHeader(LASheader& h, uint8_t minor, uint8_t format, uint16_t length) {
  h.clean();
  h.version_minor = minor;
  h.header_size = minor >= 4 ? 375 : minor == 3 ? 235 : 227;
  h.offset_to_point_data = h.header_size;
  h.point_data_format = format;
  h.point_data_record_length = length;
}

// A point laid out for `format` of `length` bytes, with values in its first bytes.
void layOut(LASpointRecord& p, uint8_t format, uint16_t length) {
  CaptureStderr();
  ASSERT_TRUE(p.initFromFormat(nullptr, format, length, nullptr));
  GetCapturedStderr();
  p.setX(11);
  p.setY(22);
  p.setZ(33);
  p.setGpsTime(4.5);
}

// A LAS writer on an in-memory stream whose bytes outlive it.
struct Output {
  bool open(const LASheader& h, uint32_t compressor = 0, int32_t chunk_size = 50000) {
    return writer.open(new FailingByteStream(&bytes), &h, compressor, 2, chunk_size);
  }
  Bytes bytes;
  LASwriterLAS writer;
};

// ------------------------------------------------------------- calls out of order

// writePoint on a writer that was never opened ended in an assertion or SIGSEGV,
// after a failed open it counted points that went nowhere, and updateHeader
// after a failed open patched the partial file and returned true.
TEST(LASwriterLASMisuse, CallsOutOfOrderAreRefusedWithOneLine) {
  enum class State { kNeverOpened, kOpenFailed, kClosed };
  struct Case {
    const char* name;
    State state;
    const char* update_header_line;  // the line updateHeader keeps from before
  };
  // After the first refused call, updateHeader prints only the line it printed
  // before for a writer without a stream.
  const std::vector<Case> cases = {
      {"never opened", State::kNeverOpened, "ERROR: stream pointer is zero\n"},
      {"open failed", State::kOpenFailed, ""},
      {"closed", State::kClosed, "ERROR: stream pointer is zero\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    makeHeader(h, 2, 1, 28);
    LASpointRecord p;
    layOut(p, 1, 28);
    Output out;
    if (c.state == State::kOpenFailed) {
      h.user_data_after_header_size = 3;  // announced, not there
      CaptureStderr();
      ASSERT_FALSE(out.open(h));
      GetCapturedStderr();
    }
    if (c.state == State::kClosed) {
      ASSERT_TRUE(out.open(h));
      ASSERT_EQ(out.writer.close(true), 227);
    }
    const Bytes before = out.bytes;

    // writePoint and chunk print one line for the first such call only.
    CaptureStderr();
    EXPECT_FALSE(out.writer.writePoint(&p));
    EXPECT_FALSE(out.writer.writePoint(&p));
    EXPECT_FALSE(out.writer.chunk());
    EXPECT_EQ(GetCapturedStderr(), "ERROR: writePoint on a LASwriterLAS that is not open\n");
    EXPECT_EQ(out.writer.points_written, 0);

    CaptureStderr();
    EXPECT_FALSE(out.writer.updateHeader(&h, true, false));
    EXPECT_EQ(GetCapturedStderr(), c.update_header_line);

    CaptureStderr();
    EXPECT_EQ(out.writer.close(true), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(out.bytes, before);
    // Nothing was lost: the calls were refused.
    EXPECT_FALSE(out.writer.failed());
  }
}

TEST(LASwriterLASMisuse, UpdateHeaderAfterAFailedOpenFirstGetsItsOwnLine) {
  LASheader h;
  makeHeader(h, 2, 1, 28);
  h.user_data_in_header_size = 1;  // announced, not there
  Output out;
  CaptureStderr();
  ASSERT_FALSE(out.open(h));
  GetCapturedStderr();
  h.user_data_in_header_size = 0;
  CaptureStderr();
  EXPECT_FALSE(out.writer.updateHeader(&h, false, false));
  EXPECT_FALSE(out.writer.updateHeader(&h, true, false));
  EXPECT_FALSE(out.writer.writePoint(nullptr));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: updateHeader on a LASwriterLAS that is not open\n");
  EXPECT_TRUE(out.bytes.empty());
  EXPECT_FALSE(out.writer.failed());
}

TEST(LASwriterLASMisuse, ChunkFirstGetsItsOwnLineAndALaterOpenWorks) {
  LASheader h;
  makeHeader(h, 4, 6, 30);
  LASpointRecord p;
  layOut(p, 6, 30);
  Output out;
  CaptureStderr();
  EXPECT_FALSE(out.writer.chunk());
  EXPECT_FALSE(out.writer.writePoint(&p));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: chunk on a LASwriterLAS that is not open\n");

  // Opened now, the writer takes points and chunks as any other.
  ASSERT_TRUE(out.open(h, 3, 0));
  CaptureStderr();
  EXPECT_TRUE(out.writer.writePoint(&p));
  EXPECT_TRUE(out.writer.chunk());
  EXPECT_TRUE(out.writer.updateHeader(&h, true, false));
  EXPECT_GT(out.writer.close(true), 375);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_FALSE(out.writer.failed());
  EXPECT_EQ(out.writer.expected_points, 1);
}

// ------------------------------------------------------------------ null points

// Every writer crashed on a null point, in writePoint and in updateInventory.
TEST(LASwriterNullPoint, EveryWriterRefusesItOnceWithoutCounting) {
  LASheader h;
  makeHeader(h, 2, 1, 28);
  FILE* wrl_file = std::tmpfile();
  FILE* txt_file = std::tmpfile();
  ASSERT_NE(wrl_file, nullptr);
  ASSERT_NE(txt_file, nullptr);
  Bytes las_bytes, bin_bytes, qfit_bytes;

  LASwriterLAS las;
  ASSERT_TRUE(las.open(new FailingByteStream(&las_bytes), &h, 0, 2, -1));
  LASwriterBIN bin;
  ASSERT_TRUE(bin.open(new FailingByteStream(&bin_bytes), &h, nullptr));
  LASwriterQFIT qfit;
  ASSERT_TRUE(qfit.open(new FailingByteStream(&qfit_bytes), &h, 0));
  LASwriterWRL wrl;
  ASSERT_TRUE(wrl.open(wrl_file, &h, nullptr));
  LASwriterTXT txt;
  CaptureStderr();
  ASSERT_TRUE(txt.open(txt_file, &h, nullptr, nullptr));
  GetCapturedStderr();

  LASwriter* writers[] = {&las, &bin, &qfit, &wrl, &txt};
  const char* names[] = {"LAS", "BIN", "QFIT", "VRML", "text"};
  for (size_t i = 0; i < 5; i++) {
    SCOPED_TRACE(names[i]);
    LASwriter& w = *writers[i];
    CaptureStderr();
    EXPECT_FALSE(w.writePoint(nullptr));
    EXPECT_FALSE(w.writePoint(nullptr));
    EXPECT_FALSE(w.updateInventory(nullptr));
    EXPECT_EQ(GetCapturedStderr(), "ERROR: point pointer is zero\n");
    EXPECT_EQ(w.points_written, 0);
    EXPECT_EQ(w.inventory.number_of_point_records, 0);
    EXPECT_FALSE(w.failed());
    CaptureStderr();
    w.close(true);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
  EXPECT_EQ(las_bytes.size(), 227u);
  std::fclose(wrl_file);
  std::fclose(txt_file);
}

// ------------------------------------------------------- points of another layout

// A point with fewer items, or items that view other bytes, was handed to the
// item writers as it was: they read past the point's buffers, and close patched
// in points that were never written.
TEST(LASwriterLASMisuse, APointThatCannotServeTheLayoutIsRefusedAndLost) {
  struct Case {
    const char* name;
    uint8_t writer_format;
    uint16_t writer_length;
    uint8_t point_format;  // 0xFF: a point never laid out
    uint16_t point_length;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"never laid out", 1, 28, 0xFF, 0,
       "ERROR: point with items [], 0 bytes cannot be written as items "
       "[POINT10(20) GPSTIME11(8)], 28 bytes\n"},
      {"fewer items", 1, 28, 0, 20,
       "ERROR: point with items [POINT10(20)], 20 bytes cannot be written as items "
       "[POINT10(20) GPSTIME11(8)], 28 bytes\n"},
      {"time where colour is read", 2, 29, 1, 31,
       "ERROR: point with items [POINT10(20) GPSTIME11(8) BYTE(3)], 31 bytes cannot be written "
       "as items [POINT10(20) RGB12(6) BYTE(3)], 29 bytes\n"},
      {"fewer extra bytes", 1, 31, 1, 30,
       "ERROR: point with items [POINT10(20) GPSTIME11(8) BYTE(2)], 30 bytes cannot be written "
       "as items [POINT10(20) GPSTIME11(8) BYTE(3)], 31 bytes\n"},
      {"colour without near infrared", 8, 38, 7, 36,
       "ERROR: point with items [POINT14(30) RGB14(6)], 36 bytes cannot be written as items "
       "[POINT14(30) RGBNIR14(8)], 38 bytes\n"},
      {"a LAS 1.4 point where a time is read", 1, 28, 6, 30,
       "ERROR: point with items [POINT14(30)], 30 bytes cannot be written as items "
       "[POINT10(20) GPSTIME11(8)], 28 bytes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const uint32_t compressor : {0u, 2u}) {
      SCOPED_TRACE(compressor);
      LASheader h;
      makeHeader(h, c.writer_format >= 6 ? 4 : 2, c.writer_format, c.writer_length);
      LASpointRecord p;
      if (c.point_format != 0xFF) layOut(p, c.point_format, c.point_length);
      Output out;
      ASSERT_TRUE(out.open(h, c.writer_format >= 6 ? 3 : compressor));
      const Bytes before = out.bytes;
      CaptureStderr();
      EXPECT_FALSE(out.writer.writePoint(&p));
      EXPECT_EQ(GetCapturedStderr(), c.line);
      EXPECT_EQ(out.writer.points_written, 0);
      EXPECT_TRUE(out.writer.failed());  // the caller's point is not in the file
      EXPECT_EQ(out.bytes, before);
      // Nothing to patch in: no point went out.
      CaptureStderr();
      out.writer.close(true);
      EXPECT_EQ(GetCapturedStderr(), "");
      EXPECT_EQ(uAt(out.bytes, 107, 4), 0u);
    }
  }
}

// Points of another layout whose items serve the writer's keep working, and
// give the bytes a point of the writer's own layout gives.
TEST(LASwriterLASMisuse, APointWhoseItemsServeTheLayoutIsWritten) {
  struct Case {
    const char* name;
    uint8_t writer_format;
    uint16_t writer_length;
    uint8_t point_format;
    uint16_t point_length;
  };
  const std::vector<Case> cases = {
      {"format 3 into format 1", 1, 28, 3, 34},
      {"extra bytes the writer has not", 1, 28, 1, 31},
      {"more extra bytes than the writer's", 1, 31, 1, 33},
      {"a legacy point into a LAS 1.4 layout", 6, 30, 1, 28},
      {"near infrared where colour is read", 7, 36, 8, 38},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    makeHeader(h, c.writer_format >= 6 ? 4 : 2, c.writer_format, c.writer_length);
    const uint32_t compressor = c.writer_format >= 6 ? 3 : 2;
    LASpointRecord own, other;
    layOut(own, c.writer_format, c.writer_length);
    layOut(other, c.point_format, c.point_length);
    own = other;  // the same values in the writer's own layout
    Output expected, actual;
    ASSERT_TRUE(expected.open(h, compressor));
    ASSERT_TRUE(actual.open(h, compressor));
    CaptureStderr();
    for (int i = 0; i < 3; i++) {
      EXPECT_TRUE(expected.writer.writePoint(&own));
      EXPECT_TRUE(actual.writer.writePoint(&other));
    }
    EXPECT_EQ(expected.writer.close(true), actual.writer.close(true));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(actual.bytes, expected.bytes);
    EXPECT_FALSE(actual.writer.failed());
  }
}

// The per-point check compared every item of a point with the writer's, at
// 1.6 to 2.1 ns a point; it compares one word now, the identity of the point's
// layout, and looks item by item only when that differs. So no two layouts may
// share an identity: every point format's list, with and without extra bytes,
// has one of its own, the coder versions aside, and the lists a word cannot
// tell apart have none.
TEST(LASwriterLASMisuse, EveryPointFormatHasALayoutIdentityOfItsOwn) {
  std::vector<uint64_t> seen;
  for (uint8_t format = 0; format <= 10; format++) {
    for (const uint16_t extra : {0, 1, 2, 255}) {
      SCOPED_TRACE(testing::Message() << int(format) << " +" << extra);
      LASpointRecord p;
      layOut(p, format, static_cast<uint16_t>(las_format::kPointRecordSize[format] + extra));
      ASSERT_NE(p.layout_identity, LASpointRecord::kNoLayoutIdentity);
      EXPECT_EQ(p.layout_identity, identityOfLayout(p.num_items, p.items));
      for (const uint64_t other : seen) EXPECT_NE(p.layout_identity, other);
      seen.push_back(p.layout_identity);
      std::vector<LASitem> versioned(p.items, p.items + p.num_items);
      for (LASitem& item : versioned) item.version = 2;
      EXPECT_EQ(identityOfLayout(p.num_items, versioned.data()), p.layout_identity);
    }
  }
  struct Case {
    const char* name;
    std::vector<LASitem> items;
  };
  const LASitem point10 = {LASitem::POINT10, 20, 0};
  const LASitem byte3 = {LASitem::BYTE, 3, 0};
  const std::vector<Case> without = {
      {"no items", {}},
      {"six items", {point10, byte3, byte3, byte3, byte3, byte3}},
      {"two extra-bytes items", {point10, byte3, byte3}},
      {"an item not of its type's size", {{LASitem::POINT10, 21, 0}}},
      {"extra bytes of no size", {point10, {LASitem::BYTE, 0, 0}}},
      {"an item type of no layout", {point10, {3, 4, 0}}},
  };
  for (const Case& c : without) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(identityOfLayout(static_cast<uint16_t>(c.items.size()), c.items.data()),
              LASpointRecord::kNoLayoutIdentity);
  }
  // Before a layout and after a refused one, a point has none either.
  LASpointRecord p;
  EXPECT_EQ(p.layout_identity, LASpointRecord::kNoLayoutIdentity);
  layOut(p, 1, 28);
  const LASitem bad = {3, 4, 0};
  EXPECT_FALSE(p.initFromItems(nullptr, 1, &bad, nullptr));
  EXPECT_EQ(p.layout_identity, LASpointRecord::kNoLayoutIdentity);
}

// ------------------------------------------------- sizes the header says are written

// The header block, the offset and the record length were copied from the
// header: a LAS 1.4 header with header_size 227 got a 375-byte block announced
// as 227, and a header descriptor of 31 bytes under a record length of 50 got
// 31-byte records announced as 50, so every point was read at the wrong place.
TEST(LASwriterLASMisuse, HeaderSizeOffsetAndRecordLengthSayWhatIsWritten) {
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;
    uint16_t header_size;
    uint32_t offset;
    uint16_t record_length;
    const char* lines;
  };
  const std::vector<Case> cases = {
      {"LAS 1.4 block announced as 227",
       [](LASheader& h) { h.header_size = h.offset_to_point_data = 227; }, 375, 375, 28,
       "WARNING: header->header_size is 227. writing 375 instead.\n"
       "WARNING: header->offset_to_point_data is 227. writing 375 instead.\n"},
      {"user data in the header not counted",
       [](LASheader& h) {
         h.user_data_in_header_size = 2;
         h.user_data_in_header = new uint8_t[2]{7, 8};
       },
       377, 377, 28,
       "WARNING: header->header_size is 375. writing 377 instead.\n"
       "WARNING: header->offset_to_point_data is 375. writing 377 instead.\n"},
      {"offset past the records",
       [](LASheader& h) {
         h.addVlr("vendor", 1, 4, new uint8_t[4]());
         h.offset_to_point_data += 10;
       },
       375, 433, 28, "WARNING: header->offset_to_point_data is 443. writing 433 instead.\n"},
      {"user data after the header not counted",
       [](LASheader& h) {
         h.user_data_after_header_size = 3;
         h.user_data_after_header = new uint8_t[3]();
       },
       375, 378, 28, "WARNING: header->offset_to_point_data is 375. writing 378 instead.\n"},
      {"descriptor of 31 bytes under a length of 50",
       [](LASheader& h) {
         const LASitem items[] = {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 11, 0}};
         h.compressor_descriptor = new Quodax();
         h.compressor_descriptor->setup(2, items, 0);
         h.point_data_record_length = 50;
       },
       375, 375, 31, "WARNING: header->point_data_record_length is 50. writing 31 instead.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    makeHeader(h, 4, 1, 28);
    c.edit(h);
    Output out;
    CaptureStderr();
    ASSERT_TRUE(out.open(h));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(uAt(out.bytes, 94, 2), c.header_size);
    EXPECT_EQ(uAt(out.bytes, 96, 4), c.offset);
    EXPECT_EQ(uAt(out.bytes, 105, 2), c.record_length);
    // The first point begins where the header says.
    EXPECT_EQ(out.bytes.size(), c.offset);
    LASpointRecord p;
    const Quodax* d = h.compressor_descriptor;
    if (d != nullptr) {
      ASSERT_TRUE(p.initFromItems(nullptr, d->num_items, d->items, nullptr));
    } else {
      layOut(p, 1, 28);
    }
    EXPECT_TRUE(out.writer.writePoint(&p));
    EXPECT_EQ(out.writer.close(true), static_cast<int64_t>(c.offset) + c.record_length);
  }
}

// Sums past the fields' widths wrapped: the open now fails before writing.
TEST(LASwriterLASMisuse, SizesThatDoNotFitTheirFieldsFailTheOpen) {
  uint8_t dummy[1] = {};
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"offset past 32 bits",
       [&](LASheader& h) {
         // 227 + this is 2^32, one past the field's largest value.
         h.user_data_after_header_size = 0xFFFFFFFFu - 226;
         h.user_data_after_header = dummy;
       },
       "ERROR: offset_to_point_data of 4294967296 bytes does not fit its 32 bits\n"},
      {"header block past 16 bits",
       [&](LASheader& h) {
         h.user_data_in_header_size = 65536 - 227;
         h.user_data_in_header = dummy;
       },
       "ERROR: header_size of 65536 bytes does not fit its 16 bits\n"},
      {"records past 16 bits",
       [](LASheader& h) {
         const LASitem items[] = {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 65530, 0}};
         h.compressor_descriptor = new Quodax();
         h.compressor_descriptor->setup(2, items, 0);
       },
       "ERROR: point_data_record_length of 65550 bytes does not fit its 16 bits\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    makeHeader(h, 2, 0, 20);
    c.edit(h);
    Output out;
    CaptureStderr();
    EXPECT_FALSE(out.open(h));
    EXPECT_EQ(GetCapturedStderr(), c.line);
    EXPECT_TRUE(out.bytes.empty());
    // The borrowed buffers are not the header's to release.
    h.user_data_in_header = nullptr;
    h.user_data_after_header = nullptr;
  }
}

// ------------------------------------------------ updateHeader follows what open wrote

// A header whose version_minor was raised to 4 after a LAS 1.2 open made
// updateHeader write 128 bytes of extended counts into the point data.
TEST(LASwriterLASMisuse, UpdateHeaderPatchesTheLayoutOpenWrote) {
  LASheader h;
  makeHeader(h, 2, 1, 28);
  LASpointRecord p;
  layOut(p, 1, 28);
  Output out;
  ASSERT_TRUE(out.open(h));
  for (int i = 0; i < 10; i++) ASSERT_TRUE(out.writer.writePoint(&p));
  // The ten records, made of the point's items: the writer still holds them.
  Bytes points;
  for (int i = 0; i < 10; i++) {
    points.insert(points.end(), p.item_pointers[0], p.item_pointers[0] + 20);
    points.insert(points.end(), p.item_pointers[1], p.item_pointers[1] + 8);
  }

  h.version_minor = 4;
  h.point_data_format = 6;
  h.header_size = 375;
  h.number_of_point_records = 10;
  h.number_of_points_by_return[0] = 10;
  CaptureStderr();
  EXPECT_TRUE(out.writer.updateHeader(&h, false, false));
  EXPECT_EQ(out.writer.close(true), 227 + 280);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_FALSE(out.writer.failed());
  ASSERT_EQ(out.bytes.size(), 227u + 280);
  EXPECT_EQ(Bytes(out.bytes.begin() + 227, out.bytes.end()), points);
  EXPECT_EQ(out.bytes[25], 2);
  EXPECT_EQ(uAt(out.bytes, 107, 4), 10u);  // a LAS 1.2 legacy count, not 0
  EXPECT_EQ(uAt(out.bytes, 111, 4), 10u);
}

// The extra-bytes payload was put where the header's records said at the time
// of updateHeader (and its header_size): a record before it that shrank, or an
// extra-bytes record that grew, made the patch overwrite other records.
TEST(LASwriterLASMisuse, UpdateHeaderRewritesExtraBytesWhereOpenPutThem) {
  LASheader h;
  makeHeader(h, 4, 1, 28);
  h.header_size = 227;  // wrong: the block is 375 bytes
  h.addVlr("vendor", 1, 100, new uint8_t[100]());
  h.addVlr("LASF_Spec", 4, 2, new uint8_t[2]{1, 2});
  h.attribute_count = 1;
  Output out;
  CaptureStderr();
  ASSERT_TRUE(out.open(h));
  GetCapturedStderr();
  const size_t payload_at = 375 + 54 + 100 + 54;
  ASSERT_EQ(out.bytes.size(), payload_at + 2);

  // The record before it shrinks in memory; the file keeps its layout.
  ASSERT_TRUE(h.addVlr("vendor", 1, 10, new uint8_t[10]()));
  h.vlrs[1].data[0] = 9;
  CaptureStderr();
  EXPECT_TRUE(out.writer.updateHeader(&h, true, true));
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(out.bytes[payload_at], 9);
  EXPECT_EQ(out.bytes.size(), payload_at + 2);

  // A payload grown after open no longer fits where it went.
  ASSERT_TRUE(h.addVlr("LASF_Spec", 4, 3, new uint8_t[3]{5, 5, 5}));
  const Bytes before = out.bytes;
  CaptureStderr();
  EXPECT_FALSE(out.writer.updateHeader(&h, true, true));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: header->vlrs[1] has 3 bytes but the extra bytes record written has 2\n");
  EXPECT_EQ(out.bytes, before);
  EXPECT_TRUE(out.writer.failed());
  h.attribute_count = 0;
}

// Extended records that the header announced only at updateHeader were patched
// into the header but never written by close.
TEST(LASwriterLASMisuse, ExtendedRecordsAnnouncedAtUpdateHeaderAreWritten) {
  LASheader h;
  makeHeader(h, 4, 6, 30);
  LASpointRecord p;
  layOut(p, 6, 30);
  Output out;
  ASSERT_TRUE(out.open(h));
  ASSERT_TRUE(out.writer.writePoint(&p));
  h.evlrs = static_cast<LASevlrRecord*>(std::calloc(1, sizeof(LASevlrRecord)));
  h.evlrs[0].record_id = 7;
  h.evlrs[0].record_length_after_header = 4;
  h.evlrs[0].data = new uint8_t[4]{1, 2, 3, 4};
  h.number_of_extended_variable_length_records = 1;
  h.start_of_first_extended_variable_length_record = 12345;
  h.number_of_point_records = 1;
  CaptureStderr();
  EXPECT_TRUE(out.writer.updateHeader(&h, false, false));
  EXPECT_EQ(out.writer.close(true), 375 + 30 + 60 + 4);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(uAt(out.bytes, 235, 8), 375u + 30);  // where the record really is
  EXPECT_EQ(uAt(out.bytes, 243, 4), 1u);
  EXPECT_EQ(uAt(out.bytes, 375 + 30 + 18, 2), 7u);
  EXPECT_EQ(out.bytes.back(), 4);
  EXPECT_FALSE(out.writer.failed());
}

// A writer opened again after close kept the last output's extended records
// and counts: close after a failed second open wrote the first header's
// records (read from freed memory once that header was gone) and patched
// counts into the new output.
TEST(LASwriterLASMisuse, AWriterOpenedAgainForgetsItsLastOutput) {
  LASpointRecord p;
  layOut(p, 6, 30);
  Output out;
  {
    LASheader first;
    makeHeader(first, 4, 6, 30);
    first.evlrs = static_cast<LASevlrRecord*>(std::calloc(1, sizeof(LASevlrRecord)));
    first.evlrs[0].record_length_after_header = 4;
    first.evlrs[0].data = new uint8_t[4]();
    first.number_of_extended_variable_length_records = 1;
    ASSERT_TRUE(out.open(first));
    ASSERT_TRUE(out.writer.writePoint(&p));
    ASSERT_TRUE(out.writer.writePoint(&p));
    CaptureStderr();
    ASSERT_EQ(out.writer.close(true), 375 + 2 * 30 + 60 + 4);
    GetCapturedStderr();
  }
  LASheader second;
  makeHeader(second, 2, 1, 28);
  second.user_data_in_header_size = 5;  // announced, not there
  Bytes bytes;
  CaptureStderr();
  EXPECT_FALSE(out.writer.open(new FailingByteStream(&bytes), &second, 0, 2, -1));
  EXPECT_EQ(out.writer.close(true), 0);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: there should be 5 bytes of data in header->user_data_in_header\n");
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(out.writer.failed());
}

// --------------------------------------------------------- failed() after close

// Lines printed by close and updateHeader for missing data left failed() false,
// although the file missed what its header announced.
TEST(LASwriterLASMisuse, EveryErrorLineOfCloseAndUpdateHeaderShowsInFailed) {
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;
    bool use_update_header;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"no extended records",
       [](LASheader& h) { h.number_of_extended_variable_length_records = 1; }, false,
       "ERROR: evlrs pointer is zero\n"},
      {"extended record without data",
       [](LASheader& h) {
         h.number_of_extended_variable_length_records = 1;
         h.evlrs = static_cast<LASevlrRecord*>(std::calloc(1, sizeof(LASevlrRecord)));
         h.evlrs[0].record_length_after_header = 5;
       },
       false, "ERROR: there should be 5 bytes of data in evlrs[0].data\n"},
      {"extra bytes record without data",
       [](LASheader& h) {
         h.addVlr("LASF_Spec", 4, 2, new uint8_t[2]());
         h.attribute_count = 1;
       },
       true, "ERROR: there should be 2 bytes of data in header->vlrs[0].data\n"},
  };
  for (const Case& c : cases) {
    for (const bool earlier_failure : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (earlier_failure ? ", after a lost byte" : ""));
      LASheader h;
      makeHeader(h, 4, 1, 28);
      c.edit(h);
      LASpointRecord p;
      layOut(p, 1, 28);
      Bytes bytes;
      auto* stream = new FailingByteStream(&bytes);
      LASwriterLAS w;
      ASSERT_TRUE(w.open(stream, &h, 0, 2, -1));
      CaptureStderr();
      // Raw records go out a block at a time: the point that completes the
      // first block finds it refused.
      const int64_t block_points = 585;  // 28-byte records in a block of 16384 bytes
      if (earlier_failure) {
        stream->fail_at = static_cast<int64_t>(bytes.size());
        for (int64_t i = 1; i < block_points; i++) ASSERT_TRUE(w.writePoint(&p));
        EXPECT_FALSE(w.writePoint(&p));
        stream->fail_at = -1;
      }
      if (c.use_update_header) {
        delete[] h.vlrs[0].data;
        h.vlrs[0].data = nullptr;
        EXPECT_FALSE(w.updateHeader(&h, true, true));
      } else {
        EXPECT_EQ(w.close(true), 0);
      }
      const std::string lines = GetCapturedStderr();
      const std::string lost = "ERROR: writing point " + std::to_string(block_points) + "\n";
      EXPECT_EQ(lines, (earlier_failure ? lost : "") + c.line);
      EXPECT_TRUE(w.failed());
      CaptureStderr();
      w.close(true);
      GetCapturedStderr();
      h.attribute_count = 0;
    }
  }
}

TEST(LASwriterLASMisuse, UpdateHeaderWithoutAHeaderFailsAnOpenWriter) {
  LASheader h;
  makeHeader(h, 2, 1, 28);
  Output out;
  ASSERT_TRUE(out.open(h));
  CaptureStderr();
  EXPECT_FALSE(out.writer.updateHeader(nullptr, true, false));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: header pointer is zero\n");
  EXPECT_TRUE(out.writer.failed());
}

// ------------------------------------------------------- records and their count

// addVlr wrapped the 32-bit offset: 0xFFFFFF00 plus a 1000-byte record gave 798.
TEST(LASheaderAddVlr, ARecordThatWouldCarryTheOffsetPast32BitsIsRefused) {
  struct Case {
    const char* name;
    uint32_t offset;
    uint16_t first_length;  // a record added first with user "a", id 1 (0: none)
    const char* user;       // then this one, of `length` bytes
    uint16_t length;
    bool added;
    uint32_t offset_after;
  };
  const std::vector<Case> cases = {
      {"new record past the limit", 0xFFFFFF00u, 0, "b", 1000, false, 0xFFFFFF00u},
      {"new record up to the limit", 0xFFFFFFFFu - 54 - 201, 0, "b", 201, true, 0xFFFFFFFFu},
      {"new record one past the limit", 0xFFFFFFFFu - 54 - 201, 0, "b", 202, false,
       0xFFFFFFFFu - 54 - 201},
      // Replacing takes the old payload off first: +200 fits, +300 does not.
      {"replacement that fits", 0xFFFFFF00u - 154, 100, "a", 300, true, 0xFFFFFFC8u},
      {"replacement past the limit", 0xFFFFFF00u - 154, 100, "a", 400, false, 0xFFFFFF00u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    h.offset_to_point_data = c.offset;
    if (c.first_length != 0) {
      ASSERT_TRUE(h.addVlr("a", 1, c.first_length, new uint8_t[c.first_length]()));
    }
    const uint32_t records = h.number_of_variable_length_records;
    uint8_t* payload = new uint8_t[c.length]();
    CaptureStderr();
    EXPECT_EQ(h.addVlr(c.user, 1, c.length, payload), c.added);
    const std::string lines = GetCapturedStderr();
    EXPECT_EQ(h.offset_to_point_data, c.offset_after);
    if (c.added) {
      EXPECT_EQ(lines, "");
    } else {
      char line[128];
      std::snprintf(
          line, sizeof(line),
          "ERROR: a record of %u bytes would carry offset_to_point_data from %u to %lld\n",
          c.length, c.offset_after,
          static_cast<long long>(c.offset_after) + c.length +
              (c.first_length != 0 ? -c.first_length : 54));
      EXPECT_EQ(lines, line);
      EXPECT_EQ(h.number_of_variable_length_records, records);
      delete[] payload;  // still the caller's
    }
  }
}

// Two records added and the count set to 5 read past the array in the LAS
// writer, in the text writer's PTS/PTX header and in clean.
TEST(LASheaderRecordCount, ACountAboveTheRecordsAddedIsRefused) {
  const char* const line =
      "ERROR: number_of_variable_length_records is 5 but vlrs holds 2 records\n";
  LASheader h;
  makeHeader(h, 2, 1, 28);
  ASSERT_TRUE(h.addVlr("Vektrion", 2000, 4, new uint8_t[4]()));
  ASSERT_TRUE(h.addVlr("vendor", 9, 3, new uint8_t[3]()));
  const uint32_t offset = h.offset_to_point_data;
  h.number_of_variable_length_records = 5;

  Output out;
  CaptureStderr();
  EXPECT_FALSE(out.open(h));
  EXPECT_EQ(GetCapturedStderr(), line);
  EXPECT_TRUE(out.bytes.empty());

  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  for (const bool ptx : {false, true}) {
    SCOPED_TRACE(ptx ? "PTX" : "PTS");
    LASwriterTXT txt;
    txt.setPts(!ptx);
    txt.setPtx(ptx);
    CaptureStderr();
    EXPECT_FALSE(txt.open(file, &h, "xyz", nullptr));
    EXPECT_EQ(GetCapturedStderr(), line);
    // Refused before the parse string was settled: no point follows.
    LASpointRecord p;
    layOut(p, 1, 28);
    EXPECT_FALSE(txt.writePoint(&p));
  }
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);

  CaptureStderr();
  EXPECT_FALSE(h.addVlr("other", 1, 0, nullptr));
  EXPECT_EQ(GetCapturedStderr(), line);
  EXPECT_EQ(h.offset_to_point_data, offset);

  // A header opened with the right count refuses a raised one at updateHeader.
  h.number_of_variable_length_records = 2;
  Output later;
  ASSERT_TRUE(later.open(h));
  h.number_of_variable_length_records = 5;
  CaptureStderr();
  EXPECT_FALSE(later.writer.updateHeader(&h, true, false));
  EXPECT_EQ(GetCapturedStderr(), line);
  EXPECT_TRUE(later.writer.failed());
  // clean (run by the destructor) releases the two payloads the array holds.
}

// A count lowered by hand and then addVlr shrank the array over the dropped
// records and leaked their payloads.
TEST(LASheaderRecordCount, RecordsDroppedByALoweredCountAreReleased) {
  LASheader h;
  for (uint16_t id = 1; id <= 3; id++) ASSERT_TRUE(h.addVlr("vendor", id, 10, new uint8_t[10]()));
  h.number_of_variable_length_records = 1;
  ASSERT_TRUE(h.addVlr("other", 1, 4, new uint8_t[4]()));
  EXPECT_EQ(h.number_of_variable_length_records, 2u);
  EXPECT_EQ(h.madeVlrCount(), 2u);
  EXPECT_FALSE(h.vlrCountOverrunsArray());
  // The leak checker of the sanitizer build sees any payload not released.
}

// An array the caller installed itself is trusted, as before.
TEST(LASheaderRecordCount, AnArrayTheCallerInstalledIsTrusted) {
  LASheader h;
  makeHeader(h, 2, 1, 28);
  h.vlrs = static_cast<LASvlrRecord*>(std::calloc(3, sizeof(LASvlrRecord)));
  h.number_of_variable_length_records = 3;
  h.offset_to_point_data += 3 * 54;
  EXPECT_FALSE(h.vlrCountOverrunsArray());
  Output out;
  CaptureStderr();
  EXPECT_TRUE(out.open(h));
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(out.bytes.size(), 227u + 3 * 54);
}

}  // namespace
