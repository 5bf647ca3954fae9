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
// - a context's models and coders are made at its first seeding, each through
//   the encoder of the layer it codes into, and live until the writer goes:
//   models in OwnedSymbolModel, coders in std::optional, so nothing is released
//   by hand and every model goes through the encoder that made it;
// - a layer that cannot grow, or would grow past 4 GiB, fails the chunk:
//   writeLayerSizes and writeLayerBytes then return false and write nothing.
#ifndef MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H
#define MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/gps_time_coding.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/quodax_format.h"
#include "morrowtide/compressor/rolling_median5.h"

namespace morrowtide {

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
// The layers are declared here, in the base, so that they outlive the contexts
// of the derived writers, whose models and coders are released through them.
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
  CodingLayers layers;
  const uint32_t num_layers;
  uint32_t current_context = 0;

 private:
  bool failed = false;  // a layer of this chunk could not hold its bytes
};

// What every channel context keeps besides its models, coders and reference.
struct ChannelContextState {
  bool unprepared = true;  // not seeded yet in the current chunk
  bool created = false;    // its models and coders exist (from its first seeding on)
};

}  // namespace morrowtide

// One channel context of the point writer. The models and coders are made at
// the context's first seeding, except those chosen by a reference value, which
// are made at their first use; layer k is the layer a model or coder codes into.
struct ChannelContext_POINT14 : morrowtide::ChannelContextState {
  uint8_t last_item[quodax_format::kSizePoint14] = {};  // the last point's record
  uint8_t last_gps_changed = 0;  // whether its time differed from its reference
  uint16_t last_intensity[8] = {};
  RollingMedian5 x_medians[12];
  RollingMedian5 y_medians[12];
  int32_t last_z[8] = {};
  morrowtide::OwnedSymbolModel changed_values_models[8];      // 128 symbols, layer 0
  morrowtide::OwnedSymbolModel channel_model;                 // 3 symbols, layer 0
  morrowtide::OwnedSymbolModel number_of_returns_models[16];  // 16 symbols, layer 0, by reference n
  morrowtide::OwnedSymbolModel return_number_same_time_model;  // 13 symbols, layer 0
  morrowtide::OwnedSymbolModel return_number_models[16];  // 16 symbols, layer 0, by reference r
  // The coders live in the context (no pointer to follow per point).
  std::optional<IntegerResidualCoder> dx_coder;            // layer 0
  std::optional<IntegerResidualCoder> dy_coder;            // layer 0
  std::optional<IntegerResidualCoder> z_coder;             // layer 1
  morrowtide::OwnedSymbolModel classification_models[64];  // 256 symbols, layer 2
  morrowtide::OwnedSymbolModel flags_models[64];           // 64 symbols, layer 3
  morrowtide::OwnedSymbolModel user_data_models[64];       // 256 symbols, layer 6
  std::optional<IntegerResidualCoder> intensity_coder;     // layer 4
  std::optional<IntegerResidualCoder> scan_angle_coder;    // layer 5
  std::optional<IntegerResidualCoder> point_source_coder;  // layer 7
  morrowtide::GpsTimeSequences gps_sequences;
  morrowtide::OwnedSymbolModel gps_multiplier_model;  // layer 8
  morrowtide::OwnedSymbolModel gps_zero_diff_model;   // layer 8
  std::optional<IntegerResidualCoder> gps_coder;      // layer 8
};

namespace morrowtide {

// The LAS 1.4 point in nine layers: 0 changed-values symbol, channel, returns, X
// and Y; 1 Z; 2 classification; 3 flags; 4 intensity; 5 scan angle; 6 user data;
// 7 point source ID; 8 GPS time. Layers 2 to 8 are written only when some point
// of the chunk changed their field. `version4` decides the context word.
class LayeredPoint14Writer : public LayeredItemWriter {
 public:
  // `main_encoder` (not owned; must outlive the writer): only its stream is used,
  // as the destination of the layer sizes and bytes.
  LayeredPoint14Writer(EntropyEncoder* main_encoder, bool version4);
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
  struct Point;  // one point's record, its reference and their return fields

  void prepareChannel(uint32_t channel, const uint8_t* seed_record);
  void createModels(ChannelContext_POINT14& ctx);
  // The steps of writeItem, in their order.
  inline Point referencePoint(const uint8_t* record, uint32_t channel) const;
  static inline uint32_t changedValues(const Point& pt, bool switched);
  inline void codeChangedValues(const ChannelContext_POINT14& old, uint32_t symbol);
  inline void switchChannel(ChannelContext_POINT14& old, uint32_t channel, uint32_t& context);
  inline void codeReturns(ChannelContext_POINT14& ctx, const Point& pt, uint32_t symbol);
  inline void codeCoordinates(ChannelContext_POINT14& ctx, const Point& pt);
  inline void codeClassAndFlags(ChannelContext_POINT14& ctx, const Point& pt);
  inline void codeIntensity(ChannelContext_POINT14& ctx, const Point& pt);
  inline void codeScanAngle(ChannelContext_POINT14& ctx, const Point& pt);
  inline void codeUserData(ChannelContext_POINT14& ctx, const Point& pt);
  inline void codePointSource(ChannelContext_POINT14& ctx, const Point& pt);
  void codeGpsTime(ChannelContext_POINT14& ctx, const Point& pt);

  uint8_t changed[kLayers] = {};  // layers 2 to 8: some point changed the field
  ChannelContext_POINT14 contexts[4];
};

}  // namespace morrowtide

class LASwriteItemCompressed_POINT14_v3 final : public morrowtide::LayeredPoint14Writer {
 public:
  explicit LASwriteItemCompressed_POINT14_v3(EntropyEncoder* main_encoder)
      : LayeredPoint14Writer(main_encoder, false) {}
};

class LASwriteItemCompressed_POINT14_v4 final : public morrowtide::LayeredPoint14Writer {
 public:
  explicit LASwriteItemCompressed_POINT14_v4(EntropyEncoder* main_encoder)
      : LayeredPoint14Writer(main_encoder, true) {}
};

namespace morrowtide {

// What the writers after the point writer in a record share (colour, wave
// packet, extra bytes): they code in the channel context that the low two bits
// of the record's context word name (read, never written), seed a context at
// its first use in a chunk from the reference in use, and write every layer
// whose changed flag some record of the chunk set. Without layers (extra bytes
// of size 0) they write nothing.
template <class Context>
class LayeredChannelWriter : public LayeredItemWriter {
 public:
  // Starts a chunk with its first record (already written raw), seeding the
  // context that `context` names. Always true.
  bool startChunk(const uint8_t* item, uint32_t& context) final;
  // Ends every layer and writes one size per layer. False, writing nothing,
  // when a layer failed to grow; false when the output stream fails a write.
  bool writeLayerSizes() final;
  // Writes the bytes of the announced layers. False as writeLayerSizes.
  bool writeLayerBytes() final;

 protected:
  LayeredChannelWriter(EntropyEncoder* main_encoder, uint32_t num_layers, bool version4)
      : LayeredItemWriter(main_encoder, num_layers, version4), changed(num_layers, 0) {}
  // Seeds context c for the chunk from the record at `item`: makes its models
  // at its first seeding, resets them and takes the item as its reference.
  virtual void seedFromItem(uint32_t c, const uint8_t* item) = 0;
  // The same from the reference of context `from`.
  virtual void seedFromContext(uint32_t c, uint32_t from) = 0;
  // Makes the word's context current and returns the context whose reference
  // the record is coded against (and then replaces): after a switch to a
  // context used earlier in the chunk, version 3 keeps the reference of the
  // context left, version 4 takes the new context's own.
  uint32_t selectContext(uint32_t word) {
    const uint32_t o = current_context;
    const uint32_t n = word & 3;
    if (n == o) return o;
    current_context = n;
    if (contexts[n].unprepared) {
      seedFromContext(n, o);
      return n;
    }
    return version4 ? n : o;
  }

  std::vector<uint8_t> changed;  // one per layer: some record changed it
  Context contexts[4];
};

}  // namespace morrowtide

// The colour item (R, G, B as U16) and, with `nir`, the near infrared U16 after
// it: an RGB layer coded with the colour difference coding and a NIR layer.
struct ChannelContext_RGBNIR14 : morrowtide::ChannelContextState {
  uint16_t last_item[4] = {};
  morrowtide::OwnedSymbolModel byte_used;      // 128 symbols, RGB layer
  morrowtide::OwnedSymbolModel rgb_diff[6];    // 256 symbols each, RGB layer
  morrowtide::OwnedSymbolModel nir_byte_used;  // 4 symbols, NIR layer (NIR only)
  morrowtide::OwnedSymbolModel nir_diff[2];    // 256 symbols each, NIR layer (NIR only)
};
using ChannelContext_RGB14 = ChannelContext_RGBNIR14;

namespace morrowtide {

class LayeredColourWriter : public LayeredChannelWriter<ChannelContext_RGBNIR14> {
 public:
  // `main_encoder` as for the point writer; `version4` selects the reference rule.
  LayeredColourWriter(EntropyEncoder* main_encoder, bool nir, bool version4);
  // Codes one record in the context named by the low two bits of `context`
  // (read, never written). Always true.
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  void seedFromItem(uint32_t c, const uint8_t* item) override;
  void seedFromContext(uint32_t c, uint32_t from) override;
  void prepareChannel(uint32_t c, const uint16_t* seed);
  const bool nir;
};

}  // namespace morrowtide

class LASwriteItemCompressed_RGB14_v3 final : public morrowtide::LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v3(EntropyEncoder* e)
      : LayeredColourWriter(e, false, false) {}
};
class LASwriteItemCompressed_RGB14_v4 final : public morrowtide::LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGB14_v4(EntropyEncoder* e)
      : LayeredColourWriter(e, false, true) {}
};
class LASwriteItemCompressed_RGBNIR14_v3 final : public morrowtide::LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v3(EntropyEncoder* e)
      : LayeredColourWriter(e, true, false) {}
};
class LASwriteItemCompressed_RGBNIR14_v4 final : public morrowtide::LayeredColourWriter {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v4(EntropyEncoder* e)
      : LayeredColourWriter(e, true, true) {}
};

// The 29-byte wave packet in one layer, coded with the wave packet coding.
struct ChannelContext_WAVEPACKET14 : morrowtide::ChannelContextState {
  uint8_t last_item[quodax_format::kSizeWavePacket14] = {};
  int32_t last_offset_diff = 0;
  uint32_t last_offset_symbol = 0;
  morrowtide::OwnedSymbolModel packet_index;      // 256 symbols
  morrowtide::OwnedSymbolModel offset_symbol[4];  // 4 symbols each
  std::optional<IntegerResidualCoder> ic_offset_diff;
  std::optional<IntegerResidualCoder> ic_packet_size;
  std::optional<IntegerResidualCoder> ic_return_point;
  std::optional<IntegerResidualCoder> ic_xyz;
};

namespace morrowtide {

// The operations behave as the colour writer's; one size per chunk.
class LayeredWavePacketWriter : public LayeredChannelWriter<ChannelContext_WAVEPACKET14> {
 public:
  LayeredWavePacketWriter(EntropyEncoder* main_encoder, bool version4);
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  void seedFromItem(uint32_t c, const uint8_t* item) override;
  void seedFromContext(uint32_t c, uint32_t from) override;
  void prepareChannel(uint32_t c, const uint8_t* seed);
};

}  // namespace morrowtide

class LASwriteItemCompressed_WAVEPACKET14_v3 final : public morrowtide::LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v3(EntropyEncoder* e)
      : LayeredWavePacketWriter(e, false) {}
};
class LASwriteItemCompressed_WAVEPACKET14_v4 final : public morrowtide::LayeredWavePacketWriter {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v4(EntropyEncoder* e)
      : LayeredWavePacketWriter(e, true) {}
};

// `number` extra bytes, one layer per byte, each coded as its difference to the
// reference's byte. With `number` 0 the writer has no layer and writes nothing.
struct ChannelContext_BYTE14 : morrowtide::ChannelContextState {
  std::vector<uint8_t> last_bytes;                        // `number` bytes once created
  std::vector<morrowtide::OwnedSymbolModel> byte_models;  // 256 symbols each; byte i in layer i
};

namespace morrowtide {

// The operations behave as the colour writer's; `number` sizes per chunk.
class LayeredByteWriter : public LayeredChannelWriter<ChannelContext_BYTE14> {
 public:
  LayeredByteWriter(EntropyEncoder* main_encoder, uint32_t number, bool version4);
  bool writeItem(const uint8_t* item, uint32_t& context) override;

 private:
  void seedFromItem(uint32_t c, const uint8_t* item) override;
  void seedFromContext(uint32_t c, uint32_t from) override;
  void prepareChannel(uint32_t c, const uint8_t* seed);
  const uint32_t number;
};

}  // namespace morrowtide

class LASwriteItemCompressed_BYTE14_v3 final : public morrowtide::LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v3(EntropyEncoder* e, uint32_t number)
      : LayeredByteWriter(e, number, false) {}
};
class LASwriteItemCompressed_BYTE14_v4 final : public morrowtide::LayeredByteWriter {
 public:
  LASwriteItemCompressed_BYTE14_v4(EntropyEncoder* e, uint32_t number)
      : LayeredByteWriter(e, number, true) {}
};

#endif  // MORROWTIDE_COMPRESSOR_ITEM_WRITERS_LAYERED_H
