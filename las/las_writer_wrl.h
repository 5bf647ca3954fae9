// The VRML writer: the points as one VRML97 Shape whose PointSet lists the real
// x, y, z of every point, one line each, and, for points with colour (point
// formats 2, 3 and 5), a Color node with one colour per point, collected while
// the points are written and put out at close. Also formatByScale, which prints a
// coordinate with as many decimals as its scale factor has; the text writer uses
// it too. The text it produces is listed at the top of las_writer_wrl.cpp.
//
// Failed writes, flushes and closes mark the writer failed (LASwriter::failed)
// with one "ERROR: " line.
#ifndef MORROWTIDE_LAS_LAS_WRITER_WRL_H
#define MORROWTIDE_LAS_LAS_WRITER_WRL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"
#include "morrowtide/las/las_writer_output.h"

namespace morrowtide {

// Size of the buffers formatByScale writes into; holds every F64 in "%.15f".
constexpr size_t kNumberBufferSize = 512;

// Removes trailing '0' characters from a number's text, then a '.' left last.
// Requires: the text has a '.' (as "%.Nf" with N > 0 gives).
void trimTrailingZeros(char* text);

}  // namespace morrowtide

// Writes `value` into `buffer` with "%.1f" to "%.9f" when `scale` is exactly
// 0.1, 0.01, ... 1e-09, else with "%.15f" and its trailing zeros (and a '.'
// left last) removed. Requires: `buffer` holds kNumberBufferSize characters.
void formatByScale(char* buffer, double value, double scale);

class LASwriterWRL final : public LASwriter {
 public:
  LASwriterWRL() = default;
  // Closes the writer with close(true) while it holds an output.
  ~LASwriterWRL() override;

  // Creates `file_name` (owned; closed by close), then open(). False with an
  // "ERROR: " line for a null name or a file that cannot be created.
  bool openFile(const char* file_name, const LASheader* header, const char* parse_string);
  // Writes to `file` (not owned, never closed; flushed by close). `header` is not
  // owned and must outlive close(). Decides whether colours are written (see the
  // .cpp) and writes the opening text, first the "#VRML V2.0 utf8" line when
  // `file` is at position 0 or has none. False with one "ERROR: " line for a
  // null file or header or when the opening text cannot be written.
  bool open(FILE* file, const LASheader* header, const char* parse_string);

  // Writes the point's coordinate line and keeps its colour. False, the point not
  // counted and nothing written, when the writer is closed, the colour buffer
  // cannot grow, or the write fails. A null point: false, "ERROR: point pointer
  // is zero\n" the first time.
  bool writePoint(const LASpointRecord* point) override;
  bool chunk() override { return false; }
  bool updateHeader(const LASheader*, bool, bool) override { return true; }
  // Writes the closing text (with the colours), releases the output and returns
  // the file position after it (-1 on an output without position, a pipe). A
  // closed writer returns 0 and writes nothing.
  int64_t close(bool update_point_count = true) override;

  // Points the colour buffer holds room for; 0 when colours are not written.
  size_t rgbCapacity() const { return rgb_capacity; }

 private:
  bool growColours();
  bool writeColours(FILE* file);

  LASwriterOutput output{failureRecord(), "VRML"};
  const LASheader* header = nullptr;  // not owned
  char number_buffer[morrowtide::kNumberBufferSize] = {};
  std::vector<uint8_t> rgb_buffer;  // red, green, blue per point written; kept after close
  size_t rgb_capacity = 0;          // points; 0 when the output has no colours
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_WRL_H
