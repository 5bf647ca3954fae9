// The side writers' output target: opening by name with an own stdio buffer,
// taking a caller's FILE, switching FILEs, and ending the output with a flush or
// a close whose result is handed back for the writer to report.
#include "morrowtide/las/las_writer_output.h"

#include <cerrno>

#include "morrowtide/las/las_messages.h"

using las_messages::fail;

LASwriterOutput::~LASwriterOutput() {
  if (holdsOutput()) static_cast<void>(release());  // close() has reported already
}

bool LASwriterOutput::openFile(const char* file_name, const char* mode, uint32_t buffer_size) {
  if (file_name == nullptr) return fail("ERROR: file name pointer is zero\n");
  file = std::fopen(file_name, mode);
  if (file == nullptr) return fail("ERROR: cannot open file '%s'\n", file_name);
  owns_file = true;
  if (buffer_size > 0) {
    // The buffer is ours: some C libraries (glibc) ignore the size when setvbuf
    // is given no buffer. It is released only after the FILE is closed.
    file_buffer.reset(new char[buffer_size]);
    if (std::setvbuf(file, file_buffer.get(), _IOFBF, buffer_size) != 0) {
      std::fprintf(stderr, "WARNING: setvbuf() failed with buffer size %u\n", buffer_size);
    }
  }
  return true;
}

bool LASwriterOutput::useFile(FILE* f) {
  if (f == nullptr) return fail("ERROR: file pointer is zero\n");
  file = f;
  owns_file = false;
  return true;
}

bool LASwriterOutput::replaceFile(FILE* new_file, bool& close_failed) {
  close_failed = false;
  if (!holdsOutput() || new_file == nullptr) return false;
  if (stream != nullptr) {
    auto* file_stream = dynamic_cast<ByteStreamOutFile*>(stream.get());
    if (file_stream == nullptr) return false;
    file_stream->setFile(new_file);
  }
  if (owns_file && file != nullptr) {
    // Nothing but this writer can reach the FILE it opened: close it rather than
    // leave it open (and using a buffer that is freed) for good.
    close_failed = std::fclose(file) != 0;
    file_buffer.reset();
  }
  file = new_file;
  return !close_failed;
}

int64_t LASwriterOutput::finish(const char*& failure) {
  failure = nullptr;
  int64_t end = -1;
  if (stream != nullptr) {
    end = stream->position();
    if (end < 0) failure = "query the position of";
  } else if (file != nullptr) {
    errno = 0;
    end = ftello(file);
    if (end < 0 && errno != ESPIPE) failure = "query the position of";
  }
  const char* released = release();
  if (failure == nullptr) failure = released;
  return end;
}

const char* LASwriterOutput::release() {
  stream.reset();
  const char* failed_operation = nullptr;
  if (file != nullptr) {
    // The error indicator also catches a failed flush that someone else set off
    // (fflush(NULL) flushes every FILE), after which fclose has nothing left to fail on.
    const bool had_error = std::ferror(file) != 0;
    if (owns_file) {
      if (std::fclose(file) != 0 || had_error) failed_operation = "close";
    } else if (std::fflush(file) != 0 || had_error) {
      failed_operation = "flush";
    }
  }
  file = nullptr;
  owns_file = false;
  file_buffer.reset();
  return failed_operation;
}
