// Test-only decoders of the version 1 item codings (point, GPS time, colour, wave
// packet, extra bytes), on EntropyDecoder and the decoding half of
// IntegerResidualCoder. Each rebuilds the item from the symbols it reads, taking
// every decision from what a decoder knows (the previous item and its own state),
// so a writer that codes a wrong symbol, context or model stops round-tripping.
// startChunk takes the chunk's raw first item; readItem fills in the next one.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V1_H
#define MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V1_H

#include <cstdint>
#include <vector>

#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "tests/compressor/item_reader_support.h"

namespace readers_v1 {

using item_readers::ModelSet;

// A version 1 item decoder over a decoder that the caller starts and owns.
class ItemReader {
 public:
  virtual ~ItemReader() = default;
  // Resets all state and takes `item` (the chunk's raw first item) as reference.
  virtual void startChunk(const uint8_t* item) = 0;
  // Decodes the next item into `item`.
  virtual void readItem(uint8_t* item) = 0;
};

class Point10Reader final : public ItemReader {
 public:
  explicit Point10Reader(EntropyDecoder* dec);
  void startChunk(const uint8_t* item) override;
  void readItem(uint8_t* item) override;

 private:
  EntropyDecoder* dec;
  ModelSet models;
  IntegerResidualCoder dx, dy, z, intensity, scan_angle, point_source;
  AdaptiveSymbolModel* changed;
  // Per previous byte value; made at first use and reset per chunk.
  AdaptiveSymbolModel* bit_byte[256] = {};
  AdaptiveSymbolModel* classification[256] = {};
  AdaptiveSymbolModel* user_data[256] = {};
  uint8_t last[20] = {};
  int32_t x_steps[3] = {};
  int32_t y_steps[3] = {};
  int next_step = 0;
};

class GpsTime11Reader final : public ItemReader {
 public:
  explicit GpsTime11Reader(EntropyDecoder* dec);
  void startChunk(const uint8_t* item) override;
  void readItem(uint8_t* item) override;

 private:
  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* multiplier;
  AdaptiveSymbolModel* zero_diff;
  IntegerResidualCoder coder;
  uint64_t last_time = 0;
  int32_t step = 0;
  int32_t extremes = 0;
};

class Rgb12Reader final : public ItemReader {
 public:
  explicit Rgb12Reader(EntropyDecoder* dec);
  void startChunk(const uint8_t* item) override;
  void readItem(uint8_t* item) override;

 private:
  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* used;
  IntegerResidualCoder coder;
  uint8_t last[6] = {};
};

class WavePacket13Reader final : public ItemReader {
 public:
  explicit WavePacket13Reader(EntropyDecoder* dec);
  void startChunk(const uint8_t* item) override;
  void readItem(uint8_t* item) override;

 private:
  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* index;
  AdaptiveSymbolModel* offset_symbols[4];
  IntegerResidualCoder offset_diff, packet_size, return_point, xyz;
  uint8_t last[29] = {};  // the whole previous packet; its index byte is not used
  int32_t last_diff = 0;
  uint32_t last_symbol = 0;
};

class ByteReader final : public ItemReader {
 public:
  ByteReader(EntropyDecoder* dec, uint32_t number);
  void startChunk(const uint8_t* item) override;
  void readItem(uint8_t* item) override;

 private:
  uint32_t number;
  IntegerResidualCoder coder;
  std::vector<uint8_t> last;
};

}  // namespace readers_v1

#endif  // MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V1_H
