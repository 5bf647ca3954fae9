// Reset and rescale of the adaptive models: the rare, linear work that the
// coders call when a model starts or its update countdown runs out.
#include "morrowtide/compressor/adaptive_models.h"

using morrowtide::kBitModelCountLimit;
using morrowtide::kSymbolModelMaxSymbols;
using morrowtide::kSymbolModelMinSymbols;
using morrowtide::kSymbolModelTotalLimit;

AdaptiveSymbolModel::AdaptiveSymbolModel(uint32_t symbols, bool for_encoder)
    : symbols(symbols), for_encoder(for_encoder) {}

AdaptiveSymbolModel::~AdaptiveSymbolModel() { delete[] distribution; }

int32_t AdaptiveSymbolModel::reset(const uint32_t* initial_counts) {
  if (symbols < kSymbolModelMinSymbols || symbols > kSymbolModelMaxSymbols) return -1;
  // Counts of 1 with nothing counted since are what a reset without counts
  // makes: a chunk start resets many models (the high residual classes above
  // all) that the chunk before never used.
  if (initial_counts == nullptr && distribution != nullptr && untouchedSinceReset()) return 0;
  // Given counts must leave every symbol a non-empty interval and keep the
  // total within the 15-bit scale; anything else is refused before any change.
  uint32_t total = symbols;
  if (initial_counts != nullptr) {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < symbols; ++i) {
      if (initial_counts[i] == 0) return -1;
      sum += initial_counts[i];
    }
    if (sum > kSymbolModelTotalLimit) return -1;
    total = static_cast<uint32_t>(sum);
  }

  if (distribution == nullptr) {
    last_symbol = symbols - 1;
    uint32_t block_size = 2 * symbols;
    if (symbols > 16 && !for_encoder) {
      uint32_t table_bits = 0;  // ceil(log2 symbols) - 2
      while ((1u << table_bits) < symbols) ++table_bits;
      table_bits -= 2;
      table_size = 1u << table_bits;
      table_shift = 15 - table_bits;
      block_size += table_size + 2;
    } else {
      table_size = 0;
      table_shift = 0;
    }
    distribution = new uint32_t[block_size]();
    symbol_count = distribution + symbols;
    decoder_table = table_size != 0 ? distribution + 2 * symbols : nullptr;
  }

  // rescale() adds the cycle to the total, so the total becomes the sum of the
  // counts: n for counts of 1.
  total_count = 0;
  update_cycle = total;
  for (uint32_t i = 0; i < symbols; ++i) {
    symbol_count[i] = initial_counts != nullptr ? initial_counts[i] : 1;
  }
  rescale();
  update_cycle = (symbols + 6) >> 1;
  symbols_until_update = update_cycle;
  return 0;
}

void AdaptiveSymbolModel::rescale() {
  total_count += update_cycle;
  if (total_count > kSymbolModelTotalLimit) {
    // Halve upwards, so no count drops below 1.
    total_count = 0;
    for (uint32_t i = 0; i < symbols; ++i) {
      symbol_count[i] = (symbol_count[i] + 1) >> 1;
      total_count += symbol_count[i];
    }
  }

  const uint32_t scale = 0x80000000u / total_count;
  uint32_t sum = 0;
  if (table_size == 0) {
    for (uint32_t k = 0; k < symbols; ++k) {
      distribution[k] = (scale * sum) >> 16;
      sum += symbol_count[k];
    }
  } else {
    // Entry t of the table names the last symbol whose distribution value,
    // shifted right by table_shift, is below t.
    uint32_t s = 0;
    for (uint32_t k = 0; k < symbols; ++k) {
      distribution[k] = (scale * sum) >> 16;
      sum += symbol_count[k];
      const uint32_t w = distribution[k] >> table_shift;
      while (s < w) decoder_table[++s] = k - 1;
    }
    decoder_table[0] = 0;
    while (s <= table_size) decoder_table[++s] = symbols - 1;
  }

  update_cycle = (5 * update_cycle) >> 2;
  const uint32_t max_cycle = 8 * symbols + 48;
  if (update_cycle > max_cycle) update_cycle = max_cycle;
  symbols_until_update = update_cycle;
}

void AdaptiveBitModel::rescale() {
  bit_count += update_cycle;
  if (bit_count > kBitModelCountLimit) {
    bit_count = (bit_count + 1) >> 1;
    bit_0_count = (bit_0_count + 1) >> 1;
    if (bit_0_count == bit_count) ++bit_count;
  }
  bit_0_prob = (bit_0_count * (0x80000000u / bit_count)) >> 18;
  update_cycle = 5 * update_cycle > 259 ? 64 : (5 * update_cycle) >> 2;
  bits_until_update = update_cycle;
}
