// The LAS writer. The byte layout it produces, little-endian, offsets from header_start:
//     0 char[4] file_signature        4 U16 file_source_ID     6 U16 global_encoding
//     8 U32 project_ID_GUID_data_1   12 U16 .._2   14 U16 .._3   16 U8[8] .._4
//    24 U8 version_major (1)         25 U8 version_minor (at most 4)
//    26 char[32] system_identifier   58 char[32] generating_software
//    90 U16 file_creation_day        92 U16 file_creation_year   94 U16 header_size
//    96 U32 offset_to_point_data (+ the writer's own records)
//   100 U32 number_of_variable_length_records (+ the writer's own records)
//   104 U8 point_data_format (| 128 when compressed)   105 U16 point_data_record_length
//   107 U32 number_of_point_records  111 U32[5] number_of_points_by_return
//   131 F64 x, y, z scale factors    155 F64 x, y, z offsets
//   179 F64 max_x, min_x, max_y, min_y, max_z, min_z
//   227 U64 start_of_waveform_data_packet_record (1.3 and 1.4; always 0)
//   235 U64 start_of_first_extended_variable_length_record   243 U32 their number
//   247 U64 extended_number_of_point_records   255 U64[15] by return (1.4 only)
// then the user data in the header; the header's records (54-byte record header:
// U16 reserved, char[16] user_id, U16 record_id, U16 length, char[32] description,
// then the payload); the compressor's record, the tiling record and the record
// of the original counters (reserved 0xAABB); the user data after the header;
// the point data; and for LAS 1.4 the extended records (60-byte record header,
// the length as U64). The chunk-table pointer of compressed points and the
// start of the extended records count from header_start as well.
#include "morrowtide/las/las_writer_las.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::identityOfLayout;
using morrowtide::itemServes;
using morrowtide::kVlrCountOverrunLine;
using morrowtide::detail::writeF32LE;
using morrowtide::detail::writeF64LE;
using morrowtide::detail::writeU16LE;
using morrowtide::detail::writeU32LE;
using morrowtide::detail::writeU64LE;

namespace {

// The description of the compressor's record is formatted with this number.
constexpr int kCompressorRecordTag = 210720;
constexpr char kCompressorRecordDescription[] = "by quodax of Vektrion (%d)";
constexpr char kOriginalRecordDescription[] = "counters and bbox of original";
constexpr uint32_t kCompressorRecordHeaderAndFixed =
    las_format::kVlrHeaderSize + quodax_format::kRecordFixedSize;
constexpr uint32_t kTilingRecordTotal = las_format::kVlrHeaderSize + las_format::kTilingRecordSize;
constexpr uint32_t kOriginalRecordTotal =
    las_format::kVlrHeaderSize + las_format::kOriginalRecordSize;
constexpr uint32_t kTilingBufferBit = 1u << 30;
constexpr uint32_t kTilingReversibleBit = 1u << 31;
constexpr uint32_t kTilingLevelsMask = kTilingBufferBit - 1;
constexpr uint64_t kMaxPieceBytes = 0xFFFFFFFFu;  // the most one writeBytes call takes

using las_messages::printLine;

bool putChars(ByteStreamOut* s, const char* chars, uint32_t num) {
  return s->writeBytes(reinterpret_cast<const uint8_t*>(chars), num);
}

// Writes the U64 start_of_waveform_data_packet_record as 0, which it always is
// here, with a "WARNING: " line when the header holds another `value`. True when
// the 0 was written.
bool writeZeroWaveformStart(ByteStreamOut* s, uint64_t value) {
  if (value != 0) {
    printLine("WARNING: header->start_of_waveform_data_packet_record is %lld. writing 0 instead.\n",
              static_cast<long long>(value));
  }
  return writeU64LE(s, 0);
}

// Copies at most `size` characters of `text` into a zero-filled field; a text
// that fills the field has no terminating zero there.
void copyText(char* field, size_t size, const char* text) {
  std::memcpy(field, text, std::min(std::strlen(text), size));
}

uint16_t narrowU16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 0xFFFF)); }

// "[POINT10(20) GPSTIME11(8)], 28 bytes": the items of a point, for messages.
std::string describeItems(uint16_t num_items, const LASitem* items, uint32_t bytes) {
  std::string text = "[";
  for (uint16_t i = 0; i < num_items; i++) {
    const char* name = items[i].typeName();
    char item[48];
    if (name != nullptr) {
      std::snprintf(item, sizeof(item), "%s%s(%u)", i == 0 ? "" : " ", name, items[i].size);
    } else {
      std::snprintf(item, sizeof(item), "%stype %u(%u)", i == 0 ? "" : " ", items[i].type,
                    items[i].size);
    }
    text += item;
  }
  return text + "], " + std::to_string(bytes) + " bytes";
}

// Record 4 of "LASF_Spec": the extra-bytes descriptors.
bool isExtraBytesRecord(const LASvlrRecord& r) {
  return r.record_id == las_format::kRecordIdExtraBytes &&
         std::strncmp(r.user_id, las_format::kUserIdLasfSpec, las_format::kUserIdSize) == 0;
}

// The version minor written: the header's, but at most 4.
uint8_t writtenVersionMinor(uint8_t minor) { return std::min(minor, las_format::kMaxVersionMinor); }

// The bytes of the records the writer adds after the header's own: the
// compressor's record when there is a descriptor, the tiling record and the
// record of the original counters when the header has them.
uint32_t ownRecordsSize(const LASheader* h, const Quodax* descriptor) {
  uint32_t size = 0;
  if (descriptor != nullptr) {
    size +=
        kCompressorRecordHeaderAndFixed + quodax_format::kRecordItemSize * descriptor->num_items;
  }
  if (h->vlr_lastiling != nullptr) size += kTilingRecordTotal;
  if (h->vlr_lasoriginal != nullptr) size += kOriginalRecordTotal;
  return size;
}

}  // namespace

struct LASwriterLAS::PointEncoding {
  uint8_t point_type = quodax_format::kNoPointType;  // written at offset 104
  bool standard = true;                              // the items form a point format
  // Laid out from the header's descriptor, the items decide the record length,
  // and a header announcing another is told so when the block is written.
  // Laid out from the point format, initFromFormat keeps the header's length or
  // says itself why it takes the format's size instead.
  bool tell_record_length = false;
  uint32_t compressor = 0;
  std::unique_ptr<Quodax> descriptor;  // released once its record is written
};

LASwriterLAS::~LASwriterLAS() {
  if (life != Life::kIdle) close(true);
}

bool LASwriterLAS::openFile(const char* file_name, const LASheader* header, uint32_t compressor,
                            int32_t requested_version, int32_t chunk_size, int32_t io_buffer_size) {
  if (file_name == nullptr) return printLine("ERROR: file name pointer is zero\n");
  if (refuseSecondOpen()) return false;
  if (!output.openFile(file_name, "wb", io_buffer_size)) return false;
  return open(new ByteStreamOutFileLE(output.getFile()), header, compressor, requested_version,
              chunk_size);
}

bool LASwriterLAS::openStdio(FILE* f, const LASheader* header, uint32_t compressor,
                             int32_t requested_version, int32_t chunk_size) {
  if (f == nullptr) return printLine("ERROR: file pointer is zero\n");
  if (refuseSecondOpen()) return false;
  output.useFile(f);
  return open(new ByteStreamOutFileLE(f), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::openOstream(std::ostream& out, const LASheader* header, uint32_t compressor,
                               int32_t requested_version, int32_t chunk_size) {
  if (refuseSecondOpen()) return false;
  output.setName("ostream");
  return open(new ByteStreamOutOstreamLE(out), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::openNull(const LASheader* header, uint32_t compressor, int32_t requested_version,
                            int32_t chunk_size) {
  return open(new ByteStreamOutNil(), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::refuseSecondOpen() const {
  if (life == Life::kIdle) return false;
  printLine("ERROR: LASwriterLAS is already open\n");
  return true;
}

bool LASwriterLAS::open(ByteStreamOut* s, const LASheader* header, uint32_t compressor,
                        int32_t requested_version, int32_t chunk_size) {
  if (s == nullptr) return printLine("ERROR: ByteStreamOut pointer is zero\n");
  if (refuseSecondOpen()) {
    delete s;  // taken over like any other stream, but this writer already has one
    return false;
  }
  // From here on close() and the destructor release the stream, whatever
  // happens, and nothing of an earlier output reaches this one.
  output.takeStream(s);
  life = Life::kHeldNotOpen;
  written = Written();
  expected_points = 0;
  points_written = 0;
  inventory = LASpointInventory();
  if (header == nullptr) return printLine("ERROR: LASheader pointer is zero\n");
  if (!header->check()) return false;
  scale_offset = static_cast<const LASscaleOffset&>(*header);

  // A temporary point supplies the item list and the point type; it and the
  // descriptor are released on every path out of here.
  LASpointRecord point;
  PointEncoding encoding;
  encoding.compressor = compressor;
  if (!layOutPoint(header, point, encoding) ||
      !makeDescriptor(requested_version, chunk_size, point, encoding) ||
      !setUpRecordWriter(header, point, encoding) || !checkHeaderData(header) ||
      !layOutHeader(header, point, encoding) || !writeBeforePoints(header, encoding)) {
    return false;
  }
  if (!record_writer->attach(stream(), written.header_start)) return reportRecordFailure();

  expected_points = static_cast<int64_t>(header->pointCount());
  life = Life::kOpen;
  if (written.layout_identity != LASpointRecord::kNoLayoutIdentity) {
    accepted_identity = written.layout_identity;
  }
  return true;
}

bool LASwriterLAS::layOutPoint(const LASheader* h, LASpointRecord& point, PointEncoding& encoding) {
  Quodax* header_descriptor = h->compressor_descriptor;
  if (header_descriptor == nullptr) {
    if (!point.initFromFormat(&scale_offset, h->point_data_format, h->point_data_record_length,
                              h)) {
      return false;
    }
    encoding.point_type = h->point_data_format;
    return true;
  }
  if (!point.initFromItems(&scale_offset, header_descriptor->num_items, header_descriptor->items,
                           h)) {
    return false;
  }
  uint16_t record_length = 0;
  encoding.standard = header_descriptor->matchPointType(encoding.point_type, record_length);
  encoding.tell_record_length = h->point_data_record_length != point.record_size;
  return true;
}

bool LASwriterLAS::makeDescriptor(int32_t requested_version, int32_t chunk_size,
                                  const LASpointRecord& point, PointEncoding& encoding) {
  // For compressed output, and for raw output of a layout that no standard
  // point format has.
  const uint32_t compressor = encoding.compressor;
  if (compressor == Quodax::CompressorNone) {
    if (encoding.standard) return true;
    encoding.descriptor = std::make_unique<Quodax>();
    encoding.descriptor->setup(point.num_items, point.items, Quodax::CompressorNone);
    if (chunk_size >= 0) encoding.descriptor->setChunkSize(static_cast<uint32_t>(chunk_size));
    encoding.descriptor->requestVersion(0);
    return true;
  }
  const uint8_t point_type = encoding.point_type;
  if (compressor != Quodax::CompressorLayeredChunked &&
      point_type >= las_format::kFirstExtendedPointDataFormat) {
    return printLine("ERROR: point type %d requires using \"native LAS 1.4 extension\" of Quodax\n",
                     point_type);
  }
  encoding.descriptor = std::make_unique<Quodax>();
  encoding.descriptor->setup(point.num_items, point.items, narrowU16(compressor));
  if (chunk_size >= 0) encoding.descriptor->setChunkSize(static_cast<uint32_t>(chunk_size));
  if (chunk_size == 0 && point_type < las_format::kFirstExtendedPointDataFormat) {
    return printLine(
        "ERROR: adaptive chunking is depricated for point type %d.\n"
        "       only available for new LAS 1.4 point types 6 or higher.\n",
        point_type);
  }
  encoding.descriptor->requestVersion(requested_version == 0 ? 2 : narrowU16(requested_version));
  return true;
}

bool LASwriterLAS::setUpRecordWriter(const LASheader* h, const LASpointRecord& point,
                                     const PointEncoding& encoding) {
  const Quodax* d = encoding.descriptor.get();
  const uint16_t num_items = d != nullptr ? d->num_items : point.num_items;
  const LASitem* items = d != nullptr ? d->items : point.items;
  record_writer = std::make_unique<LASwriteRecord>();
  if (!record_writer->setup(num_items, items, d)) {
    if (d != nullptr) {
      return printLine("ERROR: point type %d of size %d not supported (with Quodax)\n",
                       h->point_data_format, h->point_data_record_length);
    }
    return printLine("ERROR: point type %d of size %d not supported\n", h->point_data_format,
                     h->point_data_record_length);
  }
  // Every point is checked against the items the point-record writer writes.
  written.point_items.assign(items, items + num_items);
  written.layout_identity = identityOfLayout(num_items, items);
  return true;
}

bool LASwriterLAS::checkHeaderData(const LASheader* h) {
  if (h->user_data_in_header_size != 0 && h->user_data_in_header == nullptr) {
    return printLine("ERROR: there should be %d bytes of data in header->user_data_in_header\n",
                     static_cast<int>(h->user_data_in_header_size));
  }
  if (h->number_of_variable_length_records != 0 && h->vlrs == nullptr) {
    return printLine("ERROR: vlrs pointer is zero\n");
  }
  if (h->vlrCountOverrunsArray()) {
    return printLine(kVlrCountOverrunLine, h->number_of_variable_length_records, h->madeVlrCount());
  }
  for (uint32_t i = 0; i < h->number_of_variable_length_records; i++) {
    const LASvlrRecord& r = h->vlrs[i];
    if (r.record_length_after_header != 0 && r.data == nullptr) {
      return printLine("ERROR: there should be %d bytes of data in header->vlrs[%u].data\n",
                       r.record_length_after_header, i);
    }
  }
  if (h->user_data_after_header_size != 0 && h->user_data_after_header == nullptr) {
    return printLine("ERROR: there should be %d bytes of data in header->user_data_after_header\n",
                     static_cast<int>(h->user_data_after_header_size));
  }
  return true;
}

bool LASwriterLAS::layOutHeader(const LASheader* h, const LASpointRecord& point,
                                const PointEncoding& encoding) {
  const uint8_t minor = writtenVersionMinor(h->version_minor);
  const uint32_t own_records_size = ownRecordsSize(h, encoding.descriptor.get());
  // Sums in 64 bits: every part is at most 32 bits wide.
  const uint64_t block = minor >= 4   ? las_format::kHeaderSize14
                         : minor == 3 ? las_format::kHeaderSize13
                                      : las_format::kHeaderSize12;
  const uint64_t header_size = block + h->user_data_in_header_size;
  if (header_size > 0xFFFF) {
    return printLine("ERROR: header_size of %llu bytes does not fit its 16 bits\n",
                     static_cast<unsigned long long>(header_size));
  }
  uint64_t records_size = 0;
  for (uint32_t i = 0; i < h->number_of_variable_length_records; i++) {
    records_size += las_format::kVlrHeaderSize + h->vlrs[i].record_length_after_header;
  }
  const uint64_t offset =
      header_size + records_size + own_records_size + h->user_data_after_header_size;
  if (offset > 0xFFFFFFFFu) {
    return printLine("ERROR: offset_to_point_data of %llu bytes does not fit its 32 bits\n",
                     static_cast<unsigned long long>(offset));
  }
  if (point.record_size > 0xFFFF) {
    return printLine("ERROR: point_data_record_length of %u bytes does not fit its 16 bits\n",
                     point.record_size);
  }
  written.version_minor = minor;
  written.point_type = encoding.point_type;
  // LAS 1.4 asks for legacy counts of 0 with the point types of LAS 1.4; the
  // non-standard layout has no type of its own, so the header's format decides.
  const uint8_t type = encoding.point_type == quodax_format::kNoPointType ? h->point_data_format
                                                                          : encoding.point_type;
  written.zero_legacy_counts = written.las14() &&
                               type >= las_format::kFirstExtendedPointDataFormat &&
                               type <= las_format::kMaxPointDataFormat;
  written.header_size = static_cast<uint16_t>(header_size);
  written.offset_to_point_data = static_cast<uint32_t>(offset);
  written.own_records_size = own_records_size;
  written.record_length = static_cast<uint16_t>(point.record_size);
  return true;
}

bool LASwriterLAS::writeBeforePoints(const LASheader* h, PointEncoding& encoding) {
  const int64_t header_start = stream()->position();
  if (header_start < 0) {
    return reportFailure("ERROR: querying the output position for the header\n");
  }
  written.header_start = header_start;
  written.counted_from = header_start;
  if (!writeHeaderBlock(h, encoding)) return false;
  if (!writeUserData(h->user_data_in_header, h->user_data_in_header_size, "user_data_in_header") ||
      !writeHeaderRecords(h)) {
    return false;
  }
  if (encoding.descriptor) {
    if (!writeCompressorRecord(encoding.descriptor.get(), encoding.compressor)) return false;
    encoding.descriptor.reset();
  }
  if (h->vlr_lastiling != nullptr && !writeTilingRecord(h->vlr_lastiling)) return false;
  if (h->vlr_lasoriginal != nullptr && !writeOriginalRecord(h->vlr_lasoriginal)) return false;
  return writeUserData(h->user_data_after_header, h->user_data_after_header_size,
                       "user_data_after_header");
}

bool LASwriterLAS::writeUserData(const uint8_t* data, uint32_t size, const char* name) {
  if (size == 0 || stream()->writeBytes(data, size)) return true;
  return reportFailure("ERROR: writing %d bytes of data from header->%s\n", static_cast<int>(size),
                       name);
}

// A header field: on failure "ERROR: writing header-><name>\n".
bool LASwriterLAS::field(bool ok, const char* name) {
  return ok || reportFailure("ERROR: writing header->%s\n", name);
}

bool LASwriterLAS::writeHeaderBlock(const LASheader* h, const PointEncoding& encoding) {
  if (!writeIdentification(h) || !writeSizesAndPointFormat(h, encoding) || !writeLegacyCounts(h) ||
      !writeScalesOffsetsAndBox(h)) {
    return false;
  }
  if (written.version_minor >= 3 &&
      !writeZeroWaveformStart(stream(), h->start_of_waveform_data_packet_record)) {
    return reportFailure("ERROR: writing start_of_waveform_data_packet_record\n");
  }
  return !written.las14() || writeLas14Fields(h);
}

// Offsets 0 to 93: who wrote the file, when, and its version.
bool LASwriterLAS::writeIdentification(const LASheader* h) {
  ByteStreamOut* s = stream();
  if (!field(putChars(s, h->file_signature, 4), "file_signature")) return false;
  if (!field(writeU16LE(s, h->file_source_ID), "file_source_ID")) return false;
  if (!field(writeU16LE(s, h->global_encoding), "global_encoding")) return false;
  if (!field(writeU32LE(s, h->project_ID_GUID_data_1), "project_ID_GUID_data_1")) return false;
  if (!field(writeU16LE(s, h->project_ID_GUID_data_2), "project_ID_GUID_data_2")) return false;
  if (!field(writeU16LE(s, h->project_ID_GUID_data_3), "project_ID_GUID_data_3")) return false;
  if (!field(s->writeBytes(h->project_ID_GUID_data_4, 8), "project_ID_GUID_data_4")) return false;

  if (h->version_major != las_format::kVersionMajor) {
    printLine("WARNING: header->version_major is %d. writing 1 instead.\n", h->version_major);
  }
  if (!field(s->writeByte(las_format::kVersionMajor), "version_major")) return false;
  if (h->version_minor != written.version_minor) {
    printLine("WARNING: header->version_minor is %d. writing 4 instead.\n", h->version_minor);
  }
  if (!field(s->writeByte(written.version_minor), "version_minor")) return false;

  if (!field(putChars(s, h->system_identifier, 32), "system_identifier")) return false;
  if (!field(putChars(s, h->generating_software, 32), "generating_software")) return false;
  if (!field(writeU16LE(s, h->file_creation_day), "file_creation_day")) return false;
  return field(writeU16LE(s, h->file_creation_year), "file_creation_year");
}

// Offsets 94 to 106: the sizes and the point format as laid out. A header whose
// fields disagree with what is written gets a warning per field, and the file
// tells the truth.
bool LASwriterLAS::writeSizesAndPointFormat(const LASheader* h, const PointEncoding& encoding) {
  ByteStreamOut* s = stream();
  if (h->header_size != written.header_size) {
    printLine("WARNING: header->header_size is %u. writing %u instead.\n", h->header_size,
              written.header_size);
  }
  if (!field(writeU16LE(s, written.header_size), "header_size")) return false;
  // The header's offset counts everything before the writer's own records.
  if (static_cast<uint64_t>(h->offset_to_point_data) + written.own_records_size !=
      written.offset_to_point_data) {
    printLine("WARNING: header->offset_to_point_data is %u. writing %u instead.\n",
              h->offset_to_point_data, written.offset_to_point_data);
  }
  if (!field(writeU32LE(s, written.offset_to_point_data), "offset_to_point_data")) return false;
  // The writer's own records come after the header's and are counted here.
  uint32_t records = h->number_of_variable_length_records;
  if (encoding.descriptor) records++;
  if (h->vlr_lastiling != nullptr) records++;
  if (h->vlr_lasoriginal != nullptr) records++;
  if (!field(writeU32LE(s, records), "number_of_variable_length_records")) return false;
  const uint32_t format_byte =
      encoding.compressor != 0 ? (written.point_type | 128u) : written.point_type;
  if (!field(s->writeByte(format_byte), "point_data_format")) return false;
  if (encoding.tell_record_length) {
    printLine("WARNING: header->point_data_record_length is %u. writing %u instead.\n",
              h->point_data_record_length, written.record_length);
  }
  return field(writeU16LE(s, written.record_length), "point_data_record_length");
}

// Offsets 107 to 130: the legacy counts as the header has them.
bool LASwriterLAS::writeLegacyCounts(const LASheader* h) {
  ByteStreamOut* s = stream();
  if (!field(writeU32LE(s, h->number_of_point_records), "number_of_point_records")) return false;
  for (uint32_t i = 0; i < las_format::kLegacyReturnCount; i++) {
    if (!writeU32LE(s, h->number_of_points_by_return[i])) {
      return reportFailure("ERROR: writing header->number_of_points_by_return[%u]\n", i);
    }
  }
  return true;
}

// Offsets 131 to 226.
bool LASwriterLAS::writeScalesOffsetsAndBox(const LASheader* h) {
  ByteStreamOut* s = stream();
  return field(writeF64LE(s, h->x_scale_factor), "x_scale_factor") &&
         field(writeF64LE(s, h->y_scale_factor), "y_scale_factor") &&
         field(writeF64LE(s, h->z_scale_factor), "z_scale_factor") &&
         field(writeF64LE(s, h->x_offset), "x_offset") &&
         field(writeF64LE(s, h->y_offset), "y_offset") &&
         field(writeF64LE(s, h->z_offset), "z_offset") && field(writeF64LE(s, h->max_x), "max_x") &&
         field(writeF64LE(s, h->min_x), "min_x") && field(writeF64LE(s, h->max_y), "max_y") &&
         field(writeF64LE(s, h->min_y), "min_y") && field(writeF64LE(s, h->max_z), "max_z") &&
         field(writeF64LE(s, h->min_z), "min_z");
}

// Offsets 235 to 374 of LAS 1.4. From here on close writes the header's
// extended records.
bool LASwriterLAS::writeLas14Fields(const LASheader* h) {
  ByteStreamOut* s = stream();
  written.extended_records_of = h;
  written.start_of_first_extended_variable_length_record =
      h->start_of_first_extended_variable_length_record;
  written.number_of_extended_variable_length_records =
      h->number_of_extended_variable_length_records;
  if (!field(writeU64LE(s, written.start_of_first_extended_variable_length_record),
             "start_of_first_extended_variable_length_record")) {
    return false;
  }
  if (!field(writeU32LE(s, written.number_of_extended_variable_length_records),
             "number_of_extended_variable_length_records")) {
    return false;
  }
  return writeExtendedCounts(h, "writing");
}

bool LASwriterLAS::writeHeaderRecords(const LASheader* h) {
  // checkHeaderData made sure the array and every payload are there.
  ByteStreamOut* s = stream();
  int64_t payload_at = written.header_size + las_format::kVlrHeaderSize;  // from header_start
  for (uint32_t i = 0; i < h->number_of_variable_length_records; i++) {
    const LASvlrRecord& r = h->vlrs[i];
    // updateHeader rewrites the extra-bytes payload exactly where it went.
    if (written.extra_bytes_at < 0 && isExtraBytesRecord(r)) {
      written.extra_bytes_at = payload_at;
      written.extra_bytes_length = r.record_length_after_header;
    }
    payload_at += r.record_length_after_header + las_format::kVlrHeaderSize;
    if (!writeU16LE(s, r.reserved))
      return reportFailure("ERROR: writing header->vlrs[%u].reserved\n", i);
    if (!putChars(s, r.user_id, 16))
      return reportFailure("ERROR: writing header->vlrs[%u].user_id\n", i);
    if (!writeU16LE(s, r.record_id))
      return reportFailure("ERROR: writing header->vlrs[%u].record_id\n", i);
    if (!writeU16LE(s, r.record_length_after_header)) {
      return reportFailure("ERROR: writing header->vlrs[%u].record_length_after_header\n", i);
    }
    if (!putChars(s, r.description, 32)) {
      return reportFailure("ERROR: writing header->vlrs[%u].description\n", i);
    }
    if (r.record_length_after_header == 0) continue;
    if (!s->writeBytes(r.data, r.record_length_after_header)) {
      return reportFailure("ERROR: writing %d bytes of data from header->vlrs[%u].data\n",
                           r.record_length_after_header, i);
    }
  }
  return true;
}

bool LASwriterLAS::writeOwnRecordHeader(const char* user_id, uint16_t record_id, uint16_t length,
                                        const char* description) {
  ByteStreamOut* s = stream();
  char user_id_field[las_format::kUserIdSize] = {};
  copyText(user_id_field, sizeof(user_id_field), user_id);
  char description_field[las_format::kDescriptionSize] = {};
  copyText(description_field, sizeof(description_field), description);
  if (!writeU16LE(s, las_format::kOwnRecordReserved)) {
    return reportFailure("ERROR: writing reserved %d\n", las_format::kOwnRecordReserved);
  }
  if (!putChars(s, user_id_field, 16)) return reportFailure("ERROR: writing user_id %s\n", user_id);
  if (!writeU16LE(s, record_id)) return reportFailure("ERROR: writing record_id %d\n", record_id);
  if (!writeU16LE(s, length))
    return reportFailure("ERROR: writing record_length_after_header %d\n", length);
  if (!putChars(s, description_field, 32)) {
    return reportFailure("ERROR: writing description %s\n", description);
  }
  return true;
}

bool LASwriterLAS::writeCompressorRecord(const Quodax* d, uint32_t compressor) {
  ByteStreamOut* s = stream();
  const uint16_t length = static_cast<uint16_t>(quodax_format::kRecordFixedSize +
                                                quodax_format::kRecordItemSize * d->num_items);
  char description[las_format::kDescriptionSize + 1] = {};
  std::snprintf(description, sizeof(description), kCompressorRecordDescription,
                kCompressorRecordTag);
  if (!writeOwnRecordHeader(quodax_format::kRecordUserId, quodax_format::kRecordId, length,
                            description)) {
    return false;
  }
  if (!writeU16LE(s, d->compressor))
    return reportFailure("ERROR: writing compressor %d\n", compressor);
  if (!writeU16LE(s, d->coder)) return reportFailure("ERROR: writing coder %d\n", d->coder);
  if (!s->writeByte(d->version_major)) {
    return reportFailure("ERROR: writing version_major %d\n", d->version_major);
  }
  if (!s->writeByte(d->version_minor)) {
    return reportFailure("ERROR: writing version_minor %d\n", d->version_minor);
  }
  if (!writeU16LE(s, d->version_revision)) {
    return reportFailure("ERROR: writing version_revision %d\n", d->version_revision);
  }
  if (!writeU32LE(s, d->options))
    return reportFailure("ERROR: writing options %d\n", static_cast<int>(d->options));
  if (!writeU32LE(s, d->chunk_size)) {
    return reportFailure("ERROR: writing chunk_size %d\n", static_cast<int>(d->chunk_size));
  }
  if (!writeU64LE(s, static_cast<uint64_t>(d->number_of_special_evlrs))) {
    return reportFailure("ERROR: writing number_of_special_evlrs %d\n",
                         static_cast<int>(static_cast<uint32_t>(d->number_of_special_evlrs)));
  }
  if (!writeU64LE(s, static_cast<uint64_t>(d->offset_to_special_evlrs))) {
    return reportFailure("ERROR: writing offset_to_special_evlrs %d\n",
                         static_cast<int>(static_cast<uint32_t>(d->offset_to_special_evlrs)));
  }
  if (!writeU16LE(s, d->num_items))
    return reportFailure("ERROR: writing num_items %d\n", d->num_items);
  for (uint32_t i = 0; i < d->num_items; i++) {
    const uint16_t type = static_cast<uint16_t>(d->items[i].type);
    if (!writeU16LE(s, type)) return reportFailure("ERROR: writing type %d of item %u\n", type, i);
    if (!writeU16LE(s, d->items[i].size)) {
      return reportFailure("ERROR: writing size %d of item %u\n", d->items[i].size, i);
    }
    if (!writeU16LE(s, d->items[i].version)) {
      return reportFailure("ERROR: writing version %d of item %u\n", d->items[i].version, i);
    }
  }
  return true;
}

bool LASwriterLAS::writeTilingRecord(const LAStilingRecord* t) {
  ByteStreamOut* s = stream();
  // Composed into 33 zeroed bytes of which 32 are written: a description that
  // fills all 32 has no zero byte in the file.
  char description[las_format::kDescriptionSize + 1] = {};
  std::snprintf(description, sizeof(description), "tile %s buffer %s",
                (t->implicit_levels & kTilingBufferBit) ? "with" : "without",
                (t->implicit_levels & kTilingReversibleBit) ? ", reversible" : "");
  if (!writeOwnRecordHeader(las_format::kUserIdVektrion, las_format::kRecordIdTiling,
                            las_format::kTilingRecordSize, description)) {
    return false;
  }
  if (!writeU32LE(s, t->level))
    return reportFailure("ERROR: writing header->vlr_lastiling->level %u\n", t->level);
  if (!writeU32LE(s, t->level_index)) {
    return reportFailure("ERROR: writing header->vlr_lastiling->level_index %u\n", t->level_index);
  }
  if (!writeU32LE(s, t->implicit_levels)) {
    return reportFailure("ERROR: writing header->vlr_lastiling->implicit_levels %u\n",
                         t->implicit_levels & kTilingLevelsMask);
  }
  if (!writeF32LE(s, t->min_x))
    return reportFailure("ERROR: writing header->vlr_lastiling->min_x %g\n", t->min_x);
  if (!writeF32LE(s, t->max_x))
    return reportFailure("ERROR: writing header->vlr_lastiling->max_x %g\n", t->max_x);
  if (!writeF32LE(s, t->min_y))
    return reportFailure("ERROR: writing header->vlr_lastiling->min_y %g\n", t->min_y);
  if (!writeF32LE(s, t->max_y))
    return reportFailure("ERROR: writing header->vlr_lastiling->max_y %g\n", t->max_y);
  return true;
}

bool LASwriterLAS::writeOriginalRecord(LASoriginalRecord* o) {
  ByteStreamOut* s = stream();
  if (!writeOwnRecordHeader(las_format::kUserIdVektrion, las_format::kRecordIdOriginal,
                            las_format::kOriginalRecordSize, kOriginalRecordDescription)) {
    return false;
  }
  o->payload_position = s->position();
  if (!writeU64LE(s, o->number_of_point_records)) {
    return reportFailure("ERROR: writing header->vlr_lasoriginal->number_of_point_records %u\n",
                         static_cast<uint32_t>(o->number_of_point_records));
  }
  for (uint32_t i = 0; i < las_format::kExtendedReturnCount; i++) {
    if (!writeU64LE(s, o->number_of_points_by_return[i])) {
      return reportFailure(
          "ERROR: writing header->vlr_lasoriginal->number_of_points_by_return[%u] %u\n", i,
          static_cast<uint32_t>(o->number_of_points_by_return[i]));
    }
  }
  // On every axis the minimum before the maximum.
  if (!writeF64LE(s, o->min_x))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->min_x %g\n", o->min_x);
  if (!writeF64LE(s, o->max_x))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->max_x %g\n", o->max_x);
  if (!writeF64LE(s, o->min_y))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->min_y %g\n", o->min_y);
  if (!writeF64LE(s, o->max_y))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->max_y %g\n", o->max_y);
  if (!writeF64LE(s, o->min_z))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->min_z %g\n", o->min_z);
  if (!writeF64LE(s, o->max_z))
    return reportFailure("ERROR: writing header->vlr_lasoriginal->max_z %g\n", o->max_z);
  return true;
}

bool LASwriterLAS::replaceFile(FILE* new_file) {
  // The records the point-record writer still holds were written before the
  // switch: they belong to the old FILE.
  if (record_writer && !record_writer->handOverRecords()) reportRecordFailure();
  // What the old FILE got is counted now; close's count goes on from the new
  // FILE's position, whatever it is.
  const int64_t bytes_so_far = stream() != nullptr ? bytesPutOut() : -1;
  if (!output.replaceFile(new_file)) return false;
  const int64_t new_start = stream()->position();
  written.bytes_in_earlier_files = new_start >= 0 ? bytes_so_far : -1;
  written.counted_from = new_start;
  return true;
}

bool LASwriterLAS::writeCheckedPoint(const LASpointRecord* point) {
  if (life != Life::kOpen) {
    return reportMisuse(Misuse::kNotOpen, "ERROR: writePoint on a LASwriterLAS that is not open\n");
  }
  if (point == nullptr) return refuseNullPoint();
  if (!servesPointItems(*point)) {
    const std::string have = describeItems(point->items != nullptr ? point->num_items : 0,
                                           point->items, point->record_size);
    const std::string need = describeItems(static_cast<uint16_t>(written.point_items.size()),
                                           written.point_items.data(), written.record_length);
    return reportFailure("ERROR: point with items %s cannot be written as items %s\n", have.c_str(),
                         need.c_str());
  }
  return writeRecordOf(*point);
}

bool LASwriterLAS::servesPointItems(const LASpointRecord& point) const {
  const size_t n = written.point_items.size();
  if (point.item_pointers == nullptr || point.num_items < n) return false;
  for (size_t i = 0; i < n; i++) {
    const LASitem& have = point.items[i];
    const LASitem& need = written.point_items[i];
    if ((have.type != need.type || have.size != need.size) && !itemServes(have, need)) {
      return false;
    }
  }
  return true;
}

bool LASwriterLAS::chunk() {
  if (life != Life::kOpen) {
    return reportMisuse(Misuse::kNotOpen, "ERROR: chunk on a LASwriterLAS that is not open\n");
  }
  return record_writer->closeChunk() || reportRecordFailure();
}

bool LASwriterLAS::reportRecordFailure() {
  switch (record_writer->failure()) {
    case LASwriteRecord::Failure::kRecord:
      return reportFailure("ERROR: writing point %lld\n", static_cast<long long>(points_written));
    case LASwriteRecord::Failure::kStreamEnd:
      return reportFailure("ERROR: writing the end of the compressed points\n");
    case LASwriteRecord::Failure::kChunk:
      return reportFailure("ERROR: writing chunk %u of the points\n", record_writer->failedChunk());
    case LASwriteRecord::Failure::kChunkTable:
      return reportFailure("ERROR: writing chunk table\n");
    case LASwriteRecord::Failure::kChunkTablePointer:
      return reportFailure("ERROR: writing chunk table pointer\n");
    case LASwriteRecord::Failure::kNone:
      break;
  }
  return false;  // a call out of order (after close): nothing was lost
}

// ---------------------------------------------------------------- updateHeader

bool LASwriterLAS::updateHeader(const LASheader* header, bool use_inventory,
                                bool update_extra_bytes) {
  if (header == nullptr) {
    // An open writer's header then keeps what open wrote: that is a failure.
    return life == Life::kOpen ? reportFailureAlways("ERROR: header pointer is zero\n")
                               : printLine("ERROR: header pointer is zero\n");
  }
  if (life == Life::kIdle) return printLine("ERROR: stream pointer is zero\n");
  if (life == Life::kHeldNotOpen) {
    return reportMisuse(Misuse::kNotOpen,
                        "ERROR: updateHeader on a LASwriterLAS that is not open\n");
  }
  if (!stream()->canSeek()) {
    return printLine("WARNING: stream not seekable. cannot update header.\n");
  }
  if (header->vlrCountOverrunsArray()) {
    return reportFailureAlways(kVlrCountOverrunLine, header->number_of_variable_length_records,
                               header->madeVlrCount());
  }
  const bool patched =
      seekInHeader(las_format::kOffsetNumberOfPointRecords, "number_of_point_records") &&
      (use_inventory ? patchFromInventory() : patchFromHeader(header));
  // Back to the end also after a failed patch, so that later points never land
  // inside the header.
  if (!returnToEnd() || !patched) return false;
  if (update_extra_bytes && header->attribute_count != 0) {
    const bool rewritten = patchExtraBytes(header);
    if (!returnToEnd() || !rewritten) return false;
  }
  return true;
}

uint32_t LASwriterLAS::legacyCount(uint64_t count) const {
  if (written.zero_legacy_counts) return 0;
  if (count <= las_format::kMaxLegacyCount) return static_cast<uint32_t>(count);
  // Too many for the field: all 32 bits set below LAS 1.4, 0 from LAS 1.4 on.
  return written.las14() ? 0u : 0xFFFFFFFFu;
}

bool LASwriterLAS::patchFromInventory() {
  ByteStreamOut* s = stream();
  const uint64_t count = static_cast<uint64_t>(inventory.number_of_point_records);
  if (!written.zero_legacy_counts && count > las_format::kMaxLegacyCount && !written.las14()) {
    printLine("WARNING: too many points in LAS %d.%d file. limit is %u.\n",
              las_format::kVersionMajor, written.version_minor,
              static_cast<uint32_t>(las_format::kMaxLegacyCount));
  }
  if (!writeU32LE(s, legacyCount(count))) {
    return reportFailure("ERROR: updating inventory.number_of_point_records\n");
  }
  expected_points = inventory.number_of_point_records;
  for (uint32_t i = 0; i < las_format::kLegacyReturnCount; i++) {
    const uint64_t n = static_cast<uint64_t>(inventory.number_of_points_by_return[i + 1]);
    if (!writeU32LE(s, legacyCount(n))) {
      return reportFailure("ERROR: updating inventory.number_of_points_by_return[%u]\n", i);
    }
  }

  if (!seekInHeader(las_format::kOffsetMaxX, "max_x")) return false;
  // Through the scale and offset the writer was opened with.
  const LASboundingBox box = inventory.boundingBox(scale_offset);
  if (!writeF64LE(s, box.max_x)) return reportFailure("ERROR: updating inventory.max_X\n");
  if (!writeF64LE(s, box.min_x)) return reportFailure("ERROR: updating inventory.min_X\n");
  if (!writeF64LE(s, box.max_y)) return reportFailure("ERROR: updating inventory.max_Y\n");
  if (!writeF64LE(s, box.min_y)) return reportFailure("ERROR: updating inventory.min_Y\n");
  if (!writeF64LE(s, box.max_z)) return reportFailure("ERROR: updating inventory.max_Z\n");
  if (!writeF64LE(s, box.min_z)) return reportFailure("ERROR: updating inventory.min_Z\n");

  if (!written.las14()) return true;
  if (!seekInHeader(las_format::kOffsetExtendedNumberOfPointRecords,
                    "extended_number_of_point_records")) {
    return false;
  }
  if (!writeU64LE(s, count)) {
    return reportFailure("ERROR: updating header->extended_number_of_point_records\n");
  }
  for (uint32_t i = 0; i < las_format::kExtendedReturnCount; i++) {
    if (!writeU64LE(s, static_cast<uint64_t>(inventory.number_of_points_by_return[i + 1]))) {
      return reportFailure("ERROR: updating header->extended_number_of_points_by_return[%u]\n", i);
    }
  }
  return true;
}

bool LASwriterLAS::patchFromHeader(const LASheader* h) {
  ByteStreamOut* s = stream();
  if (!writeU32LE(s, legacyCount(h->number_of_point_records))) {
    return reportFailure("ERROR: updating header->number_of_point_records\n");
  }
  expected_points = h->number_of_point_records;
  for (uint32_t i = 0; i < las_format::kLegacyReturnCount; i++) {
    if (!writeU32LE(s, legacyCount(h->number_of_points_by_return[i]))) {
      return reportFailure("ERROR: updating header->number_of_points_by_return[%u]\n", i);
    }
  }

  if (!seekInHeader(las_format::kOffsetMaxX, "max_x")) return false;
  if (!writeF64LE(s, h->max_x)) return reportFailure("ERROR: updating header->max_x\n");
  if (!writeF64LE(s, h->min_x)) return reportFailure("ERROR: updating header->min_x\n");
  if (!writeF64LE(s, h->max_y)) return reportFailure("ERROR: updating header->max_y\n");
  if (!writeF64LE(s, h->min_y)) return reportFailure("ERROR: updating header->min_y\n");
  if (!writeF64LE(s, h->max_z)) return reportFailure("ERROR: updating header->max_z\n");
  if (!writeF64LE(s, h->min_z)) return reportFailure("ERROR: updating header->min_z\n");

  if (written.version_minor < 3) return true;
  if (!writeZeroWaveformStart(s, h->start_of_waveform_data_packet_record)) {
    // The two texts differ, as they always have, by whether a value was replaced.
    return reportFailure("%s",
                         h->start_of_waveform_data_packet_record != 0
                             ? "ERROR: updating start_of_waveform_data_packet_record\n"
                             : "ERROR: updating header->start_of_waveform_data_packet_record\n");
  }

  if (!written.las14()) return true;
  if (!seekInHeader(las_format::kOffsetStartOfFirstEvlr,
                    "start_of_first_extended_variable_length_record")) {
    return false;
  }
  // What the file holds now; close brings both to the records it writes.
  if (!writeU64LE(s, h->start_of_first_extended_variable_length_record)) {
    return reportFailure(
        "ERROR: updating header->start_of_first_extended_variable_length_record\n");
  }
  written.start_of_first_extended_variable_length_record =
      h->start_of_first_extended_variable_length_record;
  if (!writeU32LE(s, h->number_of_extended_variable_length_records)) {
    return reportFailure("ERROR: updating header->number_of_extended_variable_length_records\n");
  }
  written.number_of_extended_variable_length_records =
      h->number_of_extended_variable_length_records;
  return writeExtendedCounts(h, "updating");
}

bool LASwriterLAS::writeExtendedCounts(const LASheader* h, const char* verb) {
  if (!writeU64LE(stream(), h->pointCount())) {
    return reportFailure("ERROR: %s header->extended_number_of_point_records\n", verb);
  }
  for (uint32_t i = 0; i < las_format::kExtendedReturnCount; i++) {
    if (!writeU64LE(stream(), h->pointsByReturn(i))) {
      return reportFailure("ERROR: %s header->extended_number_of_points_by_return[%u]\n", verb, i);
    }
  }
  return true;
}

bool LASwriterLAS::patchExtraBytes(const LASheader* h) {
  // The payload goes where open wrote the extra-bytes record, whatever the
  // records before it are now; it must have the size written there.
  const uint32_t count = h->vlrs != nullptr ? h->number_of_variable_length_records : 0;
  for (uint32_t i = 0; i < count; i++) {
    const LASvlrRecord& r = h->vlrs[i];
    if (!isExtraBytesRecord(r)) continue;
    if (written.extra_bytes_at < 0) break;  // open wrote none
    if (r.record_length_after_header == 0) return true;
    if (r.data == nullptr) {
      return reportFailureAlways(
          "ERROR: there should be %d bytes of data in header->vlrs[%u].data\n",
          r.record_length_after_header, i);
    }
    if (r.record_length_after_header != written.extra_bytes_length) {
      return reportFailureAlways(
          "ERROR: header->vlrs[%u] has %d bytes but the extra bytes record written has %d\n", i,
          r.record_length_after_header, written.extra_bytes_length);
    }
    if (!stream()->seekTo(written.header_start + written.extra_bytes_at)) {
      return reportFailure("ERROR: seeking to header->vlrs[%u].data\n", i);
    }
    if (!stream()->writeBytes(r.data, r.record_length_after_header)) {
      return reportFailure("ERROR: writing %d bytes of data from header->vlrs[%u].data\n",
                           r.record_length_after_header, i);
    }
    return true;
  }
  printLine("WARNING: could not find extra bytes VLR for update\n");
  return true;
}

// ----------------------------------------------------------------------- close

int64_t LASwriterLAS::close(bool update_point_count) {
  // A closed writer, or one that never got an output: nothing to do or say.
  if (life == Life::kIdle) return 0;
  accepted_identity = kNoPointHasThisIdentity;

  if (points_written != expected_points && !(expected_points == 0 && update_point_count)) {
    printLine("WARNING: written %lld points but expected %lld points\n",
              static_cast<long long>(points_written), static_cast<long long>(expected_points));
  }
  finishPoints();
  if (!writeExtendedRecords()) {
    // The output is incomplete either way; release it so that nothing is
    // leaked and a later close or the destructor does nothing more.
    releaseOutput();
    return 0;
  }
  patchPointCount(update_point_count);

  const int64_t bytes = bytesPutOut();
  if (bytes < 0) reportFailure("ERROR: querying the output position for the byte count\n");
  releaseOutput();
  return endOfClose(bytes < 0 ? 0 : bytes);
}

int64_t LASwriterLAS::bytesPutOut() const {
  const int64_t end = stream()->position();
  const int64_t earlier = written.bytes_in_earlier_files;
  if (end < written.counted_from || earlier < 0) return -1;
  return earlier + (end - written.counted_from);
}

void LASwriterLAS::finishPoints() {
  if (!record_writer) return;
  // Ends the last chunk and writes the chunk table.
  if (!record_writer->finish()) reportRecordFailure();
  record_writer.reset();
}

bool LASwriterLAS::writeExtendedRecords() {
  const LASheader* h = written.extended_records_of;
  if (h == nullptr) return true;  // open wrote no LAS 1.4 fields
  // The records as the header holds them now: nothing of its array is kept
  // between calls, so it may have grown, shrunk or moved since open.
  const uint32_t count = h->number_of_extended_variable_length_records;
  uint64_t start = 0;
  if (count != 0) {
    const int64_t p = stream()->position();
    if (p < 0) reportFailure("ERROR: querying the output position for the extended records\n");
    if (!writeExtendedRecordList(h->evlrs, count)) return false;
    if (p < 0) return true;  // where they begin is not known
    start = static_cast<uint64_t>(p - written.header_start);
  }
  announceExtendedRecords(start, count);
  return true;
}

bool LASwriterLAS::writeExtendedRecordList(const LASevlrRecord* records, uint32_t count) {
  if (records == nullptr) return reportFailureAlways("ERROR: evlrs pointer is zero\n");
  ByteStreamOut* s = stream();
  for (uint32_t i = 0; i < count; i++) {
    const LASevlrRecord& r = records[i];
    if (!writeU16LE(s, r.reserved)) return reportFailure("ERROR: writing evlrs[%u].reserved\n", i);
    if (!putChars(s, r.user_id, 16)) return reportFailure("ERROR: writing evlrs[%u].user_id\n", i);
    if (!writeU16LE(s, r.record_id)) {
      return reportFailure("ERROR: writing evlrs[%u].record_id\n", i);
    }
    if (!writeU64LE(s, r.record_length_after_header)) {
      return reportFailure("ERROR: writing evlrs[%u].record_length_after_header\n", i);
    }
    if (!putChars(s, r.description, 32)) {
      return reportFailure("ERROR: writing evlrs[%u].description\n", i);
    }
    if (r.record_length_after_header == 0) continue;
    const uint32_t low = static_cast<uint32_t>(r.record_length_after_header);
    if (r.data == nullptr) {
      return reportFailureAlways("ERROR: there should be %u bytes of data in evlrs[%u].data\n", low,
                                 i);
    }
    // One piece of at most 2^32 - 1 bytes; a longer payload would be cut short.
    if (r.record_length_after_header > kMaxPieceBytes) {
      return reportFailureAlways("ERROR: evlrs[%u].data has %llu bytes, more than %u\n", i,
                                 static_cast<unsigned long long>(r.record_length_after_header),
                                 static_cast<uint32_t>(kMaxPieceBytes));
    }
    if (!s->writeBytes(r.data, low)) {
      return reportFailure("ERROR: writing %u bytes of data from evlrs[%u].data\n", low, i);
    }
  }
  return true;
}

void LASwriterLAS::announceExtendedRecords(uint64_t start, uint32_t count) {
  const uint64_t held_start = written.start_of_first_extended_variable_length_record;
  const uint32_t held_count = written.number_of_extended_variable_length_records;
  const bool start_changes = start != held_start;
  const bool count_changes = count != held_count;
  if (!start_changes && !count_changes) return;
  if (!stream()->canSeek()) {
    if (start_changes) {
      printLine(
          "WARNING: stream not seekable. cannot update "
          "header->start_of_first_extended_variable_length_record from %llu to %llu.\n",
          static_cast<unsigned long long>(held_start), static_cast<unsigned long long>(start));
    }
    if (count_changes) {
      printLine(
          "WARNING: stream not seekable. cannot update "
          "header->number_of_extended_variable_length_records from %u to %u.\n",
          held_count, count);
    }
    return;
  }
  if (start_changes && seekInHeader(las_format::kOffsetStartOfFirstEvlr,
                                    "start_of_first_extended_variable_length_record")) {
    if (!writeU64LE(stream(), start)) {
      reportFailure("ERROR: updating header->start_of_first_extended_variable_length_record\n");
    }
  }
  if (count_changes && seekInHeader(las_format::kOffsetNumberOfEvlrs,
                                    "number_of_extended_variable_length_records")) {
    if (!writeU32LE(stream(), count)) {
      reportFailure("ERROR: updating header->number_of_extended_variable_length_records\n");
    }
  }
  returnToEnd();
}

void LASwriterLAS::patchPointCount(bool update_point_count) {
  if (!update_point_count || points_written == expected_points) return;
  if (!stream()->canSeek()) {
    las_messages::warnCountNotUpdated(expected_points, points_written);
    return;
  }
  const uint64_t count = static_cast<uint64_t>(points_written);
  if (seekInHeader(las_format::kOffsetNumberOfPointRecords, "number_of_point_records")) {
    if (!writeU32LE(stream(), legacyCount(count))) {
      reportFailure("ERROR: updating header->number_of_point_records\n");
    } else if (written.las14() &&
               seekInHeader(las_format::kOffsetExtendedNumberOfPointRecords,
                            "extended_number_of_point_records") &&
               !writeU64LE(stream(), count)) {
      reportFailure("ERROR: updating header->extended_number_of_point_records\n");
    }
  }
  returnToEnd();
}

void LASwriterLAS::releaseOutput() {
  output.flushStream();
  output.release();
  life = Life::kIdle;
}

bool LASwriterLAS::seekInHeader(int64_t offset, const char* field_name) {
  if (stream()->seekTo(written.header_start + offset)) return true;
  return reportFailure("ERROR: seeking to header->%s\n", field_name);
}

bool LASwriterLAS::returnToEnd() {
  if (stream()->seekToEnd()) return true;
  return reportFailure("ERROR: seeking to the end of output '%s'\n", output.getName().c_str());
}
