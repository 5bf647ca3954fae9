// The QFIT writer. Layout it produces, little-endian, with L the record length
// (40, 48 or 56 bytes):
//        0 U32 L
//        4 char[L-4] "via LASwriterQFIT (version 210720)", zero-filled
//        L I32 -9000000
//    L + 4 U32 2L, the offset of the first point record
//    L + 8 char[L-8] "Vektrion by Zorvik Quelmarr", zero-filled
//       2L one record of L / 4 I32 words per point:
//          0 time in ms (absolute)  1 latitude  2 longitude (+360000000 when
//          negative)  3 elevation  4 0  5 intensity  6 scan azimuth  7 pitch
//          8 roll  9 0  10 pulse width (L >= 48)  11-13 0
// Latitude, longitude and elevation are in micro-degrees and thousandths when
// the header's scale factors and offsets are not already those units. Every
// real-to-word conversion rounds halves away from zero and saturates at the I32
// bounds (NaN gives 0).
#include "morrowtide/las/las_writer_qfit.h"

#include <cmath>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::getI32LE;
using morrowtide::putI32LE;
using morrowtide::roundHalfAwayToI32;
using morrowtide::detail::writeU32LE;

namespace {

using las_messages::printLine;

constexpr int32_t kTextTag = 210720;
constexpr char kFirstText[] = "via LASwriterQFIT (version %d)";
constexpr char kSecondText[] = "Vektrion by Zorvik Quelmarr";
constexpr int32_t kSecondWord = -9000000;
constexpr double kLongitudeLimit = 361.0;
constexpr int32_t kFullCircle = 360000000;  // micro-degrees
constexpr double kMicroDegree = 0.000001;
constexpr double kMilli = 0.001;
constexpr uint32_t kAttributeNameSize = 32;

constexpr int32_t kWordTime = 0;
constexpr int32_t kWordLatitude = 1;
constexpr int32_t kWordLongitude = 2;
constexpr int32_t kWordElevation = 3;
constexpr int32_t kWordIntensity = 5;
constexpr int32_t kWordScanAzimuth = 6;
constexpr int32_t kWordPitch = 7;
constexpr int32_t kWordRoll = 8;
constexpr int32_t kWordPulseWidth = 10;

// The byte offset of the first extra-bytes attribute named `name` (compared
// within the 32 bytes of the name field), or -1.
int32_t attributeStart(const LASheader& header, const char* name) {
  if (header.attribute_descriptors == nullptr || header.attribute_offsets == nullptr) return -1;
  for (int32_t i = 0; i < header.attribute_count; i++) {
    if (std::strncmp(header.attribute_descriptors[i].name, name, kAttributeNameSize) == 0) {
      return header.attribute_offsets[i];
    }
  }
  return -1;
}

// Writes `text` (formatted with the tag) into a zero-filled field of `size` bytes.
bool writeTextField(ByteStreamOut* stream, const char* text, int32_t size) {
  char field[LASwriterQFIT::kLargestRecord + 1] = {};
  std::snprintf(field, sizeof(field), text, kTextTag);
  return stream->writeBytes(reinterpret_cast<const uint8_t*>(field), static_cast<uint32_t>(size));
}

}  // namespace

LASwriterQFIT::~LASwriterQFIT() {
  if (output.holdsOutput()) close(true);
}

bool LASwriterQFIT::openFile(const char* file_name, const LASheader* header, int32_t version,
                             uint32_t io_buffer_size) {
  if (!output.openFile(file_name, "wb", io_buffer_size)) return false;
  return open(new ByteStreamOutFileLE(output.getFile()), header, version);
}

bool LASwriterQFIT::openStdio(FILE* file, const LASheader* header, int32_t version) {
  if (!output.useFile(file)) return false;
  return open(new ByteStreamOutFileLE(file), header, version);
}

bool LASwriterQFIT::open(ByteStreamOut* stream, const LASheader* header, int32_t requested) {
  header_written = false;
  if (stream == nullptr) return printLine("ERROR: ByteStreamOut pointer is zero\n");
  output.takeStream(stream);
  if (header == nullptr) return printLine("ERROR: LASheader pointer is zero\n");
  const LASheader& h = *header;
  if (!(h.min_x > -kLongitudeLimit && h.min_y > -kLongitudeLimit && h.max_x < kLongitudeLimit &&
        h.max_y < kLongitudeLimit)) {
    return printLine("ERROR: bounding box (%g %g / %g %g) exceeds longitude / latitude\n", h.min_x,
                     h.min_y, h.max_x, h.max_y);
  }
  scale_offset = static_cast<const LASscaleOffset&>(h);
  rescale =
      !(h.x_scale_factor == kMicroDegree && h.y_scale_factor == kMicroDegree &&
        h.z_scale_factor == kMilli && h.x_offset == 0.0 && h.y_offset == 0.0 && h.z_offset == 0.0);
  scan_azimuth_start = attributeStart(h, "scan azimuth");
  pitch_start = attributeStart(h, "pitch");
  roll_start = attributeStart(h, "roll");
  pulse_width_start = attributeStart(h, "pulse width");

  if (requested == 40 || requested == 48 || requested == 56) {
    version = requested;
  } else if (requested == 0) {
    version = pulse_width_start == -1 ? 40 : 48;
  } else {
    printLine("WARNING: version %d of QFIT unknown ... using 48\n", requested);
    version = 48;
  }

  if (!writeU32LE(stream, static_cast<uint32_t>(version))) {
    return reportFailure("ERROR: while writing version of QFIT header\n");
  }
  if (!writeTextField(stream, kFirstText, version - 4)) {
    return reportFailure("ERROR: writing first header record of QFIT header\n");
  }
  if (!writeU32LE(stream, static_cast<uint32_t>(kSecondWord))) {
    return reportFailure("ERROR: while writing -9000000 into QFIT header\n");
  }
  if (!writeU32LE(stream, static_cast<uint32_t>(2 * version))) {
    return reportFailure("ERROR: while writing offset into QFIT header\n");
  }
  if (!writeTextField(stream, kSecondText, version - 8)) {
    return reportFailure("ERROR: writing second header record of QFIT header\n");
  }
  std::memset(record, 0, sizeof(record));
  header_written = true;
  return true;
}

int32_t LASwriterQFIT::attributeI32(const LASpointRecord& point, int32_t start, int32_t absent) {
  if (start < 0 || point.extra_bytes == nullptr || start > point.extra_bytes_size - 4) {
    return absent;
  }
  return getI32LE(point.extra_bytes + start);
}

int32_t LASwriterQFIT::attributeU8(const LASpointRecord& point, int32_t start) {
  if (start < 0 || point.extra_bytes == nullptr || start >= point.extra_bytes_size) return 0;
  return point.extra_bytes[start];
}

bool LASwriterQFIT::writePoint(const LASpointRecord* point) {
  ByteStreamOut* stream = output.getStream();
  // Without the header the record length is not settled (a failed open left
  // it 0, and a point would have been counted with nothing written).
  if (stream == nullptr || !header_written) return false;
  if (point == nullptr) return refuseNullPoint();
  const LASscaleOffset& so = point->scale_offset != nullptr ? *point->scale_offset : scale_offset;
  auto word = [this](int32_t index, int32_t value) { putI32LE(record + 4 * index, value); };

  // Rounding the magnitude equals the magnitude of the rounding (halves go away
  // from zero either way) and never yields INT32_MIN.
  word(kWordTime, roundHalfAwayToI32(std::fabs(point->getGpsTime()) / kMilli));
  int32_t latitude = point->getY();
  int32_t longitude = point->getX();
  int32_t elevation = point->getZ();
  if (rescale) {
    latitude = roundHalfAwayToI32((point->getY() * so.y_scale_factor + so.y_offset) / kMicroDegree);
    longitude =
        roundHalfAwayToI32((point->getX() * so.x_scale_factor + so.x_offset) / kMicroDegree);
    elevation = roundHalfAwayToI32((point->getZ() * so.z_scale_factor + so.z_offset) / kMilli);
  }
  if (longitude < 0) longitude += kFullCircle;  // cannot overflow: longitude < 0
  word(kWordLatitude, latitude);
  word(kWordLongitude, longitude);
  word(kWordElevation, elevation);
  word(kWordIntensity, point->getIntensity());
  word(kWordScanAzimuth, attributeI32(*point, scan_azimuth_start,
                                      roundHalfAwayToI32(point->getScanAngleRank() / kMilli)));
  word(kWordPitch, attributeI32(*point, pitch_start, 0));
  word(kWordRoll, attributeI32(*point, roll_start, 0));
  if (version > 4 * kWordPulseWidth) word(kWordPulseWidth, attributeU8(*point, pulse_width_start));

  if (!stream->writeBytes(record, static_cast<uint32_t>(version))) {
    return reportFailure("ERROR: cannot write point %lld as QFIT\n",
                         static_cast<long long>(points_written + 1));
  }
  points_written++;
  return true;
}

int64_t LASwriterQFIT::close(bool) {
  if (output.getStream() == nullptr) return 0;
  header_written = false;
  const int64_t bytes = output.finish();
  return endOfClose(bytes >= 0 ? bytes : 0);
}
