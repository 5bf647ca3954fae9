// What the test decoders of both coder versions share: little-endian field access
// written out byte by byte (independent of the library's own helpers, so the
// decoders stay a separate check of the writers) and the set of decoding-side
// symbol models a reader owns.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_ITEM_READER_SUPPORT_H
#define MORROWTIDE_TESTS_COMPRESSOR_ITEM_READER_SUPPORT_H

#include <cstdint>
#include <vector>

#include "morrowtide/compressor/entropy_decoder.h"

namespace item_readers {

// The `bytes` (1 to 4) little-endian bytes at `p` as an unsigned value.
inline uint32_t getLE(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The 8 little-endian bytes at `p`.
inline uint64_t getLE64(const uint8_t* p) {
  return getLE(p, 4) | (static_cast<uint64_t>(getLE(p + 4, 4)) << 32);
}

// Stores the low `bytes` (1 to 8) bytes of `v` at `p`, least significant first.
inline void putLE(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Owns decoding-side symbol models and deletes them through the decoder (not
// owned; must outlive the set).
class ModelSet {
 public:
  explicit ModelSet(EntropyDecoder* dec) : dec(dec) {}
  ~ModelSet() {
    for (AdaptiveSymbolModel* m : models) dec->deleteSymbolModel(m);
  }
  ModelSet(const ModelSet&) = delete;
  ModelSet& operator=(const ModelSet&) = delete;

  AdaptiveSymbolModel* make(uint32_t symbols) {
    models.push_back(dec->newSymbolModel(symbols));
    return models.back();
  }

 private:
  EntropyDecoder* dec;
  std::vector<AdaptiveSymbolModel*> models;
};

}  // namespace item_readers

#endif  // MORROWTIDE_TESTS_COMPRESSOR_ITEM_READER_SUPPORT_H
