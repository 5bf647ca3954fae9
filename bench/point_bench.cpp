// Whole-point writing through the point-record writer into a reused in-memory
// stream: point formats 1 and 4 compressed in chunks, format 1 raw, and the LAS
// 1.4 formats 6, 7 and 8 (with 3 extra bytes) in layered chunks. The input is
// scan-like (smooth coordinates along each pulse, regular GPS steps, one to three
// returns a pulse; LAS 1.4 pulses from three interleaved scanner channels, each
// with its own line, with slowly changing colour and extra bytes) and built
// before the timed loop; items/s is points/s.
#include <benchmark/benchmark.h>

#include <vector>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/compressor/quodax.h"

using morrowtide::putF32LE;
using morrowtide::putF64LE;
using morrowtide::putU16LE;
using morrowtide::putU32LE;
using morrowtide::putU64LE;

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

// LAS 1.4 points in memory: the 40-byte point view at 0, R, G, B, NIR at 40,
// extra bytes at 48 (56 bytes).
constexpr size_t kStride14 = 56;

std::vector<uint8_t> scanPoints14(uint32_t n) {
  std::vector<uint8_t> bytes(n * kStride14);
  uint32_t pulse = 0;
  uint32_t i = 0;
  while (i < n) {
    const uint32_t channel = pulse % 3;
    const uint32_t line_pulse = pulse / 3;
    const uint32_t returns = 1 + (pulse * 7) % 3;
    const double time = 3600.0 + 0.00002 * line_pulse + 0.000005 * channel;
    for (uint32_t r = 1; r <= returns && i < n; r++, i++) {
      uint8_t* p = &bytes[i * kStride14];
      const uint32_t along = line_pulse % 1000;
      putU32LE(p + 0, 4000000 + 35 * along + 3 * r + 11 * channel);
      putU32LE(p + 4, 7000000 + 20 * (line_pulse / 1000) + 2 * r + 500 * channel);
      putU32LE(p + 8, 120000 + (along * along) % 97 - 150 * r);
      putU16LE(p + 12, static_cast<uint16_t>(40 + (pulse * 13 + r * 29) % 120));
      p[14] = static_cast<uint8_t>((r & 7) | ((returns & 7) << 3) | ((line_pulse / 1000 % 2) << 6));
      const uint8_t cls = r == returns ? 2 : 1;
      p[15] = cls;
      p[17] = 0;
      putU16LE(p + 18, 3);
      putU16LE(p + 20, static_cast<uint16_t>(static_cast<int16_t>(along * 5) - 2500));
      p[22] = static_cast<uint8_t>(1 | (channel << 2));
      p[23] = cls;
      p[24] = static_cast<uint8_t>(r | (returns << 4));
      putF64LE(p + 32, time);
      const uint16_t grey = static_cast<uint16_t>(20000 + (along * 37) % 2000);
      putU16LE(p + 40, grey);
      putU16LE(p + 42, static_cast<uint16_t>(grey + 300));
      putU16LE(p + 44, static_cast<uint16_t>(grey - 500));
      putU16LE(p + 46, static_cast<uint16_t>(30000 + (pulse % 64)));
      p[48] = static_cast<uint8_t>(r);
      p[49] = static_cast<uint8_t>(along / 4);
      p[50] = 7;
    }
    pulse++;
  }
  return bytes;
}

void writePoints14(benchmark::State& state, uint8_t point_type, uint16_t point_size) {
  const std::vector<uint8_t> points = scanPoints14(kPoints);
  Quodax descriptor;
  if (!descriptor.setup(point_type, point_size, Quodax::CompressorLayeredChunked)) {
    state.SkipWithError("descriptor setup failed");
    return;
  }
  // Where each item lies in the point in memory.
  std::vector<size_t> offsets;
  for (uint16_t i = 0; i < descriptor.num_items; i++) {
    const uint16_t type = descriptor.items[i].type;
    offsets.push_back(type == LASitem::POINT14 ? 0 : type == LASitem::BYTE14 ? 48 : 40);
  }
  ByteStreamOutArrayLE out;
  std::vector<const uint8_t*> items(offsets.size());
  for (auto _ : state) {
    out.seekTo(0);
    LASwriteRecord writer;
    if (!writer.setup(descriptor.num_items, descriptor.items, &descriptor) ||
        !writer.attach(&out)) {
      state.SkipWithError("record writer setup failed");
      return;
    }
    for (uint32_t i = 0; i < kPoints; i++) {
      const uint8_t* p = &points[i * kStride14];
      for (size_t k = 0; k < offsets.size(); k++) items[k] = p + offsets[k];
      writer.writeRecord(items.data());
    }
    writer.finish();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
  state.counters["bytes_per_point"] = static_cast<double>(out.byteCount()) / kPoints;
}

void writePoints(benchmark::State& state, uint8_t point_type, uint16_t point_size,
                 uint16_t compressor) {
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

void BM_Format1Compressed(benchmark::State& state) {
  writePoints(state, 1, 28, Quodax::CompressorChunked);
}
void BM_Format4Compressed(benchmark::State& state) {
  writePoints(state, 4, 57, Quodax::CompressorChunked);
}
void BM_Format1Raw(benchmark::State& state) { writePoints(state, 1, 28, Quodax::CompressorNone); }

void BM_Format6Layered(benchmark::State& state) { writePoints14(state, 6, 30); }
void BM_Format7Layered(benchmark::State& state) { writePoints14(state, 7, 36); }
void BM_Format8LayeredExtraBytes(benchmark::State& state) { writePoints14(state, 8, 41); }

BENCHMARK(BM_Format1Compressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format6Layered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format7Layered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format8LayeredExtraBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format4Compressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format1Raw)->Unit(benchmark::kMillisecond);

}  // namespace
