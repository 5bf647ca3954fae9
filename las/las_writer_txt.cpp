// The ASCII text writer. Each point is one line: the columns of the parse string's
// letters, one separator character between two columns, '\n' after the last
// (an empty parse string gives an empty line). Letters:
//   x y z   real coordinate, formatByScale with the header's scale factor
//   X Y Z   integer coordinate        t  GPS time "%.6f"
//   i       intensity; PTS: intensity - 2048; PTX: intensity / 4095 (F32) "%.3f"
//           without trailing zeros
//   a r n c u p e d h k g o l   scan angle rank, return number, number of
//           returns, class (5 bits, or the LAS 1.4 class when those are 0), user
//           data, point source ID, edge, direction, withheld, keypoint,
//           synthetic, overlap flags, scanner channel
//   M m     number of the point from 1, from 0      w  wave packet index
//   W       wave packet: index, offset, size, location, x_t, y_t, z_t
//   R G B   colour channel, or scale_rgb times it "%.2f" when the scale is not 1
//   s       an empty column      0-9  that extra-bytes attribute
// PTS header: one line with the point count and seven spaces. PTX header: the
// column and row counts (five spaces after each), then four lines of three and
// four lines of four numbers from the record 2001 (272 bytes) of "Vektrion".
// The PTS count is the header's at open; close rewrites it in place with the
// points written, left-aligned in the line's width, where it can (see close).
#include "morrowtide/las/las_writer_txt.h"

#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::getF64LE;
using morrowtide::getU64LE;
using morrowtide::kVlrCountOverrunLine;
using morrowtide::readAttributeValue;
using morrowtide::trimTrailingZeros;

namespace {

using las_messages::printLine;

constexpr char kVektrion[] = "Vektrion";
constexpr uint16_t kRecordIdPts = 2000;
constexpr uint16_t kRecordIdPtx = 2001;
constexpr uint32_t kRecordParseStringAt = 16;
constexpr uint32_t kPtsRecordMinimum = 32;
constexpr uint32_t kPtxRecordSize = 272;
constexpr uint32_t kPtxColumnsAt = 32;
constexpr uint32_t kPtxRowsAt = 40;
constexpr uint32_t kPtxVectorsAt = 48;  // four lines of three F64
constexpr uint32_t kPtxMatrixAt = 144;  // four lines of four F64
constexpr int32_t kPtsIntensityShift = 2048;
constexpr float kPtxIntensityScale = 0.00024420026f;  // the F32 nearest to 1/4095
constexpr uint8_t kOverlapFlag = 0x08;

struct SeparatorName {
  const char* name;
  char separator;
};
constexpr SeparatorName kSeparators[] = {
    {"comma", ','},     {"tab", '\t'},   {"dot", '.'},   {"period", '.'}, {"colon", ':'},
    {"semicolon", ';'}, {"hyphen", '-'}, {"minus", '-'}, {"space", ' '},
};

constexpr char kLetters[] = "BGMRWXYZacdeghiklmnoprstuwxyz";

constexpr const char* kHelpLines[] = {
    "       'x' : the x coordinate\n",
    "       'y' : the y coordinate\n",
    "       'z' : the z coordinate\n",
    "       't' : the gps time\n",
    "       'R' : the red channel of the RGB field\n",
    "       'G' : the green channel of the RGB field\n",
    "       'B' : the blue channel of the RGB field\n",
    "       's' : a string or a number that we don't care about\n",
    "       'i' : the intensity\n",
    "       'a' : the scan angle\n",
    "       'n' : the number of returns of that given pulse\n",
    "       'r' : the number of the return\n",
    "       'c' : the classification\n",
    "       'u' : the user data\n",
    "       'p' : the point source ID\n",
    "       'e' : the edge of flight line flag\n",
    "       'd' : the direction of scan flag\n",
    "       'h' : the withheld flag\n",
    "       'k' : the keypoint flag\n",
    "       'g' : the synthetic flag\n",
    "       'o' : the overlap flag\n",
    "       'l' : the scanner channel\n",
    "       'M' : the index of the point\n",
    "       'w' : the wavepacket descriptor index\n",
    "       'W' : all wavepacket attributes\n",
    "       'X' : the unscaled and unoffset integer x coordinate\n",
    "       'Y' : the unscaled and unoffset integer y coordinate\n",
    "       'Z' : the unscaled and unoffset integer z coordinate\n",
};

// The parse strings that PTS and PTX readers take.
bool isScannerParseString(const std::string& s) {
  return s == "xyz" || s == "xyzi" || s == "xyziRGB" || s == "xyzRGB";
}

const char* defaultParseString(uint8_t point_format) {
  switch (point_format) {
    case 1:
    case 4:
      return "xyzt";
    case 2:
      return "xyzRGB";
    case 3:
    case 5:
      return "xyztRGB";
    default:
      return "xyz";
  }
}

// The first record of user "Vektrion" with `record_id`, or null.
const LASvlrRecord* findRecord(const LASheader& header, uint16_t record_id) {
  if (header.vlrs == nullptr) return nullptr;
  for (uint32_t i = 0; i < header.number_of_variable_length_records; i++) {
    const LASvlrRecord& r = header.vlrs[i];
    if (r.record_id == record_id && std::strncmp(r.user_id, kVektrion, sizeof(r.user_id)) == 0) {
      return &r;
    }
  }
  return nullptr;
}

// Bytes of each extra-bytes data type 1 to 10; 0 for the types without text form.
uint32_t attributeSize(uint8_t data_type) {
  constexpr uint32_t kSizes[11] = {0, 1, 1, 2, 2, 4, 4, 0, 0, 4, 8};
  return data_type <= 10 ? kSizes[data_type] : 0;
}

bool put(const char* text, FILE* file) { return std::fputs(text, file) >= 0; }

}  // namespace

LASwriterTXT::~LASwriterTXT() {
  if (output.holdsOutput()) close(true);
}

bool LASwriterTXT::openFile(const char* file_name, const LASheader* header, const char* parse,
                            const char* separator_name_given) {
  if (!output.openFile(file_name, "w", 0)) return false;
  if (!open(output.getFile(), header, parse, separator_name_given)) return false;
  if (count_line) count_line->in_own_file = true;
  return true;
}

bool LASwriterTXT::replaceFile(FILE* file) {
  FILE* const before = output.getFile();
  if (!output.replaceFile(file)) return false;
  // The count line stays behind in the FILE it was written to.
  if (count_line && output.getFile() != before) count_line->in_own_file = false;
  return true;
}

bool LASwriterTXT::open(FILE* file, const LASheader* h, const char* parse,
                        const char* separator_name_given) {
  if (file == nullptr) return printLine("ERROR: file pointer is zero\n");
  if (output.getFile() != file && !output.useFile(file)) return false;
  count_line.reset();
  header = h;
  if (h == nullptr) return printLine("ERROR: LASheader pointer is zero\n");
  scale_offset = static_cast<const LASscaleOffset&>(*h);
  parse_string.reset();
  // The PTS and PTX headers look through the header's records. Refused before
  // the parse string is settled, so that no point is written afterwards.
  if ((pts || ptx) && h->vlrCountOverrunsArray()) {
    return printLine(kVlrCountOverrunLine, h->number_of_variable_length_records, h->madeVlrCount());
  }
  if (parse != nullptr) parse_string = parse;

  if (separator_name_given != nullptr) {
    const SeparatorName* found = nullptr;
    for (const SeparatorName& s : kSeparators) {
      if (std::strcmp(separator_name_given, s.name) == 0) {
        found = &s;
        break;
      }
    }
    if (found == nullptr) return printLine("ERROR: unknown seperator '%s'\n", separator_name_given);
    separator = found->separator;
    separator_name = separator_name_given;
  }

  intensity_mode = IntensityMode::kPlain;
  if (pts) {
    if (!writePtsHeader(file)) return reportFailure("ERROR: cannot write the PTS header\n");
  } else if (ptx) {
    if (!writePtxHeader(file)) return reportFailure("ERROR: cannot write the PTX header\n");
  }

  if (!parse_string) parse_string = defaultParseString(h->point_data_format);
  if (checkParseString()) return true;
  count_line.reset();  // the lines of a failed open stay as they were written
  return false;
}

void LASwriterTXT::takeRecordParseString(const LASvlrRecord& record) {
  if (parse_string && *parse_string != "original") return;
  const char* text = reinterpret_cast<const char*>(record.data + kRecordParseStringAt);
  parse_string =
      std::string(text, strnlen(text, record.record_length_after_header - kRecordParseStringAt));
}

void LASwriterTXT::warnAboutColumns(const char* kind) const {
  if (parse_string && !isScannerParseString(*parse_string)) {
    printLine(
        "WARNING: the parse string for %s should be 'xyz', 'xyzi', 'xyziRGB', or "
        "'xyzRGB'\n",
        kind);
  }
  if (separator != ' ') {
    printLine("WARNING: the separator for %s should be 'space' not '%s'\n", kind,
              separator_name.c_str());
  }
}

bool LASwriterTXT::writePtsCountLine(FILE* file) {
  CountLine line;
  line.count = header->version_minor < 4
                   ? static_cast<long long>(header->number_of_point_records)
                   : static_cast<long long>(header->extended_number_of_point_records);
  line.at = ftello(file);  // -1 on a pipe: nothing to come back to
  const int length = std::fprintf(file, "%lld       \n", line.count);
  if (length < 0) return false;
  line.width = length - 1;
  count_line = line;
  return true;
}

void LASwriterTXT::updateCountLine() {
  if (!count_line) return;
  const CountLine line = *count_line;
  count_line.reset();
  const long long points = static_cast<long long>(points_written);
  if (points == line.count) return;
  char digits[24];
  const int length = std::snprintf(digits, sizeof(digits), "%lld", points);
  FILE* file = output.getFile();
  // Only in a file of this writer's own, and by the byte streams' rule for a
  // FILE that can seek: a regular file not opened for appending, never
  // standard output.
  const bool rewritable = line.in_own_file && line.at >= 0 && length <= line.width &&
                          ByteStreamOutFileLE(file).canSeek();
  if (!rewritable) {
    printLine("WARNING: cannot update PTS count line from %lld to %lld points.\n", line.count,
              points);
    return;
  }
  // Padded to the line's width, so that no point line moves; back at the end
  // afterwards, so that close counts the bytes as before.
  const bool updated = fseeko(file, line.at, SEEK_SET) == 0 &&
                       std::fprintf(file, "%-*s", line.width, digits) == line.width &&
                       fseeko(file, 0, SEEK_END) == 0;
  if (!updated) reportFailure("ERROR: cannot update the PTS count line to %lld points\n", points);
}

bool LASwriterTXT::writePtsHeader(FILE* file) {
  intensity_mode = IntensityMode::kPts;
  const LASvlrRecord* record = findRecord(*header, kRecordIdPts);
  if (record == nullptr) record = findRecord(*header, kRecordIdPtx);
  if (record == nullptr) {
    printLine("WARNING: found no VLR with PTS or PTX info.\n");
  } else if (!parse_string || *parse_string == "original") {
    if (record->record_length_after_header >= kPtsRecordMinimum && record->data != nullptr) {
      takeRecordParseString(*record);
    } else {
      printLine("WARNING: found VLR for %s with wrong payload size of %d.\n",
                record->record_id == kRecordIdPts ? "PTS" : "PTX",
                static_cast<int32_t>(record->record_length_after_header));
    }
  }
  if (!writePtsCountLine(file)) return false;
  warnAboutColumns("PTS");
  return true;
}

bool LASwriterTXT::writePtxHeader(FILE* file) {
  const LASvlrRecord* record = findRecord(*header, kRecordIdPtx);
  const bool usable = record != nullptr && record->record_length_after_header == kPtxRecordSize &&
                      record->data != nullptr;
  bool ok = true;
  if (usable) {
    intensity_mode = IntensityMode::kPtx;
    takeRecordParseString(*record);
    const uint8_t* d = record->data;
    ok = std::fprintf(file, "%u     \n", static_cast<uint32_t>(getU64LE(d + kPtxColumnsAt))) >= 0 &&
         std::fprintf(file, "%u     \n", static_cast<uint32_t>(getU64LE(d + kPtxRowsAt))) >= 0;
    for (uint32_t line = 0; ok && line < 4; line++) {
      const uint8_t* v = d + kPtxVectorsAt + 24 * line;
      ok = std::fprintf(file, "%g %g %g\n", getF64LE(v), getF64LE(v + 8), getF64LE(v + 16)) >= 0;
    }
    for (uint32_t line = 0; ok && line < 4; line++) {
      const uint8_t* m = d + kPtxMatrixAt + 32 * line;
      ok = std::fprintf(file, "%g %g %g %g\n", getF64LE(m), getF64LE(m + 8), getF64LE(m + 16),
                        getF64LE(m + 24)) >= 0;
    }
  } else {
    // A file announced as PTS prints its intensities as PTS does.
    intensity_mode = IntensityMode::kPts;
    if (record != nullptr) {
      printLine("WARNING: found VLR for PTX with wrong payload size of %d.\n",
                static_cast<int32_t>(record->record_length_after_header));
    } else {
      printLine("WARNING: found no VLR with PTX info.\n");
    }
    printLine("         outputting PTS instead ...\n");
    ok = writePtsCountLine(file);
  }
  if (!ok) return false;
  warnAboutColumns("PTX");
  return true;
}

bool LASwriterTXT::checkParseString() {
  for (const char c : *parse_string) {
    if (c >= '0' && c <= '9') {
      const int32_t d = c - '0';
      if (d >= header->attribute_count) {
        return printLine("ERROR: extra bytes attribute '%d' does not exist.\n", d);
      }
      attribute_offsets_by_digit[d] =
          header->attribute_offsets != nullptr ? header->attribute_offsets[d] : -1;
    } else if (c == '\0' || std::strchr(kLetters, c) == nullptr) {
      printLine("ERROR: unknown symbol '%c' in parse string. valid are\n", c);
      for (const char* line : kHelpLines) std::fputs(line, stderr);
      return false;
    }
  }
  return true;
}

bool LASwriterTXT::writePoint(const LASpointRecord* point) {
  FILE* file = output.getFile();
  // An open that failed before the header or the parse string was settled
  // leaves nothing to write the columns by.
  if (file == nullptr || header == nullptr || !parse_string) return false;
  if (point == nullptr) return refuseNullPoint();
  points_written++;
  bool ok = true;
  const std::string& letters = *parse_string;
  for (size_t i = 0; ok && i < letters.size(); i++) {
    if (i > 0) ok = std::fputc(separator, file) != EOF;
    ok = ok && writeColumn(letters[i], *point, file);
  }
  ok = ok && std::fputc('\n', file) != EOF;
  if (!ok) {
    reportFailure("ERROR: cannot write point %lld as text\n",
                  static_cast<long long>(points_written));
    points_written--;  // counted first for the 'M' and 'm' columns, but not written
    return false;
  }
  return true;
}

bool LASwriterTXT::writeColumn(char letter, const LASpointRecord& point, FILE* file) {
  const LASheader& h = *header;
  auto integer = [file](int32_t v) { return std::fprintf(file, "%d", v) >= 0; };
  switch (letter) {
    case 'x':
      formatByScale(number_buffer, point.getX() * h.x_scale_factor + h.x_offset, h.x_scale_factor);
      return put(number_buffer, file);
    case 'y':
      formatByScale(number_buffer, point.getY() * h.y_scale_factor + h.y_offset, h.y_scale_factor);
      return put(number_buffer, file);
    case 'z':
      formatByScale(number_buffer, point.getZ() * h.z_scale_factor + h.z_offset, h.z_scale_factor);
      return put(number_buffer, file);
    case 'X':
      return integer(point.getX());
    case 'Y':
      return integer(point.getY());
    case 'Z':
      return integer(point.getZ());
    case 't':
      return std::fprintf(file, "%.6f", point.getGpsTime()) >= 0;
    case 'i':
      return writeIntensity(point, file);
    case 'a':
      return integer(point.getScanAngleRank());
    case 'r':
      return integer(point.getReturnNumber());
    case 'n':
      return integer(point.getNumberOfReturns());
    case 'c':
      return integer(point.getEffectiveClassification());
    case 'u':
      return integer(point.getUserData());
    case 'p':
      return integer(point.getPointSourceID());
    case 'e':
      return integer(point.getEdgeOfFlightLine());
    case 'd':
      return integer(point.getScanDirectionFlag());
    case 'h':
      return integer(point.getWithheldFlag());
    case 'k':
      return integer(point.getKeypointFlag());
    case 'g':
      return integer(point.getSyntheticFlag());
    case 'o':
      return integer((point.getExtendedClassificationFlags() & kOverlapFlag) ? 1 : 0);
    case 'l':
      return integer(point.getScannerChannel());
    case 'M':
      return std::fprintf(file, "%lld", static_cast<long long>(points_written)) >= 0;
    case 'm':
      return std::fprintf(file, "%lld", static_cast<long long>(points_written - 1)) >= 0;
    case 'w':
      return integer(point.wavepacket.getIndex());
    case 'W':
      return writeWavePacket(point, file);
    case 'R':
      return writeColour(point.getRgb(0), file);
    case 'G':
      return writeColour(point.getRgb(1), file);
    case 'B':
      return writeColour(point.getRgb(2), file);
    case 's':
      return true;
    default:
      if (letter >= '0' && letter <= '9') return writeAttribute(point, letter - '0', file);
      return true;  // checkParseString lets no other letter through
  }
}

bool LASwriterTXT::writeIntensity(const LASpointRecord& point, FILE* file) {
  const uint16_t intensity = point.getIntensity();
  switch (intensity_mode) {
    case IntensityMode::kPts:
      return std::fprintf(file, "%d", intensity - kPtsIntensityShift) >= 0;
    case IntensityMode::kPtx: {
      const float scaled = static_cast<float>(intensity) * kPtxIntensityScale;
      std::snprintf(number_buffer, sizeof(number_buffer), "%.3f", static_cast<double>(scaled));
      trimTrailingZeros(number_buffer);
      return put(number_buffer, file);
    }
    case IntensityMode::kPlain:
      break;
  }
  return std::fprintf(file, "%d", intensity) >= 0;
}

bool LASwriterTXT::writeColour(uint16_t value, FILE* file) {
  if (scale_rgb == 1.0f) return std::fprintf(file, "%d", value) >= 0;
  const float scaled = scale_rgb * static_cast<float>(value);
  return std::fprintf(file, "%.2f", static_cast<double>(scaled)) >= 0;
}

bool LASwriterTXT::writeWavePacket(const LASpointRecord& point, FILE* file) {
  const LASwavepacket& w = point.wavepacket;
  const char s = separator;
  return std::fprintf(file, "%d%c%llu%c%u%c%g%c%.15g%c%.15g%c%.15g", w.getIndex(), s,
                      static_cast<unsigned long long>(w.getOffset()), s, w.getSize(), s,
                      static_cast<double>(w.getLocation()), s, static_cast<double>(w.getXt()), s,
                      static_cast<double>(w.getYt()), s, static_cast<double>(w.getZt())) >= 0;
}

bool LASwriterTXT::writeAttribute(const LASpointRecord& point, int32_t index, FILE* file) {
  if (index >= header->attribute_count || header->attribute_descriptors == nullptr) return true;
  const LASextraAttribute& a = header->attribute_descriptors[index];
  const uint32_t size = attributeSize(a.data_type);
  if (size == 0) {
    printLine("WARNING: attribute %d not (yet) implemented.\n", index);
    return true;
  }
  const int32_t start = attribute_offsets_by_digit[index];
  // Only bytes wholly inside the point's extra bytes are read; else the column
  // stays empty.
  if (start < 0 || point.extra_bytes == nullptr ||
      static_cast<int64_t>(start) + size > point.extra_bytes_size) {
    return true;
  }
  const double value = readAttributeValue(a, point.extra_bytes + start);
  constexpr uint8_t kScaleOrOffsetBits = 0x18;
  const bool integral = a.data_type <= 6 && (a.options & kScaleOrOffsetBits) == 0;
  // Every integer type fits an F64 exactly; "%.0f" prints it in full, U32
  // values of 2^31 and above included.
  if (integral) return std::fprintf(file, "%.0f", value) >= 0;
  return std::fprintf(file, "%g", value) >= 0;
}

int64_t LASwriterTXT::close(bool) {
  if (output.getFile() == nullptr) return 0;
  updateCountLine();
  // On a pipe, which has no position, the count shows all 32 bits set.
  const int64_t position = output.finish();
  header = nullptr;
  parse_string.reset();
  return endOfClose(static_cast<int64_t>(static_cast<uint32_t>(position)));
}
