// Where a file name's own part begins: after its last separator ('/', '\\' or
// ':'). The output opener and the waveform writer name files by the same rule:
// an extension, a cut or a replaced ending lies in that last part alone, so a
// '.' in a folder is never the extension's and no rename leaves the folder.
#ifndef MORROWTIDE_LAS_LAS_FILE_NAME_H
#define MORROWTIDE_LAS_LAS_FILE_NAME_H

#include <cstddef>
#include <string_view>

namespace morrowtide::detail {

// Index just after the last separator of `name`, searched from the end down to
// index 1 (as every position in a name is); 0 when there is none.
inline size_t fileNameStart(std::string_view name) {
  for (size_t i = name.size(); i > 1; --i) {
    const char c = name[i - 1];
    if (c == '/' || c == '\\' || c == ':') return i;
  }
  return 0;
}

}  // namespace morrowtide::detail

#endif  // MORROWTIDE_LAS_LAS_FILE_NAME_H
