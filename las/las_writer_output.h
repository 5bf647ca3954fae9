// The output every writer writes through: a stdio FILE that the writer opened
// by name (owned, closed at release, with a stdio buffer of the output's own)
// or that a caller handed in (not owned, only flushed at release), and the byte
// stream over it or over another sink (always owned). One place gives the
// writers one way to open, to switch FILEs and to end their output.
//
// Each writer keeps its own lines. The side writers (BIN, QFIT, VRML, text)
// name the output by its kind: "ERROR: cannot open file '%s'\n", "ERROR: cannot
// close the BIN output\n"; the LAS writer names it by its file name or target:
// "ERROR: cannot open file '%s' for write\n", "ERROR: closing output 'x.las'\n".
// A failed flush, close or position query marks the writer's first failure
// (las_messages::FirstFailure); a refused open only prints its line. Every
// FILE opened here is closed by one rule (morrowtide::closeFile), which the
// waveform writer shares.
#ifndef MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H
#define MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/las/las_messages.h"

namespace morrowtide {

// Closes `file` (not null). False when fclose fails, and also when the FILE's
// error indicator was set before: a flush that someone else set off (fflush of
// every FILE) may have lost bytes and left fclose nothing to fail on.
bool closeFile(std::FILE* file);

// The deleter of a FILE owned through std::unique_ptr, closing by closeFile. The
// owner closes the FILE itself, closeFile(file.release()), where the result can
// be reported; the deleter serves an owner destroyed before that, when there is
// no one left to tell.
struct FileCloser {
  void operator()(std::FILE* file) const { static_cast<void>(morrowtide::closeFile(file)); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace morrowtide

class LASwriterOutput final {
 public:
  // A side writer's output, named `kind` ("BIN"; static text, not owned) in its
  // lines. `failures` is the writer's and outlives the output.
  LASwriterOutput(las_messages::FirstFailure& failures, const char* kind)
      : failures(failures), kind(kind) {}
  // The LAS writer's output, named by name() in its lines.
  explicit LASwriterOutput(las_messages::FirstFailure& failures) : failures(failures) {}
  // Frees whatever is still held, without a report: the writers release their
  // output in close(), which reports, before they are destroyed.
  ~LASwriterOutput();
  LASwriterOutput(const LASwriterOutput&) = delete;
  LASwriterOutput& operator=(const LASwriterOutput&) = delete;

  // Opens `file_name` with fopen(`mode`), owned from here on, with full stdio
  // buffering of `buffer_size` bytes in a buffer of the output's own: a side
  // writer's only for a size above 0, the LAS writer's always (stdio's buffer
  // for a size of 0 or less). A refused setvbuf warns ("WARNING: setvbuf()
  // failed with buffer size %u\n", the LAS writer's with %d) and the open goes
  // on. False with "ERROR: file name pointer is zero\n" or the cannot-open
  // line. Requires: nothing is held.
  bool openFile(const char* file_name, const char* mode, int64_t buffer_size);
  // Uses the caller's `file` (not owned, never closed). False with "ERROR: file
  // pointer is zero\n" for null. Requires: nothing is held.
  bool useFile(FILE* file);
  // Takes `stream` (owned from here on, also when the writer then fails).
  void takeStream(ByteStreamOut* stream) { this->stream.reset(stream); }
  // The LAS writer's name for an output it did not open by name ("ostream").
  void setName(const char* name) { this->name = name; }

  // The contract of every writer's replaceFile (LAS, BIN, QFIT, text), stated
  // here once; a writer's header adds only its own: the close line it prints
  // and, for the LAS writer, where what it still holds at the switch goes.
  // Later output goes to `file`, from its own position on: true whenever it
  // does (also for the FILE already in use, which changes nothing). A FILE the
  // writer opened by name is closed, and a failed close prints the writer's
  // close line and makes failed() true (the result is still true); `file` is
  // then the writer's, closed by its close(). A caller's FILE stays the
  // caller's, and so does `file`. False, `file` untouched and still the
  // caller's, when the writer holds no output, `file` is null, or its stream
  // writes to no FILE ("ERROR: the stream of this writer has no FILE to
  // replace\n").
  bool replaceFile(FILE* file);

  FILE* getFile() const { return file; }
  ByteStreamOut* getStream() const { return stream.get(); }
  bool holdsOutput() const { return file != nullptr || stream != nullptr; }
  const std::string& getName() const { return name; }

  // The LAS writer's first step of its end: hands the stream's buffered bytes
  // on to its sink. False, with the flush line, when some did not reach it.
  bool flushStream();
  // A side writer's end: the position reached (the stream's, else the FILE's;
  // -1 on a FILE without one, a pipe, which is no failure), then release().
  int64_t finish();
  // Deletes the stream, then closes an owned FILE or flushes the caller's;
  // holds nothing afterwards. False, with the close or flush line, when that
  // failed (or the FILE's error indicator was set).
  bool release();

 private:
  enum class Operation { kFlush, kClose, kQueryPosition };
  // Marks the writer failed with the line of a failed `operation`. Returns false.
  bool reportFailed(Operation operation);

  las_messages::FirstFailure& failures;  // the writer's
  const char* kind = nullptr;            // a side writer's kind; null for the LAS writer
  std::string name = "output";           // the LAS writer's name for the output
  FILE* file = nullptr;                  // owned when owns_file
  bool owns_file = false;
  std::unique_ptr<char[]> file_buffer;  // the stdio buffer of an owned file; outlives it
  std::unique_ptr<ByteStreamOut> stream;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H
