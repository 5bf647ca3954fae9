// The writer base: the defaults every writer starts from (scale factors 0.01,
// offsets 0, no points expected or written, an empty inventory).
#include "morrowtide/las/las_writer.h"

#include <cstdarg>

LASwriter::LASwriter() {
  scale_offset.x_scale_factor = las_format::kDefaultScaleFactor;
  scale_offset.y_scale_factor = las_format::kDefaultScaleFactor;
  scale_offset.z_scale_factor = las_format::kDefaultScaleFactor;
  scale_offset.x_offset = 0.0;
  scale_offset.y_offset = 0.0;
  scale_offset.z_offset = 0.0;
}

bool LASwriter::reportFailure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  first_failure.vreport(format, args);
  va_end(args);
  return false;
}

bool LASwriter::reportFailureAlways(const char* format, ...) {
  va_list args;
  va_start(args, format);
  first_failure.vreportAlways(format, args);
  va_end(args);
  return false;
}

bool LASwriter::reportMisuse(Misuse kind, const char* format, ...) {
  const uint8_t bit = static_cast<uint8_t>(kind);
  if ((misuse_reported & bit) != 0) return false;
  misuse_reported |= bit;
  va_list args;
  va_start(args, format);
  las_messages::vprintLine(format, args);
  va_end(args);
  return false;
}

bool LASwriter::refuseNullPoint() {
  return reportMisuse(Misuse::kNullPoint, "ERROR: point pointer is zero\n");
}
