// One item of a point layout: a fixed piece of a point record (the legacy point,
// the GPS time, the colour, the wave packet, the extra bytes, the LAS 1.4 point)
// with its type, its size and the version of its compressed coder.
//
// The operations that build, check and recognise item lists for point formats 0
// to 10 (setupItems, validateItem, validateItems, matchPointType) are members of
// the descriptor Quodax (compressor/quodax.h), because they report through its
// error text.
//
// Item lists of each point format, in item order, as the format table
// (quodax_format::kPointFormats) gives them:
//   0 POINT10                              6 POINT14
//   1 POINT10 GPSTIME11                    7 POINT14 RGB14
//   2 POINT10 RGB12                        8 POINT14 RGBNIR14
//   3 POINT10 GPSTIME11 RGB12              9 POINT14 WAVEPACKET14
//   4 POINT10 GPSTIME11 WAVEPACKET13      10 POINT14 RGBNIR14 WAVEPACKET14
//   5 POINT10 GPSTIME11 RGB12 WAVEPACKET13
// plus a trailing BYTE (0-5) or BYTE14 (6-10) item when the point is larger.
#ifndef MORROWTIDE_COMPRESSOR_LAS_ITEM_H
#define MORROWTIDE_COMPRESSOR_LAS_ITEM_H

#include <cstdint>

#include "morrowtide/compressor/quodax_format.h"

// A plain record, copied by value. Lists of items are arrays made with new[] and
// owned by whoever holds the list.
struct LASitem {
  enum Type : uint32_t {
    BYTE = quodax_format::kItemByte,
    POINT10 = quodax_format::kItemPoint10,
    GPSTIME11 = quodax_format::kItemGpsTime11,
    RGB12 = quodax_format::kItemRgb12,
    WAVEPACKET13 = quodax_format::kItemWavePacket13,
    POINT14 = quodax_format::kItemPoint14,
    RGB14 = quodax_format::kItemRgb14,
    RGBNIR14 = quodax_format::kItemRgbNir14,
    WAVEPACKET14 = quodax_format::kItemWavePacket14,
    BYTE14 = quodax_format::kItemByte14,
  };

  uint32_t type;     // Type; stored as its low 16 bits in the compressor's record
  uint16_t size;     // bytes of the item in the point record
  uint16_t version;  // version of the compressed coder; 0 = not compressed

  // True when this item has `type` and that type's fixed size (BYTE and BYTE14:
  // any size but 0); false for types 1 to 5 and above 14.
  bool matchesType(uint32_t type) const;
  // The type's name ("POINT10", ...); null for types 1 to 5, negative types (the
  // type read as a signed number) and types above 14.
  const char* typeName() const;
};

namespace morrowtide {

// The fixed size in bytes of item type `type`; 0 for the variable-size BYTE and
// BYTE14 and for the unused types (1 to 5, above 14).
uint16_t fixedItemSize(uint32_t type);

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_LAS_ITEM_H
