// The layered writers of the LAS 1.4 items: the layers, the channel contexts,
// the point coding (changed-values symbol, returns, X/Y/Z by medians and height
// levels, per-field layers, GPS time sequences), the colour, wave packet and
// extra-bytes coding per context, and the end-of-chunk sizes and bytes.
#include "morrowtide/compressor/item_writers_layered.h"

#include <algorithm>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/coordinate_contexts.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/point_field_coding.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/rgb_difference_coding.h"
#include "morrowtide/compressor/wave_packet_coding.h"

namespace morrowtide {

// --- CodingLayers ---

void CodingLayers::startChunk() {
  if (layers == nullptr) {
    layers = std::make_unique<Layer[]>(count);
  } else {
    for (uint32_t i = 0; i < count; ++i) layers[i].stream.rewind();
  }
  for (uint32_t i = 0; i < count; ++i) layers[i].encoder.start(&layers[i].stream);
}

bool CodingLayers::writeSize(ByteStreamOut* out, uint32_t i, bool used) const {
  return detail::writeU32LE(out, used ? layers[i].stream.byteCount() : 0);
}

bool CodingLayers::writeBytes(ByteStreamOut* out, uint32_t i, bool used) const {
  if (!used) return true;
  const LayerStreamOut& s = layers[i].stream;
  return out->writeBytes(s.data(), s.byteCount());
}

// --- LayeredItemWriter ---

bool LayeredItemWriter::writeSizes(const uint8_t* used) {
  ByteStreamOut* const out = main_encoder->getByteStreamOut();
  failed = out == nullptr;
  for (uint32_t i = 0; i < num_layers; ++i) {
    if (used[i] && !layers.sound(i)) failed = true;
  }
  if (failed) return false;
  // The first refused write ends it: a later size would land where it belonged.
  for (uint32_t i = 0; i < num_layers; ++i) {
    if (!layers.writeSize(out, i, used[i] != 0)) return false;
  }
  return true;
}

bool LayeredItemWriter::writeBytes(const uint8_t* used) {
  ByteStreamOut* const out = main_encoder->getByteStreamOut();
  if (failed || out == nullptr) return false;
  for (uint32_t i = 0; i < num_layers; ++i) {
    if (!layers.writeBytes(out, i, used[i] != 0)) return false;
  }
  return true;
}

namespace {

namespace p14 = quodax_format::point14;

// The return and flag fields of a 30-byte record.
inline uint32_t recordReturnNumber(const uint8_t* r) { return r[p14::kReturns] & 0x0F; }
inline uint32_t recordNumberOfReturns(const uint8_t* r) { return r[p14::kReturns] >> 4; }
inline uint32_t recordChannel(const uint8_t* r) { return (r[p14::kFlags] >> 4) & 0x03; }
// The four class flags, then scan direction (16) and edge of flight line (32).
inline uint32_t recordFlags(const uint8_t* r) {
  return (r[p14::kFlags] & 0x0Fu) | ((r[p14::kFlags] >> 2) & 0x30u);
}

// Median selector by number of returns (row) and return number (column).
constexpr uint8_t kMedianSelector[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},  // n = 0
    {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},  // n = 1
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},  // n = 2
    {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},  // n = 3
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},  // n = 4
    {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},  // n = 5
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},  // n = 6
    {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},  // n = 7
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},  // n = 8
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},  // n = 9
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},  // n = 10
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},  // n = 11
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},  // n = 12
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},  // n = 13
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},  // n = 14
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},  // n = 15
};

// Changed-values bits.
constexpr uint32_t kChangedChannel = 1u << 6;
constexpr uint32_t kChangedPointSource = 1u << 5;
constexpr uint32_t kChangedGpsTime = 1u << 4;
constexpr uint32_t kChangedScanAngle = 1u << 3;
constexpr uint32_t kChangedNumberOfReturns = 1u << 2;
// Bits 0-1: the return number against the reference's.
constexpr uint32_t kReturnSame = 0;
constexpr uint32_t kReturnNext = 1;      // one more, modulo 16
constexpr uint32_t kReturnPrevious = 2;  // one less, modulo 16
constexpr uint32_t kReturnOther = 3;

// The scan angle coder; the other shapes are shared with version 2
// (coordinate_contexts.h, gps_time_coding.h, point_field_coding.h).
constexpr ResidualCoderShape kScanAngleCoderShape{16, 2};

// This coder codes only times that changed: no symbols for an unchanged time.
constexpr bool kUnchangedTimeSymbols = false;
using GpsSymbols = GpsSequenceSymbols<kUnchangedTimeSymbols>;

// Whether a time differs from its reference: unequal as F64 values, or equal but
// with other bits (+0.0 against -0.0), so the sign of a zero is kept.
inline bool gpsTimeChanged(const uint8_t* a, const uint8_t* b) {
  return getU64LE(a) != getU64LE(b) || getF64LE(a) != getF64LE(b);
}

}  // namespace

// --- LayeredPoint14Writer ---

// One point's record, the record it is coded against, and their return fields.
struct LayeredPoint14Writer::Point {
  const uint8_t* record;
  const uint8_t* reference;
  uint32_t n;            // number of returns
  uint32_t r;            // return number
  uint32_t reference_n;  // the reference's
  uint32_t reference_r;
  uint32_t gps_changed;  // 1 when the time differs from the reference's
  uint32_t return_kind;  // 3: single return; 2: first of several; 1: a later last; 0: other
};

LayeredPoint14Writer::LayeredPoint14Writer(EntropyEncoder* main_encoder, bool version4)
    : LayeredItemWriter(main_encoder, kLayers, version4) {}

void LayeredPoint14Writer::createModels(ChannelContext_POINT14& ctx) {
  EntropyEncoder* const e0 = layers.encoder(kLayerXY);
  for (OwnedSymbolModel& m : ctx.changed_values_models) m.make(e0, 128);
  ctx.channel_model.make(e0, 3);
  ctx.return_number_same_time_model.make(e0, 13);
  ctx.dx_coder.emplace(e0, kDxCoderShape);
  ctx.dy_coder.emplace(e0, kDyCoderShape);
  ctx.z_coder.emplace(layers.encoder(kLayerZ), kZCoderShape);
  ctx.intensity_coder.emplace(layers.encoder(kLayerIntensity), kIntensityCoderShape);
  ctx.scan_angle_coder.emplace(layers.encoder(kLayerScanAngle), kScanAngleCoderShape);
  ctx.point_source_coder.emplace(layers.encoder(kLayerPointSource), kPointSourceCoderShape);
  EntropyEncoder* const e8 = layers.encoder(kLayerGpsTime);
  ctx.gps_multiplier_model.make(e8, GpsSymbols::kMultiplierSymbols);
  ctx.gps_zero_diff_model.make(e8, GpsSymbols::kZeroDiffSymbols);
  ctx.gps_coder.emplace(e8, kGpsCoderShape);
  ctx.created = true;
}

void LayeredPoint14Writer::prepareChannel(uint32_t channel_index, const uint8_t* seed) {
  ChannelContext_POINT14& ctx = contexts[channel_index];
  if (!ctx.created) createModels(ctx);
  for (OwnedSymbolModel& m : ctx.changed_values_models) m.reset();
  ctx.channel_model.reset();
  for (OwnedSymbolModel& m : ctx.number_of_returns_models) m.reset();
  for (OwnedSymbolModel& m : ctx.return_number_models) m.reset();
  ctx.return_number_same_time_model.reset();
  ctx.dx_coder->startEncoding();
  ctx.dy_coder->startEncoding();
  for (RollingMedian5& m : ctx.x_medians) m.reset();
  for (RollingMedian5& m : ctx.y_medians) m.reset();
  ctx.z_coder->startEncoding();
  const int32_t z = getI32LE(seed + p14::kZ);
  for (int32_t& v : ctx.last_z) v = z;
  for (OwnedSymbolModel& m : ctx.classification_models) m.reset();
  for (OwnedSymbolModel& m : ctx.flags_models) m.reset();
  for (OwnedSymbolModel& m : ctx.user_data_models) m.reset();
  ctx.intensity_coder->startEncoding();
  const uint16_t intensity = getU16LE(seed + p14::kIntensity);
  for (uint16_t& v : ctx.last_intensity) v = intensity;
  ctx.scan_angle_coder->startEncoding();
  ctx.point_source_coder->startEncoding();
  ctx.gps_multiplier_model.reset();
  ctx.gps_zero_diff_model.reset();
  ctx.gps_coder->startEncoding();
  ctx.gps_sequences.start(getU64LE(seed + p14::kGpsTime));
  if (seed != ctx.last_item) std::memcpy(ctx.last_item, seed, quodax_format::kSizePoint14);
  ctx.last_gps_changed = 0;
  ctx.unprepared = false;
}

bool LayeredPoint14Writer::startChunk(const uint8_t* item, uint32_t& context) {
  layers.startChunk();
  for (uint8_t& c : changed) c = 0;
  for (ChannelContext_POINT14& ctx : contexts) ctx.unprepared = true;
  uint8_t record[quodax_format::kSizePoint14];
  point_fields::buildPoint14Record(item, record);
  current_context = recordChannel(record);
  context = current_context;
  prepareChannel(current_context, record);
  return true;
}

// The reference: the current context's last point, or after a switch to a
// context already seeded in this chunk, that context's own last point (one not
// yet seeded is seeded from the current one's, so the two agree). Read in
// place: a context's last point changes only at the end of writeItem.
[[gnu::always_inline]] inline LayeredPoint14Writer::Point LayeredPoint14Writer::referencePoint(
    const uint8_t* record, uint32_t c) const {
  const uint8_t* ref = contexts[current_context].last_item;
  if (c != current_context && !contexts[c].unprepared) ref = contexts[c].last_item;
  Point pt;
  pt.record = record;
  pt.reference = ref;
  pt.n = recordNumberOfReturns(record);
  pt.r = recordReturnNumber(record);
  pt.reference_n = recordNumberOfReturns(ref);
  pt.reference_r = recordReturnNumber(ref);
  pt.gps_changed = gpsTimeChanged(record + p14::kGpsTime, ref + p14::kGpsTime) ? 1 : 0;
  pt.return_kind = (pt.r >= pt.n ? 1 : 0) + (pt.r == 1 ? 2 : 0);
  return pt;
}

// The changed-values symbol: what differs from the reference.
[[gnu::always_inline]] inline uint32_t LayeredPoint14Writer::changedValues(const Point& pt,
                                                                           bool switched) {
  const uint8_t* const p = pt.record;
  const uint8_t* const ref = pt.reference;
  uint32_t symbol = 0;
  if (switched) symbol |= kChangedChannel;
  if (getU16LE(p + p14::kPointSource) != getU16LE(ref + p14::kPointSource))
    symbol |= kChangedPointSource;
  if (pt.gps_changed) symbol |= kChangedGpsTime;
  if (getU16LE(p + p14::kScanAngle) != getU16LE(ref + p14::kScanAngle)) symbol |= kChangedScanAngle;
  if (pt.n != pt.reference_n) symbol |= kChangedNumberOfReturns;
  const uint32_t rR = pt.reference_r;
  if (pt.r == rR) {
    symbol |= kReturnSame;
  } else if (pt.r == ((rR + 1) & 15)) {
    symbol |= kReturnNext;
  } else if (pt.r == ((rR + 15) & 15)) {
    symbol |= kReturnPrevious;
  } else {
    symbol |= kReturnOther;
  }
  return symbol;
}

// The changed-values symbol goes out with a model of the context being left,
// chosen by that context's last point.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeChangedValues(
    const ChannelContext_POINT14& old, uint32_t symbol) {
  const uint32_t pr = recordReturnNumber(old.last_item);
  const uint32_t pn = recordNumberOfReturns(old.last_item);
  layers.encoder(kLayerXY)->putSymbol(
      old.changed_values_models[(pr == 1 ? 1 : 0) + (pr >= pn ? 2 : 0) + 4 * old.last_gps_changed],
      symbol);
}

// A channel switch: its distance with the left context's model; a context
// not yet seeded in this chunk is seeded from the left one's last point.
[[gnu::always_inline]] inline void LayeredPoint14Writer::switchChannel(ChannelContext_POINT14& old,
                                                                       uint32_t c,
                                                                       uint32_t& context) {
  const int32_t d = static_cast<int32_t>(c) - static_cast<int32_t>(current_context);
  layers.encoder(kLayerXY)->putSymbol(old.channel_model,
                                      static_cast<uint32_t>(d > 0 ? d - 1 : d + 3));
  if (contexts[c].unprepared) prepareChannel(c, old.last_item);
  current_context = c;
  context = c;
}

// The number of returns when it changed; the return number when it is not
// within one of the reference's.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeReturns(ChannelContext_POINT14& ctx,
                                                                     const Point& pt,
                                                                     uint32_t symbol) {
  EntropyEncoder* const e0 = layers.encoder(kLayerXY);
  if (symbol & kChangedNumberOfReturns) {
    e0->putSymbol(ctx.number_of_returns_models[pt.reference_n].atFirstUse(e0, 16), pt.n);
  }
  if ((symbol & 3) == kReturnOther) {
    if (pt.gps_changed) {
      e0->putSymbol(ctx.return_number_models[pt.reference_r].atFirstUse(e0, 16), pt.r);
    } else {
      e0->putSymbol(ctx.return_number_same_time_model, (pt.r - pt.reference_r - 2) & 15);
    }
  }
}

// X and Y steps by running medians, Z by height level.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeCoordinates(
    ChannelContext_POINT14& ctx, const Point& pt) {
  const uint32_t i = 2 * kMedianSelector[pt.n][pt.r] + pt.gps_changed;
  const uint32_t l = std::min(pt.n > pt.r ? pt.n - pt.r : pt.r - pt.n, 7u);
  const uint32_t single = singleReturnContext(pt.n);
  const int32_t dx =
      wrappingDifference(getU32LE(pt.record + p14::kX), getU32LE(pt.reference + p14::kX));
  ctx.dx_coder->encode(ctx.x_medians[i].get(), dx, single);
  ctx.x_medians[i].add(dx);
  const uint32_t kx = ctx.dx_coder->lastClass();
  const int32_t dy =
      wrappingDifference(getU32LE(pt.record + p14::kY), getU32LE(pt.reference + p14::kY));
  ctx.dy_coder->encode(ctx.y_medians[i].get(), dy, yContext(single, kx));
  ctx.y_medians[i].add(dy);
  const uint32_t ky = ctx.dy_coder->lastClass();
  const int32_t z = getI32LE(pt.record + p14::kZ);
  ctx.z_coder->encode(ctx.last_z[l], z, zContext(single, kx + ky));
  ctx.last_z[l] = z;
}

// Classification and flags, coded for every point. The changed flags
// are or-ed in, not branched on: the fields vary point by point.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeClassAndFlags(
    ChannelContext_POINT14& ctx, const Point& pt) {
  const uint8_t cls = pt.record[p14::kClassification];
  const uint8_t cls_ref = pt.reference[p14::kClassification];
  changed[kLayerClass] |= cls != cls_ref;
  EntropyEncoder* const e2 = layers.encoder(kLayerClass);
  OwnedSymbolModel& cls_model =
      ctx.classification_models[2 * (cls_ref & 31u) + (pt.return_kind == 3 ? 1 : 0)];
  e2->putSymbol(cls_model.atFirstUse(e2, 256), cls);
  const uint32_t f = recordFlags(pt.record);
  const uint32_t f_ref = recordFlags(pt.reference);
  changed[kLayerFlags] |= f != f_ref;
  EntropyEncoder* const e3 = layers.encoder(kLayerFlags);
  e3->putSymbol(ctx.flags_models[f_ref].atFirstUse(e3, 64), f);
}

// Intensity, against the last one of the point's return kind and time change.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeIntensity(ChannelContext_POINT14& ctx,
                                                                       const Point& pt) {
  const uint16_t intensity = getU16LE(pt.record + p14::kIntensity);
  changed[kLayerIntensity] |= intensity != getU16LE(pt.reference + p14::kIntensity);
  const uint32_t j = 2 * pt.return_kind + pt.gps_changed;
  ctx.intensity_coder->encode(ctx.last_intensity[j], intensity, pt.return_kind);
  ctx.last_intensity[j] = intensity;
}

// The scan angle, only when it changed.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeScanAngle(ChannelContext_POINT14& ctx,
                                                                       const Point& pt) {
  changed[kLayerScanAngle] = 1;
  ctx.scan_angle_coder->encode(getI16LE(pt.reference + p14::kScanAngle),
                               getI16LE(pt.record + p14::kScanAngle), pt.gps_changed);
}

// User data, coded for every point, by a quarter of the reference's.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codeUserData(ChannelContext_POINT14& ctx,
                                                                      const Point& pt) {
  const uint8_t user_data = pt.record[p14::kUserData];
  const uint8_t user_data_ref = pt.reference[p14::kUserData];
  changed[kLayerUserData] |= user_data != user_data_ref;
  EntropyEncoder* const e6 = layers.encoder(kLayerUserData);
  e6->putSymbol(ctx.user_data_models[user_data_ref / 4].atFirstUse(e6, 256), user_data);
}

// The point source ID, only when it changed.
[[gnu::always_inline]] inline void LayeredPoint14Writer::codePointSource(
    ChannelContext_POINT14& ctx, const Point& pt) {
  changed[kLayerPointSource] = 1;
  ctx.point_source_coder->encode(getU16LE(pt.reference + p14::kPointSource),
                                 getU16LE(pt.record + p14::kPointSource), 0);
}

// The GPS time, only when it changed. Kept out of line: inlined, its
// sequence handling crowds the coordinate coding (point benchmark).
[[gnu::noinline]] void LayeredPoint14Writer::codeGpsTime(ChannelContext_POINT14& ctx,
                                                         const Point& pt) {
  changed[kLayerGpsTime] = 1;
  encodeGpsTime<kUnchangedTimeSymbols>(*layers.encoder(kLayerGpsTime), ctx.gps_multiplier_model,
                                       ctx.gps_zero_diff_model, *ctx.gps_coder, ctx.gps_sequences,
                                       getU64LE(pt.record + p14::kGpsTime));
}

bool LayeredPoint14Writer::writeItem(const uint8_t* item, uint32_t& context) {
  // The point as the raw record stores it: class, flags and returns through the
  // one conversion every LAS 1.4 record uses.
  uint8_t record[quodax_format::kSizePoint14];
  point_fields::buildPoint14Record(item, record);
  ChannelContext_POINT14& old = contexts[current_context];
  const uint32_t c = recordChannel(record);
  const Point pt = referencePoint(record, c);
  const uint32_t symbol = changedValues(pt, c != current_context);
  codeChangedValues(old, symbol);
  if (symbol & kChangedChannel) {
    switchChannel(old, c, context);
  } else if (version4) {
    context = current_context;
  }
  ChannelContext_POINT14& ctx = contexts[current_context];
  codeReturns(ctx, pt, symbol);
  codeCoordinates(ctx, pt);
  codeClassAndFlags(ctx, pt);
  codeIntensity(ctx, pt);
  if (symbol & kChangedScanAngle) codeScanAngle(ctx, pt);
  codeUserData(ctx, pt);
  if (symbol & kChangedPointSource) codePointSource(ctx, pt);
  if (pt.gps_changed) codeGpsTime(ctx, pt);
  // The point becomes its context's last point.
  std::memcpy(ctx.last_item, record, quodax_format::kSizePoint14);
  ctx.last_gps_changed = static_cast<uint8_t>(pt.gps_changed);
  return true;
}

bool LayeredPoint14Writer::writeLayerSizes() {
  // Layers 0 and 1 are always written; the others only when a point changed
  // their field (their symbols are dropped otherwise).
  changed[kLayerXY] = 1;
  changed[kLayerZ] = 1;
  for (uint32_t i = 0; i < kLayers; ++i) {
    if (changed[i]) layers.finish(i);
  }
  return writeSizes(changed);
}

bool LayeredPoint14Writer::writeLayerBytes() { return writeBytes(changed); }

// --- LayeredChannelWriter ---

template <class Context>
bool LayeredChannelWriter<Context>::startChunk(const uint8_t* item, uint32_t& context) {
  if (num_layers == 0) return true;  // no layer, nothing to code
  layers.startChunk();
  std::fill(changed.begin(), changed.end(), 0);
  for (Context& ctx : contexts) ctx.unprepared = true;
  current_context = context & 3;
  seedFromItem(current_context, item);
  return true;
}

template <class Context>
bool LayeredChannelWriter<Context>::writeLayerSizes() {
  if (num_layers == 0) return true;  // no layer: nothing to announce
  for (uint32_t i = 0; i < num_layers; ++i) layers.finish(i);
  return writeSizes(changed.data());
}

template <class Context>
bool LayeredChannelWriter<Context>::writeLayerBytes() {
  if (num_layers == 0) return true;
  return writeBytes(changed.data());
}

template class LayeredChannelWriter<ChannelContext_RGBNIR14>;
template class LayeredChannelWriter<ChannelContext_WAVEPACKET14>;
template class LayeredChannelWriter<ChannelContext_BYTE14>;

// --- LayeredColourWriter ---

LayeredColourWriter::LayeredColourWriter(EntropyEncoder* main_encoder, bool nir, bool version4)
    : LayeredChannelWriter(main_encoder, nir ? 2 : 1, version4), nir(nir) {}

void LayeredColourWriter::prepareChannel(uint32_t c, const uint16_t* seed) {
  ChannelContext_RGBNIR14& ctx = contexts[c];
  if (!ctx.created) {
    EntropyEncoder* const rgb = layers.encoder(0);
    ctx.byte_used.make(rgb, 128);
    for (OwnedSymbolModel& m : ctx.rgb_diff) m.make(rgb, 256);
    if (nir) {
      EntropyEncoder* const nir_layer = layers.encoder(1);
      ctx.nir_byte_used.make(nir_layer, 4);
      for (OwnedSymbolModel& m : ctx.nir_diff) m.make(nir_layer, 256);
    }
    ctx.created = true;
  }
  ctx.byte_used.reset();
  for (OwnedSymbolModel& m : ctx.rgb_diff) m.reset();
  ctx.nir_byte_used.reset();
  for (OwnedSymbolModel& m : ctx.nir_diff) m.reset();
  if (seed != ctx.last_item) std::memcpy(ctx.last_item, seed, sizeof(ctx.last_item));
  ctx.unprepared = false;
}

void LayeredColourWriter::seedFromItem(uint32_t c, const uint8_t* item) {
  uint16_t seed[4] = {};
  for (uint32_t i = 0; i < (nir ? 4u : 3u); ++i) seed[i] = getU16LE(item + 2 * i);
  prepareChannel(c, seed);
}

void LayeredColourWriter::seedFromContext(uint32_t c, uint32_t from) {
  prepareChannel(c, contexts[from].last_item);
}

bool LayeredColourWriter::writeItem(const uint8_t* item, uint32_t& context) {
  uint16_t* const reference = contexts[selectContext(context)].last_item;
  ChannelContext_RGBNIR14& ctx = contexts[current_context];
  uint16_t colour[4] = {};
  for (uint32_t i = 0; i < (nir ? 4u : 3u); ++i) colour[i] = getU16LE(item + 2 * i);

  if (codeRgbDifference(*layers.encoder(0), ctx.byte_used, ctx.rgb_diff, reference, colour) != 0) {
    changed[0] = 1;
  }
  if (nir) {
    EntropyEncoder* const e = layers.encoder(1);
    const uint32_t x = static_cast<uint32_t>(colour[3] ^ reference[3]);
    const uint32_t mask = ((x & 0xFF) != 0 ? 1u : 0u) | (x > 0xFF ? 2u : 0u);
    e->putSymbol(ctx.nir_byte_used, mask);
    if (mask & 1)
      e->putSymbol(ctx.nir_diff[0],
                   static_cast<uint32_t>((colour[3] & 0xFF) - (reference[3] & 0xFF)) & 0xFF);
    if (mask & 2)
      e->putSymbol(ctx.nir_diff[1],
                   static_cast<uint32_t>((colour[3] >> 8) - (reference[3] >> 8)) & 0xFF);
    if (mask != 0) changed[1] = 1;
  }
  std::memcpy(reference, colour, sizeof(colour));
  return true;
}

// --- LayeredWavePacketWriter ---

LayeredWavePacketWriter::LayeredWavePacketWriter(EntropyEncoder* main_encoder, bool version4)
    : LayeredChannelWriter(main_encoder, 1, version4) {}

void LayeredWavePacketWriter::prepareChannel(uint32_t c, const uint8_t* seed) {
  ChannelContext_WAVEPACKET14& ctx = contexts[c];
  if (!ctx.created) {
    EntropyEncoder* const e = layers.encoder(0);
    ctx.packet_index.make(e, 256);
    for (OwnedSymbolModel& m : ctx.offset_symbol) m.make(e, 4);
    ctx.ic_offset_diff.emplace(e, kWavePacketCoderShape);
    ctx.ic_packet_size.emplace(e, kWavePacketCoderShape);
    ctx.ic_return_point.emplace(e, kWavePacketCoderShape);
    ctx.ic_xyz.emplace(e, kWavePacketXyzCoderShape);
    ctx.created = true;
  }
  ctx.packet_index.reset();
  for (OwnedSymbolModel& m : ctx.offset_symbol) m.reset();
  ctx.ic_offset_diff->startEncoding();
  ctx.ic_packet_size->startEncoding();
  ctx.ic_return_point->startEncoding();
  ctx.ic_xyz->startEncoding();
  ctx.last_offset_diff = 0;
  ctx.last_offset_symbol = 0;
  if (seed != ctx.last_item) std::memcpy(ctx.last_item, seed, sizeof(ctx.last_item));
  ctx.unprepared = false;
}

void LayeredWavePacketWriter::seedFromItem(uint32_t c, const uint8_t* item) {
  prepareChannel(c, item);
}

void LayeredWavePacketWriter::seedFromContext(uint32_t c, uint32_t from) {
  prepareChannel(c, contexts[from].last_item);
}

bool LayeredWavePacketWriter::writeItem(const uint8_t* item, uint32_t& context) {
  uint8_t* const reference = contexts[selectContext(context)].last_item;
  ChannelContext_WAVEPACKET14& ctx = contexts[current_context];
  if (std::memcmp(item, reference, sizeof(ctx.last_item)) != 0) changed[0] = 1;
  // The reference's fields follow its index byte.
  codeWavePacket(*layers.encoder(0), item, reference + 1, ctx.packet_index, ctx.offset_symbol,
                 *ctx.ic_offset_diff, *ctx.ic_packet_size, *ctx.ic_return_point, *ctx.ic_xyz,
                 ctx.last_offset_diff, ctx.last_offset_symbol);
  std::memcpy(reference, item, sizeof(ctx.last_item));
  return true;
}

// --- LayeredByteWriter ---

LayeredByteWriter::LayeredByteWriter(EntropyEncoder* main_encoder, uint32_t number, bool version4)
    : LayeredChannelWriter(main_encoder, number, version4), number(number) {}

void LayeredByteWriter::prepareChannel(uint32_t c, const uint8_t* seed) {
  ChannelContext_BYTE14& ctx = contexts[c];
  if (!ctx.created) {
    // Byte i is coded into layer i, whose encoder makes its model.
    ctx.byte_models.resize(number);
    for (uint32_t i = 0; i < number; ++i) ctx.byte_models[i].make(layers.encoder(i), 256);
    ctx.last_bytes.resize(number);
    ctx.created = true;
  }
  for (OwnedSymbolModel& m : ctx.byte_models) m.reset();
  if (seed != ctx.last_bytes.data()) std::memcpy(ctx.last_bytes.data(), seed, number);
  ctx.unprepared = false;
}

void LayeredByteWriter::seedFromItem(uint32_t c, const uint8_t* item) { prepareChannel(c, item); }

void LayeredByteWriter::seedFromContext(uint32_t c, uint32_t from) {
  prepareChannel(c, contexts[from].last_bytes.data());
}

bool LayeredByteWriter::writeItem(const uint8_t* item, uint32_t& context) {
  if (number == 0) return true;
  uint8_t* const reference = contexts[selectContext(context)].last_bytes.data();
  // Held in locals: the coder's byte stores could alias the vectors' pointers,
  // which would be loaded again for every byte (point benchmark).
  const OwnedSymbolModel* const models = contexts[current_context].byte_models.data();
  uint8_t* const changed_bytes = changed.data();
  for (uint32_t i = 0; i < number; ++i) {
    const uint32_t d = static_cast<uint32_t>(item[i] - reference[i]) & 0xFF;
    layers.encoder(i)->putSymbol(models[i], d);
    if (d != 0) {
      changed_bytes[i] = 1;
      reference[i] = item[i];
    }
  }
  return true;
}

}  // namespace morrowtide
