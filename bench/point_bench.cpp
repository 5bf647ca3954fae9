// Whole-point writing through the point-record writer into a reused in-memory
// stream: point formats 1 and 4 compressed in chunks, and format 1 raw. The input
// is scan-like (smooth coordinates along each pulse, regular GPS steps, one to
// three returns a pulse) and built before the timed loop; items/s is points/s.
#include <benchmark/benchmark.h>

#include <vector>

#include "compressor/byte_order.h"
#include "compressor/byte_stream_out.h"
#include "compressor/las_write_record.h"
#include "compressor/quodax.h"

namespace {

constexpr uint32_t kPoints = 200000;

// Points of format 4 layout in memory: POINT10 at 0, GPS time at 20, wave packet
// at 28 (57 bytes); format 1 uses the first 28 bytes.
std::vector<uint8_t> scanPoints(uint32_t n) {
  constexpr size_t kStride = 57;
  std::vector<uint8_t> bytes(n * kStride);
  uint32_t pulse = 0;
  uint32_t i = 0;
  uint64_t offset = 60;
  while (i < n) {
    const uint32_t returns = 1 + (pulse * 7) % 3;
    const double time = 3600.0 + 0.00002 * pulse;
    for (uint32_t r = 1; r <= returns && i < n; r++, i++) {
      uint8_t* p = &bytes[i * kStride];
      const uint32_t along = pulse % 1000;
      putU32LE(p + 0, 4000000 + 35 * along + 3 * r);
      putU32LE(p + 4, 7000000 + 20 * (pulse / 1000) + 2 * r);
      putU32LE(p + 8, 120000 + (along * along) % 97 - 150 * r);
      p[12] = static_cast<uint8_t>(40 + (pulse * 13 + r * 29) % 120);
      p[13] = 0;
      p[14] = static_cast<uint8_t>(r | (returns << 3) | ((pulse / 1000 % 2) << 6));
      p[15] = r == returns ? 2 : 1;
      p[16] = static_cast<uint8_t>(static_cast<int8_t>(static_cast<int32_t>(along / 40) - 12));
      p[17] = 0;
      p[18] = 3;
      p[19] = 0;
      putF64LE(p + 20, time);
      p[28] = 1;  // wave packet descriptor index
      putU64LE(p + 29, offset);
      putU32LE(p + 37, 256);  // packet size
      const float location = 1000.0f + 150.0f * static_cast<float>(r);
      const float xt = 0.0001f, yt = 0.0002f, zt = -0.15f;
      putF32LE(p + 41, location);
      putF32LE(p + 45, xt);
      putF32LE(p + 49, yt);
      putF32LE(p + 53, zt);
    }
    offset += 256;
    pulse++;
  }
  return bytes;
}

void writePoints(benchmark::State& state, uint8_t point_type, uint16_t point_size, uint16_t compressor) {
  const std::vector<uint8_t> points = scanPoints(kPoints);
  Quodax descriptor;
  if (!descriptor.setup(point_type, point_size, compressor)) {
    state.SkipWithError("descriptor setup failed");
    return;
  }
  const bool compressed = compressor != Quodax::CompressorNone;
  ByteStreamOutArrayLE out;
  for (auto _ : state) {
    out.seekTo(0);
    LASwriteRecord writer;
    if (!writer.setup(descriptor.num_items, descriptor.items, compressed ? &descriptor : nullptr) ||
        !writer.attach(&out)) {
      state.SkipWithError("record writer setup failed");
      return;
    }
    for (uint32_t i = 0; i < kPoints; i++) {
      const uint8_t* p = &points[i * 57];
      const uint8_t* items[3] = {p, p + 20, p + 28};
      writer.writeRecord(items);
    }
    writer.finish();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
  state.counters["bytes_per_point"] = static_cast<double>(out.byteCount()) / kPoints;
}

void BM_Format1Compressed(benchmark::State& state) { writePoints(state, 1, 28, Quodax::CompressorChunked); }
void BM_Format4Compressed(benchmark::State& state) { writePoints(state, 4, 57, Quodax::CompressorChunked); }
void BM_Format1Raw(benchmark::State& state) { writePoints(state, 1, 28, Quodax::CompressorNone); }

BENCHMARK(BM_Format1Compressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format4Compressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format1Raw)->Unit(benchmark::kMillisecond);

}  // namespace
