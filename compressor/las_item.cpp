// The item's own facts: the names and fixed sizes of the item types, and the
// test of an item against a type. The descriptor's operations on item lists
// (setupItems, validateItem(s), matchPointType) are in quodax.cpp.
#include "morrowtide/compressor/las_item.h"

namespace {

namespace qf = quodax_format;

// Indexed by item type; null for the unused types 1 to 5.
const char* const kItemTypeNames[qf::kItemTypeCount] = {
    "BYTE",  nullptr,        nullptr,   nullptr, nullptr,    nullptr,        "POINT10", "GPSTIME11",
    "RGB12", "WAVEPACKET13", "POINT14", "RGB14", "RGBNIR14", "WAVEPACKET14", "BYTE14"};

}  // namespace

namespace morrowtide {

uint16_t fixedItemSize(uint32_t type) {
  switch (type) {
    case LASitem::POINT10:
      return qf::kSizePoint10;
    case LASitem::GPSTIME11:
      return qf::kSizeGpsTime11;
    case LASitem::RGB12:
      return qf::kSizeRgb12;
    case LASitem::WAVEPACKET13:
      return qf::kSizeWavePacket13;
    case LASitem::POINT14:
      return qf::kSizePoint14;
    case LASitem::RGB14:
      return qf::kSizeRgb14;
    case LASitem::RGBNIR14:
      return qf::kSizeRgbNir14;
    case LASitem::WAVEPACKET14:
      return qf::kSizeWavePacket14;
    default:
      return 0;
  }
}

}  // namespace morrowtide

bool LASitem::matchesType(uint32_t t) const {
  if (t != type) return false;
  if (t == BYTE || t == BYTE14) return size != 0;
  const uint16_t fixed = morrowtide::fixedItemSize(t);
  return fixed != 0 && size == fixed;
}

const char* LASitem::typeName() const {
  const int32_t t = static_cast<int32_t>(type);
  if (t < 0 || t >= static_cast<int32_t>(qf::kItemTypeCount)) return nullptr;
  return kItemTypeNames[t];
}
