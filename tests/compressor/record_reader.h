// Test-only reader of compressed point data (compressors 1 and 2 with fixed chunk
// size and item coder versions 1 and 2; compressor 3 with fixed or variable
// chunks and versions 3 and 4), the inverse of LASwriteRecord built on the test
// item decoders. Every chunk is decoded by a fresh decoder and fresh item
// readers, and measured by the bytes its decoding consumed, so a caller can hold
// the records, the chunk sizes and the end of the data against what the writer
// claims in its chunk-table pointer and its chunk table. A read that cannot go
// on (data too short for a raw record, a pointer outside the data, a decoder
// throwing on its input, an item without a test decoder) stops with an error
// text and keeps the records decoded until then.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_RECORD_READER_H
#define MORROWTIDE_TESTS_COMPRESSOR_RECORD_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_item.h"
#include "tests/compressor/item_reader_support.h"
#include "tests/compressor/item_readers_layered.h"
#include "tests/compressor/item_readers_v1.h"
#include "tests/compressor/item_readers_v2.h"

namespace record_reader {

using Bytes = std::vector<uint8_t>;

// Gives a version 2 reader the interface of the version 1 readers.
template <class Reader>
class AsItemReader final : public readers_v1::ItemReader {
 public:
  template <class... Args>
  explicit AsItemReader(EntropyDecoder* dec, Args... args) : reader(dec, args...) {}
  void startChunk(const uint8_t* item) override { reader.startChunk(item); }
  void readItem(uint8_t* item) override { reader.readItem(item); }

 private:
  Reader reader;
};

// One switch key per (version, type) pair.
constexpr uint32_t readerKey(uint32_t version, uint32_t type) { return version << 16 | type; }

// The test decoder of `item`'s type and version, over `dec` (not owned).
inline std::unique_ptr<readers_v1::ItemReader> makeItemReader(const LASitem& item,
                                                              EntropyDecoder* dec) {
  switch (readerKey(item.version, item.type)) {
    case readerKey(1, LASitem::BYTE):
      return std::make_unique<readers_v1::ByteReader>(dec, item.size);
    case readerKey(1, LASitem::POINT10):
      return std::make_unique<readers_v1::Point10Reader>(dec);
    case readerKey(1, LASitem::GPSTIME11):
      return std::make_unique<readers_v1::GpsTime11Reader>(dec);
    case readerKey(1, LASitem::RGB12):
      return std::make_unique<readers_v1::Rgb12Reader>(dec);
    case readerKey(1, LASitem::WAVEPACKET13):
      return std::make_unique<readers_v1::WavePacket13Reader>(dec);
    case readerKey(2, LASitem::BYTE):
      return std::make_unique<AsItemReader<readers_v2::ByteReader>>(dec, uint32_t{item.size});
    case readerKey(2, LASitem::POINT10):
      return std::make_unique<AsItemReader<readers_v2::Point10Reader>>(dec);
    case readerKey(2, LASitem::GPSTIME11):
      return std::make_unique<AsItemReader<readers_v2::GpsTime11Reader>>(dec);
    case readerKey(2, LASitem::RGB12):
      return std::make_unique<AsItemReader<readers_v2::Rgb12Reader>>(dec);
  }
  throw std::runtime_error("no test decoder for item type " + std::to_string(item.type) +
                           " version " + std::to_string(item.version));
}

// The layered test decoder of `item`'s type and version.
inline std::unique_ptr<readers_layered::LayeredReader> makeLayeredReader(const LASitem& item) {
  const bool v4 = item.version == 4;
  if (item.version == 3 || v4) {
    switch (item.type) {
      case LASitem::POINT14:
        return std::make_unique<readers_layered::Point14Reader>(v4);
      case LASitem::RGB14:
        return std::make_unique<readers_layered::RgbNir14Reader>(false, v4);
      case LASitem::RGBNIR14:
        return std::make_unique<readers_layered::RgbNir14Reader>(true, v4);
      case LASitem::WAVEPACKET14:
        return std::make_unique<readers_layered::WavePacket14Reader>(v4);
      case LASitem::BYTE14:
        return std::make_unique<readers_layered::Byte14Reader>(item.size, v4);
    }
  }
  throw std::runtime_error("no layered test decoder for item type " + std::to_string(item.type) +
                           " version " + std::to_string(item.version));
}

// What a read found.
struct PointData {
  std::vector<Bytes> records;
  // Chunked data only:
  int64_t table_pointer = 0;          // the leading I64
  std::vector<uint64_t> chunk_sizes;  // bytes each chunk's decoding consumed
  uint64_t chunks_end = 0;            // where the last chunk's decoding stopped
  uint32_t table_version = 0;
  uint32_t table_chunks = 0;
  std::vector<uint32_t> table_bytes;    // byte counts decoded from the table
  std::vector<uint32_t> table_records;  // record counts decoded (variable chunks)
  std::vector<uint32_t> chunk_records;  // record counts in the layered chunks
  // One past the last byte read; past data.size() when a decoder read beyond it.
  uint64_t end = 0;
  std::string error;  // empty when the read went through
};

namespace detail {

// Decodes `count` records (count >= 1) at `at`: the raw first record, then the
// coded rest through fresh readers. Returns the bytes consumed.
inline uint64_t readChunk(const Bytes& data, uint64_t at, const std::vector<LASitem>& items,
                          size_t count, std::vector<Bytes>& records) {
  size_t point_size = 0;
  for (const LASitem& item : items) point_size += item.size;
  if (at + point_size > data.size()) {
    throw std::runtime_error("raw record at " + std::to_string(at) + " runs past the data");
  }
  EntropyDecoder dec;
  std::vector<std::unique_ptr<readers_v1::ItemReader>> readers;
  for (const LASitem& item : items) readers.push_back(makeItemReader(item, &dec));

  Bytes record(data.begin() + static_cast<ptrdiff_t>(at),
               data.begin() + static_cast<ptrdiff_t>(at + point_size));
  size_t offset = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    readers[i]->startChunk(record.data() + offset);
    offset += items[i].size;
  }
  records.push_back(record);

  const uint64_t coded = at + point_size;
  morrowtide::ByteStreamInArray in(data.data() + coded, data.size() - coded);
  dec.start(&in, true);
  for (size_t k = 1; k < count; ++k) {
    offset = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      readers[i]->readItem(record.data() + offset);
      offset += items[i].size;
    }
    records.push_back(record);
  }
  dec.finish();
  return point_size + in.position();
}

// A layered chunk at `at`: the raw first record, U32 record count, every item's
// layer sizes, every item's layer bytes. Checks that each layer's decoding asks
// for no byte past the layer's end. Returns the bytes the chunk occupies.
inline uint64_t readLayeredChunk(const Bytes& data, uint64_t at, const std::vector<LASitem>& items,
                                 std::vector<Bytes>& records, std::vector<uint32_t>& counts) {
  size_t point_size = 0;
  for (const LASitem& item : items) point_size += item.size;
  if (at + point_size + 4 > data.size())
    throw std::runtime_error("layered chunk runs past the data");
  std::vector<std::unique_ptr<readers_layered::LayeredReader>> readers;
  for (const LASitem& item : items) readers.push_back(makeLayeredReader(item));
  Bytes record(data.begin() + static_cast<ptrdiff_t>(at),
               data.begin() + static_cast<ptrdiff_t>(at + point_size));
  uint32_t context = 0;
  size_t offset = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    readers[i]->startChunk(record.data() + offset, context);
    offset += items[i].size;
  }
  records.push_back(record);
  uint64_t p = at + point_size;
  const uint32_t count = item_readers::getLE(data.data() + p, 4);
  counts.push_back(count);
  p += 4;
  std::vector<uint32_t> sizes;
  for (auto& r : readers) {
    for (uint32_t l = 0; l < r->numLayers(); ++l) {
      if (p + 4 > data.size()) throw std::runtime_error("layer sizes run past the data");
      sizes.push_back(item_readers::getLE(data.data() + p, 4));
      p += 4;
    }
  }
  size_t k = 0;
  for (auto& r : readers) {
    for (uint32_t l = 0; l < r->numLayers(); ++l, ++k) {
      if (p + sizes[k] > data.size()) throw std::runtime_error("layer bytes run past the data");
      r->attachLayer(l, data.data() + p, sizes[k]);
      p += sizes[k];
    }
  }
  for (uint32_t n = 1; n < count; ++n) {
    context = 0;
    offset = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      readers[i]->readItem(record.data() + offset, context);
      offset += items[i].size;
    }
    records.push_back(record);
  }
  k = 0;
  for (auto& r : readers) {
    for (uint32_t l = 0; l < r->numLayers(); ++l, ++k) {
      if (r->consumed(l) > sizes[k]) {
        throw std::runtime_error("layer " + std::to_string(k) + " decoded past its " +
                                 std::to_string(sizes[k]) + " bytes");
      }
    }
  }
  return p - at;
}

inline void readInto(PointData& got, const Bytes& data, const std::vector<LASitem>& items,
                     uint16_t compressor, uint32_t chunk_size, size_t num_points) {
  if (compressor == 1) {
    if (num_points > 0) got.end = readChunk(data, 0, items, num_points, got.records);
    return;
  }
  const bool layered = compressor == 3;
  if ((compressor != 2 || chunk_size == 0) && !layered)
    throw std::runtime_error("unsupported point data");
  if (data.size() < 8) throw std::runtime_error("no chunk-table pointer");
  got.table_pointer = static_cast<int64_t>(item_readers::getLE64(data.data()));

  uint64_t at = 8;
  if (layered) {
    // Every layered chunk states its record count; a wrong count shows in the records.
    while (got.records.size() < num_points) {
      const uint64_t size = readLayeredChunk(data, at, items, got.records, got.chunk_records);
      got.chunk_sizes.push_back(size);
      at += size;
    }
  } else {
    for (size_t first = 0; first < num_points; first += chunk_size) {
      const size_t count = num_points - first < chunk_size ? num_points - first : chunk_size;
      const uint64_t size = readChunk(data, at, items, count, got.records);
      got.chunk_sizes.push_back(size);
      at += size;
    }
  }
  got.chunks_end = at;

  if (got.table_pointer < 0 || static_cast<uint64_t>(got.table_pointer) + 8 > data.size()) {
    throw std::runtime_error("chunk table pointer " + std::to_string(got.table_pointer) +
                             " outside the data");
  }
  const uint64_t table = static_cast<uint64_t>(got.table_pointer);
  got.table_version = item_readers::getLE(data.data() + table, 4);
  got.table_chunks = item_readers::getLE(data.data() + table + 4, 4);
  got.end = table + 8;
  if (got.table_chunks == 0) return;
  morrowtide::ByteStreamInArray in(data.data() + got.end, data.size() - got.end);
  EntropyDecoder dec;
  dec.start(&in, true);
  IntegerResidualCoder counts(&dec, 32, 2, 8, 0);
  counts.startDecoding();
  uint32_t last = 0;
  // A sound table has one entry per chunk; the bound only stops a wild count.
  uint32_t last_records = 0;
  for (uint32_t i = 0; i < got.table_chunks && i <= num_points; ++i) {
    if (chunk_size == 0) {
      last_records = static_cast<uint32_t>(counts.decode(static_cast<int32_t>(last_records), 0));
      got.table_records.push_back(last_records);
    }
    last = static_cast<uint32_t>(counts.decode(static_cast<int32_t>(last), 1));
    got.table_bytes.push_back(last);
  }
  dec.finish();
  got.end += in.position();
}

}  // namespace detail

// Reads `num_points` records of `items` from the point data `data` of
// `compressor` (1, 2 or 3); `chunk_size` (compressor 2, not 0) gives the records
// of every chunk but the last; with compressor 3 the chunks state their counts
// and `chunk_size` 0 means the table holds record counts too.
inline PointData readPointData(const Bytes& data, const std::vector<LASitem>& items,
                               uint16_t compressor, uint32_t chunk_size, size_t num_points) {
  PointData got;
  try {
    detail::readInto(got, data, items, compressor, chunk_size, num_points);
  } catch (const std::runtime_error& e) {
    got.error = e.what();
  } catch (int code) {
    got.error = "decoder threw " + std::to_string(code) + " in record " +
                std::to_string(got.records.size());
  }
  return got;
}

}  // namespace record_reader

#endif  // MORROWTIDE_TESTS_COMPRESSOR_RECORD_READER_H
