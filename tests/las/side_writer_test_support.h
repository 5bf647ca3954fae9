// Shared pieces of the side writer tests (BIN, QFIT, VRML, text): a little-endian
// builder for expected bytes, a header and point made for a point format, a
// scratch folder for files, and FILE helpers (a temporary FILE read back,
// /dev/full for failing writes).
#ifndef MORROWTIDE_TESTS_LAS_SIDE_WRITER_TEST_SUPPORT_H
#define MORROWTIDE_TESTS_LAS_SIDE_WRITER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "tests/le_bytes.h"
#include "tests/scratch_dir.h"

namespace side_writer_test {

using Bytes = std::vector<uint8_t>;
using ::LE;

// A clean header (LAS 1.2) with point format `format` of its standard size.
inline void makeHeader(LASheader& h, uint8_t format) {
  h.clean();
  h.point_data_format = format;
  h.point_data_record_length = las_format::kPointRecordSize[format];
}

// Lays `point` out for the header's point format, with the header's scale.
inline void layOut(LASpointRecord& point, const LASheader& h) {
  ASSERT_TRUE(point.initFromFormat(&h, h.point_data_format, h.point_data_record_length, &h));
}

// One extra-bytes attribute of a header.
struct Attribute {
  const char* name;
  uint8_t data_type;
  int32_t offset;
  int32_t size;
};

// Gives `h` the extra-bytes attributes (owned by the header) and `extra` more
// bytes per point record.
inline void addAttributes(LASheader& h, const std::vector<Attribute>& attributes, uint16_t extra) {
  const size_t n = attributes.size();
  h.owns_attributes = 1;
  h.attribute_count = static_cast<int32_t>(n);
  h.attribute_descriptors =
      static_cast<LASextraAttribute*>(std::calloc(n, sizeof(LASextraAttribute)));
  h.attribute_offsets = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  h.attribute_sizes = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  for (size_t i = 0; i < n; i++) {
    LASextraAttribute& a = h.attribute_descriptors[i];
    std::memcpy(a.name, attributes[i].name,
                std::min(std::strlen(attributes[i].name), sizeof(a.name)));
    a.data_type = attributes[i].data_type;
    h.attribute_offsets[i] = attributes[i].offset;
    h.attribute_sizes[i] = attributes[i].size;
  }
  h.point_data_record_length = static_cast<uint16_t>(h.point_data_record_length + extra);
}

// Reads everything from the start of `file`.
inline std::string readAll(FILE* file) {
  std::string text;
  std::rewind(file);
  int c;
  while ((c = std::getc(file)) != EOF) text.push_back(static_cast<char>(c));
  return text;
}

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline std::string fileText(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string text = readAll(f);
  std::fclose(f);
  return text;
}

// A fixture whose tests write their files into a scratch folder of their own.
class TempDir : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch.path(name); }

  ScratchDir scratch;
};

}  // namespace side_writer_test

#endif  // MORROWTIDE_TESTS_LAS_SIDE_WRITER_TEST_SUPPORT_H
