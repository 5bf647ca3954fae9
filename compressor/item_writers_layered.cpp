// The layered writers of the LAS 1.4 items: the layers, the channel contexts,
// the point coding (changed-values symbol, returns, X/Y/Z by medians and height
// levels, per-field layers, GPS time sequences), the colour, wave packet and
// extra-bytes coding per context, and the end-of-chunk sizes and bytes.
#include "morrowtide/compressor/item_writers_layered.h"

#include <algorithm>
#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/rgb_difference_coding.h"
#include "morrowtide/compressor/wave_packet_coding.h"

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
  return writeU32LE(out, used ? layers[i].stream.byteCount() : 0);
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

// The context selection of the colour, wave packet and extra-bytes writers. The
// record's context is the word's low two bits; a switch to a context not yet
// used in the chunk seeds it from the current reference. Returns the context
// whose reference the record is coded against (and then replaces): after a
// switch to a context used earlier in the chunk, version 3 keeps the reference
// of the context left, version 4 takes the new context's own.
template <class Context, class Prepare>
uint32_t selectContext(Context (&contexts)[4], uint32_t& current_context, uint32_t word,
                       bool version4, Prepare prepare) {
  const uint32_t o = current_context;
  const uint32_t n = word & 3;
  if (n == o) return o;
  current_context = n;
  if (contexts[n].unprepared) {
    prepare(n, o);
    return n;
  }
  return version4 ? n : o;
}

namespace p14 = quodax_format::point14;

inline uint32_t returnNumber(const uint8_t* r) { return r[p14::kReturns] & 0x0F; }
inline uint32_t numberOfReturns(const uint8_t* r) { return r[p14::kReturns] >> 4; }
inline uint32_t channel(const uint8_t* r) { return (r[p14::kFlags] >> 4) & 0x03; }
// The four class flags, then scan direction (16) and edge of flight line (32).
inline uint32_t flags(const uint8_t* r) {
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
constexpr uint32_t kReturnOther = 3;  // bits 0-1: return number not within 1 of the reference's

// GPS time symbols: the multiplier model's 0-500 multipliers, 501-510 negative
// multipliers, 511 a new sequence, 512-514 a switch; the zero-difference model's
// 0 difference coded, 1 new sequence, 2-4 a switch.
constexpr uint32_t kGpsMultiplierMax = 500;
constexpr uint32_t kGpsMultiplierMinusTen = 510;
constexpr uint32_t kGpsNewSequence = 511;
constexpr uint32_t kGpsZeroDiffNewSequence = 1;

// Whether a time differs from its reference: unequal as F64 values, or equal but
// with other bits (+0.0 against -0.0), so the sign of a zero is kept.
inline bool gpsTimeChanged(const uint8_t* a, const uint8_t* b) {
  return getU64LE(a) != getU64LE(b) || getF64LE(a) != getF64LE(b);
}

}  // namespace

// --- LayeredPoint14Writer ---

LayeredPoint14Writer::LayeredPoint14Writer(EntropyEncoder* main_encoder, bool version4)
    : LayeredItemWriter(main_encoder, kLayers, version4) {}

LayeredPoint14Writer::~LayeredPoint14Writer() {
  for (ChannelContext_POINT14& ctx : contexts) releaseModels(ctx);
}

void LayeredPoint14Writer::createModels(ChannelContext_POINT14& ctx) {
  EntropyEncoder* const e0 = layers.encoder(kLayerXY);
  for (AdaptiveSymbolModel*& m : ctx.changed_values_models) m = e0->newSymbolModel(128);
  ctx.channel_model = e0->newSymbolModel(3);
  ctx.return_number_same_time_model = e0->newSymbolModel(13);
  ctx.dx_coder.emplace(e0, 32, 2, 8, 0);
  ctx.dy_coder.emplace(e0, 32, 22, 8, 0);
  ctx.z_coder.emplace(layers.encoder(kLayerZ), 32, 20, 8, 0);
  ctx.intensity_coder.emplace(layers.encoder(kLayerIntensity), 16, 4, 8, 0);
  ctx.scan_angle_coder.emplace(layers.encoder(kLayerScanAngle), 16, 2, 8, 0);
  ctx.point_source_coder.emplace(layers.encoder(kLayerPointSource), 16, 1, 8, 0);
  EntropyEncoder* const e8 = layers.encoder(kLayerGpsTime);
  ctx.gps_multiplier_model = e8->newSymbolModel(515);
  ctx.gps_zero_diff_model = e8->newSymbolModel(5);
  ctx.gps_coder.emplace(e8, 32, 9, 8, 0);
  ctx.created = true;
}

void LayeredPoint14Writer::releaseModels(ChannelContext_POINT14& ctx) {
  if (!ctx.created) return;
  // The residual coders delete their models through the layer encoders, which
  // outlive the contexts (declared before them).
  ctx.dx_coder.reset();
  ctx.dy_coder.reset();
  ctx.z_coder.reset();
  ctx.intensity_coder.reset();
  ctx.scan_angle_coder.reset();
  ctx.point_source_coder.reset();
  ctx.gps_coder.reset();
  EntropyEncoder* const e = layers.encoder(kLayerXY);
  for (AdaptiveSymbolModel* m : ctx.changed_values_models) e->deleteSymbolModel(m);
  e->deleteSymbolModel(ctx.channel_model);
  e->deleteSymbolModel(ctx.return_number_same_time_model);
  e->deleteSymbolModel(ctx.gps_multiplier_model);
  e->deleteSymbolModel(ctx.gps_zero_diff_model);
  for (PerByteModels* set :
       {&ctx.number_of_returns_models, &ctx.return_number_models, &ctx.classification_models,
        &ctx.flags_models, &ctx.user_data_models}) {
    set->release(e);
  }
  ctx.created = false;
}

void LayeredPoint14Writer::prepareChannel(uint32_t channel_index, const uint8_t* seed) {
  ChannelContext_POINT14& ctx = contexts[channel_index];
  if (!ctx.created) createModels(ctx);
  EntropyEncoder* const e0 = layers.encoder(kLayerXY);
  for (AdaptiveSymbolModel* m : ctx.changed_values_models) e0->resetSymbolModel(m, nullptr);
  e0->resetSymbolModel(ctx.channel_model, nullptr);
  ctx.number_of_returns_models.reset(e0);
  ctx.return_number_models.reset(e0);
  e0->resetSymbolModel(ctx.return_number_same_time_model, nullptr);
  ctx.dx_coder->startEncoding();
  ctx.dy_coder->startEncoding();
  for (RollingMedian5& m : ctx.x_medians) m.reset();
  for (RollingMedian5& m : ctx.y_medians) m.reset();
  ctx.z_coder->startEncoding();
  const int32_t z = getI32LE(seed + p14::kZ);
  for (int32_t& v : ctx.last_z) v = z;
  ctx.classification_models.reset(e0);
  ctx.flags_models.reset(e0);
  ctx.user_data_models.reset(e0);
  ctx.intensity_coder->startEncoding();
  const uint16_t intensity = getU16LE(seed + p14::kIntensity);
  for (uint16_t& v : ctx.last_intensity) v = intensity;
  ctx.scan_angle_coder->startEncoding();
  ctx.point_source_coder->startEncoding();
  e0->resetSymbolModel(ctx.gps_multiplier_model, nullptr);
  e0->resetSymbolModel(ctx.gps_zero_diff_model, nullptr);
  ctx.gps_coder->startEncoding();
  ctx.gps_last = 0;
  ctx.gps_next = 0;
  ctx.gps_times[0] = getU64LE(seed + p14::kGpsTime);
  for (uint32_t i = 1; i < 4; ++i) ctx.gps_times[i] = 0;
  for (int32_t& v : ctx.gps_diffs) v = 0;
  for (int32_t& v : ctx.gps_extreme_counters) v = 0;
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
  current_context = channel(record);
  context = current_context;
  prepareChannel(current_context, record);
  return true;
}

bool LayeredPoint14Writer::writeItem(const uint8_t* item, uint32_t& context) {
  // The point as the raw record stores it: class, flags and returns through the
  // one conversion every LAS 1.4 record uses.
  uint8_t p[quodax_format::kSizePoint14];
  point_fields::buildPoint14Record(item, p);
  ChannelContext_POINT14& old = contexts[current_context];
  const uint32_t c = channel(p);

  // 1. The reference point.
  // Read in place: its context's last point changes only at step 18.
  const uint8_t* ref = old.last_item;
  if (c != current_context && !contexts[c].unprepared) ref = contexts[c].last_item;
  const uint32_t n = numberOfReturns(p);
  const uint32_t r = returnNumber(p);
  const uint32_t nR = numberOfReturns(ref);
  const uint32_t rR = returnNumber(ref);
  const uint32_t g = gpsTimeChanged(p + p14::kGpsTime, ref + p14::kGpsTime) ? 1 : 0;

  // 2. The changed-values symbol.
  uint32_t symbol = 0;
  if (c != current_context) symbol |= kChangedChannel;
  if (getU16LE(p + p14::kPointSource) != getU16LE(ref + p14::kPointSource))
    symbol |= kChangedPointSource;
  if (g) symbol |= kChangedGpsTime;
  if (getU16LE(p + p14::kScanAngle) != getU16LE(ref + p14::kScanAngle)) symbol |= kChangedScanAngle;
  if (n != nR) symbol |= kChangedNumberOfReturns;
  if (r == rR) {
    // case 0
  } else if (r == ((rR + 1) & 15)) {
    symbol |= 1;
  } else if (r == ((rR + 15) & 15)) {
    symbol |= 2;
  } else {
    symbol |= kReturnOther;
  }

  // 3. Coded with a model of the context being left, chosen by its last point.
  EntropyEncoder* const e0 = layers.encoder(kLayerXY);
  const uint32_t pr = returnNumber(old.last_item);
  const uint32_t pn = numberOfReturns(old.last_item);
  e0->putSymbol(
      old.changed_values_models[(pr == 1 ? 1 : 0) + (pr >= pn ? 2 : 0) + 4 * old.last_gps_changed],
      symbol);

  // 4. Channel switch.
  if (symbol & kChangedChannel) {
    const int32_t d = static_cast<int32_t>(c) - static_cast<int32_t>(current_context);
    e0->putSymbol(old.channel_model, static_cast<uint32_t>(d > 0 ? d - 1 : d + 3));
    if (contexts[c].unprepared) prepareChannel(c, old.last_item);
    current_context = c;
    context = c;
  } else if (version4) {
    context = current_context;
  }
  ChannelContext_POINT14& ctx = contexts[current_context];

  // 5, 6. Returns.
  if (symbol & kChangedNumberOfReturns) {
    e0->putSymbol(e0->symbolModelAtFirstUse(ctx.number_of_returns_models[nR], 16), n);
  }
  if ((symbol & 3) == kReturnOther) {
    if (g) {
      e0->putSymbol(e0->symbolModelAtFirstUse(ctx.return_number_models[rR], 16), r);
    } else {
      e0->putSymbol(ctx.return_number_same_time_model, (r - rR - 2) & 15);
    }
  }

  // 7-10. X, Y by running medians of their steps, Z by height level.
  const uint32_t m = kMedianSelector[n][r];
  const uint32_t l = std::min(n > r ? n - r : r - n, 7u);
  const uint32_t i = 2 * m + g;
  const uint32_t single = n == 1 ? 1 : 0;
  const int32_t dx = wrappingDifference(getU32LE(p + p14::kX), getU32LE(ref + p14::kX));
  ctx.dx_coder->encode(ctx.x_medians[i].get(), dx, single);
  ctx.x_medians[i].add(dx);
  const uint32_t kx = ctx.dx_coder->lastClass();
  const int32_t dy = wrappingDifference(getU32LE(p + p14::kY), getU32LE(ref + p14::kY));
  ctx.dy_coder->encode(ctx.y_medians[i].get(), dy, single | (kx < 20 ? kx & ~1u : 20));
  ctx.y_medians[i].add(dy);
  const uint32_t k = kx + ctx.dy_coder->lastClass();
  const int32_t z = getI32LE(p + p14::kZ);
  ctx.z_coder->encode(ctx.last_z[l], z, single | (k < 36 ? (k / 2) & ~1u : 18));
  ctx.last_z[l] = z;

  // 11-16. The per-field layers.
  const uint32_t cpr = (r >= n ? 1 : 0) + (r == 1 ? 2 : 0);
  // The changed flags are or-ed in, not branched on: the fields vary point by point.
  changed[kLayerClass] |= p[p14::kClassification] != ref[p14::kClassification];
  EntropyEncoder* const e2 = layers.encoder(kLayerClass);
  e2->putSymbol(
      e2->symbolModelAtFirstUse(
          ctx.classification_models[2 * (ref[p14::kClassification] & 31u) + (cpr == 3 ? 1 : 0)],
          256),
      p[p14::kClassification]);
  const uint32_t f = flags(p);
  const uint32_t fR = flags(ref);
  changed[kLayerFlags] |= f != fR;
  EntropyEncoder* const e3 = layers.encoder(kLayerFlags);
  e3->putSymbol(e3->symbolModelAtFirstUse(ctx.flags_models[fR], 64), f);
  const uint16_t intensity = getU16LE(p + p14::kIntensity);
  changed[kLayerIntensity] |= intensity != getU16LE(ref + p14::kIntensity);
  const uint32_t j = 2 * cpr + g;
  ctx.intensity_coder->encode(ctx.last_intensity[j], intensity, cpr);
  ctx.last_intensity[j] = intensity;
  if (symbol & kChangedScanAngle) {
    changed[kLayerScanAngle] = 1;
    ctx.scan_angle_coder->encode(getI16LE(ref + p14::kScanAngle), getI16LE(p + p14::kScanAngle), g);
  }
  changed[kLayerUserData] |= p[p14::kUserData] != ref[p14::kUserData];
  EntropyEncoder* const e6 = layers.encoder(kLayerUserData);
  e6->putSymbol(e6->symbolModelAtFirstUse(ctx.user_data_models[ref[p14::kUserData] / 4], 256),
                p[p14::kUserData]);
  if (symbol & kChangedPointSource) {
    changed[kLayerPointSource] = 1;
    ctx.point_source_coder->encode(getU16LE(ref + p14::kPointSource),
                                   getU16LE(p + p14::kPointSource), 0);
  }

  // 17. GPS time.
  if (g) {
    changed[kLayerGpsTime] = 1;
    encodeGpsTime(ctx, getU64LE(p + p14::kGpsTime));
  }

  // 18. The point becomes its context's last point.
  std::memcpy(ctx.last_item, p, quodax_format::kSizePoint14);
  ctx.last_gps_changed = static_cast<uint8_t>(g);
  return true;
}

void LayeredPoint14Writer::encodeGpsTime(ChannelContext_POINT14& ctx, uint64_t t) {
  EntropyEncoder* const e = layers.encoder(kLayerGpsTime);
  IntegerResidualCoder& coder = *ctx.gps_coder;
  uint64_t* const T = ctx.gps_times;
  int32_t* const D = ctx.gps_diffs;
  int32_t* const E = ctx.gps_extreme_counters;
  for (;;) {
    uint32_t& L = ctx.gps_last;
    const uint64_t d64 = t - T[L];
    const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(d64));
    const bool fits = fitsI32(d64);
    if (fits && D[L] == 0) {
      e->putSymbol(ctx.gps_zero_diff_model, 0);
      coder.encode(0, d, 0);
      D[L] = d;
      E[L] = 0;
      T[L] = t;
      return;
    }
    if (fits) {
      const float q = static_cast<float>(d) / static_cast<float>(D[L]);
      const int32_t M = roundHalfAwayToI32(static_cast<double>(q));
      bool extreme = false;
      if (M == 1) {
        e->putSymbol(ctx.gps_multiplier_model, 1);
        coder.encode(D[L], d, 1);
        E[L] = 0;
      } else if (M >= 2 && M < static_cast<int32_t>(kGpsMultiplierMax)) {
        e->putSymbol(ctx.gps_multiplier_model, static_cast<uint32_t>(M));
        coder.encode(wrappingProduct(M, D[L]), d, M <= 9 ? 2 : 3);
      } else if (M >= static_cast<int32_t>(kGpsMultiplierMax)) {
        e->putSymbol(ctx.gps_multiplier_model, kGpsMultiplierMax);
        coder.encode(wrappingProduct(static_cast<int32_t>(kGpsMultiplierMax), D[L]), d, 4);
        extreme = true;
      } else if (M == 0) {
        e->putSymbol(ctx.gps_multiplier_model, 0);
        coder.encode(0, d, 7);
        extreme = true;
      } else if (M >= -9) {
        e->putSymbol(ctx.gps_multiplier_model,
                     static_cast<uint32_t>(static_cast<int32_t>(kGpsMultiplierMax) - M));
        coder.encode(wrappingProduct(M, D[L]), d, 5);
      } else {
        e->putSymbol(ctx.gps_multiplier_model, kGpsMultiplierMinusTen);
        coder.encode(wrappingProduct(-10, D[L]), d, 6);
        extreme = true;
      }
      if (extreme && ++E[L] > 3) {
        // The fourth poorly predicted step makes its own difference the new step.
        D[L] = d;
        E[L] = 0;
      }
      T[L] = t;
      return;
    }
    // Too far from this sequence: switch to another one that reaches t, if any.
    AdaptiveSymbolModel* const model =
        D[L] == 0 ? ctx.gps_zero_diff_model : ctx.gps_multiplier_model;
    const uint32_t first_switch = D[L] == 0 ? 2 : kGpsNewSequence + 1;
    bool switched = false;
    for (uint32_t s = 1; s < 4 && !switched; ++s) {
      const uint32_t other = (L + s) & 3;
      if (fitsI32(t - T[other])) {
        e->putSymbol(model, first_switch + s - 1);
        L = other;
        switched = true;
      }
    }
    if (switched) continue;
    // A new sequence: the high half against the current one's, the low half raw.
    e->putSymbol(model, D[L] == 0 ? kGpsZeroDiffNewSequence : kGpsNewSequence);
    coder.encode(static_cast<int32_t>(static_cast<uint32_t>(T[L] >> 32)),
                 static_cast<int32_t>(static_cast<uint32_t>(t >> 32)), 8);
    e->putRawU32(static_cast<uint32_t>(t));
    ctx.gps_next = (ctx.gps_next + 1) & 3;
    L = ctx.gps_next;
    D[L] = 0;
    E[L] = 0;
    T[L] = t;
    return;
  }
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

// --- LayeredColourWriter ---

LayeredColourWriter::LayeredColourWriter(EntropyEncoder* main_encoder, bool nir, bool version4)
    : LayeredItemWriter(main_encoder, nir ? 2 : 1, version4), nir(nir) {}

LayeredColourWriter::~LayeredColourWriter() {
  for (ChannelContext_RGBNIR14& ctx : contexts) {
    if (ctx.byte_used == nullptr) continue;
    main_encoder->deleteSymbolModel(ctx.byte_used);
    for (AdaptiveSymbolModel* m : ctx.rgb_diff) main_encoder->deleteSymbolModel(m);
    main_encoder->deleteSymbolModel(ctx.nir_byte_used);
    for (AdaptiveSymbolModel* m : ctx.nir_diff) main_encoder->deleteSymbolModel(m);
  }
}

void LayeredColourWriter::prepareChannel(uint32_t c, const uint16_t* seed) {
  ChannelContext_RGBNIR14& ctx = contexts[c];
  EntropyEncoder* const e = layers.encoder(0);
  if (ctx.byte_used == nullptr) {
    ctx.byte_used = e->newSymbolModel(128);
    for (AdaptiveSymbolModel*& m : ctx.rgb_diff) m = e->newSymbolModel(256);
    if (nir) {
      ctx.nir_byte_used = e->newSymbolModel(4);
      for (AdaptiveSymbolModel*& m : ctx.nir_diff) m = e->newSymbolModel(256);
    }
  }
  e->resetSymbolModel(ctx.byte_used, nullptr);
  for (AdaptiveSymbolModel* m : ctx.rgb_diff) e->resetSymbolModel(m, nullptr);
  if (nir) {
    e->resetSymbolModel(ctx.nir_byte_used, nullptr);
    for (AdaptiveSymbolModel* m : ctx.nir_diff) e->resetSymbolModel(m, nullptr);
  }
  if (seed != ctx.last_item) std::memcpy(ctx.last_item, seed, sizeof(ctx.last_item));
  ctx.unprepared = false;
}

bool LayeredColourWriter::startChunk(const uint8_t* item, uint32_t& context) {
  layers.startChunk();
  changed[0] = 0;
  changed[1] = 0;
  for (ChannelContext_RGBNIR14& ctx : contexts) ctx.unprepared = true;
  current_context = context & 3;
  uint16_t seed[4] = {};
  for (uint32_t i = 0; i < (nir ? 4u : 3u); ++i) seed[i] = getU16LE(item + 2 * i);
  prepareChannel(current_context, seed);
  return true;
}

bool LayeredColourWriter::writeItem(const uint8_t* item, uint32_t& context) {
  const uint32_t owner =
      selectContext(contexts, current_context, context, version4,
                    [this](uint32_t n, uint32_t o) { prepareChannel(n, contexts[o].last_item); });
  ChannelContext_RGBNIR14& ctx = contexts[current_context];
  uint16_t* const reference = contexts[owner].last_item;
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

bool LayeredColourWriter::writeLayerSizes() {
  layers.finish(0);
  if (nir) layers.finish(1);
  return writeSizes(changed);
}

bool LayeredColourWriter::writeLayerBytes() { return writeBytes(changed); }

// --- LayeredWavePacketWriter ---

LayeredWavePacketWriter::LayeredWavePacketWriter(EntropyEncoder* main_encoder, bool version4)
    : LayeredItemWriter(main_encoder, 1, version4) {}

LayeredWavePacketWriter::~LayeredWavePacketWriter() {
  for (ChannelContext_WAVEPACKET14& ctx : contexts) {
    if (ctx.packet_index == nullptr) continue;
    ctx.ic_offset_diff.reset();
    ctx.ic_packet_size.reset();
    ctx.ic_return_point.reset();
    ctx.ic_xyz.reset();
    main_encoder->deleteSymbolModel(ctx.packet_index);
    for (AdaptiveSymbolModel* m : ctx.offset_symbol) main_encoder->deleteSymbolModel(m);
  }
}

void LayeredWavePacketWriter::prepareChannel(uint32_t c, const uint8_t* seed) {
  ChannelContext_WAVEPACKET14& ctx = contexts[c];
  EntropyEncoder* const e = layers.encoder(0);
  if (ctx.packet_index == nullptr) {
    ctx.packet_index = e->newSymbolModel(256);
    for (AdaptiveSymbolModel*& m : ctx.offset_symbol) m = e->newSymbolModel(4);
    ctx.ic_offset_diff = std::make_unique<IntegerResidualCoder>(e, 32, 1, 8, 0);
    ctx.ic_packet_size = std::make_unique<IntegerResidualCoder>(e, 32, 1, 8, 0);
    ctx.ic_return_point = std::make_unique<IntegerResidualCoder>(e, 32, 1, 8, 0);
    ctx.ic_xyz = std::make_unique<IntegerResidualCoder>(e, 32, 3, 8, 0);
  }
  e->resetSymbolModel(ctx.packet_index, nullptr);
  for (AdaptiveSymbolModel* m : ctx.offset_symbol) e->resetSymbolModel(m, nullptr);
  ctx.ic_offset_diff->startEncoding();
  ctx.ic_packet_size->startEncoding();
  ctx.ic_return_point->startEncoding();
  ctx.ic_xyz->startEncoding();
  ctx.last_offset_diff = 0;
  ctx.last_offset_symbol = 0;
  if (seed != ctx.last_item) std::memcpy(ctx.last_item, seed, sizeof(ctx.last_item));
  ctx.unprepared = false;
}

bool LayeredWavePacketWriter::startChunk(const uint8_t* item, uint32_t& context) {
  layers.startChunk();
  changed_wavepacket = 0;
  for (ChannelContext_WAVEPACKET14& ctx : contexts) ctx.unprepared = true;
  current_context = context & 3;
  prepareChannel(current_context, item);
  return true;
}

bool LayeredWavePacketWriter::writeItem(const uint8_t* item, uint32_t& context) {
  const uint32_t owner =
      selectContext(contexts, current_context, context, version4,
                    [this](uint32_t n, uint32_t o) { prepareChannel(n, contexts[o].last_item); });
  ChannelContext_WAVEPACKET14& ctx = contexts[current_context];
  uint8_t* const reference = contexts[owner].last_item;
  if (std::memcmp(item, reference, sizeof(ctx.last_item)) != 0) changed_wavepacket = 1;
  // The reference's fields follow its index byte.
  codeWavePacket(*layers.encoder(0), item, reference + 1, ctx.packet_index, ctx.offset_symbol,
                 *ctx.ic_offset_diff, *ctx.ic_packet_size, *ctx.ic_return_point, *ctx.ic_xyz,
                 ctx.last_offset_diff, ctx.last_offset_symbol);
  std::memcpy(reference, item, sizeof(ctx.last_item));
  return true;
}

bool LayeredWavePacketWriter::writeLayerSizes() {
  layers.finish(0);
  return writeSizes(&changed_wavepacket);
}

bool LayeredWavePacketWriter::writeLayerBytes() { return writeBytes(&changed_wavepacket); }

// --- LayeredByteWriter ---

LayeredByteWriter::LayeredByteWriter(EntropyEncoder* main_encoder, uint32_t number, bool version4)
    : LayeredItemWriter(main_encoder, number, version4), number(number), changed_bytes(number, 0) {}

LayeredByteWriter::~LayeredByteWriter() {
  for (ChannelContext_BYTE14& ctx : contexts) {
    for (AdaptiveSymbolModel* m : ctx.byte_models) main_encoder->deleteSymbolModel(m);
  }
}

void LayeredByteWriter::prepareChannel(uint32_t c, const uint8_t* seed) {
  ChannelContext_BYTE14& ctx = contexts[c];
  if (ctx.byte_models.empty() && number != 0) {
    ctx.byte_models.reserve(number);
    for (uint32_t i = 0; i < number; ++i)
      ctx.byte_models.push_back(main_encoder->newSymbolModel(256));
    ctx.last_bytes.resize(number);
  }
  for (AdaptiveSymbolModel* m : ctx.byte_models) main_encoder->resetSymbolModel(m, nullptr);
  if (number != 0 && seed != ctx.last_bytes.data())
    std::memcpy(ctx.last_bytes.data(), seed, number);
  ctx.unprepared = false;
}

bool LayeredByteWriter::startChunk(const uint8_t* item, uint32_t& context) {
  if (number == 0) return true;  // no layer, nothing to code
  layers.startChunk();
  for (uint8_t& c : changed_bytes) c = 0;
  for (ChannelContext_BYTE14& ctx : contexts) ctx.unprepared = true;
  current_context = context & 3;
  prepareChannel(current_context, item);
  return true;
}

bool LayeredByteWriter::writeItem(const uint8_t* item, uint32_t& context) {
  if (number == 0) return true;
  const uint32_t owner = selectContext(
      contexts, current_context, context, version4,
      [this](uint32_t n, uint32_t o) { prepareChannel(n, contexts[o].last_bytes.data()); });
  ChannelContext_BYTE14& ctx = contexts[current_context];
  uint8_t* const reference = contexts[owner].last_bytes.data();
  for (uint32_t i = 0; i < number; ++i) {
    const uint32_t d = static_cast<uint32_t>(item[i] - reference[i]) & 0xFF;
    layers.encoder(i)->putSymbol(ctx.byte_models[i], d);
    if (d != 0) {
      changed_bytes[i] = 1;
      reference[i] = item[i];
    }
  }
  return true;
}

bool LayeredByteWriter::writeLayerSizes() {
  if (number == 0) return true;  // no layer: nothing to announce
  for (uint32_t i = 0; i < number; ++i) layers.finish(i);
  return writeSizes(changed_bytes.data());
}

bool LayeredByteWriter::writeLayerBytes() {
  if (number == 0) return true;
  return writeBytes(changed_bytes.data());
}
