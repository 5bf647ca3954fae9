// End-to-end round trip of the point-record writer: points of formats 0 to 5
// (with and without extra bytes), coded by LASwriteRecord as one stream or in
// chunks with item coder versions 1 and 2, are read back by the test record
// reader. Every record must come back byte for byte, each chunk's decoding must
// consume exactly the bytes the chunk table gives it, and nothing may be left
// over or read past the end.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/compressor/quodax.h"
#include "tests/compressor/item_reader_support.h"
#include "tests/compressor/record_reader.h"
#include "tests/compressor/scan_points14.h"

namespace {

using item_readers::putLE;
using record_reader::Bytes;

// Seeded scan-like points of an item list: pulses of one to five returns moving
// along a line, regular GPS steps on two interleaved lines, slowly drifting
// colours and consecutive wave packets, with each field's edge values mixed in
// on a fixed schedule so that every coding path is taken.
class ScanPoints {
 public:
  ScanPoints(const LASitem* items, uint16_t num_items, uint32_t seed)
      : items(items, items + num_items), rng(seed) {}

  Bytes next() {
    size_t size = 0;
    for (const LASitem& item : items) size += item.size;
    Bytes record(size);
    uint8_t* at = record.data();
    for (const LASitem& item : items) {
      switch (item.type) {
        case LASitem::POINT10:
          point10(at);
          break;
        case LASitem::GPSTIME11:
          gpsTime(at);
          break;
        case LASitem::RGB12:
          rgb(at);
          break;
        case LASitem::WAVEPACKET13:
          wavePacket(at);
          break;
        default:
          extraBytes(at, item.size);
          break;
      }
      at += item.size;
    }
    ++index;
    return record;
  }

 private:
  uint32_t below(uint32_t n) { return rng() % n; }
  int32_t around(int32_t spread) { return static_cast<int32_t>(below(2 * spread + 1)) - spread; }
  static float asFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  static uint32_t bitsOf(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
  }

  void point10(uint8_t* p) {
    // Every (return number, number of returns) pair 0..7 x 0..7 comes in turn.
    if (index % 5 == 0) {
      const uint32_t pair = (index / 5) % 64;
      return_number = pair & 7;
      number_of_returns = pair >> 3;
    } else if (return_number < number_of_returns) {
      ++return_number;
    } else {
      number_of_returns = 1 + below(5);
      return_number = 1;
    }
    new_pulse = return_number <= 1;
    if (new_pulse) {
      x += static_cast<uint32_t>(20 + around(3));
      y += static_cast<uint32_t>(around(2));
    }
    z += static_cast<uint32_t>(around(20));
    if (index % 11 == 2) {  // jumps of every power of two, up and later down
      const uint32_t k = (index / 11) % 32;
      const uint32_t sign = (index / 11 / 32) % 2 ? 0xFFFFFFFFu : 1u;
      x += sign * (1u << k);
      y += sign * (1u << (k + 7) % 32);
      z += sign * (1u << (k + 13) % 32);
    }
    if (index % 23 == 11) {
      switch ((index / 23) % 8) {
        case 0:  // INT32_MIN
          x = 0x80000000u;
          break;
        case 1:  // INT32_MAX
          x = 0x7FFFFFFFu;
          break;
        case 2:
          y = 0x80000000u;
          z = 0x7FFFFFFFu;
          break;
        case 3:
          y = 0x7FFFFFFFu;
          z = 0x80000000u;
          break;
        case 4:
          x ^= 0x80000000u;
          y ^= 0x80000000u;
          z ^= 0x80000000u;
          break;
        default:  // back on the line
          x = 100000 + below(1000);
          y = 200000 + below(1000);
          z = 5000;
      }
    }
    if (index % 97 == 0) scan_direction ^= 1;
    const uint32_t edge = index % 97 == 96 ? 1 : 0;

    uint32_t intensity = 300 - 40 * return_number + below(30);
    if (index % 29 == 3) intensity = (index / 29) % 2 ? 65535 : 0;
    uint8_t classification = return_number == number_of_returns ? 2 : 5;
    if (index % 41 == 7) classification = static_cast<uint8_t>(below(256));
    int32_t angle = -90 + static_cast<int32_t>((index / 7) % 181);
    if (index % 43 == 5) angle = (index / 43) % 2 ? 127 : -128;
    const uint8_t user_data = index % 13 == 4 ? static_cast<uint8_t>(below(256)) : 0;
    if (index % 300 == 299) point_source = static_cast<uint16_t>(point_source + 1);
    if (index % 61 == 9) point_source = (index / 61) % 2 ? 65535 : 0;

    putLE(p + 0, x, 4);
    putLE(p + 4, y, 4);
    putLE(p + 8, z, 4);
    putLE(p + 12, intensity, 2);
    p[14] = static_cast<uint8_t>(return_number | number_of_returns << 3 | scan_direction << 6 |
                                 edge << 7);
    p[15] = classification;
    p[16] = static_cast<uint8_t>(angle);
    p[17] = user_data;
    putLE(p + 18, point_source, 2);
  }

  void gpsTime(uint8_t* p) {
    // A step that changes now and then, a stretch that runs backward, and jumps
    // by the multiples of the step at which the coders change their coding.
    static const int kMultiples[] = {0,   2,   9,   10,  11,  49, 50, 51,  499, 500,
                                     501, 508, 509, 510, 600, -1, -9, -10, -11, -20};
    const double step = 0.00001 * (1 + (index / 500) % 3);
    if (new_pulse) time += index % 400 >= 300 && index % 400 < 340 ? -step : step;
    if (index % 9 == 4) time += step * kMultiples[(index / 9) % 20];
    double t = time;
    if (index % 150 >= 140) t = other_line_time += 0.00002;  // a second line interleaved
    uint64_t bits;
    std::memcpy(&bits, &t, 8);
    if (index % 31 == 17) {
      switch ((index / 31) % 12) {
        case 0:  // +0
          bits = 0;
          break;
        case 1:  // -0
          bits = 0x8000000000000000u;
          break;
        case 2:  // quiet NaN
          bits = 0x7FF8000000000000u;
          break;
        case 3:  // NaN with payload
          bits = 0xFFF0000000000001u;
          break;
        case 4:  // +inf
          bits = 0x7FF0000000000000u;
          break;
        case 5:  // -inf
          bits = 0xFFF0000000000000u;
          break;
        case 6:  // big jumps
          t = time + 1e9;
          std::memcpy(&bits, &t, 8);
          break;
        case 7:
          t = time - 1e9;
          std::memcpy(&bits, &t, 8);
          break;
        case 8:
          t = DBL_MAX;
          std::memcpy(&bits, &t, 8);
          break;
        case 9:  // smallest subnormal
          bits = 1;
          break;
        case 10:
          bits = uint64_t{rng()} << 32 | rng();
          break;
        default:
          bits = last_time_bits;  // the time again
      }
    }
    last_time_bits = bits;
    putLE(p, bits, 8);
  }

  void rgb(uint8_t* p) {
    static const uint16_t kFew[3] = {0, 1, 255};
    for (uint16_t& c : colour) c = static_cast<uint16_t>(c + around(3));
    if (index % 200 < 50) colour[1] = colour[2] = colour[0];  // grey stretch
    if (index % 200 >= 150) {                                 // 8-bit colours
      for (uint16_t& c : colour) c &= 0xFF;
    }
    if (index % 17 == 8) {
      switch ((index / 17) % 7) {
        case 0:
          colour[0] = colour[1] = colour[2] = 0;
          break;
        case 1:
          colour[0] = colour[1] = colour[2] = 65535;
          break;
        case 2:
          colour[0] = 0;
          colour[1] = 65535;
          colour[2] = 0;
          break;
        case 3:
          colour[0] = 65535;
          colour[1] = 0;
          colour[2] = 65535;
          break;
        case 4:
          for (uint16_t& c : colour) c = static_cast<uint16_t>(below(65536));
          break;
        case 5:  // bytes from a small set, so that channels share some of them
          for (uint16_t& c : colour)
            c = static_cast<uint16_t>(kFew[below(3)] << 8 | kFew[below(3)]);
          break;
        default:  // low byte only
          colour[0] ^= 0xFF;
          break;
      }
    }
    for (int i = 0; i < 3; ++i) putLE(p + 2 * i, colour[i], 2);
  }

  void wavePacket(uint8_t* p) {
    uint8_t descriptor = 1;
    uint64_t offset = last_offset + packet_size;  // consecutive packets
    uint32_t size = 256;
    float location = 1000.0f + static_cast<float>(around(500));
    if (new_pulse) {
      for (float& d : direction) d = 1e-4f * static_cast<float>(around(100));
    }
    if (index % 11 == 6) {
      switch ((index / 11) % 12) {
        case 0:  // same packet
          offset = last_offset;
          break;
        case 1:  // small diff
          offset = last_offset - 1000;
          break;
        case 2:  // diff INT32_MAX
          offset = last_offset + 0x7FFFFFFFu;
          break;
        case 3:  // diff INT32_MIN
          offset = last_offset - 0x80000000u;
          break;
        case 4:  // INT32_MAX + 1
          offset = last_offset + 0x80000000u;
          break;
        case 5:  // INT32_MIN - 1
          offset = last_offset - 0x80000001u;
          break;
        case 6:
          offset = 0;
          break;
        case 7:
          offset = UINT64_MAX;
          break;
        case 8:
          descriptor = static_cast<uint8_t>(below(256));
          size = rng();
          break;
        case 9:
          size = 0;
          break;
        case 10:
          size = UINT32_MAX;
          break;
        default:
          location = std::numeric_limits<float>::quiet_NaN();
          for (float& d : direction) d = asFloat(rng());
      }
    }
    p[0] = descriptor;
    putLE(p + 1, offset, 8);
    putLE(p + 9, size, 4);
    putLE(p + 13, bitsOf(location), 4);
    for (int i = 0; i < 3; ++i) putLE(p + 17 + 4 * i, bitsOf(direction[i]), 4);
    last_offset = offset;
    packet_size = size;
  }

  void extraBytes(uint8_t* p, uint16_t size) {
    if (extra.size() < size) extra.resize(size, 0x80);
    for (uint16_t i = 0; i < size; i += 2) extra[i] = static_cast<uint8_t>(extra[i] + around(1));
    if (index % 19 == 2) {
      const uint32_t kind = (index / 19) % 3;
      for (uint8_t& b : extra)
        b = static_cast<uint8_t>(kind == 0 ? 0 : kind == 1 ? 255 : below(256));
    }
    std::memcpy(p, extra.data(), size);
  }

  std::vector<LASitem> items;
  std::mt19937 rng;
  uint32_t index = 0;
  // POINT10
  uint32_t x = 100000, y = 200000, z = 5000;
  uint32_t return_number = 1, number_of_returns = 1, scan_direction = 0;
  uint16_t point_source = 7;
  bool new_pulse = true;
  // GPSTIME11
  double time = 86400.0, other_line_time = 90000.0;
  uint64_t last_time_bits = 0;
  // RGB12
  uint16_t colour[3] = {30000, 20000, 10000};
  // WAVEPACKET13
  uint64_t last_offset = 60000;
  uint32_t packet_size = 256;
  float direction[3] = {};
  // BYTE
  std::vector<uint8_t> extra;
};

// A point layout: format and point size (above the format's base size the
// point carries extra bytes).
struct Layout {
  uint8_t format;
  uint16_t point_size;
};
const Layout kLayouts[] = {{0, 20}, {1, 28}, {2, 26}, {3, 34}, {4, 57}, {5, 63}, {0, 23}, {5, 64}};

struct Written {
  std::vector<LASitem> items;  // as the descriptor gave them, with their versions
  std::vector<Bytes> records;
  Bytes data;  // the point data
};

// Writes `num_points` scan points of `layout` through a descriptor set up as the
// LAS writer sets one up, and LASwriteRecord on an in-memory stream.
Written writePoints(const Layout& layout, uint16_t compressor, uint16_t version,
                    uint32_t chunk_size, size_t num_points) {
  Written w;
  Quodax q;
  EXPECT_TRUE(q.setup(layout.format, layout.point_size, compressor));
  if (compressor == Quodax::CompressorChunked) {
    EXPECT_TRUE(q.setChunkSize(chunk_size));
  }
  EXPECT_TRUE(q.requestVersion(version));
  w.items.assign(q.items, q.items + q.num_items);

  LASwriteRecord writer;
  EXPECT_TRUE(writer.setup(q.num_items, q.items, &q));
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(writer.attach(&out));
  ScanPoints points(q.items, q.num_items, 1000u + layout.format * 10u + layout.point_size);
  std::vector<const uint8_t*> pointers(w.items.size());
  for (size_t n = 0; n < num_points; ++n) {
    w.records.push_back(points.next());
    const uint8_t* at = w.records.back().data();
    for (size_t i = 0; i < w.items.size(); ++i) {
      pointers[i] = at;
      at += w.items[i].size;
    }
    EXPECT_TRUE(writer.writeRecord(pointers.data()));
  }
  EXPECT_TRUE(writer.finish());
  w.data.assign(out.data(), out.data() + out.highWaterMark());
  return w;
}

std::string hex(const uint8_t* bytes, size_t n) {
  std::ostringstream s;
  for (size_t i = 0; i < n; ++i) {
    s << (i ? " " : "") << "0123456789ABCDEF"[bytes[i] >> 4] << "0123456789ABCDEF"[bytes[i] & 15];
  }
  return s.str();
}

// Compares the records and reports the first mismatch by record and item (the
// records after it differ as well, as the decoders have lost step).
void expectSameRecords(const Written& w, const std::vector<Bytes>& decoded) {
  for (size_t n = 0; n < decoded.size() && n < w.records.size(); ++n) {
    if (decoded[n] == w.records[n]) continue;
    size_t at = 0;
    for (const LASitem& item : w.items) {
      if (std::memcmp(decoded[n].data() + at, w.records[n].data() + at, item.size) != 0) {
        ADD_FAILURE() << "record " << n << ", item " << item.typeName() << " v" << item.version
                      << "\n  expected " << hex(w.records[n].data() + at, item.size)
                      << "\n  got      " << hex(decoded[n].data() + at, item.size);
        return;
      }
      at += item.size;
    }
  }
  EXPECT_EQ(decoded.size(), w.records.size());
}

TEST(PointRoundTrip, SingleStreamDecodesToEveryRecordAndEndsWithTheData) {
  for (const Layout& layout : kLayouts) {
    for (uint16_t version : {1, 2}) {
      for (size_t num_points : {1, 2000}) {
        SCOPED_TRACE(testing::Message()
                     << "format " << int{layout.format} << ", size " << layout.point_size << ", v"
                     << version << ", " << num_points << " points");
        const Written w =
            writePoints(layout, Quodax::CompressorSingleStream, version, 0, num_points);
        const auto got = record_reader::readPointData(
            w.data, w.items, Quodax::CompressorSingleStream, 0, num_points);
        EXPECT_EQ(got.error, "");
        expectSameRecords(w, got.records);
        EXPECT_EQ(got.end, w.data.size());
      }
    }
  }
}

TEST(PointRoundTrip, ChunksDecodeToEveryRecordAndHaveTheSizesTheirTableGives) {
  struct Chunking {
    uint32_t chunk_size;
    size_t num_points;
  };
  // Several chunks with a partial last one; whole chunks only; chunks with one
  // coded record and a last one without; chunks of a raw record alone.
  const Chunking chunkings[] = {{700, 2000}, {250, 500}, {2, 25}, {1, 9}};
  for (const Layout& layout : kLayouts) {
    for (uint16_t version : {1, 2}) {
      for (const Chunking& c : chunkings) {
        SCOPED_TRACE(testing::Message()
                     << "format " << int{layout.format} << ", size " << layout.point_size << ", v"
                     << version << ", " << c.num_points << " points in chunks of " << c.chunk_size);
        const Written w =
            writePoints(layout, Quodax::CompressorChunked, version, c.chunk_size, c.num_points);
        const auto got = record_reader::readPointData(w.data, w.items, Quodax::CompressorChunked,
                                                      c.chunk_size, c.num_points);
        EXPECT_EQ(got.error, "");
        expectSameRecords(w, got.records);
        EXPECT_EQ(static_cast<uint64_t>(got.table_pointer), got.chunks_end);
        EXPECT_EQ(got.table_version, 0u);
        EXPECT_EQ(got.table_chunks, (c.num_points + c.chunk_size - 1) / c.chunk_size);
        const std::vector<uint32_t> sizes(got.chunk_sizes.begin(), got.chunk_sizes.end());
        EXPECT_EQ(got.table_bytes, sizes);
        EXPECT_EQ(got.end, w.data.size());
      }
    }
  }
}

}  // namespace

// --- LAS 1.4 points (formats 6 to 10), layered chunks ---

namespace las14 {

using scan_points14::kColourAt;
using scan_points14::kPointBytes;
using scan_points14::kWavePacketAt;
using scan_points14::ScanPoints14;

struct Layout14 {
  uint8_t format;
  uint16_t point_size;
};
const Layout14 kLayouts14[] = {{6, 30},  {7, 36}, {8, 38}, {9, 59},
                               {10, 67}, {6, 33}, {8, 41}, {10, 68}};

struct Written14 {
  std::vector<LASitem> items;
  Bytes raw;   // the point data of an uncompressed run
  Bytes data;  // the compressed point data
};

// Writes `num_points` points of `layout` raw and compressed (layered chunks of
// `chunk_size`; 0: variable chunks closed after every `close_every` points),
// with every item at `version` (3 or 4).
Written14 write14(const Layout14& layout, uint16_t version, uint32_t chunk_size, size_t num_points,
                  size_t close_every = 0) {
  Written14 w;
  Quodax q;
  EXPECT_TRUE(q.setup(layout.format, layout.point_size, Quodax::CompressorLayeredChunked));
  EXPECT_TRUE(q.setChunkSize(chunk_size));
  for (uint16_t i = 0; i < q.num_items; ++i) q.items[i].version = version;
  w.items.assign(q.items, q.items + q.num_items);
  LASwriteRecord raw_writer;
  LASwriteRecord writer;
  EXPECT_TRUE(raw_writer.setup(q.num_items, q.items, nullptr));
  EXPECT_TRUE(writer.setup(q.num_items, q.items, &q));
  ByteStreamOutArrayLE raw_out;
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(raw_writer.attach(&raw_out));
  EXPECT_TRUE(writer.attach(&out));

  ScanPoints14 points(77u + layout.format * 10u + layout.point_size + version);
  std::vector<uint8_t> point(kPointBytes);
  std::vector<uint8_t> extra;
  for (const LASitem& item : w.items) {
    if (item.type == LASitem::BYTE14) extra.assign(item.size, 0x80);
  }
  std::vector<const uint8_t*> pointers;
  for (const LASitem& item : w.items) {
    switch (item.type) {
      case LASitem::POINT14:
        pointers.push_back(point.data());
        break;
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
        pointers.push_back(point.data() + kColourAt);
        break;
      case LASitem::WAVEPACKET14:
        pointers.push_back(point.data() + kWavePacketAt);
        break;
      default:
        pointers.push_back(extra.data());
        break;
    }
  }
  for (size_t n = 0; n < num_points; ++n) {
    points.next(point.data(), extra);
    EXPECT_TRUE(raw_writer.writeRecord(pointers.data()));
    EXPECT_TRUE(writer.writeRecord(pointers.data()));
    if (close_every != 0 && (n + 1) % close_every == 0) {
      EXPECT_TRUE(writer.closeChunk());
    }
  }
  EXPECT_TRUE(raw_writer.finish());
  EXPECT_TRUE(writer.finish());
  w.raw.assign(raw_out.data(), raw_out.data() + raw_out.highWaterMark());
  w.data.assign(out.data(), out.data() + out.highWaterMark());
  return w;
}

// The records of an uncompressed run, one per point.
Written toRecords(const Written14& w) {
  Written split;
  split.items = w.items;
  size_t size = 0;
  for (const LASitem& item : w.items) size += item.size;
  for (size_t at = 0; at + size <= w.raw.size(); at += size) {
    split.records.emplace_back(w.raw.begin() + static_cast<ptrdiff_t>(at),
                               w.raw.begin() + static_cast<ptrdiff_t>(at + size));
  }
  return split;
}

}  // namespace las14

TEST(PointRoundTrip, Las14LayeredChunksDecodeToTheRecordsOfAnUncompressedRun) {
  // Fixed chunks with a partial last one, chunks of one or two records, and
  // variable chunks; four channels interleaved, versions 3 and 4.
  struct Chunking {
    uint32_t chunk_size;
    size_t num_points;
    size_t close_every;
  };
  const Chunking chunkings[] = {{900, 2500, 0}, {2, 9, 0}, {1, 4, 0}, {0, 1700, 600}};
  for (const las14::Layout14& layout : las14::kLayouts14) {
    for (uint16_t version : {3, 4}) {
      for (const Chunking& c : chunkings) {
        SCOPED_TRACE(testing::Message()
                     << "format " << int{layout.format} << ", size " << layout.point_size << ", v"
                     << version << ", " << c.num_points << " points, chunks of " << c.chunk_size
                     << "/" << c.close_every);
        const las14::Written14 w =
            las14::write14(layout, version, c.chunk_size, c.num_points, c.close_every);
        const Written expected = las14::toRecords(w);
        ASSERT_EQ(expected.records.size(), c.num_points);
        const auto got = record_reader::readPointData(
            w.data, w.items, Quodax::CompressorLayeredChunked, c.chunk_size, c.num_points);
        EXPECT_EQ(got.error, "");
        expectSameRecords(expected, got.records);
        EXPECT_EQ(static_cast<uint64_t>(got.table_pointer), got.chunks_end);
        EXPECT_EQ(got.table_chunks, got.chunk_sizes.size());
        const std::vector<uint32_t> sizes(got.chunk_sizes.begin(), got.chunk_sizes.end());
        EXPECT_EQ(got.table_bytes, sizes);
        if (c.chunk_size == 0) {
          EXPECT_EQ(got.table_records, got.chunk_records);
        }
        EXPECT_EQ(got.end, w.data.size());
      }
    }
  }
}
