// Test-only decoders of the version 2 item codings (point, GPS time, colour,
// extra bytes), built on EntropyDecoder and the decoding half of
// IntegerResidualCoder. They follow the coding rules from the decoding side (each
// field is rebuilt from the symbols read) so that a writer that takes a wrong
// decision no longer round-trips. startChunk takes the chunk's raw first item,
// readItem fills in the next one.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V2_H
#define MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V2_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/rolling_median5.h"
#include "tests/compressor/item_reader_support.h"

namespace readers_v2 {

using item_readers::getLE;
using item_readers::ModelSet;
using item_readers::putLE;

// The 20-byte point.
class Point10Reader {
 public:
  explicit Point10Reader(EntropyDecoder* dec)
      : dec(dec),
        models(dec),
        intensity(dec, 16, 4, 8, 0),
        point_source(dec, 16, 1, 8, 0),
        dx(dec, 32, 2, 8, 0),
        dy(dec, 32, 22, 8, 0),
        z(dec, 32, 20, 8, 0) {
    changed = models.make(64);
    angle[0] = models.make(256);
    angle[1] = models.make(256);
  }

  void startChunk(const uint8_t* first) {
    std::memcpy(last, first, 20);
    for (auto& v : last_intensity) v = 0;
    for (auto& v : last_z) v = 0;
    for (auto& m : x_median) m.reset();
    for (auto& m : y_median) m.reset();
    dec->resetSymbolModel(changed, nullptr);
    dec->resetSymbolModel(angle[0], nullptr);
    dec->resetSymbolModel(angle[1], nullptr);
    for (auto* set : {&return_models, &class_models, &user_models}) {
      for (AdaptiveSymbolModel* m : *set) {
        if (m) dec->resetSymbolModel(m, nullptr);
      }
    }
    intensity.startDecoding();
    point_source.startDecoding();
    dx.startDecoding();
    dy.startDecoding();
    z.startDecoding();
  }

  void readItem(uint8_t* item) {
    static const uint8_t kClass[8][8] = {
        {15, 14, 13, 12, 11, 10, 9, 8},  {14, 0, 1, 3, 6, 10, 10, 9},
        {13, 1, 2, 4, 7, 11, 11, 10},    {12, 3, 4, 5, 8, 12, 12, 11},
        {11, 6, 7, 8, 9, 13, 13, 12},    {10, 10, 11, 12, 13, 14, 14, 13},
        {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15},
    };
    const uint32_t bits = dec->getSymbol(changed);
    std::memcpy(item, last, 20);

    if (bits & 32)
      item[14] = static_cast<uint8_t>(dec->getSymbol(byPrevious(return_models, last[14])));
    const int n = (item[14] >> 3) & 7;
    const int r = item[14] & 7;
    const int m = kClass[n][r];
    const int l = n > r ? n - r : r - n;
    const uint32_t e = n == 1;

    if (bits & 16) {
      last_intensity[m] = static_cast<uint16_t>(intensity.decode(last_intensity[m], m < 3 ? m : 3));
    }
    putLE(item + 12, last_intensity[m], 2);
    if (bits & 8)
      item[15] = static_cast<uint8_t>(dec->getSymbol(byPrevious(class_models, last[15])));
    if (bits & 4)
      item[16] = static_cast<uint8_t>(last[16] + dec->getSymbol(angle[item[14] >> 6 & 1]));
    if (bits & 2)
      item[17] = static_cast<uint8_t>(dec->getSymbol(byPrevious(user_models, last[17])));
    if (bits & 1) {
      putLE(
          item + 18,
          static_cast<uint32_t>(point_source.decode(static_cast<int32_t>(getLE(last + 18, 2)), 0)),
          2);
    }

    const int32_t step_x = dx.decode(x_median[m].get(), e);
    x_median[m].add(step_x);
    putLE(item, getLE(last, 4) + static_cast<uint32_t>(step_x), 4);
    const uint32_t kx = dx.lastClass();
    const int32_t step_y = dy.decode(y_median[m].get(), e + (kx >= 20 ? 20 : kx / 2 * 2));
    y_median[m].add(step_y);
    putLE(item + 4, getLE(last + 4, 4) + static_cast<uint32_t>(step_y), 4);
    const uint32_t sum = kx + dy.lastClass();
    last_z[l] = z.decode(last_z[l], e + (sum >= 36 ? 18 : sum / 4 * 2));
    putLE(item + 8, static_cast<uint32_t>(last_z[l]), 4);

    std::memcpy(last, item, 20);
  }

 private:
  AdaptiveSymbolModel* byPrevious(AdaptiveSymbolModel* (&set)[256], uint8_t previous) {
    if (!set[previous]) {
      set[previous] = models.make(256);
      dec->resetSymbolModel(set[previous], nullptr);
    }
    return set[previous];
  }

  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* changed;
  AdaptiveSymbolModel* angle[2];
  AdaptiveSymbolModel* return_models[256] = {};
  AdaptiveSymbolModel* class_models[256] = {};
  AdaptiveSymbolModel* user_models[256] = {};
  IntegerResidualCoder intensity;
  IntegerResidualCoder point_source;
  IntegerResidualCoder dx;
  IntegerResidualCoder dy;
  IntegerResidualCoder z;
  uint8_t last[20] = {};
  uint16_t last_intensity[16] = {};
  int32_t last_z[8] = {};
  RollingMedian5 x_median[16];
  RollingMedian5 y_median[16];
};

// The GPS time as the 64-bit pattern of its F64.
class GpsTime11Reader {
 public:
  explicit GpsTime11Reader(EntropyDecoder* dec) : dec(dec), models(dec), coder(dec, 32, 9, 8, 0) {
    multiplier = models.make(516);
    zero_diff = models.make(6);
  }

  void startChunk(const uint8_t* first) {
    current = 0;
    newest = 0;
    for (int i = 0; i < 4; ++i) {
      time[i] = 0;
      step[i] = 0;
      extremes[i] = 0;
    }
    std::memcpy(&time[0], first, 8);
    dec->resetSymbolModel(multiplier, nullptr);
    dec->resetSymbolModel(zero_diff, nullptr);
    coder.startDecoding();
  }

  void readItem(uint8_t* item) {
    for (;;) {
      const int32_t D = step[current];
      const uint32_t s = dec->getSymbol(D == 0 ? zero_diff : multiplier);
      // Symbols with the same meaning in both models: same time, new sequence,
      // switch by 1 to 3 slots.
      const uint32_t same = D == 0 ? 0 : 511;
      const uint32_t fresh = D == 0 ? 2 : 512;
      if (s == same) break;
      if (s == fresh) {
        const uint64_t high =
            static_cast<uint32_t>(coder.decode(static_cast<int32_t>(time[current] >> 32), 8));
        const uint64_t low = dec->getRawU32();
        newest = (newest + 1) % 4;
        current = newest;
        step[current] = 0;
        extremes[current] = 0;
        time[current] = high << 32 | low;
        break;
      }
      if (s > fresh) {
        current = (current + s - fresh) % 4;
        continue;
      }
      int32_t d;
      if (D == 0) {  // s == 1: the sequence's first step
        d = coder.decode(0, 0);
        step[current] = d;
        extremes[current] = 0;
      } else {
        bool extreme = false;
        if (s == 0) {
          d = coder.decode(0, 7);
          extreme = true;
        } else if (s == 1) {
          d = coder.decode(D, 1);
          extremes[current] = 0;
        } else if (s < 500) {
          d = coder.decode(times(s, D), s > 9 ? 3 : 2);
        } else if (s == 500) {
          d = coder.decode(times(500, D), 4);
          extreme = true;
        } else if (s < 510) {
          d = coder.decode(times(500 - static_cast<int32_t>(s), D), 5);
        } else {
          d = coder.decode(times(-10, D), 6);
          extreme = true;
        }
        if (extreme && ++extremes[current] > 3) {
          step[current] = d;
          extremes[current] = 0;
        }
      }
      time[current] += static_cast<uint64_t>(static_cast<int64_t>(d));
      break;
    }
    std::memcpy(item, &time[current], 8);
  }

  uint32_t sequence() const { return current; }
  int32_t stepOf(uint32_t i) const { return step[i]; }

 private:
  static int32_t times(int64_t m, int32_t D) {
    return static_cast<int32_t>(static_cast<uint32_t>(m * D));
  }

  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* multiplier;
  AdaptiveSymbolModel* zero_diff;
  IntegerResidualCoder coder;
  uint32_t current = 0;
  uint32_t newest = 0;
  uint64_t time[4] = {};
  int32_t step[4] = {};
  int32_t extremes[4] = {};
};

// Red, green, blue, U16 each.
class Rgb12Reader {
 public:
  explicit Rgb12Reader(EntropyDecoder* dec) : dec(dec), models(dec) {
    used = models.make(128);
    for (auto& m : diff) m = models.make(256);
  }

  void startChunk(const uint8_t* first) {
    std::memcpy(last, first, 6);
    dec->resetSymbolModel(used, nullptr);
    for (auto* m : diff) dec->resetSymbolModel(m, nullptr);
  }

  void readItem(uint8_t* item) {
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    const uint32_t bits = dec->getSymbol(used);
    uint8_t out[6];
    std::memcpy(out, last, 6);
    auto read = [&](int i, int prediction) {
      if (bits & (1u << i)) out[i] = static_cast<uint8_t>(prediction + dec->getSymbol(diff[i]));
    };
    read(0, last[0]);
    read(1, last[1]);
    const int red_low_change = out[0] - last[0];
    const int red_high_change = out[1] - last[1];
    if (bits & 64) {
      read(2, clamp(last[2] + red_low_change));
      read(4, clamp(last[4] + (red_low_change + out[2] - last[2]) / 2));
      read(3, clamp(last[3] + red_high_change));
      read(5, clamp(last[5] + (red_high_change + out[3] - last[3]) / 2));
    } else {
      out[2] = out[4] = out[0];
      out[3] = out[5] = out[1];
    }
    std::memcpy(item, out, 6);
    std::memcpy(last, out, 6);
  }

 private:
  EntropyDecoder* dec;
  ModelSet models;
  AdaptiveSymbolModel* used;
  AdaptiveSymbolModel* diff[6];
  uint8_t last[6] = {};
};

// `number` extra bytes.
class ByteReader {
 public:
  ByteReader(EntropyDecoder* dec, uint32_t number) : dec(dec), models(dec), last(number) {
    for (uint32_t i = 0; i < number; ++i) per_byte.push_back(models.make(256));
  }

  void startChunk(const uint8_t* first) {
    std::memcpy(last.data(), first, last.size());
    for (auto* m : per_byte) dec->resetSymbolModel(m, nullptr);
  }

  void readItem(uint8_t* item) {
    for (size_t i = 0; i < last.size(); ++i) {
      last[i] = static_cast<uint8_t>(last[i] + dec->getSymbol(per_byte[i]));
    }
    std::memcpy(item, last.data(), last.size());
  }

 private:
  EntropyDecoder* dec;
  ModelSet models;
  std::vector<uint8_t> last;
  std::vector<AdaptiveSymbolModel*> per_byte;
};

}  // namespace readers_v2

#endif  // MORROWTIDE_TESTS_COMPRESSOR_ITEM_READERS_V2_H
