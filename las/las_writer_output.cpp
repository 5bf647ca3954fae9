// The writers' output: opening by name with an own stdio buffer, taking a
// caller's FILE, switching FILEs, and ending the output with a flush or a close,
// each failure reported in the writer's own words.
#include "morrowtide/las/las_writer_output.h"

#include <cerrno>

using las_messages::printLine;
using morrowtide::closeFile;

namespace morrowtide {

// The error indicator also catches a failed flush that someone else set off
// (fflush(NULL) flushes every FILE), after which fclose or fflush has nothing
// left to fail on.
bool closeFile(std::FILE* file) {
  const bool had_error = std::ferror(file) != 0;
  return std::fclose(file) == 0 && !had_error;
}

}  // namespace morrowtide

namespace {

// The same rule as closeFile, for a caller's FILE that stays open.
bool flushFile(FILE* file) {
  const bool had_error = std::ferror(file) != 0;
  return std::fflush(file) == 0 && !had_error;
}

}  // namespace

LASwriterOutput::~LASwriterOutput() {
  if (holdsOutput()) static_cast<void>(release());  // close() has reported already
}

bool LASwriterOutput::openFile(const char* file_name, const char* mode, int64_t buffer_size) {
  if (file_name == nullptr) return printLine("ERROR: file name pointer is zero\n");
  file = std::fopen(file_name, mode);
  if (file == nullptr) {
    return kind != nullptr ? printLine("ERROR: cannot open file '%s'\n", file_name)
                           : printLine("ERROR: cannot open file '%s' for write\n", file_name);
  }
  owns_file = true;
  name = file_name;
  // A side writer keeps stdio's buffering unless it asks for a size; the LAS
  // writer sets full buffering whatever the size.
  if (kind != nullptr && buffer_size <= 0) return true;
  // The buffer is ours: some C libraries (glibc) ignore the size when setvbuf
  // is given no buffer. It is released only after the FILE is closed.
  const size_t size = buffer_size > 0 ? static_cast<size_t>(buffer_size) : 0;
  if (size > 0) file_buffer.reset(new char[size]);
  if (std::setvbuf(file, file_buffer.get(), _IOFBF, size) != 0) {
    if (kind != nullptr) {
      printLine("WARNING: setvbuf() failed with buffer size %u\n",
                static_cast<uint32_t>(buffer_size));
    } else {
      printLine("WARNING: setvbuf() failed with buffer size %d\n",
                static_cast<int32_t>(buffer_size));
    }
  }
  return true;
}

bool LASwriterOutput::useFile(FILE* f) {
  if (f == nullptr) return printLine("ERROR: file pointer is zero\n");
  file = f;
  owns_file = false;
  name = f == stdout ? "stdout" : "FILE";
  return true;
}

bool LASwriterOutput::replaceFile(FILE* new_file) {
  if (!holdsOutput() || new_file == nullptr) return false;
  ByteStreamOutFile* file_stream = nullptr;
  if (stream != nullptr) {
    file_stream = dynamic_cast<ByteStreamOutFile*>(stream.get());
    if (file_stream == nullptr) {
      return printLine("ERROR: the stream of this writer has no FILE to replace\n");
    }
  }
  if (new_file == file) return true;  // already the output; closing it would lose it
  if (file_stream != nullptr) file_stream->setFile(new_file);
  FILE* const old_file = file;
  file = new_file;
  if (owns_file && old_file != nullptr) {
    // Nothing but this writer can reach the FILE it opened: close it rather than
    // leave it open (and using a buffer that is freed) for good. Later output
    // goes to `new_file` either way.
    if (!closeFile(old_file)) reportFailed(Operation::kClose);
    file_buffer.reset();
  }
  return true;
}

bool LASwriterOutput::flushStream() {
  if (stream == nullptr || stream->flush()) return true;
  return reportFailed(Operation::kFlush);
}

int64_t LASwriterOutput::finish() {
  int64_t end = -1;
  if (stream != nullptr) {
    end = stream->position();
    if (end < 0) reportFailed(Operation::kQueryPosition);
  } else if (file != nullptr) {
    errno = 0;
    end = ftello(file);
    if (end < 0 && errno != ESPIPE) reportFailed(Operation::kQueryPosition);
  }
  release();
  return end;
}

bool LASwriterOutput::release() {
  stream.reset();
  bool ok = true;
  if (file != nullptr) {
    if (owns_file) {
      if (!closeFile(file)) ok = reportFailed(Operation::kClose);
    } else if (!flushFile(file)) {
      ok = reportFailed(Operation::kFlush);
    }
  }
  file = nullptr;
  owns_file = false;
  file_buffer.reset();
  name = "output";
  return ok;
}

bool LASwriterOutput::reportFailed(Operation operation) {
  if (kind == nullptr) {
    return failures.report("ERROR: %s output '%s'\n",
                           operation == Operation::kClose ? "closing" : "flushing", name.c_str());
  }
  const char* verb = operation == Operation::kClose   ? "close"
                     : operation == Operation::kFlush ? "flush"
                                                      : "query the position of";
  return failures.report("ERROR: cannot %s the %s output\n", verb, kind);
}
