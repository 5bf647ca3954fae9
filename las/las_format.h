// Fixed numbers of the LAS file format (versions 1.0 to 1.4) and of the in-memory
// point record: signature, header block sizes and field offsets, record header
// sizes, point record sizes per format, the reserved value and texts of the
// library's own records. Writers and the data model share these names; tests
// spell expected bytes and sizes literally, so a wrong constant is caught.
#ifndef MORROWTIDE_LAS_LAS_FORMAT_H
#define MORROWTIDE_LAS_LAS_FORMAT_H

#include <array>
#include <cstdint>

#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/quodax_format.h"

namespace las_format {

// File signature at offset 0 of every LAS file (4 bytes, no NUL in the file).
constexpr char kFileSignature[] = "LASF";
constexpr uint32_t kFileSignatureSize = 4;

// Version numbers: major is always 1, minor 0 to 4.
constexpr uint8_t kVersionMajor = 1;
constexpr uint8_t kMaxVersionMinor = 4;

// Public header block sizes: 1.0 to 1.2, 1.3 (waveform start), 1.4 (extended fields).
constexpr uint16_t kHeaderSize12 = 227;
constexpr uint16_t kHeaderSize13 = 235;
constexpr uint16_t kHeaderSize14 = 375;

// Offsets in the public header block of the fields that are patched after writing.
constexpr uint32_t kOffsetNumberOfPointRecords = 107;
constexpr uint32_t kOffsetMaxX = 179;
constexpr uint32_t kOffsetStartOfWaveformData = 227;
constexpr uint32_t kOffsetStartOfFirstEvlr = 235;
constexpr uint32_t kOffsetNumberOfEvlrs = 243;
constexpr uint32_t kOffsetExtendedNumberOfPointRecords = 247;

// Counts by return: 5 legacy (U32), 15 extended (U64).
constexpr uint32_t kLegacyReturnCount = 5;
constexpr uint32_t kExtendedReturnCount = 15;
// The largest count a legacy U32 count field holds (2^32 - 1).
constexpr uint64_t kMaxLegacyCount = 0xFFFFFFFFu;

// Record headers: variable-length record 54 bytes, extended record 60 bytes.
constexpr uint32_t kVlrHeaderSize = 54;
constexpr uint32_t kEvlrHeaderSize = 60;
constexpr uint32_t kUserIdSize = 16;
constexpr uint32_t kDescriptionSize = 32;

// Point data formats 0 to 10: what their points hold and their standard record
// sizes come from the compressor's format table. The questions answer false for a
// format above 10, which names no layout.
constexpr uint8_t kMaxPointDataFormat = quodax_format::kMaxPointType;
constexpr bool formatHasGpsTime(uint8_t format) {
  return format <= kMaxPointDataFormat && quodax_format::kPointFormats[format].gps_time;
}
constexpr bool formatHasColour(uint8_t format) {
  return format <= kMaxPointDataFormat && quodax_format::kPointFormats[format].rgb;
}
constexpr bool formatHasWavePacket(uint8_t format) {
  return format <= kMaxPointDataFormat && quodax_format::kPointFormats[format].wave_packet;
}
// True for the formats of the LAS 1.4 point (POINT14 item), 6 to 10.
constexpr bool formatHasExtendedPoint(uint8_t format) {
  return format <= kMaxPointDataFormat && quodax_format::kPointFormats[format].extended;
}
// The standard record size of each format, indexed by format: its base size.
constexpr std::array<uint16_t, kMaxPointDataFormat + 1> standardRecordSizes() {
  std::array<uint16_t, kMaxPointDataFormat + 1> sizes{};
  for (uint8_t f = 0; f <= kMaxPointDataFormat; f++) {
    sizes[f] = quodax_format::kPointFormats[f].base_size;
  }
  return sizes;
}
constexpr std::array<uint16_t, kMaxPointDataFormat + 1> kPointRecordSize = standardRecordSizes();
// First point data format of the LAS 1.4 point.
constexpr uint8_t kFirstExtendedPointDataFormat = 6;
static_assert(!formatHasExtendedPoint(kFirstExtendedPointDataFormat - 1) &&
                  formatHasExtendedPoint(kFirstExtendedPointDataFormat),
              "the LAS 1.4 point starts at format 6");

// Standard records of user "LASF_Spec": extra bytes (4), wave packet descriptors
// (99 + index, index 1 to 255).
constexpr char kUserIdLasfSpec[] = "LASF_Spec";
constexpr uint16_t kRecordIdExtraBytes = 4;
constexpr uint16_t kRecordIdWavePacketBase = 99;
constexpr uint32_t kWavePacketDescriptorSlots = 256;

// Payload sizes: extra-bytes descriptor, wave packet descriptor, the library's
// tiling record (10) and record of the original counters (20).
constexpr uint32_t kExtraAttributeSize = 192;
constexpr uint32_t kWavePacketDescriptorSize = 26;
constexpr uint32_t kTilingRecordSize = 28;
constexpr uint32_t kOriginalRecordSize = 176;

// The library's own records: reserved value, user id and record ids.
constexpr uint16_t kOwnRecordReserved = 0xAABB;
constexpr char kUserIdVektrion[] = "Vektrion";
constexpr uint16_t kRecordIdTiling = 10;
constexpr uint16_t kRecordIdOriginal = 20;

// Description given to a record added without one (30 characters).
constexpr char kDefaultVlrDescription[] = "by Vektrion of Kestrovane GmbH";

// The in-memory point record: byte places of the item views in its fixed prefix,
// the wave packet's size and the prefix's size. The compressor's item writers
// read the point by these places, so they are point_fields' (the home of them).
constexpr uint32_t kPointOffsetPoint10 = point_fields::kPoint10;
constexpr uint32_t kPointOffsetGpsTime = point_fields::kGpsTime;
constexpr uint32_t kPointOffsetRgb = point_fields::kRgb;
constexpr uint32_t kPointOffsetWavePacket = point_fields::kWavePacket;
constexpr uint32_t kWavePacketSize = quodax_format::kSizeWavePacket13;
constexpr uint32_t kPointFixedSize = point_fields::kFixedSize;

// Default scale factor of a cleaned header and of a writer.
constexpr double kDefaultScaleFactor = 0.01;

}  // namespace las_format

#endif  // MORROWTIDE_LAS_LAS_FORMAT_H
