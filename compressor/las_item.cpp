// Item layouts: the item names and fixed sizes, and the descriptor's operations
// that build the item list of a point format, check items and lists, and
// recognise the list of a standard point format.
#include "morrowtide/compressor/las_item.h"

#include <cstdio>

#include "morrowtide/compressor/quodax.h"

namespace {

namespace qf = quodax_format;

// Indexed by item type; null for the unused types 1 to 5.
const char* const kItemTypeNames[qf::kItemTypeCount] = {
    "BYTE",  nullptr,        nullptr,   nullptr, nullptr,    nullptr,        "POINT10", "GPSTIME11",
    "RGB12", "WAVEPACKET13", "POINT14", "RGB14", "RGBNIR14", "WAVEPACKET14", "BYTE14"};

// Fixed size of a type, 0 for the variable-size BYTE and BYTE14 and for unused types.
uint16_t fixedSize(uint32_t type) {
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

// What a point format holds besides its point item, and its base size.
struct PointFormat {
  bool gps_time;  // a GPSTIME11 item (legacy layouts only; POINT14 holds its own)
  bool rgb;
  bool nir;
  bool wavepacket;
  bool las14;  // starts with POINT14
  uint16_t base_size;
};

const PointFormat kPointFormats[qf::kMaxPointType + 1] = {
    {false, false, false, false, false, 20},  // 0
    {true, false, false, false, false, 28},   // 1
    {false, true, false, false, false, 26},   // 2
    {true, true, false, false, false, 34},    // 3
    {true, false, false, true, false, 57},    // 4
    {true, true, false, true, false, 63},     // 5
    {false, false, false, false, true, 30},   // 6
    {false, true, false, false, true, 36},    // 7
    {false, true, true, false, true, 38},     // 8
    {false, false, false, true, true, 59},    // 9
    {false, true, true, true, true, 67},      // 10
};

// The item lists that matchPointType accepts, without the optional trailing
// extra-bytes item. A zero type ends a pattern early; WAVEPACKET13 in a POINT14
// pattern also accepts WAVEPACKET14.
struct Pattern {
  uint32_t types[4];
  uint32_t count;
  uint8_t point_type;
};

const Pattern kPatterns[] = {
    {{LASitem::POINT10}, 1, 0},
    {{LASitem::POINT10, LASitem::GPSTIME11}, 2, 1},
    {{LASitem::POINT10, LASitem::RGB12}, 2, 2},
    {{LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12}, 3, 3},
    {{LASitem::POINT10, LASitem::GPSTIME11, LASitem::WAVEPACKET13}, 3, 4},
    {{LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12, LASitem::WAVEPACKET13}, 4, 5},
    {{LASitem::POINT14}, 1, 6},
    {{LASitem::POINT14, LASitem::RGB14}, 2, 7},
    {{LASitem::POINT14, LASitem::RGBNIR14}, 2, 8},
    {{LASitem::POINT14, LASitem::WAVEPACKET13}, 2, 9},
    {{LASitem::POINT14, LASitem::RGBNIR14, LASitem::WAVEPACKET13}, 3, 10},
};

bool matchesPattern(const Pattern& pattern, uint16_t num_items, const LASitem* items) {
  const bool las14 = pattern.types[0] == LASitem::POINT14;
  if (num_items != pattern.count && num_items != pattern.count + 1) return false;
  for (uint32_t i = 0; i < pattern.count; i++) {
    const uint32_t type = pattern.types[i];
    if (items[i].matchesType(type)) continue;
    if (las14 && type == LASitem::WAVEPACKET13 && items[i].matchesType(LASitem::WAVEPACKET14))
      continue;
    return false;
  }
  if (num_items == pattern.count) return true;
  const LASitem& extra = items[pattern.count];
  return extra.matchesType(LASitem::BYTE) || (las14 && extra.matchesType(LASitem::BYTE14));
}

}  // namespace

bool LASitem::matchesType(uint32_t t) const {
  if (t != type) return false;
  if (t == BYTE || t == BYTE14) return size != 0;
  const uint16_t fixed = fixedSize(t);
  return fixed != 0 && size == fixed;
}

const char* LASitem::typeName() const {
  const int32_t t = static_cast<int32_t>(type);
  if (t < 0 || t >= static_cast<int32_t>(qf::kItemTypeCount)) return nullptr;
  return kItemTypeNames[t];
}

bool Quodax::setupItems(uint16_t& num_items, LASitem*& items, uint8_t point_type,
                        uint16_t point_size, uint16_t compressor) {
  if (point_type > qf::kMaxPointType) return fail("point type %d unknown", point_type);
  PointFormat format = kPointFormats[point_type];

  int32_t extra = static_cast<int32_t>(point_size) - format.base_size;
  if (extra < 0) {
    fprintf(stderr,
            "WARNING: point size %d too small by %d bytes for point type %d. assuming "
            "point_size of %d\n",
            point_size, -extra, point_type, format.base_size);
    extra = 0;
  }
  // Compatibility mode writes a LAS 1.4 layout with legacy items only: the LAS 1.4
  // fields that POINT10 and RGB12 cannot hold travel in the extra bytes.
  if (format.las14 && (options & qf::kOptionCompatibility)) {
    extra += format.nir ? qf::kCompatibilityExtraNir : qf::kCompatibilityExtra;
    format.las14 = false;
    format.gps_time = true;
    format.nir = false;
  }

  const uint16_t count =
      static_cast<uint16_t>(1 + format.gps_time + format.rgb + format.wavepacket + (extra != 0));
  LASitem* list = new LASitem[count];
  uint16_t i = 0;
  if (format.las14) {
    list[i++] = {LASitem::POINT14, qf::kSizePoint14, 0};
    if (format.rgb) {
      list[i++] = format.nir ? LASitem{LASitem::RGBNIR14, qf::kSizeRgbNir14, 0}
                             : LASitem{LASitem::RGB14, qf::kSizeRgb14, 0};
    }
    if (format.wavepacket) list[i++] = {LASitem::WAVEPACKET14, qf::kSizeWavePacket14, 0};
    if (extra != 0) list[i++] = {LASitem::BYTE14, static_cast<uint16_t>(extra), 0};
  } else {
    list[i++] = {LASitem::POINT10, qf::kSizePoint10, 0};
    if (format.gps_time) list[i++] = {LASitem::GPSTIME11, qf::kSizeGpsTime11, 0};
    if (format.rgb) list[i++] = {LASitem::RGB12, qf::kSizeRgb12, 0};
    if (format.wavepacket) list[i++] = {LASitem::WAVEPACKET13, qf::kSizeWavePacket13, 0};
    if (extra != 0) list[i++] = {LASitem::BYTE, static_cast<uint16_t>(extra), 0};
  }

  // A compressing caller gets the versions of a compressed version-2 request on
  // the new list itself, whichever references it passed and whatever compressor
  // the descriptor held before.
  if (compressor != qf::kCompressorNone) assignVersions(count, list, 2);

  num_items = count;
  items = list;
  return true;
}

bool Quodax::validateItem(const LASitem* item) {
  if (item == nullptr) return fail("items pointer cannot be NULL");
  const uint32_t type = item->type;
  const uint16_t size = item->size;
  const uint16_t version = item->version;
  const char* name = item->typeName();
  if (name == nullptr)
    return fail("item unknown (%d,%d,%d)", static_cast<int>(type), size, version);

  if (type == LASitem::BYTE || type == LASitem::BYTE14) {
    if (size == 0) return fail("%s has size < 1", name);
  } else if (size != fixedSize(type)) {
    return fail("%s has size != %d", name, fixedSize(type));
  }

  switch (type) {
    case LASitem::BYTE:
    case LASitem::POINT10:
    case LASitem::GPSTIME11:
    case LASitem::RGB12:
      if (version > 2) return fail("%s has version > 2", name);
      break;
    case LASitem::WAVEPACKET13:
      if (version > 1) return fail("%s has version > 1", name);
      break;
    case LASitem::WAVEPACKET14:
      if (version != 0 && version != 3 && version != 4)
        return fail("%s has version != 0 and != 3 and != 4", name);
      break;
    default:  // POINT14, RGB14, RGBNIR14, BYTE14
      if (version != 0 && version != 2 && version != 3 && version != 4)
        return fail("%s has version != 0 and != 2 and != 3 and != 4", name);
      break;
  }
  return true;
}

bool Quodax::validateItems(uint16_t num, const LASitem* list, uint16_t point_size) {
  if (num == 0) return fail("number of items cannot be zero");
  if (list == nullptr) return fail("items pointer cannot be NULL");
  uint16_t sum = 0;
  for (uint16_t i = 0; i < num; i++) {
    if (!validateItem(&list[i])) return false;
    sum = static_cast<uint16_t>(sum + list[i].size);
  }
  if (point_size != 0 && point_size != sum)
    return fail("point has size of %d but items only add up to %d bytes", point_size, sum);
  return true;
}

bool Quodax::matchPointType(uint16_t num, const LASitem* list, uint8_t* point_type,
                            uint16_t* record_length) {
  if (list == nullptr) return fail("LASitem array is zero");

  uint16_t sum = 0;
  for (uint16_t i = 0; i < num; i++) sum = static_cast<uint16_t>(sum + list[i].size);
  if (point_type != nullptr) *point_type = qf::kNoPointType;
  if (record_length != nullptr) *record_length = sum;

  if (num == 0) return fail("less than one LASitem entries");
  if (num > 5) return fail("more than five LASitem entries");
  if (!list[0].matchesType(LASitem::POINT10) && !list[0].matchesType(LASitem::POINT14))
    return fail("first LASitem is neither POINT10 nor POINT14");

  for (const Pattern& pattern : kPatterns) {
    if (matchesPattern(pattern, num, list)) {
      if (point_type != nullptr) *point_type = pattern.point_type;
      return true;
    }
  }
  return fail("LASitem array does not match LAS specification 1.4");
}

bool Quodax::matchPointType(uint8_t& point_type, uint16_t& record_length) {
  return matchPointType(num_items, items, &point_type, &record_length);
}
