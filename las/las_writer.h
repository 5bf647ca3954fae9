// The abstract writer behind every output format (LAS and compressed LAS, BIN,
// QFIT, VRML, ASCII text). The output opener creates and opens one and hands it
// out as a LASwriter; the caller drives it through these operations only, in the
// order: writePoint and updateInventory per point, updateHeader, close, delete.
#ifndef MORROWTIDE_LAS_LAS_WRITER_H
#define MORROWTIDE_LAS_LAS_WRITER_H

#include <cstdint>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_messages.h"
#include "morrowtide/las/las_point_inventory.h"
#include "morrowtide/las/las_point_record.h"

class LASwriter {
 public:
  LASwriter(const LASwriter&) = delete;
  LASwriter& operator=(const LASwriter&) = delete;
  // Does nothing here; a derived writer that still holds its output closes it
  // with close(true).
  virtual ~LASwriter() = default;

  // Writes one point laid out for the header's point format and counts it in
  // points_written. The result is success as far as the writer tests it.
  virtual bool writePoint(const LASpointRecord* point) = 0;
  // Counts the point in `inventory`; true. The caller calls it after writePoint
  // when it wants the inventory kept; writers never call it. A null point is
  // not counted: false with "ERROR: point pointer is zero\n" (the first time).
  virtual bool updateInventory(const LASpointRecord* point) {
    if (point == nullptr) return refuseNullPoint();
    return inventory.add(point);
  }
  // Ends the current chunk of compressed points. Only the LAS writer supports
  // it; the other writers return false.
  virtual bool chunk() = 0;
  // Brings the counts and bounding box of the header already written up to date,
  // from the inventory when `use_inventory` is true, else from `header`. Only the
  // LAS writer changes anything; the others return true.
  virtual bool updateHeader(const LASheader* header, bool use_inventory,
                            bool update_extra_bytes) = 0;
  // Finishes and releases the output; returns the number of bytes written. Ends
  // with expected_points = points_written and points_written = 0.
  virtual int64_t close(bool update_point_count) = 0;

  // True from the first failed write, seek, position query, flush or close of
  // the output on, and for good. That failure printed one "ERROR: " line naming
  // what failed; later failures print nothing. close() still returns its byte
  // count, so a caller that must know whether every byte went out asks failed()
  // after close(). An output that merely cannot seek (a pipe) is no failure.
  bool failed() const { return first_failure.failed(); }

  LASscaleOffset scale_offset;  // 0.01 each and offsets 0 until a writer sets them
  int64_t expected_points = 0;
  int64_t points_written = 0;
  LASpointInventory inventory;

 protected:
  LASwriter();
  // Marks the writer failed and prints the printf-style `format` (a whole
  // "ERROR: " line) unless an earlier failure was reported. Returns false.
  bool reportFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Marks the writer failed and prints the line even when an earlier failure
  // printed its own: for what close or updateHeader could not write because the
  // caller's data was missing. Returns false.
  bool reportFailureAlways(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // A call the writer cannot serve: made out of order, or with a null point.
  // Nothing is written and no output is lost, so the writer is not marked
  // failed; the line is printed for the first mistake of each kind of this
  // writer object only, so a loop of bad calls does not flood standard error.
  enum class Misuse : uint8_t { kNotOpen = 1, kNullPoint = 2 };
  bool reportMisuse(Misuse kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // "ERROR: point pointer is zero\n" as a misuse. Returns false.
  bool refuseNullPoint();

  // The record of the writer's first failure, for the output it writes through
  // (LASwriterOutput) to report its own failures in.
  las_messages::FirstFailure& failureRecord() { return first_failure; }
  // The last step of every close: expected_points becomes the number of points
  // written, points_written 0. Returns `result`, close's result.
  int64_t endOfClose(int64_t result) {
    expected_points = points_written;
    points_written = 0;
    return result;
  }

 private:
  las_messages::FirstFailure first_failure;
  uint8_t misuse_reported = 0;  // the Misuse kinds already printed
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_H
