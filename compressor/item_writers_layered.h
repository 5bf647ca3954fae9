// The layered item writers of versions 3 and 4 for the items of LAS 1.4 points
// (formats 6 to 10): the point, the colour with or without near infrared, the
// wave packet and the extra bytes. Each writer codes a chunk into layers of its
// own (an in-memory stream with its own encoder per field group) and, when the
// chunk ends, hands the record writer first the layers' U32 sizes and then their
// bytes; a layer that nothing in the chunk changed is announced as 0 and left out.
//
// Read this first:
// - every writer keeps four channel contexts (models, coders, reference), one per
//   scanner channel; the point writer stores the channel in the record's context
//   word and the writers after it read the word's low two bits;
// - versions 3 and 4 share one core per item: the point writers differ only in
//   the context word they store, the others only in the reference they code
//   against after switching to a context already used in the chunk;
// - the point writer reads the point through the 30-byte record that the raw
//   writer stores, so a compressed file decodes to the records an uncompressed
//   one holds, whatever the point's legacy and LAS 1.4 copies of a field say;
// - a layer that cannot grow, or would grow past 4 GiB, fails the chunk:
//   writeLayerSizes and writeLayerBytes then return false and write nothing.
#ifndef MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H
#define MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/rolling_median5.h"

// An in-memory layer stream whose size must fit the U32 that announces it. A
// write that would take it past `limit` bytes, or whose growth fails, writes
// nothing, returns false and marks the stream failed until the next rewind.
class LayerStreamOut final : public ByteStreamOutArray {
 public:
  static constexpr uint64_t kMaxLayerBytes = 0xFFFFFFFFu;
  explicit LayerStreamOut(uint64_t limit = kMaxLayerBytes) : limit(limit) {}
  bool writeByte(uint32_t byte) override {
    return noteResult(fits(1) && ByteStreamOutArray::writeByte(byte));
  }
  bool writeBytes(const uint8_t* bytes, uint32_t num) override {
    return noteResult(fits(num) && ByteStreamOutArray::writeBytes(bytes, num));
  }
  // Back to position 0, keeping the buffer; clears the failure.
  void rewind() {
    seekTo(0);
    write_failed = false;
  }
  bool failed() const { return write_failed; }

 private:
  bool fits(uint32_t num) const { return num <= limit - static_cast<uint64_t>(position()); }
  bool noteResult(bool ok) {
    if (!ok) write_failed = true;
    return ok;
  }
  uint64_t limit;
  bool write_failed = false;
};

// The layers of one writer, created at the first chunk and rewound for every
// later one: layer i is a stream and the encoder that codes into it.
class CodingLayers final {
 public:
  explicit CodingLayers(uint32_t count) : count(count) {}
  // Creates the layers on the first call, else rewinds them; starts every encoder.
  void startChunk();
  EntropyEncoder* encoder(uint32_t i) { return &layers[i].encoder; }
  // Flushes layer i's coded bytes into its stream.
  void finish(uint32_t i) { layers[i].encoder.finish(); }
  // Whether every write into layer i succeeded since the chunk started.
  bool sound(uint32_t i) const { return !layers[i].stream.failed(); }
  // Writes layer i's byte count, or 0 when `used` is false, as a U32 to `out`.
  bool writeSize(ByteStreamOut* out, uint32_t i, bool used) const;
  // Writes layer i's bytes to `out` when `used` is true.
  bool writeBytes(ByteStreamOut* out, uint32_t i, bool used) const;

 private:
  struct Layer {
    LayerStreamOut stream;
    EntropyEncoder encoder;
  };
  uint32_t count;
  std::unique_ptr<Layer[]> layers;  // `count` layers from the first chunk on
};

// What every layered writer shares: the record writer's encoder (whose stream
// receives the sizes and bytes), the layers, the channel in use and the version.
class LayeredItemWriter : public LASwriteItemCompressed {
 protected:
  // `main_encoder` (not owned; must outlive the writer): only its stream is used.
  LayeredItemWriter(EntropyEncoder* main_encoder, uint32_t num_layers, bool version4)
      : main_encoder(main_encoder),
        version4(version4),
        layers(num_layers),
        num_layers(num_layers) {}
  // Writes one U32 size per layer: its byte count when used[i], else 0. False,
  // writing nothing, when a used layer failed to grow or there is no output
  // stream; false when a write fails. Requires: the used layers are finished.
  bool writeSizes(const uint8_t* used);
  // Writes the bytes of every used layer; false after a failed writeSizes or
  // when a write fails.
  bool writeBytes(const uint8_t* used);

  EntropyEncoder* main_encoder;  // not owned
  const bool version4;
  CodingLayers layers;  // in the base, so it outlives the contexts whose coders use it
  uint32_t current_context = 0;

 private:
  const uint32_t num_layers;
  bool failed = false;  // a layer of this chunk could not hold its bytes
};

// One channel context of the point writer. Models and coders are made at the
// context's first seeding; the arrays indexed by a reference value fill lazily.
struct ChannelContext_POINT14 {
  ChannelContext_POINT14() = default;
  ChannelContext_POINT14(const ChannelContext_POINT14&) = delete;
  ChannelContext_POINT14& operator=(const ChannelContext_POINT14&) = delete;

  bool unprepared = true;
  uint8_t last_item[30] = {};    // the last point's 30-byte record
  uint8_t last_gps_changed = 0;  // whether its time differed from its reference
  uint16_t last_intensity[8] = {};
  RollingMedian5 x_medians[12];
  RollingMedian5 y_medians[12];
  int32_t last_z[8] = {};
  bool created = false;                                          // models and coders exist
  AdaptiveSymbolModel* changed_values_models[8] = {};            // owned, 128 symbols
  AdaptiveSymbolModel* channel_model = nullptr;                  // owned, 3 symbols
  PerByteModels number_of_returns_models;                        // 16 symbols, by reference n
  AdaptiveSymbolModel* return_number_same_time_model = nullptr;  // owned, 13 symbols
  PerByteModels return_number_models;                            // 16 symbols, by reference r
  // The coders live in the context (no pointer to follow per point), made at its
  // first seeding.
  std::optional<IntegerResidualCoder> dx_coder;            // layer 0
  std::optional<IntegerResidualCoder> dy_coder;            // layer 0
  std::optional<IntegerResidualCoder> z_coder;             // layer 1
  PerByteModels classification_models;                     // 256 symbols, layer 2
  PerByteModels flags_models;                              // 64 symbols, layer 3
  PerByteModels user_data_models;                          // 256 symbols, layer 6
  std::optional<IntegerResidualCoder> intensity_coder;     // layer 4
  std::optional<IntegerResidualCoder> scan_angle_coder;    // layer 5
  std::optional<IntegerResidualCoder> point_source_coder;  // layer 7
  uint32_t gps_last = 0;
  uint32_t gps_next = 0;
  uint64_t gps_times[4] = {};  // bit patterns of the F64 times
  int32_t gps_diffs[4] = {};
  int32_t gps_extreme_counters[4] = {};
  AdaptiveSymbolModel* gps_multiplier_model = nullptr;  // owned, 515 symbols
  AdaptiveSymbolModel* gps_zero_diff_model = nullptr;   // owned, 5 symbols
  std::optional<IntegerResidualCoder> gps_coder;        // layer 8
};

// The LAS 1.4 point in nine layers: 0 changed-values symbol, channel, returns, X
// and Y; 1 Z; 2 classification; 3 flags; 4 intensity; 5 scan angle; 6 user data;
// 7 point source ID; 8 GPS time. Layers 2 to 8 are written only when some point
// of the chunk changed their field. `version4` decides the context word.
class LayeredPoint14Writer : public LayeredItemWriter {
 public:
  // `main_encoder` (not owned; must outlive the writer): only its stream is used,
  // as the destination of the layer sizes and bytes.
  LayeredPoint14Writer(EntropyEncoder* main_encoder, bool version4);
  ~LayeredPoint14Writer() override;
  // Codes one point that is not the first of its chunk; stores the channel in
  // `context` on a switch (version 4: always). Always true.
  bool writeItem(const uint8_t* item, uint32_t& context) override;
  // Starts a chunk with its first point (already written raw); stores its channel
  // in `context`. Always true.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // Ends the layers and writes their nine sizes. False, writing nothing, when a
  // layer failed to grow; false when the output stream fails a write.
  bool writeLayerSizes() override;
  // Writes the bytes of the announced layers. False as writeLayerSizes.
  bool writeLayerBytes() override;

 private:
  static constexpr uint32_t kLayers = 9;
  enum Layer : uint32_t {
    kLayerXY,
    kLayerZ,
    kLayerClass,
    kLayerFlags,
    kLayerIntensity,
    kLayerScanAngle,
    kLayerUserData,
    kLayerPointSource,
    kLayerGpsTime
  };
  void prepareChannel(uint32_t channel, const uint8_t* seed_record);
  void createModels(ChannelContext_POINT14& ctx);
  void releaseModels(ChannelContext_POINT14& ctx);
  void encodeGpsTime(ChannelContext_POINT14& ctx, uint64_t time_bits);

  uint8_t changed[kLayers] = {};  // layers 2 to 8: some point changed the field
  ChannelContext_POINT14 contexts[4];
};

class LASwriteItemCompressed_POINT14_v3 final : public LayeredPoint14Writer {
 public:
  explicit LASwriteItemCompressed_POINT14_v3(EntropyEncoder* main_encoder)
      : LayeredPoint14Writer(main_encoder, false) {}
};

class LASwriteItemCompressed_POINT14_v4 final : public LayeredPoint14Writer {
 public:
  explicit LASwriteItemCompressed_POINT14_v4(EntropyEncoder* main_encoder)
      : LayeredPoint14Writer(main_encoder, true) {}
};

// The colour item (R, G, B as U16) and, with `nir`, the near infrared U16 after
// it: an RGB layer coded with the colour difference coding and a NIR layer.
struct ChannelContext_RGBNIR14 {
  ChannelContext_RGBNIR14() = default;
  ChannelContext_RGBNIR14(const ChannelContext_RGBNIR14&) = delete;
  ChannelContext_RGBNIR14& operator=(const ChannelContext_RGBNIR14&) = delete;
  bool unprepared = true;
  uint16_t last_item[4] = {};
  AdaptiveSymbolModel* byte_used = nullptr;      // owned, 128 symbols; null: no models yet
  AdaptiveSymbolModel* rgb_diff[6] = {};         // owned, 256 symbols each
  AdaptiveSymbolModel* nir_byte_used = nullptr;  // owned, 4 symbols (NIR only)
  AdaptiveSymbolModel* nir_diff[2] = {};         // owned, 256 symbols each (NIR only)
};
using ChannelContext_RGB14 = ChannelContext_RGBNIR14;

class LayeredColourWriter : public LayeredItemWriter {
 public:
  // `main_encoder` as for the point writer; `version4` selects the reference rule.
  LayeredColourWriter(EntropyEncoder* main_encoder, bool nir, bool version4);
  ~LayeredColourWriter() override;
  // Codes one record in the context named by the low two bits of `context`
  // (read, never written). Always true.
  bool writeItem(const uint8_t* item, uint32_t& context) override;
  // Starts a chunk with its first record, seeding the context `context` names.
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // One size per layer (RGB, then NIR). False as for the point writer.
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;

 private:
  void prepareChannel(uint32_t c, const uint16_t* seed);
  const bool nir;
  uint8_t changed[2] = {};  // RGB, NIR: some record changed the layer's bytes
  ChannelContext_RGBNIR14 contexts[4];
};

class LASwriteItemCompressed_RGB14_v3 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v3(EntropyEncoder* e)
      : LayeredColourWriter(e, false, false) {}
};
class LASwriteItemCompressed_RGB14_v4 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v4(EntropyEncoder* e)
      : LayeredColourWriter(e, false, true) {}
};
class LASwriteItemCompressed_RGBNIR14_v3 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v3(EntropyEncoder* e)
      : LayeredColourWriter(e, true, false) {}
};
class LASwriteItemCompressed_RGBNIR14_v4 final : public LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v4(EntropyEncoder* e)
      : LayeredColourWriter(e, true, true) {}
};

// The 29-byte wave packet in one layer, coded with the wave packet coding.
struct ChannelContext_WAVEPACKET14 {
  ChannelContext_WAVEPACKET14() = default;
  ChannelContext_WAVEPACKET14(const ChannelContext_WAVEPACKET14&) = delete;
  ChannelContext_WAVEPACKET14& operator=(const ChannelContext_WAVEPACKET14&) = delete;
  bool unprepared = true;
  uint8_t last_item[29] = {};
  int32_t last_offset_diff = 0;
  uint32_t last_offset_symbol = 0;
  AdaptiveSymbolModel* packet_index = nullptr;  // owned, 256 symbols; null: no models yet
  AdaptiveSymbolModel* offset_symbol[4] = {};   // owned, 4 symbols each
  std::unique_ptr<IntegerResidualCoder> ic_offset_diff;
  std::unique_ptr<IntegerResidualCoder> ic_packet_size;
  std::unique_ptr<IntegerResidualCoder> ic_return_point;
  std::unique_ptr<IntegerResidualCoder> ic_xyz;
};

// The operations behave as the colour writer's; one size per chunk.
class LayeredWavePacketWriter : public LayeredItemWriter {
 public:
  LayeredWavePacketWriter(EntropyEncoder* main_encoder, bool version4);
  ~LayeredWavePacketWriter() override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;

 private:
  void prepareChannel(uint32_t c, const uint8_t* seed);
  uint8_t changed_wavepacket = 0;
  ChannelContext_WAVEPACKET14 contexts[4];
};

class LASwriteItemCompressed_WAVEPACKET14_v3 final : public LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v3(EntropyEncoder* e)
      : LayeredWavePacketWriter(e, false) {}
};
class LASwriteItemCompressed_WAVEPACKET14_v4 final : public LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v4(EntropyEncoder* e)
      : LayeredWavePacketWriter(e, true) {}
};

// `number` extra bytes, one layer per byte, each coded as its difference to the
// reference's byte. With `number` 0 the writer has no layer and writes nothing.
struct ChannelContext_BYTE14 {
  ChannelContext_BYTE14() = default;
  ChannelContext_BYTE14(const ChannelContext_BYTE14&) = delete;
  ChannelContext_BYTE14& operator=(const ChannelContext_BYTE14&) = delete;
  bool unprepared = true;
  std::vector<uint8_t> last_bytes;                // `number` bytes once prepared
  std::vector<AdaptiveSymbolModel*> byte_models;  // owned, 256 symbols each; empty: no models yet
};

// The operations behave as the colour writer's; `number` sizes per chunk.
class LayeredByteWriter : public LayeredItemWriter {
 public:
  LayeredByteWriter(EntropyEncoder* main_encoder, uint32_t number, bool version4);
  ~LayeredByteWriter() override;
  bool writeItem(const uint8_t* item, uint32_t& context) override;
  bool startChunk(const uint8_t* item, uint32_t& context) override;
  // `number` sizes, in byte order. False as for the point writer.
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;

 private:
  void prepareChannel(uint32_t c, const uint8_t* seed);
  const uint32_t number;
  std::vector<uint8_t> changed_bytes;
  ChannelContext_BYTE14 contexts[4];
};

class LASwriteItemCompressed_BYTE14_v3 final : public LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v3(EntropyEncoder* e, uint32_t number)
      : LayeredByteWriter(e, number, false) {}
};
class LASwriteItemCompressed_BYTE14_v4 final : public LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v4(EntropyEncoder* e, uint32_t number)
      : LayeredByteWriter(e, number, true) {}
};

#endif  // MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H
