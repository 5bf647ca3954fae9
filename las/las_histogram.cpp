// The histogram set: option parsing, name-to-slot matching, the per-slot value
// of a point and the report. The slot tables below give each slot's "-histo"
// name, how it is matched and its report title.
#include "morrowtide/las/las_histogram.h"

#include <cmath>
#include <cstring>

#include "morrowtide/las/las_messages.h"
#include "morrowtide/las/las_point_summary.h"

using morrowtide::attributeInside;
using morrowtide::readAttributeValue;

namespace {

// Clamps every histogram of the set uses.
constexpr double kClampMin = -2e307;
constexpr double kClampMax = 2e307;
// The return-map slot, which bins by 1 whatever step it is given.
constexpr int kReturnMapSlot = 39;
// First of the ten attribute slots; each also matches its bare digit.
constexpr int kFirstAttributeSlot = 20;
constexpr size_t kAttributePrefixLength = 9;  // "attribute"

// A plain slot: its "-histo" name (also the name unparse writes), whether the
// name must be equal to it or only contain it, and the report title.
struct PlainSlot {
  const char* key;
  bool exact;
  const char* title;
};
constexpr PlainSlot kPlainSlotTable[LAShistogram::kPlainSlots] = {
    {"x", true, "x coordinate"},
    {"y", true, "y coordinate"},
    {"z", true, "z coordinate"},
    {"X", true, "raw integer X coordinate"},
    {"Y", true, "raw integer Y coordinate"},
    {"Z", true, "raw integer Z coordinate"},
    {"intensity", true, "intensity"},
    {"classification", true, "classification"},
    {"scan_angle", false, "scan angle"},
    {"extended_scan_angle", false, "extended scan angle"},
    {"return_number", false, "return_number"},
    {"number_of_returns", false, "number_of_returns"},
    {"user_data", false, "user data"},
    {"point_source", false, "point source id"},
    {"gps_time", false, "gps_time"},
    {"scanner_channel", false, "scanner channel"},
    {"R", true, "color R channel"},
    {"G", true, "color G channel"},
    {"B", true, "color B channel"},
    {"I", true, "color I channel"},
    {"attribute0", true, "attribute 0"},
    {"attribute1", true, "attribute 1"},
    {"attribute2", true, "attribute 2"},
    {"attribute3", true, "attribute 3"},
    {"attribute4", true, "attribute 4"},
    {"attribute5", true, "attribute 5"},
    {"attribute6", true, "attribute 6"},
    {"attribute7", true, "attribute 7"},
    {"attribute8", true, "attribute 8"},
    {"attribute9", true, "attribute 9"},
    {"wavepacket_index", false, "wavepacket_index"},
    {"wavepacket_offset", false, "wavepacket_offset"},
    {"wavepacket_size", false, "wavepacket_size"},
    {"wavepacket_location", false, "wavepacket_location"},
};

// An averages slot: the binned name, the averaged name and how it is matched,
// the report title and the averages name of the report.
struct AveragesSlot {
  const char* name;
  const char* name_avg;
  bool exact_avg;
  const char* title;
  const char* title_avg;
};
constexpr AveragesSlot kAveragesSlotTable[LAShistogram::kSlots - LAShistogram::kPlainSlots] = {
    {"classification", "intensity", true, "classification", "intensity"},
    {"classification", "scan_angle", false, "classification", "scan_angle"},
    {"scan_angle", "z", true, "scan angle", "z coordinate"},
    {"scan_angle", "number_of_returns", true, "scan_angle", "number_of_returns"},
    {"scan_angle", "intensity", true, "scan angle", "intensity"},
    {"return_map", "intensity", true, "return map", "intensity"},
};

bool matches(const char* name, const char* key, bool exact) {
  return exact ? std::strcmp(name, key) == 0 : std::strstr(name, key) != nullptr;
}

bool validStep(double step) { return std::isfinite(step) && step > 0.0; }

// The slot a "-histo" name selects, or -1. "extended_scan_angle" is tested
// before "scan_angle", which it contains.
int plainSlotOf(const char* name) {
  constexpr int kOrder[LAShistogram::kPlainSlots] = {0,  1,  2,  3,  4,  5,  6,  7,  9,  8,  10, 11,
                                                     12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                                     24, 25, 26, 27, 28, 29, 30, 31, 32, 33};
  for (int slot : kOrder) {
    const PlainSlot& s = kPlainSlotTable[slot];
    if (matches(name, s.key, s.exact)) return slot;
    const bool attribute = slot >= kFirstAttributeSlot && slot < kFirstAttributeSlot + 10;
    if (attribute && std::strcmp(name, s.key + kAttributePrefixLength) == 0) return slot;
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
    const int slot = kPlainSlots + i;
    if (slot == kReturnMapSlot) {
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
  const LASscaleOffset* so = p.scale_offset;
  for (int slot = 0; slot < kSlots; slot++) {
    LAShistogramBins* b = bins[slot].get();
    if (b == nullptr) continue;
    switch (slot) {
      // A point without scale and offset has no real coordinates to bin.
      case 0:
        if (so) b->add(scaled(p.getX(), so->x_scale_factor, so->x_offset));
        break;
      case 1:
        if (so) b->add(scaled(p.getY(), so->y_scale_factor, so->y_offset));
        break;
      case 2:
        if (so) b->add(scaled(p.getZ(), so->z_scale_factor, so->z_offset));
        break;
      case 3:
        b->add(p.getX());
        break;
      case 4:
        b->add(p.getY());
        break;
      case 5:
        b->add(p.getZ());
        break;
      case 6:
        b->add(int32_t{p.getIntensity()});
        break;
      case 7:
        b->add(int32_t{p.getEffectiveClassification()});
        break;
      case 8:
        b->add(scanAngle(p));
        break;
      case 9:
        b->add(int32_t{p.getExtendedScanAngle()});
        break;
      case 10:
        b->add(int32_t{p.getEffectiveReturnNumber()});
        break;
      case 11:
        b->add(int32_t{p.getEffectiveNumberOfReturns()});
        break;
      case 12:
        b->add(int32_t{p.getUserData()});
        break;
      case 13:
        b->add(int32_t{p.getPointSourceID()});
        break;
      case 14:
        b->add(p.getGpsTime());
        break;
      case 15:
        b->add(int32_t{p.getScannerChannel()});
        break;
      case 16:
      case 17:
      case 18:
      case 19:
        b->add(int32_t{p.getRgb(static_cast<uint32_t>(slot - 16))});
        break;
      case 30:
        b->add(int32_t{p.wavepacket.getIndex()});
        break;
      case 31:
        b->add(static_cast<int64_t>(p.wavepacket.getOffset()));
        break;
      // The size is a U32: binned as I64 so sizes of 2^31 and more stay positive.
      case 32:
        b->add(int64_t{p.wavepacket.getSize()});
        break;
      case 33:
        b->add(static_cast<double>(p.wavepacket.getLocation()));
        break;
      case 34:
        b->addWithValue(int32_t{p.getEffectiveClassification()}, int32_t{p.getIntensity()});
        break;
      case 35:
        b->addWithValue(static_cast<double>(p.getEffectiveClassification()), scanAngle(p));
        break;
      case 36:
        if (so) b->addWithValue(scanAngle(p), scaled(p.getZ(), so->z_scale_factor, so->z_offset));
        break;
      case 37:
        b->addWithValue(scanAngle(p), static_cast<double>(p.getEffectiveNumberOfReturns()));
        break;
      case 38:
        b->addWithValue(scanAngle(p), static_cast<double>(p.getIntensity()));
        break;
      case 39:
        b->addWithValue(returnMapCode(p), int32_t{p.getIntensity()});
        break;
      default:
        b->add(attributeValue(p, slot - kFirstAttributeSlot));
        break;  // 20-29
    }
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
