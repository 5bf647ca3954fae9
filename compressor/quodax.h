// The compressor descriptor: which compressor and coder a file uses, the coder
// version of each item, the chunk size and the compressor's own version, with the
// point layout as an item list. It is stored as the payload of one variable-length
// record (user id "quodax encoded", record id 22204), little-endian:
//   0 U16 compressor      2 U16 coder         4 U8 version_major  5 U8 version_minor
//   6 U16 version_revision  8 U32 options    12 U32 chunk_size
//  16 I64 number_of_special_evlrs            24 I64 offset_to_special_evlrs
//  32 U16 num_items, then per item i: 34+6i U16 type, 36+6i U16 size, 38+6i U16 version
// The descriptor never prints (except the short-point warning of setupItems): a
// failure returns false and leaves "<message> (Quodax v3.4r3)" in errorText().
#ifndef MORROWTIDE_COMPRESSOR_QUODAX_H
#define MORROWTIDE_COMPRESSOR_QUODAX_H

#include <cstdint>

#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/quodax_format.h"

class Quodax final {
 public:
  enum Compressor : uint16_t {
    CompressorNone = quodax_format::kCompressorNone,
    CompressorSingleStream = quodax_format::kCompressorSingleStream,
    CompressorChunked = quodax_format::kCompressorChunked,
    CompressorLayeredChunked = quodax_format::kCompressorLayeredChunked,
  };
  enum Coder : uint16_t {
    CoderArithmetic = quodax_format::kCoderArithmetic,
  };

  // Compressor 2, coder 0, version 3.4r3, options 0, chunk size 50000, special
  // extended records -1 and -1, no items, no error.
  Quodax();
  ~Quodax();
  Quodax(const Quodax&) = delete;
  Quodax& operator=(const Quodax&) = delete;

  // The last error text, null when there has been none. Owned by the descriptor.
  const char* errorText() const { return error_string; }
  // Stores "<text> (Quodax v3.4r3)" as the error text (whatever the version
  // fields hold) and returns false.
  bool setError(const char* text);

  // True for compressors 0 to 3, else error "compressor %d not supported".
  bool validateCompressor(uint16_t compressor);
  // True for coder 0, else error "coder %d not supported".
  bool validateCoder(uint16_t coder);
  // Compressor check, coder check, then validateItems(num_items, items, point_size).
  bool validate(uint16_t point_size);

  // Sets the descriptor up for point format `point_type` of `point_size` bytes.
  // With a compressor other than 0 the items get the versions a compressing
  // descriptor gives for version 2 (LAS 1.4 items 3, WAVEPACKET13 1, others 2).
  // A layout starting with POINT14 needs compressor 3: 1 or 2 return false with
  // no error text (the new list stays, the compressor keeps its old value); 3
  // becomes 2 for other layouts. Compressors 2 and 3 turn a chunk size of 0 into
  // 50000. Point types above 10 and compressors above 3 are errors.
  bool setup(uint8_t point_type, uint16_t point_size, uint16_t compressor);
  // Sets the descriptor up for a copy of a given list (versions kept, none
  // requested). The compressor rule is as above, except that a POINT14 list with
  // compressor 1 or 2 returns false with no error text and changes nothing.
  bool setup(uint16_t num_items, const LASitem* items, uint16_t compressor);
  // Gives every item its coder version: LAS 1.4 items 3, WAVEPACKET13 1, BYTE,
  // POINT10, GPSTIME11 and RGB12 `version`. Errors: no items; a version other
  // than 0 without compression; 0 or above 2 with compression; an unknown type.
  bool requestVersion(uint16_t version);
  // Points per chunk (0 = variable chunks). Error before setup; false with no
  // error text for compressor 1.
  bool setChunkSize(uint32_t chunk_size);
  // Sets (1) or clears (0) compatibility mode. Only before setup; above 1 an error.
  bool requestCompatibilityMode(uint16_t mode);

  // Makes the record payload (34 + 6 * num_items bytes) after validate(0). The
  // array stays owned by the descriptor, valid until the next pack or destruction.
  // On failure `bytes` and `num` are untouched.
  bool pack(uint8_t*& bytes, int32_t& num);
  // Reads a record payload and checks each item. A payload shorter than 34 bytes,
  // not 34 plus a multiple of 6, without items, or whose item-count field
  // disagrees with its length is refused before anything changes.
  bool unpack(const uint8_t* bytes, int32_t num);

  // --- Item lists of point formats ---

  // Builds the item list of point format `point_type` (0-10) for `point_size`
  // bytes into the two references: a new[] array the caller frees; the previous
  // array of the references is not touched. A point size below the format's base
  // size prints one "WARNING: " line and uses the base size. With a compressor
  // other than 0 the new items get the versions a compressing descriptor gives
  // (requestVersion(2)); else every version is 0. Error for point types above 10,
  // with the references untouched.
  bool setupItems(uint16_t& num_items, LASitem*& items, uint8_t point_type, uint16_t point_size,
                  uint16_t compressor);
  // Checks one item's size, then its version; the first broken rule is the error.
  bool validateItem(const LASitem* item);
  // Checks a whole list (not empty, not null, every item) and, when `point_size`
  // is not 0, that the sizes (summed in 16 bits) add up to it.
  bool validateItems(uint16_t num_items, const LASitem* items, uint16_t point_size);
  // True when the list is that of a standard point format 0 to 10 (versions are
  // not looked at). Either output may be null. Except for a null array, the
  // outputs are set to 127 and the 16-bit sum of the sizes before any check, and
  // point_type to the format on a match.
  bool matchPointType(uint16_t num_items, const LASitem* items, uint8_t* point_type,
                      uint16_t* record_length);
  // matchPointType on the descriptor's own list.
  bool matchPointType(uint8_t& point_type, uint16_t& record_length);

  uint16_t compressor;
  uint16_t coder;
  uint8_t version_major;
  uint8_t version_minor;
  uint16_t version_revision;
  uint32_t options;     // bit 0: compatibility mode
  uint32_t chunk_size;  // 0 = variable chunks
  int64_t number_of_special_evlrs;
  int64_t offset_to_special_evlrs;
  uint16_t num_items;  // 0 = not set up
  LASitem* items;      // owned (new[]/delete[])

 private:
  // Formats `format` like printf and stores it through setError; returns false.
  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The versions step of requestVersion on `num` items at `list`.
  bool assignVersions(uint16_t num, LASitem* list, uint16_t version);
  // Stores the compressor that `requested` means for a list starting with
  // `first`, and the default chunk size where needed. False, storing nothing,
  // for a POINT14 list with compressor 1 or 2.
  bool chooseCompressor(const LASitem& first, uint16_t requested);

  uint8_t* bytes;      // payload of the last pack; owned (new[]/delete[])
  char* error_string;  // owned (malloc/free)
};

#endif  // MORROWTIDE_COMPRESSOR_QUODAX_H
