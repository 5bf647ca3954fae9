// Raw records on the uncompressed hot path, through the point-record writer
// itself: it gathers each record through the raw forms of its items into a
// block of whole records and hands a full block to the stream (here a stream
// that only counts). Points of format 1 (POINT10 and GPSTIME11 copies) and of
// format 6 (the built 30-byte LAS 1.4 record).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/compressor/point_fields.h"

namespace {

constexpr int kPoints = 4096;
constexpr uint32_t kPointSize = point_fields::kFixedSize;

std::vector<uint8_t> makePoints(uint8_t extended_point_type) {
  std::mt19937 random(42);
  std::vector<uint8_t> points(kPoints * kPointSize);
  for (uint8_t& b : points) b = static_cast<uint8_t>(random());
  for (int i = 0; i < kPoints; i++) {
    uint8_t& type_byte = points[i * kPointSize + point_fields::kExtendedTypeByte];
    type_byte = static_cast<uint8_t>((type_byte & 0xFC) | extended_point_type);
  }
  return points;
}

// Writes a raw record of every point through a point-record writer set up for
// `items`; `offsets` are the items' places in the point.
void writeRawRecords(benchmark::State& state, const std::vector<uint8_t>& points,
                     const std::vector<LASitem>& items, const std::vector<uint32_t>& offsets) {
  const size_t n = items.size();
  std::vector<const uint8_t*> item_pointers(kPoints * n);
  for (int i = 0; i < kPoints; i++) {
    for (size_t k = 0; k < n; k++) {
      item_pointers[i * n + k] = points.data() + i * kPointSize + offsets[k];
    }
  }
  LASwriteRecord writer;
  ByteStreamOutNil out;
  if (!writer.setup(static_cast<uint32_t>(n), items.data(), nullptr) || !writer.attach(&out)) {
    state.SkipWithError("the point-record writer refused the items");
    return;
  }
  for (auto _ : state) {
    for (int i = 0; i < kPoints; i++) {
      if (!writer.writeRecord(&item_pointers[i * n])) {
        state.SkipWithError("a record was refused");
        return;
      }
    }
  }
  benchmark::DoNotOptimize(out.position());
  state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_RawFormat1(benchmark::State& state) {
  writeRawRecords(state, makePoints(0), {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}},
                  {point_fields::kPoint10, point_fields::kGpsTime});
}
BENCHMARK(BM_RawFormat1);

void BM_RawPoint14(benchmark::State& state) {
  writeRawRecords(state, makePoints(static_cast<uint8_t>(state.range(0))),
                  {{LASitem::POINT14, 30, 0}}, {point_fields::kPoint10});
}
BENCHMARK(BM_RawPoint14)->Arg(1)->Arg(0);  // extended, legacy

}  // namespace
