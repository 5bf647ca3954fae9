// Test-only reader of compressed point data (compressors 1 and 2, fixed chunk
// size, item coder versions 1 and 2), the inverse of LASwriteRecord built on the
// test item decoders. Every chunk is decoded by a fresh decoder and fresh item
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

#include "compressor/byte_stream_in.h"
#include "compressor/entropy_decoder.h"
#include "compressor/integer_residual_coder.h"
#include "compressor/las_item.h"
#include "tests/compressor/item_reader_support.h"
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

// What a read found.
struct PointData {
  std::vector<Bytes> records;
  // Chunked data only:
  int64_t table_pointer = 0;          // the leading I64
  std::vector<uint64_t> chunk_sizes;  // bytes each chunk's decoding consumed
  uint64_t chunks_end = 0;            // where the last chunk's decoding stopped
  uint32_t table_version = 0;
  uint32_t table_chunks = 0;
  std::vector<uint32_t> table_bytes;  // byte counts decoded from the table
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
  ByteStreamInArray in(data.data() + coded, data.size() - coded);
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

inline void readInto(PointData& got, const Bytes& data, const std::vector<LASitem>& items,
                     uint16_t compressor, uint32_t chunk_size, size_t num_points) {
  if (compressor == 1) {
    if (num_points > 0) got.end = readChunk(data, 0, items, num_points, got.records);
    return;
  }
  if (compressor != 2 || chunk_size == 0) throw std::runtime_error("unsupported point data");
  if (data.size() < 8) throw std::runtime_error("no chunk-table pointer");
  got.table_pointer = static_cast<int64_t>(item_readers::getLE64(data.data()));

  uint64_t at = 8;
  for (size_t first = 0; first < num_points; first += chunk_size) {
    const size_t count = num_points - first < chunk_size ? num_points - first : chunk_size;
    const uint64_t size = readChunk(data, at, items, count, got.records);
    got.chunk_sizes.push_back(size);
    at += size;
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
  ByteStreamInArray in(data.data() + got.end, data.size() - got.end);
  EntropyDecoder dec;
  dec.start(&in, true);
  IntegerResidualCoder counts(&dec, 32, 2, 8, 0);
  counts.startDecoding();
  uint32_t last = 0;
  // A sound table has one entry per chunk; the bound only stops a wild count.
  for (uint32_t i = 0; i < got.table_chunks && i <= num_points; ++i) {
    last = static_cast<uint32_t>(counts.decode(static_cast<int32_t>(last), 1));
    got.table_bytes.push_back(last);
  }
  dec.finish();
  got.end += in.position();
}

}  // namespace detail

// Reads `num_points` records of `items` from the point data `data` of
// `compressor` (1 or 2); `chunk_size` (compressor 2, not 0) gives the records
// of every chunk but the last.
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
