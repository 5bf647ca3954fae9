// The BIN writer. Layout it produces, little-endian, offsets from the header's start:
//    0 I32 header size (56)     4 I32 version (20010712 or 20020715)
//    8 I32 format tag 970401   12 char[4] "CXYZ"
//   16 U32 number of points (patched by close when it changed)
//   20 I32 units: file units per coordinate unit, from the smallest scale factor s
//   24 F64 origin x, y, z: -offset / s per axis
//   48 I32 time flag: 1 when the point format carries a GPS time (1, 3 to 10)
//   52 I32 colour flag: 1 when it carries colour (2, 3, 5, 7, 8, 10)
// then per point the record of its version:
//   20020715 (20 bytes): I32 x, y, z; U8 class; U8 echo; 2 zero bytes;
//            U16 point source ID; U16 intensity
//   20010712 (16 bytes): U8 class; U8 point source ID (low 8 bits);
//            U16 echo (bits 14-15) | intensity (low 14 bits); I32 x, y, z
// followed by U32 time (units of 0.0002 s) when the point has a GPS time, and the
// high bytes of red, green, blue and a 0 when it has colour.
#include "morrowtide/las/las_writer_bin.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::putF64LE;
using morrowtide::putI32LE;
using morrowtide::putU16LE;
using morrowtide::putU32LE;
using morrowtide::roundHalfAwayToI32;
using morrowtide::truncateSaturating;
using morrowtide::detail::writeU32LE;

namespace {

using las_messages::printLine;

constexpr int32_t kHeaderSize = 56;
constexpr int32_t kFormatTag = 970401;
constexpr char kFormatText[4] = {'C', 'X', 'Y', 'Z'};
constexpr int64_t kOffsetPointCount = 16;
constexpr uint32_t kRecordSizeTs8 = 16;
constexpr uint32_t kRecordSizeTs16 = 20;
constexpr uint32_t kLargestPointBytes = kRecordSizeTs16 + 4 + 4;  // record, time, colour
constexpr double kTimeUnit = 0.0002;      // seconds per step of the time word
constexpr double kUnitsTolerance = 1e-9;  // relative distance of 1/s to an integer
constexpr double kLargestUnits = 2147483647.0;

// File units per coordinate unit for the smallest scale factor `s`: 1/s rounded
// to the nearest integer when it lies within a relative 1e-9 of one (so that
// 0.00001, whose reciprocal is 99999.99999999999, gives 100000), else 1/s
// truncated. 0 when `s` is not a positive finite number or the units fall
// outside 1 .. 2^31-1.
int32_t unitsOfScale(double s) {
  if (!(s > 0.0) || !std::isfinite(s)) return 0;
  const double reciprocal = 1.0 / s;
  const double nearest = std::round(reciprocal);
  const double units = std::fabs(reciprocal - nearest) <= kUnitsTolerance * reciprocal
                           ? nearest
                           : std::trunc(reciprocal);
  if (!(units >= 1.0 && units <= kLargestUnits)) return 0;
  return static_cast<int32_t>(units);
}

// The smallest of the three scale factors; NaN when any of them is NaN.
double smallestScale(const LASscaleOffset& so) {
  for (const double f : {so.x_scale_factor, so.y_scale_factor, so.z_scale_factor}) {
    if (std::isnan(f)) return f;
  }
  return std::min({so.x_scale_factor, so.y_scale_factor, so.z_scale_factor});
}

// The header's flags say what the records of the point format carry. A format
// above 10 names no layout; its time flag stays set, so the header of such a file
// keeps the bytes it always had.
bool formatHasTime(uint8_t f) {
  return f > las_format::kMaxPointDataFormat || las_format::formatHasGpsTime(f);
}
using las_format::formatHasColour;

// 0 for the only echo, 1 for the first of several, 3 for the last, 2 between.
uint32_t echoCode(const LASpointRecord& point) {
  const uint8_t r = point.getReturnNumber();
  const uint8_t m = point.getNumberOfReturns();
  if (m < 2) return 0;
  if (r == 1) return 1;
  if (r >= m) return 3;
  return 2;
}

uint8_t highByte(uint16_t v) { return static_cast<uint8_t>(v >> 8); }

}  // namespace

LASwriterBIN::~LASwriterBIN() {
  if (output.holdsOutput()) close(true);
}

bool LASwriterBIN::openFile(const char* file_name, const LASheader* header,
                            const char* version_name, uint32_t io_buffer_size) {
  if (!output.openFile(file_name, "wb", io_buffer_size)) return false;
  return open(new ByteStreamOutFileLE(output.getFile()), header, version_name);
}

bool LASwriterBIN::openStdio(FILE* file, const LASheader* header, const char* version_name) {
  if (!output.useFile(file)) return false;
  return open(new ByteStreamOutFileLE(file), header, version_name);
}

bool LASwriterBIN::open(ByteStreamOut* stream, const LASheader* header, const char* version_name) {
  header_written = false;
  if (stream == nullptr) return printLine("ERROR: ByteStreamOut pointer is zero\n");
  output.takeStream(stream);
  if (header == nullptr) return printLine("ERROR: LASheader pointer is zero\n");
  scale_offset = static_cast<const LASscaleOffset&>(*header);

  version = version_name != nullptr && std::strstr(version_name, "ts16") != nullptr ? kVersionTs16
                                                                                    : kVersionTs8;
  const double s = smallestScale(*header);
  units = unitsOfScale(s);
  if (units == 0) {
    return printLine("ERROR: smallest scale factor %g gives no BIN units from 1 to 2147483647\n",
                     s);
  }
  origin_x = -header->x_offset / s;
  origin_y = -header->y_offset / s;
  origin_z = -header->z_offset / s;

  header_start = stream->position();
  if (header_start < 0)
    return reportFailure("ERROR: cannot query the position of the BIN output\n");
  uint8_t bytes[kHeaderSize];
  putI32LE(bytes + 0, kHeaderSize);
  putI32LE(bytes + 4, version);
  putI32LE(bytes + 8, kFormatTag);
  std::memcpy(bytes + 12, kFormatText, sizeof(kFormatText));
  putU32LE(bytes + 16, static_cast<uint32_t>(header->pointCount()));
  putI32LE(bytes + 20, units);
  putF64LE(bytes + 24, origin_x);
  putF64LE(bytes + 32, origin_y);
  putF64LE(bytes + 40, origin_z);
  putI32LE(bytes + 48, formatHasTime(header->point_data_format) ? 1 : 0);
  putI32LE(bytes + 52, formatHasColour(header->point_data_format) ? 1 : 0);
  if (!stream->writeBytes(bytes, kHeaderSize)) {
    return reportFailure("ERROR: cannot write the BIN header\n");
  }
  header_written = true;
  return true;
}

bool LASwriterBIN::writePoint(const LASpointRecord* point) {
  ByteStreamOut* stream = output.getStream();
  // Records without the header before them would make a file no reader takes.
  if (stream == nullptr || !header_written) return false;
  if (point == nullptr) return refuseNullPoint();
  const LASscaleOffset& so = point->scale_offset != nullptr ? *point->scale_offset : scale_offset;
  const double file_units = units;
  const int32_t x =
      roundHalfAwayToI32(origin_x + (point->getX() * so.x_scale_factor + so.x_offset) * file_units);
  const int32_t y =
      roundHalfAwayToI32(origin_y + (point->getY() * so.y_scale_factor + so.y_offset) * file_units);
  const int32_t z =
      roundHalfAwayToI32(origin_z + (point->getZ() * so.z_scale_factor + so.z_offset) * file_units);
  const uint32_t echo = echoCode(*point);

  uint8_t bytes[kLargestPointBytes];
  uint32_t n = 0;
  if (version == kVersionTs16) {
    putI32LE(bytes + 0, x);
    putI32LE(bytes + 4, y);
    putI32LE(bytes + 8, z);
    bytes[12] = point->getClassification();
    bytes[13] = static_cast<uint8_t>(echo);
    bytes[14] = 0;
    bytes[15] = 0;
    putU16LE(bytes + 16, point->getPointSourceID());
    putU16LE(bytes + 18, point->getIntensity());
    n = kRecordSizeTs16;
  } else {
    bytes[0] = point->getClassification();
    bytes[1] = static_cast<uint8_t>(point->getPointSourceID());
    putU16LE(bytes + 2, static_cast<uint16_t>((echo << 14) | (point->getIntensity() & 0x3FFF)));
    putI32LE(bytes + 4, x);
    putI32LE(bytes + 8, y);
    putI32LE(bytes + 12, z);
    n = kRecordSizeTs8;
  }
  if (point->has_gps_time) {
    // The time in steps of 0.0002 s, + 0.5, truncated; saturating at 0 and 2^32-1.
    putU32LE(bytes + n, truncateSaturating<uint32_t>(point->getGpsTime() / kTimeUnit + 0.5));
    n += 4;
  }
  if (point->has_rgb) {
    bytes[n + 0] = highByte(point->getRgb(0));
    bytes[n + 1] = highByte(point->getRgb(1));
    bytes[n + 2] = highByte(point->getRgb(2));
    bytes[n + 3] = 0;
    n += 4;
  }
  if (!stream->writeBytes(bytes, n)) {
    return reportFailure("ERROR: cannot write point %lld as BIN\n",
                         static_cast<long long>(points_written + 1));
  }
  points_written++;
  return true;
}

int64_t LASwriterBIN::close(bool update_point_count) {
  ByteStreamOut* stream = output.getStream();
  if (stream == nullptr) return 0;
  header_written = false;
  if (update_point_count && points_written != expected_points) {
    if (!stream->canSeek()) {
      las_messages::warnCountNotUpdated(expected_points, points_written);
    } else {
      const bool sought = stream->seekTo(header_start + kOffsetPointCount);
      const bool patched = sought && writeU32LE(stream, static_cast<uint32_t>(points_written));
      // Back to the end also after a failed patch, so that the byte count is right.
      const bool returned = sought && stream->seekToEnd();
      if (!patched || !returned) {
        reportFailure("ERROR: cannot update the BIN point count from %lld to %lld\n",
                      static_cast<long long>(expected_points),
                      static_cast<long long>(points_written));
      }
    }
  }
  const int64_t end = output.finish();
  return endOfClose(end >= 0 ? end - header_start : 0);
}
