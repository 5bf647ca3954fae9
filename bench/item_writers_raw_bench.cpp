// Raw item writers on the uncompressed hot path: points of format 1 (POINT10 and
// GPSTIME11 copies) and of format 6 (the built 30-byte LAS 1.4 record) into a
// reused in-memory stream.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/item_writers_raw.h"

namespace {

constexpr int kPoints = 4096;

std::vector<uint8_t> makePoints(uint8_t extended_point_type) {
  std::mt19937 random(42);
  std::vector<uint8_t> points(kPoints * 77);
  for (uint8_t& b : points) b = static_cast<uint8_t>(random());
  for (int i = 0; i < kPoints; i++) {
    uint8_t& type_byte = points[i * 77 + 22];
    type_byte = static_cast<uint8_t>((type_byte & 0xFC) | extended_point_type);
  }
  return points;
}

void BM_RawFormat1(benchmark::State& state) {
  const std::vector<uint8_t> points = makePoints(0);
  ByteStreamOutArrayLE out;
  LASwriteItemRaw_POINT10_LE point;
  LASwriteItemRaw_GPSTIME11_LE gps_time;
  LASwriteItem* writers[2] = {&point, &gps_time};
  point.attachStream(&out);
  gps_time.attachStream(&out);
  for (auto _ : state) {
    out.seekTo(0);
    for (int i = 0; i < kPoints; i++) {
      const uint8_t* p = points.data() + i * 77;
      uint32_t context = 0;
      writers[0]->writeItem(p, context);
      writers[1]->writeItem(p + 32, context);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_RawFormat1);

void BM_RawPoint14(benchmark::State& state) {
  const std::vector<uint8_t> points = makePoints(static_cast<uint8_t>(state.range(0)));
  ByteStreamOutArrayLE out;
  LASwriteItemRaw_POINT14_LE point;
  LASwriteItem* writer = &point;
  point.attachStream(&out);
  for (auto _ : state) {
    out.seekTo(0);
    for (int i = 0; i < kPoints; i++) {
      uint32_t context = 0;
      writer->writeItem(points.data() + i * 77, context);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_RawPoint14)->Arg(1)->Arg(0);  // extended, legacy

}  // namespace
