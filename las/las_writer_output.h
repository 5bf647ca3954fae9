// The output target of the side writers (BIN, QFIT, VRML, ASCII text): a stdio
// FILE that the writer opened by name (owned, closed at release) or that a caller
// handed in (not owned, only flushed at release), and for the binary writers the
// byte stream over it (always owned). Keeping this in one place gives the four
// writers one way to open, to end and to report the end of their output.
#ifndef MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H
#define MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <memory>

#include "morrowtide/compressor/byte_stream_out.h"

class LASwriterOutput final {
 public:
  LASwriterOutput() = default;
  // Frees whatever is still held, without a report: the writers release their
  // output in close(), which reports, before they are destroyed.
  ~LASwriterOutput();
  LASwriterOutput(const LASwriterOutput&) = delete;
  LASwriterOutput& operator=(const LASwriterOutput&) = delete;

  // Opens `file_name` with fopen(`mode`); with a `buffer_size` above 0 the FILE is
  // fully buffered with a buffer of that many bytes ("WARNING: setvbuf() failed
  // with buffer size %u\n" when that fails; the open goes on). False with
  // "ERROR: file name pointer is zero\n" or "ERROR: cannot open file '%s'\n".
  // Requires: nothing is held.
  bool openFile(const char* file_name, const char* mode, uint32_t buffer_size);
  // Uses the caller's `file` (not owned, never closed). False with "ERROR: file
  // pointer is zero\n" for null. Requires: nothing is held.
  bool useFile(FILE* file);
  // Takes `stream` (owned from here on, also when the writer then fails).
  void takeStream(ByteStreamOut* stream) { this->stream.reset(stream); }
  // Later output goes to `file` (not owned by the caller any more when the old
  // one was owned: it takes the old one's place). An owned old FILE is closed.
  // False when nothing is held, `file` is null, the stream is no FILE stream, or
  // the old FILE fails to close (`close_failed` then set).
  bool replaceFile(FILE* file, bool& close_failed);

  FILE* getFile() const { return file; }
  ByteStreamOut* getStream() const { return stream.get(); }
  bool holdsOutput() const { return file != nullptr || stream != nullptr; }

  // Ends the output: takes the position reached (the stream's, else the FILE's;
  // -1 on a FILE without one, a pipe, which is no failure), then release().
  // `failure` is null on success, else the first operation that failed ("query
  // the position of", "close" or "flush") for the writer's "ERROR: " line.
  int64_t finish(const char*& failure);
  // Deletes the stream, then closes an owned FILE or flushes the caller's, and
  // holds nothing afterwards. Returns null on success, else the operation that
  // failed ("close" or "flush").
  const char* release();

 private:
  FILE* file = nullptr;  // owned when owns_file
  bool owns_file = false;
  std::unique_ptr<char[]> file_buffer;  // the stdio buffer of an owned file; outlives it
  std::unique_ptr<ByteStreamOut> stream;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_OUTPUT_H
