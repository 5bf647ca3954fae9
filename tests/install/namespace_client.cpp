// A client of the installed libraries with global names of its own that the
// library also has for its helpers (byte order, exact arithmetic, coder contexts,
// number text, model owners, raw item forms, typed stream writes). It defines
// them before it includes every installed header, so it compiles only while the
// library keeps its helpers in namespace morrowtide and its headers name them
// qualified. It then uses its own names beside the library's and writes a small
// LAS file into the folder given as argv[1]. Exits 0 when all is as expected,
// else 1 with a line for each thing that was not. twin_client.cpp does the same
// for every name of morrowtide, generated from the installed headers, in a
// program of its own: its names are these, defined otherwise.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

class ByteStreamOut;

// The client's own names. Some differ from the library's namesakes on purpose,
// so that a call reaching the wrong one shows.
uint16_t getU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void putU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool fitsI32(uint64_t d) {
  const int64_t v = static_cast<int64_t>(d);
  return v >= INT32_MIN && v <= INT32_MAX;
}

uint32_t yContext(uint32_t single_return, uint32_t x_class) { return 2 * x_class + single_return; }

constexpr uint32_t kXContexts = 3;

// Removes trailing zeros only: a point left last stays.
void trimTrailingZeros(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == '0') text[--n] = '\0';
}

class OwnedSymbolModel {
 public:
  explicit OwnedSymbolModel(uint32_t symbols) : symbols(symbols) {}
  uint32_t symbols;
};

struct RawItemForm {
  uint32_t size;
};

// Counts its calls, so the client can tell that the library never reached it.
int own_write_calls = 0;
bool writeU16LE(ByteStreamOut* stream, uint16_t value);

#include "morrowtide_all_headers.h"
#include "write_points.h"

bool writeU16LE(ByteStreamOut* stream, uint16_t value) {
  ++own_write_calls;
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  return stream->writeBytes(bytes, 2);
}

namespace {

bool all_ok = true;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "namespace_client: %s\n", what);
  all_ok = false;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = std::string(argc > 1 ? argv[1] : ".") + "/namespace_client.las";
  check(writePoints(name, 0, 10) == 227 + 10 * 28, "the LAS file does not have 507 bytes");
  check(own_write_calls == 0, "the library called the client's writeU16LE");

  // Header size (offset 94) and point count (offset 107), read by both sides.
  uint8_t header[227] = {};
  FILE* file = std::fopen(name.c_str(), "rb");
  check(file != nullptr && std::fread(header, 1, sizeof(header), file) == sizeof(header),
        "the LAS file cannot be read back");
  if (file != nullptr) std::fclose(file);
  check(std::memcmp(header, "LASF", 4) == 0, "the LAS file does not start with LASF");
  check(getU16LE(header + 94) == 227 && morrowtide::getU16LE(header + 94) == 227,
        "the header size is not 227");
  check(morrowtide::getU32LE(header + 107) == 10, "the point count is not 10");

  uint8_t bytes[4];
  putU32LE(bytes, 0x12345678u);
  check(morrowtide::getU32LE(bytes) == 0x12345678u, "putU32LE and morrowtide::getU32LE disagree");

  // With a ByteStreamOut* and with the stream kind itself: the kinds derive from
  // morrowtide::ByteStreamOutLE, so lookup of the client's writeU16LE on a
  // ByteStreamOutArray* also searches namespace morrowtide, which must not offer one.
  ByteStreamOutArray array;
  ByteStreamOut* out = &array;
  check(writeU16LE(out, 0x1234) && writeU16LE(&array, 0x5678), "a typed write failed");
  check(own_write_calls == 2, "the client's writeU16LE was not called twice");
  const uint8_t expected[4] = {0x34, 0x12, 0x78, 0x56};
  check(array.byteCount() == 4 && std::memcmp(array.data(), expected, 4) == 0,
        "the typed writes did not give 34 12 78 56");

  check(fitsI32(0xFFFFFFFF80000000u) && morrowtide::fitsI32(0xFFFFFFFF80000000u) &&
            !fitsI32(0x80000000u) && !morrowtide::fitsI32(0x80000000u),
        "fitsI32 and morrowtide::fitsI32 disagree");
  check(yContext(1, 6) == 13 && morrowtide::yContext(1, 6) == 7, "a Y context is wrong");
  check(kXContexts == 3 && morrowtide::kXContexts == 2, "an X context count is wrong");

  char own_text[] = "3.000";
  char library_text[] = "3.000";
  trimTrailingZeros(own_text);
  morrowtide::trimTrailingZeros(library_text);
  check(std::strcmp(own_text, "3.") == 0 && std::strcmp(library_text, "3") == 0,
        "a trimmed number is wrong");

  const OwnedSymbolModel model(4);
  const RawItemForm form{20};
  check(model.symbols == 4 && form.size == morrowtide::RawItemForm::point10().size(),
        "the client's own model or form is wrong");

  if (!all_ok) return 1;
  std::printf("namespace_client: its own names and the library's live side by side\n");
  return 0;
}
