#include "morrowtide/las/las_header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "morrowtide/compressor/quodax.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::vector<uint8_t> bytesOf(const char* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

std::vector<uint8_t> padded(const std::string& text, size_t n) {
  std::vector<uint8_t> v(text.begin(), text.end());
  v.resize(n, 0);
  return v;
}

uint8_t* payload(size_t n, uint8_t fill) {
  uint8_t* p = new uint8_t[n];
  std::fill(p, p + n, fill);
  return p;
}

// A cleaned header with offset 235 (as after a 1.3 header) and two 26-byte
// records of "LASF_Spec": ids 100 and 101, giving offset 395.
class LASheaderRecords : public testing::Test {
 protected:
  void SetUp() override {
    header.clean();
    header.header_size = 235;
    header.offset_to_point_data = 235;
    ASSERT_TRUE(header.addVlr("LASF_Spec", 100, 26, payload(26, 0xA1), false, "first", false));
    EXPECT_EQ(header.number_of_variable_length_records, 1u);
    EXPECT_EQ(header.offset_to_point_data, 315u);
    ASSERT_TRUE(header.addVlr("LASF_Spec", 101, 26, payload(26, 0xA2), false, "second", false));
    EXPECT_EQ(header.number_of_variable_length_records, 2u);
    EXPECT_EQ(header.offset_to_point_data, 395u);
  }
  LASheader header;
};

TEST(LASheader, IsCreatedZeroFilledAndCleanedToTheDefaults) {
  LASheader header;
  EXPECT_EQ(bytesOf(header.file_signature, 4), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(header.version_minor, 0);
  EXPECT_EQ(header.header_size, 0);
  EXPECT_EQ(header.x_scale_factor, 0.0);
  EXPECT_EQ(header.vlrs, nullptr);

  // Fill it with owned things of every kind; clean releases them (the leak
  // checker of the sanitizer build sees any that stays).
  header.version_minor = 4;
  header.x_offset = 7.0;
  header.point_data_format = 6;
  header.number_of_point_records = 9;
  header.extended_number_of_points_by_return[14] = 3;
  header.user_data_in_header_size = 3;
  header.user_data_in_header = payload(3, 1);
  header.user_data_after_header_size = 5;
  header.user_data_after_header = payload(5, 2);
  header.compressor_descriptor = new Quodax();
  header.vlr_lastiling = new LAStilingRecord();
  header.vlr_lasoriginal = new LASoriginalRecord();
  header.evlrs = static_cast<LASevlrRecord*>(std::calloc(1, sizeof(LASevlrRecord)));
  header.evlrs[0].record_length_after_header = 4;
  header.evlrs[0].data = payload(4, 3);
  header.number_of_extended_variable_length_records = 1;
  header.start_of_first_extended_variable_length_record = 1000;
  header.owns_attributes = 1;
  header.attribute_count = 1;
  header.attribute_descriptors =
      static_cast<LASextraAttribute*>(std::calloc(1, sizeof(LASextraAttribute)));
  header.attribute_offsets = static_cast<int32_t*>(std::calloc(1, sizeof(int32_t)));
  header.attribute_sizes = static_cast<int32_t*>(std::calloc(1, sizeof(int32_t)));
  header.addVlr("LASF_Spec", 4, 8, payload(8, 4), false, nullptr, false);

  header.clean();
  EXPECT_EQ(bytesOf(header.file_signature, 4), padded("LASF", 4));
  EXPECT_EQ(header.version_major, 1);
  EXPECT_EQ(header.version_minor, 2);
  EXPECT_EQ(header.header_size, 227);
  EXPECT_EQ(header.offset_to_point_data, 227u);
  EXPECT_EQ(header.point_data_format, 0);
  EXPECT_EQ(header.point_data_record_length, 20);
  EXPECT_EQ(header.x_scale_factor, 0.01);
  EXPECT_EQ(header.y_scale_factor, 0.01);
  EXPECT_EQ(header.z_scale_factor, 0.01);
  EXPECT_EQ(header.x_offset, 0.0);
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.extended_number_of_points_by_return[14], 0u);
  EXPECT_EQ(header.number_of_variable_length_records, 0u);
  EXPECT_EQ(header.number_of_extended_variable_length_records, 0u);
  EXPECT_EQ(header.start_of_first_extended_variable_length_record, 0u);
  EXPECT_EQ(header.user_data_in_header_size, 0u);
  EXPECT_EQ(header.user_data_after_header_size, 0u);
  EXPECT_EQ(header.vlrs, nullptr);
  EXPECT_EQ(header.evlrs, nullptr);
  EXPECT_EQ(header.compressor_descriptor, nullptr);
  EXPECT_EQ(header.vlr_lastiling, nullptr);
  EXPECT_EQ(header.vlr_lasoriginal, nullptr);
  EXPECT_EQ(header.user_data_in_header, nullptr);
  EXPECT_EQ(header.owns_attributes, 0);
  EXPECT_EQ(header.attribute_count, 0);
  EXPECT_EQ(header.attribute_descriptors, nullptr);
}

TEST(LASheader, CleanResetsEveryFieldToZeroOrItsDefault) {
  LASheader header;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 3.0;
  header.x_offset = header.y_offset = header.z_offset = 4.0;
  std::memcpy(header.file_signature, "ABCD", 4);
  header.file_source_ID = 1;
  header.global_encoding = 2;
  header.project_ID_GUID_data_1 = 3;
  header.project_ID_GUID_data_2 = 4;
  header.project_ID_GUID_data_3 = 5;
  header.project_ID_GUID_data_4[7] = 6;
  header.version_major = 7;
  header.version_minor = 8;
  header.system_identifier[31] = 'S';
  header.generating_software[0] = 'G';
  header.file_creation_day = 9;
  header.file_creation_year = 10;
  header.header_size = 11;
  header.offset_to_point_data = 12;
  header.point_data_format = 13;
  header.point_data_record_length = 14;
  header.number_of_point_records = 15;
  header.number_of_points_by_return[4] = 16;
  header.max_x = header.min_x = header.max_y = header.min_y = header.max_z = header.min_z = 17.0;
  header.start_of_waveform_data_packet_record = 18;
  header.extended_number_of_point_records = 19;
  header.extended_number_of_points_by_return[0] = 20;

  header.clean();
  EXPECT_EQ(header.x_scale_factor, 0.01);
  EXPECT_EQ(header.y_scale_factor, 0.01);
  EXPECT_EQ(header.z_scale_factor, 0.01);
  EXPECT_EQ(header.x_offset, 0.0);
  EXPECT_EQ(header.y_offset, 0.0);
  EXPECT_EQ(header.z_offset, 0.0);
  EXPECT_EQ(bytesOf(header.file_signature, 4), padded("LASF", 4));
  EXPECT_EQ(header.file_source_ID, 0);
  EXPECT_EQ(header.global_encoding, 0);
  EXPECT_EQ(header.project_ID_GUID_data_1, 0u);
  EXPECT_EQ(header.project_ID_GUID_data_2, 0);
  EXPECT_EQ(header.project_ID_GUID_data_3, 0);
  EXPECT_EQ(bytesOf(reinterpret_cast<const char*>(header.project_ID_GUID_data_4), 8),
            std::vector<uint8_t>(8, 0));
  EXPECT_EQ(header.version_major, 1);
  EXPECT_EQ(header.version_minor, 2);
  EXPECT_EQ(bytesOf(header.system_identifier, 32), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(bytesOf(header.generating_software, 32), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(header.file_creation_day, 0);
  EXPECT_EQ(header.file_creation_year, 0);
  EXPECT_EQ(header.header_size, 227);
  EXPECT_EQ(header.offset_to_point_data, 227u);
  EXPECT_EQ(header.point_data_format, 0);
  EXPECT_EQ(header.point_data_record_length, 20);
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.number_of_points_by_return[4], 0u);
  for (double v :
       {header.max_x, header.min_x, header.max_y, header.min_y, header.max_z, header.min_z}) {
    EXPECT_EQ(v, 0.0);
  }
  EXPECT_EQ(header.start_of_waveform_data_packet_record, 0u);
  EXPECT_EQ(header.extended_number_of_point_records, 0u);
  EXPECT_EQ(header.extended_number_of_points_by_return[0], 0u);
  EXPECT_EQ(header.madeVlrCount(), 0u);
}

TEST(LASheader, CleanLeavesTheExtraBytesArrayToItsOwnerInEveryRecordKind) {
  // The array is the payload of a record and of an extended record; the sanitizer
  // build sees a second release.
  LASheader header;
  header.clean();
  auto* attributes = static_cast<LASextraAttribute*>(std::calloc(1, sizeof(LASextraAttribute)));
  header.owns_attributes = 1;
  header.attribute_count = 1;
  header.attribute_descriptors = attributes;
  ASSERT_TRUE(header.addVlr("LASF_Spec", 4, 192, reinterpret_cast<uint8_t*>(attributes)));
  header.evlrs = static_cast<LASevlrRecord*>(std::calloc(2, sizeof(LASevlrRecord)));
  header.evlrs[0].data = reinterpret_cast<uint8_t*>(attributes);
  header.evlrs[1].data = payload(6, 7);
  header.number_of_extended_variable_length_records = 2;
  header.clean();
  EXPECT_EQ(header.attribute_descriptors, nullptr);
  EXPECT_EQ(header.evlrs, nullptr);
  EXPECT_EQ(header.vlrs, nullptr);
}

TEST(LASheader, OwnsItsMemorySoItCannotBeCopied) {
  // A copied header would release the same records twice.
  static_assert(!std::is_copy_constructible<LASheader>::value, "no copies");
  static_assert(!std::is_copy_assignable<LASheader>::value, "no copies");
}

TEST(LASheader, CleanReleasesWavePacketDescriptorsMadeWithNew) {
  // Descriptors made with new and registered as payloads were released with a
  // non-matching delete[]; the sanitizer build reports such a mismatch.
  LASheader header;
  header.clean();
  header.vlr_wave_packet_descr = new LASwavePacketDescriptor*[256]();
  for (int i = 1; i <= 2; i++) {
    LASwavePacketDescriptor* d = new LASwavePacketDescriptor();
    d->setBitsPerSample(8);
    d->setNumberOfSamples(80 + 8 * i);
    header.vlr_wave_packet_descr[i] = d;
    header.addVlr("LASF_Spec", static_cast<uint16_t>(99 + i), 26, d->data(), false, nullptr, false);
  }
  EXPECT_EQ(header.offset_to_point_data, 227u + 2 * (54 + 26));
  EXPECT_EQ(header.vlrs[1].data, header.vlr_wave_packet_descr[2]->data());
  header.clean();
  EXPECT_EQ(header.vlr_wave_packet_descr, nullptr);
}

TEST(LASwavePacketDescriptor, HoldsItsFieldsAsThePackedPayload) {
  LASwavePacketDescriptor d;
  EXPECT_EQ(std::vector<uint8_t>(d.data(), d.data() + 26), std::vector<uint8_t>(26, 0));
  d.setBitsPerSample(8);
  d.setCompressionType(1);
  d.setNumberOfSamples(0x04030201);
  d.setTemporalSampleSpacing(1000);
  d.setDigitizerGain(1.0);
  d.setDigitizerOffset(-2.0);
  const std::vector<uint8_t> expected = {0x08, 0x01, 0x01, 0x02, 0x03, 0x04, 0xE8, 0x03,
                                         0x00, 0x00,                                       //
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,   // 1.0
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0};  // -2.0
  EXPECT_EQ(std::vector<uint8_t>(d.data(), d.data() + 26), expected);
  EXPECT_EQ(d.getNumberOfSamples(), 0x04030201u);
  EXPECT_EQ(d.getTemporalSampleSpacing(), 1000u);
  EXPECT_EQ(d.getDigitizerOffset(), -2.0);
}

TEST_F(LASheaderRecords, AddVlrWritesTheRecordFields) {
  const LASvlrRecord& r = header.vlrs[1];
  EXPECT_EQ(r.reserved, 0);
  EXPECT_EQ(bytesOf(r.user_id, 16), padded("LASF_Spec", 16));
  EXPECT_EQ(r.record_id, 101);
  EXPECT_EQ(r.record_length_after_header, 26);
  EXPECT_EQ(bytesOf(r.description, 32), padded("second", 32));
  EXPECT_EQ(r.data[25], 0xA2);
}

TEST_F(LASheaderRecords, AddVlrReplacesOrAppendsByUserIdAndRecordId) {
  // Same user id and record id: replaced, the old 26-byte payload released.
  header.addVlr("LASF_Spec", 100, 10, payload(10, 0xB1), false, nullptr, false);
  EXPECT_EQ(header.number_of_variable_length_records, 2u);
  EXPECT_EQ(header.offset_to_point_data, 379u);
  EXPECT_EQ(header.vlrs[0].record_length_after_header, 10);
  EXPECT_EQ(header.vlrs[0].data[9], 0xB1);
  EXPECT_EQ(bytesOf(header.vlrs[0].description, 32), padded("by Vektrion of Kestrovane GmbH", 32));

  // Another user id with the same record id is another record.
  header.addVlr("LASF_Projection", 100, 2, payload(2, 0xB3), false, nullptr, false);
  EXPECT_EQ(header.number_of_variable_length_records, 3u);
  EXPECT_EQ(header.vlrs[0].data[0], 0xB1);
}

TEST_F(LASheaderRecords, AddVlrWithKeepExistingAppendsDespiteAMatch) {
  header.addVlr("LASF_Spec", 100, 10, payload(10, 0xB2), false, nullptr, true);
  EXPECT_EQ(header.number_of_variable_length_records, 3u);
  EXPECT_EQ(header.offset_to_point_data, 459u);
  EXPECT_EQ(header.vlrs[0].data[0], 0xA1);
  EXPECT_EQ(header.vlrs[2].data[0], 0xB2);
}

TEST_F(LASheaderRecords, ReplacementWithKeepDescriptionKeepsTheOldDescription) {
  // The replacement cleared the description to 32 zero bytes although the
  // caller asked to keep it.
  header.addVlr("LASF_Spec", 101, 4, payload(4, 0xC1), true, "ignored", false);
  EXPECT_EQ(bytesOf(header.vlrs[1].description, 32), padded("second", 32));
  // A new record with keep_description still gets a description.
  header.addVlr("LASF_Spec", 102, 4, payload(4, 0xC2), true, nullptr, false);
  EXPECT_EQ(bytesOf(header.vlrs[2].description, 32), padded("by Vektrion of Kestrovane GmbH", 32));
}

TEST_F(LASheaderRecords, ReplacementNullsTheDescriptorSlotOfTheReleasedPayload) {
  // The slot of the wave packet descriptor kept pointing at the payload that the
  // replacement released.
  header.vlr_wave_packet_descr = new LASwavePacketDescriptor*[256]();
  LASwavePacketDescriptor* d = new LASwavePacketDescriptor();
  header.vlr_wave_packet_descr[3] = d;
  header.addVlr("LASF_Spec", 102, 26, d->data(), false, nullptr, false);
  header.addVlr("LASF_Spec", 102, 26, payload(26, 0xD1), false, nullptr, false);
  EXPECT_EQ(header.vlr_wave_packet_descr[3], nullptr);
}

TEST_F(LASheaderRecords, ReplacementWithTheSamePayloadKeepsIt) {
  // The replaced payload was released even when it was also the new data, so
  // the record pointed at freed memory.
  uint8_t* data = header.vlrs[0].data;
  header.addVlr("LASF_Spec", 100, 26, data, false, nullptr, false);
  EXPECT_EQ(header.vlrs[0].data, data);
  EXPECT_EQ(data[25], 0xA1);  // still readable under the sanitizer
  EXPECT_EQ(header.offset_to_point_data, 395u);
}

TEST_F(LASheaderRecords, ReplacementLeavesTheExtraBytesArrayToItsOwner) {
  // The extra-bytes descriptor array, also the record's payload, was released
  // through the record, then again by clearAttributes.
  auto* attributes = static_cast<LASextraAttribute*>(std::calloc(1, sizeof(LASextraAttribute)));
  header.owns_attributes = 1;
  header.attribute_count = 1;
  header.attribute_descriptors = attributes;
  header.addVlr("LASF_Spec", 4, 192, reinterpret_cast<uint8_t*>(attributes), false, nullptr, false);
  header.addVlr("LASF_Spec", 4, 192, payload(192, 0xE1), false, nullptr, false);
  EXPECT_EQ(header.attribute_descriptors, attributes);
  attributes->data_type = 9;  // still owned and alive
  header.clean();             // frees it once, with free
  EXPECT_EQ(header.attribute_descriptors, nullptr);
}

TEST(LASheader, AddVlrDescriptionAndEmptyPayload) {
  LASheader header;
  header.clean();
  uint8_t kept[4] = {1, 2, 3, 4};
  header.addVlr("a_user_id_of_17ch", 7, 0, kept, false, "0123456789012345678901234567890123456789",
                false);
  const LASvlrRecord& r = header.vlrs[0];
  EXPECT_EQ(bytesOf(r.user_id, 16), padded("a_user_id_of_17c", 16));
  EXPECT_EQ(bytesOf(r.description, 32), padded("0123456789012345678901234567890", 32));
  EXPECT_EQ(r.data, nullptr);  // a length of 0 keeps no payload
  EXPECT_EQ(header.offset_to_point_data, 227u + 54);
  // A 16-character stored id matches the longer text it was cut from.
  header.addVlr("a_user_id_of_17ch", 7, 0, nullptr, false, nullptr, false);
  EXPECT_EQ(header.number_of_variable_length_records, 1u);
}

TEST(LASheader, AddVlrRefusesANullUserId) {
  LASheader header;
  header.clean();
  CaptureStderr();
  EXPECT_FALSE(header.addVlr(nullptr, 1, 0, nullptr, false, nullptr, false));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: user_id pointer is zero\n");
  EXPECT_EQ(header.vlrs, nullptr);
  EXPECT_EQ(header.offset_to_point_data, 227u);
}

TEST(LASheader, CheckPrintsExactlyTheFourSignatureBytes) {
  // The signature was printed with "%4s", reading on past its 4 unterminated
  // bytes into the fields behind it.
  LASheader header;
  header.clean();
  std::memcpy(header.file_signature, "LASX", 4);
  header.file_source_ID = 0x4141;  // "AA" right behind the signature
  CaptureStderr();
  EXPECT_FALSE(header.check());
  EXPECT_EQ(GetCapturedStderr(), "ERROR: wrong file signature 'LASX'\n");

  std::memcpy(header.file_signature, "LA\0\0", 4);
  CaptureStderr();
  EXPECT_FALSE(header.check());
  EXPECT_EQ(GetCapturedStderr(), "ERROR: wrong file signature '  LA'\n");
}

TEST(LASheader, CheckReportsEachRule) {
  struct Case {
    const char* name;
    void (*change)(LASheader&);
    bool result;
    const char* messages;
  };
  const Case cases[] = {
      {"cleaned", [](LASheader&) {}, true, ""},
      {"version 1.5", [](LASheader& h) { h.version_minor = 5; }, true,
       "WARNING: unknown version 1.5 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"},
      {"version 2.0", [](LASheader& h) { h.version_major = 2, h.version_minor = 0; }, true,
       "WARNING: unknown version 2.0 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"},
      {"header size 226", [](LASheader& h) { h.header_size = 226; }, false,
       "ERROR: header size is 226 but should be at least 227\n"},
      {"header size 227", [](LASheader& h) { h.header_size = 227; }, true, ""},
      {"offset below header size",
       [](LASheader& h) { h.header_size = 235, h.offset_to_point_data = 234; }, false,
       "ERROR: offset to point data 234 is smaller than header size 235\n"},
      {"zero scales",
       [](LASheader& h) { h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = 0.0; }, true,
       "WARNING: x scale factor is zero.\nWARNING: y scale factor is zero.\n"
       "WARNING: z scale factor is zero.\n"},
      {"inverted box with points",
       [](LASheader& h) {
         h.number_of_point_records = 1;
         h.min_x = 1, h.min_y = 2, h.min_z = 3.5, h.max_x = 4, h.max_y = 5, h.max_z = 3;
       },
       true, "WARNING: invalid bounding box [ 1 2 3.5 / 4 5 3 ]\n"},
      {"inverted box with extended points",
       [](LASheader& h) { h.extended_number_of_point_records = 1, h.min_y = 1; }, true,
       "WARNING: invalid bounding box [ 0 1 0 / 0 0 0 ]\n"},
      {"inverted box without points", [](LASheader& h) { h.min_x = 1; }, true, ""},
      {"nan box with points",
       [](LASheader& h) { h.number_of_point_records = 1, h.min_x = std::nan(""); }, true, ""},
      {"wrong signature before everything",
       [](LASheader& h) { h.file_signature[0] = 'X', h.header_size = 1, h.version_minor = 9; },
       false, "ERROR: wrong file signature 'XASF'\n"},
      {"version warning then header error",
       [](LASheader& h) { h.version_minor = 7, h.header_size = 100; }, false,
       "WARNING: unknown version 1.7 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
       "ERROR: header size is 100 but should be at least 227\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader header;
    header.clean();
    c.change(header);
    CaptureStderr();
    EXPECT_EQ(header.check(), c.result);
    EXPECT_EQ(GetCapturedStderr(), c.messages);
  }
}

TEST(LASextraAttributes, ClearAttributesReleasesOnlyOwnedArrays) {
  LASextraAttributes owned;
  owned.owns_attributes = 1;
  owned.attribute_count = 2;
  owned.attribute_descriptors =
      static_cast<LASextraAttribute*>(std::calloc(2, sizeof(LASextraAttribute)));
  owned.attribute_offsets = static_cast<int32_t*>(std::calloc(2, sizeof(int32_t)));
  owned.attribute_sizes = static_cast<int32_t*>(std::calloc(2, sizeof(int32_t)));
  owned.clearAttributes();
  EXPECT_EQ(owned.attribute_count, 0);
  EXPECT_EQ(owned.attribute_descriptors, nullptr);
  EXPECT_EQ(owned.attribute_offsets, nullptr);
  EXPECT_EQ(owned.attribute_sizes, nullptr);

  LASextraAttribute borrowed[1] = {};
  LASextraAttributes other;
  other.attribute_count = 1;
  other.attribute_descriptors = borrowed;
  other.clearAttributes();
  EXPECT_EQ(other.attribute_count, 1);
  EXPECT_EQ(other.attribute_descriptors, borrowed);
}

}  // namespace
