// Micro-benchmarks of the arithmetic coder's hot operations: putSymbol on a
// 256-symbol model, putBit, and a 32-bit residual encode. Inputs are built
// before the timed loop from a fixed seed; the in-memory sink is rewound and
// reused, so the loop measures coding alone (plus the 4096-byte handovers).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"

namespace {

constexpr size_t kInputs = 1 << 16;

void BM_PutSymbol256(benchmark::State& state) {
  // Skewed symbols, as the item coders see them: mostly small values.
  std::mt19937 rng(1);
  std::geometric_distribution<uint32_t> geometric(0.05);
  std::vector<uint32_t> symbols(kInputs);
  for (auto& s : symbols) s = geometric(rng) % 256;

  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  AdaptiveSymbolModel* model = enc.newSymbolModel(256);
  enc.resetSymbolModel(model, nullptr);
  for (auto _ : state) {
    sink.seekTo(0);
    enc.start(&sink);
    for (uint32_t s : symbols) enc.putSymbol(model, s);
    enc.finish();
    benchmark::DoNotOptimize(sink.data());
  }
  enc.deleteSymbolModel(model);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kInputs));
}
BENCHMARK(BM_PutSymbol256);

void BM_PutBit(benchmark::State& state) {
  std::mt19937 rng(2);
  std::vector<uint32_t> bits(kInputs);
  for (auto& b : bits) b = (rng() % 10) < 2 ? 1 : 0;

  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  AdaptiveBitModel* model = enc.newBitModel();
  for (auto _ : state) {
    sink.seekTo(0);
    enc.start(&sink);
    for (uint32_t b : bits) enc.putBit(model, b);
    enc.finish();
    benchmark::DoNotOptimize(sink.data());
  }
  enc.deleteBitModel(model);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kInputs));
}
BENCHMARK(BM_PutBit);

void BM_ResidualEncode32(benchmark::State& state) {
  // A smooth coordinate-like walk with an occasional jump, predicted by the
  // previous value.
  std::mt19937 rng(3);
  std::vector<int32_t> values(kInputs);
  uint32_t walk = 1000000;
  for (auto& v : values) {
    const uint32_t r = rng();
    walk += (r % 64 == 0) ? (r >> 8) : (r % 401) - 200;
    v = static_cast<int32_t>(walk);
  }

  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  IntegerResidualCoder coder(&enc, 32, 1, 8, 0);
  for (auto _ : state) {
    sink.seekTo(0);
    enc.start(&sink);
    coder.startEncoding();
    int32_t pred = 0;
    for (int32_t v : values) {
      coder.encode(pred, v, 0);
      pred = v;
    }
    enc.finish();
    benchmark::DoNotOptimize(sink.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kInputs));
}
BENCHMARK(BM_ResidualEncode32);

}  // namespace
