// Points per second of the point utilities' per-point work: the point summary's
// add and the histogram set's add, on a fixed seeded set of legacy and LAS 1.4
// points built before the timed loop. The bins are filled once before timing,
// so the timed adds allocate nothing.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "morrowtide/las/las_histogram.h"
#include "morrowtide/las/las_point_summary.h"

namespace {

constexpr size_t kPoints = 4096;

// Format 3 (legacy) and format 7 (LAS 1.4) points with varied values.
std::vector<std::unique_ptr<LASpointRecord>> makePoints(const LASscaleOffset* scale_offset) {
  std::mt19937 rng(20240601);
  std::vector<std::unique_ptr<LASpointRecord>> points;
  for (size_t i = 0; i < kPoints; i++) {
    auto p = std::make_unique<LASpointRecord>();
    const bool las14 = (i & 1) != 0;
    p->initFromFormat(scale_offset, las14 ? 7 : 3, las14 ? 36 : 34, nullptr);
    p->setX(static_cast<int32_t>(rng() % 1000000));
    p->setY(static_cast<int32_t>(rng() % 1000000));
    p->setZ(static_cast<int32_t>(rng() % 100000));
    p->setIntensity(static_cast<uint16_t>(rng()));
    p->setReturnNumber(static_cast<uint8_t>(1 + rng() % 3));
    p->setNumberOfReturns(3);
    p->setClassification(static_cast<uint8_t>(rng() % 8));
    p->setScanAngleRank(static_cast<int8_t>(static_cast<int>(rng() % 61) - 30));
    p->setExtendedScanAngle(static_cast<int16_t>(static_cast<int>(rng() % 10001) - 5000));
    p->setExtendedReturnNumber(static_cast<uint8_t>(1 + rng() % 3));
    p->setExtendedNumberOfReturns(3);
    p->setGpsTime(1000.0 + static_cast<double>(i) * 0.001);
    p->setRgb(0, static_cast<uint16_t>(rng()));
    points.push_back(std::move(p));
  }
  return points;
}

void BM_LASpointSummaryAdd(benchmark::State& state) {
  LASscaleOffset scale_offset;
  const auto points = makePoints(&scale_offset);
  LASpointSummary summary;
  for (auto _ : state) {
    for (const auto& p : points) summary.add(p.get());
    benchmark::DoNotOptimize(summary.number_of_point_records);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
}
BENCHMARK(BM_LASpointSummaryAdd);

// A typical set: scaled z, intensity, classification, scan angle, GPS time and
// two averages histograms.
void BM_LAShistogramAdd(benchmark::State& state) {
  LASscaleOffset scale_offset;
  scale_offset.x_scale_factor = scale_offset.y_scale_factor = scale_offset.z_scale_factor = 0.01;
  const auto points = makePoints(&scale_offset);
  LAShistogram histogram;
  histogram.histo("z", 1.0);
  histogram.histo("intensity", 64.0);
  histogram.histo("classification", 1.0);
  histogram.histo("scan_angle", 1.0);
  histogram.histo("gps_time", 0.5);
  histogram.histoAvg("classification", 1.0, "intensity");
  histogram.histoAvg("return_map", 1.0, "intensity");
  for (const auto& p : points) histogram.add(p.get());  // the bins grow here, once
  for (auto _ : state) {
    for (const auto& p : points) histogram.add(p.get());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
}
BENCHMARK(BM_LAShistogramAdd);

// One plain histogram of a double value: the bins' own add per value.
void BM_LAShistogramBinsAdd(benchmark::State& state) {
  std::mt19937 rng(7);
  std::vector<double> values(kPoints);
  for (double& v : values) v = static_cast<double>(rng() % 100000) * 0.01;
  LAShistogramBins bins(0.5, -2e307, 2e307);
  for (double v : values) bins.add(v);
  for (auto _ : state) {
    for (double v : values) bins.add(v);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
}
BENCHMARK(BM_LAShistogramBinsAdd);

}  // namespace
