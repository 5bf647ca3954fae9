// The raw item writers, one per raw form (RawItemForm, las_write_item.h): each
// hands the bytes its form makes to a stream in one writeBytes call, an item at
// a time. The point-record writer gathers whole records through the forms
// themselves. All but one copy the bytes of the in-memory point as they lie;
// the POINT14 writer builds the 30-byte LAS 1.4 point record (formats 6-10):
//    0 I32 X            4 I32 Y            8 I32 Z           12 U16 intensity
//   14 bits 0-3 return number, bits 4-7 number of returns
//   15 bits 0-3 classification flags (synthetic, key-point, withheld, overlap),
//      bits 4-5 scanner channel, bit 6 scan direction, bit 7 edge of flight line
//   16 U8 classification   17 U8 user data   18 I16 scan angle (0.006 degrees)
//   20 U16 point source ID 22 F64 GPS time
// from the in-memory point: the legacy 20 bytes at 0, the LAS 1.4 fields at
// 20-25 and the GPS time at 32. Raw writers leave the context word unchanged.
#ifndef MORROWTIDE_COMPRESSOR_ITEM_WRITERS_RAW_H
#define MORROWTIDE_COMPRESSOR_ITEM_WRITERS_RAW_H

#include <cstdint>

#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/quodax_format.h"

// The 20-byte legacy point.
class LASwriteItemRaw_POINT10_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_POINT10_LE() : LASwriteItemRaw(morrowtide::RawItemForm::point10()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

// The 8-byte GPS time.
class LASwriteItemRaw_GPSTIME11_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_GPSTIME11_LE() : LASwriteItemRaw(morrowtide::RawItemForm::gpsTime11()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

// Red, green, blue (6 bytes), for RGB12 and RGB14 items.
class LASwriteItemRaw_RGB12_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_RGB12_LE() : LASwriteItemRaw(morrowtide::RawItemForm::rgb12()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

// Extra bytes, for BYTE and BYTE14 items: `number` bytes per record.
class LASwriteItemRaw_BYTE final : public LASwriteItemRaw {
 public:
  explicit LASwriteItemRaw_BYTE(uint32_t number)
      : LASwriteItemRaw(morrowtide::RawItemForm::bytes(number)) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

// The 30-byte LAS 1.4 point record (point_fields::buildPoint14Record), converted
// from legacy fields when the point's extended_point_type (bits 0-1 of byte 22)
// is 0.
class LASwriteItemRaw_POINT14_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_POINT14_LE() : LASwriteItemRaw(morrowtide::RawItemForm::point14Record()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override {
    if (stream == nullptr) return false;
    raw_form.put(item, buffer);
    return stream->writeBytes(buffer, quodax_format::kSizePoint14);
  }

 private:
  uint8_t buffer[quodax_format::kSizePoint14] = {};
};

// Red, green, blue and near infrared (8 bytes).
class LASwriteItemRaw_RGBNIR14_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_RGBNIR14_LE() : LASwriteItemRaw(morrowtide::RawItemForm::rgbNir14()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

// The 29-byte wave packet, for WAVEPACKET13 and WAVEPACKET14 items.
class LASwriteItemRaw_WAVEPACKET13_LE final : public LASwriteItemRaw {
 public:
  LASwriteItemRaw_WAVEPACKET13_LE() : LASwriteItemRaw(morrowtide::RawItemForm::wavePacket13()) {}
  bool writeItem(const uint8_t* item, uint32_t&) override { return writeCopied(item); }
};

#endif  // MORROWTIDE_COMPRESSOR_ITEM_WRITERS_RAW_H
