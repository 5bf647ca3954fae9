// Whole LAS 1.4 files of point formats 6 to 10 written by the LAS writer with
// layered chunks (compressor 3), fixed and variable, into a named file, a FILE,
// an ostream, a pipe that cannot seek and the null stream: the point data of
// each decodes back to the point records that an uncompressed run writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "morrowtide/compressor/quodax.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_las.h"
#include "tests/compressor/record_reader.h"
#include "tests/compressor/scan_points14.h"
#include "tests/scratch_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
using item_readers::getLE;

constexpr uint32_t kPoints = 1500;

void setUpHeader(LASheader& h, uint8_t format, uint16_t length) {
  h.clean();
  std::memcpy(h.file_signature, "LASF", 4);
  h.version_minor = 4;
  h.header_size = 375;
  h.offset_to_point_data = 375;
  h.point_data_format = format;
  h.point_data_record_length = length;
  h.number_of_point_records = kPoints;  // announced up front, for the pipe
  h.extended_number_of_point_records = kPoints;
  h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = 0.01;
}

Bytes readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Sink { kFile, kStdio, kOstream, kPipe, kNull };

// Writes the scan points of `format` through the LAS writer and returns the file
// (nothing for the null stream); `closed_size` receives close()'s result.
Bytes writeFile(uint8_t format, uint16_t length, uint32_t compressor, int32_t chunk_size, Sink sink,
                int64_t* closed_size = nullptr) {
  LASheader h;
  setUpHeader(h, format, length);
  const ScratchDir scratch;
  const std::string name = scratch.path("layered.las");
  std::ostringstream os;
  FILE* file = nullptr;
  LASwriterLAS w;
  bool opened = false;
  switch (sink) {
    case Sink::kFile:
      opened = w.openFile(name.c_str(), &h, compressor, 2, chunk_size, 1 << 16);
      break;
    case Sink::kStdio:
      file = std::fopen(name.c_str(), "wb");
      opened = w.openStdio(file, &h, compressor, 2, chunk_size);
      break;
    case Sink::kPipe:
      file = popen(("cat > '" + name + "'").c_str(), "w");
      opened = w.openStdio(file, &h, compressor, 2, chunk_size);
      break;
    case Sink::kOstream:
      opened = w.openOstream(os, &h, compressor, 2, chunk_size);
      break;
    case Sink::kNull:
      opened = w.openNull(&h, compressor, 2, chunk_size);
      break;
  }
  EXPECT_TRUE(opened);
  LASpointRecord p;
  EXPECT_TRUE(p.initFromFormat(&w.scale_offset, format, length, &h));
  scan_points14::ScanPoints14 points(format);
  uint8_t point[scan_points14::kPointBytes];
  std::vector<uint8_t> extra(static_cast<size_t>(p.extra_bytes_size > 0 ? p.extra_bytes_size : 0),
                             0x80);
  for (uint32_t i = 0; i < kPoints; i++) {
    points.next(point, extra);
    std::memcpy(p.fixed_bytes, point, sizeof(p.fixed_bytes));
    std::memcpy(p.wavepacket.bytes, point + scan_points14::kWavePacketAt, 29);
    if (!extra.empty()) std::memcpy(p.extra_bytes, extra.data(), extra.size());
    EXPECT_TRUE(w.writePoint(&p));
    if (chunk_size == 0 && i % 400 == 399) {
      EXPECT_TRUE(w.chunk());
    }
  }
  const int64_t size = w.close(true);
  if (closed_size != nullptr) *closed_size = size;
  if (sink == Sink::kStdio) {
    EXPECT_EQ(std::fclose(file), 0);
  }
  if (sink == Sink::kPipe) {
    EXPECT_EQ(pclose(file), 0);
  }
  if (sink == Sink::kNull) return {};
  if (sink == Sink::kOstream) {
    const std::string s = os.str();
    return Bytes(s.begin(), s.end());
  }
  return readFile(name);
}

// The file's point data, its chunk-table position made relative to the data as
// the reader expects it; a position that a stream that cannot seek put after the
// table (the front holds -1) is moved to the front.
Bytes pointData(const Bytes& file) {
  const uint32_t offset = getLE(file.data() + 96, 4);
  Bytes data(file.begin() + offset, file.end());
  if (data.size() < 16) return data;
  uint64_t table = item_readers::getLE64(data.data());
  if (table == ~0ull) {
    table = item_readers::getLE64(data.data() + data.size() - 8);
    data.resize(data.size() - 8);
  }
  item_readers::putLE(data.data(), table - offset, 8);
  return data;
}

TEST(LASwriterLayered, FilesOfFormatsSixToTenDecodeToTheRecordsOfAnUncompressedFile) {
  struct Format {
    uint8_t format;
    uint16_t length;
  };
  const Format formats[] = {{6, 30}, {7, 36}, {8, 38}, {9, 59}, {10, 67}, {6, 33}};
  struct Output {
    const char* name;
    Sink sink;
    int32_t chunk_size;
  };
  const Output outputs[] = {{"file, fixed chunks", Sink::kFile, 500},
                            {"FILE, variable chunks", Sink::kStdio, 0},
                            {"ostream, default chunks", Sink::kOstream, -1},
                            {"pipe, fixed chunks", Sink::kPipe, 700},
                            {"pipe, variable chunks", Sink::kPipe, 0}};
  for (const Format& f : formats) {
    const Bytes raw = writeFile(f.format, f.length, 0, -1, Sink::kOstream);
    const Bytes raw_points(raw.begin() + getLE(raw.data() + 96, 4), raw.end());
    ASSERT_EQ(raw_points.size(), size_t{kPoints} * f.length);
    Quodax q;
    ASSERT_TRUE(q.setup(f.format, f.length, Quodax::CompressorLayeredChunked));
    ASSERT_TRUE(q.requestVersion(2));
    const std::vector<LASitem> items(q.items, q.items + q.num_items);
    for (const Output& o : outputs) {
      SCOPED_TRACE(testing::Message()
                   << "format " << int{f.format} << "/" << f.length << ", " << o.name);
      const Bytes file = writeFile(f.format, f.length, 3, o.chunk_size, o.sink);
      const uint32_t offset = getLE(file.data() + 96, 4);
      EXPECT_EQ(item_readers::getLE64(file.data() + offset) == ~0ull, o.sink == Sink::kPipe);
      const Bytes data = pointData(file);
      const auto got = record_reader::readPointData(data, items, Quodax::CompressorLayeredChunked,
                                                    o.chunk_size == 0 ? 0 : 1, kPoints);
      EXPECT_EQ(got.error, "");
      ASSERT_EQ(got.records.size(), kPoints);
      for (uint32_t i = 0; i < kPoints; i++) {
        const Bytes expected(raw_points.begin() + i * f.length,
                             raw_points.begin() + (i + 1) * f.length);
        ASSERT_EQ(got.records[i], expected) << "record " << i;
      }
      EXPECT_EQ(got.end, data.size());
      if (o.sink == Sink::kFile) {
        // The null stream counts the bytes the file got.
        int64_t null_size = 0;
        writeFile(f.format, f.length, 3, o.chunk_size, Sink::kNull, &null_size);
        EXPECT_EQ(null_size, static_cast<int64_t>(file.size()));
      }
    }
  }
}

}  // namespace
