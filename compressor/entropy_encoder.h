// EntropyEncoder: the adaptive 32-bit range coder with carry propagation that
// turns symbols, bits and raw bit fields into the coded byte stream; it also
// creates, resets and deletes the models its users code with. Read this first:
// - output collects in two 4096-byte halves of an 8192-byte buffer; a half
//   reaches the stream only when the coder is about to reuse it, so a carry can
//   still change bytes not yet handed over;
// - a run of 0xFF bytes that a later carry could still reach is never handed
//   over: when the newer half is all 0xFF at a handover, the older half's last
//   non-0xFF byte and the 0xFF bytes after it are held back until a carry or a
//   later byte settles them, so the output always equals an unbounded buffer's;
// - coding operations never allocate and never call the stream except at a
//   4096-byte handover; all interval arithmetic wraps in uint32_t;
// - a handover the stream refuses is remembered (failed()) and reported by
//   finish(); coding goes on, since the caller decides what a lost byte means.
#ifndef MORROWTIDE_COMPRESSOR_ENTROPY_ENCODER_H
#define MORROWTIDE_COMPRESSOR_ENTROPY_ENCODER_H

#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/byte_stream_out.h"

namespace morrowtide {
class OwnedSymbolModel;
}  // namespace morrowtide

class EntropyEncoder final {
 public:
  // Allocates the 8192-byte buffer; no stream until start().
  EntropyEncoder();
  ~EntropyEncoder();
  EntropyEncoder(const EntropyEncoder&) = delete;
  EntropyEncoder& operator=(const EntropyEncoder&) = delete;

  // Starts coding into `out` (not owned; must outlive finish()). Valid at any
  // time: bytes of an unfinished earlier start are dropped. Returns false,
  // changing nothing, when `out` is null.
  bool start(ByteStreamOut* out);
  // Flushes the interval, every pending byte and two or three zero bytes to the
  // stream, then detaches from it. False when this or any earlier handover since
  // start() was refused by the stream. True, doing nothing, when no stream is
  // attached.
  bool finish();
  // True once the stream refused a handover since start().
  bool failed() const { return write_failed; }
  // The stream given to start(), or null after finish() and construction.
  ByteStreamOut* getByteStreamOut() const { return stream; }

  // Model operations: the encoder owns no model; the caller holds the pointer
  // (item writers through OwnedSymbolModel) and deletes it here (null does
  // nothing).
  AdaptiveBitModel* newBitModel() { return new AdaptiveBitModel(); }
  void resetBitModel(AdaptiveBitModel* m) { m->reset(); }
  void deleteBitModel(AdaptiveBitModel* m) { delete m; }
  // A model of `symbols` symbols without storage until its first reset.
  AdaptiveSymbolModel* newSymbolModel(uint32_t symbols) {
    return new AdaptiveSymbolModel(symbols, true);
  }
  // m->reset(initial_counts), result passed through.
  int32_t resetSymbolModel(AdaptiveSymbolModel* m, const uint32_t* initial_counts) {
    return m->reset(initial_counts);
  }
  void deleteSymbolModel(AdaptiveSymbolModel* m) { delete m; }

  // Coding operations. Requires: start() was called and finish() not since.
  // Codes one bit; any non-zero `bit` counts as 1.
  inline void putBit(AdaptiveBitModel* m, uint32_t bit);
  // Codes `symbol`. Requires: symbol < m->symbols, m reset. Forced inline: the
  // layered point coder codes symbols in more places than the compiler's
  // inlining budget covers, and a call costs more than the coding (point
  // benchmark, about 1%).
  inline void putSymbol(AdaptiveSymbolModel* m, uint32_t symbol);
  inline void putSymbol(const morrowtide::OwnedSymbolModel& m, uint32_t symbol);
  // One bit with probability one half. Requires: bit is 0 or 1.
  inline void putRawBit(uint32_t bit);
  // The low `bits` bits of `value`, uniform. Requires: bits <= 32 and
  // value < 2^bits (not masked). From 20 bits on the low 16 go first.
  inline void putRawBits(uint32_t bits, uint32_t value);
  // The low 8 or 16 bits of `value` (masked).
  inline void putRawU8(uint32_t value);
  inline void putRawU16(uint32_t value);
  // Low 16 bits first, then the high 16.
  inline void putRawU32(uint32_t value);
  inline void putRawF32(float value);
  // Four 16-bit fields, least significant first.
  inline void putRawU64(uint64_t value);
  inline void putRawF64(double value);

 private:
  static constexpr uint32_t kBufferSize = 8192;
  static constexpr uint32_t kHalfSize = 4096;
  static constexpr uint32_t kMinLength = 1u << 24;  // renormalise below this
  static constexpr uint32_t kMaxLength = 0xFFFFFFFFu;

  // base += x, walking the carry back on overflow.
  inline void addToBase(uint32_t x) {
    base += x;
    if (base < x) propagateCarry();
  }
  // Emits top bytes until length is at least 2^24. Works on locals and stores
  // back once: the byte stores may alias the members, and the benchmark shows
  // the reloads (handOverHalf touches neither base nor length).
  inline void renormalise() {
    uint32_t b = base;
    uint32_t len = length;
    uint8_t* p = out_pos;
    do {
      *p++ = static_cast<uint8_t>(b >> 24);
      if (p == half_end) {
        out_pos = p;
        handOverHalf();
        p = out_pos;
      }
      b <<= 8;
      len <<= 8;
    } while (len < kMinLength);
    out_pos = p;
    base = b;
    length = len;
  }
  void handOverHalf();    // rare: once per 4096 bytes
  void propagateCarry();  // rare: on base overflow
  void flushHeld();       // writes held-back bytes once they are settled
  uint32_t pendingBytes() const;

  ByteStreamOut* stream = nullptr;  // not owned
  uint8_t* buffer;                  // owned, kBufferSize bytes
  uint8_t* buffer_end;
  uint8_t* out_pos;
  uint8_t* half_end;
  uint32_t base = 0;
  uint32_t length = 0;
  // Every hand-over to the stream goes through these, so a refusal is kept;
  // after one nothing more is written, so no byte lands where the refused ones
  // belonged.
  void write(const uint8_t* bytes, uint32_t num) {
    if (write_failed || !stream->writeBytes(bytes, num)) write_failed = true;
  }
  void writeRun(uint8_t value, uint64_t count);

  bool write_failed = false;  // the stream refused a write since start()
  bool wrapped = false;       // a half has been handed over since start()
  bool holding = false;       // held_byte and held_ffs are waiting for a carry
  uint8_t held_byte = 0;      // last byte before the held 0xFF run
  uint64_t held_ffs = 0;      // 0xFF bytes held after held_byte
};

namespace morrowtide {

// A symbol model together with the encoder that made it. Every model an item
// writer keeps is held by one of these: the encoder that made the model resets
// it and, when the owner goes, deletes it, so no model is released through an
// encoder that did not make it. Empty until make() or atFirstUse().
class OwnedSymbolModel final {
 public:
  OwnedSymbolModel() = default;
  // make(maker, symbols).
  OwnedSymbolModel(EntropyEncoder* maker, uint32_t symbols) { make(maker, symbols); }
  ~OwnedSymbolModel() { release(); }
  OwnedSymbolModel(const OwnedSymbolModel&) = delete;
  OwnedSymbolModel& operator=(const OwnedSymbolModel&) = delete;
  OwnedSymbolModel(OwnedSymbolModel&& other) noexcept : encoder(other.encoder), model(other.model) {
    other.model = nullptr;
  }
  OwnedSymbolModel& operator=(OwnedSymbolModel&& other) noexcept {
    if (this != &other) {
      release();
      encoder = other.encoder;
      model = other.model;
      other.model = nullptr;
    }
    return *this;
  }

  // Makes a model of `symbols` symbols through `maker` (not owned; must outlive
  // this owner), without storage until its first reset; a model held before is
  // deleted.
  void make(EntropyEncoder* maker, uint32_t symbols) {
    release();
    encoder = maker;
    model = maker->newSymbolModel(symbols);
  }
  // The model, made through `maker` and reset with every count 1 at the first
  // call: for models chosen by a previous value, most of which never occur.
  AdaptiveSymbolModel* atFirstUse(EntropyEncoder* maker, uint32_t symbols) {
    if (model == nullptr) {
      make(maker, symbols);
      reset();
    }
    return model;
  }
  // Resets the model with every count 1, through the encoder that made it; an
  // empty owner stays empty.
  void reset() {
    if (model != nullptr) encoder->resetSymbolModel(model, nullptr);
  }
  AdaptiveSymbolModel* get() const { return model; }

 private:
  void release() {
    if (model != nullptr) encoder->deleteSymbolModel(model);
    model = nullptr;
  }
  EntropyEncoder* encoder = nullptr;     // not owned: made the model, resets and deletes it
  AdaptiveSymbolModel* model = nullptr;  // owned
};

}  // namespace morrowtide

[[gnu::always_inline]] inline void EntropyEncoder::putSymbol(const morrowtide::OwnedSymbolModel& m,
                                                             uint32_t symbol) {
  putSymbol(m.get(), symbol);
}

[[gnu::always_inline]] inline void EntropyEncoder::putBit(AdaptiveBitModel* m, uint32_t bit) {
  const uint32_t x = m->bit_0_prob * (length >> 13);
  if (bit == 0) {
    length = x;
    ++m->bit_0_count;
  } else {
    addToBase(x);
    length -= x;
  }
  if (length < kMinLength) renormalise();
  if (--m->bits_until_update == 0) m->rescale();
}

[[gnu::always_inline]] inline void EntropyEncoder::putSymbol(AdaptiveSymbolModel* m,
                                                             uint32_t symbol) {
  const uint32_t l = length >> 15;
  const uint32_t x = m->distribution[symbol] * l;
  if (symbol == m->last_symbol) {
    length -= x;  // the last symbol takes the rest of the interval
  } else {
    length = m->distribution[symbol + 1] * l - x;
  }
  addToBase(x);
  if (length < kMinLength) renormalise();
  ++m->symbol_count[symbol];
  if (--m->symbols_until_update == 0) m->rescale();
}

inline void EntropyEncoder::putRawBit(uint32_t bit) {
  length >>= 1;
  addToBase(bit * length);
  if (length < kMinLength) renormalise();
}

inline void EntropyEncoder::putRawBits(uint32_t bits, uint32_t value) {
  if (bits >= 20) {
    putRawU16(value);
    value >>= 16;
    bits -= 16;
  }
  length >>= bits;
  addToBase(value * length);
  if (length < kMinLength) renormalise();
}

inline void EntropyEncoder::putRawU8(uint32_t value) {
  length >>= 8;
  addToBase((value & 0xFFu) * length);
  renormalise();
}

inline void EntropyEncoder::putRawU16(uint32_t value) {
  length >>= 16;
  addToBase((value & 0xFFFFu) * length);
  renormalise();
}

inline void EntropyEncoder::putRawU32(uint32_t value) {
  putRawU16(value & 0xFFFFu);
  putRawU16(value >> 16);
}

inline void EntropyEncoder::putRawF32(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  putRawU32(bits);
}

inline void EntropyEncoder::putRawU64(uint64_t value) {
  for (int i = 0; i < 4; ++i) {
    putRawU16(static_cast<uint32_t>(value & 0xFFFFu));
    value >>= 16;
  }
}

inline void EntropyEncoder::putRawF64(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  putRawU64(bits);
}

#endif  // MORROWTIDE_COMPRESSOR_ENTROPY_ENCODER_H
