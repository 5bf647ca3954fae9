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

// The item types of a layout of `format` in item order, extra bytes not counted.
// Legacy items (formats 0 to 5, and compatibility mode) are POINT10 with the GPS
// time in its own GPSTIME11 item, RGB12 and WAVEPACKET13; LAS 1.4 items are
// POINT14, which holds the GPS time itself, RGB14 or RGBNIR14 and WAVEPACKET14.
struct Layout {
  uint32_t types[4];
  uint16_t count;
};

Layout layoutOf(const qf::PointFormat& format, bool legacy_items) {
  Layout layout{};
  uint16_t& n = layout.count;
  layout.types[n++] = legacy_items ? LASitem::POINT10 : LASitem::POINT14;
  if (legacy_items && format.gps_time) layout.types[n++] = LASitem::GPSTIME11;
  const uint32_t las14_colour = format.nir ? LASitem::RGBNIR14 : LASitem::RGB14;
  if (format.rgb) layout.types[n++] = legacy_items ? LASitem::RGB12 : las14_colour;
  if (format.wave_packet) {
    layout.types[n++] = legacy_items ? LASitem::WAVEPACKET13 : LASitem::WAVEPACKET14;
  }
  return layout;
}

// True when `items` is the standard list of `format`, optionally followed by one
// extra-bytes item. Versions are not looked at. A LAS 1.4 list may carry the
// legacy WAVEPACKET13 and a BYTE item in place of WAVEPACKET14 and BYTE14.
bool matchesFormat(const qf::PointFormat& format, uint16_t num_items, const LASitem* items) {
  const Layout layout = layoutOf(format, !format.extended);
  if (num_items != layout.count && num_items != layout.count + 1) return false;
  for (uint16_t i = 0; i < layout.count; i++) {
    const uint32_t type = layout.types[i];
    if (items[i].matchesType(type)) continue;
    if (type == LASitem::WAVEPACKET14 && items[i].matchesType(LASitem::WAVEPACKET13)) continue;
    return false;
  }
  if (num_items == layout.count) return true;
  const LASitem& extra = items[layout.count];
  return extra.matchesType(LASitem::BYTE) ||
         (format.extended && extra.matchesType(LASitem::BYTE14));
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
  const qf::PointFormat& format = qf::kPointFormats[point_type];

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
  const bool compatibility = format.extended && (options & qf::kOptionCompatibility) != 0;
  if (compatibility) extra += format.nir ? qf::kCompatibilityExtraNir : qf::kCompatibilityExtra;
  const bool legacy_items = !format.extended || compatibility;

  const Layout layout = layoutOf(format, legacy_items);
  const uint16_t count = static_cast<uint16_t>(layout.count + (extra != 0));
  LASitem* list = new LASitem[count];
  for (uint16_t i = 0; i < layout.count; i++) {
    list[i] = {layout.types[i], fixedSize(layout.types[i]), 0};
  }
  if (extra != 0) {
    list[layout.count] = {legacy_items ? LASitem::BYTE : LASitem::BYTE14,
                          static_cast<uint16_t>(extra), 0};
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

  for (uint8_t format = 0; format <= qf::kMaxPointType; format++) {
    if (matchesFormat(qf::kPointFormats[format], num, list)) {
      if (point_type != nullptr) *point_type = format;
      return true;
    }
  }
  return fail("LASitem array does not match LAS specification 1.4");
}

bool Quodax::matchPointType(uint8_t& point_type, uint16_t& record_length) {
  return matchPointType(num_items, items, &point_type, &record_length);
}
