// Tests of the adaptive symbol and bit models: sizes, tables, the exact update
// cycles and distributions, halving, and the refusal of unusable initial counts.
#include "morrowtide/compressor/adaptive_models.h"

#include <gtest/gtest.h>

#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"

namespace {

std::vector<uint32_t> distributionOf(const AdaptiveSymbolModel& m) {
  return std::vector<uint32_t>(m.distribution, m.distribution + m.symbols);
}

std::vector<uint32_t> countsOf(const AdaptiveSymbolModel& m) {
  return std::vector<uint32_t>(m.symbol_count, m.symbol_count + m.symbols);
}

TEST(AdaptiveSymbolModel, ResetGivesUniformDistributionAndFirstCycle) {
  AdaptiveSymbolModel two(2, true);
  ASSERT_EQ(two.reset(nullptr), 0);
  EXPECT_EQ(distributionOf(two), (std::vector<uint32_t>{0, 16384}));
  EXPECT_EQ(two.update_cycle, 4u);
  EXPECT_EQ(two.symbols_until_update, 4u);
  EXPECT_EQ(two.total_count, 2u);

  AdaptiveSymbolModel three(3, false);
  ASSERT_EQ(three.reset(nullptr), 0);
  EXPECT_EQ(distributionOf(three), (std::vector<uint32_t>{0, 10922, 21845}));
}

TEST(AdaptiveSymbolModel, AlphabetSizeLimits) {
  const struct {
    uint32_t symbols;
    int32_t result;
  } cases[] = {{0, -1}, {1, -1}, {2, 0}, {2048, 0}, {2049, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbols);
    for (bool for_encoder : {true, false}) {
      AdaptiveSymbolModel m(c.symbols, for_encoder);
      EXPECT_EQ(m.reset(nullptr), c.result);
      EXPECT_EQ(m.distribution == nullptr, c.result != 0);
    }
  }
}

TEST(AdaptiveSymbolModel, DecoderTableOnlyOnDecodingSideAbove16Symbols) {
  const struct {
    uint32_t symbols;
    bool for_encoder;
    uint32_t table_size;
    uint32_t table_shift;
  } cases[] = {{16, false, 0, 0},     {17, false, 8, 12},  {32, false, 8, 12},
               {33, false, 16, 11},   {256, false, 64, 9}, {516, false, 256, 7},
               {2048, false, 512, 6}, {17, true, 0, 0},    {2048, true, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.symbols << (c.for_encoder ? " encoder" : " decoder"));
    AdaptiveSymbolModel m(c.symbols, c.for_encoder);
    ASSERT_EQ(m.reset(nullptr), 0);
    EXPECT_EQ(m.table_size, c.table_size);
    EXPECT_EQ(m.table_shift, c.table_shift);
    EXPECT_EQ(m.decoder_table != nullptr, c.table_size != 0);
    EXPECT_EQ(m.last_symbol, c.symbols - 1);
  }
}

// Codes `symbols` through an encoder, so the model adapts as in real use.
void codeSymbols(AdaptiveSymbolModel* m, const std::vector<uint32_t>& symbols) {
  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  enc.start(&sink);
  for (uint32_t s : symbols) enc.putSymbol(m, s);
  enc.finish();
}

TEST(AdaptiveSymbolModel, DecoderTableNamesLastSymbolBelowEachEntry) {
  for (uint32_t n : {17u, 256u, 516u, 2048u}) {
    SCOPED_TRACE(n);
    AdaptiveSymbolModel m(n, false);
    ASSERT_EQ(m.reset(nullptr), 0);
    // Skew the counts so that many symbols share table entries.
    std::vector<uint32_t> symbols;
    for (uint32_t i = 0; i < 40000; ++i) symbols.push_back((i * i) % 7 == 0 ? i % n : 3 % n);
    // Drive the model without an encoder's interval: only the counts matter.
    for (uint32_t s : symbols) {
      ++m.symbol_count[s];
      if (--m.symbols_until_update == 0) m.rescale();
    }
    EXPECT_EQ(m.decoder_table[0], 0u);
    EXPECT_EQ(m.decoder_table[m.table_size + 1], n - 1);
    for (uint32_t t = 1; t <= m.table_size; ++t) {
      const uint32_t k = m.decoder_table[t];
      ASSERT_LT(k, n);
      EXPECT_LT(m.distribution[k] >> m.table_shift, t) << "t=" << t;
      if (k != n - 1) {
        EXPECT_GE(m.distribution[k + 1] >> m.table_shift, t) << "t=" << t;
      }
    }
  }
}

TEST(AdaptiveSymbolModel, UpdateCycleGrowsByAQuarterUpToItsCap) {
  const struct {
    uint32_t symbols;
    std::vector<uint32_t> cycles;
  } cases[] = {
      {256, {131, 163, 203, 253, 316, 395, 493, 616, 770, 962, 1202, 1502, 1877, 2096, 2096}},
      {64, {35, 43, 53, 66, 82, 102, 127, 158, 197, 246, 307, 383, 478, 560, 560}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbols);
    AdaptiveSymbolModel m(c.symbols, true);
    ASSERT_EQ(m.reset(nullptr), 0);
    std::vector<uint32_t> seen{m.update_cycle};
    for (uint32_t cycle = 1; cycle < c.cycles.size(); ++cycle) {
      codeSymbols(&m, std::vector<uint32_t>(m.symbols_until_update, cycle % c.symbols));
      seen.push_back(m.update_cycle);
    }
    EXPECT_EQ(seen, c.cycles);
  }
}

TEST(AdaptiveSymbolModel, SecondResetRestoresStartWithoutReallocating) {
  AdaptiveSymbolModel m(5, true);
  ASSERT_EQ(m.reset(nullptr), 0);
  const std::vector<uint32_t> fresh = distributionOf(m);
  const uint32_t* block = m.distribution;
  codeSymbols(&m, std::vector<uint32_t>(100, 4));
  ASSERT_NE(distributionOf(m), fresh);

  ASSERT_EQ(m.reset(nullptr), 0);
  EXPECT_EQ(m.distribution, block);
  EXPECT_EQ(distributionOf(m), fresh);
  EXPECT_EQ(countsOf(m), std::vector<uint32_t>(5, 1));
  EXPECT_EQ(m.total_count, 5u);
  EXPECT_EQ(m.update_cycle, 5u);
  EXPECT_EQ(m.symbols_until_update, 5u);
}

// A reset of a model still at counts of 1 is skipped; every other state must
// still be reset in full, including one just rescaled (countdown full again).
TEST(AdaptiveSymbolModel, ResetAfterAnyUseGivesTheFreshState) {
  const struct {
    const char* name;
    std::vector<uint32_t> initial;  // empty: reset without counts first
    uint32_t coded;                 // symbols coded before the second reset
  } cases[] = {
      {"unused", {}, 0},
      {"one symbol", {}, 1},
      {"one short of a cycle", {}, 4},
      {"exactly one cycle", {}, 5},
      {"many cycles", {}, 300},
      {"initial counts, unused", {2, 1, 1, 1, 1}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdaptiveSymbolModel m(5, true);
    ASSERT_EQ(m.reset(c.initial.empty() ? nullptr : c.initial.data()), 0);
    codeSymbols(&m, std::vector<uint32_t>(c.coded, 4));
    ASSERT_EQ(m.reset(nullptr), 0);
    EXPECT_EQ(distributionOf(m), (std::vector<uint32_t>{0, 6553, 13107, 19660, 26214}));
    EXPECT_EQ(countsOf(m), std::vector<uint32_t>(5, 1));
    EXPECT_EQ(m.total_count, 5u);
    EXPECT_EQ(m.update_cycle, 5u);
    EXPECT_EQ(m.symbols_until_update, 5u);
  }
}

TEST(AdaptiveSymbolModel, HalvingKeepsCountsPositiveAndDistributionIncreasing) {
  AdaptiveSymbolModel m(4, true);
  ASSERT_EQ(m.reset(nullptr), 0);
  // Symbol 0 dominates: the total passes 2^15 many times over.
  std::vector<uint32_t> symbols(200000, 0);
  for (size_t i = 0; i < symbols.size(); i += 50000) symbols[i] = 3;
  codeSymbols(&m, symbols);
  EXPECT_LE(m.total_count, 32768u);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_GE(m.symbol_count[i], 1u);
    sum += m.symbol_count[i];
  }
  EXPECT_LE(sum, 32768u + m.update_cycle);
  for (uint32_t i = 1; i < 4; ++i) EXPECT_LT(m.distribution[i - 1], m.distribution[i]);
  EXPECT_LT(m.distribution[3], 32768u);
}

TEST(AdaptiveSymbolModel, ResetRefusesUnusableInitialCounts) {
  // A zero count or a sum past the 15-bit scale would give empty or
  // overlapping intervals; such counts are refused and the model stays as it was.
  const uint32_t zero[] = {3, 0, 5};
  const uint32_t too_many[] = {16384, 16384, 1};
  for (const uint32_t* counts : {zero, too_many}) {
    AdaptiveSymbolModel unused(3, true);
    EXPECT_EQ(unused.reset(counts), -1);
    EXPECT_EQ(unused.distribution, nullptr);

    AdaptiveSymbolModel used(3, true);
    ASSERT_EQ(used.reset(nullptr), 0);
    codeSymbols(&used, {2, 2, 2, 2});
    const std::vector<uint32_t> before = distributionOf(used);
    const std::vector<uint32_t> counts_before = countsOf(used);
    EXPECT_EQ(used.reset(counts), -1);
    EXPECT_EQ(distributionOf(used), before);
    EXPECT_EQ(countsOf(used), counts_before);
  }
}

TEST(AdaptiveSymbolModel, ResetWithInitialCountsUpToTheLimit) {
  const uint32_t skewed[] = {1, 3};
  AdaptiveSymbolModel m(2, true);
  ASSERT_EQ(m.reset(skewed), 0);
  EXPECT_EQ(distributionOf(m), (std::vector<uint32_t>{0, 8192}));
  EXPECT_EQ(m.total_count, 4u);

  const uint32_t at_limit[] = {16384, 16384};
  ASSERT_EQ(m.reset(at_limit), 0);
  EXPECT_EQ(distributionOf(m), (std::vector<uint32_t>{0, 16384}));
  EXPECT_EQ(m.total_count, 32768u);
  const uint32_t past_limit[] = {16384, 16385};
  EXPECT_EQ(m.reset(past_limit), -1);
  EXPECT_EQ(m.total_count, 32768u);
}

TEST(AdaptiveBitModel, StartsAtOneHalf) {
  AdaptiveBitModel m;
  EXPECT_EQ(m.update_cycle, 4u);
  EXPECT_EQ(m.bits_until_update, 4u);
  EXPECT_EQ(m.bit_0_prob, 4096u);
  EXPECT_EQ(m.bit_0_count, 1u);
  EXPECT_EQ(m.bit_count, 2u);
}

// Codes `count` copies of `bit`.
void codeBits(AdaptiveBitModel* m, uint32_t bit, uint32_t count) {
  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  enc.start(&sink);
  for (uint32_t i = 0; i < count; ++i) enc.putBit(m, bit);
  enc.finish();
}

TEST(AdaptiveBitModel, FourZerosAfterReset) {
  AdaptiveBitModel m;
  codeBits(&m, 1, 9);
  m.reset();
  codeBits(&m, 0, 4);
  EXPECT_EQ(m.bit_0_count, 5u);
  EXPECT_EQ(m.bit_count, 6u);
  EXPECT_EQ(m.bit_0_prob, 6826u);
  EXPECT_EQ(m.update_cycle, 5u);
  EXPECT_EQ(m.bits_until_update, 5u);
}

TEST(AdaptiveBitModel, UpdateCycleRunsUpTo64) {
  AdaptiveBitModel m;
  std::vector<uint32_t> seen{m.update_cycle};
  for (int i = 0; i < 16; ++i) {
    codeBits(&m, i & 1, m.bits_until_update);
    seen.push_back(m.update_cycle);
  }
  EXPECT_EQ(seen,
            (std::vector<uint32_t>{4, 5, 6, 7, 8, 10, 12, 15, 18, 22, 27, 33, 41, 51, 63, 64, 64}));
}

TEST(AdaptiveBitModel, ProbabilityStaysInsideTheScale) {
  AdaptiveBitModel ones;
  codeBits(&ones, 1, 100000);
  EXPECT_GE(ones.bit_0_prob, 1u);
  EXPECT_LE(ones.bit_count, 8192u);

  // Counts are compared right after each rescale, where the model is consistent.
  AdaptiveBitModel zeros;
  for (int cycle = 0; cycle < 2000; ++cycle) {
    codeBits(&zeros, 0, zeros.bits_until_update);
    ASSERT_LT(zeros.bit_0_prob, 8192u);
    ASSERT_GT(zeros.bit_count, zeros.bit_0_count);
  }
}

}  // namespace
