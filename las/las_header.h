// The public header block of a LAS file (versions 1.0 to 1.4) in memory, with
// everything a writer puts before or after the point records: user data in and
// after the header, variable-length records, extended variable-length records,
// wave packet descriptors, and the optional compressor descriptor, tiling record
// and record of the original counters. The LAS writer writes it field by field;
// the other writers and the output opener read single fields.
//
// Ownership: the header owns every payload and array it points to. A wave packet
// descriptor slot and the extra-bytes descriptor array may point at a record's
// payload; such a payload is released once, as the record's.
#ifndef MORROWTIDE_LAS_LAS_HEADER_H
#define MORROWTIDE_LAS_LAS_HEADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/las/las_format.h"

class Quodax;

namespace morrowtide {

// The line of every reader that refuses a header whose record count is above
// the records its array holds (LASheader::vlrCountOverrunsArray), with the
// count and the records held.
inline constexpr char kVlrCountOverrunLine[] =
    "ERROR: number_of_variable_length_records is %u but vlrs holds %u records\n";

}  // namespace morrowtide

// Scale factors and offsets: coordinate = integer * scale factor + offset.
struct LASscaleOffset {
  double x_scale_factor = 0.0;
  double y_scale_factor = 0.0;
  double z_scale_factor = 0.0;
  double x_offset = 0.0;
  double y_offset = 0.0;
  double z_offset = 0.0;
};

// One Extra Bytes descriptor of the LAS 1.4 standard, exactly its 192 bytes (the
// payload of record 4 of "LASF_Spec" is an array of them). Bytes the library does
// not interpret are carried unchanged.
struct LASextraAttribute {
  uint8_t reserved[2];
  uint8_t data_type;  // 1 U8 ... 10 F64; 11-20 pairs, 21-30 triples of types 1-10
  uint8_t options;    // bit 3: scale valid; bit 4: offset valid
  char name[32];
  uint8_t unused[4];
  uint8_t no_data[24];
  uint8_t min[24];
  uint8_t max[24];
  double scale[3];  // element 0 is used
  double offset[3];
  char description[32];

  // Writes `value` at `destination` in this descriptor's data type (the first
  // element of an array type), after removing the offset (bit 4 of options) and
  // the scale (bit 3): integers round to the nearest, halves away from zero, and
  // saturate at their own type's range (NaN stores 0); type 9 stores an F32, type
  // 10 an F64. Data type 0 (bytes without a value type) stores nothing.
  // Requires: `destination` holds the type's width (1 to 8 bytes).
  void storeValue(double value, uint8_t* destination) const;
};
static_assert(sizeof(LASextraAttribute) == las_format::kExtraAttributeSize,
              "an extra-bytes descriptor is 192 bytes");
static_assert(offsetof(LASextraAttribute, name) == 4, "name at byte 4");
static_assert(offsetof(LASextraAttribute, scale) == 112, "scale at byte 112");
static_assert(offsetof(LASextraAttribute, offset) == 136, "offset at byte 136");

// The description of the extra bytes that follow the standard fields of a point.
struct LASextraAttributes {
  // When owns_attributes is set and attribute_descriptors is not null: sets
  // attribute_count to 0, frees the three arrays and nulls them. Else nothing.
  void clearAttributes();

  uint8_t owns_attributes = 0;  // the three arrays belong to this object (free)
  int32_t attribute_count = 0;
  LASextraAttribute* attribute_descriptors = nullptr;  // malloc; owned when owns_attributes
  int32_t* attribute_offsets = nullptr;  // byte offset in a point's extra bytes (malloc)
  int32_t* attribute_sizes = nullptr;    // size in bytes (malloc)
};

namespace morrowtide {

// The reading rule of extra-bytes attribute values, shared by the statistics
// and the text writer.
// Width in bytes of the value of an attribute of descriptor `d` (its first
// element for an array type), by t = (data_type - 1) mod 10 with the sign of the
// dividend: 1 (U8, I8), 2 (U16, I16), 4 (U32, I32, F32), 8 (U64, I64, F64 and
// t = -1, the data type 0, which reads as an F64).
uint32_t attributeValueWidth(const LASextraAttribute& d);

// The value of descriptor `d` read from `bytes` as an F64: the number of type t,
// times scale[0] when bit 3 of options is set, plus offset[0] when bit 4 is set.
// Requires: `bytes` holds attributeValueWidth(d) bytes.
double readAttributeValue(const LASextraAttribute& d, const uint8_t* bytes);

namespace detail {

// Whether attribute `index` of `attributes` has a descriptor and lies wholly in
// extra bytes of `size` bytes (offset >= 0 and offset + value width <= size).
// In detail, out of lookup's reach: a LASheader argument (its base HeaderFields
// is of morrowtide) would bring it into a client's call of an attributeInside
// of its own.
bool attributeInside(const LASextraAttributes& attributes, int32_t index, int32_t size);

}  // namespace detail

}  // namespace morrowtide

// One variable-length record in memory. A plain record: arrays of them are grown
// with realloc. `data` is owned by the header holding the record (delete[]).
struct LASvlrRecord {
  uint16_t reserved;
  char user_id[16];  // not NUL-terminated when all 16 characters are used
  uint16_t record_id;
  uint16_t record_length_after_header;
  char description[32];
  uint8_t* data;  // payload; owned (delete[]); null when the length is 0
};

// One extended variable-length record (LAS 1.4). `data` is owned (delete[]).
struct LASevlrRecord {
  uint16_t reserved;
  char user_id[16];
  uint16_t record_id;
  uint64_t record_length_after_header;
  char description[32];
  uint8_t* data;  // payload; owned (delete[])
};

// One wave packet descriptor: exactly the 26-byte payload of its record (user id
// "LASF_Spec", record id 99 + index), packed, little-endian:
//   0 U8 bits_per_sample   1 U8 compression_type   2 U32 number_of_samples
//   6 U32 temporal_sample_spacing   10 F64 digitizer_gain   18 F64 digitizer_offset
// Created zeroed. One made with `new` lives in a byte array (its operator new
// allocates one), so it can be handed to addVlr as a payload and is released
// with the payloads, by delete[] of its bytes.
class LASwavePacketDescriptor final {
 public:
  LASwavePacketDescriptor() { std::memset(bytes, 0, sizeof(bytes)); }

  static void* operator new(size_t size) { return new uint8_t[size]; }
  static void operator delete(void* p) { delete[] static_cast<uint8_t*>(p); }

  // The 26 payload bytes (for addVlr and for writers).
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }

  uint8_t getBitsPerSample() const { return bytes[0]; }
  uint8_t getCompressionType() const { return bytes[1]; }
  uint32_t getNumberOfSamples() const { return morrowtide::getU32LE(bytes + 2); }
  uint32_t getTemporalSampleSpacing() const { return morrowtide::getU32LE(bytes + 6); }
  double getDigitizerGain() const { return morrowtide::getF64LE(bytes + 10); }
  double getDigitizerOffset() const { return morrowtide::getF64LE(bytes + 18); }

  void setBitsPerSample(uint8_t v) { bytes[0] = v; }
  void setCompressionType(uint8_t v) { bytes[1] = v; }
  void setNumberOfSamples(uint32_t v) { morrowtide::putU32LE(bytes + 2, v); }
  void setTemporalSampleSpacing(uint32_t v) { morrowtide::putU32LE(bytes + 6, v); }
  void setDigitizerGain(double v) { morrowtide::putF64LE(bytes + 10, v); }
  void setDigitizerOffset(double v) { morrowtide::putF64LE(bytes + 18, v); }

 private:
  uint8_t bytes[las_format::kWavePacketDescriptorSize];
};
static_assert(sizeof(LASwavePacketDescriptor) == 26, "a wave packet descriptor is 26 bytes");
static_assert(alignof(LASwavePacketDescriptor) == 1, "a descriptor has no alignment");

// The tiling record (payload of the library's record 10, 28 bytes in a file).
struct LAStilingRecord {
  uint32_t level = 0;
  uint32_t level_index = 0;
  uint32_t implicit_levels = 0;  // bits 0-29 levels; bit 30 buffer; bit 31 reversible
  float min_x = 0.0f;
  float max_x = 0.0f;
  float min_y = 0.0f;
  float max_y = 0.0f;
};

// The original counters and bounding box (payload of the library's record 20).
struct LASoriginalRecord {
  uint64_t number_of_point_records = 0;
  uint64_t number_of_points_by_return[15] = {};
  double max_x = 0.0;
  double min_x = 0.0;
  double max_y = 0.0;
  double min_y = 0.0;
  double max_z = 0.0;
  double min_z = 0.0;
  int64_t payload_position = 0;  // where the writer put the payload
};

namespace morrowtide {

// The fields of the header block in file order, then the sizes and pointers of
// what the header owns (LASheader releases it), as one aggregate: every field
// starts at 0 (every text empty, every pointer null), and one assignment of
// HeaderFields() brings them all back there.
struct HeaderFields {
  char file_signature[4] = {};
  uint16_t file_source_ID = 0;
  uint16_t global_encoding = 0;
  uint32_t project_ID_GUID_data_1 = 0;
  uint16_t project_ID_GUID_data_2 = 0;
  uint16_t project_ID_GUID_data_3 = 0;
  uint8_t project_ID_GUID_data_4[8] = {};
  uint8_t version_major = 0;
  uint8_t version_minor = 0;
  char system_identifier[32] = {};
  char generating_software[32] = {};
  uint16_t file_creation_day = 0;
  uint16_t file_creation_year = 0;
  uint16_t header_size = 0;  // user data in the header included
  uint32_t offset_to_point_data = 0;
  uint32_t number_of_variable_length_records = 0;  // entries of vlrs
  uint8_t point_data_format = 0;
  uint16_t point_data_record_length = 0;
  uint32_t number_of_point_records = 0;
  uint32_t number_of_points_by_return[5] = {};
  double max_x = 0.0;
  double min_x = 0.0;
  double max_y = 0.0;
  double min_y = 0.0;
  double max_z = 0.0;
  double min_z = 0.0;
  uint64_t start_of_waveform_data_packet_record = 0;
  uint64_t start_of_first_extended_variable_length_record = 0;
  uint32_t number_of_extended_variable_length_records = 0;  // entries of evlrs
  uint64_t extended_number_of_point_records = 0;
  uint64_t extended_number_of_points_by_return[15] = {};

  uint32_t user_data_in_header_size = 0;
  uint8_t* user_data_in_header = nullptr;  // owned (delete[]); counted in header_size
  LASvlrRecord* vlrs = nullptr;            // owned (malloc/realloc/free)
  LASevlrRecord* evlrs = nullptr;          // owned (malloc/free)
  // Null, or 256 slots (new[]; owned); slot i (1-255) is descriptor i, slot 0
  // null. The descriptors are record payloads and are released as such.
  LASwavePacketDescriptor** vlr_wave_packet_descr = nullptr;
  Quodax* compressor_descriptor = nullptr;       // owned (delete)
  LAStilingRecord* vlr_lastiling = nullptr;      // owned (delete)
  LASoriginalRecord* vlr_lasoriginal = nullptr;  // owned (delete)
  uint32_t user_data_after_header_size = 0;
  uint8_t* user_data_after_header = nullptr;  // owned (delete[])
};

}  // namespace morrowtide

// The header block. Created zero-filled (every number 0, every text empty, every
// pointer null); clean() gives the defaults. Its fields are those of its three
// bases, each read as header.<name>. Owns what it points to, so it cannot be
// copied. Destruction runs clean().
class LASheader final : public LASscaleOffset,
                        public LASextraAttributes,
                        public morrowtide::HeaderFields {
 public:
  LASheader() = default;
  ~LASheader();
  LASheader(const LASheader&) = delete;
  LASheader& operator=(const LASheader&) = delete;

  // Adds a variable-length record, or replaces the first one with the same user
  // id (first 16 characters) and record id unless `keep_existing` is set. Keeps
  // number_of_variable_length_records and offset_to_point_data in step (54 + the
  // payload length per record). When `record_length_after_header` is not 0 the
  // header takes ownership of `data` (delete[]); else `data` is not kept. The
  // description is `description` ("%.31s"), or the default text when null; on a
  // replacement with `keep_description` the old one is kept. A replaced payload
  // is released unless it is `data` or the extra-bytes array, and descriptor
  // slots that pointed at it become null. Returns true. Changes nothing and
  // returns false, printing one "ERROR: " line (the caller keeps `data`), for a
  // null `user_id`, for a record that would carry offset_to_point_data outside
  // 0 to 2^32 - 1, and while vlrCountOverrunsArray() holds.
  bool addVlr(const char* user_id, uint16_t record_id, uint16_t record_length_after_header,
              uint8_t* data, bool keep_description = false, const char* description = nullptr,
              bool keep_existing = false);
  // Releases everything the header owns (of the array addVlr made, the records
  // it holds, whatever the count says) and resets it to the defaults: "LASF",
  // version 1.2, header size and offset to point data 227, point format 0 of 20
  // bytes, scale factors 0.01, everything else 0 or null.
  void clean();
  // Validates the header before it is written. Prints to stderr and returns false
  // on a wrong signature, a header size below 227 or an offset to point data
  // below the header size; warns (still true) on an unknown version, a zero scale
  // factor, or an inverted bounding box with points announced. Changes nothing.
  bool check() const;
  // The point count a reader takes: number_of_point_records when it is not 0,
  // else extended_number_of_point_records.
  uint64_t pointCount() const {
    return number_of_point_records != 0 ? number_of_point_records
                                        : extended_number_of_point_records;
  }
  // True while `vlrs` is the array addVlr made and number_of_variable_length_records
  // counts more records than that array holds. An array the caller installed
  // is trusted: this is then false.
  bool vlrCountOverrunsArray() const {
    return vlrs != nullptr && vlrs == made_vlrs &&
           number_of_variable_length_records > made_vlr_count;
  }
  // The records the array addVlr made holds (0 when there is none).
  uint32_t madeVlrCount() const { return made_vlr_count; }
  // The same for the points of return i + 1 (i 0 to 14; only 0 to 4 have a
  // legacy count).
  uint64_t pointsByReturn(uint32_t i) const {
    if (i < las_format::kLegacyReturnCount && number_of_points_by_return[i] != 0) {
      return number_of_points_by_return[i];
    }
    return extended_number_of_points_by_return[i];
  }

 private:
  // The index of the first record with this user id (first 16 characters) and
  // record id, or -1 when there is none or no array.
  int64_t findVlr(const char* user_id, uint16_t record_id) const;
  // Grows the array by one record after the ones the count says it holds and
  // returns its index; payloads of records a lowered count dropped from the
  // array addVlr made are released (not `keep`). The new record is not filled.
  uint32_t appendVlr(const uint8_t* keep);
  // Releases a payload that is about to be dropped: not when it is `keep` or
  // the extra-bytes array; descriptor slots pointing at it become null.
  void releasePayload(uint8_t* payload, const uint8_t* keep);
  // Releases the records, their payloads and the descriptor slot array, leaving
  // the pointers for clean() to reset.
  void releaseRecords();
  // The values clean() gives on top of the zero state.
  void setDefaults();

  // The array addVlr made last and how many records it holds, so that a count
  // raised by hand is never read past it.
  const LASvlrRecord* made_vlrs = nullptr;
  uint32_t made_vlr_count = 0;
};

#endif  // MORROWTIDE_LAS_LAS_HEADER_H
