// Laying a point out for a point format or an item list (which items it has and
// where each item's bytes are in the point), and copying the values of one point
// into another of possibly different format.
#include "morrowtide/las/las_point_record.h"

#include <cstdio>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::identityOfLayout;
using morrowtide::roundHalfAwayToI32;

namespace {

namespace p10 = quodax_format::point10;

// The place of a point an item's pointer views, as layOut sets it.
enum class View : uint8_t { kNone, kPoint, kGpsTime, kColour, kWavePacket, kExtraBytes };

View viewOf(uint32_t type) {
  switch (type) {
    case LASitem::POINT10:
    case LASitem::POINT14:
      return View::kPoint;
    case LASitem::GPSTIME11:
      return View::kGpsTime;
    case LASitem::RGB12:
    case LASitem::RGB14:
    case LASitem::RGBNIR14:
      return View::kColour;
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return View::kWavePacket;
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return View::kExtraBytes;
    default:
      return View::kNone;
  }
}

}  // namespace

namespace morrowtide {

bool itemServes(const LASitem& have, const LASitem& need) {
  const View view = viewOf(have.type);
  if (view == View::kNone || view != viewOf(need.type)) return false;
  // Colour and extra bytes are the views whose size varies by item.
  if (view == View::kColour || view == View::kExtraBytes) return have.size >= need.size;
  return true;
}

uint64_t identityOfLayout(uint16_t num_items, const LASitem* items) {
  // Bit 63 marks an identity, bits 0-2 hold the count, bits 3-22 four bits of
  // type per item (the types go up to 14), bits 23-38 the extra bytes' size.
  constexpr uint16_t kMostItems = 5;
  constexpr uint32_t kFirstTypeBit = 3;
  constexpr uint32_t kTypeBits = 4;
  constexpr uint32_t kExtraBytesSizeBit = 23;
  constexpr uint64_t kMarker = 1ull << 63;
  if (num_items == 0 || num_items > kMostItems || items == nullptr) {
    return LASpointRecord::kNoLayoutIdentity;
  }
  uint64_t identity = kMarker | num_items;
  bool has_extra_bytes = false;
  for (uint16_t i = 0; i < num_items; i++) {
    const LASitem& item = items[i];
    // Types 1 to 5 and above 14, and sizes other than the type's, fail here.
    if (!item.matchesType(item.type)) return LASpointRecord::kNoLayoutIdentity;
    if (item.type == LASitem::BYTE || item.type == LASitem::BYTE14) {
      if (has_extra_bytes) return LASpointRecord::kNoLayoutIdentity;
      has_extra_bytes = true;
      identity |= static_cast<uint64_t>(item.size) << kExtraBytesSizeBit;
    }
    identity |= static_cast<uint64_t>(item.type) << (kFirstTypeBit + kTypeBits * i);
  }
  return identity;
}

}  // namespace morrowtide

LASpointRecord::LASpointRecord()
    : extra_bytes(nullptr),
      scale_offset(nullptr),
      extra_attributes(nullptr),
      item_pointers(nullptr),
      has_gps_time(0),
      has_rgb(0),
      has_nir(0),
      has_wavepacket(0),
      extra_bytes_size(0),
      record_size(0),
      num_items(0),
      items(nullptr) {
  resetValues();
}

LASpointRecord::~LASpointRecord() { releaseLayout(); }

void LASpointRecord::resetValues() {
  // The whole prefix, unused bytes 26-31 included, so a point's bytes depend
  // only on its values.
  std::memset(fixed_bytes, 0, sizeof(fixed_bytes));
  std::memset(wavepacket.bytes, 0, sizeof(wavepacket.bytes));
  fixed_bytes[p10::kReturnByte] = 0x09;                // return 1 of 1
  fixed_bytes[point_fields::kExtendedReturns] = 0x11;  // extended return 1 of 1
}

void LASpointRecord::releaseLayout() {
  delete[] extra_bytes;
  extra_bytes = nullptr;
  delete[] item_pointers;
  item_pointers = nullptr;
  delete[] items;
  items = nullptr;
  has_gps_time = has_rgb = has_nir = has_wavepacket = 0;
  extra_bytes_size = 0;
  record_size = 0;
  num_items = 0;
  layout_identity = kNoLayoutIdentity;
}

bool LASpointRecord::initFromFormat(const LASscaleOffset* scale_offset, uint8_t point_type,
                                    uint16_t point_size,
                                    const LASextraAttributes* extra_attributes) {
  resetValues();
  releaseLayout();
  {
    Quodax quodax;
    if (!quodax.setupItems(num_items, items, point_type, point_size, Quodax::CompressorNone)) {
      las_messages::printLine("ERROR: unknown point type %d with point size %d\n", point_type,
                              point_size);
      return false;
    }
  }
  return layOut(scale_offset, extra_attributes);
}

bool LASpointRecord::initFromItems(const LASscaleOffset* scale_offset, uint16_t num_items,
                                   const LASitem* items,
                                   const LASextraAttributes* extra_attributes) {
  resetValues();
  releaseLayout();
  if (num_items != 0 && items == nullptr) {
    las_messages::printLine("ERROR: items pointer is zero\n");
    return false;
  }
  this->items = new LASitem[num_items]();
  this->num_items = num_items;
  for (uint16_t i = 0; i < num_items; i++) this->items[i] = items[i];
  return layOut(scale_offset, extra_attributes);
}

bool LASpointRecord::layOut(const LASscaleOffset* scale_offset,
                            const LASextraAttributes* extra_attributes) {
  item_pointers = new uint8_t*[num_items]();
  for (uint16_t i = 0; i < num_items; i++) {
    const LASitem& item = items[i];
    record_size += item.size;
    switch (item.type) {
      case LASitem::BYTE:
      case LASitem::BYTE14:
        // A point has one extra-bytes buffer; a second extra-bytes item would
        // orphan the first buffer and the pointer into it.
        if (extra_bytes != nullptr) {
          las_messages::printLine("ERROR: more than one extra bytes item\n");
          return false;
        }
        extra_bytes = new uint8_t[item.size]();
        extra_bytes_size = item.size;
        item_pointers[i] = extra_bytes;
        break;
      case LASitem::POINT10:
        item_pointers[i] = fixed_bytes + point_fields::kPoint10;
        break;
      case LASitem::GPSTIME11:
        item_pointers[i] = fixed_bytes + point_fields::kGpsTime;
        has_gps_time = 1;
        break;
      case LASitem::RGB12:
      case LASitem::RGB14:
        item_pointers[i] = fixed_bytes + point_fields::kRgb;
        has_rgb = 1;
        break;
      case LASitem::WAVEPACKET13:
      case LASitem::WAVEPACKET14:
        item_pointers[i] = wavepacket.bytes;
        has_wavepacket = 1;
        break;
      case LASitem::POINT14:
        item_pointers[i] = fixed_bytes + point_fields::kPoint10;
        has_gps_time = 1;
        setExtendedPointType(1);
        break;
      case LASitem::RGBNIR14:
        item_pointers[i] = fixed_bytes + point_fields::kRgb;
        has_rgb = 1;
        has_nir = 1;
        break;
      default:
        return false;
    }
  }
  this->scale_offset = scale_offset;
  this->extra_attributes = extra_attributes;
  layout_identity = identityOfLayout(num_items, items);
  return true;
}

LASpointRecord& LASpointRecord::operator=(const LASpointRecord& other) {
  if (this == &other) return *this;
  const uint8_t* src = other.fixed_bytes;

  // X, Y, Z, intensity, the two flag bytes, scan angle rank, user data, point
  // source ID (the POINT10 item) and the spare byte.
  std::memcpy(fixed_bytes + point_fields::kPoint10, src + point_fields::kPoint10,
              quodax_format::kSizePoint10);
  fixed_bytes[point_fields::kSpareByte] = src[point_fields::kSpareByte];

  if (other.has_gps_time) {
    std::memcpy(fixed_bytes + point_fields::kGpsTime, src + point_fields::kGpsTime,
                quodax_format::kSizeGpsTime11);
  }
  if (other.has_rgb) {
    std::memcpy(fixed_bytes + point_fields::kRgb, src + point_fields::kRgb,
                other.has_nir ? quodax_format::kSizeRgbNir14 : quodax_format::kSizeRgb12);
  }
  if (other.has_wavepacket) {
    std::memcpy(wavepacket.bytes, other.wavepacket.bytes, sizeof(wavepacket.bytes));
  }
  if (extra_bytes != nullptr && other.extra_bytes != nullptr) {
    const int32_t n =
        extra_bytes_size < other.extra_bytes_size ? extra_bytes_size : other.extra_bytes_size;
    if (n > 0) std::memcpy(extra_bytes, other.extra_bytes, static_cast<size_t>(n));
  }

  if (other.getExtendedPointType() != 0) {
    // Scan angle, channel and flags, classification, returns; this point keeps
    // its own extended_point_type bits.
    std::memcpy(fixed_bytes + point_fields::kExtendedScanAngle,
                src + point_fields::kExtendedScanAngle, 2);
    uint8_t& type_byte = fixed_bytes[point_fields::kExtendedTypeByte];
    type_byte =
        static_cast<uint8_t>((type_byte & 0x03) | (src[point_fields::kExtendedTypeByte] & 0xFC));
    fixed_bytes[point_fields::kExtendedClass] = src[point_fields::kExtendedClass];
    fixed_bytes[point_fields::kExtendedReturns] = src[point_fields::kExtendedReturns];
  } else if (getExtendedPointType() != 0) {
    setExtendedClassification(other.getClassification());
    // Synthetic, keypoint, withheld; overlap 0.
    setExtendedClassificationFlags((src[p10::kClassification] >> 5) & 0x07);
    setExtendedReturnNumber(other.getReturnNumber());
    setExtendedNumberOfReturns(other.getNumberOfReturns());
    setExtendedScanAngle(static_cast<int16_t>(
        roundHalfAwayToI32(static_cast<double>(other.getScanAngleRank()) / 0.006)));
    setScannerChannel(other.getScannerChannel());
  }
  return *this;
}
