// How the LAS library reports: every "ERROR: " and "WARNING: " line goes to
// standard error through printLine, one printf-style line as given. A failure
// of an output that makes later output meaningless is kept by FirstFailure, so
// that a writer says it once and the caller can ask afterwards.
#ifndef MORROWTIDE_LAS_LAS_MESSAGES_H
#define MORROWTIDE_LAS_LAS_MESSAGES_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace las_messages {

inline bool vprintLine(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
inline bool vprintLine(const char* format, va_list args) {
  std::vfprintf(stderr, format, args);
  return false;
}

// Prints `format` with the arguments to stderr, exactly as given (the text
// carries its own "ERROR: " or "WARNING: " prefix and newline). Returns false,
// so that a failure reads `return printLine("ERROR: ...")`; a warning ignores it.
inline bool printLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline bool printLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintLine(format, args);
  va_end(args);
  return false;
}

// The warning of a writer whose output cannot seek (a pipe, standard output)
// when the point count in its header would need a patch. Not a failure.
inline void warnCountNotUpdated(int64_t expected_points, int64_t points_written) {
  printLine("WARNING: stream not seekable. cannot update header from %lld to %lld points.\n",
            static_cast<long long>(expected_points), static_cast<long long>(points_written));
}

// The first failure of an output, kept for good: report() prints its line only
// the first time, so a writer that fails at every later call does not flood
// standard error, and failed() tells the caller afterwards.
class FirstFailure {
 public:
  bool failed() const { return has_failed; }
  // Prints `format` with the arguments unless a failure was reported before;
  // marks the failure. Returns false.
  bool report(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool vreport(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  // Prints `format` with the arguments whether or not a failure was reported
  // before, and marks the failure. Returns false.
  bool vreportAlways(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

 private:
  bool has_failed = false;
};

inline bool FirstFailure::vreport(const char* format, va_list args) {
  if (has_failed) return false;
  has_failed = true;
  return vprintLine(format, args);
}

inline bool FirstFailure::vreportAlways(const char* format, va_list args) {
  has_failed = true;
  return vprintLine(format, args);
}

inline bool FirstFailure::report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(format, args);
  va_end(args);
  return false;
}

}  // namespace las_messages

#endif  // MORROWTIDE_LAS_LAS_MESSAGES_H
