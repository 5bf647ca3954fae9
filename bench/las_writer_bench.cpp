// The LAS writer on its per-point path: uncompressed format 1 points into the null
// stream and into a file in a scratch folder, and compressed (chunked, compressor 2) format 1
// and format 4 points into the null stream. Every iteration opens the writer,
// writes 2^20 points cycling through 1024 prepared ones, and closes it, so the
// header and the chunk table are counted too (a small share).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_las.h"
#include "tests/scratch_dir.h"

namespace {

constexpr int kPointsPerRun = 1 << 20;
constexpr int kPreparedPoints = 1024;  // a power of two: the cycle is a mask

struct Run {
  LASheader header;
  std::vector<std::unique_ptr<LASpointRecord>> points;
};

// A header of LAS 1.2 format 1 or LAS 1.3 format 4, and points along a noisy
// flight line from a fixed seed.
std::unique_ptr<Run> makeRun(uint8_t format) {
  auto run = std::make_unique<Run>();
  LASheader& h = run->header;
  h.clean();
  h.point_data_format = format;
  h.point_data_record_length = format == 4 ? 57 : 28;
  if (format == 4) {
    h.version_minor = 3;
    h.header_size = 235;
    h.offset_to_point_data = 235;
  }
  std::mt19937 random(42);
  int32_t x = 100000;
  int32_t y = 200000;
  double t = 1000.0;
  for (int i = 0; i < kPreparedPoints; i++) {
    auto p = std::make_unique<LASpointRecord>();
    p->initFromFormat(&h, format, h.point_data_record_length, &h);
    x += static_cast<int32_t>(random() % 64) - 16;
    y += static_cast<int32_t>(random() % 32) - 16;
    p->setX(x);
    p->setY(y);
    p->setZ(static_cast<int32_t>(random() % 4000));
    p->setIntensity(static_cast<uint16_t>(random()));
    p->setReturnNumber(static_cast<uint8_t>(1 + i % 3));
    p->setNumberOfReturns(3);
    p->setClassification(static_cast<uint8_t>(random() % 8));
    p->setScanAngleRank(static_cast<int8_t>(random() % 60 - 30));
    p->setPointSourceID(7);
    t += 0.00001 * (1 + random() % 4);
    p->setGpsTime(t);
    if (format == 4) {
      p->wavepacket.setIndex(1);
      p->wavepacket.setOffset(60 + 88ull * static_cast<uint64_t>(i / 3));
      p->wavepacket.setSize(88);
      p->wavepacket.setLocation(static_cast<float>(random() % 1000));
    }
    run->points.push_back(std::move(p));
  }
  return run;
}

void writeRun(benchmark::State& state, LASwriterLAS& writer, const Run& run) {
  for (int i = 0; i < kPointsPerRun; i++) {
    writer.writePoint(run.points[static_cast<size_t>(i & (kPreparedPoints - 1))].get());
  }
  const int64_t bytes = writer.close(true);
  benchmark::DoNotOptimize(bytes);
  state.counters["bytes_per_point"] = static_cast<double>(bytes) / kPointsPerRun;
}

void finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kPointsPerRun);
}

void BM_UncompressedFormat1ToNull(benchmark::State& state) {
  const auto run = makeRun(1);
  for (auto _ : state) {
    LASwriterLAS writer;
    if (!writer.openNull(&run->header, 0, 2, 50000)) state.SkipWithError("open failed");
    writeRun(state, writer, *run);
  }
  finish(state);
}
BENCHMARK(BM_UncompressedFormat1ToNull)->Unit(benchmark::kMillisecond);

void BM_UncompressedFormat1ToFile(benchmark::State& state) {
  const auto run = makeRun(1);
  const ScratchDir scratch;  // runs at once never share the file
  const std::string path = scratch.path("las_writer_bench.las");
  for (auto _ : state) {
    LASwriterLAS writer;
    if (!writer.openFile(path.c_str(), &run->header, 0, 2, 50000, 262144)) {
      state.SkipWithError("open failed");
      break;
    }
    writeRun(state, writer, *run);
  }
  finish(state);
}
BENCHMARK(BM_UncompressedFormat1ToFile)->Unit(benchmark::kMillisecond);

void BM_CompressedToNull(benchmark::State& state) {
  const auto run = makeRun(static_cast<uint8_t>(state.range(0)));
  for (auto _ : state) {
    LASwriterLAS writer;
    if (!writer.openNull(&run->header, 2, 2, 50000)) state.SkipWithError("open failed");
    writeRun(state, writer, *run);
  }
  finish(state);
}
BENCHMARK(BM_CompressedToNull)->Arg(1)->Arg(4)->ArgName("format")->Unit(benchmark::kMillisecond);

}  // namespace
