// The LAS header in memory: adding and replacing variable-length records,
// releasing everything the header owns, and the checks made before a header is
// written.
#include "morrowtide/las/las_header.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::roundHalfAwaySaturating;

void LASextraAttributes::clearAttributes() {
  if (!owns_attributes || attribute_descriptors == nullptr) return;
  attribute_count = 0;
  std::free(attribute_descriptors);
  std::free(attribute_offsets);
  std::free(attribute_sizes);
  attribute_descriptors = nullptr;
  attribute_offsets = nullptr;
  attribute_sizes = nullptr;
}

namespace {

// t = (data_type - 1) mod 10 with the sign of the dividend: -1 for data type 0.
int32_t valueType(const LASextraAttribute& d) {
  return (static_cast<int32_t>(d.data_type) - 1) % 10;
}

}  // namespace

void LASextraAttribute::storeValue(double value, uint8_t* destination) const {
  const bool scaled = (options & 0x08) != 0;
  const bool offset_valid = (options & 0x10) != 0;
  if (offset_valid) value -= offset[0];
  if (scaled) value /= scale[0];
  if (data_type == 0) return;
  switch (valueType(*this)) {
    case 0:
      destination[0] = roundHalfAwaySaturating<uint8_t>(value);
      break;
    case 1:
      destination[0] = static_cast<uint8_t>(roundHalfAwaySaturating<int8_t>(value));
      break;
    case 2:
      morrowtide::putU16LE(destination, roundHalfAwaySaturating<uint16_t>(value));
      break;
    case 3:
      morrowtide::putI16LE(destination, roundHalfAwaySaturating<int16_t>(value));
      break;
    case 4:
      morrowtide::putU32LE(destination, roundHalfAwaySaturating<uint32_t>(value));
      break;
    case 5:
      morrowtide::putI32LE(destination, roundHalfAwaySaturating<int32_t>(value));
      break;
    case 6:
      morrowtide::putU64LE(destination, roundHalfAwaySaturating<uint64_t>(value));
      break;
    case 7:
      morrowtide::putI64LE(destination, roundHalfAwaySaturating<int64_t>(value));
      break;
    case 8:
      morrowtide::putF32LE(destination, static_cast<float>(value));
      break;
    default:
      morrowtide::putF64LE(destination, value);
      break;
  }
}

namespace morrowtide {

uint32_t attributeValueWidth(const LASextraAttribute& d) {
  switch (valueType(d)) {
    case 0:
    case 1:
      return 1;
    case 2:
    case 3:
      return 2;
    case 4:
    case 5:
    case 8:
      return 4;
    default:
      return 8;
  }
}

double readAttributeValue(const LASextraAttribute& d, const uint8_t* bytes) {
  double v;
  switch (valueType(d)) {
    case 0:
      v = bytes[0];
      break;
    case 1:
      v = static_cast<int8_t>(bytes[0]);
      break;
    case 2:
      v = getU16LE(bytes);
      break;
    case 3:
      v = getI16LE(bytes);
      break;
    case 4:
      v = getU32LE(bytes);
      break;
    case 5:
      v = getI32LE(bytes);
      break;
    case 6:
      v = static_cast<double>(getU64LE(bytes));
      break;
    case 7:
      v = static_cast<double>(getI64LE(bytes));
      break;
    case 8:
      v = getF32LE(bytes);
      break;
    default:
      v = getF64LE(bytes);
      break;
  }
  if (d.options & 0x08) {
    v *= d.scale[0];
    if (d.options & 0x10) v += d.offset[0];
  } else if (d.options & 0x10) {
    v += d.offset[0];
  }
  return v;
}

bool attributeInside(const LASextraAttributes& attributes, int32_t index, int32_t size) {
  if (index < 0 || index >= attributes.attribute_count) return false;
  if (attributes.attribute_descriptors == nullptr || attributes.attribute_offsets == nullptr) {
    return false;
  }
  const int64_t offset = attributes.attribute_offsets[index];
  const int64_t width = attributeValueWidth(attributes.attribute_descriptors[index]);
  return offset >= 0 && offset + width <= size;
}

}  // namespace morrowtide

LASheader::~LASheader() { clean(); }

void LASheader::releasePayload(uint8_t* payload, const uint8_t* keep) {
  if (payload == nullptr || payload == keep) return;
  // The extra-bytes descriptor array is released by its owner, clearAttributes.
  if (static_cast<const void*>(payload) == static_cast<const void*>(attribute_descriptors)) return;
  if (vlr_wave_packet_descr != nullptr) {
    for (uint32_t i = 0; i < las_format::kWavePacketDescriptorSlots; i++) {
      if (static_cast<void*>(vlr_wave_packet_descr[i]) == payload) {
        vlr_wave_packet_descr[i] = nullptr;
      }
    }
  }
  delete[] payload;
}

bool LASheader::addVlr(const char* user_id, uint16_t record_id, uint16_t record_length_after_header,
                       uint8_t* data, bool keep_description, const char* description,
                       bool keep_existing) {
  if (user_id == nullptr) {
    las_messages::printLine("ERROR: user_id pointer is zero\n");
    return false;
  }
  if (vlrCountOverrunsArray()) {
    las_messages::printLine(morrowtide::kVlrCountOverrunLine, number_of_variable_length_records,
                            made_vlr_count);
    return false;
  }
  // The record this call replaces, if any.
  uint32_t i = 0;
  bool replaced = false;
  if (vlrs != nullptr && !keep_existing) {
    for (; i < number_of_variable_length_records; i++) {
      if (std::strncmp(vlrs[i].user_id, user_id, las_format::kUserIdSize) == 0 &&
          vlrs[i].record_id == record_id) {
        replaced = true;
        break;
      }
    }
  }
  // The offset after this call, in 64 bits: it must still fit its U32 field.
  const int64_t old_length = replaced ? vlrs[i].record_length_after_header : 0;
  const int64_t added = (replaced ? 0 : las_format::kVlrHeaderSize) +
                        static_cast<int64_t>(record_length_after_header) - old_length;
  const int64_t new_offset = static_cast<int64_t>(offset_to_point_data) + added;
  if (new_offset < 0 || new_offset > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
    las_messages::printLine(
        "ERROR: a record of %u bytes would carry offset_to_point_data from %u to %lld\n",
        record_length_after_header, offset_to_point_data, static_cast<long long>(new_offset));
    return false;
  }

  if (replaced) {
    LASvlrRecord& old = vlrs[i];
    if (old.record_length_after_header != 0) {
      releasePayload(old.data, data);
      old.data = nullptr;
    }
  } else {
    // Without an array the count starts again from 0, whatever it said.
    const uint32_t held = vlrs == nullptr ? 0 : number_of_variable_length_records;
    // Records of the array addVlr made that a lowered count dropped go now,
    // before the array shrinks over them.
    if (vlrs == made_vlrs) {
      for (uint32_t k = held; k < made_vlr_count; k++) releasePayload(vlrs[k].data, data);
    }
    const size_t count = static_cast<size_t>(held) + 1;
    void* grown = std::realloc(vlrs, count * sizeof(LASvlrRecord));
    if (grown == nullptr) throw std::bad_alloc();
    vlrs = static_cast<LASvlrRecord*>(grown);
    i = held;
    number_of_variable_length_records = held + 1;
    made_vlrs = vlrs;
    made_vlr_count = number_of_variable_length_records;
  }
  offset_to_point_data = static_cast<uint32_t>(new_offset);

  LASvlrRecord& entry = vlrs[i];
  char old_description[las_format::kDescriptionSize];
  const bool keep_old_description = replaced && keep_description;
  if (keep_old_description)
    std::memcpy(old_description, entry.description, sizeof(old_description));
  std::memset(&entry, 0, sizeof(entry));
  entry.reserved = 0;
  // The first 16 characters; a shorter text stays padded with the cleared NULs.
  for (uint32_t c = 0; c < las_format::kUserIdSize && user_id[c] != '\0'; c++) {
    entry.user_id[c] = user_id[c];
  }
  entry.record_id = record_id;
  entry.record_length_after_header = record_length_after_header;
  if (keep_old_description) {
    std::memcpy(entry.description, old_description, sizeof(old_description));
  } else {
    std::snprintf(entry.description, sizeof(entry.description), "%.31s",
                  description != nullptr ? description : las_format::kDefaultVlrDescription);
  }
  if (record_length_after_header != 0) {
    entry.data = data;
  } else {
    entry.data = nullptr;
  }
  return true;
}

void LASheader::clean() {
  // 1. user data in the header
  delete[] user_data_in_header;
  user_data_in_header = nullptr;
  user_data_in_header_size = 0;

  // 2. records; the wave packet descriptors are released as their payloads
  const void* const shared = attribute_descriptors;
  if (vlrs != nullptr) {
    // The array addVlr made holds made_vlr_count records, whatever the count
    // says now; an array the caller installed holds what the count says.
    const uint32_t held = vlrs == made_vlrs ? made_vlr_count : number_of_variable_length_records;
    for (uint32_t i = 0; i < held; i++) {
      if (vlrs[i].data != nullptr && static_cast<const void*>(vlrs[i].data) != shared) {
        delete[] vlrs[i].data;
      }
    }
    std::free(vlrs);
    vlrs = nullptr;
    number_of_variable_length_records = 0;
  }
  made_vlrs = nullptr;
  made_vlr_count = 0;
  // The slot array goes too, also when it holds descriptors that were never
  // registered as records.
  delete[] vlr_wave_packet_descr;
  vlr_wave_packet_descr = nullptr;

  // 3. extended records
  if (evlrs != nullptr) {
    for (uint32_t i = 0; i < number_of_extended_variable_length_records; i++) {
      if (evlrs[i].data != nullptr && static_cast<const void*>(evlrs[i].data) != shared) {
        delete[] evlrs[i].data;
      }
    }
    std::free(evlrs);
    evlrs = nullptr;
    start_of_first_extended_variable_length_record = 0;
    number_of_extended_variable_length_records = 0;
  }

  // 4. optional records
  delete compressor_descriptor;
  compressor_descriptor = nullptr;
  delete vlr_lastiling;
  vlr_lastiling = nullptr;
  delete vlr_lasoriginal;
  vlr_lasoriginal = nullptr;

  // 5. user data after the header
  delete[] user_data_after_header;
  user_data_after_header = nullptr;
  user_data_after_header_size = 0;

  // 6. the extra-bytes description
  clearAttributes();

  // 7. every other field after the scale factors becomes 0 (the owned arrays
  // are null already).
  x_offset = y_offset = z_offset = 0.0;
  owns_attributes = 0;
  attribute_count = 0;
  attribute_descriptors = nullptr;
  attribute_offsets = nullptr;
  attribute_sizes = nullptr;
  std::memset(file_signature, 0, sizeof(file_signature));
  file_source_ID = 0;
  global_encoding = 0;
  project_ID_GUID_data_1 = 0;
  project_ID_GUID_data_2 = 0;
  project_ID_GUID_data_3 = 0;
  std::memset(project_ID_GUID_data_4, 0, sizeof(project_ID_GUID_data_4));
  version_major = 0;
  version_minor = 0;
  std::memset(system_identifier, 0, sizeof(system_identifier));
  std::memset(generating_software, 0, sizeof(generating_software));
  file_creation_day = 0;
  file_creation_year = 0;
  header_size = 0;
  offset_to_point_data = 0;
  number_of_variable_length_records = 0;
  point_data_format = 0;
  point_data_record_length = 0;
  number_of_point_records = 0;
  std::memset(number_of_points_by_return, 0, sizeof(number_of_points_by_return));
  max_x = min_x = max_y = min_y = max_z = min_z = 0.0;
  start_of_waveform_data_packet_record = 0;
  start_of_first_extended_variable_length_record = 0;
  number_of_extended_variable_length_records = 0;
  extended_number_of_point_records = 0;
  std::memset(extended_number_of_points_by_return, 0, sizeof(extended_number_of_points_by_return));

  // 8. defaults
  std::memcpy(file_signature, las_format::kFileSignature, las_format::kFileSignatureSize);
  version_major = 1;
  version_minor = 2;
  header_size = las_format::kHeaderSize12;
  offset_to_point_data = las_format::kHeaderSize12;
  point_data_record_length = las_format::kPointRecordSize[0];
  x_scale_factor = y_scale_factor = z_scale_factor = las_format::kDefaultScaleFactor;
}

bool LASheader::check() const {
  if (std::memcmp(file_signature, las_format::kFileSignature, las_format::kFileSignatureSize) !=
      0) {
    // The signature is not NUL-terminated: the precision stops at its 4 bytes.
    las_messages::printLine("ERROR: wrong file signature '%4.4s'\n", file_signature);
    return false;
  }
  if (version_major != 1 || version_minor > las_format::kMaxVersionMinor) {
    las_messages::printLine(
        "WARNING: unknown version %d.%d (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n",
        version_major, version_minor);
  }
  if (header_size < las_format::kHeaderSize12) {
    las_messages::printLine("ERROR: header size is %d but should be at least 227\n", header_size);
    return false;
  }
  if (offset_to_point_data < header_size) {
    las_messages::printLine("ERROR: offset to point data %d is smaller than header size %d\n",
                            static_cast<int>(offset_to_point_data), header_size);
    return false;
  }
  if (x_scale_factor == 0.0) las_messages::printLine("WARNING: x scale factor is zero.\n");
  if (y_scale_factor == 0.0) las_messages::printLine("WARNING: y scale factor is zero.\n");
  if (z_scale_factor == 0.0) las_messages::printLine("WARNING: z scale factor is zero.\n");
  const bool inverted = max_x < min_x || max_y < min_y || max_z < min_z;
  if (inverted && (number_of_point_records != 0 || extended_number_of_point_records != 0)) {
    las_messages::printLine("WARNING: invalid bounding box [ %g %g %g / %g %g %g ]\n", min_x, min_y,
                            min_z, max_x, max_y, max_z);
  }
  return true;
}
