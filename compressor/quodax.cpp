// The compressor descriptor: setup for a point format or an item list, coder
// versions, chunk size, compatibility mode, the record payload (pack and unpack),
// and the item lists of point formats (build, check, recognise). Every failure is
// a false result with the error text stored.
#include "morrowtide/compressor/quodax.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "morrowtide/compressor/byte_order.h"

using morrowtide::getI64LE;
using morrowtide::getU16LE;
using morrowtide::getU32LE;
using morrowtide::putI64LE;
using morrowtide::putU16LE;
using morrowtide::putU32LE;

namespace {

namespace qf = quodax_format;
using morrowtide::fixedItemSize;

// The item types of a point format's list in item order, extra bytes not
// counted. Legacy items (formats 0 to 5, and compatibility mode) are POINT10
// with the GPS time in its own GPSTIME11 item, RGB12 and WAVEPACKET13; LAS 1.4
// items are POINT14, which holds the GPS time itself, RGB14 or RGBNIR14 and
// WAVEPACKET14.
struct FormatItemTypes {
  uint32_t types[4];
  uint16_t count;
};

FormatItemTypes itemTypesOf(const qf::PointFormat& format, bool legacy_items) {
  FormatItemTypes list{};
  uint16_t& n = list.count;
  list.types[n++] = legacy_items ? LASitem::POINT10 : LASitem::POINT14;
  if (legacy_items && format.gps_time) list.types[n++] = LASitem::GPSTIME11;
  const uint32_t las14_colour = format.nir ? LASitem::RGBNIR14 : LASitem::RGB14;
  if (format.rgb) list.types[n++] = legacy_items ? LASitem::RGB12 : las14_colour;
  if (format.wave_packet) {
    list.types[n++] = legacy_items ? LASitem::WAVEPACKET13 : LASitem::WAVEPACKET14;
  }
  return list;
}

// True when `items` is the standard list of `format`, optionally followed by one
// extra-bytes item. Versions are not looked at. A LAS 1.4 list may carry the
// legacy WAVEPACKET13 and a BYTE item in place of WAVEPACKET14 and BYTE14.
bool matchesFormat(const qf::PointFormat& format, uint16_t num_items, const LASitem* items) {
  const FormatItemTypes expected = itemTypesOf(format, !format.extended);
  if (num_items != expected.count && num_items != expected.count + 1) return false;
  for (uint16_t i = 0; i < expected.count; i++) {
    const uint32_t type = expected.types[i];
    if (items[i].matchesType(type)) continue;
    if (type == LASitem::WAVEPACKET14 && items[i].matchesType(LASitem::WAVEPACKET13)) continue;
    return false;
  }
  if (num_items == expected.count) return true;
  const LASitem& extra = items[expected.count];
  return extra.matchesType(LASitem::BYTE) ||
         (format.extended && extra.matchesType(LASitem::BYTE14));
}

}  // namespace

Quodax::Quodax()
    : compressor(qf::kCompressorChunked),
      coder(qf::kCoderArithmetic),
      version_major(qf::kVersionMajor),
      version_minor(qf::kVersionMinor),
      version_revision(qf::kVersionRevision),
      options(0),
      chunk_size(qf::kDefaultChunkSize),
      number_of_special_evlrs(qf::kNoSpecialEvlrs),
      offset_to_special_evlrs(qf::kNoSpecialEvlrs),
      num_items(0),
      items(nullptr),
      bytes(nullptr),
      error_string(nullptr) {}

Quodax::~Quodax() {
  free(error_string);
  delete[] items;
  delete[] bytes;
}

bool Quodax::setError(const char* text) {
  // The text may be the current error text itself: format before freeing it.
  static const char kFormat[] = "%s (Quodax v%d.%dr%d)";
  const int length = snprintf(nullptr, 0, kFormat, text, qf::kVersionMajor, qf::kVersionMinor,
                              qf::kVersionRevision);
  if (length < 0) return false;
  char* message = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (message == nullptr) return false;
  snprintf(message, static_cast<size_t>(length) + 1, kFormat, text, qf::kVersionMajor,
           qf::kVersionMinor, qf::kVersionRevision);
  free(error_string);
  error_string = message;
  return false;
}

bool Quodax::fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  return setError(text.data());
}

bool Quodax::validateCompressor(uint16_t value) {
  if (value > qf::kCompressorLayeredChunked) return fail("compressor %d not supported", value);
  return true;
}

bool Quodax::validateCoder(uint16_t value) {
  if (value != qf::kCoderArithmetic) return fail("coder %d not supported", value);
  return true;
}

bool Quodax::validate(uint16_t point_size) {
  return validateCompressor(compressor) && validateCoder(coder) &&
         validateItems(num_items, items, point_size);
}

bool Quodax::chooseCompressor(const LASitem& first, uint16_t requested) {
  if (requested == qf::kCompressorNone) {
    compressor = qf::kCompressorNone;
    return true;
  }
  uint16_t chosen = requested;
  if (first.type == LASitem::POINT14) {
    // LAS 1.4 points are only ever stored in layered chunks.
    if (requested != qf::kCompressorLayeredChunked) return false;
  } else if (requested == qf::kCompressorLayeredChunked) {
    chosen = qf::kCompressorChunked;
  }
  compressor = chosen;
  if (chosen != qf::kCompressorSingleStream && chunk_size == qf::kVariableChunkSize)
    chunk_size = qf::kDefaultChunkSize;
  return true;
}

bool Quodax::setup(uint8_t point_type, uint16_t point_size, uint16_t requested) {
  if (!validateCompressor(requested)) return false;
  num_items = 0;
  delete[] items;
  items = nullptr;
  if (!setupItems(num_items, items, point_type, point_size, requested)) return false;
  return chooseCompressor(items[0], requested);
}

bool Quodax::setup(uint16_t num, const LASitem* list, uint16_t requested) {
  if (!validateCompressor(requested)) return false;
  if (!validateItems(num, list, 0)) return false;
  if (!chooseCompressor(list[0], requested)) return false;
  // Copy before releasing: `list` may be this descriptor's own array.
  LASitem* copy = new LASitem[num];
  for (uint16_t i = 0; i < num; i++) copy[i] = list[i];
  delete[] items;
  items = copy;
  num_items = num;
  return true;
}

bool Quodax::assignVersions(uint16_t num, LASitem* list, uint16_t version) {
  for (uint16_t i = 0; i < num; i++) {
    switch (list[i].type) {
      case LASitem::POINT14:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
      case LASitem::WAVEPACKET14:
      case LASitem::BYTE14:
        list[i].version = 3;
        break;
      case LASitem::WAVEPACKET13:
        list[i].version = 1;
        break;
      case LASitem::BYTE:
      case LASitem::POINT10:
      case LASitem::GPSTIME11:
      case LASitem::RGB12:
        list[i].version = version;
        break;
      default:
        return fail("item type not supported");
    }
  }
  return true;
}

bool Quodax::requestVersion(uint16_t version) {
  if (num_items == 0) return fail("call setup() before requesting version");
  if (compressor == qf::kCompressorNone) {
    if (version != 0) return fail("without compression version is always 0");
  } else {
    if (version == 0) return fail("with compression version is at least 1");
    if (version > 2) return fail("version larger than 2 not supported");
  }
  return assignVersions(num_items, items, version);
}

bool Quodax::setChunkSize(uint32_t size) {
  if (num_items == 0) return fail("call setup() before setting chunk size");
  if (compressor == qf::kCompressorSingleStream) return false;
  chunk_size = size;
  return true;
}

bool Quodax::requestCompatibilityMode(uint16_t mode) {
  if (num_items != 0) return fail("request compatibility mode before calling setup()");
  if (mode > 1) return fail("compatibility mode larger than 1 not supported");
  if (mode == 1) {
    options |= qf::kOptionCompatibility;
  } else {
    options &= ~qf::kOptionCompatibility;
  }
  return true;
}

bool Quodax::pack(uint8_t*& out, int32_t& num) {
  if (!validate(0)) return false;
  const uint32_t size = qf::kRecordFixedSize + qf::kRecordItemSize * num_items;
  uint8_t* payload = new uint8_t[size];
  putU16LE(payload + 0, compressor);
  putU16LE(payload + 2, coder);
  payload[4] = version_major;
  payload[5] = version_minor;
  putU16LE(payload + 6, version_revision);
  putU32LE(payload + 8, options);
  putU32LE(payload + 12, chunk_size);
  putI64LE(payload + 16, number_of_special_evlrs);
  putI64LE(payload + 24, offset_to_special_evlrs);
  putU16LE(payload + 32, num_items);
  for (uint16_t i = 0; i < num_items; i++) {
    uint8_t* p = payload + qf::kRecordFixedSize + qf::kRecordItemSize * i;
    putU16LE(p + 0, static_cast<uint16_t>(items[i].type));
    putU16LE(p + 2, items[i].size);
    putU16LE(p + 4, items[i].version);
  }
  delete[] bytes;
  bytes = payload;
  out = bytes;
  num = static_cast<int32_t>(size);
  return true;
}

bool Quodax::unpack(const uint8_t* payload, int32_t num) {
  const int32_t fixed = static_cast<int32_t>(qf::kRecordFixedSize);
  const int32_t per_item = static_cast<int32_t>(qf::kRecordItemSize);
  if (num < fixed) return fail("too few bytes to unpack");
  if ((num - fixed) % per_item != 0) return fail("wrong number bytes to unpack");
  if (num == fixed) return fail("zero items to unpack");
  if (payload == nullptr) return fail("bytes pointer cannot be NULL");
  // The item-count field must agree with the length, or the items would be read
  // from past the payload and written past the list.
  const int32_t count = (num - fixed) / per_item;
  const uint16_t field = getU16LE(payload + 32);
  if (field != count)
    return fail("number of items %d does not match %d bytes to unpack", field, num);

  delete[] items;
  items = new LASitem[count];
  compressor = getU16LE(payload + 0);
  coder = getU16LE(payload + 2);
  version_major = payload[4];
  version_minor = payload[5];
  version_revision = getU16LE(payload + 6);
  options = getU32LE(payload + 8);
  chunk_size = getU32LE(payload + 12);
  number_of_special_evlrs = getI64LE(payload + 16);
  offset_to_special_evlrs = getI64LE(payload + 24);
  num_items = field;
  for (uint16_t i = 0; i < num_items; i++) {
    const uint8_t* p = payload + fixed + per_item * i;
    items[i].type = getU16LE(p + 0);
    items[i].size = getU16LE(p + 2);
    items[i].version = getU16LE(p + 4);
  }
  for (uint16_t i = 0; i < num_items; i++) {
    if (!validateItem(&items[i])) return false;
  }
  return true;
}

// --- Item lists of point formats ---

bool Quodax::setupItems(uint16_t& num_items, LASitem*& items, uint8_t point_type,
                        uint16_t point_size, uint16_t compressor) {
  if (point_type > qf::kMaxPointType) return fail("point type %d unknown", point_type);
  const qf::PointFormat& format = qf::kPointFormats[point_type];

  int32_t extra = static_cast<int32_t>(point_size) - format.base_size;
  if (extra < 0) {
    // The one print of compressor/: a short point size is no failure, so there
    // is no error text to carry it, and compressor/ never includes las/, whose
    // printLine every other warning goes through.
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

  const FormatItemTypes base = itemTypesOf(format, legacy_items);
  const uint16_t count = static_cast<uint16_t>(base.count + (extra != 0));
  LASitem* list = new LASitem[count];
  for (uint16_t i = 0; i < base.count; i++) {
    list[i] = {base.types[i], fixedItemSize(base.types[i]), 0};
  }
  if (extra != 0) {
    list[base.count] = {legacy_items ? LASitem::BYTE : LASitem::BYTE14,
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
  } else if (size != fixedItemSize(type)) {
    return fail("%s has size != %d", name, fixedItemSize(type));
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
