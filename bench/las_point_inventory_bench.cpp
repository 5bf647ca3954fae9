// Points per second of the point inventory's per-point count (add), on a fixed
// seeded set of legacy and LAS 1.4 points built before the timed loop.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "morrowtide/las/las_point_inventory.h"

namespace {

void BM_LASpointInventoryAdd(benchmark::State& state) {
  constexpr size_t kPoints = 4096;
  std::mt19937 rng(20240601);
  std::vector<std::unique_ptr<LASpointRecord>> points;
  for (size_t i = 0; i < kPoints; i++) {
    auto p = std::make_unique<LASpointRecord>();
    p->initFromFormat(nullptr, (i & 1) ? 6 : 1, (i & 1) ? 30 : 28, nullptr);
    p->setX(static_cast<int32_t>(rng()));
    p->setY(static_cast<int32_t>(rng()));
    p->setZ(static_cast<int32_t>(rng() % 100000));
    p->setReturnNumber(static_cast<uint8_t>(rng() % 8));
    p->setExtendedReturnNumber(static_cast<uint8_t>(rng() % 16));
    points.push_back(std::move(p));
  }
  LASpointInventory inventory;
  for (auto _ : state) {
    for (const auto& p : points) inventory.add(p.get());
    benchmark::DoNotOptimize(inventory);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPoints);
}
BENCHMARK(BM_LASpointInventoryAdd);

}  // namespace
