// A second, independent encoder of the layered chunked point data (compressor 3)
// for LAS 1.4 layouts, written as test code from the description of the format
// rather than from the library's layered writers, so that a misreading shared by
// those writers and their test decoders shows up as differing bytes.
//
// It is deliberately built another way than the library: every chunk gets brand
// new layers, encoders, models and coders (the library rewinds and resets them),
// a channel context that is absent is "not yet prepared in this chunk", and the
// whole point data (table pointer, chunks, chunk table) is assembled in memory.
// Only the verified building blocks are shared: EntropyEncoder, the models,
// IntegerResidualCoder, RollingMedian5, codeWavePacket and codeRgbDifference.
//
// Two deliberate choices, as the library intends them: the POINT14 coder sees
// every field as the 30-byte record stores it (for a LAS 1.4 point that differs
// from its LAS 1.4 fields only in the class and the synthetic, key-point and
// withheld flags; a legacy point's returns, channel and scan angle are converted
// too), and a GPS time counts as changed when the values compare unequal or their
// bit patterns differ.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_LAYERED_REFERENCE_H
#define MORROWTIDE_TESTS_COMPRESSOR_LAYERED_REFERENCE_H

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/rgb_difference_coding.h"
#include "morrowtide/compressor/rolling_median5.h"
#include "morrowtide/compressor/wave_packet_coding.h"

namespace layered_reference {

using Bytes = std::vector<uint8_t>;

// Little-endian access written out byte by byte.
inline uint64_t le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline void appendLE(Bytes& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The 30-byte record of formats 6 to 10 built from the 40-byte in-memory point.
inline std::array<uint8_t, 30> rawPoint14(const uint8_t* p) {
  std::array<uint8_t, 30> r{};
  std::memcpy(&r[0], p, 14);
  const bool extended = (p[22] & 3) != 0;
  const uint8_t class5 = p[15] & 0x1F;
  uint8_t b15 = static_cast<uint8_t>((p[15] >> 5) | (p[14] & 0xC0));
  if (extended) {
    b15 = static_cast<uint8_t>(b15 | ((p[22] >> 7) << 3) | (((p[22] >> 2) & 3) << 4));
    r[14] = p[24];
    r[16] = class5 != 0 ? class5 : p[23];
    r[18] = p[20];
    r[19] = p[21];
  } else {
    r[14] = static_cast<uint8_t>((p[14] & 7) | (((p[14] >> 3) & 7) << 4));
    r[16] = class5;
    const float q = static_cast<float>(static_cast<int8_t>(p[16])) / 0.006f;
    const double h = q >= 0 ? static_cast<double>(q) + 0.5 : static_cast<double>(q) - 0.5;
    const uint32_t angle = static_cast<uint32_t>(static_cast<int32_t>(h));
    r[18] = static_cast<uint8_t>(angle);
    r[19] = static_cast<uint8_t>(angle >> 8);
  }
  r[15] = b15;
  r[17] = p[17];
  std::memcpy(&r[20], p + 18, 2);
  std::memcpy(&r[22], p + 32, 8);
  return r;
}

using Model = std::unique_ptr<AdaptiveSymbolModel>;

// A model made and reset with every count 1, as before its first use.
inline Model freshModel(EntropyEncoder& e, uint32_t symbols) {
  Model m(e.newSymbolModel(symbols));
  e.resetSymbolModel(m.get(), nullptr);
  return m;
}
inline AdaptiveSymbolModel* lazy(Model& slot, EntropyEncoder& e, uint32_t symbols) {
  if (!slot) slot = freshModel(e, symbols);
  return slot.get();
}

// One layer: its bytes and its own encoder, started at once.
struct Layer {
  ByteStreamOutArrayLE stream;
  EntropyEncoder enc;
  Bytes done;
  Layer() { enc.start(&stream); }
  void finish() {
    enc.finish();
    done.assign(stream.data(), stream.data() + stream.byteCount());
  }
};

inline std::unique_ptr<IntegerResidualCoder> coder(Layer& l, uint32_t bits, uint32_t contexts) {
  auto c = std::make_unique<IntegerResidualCoder>(&l.enc, bits, contexts, 8, 0);
  c->startEncoding();
  return c;
}

// The coder of one item for one chunk.
class ChunkItem {
 public:
  virtual ~ChunkItem() = default;
  virtual void first(const uint8_t* item, uint32_t& context) = 0;
  virtual void next(const uint8_t* item, uint32_t& context) = 0;
  // Finishes every layer; appends the sizes, then (second call) the bytes.
  virtual void sizes(Bytes& out) = 0;
  virtual void bytes(Bytes& out) = 0;
};

// Appends a layer's size, or 0 when the chunk left it unchanged.
inline void sizeOf(Bytes& out, const Layer& l, bool changed) {
  appendLE(out, changed ? l.done.size() : 0, 4);
}
inline void bytesOf(Bytes& out, const Layer& l, bool changed) {
  if (changed) out.insert(out.end(), l.done.begin(), l.done.end());
}

// ---------------------------------------------------------------- POINT14

// The median selector by number of returns (row) and return number (column),
// spelled out again on purpose: a shared copy would let a wrong entry pass.
constexpr uint8_t kMedianSelector[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},
    {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},
    {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
};

// The fields the POINT14 coder works on, read from a 40-byte point (or a copy)
// as the 30-byte record stores them.
struct Fields14 {
  int32_t x, y, z;
  uint32_t intensity, r, n, channel, classification, flags, user_data, source, angle;
  uint64_t time;
  uint32_t changed_time;  // byte 28 of a kept copy
  explicit Fields14(const uint8_t* p) {
    const auto raw = rawPoint14(p);
    x = static_cast<int32_t>(le(&raw[0], 4));
    y = static_cast<int32_t>(le(&raw[4], 4));
    z = static_cast<int32_t>(le(&raw[8], 4));
    intensity = static_cast<uint32_t>(le(&raw[12], 2));
    r = raw[14] & 15;
    n = raw[14] >> 4;
    channel = (raw[15] >> 4) & 3;
    flags = (raw[15] & 0x0F) | (raw[15] >> 6) << 4;
    classification = raw[16];
    user_data = raw[17];
    angle = static_cast<uint32_t>(le(&raw[18], 2));
    source = static_cast<uint32_t>(le(&raw[20], 2));
    time = le(&raw[22], 8);
    changed_time = p[28];
  }
  double gps() const {
    double d;
    std::memcpy(&d, &time, 8);
    return d;
  }
};

class Point14 final : public ChunkItem {
 public:
  explicit Point14(bool v4) : v4(v4) {}

  void first(const uint8_t* item, uint32_t& context) override {
    cur = Fields14(item).channel;
    context = cur;
    ctx[cur] = std::make_unique<Ctx>(layers, item);
  }

  void next(const uint8_t* item, uint32_t& context) override {
    const Fields14 it(item);
    Ctx& old = *ctx[cur];
    const uint8_t* P = old.last;
    const uint32_t c = it.channel;
    const uint8_t* Rp = (c != cur && ctx[c]) ? ctx[c]->last : P;
    const Fields14 R(Rp);
    const Fields14 Pf(P);
    const double a = it.gps(), b = R.gps();
    const uint32_t g = (a != b || it.time != R.time) ? 1 : 0;
    uint32_t rcase = 3;
    if (it.r == R.r) {
      rcase = 0;
    } else if (it.r == ((R.r + 1) & 15)) {
      rcase = 1;
    } else if (it.r == ((R.r + 15) & 15)) {
      rcase = 2;
    }
    const uint32_t sym = (c != cur ? 64 : 0) | (it.source != R.source ? 32 : 0) | g << 4 |
                         (it.angle != R.angle ? 8 : 0) | (it.n != R.n ? 4 : 0) | rcase;
    const uint32_t mi = (Pf.r == 1 ? 1 : 0) + (Pf.r >= Pf.n ? 2 : 0) + 4 * Pf.changed_time;
    EntropyEncoder& e0 = layers[0].enc;
    e0.putSymbol(old.changed_values[mi].get(), sym);
    if (c != cur) {
      const int32_t d = static_cast<int32_t>(c) - static_cast<int32_t>(cur);
      e0.putSymbol(old.channel.get(), static_cast<uint32_t>(d > 0 ? d - 1 : d + 3));
      if (!ctx[c]) ctx[c] = std::make_unique<Ctx>(layers, P);
      cur = c;
      context = c;
    } else if (v4) {
      context = cur;
    }
    Ctx& x = *ctx[cur];
    if (sym & 4) e0.putSymbol(lazy(x.nret[R.n], e0, 16), it.n);
    if (rcase == 3) {
      if (g) {
        e0.putSymbol(lazy(x.rnum[R.r], e0, 16), it.r);
      } else {
        e0.putSymbol(x.rnum_same.get(), (it.r - R.r - 2) & 15);
      }
    }
    const uint32_t m = kMedianSelector[it.n][it.r];
    const uint32_t l = std::min<uint32_t>(
        static_cast<uint32_t>(std::abs(static_cast<int32_t>(it.n) - static_cast<int32_t>(it.r))),
        7);
    const uint32_t i = 2 * m + g;
    const uint32_t n1 = it.n == 1 ? 1 : 0;
    const int32_t dx =
        static_cast<int32_t>(static_cast<uint32_t>(it.x) - static_cast<uint32_t>(R.x));
    x.dx->encode(x.xm[i].get(), dx, n1);
    x.xm[i].add(dx);
    const uint32_t kx = x.dx->lastClass();
    const int32_t dy =
        static_cast<int32_t>(static_cast<uint32_t>(it.y) - static_cast<uint32_t>(R.y));
    x.dy->encode(x.ym[i].get(), dy, n1 | (kx < 20 ? (kx & ~1u) : 20));
    x.ym[i].add(dy);
    const uint32_t ky = x.dy->lastClass();
    const uint32_t k = kx + ky;
    x.z->encode(x.last_z[l], it.z, n1 | (k < 36 ? ((k / 2) & ~1u) : 18));
    x.last_z[l] = it.z;

    const uint32_t cpr = (it.r >= it.n ? 1 : 0) + (it.r == 1 ? 2 : 0);
    if (it.classification != R.classification) changed[2] = true;
    layers[2].enc.putSymbol(
        lazy(x.cls[2 * (R.classification & 31) + (cpr == 3 ? 1 : 0)], layers[2].enc, 256),
        it.classification);
    if (it.flags != R.flags) changed[3] = true;
    layers[3].enc.putSymbol(lazy(x.flags[R.flags], layers[3].enc, 64), it.flags);
    if (it.intensity != R.intensity) changed[4] = true;
    const uint32_t j = 2 * cpr + g;
    x.intensity->encode(static_cast<int32_t>(x.last_intensity[j]),
                        static_cast<int32_t>(it.intensity), cpr);
    x.last_intensity[j] = it.intensity;
    if (sym & 8) {
      changed[5] = true;
      x.angle->encode(static_cast<int16_t>(R.angle), static_cast<int16_t>(it.angle), g);
    }
    if (it.user_data != R.user_data) changed[6] = true;
    layers[6].enc.putSymbol(lazy(x.user[R.user_data / 4], layers[6].enc, 256), it.user_data);
    if (sym & 32) {
      changed[7] = true;
      x.source->encode(static_cast<int32_t>(R.source), static_cast<int32_t>(it.source), 0);
    }
    if (g) {
      changed[8] = true;
      x.encodeTime(layers[8].enc, it.time);
    }
    std::memcpy(x.last, item, 40);
    x.last[28] = static_cast<uint8_t>(g);
  }

  void sizes(Bytes& out) override {
    for (uint32_t k = 0; k < 9; ++k) {
      layers[k].finish();
      sizeOf(out, layers[k], k < 2 || changed[k]);
    }
  }
  void bytes(Bytes& out) override {
    for (uint32_t k = 0; k < 9; ++k) bytesOf(out, layers[k], k < 2 || changed[k]);
  }

 private:
  struct Ctx {
    uint8_t last[40];
    uint32_t last_intensity[8];
    RollingMedian5 xm[12], ym[12];
    int32_t last_z[8];
    Model changed_values[8], channel, nret[16], rnum_same, rnum[16];
    std::unique_ptr<IntegerResidualCoder> dx, dy, z;
    Model cls[64], flags[64], user[64];
    std::unique_ptr<IntegerResidualCoder> intensity, angle, source;
    uint32_t gps_last = 0, gps_next = 0;
    uint64_t gps_times[4] = {0, 0, 0, 0};
    int32_t gps_diffs[4] = {0, 0, 0, 0};
    int32_t gps_extreme[4] = {0, 0, 0, 0};
    Model gps_multiplier, gps_zero;
    std::unique_ptr<IntegerResidualCoder> gps;

    Ctx(std::array<Layer, 9>& layers, const uint8_t* seed) {
      EntropyEncoder& e0 = layers[0].enc;
      for (Model& m : changed_values) m = freshModel(e0, 128);
      channel = freshModel(e0, 3);
      rnum_same = freshModel(e0, 13);
      dx = coder(layers[0], 32, 2);
      dy = coder(layers[0], 32, 22);
      z = coder(layers[1], 32, 20);
      intensity = coder(layers[4], 16, 4);
      angle = coder(layers[5], 16, 2);
      source = coder(layers[7], 16, 1);
      gps_multiplier = freshModel(layers[8].enc, 515);
      gps_zero = freshModel(layers[8].enc, 5);
      gps = coder(layers[8], 32, 9);
      for (RollingMedian5& rm : xm) rm.reset();
      for (RollingMedian5& rm : ym) rm.reset();
      const Fields14 s(seed);
      for (int32_t& v : last_z) v = s.z;
      for (uint32_t& v : last_intensity) v = s.intensity;
      gps_times[0] = s.time;
      std::memcpy(last, seed, 40);
      last[28] = 0;
    }

    static bool fits(uint64_t d) {
      const int64_t s = static_cast<int64_t>(d);
      return s >= INT32_MIN && s <= INT32_MAX;
    }

    void encodeTime(EntropyEncoder& e, uint64_t t) {
      uint32_t& L = gps_last;
      for (;;) {
        const uint64_t d64 = t - gps_times[L];
        const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(d64));
        if (gps_diffs[L] == 0) {
          if (fits(d64)) {
            e.putSymbol(gps_zero.get(), 0);
            gps->encode(0, d, 0);
            gps_diffs[L] = d;
            gps_extreme[L] = 0;
            break;
          }
          if (switchSequence(e, gps_zero.get(), t, 1)) continue;
          e.putSymbol(gps_zero.get(), 1);
          newSequence(e, t);
          break;
        }
        if (!fits(d64)) {
          if (switchSequence(e, gps_multiplier.get(), t, 511)) continue;
          e.putSymbol(gps_multiplier.get(), 511);
          newSequence(e, t);
          break;
        }
        const int32_t D = gps_diffs[L];
        const float q = static_cast<float>(d) / static_cast<float>(D);
        const double h = q < 0 ? static_cast<double>(q) - 0.5 : static_cast<double>(q) + 0.5;
        int32_t M;
        if (std::isnan(h)) {
          M = 0;
        } else if (h >= 2147483647.0) {
          M = INT32_MAX;
        } else if (h <= -2147483648.0) {
          M = INT32_MIN;
        } else {
          M = static_cast<int32_t>(h);
        }
        auto times = [](int32_t a, int32_t b) {
          return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
        };
        bool extreme = false;
        if (M == 1) {
          e.putSymbol(gps_multiplier.get(), 1);
          gps->encode(D, d, 1);
          gps_extreme[L] = 0;
        } else if (M >= 2 && M <= 499) {
          e.putSymbol(gps_multiplier.get(), static_cast<uint32_t>(M));
          gps->encode(times(M, D), d, M <= 9 ? 2 : 3);
        } else if (M >= 500) {
          e.putSymbol(gps_multiplier.get(), 500);
          gps->encode(times(500, D), d, 4);
          extreme = true;
        } else if (M == 0) {
          e.putSymbol(gps_multiplier.get(), 0);
          gps->encode(0, d, 7);
          extreme = true;
        } else if (M >= -9) {
          e.putSymbol(gps_multiplier.get(), static_cast<uint32_t>(500 - M));
          gps->encode(times(M, D), d, 5);
        } else {
          e.putSymbol(gps_multiplier.get(), 510);
          gps->encode(times(-10, D), d, 6);
          extreme = true;
        }
        if (extreme && ++gps_extreme[L] > 3) {
          gps_diffs[L] = d;
          gps_extreme[L] = 0;
        }
        break;
      }
      gps_times[L] = t;
    }

    // Codes a switch to the first other sequence whose time is near `t`.
    bool switchSequence(EntropyEncoder& e, AdaptiveSymbolModel* m, uint64_t t, uint32_t base) {
      for (uint32_t i = 1; i <= 3; ++i) {
        const uint32_t s = (gps_last + i) & 3;
        if (fits(t - gps_times[s])) {
          e.putSymbol(m, base + i);
          gps_last = s;
          return true;
        }
      }
      return false;
    }

    void newSequence(EntropyEncoder& e, uint64_t t) {
      gps->encode(static_cast<int32_t>(gps_times[gps_last] >> 32), static_cast<int32_t>(t >> 32),
                  8);
      e.putRawU32(static_cast<uint32_t>(t));
      gps_next = (gps_next + 1) & 3;
      gps_last = gps_next;
      gps_diffs[gps_last] = 0;
      gps_extreme[gps_last] = 0;
    }
  };

  bool v4;
  std::array<Layer, 9> layers;
  std::array<std::unique_ptr<Ctx>, 4> ctx;  // null: not prepared in this chunk
  uint32_t cur = 0;
  bool changed[9] = {};
};

// ---------------------------------------- items that follow POINT14

// The four channel contexts of the colour, wave packet and extra-byte coders and
// the choice of the reference after a switch.
template <class Ctx>
struct Channels {
  bool v4;
  std::array<std::unique_ptr<Ctx>, 4> ctx;
  uint32_t cur = 0;

  template <class Make>
  void first(uint32_t context, Make make) {
    cur = context & 3;
    ctx[cur] = make();
  }
  // Returns the context to code with; `ref` becomes the context that holds R.
  template <class Make>
  Ctx& select(uint32_t context, Ctx*& ref, Make make) {
    const uint32_t o = cur;
    ref = ctx[o].get();
    const uint32_t n = context & 3;
    if (n != o) {
      cur = n;
      if (!ctx[n]) {
        ctx[n] = make(*ctx[o]);
        ref = ctx[n].get();
      } else if (v4) {
        ref = ctx[n].get();
      }
    }
    return *ctx[cur];
  }
};

class Rgb14 final : public ChunkItem {
 public:
  Rgb14(bool v4, bool nir) : nir(nir) { ch.v4 = v4; }

  void first(const uint8_t* item, uint32_t& context) override {
    uint16_t c[4];
    read(item, c);
    ch.first(context, [&] { return make(c); });
  }
  void next(const uint8_t* item, uint32_t& context) override {
    Ctx* ref = nullptr;
    Ctx& x = ch.select(context, ref, [&](const Ctx& o) { return make(o.last); });
    uint16_t c[4];
    read(item, c);
    AdaptiveSymbolModel* diff[6];
    for (int i = 0; i < 6; ++i) diff[i] = x.rgb_diff[i].get();
    if (morrowtide::codeRgbDifference(rgb.enc, x.byte_used.get(), diff, ref->last, c) != 0)
      changed_rgb = true;
    if (nir) {
      const uint32_t v = c[3], w = ref->last[3];
      const uint32_t lo = (v & 0xFF) != (w & 0xFF), hi = (v >> 8) != (w >> 8);
      nir_layer.enc.putSymbol(x.nir_used.get(), lo | hi << 1);
      if (lo) nir_layer.enc.putSymbol(x.nir_diff[0].get(), (v - w) & 0xFF);
      if (hi) nir_layer.enc.putSymbol(x.nir_diff[1].get(), ((v >> 8) - (w >> 8)) & 0xFF);
      if (lo || hi) changed_nir = true;
    }
    std::memcpy(ref->last, c, sizeof(c));
  }
  void sizes(Bytes& out) override {
    rgb.finish();
    sizeOf(out, rgb, changed_rgb);
    if (nir) {
      nir_layer.finish();
      sizeOf(out, nir_layer, changed_nir);
    }
  }
  void bytes(Bytes& out) override {
    bytesOf(out, rgb, changed_rgb);
    if (nir) bytesOf(out, nir_layer, changed_nir);
  }

 private:
  struct Ctx {
    uint16_t last[4];
    Model byte_used, rgb_diff[6], nir_used, nir_diff[2];
  };
  void read(const uint8_t* item, uint16_t c[4]) const {
    for (int i = 0; i < 4; ++i)
      c[i] = i < 3 || nir ? static_cast<uint16_t>(le(item + 2 * i, 2)) : 0;
  }
  std::unique_ptr<Ctx> make(const uint16_t seed[4]) {
    auto x = std::make_unique<Ctx>();
    x->byte_used = freshModel(rgb.enc, 128);
    for (Model& m : x->rgb_diff) m = freshModel(rgb.enc, 256);
    if (nir) {
      x->nir_used = freshModel(nir_layer.enc, 4);
      for (Model& m : x->nir_diff) m = freshModel(nir_layer.enc, 256);
    }
    std::memcpy(x->last, seed, sizeof(x->last));
    return x;
  }
  bool nir;
  Layer rgb, nir_layer;
  bool changed_rgb = false, changed_nir = false;
  Channels<Ctx> ch;
};

class WavePacket14 final : public ChunkItem {
 public:
  explicit WavePacket14(bool v4) { ch.v4 = v4; }

  void first(const uint8_t* item, uint32_t& context) override {
    ch.first(context, [&] { return make(item); });
  }
  void next(const uint8_t* item, uint32_t& context) override {
    Ctx* ref = nullptr;
    Ctx& x = ch.select(context, ref, [&](const Ctx& o) { return make(o.last); });
    if (std::memcmp(item, ref->last, 29) != 0) changed = true;
    AdaptiveSymbolModel* offs[4];
    for (int i = 0; i < 4; ++i) offs[i] = x.offset_symbol[i].get();
    morrowtide::codeWavePacket(layer.enc, item, ref->last + 1, x.packet_index.get(), offs,
                               *x.offset_diff, *x.size, *x.location, *x.xyz, x.last_offset_diff,
                               x.last_offset_symbol);
    std::memcpy(ref->last, item, 29);
  }
  void sizes(Bytes& out) override {
    layer.finish();
    sizeOf(out, layer, changed);
  }
  void bytes(Bytes& out) override { bytesOf(out, layer, changed); }

 private:
  struct Ctx {
    uint8_t last[29];
    int32_t last_offset_diff = 0;
    uint32_t last_offset_symbol = 0;
    Model packet_index, offset_symbol[4];
    std::unique_ptr<IntegerResidualCoder> offset_diff, size, location, xyz;
  };
  std::unique_ptr<Ctx> make(const uint8_t* seed) {
    auto x = std::make_unique<Ctx>();
    x->packet_index = freshModel(layer.enc, 256);
    for (Model& m : x->offset_symbol) m = freshModel(layer.enc, 4);
    x->offset_diff = coder(layer, 32, 1);
    x->size = coder(layer, 32, 1);
    x->location = coder(layer, 32, 1);
    x->xyz = coder(layer, 32, 3);
    std::memcpy(x->last, seed, 29);
    return x;
  }
  Layer layer;
  bool changed = false;
  Channels<Ctx> ch;  // after the layer: its coders delete models through it
};

class Byte14 final : public ChunkItem {
 public:
  Byte14(bool v4, uint32_t number) : number(number), layers(number), changed(number, false) {
    ch.v4 = v4;
  }

  void first(const uint8_t* item, uint32_t& context) override {
    ch.first(context, [&] { return make(item); });
  }
  void next(const uint8_t* item, uint32_t& context) override {
    Ctx* ref = nullptr;
    Ctx& x = ch.select(context, ref, [&](const Ctx& o) { return make(o.last.data()); });
    for (uint32_t i = 0; i < number; ++i) {
      const uint32_t d = static_cast<uint32_t>(item[i]) - ref->last[i];
      layers[i].enc.putSymbol(x.models[i].get(), d & 0xFF);
      if ((d & 0xFF) != 0) {
        changed[i] = true;
        ref->last[i] = item[i];
      }
    }
  }
  void sizes(Bytes& out) override {
    for (uint32_t i = 0; i < number; ++i) {
      layers[i].finish();
      sizeOf(out, layers[i], changed[i]);
    }
  }
  void bytes(Bytes& out) override {
    for (uint32_t i = 0; i < number; ++i) bytesOf(out, layers[i], changed[i]);
  }

 private:
  struct Ctx {
    Bytes last;
    std::vector<Model> models;
  };
  std::unique_ptr<Ctx> make(const uint8_t* seed) {
    auto x = std::make_unique<Ctx>();
    for (uint32_t i = 0; i < number; ++i) x->models.push_back(freshModel(layers[i].enc, 256));
    x->last.assign(seed, seed + number);
    return x;
  }
  uint32_t number;
  std::vector<Layer> layers;
  std::vector<bool> changed;
  Channels<Ctx> ch;
};

// ------------------------------------------------------ the point data

// Builds the point data of compressor 3 for a LAS 1.4 item list as it appears on
// a seekable stream attached at position 0.
class PointData {
 public:
  // chunk_size 0: variable chunks, ended by closeChunk().
  PointData(std::vector<LASitem> items, uint32_t chunk_size)
      : items(std::move(items)), chunk_size(chunk_size) {
    appendLE(out, 0, 8);  // the table position, filled in by finish()
  }

  void write(const uint8_t* const* item_pointers) {
    if (chunk_size != 0 && count == chunk_size) endChunk();
    uint32_t context = 0;
    if (count == 0) {
      coders.clear();
      for (const LASitem& it : items) coders.push_back(make(it));
      for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].type == LASitem::POINT14) {
          const auto raw = rawPoint14(item_pointers[i]);
          out.insert(out.end(), raw.begin(), raw.end());
        } else {
          out.insert(out.end(), item_pointers[i], item_pointers[i] + items[i].size);
        }
        coders[i]->first(item_pointers[i], context);
      }
    } else {
      for (size_t i = 0; i < items.size(); ++i) coders[i]->next(item_pointers[i], context);
    }
    ++count;
  }

  void closeChunk() { endChunk(); }
  size_t chunks() const { return chunk_bytes.size(); }

  Bytes finish() {
    if (count != 0) endChunk();
    const uint64_t table = out.size();
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(table >> (8 * i));
    appendLE(out, 0, 4);
    appendLE(out, chunk_bytes.size(), 4);
    if (!chunk_bytes.empty()) {
      ByteStreamOutArrayLE s;
      EntropyEncoder e;
      e.start(&s);
      IntegerResidualCoder ic(&e, 32, 2, 8, 0);
      ic.startEncoding();
      uint32_t prev_count = 0, prev_bytes = 0;
      for (size_t i = 0; i < chunk_bytes.size(); ++i) {
        if (chunk_size == 0) {
          ic.encode(static_cast<int32_t>(prev_count), static_cast<int32_t>(chunk_counts[i]), 0);
          prev_count = chunk_counts[i];
        }
        ic.encode(static_cast<int32_t>(prev_bytes), static_cast<int32_t>(chunk_bytes[i]), 1);
        prev_bytes = chunk_bytes[i];
      }
      e.finish();
      out.insert(out.end(), s.data(), s.data() + s.byteCount());
    }
    return out;
  }

 private:
  static std::unique_ptr<ChunkItem> make(const LASitem& it) {
    const bool v4 = it.version == 4;
    switch (it.type) {
      case LASitem::POINT14:
        return std::make_unique<Point14>(v4);
      case LASitem::RGB14:
        return std::make_unique<Rgb14>(v4, false);
      case LASitem::RGBNIR14:
        return std::make_unique<Rgb14>(v4, true);
      case LASitem::WAVEPACKET14:
        return std::make_unique<WavePacket14>(v4);
      default:
        return std::make_unique<Byte14>(v4, it.size);
    }
  }

  void endChunk() {
    appendLE(out, count, 4);
    for (auto& c : coders) c->sizes(out);
    for (auto& c : coders) c->bytes(out);
    chunk_counts.push_back(count);
    chunk_bytes.push_back(static_cast<uint32_t>(out.size() - chunk_start));
    chunk_start = out.size();
    count = 0;
  }

  std::vector<LASitem> items;
  uint32_t chunk_size;
  Bytes out;
  size_t chunk_start = 8;
  uint32_t count = 0;
  std::vector<std::unique_ptr<ChunkItem>> coders;
  std::vector<uint32_t> chunk_counts, chunk_bytes;
};

}  // namespace layered_reference

#endif  // MORROWTIDE_TESTS_COMPRESSOR_LAYERED_REFERENCE_H
