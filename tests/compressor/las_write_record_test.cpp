// Tests of the point-record writer: raw records, the single coded stream, fixed
// and variable chunks with the chunk-table pointer and the coded chunk table
// (decoded back), streams that cannot seek, layered chunks, the context word and
// the refusals of setup.
#include "morrowtide/compressor/las_write_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/item_writers_v1.h"
#include "morrowtide/compressor/item_writers_v2.h"
#include "morrowtide/compressor/quodax.h"
#include "tests/las/failing_byte_stream.h"

using morrowtide::ByteStreamInArray;
using morrowtide::ByteStreamOutLE;

namespace {

using Bytes = std::vector<uint8_t>;
using Point = std::array<uint8_t, 28>;  // POINT10 then GPSTIME11

const std::vector<LASitem> kFormat1V2 = {{LASitem::POINT10, 20, 2}, {LASitem::GPSTIME11, 8, 2}};

void putU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
uint32_t getU32(const Bytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
int64_t getI64(const Bytes& b, size_t at) {
  int64_t v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}
Bytes slice(const Bytes& b, size_t from, size_t count) {
  return Bytes(b.begin() + static_cast<ptrdiff_t>(from),
               b.begin() + static_cast<ptrdiff_t>(from + count));
}

// Scan-like points: smooth coordinates, regular GPS steps, two returns a pulse.
std::vector<Point> scanPoints(uint32_t n, uint32_t seed = 0) {
  std::vector<Point> points(n);
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t k = i + seed;
    Point& p = points[i];
    putU32(&p[0], 100000 + 13 * k + (k % 3) * 2);
    putU32(&p[4], 200000 - 7 * k);
    putU32(&p[8], 5000 + (k % 5));
    p[12] = static_cast<uint8_t>(k * 11);
    p[13] = 1;
    p[14] = static_cast<uint8_t>((1 + k % 2) | (2 << 3));
    p[15] = 2;
    p[16] = 0xFB;
    p[17] = 0;
    p[18] = 7;
    p[19] = 0;
    const double t = 1000.0 + 0.00001 * k;
    std::memcpy(&p[20], &t, 8);
  }
  return points;
}

// A descriptor holding exactly `items`, with fields set directly (no checks).
std::unique_ptr<Quodax> makeDescriptor(const std::vector<LASitem>& items, uint16_t compressor,
                                       uint32_t chunk_size) {
  auto q = std::make_unique<Quodax>();
  q->num_items = static_cast<uint16_t>(items.size());
  q->items = new LASitem[items.size()];
  std::copy(items.begin(), items.end(), q->items);
  q->compressor = compressor;
  q->chunk_size = chunk_size;
  return q;
}

// A sink that cannot seek, like a pipe: it only appends, and keeps every write
// apart (where it began and how many bytes).
class PipeSink final : public ByteStreamOutLE {
 public:
  struct Write {
    size_t at;
    size_t size;
    bool operator==(const Write& o) const { return at == o.at && size == o.size; }
  };
  bool writeByte(uint32_t byte) override {
    const uint8_t b = static_cast<uint8_t>(byte);
    return writeBytes(&b, 1);
  }
  bool writeBytes(const uint8_t* b, uint32_t num) override {
    writes.push_back({bytes.size(), num});
    bytes.insert(bytes.end(), b, b + num);
    return true;
  }
  bool canSeek() const override { return false; }
  // `jump` bytes beyond what it holds, as if that much had gone before.
  int64_t position() const override { return static_cast<int64_t>(bytes.size() + jump); }
  bool seekTo(int64_t) override { return false; }
  bool seekToEnd() override { return false; }
  Bytes bytes;
  std::vector<Write> writes;
  uint64_t jump = 0;
};

std::ostream& operator<<(std::ostream& os, const PipeSink::Write& w) {
  return os << w.size << " at " << w.at;
}

Bytes contents(const ByteStreamOutArrayLE& out) {
  return Bytes(out.data(), out.data() + out.highWaterMark());
}

// Drives a set-up writer over `out` with format-1 points: `prefix` bytes before
// attaching, closeChunk after the points whose indices are in `close_after`.
void drive(LASwriteRecord& w, ByteStreamOut& out, const std::vector<Point>& points,
           size_t prefix = 0, const std::vector<size_t>& close_after = {}) {
  for (size_t i = 0; i < prefix; i++) out.writeByte(0xA0 + static_cast<uint32_t>(i));
  ASSERT_TRUE(w.attach(&out));
  for (size_t i = 0; i < points.size(); i++) {
    const uint8_t* items[2] = {points[i].data(), points[i].data() + 20};
    ASSERT_TRUE(w.writeRecord(items));
    for (size_t c : close_after) {
      if (c == i) {
        EXPECT_TRUE(w.closeChunk());
      }
    }
  }
  EXPECT_TRUE(w.finish());
}

Bytes writeFormat1(uint16_t compressor, uint32_t chunk_size, const std::vector<Point>& points,
                   size_t prefix = 0, const std::vector<size_t>& close_after = {},
                   const std::vector<LASitem>& items = kFormat1V2) {
  auto q = makeDescriptor(items, compressor, chunk_size);
  LASwriteRecord w;
  EXPECT_TRUE(w.setup(q->num_items, q->items, q.get()));
  ByteStreamOutArrayLE out;
  drive(w, out, points, prefix, close_after);
  return contents(out);
}

struct ChunkTable {
  uint32_t version = 0;
  uint32_t number = 0;
  std::vector<uint32_t> records;  // variable chunks only
  std::vector<uint32_t> bytes;
  size_t end = 0;  // one past the table's last byte
};

// Reads the table at `pos`: header, then the coded counts, decoded back; `end`
// is where the decoder stopped reading.
ChunkTable readChunkTable(const Bytes& file, size_t pos, bool variable) {
  ChunkTable t;
  t.version = getU32(file, pos);
  t.number = getU32(file, pos + 4);
  t.end = pos + 8;
  if (t.number == 0) return t;
  ByteStreamInArray in(file.data() + pos + 8, file.size() - pos - 8);
  EntropyDecoder dec;
  dec.start(&in, true);
  IntegerResidualCoder coder(&dec, 32, 2, 8, 0);
  coder.startDecoding();
  uint32_t last_records = 0;
  uint32_t last_bytes = 0;
  for (uint32_t i = 0; i < t.number; i++) {
    if (variable) {
      last_records = static_cast<uint32_t>(coder.decode(static_cast<int32_t>(last_records), 0));
      t.records.push_back(last_records);
    }
    last_bytes = static_cast<uint32_t>(coder.decode(static_cast<int32_t>(last_bytes), 1));
    t.bytes.push_back(last_bytes);
  }
  dec.finish();
  t.end = pos + 8 + in.position();
  return t;
}

// The bytes of each chunk of a chunked file attached at `start`.
std::vector<Bytes> splitChunks(const Bytes& file, size_t start, const ChunkTable& t) {
  std::vector<Bytes> chunks;
  size_t at = start + 8;
  for (uint32_t b : t.bytes) {
    if (at + b > file.size()) {
      ADD_FAILURE() << "chunk of " << b << " bytes runs past the file";
      break;
    }
    chunks.push_back(slice(file, at, b));
    at += b;
  }
  return chunks;
}

// The one chunk of a file holding exactly `points`.
Bytes standaloneChunk(const std::vector<Point>& points,
                      const std::vector<LASitem>& items = kFormat1V2) {
  const Bytes file = writeFormat1(Quodax::CompressorChunked, 50000, points, 0, {}, items);
  const int64_t table = getI64(file, 0);
  return slice(file, 8, static_cast<size_t>(table) - 8);
}

std::vector<Point> range(const std::vector<Point>& p, size_t from, size_t count) {
  return std::vector<Point>(p.begin() + static_cast<ptrdiff_t>(from),
                            p.begin() + static_cast<ptrdiff_t>(from + count));
}

// --- Raw records ---

TEST(LASwriteRecordRaw, RecordsAreTheItemsInItemOrder) {
  // The items lie in the point in another order than the list names them.
  std::array<uint8_t, 40> point;
  for (size_t i = 0; i < point.size(); i++) point[i] = static_cast<uint8_t>(i);
  const std::vector<LASitem> items = {
      {LASitem::GPSTIME11, 8, 0}, {LASitem::POINT10, 20, 0}, {LASitem::BYTE, 3, 0}};
  const uint8_t* pointers[3] = {point.data() + 24, point.data(), point.data() + 36};
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(3, items.data(), nullptr));
  ByteStreamOutArrayLE out;
  out.writeByte(0x55);
  ASSERT_TRUE(w.attach(&out));
  ASSERT_TRUE(w.writeRecord(pointers));
  ASSERT_TRUE(w.writeRecord(pointers));
  ASSERT_TRUE(w.finish());
  Bytes record = slice(Bytes(point.begin(), point.end()), 24, 8);
  for (uint8_t i = 0; i < 20; i++) record.push_back(i);
  record.insert(record.end(), {36, 37, 38});
  Bytes expected = {0x55};
  expected.insert(expected.end(), record.begin(), record.end());
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(contents(out), expected);
}

TEST(LASwriteRecordRaw, EveryItemTypeHasItsRawWriter) {
  struct Case {
    LASitem item;
    size_t written;
  };
  const Case cases[] = {
      {{LASitem::BYTE, 3, 0}, 3},           {{LASitem::POINT10, 20, 0}, 20},
      {{LASitem::GPSTIME11, 8, 0}, 8},      {{LASitem::RGB12, 6, 0}, 6},
      {{LASitem::WAVEPACKET13, 29, 0}, 29}, {{LASitem::POINT14, 30, 0}, 30},
      {{LASitem::RGB14, 6, 0}, 6},          {{LASitem::RGBNIR14, 8, 0}, 8},
      {{LASitem::WAVEPACKET14, 29, 0}, 29}, {{LASitem::BYTE14, 5, 0}, 5},
  };
  std::array<uint8_t, 64> point{};
  const uint8_t* pointers[1] = {point.data()};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item.type);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(1, &c.item, nullptr));
    ByteStreamOutArrayLE out;
    ASSERT_TRUE(w.attach(&out));
    ASSERT_TRUE(w.writeRecord(pointers));
    ASSERT_TRUE(w.finish());  // hands over the record held back
    EXPECT_EQ(out.highWaterMark(), c.written);
  }
}

TEST(LASwriteRecordRaw, UncompressedDescriptorWritesOnlyRecords) {
  const auto points = scanPoints(3);
  const std::vector<LASitem> v0 = {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}};
  Bytes expected;
  for (const Point& p : points) expected.insert(expected.end(), p.begin(), p.end());
  EXPECT_EQ(writeFormat1(Quodax::CompressorNone, 0, points, 0, {}, v0), expected);
  EXPECT_EQ(writeFormat1(Quodax::CompressorNone, 0, {}, 0, {}, v0), Bytes{});
}

TEST(LASwriteRecordRaw, RecordsReachTheStreamInWholeBlocksOfOneWrite) {
  // Raw records are held back and handed over in one write per block of whole
  // records: when the block is full, on handOverRecords and on finish.
  constexpr size_t kPerBlock = 585;  // 28-byte records in a block of 16384 bytes
  const auto points = scanPoints(2 * kPerBlock + 5);
  const std::vector<LASitem> v0 = {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}};
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(2, v0.data(), nullptr));
  PipeSink out;
  ASSERT_TRUE(w.attach(&out));
  size_t next = 0;
  const auto write = [&](size_t n) {
    for (size_t end = next + n; next < end; next++) {
      const uint8_t* items[2] = {points[next].data(), points[next].data() + 20};
      ASSERT_TRUE(w.writeRecord(items));
    }
  };
  using Write = PipeSink::Write;
  write(kPerBlock - 1);
  EXPECT_EQ(out.writes, std::vector<Write>{});
  write(1);
  EXPECT_EQ(out.writes, (std::vector<Write>{{0, kPerBlock * 28}}));
  write(3);
  EXPECT_EQ(out.writes.size(), 1u);
  EXPECT_TRUE(w.handOverRecords());
  EXPECT_TRUE(w.handOverRecords());  // nothing held: no write
  EXPECT_EQ(out.writes, (std::vector<Write>{{0, kPerBlock * 28}, {kPerBlock * 28, 3 * 28}}));
  write(kPerBlock);  // a block counts from the hand-over
  write(2);
  ASSERT_TRUE(w.finish());
  EXPECT_EQ(out.writes, (std::vector<Write>{{0, kPerBlock * 28},
                                            {kPerBlock * 28, 3 * 28},
                                            {(kPerBlock + 3) * 28, kPerBlock * 28},
                                            {(2 * kPerBlock + 3) * 28, 2 * 28}}));
  Bytes expected;
  for (const Point& p : points) expected.insert(expected.end(), p.begin(), p.end());
  EXPECT_EQ(out.bytes, expected);
}

TEST(LASwriteRecordRaw, RecordsLargerThanHalfABlockGoOutOneByOne) {
  // Extra bytes make records of up to 65535 bytes, more than a block holds.
  struct Case {
    uint32_t record;
    size_t per_block;
  };
  const uint32_t block = LASwriteRecord::kRawBlockBytes;
  const Case cases[] = {{block / 2, 2}, {block / 2 + 1, 1}, {block, 1}, {65535, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    const std::vector<LASitem> items = {{LASitem::POINT10, 20, 0},
                                        {LASitem::BYTE, static_cast<uint16_t>(c.record - 20), 0}};
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, items.data(), nullptr));
    PipeSink out;
    ASSERT_TRUE(w.attach(&out));
    Bytes point(c.record);
    Bytes expected;
    for (uint32_t k = 0; k < 3; k++) {
      for (size_t i = 0; i < point.size(); i++) point[i] = static_cast<uint8_t>(i * 7 + k);
      const uint8_t* pointers[2] = {point.data(), point.data() + 20};
      ASSERT_TRUE(w.writeRecord(pointers));
      EXPECT_EQ(out.writes.size(), (k + 1) / c.per_block);
      expected.insert(expected.end(), point.begin(), point.end());
    }
    ASSERT_TRUE(w.finish());
    EXPECT_EQ(out.bytes, expected);
    // Whole blocks while records come, the rest at finish.
    std::vector<size_t> sizes;
    for (const PipeSink::Write& write : out.writes) sizes.push_back(write.size);
    std::vector<size_t> expected_sizes(3 / c.per_block, c.per_block * c.record);
    if (3 % c.per_block != 0) expected_sizes.push_back(3 % c.per_block * c.record);
    EXPECT_EQ(sizes, expected_sizes);
  }
}

TEST(LASwriteRecordRaw, RecordsOfNoByteWriteNothing) {
  // Extra bytes of size 0 make records of no byte: blocks of them would be
  // counted by dividing by that size.
  const LASitem empty = {LASitem::BYTE, 0, 0};
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(1, &empty, nullptr));
  PipeSink out;
  ASSERT_TRUE(w.attach(&out));
  const uint8_t point[1] = {0x55};
  const uint8_t* pointers[1] = {point};
  for (int i = 0; i < 3; i++) EXPECT_TRUE(w.writeRecord(pointers));
  EXPECT_TRUE(w.finish());
  EXPECT_TRUE(out.bytes.empty());
}

TEST(LASwriteRecordRaw, ARefusedBlockIsLostWithEverythingAfterIt) {
  // The record that completes a refused block reports it, or finish for the
  // last one; no later record reaches the stream.
  using Failure = LASwriteRecord::Failure;
  constexpr size_t kPerBlock = 585;  // 28-byte records in a block of 16384 bytes
  const size_t kPoints = 2 * kPerBlock + 10;
  const auto points = scanPoints(static_cast<uint32_t>(kPoints));
  const std::vector<LASitem> v0 = {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}};
  struct Case {
    const char* name;
    size_t refused_point;   // the point whose GPS time holds the refused byte
    size_t failing_record;  // kPoints: none, finish reports it
    size_t kept_points;
  };
  const std::vector<Case> cases = {
      {"first block", 0, kPerBlock - 1, 0},
      {"first block, last record", kPerBlock - 1, kPerBlock - 1, 0},
      {"second block", kPerBlock, 2 * kPerBlock - 1, kPerBlock},
      {"last block, held at finish", 2 * kPerBlock + 9, kPoints, 2 * kPerBlock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, v0.data(), nullptr));
    Bytes sink;
    FailingByteStream out(&sink);
    out.fail_at = static_cast<int64_t>(c.refused_point * 28 + 25);
    ASSERT_TRUE(w.attach(&out));
    size_t failed_at = kPoints;
    for (size_t i = 0; i < kPoints; i++) {
      const uint8_t* items[2] = {points[i].data(), points[i].data() + 20};
      const bool written = w.writeRecord(items);
      if (failed_at != kPoints) {
        EXPECT_FALSE(written);  // refused from the failure on
      } else if (!written) {
        failed_at = i;
      }
    }
    EXPECT_EQ(failed_at, c.failing_record);
    EXPECT_FALSE(w.finish());
    EXPECT_EQ(w.failure(), Failure::kRecord);
    Bytes kept;
    for (size_t i = 0; i < c.kept_points; i++) {
      kept.insert(kept.end(), points[i].begin(), points[i].end());
    }
    EXPECT_EQ(sink, kept);
  }
}

// --- One coded stream ---

// The coded stream that fresh writers of `items` make of points [1, n) after
// starting a chunk with point 0.
template <typename PointWriter, typename TimeWriter>
Bytes scriptedStream(const std::vector<Point>& points) {
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  PointWriter w0(&enc);
  TimeWriter w1(&enc);
  uint32_t context = 0;
  w0.startChunk(points[0].data(), context);
  w1.startChunk(points[0].data() + 20, context);
  enc.start(&out);
  for (size_t i = 1; i < points.size(); i++) {
    w0.writeItem(points[i].data(), context);
    w1.writeItem(points[i].data() + 20, context);
  }
  enc.finish();
  Bytes bytes(points[0].begin(), points[0].end());
  const Bytes coded = contents(out);
  bytes.insert(bytes.end(), coded.begin(), coded.end());
  return bytes;
}

TEST(LASwriteRecordSingleStream, FirstRecordRawThenOneCodedStreamOfItsVersion) {
  const auto points = scanPoints(40);
  const std::vector<LASitem> v1 = {{LASitem::POINT10, 20, 1}, {LASitem::GPSTIME11, 8, 1}};
  EXPECT_EQ(writeFormat1(Quodax::CompressorSingleStream, 0, points, 0, {}, v1),
            (scriptedStream<LASwriteItemCompressed_POINT10_v1, LASwriteItemCompressed_GPSTIME11_v1>(
                points)));
  EXPECT_EQ(writeFormat1(Quodax::CompressorSingleStream, 0, points),
            (scriptedStream<LASwriteItemCompressed_POINT10_v2, LASwriteItemCompressed_GPSTIME11_v2>(
                points)));
}

TEST(LASwriteRecordSingleStream, NoPointWritesNothing) {
  EXPECT_EQ(writeFormat1(Quodax::CompressorSingleStream, 0, {}, 2), (Bytes{0xA0, 0xA1}));
}

// --- Chunks and the chunk table ---

TEST(LASwriteRecordChunked, FixedChunksAreIndependentAndTabled) {
  struct Case {
    uint32_t chunk_size;
    uint32_t points;
    std::vector<uint32_t> records;
  };
  const Case cases[] = {{3, 7, {3, 3, 1}}, {3, 6, {3, 3}}, {3, 1, {1}}, {5, 3, {3}}};
  const auto all = scanPoints(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chunk_size << " / " << c.points);
    const auto points = range(all, 0, c.points);
    const Bytes file = writeFormat1(Quodax::CompressorChunked, c.chunk_size, points, 5);
    const int64_t table = getI64(file, 5);
    const ChunkTable t = readChunkTable(file, static_cast<size_t>(table), false);
    EXPECT_EQ(t.version, 0u);
    ASSERT_EQ(t.number, c.records.size());
    EXPECT_EQ(t.end, file.size());  // nothing follows the table on a seekable stream
    const auto chunks = splitChunks(file, 5, t);
    size_t first = 0;
    size_t total = 0;
    for (size_t k = 0; k < chunks.size(); k++) {
      // A chunk's bytes depend only on its own points, and it opens raw.
      EXPECT_EQ(chunks[k], standaloneChunk(range(points, first, c.records[k]))) << "chunk " << k;
      ASSERT_GE(chunks[k].size(), 28u);
      EXPECT_EQ(slice(chunks[k], 0, 28), Bytes(points[first].begin(), points[first].end()));
      first += c.records[k];
      total += chunks[k].size();
    }
    EXPECT_EQ(13 + total, static_cast<size_t>(table));  // the chunks fill pointer to table
  }
}

TEST(LASwriteRecordChunked, VariableChunksEndOnRequestAndTableTheirCounts) {
  const auto points = scanPoints(7);
  const Bytes file = writeFormat1(Quodax::CompressorChunked, 0, points, 0, {1, 5});
  const int64_t table = getI64(file, 0);
  const ChunkTable t = readChunkTable(file, static_cast<size_t>(table), true);
  ASSERT_EQ(t.number, 3u);
  EXPECT_EQ(t.records, (std::vector<uint32_t>{2, 4, 1}));
  EXPECT_EQ(t.end, file.size());
  const auto chunks = splitChunks(file, 0, t);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], standaloneChunk(range(points, 0, 2)));
  EXPECT_EQ(chunks[1], standaloneChunk(range(points, 2, 4)));
  EXPECT_EQ(chunks[2], standaloneChunk(range(points, 6, 1)));
}

TEST(LASwriteRecordChunked, ManyVariableChunksKeepTheirCountsApart) {
  // Enough chunks that the record and byte counts' models adapt (a count in the
  // wrong context decodes wrongly) and the tables grow past 1024 entries.
  std::vector<uint32_t> records;
  std::vector<size_t> close_after;
  size_t n = 0;
  for (uint32_t k = 0; k < 1100; k++) {
    records.push_back(1 + (k * 7) % 5);
    n += records.back();
    close_after.push_back(n - 1);
  }
  const auto points = scanPoints(static_cast<uint32_t>(n));
  const Bytes file = writeFormat1(Quodax::CompressorChunked, 0, points, 0, close_after);
  const size_t table = static_cast<size_t>(getI64(file, 0));
  const ChunkTable t = readChunkTable(file, table, true);
  EXPECT_EQ(t.records, records);
  EXPECT_EQ(t.end, file.size());
  size_t at = 8;
  size_t first = 0;
  for (size_t k = 0; k < t.bytes.size(); k++) {
    ASSERT_LE(at + 28, file.size());
    ASSERT_EQ(slice(file, at, 28), Bytes(points[first].begin(), points[first].end()))
        << "chunk " << k;
    at += t.bytes[k];
    first += records[k];
  }
  EXPECT_EQ(at, table);
}

TEST(LASwriteRecordChunked, VariableChunksWithoutCloseFormOneChunk) {
  const auto points = scanPoints(4);
  const Bytes file = writeFormat1(Quodax::CompressorChunked, 0, points);
  const ChunkTable t = readChunkTable(file, static_cast<size_t>(getI64(file, 0)), true);
  EXPECT_EQ(t.records, (std::vector<uint32_t>{4}));
  EXPECT_EQ(t.bytes, (std::vector<uint32_t>{static_cast<uint32_t>(getI64(file, 0) - 8)}));
}

TEST(LASwriteRecordChunked, NoPointGivesPointerAndEmptyTable) {
  EXPECT_EQ(writeFormat1(Quodax::CompressorChunked, 3, {}, 1),
            (Bytes{0xA0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(writeFormat1(Quodax::CompressorChunked, 0, {}),
            (Bytes{8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(LASwriteRecordChunked, StreamThatCannotSeekGetsMinusOneAndTrailingPosition) {
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 3);
  {
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, q->items, q.get()));
    PipeSink pipe;
    drive(w, pipe, {}, 2);
    EXPECT_EQ(pipe.bytes,
              (Bytes{0xA0, 0xA1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                     0,    0,    0,    0,    0,    10,   0,    0,    0,    0,    0, 0, 0}));
  }
  const auto points = scanPoints(4);
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  PipeSink pipe;
  drive(w, pipe, points);
  const Bytes& file = pipe.bytes;
  EXPECT_EQ(getI64(file, 0), -1);
  const int64_t table = getI64(file, file.size() - 8);
  const ChunkTable t = readChunkTable(file, static_cast<size_t>(table), false);
  ASSERT_EQ(t.number, 2u);
  EXPECT_EQ(t.end, file.size() - 8);
  // Same chunks as on a seekable stream.
  const Bytes seekable = writeFormat1(Quodax::CompressorChunked, 3, points);
  EXPECT_EQ(slice(file, 8, static_cast<size_t>(table) - 8),
            slice(seekable, 8, static_cast<size_t>(getI64(seekable, 0)) - 8));
}

TEST(LASwriteRecordChunked, AChunksFirstRecordGoesOutWholeBeforeItsCodedBytes) {
  // The raw record that opens a chunk is one write at the chunk's start, never
  // held back behind coded bytes (chunk ends query the stream's position).
  const auto points = scanPoints(7);
  for (uint16_t compressor : {Quodax::CompressorSingleStream, Quodax::CompressorChunked}) {
    SCOPED_TRACE(compressor);
    auto q = makeDescriptor(kFormat1V2, compressor, 3);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, q->items, q.get()));
    PipeSink out;
    drive(w, out, points);
    std::vector<size_t> chunk_starts = {0};
    if (compressor == Quodax::CompressorChunked) {
      const size_t table = static_cast<size_t>(getI64(out.bytes, out.bytes.size() - 8));
      const ChunkTable t = readChunkTable(out.bytes, table, false);
      ASSERT_EQ(t.number, 3u);
      chunk_starts = {8, 8 + t.bytes[0], 8 + t.bytes[0] + t.bytes[1]};
    }
    for (size_t k = 0; k < chunk_starts.size(); k++) {
      const size_t at = chunk_starts[k];
      EXPECT_NE(std::find(out.writes.begin(), out.writes.end(), PipeSink::Write{at, 28}),
                out.writes.end())
          << "chunk " << k;
      EXPECT_EQ(slice(out.bytes, at, 28), Bytes(points[3 * k].begin(), points[3 * k].end()));
    }
  }
}

// The table position was the stream's own, so the points of a file that began
// after other bytes pointed that many bytes past their chunk table. Attached
// with the position the file begins at, the bytes after it are the bytes
// written from position 0, on a stream that can seek and on one that cannot.
TEST(LASwriteRecordChunked, TablePositionCountsFromWhereTheFileBegins) {
  const auto points = scanPoints(4);
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 3);
  const auto write = [&](ByteStreamOut& out, size_t prefix) {
    for (size_t i = 0; i < prefix; i++) out.writeByte(0xEE);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, q->items, q.get()));
    ASSERT_TRUE(w.attach(&out, static_cast<int64_t>(prefix)));
    for (const Point& p : points) {
      const uint8_t* items[2] = {p.data(), p.data() + 20};
      ASSERT_TRUE(w.writeRecord(items));
    }
    ASSERT_TRUE(w.finish());
  };
  ByteStreamOutArrayLE seekable_at_0, seekable_at_13;
  write(seekable_at_0, 0);
  write(seekable_at_13, 13);
  const Bytes at_0 = contents(seekable_at_0);
  const Bytes at_13 = contents(seekable_at_13);
  ASSERT_EQ(at_13.size(), at_0.size() + 13);
  EXPECT_EQ(slice(at_13, 13, at_0.size()), at_0);
  EXPECT_EQ(at_0, writeFormat1(Quodax::CompressorChunked, 3, points));  // 0 is the default

  PipeSink pipe_at_0, pipe_at_13;
  write(pipe_at_0, 0);
  write(pipe_at_13, 13);
  ASSERT_EQ(pipe_at_13.bytes.size(), pipe_at_0.bytes.size() + 13);
  EXPECT_EQ(slice(pipe_at_13.bytes, 13, pipe_at_0.bytes.size()), pipe_at_0.bytes);
  const int64_t table = getI64(pipe_at_0.bytes, pipe_at_0.bytes.size() - 8);
  EXPECT_EQ(getU32(pipe_at_0.bytes, static_cast<size_t>(table) + 4), 2u);  // two chunks there
}

TEST(LASwriteRecordChunked, CloseChunkOnlyForAttachedVariableChunks) {
  const auto points = scanPoints(2);
  const uint8_t* items[2] = {points[0].data(), points[0].data() + 20};
  struct Case {
    uint16_t compressor;
    uint32_t chunk_size;
  };
  for (const Case c : {Case{Quodax::CompressorNone, 0}, Case{Quodax::CompressorSingleStream, 0},
                       Case{Quodax::CompressorChunked, 3}}) {
    SCOPED_TRACE(c.compressor);
    auto q = makeDescriptor(kFormat1V2, c.compressor, c.chunk_size);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, q->items, q.get()));
    ByteStreamOutArrayLE out;
    ASSERT_TRUE(w.attach(&out));
    ASSERT_TRUE(w.writeRecord(items));
    const size_t before = out.highWaterMark();
    EXPECT_FALSE(w.closeChunk());
    EXPECT_EQ(out.highWaterMark(), before);
  }
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 0);
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  EXPECT_FALSE(w.closeChunk());  // before attach
}

TEST(LASwriteRecordChunked, CloseChunkOnAnEmptyChunkDoesNothing) {
  // Ending a chunk that holds no record would finish a coder that was never
  // started and table a chunk of zero records.
  const auto points = scanPoints(3);
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 0);
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(w.attach(&out));
  EXPECT_FALSE(w.closeChunk());
  EXPECT_EQ(out.highWaterMark(), 8u);
  for (const Point& p : points) {
    const uint8_t* items[2] = {p.data(), p.data() + 20};
    ASSERT_TRUE(w.writeRecord(items));
  }
  EXPECT_TRUE(w.closeChunk());
  const size_t after = out.highWaterMark();
  EXPECT_FALSE(w.closeChunk());
  EXPECT_EQ(out.highWaterMark(), after);
  ASSERT_TRUE(w.finish());
  const Bytes file = contents(out);
  const ChunkTable t = readChunkTable(file, static_cast<size_t>(getI64(file, 0)), true);
  EXPECT_EQ(t.records, (std::vector<uint32_t>{3}));
}

TEST(LASwriteRecordChunked, WriteRecordNeedsAnAttachedStream) {
  // Writing before attach would hand the items to writers that have no stream.
  const auto points = scanPoints(1);
  const uint8_t* items[2] = {points[0].data(), points[0].data() + 20};
  for (uint16_t compressor : {Quodax::CompressorNone, Quodax::CompressorChunked}) {
    SCOPED_TRACE(compressor);
    auto q = makeDescriptor(kFormat1V2, compressor, 3);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(2, q->items, q.get()));
    EXPECT_FALSE(w.writeRecord(items));
    EXPECT_TRUE(w.finish());  // nothing attached: nothing to finish
    ByteStreamOutArrayLE out;
    ASSERT_TRUE(w.attach(&out));
    ASSERT_TRUE(w.writeRecord(items));
    ASSERT_TRUE(w.finish());
    const size_t size = out.highWaterMark();
    EXPECT_FALSE(w.writeRecord(items));  // after finish
    EXPECT_TRUE(w.finish());
    EXPECT_EQ(out.highWaterMark(), size);
  }
}

TEST(LASwriteRecordChunked, DescriptorMayBeDeletedBeforeAttach) {
  // The LAS writer deletes its descriptor before attaching: the record writer
  // must keep nothing of it.
  const auto points = scanPoints(5);
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 2);
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  q.reset();
  ByteStreamOutArrayLE out;
  drive(w, out, points);
  EXPECT_EQ(contents(out), writeFormat1(Quodax::CompressorChunked, 2, points));
}

// --- Setup ---

TEST(LASwriteRecordSetup, AcceptsEveryCoderOfVersionsOneAndTwo) {
  const std::vector<LASitem> cases = {
      {LASitem::BYTE, 3, 1},     {LASitem::BYTE, 3, 2},      {LASitem::POINT10, 20, 1},
      {LASitem::POINT10, 20, 2}, {LASitem::GPSTIME11, 8, 1}, {LASitem::GPSTIME11, 8, 2},
      {LASitem::RGB12, 6, 1},    {LASitem::RGB12, 6, 2},     {LASitem::WAVEPACKET13, 29, 1},
  };
  for (const LASitem& item : cases) {
    SCOPED_TRACE(testing::Message() << item.type << " v" << item.version);
    for (uint16_t compressor : {Quodax::CompressorSingleStream, Quodax::CompressorChunked}) {
      auto q = makeDescriptor({item}, compressor, 10);
      LASwriteRecord w;
      EXPECT_TRUE(w.setup(1, q->items, q.get()));
    }
  }
}

TEST(LASwriteRecordSetup, AcceptsEveryLayeredCoderOfVersionsThreeAndFour) {
  for (uint16_t version : {3, 4}) {
    const std::vector<LASitem> items = {{LASitem::POINT14, 30, version},
                                        {LASitem::RGBNIR14, 8, version},
                                        {LASitem::WAVEPACKET14, 29, version},
                                        {LASitem::BYTE14, 3, version}};
    for (const std::vector<LASitem>& list :
         {items, std::vector<LASitem>{items[0], {LASitem::RGB14, 6, version}}}) {
      SCOPED_TRACE(testing::Message() << "v" << version << " items " << list.size());
      auto q = makeDescriptor(list, Quodax::CompressorLayeredChunked, 10);
      LASwriteRecord w;
      EXPECT_TRUE(w.setup(q->num_items, q->items, q.get()));
    }
  }
}

TEST(LASwriteRecordSetup, RefusesWhatItCannotWrite) {
  struct Case {
    const char* name;
    std::vector<LASitem> items;
    uint16_t compressor;
    uint16_t coder;
  };
  const Case cases[] = {
      {"unknown type", {{3, 4, 1}}, Quodax::CompressorChunked, 0},
      {"unknown type raw", {{15, 4, 0}}, Quodax::CompressorNone, 0},
      {"version 0 compressed", {{LASitem::POINT10, 20, 0}}, Quodax::CompressorChunked, 0},
      {"RGB14 version 2", {{LASitem::RGB14, 6, 2}}, Quodax::CompressorChunked, 0},
      {"WAVEPACKET13 version 2", {{LASitem::WAVEPACKET13, 29, 2}}, Quodax::CompressorChunked, 0},
      {"coder 1", kFormat1V2, Quodax::CompressorChunked, 1},
      {"compressor 4", kFormat1V2, 4, 0},
      {"POINT14 version 2", {{LASitem::POINT14, 30, 2}}, Quodax::CompressorChunked, 0},
      {"POINT14 version 5", {{LASitem::POINT14, 30, 5}}, Quodax::CompressorLayeredChunked, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto q = makeDescriptor(c.items, c.compressor, 10);
    q->coder = c.coder;
    LASwriteRecord w;
    EXPECT_FALSE(w.setup(q->num_items, q->items, q.get()));
    ByteStreamOutArrayLE out;
    EXPECT_FALSE(w.attach(&out));
  }
}

TEST(LASwriteRecordSetup, RefusesListsThatAreNotTheDescriptors) {
  auto q = makeDescriptor(kFormat1V2, Quodax::CompressorChunked, 10);
  const std::vector<LASitem> copy(q->items, q->items + 2);
  LASwriteRecord w;
  EXPECT_FALSE(w.setup(0, q->items, nullptr));
  EXPECT_FALSE(w.setup(2, nullptr, nullptr));
  EXPECT_FALSE(w.setup(1, q->items, q.get()));
  EXPECT_FALSE(w.setup(2, copy.data(), q.get()));
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  EXPECT_FALSE(w.setup(2, q->items, q.get()));  // only once
}

// --- Scripted compressed writers: layered chunks, the context word ---

// Compressed writers made by a test function instead of the coder table.
class ScriptedRecordWriter final : public LASwriteRecord {
 public:
  using Factory =
      std::function<std::unique_ptr<LASwriteItemCompressed>(const LASitem&, EntropyEncoder*)>;
  explicit ScriptedRecordWriter(Factory factory) : factory(std::move(factory)) {}

 protected:
  std::unique_ptr<LASwriteItemCompressed> createCompressedWriter(
      const LASitem& item, EntropyEncoder* enc) const override {
    return factory(item, enc);
  }

 private:
  Factory factory;
};

// A layered writer with one layer: the first byte of every coded item. Its sizes
// and bytes go to the output stream of the shared encoder.
class OneLayerWriter final : public LASwriteItemCompressed {
 public:
  explicit OneLayerWriter(EntropyEncoder* enc) : enc(enc) {}
  bool startChunk(const uint8_t*, uint32_t&) override {
    layer.clear();
    return true;
  }
  bool writeItem(const uint8_t* item, uint32_t&) override {
    layer.push_back(item[0]);
    return true;
  }
  bool writeLayerSizes() override {
    uint8_t size[4];
    putU32(size, static_cast<uint32_t>(layer.size()));
    return enc->getByteStreamOut()->writeU32LE(size);
  }
  bool writeLayerBytes() override {
    return enc->getByteStreamOut()->writeBytes(layer.data(), static_cast<uint32_t>(layer.size()));
  }

 private:
  EntropyEncoder* enc;  // not owned
  Bytes layer;
};

TEST(LASwriteRecordLayered, ChunkHoldsCountThenAllSizesThenAllBytes) {
  const std::vector<LASitem> items = {{LASitem::BYTE14, 2, 3}, {LASitem::BYTE14, 1, 4}};
  auto q = makeDescriptor(items, Quodax::CompressorLayeredChunked, 3);
  ScriptedRecordWriter w(
      [](const LASitem&, EntropyEncoder* enc) { return std::make_unique<OneLayerWriter>(enc); });
  ASSERT_TRUE(w.setup(2, q->items, q.get()));
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(w.attach(&out));
  const uint8_t records[4][3] = {
      {0x10, 0x11, 0x12}, {0x20, 0x21, 0x22}, {0x30, 0x31, 0x32}, {0x40, 0x41, 0x42}};
  for (const auto& r : records) {
    const uint8_t* pointers[2] = {r, r + 2};
    ASSERT_TRUE(w.writeRecord(pointers));
  }
  ASSERT_TRUE(w.finish());
  const Bytes file = contents(out);
  const Bytes chunks = {
      0x10, 0x11, 0x12, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0x20, 0x30, 0x22, 0x32,  // chunk 0
      0x40, 0x41, 0x42, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                          // chunk 1
  };
  Bytes expected = {8 + 34, 0, 0, 0, 0, 0, 0, 0};
  expected.insert(expected.end(), chunks.begin(), chunks.end());
  expected.insert(expected.end(), {0, 0, 0, 0, 2, 0, 0, 0});
  ASSERT_GE(file.size(), expected.size());
  EXPECT_EQ(slice(file, 0, expected.size()), expected);
  const ChunkTable t = readChunkTable(file, 42, false);
  EXPECT_EQ(t.bytes, (std::vector<uint32_t>{19, 15}));
  EXPECT_EQ(t.end, file.size());
}

TEST(LASwriteRecordSetup, RefusesVersionsOfTheOtherChunkKind) {
  // A version 1 or 2 coder inside a layered chunk writes into the shared stream
  // that the layered chunk never opens, and a layered coder inside a coded
  // stream writes its layers into the middle of it.
  struct Case {
    std::vector<LASitem> items;
    uint16_t compressor;
    bool accepted;
  };
  const Case cases[] = {
      {{{LASitem::POINT14, 30, 3}, {LASitem::BYTE14, 2, 2}},
       Quodax::CompressorLayeredChunked,
       false},
      {{{LASitem::POINT14, 30, 4}, {LASitem::BYTE14, 2, 3}},
       Quodax::CompressorLayeredChunked,
       true},
      {{{LASitem::POINT10, 20, 2}, {LASitem::BYTE14, 2, 3}}, Quodax::CompressorChunked, false},
      {{{LASitem::POINT14, 30, 3}}, Quodax::CompressorSingleStream, false},
      {{{LASitem::POINT10, 20, 2}}, Quodax::CompressorChunked, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compressor << " " << c.items.back().version);
    auto q = makeDescriptor(c.items, c.compressor, 10);
    ScriptedRecordWriter w(
        [](const LASitem&, EntropyEncoder* enc) { return std::make_unique<OneLayerWriter>(enc); });
    EXPECT_EQ(w.setup(q->num_items, q->items, q.get()), c.accepted);
  }
}

// Logs the context word it is given, then stores `mark` into it (when not 0).
class ContextProbe final : public LASwriteItemCompressed {
 public:
  ContextProbe(std::vector<uint32_t>* log, uint32_t mark) : log(log), mark(mark) {}
  bool startChunk(const uint8_t*, uint32_t& context) override { return probe(context); }
  bool writeItem(const uint8_t*, uint32_t& context) override { return probe(context); }

 private:
  bool probe(uint32_t& context) {
    log->push_back(context);
    if (mark != 0) context = mark;
    return true;
  }
  std::vector<uint32_t>* log;  // not owned
  uint32_t mark;
};

TEST(LASwriteRecordContext, LaterWritersOfARecordSeeTheChangeAndEachRecordStartsAtZero) {
  std::vector<uint32_t> log;
  const std::vector<LASitem> items = {
      {LASitem::POINT10, 20, 2}, {LASitem::GPSTIME11, 8, 2}, {LASitem::BYTE, 1, 2}};
  auto q = makeDescriptor(items, Quodax::CompressorChunked, 2);
  uint32_t next = 0;
  ScriptedRecordWriter w([&](const LASitem&, EntropyEncoder*) {
    next++;
    return std::make_unique<ContextProbe>(&log, next == 1 ? 0 : next);  // marks 0, 2, 3
  });
  ASSERT_TRUE(w.setup(3, q->items, q.get()));
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(w.attach(&out));
  const auto points = scanPoints(3);
  for (const Point& p : points) {
    const uint8_t* pointers[3] = {p.data(), p.data() + 20, p.data() + 27};
    ASSERT_TRUE(w.writeRecord(pointers));
  }
  ASSERT_TRUE(w.finish());
  // Per record: writer 0 sees 0, writer 1 sees 0, writer 2 sees writer 1's 2;
  // three records over two chunks (start, write, start).
  EXPECT_EQ(log, (std::vector<uint32_t>{0, 0, 2, 0, 0, 2, 0, 0, 2}));
}

}  // namespace

// ------------------------------------------------------------ write failures

// The point-record writer ignored the results of its raw writers and of the
// encoder, so records lost to a full disk were written "successfully". For a
// stream that refuses any write touching byte n, for every n of a run: the
// writer says false (writeRecord or finish), names what failed, and nothing
// reaches the stream after the refused write.
TEST(LASwriteRecordFailure, EveryRefusedByteIsReportedAndNothingFollowsIt) {
  using Failure = LASwriteRecord::Failure;
  const std::vector<Point> points = scanPoints(600);
  struct Case {
    uint16_t compressor;
    uint32_t chunk_size;
    size_t step;  // every step-th byte of the good output is refused in turn
  };
  for (const Case c : {Case{0, 0, 7}, Case{1, 0, 1}, Case{2, 250, 1}}) {
    SCOPED_TRACE(c.compressor);
    const Bytes good = writeFormat1(c.compressor, c.chunk_size, points);
    // The chunk-table pointer is patched only at the end.
    const size_t compared_from = c.compressor == 2 ? 8 : 0;
    for (size_t n = 0; n < good.size(); n += c.step) {
      SCOPED_TRACE(n);
      auto q = makeDescriptor(kFormat1V2, c.compressor, c.chunk_size);
      LASwriteRecord w;
      ASSERT_TRUE(w.setup(q->num_items, q->items, q.get()));
      Bytes sink;
      FailingByteStream out(&sink);
      out.fail_at = static_cast<int64_t>(n);
      bool ok = w.attach(&out);
      for (size_t i = 0; ok && i < points.size(); i++) {
        const uint8_t* items[2] = {points[i].data(), points[i].data() + 20};
        ok = w.writeRecord(items);
      }
      const bool finished = w.finish();
      EXPECT_FALSE(ok && finished);
      EXPECT_NE(w.failure(), Failure::kNone);
      ASSERT_LE(sink.size(), n);
      if (sink.size() > compared_from) {
        EXPECT_EQ(slice(sink, compared_from, sink.size() - compared_from),
                  slice(good, compared_from, sink.size() - compared_from));
      }
    }
  }
}

TEST(LASwriteRecordFailure, NamesWhatFailed) {
  using Failure = LASwriteRecord::Failure;
  const std::vector<Point> points = scanPoints(600);
  const Bytes good = writeFormat1(2, 250, points);
  const uint32_t table_at = static_cast<uint32_t>(getI64(good, 0));
  struct Case {
    const char* what;
    uint16_t compressor;
    int64_t fail_at;
    Failure failure;
  };
  const std::vector<Case> cases = {
      {"raw record", 0, 28 * 100 + 5, Failure::kRecord},
      {"end of the single coded stream", 1, 100, Failure::kStreamEnd},
      {"first record of the first chunk", 2, 30, Failure::kRecord},
      {"coded bytes of the first chunk", 2, 40, Failure::kChunk},
      {"chunk table", 2, table_at + 4, Failure::kChunkTable},
      {"chunk table pointer", 2, 3, Failure::kChunkTablePointer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto q = makeDescriptor(kFormat1V2, c.compressor, c.compressor == 2 ? 250 : 0);
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(q->num_items, q->items, q.get()));
    Bytes sink;
    FailingByteStream out(&sink);
    ASSERT_TRUE(w.attach(&out));  // the pointer placeholder goes out first
    out.fail_at = c.fail_at;
    bool ok = true;
    for (size_t i = 0; ok && i < points.size(); i++) {
      const uint8_t* items[2] = {points[i].data(), points[i].data() + 20};
      ok = w.writeRecord(items);
    }
    EXPECT_FALSE(w.finish());
    EXPECT_EQ(w.failure(), c.failure);
  }
}

// A position query that fails on a stream that can seek used to fall back to a
// count that is wrong after any seek, so the chunk table no longer matched the
// chunks. It is a failure of what asked for the position.
TEST(LASwriteRecordFailure, FailedPositionQueryIsAFailure) {
  using Failure = LASwriteRecord::Failure;
  const std::vector<Point> points = scanPoints(10);
  auto q = makeDescriptor(kFormat1V2, 2, 4);
  {
    LASwriteRecord w;
    ASSERT_TRUE(w.setup(q->num_items, q->items, q.get()));
    Bytes sink;
    FailingByteStream out(&sink);
    out.refuse_position = true;
    EXPECT_FALSE(w.attach(&out));
    EXPECT_EQ(w.failure(), Failure::kChunkTablePointer);
  }
  LASwriteRecord w;
  ASSERT_TRUE(w.setup(q->num_items, q->items, q.get()));
  Bytes sink;
  FailingByteStream out(&sink);
  ASSERT_TRUE(w.attach(&out));
  out.refuse_position = true;
  size_t written = 0;
  for (const Point& p : points) {
    const uint8_t* items[2] = {p.data(), p.data() + 20};
    if (!w.writeRecord(items)) break;
    written++;
  }
  EXPECT_EQ(written, 4u);  // the fifth record ends the first chunk
  EXPECT_EQ(w.failure(), Failure::kChunk);
  EXPECT_FALSE(w.finish());
}

// A chunk's byte count is a U32 of the chunk table: a chunk of 2^32 bytes or more
// was cut to its low 32 bits. It is refused; one byte less still fits.
TEST(LASwriteRecordFailure, ChunkOf4GiBIsRefused) {
  const std::vector<Point> points = scanPoints(3);
  auto q = makeDescriptor(kFormat1V2, 2, 0);  // chunks ended by closeChunk
  auto chunkOf = [&](uint64_t jump, uint64_t& size) {
    LASwriteRecord w;
    EXPECT_TRUE(w.setup(q->num_items, q->items, q.get()));
    PipeSink sink;  // its `jump` makes it look 4 GiB longer
    EXPECT_TRUE(w.attach(&sink));
    for (const Point& p : points) {
      const uint8_t* items[2] = {p.data(), p.data() + 20};
      EXPECT_TRUE(w.writeRecord(items));
    }
    sink.jump = jump;
    const bool closed = w.closeChunk();
    size = sink.bytes.size() - 8;
    return closed;
  };
  uint64_t size = 0;
  ASSERT_TRUE(chunkOf(0, size));
  uint64_t again = 0;
  EXPECT_TRUE(chunkOf((uint64_t{1} << 32) - 1 - size, again));
  EXPECT_FALSE(chunkOf((uint64_t{1} << 32) - size, again));
}
