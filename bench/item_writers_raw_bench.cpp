// Raw item forms on the uncompressed hot path: the point-record writer gathers
// each raw record through the forms of its items into a block of whole records,
// which goes to the stream when full. Timed here: points of format 1 (POINT10
// and GPSTIME11 copies) and of format 6 (the built 30-byte LAS 1.4 record),
// gathered into a reused block of the writer's size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/compressor/point_fields.h"

using morrowtide::RawItemForm;

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

// Gathers a record of every point into a block of the point-record writer's
// size, starting the block again when it is full, as the writer does after
// handing it to the stream. `offsets` are the items' places in the point.
void gatherRecords(benchmark::State& state, const std::vector<uint8_t>& points,
                   const std::vector<RawItemForm>& forms, const std::vector<uint32_t>& offsets) {
  uint32_t record_size = 0;
  for (const RawItemForm& form : forms) record_size += form.size();
  std::vector<uint8_t> block(LASwriteRecord::kRawBlockBytes / record_size * record_size);
  const uint8_t* const block_end = block.data() + block.size();
  // Locals, as in the writer: the byte stores may alias what the vectors hold.
  const RawItemForm* const form = forms.data();
  const uint32_t* const at = offsets.data();
  const uint32_t n = static_cast<uint32_t>(forms.size());
  for (auto _ : state) {
    uint8_t* out = block.data();
    for (int i = 0; i < kPoints; i++) {
      const uint8_t* point = points.data() + i * kPointSize;
      for (uint32_t k = 0; k < n; k++) {
        form[k].put(point + at[k], out);
        out += form[k].size();
      }
      if (out == block_end) {
        benchmark::DoNotOptimize(block.data());
        out = block.data();
      }
    }
    benchmark::DoNotOptimize(block.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_RawFormat1(benchmark::State& state) {
  gatherRecords(state, makePoints(0), {RawItemForm::point10(), RawItemForm::gpsTime11()},
                {point_fields::kPoint10, point_fields::kGpsTime});
}
BENCHMARK(BM_RawFormat1);

void BM_RawPoint14(benchmark::State& state) {
  gatherRecords(state, makePoints(static_cast<uint8_t>(state.range(0))),
                {RawItemForm::point14Record()}, {point_fields::kPoint10});
}
BENCHMARK(BM_RawPoint14)->Arg(1)->Arg(0);  // extended, legacy

}  // namespace
