// The adaptive probability models that drive the arithmetic coder: a frequency
// model over 2 to 2048 symbols and a model of one bit. Read this first:
// - holders (item coders, the residual coder) only keep the pointer; the models
//   are created, reset, counted into and deleted by the encoder or decoder;
// - encoder and decoder must see the same distributions after the same symbols,
//   so every rule is exact 32-bit unsigned arithmetic; do not "improve" it;
// - a symbol model has no storage until its first reset(), and later resets
//   reuse the block; only a decoding-side model of more than 16 symbols carries
//   the decoder lookup table.
#ifndef MORROWTIDE_COMPRESSOR_ADAPTIVE_MODELS_H
#define MORROWTIDE_COMPRESSOR_ADAPTIVE_MODELS_H

#include <cstdint>

namespace morrowtide {

// Distributions live on a 15-bit scale; a total past this halves every count.
constexpr uint32_t kSymbolModelTotalLimit = 1u << 15;
// Alphabet sizes a symbol model accepts.
constexpr uint32_t kSymbolModelMinSymbols = 2;
constexpr uint32_t kSymbolModelMaxSymbols = 2048;
// Bit probabilities live on a 13-bit scale; a bit count past this halves.
constexpr uint32_t kBitModelCountLimit = 1u << 13;

}  // namespace morrowtide

// Frequency model over `symbols` symbols. The fields are coder state, read and
// updated only by EntropyEncoder/EntropyDecoder (and inspected by tests).
class AdaptiveSymbolModel final {
 public:
  // Stores the alphabet size and side; allocates nothing.
  AdaptiveSymbolModel(uint32_t symbols, bool for_encoder);
  ~AdaptiveSymbolModel();
  AdaptiveSymbolModel(const AdaptiveSymbolModel&) = delete;
  AdaptiveSymbolModel& operator=(const AdaptiveSymbolModel&) = delete;

  // Makes the model ready: counts of 1 (or `initial_counts`, n values, when not
  // null), the matching distribution and the first update cycle. Returns 0, or
  // -1 leaving the model unchanged when the alphabet is outside 2..2048 (the
  // model then has no storage) or a given count is 0 or the counts sum above
  // kSymbolModelTotalLimit. Allocates only at the first successful call.
  int32_t reset(const uint32_t* initial_counts);
  // Recomputes the distribution (and decoder table) from the counts and starts
  // the next update cycle. Requires: a successful reset().
  void rescale();

  uint32_t* distribution = nullptr;   // n entries, 15-bit scale; owned block start
  uint32_t* symbol_count = nullptr;   // n entries, in the block after distribution
  uint32_t* decoder_table = nullptr;  // table_size + 2 entries, or null
  uint32_t total_count = 0;
  uint32_t update_cycle = 0;
  uint32_t symbols_until_update = 0;
  uint32_t symbols;
  uint32_t last_symbol = 0;
  uint32_t table_size = 0;   // 2^table_bits, or 0 without decoder table
  uint32_t table_shift = 0;  // 15 - table_bits, or 0 without decoder table
  bool for_encoder;

 private:
  // Whether the counts are all 1 and none was added since: the state reset()
  // without counts would give (a rescale leaves total_count above `symbols`).
  bool untouchedSinceReset() const {
    return total_count == symbols && update_cycle == (symbols + 6) >> 1 &&
           symbols_until_update == update_cycle;
  }
};

// Model of one bit: probability of a 0 on a 13-bit scale.
class AdaptiveBitModel final {
 public:
  AdaptiveBitModel() { reset(); }

  // Back to the starting values: cycle 4, probability one half.
  void reset() {
    update_cycle = 4;
    bits_until_update = 4;
    bit_0_prob = 1u << 12;
    bit_0_count = 1;
    bit_count = 2;
  }
  // Recomputes bit_0_prob from the counts and starts the next update cycle.
  void rescale();

  uint32_t update_cycle;
  uint32_t bits_until_update;
  uint32_t bit_0_prob;
  uint32_t bit_0_count;
  uint32_t bit_count;
};

#endif  // MORROWTIDE_COMPRESSOR_ADAPTIVE_MODELS_H
