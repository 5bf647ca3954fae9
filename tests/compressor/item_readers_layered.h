// Test-only decoders of the layered LAS 1.4 item codings (versions 3 and 4):
// point, colour with and without near infrared, wave packet, extra bytes. They
// follow the coding rules from the decoding side (each field rebuilt from the
// symbols read, a field whose layer is absent copied from the reference) so a
// writer that takes a wrong decision no longer round-trips. A reader decodes one
// chunk: startChunk takes the chunk's raw first item (as the file stores it) and
// the context word, attachLayers the layer bytes, readItem fills in the next
// item. The point reader yields the 30-byte records of formats 6 to 10.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_LAYERED_H
#define MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_LAYERED_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/rolling_median5.h"
#include "tests/compressor/item_reader_support.h"

namespace readers_layered {

using item_readers::getLE;
using item_readers::getLE64;
using item_readers::ModelSet;
using item_readers::putLE;

// One layer: its bytes and a decoder over them, started only when present.
struct LayerIn {
  std::unique_ptr<morrowtide::ByteStreamInArray> in;
  EntropyDecoder dec;
  bool present = false;
};

class LayeredReader {
  std::vector<std::unique_ptr<LayerIn>> layers;  // first: the coders below decode from them

 public:
  explicit LayeredReader(uint32_t num_layers) : layers(num_layers), models(&model_decoder) {
    for (auto& l : layers) l = std::make_unique<LayerIn>();
  }
  virtual ~LayeredReader() = default;
  uint32_t numLayers() const { return static_cast<uint32_t>(layers.size()); }
  // Layer i's `size` bytes at `data`; size 0 means the layer was left out.
  void attachLayer(uint32_t i, const uint8_t* data, uint32_t size) {
    LayerIn& l = *layers[i];
    l.present = size != 0;
    l.in = std::make_unique<morrowtide::ByteStreamInArray>(data, size);
    if (l.present) l.dec.start(l.in.get(), true);
  }
  // Bytes decoding asked of layer i (its size when the coding was exact).
  size_t consumed(uint32_t i) const { return layers[i]->in ? layers[i]->in->position() : 0; }
  virtual void startChunk(const uint8_t* first, uint32_t& context) = 0;
  virtual void readItem(uint8_t* item, uint32_t& context) = 0;

 protected:
  EntropyDecoder model_decoder;  // only makes and deletes models; declared before them
  ModelSet models;
  EntropyDecoder* dec(uint32_t i) { return &layers[i]->dec; }
  bool present(uint32_t i) const { return layers[i]->present; }
  // The model in `slot`, made and reset at its first use.
  static AdaptiveSymbolModel* lazy(ModelSet& models, EntropyDecoder* d, AdaptiveSymbolModel*& slot,
                                   uint32_t symbols) {
    if (!slot) {
      slot = models.make(symbols);
      d->resetSymbolModel(slot, nullptr);
    }
    return slot;
  }
  // The context selection of the items after the point: returns the context
  // whose reference the item is coded against.
  template <class Ctx, class Prepare>
  static uint32_t select(Ctx (&ctx)[4], uint32_t& current, uint32_t word, bool v4,
                         Prepare prepare) {
    const uint32_t o = current;
    const uint32_t n = word & 3;
    if (n == o) return o;
    current = n;
    if (ctx[n].unprepared) {
      prepare(n, o);
      return n;
    }
    return v4 ? n : o;
  }
};

// The point: nine layers; yields 30-byte records.
class Point14Reader final : public LayeredReader {
 public:
  explicit Point14Reader(bool v4) : LayeredReader(9), v4(v4) {}

  void startChunk(const uint8_t* first, uint32_t& context) override {
    current = (first[15] >> 4) & 3;
    context = current;
    prepare(current, first);
  }

  void readItem(uint8_t* item, uint32_t& context) override {
    static const uint8_t kSel[16][16] = {
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
    EntropyDecoder* d0 = dec(0);
    Ctx& old = ctx[current];
    const uint8_t* P = old.last;
    const int pr = P[14] & 15, pn = P[14] >> 4;
    const uint32_t bits = d0->getSymbol(old.changed[(pr == 1) + 2 * (pr >= pn) + 4 * old.last_g]);

    uint8_t R[30];
    std::memcpy(R, P, 30);
    if (bits & 64) {
      const uint32_t c = (current + d0->getSymbol(old.channel) + 1) & 3;
      if (ctx[c].unprepared) {
        prepare(c, P);
      } else {
        std::memcpy(R, ctx[c].last, 30);
      }
      current = c;
      context = c;
    } else if (v4) {
      context = current;
    }
    Ctx& x = ctx[current];
    const uint32_t g = (bits >> 4) & 1;
    const uint32_t nR = R[14] >> 4, rR = R[14] & 15;
    uint32_t n = nR;
    if (bits & 4) n = d0->getSymbol(lazy(models, d0, x.nret[nR], 16));
    uint32_t r = rR;
    switch (bits & 3) {
      case 1:
        r = (rR + 1) & 15;
        break;
      case 2:
        r = (rR + 15) & 15;
        break;
      case 3:
        r = g ? d0->getSymbol(lazy(models, d0, x.rnum[rR], 16))
              : (rR + 2 + d0->getSymbol(x.same_time)) & 15;
        break;
    }
    uint8_t out[30];
    std::memcpy(out, R, 30);
    out[14] = static_cast<uint8_t>(r | n << 4);
    out[15] = static_cast<uint8_t>((R[15] & 0xCF) | current << 4);

    const uint32_t m = kSel[n][r];
    const uint32_t l = (n > r ? n - r : r - n) > 7 ? 7 : (n > r ? n - r : r - n);
    const uint32_t i = 2 * m + g;
    const uint32_t e = n == 1;
    const int32_t dx = x.dx->decode(x.xm[i].get(), e);
    x.xm[i].add(dx);
    putLE(out, getLE(R, 4) + static_cast<uint32_t>(dx), 4);
    const uint32_t kx = x.dx->lastClass();
    const int32_t dy = x.dy->decode(x.ym[i].get(), e | (kx < 20 ? kx & ~1u : 20));
    x.ym[i].add(dy);
    putLE(out + 4, getLE(R + 4, 4) + static_cast<uint32_t>(dy), 4);
    const uint32_t k = kx + x.dy->lastClass();
    x.last_z[l] = x.z->decode(x.last_z[l], e | (k < 36 ? (k / 2) & ~1u : 18));
    putLE(out + 8, static_cast<uint32_t>(x.last_z[l]), 4);

    const uint32_t cpr = (r >= n) + 2 * (r == 1);
    if (present(2)) {
      out[16] = static_cast<uint8_t>(
          dec(2)->getSymbol(lazy(models, dec(2), x.cls[2 * (R[16] & 31) + (cpr == 3)], 256)));
    }
    const uint32_t fR = (R[15] & 15) | ((R[15] >> 2) & 0x30);
    if (present(3)) {
      const uint32_t f = dec(3)->getSymbol(lazy(models, dec(3), x.flg[fR], 64));
      out[15] = static_cast<uint8_t>((f & 15) | current << 4 | (f & 0x30) << 2);
    }
    const uint32_t j = 2 * cpr + g;
    uint32_t intensity = getLE(R + 12, 2);
    if (present(4))
      intensity = static_cast<uint16_t>(x.intensity->decode(x.last_intensity[j], cpr));
    x.last_intensity[j] = static_cast<uint16_t>(intensity);
    putLE(out + 12, intensity, 2);
    if (bits & 8) {
      const int32_t a = x.angle->decode(static_cast<int16_t>(getLE(R + 18, 2)), g);
      putLE(out + 18, static_cast<uint32_t>(a), 2);
    }
    if (present(6))
      out[17] =
          static_cast<uint8_t>(dec(6)->getSymbol(lazy(models, dec(6), x.usr[R[17] / 4], 256)));
    if (bits & 32) {
      putLE(out + 20,
            static_cast<uint32_t>(x.source->decode(static_cast<int32_t>(getLE(R + 20, 2)), 0)), 2);
    }
    if (g) putLE(out + 22, readTime(x), 8);
    std::memcpy(item, out, 30);
    std::memcpy(x.last, out, 30);
    x.last_g = static_cast<uint8_t>(g);
  }

  uint32_t gpsSequence(uint32_t c) const { return ctx[c].L; }

 private:
  struct Ctx {
    bool unprepared = true;
    bool created = false;
    uint8_t last[30] = {};
    uint8_t last_g = 0;
    uint16_t last_intensity[8] = {};
    RollingMedian5 xm[12], ym[12];
    int32_t last_z[8] = {};
    AdaptiveSymbolModel* changed[8] = {};
    AdaptiveSymbolModel* channel = nullptr;
    AdaptiveSymbolModel* same_time = nullptr;
    AdaptiveSymbolModel* nret[16] = {};
    AdaptiveSymbolModel* rnum[16] = {};
    AdaptiveSymbolModel* cls[64] = {};
    AdaptiveSymbolModel* flg[64] = {};
    AdaptiveSymbolModel* usr[64] = {};
    std::unique_ptr<IntegerResidualCoder> dx, dy, z, intensity, angle, source, gps;
    AdaptiveSymbolModel* multiplier = nullptr;
    AdaptiveSymbolModel* zero_diff = nullptr;
    uint32_t L = 0, N = 0;
    uint64_t T[4] = {};
    int32_t D[4] = {};
    int32_t E[4] = {};
  };

  void prepare(uint32_t c, const uint8_t* seed) {
    Ctx& x = ctx[c];
    if (!x.created) {
      for (auto& m : x.changed) m = models.make(128);
      x.channel = models.make(3);
      x.same_time = models.make(13);
      x.dx = std::make_unique<IntegerResidualCoder>(dec(0), 32, 2, 8, 0);
      x.dy = std::make_unique<IntegerResidualCoder>(dec(0), 32, 22, 8, 0);
      x.z = std::make_unique<IntegerResidualCoder>(dec(1), 32, 20, 8, 0);
      x.intensity = std::make_unique<IntegerResidualCoder>(dec(4), 16, 4, 8, 0);
      x.angle = std::make_unique<IntegerResidualCoder>(dec(5), 16, 2, 8, 0);
      x.source = std::make_unique<IntegerResidualCoder>(dec(7), 16, 1, 8, 0);
      x.multiplier = models.make(515);
      x.zero_diff = models.make(5);
      x.gps = std::make_unique<IntegerResidualCoder>(dec(8), 32, 9, 8, 0);
      x.created = true;
    }
    // A reader decodes one chunk, so every context is fresh here.
    for (auto* m : x.changed) dec(0)->resetSymbolModel(m, nullptr);
    for (auto* m : {x.channel, x.same_time, x.multiplier, x.zero_diff})
      dec(0)->resetSymbolModel(m, nullptr);
    for (auto* coder : {x.dx.get(), x.dy.get(), x.z.get(), x.intensity.get(), x.angle.get(),
                        x.source.get(), x.gps.get()}) {
      coder->startDecoding();
    }
    for (auto& v : x.last_z) v = static_cast<int32_t>(getLE(seed + 8, 4));
    for (auto& v : x.last_intensity) v = static_cast<uint16_t>(getLE(seed + 12, 2));
    x.T[0] = getLE64(seed + 22);
    std::memcpy(x.last, seed, 30);
    x.last_g = 0;
    x.unprepared = false;
  }

  uint64_t readTime(Ctx& x) {
    EntropyDecoder* d8 = dec(8);
    auto times = [](int32_t m, int32_t D) {
      return static_cast<int32_t>(static_cast<uint32_t>(m) * static_cast<uint32_t>(D));
    };
    for (;;) {
      const int32_t D = x.D[x.L];
      if (D == 0) {
        const uint32_t s = d8->getSymbol(x.zero_diff);
        if (s == 0) {
          const int32_t d = x.gps->decode(0, 0);
          x.D[x.L] = d;
          x.E[x.L] = 0;
          x.T[x.L] += static_cast<uint64_t>(static_cast<int64_t>(d));
          return x.T[x.L];
        }
        if (s >= 2) {
          x.L = (x.L + s - 1) & 3;
          continue;
        }
      } else {
        const uint32_t s = d8->getSymbol(x.multiplier);
        if (s <= 510) {
          int32_t d;
          bool extreme = false;
          if (s == 0) {
            d = x.gps->decode(0, 7);
            extreme = true;
          } else if (s == 1) {
            d = x.gps->decode(D, 1);
            x.E[x.L] = 0;
          } else if (s < 500) {
            d = x.gps->decode(times(static_cast<int32_t>(s), D), s <= 9 ? 2 : 3);
          } else if (s == 500) {
            d = x.gps->decode(times(500, D), 4);
            extreme = true;
          } else if (s < 510) {
            d = x.gps->decode(times(500 - static_cast<int32_t>(s), D), 5);
          } else {
            d = x.gps->decode(times(-10, D), 6);
            extreme = true;
          }
          if (extreme && ++x.E[x.L] > 3) {
            x.D[x.L] = d;
            x.E[x.L] = 0;
          }
          x.T[x.L] += static_cast<uint64_t>(static_cast<int64_t>(d));
          return x.T[x.L];
        }
        if (s > 511) {
          x.L = (x.L + s - 511) & 3;
          continue;
        }
      }
      // A new sequence.
      const uint64_t high =
          static_cast<uint32_t>(x.gps->decode(static_cast<int32_t>(x.T[x.L] >> 32), 8));
      const uint64_t low = d8->getRawU32();
      x.N = (x.N + 1) & 3;
      x.L = x.N;
      x.D[x.L] = 0;
      x.E[x.L] = 0;
      x.T[x.L] = high << 32 | low;
      return x.T[x.L];
    }
  }

  const bool v4;
  uint32_t current = 0;
  Ctx ctx[4];
};

// Colour (R, G, B) and, with `nir`, near infrared: one or two layers.
class RgbNir14Reader final : public LayeredReader {
 public:
  RgbNir14Reader(bool nir, bool v4) : LayeredReader(nir ? 2 : 1), nir(nir), v4(v4) {}

  void startChunk(const uint8_t* first, uint32_t& context) override {
    current = context & 3;
    prepare(current, first);
  }

  void readItem(uint8_t* item, uint32_t& context) override {
    const uint32_t owner = select(ctx, current, context, v4,
                                  [this](uint32_t n, uint32_t o) { prepare(n, ctx[o].last); });
    Ctx& x = ctx[current];
    uint8_t* const last = ctx[owner].last;
    uint8_t out[8];
    std::memcpy(out, last, 8);
    if (present(0)) {
      EntropyDecoder* d = dec(0);
      auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
      const uint32_t bits = d->getSymbol(x.used);
      auto read = [&](int i, int prediction) {
        if (bits & (1u << i)) out[i] = static_cast<uint8_t>(prediction + d->getSymbol(x.diff[i]));
      };
      read(0, last[0]);
      read(1, last[1]);
      const int dl = out[0] - last[0];
      const int dh = out[1] - last[1];
      if (bits & 64) {
        read(2, clamp(last[2] + dl));
        read(4, clamp(last[4] + (dl + out[2] - last[2]) / 2));
        read(3, clamp(last[3] + dh));
        read(5, clamp(last[5] + (dh + out[3] - last[3]) / 2));
      } else {
        out[2] = out[4] = out[0];
        out[3] = out[5] = out[1];
      }
    }
    if (nir && present(1)) {
      EntropyDecoder* d = dec(1);
      const uint32_t mask = d->getSymbol(x.nir_used);
      if (mask & 1) out[6] = static_cast<uint8_t>(last[6] + d->getSymbol(x.nir_diff[0]));
      if (mask & 2) out[7] = static_cast<uint8_t>(last[7] + d->getSymbol(x.nir_diff[1]));
    }
    std::memcpy(item, out, nir ? 8 : 6);
    std::memcpy(last, out, 8);
  }

 private:
  struct Ctx {
    bool unprepared = true;
    uint8_t last[8] = {};
    AdaptiveSymbolModel* used = nullptr;
    AdaptiveSymbolModel* diff[6] = {};
    AdaptiveSymbolModel* nir_used = nullptr;
    AdaptiveSymbolModel* nir_diff[2] = {};
  };
  void prepare(uint32_t c, const uint8_t* seed) {
    Ctx& x = ctx[c];
    x.used = models.make(128);
    dec(0)->resetSymbolModel(x.used, nullptr);
    for (auto& m : x.diff) m = lazyNew(256);
    x.nir_used = lazyNew(4);
    for (auto& m : x.nir_diff) m = lazyNew(256);
    std::memcpy(x.last, seed, nir ? 8 : 6);
    if (!nir) x.last[6] = x.last[7] = 0;
    x.unprepared = false;
  }
  AdaptiveSymbolModel* lazyNew(uint32_t symbols) {
    AdaptiveSymbolModel* m = models.make(symbols);
    dec(0)->resetSymbolModel(m, nullptr);
    return m;
  }
  const bool nir, v4;
  uint32_t current = 0;
  Ctx ctx[4];
};

// The 29-byte wave packet: one layer.
class WavePacket14Reader final : public LayeredReader {
 public:
  explicit WavePacket14Reader(bool v4) : LayeredReader(1), v4(v4) {}

  void startChunk(const uint8_t* first, uint32_t& context) override {
    current = context & 3;
    prepare(current, first);
  }

  void readItem(uint8_t* item, uint32_t& context) override {
    const uint32_t owner = select(ctx, current, context, v4,
                                  [this](uint32_t n, uint32_t o) { prepare(n, ctx[o].last); });
    Ctx& x = ctx[current];
    uint8_t* const last = ctx[owner].last;
    if (present(0)) {
      EntropyDecoder* d = dec(0);
      uint8_t out[29];
      out[0] = static_cast<uint8_t>(d->getSymbol(x.index));
      const uint32_t s = d->getSymbol(x.offset_symbol[x.last_symbol]);
      x.last_symbol = s;
      const uint64_t last_offset = getLE64(last + 1);
      uint64_t offset = last_offset;
      if (s == 1) {
        offset = last_offset + getLE(last + 9, 4);
      } else if (s == 2) {
        x.last_diff = x.offset_diff->decode(x.last_diff, 0);
        offset = last_offset + static_cast<uint64_t>(static_cast<int64_t>(x.last_diff));
      } else if (s == 3) {
        offset = d->getRawU64();
      }
      putLE(out + 1, offset, 8);
      putLE(out + 9,
            static_cast<uint32_t>(x.size->decode(static_cast<int32_t>(getLE(last + 9, 4)), 0)), 4);
      putLE(out + 13,
            static_cast<uint32_t>(x.location->decode(static_cast<int32_t>(getLE(last + 13, 4)), 0)),
            4);
      for (uint32_t k = 0; k < 3; ++k) {
        putLE(out + 17 + 4 * k,
              static_cast<uint32_t>(
                  x.xyz->decode(static_cast<int32_t>(getLE(last + 17 + 4 * k, 4)), k)),
              4);
      }
      std::memcpy(last, out, 29);
    }
    std::memcpy(item, last, 29);
  }

 private:
  struct Ctx {
    bool unprepared = true;
    uint8_t last[29] = {};
    int32_t last_diff = 0;
    uint32_t last_symbol = 0;
    AdaptiveSymbolModel* index = nullptr;
    AdaptiveSymbolModel* offset_symbol[4] = {};
    std::unique_ptr<IntegerResidualCoder> offset_diff, size, location, xyz;
  };
  void prepare(uint32_t c, const uint8_t* seed) {
    Ctx& x = ctx[c];
    x.index = models.make(256);
    dec(0)->resetSymbolModel(x.index, nullptr);
    for (auto& m : x.offset_symbol) {
      m = models.make(4);
      dec(0)->resetSymbolModel(m, nullptr);
    }
    x.offset_diff = std::make_unique<IntegerResidualCoder>(dec(0), 32, 1, 8, 0);
    x.size = std::make_unique<IntegerResidualCoder>(dec(0), 32, 1, 8, 0);
    x.location = std::make_unique<IntegerResidualCoder>(dec(0), 32, 1, 8, 0);
    x.xyz = std::make_unique<IntegerResidualCoder>(dec(0), 32, 3, 8, 0);
    for (auto* coder : {x.offset_diff.get(), x.size.get(), x.location.get(), x.xyz.get()})
      coder->startDecoding();
    std::memcpy(x.last, seed, 29);
    x.unprepared = false;
  }
  const bool v4;
  uint32_t current = 0;
  Ctx ctx[4];
};

// `number` extra bytes: one layer per byte.
class Byte14Reader final : public LayeredReader {
 public:
  Byte14Reader(uint32_t number, bool v4) : LayeredReader(number), number(number), v4(v4) {}

  void startChunk(const uint8_t* first, uint32_t& context) override {
    current = context & 3;
    prepare(current, first);
  }

  void readItem(uint8_t* item, uint32_t& context) override {
    const uint32_t owner = select(ctx, current, context, v4, [this](uint32_t n, uint32_t o) {
      prepare(n, ctx[o].last.data());
    });
    Ctx& x = ctx[current];
    std::vector<uint8_t>& last = ctx[owner].last;
    for (uint32_t i = 0; i < number; ++i) {
      if (present(i)) last[i] = static_cast<uint8_t>(last[i] + dec(i)->getSymbol(x.models[i]));
    }
    if (number != 0) std::memcpy(item, last.data(), number);
  }

 private:
  struct Ctx {
    bool unprepared = true;
    std::vector<uint8_t> last;
    std::vector<AdaptiveSymbolModel*> models;
  };
  void prepare(uint32_t c, const uint8_t* seed) {
    Ctx& x = ctx[c];
    x.last.assign(seed, seed + number);
    x.models.clear();
    for (uint32_t i = 0; i < number; ++i) {
      x.models.push_back(models.make(256));
      x.models.back()->reset(nullptr);
    }
    x.unprepared = false;
  }
  const uint32_t number;
  const bool v4;
  uint32_t current = 0;
  Ctx ctx[4];
};

}  // namespace readers_layered

#endif  // MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_LAYERED_H
