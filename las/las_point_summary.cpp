// The point summary's per-point work. Every count is a direct array increment; the extreme points
// are compared field by field through the point's own accessors, so a bit field
// changes only its own bits.
#include "morrowtide/las/las_point_summary.h"

#include <initializer_list>

using morrowtide::readAttributeValue;
using morrowtide::detail::attributeInside;

namespace {

// Smaller values go to `min`; otherwise larger ones go to `max`. A comparison
// with NaN changes nothing.
template <typename Object, typename T>
void extend(T v, Object& min, Object& max, T (Object::*get)() const, void (Object::*set)(T)) {
  if (v < (min.*get)()) {
    (min.*set)(v);
  } else if (v > (max.*get)()) {
    (max.*set)(v);
  }
}

}  // namespace

LASpointSummary::LASpointSummary() = default;

bool LASpointSummary::add(const LASpointRecord* point) {
  number_of_point_records++;
  countClassesAndFlags(*point);
  if (first) {
    takeFirst(*point);
  } else {
    extendFields(*point);
    extendAttributes(*point);
  }
  matchLowDigits(*point);
  return true;
}

void LASpointSummary::countClassesAndFlags(const LASpointRecord& point) {
  const uint8_t c = point.getEffectiveClassification();
  points_by_return[point.getEffectiveReturnNumber()]++;
  points_by_number_of_returns[point.getEffectiveNumberOfReturns()]++;
  if (c < 32) {
    points_by_classification[c]++;
  } else {
    points_by_extended_classification[c]++;
  }
  if (point.getExtendedPointType() != 0 && (point.getExtendedClassificationFlags() & 0x08)) {
    overlap_points++;
    overlap_by_classification[c]++;
  }
  if (point.getSyntheticFlag()) {
    synthetic_points++;
    synthetic_by_classification[c]++;
  }
  if (point.getKeypointFlag()) {
    keypoint_points++;
    keypoint_by_classification[c]++;
  }
  if (point.getWithheldFlag()) {
    withheld_points++;
    withheld_by_classification[c]++;
  }
}

void LASpointSummary::takeFirst(const LASpointRecord& point) {
  if (point.extra_bytes_size > 0) {
    for (LASpointRecord* extreme : {&min_point, &max_point}) {
      extreme->extra_bytes = new uint8_t[point.extra_bytes_size]();
      extreme->extra_bytes_size = point.extra_bytes_size;
    }
  }
  min_point = point;
  max_point = point;
  const int32_t xyz[3] = {point.getX(), point.getY(), point.getZ()};
  int32_t modulus = 10;
  for (int m = 0; m < 4; m++, modulus *= 10) {
    for (int c = 0; c < 3; c++) low_digits[m][c] = static_cast<int16_t>(xyz[c] % modulus);
  }
  first = false;
}

void LASpointSummary::extendFields(const LASpointRecord& p) {
  using R = LASpointRecord;
  extend(p.getX(), min_point, max_point, &R::getX, &R::setX);
  extend(p.getY(), min_point, max_point, &R::getY, &R::setY);
  extend(p.getZ(), min_point, max_point, &R::getZ, &R::setZ);
  extend(p.getIntensity(), min_point, max_point, &R::getIntensity, &R::setIntensity);
  extend(p.getEdgeOfFlightLine(), min_point, max_point, &R::getEdgeOfFlightLine,
         &R::setEdgeOfFlightLine);
  extend(p.getScanDirectionFlag(), min_point, max_point, &R::getScanDirectionFlag,
         &R::setScanDirectionFlag);
  extend(p.getNumberOfReturns(), min_point, max_point, &R::getNumberOfReturns,
         &R::setNumberOfReturns);
  extend(p.getReturnNumber(), min_point, max_point, &R::getReturnNumber, &R::setReturnNumber);
  extend(p.getClassification(), min_point, max_point, &R::getClassification, &R::setClassification);
  extend(p.getScanAngleRank(), min_point, max_point, &R::getScanAngleRank, &R::setScanAngleRank);
  extend(p.getUserData(), min_point, max_point, &R::getUserData, &R::setUserData);
  extend(p.getPointSourceID(), min_point, max_point, &R::getPointSourceID, &R::setPointSourceID);
  if (p.has_gps_time) extend(p.getGpsTime(), min_point, max_point, &R::getGpsTime, &R::setGpsTime);
  // Colour channel i (0 red, 1 green, 2 blue, 3 near infrared).
  auto extendRgb = [&](uint32_t i) {
    const uint16_t v = p.getRgb(i);
    if (v < min_point.getRgb(i)) {
      min_point.setRgb(i, v);
    } else if (v > max_point.getRgb(i)) {
      max_point.setRgb(i, v);
    }
  };
  if (p.has_rgb) {
    for (uint32_t i = 0; i < 3; i++) extendRgb(i);
  }
  if (p.getExtendedPointType() != 0) {
    extend(p.getExtendedClassification(), min_point, max_point, &R::getExtendedClassification,
           &R::setExtendedClassification);
    extend(p.getExtendedReturnNumber(), min_point, max_point, &R::getExtendedReturnNumber,
           &R::setExtendedReturnNumber);
    extend(p.getExtendedNumberOfReturns(), min_point, max_point, &R::getExtendedNumberOfReturns,
           &R::setExtendedNumberOfReturns);
    extend(p.getExtendedScanAngle(), min_point, max_point, &R::getExtendedScanAngle,
           &R::setExtendedScanAngle);
    extend(p.getScannerChannel(), min_point, max_point, &R::getScannerChannel,
           &R::setScannerChannel);
    if (p.has_nir) extendRgb(3);
  }
  if (p.has_wavepacket) {
    using W = LASwavepacket;
    const W& w = p.wavepacket;
    W& lo = min_point.wavepacket;
    W& hi = max_point.wavepacket;
    extend(w.getIndex(), lo, hi, &W::getIndex, &W::setIndex);
    extend(w.getOffset(), lo, hi, &W::getOffset, &W::setOffset);
    extend(w.getSize(), lo, hi, &W::getSize, &W::setSize);
    extend(w.getLocation(), lo, hi, &W::getLocation, &W::setLocation);
    extend(w.getXt(), lo, hi, &W::getXt, &W::setXt);
    extend(w.getYt(), lo, hi, &W::getYt, &W::setYt);
    extend(w.getZt(), lo, hi, &W::getZt, &W::setZt);
  }
}

void LASpointSummary::extendAttributes(const LASpointRecord& point) {
  const LASextraAttributes* attributes = point.extra_attributes;
  if (point.extra_bytes == nullptr || attributes == nullptr || min_point.extra_bytes == nullptr) {
    return;
  }
  // The extreme points' buffers have the first point's size; a later point of
  // another layout is compared only where its attribute fits both.
  const int32_t size = point.extra_bytes_size < min_point.extra_bytes_size
                           ? point.extra_bytes_size
                           : min_point.extra_bytes_size;
  for (int32_t i = 0; i < attributes->attribute_count; i++) {
    if (!attributeInside(*attributes, i, size)) continue;
    const LASextraAttribute& d = attributes->attribute_descriptors[i];
    if (d.data_type == 0) continue;  // a run of bytes has no value to compare
    const int32_t at = attributes->attribute_offsets[i];
    const double v = readAttributeValue(d, point.extra_bytes + at);
    if (v < readAttributeValue(d, min_point.extra_bytes + at)) {
      d.storeValue(v, min_point.extra_bytes + at);
    }
    if (v > readAttributeValue(d, max_point.extra_bytes + at)) {
      d.storeValue(v, max_point.extra_bytes + at);
    }
  }
}

void LASpointSummary::matchLowDigits(const LASpointRecord& point) {
  const int32_t xyz[3] = {point.getX(), point.getY(), point.getZ()};
  for (int c = 0; c < 3; c++) {
    int32_t modulus = 10;
    for (int m = 0; m < 4; m++, modulus *= 10) {
      if (static_cast<int16_t>(xyz[c] % modulus) != low_digits[m][c]) break;
      low_digit_matches[m][c]++;
    }
  }
}
