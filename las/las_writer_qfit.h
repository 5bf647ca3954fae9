// The QFIT writer: points as fixed-size records of 32-bit words in geographic
// coordinates (time in milliseconds, latitude and longitude in micro-degrees,
// elevation in thousandths, intensity, scan azimuth, pitch, roll, pulse width),
// after two header records of the same size. The byte layout is listed at the top
// of las_writer_qfit.cpp.
//
// Write, position, flush and close failures mark the writer failed (see
// LASwriter::failed) with one "ERROR: " line.
#ifndef MORROWTIDE_LAS_LAS_WRITER_QFIT_H
#define MORROWTIDE_LAS_LAS_WRITER_QFIT_H

#include <cstdint>
#include <cstdio>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"
#include "morrowtide/las/las_writer_output.h"

class LASwriterQFIT final : public LASwriter {
 public:
  static constexpr int32_t kLargestRecord = 56;

  LASwriterQFIT() = default;
  // Closes the writer with close(true) while it holds an output, also a caller's
  // FILE (which stays open), so that its stream is released.
  ~LASwriterQFIT() override;

  // Creates `file_name` (owned; closed by close) with a stdio buffer of
  // `io_buffer_size` bytes, then open(). False with an "ERROR: " line for a null
  // name or a file that cannot be created.
  bool openFile(const char* file_name, const LASheader* header, int32_t version,
                uint32_t io_buffer_size);
  // Writes to the caller's `file` (not owned, never closed; flushed by close).
  // False with "ERROR: file pointer is zero\n" for null.
  bool openStdio(FILE* file, const LASheader* header, int32_t version);
  // Takes `stream` (owned from here on, also when open fails), checks that the
  // header's bounding box lies within +-361 degrees, finds the extra-bytes
  // attributes "scan azimuth", "pitch", "roll" and "pulse width", settles the
  // record length (`version`: 40, 48 or 56; 0 picks 40, or 48 with a pulse width;
  // other values warn and use 48) and writes the two header records. False with
  // one "ERROR: " line on failure.
  bool open(ByteStreamOut* stream, const LASheader* header, int32_t version);
  // Later output goes to `file`; the contract is LASwriterOutput::replaceFile's.
  // The old FILE's failed close prints "ERROR: cannot close the QFIT output\n".
  bool replaceFile(FILE* file) { return output.replaceFile(file); }

  // Writes one record. False, the point not counted, when the writer is closed,
  // its open failed, or the write fails (the first failure prints its line). A
  // null point: false, "ERROR: point pointer is zero\n" the first time.
  bool writePoint(const LASpointRecord* point) override;
  bool chunk() override { return false; }
  bool updateHeader(const LASheader*, bool, bool) override { return true; }
  // Releases the output and returns the bytes written (the header holds no count,
  // so `update_point_count` has no effect). A closed writer returns 0.
  int64_t close(bool update_point_count = true) override;

  int32_t getVersion() const { return version; }
  bool getRescale() const { return rescale; }

 private:
  // The I32 (or, for the pulse width, U8) attribute at `start` in the point's extra
  // bytes; `absent` when there is no such attribute or its bytes do not lie
  // wholly inside the point's extra bytes.
  static int32_t attributeI32(const LASpointRecord& point, int32_t start, int32_t absent);
  static int32_t attributeU8(const LASpointRecord& point, int32_t start);

  LASwriterOutput output{failureRecord(), "QFIT"};
  int32_t version = 0;          // record length in bytes
  bool header_written = false;  // the last open wrote the header; points may follow
  bool rescale = false;
  uint8_t record[kLargestRecord] = {};  // the record being assembled, little-endian words
  int32_t scan_azimuth_start = -1;
  int32_t pitch_start = -1;
  int32_t roll_start = -1;
  int32_t pulse_width_start = -1;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_QFIT_H
