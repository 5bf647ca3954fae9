// The VRML writer. Text it produces (\t a TAB):
//   #VRML V2.0 utf8                       only at the start of the output
//   Shape {
//   \tappearance Appearance {             } only when no colours are written
//   \t\tmaterial Material {               }
//   \t\t\temissiveColor .5 .2 .7          }
//   \t\t}                                 }
//   \t}                                   }
//   \tgeometry PointSet {
//   \t\tcoord Coordinate {
//   \t\t\tpoint [
//   x y z                                  one line per point, formatByScale
//   \t\t\t]
//   \t\t}
//   \t\tcolor Color {                     } only with colours: one line per
//   \t\t\tcolor [                         } point, "%.2f %.2f %.2f" of the
//   r g b                                  } 8-bit colour times 1/255 (F32)
//   \t\t\t]                               }
//   \t\t}                                 }
//   \t}
//   }
// Colours are written for point formats 2, 3 and 5 unless a parse string without
// "RGB" is given. The first line is the one a VRML97 file must start with; a
// FILE that already holds bytes at open (the file goes on after them) gets the
// Shape alone.
#include "morrowtide/las/las_writer_wrl.h"

#include <cstring>
#include <new>

#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::kNumberBufferSize;
using morrowtide::trimTrailingZeros;

namespace {

using las_messages::printLine;

constexpr size_t kFirstRgbCapacity = 1024;  // points
constexpr size_t kRgbBytesPerPoint = 3;
constexpr float kOneOver255 = 0.003921569f;

// The scales that print with a fixed number of decimals, tested in this order.
struct DecimalScale {
  double scale;
  const char* format;
};
constexpr DecimalScale kDecimalScales[] = {
    {0.1, "%.1f"},   {0.01, "%.2f"},  {0.001, "%.3f"}, {0.0001, "%.4f"}, {1e-05, "%.5f"},
    {1e-06, "%.6f"}, {1e-07, "%.7f"}, {1e-08, "%.8f"}, {1e-09, "%.9f"},
};

// VRML colours come only with the legacy formats that have colour (2, 3 and 5);
// the LAS 1.4 formats with colour (7, 8 and 10) are written without.
bool legacyFormatHasColour(uint8_t f) {
  return las_format::formatHasColour(f) && !las_format::formatHasExtendedPoint(f);
}

// A colour channel in 8 bits: values above 255 are taken as 16-bit.
uint8_t eightBits(uint16_t v) { return static_cast<uint8_t>(v > 255 ? v >> 8 : v); }

bool put(const char* text, FILE* file) { return std::fputs(text, file) >= 0; }

// Whether the output starts here: at position 0, or without a position at all
// (a pipe, a terminal), where nothing can be known to come before.
bool atStartOfOutput(FILE* file) { return ftello(file) <= 0; }

}  // namespace

namespace morrowtide {

void trimTrailingZeros(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == '0') text[--n] = '\0';
  if (n > 0 && text[n - 1] == '.') text[n - 1] = '\0';
}

}  // namespace morrowtide

void formatByScale(char* buffer, double value, double scale) {
  for (const DecimalScale& d : kDecimalScales) {
    if (scale == d.scale) {
      std::snprintf(buffer, kNumberBufferSize, d.format, value);
      return;
    }
  }
  std::snprintf(buffer, kNumberBufferSize, "%.15f", value);
  trimTrailingZeros(buffer);
}

LASwriterWRL::~LASwriterWRL() {
  if (output.holdsOutput()) close(true);
}

bool LASwriterWRL::openFile(const char* file_name, const LASheader* header,
                            const char* parse_string) {
  if (!output.openFile(file_name, "w", 0)) return false;
  return open(output.getFile(), header, parse_string);
}

bool LASwriterWRL::open(FILE* file, const LASheader* h, const char* parse_string) {
  if (file == nullptr) return printLine("ERROR: file pointer is zero\n");
  if (output.getFile() != file && !output.useFile(file)) return false;
  if (h == nullptr) return printLine("ERROR: LASheader pointer is zero\n");
  header = h;
  scale_offset = static_cast<const LASscaleOffset&>(*h);

  const bool has_colour = legacyFormatHasColour(h->point_data_format);
  const bool asks_for_colour =
      parse_string == nullptr || std::strstr(parse_string, "RGB") != nullptr;
  if (asks_for_colour) {
    if (has_colour) {
      if (rgb_capacity == 0) {
        rgb_buffer.resize(kFirstRgbCapacity * kRgbBytesPerPoint);
        rgb_capacity = kFirstRgbCapacity;
      }
    } else {
      if (parse_string != nullptr) printLine("WARNING: points do not have RGB colors\n");
      rgb_buffer = std::vector<uint8_t>();
      rgb_capacity = 0;
    }
  }

  bool ok = !atStartOfOutput(file) || put("#VRML V2.0 utf8\n", file);
  ok = ok && put("Shape {\n", file);
  if (rgb_capacity == 0) {
    ok = ok && put("\tappearance Appearance {\n", file) && put("\t\tmaterial Material {\n", file) &&
         put("\t\t\temissiveColor .5 .2 .7\n", file) && put("\t\t}\n", file) && put("\t}\n", file);
  }
  ok = ok && put("\tgeometry PointSet {\n", file) && put("\t\tcoord Coordinate {\n", file) &&
       put("\t\t\tpoint [\n", file);
  if (!ok) return reportFailure("ERROR: cannot write the VRML opening text\n");
  return true;
}

bool LASwriterWRL::growColours() {
  // Capacity in points doubles; its bytes are counted in size_t and must fit.
  if (rgb_capacity > rgb_buffer.max_size() / (2 * kRgbBytesPerPoint)) return false;
  try {
    rgb_buffer.resize(2 * rgb_capacity * kRgbBytesPerPoint);
  } catch (const std::bad_alloc&) {
    return false;
  }
  rgb_capacity *= 2;
  return true;
}

bool LASwriterWRL::writePoint(const LASpointRecord* point) {
  FILE* file = output.getFile();
  if (file == nullptr || header == nullptr) return false;
  if (point == nullptr) return refuseNullPoint();
  const size_t index = static_cast<size_t>(points_written);
  if (rgb_capacity != 0 && index == rgb_capacity && !growColours()) {
    return reportFailure("ERROR: cannot keep the colour of point %lld for VRML\n",
                         static_cast<long long>(points_written + 1));
  }
  const LASheader& h = *header;
  bool ok = true;
  formatByScale(number_buffer, h.x_scale_factor * point->getX() + h.x_offset, h.x_scale_factor);
  ok = ok && std::fprintf(file, "%s ", number_buffer) >= 0;
  formatByScale(number_buffer, h.y_scale_factor * point->getY() + h.y_offset, h.y_scale_factor);
  ok = ok && std::fprintf(file, "%s ", number_buffer) >= 0;
  formatByScale(number_buffer, h.z_scale_factor * point->getZ() + h.z_offset, h.z_scale_factor);
  ok = ok && std::fprintf(file, "%s\n", number_buffer) >= 0;
  if (!ok) {
    return reportFailure("ERROR: cannot write point %lld as VRML\n",
                         static_cast<long long>(points_written + 1));
  }
  if (rgb_capacity != 0) {
    uint8_t* rgb = rgb_buffer.data() + kRgbBytesPerPoint * index;
    rgb[0] = eightBits(point->getRgb(0));
    rgb[1] = eightBits(point->getRgb(1));
    rgb[2] = eightBits(point->getRgb(2));
  }
  points_written++;
  return true;
}

bool LASwriterWRL::writeColours(FILE* file) {
  if (!put("\t\tcolor Color {\n", file) || !put("\t\t\tcolor [\n", file)) return false;
  for (int64_t i = 0; i < points_written; i++) {
    const uint8_t* rgb = rgb_buffer.data() + kRgbBytesPerPoint * static_cast<size_t>(i);
    const float r = static_cast<float>(rgb[0]) * kOneOver255;
    const float g = static_cast<float>(rgb[1]) * kOneOver255;
    const float b = static_cast<float>(rgb[2]) * kOneOver255;
    if (std::fprintf(file, "%.2f %.2f %.2f\n", static_cast<double>(r), static_cast<double>(g),
                     static_cast<double>(b)) < 0) {
      return false;
    }
  }
  return put("\t\t\t]\n", file) && put("\t\t}\n", file);
}

int64_t LASwriterWRL::close(bool) {
  FILE* file = output.getFile();
  if (file == nullptr) return 0;
  // The closing text only ends an opening text: nothing after an open that
  // failed before it.
  if (header != nullptr) {
    bool ok = put("\t\t\t]\n", file) && put("\t\t}\n", file);
    if (ok && rgb_capacity != 0) ok = writeColours(file);
    ok = ok && put("\t}\n", file) && put("}\n", file);
    if (!ok) reportFailure("ERROR: cannot write the VRML closing text\n");
  }
  header = nullptr;
  const int64_t bytes = output.finish();
  return endOfClose(bytes);
}
