// IntegerResidualCoder: codes an integer against a prediction as the bit class k
// of the residual (per-context symbol model) followed by the residual's offset
// inside its class. One class serves both sides: built over an EntropyEncoder it
// encodes, built over an EntropyDecoder it decodes. Read this first:
// - residuals wrap into the value range (2^bits, or `range` when not 0), so a
//   coder of 8 or 16 bits gives back a value's low 8 or 16 bits;
// - offsets of classes above `direct_bits` code their high part with a model and
//   the rest as raw bits, so no model exceeds 2^direct_bits symbols;
// - the models are created at the first start and reset by every later one;
//   they are deleted through the coder this object was built with, which must
//   outlive it.
#ifndef MORROWTIDE_COMPRESSOR_INTEGER_RESIDUAL_CODER_H
#define MORROWTIDE_COMPRESSOR_INTEGER_RESIDUAL_CODER_H

#include <cstdint>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/entropy_encoder.h"

namespace morrowtide {

// Every residual coder of the point items and of the chunk table has 8 direct
// bits (so no model has more than 256 symbols) and no explicit range; what tells
// them apart is their shape: the value width and the number of contexts.
constexpr uint32_t kItemCoderDirectBits = 8;
struct ResidualCoderShape {
  uint32_t bits;      // value width: 8, 16 or 32
  uint32_t contexts;  // class models, one per context
};

}  // namespace morrowtide

class IntegerResidualCoder final {
 public:
  // Encoding side over `enc` (not owned; must outlive this object). Creates no
  // model. Requires: contexts >= 1, direct_bits >= 1, range != 1, and no model
  // above 2048 symbols (min(residual bits, direct_bits) <= 11).
  IntegerResidualCoder(EntropyEncoder* enc, uint32_t bits, uint32_t contexts, uint32_t direct_bits,
                       uint32_t range);
  // A coder of `shape` over `enc`: kItemCoderDirectBits, no range.
  IntegerResidualCoder(EntropyEncoder* enc, morrowtide::ResidualCoderShape shape)
      : IntegerResidualCoder(enc, shape.bits, shape.contexts, morrowtide::kItemCoderDirectBits, 0) {
  }
  // Decoding side over `dec` (not owned; must outlive this object). Same
  // requirements.
  IntegerResidualCoder(EntropyDecoder* dec, uint32_t bits, uint32_t contexts, uint32_t direct_bits,
                       uint32_t range);
  // Deletes every model created, through the encoder or decoder.
  ~IntegerResidualCoder();
  IntegerResidualCoder(const IntegerResidualCoder&) = delete;
  IntegerResidualCoder& operator=(const IntegerResidualCoder&) = delete;

  // Creates the models on the first call, then resets all of them (every chunk).
  // Requires: built over an encoder.
  void startEncoding();
  // Codes `real` against `pred` with the class model of `context`. A residual
  // outside the value range is first reduced into it (modulo the range).
  // Requires: startEncoding() was called; context < contexts.
  inline void encode(int32_t pred, int32_t real, uint32_t context);

  // The decoding twins. Requires: built over a decoder.
  void startDecoding();
  // The value that encode(pred, value, context) coded, wrapped into the range.
  inline int32_t decode(int32_t pred, uint32_t context);

  // Class k of the last residual coded or decoded; 0 after construction and
  // not cleared by a start. Users form contexts from it.
  uint32_t lastClass() const { return last_class; }

 private:
  void init(uint32_t bits, uint32_t contexts, uint32_t direct_bits, uint32_t range);
  void createModels(bool encoding);
  void resetModels();
  inline void encodeResidual(uint32_t c, AdaptiveSymbolModel* m);

  uint32_t last_class = 0;
  uint32_t contexts = 0;
  uint32_t direct_bits = 0;
  uint32_t residual_bits = 0;
  uint32_t residual_range = 0;  // 0 stands for 2^32
  int32_t residual_min = 0;
  int32_t residual_max = 0;
  EntropyEncoder* encoder = nullptr;                // not owned; null on the decoding side
  EntropyDecoder* decoder = nullptr;                // not owned; null on the encoding side
  AdaptiveSymbolModel** class_models = nullptr;     // owned array of `contexts`
  AdaptiveBitModel* residual_bit_model = nullptr;   // class 0
  AdaptiveSymbolModel** residual_models = nullptr;  // owned; [k] for classes 1..residual_bits
};

// Forced inline: the compiler keeps an out-of-line copy for the large item
// coders, and the call costs more than the coding (point benchmark, about 5%).
[[gnu::always_inline]] inline void IntegerResidualCoder::encode(int32_t pred, int32_t real,
                                                                uint32_t context) {
  // Wrapping difference, in unsigned arithmetic.
  uint32_t c = static_cast<uint32_t>(real) - static_cast<uint32_t>(pred);
  if (residual_range != 0) {
    const int32_t sc = static_cast<int32_t>(c);
    if (sc < residual_min) {
      c += residual_range;
    } else if (sc > residual_max) {
      c -= residual_range;
    }
    const int32_t wrapped = static_cast<int32_t>(c);
    if (wrapped < residual_min || wrapped > residual_max) {
      // Wider than the coder: keep it modulo the range (for 2^bits, the
      // sign-extended low bits), so the class stays within the models.
      const uint32_t from_min = (c - static_cast<uint32_t>(residual_min)) % residual_range;
      c = from_min + static_cast<uint32_t>(residual_min);
    }
  }
  encodeResidual(c, class_models[context]);
}

[[gnu::always_inline]] inline void IntegerResidualCoder::encodeResidual(uint32_t c,
                                                                        AdaptiveSymbolModel* m) {
  // c is the residual as a 32-bit pattern; read as signed for the class.
  const int32_t sc = static_cast<int32_t>(c);
  const uint32_t u = sc >= 1 ? c - 1 : 0u - c;
  const uint32_t k = u == 0 ? 0u : 32u - static_cast<uint32_t>(__builtin_clz(u));
  last_class = k;
  encoder->putSymbol(m, k);
  if (k == 0) {
    encoder->putBit(residual_bit_model, c);
    return;
  }
  if (k == 32) return;  // only -2^31: the class says it all
  // Negative residuals take the lower half of the class, positive the upper.
  const uint32_t o = sc < 0 ? c + ((1u << k) - 1) : c - 1;
  if (k <= direct_bits) {
    encoder->putSymbol(residual_models[k], o);
  } else {
    const uint32_t s = k - direct_bits;
    encoder->putSymbol(residual_models[k], o >> s);
    encoder->putRawBits(s, o & ((1u << s) - 1));
  }
}

inline int32_t IntegerResidualCoder::decode(int32_t pred, uint32_t context) {
  const uint32_t k = decoder->getSymbol(class_models[context]);
  last_class = k;
  uint32_t residual;
  if (k == 0) {
    residual = decoder->getBit(residual_bit_model);
  } else if (k > 31) {
    residual = static_cast<uint32_t>(residual_min);
  } else {
    uint32_t o;
    if (k <= direct_bits) {
      o = decoder->getSymbol(residual_models[k]);
    } else {
      const uint32_t s = k - direct_bits;
      o = decoder->getSymbol(residual_models[k]) << s;
      o |= decoder->getRawBits(s);
    }
    residual = o < (1u << (k - 1)) ? o - (1u << k) + 1 : o + 1;
  }
  uint32_t r = static_cast<uint32_t>(pred) + residual;
  if (residual_range != 0) {
    if (static_cast<int32_t>(r) < 0) {
      r += residual_range;
    } else if (r >= residual_range) {
      r -= residual_range;
    }
  }
  return static_cast<int32_t>(r);
}

#endif  // MORROWTIDE_COMPRESSOR_INTEGER_RESIDUAL_CODER_H
