// EntropyDecoder: the inverse of EntropyEncoder. From the coded bytes and the
// same sequence of model, symbol and raw operations it returns the values that
// were coded. Read this first:
// - `value` is the code value relative to the low end of the interval; it holds
//   four bytes from a primed start() on, and decoding exactly the operations that
//   were coded reads exactly the bytes the encoder wrote;
// - a raw read whose quotient is out of range (input no encoder produced) throws
//   the plain integer 4711; model decoding has no check but, on any input, never
//   reads or writes outside its model (the decoder-table index is bounded);
// - symbol models made here are decoding-side: above 16 symbols they carry the
//   decoder lookup table, which narrows the bisection.
#ifndef MORROWTIDE_COMPRESSOR_ENTROPY_DECODER_H
#define MORROWTIDE_COMPRESSOR_ENTROPY_DECODER_H

#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/byte_stream_in.h"

namespace morrowtide {

// The integer a raw read throws on input that no encoder produced.
constexpr int kEntropyDecoderCorruptInput = 4711;

}  // namespace morrowtide

class EntropyDecoder final {
 public:
  EntropyDecoder() = default;
  EntropyDecoder(const EntropyDecoder&) = delete;
  EntropyDecoder& operator=(const EntropyDecoder&) = delete;

  // Starts decoding from `in` (not owned; must outlive finish()); with `prime`
  // the next four bytes become the code value (first byte most significant).
  // Returns false, changing nothing, when `in` is null.
  bool start(ByteStreamIn* in, bool prime);
  // Detaches from the input; reads nothing more.
  void finish() { stream = nullptr; }

  // Model operations, as the encoder's but for the decoding side.
  AdaptiveBitModel* newBitModel() { return new AdaptiveBitModel(); }
  void resetBitModel(AdaptiveBitModel* m) { m->reset(); }
  void deleteBitModel(AdaptiveBitModel* m) { delete m; }
  AdaptiveSymbolModel* newSymbolModel(uint32_t symbols) {
    return new AdaptiveSymbolModel(symbols, false);
  }
  int32_t resetSymbolModel(AdaptiveSymbolModel* m, const uint32_t* initial_counts) {
    return m->reset(initial_counts);
  }
  void deleteSymbolModel(AdaptiveSymbolModel* m) { delete m; }

  // Decoding operations. Requires: start() was called and finish() not since.
  inline uint32_t getBit(AdaptiveBitModel* m);
  // A symbol below m->symbols. Requires: m reset.
  inline uint32_t getSymbol(AdaptiveSymbolModel* m);
  // Raw reads: inverses of the encoder's raw writes, same widths and orders.
  // Each throws kEntropyDecoderCorruptInput when its quotient is out of range.
  inline uint32_t getRawBit();
  // Requires: bits <= 32.
  inline uint32_t getRawBits(uint32_t bits);
  inline uint32_t getRawU8();
  inline uint32_t getRawU16();
  inline uint32_t getRawU32();
  inline float getRawF32();
  inline uint64_t getRawU64();
  inline double getRawF64();

 private:
  static constexpr uint32_t kMinLength = 1u << 24;

  inline void renormalise() {
    do {
      value = (value << 8) | stream->getByte();
      length <<= 8;
    } while (length < kMinLength);
  }
  // Splits the interval into 2^bits equal parts and returns the part holding
  // `value`; throws unless the part is below `limit`.
  inline uint32_t readRaw(uint32_t bits, uint64_t limit);

  ByteStreamIn* stream = nullptr;  // not owned
  uint32_t value = 0;
  uint32_t length = 0;
};

inline uint32_t EntropyDecoder::getBit(AdaptiveBitModel* m) {
  const uint32_t x = m->bit_0_prob * (length >> 13);
  uint32_t bit;
  if (value < x) {
    bit = 0;
    length = x;
    ++m->bit_0_count;
  } else {
    bit = 1;
    value -= x;
    length -= x;
  }
  if (length < kMinLength) renormalise();
  if (--m->bits_until_update == 0) m->rescale();
  return bit;
}

inline uint32_t EntropyDecoder::getSymbol(AdaptiveSymbolModel* m) {
  uint32_t y = length;
  const uint32_t l = length >> 15;
  uint32_t x;
  uint32_t s;
  if (m->decoder_table != nullptr) {
    const uint32_t dv = value / l;
    uint32_t t = dv >> m->table_shift;
    // A sound stream keeps t <= table_size; corrupt input must not leave the table.
    if (t > m->table_size) t = m->table_size;
    s = m->decoder_table[t];
    uint32_t n = m->decoder_table[t + 1] + 1;
    while (n > s + 1) {
      const uint32_t k = (s + n) >> 1;
      if (m->distribution[k] > dv) {
        n = k;
      } else {
        s = k;
      }
    }
    x = m->distribution[s] * l;
    if (s != m->last_symbol) y = m->distribution[s + 1] * l;
  } else {
    x = 0;
    s = 0;
    uint32_t n = m->symbols;
    uint32_t k = n >> 1;
    do {
      const uint32_t z = m->distribution[k] * l;
      if (z > value) {
        n = k;
        y = z;
      } else {
        s = k;
        x = z;
      }
      k = (s + n) >> 1;
    } while (k != s);
  }
  value -= x;
  length = y - x;
  if (length < kMinLength) renormalise();
  ++m->symbol_count[s];
  if (--m->symbols_until_update == 0) m->rescale();
  return s;
}

inline uint32_t EntropyDecoder::readRaw(uint32_t bits, uint64_t limit) {
  const uint32_t l = length >> bits;
  const uint32_t q = value / l;
  value -= q * l;
  length = l;
  if (length < kMinLength) renormalise();
  if (q >= limit) throw morrowtide::kEntropyDecoderCorruptInput;
  return q;
}

inline uint32_t EntropyDecoder::getRawBit() { return readRaw(1, 2); }

inline uint32_t EntropyDecoder::getRawBits(uint32_t bits) {
  if (bits >= 20) {
    const uint32_t low = readRaw(16, 1u << 16);
    return low | (getRawBits(bits - 16) << 16);
  }
  return readRaw(bits, uint64_t{1} << bits);
}

inline uint32_t EntropyDecoder::getRawU8() { return readRaw(8, 1u << 8); }

inline uint32_t EntropyDecoder::getRawU16() { return readRaw(16, 1u << 16); }

inline uint32_t EntropyDecoder::getRawU32() {
  const uint32_t low = getRawU16();
  const uint32_t high = getRawU16();
  return low | (high << 16);
}

inline float EntropyDecoder::getRawF32() {
  const uint32_t bits = getRawU32();
  float f;
  std::memcpy(&f, &bits, sizeof(f));
  return f;
}

inline uint64_t EntropyDecoder::getRawU64() {
  const uint64_t low = getRawU32();
  const uint64_t high = getRawU32();
  return low | (high << 32);
}

inline double EntropyDecoder::getRawF64() {
  const uint64_t bits = getRawU64();
  double d;
  std::memcpy(&d, &bits, sizeof(d));
  return d;
}

#endif  // MORROWTIDE_COMPRESSOR_ENTROPY_DECODER_H
