// The compressed item writers of version 1 for the items of point formats 0 to 5:
// the 20-byte point, the GPS time, the colour, the wave packet (whose only coder
// this is, whatever version the other items have) and the extra bytes. All code
// into the point-record writer's shared encoder; the first record of a chunk is
// written raw by the record writer and handed to startChunk, every later record
// is coded against the previous one by writeItem.
//
// Read this first:
// - the coded bytes are the file format: every model, context and prediction is
//   fixed, and a decoder makes the same choices from the same history;
// - models and residual coders are made at construction (the point writer's
//   per-previous-byte models at their first use) and only reset per chunk, so no
//   statistics cross a chunk boundary and no point allocates;
// - none of them uses the context word or has layers.
#ifndef MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V1_H
#define MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V1_H

#include <cstdint>
#include <memory>

#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/quodax_format.h"

// The 20-byte point (X, Y, Z, intensity, return byte, classification byte, scan
// angle rank, user data, point source ID): X and Y steps against the median of the
// last three steps, Z against the previous Z, then a changed-values symbol and
// the changed fields.
class LASwriteItemCompressed_POINT10_v1 final : public LASwriteItemCompressed {
 public:
  // Makes the models and coders through `encoder` (not owned; must outlive this
  // writer, which deletes its models through it).
  explicit LASwriteItemCompressed_POINT10_v1(EntropyEncoder* encoder);

  // Resets every model and coder, clears the step rings and takes the 20 bytes at
  // `item` as the previous point. Always true.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // Codes the 20 bytes at `item` against the previous point. Requires: the encoder
  // was started after startChunk. Always true.
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  // The steps of writeItem, in its order; each reads the previous point.
  inline uint32_t codeCoordinates(const uint8_t* item);
  inline uint32_t changedValues(const uint8_t* item) const;
  inline void codeChangedFields(const uint8_t* item, uint32_t changed, uint32_t xy_classes);

  EntropyEncoder* encoder;  // not owned
  uint8_t last_item[quodax_format::kSizePoint10] = {};
  int32_t last_x_diffs[3] = {};
  int32_t last_y_diffs[3] = {};
  int32_t last_diff_index = 0;  // 0 to 2
  IntegerResidualCoder dx_coder;
  IntegerResidualCoder dy_coder;
  IntegerResidualCoder z_coder;
  IntegerResidualCoder intensity_coder;
  IntegerResidualCoder scan_angle_rank_coder;
  IntegerResidualCoder point_source_coder;
  morrowtide::OwnedSymbolModel changed_values_model;
  morrowtide::OwnedSymbolModel bit_byte_models[256];        // 256 symbols, by the last return byte
  morrowtide::OwnedSymbolModel classification_models[256];  // 256 symbols, by the last class
  morrowtide::OwnedSymbolModel user_data_models[256];       // 256 symbols, by the last user data
};

// The GPS time (8 bytes, the F64's bit pattern read as an I64), coded as a
// multiple of the last regular step or, when it does not fit 32 bits, raw.
class LASwriteItemCompressed_GPSTIME11_v1 final : public LASwriteItemCompressed {
 public:
  // Makes both models and the coder through `encoder` (not owned; must outlive
  // this writer).
  explicit LASwriteItemCompressed_GPSTIME11_v1(EntropyEncoder* encoder);

  // Resets the models and the coder, forgets the step and takes the time at
  // `item` as the last time. Always true.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // Codes the time at `item`. Requires: the encoder was started after startChunk.
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  int64_t last_gps_time = 0;
  morrowtide::OwnedSymbolModel gps_multiplier_model;
  morrowtide::OwnedSymbolModel gps_zero_diff_model;
  IntegerResidualCoder gps_coder;
  int32_t gps_extreme_counter = 0;
  int32_t gps_diff = 0;  // the step; 0 while there is none
};

// The colour (6 bytes: red, green, blue, U16 each), coded byte by byte: a symbol
// of the bytes that changed, then each changed byte against the previous one.
class LASwriteItemCompressed_RGB12_v1 final : public LASwriteItemCompressed {
 public:
  // Makes the model and the coder through `encoder` (not owned; must outlive this
  // writer).
  explicit LASwriteItemCompressed_RGB12_v1(EntropyEncoder* encoder);

  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  uint8_t last_item[quodax_format::kSizeRgb12] = {};
  morrowtide::OwnedSymbolModel byte_used;  // 64 symbols
  IntegerResidualCoder rgb_coder;          // by colour byte
};

// The wave packet (29 bytes: index, offset, size, location, x(t), y(t), z(t)),
// coded with the shared wave packet coding against the previous packet.
class LASwriteItemCompressed_WAVEPACKET13_v1 final : public LASwriteItemCompressed {
 public:
  // Makes the models and coders through `encoder` (not owned; must outlive this
  // writer).
  explicit LASwriteItemCompressed_WAVEPACKET13_v1(EntropyEncoder* encoder);

  // Resets the models and coders, the offset state, and takes bytes 1 to 28 of
  // `item` as the previous packet. Always true.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  // The previous packet without its index byte.
  uint8_t last_item[quodax_format::kSizeWavePacket13 - 1] = {};
  int32_t last_offset_diff = 0;
  uint32_t last_offset_symbol = 0;                // 0 to 3
  morrowtide::OwnedSymbolModel packet_index;      // 256 symbols
  morrowtide::OwnedSymbolModel offset_symbol[4];  // 4 symbols each
  IntegerResidualCoder ic_offset_diff;
  IntegerResidualCoder ic_packet_size;
  IntegerResidualCoder ic_return_point;
  IntegerResidualCoder ic_xyz;  // x(t), y(t) and z(t)
};

// The extra bytes of a point (`number` of them), every byte coded against the
// previous item's byte, changed or not.
class LASwriteItemCompressed_BYTE_v1 final : public LASwriteItemCompressed {
 public:
  // Makes the coder through `encoder` (not owned; must outlive this writer).
  LASwriteItemCompressed_BYTE_v1(EntropyEncoder* encoder, uint32_t number);

  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  uint32_t number;
  std::unique_ptr<uint8_t[]> last_bytes;  // `number` bytes
  IntegerResidualCoder bytes_coder;       // by the byte's place
};

#endif  // MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V1_H
