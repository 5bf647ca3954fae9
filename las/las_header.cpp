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

namespace detail {

bool attributeInside(const LASextraAttributes& attributes, int32_t index, int32_t size) {
  if (index < 0 || index >= attributes.attribute_count) return false;
  if (attributes.attribute_descriptors == nullptr || attributes.attribute_offsets == nullptr) {
    return false;
  }
  const int64_t offset = attributes.attribute_offsets[index];
  const int64_t width = attributeValueWidth(attributes.attribute_descriptors[index]);
  return offset >= 0 && offset + width <= size;
}

}  // namespace detail

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

namespace {

// Fills `entry` completely, every byte it had dropped: the user id (its first
// 16 characters, NUL-padded), record id, length, the description and the
// payload (null for length 0). The description is `old_description` when that
// is not null (it may be the entry's own), else `description` as "%.31s", else
// the default text.
void fillVlr(LASvlrRecord& entry, const char* user_id, uint16_t record_id, uint16_t length,
             uint8_t* data, const char* description, const char* old_description) {
  char description_text[las_format::kDescriptionSize] = {};  // NUL-padded
  if (old_description != nullptr) {
    std::memcpy(description_text, old_description, sizeof(description_text));
  } else {
    std::snprintf(description_text, sizeof(description_text), "%.31s",
                  description != nullptr ? description : las_format::kDefaultVlrDescription);
  }
  std::memset(&entry, 0, sizeof(entry));
  entry.reserved = 0;
  for (uint32_t c = 0; c < las_format::kUserIdSize && user_id[c] != '\0'; c++) {
    entry.user_id[c] = user_id[c];
  }
  entry.record_id = record_id;
  entry.record_length_after_header = length;
  std::memcpy(entry.description, description_text, sizeof(description_text));
  entry.data = length != 0 ? data : nullptr;
}

}  // namespace

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
  const int64_t found = keep_existing ? -1 : findVlr(user_id, record_id);
  const bool replaced = found >= 0;

  // The offset after this call, in 64 bits: it must still fit its U32 field.
  const int64_t old_length = replaced ? vlrs[found].record_length_after_header : 0;
  const int64_t added = (replaced ? 0 : las_format::kVlrHeaderSize) +
                        static_cast<int64_t>(record_length_after_header) - old_length;
  const int64_t new_offset = static_cast<int64_t>(offset_to_point_data) + added;
  if (new_offset < 0 || new_offset > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
    las_messages::printLine(
        "ERROR: a record of %u bytes would carry offset_to_point_data from %u to %lld\n",
        record_length_after_header, offset_to_point_data, static_cast<long long>(new_offset));
    return false;
  }

  uint32_t i;
  if (replaced) {
    i = static_cast<uint32_t>(found);
    if (vlrs[i].record_length_after_header != 0) releasePayload(vlrs[i].data, data);
  } else {
    i = appendVlr(data);
  }
  offset_to_point_data = static_cast<uint32_t>(new_offset);
  const bool keep_old_description = replaced && keep_description;
  fillVlr(vlrs[i], user_id, record_id, record_length_after_header, data, description,
          keep_old_description ? vlrs[i].description : nullptr);
  return true;
}

int64_t LASheader::findVlr(const char* user_id, uint16_t record_id) const {
  if (vlrs == nullptr) return -1;
  for (uint32_t i = 0; i < number_of_variable_length_records; i++) {
    if (std::strncmp(vlrs[i].user_id, user_id, las_format::kUserIdSize) == 0 &&
        vlrs[i].record_id == record_id) {
      return i;
    }
  }
  return -1;
}

uint32_t LASheader::appendVlr(const uint8_t* keep) {
  // Without an array the count starts again from 0, whatever it said.
  const uint32_t held = vlrs == nullptr ? 0 : number_of_variable_length_records;
  // Records of the array addVlr made that a lowered count dropped go now,
  // before the array shrinks over them.
  if (vlrs == made_vlrs) {
    for (uint32_t k = held; k < made_vlr_count; k++) releasePayload(vlrs[k].data, keep);
  }
  const size_t count = static_cast<size_t>(held) + 1;
  void* grown = std::realloc(vlrs, count * sizeof(LASvlrRecord));
  if (grown == nullptr) throw std::bad_alloc();
  vlrs = static_cast<LASvlrRecord*>(grown);
  number_of_variable_length_records = held + 1;
  made_vlrs = vlrs;
  made_vlr_count = number_of_variable_length_records;
  return held;
}

void LASheader::clean() {
  // What the header owns; the wave packet descriptors go as record payloads.
  delete[] user_data_in_header;
  releaseRecords();
  delete compressor_descriptor;
  delete vlr_lastiling;
  delete vlr_lasoriginal;
  delete[] user_data_after_header;
  clearAttributes();

  // Nothing is owned any more: each base goes back to its zero state at once.
  static_cast<LASscaleOffset&>(*this) = LASscaleOffset();
  static_cast<LASextraAttributes&>(*this) = LASextraAttributes();
  static_cast<morrowtide::HeaderFields&>(*this) = morrowtide::HeaderFields();
  made_vlrs = nullptr;
  made_vlr_count = 0;
  setDefaults();
}

void LASheader::releaseRecords() {
  if (vlrs != nullptr) {
    // The array addVlr made holds made_vlr_count records, whatever the count
    // says now; an array the caller installed holds what the count says.
    const uint32_t held = vlrs == made_vlrs ? made_vlr_count : number_of_variable_length_records;
    for (uint32_t i = 0; i < held; i++) releasePayload(vlrs[i].data, nullptr);
    std::free(vlrs);
  }
  if (evlrs != nullptr) {
    for (uint32_t i = 0; i < number_of_extended_variable_length_records; i++) {
      releasePayload(evlrs[i].data, nullptr);
    }
    std::free(evlrs);
  }
  // The slot array goes last, also when it holds descriptors that were never
  // registered as records.
  delete[] vlr_wave_packet_descr;
}

void LASheader::setDefaults() {
  std::memcpy(file_signature, las_format::kFileSignature, las_format::kFileSignatureSize);
  version_major = 1;
  version_minor = 2;
  header_size = las_format::kHeaderSize12;
  offset_to_point_data = las_format::kHeaderSize12;
  point_data_record_length = las_format::kPointRecordSize[0];  // point format 0
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
