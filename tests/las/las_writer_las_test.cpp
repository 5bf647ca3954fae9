#include "morrowtide/las/las_writer_las.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/compressor/quodax.h"
#include "tests/las/failing_byte_stream.h"
#include "tests/le_bytes.h"
#include "tests/scratch_dir.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes& b, size_t at, size_t n) {
  if (at + n > b.size()) return Bytes();
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + n));
}
uint32_t u32At(const Bytes& b, size_t at) { return static_cast<uint32_t>(uAt(b, at, 4)); }
uint64_t u64At(const Bytes& b, size_t at) { return uAt(b, at, 8); }
double f64At(const Bytes& b, size_t at) {
  const uint64_t bits = u64At(b, at);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

// A LAS 1.2 header for point format 1 with a distinctive value in every field;
// binary-exact scale factors so that bounding boxes compare exactly.
void setUpHeader12(LASheader& h) {
  h.clean();
  std::memcpy(h.file_signature, "LASF", 4);
  h.file_source_ID = 7;
  h.global_encoding = 1;
  h.project_ID_GUID_data_1 = 0x01020304;
  h.project_ID_GUID_data_2 = 0x0506;
  h.project_ID_GUID_data_3 = 0x0708;
  for (int i = 0; i < 8; i++) h.project_ID_GUID_data_4[i] = static_cast<uint8_t>(9 + i);
  std::memcpy(h.system_identifier, "MORROWTIDE", 10);
  std::memcpy(h.generating_software, "laswriter test", 14);
  h.file_creation_day = 100;
  h.file_creation_year = 2024;
  h.point_data_format = 1;
  h.point_data_record_length = 28;
  // Like the program's header, it announces no points.
  h.x_scale_factor = 0.5;
  h.y_scale_factor = 0.25;
  h.z_scale_factor = 0.125;
  h.x_offset = 100.0;
  h.y_offset = 200.0;
  h.z_offset = 300.0;
  h.max_x = 1.5;
  h.min_x = -1.5;
  h.max_y = 2.5;
  h.min_y = -2.5;
  h.max_z = 3.5;
  h.min_z = -3.5;
}

// The same header as LAS 1.4 (375-byte block) with point format `format`.
void setUpHeader14(LASheader& h, uint8_t format) {
  setUpHeader12(h);
  h.version_minor = 4;
  h.header_size = 375;
  h.offset_to_point_data = 375;
  h.point_data_format = format;
  h.point_data_record_length = las_format::kPointRecordSize[format];
}

// The LAS 1.2 header for point format 1, else the LAS 1.4 one for `format`.
void setUpHeaderOfFormat(LASheader& h, uint8_t format) {
  if (format == 1) {
    setUpHeader12(h);
  } else {
    setUpHeader14(h, format);
  }
}

// The program's LAS 1.3 header: point format 4 and two 26-byte wave packet
// descriptor records (offset to point data 395).
void setUpHeader13Waveform(LASheader& h) {
  setUpHeader12(h);
  h.version_minor = 3;
  h.header_size = 235;
  h.offset_to_point_data = 235;
  h.point_data_format = 4;
  h.point_data_record_length = 57;
  for (uint16_t i = 1; i <= 2; i++) {
    uint8_t* payload = new uint8_t[26]();
    payload[0] = 8;
    payload[2] = static_cast<uint8_t>(80 + 8 * i);
    h.addVlr("LASF_Spec", static_cast<uint16_t>(99 + i), 26, payload);
  }
}

// The bytes of the 54-byte record header plus payload of a header record.
Bytes vlrBytes(const char* user, uint16_t id, const Bytes& payload, const char* description) {
  return LE()
      .u16(0)
      .text(user, 16)
      .u16(id)
      .u16(static_cast<uint32_t>(payload.size()))
      .text(description, 32)
      .raw(payload)
      .b;
}

// Point i of the tests' runs.
void fillPoint(LASpointRecord& p, int i) {
  p.setX(i * 100 - 50);
  p.setY(1000 + i);
  p.setZ(-7);
  p.setIntensity(static_cast<uint16_t>(300 + i));
  p.setClassification(2);
  p.setScanAngleRank(-5);
  p.setPointSourceID(42);
  p.setGpsTime(1000.25 + i);
  p.wavepacket.setIndex(1);
  p.wavepacket.setOffset(98);
  p.wavepacket.setSize(88);
}

// The raw record of point i: format 1 (28 bytes), or 4 (57 bytes) with the packet.
Bytes pointBytes(int i, bool wave_packet) {
  LE le;
  le.u32(static_cast<uint32_t>(i * 100 - 50))
      .u32(static_cast<uint32_t>(1000 + i))
      .u32(static_cast<uint32_t>(-7));
  le.u16(static_cast<uint32_t>(300 + i)).u8(0x09).u8(2).u8(0xFB).u8(0).u16(42).f64(1000.25 + i);
  if (wave_packet) le.u8(1).u64(98).u32(88).f32(0).f32(0).f32(0).f32(0);
  return le.b;
}

// A writer on an in-memory stream whose bytes stay in `out` after close; the
// header, the point and the bytes outlive the writer.
class LASwriterLASTest : public testing::Test {
 protected:
  bool openOn(uint32_t compressor = 0, int32_t chunk_size = 50000) {
    stream = new FailingByteStream(&out, &alive);
    return writer.open(stream, &header, compressor, 2, chunk_size);
  }
  void writePoints(int n, int first = 0) {
    if (point.item_pointers == nullptr) {
      ASSERT_TRUE(point.initFromFormat(&writer.scale_offset, header.point_data_format,
                                       header.point_data_record_length, &header));
    }
    for (int i = first; i < first + n; i++) {
      fillPoint(point, i);
      writer.writePoint(&point);
      writer.updateInventory(&point);
    }
  }

  Bytes out;
  bool alive = false;
  LASheader header;
  LASpointRecord point;
  FailingByteStream* stream = nullptr;  // owned by the writer
  LASwriterLAS writer;
};

// ---------------------------------------------------------------- file layout

TEST_F(LASwriterLASTest, WritesTheProgramsLas12RunByteForByte) {
  setUpHeader12(header);
  CaptureStderr();
  ASSERT_TRUE(openOn());
  writePoints(3);
  EXPECT_TRUE(writer.updateHeader(&header, true, false));
  EXPECT_EQ(writer.close(true), 311);
  EXPECT_EQ(GetCapturedStderr(), "");

  LE le;
  le.text("LASF", 4).u16(7).u16(1).u32(0x01020304).u16(0x0506).u16(0x0708);
  for (int i = 0; i < 8; i++) le.u8(9 + i);
  le.u8(1).u8(2).text("MORROWTIDE", 32).text("laswriter test", 32).u16(100).u16(2024);
  le.u16(227).u32(227).u32(0).u8(1).u16(28).u32(3).u32(3).u32(0).u32(0).u32(0).u32(0);
  le.f64(0.5).f64(0.25).f64(0.125).f64(100).f64(200).f64(300);
  // The bounding box as updateHeader patched it from the inventory.
  le.f64(175).f64(75).f64(450.5).f64(450).f64(299.125).f64(299.125);
  for (int i = 0; i < 3; i++) le.raw(pointBytes(i, false));
  EXPECT_EQ(out, le.b);
  EXPECT_EQ(writer.expected_points, 3);
  EXPECT_EQ(writer.points_written, 0);
  EXPECT_FALSE(alive);
}

TEST_F(LASwriterLASTest, WritesLas13WavePacketRecordsBeforeThePoints) {
  setUpHeader13Waveform(header);
  ASSERT_TRUE(openOn());
  writePoints(1);
  EXPECT_EQ(writer.close(true), 395 + 57);

  ASSERT_EQ(out.size(), 452u);
  EXPECT_EQ(u32At(out, 96), 395u);  // offset to point data as the header has it
  EXPECT_EQ(u32At(out, 100), 2u);
  EXPECT_EQ(out[104], 4);
  EXPECT_EQ(u64At(out, 227), 0u);  // start of waveform data
  Bytes d1(26, 0), d2(26, 0);
  d1[0] = d2[0] = 8;
  d1[2] = 88;
  d2[2] = 96;
  const Bytes records = LE().raw(vlrBytes("LASF_Spec", 100, d1, "by Vektrion of Kestrovane GmbH"))
                            .raw(vlrBytes("LASF_Spec", 101, d2, "by Vektrion of Kestrovane GmbH"))
                            .b;
  EXPECT_EQ(slice(out, 235, 160), records);
  EXPECT_EQ(slice(out, 395, 57), pointBytes(0, true));
}

TEST_F(LASwriterLASTest, CompressedFormat4CarriesTheCompressorRecord) {
  setUpHeader13Waveform(header);
  ASSERT_TRUE(openOn(3));  // format 4 turns compressor 3 into 2
  writePoints(3);
  const int64_t size = writer.close(true);
  EXPECT_EQ(size, static_cast<int64_t>(out.size()));

  EXPECT_EQ(out[104], 132);
  EXPECT_EQ(u32At(out, 96), 501u);
  EXPECT_EQ(u32At(out, 100), 3u);
  // clang-format off
  const Bytes record = LE()
      .u16(0xAABB).text("quodax encoded", 16).u16(22204).u16(52)
      .text("by quodax of Vektrion (210720)", 32)
      .u16(2).u16(0).u8(3).u8(4).u16(3).u32(0).u32(50000).u64(~0ull).u64(~0ull).u16(3)
      .u16(6).u16(20).u16(2)
      .u16(7).u16(8).u16(2)
      .u16(9).u16(29).u16(1)
      .b;
  // clang-format on
  EXPECT_EQ(slice(out, 395, 106), record);
  // After the chunk-table pointer the chunk's first point is the raw record.
  EXPECT_EQ(slice(out, 509, 57), pointBytes(0, true));
  const uint64_t table = u64At(out, 501);
  ASSERT_GT(table, 566u);
  EXPECT_EQ(u32At(out, table), 0u);      // table version
  EXPECT_EQ(u32At(out, table + 4), 1u);  // one chunk
}

TEST_F(LASwriterLASTest, Las14Format6IsLayeredWithOneItem) {
  setUpHeader14(header, 6);
  ASSERT_TRUE(openOn(3));
  EXPECT_EQ(out[104], 134);
  EXPECT_EQ(u32At(out, 96), 375u + 54 + 40);
  // clang-format off
  const Bytes payload = LE()
      .u16(3).u16(0).u8(3).u8(4).u16(3).u32(0).u32(50000).u64(~0ull).u64(~0ull).u16(1)
      .u16(10).u16(30).u16(3)
      .b;
  // clang-format on
  EXPECT_EQ(u32At(out, 375 + 20) & 0xFFFF, 40u);
  EXPECT_EQ(slice(out, 375 + 54, 40), payload);
}

TEST_F(LASwriterLASTest, HeaderDescriptorDecidesTheLayoutOfRawOutput) {
  struct Case {
    const char* name;
    std::vector<LASitem> items;
    uint8_t format_byte;
    uint32_t records;
    const char* lines;  // the header announces 28-byte records
  };
  const std::vector<Case> cases = {
      // A standard layout: no record, and the matched type, not the header's field.
      {"standard", {{LASitem::POINT10, 20, 2}, {LASitem::GPSTIME11, 8, 2}}, 1, 0, ""},
      // No standard layout: type 127 and a record with compressor 0; the records
      // are as long as the items say.
      {"custom",
       {{LASitem::POINT10, 20, 2}, {LASitem::RGB12, 6, 2}, {LASitem::GPSTIME11, 8, 2}},
       127,
       1,
       "WARNING: header->point_data_record_length is 28. writing 34 instead.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader12(h);
    h.point_data_format = 0;  // the descriptor's items decide
    h.compressor_descriptor = new Quodax();
    ASSERT_TRUE(
        h.compressor_descriptor->setup(static_cast<uint16_t>(c.items.size()), c.items.data(), 0));
    Bytes bytes;
    LASwriterLAS w;
    CaptureStderr();
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 50000));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(bytes[104], c.format_byte);
    EXPECT_EQ(u32At(bytes, 100), c.records);
    EXPECT_EQ(uAt(bytes, 105, 2), c.records == 1 ? 34u : 28u);
    if (c.records == 1) {
      // clang-format off
      const Bytes payload = LE()
          .u16(0).u16(0).u8(3).u8(4).u16(3).u32(0).u32(50000).u64(~0ull).u64(~0ull).u16(3)
          .u16(6).u16(20).u16(0)
          .u16(8).u16(6).u16(0)
          .u16(7).u16(8).u16(0)
          .b;
      // clang-format on
      EXPECT_EQ(slice(bytes, 227 + 54, 52), payload);
      EXPECT_EQ(u32At(bytes, 96), 227u + 54 + 52);
    } else {
      EXPECT_EQ(bytes.size(), 227u);
    }
  }
}

// A LAS 1.4 header for point format 1 with user data in and after the header,
// one record of three bytes, a tiling and an original record; opened with
// compressor 3 (format 1 turns it into 2) and chunk size 1000. Layout:
// block 0-374, user data 375, record 377, compressor's record 434, tiling 534,
// original 616 (payload 670), user data after the header 846, points 848.
void setUpFullHeader(LASheader& h) {
  setUpHeader14(h, 1);
  h.header_size = 377;
  h.offset_to_point_data = 377;
  h.user_data_in_header_size = 2;
  h.user_data_in_header = new uint8_t[2]{0xD1, 0xD2};
  h.addVlr("vendor", 7, 3, new uint8_t[3]{1, 2, 3}, false, "three bytes");
  h.vlr_lastiling = new LAStilingRecord{3, 7, 0xC0000005u, 1.5f, 2.5f, -1.5f, -2.5f};
  h.vlr_lasoriginal = new LASoriginalRecord();
  h.vlr_lasoriginal->number_of_point_records = 5000000000ull;
  h.vlr_lasoriginal->number_of_points_by_return[14] = 9;
  h.vlr_lasoriginal->min_x = -1;
  h.vlr_lasoriginal->max_x = 1;
  h.vlr_lasoriginal->min_y = -2;
  h.vlr_lasoriginal->max_y = 2;
  h.vlr_lasoriginal->min_z = -3;
  h.vlr_lasoriginal->max_z = 3;
  h.user_data_after_header_size = 2;
  h.user_data_after_header = new uint8_t[2]{0xE1, 0xE2};
  h.offset_to_point_data += 2;
}

TEST_F(LASwriterLASTest, WritesItsOwnRecordsAfterTheHeadersRecords) {
  setUpFullHeader(header);
  ASSERT_TRUE(openOn(3, 1000));
  ASSERT_EQ(out.size(), 848u + 8);
  EXPECT_EQ(u32At(out, 96), 848u);  // 436 + 100 + 82 + 230
  EXPECT_EQ(u32At(out, 100), 4u);
  EXPECT_EQ(slice(out, 375, 2), (Bytes{0xD1, 0xD2}));
  EXPECT_EQ(slice(out, 377, 57), vlrBytes("vendor", 7, {1, 2, 3}, "three bytes"));
  EXPECT_EQ(u32At(out, 434 + 54 + 12), 1000u);  // the compressor record's chunk size
  // clang-format off
  const Bytes tiling = LE()
      .u16(0xAABB).text("Vektrion", 16).u16(10).u16(28)
      .text("tile with buffer , reversible", 32)
      .u32(3).u32(7).u32(0xC0000005u).f32(1.5f).f32(2.5f).f32(-1.5f).f32(-2.5f)
      .b;
  // clang-format on
  EXPECT_EQ(slice(out, 534, 82), tiling);
  LE original;
  original.u16(0xAABB)
      .text("Vektrion", 16)
      .u16(20)
      .u16(176)
      .text("counters and bbox of original", 32);
  original.u64(5000000000ull);
  for (int i = 0; i < 14; i++) original.u64(0);
  original.u64(9).f64(-1).f64(1).f64(-2).f64(2).f64(-3).f64(3);
  EXPECT_EQ(slice(out, 616, 230), original.b);
  EXPECT_EQ(header.vlr_lasoriginal->payload_position, 670);
  EXPECT_EQ(slice(out, 846, 2), (Bytes{0xE1, 0xE2}));
  EXPECT_EQ(u64At(out, 848), 848u);  // the placeholder holds its own position
}

TEST(LASwriterLAS, EveryFailedHeaderWriteNamesItsField) {
  struct Case {
    int64_t at;
    const char* line;
  };
  const std::vector<Case> cases = {
      {0, "ERROR: writing header->file_signature\n"},
      {4, "ERROR: writing header->file_source_ID\n"},
      {6, "ERROR: writing header->global_encoding\n"},
      {8, "ERROR: writing header->project_ID_GUID_data_1\n"},
      {12, "ERROR: writing header->project_ID_GUID_data_2\n"},
      {14, "ERROR: writing header->project_ID_GUID_data_3\n"},
      {16, "ERROR: writing header->project_ID_GUID_data_4\n"},
      {24, "ERROR: writing header->version_major\n"},
      {25, "ERROR: writing header->version_minor\n"},
      {26, "ERROR: writing header->system_identifier\n"},
      {58, "ERROR: writing header->generating_software\n"},
      {90, "ERROR: writing header->file_creation_day\n"},
      {92, "ERROR: writing header->file_creation_year\n"},
      {94, "ERROR: writing header->header_size\n"},
      {96, "ERROR: writing header->offset_to_point_data\n"},
      {100, "ERROR: writing header->number_of_variable_length_records\n"},
      {104, "ERROR: writing header->point_data_format\n"},
      {105, "ERROR: writing header->point_data_record_length\n"},
      {107, "ERROR: writing header->number_of_point_records\n"},
      {111, "ERROR: writing header->number_of_points_by_return[0]\n"},
      {127, "ERROR: writing header->number_of_points_by_return[4]\n"},
      {131, "ERROR: writing header->x_scale_factor\n"},
      {139, "ERROR: writing header->y_scale_factor\n"},
      {147, "ERROR: writing header->z_scale_factor\n"},
      {155, "ERROR: writing header->x_offset\n"},
      {163, "ERROR: writing header->y_offset\n"},
      {171, "ERROR: writing header->z_offset\n"},
      {179, "ERROR: writing header->max_x\n"},
      {187, "ERROR: writing header->min_x\n"},
      {195, "ERROR: writing header->max_y\n"},
      {203, "ERROR: writing header->min_y\n"},
      {211, "ERROR: writing header->max_z\n"},
      {219, "ERROR: writing header->min_z\n"},
      {227, "ERROR: writing start_of_waveform_data_packet_record\n"},
      {235, "ERROR: writing header->start_of_first_extended_variable_length_record\n"},
      {243, "ERROR: writing header->number_of_extended_variable_length_records\n"},
      {247, "ERROR: writing header->extended_number_of_point_records\n"},
      {255, "ERROR: writing header->extended_number_of_points_by_return[0]\n"},
      {367, "ERROR: writing header->extended_number_of_points_by_return[14]\n"},
      {375, "ERROR: writing 2 bytes of data from header->user_data_in_header\n"},
      {377, "ERROR: writing header->vlrs[0].reserved\n"},
      {379, "ERROR: writing header->vlrs[0].user_id\n"},
      {395, "ERROR: writing header->vlrs[0].record_id\n"},
      {397, "ERROR: writing header->vlrs[0].record_length_after_header\n"},
      {399, "ERROR: writing header->vlrs[0].description\n"},
      {431, "ERROR: writing 3 bytes of data from header->vlrs[0].data\n"},
      {434, "ERROR: writing reserved 43707\n"},
      {436, "ERROR: writing user_id quodax encoded\n"},
      {452, "ERROR: writing record_id 22204\n"},
      {454, "ERROR: writing record_length_after_header 46\n"},
      {456, "ERROR: writing description by quodax of Vektrion (210720)\n"},
      {488, "ERROR: writing compressor 3\n"},  // the compressor asked for
      {490, "ERROR: writing coder 0\n"},
      {492, "ERROR: writing version_major 3\n"},
      {493, "ERROR: writing version_minor 4\n"},
      {494, "ERROR: writing version_revision 3\n"},
      {496, "ERROR: writing options 0\n"},
      {500, "ERROR: writing chunk_size 1000\n"},
      {504, "ERROR: writing number_of_special_evlrs -1\n"},
      {512, "ERROR: writing offset_to_special_evlrs -1\n"},
      {520, "ERROR: writing num_items 2\n"},
      {522, "ERROR: writing type 6 of item 0\n"},
      {524, "ERROR: writing size 20 of item 0\n"},
      {526, "ERROR: writing version 2 of item 0\n"},
      {528, "ERROR: writing type 7 of item 1\n"},
      {530, "ERROR: writing size 8 of item 1\n"},
      {532, "ERROR: writing version 2 of item 1\n"},
      {534, "ERROR: writing reserved 43707\n"},
      {536, "ERROR: writing user_id Vektrion\n"},
      {552, "ERROR: writing record_id 10\n"},
      {554, "ERROR: writing record_length_after_header 28\n"},
      {556, "ERROR: writing description tile with buffer , reversible\n"},
      {588, "ERROR: writing header->vlr_lastiling->level 3\n"},
      {592, "ERROR: writing header->vlr_lastiling->level_index 7\n"},
      {596, "ERROR: writing header->vlr_lastiling->implicit_levels 5\n"},
      {600, "ERROR: writing header->vlr_lastiling->min_x 1.5\n"},
      {604, "ERROR: writing header->vlr_lastiling->max_x 2.5\n"},
      {608, "ERROR: writing header->vlr_lastiling->min_y -1.5\n"},
      {612, "ERROR: writing header->vlr_lastiling->max_y -2.5\n"},
      {616, "ERROR: writing reserved 43707\n"},
      {618, "ERROR: writing user_id Vektrion\n"},
      {634, "ERROR: writing record_id 20\n"},
      {636, "ERROR: writing record_length_after_header 176\n"},
      {638, "ERROR: writing description counters and bbox of original\n"},
      {670, "ERROR: writing header->vlr_lasoriginal->number_of_point_records 705032704\n"},
      {678, "ERROR: writing header->vlr_lasoriginal->number_of_points_by_return[0] 0\n"},
      {790, "ERROR: writing header->vlr_lasoriginal->number_of_points_by_return[14] 9\n"},
      {798, "ERROR: writing header->vlr_lasoriginal->min_x -1\n"},
      {806, "ERROR: writing header->vlr_lasoriginal->max_x 1\n"},
      {814, "ERROR: writing header->vlr_lasoriginal->min_y -2\n"},
      {822, "ERROR: writing header->vlr_lasoriginal->max_y 2\n"},
      {830, "ERROR: writing header->vlr_lasoriginal->min_z -3\n"},
      {838, "ERROR: writing header->vlr_lasoriginal->max_z 3\n"},
      {846, "ERROR: writing 2 bytes of data from header->user_data_after_header\n"},
  };
  LASheader header;
  setUpFullHeader(header);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    Bytes bytes;
    bool alive = false;
    FailingByteStream* s = new FailingByteStream(&bytes, &alive);
    s->fail_at = c.at;
    LASwriterLAS w;
    CaptureStderr();
    EXPECT_FALSE(w.open(s, &header, 3, 2, 1000));
    EXPECT_EQ(GetCapturedStderr(), c.line);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), c.at);  // nothing after the failed field
    // The record writer was never attached: close writes nothing more.
    CaptureStderr();
    w.close(true);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), c.at);
    EXPECT_FALSE(alive);
    GetCapturedStderr();
  }
}

TEST(LASwriterLAS, RefusesToOpenWithOneLine) {
  // Several of these fail after the descriptor was made: the writer used to
  // keep it on every path before its record was written (the sanitizer build
  // reports any that stays).
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;
    uint32_t compressor;
    int32_t chunk_size;
    const char* lines;
  };
  const std::vector<Case> cases = {
      {"bad header", [](LASheader& h) { h.header_size = 226; }, 0, 50000,
       "ERROR: header size is 226 but should be at least 227\n"},
      {"unknown format",
       [](LASheader& h) {
         h.point_data_format = 11;
         h.point_data_record_length = 20;
       },
       0, 50000, "ERROR: unknown point type 11 with point size 20\n"},
      {"format 6 with compressor 2", [](LASheader& h) { setUpHeader14(h, 6); }, 2, 50000,
       "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Quodax\n"},
      {"adaptive chunks for format 1", [](LASheader&) {}, 3, 0,
       "ERROR: adaptive chunking is depricated for point type 1.\n"
       "       only available for new LAS 1.4 point types 6 or higher.\n"},
      {"unknown compressor", [](LASheader&) {}, 7, 50000,
       "ERROR: point type 1 of size 28 not supported (with Quodax)\n"},
      {"user data in header missing", [](LASheader& h) { h.user_data_in_header_size = 4; }, 2,
       50000, "ERROR: there should be 4 bytes of data in header->user_data_in_header\n"},
      {"record payload missing",
       [](LASheader& h) {
         h.addVlr("vendor", 1, 0, nullptr);
         h.vlrs[0].record_length_after_header = 10;
       },
       2, 50000, "ERROR: there should be 10 bytes of data in header->vlrs[0].data\n"},
      {"user data after header missing", [](LASheader& h) { h.user_data_after_header_size = 3; }, 2,
       50000, "ERROR: there should be 3 bytes of data in header->user_data_after_header\n"},
      {"records missing", [](LASheader& h) { h.number_of_variable_length_records = 2; }, 2, 50000,
       "ERROR: vlrs pointer is zero\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader12(h);
    c.edit(h);
    Bytes bytes;
    bool alive = false;
    LASwriterLAS w;
    CaptureStderr();
    EXPECT_FALSE(w.open(new FailingByteStream(&bytes, &alive), &h, c.compressor, 2, c.chunk_size));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    CaptureStderr();
    EXPECT_EQ(w.close(true), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_FALSE(alive);
  }

  LASwriterLAS w;
  CaptureStderr();
  EXPECT_FALSE(w.open(nullptr, nullptr, 0, 2, 0));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: ByteStreamOut pointer is zero\n");
  bool alive = false;
  Bytes bytes;
  CaptureStderr();
  EXPECT_FALSE(w.open(new FailingByteStream(&bytes, &alive), nullptr, 0, 2, 0));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: LASheader pointer is zero\n");
  EXPECT_TRUE(alive);  // taken over at once, released by close
  w.close(true);
  EXPECT_FALSE(alive);
}

TEST(LASwriterLAS, SecondOpenIsRefusedAndReleasesTheNewStream) {
  // Opening an open writer again would lose the first stream (and file).
  LASheader h;
  setUpHeader12(h);
  Bytes first, second;
  bool first_alive = false, second_alive = false;
  LASwriterLAS w;
  ASSERT_TRUE(w.open(new FailingByteStream(&first, &first_alive), &h, 0, 2, 0));
  CaptureStderr();
  EXPECT_FALSE(w.open(new FailingByteStream(&second, &second_alive), &h, 0, 2, 0));
  EXPECT_FALSE(w.openFile("/dev/null", &h, 0, 2, 0, 4096));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: LASwriterLAS is already open\nERROR: LASwriterLAS is already open\n");
  EXPECT_FALSE(second_alive);
  EXPECT_TRUE(second.empty());
  EXPECT_EQ(w.close(true), 227);
  EXPECT_FALSE(first_alive);
}

TEST(LASwriterLAS, WarnsAndRewritesVersionAndWaveformStart) {
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;
    const char* lines;
    size_t block_size;
    size_t minor_written;
  };
  const std::vector<Case> cases = {
      {"major 2", [](LASheader& h) { h.version_major = 2; },
       "WARNING: unknown version 2.2 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
       "WARNING: header->version_major is 2. writing 1 instead.\n",
       227, 2},
      {"minor 7", [](LASheader& h) { h.version_minor = 7; },
       "WARNING: unknown version 1.7 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
       "WARNING: header->version_minor is 7. writing 4 instead.\n"
       "WARNING: header->header_size is 227. writing 375 instead.\n"
       "WARNING: header->offset_to_point_data is 227. writing 375 instead.\n",
       375, 4},
      {"waveform start",
       [](LASheader& h) {
         h.version_minor = 3;
         h.start_of_waveform_data_packet_record = 1000;
       },
       "WARNING: header->header_size is 227. writing 235 instead.\n"
       "WARNING: header->offset_to_point_data is 227. writing 235 instead.\n"
       "WARNING: header->start_of_waveform_data_packet_record is 1000. writing 0 instead.\n",
       235, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader12(h);
    c.edit(h);
    Bytes bytes;
    LASwriterLAS w;
    CaptureStderr();
    EXPECT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(bytes.size(), c.block_size);
    EXPECT_EQ(bytes[24], 1);
    EXPECT_EQ(bytes[25], c.minor_written);
    // The block written is announced, whatever the header said.
    EXPECT_EQ(uAt(bytes, 94, 2), c.block_size);
    EXPECT_EQ(u32At(bytes, 96), c.block_size);
    if (c.block_size > 227) {
      EXPECT_EQ(u64At(bytes, 227), 0u);
    }
  }
}

TEST(LASwriterLAS, Las14CountsFallBackToTheExtendedOnes) {
  LASheader h;
  setUpHeader14(h, 1);
  h.number_of_point_records = 10;
  h.extended_number_of_point_records = 99;
  h.number_of_points_by_return[0] = 4;
  h.number_of_points_by_return[1] = 0;
  h.extended_number_of_points_by_return[0] = 88;
  h.extended_number_of_points_by_return[1] = 7;
  h.extended_number_of_points_by_return[5] = 9;
  Bytes bytes;
  LASwriterLAS w;
  ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
  EXPECT_EQ(u64At(bytes, 247), 10u);
  EXPECT_EQ(u64At(bytes, 255), 4u);
  EXPECT_EQ(u64At(bytes, 263), 7u);
  EXPECT_EQ(u64At(bytes, 295), 9u);
  EXPECT_EQ(w.expected_points, 10);

  h.number_of_point_records = 0;
  h.extended_number_of_point_records = 12;
  Bytes again;
  LASwriterLAS w2;
  ASSERT_TRUE(w2.open(new FailingByteStream(&again), &h, 0, 2, 0));
  EXPECT_EQ(u64At(again, 247), 12u);
  EXPECT_EQ(w2.expected_points, 12);
  w.points_written = 10;  // so that closing reports nothing
  w2.points_written = 12;
}

TEST(LASwriterLAS, TilingDescriptionFollowsBits30And31) {
  struct Case {
    uint32_t implicit_levels;
    const char* description;  // all 32 bytes
  };
  const std::vector<Case> cases = {
      {0xC0000001u, "tile with buffer , reversible"},
      {0x00000001u, "tile without buffer "},              // ends in a blank
      {0x80000001u, "tile without buffer , reversible"},  // fills the 32 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    LASheader h;
    setUpHeader12(h);
    h.vlr_lastiling = new LAStilingRecord();
    h.vlr_lastiling->implicit_levels = c.implicit_levels;
    Bytes bytes;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
    EXPECT_EQ(slice(bytes, 227 + 22, 32), LE().text(c.description, 32).b);
    EXPECT_EQ(u32At(bytes, 227 + 54 + 8), c.implicit_levels);
    EXPECT_EQ(u32At(bytes, 96), 227u + 82);
  }
}

// ------------------------------------------------------------------- targets

TEST_F(LASwriterLASTest, EveryTargetGetsTheSameBytes) {
  setUpHeader12(header);
  ASSERT_TRUE(openOn());
  writePoints(3);
  ASSERT_EQ(writer.close(true), 311);

  LASpointRecord p;
  auto run = [&](LASwriterLAS& w) {
    p.initFromFormat(&w.scale_offset, 1, 28, &header);
    for (int i = 0; i < 3; i++) {
      fillPoint(p, i);
      w.writePoint(&p);
    }
    return w.close(true);
  };

  const ScratchDir scratch;
  const std::string path = scratch.path("written.las");
  LASwriterLAS to_file;
  ASSERT_TRUE(to_file.openFile(path.c_str(), &header, 0, 2, 50000, 262144));
  EXPECT_EQ(run(to_file), 311);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Bytes from_file(400);
  from_file.resize(std::fread(from_file.data(), 1, from_file.size(), f));
  std::fclose(f);
  EXPECT_EQ(from_file, out);

  FILE* caller_file = std::tmpfile();
  ASSERT_NE(caller_file, nullptr);
  LASwriterLAS to_stdio;
  ASSERT_TRUE(to_stdio.openStdio(caller_file, &header, 0, 2, 50000));
  EXPECT_EQ(run(to_stdio), 311);
  // The caller's file is still open: it can be read back.
  ASSERT_EQ(std::fseek(caller_file, 0, SEEK_SET), 0);
  Bytes from_stdio(400);
  from_stdio.resize(std::fread(from_stdio.data(), 1, from_stdio.size(), caller_file));
  std::fclose(caller_file);
  EXPECT_EQ(from_stdio, out);

  std::ostringstream os;
  LASwriterLAS to_ostream;
  ASSERT_TRUE(to_ostream.openOstream(os, &header, 0, 2, 50000));
  EXPECT_EQ(run(to_ostream), 311);
  const std::string s = os.str();
  EXPECT_EQ(Bytes(s.begin(), s.end()), out);

  LASwriterLAS to_null;
  CaptureStderr();
  ASSERT_TRUE(to_null.openNull(&header, 0, 2, 50000));
  EXPECT_EQ(run(to_null), 311);
  EXPECT_EQ(GetCapturedStderr(), "");
}

// Everything `f` holds, read from its start; then closes it.
Bytes readBackAndClose(FILE* f) {
  Bytes bytes;
  if (f == nullptr) {
    ADD_FAILURE() << "no FILE to read";
    return bytes;
  }
  EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
  uint8_t piece[4096];
  for (size_t n; (n = std::fread(piece, 1, sizeof(piece), f)) != 0;) {
    bytes.insert(bytes.end(), piece, piece + n);
  }
  std::fclose(f);
  return bytes;
}

// Raw records are held back and go out a block at a time, while updateHeader
// seeks into the header and back to the end: on every target the records held
// then must still follow the ones before them, after the header.
TEST(LASwriterLAS, RecordsHeldAcrossUpdateHeaderLandAtTheEnd) {
  const int per_block = static_cast<int>(LASwriteRecord::kRawBlockBytes / 28);
  const int points = per_block + 10;
  LASheader h;
  setUpHeader12(h);
  Bytes records;
  for (int i = 0; i < points; i++) {
    const Bytes r = pointBytes(i, false);
    records.insert(records.end(), r.begin(), r.end());
  }
  // Five points held at the first update, a block out and five held at the second.
  const auto run = [&](LASwriterLAS& w) {
    LASpointRecord p;
    EXPECT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
    for (int i = 0; i < points; i++) {
      fillPoint(p, i);
      EXPECT_TRUE(w.writePoint(&p));
      w.updateInventory(&p);
      if (i == 4 || i == per_block + 4) w.updateHeader(&h, true, false);
    }
    return w.close(true);
  };
  const int64_t size = 227 + 28 * points;
  const auto check = [&](const Bytes& file, uint32_t count_at_107) {
    ASSERT_EQ(file.size(), static_cast<size_t>(size));
    EXPECT_EQ(u32At(file, 107), count_at_107);
    EXPECT_EQ(slice(file, 227, records.size()), records);
  };
  const ScratchDir scratch;
  {
    SCOPED_TRACE("file");
    const std::string path = scratch.path("held.las");
    LASwriterLAS w;
    ASSERT_TRUE(w.openFile(path.c_str(), &h, 0, 2, 50000, 4096));
    EXPECT_EQ(run(w), size);
    check(readBackAndClose(std::fopen(path.c_str(), "rb")), static_cast<uint32_t>(points));
  }
  {
    SCOPED_TRACE("ostream");
    std::ostringstream os;
    LASwriterLAS w;
    ASSERT_TRUE(w.openOstream(os, &h, 0, 2, 50000));
    EXPECT_EQ(run(w), size);
    const std::string text = os.str();
    check(Bytes(text.begin(), text.end()), static_cast<uint32_t>(points));
  }
  {
    SCOPED_TRACE("null");
    LASwriterLAS w;
    ASSERT_TRUE(w.openNull(&h, 0, 2, 50000));
    EXPECT_EQ(run(w), size);  // the high-water mark
  }
  {
    SCOPED_TRACE("FILE that cannot seek");
    FILE* f = std::fopen(scratch.path("appended.las").c_str(), "a+b");
    ASSERT_NE(f, nullptr);
    LASwriterLAS w;
    ASSERT_TRUE(w.openStdio(f, &h, 0, 2, 50000));
    CaptureStderr();
    EXPECT_EQ(run(w), size);
    EXPECT_EQ(GetCapturedStderr(),
              "WARNING: stream not seekable. cannot update header.\n"
              "WARNING: stream not seekable. cannot update header.\n"
              "WARNING: stream not seekable. cannot update header from 0 to " +
                  std::to_string(points) + " points.\n");
    check(readBackAndClose(f), 0);  // nothing patched
  }
}

// Records held back when the writer switches FILEs were written before the
// switch: they belong to the old FILE.
TEST(LASwriterLAS, ReplaceFileHandsTheHeldRecordsToTheOldFile) {
  LASheader h;
  setUpHeader12(h);
  FILE* a = std::tmpfile();
  FILE* b = std::tmpfile();
  ASSERT_TRUE(a != nullptr && b != nullptr);
  LASwriterLAS w;
  ASSERT_TRUE(w.openStdio(a, &h, 0, 2, 0));
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
  for (int i = 0; i < 5; i++) {
    if (i == 3) {
      EXPECT_TRUE(w.replaceFile(b));
    }
    fillPoint(p, i);
    EXPECT_TRUE(w.writePoint(&p));
  }
  CaptureStderr();
  w.close(false);
  GetCapturedStderr();
  const Bytes first = readBackAndClose(a);
  ASSERT_EQ(first.size(), 227u + 3 * 28);
  for (int i = 0; i < 3; i++) EXPECT_EQ(slice(first, 227 + 28 * i, 28), pointBytes(i, false));
  EXPECT_EQ(readBackAndClose(b), LE().raw(pointBytes(3, false)).raw(pointBytes(4, false)).b);
}

TEST(LASwriterLAS, OpenTargetsRefuseMissingNamesAndFiles) {
  LASheader h;
  setUpHeader12(h);
  LASwriterLAS w;
  CaptureStderr();
  EXPECT_FALSE(w.openFile(nullptr, &h, 0, 2, 0, 4096));
  EXPECT_FALSE(w.openFile("/nonexistent-dir/x.las", &h, 0, 2, 0, 4096));
  EXPECT_FALSE(w.openStdio(nullptr, &h, 0, 2, 0));
  EXPECT_EQ(w.close(true), 0);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent-dir/x.las' for write\n"
            "ERROR: file pointer is zero\n");
}

TEST(LASwriterLAS, ReplaceFileSendsLaterOutputToTheNewFile) {
  LASheader h;
  setUpHeader12(h);
  LASwriterLAS none;
  EXPECT_FALSE(none.replaceFile(stdout));

  LASwriterLAS on_null;
  ASSERT_TRUE(on_null.openNull(&h, 0, 2, 0));
  CaptureStderr();
  EXPECT_FALSE(on_null.replaceFile(stdout));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: the stream of this writer has no FILE to replace\n");

  FILE* a = std::tmpfile();
  FILE* b = std::tmpfile();
  ASSERT_TRUE(a != nullptr && b != nullptr);
  LASwriterLAS w;
  ASSERT_TRUE(w.openStdio(a, &h, 0, 2, 0));
  EXPECT_FALSE(w.replaceFile(nullptr));
  EXPECT_TRUE(w.replaceFile(b));
  LASpointRecord p;
  p.initFromFormat(&w.scale_offset, 1, 28, &h);
  fillPoint(p, 0);
  w.writePoint(&p);
  CaptureStderr();
  w.close(false);
  GetCapturedStderr();
  std::fflush(a);
  std::fflush(b);
  EXPECT_EQ(std::ftell(a), 227);
  EXPECT_EQ(std::ftell(b), 28);
  std::fclose(a);
  std::fclose(b);

  // The file the writer opened could be reached by nothing else after a
  // replacement, and stayed open for good: it is closed, complete, and the new
  // file is the writer's to close.
  const ScratchDir scratch;
  const std::string path = scratch.path("replaced.las");
  LASwriterLAS owner;
  ASSERT_TRUE(owner.openFile(path.c_str(), &h, 0, 2, 0, 4096));
  EXPECT_TRUE(owner.replaceFile(std::tmpfile()));
  FILE* first = std::fopen(path.c_str(), "rb");
  ASSERT_NE(first, nullptr);
  std::fseek(first, 0, SEEK_END);
  EXPECT_EQ(std::ftell(first), 227);
  std::fclose(first);
  owner.writePoint(&p);
  CaptureStderr();
  EXPECT_EQ(owner.close(false), 227 + 28);  // the header in the old file, the point in the new
  GetCapturedStderr();
}

// close after replaceFile returned the new FILE's position minus the header's
// start in the old one: -36 for an empty new FILE behind 36 bytes of other data,
// with failed() false and no line.
TEST(LASwriterLAS, CloseCountsTheBytesPutOutToEveryFile) {
  struct Case {
    const char* name;
    int points_before;  // written before the switch
    int points_after;
    long new_file_bytes;  // already in the new FILE at the switch
    int64_t count;        // close's result
  };
  const Case cases[] = {
      {"an empty new FILE", 0, 0, 0, 227},                // was -36
      {"points on both sides", 2, 1, 0, 311},             // was -8
      {"a FILE that continues the old", 2, 1, 319, 311},  // 319 = 36 + 227 + 2 * 28; as before
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader12(h);
    h.number_of_point_records = static_cast<uint32_t>(c.points_before + c.points_after);
    FILE* a = std::tmpfile();
    FILE* b = std::tmpfile();
    ASSERT_TRUE(a != nullptr && b != nullptr);
    ASSERT_EQ(std::fwrite(Bytes(36, 7).data(), 1, 36, a), 36u);
    for (long i = 0; i < c.new_file_bytes; i++) ASSERT_EQ(std::fputc(0, b), 0);
    LASwriterLAS w;
    ASSERT_TRUE(w.openStdio(a, &h, 0, 2, 0));
    LASpointRecord p;
    ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
    const auto write = [&](int count) {
      for (int i = 0; i < count; i++) {
        fillPoint(p, i);
        EXPECT_TRUE(w.writePoint(&p));
      }
    };
    write(c.points_before);
    ASSERT_TRUE(w.replaceFile(b));
    write(c.points_after);
    CaptureStderr();
    EXPECT_EQ(w.close(false), c.count);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_FALSE(w.failed());
    EXPECT_EQ(readBackAndClose(a).size(), 36u + 227 + 28 * c.points_before);
    EXPECT_EQ(readBackAndClose(b).size(), c.new_file_bytes + 28u * c.points_after);
  }
}

// With compressed output what the coder still holds of the chunk in progress,
// that chunk's end and the chunk table go to the new FILE at the old one's
// positions: switched mid-chunk to the same file opened again at its end, the
// run writes the file, and close counts the bytes, of a run without a switch.
TEST(LASwriterLAS, CompressedRunSwitchedMidChunkToAContinuingFileIsUnchanged) {
  constexpr int kPoints = 3000;
  constexpr int32_t kChunkSize = 1000;
  constexpr int kSwitchAt = 1700;  // 700 points into the second chunk
  struct Case {
    const char* name;
    uint32_t compressor;
    uint8_t format;
    size_t count_at;  // the point count the header patch wrote
    size_t count_bytes;
  };
  const Case cases[] = {{"chunked, format 1", 2, 1, 107, 4}, {"layered, format 6", 3, 6, 247, 8}};
  const ScratchDir scratch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeaderOfFormat(h, c.format);
    // Points of varied coordinates, so that the coder holds bytes at the switch.
    const auto run = [&](const std::string& path, int switch_at, int64_t& count) {
      FILE* a = std::fopen(path.c_str(), "w+b");
      ASSERT_NE(a, nullptr);
      FILE* b = nullptr;
      LASwriterLAS w;
      ASSERT_TRUE(w.openStdio(a, &h, c.compressor, 2, kChunkSize));
      LASpointRecord p;
      ASSERT_TRUE(
          p.initFromFormat(&w.scale_offset, h.point_data_format, h.point_data_record_length, &h));
      uint32_t random = 12345;
      for (int i = 0; i < kPoints; i++) {
        if (i == switch_at) {
          ASSERT_EQ(std::fflush(a), 0);
          b = std::fopen(path.c_str(), "r+b");
          ASSERT_NE(b, nullptr);
          ASSERT_EQ(std::fseek(b, 0, SEEK_END), 0);
          ASSERT_TRUE(w.replaceFile(b));
        }
        fillPoint(p, i);
        random = random * 1664525u + 1013904223u;
        p.setX(static_cast<int32_t>(random >> 12));
        p.setY(static_cast<int32_t>(random & 0xFFFFF));
        p.setIntensity(static_cast<uint16_t>(random >> 20));
        ASSERT_TRUE(w.writePoint(&p));
        w.updateInventory(&p);
      }
      CaptureStderr();
      EXPECT_TRUE(w.updateHeader(&h, true, false));
      count = w.close(true);
      EXPECT_EQ(GetCapturedStderr(), "");
      EXPECT_FALSE(w.failed());
      EXPECT_EQ(std::fclose(a), 0);
      if (b != nullptr) {
        EXPECT_EQ(std::fclose(b), 0);
      }
    };
    int64_t unswitched_count = 0;
    int64_t switched_count = 0;
    const std::string unswitched = scratch.path("unswitched.las");
    const std::string switched = scratch.path("switched.las");
    run(unswitched, -1, unswitched_count);
    run(switched, kSwitchAt, switched_count);
    const Bytes expected = readBackAndClose(std::fopen(unswitched.c_str(), "rb"));
    ASSERT_EQ(static_cast<int64_t>(expected.size()), unswitched_count);
    EXPECT_EQ(uAt(expected, c.count_at, c.count_bytes), static_cast<uint64_t>(kPoints));
    EXPECT_EQ(readBackAndClose(std::fopen(switched.c_str(), "rb")), expected);
    EXPECT_EQ(switched_count, unswitched_count);
  }
}

// -------------------------------------------------------------- updateHeader

TEST_F(LASwriterLASTest, UpdateHeaderFromTheInventory) {
  setUpHeader12(header);
  header.number_of_point_records = 0;
  header.number_of_points_by_return[0] = 0;
  ASSERT_TRUE(openOn());
  // An inventory that counted nothing gives the offsets as the box.
  ASSERT_TRUE(writer.updateHeader(&header, true, false));
  EXPECT_EQ(u32At(out, 107), 0u);
  EXPECT_EQ(slice(out, 179, 48), LE().f64(100).f64(100).f64(200).f64(200).f64(300).f64(300).b);

  // X 5, 3, 8 in this order: the box on X is 3 to 8; returns 1, 2, 2.
  ASSERT_TRUE(point.initFromFormat(&writer.scale_offset, 1, 28, &header));
  const int xs[] = {5, 3, 8};
  const int returns[] = {1, 2, 2};
  for (int i = 0; i < 3; i++) {
    fillPoint(point, i);
    point.setX(xs[i]);
    point.setReturnNumber(static_cast<uint8_t>(returns[i]));
    writer.writePoint(&point);
    writer.updateInventory(&point);
  }
  ASSERT_TRUE(writer.updateHeader(&header, true, false));
  EXPECT_EQ(writer.expected_points, 3);
  EXPECT_EQ(slice(out, 107, 24), LE().u32(3).u32(1).u32(2).u32(0).u32(0).u32(0).b);
  EXPECT_EQ(slice(out, 179, 48),
            LE().f64(104).f64(101.5).f64(450.5).f64(450).f64(299.125).f64(299.125).b);
  // Back at the end of what the stream holds: the three records are still held
  // back by the point-record writer and follow at close.
  EXPECT_EQ(stream->position(), 227);
  CaptureStderr();
  EXPECT_EQ(writer.close(true), 227 + 3 * 28);
  EXPECT_EQ(GetCapturedStderr(), "");
}

// With a negative scale factor the box from the inventory had its maximum below
// its minimum: x scale -0.01 with X from -100 to 100 wrote max_x -1, min_x 1.
TEST(LASwriterLAS, UpdateHeaderBoxWithANegativeScaleFactorOnEachAxis) {
  struct Case {
    const char* name;
    double x_scale, y_scale, z_scale;
    double x_offset;
    Bytes box;  // at offset 179 after three points
  };
  // X -100, 100, 3; Y 1000, 1001, 1002; Z -7, 1, 9; y offset 200, z offset 300.
  const Case cases[] = {
      {"x, the issue's example", -0.01, 0.25, 0.125, 0.0,
       LE().f64(1).f64(-1).f64(450.5).f64(450).f64(301.125).f64(299.125).b},
      {"y", 0.5, -0.25, 0.125, 100.0,
       LE().f64(150).f64(50).f64(-50).f64(-50.5).f64(301.125).f64(299.125).b},
      {"z", 0.5, 0.25, -0.125, 100.0,
       LE().f64(150).f64(50).f64(450.5).f64(450).f64(300.875).f64(298.875).b},
      {"every axis", -0.5, -0.25, -0.125, 100.0,
       LE().f64(150).f64(50).f64(-50).f64(-50.5).f64(300.875).f64(298.875).b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader12(h);
    h.x_scale_factor = c.x_scale, h.y_scale_factor = c.y_scale, h.z_scale_factor = c.z_scale;
    h.x_offset = c.x_offset;
    Bytes out;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&out), &h, 0, 2, 50000));
    // An inventory that counted no point: the box of the offsets, as before.
    ASSERT_TRUE(w.updateHeader(&h, true, false));
    EXPECT_EQ(slice(out, 179, 48),
              LE().f64(c.x_offset).f64(c.x_offset).f64(200).f64(200).f64(300).f64(300).b);
    LASpointRecord p;
    ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
    const int32_t xs[] = {-100, 100, 3};
    const int32_t zs[] = {-7, 1, 9};
    for (int i = 0; i < 3; i++) {
      fillPoint(p, i);
      p.setX(xs[i]);
      p.setZ(zs[i]);
      ASSERT_TRUE(w.writePoint(&p));
      w.updateInventory(&p);
    }
    ASSERT_TRUE(w.updateHeader(&h, true, false));
    EXPECT_EQ(slice(out, 179, 48), c.box);
    CaptureStderr();
    EXPECT_EQ(w.close(true), 227 + 3 * 28);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST(LASwriterLAS, UpdateHeaderLegacyCountsFollowVersionAndFormat) {
  struct Case {
    const char* name;
    uint8_t minor;
    uint8_t format;
    int64_t count;
    uint32_t at_107;
    uint32_t return_1_at_111;
    const char* lines;
  };
  const int64_t big = 1ll << 32;
  const std::vector<Case> cases = {
      {"1.2 below 2^32", 2, 1, 1000, 1000, 600, ""},
      {"1.2 at 2^32", 2, 1, big, 0xFFFFFFFFu, 600,
       "WARNING: too many points in LAS 1.2 file. limit is 4294967295.\n"},
      {"1.4 format 1 at 2^32", 4, 1, big, 0, 600, ""},
      {"1.4 format 6", 4, 6, 1000, 0, 0, ""},
      // The legacy counts are the only counts below LAS 1.4: a LAS 1.2 file of
      // format 6 used to get 0 here although close patches the real count.
      {"1.2 format 6", 2, 6, 1000, 1000, 600, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    if (c.minor == 4) {
      setUpHeader14(h, c.format);
    } else {
      setUpHeader12(h);
      h.point_data_format = c.format;
      h.point_data_record_length = las_format::kPointRecordSize[c.format];
    }
    Bytes bytes;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
    w.inventory.number_of_point_records = c.count;
    w.inventory.number_of_points_by_return[1] = 600;
    w.inventory.number_of_points_by_return[15] = 5;
    CaptureStderr();
    EXPECT_TRUE(w.updateHeader(&h, true, false));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(u32At(bytes, 107), c.at_107);
    EXPECT_EQ(u32At(bytes, 111), c.return_1_at_111);
    EXPECT_EQ(w.expected_points, c.count);
    if (c.minor == 4) {
      EXPECT_EQ(u64At(bytes, 247), static_cast<uint64_t>(c.count));
      EXPECT_EQ(u64At(bytes, 255), 600u);
      EXPECT_EQ(u64At(bytes, 255 + 8 * 14), 5u);
    }
    w.points_written = c.count;  // so that close patches nothing
    EXPECT_EQ(w.close(true), static_cast<int64_t>(bytes.size()));
  }
}

TEST(LASwriterLAS, UpdateHeaderFromTheHeaderGiven) {
  LASheader h;
  setUpHeader14(h, 1);
  Bytes bytes;
  LASwriterLAS w;
  ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
  h.number_of_point_records = 0;
  h.extended_number_of_point_records = 40;
  h.number_of_points_by_return[2] = 11;
  h.extended_number_of_points_by_return[2] = 99;
  h.extended_number_of_points_by_return[9] = 13;
  h.max_z = 77.5;
  h.start_of_waveform_data_packet_record = 5;
  h.start_of_first_extended_variable_length_record = 1234;
  h.number_of_extended_variable_length_records = 2;
  CaptureStderr();
  EXPECT_TRUE(w.updateHeader(&h, false, false));
  EXPECT_EQ(GetCapturedStderr(),
            "WARNING: header->start_of_waveform_data_packet_record is 5. writing 0 instead.\n");
  EXPECT_EQ(w.expected_points, 0);  // the legacy field, also when it is 0
  EXPECT_EQ(u32At(bytes, 107), 0u);
  EXPECT_EQ(u32At(bytes, 119), 11u);
  EXPECT_EQ(f64At(bytes, 211), 77.5);
  EXPECT_EQ(u64At(bytes, 227), 0u);
  EXPECT_EQ(u64At(bytes, 235), 1234u);
  EXPECT_EQ(u32At(bytes, 243), 2u);
  EXPECT_EQ(u64At(bytes, 247), 40u);
  EXPECT_EQ(u64At(bytes, 255 + 16), 11u);
  EXPECT_EQ(u64At(bytes, 255 + 72), 13u);
  EXPECT_EQ(bytes.size(), 375u);
  // The two records announced now are demanded by close, which has none.
  CaptureStderr();
  EXPECT_EQ(w.close(true), 0);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: evlrs pointer is zero\n");

  // LAS 1.4 with format 6 zeroes the legacy counts; LAS 1.2 with format 6 keeps
  // them (they are its only counts).
  for (uint8_t minor : {4, 2}) {
    SCOPED_TRACE(minor);
    LASheader h6;
    setUpHeader14(h6, 6);
    h6.number_of_point_records = 3;
    h6.number_of_points_by_return[0] = 3;
    if (minor == 2) {
      h6.version_minor = 2;
      h6.header_size = 227;
      h6.offset_to_point_data = 227;
    }
    Bytes b6;
    LASwriterLAS w6;
    ASSERT_TRUE(w6.open(new FailingByteStream(&b6), &h6, 0, 2, 0));
    EXPECT_TRUE(w6.updateHeader(&h6, false, false));
    EXPECT_EQ(u32At(b6, 107), minor == 4 ? 0u : 3u);
    EXPECT_EQ(u32At(b6, 111), minor == 4 ? 0u : 3u);
    w6.points_written = 3;
  }
}

TEST_F(LASwriterLASTest, UpdateHeaderRefusesWithoutHeaderStreamOrSeeking) {
  setUpHeader12(header);
  CaptureStderr();
  EXPECT_FALSE(writer.updateHeader(&header, true, false));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: stream pointer is zero\n");
  ASSERT_TRUE(openOn());
  CaptureStderr();
  EXPECT_FALSE(writer.updateHeader(nullptr, true, false));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: header pointer is zero\n");

  // Standard output: no patch, and close reports the count it cannot patch.
  header.number_of_point_records = 0;
  Bytes piped;
  LASwriterLAS w;
  FailingByteStream* s = new FailingByteStream(&piped);
  s->can_seek = false;
  ASSERT_TRUE(w.open(s, &header, 0, 2, 0));
  LASpointRecord p;
  p.initFromFormat(&w.scale_offset, 1, 28, &header);
  for (int i = 0; i < 3; i++) {
    fillPoint(p, i);
    w.writePoint(&p);
    w.updateInventory(&p);
  }
  CaptureStderr();
  EXPECT_FALSE(w.updateHeader(&header, true, false));
  EXPECT_EQ(w.close(true), 311);
  EXPECT_EQ(GetCapturedStderr(),
            "WARNING: stream not seekable. cannot update header.\n"
            "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n");
  EXPECT_EQ(u32At(piped, 107), 0u);
}

TEST(LASwriterLAS, EveryFailedPatchNamesItsFieldAndReturnsToTheEnd) {
  struct Case {
    bool use_inventory;
    int64_t at;
    uint64_t waveform_start;
    const char* lines;
  };
  const std::vector<Case> cases = {
      {true, 107, 0, "ERROR: updating inventory.number_of_point_records\n"},
      {true, 119, 0, "ERROR: updating inventory.number_of_points_by_return[2]\n"},
      {true, 179, 0, "ERROR: updating inventory.max_X\n"},
      {true, 187, 0, "ERROR: updating inventory.min_X\n"},
      {true, 195, 0, "ERROR: updating inventory.max_Y\n"},
      {true, 203, 0, "ERROR: updating inventory.min_Y\n"},
      {true, 211, 0, "ERROR: updating inventory.max_Z\n"},
      {true, 219, 0, "ERROR: updating inventory.min_Z\n"},
      {true, 247, 0, "ERROR: updating header->extended_number_of_point_records\n"},
      {true, 367, 0, "ERROR: updating header->extended_number_of_points_by_return[14]\n"},
      {false, 107, 0, "ERROR: updating header->number_of_point_records\n"},
      {false, 127, 0, "ERROR: updating header->number_of_points_by_return[4]\n"},
      {false, 179, 0, "ERROR: updating header->max_x\n"},
      {false, 187, 0, "ERROR: updating header->min_x\n"},
      {false, 195, 0, "ERROR: updating header->max_y\n"},
      {false, 203, 0, "ERROR: updating header->min_y\n"},
      {false, 211, 0, "ERROR: updating header->max_z\n"},
      {false, 219, 0, "ERROR: updating header->min_z\n"},
      {false, 227, 0, "ERROR: updating header->start_of_waveform_data_packet_record\n"},
      {false, 227, 9,
       "WARNING: header->start_of_waveform_data_packet_record is 9. writing 0 instead.\n"
       "ERROR: updating start_of_waveform_data_packet_record\n"},
      {false, 235, 0, "ERROR: updating header->start_of_first_extended_variable_length_record\n"},
      {false, 243, 0, "ERROR: updating header->number_of_extended_variable_length_records\n"},
      {false, 247, 0, "ERROR: updating header->extended_number_of_point_records\n"},
      {false, 279, 0, "ERROR: updating header->extended_number_of_points_by_return[3]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.use_inventory << " " << c.at);
    LASheader h;
    setUpHeader14(h, 1);
    Bytes bytes;
    LASwriterLAS w;
    FailingByteStream* s = new FailingByteStream(&bytes);
    ASSERT_TRUE(w.open(s, &h, 0, 2, 0));
    h.start_of_waveform_data_packet_record = c.waveform_start;
    s->fail_at = c.at;
    CaptureStderr();
    EXPECT_FALSE(w.updateHeader(&h, c.use_inventory, false));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(s->position(), 375);
    s->fail_at = -1;
    w.points_written = w.expected_points;
  }
}

TEST_F(LASwriterLASTest, PointsAfterAFailedPatchFollowTheHeader) {
  // A failed patch used to leave the stream inside the header, where the
  // next points overwrote it.
  setUpHeader12(header);
  ASSERT_TRUE(openOn());
  writePoints(1);
  stream->fail_at = 187;  // min_x
  CaptureStderr();
  EXPECT_FALSE(writer.updateHeader(&header, true, false));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: updating inventory.min_X\n");
  stream->fail_at = -1;
  writePoints(2, 1);
  CaptureStderr();
  EXPECT_EQ(writer.close(true), 311);
  EXPECT_EQ(GetCapturedStderr(), "WARNING: written 3 points but expected 1 points\n");
  EXPECT_EQ(slice(out, 187, 40), LE().f64(-1.5).f64(2.5).f64(-2.5).f64(3.5).f64(-3.5).b);
  EXPECT_EQ(slice(out, 227, 84),
            LE().raw(pointBytes(0, false)).raw(pointBytes(1, false)).raw(pointBytes(2, false)).b);
}

TEST(LASwriterLAS, UpdateHeaderRewritesTheExtraBytesRecordInPlace) {
  LASheader h;
  setUpHeader12(h);
  h.addVlr("vendor", 1, 2, new uint8_t[2]{5, 5});
  h.addVlr("LASF_Spec", 4, 8, new uint8_t[8]{1, 1, 1, 1, 1, 1, 1, 1});
  Bytes bytes;
  LASwriterLAS w;
  FailingByteStream* s = new FailingByteStream(&bytes);
  ASSERT_TRUE(w.open(s, &h, 0, 2, 0));
  const size_t end = bytes.size();
  const size_t payload = 227 + 56 + 54;
  ASSERT_EQ(slice(bytes, payload, 8), Bytes(8, 1));
  std::memset(h.vlrs[1].data, 7, 8);

  // Without attributes nothing more is written.
  EXPECT_TRUE(w.updateHeader(&h, false, true));
  EXPECT_EQ(slice(bytes, payload, 8), Bytes(8, 1));

  h.attribute_count = 1;
  EXPECT_TRUE(w.updateHeader(&h, false, true));
  EXPECT_EQ(slice(bytes, payload, 8), Bytes(8, 7));
  EXPECT_EQ(bytes.size(), end);
  EXPECT_EQ(s->position(), static_cast<int64_t>(end));

  s->fail_at = static_cast<int64_t>(payload);
  CaptureStderr();
  EXPECT_FALSE(w.updateHeader(&h, false, true));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: writing 8 bytes of data from header->vlrs[1].data\n");
  EXPECT_EQ(s->position(), static_cast<int64_t>(end));
  s->fail_at = -1;

  h.vlrs[1].record_id = 5;
  CaptureStderr();
  EXPECT_TRUE(w.updateHeader(&h, false, true));
  EXPECT_EQ(GetCapturedStderr(), "WARNING: could not find extra bytes VLR for update\n");
  h.attribute_count = 0;
  w.points_written = w.expected_points;
}

// --------------------------------------------------------------------- close

TEST(LASwriterLAS, ClosePatchesAChangedPointCount) {
  struct Case {
    uint8_t minor;
    uint8_t format;
    uint32_t expected;
    int64_t written;
    bool update;
    const char* lines;
    uint32_t at_107;
  };
  const int64_t big = 1ll << 32;
  const std::vector<Case> cases = {
      {2, 1, 10, 12, false, "WARNING: written 12 points but expected 10 points\n", 10},
      {2, 1, 10, 12, true, "WARNING: written 12 points but expected 10 points\n", 12},
      {4, 1, 10, 12, true, "WARNING: written 12 points but expected 10 points\n", 12},
      {2, 1, 0, 5, true, "", 5},
      {4, 6, 0, 5, true, "", 0},
      {2, 1, 0, big, true, "", 0xFFFFFFFFu},
      {4, 1, 0, big, true, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.minor) << " " << int(c.format) << " " << c.written << " " << c.update);
    LASheader h;
    if (c.minor == 4) {
      setUpHeader14(h, c.format);
    } else {
      setUpHeader12(h);
    }
    h.number_of_point_records = c.expected;
    Bytes bytes;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, 0));
    const size_t end = bytes.size();
    w.points_written = c.written;  // the count alone decides the patch
    CaptureStderr();
    EXPECT_EQ(w.close(c.update), static_cast<int64_t>(end));
    EXPECT_EQ(GetCapturedStderr(), c.lines);
    EXPECT_EQ(u32At(bytes, 107), c.at_107);
    if (c.minor == 4) {
      EXPECT_EQ(u64At(bytes, 247), static_cast<uint64_t>(c.update ? c.written : c.expected));
    }
    EXPECT_EQ(w.expected_points, c.written);
    EXPECT_EQ(w.points_written, 0);
    // A second close returns 0 and says nothing.
    CaptureStderr();
    EXPECT_EQ(w.close(true), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(w.expected_points, c.written);
  }
}

// A LAS 1.4 header with one extended record of 5 bytes announced at 0.
void addExtendedRecord(LASheader& h) {
  h.evlrs = static_cast<LASevlrRecord*>(std::calloc(1, sizeof(LASevlrRecord)));
  LASevlrRecord& r = h.evlrs[0];
  std::memcpy(r.user_id, "evlr user", 9);
  r.record_id = 5;
  r.record_length_after_header = 5;
  std::memcpy(r.description, "five bytes", 10);
  r.data = new uint8_t[5]{1, 2, 3, 4, 5};
  h.number_of_extended_variable_length_records = 1;
}

TEST(LASwriterLAS, CloseAppendsExtendedRecordsAndPatchesTheirStart) {
  // clang-format off
  const Bytes record = LE()
      .u16(0).text("evlr user", 16).u16(5).u64(5).text("five bytes", 32)
      .u8(1).u8(2).u8(3).u8(4).u8(5)
      .b;
  // clang-format on
  for (uint32_t compressor : {0u, 2u}) {
    SCOPED_TRACE(compressor);
    LASheader h;
    setUpHeader14(h, 1);
    h.number_of_point_records = 2;
    addExtendedRecord(h);
    Bytes bytes;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, compressor, 2, 50000));
    EXPECT_EQ(u32At(bytes, 243), 1u);
    LASpointRecord p;
    p.initFromFormat(&w.scale_offset, 1, 28, &h);
    for (int i = 0; i < 2; i++) {
      fillPoint(p, i);
      w.writePoint(&p);
    }
    CaptureStderr();
    const int64_t size = w.close(true);
    EXPECT_EQ(GetCapturedStderr(), "");
    ASSERT_EQ(size, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(slice(bytes, bytes.size() - 65, 65), record);
    const uint64_t start = u64At(bytes, 235);
    EXPECT_EQ(start, bytes.size() - 65);
    if (compressor == 0) {
      EXPECT_EQ(start, 375u + 2 * 28);  // right after the two records
    } else {
      EXPECT_GT(start, u64At(bytes, 375 + 54 + 46));  // after the chunk table
    }
  }
}

TEST(LASwriterLAS, FailedExtendedRecordReleasesTheOutput) {
  // A failed extended record used to leave the stream and the file held, so
  // that the destructor's close wrote the records a second time.
  struct Case {
    const char* name;
    int64_t at;  // from the record's start; -1: none
    std::function<void(LASevlrRecord&)> edit;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"reserved", 0, nullptr, "ERROR: writing evlrs[0].reserved\n"},
      {"user_id", 2, nullptr, "ERROR: writing evlrs[0].user_id\n"},
      {"record_id", 18, nullptr, "ERROR: writing evlrs[0].record_id\n"},
      {"length", 20, nullptr, "ERROR: writing evlrs[0].record_length_after_header\n"},
      {"description", 28, nullptr, "ERROR: writing evlrs[0].description\n"},
      {"payload", 60, nullptr, "ERROR: writing 5 bytes of data from evlrs[0].data\n"},
      {"no payload", -1,
       [](LASevlrRecord& r) {
         delete[] r.data;
         r.data = nullptr;
       },
       "ERROR: there should be 5 bytes of data in evlrs[0].data\n"},
      // A payload beyond 2^32 - 1 bytes would be cut short by the 32-bit write.
      {"payload too long", -1, [](LASevlrRecord& r) { r.record_length_after_header = 1ull << 32; },
       "ERROR: evlrs[0].data has 4294967296 bytes, more than 4294967295\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader14(h, 1);
    h.number_of_point_records = 0;
    addExtendedRecord(h);
    if (c.edit) c.edit(h.evlrs[0]);
    Bytes bytes;
    bool alive = false;
    LASwriterLAS w;
    FailingByteStream* s = new FailingByteStream(&bytes, &alive);
    ASSERT_TRUE(w.open(s, &h, 0, 2, 0));
    if (c.at >= 0) s->fail_at = 375 + c.at;
    CaptureStderr();
    EXPECT_EQ(w.close(true), 0);
    EXPECT_EQ(GetCapturedStderr(), c.line);
    EXPECT_FALSE(alive);
    CaptureStderr();
    EXPECT_EQ(w.close(true), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST(LASwriterLAS, DeletingAnOpenWriterClosesIt) {
  LASheader h;
  setUpHeader12(h);
  h.number_of_point_records = 0;
  Bytes bytes;
  bool alive = false;
  LASwriterLAS* w = new LASwriterLAS();
  ASSERT_TRUE(w->open(new FailingByteStream(&bytes, &alive), &h, 0, 2, 0));
  LASpointRecord p;
  p.initFromFormat(&w->scale_offset, 1, 28, &h);
  w->writePoint(&p);
  w->writePoint(&p);
  delete static_cast<LASwriter*>(w);
  EXPECT_FALSE(alive);
  EXPECT_EQ(u32At(bytes, 107), 2u);
  EXPECT_EQ(bytes.size(), 227u + 56);
}

TEST(LASwriterLAS, ChunkEndsOnlyVariableChunks) {
  struct Case {
    const char* name;
    uint8_t format;
    uint32_t compressor;
    int32_t chunk_size;
    bool ends;
  };
  const std::vector<Case> cases = {
      {"uncompressed", 1, 0, 0, false},
      {"fixed chunks", 1, 2, 1000, false},
      {"variable chunks", 6, 3, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeader14(h, c.format);
    h.number_of_point_records = 2;
    Bytes bytes;
    LASwriterLAS w;
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, c.compressor, 2, c.chunk_size));
    EXPECT_FALSE(w.chunk());  // no record in the chunk yet
    LASpointRecord p;
    p.initFromFormat(&w.scale_offset, c.format, h.point_data_record_length, &h);
    w.writePoint(&p);
    const size_t before = bytes.size();
    EXPECT_EQ(w.chunk(), c.ends);
    if (!c.ends) {
      EXPECT_EQ(bytes.size(), before);
    }
    w.writePoint(&p);
    w.close(true);
    if (c.ends) {
      const uint64_t table = u64At(bytes, 375 + 54 + 40);
      EXPECT_EQ(u32At(bytes, table + 4), 2u);  // two chunks
    }
  }
}

// ------------------------------------------------------------ write failures

// What a program does with a writer: points until the first failure (ending a
// chunk after every `chunk_every` points when that is not 0), then the header
// update and close. Returns the captured standard error.
std::string runUntilFailure(LASwriterLAS& w, LASheader& h, int points, int chunk_every = 0) {
  LASpointRecord p;
  EXPECT_TRUE(
      p.initFromFormat(&w.scale_offset, h.point_data_format, h.point_data_record_length, &h));
  for (int i = 0; i < points; i++) {
    fillPoint(p, i);
    if (!w.writePoint(&p)) break;
    w.updateInventory(&p);
    if (chunk_every != 0 && (i + 1) % chunk_every == 0 && !w.chunk()) break;
  }
  w.updateHeader(&h, true, false);
  w.close(true);
  return GetCapturedStderr();
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// Only failures inside the header block were reported: points, chunks and the
// chunk table lost to a full disk still ended in success. For every refused byte
// of a run after the header: one "ERROR: " line naming what failed, failed(), and
// no byte after the refused one.
TEST(LASwriterLASFailure, EveryLostByteOfARunIsReportedOnce) {
  struct Case {
    const char* name;
    uint8_t format;  // LAS 1.2 for format 1, LAS 1.4 for format 6
    uint32_t compressor;
    int32_t chunk_size;
    int chunk_every;  // points between chunk() calls; 0: none
    size_t step;
  };
  const std::vector<Case> cases = {
      {"raw", 1, 0, -1, 0, 5},
      {"one coded stream", 1, 1, -1, 0, 1},
      {"fixed chunks", 1, 2, 100, 0, 1},
      {"layered fixed chunks", 6, 3, 100, 0, 1},
      {"layered variable chunks", 6, 3, 0, 70, 1},
  };
  const int kPoints = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    setUpHeaderOfFormat(h, c.format);
    Bytes good;
    {
      LASwriterLAS w;
      ASSERT_TRUE(w.open(new FailingByteStream(&good), &h, c.compressor, 2, c.chunk_size));
      CaptureStderr();
      runUntilFailure(w, h, kPoints, c.chunk_every);
      ASSERT_FALSE(w.failed());
    }
    const size_t points_start = u32At(good, 96);  // offset_to_point_data
    for (size_t n = points_start; n < good.size(); n += c.step) {
      SCOPED_TRACE(n);
      Bytes bytes;
      LASwriterLAS w;
      FailingByteStream* s = new FailingByteStream(&bytes);
      s->fail_at = static_cast<int64_t>(n);
      CaptureStderr();
      if (!w.open(s, &h, c.compressor, 2, c.chunk_size)) {
        // Only the chunk-table pointer comes after the records and before the points.
        EXPECT_EQ(GetCapturedStderr(), "ERROR: writing chunk table pointer\n");
        EXPECT_TRUE(w.failed());
        continue;
      }
      const std::string err = runUntilFailure(w, h, kPoints, c.chunk_every);
      EXPECT_TRUE(w.failed());
      EXPECT_EQ(countOf(err, "ERROR: "), 1u) << err;
      if (c.compressor == 0) {
        // Raw records go out a block at a time: the line names the last point
        // of the block that holds the refused byte.
        const size_t per_block = 585;  // 28-byte records in a block of 16384 bytes
        const size_t point = (n - points_start) / 28 + 1;
        const size_t last = std::min<size_t>((point + per_block - 1) / per_block * per_block,
                                             static_cast<size_t>(kPoints));
        const std::string line = "ERROR: writing point " + std::to_string(last) + "\n";
        EXPECT_EQ(err.substr(0, line.size()), line);
      }
      ASSERT_LE(bytes.size(), n);
      const size_t from = points_start + (c.compressor >= 2 ? 8 : 0);
      if (bytes.size() > from) {
        EXPECT_EQ(slice(bytes, from, bytes.size() - from), slice(good, from, bytes.size() - from));
      }
    }
  }
}

// A seek, position query or flush that fails during the header update or the
// close: the writer says what failed, failed() is true, and a failed seek writes
// nothing (a patch used to land after the last point).
TEST(LASwriterLASFailure, FailedSeekPositionOrFlushIsReported) {
  struct Case {
    const char* name;
    uint32_t compressor;
    uint8_t version_minor;
    bool before_update;  // the stream fails from updateHeader on, else from close on
    void (*arm)(FailingByteStream&);
    const char* lines;
  };
  const auto seeks = [](FailingByteStream& s) { s.refuse_seeks = true; };
  const auto positions = [](FailingByteStream& s) { s.refuse_position = true; };
  const auto flushes = [](FailingByteStream& s) { s.refuse_flush = true; };
  const auto ends = [](FailingByteStream& s) { s.refuse_seek_to_end = true; };
  const auto evlr_start = [](FailingByteStream& s) { s.fail_at = 235; };
  const std::vector<Case> cases = {
      {"seek of the header update", 0, 2, true, seeks,
       "ERROR: seeking to header->number_of_point_records\n"},
      {"seek of the count patch", 0, 2, false, seeks,
       "ERROR: seeking to header->number_of_point_records\n"},
      {"seek to the chunk-table pointer", 2, 2, false, seeks,
       "ERROR: writing chunk table pointer\n"},
      {"position for the byte count", 0, 2, false, positions,
       "ERROR: querying the output position for the byte count\n"},
      {"position at the end of the last chunk", 2, 2, false, positions,
       "ERROR: writing chunk 0 of the points\n"},
      {"position of the extended records", 0, 4, false, positions,
       "ERROR: querying the output position for the extended records\n"},
      {"flush", 0, 2, false, flushes, "ERROR: flushing output 'output'\n"},
      {"return to the end after the header update", 0, 2, true, ends,
       "ERROR: seeking to the end of output 'output'\n"},
      {"patch of the extended records' start", 0, 4, false, evlr_start,
       "ERROR: updating header->start_of_first_extended_variable_length_record\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    if (c.version_minor == 4) {
      setUpHeader14(h, 1);
      addExtendedRecord(h);
    } else {
      setUpHeader12(h);
    }
    Bytes bytes;
    LASwriterLAS w;
    FailingByteStream* s = new FailingByteStream(&bytes);
    ASSERT_TRUE(w.open(s, &h, c.compressor, 2, -1));
    LASpointRecord p;
    ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
    for (int i = 0; i < 3; i++) {
      fillPoint(p, i);
      ASSERT_TRUE(w.writePoint(&p));
    }
    // Raw records are still held back here; they go out at close.
    const size_t points_end = bytes.size() + (c.compressor == 0 ? 3 * 28 : 0);
    CaptureStderr();
    if (c.before_update) c.arm(*s);
    w.updateHeader(&h, false, false);  // the header announces 0 points
    if (!c.before_update) c.arm(*s);
    w.close(true);
    const std::string err = GetCapturedStderr();
    EXPECT_TRUE(w.failed());
    EXPECT_EQ(countOf(err, "ERROR: "), 1u) << err;
    EXPECT_NE(err.find(c.lines), std::string::npos) << err;
    if (c.arm == +seeks) {
      // Nothing was written after the points: no patch landed at the end.
      EXPECT_LE(bytes.size(), points_end + (c.compressor == 2 ? 40 : 0));
      EXPECT_EQ(u32At(bytes, 107), 0u);
    }
  }
}

TEST(LASwriterLASFailure, FailedPositionQueryBeforeTheHeaderIsReported) {
  LASheader h;
  setUpHeader12(h);
  Bytes bytes;
  LASwriterLAS w;
  FailingByteStream* s = new FailingByteStream(&bytes);
  s->refuse_position = true;
  CaptureStderr();
  EXPECT_FALSE(w.open(s, &h, 0, 2, -1));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: querying the output position for the header\n");
  EXPECT_TRUE(w.failed());
  EXPECT_TRUE(bytes.empty());
}

// A caller's FILE opened for appending once counted as seekable: the header
// patches went to the end of the file. It gets no patch and the warnings of an
// output that cannot seek, which is no failure.
TEST(LASwriterLASFailure, FileOpenedForAppendingGetsNoPatch) {
  const ScratchDir scratch;
  const std::string name = scratch.path("appended.las");
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("abc", 1, 3, f), 3u);
  ASSERT_EQ(std::fclose(f), 0);
  f = std::fopen(name.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  LASheader h;
  setUpHeader12(h);
  LASwriterLAS w;
  ASSERT_TRUE(w.openStdio(f, &h, 0, 2, -1));
  LASpointRecord p;
  ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, 28, &h));
  for (int i = 0; i < 3; i++) {
    fillPoint(p, i);
    ASSERT_TRUE(w.writePoint(&p));
    w.updateInventory(&p);
  }
  CaptureStderr();
  EXPECT_FALSE(w.updateHeader(&h, true, false));
  EXPECT_EQ(w.close(true), 227 + 3 * 28);
  EXPECT_EQ(GetCapturedStderr(),
            "WARNING: stream not seekable. cannot update header.\n"
            "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n");
  EXPECT_FALSE(w.failed());
  std::fclose(f);
  f = std::fopen(name.c_str(), "rb");
  Bytes file;
  for (int ch; (ch = std::fgetc(f)) != EOF;) file.push_back(static_cast<uint8_t>(ch));
  std::fclose(f);
  ASSERT_EQ(file.size(), 3u + 227 + 3 * 28);
  EXPECT_EQ(slice(file, 0, 3), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(u32At(file, 3 + 107), 0u);
  EXPECT_EQ(slice(file, 3 + 227, 28), pointBytes(0, false));
}

// A header asking for records shorter than its point format got records of the
// format's size (with a warning) but kept the shorter length, so a reader found
// every record after the first in the wrong place. The size used is written.
TEST(LASwriterLAS, HeaderTellsTheRecordLengthActuallyUsed) {
  struct Case {
    uint16_t asked;
    uint16_t written;
    const char* warning;
  };
  const std::vector<Case> cases = {
      {20, 28,
       "WARNING: point size 20 too small by 8 bytes for point type 1. assuming point_size of 28\n"},
      {28, 28, ""},
      {31, 31, ""},  // three extra bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    LASheader h;
    setUpHeader12(h);
    h.point_data_record_length = c.asked;
    Bytes bytes;
    LASwriterLAS w;
    CaptureStderr();
    ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, -1));
    EXPECT_EQ(GetCapturedStderr(), c.warning);
    EXPECT_EQ(uAt(bytes, 105, 2), c.written);
    LASpointRecord p;
    CaptureStderr();
    ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 1, c.asked, &h));
    GetCapturedStderr();
    w.writePoint(&p);
    w.writePoint(&p);
    EXPECT_EQ(w.close(false), 227 + 2 * c.written);
  }
}

// ------------------------------------------------- offsets from the header's start

// The extended record addExtendedRecord adds, as a file holds it.
Bytes extendedRecordBytes() {
  return LE()
      .u16(0)
      .text("evlr user", 16)
      .u16(5)
      .u64(5)
      .text("five bytes", 32)
      .u8(1)
      .u8(2)
      .u8(3)
      .u8(4)
      .u8(5)
      .b;
}

// The program's points: three, each counted in the inventory.
void writeThreePoints(LASwriterLAS& w, LASpointRecord& p) {
  for (int i = 0; i < 3; i++) {
    fillPoint(p, i);
    EXPECT_TRUE(w.writePoint(&p));
    w.updateInventory(&p);
  }
}

// Where the writer of the offsets tests writes: a caller's FILE, an output
// stream, or a caller's FILE opened for appending, which cannot seek.
enum class Target { kFile, kOstream, kAppendingFile };

struct Outcome {
  Bytes bytes;  // the output after the bytes that were there before
  std::string err;
  int64_t size = 0;  // what close returned
};

// The program's run (three points, updateHeader from the inventory, close)
// into `target` after `before` other bytes.
Outcome runAfter(Target target, size_t before, LASheader& h, uint32_t compressor,
                 const ScratchDir& scratch) {
  const std::string other(before, '\xEE');  // data() is never null, also when empty
  const std::string name = scratch.path("after" + std::to_string(before) + ".las");
  std::stringstream os;
  FILE* f = nullptr;
  if (target == Target::kAppendingFile) {
    f = std::fopen(name.c_str(), "wb");
    EXPECT_EQ(std::fwrite(other.data(), 1, before, f), before);
    EXPECT_EQ(std::fclose(f), 0);
    f = std::fopen(name.c_str(), "ab");
  } else if (target == Target::kFile) {
    f = std::fopen(name.c_str(), "w+b");
    EXPECT_EQ(std::fwrite(other.data(), 1, before, f), before);
  } else {
    os << other;
  }
  Outcome run;
  LASwriterLAS w;
  CaptureStderr();
  const bool opened =
      f != nullptr ? w.openStdio(f, &h, compressor, 2, 2) : w.openOstream(os, &h, compressor, 2, 2);
  EXPECT_TRUE(opened);
  LASpointRecord p;
  EXPECT_TRUE(
      p.initFromFormat(&w.scale_offset, h.point_data_format, h.point_data_record_length, &h));
  writeThreePoints(w, p);
  w.updateHeader(&h, true, false);
  run.size = w.close(true);
  run.err = GetCapturedStderr();
  EXPECT_FALSE(w.failed());
  std::string all;
  if (f != nullptr) {
    EXPECT_EQ(std::fclose(f), 0);
    f = std::fopen(name.c_str(), "rb");
    for (int c; (c = std::fgetc(f)) != EOF;) all.push_back(static_cast<char>(c));
    std::fclose(f);
  } else {
    all = os.str();
  }
  EXPECT_GE(all.size(), before);
  EXPECT_EQ(all.substr(0, before), other);
  run.bytes.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  return run;
}

// Two offsets counted from the stream's start while every other counted from
// the header's: after 13 other bytes a compressed file's chunk-table pointer
// said 13 more than where its table began, and a LAS 1.4 file announced its
// extended records 13 bytes after where they began. Written after other bytes,
// the file is byte for byte the file written at 0, and its offsets agree.
TEST(LASwriterLASOffsets, AFileWrittenAfterOtherBytesIsTheFileWrittenAtZero) {
  struct Format {
    const char* name;
    uint8_t point_format;  // 1: LAS 1.2; 6: LAS 1.4 with an extended record
    uint32_t compressor;
  };
  const std::vector<Format> formats = {
      {"raw LAS 1.2", 1, 0},
      {"chunked LAS 1.2", 1, 2},
      {"raw LAS 1.4", 6, 0},
      {"layered LAS 1.4", 6, 3},
  };
  const ScratchDir scratch;
  for (const Format& format : formats) {
    for (const Target target : {Target::kFile, Target::kOstream, Target::kAppendingFile}) {
      SCOPED_TRACE(testing::Message() << format.name << ", target " << static_cast<int>(target));
      LASheader h;
      const bool las14 = format.point_format == 6;
      if (las14) {
        setUpHeader14(h, 6);
        addExtendedRecord(h);
      } else {
        setUpHeader12(h);
      }
      const Outcome at_0 = runAfter(target, 0, h, format.compressor, scratch);
      const Outcome after_13 = runAfter(target, 13, h, format.compressor, scratch);
      EXPECT_EQ(after_13.bytes, at_0.bytes);
      EXPECT_EQ(after_13.err, at_0.err);
      EXPECT_EQ(after_13.size, at_0.size);
      const Bytes& b = after_13.bytes;
      ASSERT_EQ(after_13.size, static_cast<int64_t>(b.size()));

      // The file's own offsets agree with where things are.
      const bool seekable = target != Target::kAppendingFile;
      const size_t points_end = b.size() - (las14 ? 65 : 0);
      if (las14) {
        EXPECT_EQ(slice(b, points_end, 65), extendedRecordBytes());
        EXPECT_EQ(u32At(b, 243), 1u);
        EXPECT_EQ(u64At(b, 235), seekable ? points_end : 0u);
      }
      if (format.compressor != 0) {
        const size_t pointer_at = u32At(b, 96);
        const uint64_t table = u64At(b, seekable ? pointer_at : points_end - 8);
        ASSERT_LT(table, points_end);
        EXPECT_EQ(u32At(b, table), 0u);      // the table's version
        EXPECT_EQ(u32At(b, table + 4), 2u);  // chunks of 2 points
        EXPECT_EQ(u64At(b, pointer_at), seekable ? table : ~0ull);
      }
      std::string lines;
      if (!seekable) {
        lines = "WARNING: stream not seekable. cannot update header.\n";
        if (las14) {
          lines +=
              "WARNING: stream not seekable. cannot update "
              "header->start_of_first_extended_variable_length_record from 0 to " +
              std::to_string(points_end) + ".\n";
        }
        lines += "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n";
      }
      EXPECT_EQ(after_13.err, lines);
    }
  }
}

// close wrote the extended records through a pointer to the header's array
// that open kept: an array grown with realloc after open, or released by clean,
// was read after it was freed. close writes the records the header holds then
// and brings offsets 235 and 243 to them; on a stream that cannot seek it says
// which fields it cannot bring.
TEST(LASwriterLAS, CloseWritesTheExtendedRecordsTheHeaderHoldsThen) {
  struct Case {
    const char* name;
    std::function<void(LASheader&)> edit;  // after updateHeader, before close
    uint32_t records;
  };
  const std::vector<Case> cases = {
      {"as at open", nullptr, 1},
      {"grown by realloc",
       [](LASheader& h) {
         h.evlrs = static_cast<LASevlrRecord*>(std::realloc(h.evlrs, 2 * sizeof(LASevlrRecord)));
         ASSERT_NE(h.evlrs, nullptr);
         h.evlrs[1] = h.evlrs[0];
         h.evlrs[1].record_id = 6;
         h.evlrs[1].record_length_after_header = 2;
         h.evlrs[1].data = new uint8_t[2]{8, 9};
         h.number_of_extended_variable_length_records = 2;
       },
       2},
      {"cleaned", [](LASheader& h) { h.clean(); }, 0},
  };
  LE grown;
  grown.raw(extendedRecordBytes());
  grown.u16(0).text("evlr user", 16).u16(6).u64(2).text("five bytes", 32).u8(8).u8(9);
  const Bytes expected_records[] = {Bytes(), extendedRecordBytes(), grown.b};
  for (const Case& c : cases) {
    for (const bool seekable : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.name << (seekable ? "" : ", cannot seek"));
      LASheader h;
      setUpHeader14(h, 6);
      addExtendedRecord(h);
      Bytes bytes;
      LASwriterLAS w;
      FailingByteStream* s = new FailingByteStream(&bytes);
      s->can_seek = seekable;
      ASSERT_TRUE(w.open(s, &h, 0, 2, -1));
      LASpointRecord p;
      ASSERT_TRUE(p.initFromFormat(&w.scale_offset, 6, 30, &h));
      writeThreePoints(w, p);
      CaptureStderr();
      w.updateHeader(&h, true, false);  // the program's order
      if (c.edit) c.edit(h);
      const size_t points_end = 375 + 3 * 30;
      const int64_t size = w.close(true);
      EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
      const std::string err = GetCapturedStderr();
      EXPECT_FALSE(w.failed());
      EXPECT_EQ(slice(bytes, points_end, bytes.size() - points_end), expected_records[c.records]);
      const uint64_t start = c.records != 0 ? points_end : 0;
      if (seekable) {
        EXPECT_EQ(err, "");
        EXPECT_EQ(u64At(bytes, 235), start);
        EXPECT_EQ(u32At(bytes, 243), c.records);
      } else {
        // Nothing patched: the values of open stay, and the lines say so.
        std::string lines = "WARNING: stream not seekable. cannot update header.\n";
        if (start != 0) {
          lines +=
              "WARNING: stream not seekable. cannot update "
              "header->start_of_first_extended_variable_length_record from 0 to 465.\n";
        }
        if (c.records != 1) {
          lines +=
              "WARNING: stream not seekable. cannot update "
              "header->number_of_extended_variable_length_records from 1 to " +
              std::to_string(c.records) + ".\n";
        }
        lines += "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n";
        EXPECT_EQ(err, lines);
        EXPECT_EQ(u64At(bytes, 235), 0u);
        EXPECT_EQ(u32At(bytes, 243), 1u);
      }
    }
  }
}

// The legacy counts followed the header's point_data_format, not the point
// type open wrote at offset 104: a LAS 1.4 header of format 1 whose descriptor
// lays out format 6 items got legacy counts, which LAS 1.4 forbids for point
// types 6 to 10. For items of no point format (type 127) the header's format
// decides.
TEST(LASwriterLAS, LegacyCountsFollowThePointTypeWritten) {
  struct Case {
    const char* name;
    uint8_t header_format;
    std::vector<LASitem> items;
    uint8_t type_written;
    bool zero;  // the legacy counts are 0
  };
  const std::vector<LASitem> format1 = {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}};
  const std::vector<LASitem> no_format = {
      {LASitem::POINT10, 20, 0}, {LASitem::RGB12, 6, 0}, {LASitem::GPSTIME11, 8, 0}};
  const std::vector<Case> cases = {
      {"format 1 header, format 6 items", 1, {{LASitem::POINT14, 30, 0}}, 6, true},
      {"format 6 header, format 1 items", 6, format1, 1, false},
      {"format 6 header, items of no format", 6, no_format, 127, true},
      {"format 1 header, items of no format", 1, no_format, 127, false},
  };
  enum class Patch { kFromInventory, kFromHeader, kAtClose };
  for (const Case& c : cases) {
    for (const Patch patch : {Patch::kFromInventory, Patch::kFromHeader, Patch::kAtClose}) {
      SCOPED_TRACE(testing::Message() << c.name << ", patch " << static_cast<int>(patch));
      LASheader h;
      setUpHeader14(h, c.header_format);
      uint16_t length = 0;
      for (const LASitem& item : c.items) length = static_cast<uint16_t>(length + item.size);
      h.point_data_record_length = length;
      h.compressor_descriptor = new Quodax();
      ASSERT_TRUE(
          h.compressor_descriptor->setup(static_cast<uint16_t>(c.items.size()), c.items.data(), 0));
      Bytes bytes;
      LASwriterLAS w;
      CaptureStderr();
      ASSERT_TRUE(w.open(new FailingByteStream(&bytes), &h, 0, 2, -1));
      EXPECT_EQ(bytes[104], c.type_written);
      LASpointRecord p;
      ASSERT_TRUE(p.initFromItems(&w.scale_offset, static_cast<uint16_t>(c.items.size()),
                                  c.items.data(), &h));
      for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(w.writePoint(&p));  // return 1 of 1
        w.updateInventory(&p);
      }
      if (patch == Patch::kFromInventory) {
        EXPECT_TRUE(w.updateHeader(&h, true, false));
      } else if (patch == Patch::kFromHeader) {
        h.number_of_point_records = 3;
        h.number_of_points_by_return[0] = 3;
        EXPECT_TRUE(w.updateHeader(&h, false, false));
      }
      const int64_t size = w.close(true);
      EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
      EXPECT_EQ(GetCapturedStderr(), "");
      const uint32_t legacy = c.zero ? 0u : 3u;
      EXPECT_EQ(u32At(bytes, 107), legacy);
      if (patch != Patch::kAtClose) {
        EXPECT_EQ(u32At(bytes, 111), legacy);
      }
      EXPECT_EQ(u64At(bytes, 247), 3u);
    }
  }
}

}  // namespace
