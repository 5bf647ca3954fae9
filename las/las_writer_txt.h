// The ASCII text writer: one line per point, one column per letter of a parse
// string, the columns separated by one separator character; optionally first the
// header lines of the PTS or PTX scanner formats, taken from the records 2000
// (PTS) and 2001 (PTX) of user "Vektrion" when the header carries them. The
// columns and header lines are listed at the top of las_writer_txt.cpp.
//
// Failed writes, flushes and closes mark the writer failed (LASwriter::failed)
// with one "ERROR: " line.
#ifndef MORROWTIDE_LAS_LAS_WRITER_TXT_H
#define MORROWTIDE_LAS_LAS_WRITER_TXT_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"
#include "morrowtide/las/las_writer_output.h"
#include "morrowtide/las/las_writer_wrl.h"

class LASwriterTXT final : public LASwriter {
 public:
  LASwriterTXT() = default;
  // Closes the writer with close(true) while it holds an output.
  ~LASwriterTXT() override;

  // PTS or PTX header lines (PTS wins when both are set); set before opening.
  void setPts(bool pts) { this->pts = pts; }
  void setPtx(bool ptx) { this->ptx = ptx; }
  // Factor for the colour columns from the next point on; exactly 1.0 prints the
  // values themselves.
  void setScaleRgb(float scale_rgb) { this->scale_rgb = scale_rgb; }

  // Creates `file_name` (owned; closed by close), then open(). False with an
  // "ERROR: " line for a null name or a file that cannot be created.
  bool openFile(const char* file_name, const LASheader* header, const char* parse_string,
                const char* separator_name);
  // Writes to `file` (not owned, never closed; flushed by close). `header` is not
  // owned and must outlive close(). A null `separator_name` keeps the current
  // separator; a null `parse_string` takes the PTS/PTX record's or the point
  // format's default. Writes the PTS/PTX header lines, then checks the parse
  // string. False with an "ERROR: " line for a null file or header, an unknown
  // separator name, a bad parse string (with the help lines) or a failed write.
  bool open(FILE* file, const LASheader* header, const char* parse_string,
            const char* separator_name);
  // Later output goes to `file`; the contract is LASwriterOutput::replaceFile's.
  // The old FILE's failed close prints "ERROR: cannot close the text output\n".
  // A PTS count line left in the old FILE is no longer rewritten at close.
  bool replaceFile(FILE* file);

  // Writes one line. False, the point not counted, when the writer is closed, its
  // open failed before the header and parse string were settled, or the write
  // fails (the first failure prints its line). A null point: false,
  // "ERROR: point pointer is zero\n" the first time.
  bool writePoint(const LASpointRecord* point) override;
  bool chunk() override { return false; }
  bool updateHeader(const LASheader*, bool, bool) override { return true; }
  // Releases the output and the parse string and returns the low 32 bits of the
  // output's position (4294967295 on a pipe, which has none). A closed writer
  // returns 0. First, when a PTS count line (also PTX's fallback to it) holds
  // another count than the points written, it is rewritten with that count,
  // left-aligned and padded with spaces to its length at open, in a file that
  // openFile made and that can seek, with no replaceFile since; the byte count
  // stays the same. Elsewhere, or when the count is longer than the line, the
  // line stays and "WARNING: cannot update PTS count line from %lld to %lld
  // points.\n" is printed. A failed rewrite is a failure with an "ERROR: " line.
  int64_t close(bool update_point_count = true) override;

  // The parse string in force, or null.
  const char* getParseString() const { return parse_string ? parse_string->c_str() : nullptr; }

 private:
  // How the intensity column prints: as stored, less 2048 (PTS), or scaled to 0..1 (PTX).
  enum class IntensityMode { kPlain, kPts, kPtx };

  bool writePtsHeader(FILE* file);
  bool writePtxHeader(FILE* file);
  bool writePtsCountLine(FILE* file);
  // close's update of the PTS count line.
  void updateCountLine();
  // The PTS/PTX warnings on the parse string and separator; `kind` "PTS" or "PTX".
  void warnAboutColumns(const char* kind) const;
  // Takes the record's parse string (payload bytes 16 on, within the payload)
  // when none or "original" was given.
  void takeRecordParseString(const LASvlrRecord& record);
  bool checkParseString();
  bool writeColumn(char letter, const LASpointRecord& point, FILE* file);
  bool writeIntensity(const LASpointRecord& point, FILE* file);
  bool writeColour(uint16_t value, FILE* file);
  bool writeWavePacket(const LASpointRecord& point, FILE* file);
  // Writes extra-bytes attribute `index`; writes nothing (and returns true) for
  // an attribute whose bytes do not lie inside the point's extra bytes.
  bool writeAttribute(const LASpointRecord& point, int32_t index, FILE* file);

  // The PTS count line of the open output, as written at open.
  struct CountLine {
    int64_t at = -1;           // position of its first character; -1 when unknown
    long long count = 0;       // the count it holds
    int width = 0;             // its characters before '\n': the count and seven spaces
    bool in_own_file = false;  // in the file openFile made, with no replaceFile since
  };

  LASwriterOutput output{failureRecord(), "text"};
  std::optional<CountLine> count_line;  // only after a successful open with one
  const LASheader* header = nullptr;    // not owned
  std::optional<std::string> parse_string;
  bool pts = false;
  bool ptx = false;
  IntensityMode intensity_mode = IntensityMode::kPlain;
  float scale_rgb = 1.0f;
  char separator = ' ';
  std::string separator_name = "space";  // the name the separator was chosen by
  char number_buffer[morrowtide::kNumberBufferSize] = {};
  int32_t attribute_offsets_by_digit[10] = {};
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_TXT_H
