// Fixed numbers of the compressed point format: item type numbers and sizes,
// compressor and coder numbers, the compressor's own version, chunk sizes and the
// layout of the compressor's record. Writer and tests share these names; tests
// still spell the expected bytes literally, so a wrong constant is caught.
#ifndef MORROWTIDE_COMPRESSOR_QUODAX_FORMAT_H
#define MORROWTIDE_COMPRESSOR_QUODAX_FORMAT_H

#include <cstdint>

namespace quodax_format {

// Item type numbers, as stored (low 16 bits) in the compressor's record; 1-5 unused.
constexpr uint32_t kItemByte = 0;
constexpr uint32_t kItemPoint10 = 6;
constexpr uint32_t kItemGpsTime11 = 7;
constexpr uint32_t kItemRgb12 = 8;
constexpr uint32_t kItemWavePacket13 = 9;
constexpr uint32_t kItemPoint14 = 10;
constexpr uint32_t kItemRgb14 = 11;
constexpr uint32_t kItemRgbNir14 = 12;
constexpr uint32_t kItemWavePacket14 = 13;
constexpr uint32_t kItemByte14 = 14;
constexpr uint32_t kItemTypeCount = 15;  // types 0 to 14

// Fixed item sizes in bytes (BYTE and BYTE14 take any size from 1).
constexpr uint16_t kSizePoint10 = 20;
constexpr uint16_t kSizeGpsTime11 = 8;
constexpr uint16_t kSizeRgb12 = 6;
constexpr uint16_t kSizeWavePacket13 = 29;
constexpr uint16_t kSizePoint14 = 30;
constexpr uint16_t kSizeRgb14 = 6;
constexpr uint16_t kSizeRgbNir14 = 8;
constexpr uint16_t kSizeWavePacket14 = 29;

// Byte offsets of the fields of the 20-byte POINT10 item, which are also the first
// 20 bytes of every in-memory point: X, Y, Z (I32), intensity (U16), return byte,
// classification byte, scan angle rank, user data, point source ID (U16).
namespace point10 {
constexpr uint32_t kX = 0;
constexpr uint32_t kY = 4;
constexpr uint32_t kZ = 8;
constexpr uint32_t kIntensity = 12;
constexpr uint32_t kReturnByte = 14;
constexpr uint32_t kClassification = 15;
constexpr uint32_t kScanAngleRank = 16;
constexpr uint32_t kUserData = 17;
constexpr uint32_t kPointSource = 18;
}  // namespace point10

// Byte offsets of the fields of the 30-byte POINT14 record (point formats 6 to
// 10), as the raw writer stores it and the layered coder reads it: X, Y, Z (I32),
// intensity (U16), the returns byte (return number bits 0-3, number of returns
// 4-7), the flags byte (classification flags 0-3: synthetic, key-point, withheld,
// overlap; scanner channel 4-5; scan direction 6; edge of flight line 7),
// classification, user data, scan angle (I16, 0.006 degrees), point source ID
// (U16), GPS time (F64).
namespace point14 {
constexpr uint32_t kX = 0;
constexpr uint32_t kY = 4;
constexpr uint32_t kZ = 8;
constexpr uint32_t kIntensity = 12;
constexpr uint32_t kReturns = 14;
constexpr uint32_t kFlags = 15;
constexpr uint32_t kClassification = 16;
constexpr uint32_t kUserData = 17;
constexpr uint32_t kScanAngle = 18;
constexpr uint32_t kPointSource = 20;
constexpr uint32_t kGpsTime = 22;
static_assert(kGpsTime + 8 == kSizePoint14, "the GPS time ends the record");
}  // namespace point14

// Point data formats 0 to 10 and the 127 that matchPointType leaves on no match.
constexpr uint8_t kMaxPointType = 10;
constexpr uint8_t kNoPointType = 127;

// What the points of each format 0 to 10 hold, and the format's base size: the sum
// of its item sizes, extra bytes not counted. The one table of these facts: the
// item lists of each format and the LAS library's questions about a format
// (las/las_format.h) are read from it.
struct PointFormat {
  bool gps_time;     // a GPS time: GPSTIME11 item in 1, 3, 4, 5; inside POINT14 in 6-10
  bool rgb;          // red, green, blue: RGB12, RGB14 or RGBNIR14
  bool nir;          // near infrared, only with colour: RGBNIR14
  bool wave_packet;  // WAVEPACKET13, or WAVEPACKET14 with POINT14
  bool extended;     // the LAS 1.4 point (POINT14) in place of POINT10
  uint16_t base_size;
};
constexpr PointFormat kPointFormats[kMaxPointType + 1] = {
    // time, rgb,  nir,   wave,  extended, base size
    {false, false, false, false, false, 20},  // 0 POINT10
    {true, false, false, false, false, 28},   // 1 POINT10 GPSTIME11
    {false, true, false, false, false, 26},   // 2 POINT10 RGB12
    {true, true, false, false, false, 34},    // 3 POINT10 GPSTIME11 RGB12
    {true, false, false, true, false, 57},    // 4 POINT10 GPSTIME11 WAVEPACKET13
    {true, true, false, true, false, 63},     // 5 POINT10 GPSTIME11 RGB12 WAVEPACKET13
    {true, false, false, false, true, 30},    // 6 POINT14
    {true, true, false, false, true, 36},     // 7 POINT14 RGB14
    {true, true, true, false, true, 38},      // 8 POINT14 RGBNIR14
    {true, false, false, true, true, 59},     // 9 POINT14 WAVEPACKET14
    {true, true, true, true, true, 67},       // 10 POINT14 RGBNIR14 WAVEPACKET14
};

// Compressor numbers.
constexpr uint16_t kCompressorNone = 0;
constexpr uint16_t kCompressorSingleStream = 1;
constexpr uint16_t kCompressorChunked = 2;
constexpr uint16_t kCompressorLayeredChunked = 3;

// Coder numbers: the adaptive arithmetic coder is the only one.
constexpr uint16_t kCoderArithmetic = 0;

// The compressor's own version, stored in its record and named in its error texts.
constexpr uint8_t kVersionMajor = 3;
constexpr uint8_t kVersionMinor = 4;
constexpr uint16_t kVersionRevision = 3;

// Points per chunk: the default, and 0 for variable chunks ended on demand.
constexpr uint32_t kDefaultChunkSize = 50000;
constexpr uint32_t kVariableChunkSize = 0;

// Bit 0 of the options word: compatibility mode (LAS 1.4 layouts as legacy items).
constexpr uint32_t kOptionCompatibility = 1;

// Extra bytes a compatibility layout adds for formats 6-10 without / with near infrared.
constexpr uint16_t kCompatibilityExtra = 5;
constexpr uint16_t kCompatibilityExtraNir = 7;

// The compressor's variable-length record: user id (16-byte field), record id.
constexpr char kRecordUserId[] = "quodax encoded";
constexpr uint16_t kRecordId = 22204;

// Record payload: 34 fixed bytes, then 6 bytes (type, size, version) per item.
constexpr uint32_t kRecordFixedSize = 34;
constexpr uint32_t kRecordItemSize = 6;

// Special extended records: nothing in the system sets another value than -1.
constexpr int64_t kNoSpecialEvlrs = -1;

}  // namespace quodax_format

#endif  // MORROWTIDE_COMPRESSOR_QUODAX_FORMAT_H
