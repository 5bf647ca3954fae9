// The histogram set: option parsing, name-to-slot matching, the per-slot value
// of a point and the report. The slot tables below give each slot's "-histo"
// name, how it is matched and its report title.
#include "morrowtide/las/las_histogram.h"

#include <cmath>
#include <cstring>

#include "morrowtide/las/las_messages.h"
#include "morrowtide/las/las_point_summary.h"

using morrowtide::readAttributeValue;
using morrowtide::detail::attributeInside;

namespace {

// Clamps every histogram of the set uses.
constexpr double kClampMin = -2e307;
constexpr double kClampMax = 2e307;

// The slots: the index of each histogram in `bins`, in the row order of the
// tables below (each row names its slot, and a check below holds them in step).
enum Slot : int {
  kX,
  kY,
  kZ,
  kRawX,
  kRawY,
  kRawZ,
  kIntensity,
  kClassification,
  kScanAngle,
  kExtendedScanAngle,
  kReturnNumber,
  kNumberOfReturns,
  kUserData,
  kPointSource,
  kGpsTime,
  kScannerChannel,
  kColourR,
  kColourG,
  kColourB,
  kColourI,
  kAttribute0,  // ten attribute slots, kAttribute0 + k for attribute k
  kAttribute9 = kAttribute0 + 9,
  kWavepacketIndex,
  kWavepacketOffset,
  kWavepacketSize,
  kWavepacketLocation,
  kClassificationWithIntensity,  // the averages slots
  kClassificationWithScanAngle,
  kScanAngleWithZ,
  kScanAngleWithNumberOfReturns,
  kScanAngleWithIntensity,
  kReturnMapWithIntensity,  // bins by 1 whatever step it is given
};
static_assert(kWavepacketLocation + 1 == LAShistogram::kPlainSlots, "34 plain slots");
static_assert(kReturnMapWithIntensity + 1 == LAShistogram::kSlots, "40 slots");

constexpr size_t kAttributePrefixLength = 9;  // "attribute"

// A plain slot: its "-histo" name (also the name unparse writes), whether the
// name must be equal to it or only contain it, and the report title.
struct PlainSlot {
  int slot;
  const char* key;
  bool exact;
  const char* title;
};
constexpr PlainSlot kPlainSlotTable[LAShistogram::kPlainSlots] = {
    {kX, "x", true, "x coordinate"},
    {kY, "y", true, "y coordinate"},
    {kZ, "z", true, "z coordinate"},
    {kRawX, "X", true, "raw integer X coordinate"},
    {kRawY, "Y", true, "raw integer Y coordinate"},
    {kRawZ, "Z", true, "raw integer Z coordinate"},
    {kIntensity, "intensity", true, "intensity"},
    {kClassification, "classification", true, "classification"},
    {kScanAngle, "scan_angle", false, "scan angle"},
    {kExtendedScanAngle, "extended_scan_angle", false, "extended scan angle"},
    {kReturnNumber, "return_number", false, "return_number"},
    {kNumberOfReturns, "number_of_returns", false, "number_of_returns"},
    {kUserData, "user_data", false, "user data"},
    {kPointSource, "point_source", false, "point source id"},
    {kGpsTime, "gps_time", false, "gps_time"},
    {kScannerChannel, "scanner_channel", false, "scanner channel"},
    {kColourR, "R", true, "color R channel"},
    {kColourG, "G", true, "color G channel"},
    {kColourB, "B", true, "color B channel"},
    {kColourI, "I", true, "color I channel"},
    {kAttribute0 + 0, "attribute0", true, "attribute 0"},
    {kAttribute0 + 1, "attribute1", true, "attribute 1"},
    {kAttribute0 + 2, "attribute2", true, "attribute 2"},
    {kAttribute0 + 3, "attribute3", true, "attribute 3"},
    {kAttribute0 + 4, "attribute4", true, "attribute 4"},
    {kAttribute0 + 5, "attribute5", true, "attribute 5"},
    {kAttribute0 + 6, "attribute6", true, "attribute 6"},
    {kAttribute0 + 7, "attribute7", true, "attribute 7"},
    {kAttribute0 + 8, "attribute8", true, "attribute 8"},
    {kAttribute9, "attribute9", true, "attribute 9"},
    {kWavepacketIndex, "wavepacket_index", false, "wavepacket_index"},
    {kWavepacketOffset, "wavepacket_offset", false, "wavepacket_offset"},
    {kWavepacketSize, "wavepacket_size", false, "wavepacket_size"},
    {kWavepacketLocation, "wavepacket_location", false, "wavepacket_location"},
};

// An averages slot: the binned name, the averaged name and how it is matched,
// the report title and the averages name of the report.
struct AveragesSlot {
  int slot;
  const char* name;
  const char* name_avg;
  bool exact_avg;
  const char* title;
  const char* title_avg;
};
constexpr AveragesSlot kAveragesSlotTable[LAShistogram::kSlots - LAShistogram::kPlainSlots] = {
    {kClassificationWithIntensity, "classification", "intensity", true, "classification",
     "intensity"},
    {kClassificationWithScanAngle, "classification", "scan_angle", false, "classification",
     "scan_angle"},
    {kScanAngleWithZ, "scan_angle", "z", true, "scan angle", "z coordinate"},
    {kScanAngleWithNumberOfReturns, "scan_angle", "number_of_returns", true, "scan_angle",
     "number_of_returns"},
    {kScanAngleWithIntensity, "scan_angle", "intensity", true, "scan angle", "intensity"},
    {kReturnMapWithIntensity, "return_map", "intensity", true, "return map", "intensity"},
};

// Whether every row of both tables stands at the index of its slot.
constexpr bool rowsMatchSlots() {
  for (int i = 0; i < LAShistogram::kPlainSlots; i++) {
    if (kPlainSlotTable[i].slot != i) return false;
  }
  for (int i = 0; i < LAShistogram::kSlots - LAShistogram::kPlainSlots; i++) {
    if (kAveragesSlotTable[i].slot != LAShistogram::kPlainSlots + i) return false;
  }
  return true;
}
static_assert(rowsMatchSlots(), "each table row stands at the index of its slot");

bool matches(const char* name, const char* key, bool exact) {
  return exact ? std::strcmp(name, key) == 0 : std::strstr(name, key) != nullptr;
}

bool validStep(double step) { return std::isfinite(step) && step > 0.0; }

bool isAttributeSlot(int slot) { return slot >= kAttribute0 && slot <= kAttribute9; }

// The slot a "-histo" name selects, or -1: the first row the name matches, or
// for an attribute slot also its bare digit. "extended_scan_angle" is tested
// first: it contains "scan_angle", and no exact key before it can contain it.
int plainSlotOf(const char* name) {
  const PlainSlot& extended = kPlainSlotTable[kExtendedScanAngle];
  if (matches(name, extended.key, extended.exact)) return kExtendedScanAngle;
  for (const PlainSlot& s : kPlainSlotTable) {
    if (matches(name, s.key, s.exact)) return s.slot;
    if (isAttributeSlot(s.slot) && std::strcmp(name, s.key + kAttributePrefixLength) == 0) {
      return s.slot;
    }
  }
  return -1;
}

// Real coordinate of integer `v`: scale factor times v plus offset.
double scaled(int32_t v, double scale, double offset) { return scale * v + offset; }

// Scan angle in degrees: a LAS 1.4 point's extended angle in 0.006 degree steps
// (an F32 product), else the signed scan angle rank.
double scanAngle(const LASpointRecord& p) {
  if (p.getExtendedPointType() != 0) {
    return static_cast<double>(static_cast<float>(p.getExtendedScanAngle()) * 0.006f);
  }
  return static_cast<double>(p.getScanAngleRank());
}

// Value of extra-bytes attribute k, or 0.0 when the point has no such attribute
// or its bytes lie outside the point's extra bytes.
double attributeValue(const LASpointRecord& p, int32_t k) {
  const LASextraAttributes* a = p.extra_attributes;
  if (a == nullptr || p.extra_bytes == nullptr || !attributeInside(*a, k, p.extra_bytes_size)) {
    return 0.0;
  }
  return readAttributeValue(a->attribute_descriptors[k], p.extra_bytes + a->attribute_offsets[k]);
}

// Single returns 0, returns of two 1-2, of three 3-5, of four 6-9, of five
// 10-14; no returns or more than five 15.
int32_t returnMapCode(const LASpointRecord& p) {
  const int32_t r = p.getEffectiveReturnNumber();
  switch (p.getEffectiveNumberOfReturns()) {
    case 1:
      return 0;
    case 2:
      return r;
    case 3:
      return r + 2;
    case 4:
      return r + 5;
    case 5:
      return r + 9;
    default:
      return 15;
  }
}

// Slots kX to kRawZ: a coordinate, real or raw.
void addCoordinate(LAShistogramBins& b, Slot slot, const LASpointRecord& p) {
  const LASscaleOffset* so = p.scale_offset;
  switch (slot) {
    // A point without scale and offset has no real coordinates to bin.
    case kX:
      if (so) b.add(scaled(p.getX(), so->x_scale_factor, so->x_offset));
      break;
    case kY:
      if (so) b.add(scaled(p.getY(), so->y_scale_factor, so->y_offset));
      break;
    case kZ:
      if (so) b.add(scaled(p.getZ(), so->z_scale_factor, so->z_offset));
      break;
    case kRawX:
      b.add(p.getX());
      break;
    case kRawY:
      b.add(p.getY());
      break;
    default:  // kRawZ
      b.add(p.getZ());
      break;
  }
}

// Slots kIntensity to kColourI: one field of the point.
void addPointField(LAShistogramBins& b, Slot slot, const LASpointRecord& p) {
  switch (slot) {
    case kIntensity:
      b.add(int32_t{p.getIntensity()});
      break;
    case kClassification:
      b.add(int32_t{p.getEffectiveClassification()});
      break;
    case kScanAngle:
      b.add(scanAngle(p));
      break;
    case kExtendedScanAngle:
      b.add(int32_t{p.getExtendedScanAngle()});
      break;
    case kReturnNumber:
      b.add(int32_t{p.getEffectiveReturnNumber()});
      break;
    case kNumberOfReturns:
      b.add(int32_t{p.getEffectiveNumberOfReturns()});
      break;
    case kUserData:
      b.add(int32_t{p.getUserData()});
      break;
    case kPointSource:
      b.add(int32_t{p.getPointSourceID()});
      break;
    case kGpsTime:
      b.add(p.getGpsTime());
      break;
    case kScannerChannel:
      b.add(int32_t{p.getScannerChannel()});
      break;
    default:  // kColourR to kColourI: channels 0 to 3
      b.add(int32_t{p.getRgb(static_cast<uint32_t>(slot - kColourR))});
      break;
  }
}

// Slots kWavepacketIndex to kWavepacketLocation: one field of the wave packet.
void addWavepacketField(LAShistogramBins& b, Slot slot, const LASwavepacket& w) {
  switch (slot) {
    case kWavepacketIndex:
      b.add(int32_t{w.getIndex()});
      break;
    case kWavepacketOffset:
      b.add(static_cast<int64_t>(w.getOffset()));
      break;
    // The size is a U32: binned as I64 so sizes of 2^31 and more stay positive.
    case kWavepacketSize:
      b.add(int64_t{w.getSize()});
      break;
    default:  // kWavepacketLocation
      b.add(static_cast<double>(w.getLocation()));
      break;
  }
}

// The averages slots: the binned item and the averaged value.
void addItemWithValue(LAShistogramBins& b, Slot slot, const LASpointRecord& p) {
  const LASscaleOffset* so = p.scale_offset;
  switch (slot) {
    case kClassificationWithIntensity:
      b.addWithValue(int32_t{p.getEffectiveClassification()}, int32_t{p.getIntensity()});
      break;
    case kClassificationWithScanAngle:
      b.addWithValue(static_cast<double>(p.getEffectiveClassification()), scanAngle(p));
      break;
    case kScanAngleWithZ:
      if (so) b.addWithValue(scanAngle(p), scaled(p.getZ(), so->z_scale_factor, so->z_offset));
      break;
    case kScanAngleWithNumberOfReturns:
      b.addWithValue(scanAngle(p), static_cast<double>(p.getEffectiveNumberOfReturns()));
      break;
    case kScanAngleWithIntensity:
      b.addWithValue(scanAngle(p), static_cast<double>(p.getIntensity()));
      break;
    default:  // kReturnMapWithIntensity
      b.addWithValue(returnMapCode(p), int32_t{p.getIntensity()});
      break;
  }
}

}  // namespace

bool LAShistogram::parse(int32_t argc, char** argv) {
  for (int32_t i = 1; i < argc; i++) {
    const char* option = argv[i];
    if (option[0] == '\0') continue;
    if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "-help") == 0) return true;
    const bool plain = std::strcmp(option, "-histo") == 0;
    const bool averages = std::strcmp(option, "-histo_avg") == 0;
    if (!plain && !averages) continue;
    const int32_t needed = plain ? 2 : 3;
    const char* usage = plain ? "name step" : "name step name_avg";
    if (i + needed >= argc) {
      return las_messages::printLine("ERROR: '%s' needs %d arguments: %s\n", option, needed, usage);
    }
    double step = 0.0;
    const bool step_used = plain || std::strcmp(argv[i + 1], "return_map") != 0;
    if (std::sscanf(argv[i + 2], "%lf", &step) != 1 || (step_used && !validStep(step))) {
      return las_messages::printLine(
          "ERROR: '%s' needs %d arguments: %s but '%s' is no valid step\n", option, needed, usage,
          argv[i + 2]);
    }
    if (plain ? !histo(argv[i + 1], step) : !histoAvg(argv[i + 1], step, argv[i + 3])) {
      return false;
    }
    for (int32_t j = 0; j <= needed; j++) argv[i + j][0] = '\0';
    i += needed;
  }
  return true;
}

bool LAShistogram::histo(const char* name, double step) {
  const int slot = plainSlotOf(name);
  if (slot < 0) return las_messages::printLine("ERROR: histogram of '%s' not implemented\n", name);
  if (!validStep(step)) {
    return las_messages::printLine("ERROR: histogram of '%s' needs a finite step above 0, not %g\n",
                                   name, step);
  }
  fill(slot, step);
  return true;
}

bool LAShistogram::histoAvg(const char* name, double step, const char* name_avg) {
  bool known = false;
  for (int i = 0; i < kSlots - kPlainSlots; i++) {
    const AveragesSlot& s = kAveragesSlotTable[i];
    if (std::strcmp(name, s.name) != 0) continue;
    known = true;
    if (!matches(name_avg, s.name_avg, s.exact_avg)) continue;
    const int slot = s.slot;
    if (slot == kReturnMapWithIntensity) {
      step = 1.0;
    } else if (!validStep(step)) {
      return las_messages::printLine(
          "ERROR: histogram of '%s' needs a finite step above 0, not %g\n", name, step);
    }
    fill(slot, step);
    return true;
  }
  if (!known) return las_messages::printLine("ERROR: histogram of '%s' not implemented\n", name);
  return las_messages::printLine("ERROR: histogram of '%s' with '%s' averages not implemented\n",
                                 name, name_avg);
}

void LAShistogram::fill(int slot, double step) {
  bins[slot].reset(new LAShistogramBins(step, kClampMin, kClampMax));
  active = true;
}

int32_t LAShistogram::unparse(char* string, size_t size) const {
  size_t total = 0;
  for (int slot = 0; slot < kPlainSlots; slot++) {
    if (!bins[slot]) continue;
    const bool room = total < size;
    const int n = std::snprintf(room ? string + total : nullptr, room ? size - total : 0,
                                "-histo %s %lf ", kPlainSlotTable[slot].key, bins[slot]->getStep());
    if (n > 0) total += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(total);
}

void LAShistogram::add(const LASpointRecord* point) {
  const LASpointRecord& p = *point;
  for (int slot = kX; slot <= kRawZ; slot++) {
    if (bins[slot]) addCoordinate(*bins[slot], static_cast<Slot>(slot), p);
  }
  for (int slot = kIntensity; slot <= kColourI; slot++) {
    if (bins[slot]) addPointField(*bins[slot], static_cast<Slot>(slot), p);
  }
  for (int slot = kAttribute0; slot <= kAttribute9; slot++) {
    if (bins[slot]) bins[slot]->add(attributeValue(p, slot - kAttribute0));
  }
  for (int slot = kWavepacketIndex; slot <= kWavepacketLocation; slot++) {
    if (bins[slot]) addWavepacketField(*bins[slot], static_cast<Slot>(slot), p.wavepacket);
  }
  for (int slot = kClassificationWithIntensity; slot <= kReturnMapWithIntensity; slot++) {
    if (bins[slot]) addItemWithValue(*bins[slot], static_cast<Slot>(slot), p);
  }
}

bool LAShistogram::report(FILE* file) const {
  bool ok = true;
  for (int slot = 0; slot < kSlots; slot++) {
    if (!bins[slot]) continue;
    if (slot < kPlainSlots) {
      ok &= bins[slot]->report(file, kPlainSlotTable[slot].title, nullptr);
    } else {
      const AveragesSlot& s = kAveragesSlotTable[slot - kPlainSlots];
      ok &= bins[slot]->report(file, s.title, s.title_avg);
    }
  }
  return ok;
}

void LAShistogram::reset() {
  for (auto& b : bins) {
    if (b) b->reset();
  }
}
