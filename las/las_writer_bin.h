// The BIN writer: points as fixed-size binary records after a 56-byte header, in
// one of two record versions, each record followed by a time word and a colour
// word when the point has them. Coordinates are integers in the file's own units
// relative to its own origin. The byte layout is listed at the top of
// las_writer_bin.cpp.
//
// Write, seek, position, flush and close failures mark the writer failed (see
// LASwriter::failed) with one "ERROR: " line; an output that cannot seek only
// warns that the count at byte 16 could not be updated.
#ifndef MORROWTIDE_LAS_LAS_WRITER_BIN_H
#define MORROWTIDE_LAS_LAS_WRITER_BIN_H

#include <cstdint>
#include <cstdio>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"
#include "morrowtide/las/las_writer_output.h"

class LASwriterBIN final : public LASwriter {
 public:
  static constexpr int32_t kVersionTs8 = 20010712;   // 16-byte records
  static constexpr int32_t kVersionTs16 = 20020715;  // 20-byte records

  LASwriterBIN() = default;
  // Closes the writer with close(true) while it holds an output, also a caller's
  // FILE (which stays open), so that its stream is released.
  ~LASwriterBIN() override;

  // Creates `file_name` (owned; closed by close) with a stdio buffer of
  // `io_buffer_size` bytes, then open(). False with an "ERROR: " line for a null
  // name or a file that cannot be created.
  bool openFile(const char* file_name, const LASheader* header, const char* version_name,
                uint32_t io_buffer_size);
  // Writes to the caller's `file` (not owned, never closed; flushed by close).
  // False with "ERROR: file pointer is zero\n" for null.
  bool openStdio(FILE* file, const LASheader* header, const char* version_name);
  // Takes `stream` (owned from here on, also when open fails), chooses the record
  // version (20020715 when `version_name` contains "ts16", else 20010712), the
  // units and the origin, and writes the header. False with one "ERROR: " line
  // for a null stream or header, for scale factors that give no units from 1 to
  // 2^31-1, or when the header cannot be written.
  bool open(ByteStreamOut* stream, const LASheader* header, const char* version_name);
  // Later output goes to `file`; the contract is LASwriterOutput::replaceFile's.
  // The old FILE's failed close prints "ERROR: cannot close the BIN output\n".
  bool replaceFile(FILE* file) { return output.replaceFile(file); }

  // Writes the record of the current version and the point's time and colour
  // words. False, the point not counted, when the writer is closed, its open
  // failed, or a write fails (the first failure prints its line). A null point:
  // false, "ERROR: point pointer is zero\n" the first time.
  bool writePoint(const LASpointRecord* point) override;
  bool chunk() override { return false; }
  bool updateHeader(const LASheader*, bool, bool) override { return true; }
  // Patches the count at byte 16 when `update_point_count` and it changed (on an
  // output that cannot seek: a WARNING line), releases the output and returns the
  // bytes from the header's start to the end. A closed writer returns 0.
  int64_t close(bool update_point_count = true) override;

  int32_t getVersion() const { return version; }
  int32_t getUnits() const { return units; }

 private:
  LASwriterOutput output{failureRecord(), "BIN"};
  int64_t header_start = 0;     // stream position of the header's first byte
  bool header_written = false;  // the last open wrote the header; points may follow
  int32_t version = 0;
  int32_t units = 0;
  double origin_x = 0.0;
  double origin_y = 0.0;
  double origin_z = 0.0;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_BIN_H
