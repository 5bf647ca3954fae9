// The LAS writer driven the way a program that converts points drives it,
// through the public interface only: one point laid out once; per point
// setX/Y/Z, intensity and GPS time, writePoint and updateInventory; then
// updateHeader(header, true, false) and close. Every iteration opens the writer
// and writes 2^20 points whose values cycle through 1024 prepared ones, so the
// header, its update and the close are counted too (a small share).
// Cases: raw format 1 (LAS 1.2) and raw format 6 (LAS 1.4) into a file in a
// scratch folder, raw format 1 into the null stream, and compressed format 1
// (compressor 2) and format 6 (compressor 3) into the null stream. Each run
// writes a new file: the last one is removed outside the timed part, since
// truncating it inside would count freeing its pages and, on ext4, waiting for
// the write-back that its close started.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_las.h"
#include "tests/scratch_dir.h"

namespace {

constexpr int kPointsPerRun = 1 << 20;
constexpr int kPreparedValues = 1024;  // a power of two: the cycle is a mask

// What a reader hands over per point, along a noisy flight line from a fixed seed.
struct Values {
  std::vector<int32_t> x, y, z;
  std::vector<uint16_t> intensity;
  std::vector<double> gps_time;
};

Values makeValues() {
  Values v;
  std::mt19937 random(42);
  int32_t x = 100000;
  int32_t y = 200000;
  double t = 1000.0;
  for (int i = 0; i < kPreparedValues; i++) {
    x += static_cast<int32_t>(random() % 64) - 16;
    y += static_cast<int32_t>(random() % 32) - 16;
    t += 0.00001 * (1 + random() % 4);
    v.x.push_back(x);
    v.y.push_back(y);
    v.z.push_back(static_cast<int32_t>(random() % 4000));
    v.intensity.push_back(static_cast<uint16_t>(random()));
    v.gps_time.push_back(t);
  }
  return v;
}

// LAS 1.2 for format 1, LAS 1.4 for format 6; no point announced.
void makeHeader(LASheader& h, uint8_t format) {
  h.clean();
  std::memcpy(h.file_signature, "LASF", 4);
  h.point_data_format = format;
  h.point_data_record_length = format == 6 ? 30 : 28;
  h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = 0.01;
  if (format == 6) {
    h.version_minor = 4;
    h.header_size = 375;
    h.offset_to_point_data = 375;
  }
}

enum class Target { kFile, kNull };

// One run, as a reader writes its points; the size written, or 0 after any
// failure.
int64_t writeRun(LASwriterLAS& writer, LASheader& header, uint8_t format, const Values& v) {
  LASpointRecord point;
  if (!point.initFromFormat(&header, format, header.point_data_record_length, &header)) return 0;
  point.setReturnNumber(1);
  point.setNumberOfReturns(1);
  if (format == 6) {
    point.setExtendedReturnNumber(1);
    point.setExtendedNumberOfReturns(1);
  }
  for (int i = 0; i < kPointsPerRun; i++) {
    const size_t k = static_cast<size_t>(i & (kPreparedValues - 1));
    point.setX(v.x[k]);
    point.setY(v.y[k]);
    point.setZ(v.z[k]);
    point.setIntensity(v.intensity[k]);
    point.setGpsTime(v.gps_time[k]);
    if (!writer.writePoint(&point) || !writer.updateInventory(&point)) return 0;
  }
  if (!writer.updateHeader(&header, true, false)) return 0;
  return writer.close(true);
}

void writeLoop(benchmark::State& state, uint8_t format, uint32_t compressor, Target target) {
  const Values v = makeValues();
  LASheader header;
  makeHeader(header, format);
  const ScratchDir scratch;  // runs at once never share the file
  const std::string path = scratch.path("las_writer_loop_bench.las");
  int64_t bytes = 0;
  for (auto _ : state) {
    if (target == Target::kFile) {
      state.PauseTiming();
      const bool removed = std::remove(path.c_str()) == 0 || errno == ENOENT;
      state.ResumeTiming();
      if (!removed) {
        state.SkipWithError("cannot remove the last run's file");
        break;
      }
    }
    LASwriterLAS writer;
    const bool opened = target == Target::kFile
                            ? writer.openFile(path.c_str(), &header, compressor, 2, 50000, 262144)
                            : writer.openNull(&header, compressor, 2, 50000);
    bytes = opened ? writeRun(writer, header, format, v) : 0;
    if (bytes == 0) {
      state.SkipWithError("writing failed");
      break;
    }
  }
  state.counters["bytes_per_point"] = static_cast<double>(bytes) / kPointsPerRun;
  state.SetItemsProcessed(state.iterations() * kPointsPerRun);
}

void BM_RawFormat1ToFile(benchmark::State& state) { writeLoop(state, 1, 0, Target::kFile); }
void BM_RawFormat6ToFile(benchmark::State& state) { writeLoop(state, 6, 0, Target::kFile); }
void BM_RawFormat1ToNull(benchmark::State& state) { writeLoop(state, 1, 0, Target::kNull); }
void BM_ChunkedFormat1ToNull(benchmark::State& state) { writeLoop(state, 1, 2, Target::kNull); }
void BM_LayeredFormat6ToNull(benchmark::State& state) { writeLoop(state, 6, 3, Target::kNull); }

BENCHMARK(BM_RawFormat1ToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawFormat6ToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawFormat1ToNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChunkedFormat1ToNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayeredFormat6ToNull)->Unit(benchmark::kMillisecond);

}  // namespace
