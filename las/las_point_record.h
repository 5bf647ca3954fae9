// One point of any LAS point data format 0 to 10 in memory. Its first 77 bytes
// are a fixed little-endian layout whose pieces are the point items exactly as a
// file stores them, so the item writers take their bytes straight from the point
// through `item_pointers` (the places are named in compressor/point_fields.h):
//    0 I32 X   4 I32 Y   8 I32 Z   12 U16 intensity
//   14 return_number (bits 0-2), number_of_returns (3-5), scan_direction_flag (6),
//      edge_of_flight_line (7)
//   15 classification (bits 0-4), synthetic (5), keypoint (6), withheld (7)
//   16 I8 scan_angle_rank   17 U8 user_data   18 U16 point_source_ID
//   20 I16 extended_scan_angle
//   22 extended_point_type (bits 0-1), scanner_channel (2-3),
//      extended_classification_flags (4-7: synthetic, keypoint, withheld, overlap)
//   23 U8 extended_classification
//   24 extended_return_number (bits 0-3), extended_number_of_returns (4-7)
//   25 U8 spare_byte   26-31 unused   32 F64 gps_time   40 U16[4] rgb (R, G, B, NIR)
//   48 the 29-byte wave packet
// Item views: POINT10 0-19, POINT14 0-39, GPSTIME11 32-39, RGB12/RGB14 40-45,
// RGBNIR14 40-47, WAVEPACKET13/14 48-76, BYTE/BYTE14 the extra_bytes buffer.
// Fields are read and written through the little-endian helpers, never through casts.
#ifndef MORROWTIDE_LAS_LAS_POINT_RECORD_H
#define MORROWTIDE_LAS_LAS_POINT_RECORD_H

#include <cstddef>
#include <cstdint>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_header.h"

// The 29-byte wave packet of a point (item WAVEPACKET13/WAVEPACKET14), packed:
//    0 U8 index   1 U64 offset   9 U32 size   13 F32 location
//   17 F32 x_t   21 F32 y_t   25 F32 z_t
class LASwavepacket final {
 public:
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }

  uint8_t getIndex() const { return bytes[0]; }  // descriptor index; 0 = no packet
  uint64_t getOffset() const { return morrowtide::getU64LE(bytes + 1); }
  uint32_t getSize() const { return morrowtide::getU32LE(bytes + 9); }
  float getLocation() const { return morrowtide::getF32LE(bytes + 13); }
  float getXt() const { return morrowtide::getF32LE(bytes + 17); }
  float getYt() const { return morrowtide::getF32LE(bytes + 21); }
  float getZt() const { return morrowtide::getF32LE(bytes + 25); }

  void setIndex(uint8_t v) { bytes[0] = v; }
  void setOffset(uint64_t v) { morrowtide::putU64LE(bytes + 1, v); }
  void setSize(uint32_t v) { morrowtide::putU32LE(bytes + 9, v); }
  void setLocation(float v) { morrowtide::putF32LE(bytes + 13, v); }
  void setXt(float v) { morrowtide::putF32LE(bytes + 17, v); }
  void setYt(float v) { morrowtide::putF32LE(bytes + 21, v); }
  void setZt(float v) { morrowtide::putF32LE(bytes + 25, v); }

  uint8_t bytes[quodax_format::kSizeWavePacket13];
};
static_assert(sizeof(LASwavepacket) == 29 && alignof(LASwavepacket) == 1,
              "a wave packet is 29 packed bytes");

// Construction gives the reset values (return 1 of 1, everything else 0, all 77
// prefix bytes defined) and no layout. Owns its extra bytes, item list and item
// pointers: copy construction is deleted; assignment copies values only.
//
// What a LAS file's point record takes from the point, raw or compressed alike:
// - Formats 0 to 5 (item POINT10): bytes 0-19 as they are, so setX .. setPointSourceID
//   with setReturnNumber, setNumberOfReturns, setClassification (0-31), the synthetic,
//   key-point and withheld setters and setScanAngleRank. The LAS 1.4 fields
//   (bytes 20-25: setExtended..., setScannerChannel) are not written.
// - Formats 6 to 10 (item POINT14): the 30-byte LAS 1.4 record, built from
//     X, Y, Z, intensity, user data, point source ID and GPS time: their setters;
//     return number, number of returns: setExtendedReturnNumber, setExtendedNumberOfReturns;
//     classification: setClassification when it is not 0, else setExtendedClassification
//       (a class above 31 needs setClassification(0) and setExtendedClassification);
//     synthetic, key-point, withheld: setSyntheticFlag, setKeypointFlag, setWithheldFlag;
//     overlap: bit 3 of setExtendedClassificationFlags;
//     scanner channel: setScannerChannel;
//     scan direction, edge of flight line: setScanDirectionFlag, setEdgeOfFlightLine;
//     scan angle: setExtendedScanAngle (units of 0.006 degrees).
//   setReturnNumber, setNumberOfReturns, setScanAngleRank, bits 0-2 of
//   setExtendedClassificationFlags and setSpareByte do not reach this record. The
//   layout sets the extended point type to 1; a point set back to 0 is written from
//   its legacy fields (returns, scan angle rank) with channel and overlap 0.
// Colour, near infrared, wave packet and extra bytes go into the formats that have them.
class LASpointRecord final {
 public:
  LASpointRecord();
  ~LASpointRecord();
  LASpointRecord(const LASpointRecord&) = delete;

  // Lays the point out for point format `point_type` of `point_size` bytes.
  // False, printing "ERROR: unknown point type %d with point size %d\n", for a
  // format above 10. A size below the format's base size warns and uses it.
  // `scale_offset` and `extra_attributes` are not owned (either may be null).
  bool initFromFormat(const LASscaleOffset* scale_offset, uint8_t point_type, uint16_t point_size,
                      const LASextraAttributes* extra_attributes);
  // Lays the point out for a copy of `items`. False, without a message, for an
  // item of type 1 to 5 or above 14. After false, lay the point out again.
  bool initFromItems(const LASscaleOffset* scale_offset, uint16_t num_items, const LASitem* items,
                     const LASextraAttributes* extra_attributes);
  // Copies the values of `other` into this point, deriving the LAS 1.4 fields
  // from legacy ones when this point is a LAS 1.4 point and `other` is not. The
  // layout of this point (items, pointers, flags, sizes) stays as it is.
  LASpointRecord& operator=(const LASpointRecord& other);

  int32_t getX() const { return morrowtide::getI32LE(fixed_bytes + quodax_format::point10::kX); }
  int32_t getY() const { return morrowtide::getI32LE(fixed_bytes + quodax_format::point10::kY); }
  int32_t getZ() const { return morrowtide::getI32LE(fixed_bytes + quodax_format::point10::kZ); }
  uint16_t getIntensity() const {
    return morrowtide::getU16LE(fixed_bytes + quodax_format::point10::kIntensity);
  }
  uint8_t getReturnNumber() const { return returnByte() & 0x07; }
  uint8_t getNumberOfReturns() const { return (returnByte() >> 3) & 0x07; }
  uint8_t getScanDirectionFlag() const { return (returnByte() >> 6) & 0x01; }
  uint8_t getEdgeOfFlightLine() const { return returnByte() >> 7; }
  uint8_t getClassification() const { return classByte() & 0x1F; }
  uint8_t getSyntheticFlag() const { return (classByte() >> 5) & 0x01; }
  uint8_t getKeypointFlag() const { return (classByte() >> 6) & 0x01; }
  uint8_t getWithheldFlag() const { return classByte() >> 7; }
  int8_t getScanAngleRank() const {
    return static_cast<int8_t>(fixed_bytes[quodax_format::point10::kScanAngleRank]);
  }
  uint8_t getUserData() const { return fixed_bytes[quodax_format::point10::kUserData]; }
  uint16_t getPointSourceID() const {
    return morrowtide::getU16LE(fixed_bytes + quodax_format::point10::kPointSource);
  }
  int16_t getExtendedScanAngle() const {
    return morrowtide::getI16LE(fixed_bytes + point_fields::kExtendedScanAngle);
  }
  uint8_t getExtendedPointType() const { return extendedTypeByte() & 0x03; }
  uint8_t getScannerChannel() const { return (extendedTypeByte() >> 2) & 0x03; }
  uint8_t getExtendedClassificationFlags() const { return extendedTypeByte() >> 4; }
  uint8_t getExtendedClassification() const { return fixed_bytes[point_fields::kExtendedClass]; }
  uint8_t getExtendedReturnNumber() const { return extendedReturnsByte() & 0x0F; }
  uint8_t getExtendedNumberOfReturns() const { return extendedReturnsByte() >> 4; }
  uint8_t getSpareByte() const { return fixed_bytes[point_fields::kSpareByte]; }
  double getGpsTime() const { return morrowtide::getF64LE(fixed_bytes + point_fields::kGpsTime); }
  // Colour channel i: 0 red, 1 green, 2 blue, 3 near infrared. Requires: i < 4.
  uint16_t getRgb(uint32_t i) const {
    return morrowtide::getU16LE(fixed_bytes + point_fields::kRgb + 2 * i);
  }

  // The class and returns of the point as a LAS 1.4 record stores them, for
  // either kind of point: see compressor/point_fields.h. Statistics use these.
  uint8_t getEffectiveClassification() const { return point_fields::classification(fixed_bytes); }
  uint8_t getEffectiveReturnNumber() const { return point_fields::returnNumber(fixed_bytes); }
  uint8_t getEffectiveNumberOfReturns() const { return point_fields::numberOfReturns(fixed_bytes); }

  // Setters keep the other bits of a shared byte and store the low bits of `v`.
  void setX(int32_t v) { morrowtide::putI32LE(fixed_bytes + quodax_format::point10::kX, v); }
  void setY(int32_t v) { morrowtide::putI32LE(fixed_bytes + quodax_format::point10::kY, v); }
  void setZ(int32_t v) { morrowtide::putI32LE(fixed_bytes + quodax_format::point10::kZ, v); }
  void setIntensity(uint16_t v) {
    morrowtide::putU16LE(fixed_bytes + quodax_format::point10::kIntensity, v);
  }
  void setReturnNumber(uint8_t v) { setBits(quodax_format::point10::kReturnByte, 0, 0x07, v); }
  void setNumberOfReturns(uint8_t v) { setBits(quodax_format::point10::kReturnByte, 3, 0x07, v); }
  void setScanDirectionFlag(uint8_t v) { setBits(quodax_format::point10::kReturnByte, 6, 0x01, v); }
  void setEdgeOfFlightLine(uint8_t v) { setBits(quodax_format::point10::kReturnByte, 7, 0x01, v); }
  void setClassification(uint8_t v) {
    setBits(quodax_format::point10::kClassification, 0, 0x1F, v);
  }
  void setSyntheticFlag(uint8_t v) { setBits(quodax_format::point10::kClassification, 5, 0x01, v); }
  void setKeypointFlag(uint8_t v) { setBits(quodax_format::point10::kClassification, 6, 0x01, v); }
  void setWithheldFlag(uint8_t v) { setBits(quodax_format::point10::kClassification, 7, 0x01, v); }
  void setScanAngleRank(int8_t v) {
    fixed_bytes[quodax_format::point10::kScanAngleRank] = static_cast<uint8_t>(v);
  }
  void setUserData(uint8_t v) { fixed_bytes[quodax_format::point10::kUserData] = v; }
  void setPointSourceID(uint16_t v) {
    morrowtide::putU16LE(fixed_bytes + quodax_format::point10::kPointSource, v);
  }
  void setExtendedScanAngle(int16_t v) {
    morrowtide::putI16LE(fixed_bytes + point_fields::kExtendedScanAngle, v);
  }
  void setExtendedPointType(uint8_t v) { setBits(point_fields::kExtendedTypeByte, 0, 0x03, v); }
  void setScannerChannel(uint8_t v) { setBits(point_fields::kExtendedTypeByte, 2, 0x03, v); }
  void setExtendedClassificationFlags(uint8_t v) {
    setBits(point_fields::kExtendedTypeByte, 4, 0x0F, v);
  }
  void setExtendedClassification(uint8_t v) { fixed_bytes[point_fields::kExtendedClass] = v; }
  void setExtendedReturnNumber(uint8_t v) { setBits(point_fields::kExtendedReturns, 0, 0x0F, v); }
  void setExtendedNumberOfReturns(uint8_t v) {
    setBits(point_fields::kExtendedReturns, 4, 0x0F, v);
  }
  void setSpareByte(uint8_t v) { fixed_bytes[point_fields::kSpareByte] = v; }
  void setGpsTime(double v) { morrowtide::putF64LE(fixed_bytes + point_fields::kGpsTime, v); }
  void setRgb(uint32_t i, uint16_t v) {
    morrowtide::putU16LE(fixed_bytes + point_fields::kRgb + 2 * i, v);
  }

  // Bytes 0-47 of the fixed prefix; the wave packet follows at byte 48.
  uint8_t fixed_bytes[point_fields::kWavePacket];
  LASwavepacket wavepacket;

  uint8_t* extra_bytes;                        // extra-bytes item buffer; owned (new[])
  const LASscaleOffset* scale_offset;          // not owned
  const LASextraAttributes* extra_attributes;  // not owned; may be null
  uint8_t** item_pointers;                     // num_items pointers into the point; owned (new[])
  // identityOfLayout of the items, for a writer's one-comparison check: set by
  // the layout operations, kNoLayoutIdentity before a layout and after a failed
  // one. Changing it, or the layout fields, by hand voids the check. Beside
  // item_pointers, which the writer reads next.
  static constexpr uint64_t kNoLayoutIdentity = 0;
  uint64_t layout_identity = kNoLayoutIdentity;
  uint8_t has_gps_time;
  uint8_t has_rgb;
  uint8_t has_nir;
  uint8_t has_wavepacket;
  int32_t extra_bytes_size;
  uint32_t record_size;  // sum of the item sizes
  uint16_t num_items;
  LASitem* items;  // the layout; owned (new[])

 private:
  // The reset values of the fixed prefix (return 1 of 1, extended return 1 of 1).
  void resetValues();
  // Releases the layout and clears the layout fields.
  void releaseLayout();
  // What both layout operations do with the items already in `items`: makes the
  // item pointers, sets the flags and sizes, and keeps `scale_offset` and
  // `extra_attributes`. False for an item type without a place in the point, and
  // with its message for a second extra-bytes item.
  bool layOut(const LASscaleOffset* scale_offset, const LASextraAttributes* extra_attributes);

  // The bytes of bit fields, read whole.
  uint8_t returnByte() const { return fixed_bytes[quodax_format::point10::kReturnByte]; }
  uint8_t classByte() const { return fixed_bytes[quodax_format::point10::kClassification]; }
  uint8_t extendedTypeByte() const { return fixed_bytes[point_fields::kExtendedTypeByte]; }
  uint8_t extendedReturnsByte() const { return fixed_bytes[point_fields::kExtendedReturns]; }
  void setBits(size_t at, uint32_t shift, uint32_t mask, uint8_t v) {
    const uint32_t keep = fixed_bytes[at] & ~(mask << shift);
    fixed_bytes[at] = static_cast<uint8_t>(keep | ((v & mask) << shift));
  }
};

namespace morrowtide {

// Whether item `have` of a point laid out by initFromFormat or initFromItems
// lets a writer of item `need` read all it reads at that item's pointer: both
// view the point at byte 0 (POINT10 or POINT14), both the GPS time, both the
// colour with `have` no smaller, both the wave packet, or both the extra bytes
// with `have` no smaller.
bool itemServes(const LASitem& have, const LASitem& need);
// An item list in one word: two lists with the same identity hold the same
// number of items and, item by item, the same type and size. Lists of one to
// five items of their types' fixed sizes, one of them possibly an extra-bytes
// item of any size but 0 (every point format's list), have an identity; every
// other list gets LASpointRecord::kNoLayoutIdentity.
uint64_t identityOfLayout(uint16_t num_items, const LASitem* items);

}  // namespace morrowtide

static_assert(offsetof(LASpointRecord, fixed_bytes) == 0, "the point item starts the record");
static_assert(offsetof(LASpointRecord, wavepacket) == point_fields::kWavePacket,
              "the wave packet is at byte 48");

#endif  // MORROWTIDE_LAS_LAS_POINT_RECORD_H
