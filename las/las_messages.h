// The one helper the LAS writers print their "ERROR: " and "WARNING: " lines
// through, so that every failure is reported the same way: one printf-style line
// to standard error, then false for the caller to return.
#ifndef MORROWTIDE_LAS_LAS_MESSAGES_H
#define MORROWTIDE_LAS_LAS_MESSAGES_H

#include <cstdarg>
#include <cstdio>

namespace las_messages {

// Prints `format` with the arguments to stderr, exactly as given (the text
// carries its own "ERROR: " prefix and newline). Returns false.
inline bool fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline bool fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  return false;
}

}  // namespace las_messages

#endif  // MORROWTIDE_LAS_LAS_MESSAGES_H
