// The compressed item writers of version 2 for the items of point formats 0 to 5:
// the 20-byte point, the GPS time, the colour and the extra bytes. All code into
// the point-record writer's shared encoder; the first record of a chunk is written
// raw by the record writer and handed to startChunk, every later record is coded
// against the previous one by writeItem.
//
// Read this first:
// - the coded bytes are the file format: every model, context and prediction below
//   is fixed, and the decoder makes the same choices from the same history;
// - models and residual coders are made once, at construction (the point writer's
//   per-previous-byte models at their first use), and only reset per chunk, so
//   nothing carries statistics from one chunk into the next;
// - none of them uses the context word or has layers.
#ifndef MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V2_H
#define MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V2_H

#include <cstdint>
#include <memory>
#include <vector>

#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/gps_time_coding.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/compressor/rolling_median5.h"

// The 20-byte point (X, Y, Z, intensity, return byte, classification byte, scan
// angle rank, user data, point source ID), coded with a changed-values symbol,
// per-field models and residual coders, and running medians of the X and Y steps
// per return class.
class LASwriteItemCompressed_POINT10_v2 final : public LASwriteItemCompressed {
 public:
  // Makes every model and coder through `encoder` (not owned; must outlive this
  // writer, which deletes its models through it).
  explicit LASwriteItemCompressed_POINT10_v2(EntropyEncoder* encoder);

  // Resets every model and coder and takes `item` (20 bytes) as the previous point.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // Codes the 20 bytes at `item` against the previous point. Requires: the encoder
  // was started after startChunk. Always true.
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  // The steps of writeItem, in its order; each reads the previous point.
  inline uint32_t changedValues(const uint8_t* item, uint32_t return_class) const;
  inline void codeChangedFields(const uint8_t* item, uint32_t changed, uint32_t return_class);
  inline void codeCoordinates(const uint8_t* item, uint32_t return_class, uint32_t level,
                              uint32_t single_return);

  EntropyEncoder* encoder;  // not owned
  uint8_t last_item[quodax_format::kSizePoint10] = {};
  uint16_t last_intensity[16] = {};
  RollingMedian5 x_medians[16];
  RollingMedian5 y_medians[16];
  int32_t last_z[8] = {};
  // Made in this order (the order of declaration).
  morrowtide::OwnedSymbolModel changed_values_model;
  IntegerResidualCoder intensity_coder;
  morrowtide::OwnedSymbolModel scan_angle_rank_models[2];  // 256 symbols, by scan direction
  IntegerResidualCoder point_source_coder;
  morrowtide::OwnedSymbolModel bit_byte_models[256];        // 256 symbols, by the last return byte
  morrowtide::OwnedSymbolModel classification_models[256];  // 256 symbols, by the last class
  morrowtide::OwnedSymbolModel user_data_models[256];       // 256 symbols, by the last user data
  IntegerResidualCoder dx_coder;
  IntegerResidualCoder dy_coder;
  IntegerResidualCoder z_coder;
};

// The GPS time (8 bytes, the F64's bit pattern read as an I64). Up to four time
// sequences, each with its last time and step; a time is coded as a multiple of
// the current sequence's step, with symbols to switch sequences and to open a new
// one for a jump that no sequence reaches with a 32-bit difference.
class LASwriteItemCompressed_GPSTIME11_v2 final : public LASwriteItemCompressed {
 public:
  // Makes both models and the coder through `encoder` (not owned; must outlive
  // this writer).
  explicit LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder* encoder);

  // Forgets every sequence and opens sequence 0 with the time at `item`.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // Codes the time at `item`. Requires: the encoder was started after startChunk.
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  morrowtide::GpsTimeSequences sequences;
  morrowtide::OwnedSymbolModel gps_multiplier_model;
  morrowtide::OwnedSymbolModel gps_zero_diff_model;
  IntegerResidualCoder gps_coder;
};

// The colour (red, green, blue, U16 each), coded byte by byte against the previous
// colour with the shared colour difference coding.
class LASwriteItemCompressed_RGB12_v2 final : public LASwriteItemCompressed {
 public:
  // Makes the seven models through `encoder` (not owned; must outlive this writer).
  explicit LASwriteItemCompressed_RGB12_v2(EntropyEncoder* encoder);

  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  uint16_t last_item[3] = {};
  morrowtide::OwnedSymbolModel byte_used;    // 128 symbols
  morrowtide::OwnedSymbolModel rgb_diff[6];  // 256 symbols each
};

// The extra bytes of a point (`number` of them): each byte's difference to the
// previous item's byte, modulo 256, with one model per byte.
class LASwriteItemCompressed_BYTE_v2 final : public LASwriteItemCompressed {
 public:
  // Makes `number` models through `encoder` (not owned; must outlive this writer).
  LASwriteItemCompressed_BYTE_v2(EntropyEncoder* encoder, uint32_t number);

  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  EntropyEncoder* encoder;  // not owned
  uint32_t number;
  std::unique_ptr<uint8_t[]> last_bytes;                  // `number` bytes
  std::vector<morrowtide::OwnedSymbolModel> byte_models;  // `number` models of 256 symbols
};

#endif  // MORROWTIDE_COMPRESSOR_ITEM_WRITERS_V2_H
