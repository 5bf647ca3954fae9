// Seeded LAS 1.4 test points laid out as the in-memory point of the LAS writer
// (the 40-byte point view, colour at 40, wave packet at 48), for the round trips
// of formats 6 to 10 through the point-record writer and the LAS writer.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_SCAN_POINTS14_H
#define MORROWTIDE_TESTS_COMPRESSOR_SCAN_POINTS14_H

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/compressor/item_reader_support.h"

namespace scan_points14 {

using item_readers::putLE;

// In-memory places of the LAS 1.4 items beside the 40-byte point view.
constexpr size_t kColourAt = 40;
constexpr size_t kWavePacketAt = 48;
constexpr size_t kPointBytes = 77;

// Seeded LAS 1.4 points: four scanner channels in runs and single switches,
// every (return number, number of returns) pair of 0..15, times on five far
// apart ranges and the signed zeros, and now and then legacy fields that
// disagree with the LAS 1.4 ones (class, class flags) or a legacy point.
class ScanPoints14 {
 public:
  explicit ScanPoints14(uint32_t seed) : rng(seed) {}

  // Fills `point` (kPointBytes) and `extra` (the extra bytes).
  void next(uint8_t* point, std::vector<uint8_t>& extra) {
    std::memset(point, 0, kPointBytes);
    if (index % 37 == 0) channel = below(4);
    uint32_t c = channel;
    if (index % 7 == 3) c = below(4);  // a single point of another channel
    if (index % 5 == 0) {
      const uint32_t pair = (index / 5) % 256;
      r = pair & 15;
      n = pair >> 4;
    } else if (r < n) {
      ++r;
    } else {
      n = 1 + below(15);
      r = 1;
    }
    xs[c] += 20 + static_cast<uint32_t>(around(3));
    ys[c] += static_cast<uint32_t>(around(2));
    zs[c] += static_cast<uint32_t>(around(30));
    if (index % 53 == 7) xs[c] ^= 0x80000000u;
    putLE(point + 0, xs[c], 4);
    putLE(point + 4, ys[c] + 1000 * c, 4);
    putLE(point + 8, zs[c], 4);
    uint32_t intensity = 200 + 30 * r + below(20);
    if (index % 29 == 3) intensity = (index / 29) % 2 ? 65535 : 0;
    putLE(point + 12, intensity, 2);
    const uint32_t direction = (index / 90) % 2;
    const uint32_t edge = index % 71 == 70;
    const bool legacy = index % 61 == 30;
    uint8_t cls = r == n ? 2 : 5;
    if (index % 19 == 4) cls = static_cast<uint8_t>(below(256));
    // The legacy byte: return number, number of returns (3 bits each), direction, edge.
    point[14] = static_cast<uint8_t>((r & 7) | (n & 7) << 3 | direction << 6 | edge << 7);
    // The legacy class byte: usually the 5-bit copy of the class or 0 for a class
    // above 31; on some points another class or other flag bits (disagreeing copies).
    uint32_t flags = (index / 13) % 16;
    uint8_t legacy_class = cls < 32 ? cls : 0;
    uint32_t legacy_flags = flags & 7;
    if (index % 17 == 5) legacy_class = static_cast<uint8_t>(below(32));
    if (index % 23 == 9) legacy_flags = below(8);
    point[15] = static_cast<uint8_t>(legacy_class | legacy_flags << 5);
    point[16] = static_cast<uint8_t>(static_cast<int8_t>(around(90)));
    point[17] = index % 11 == 4 ? static_cast<uint8_t>(below(256)) : static_cast<uint8_t>(c);
    if (index % 300 == 299) source = static_cast<uint16_t>(source + 1);
    putLE(point + 18, index % 43 == 8 ? below(65536) : source, 2);
    int32_t angle = static_cast<int32_t>((index / 3) % 5000) - 2500;
    if (index % 47 == 6) angle = (index / 47) % 2 ? 32767 : -32768;
    putLE(point + 20, static_cast<uint32_t>(angle), 2);
    point[22] = static_cast<uint8_t>((legacy ? 0 : 1) | c << 2 | flags << 4);
    point[23] = cls;
    point[24] = static_cast<uint8_t>(r | n << 4);
    putLE(point + 32, time(c), 8);
    colour(point + kColourAt, c);
    wavePacket(point + kWavePacketAt);
    for (size_t i = 0; i < extra.size(); ++i) {
      if (i == 1 || index % 9 == 2) extra[i] = static_cast<uint8_t>(extra[i] + around(2));
    }
    ++index;
  }

 private:
  uint32_t below(uint32_t k) { return rng() % k; }
  int32_t around(int32_t spread) { return static_cast<int32_t>(below(2 * spread + 1)) - spread; }

  uint64_t time(uint32_t c) {
    static const double kRanges[5] = {1e5, 3e8, 7e9, 2e11, 5e13};
    times[c] += 0.00001 * (1 + index % 3);
    double t = times[c];
    if (index % 31 == 10) t += kRanges[(index / 31) % 5];  // far away, then back
    uint64_t bits;
    std::memcpy(&bits, &t, 8);
    switch (index % 101) {
      case 20:
        bits = 0;
        break;
      case 21:
        bits = 0x8000000000000000u;
        break;  // -0.0 after +0.0
      case 22:
        bits = 0;
        break;
      case 50:
        bits = 0x7FF8000000000000u;
        break;  // NaN
      case 51:
        bits = 0x7FF8000000000000u;
        break;  // the same NaN again
      default:
        break;
    }
    return bits;
  }

  void colour(uint8_t* p, uint32_t c) {
    for (uint16_t& v : rgb[c]) v = static_cast<uint16_t>(v + around(2));
    if (index % 200 < 60) rgb[c][1] = rgb[c][2] = rgb[c][0];  // grey
    for (int i = 0; i < 4; ++i) putLE(p + 2 * i, rgb[c][i], 2);
  }

  void wavePacket(uint8_t* p) {
    uint64_t offset = offset_next;
    uint32_t size = 256;
    if (index % 13 == 6) {
      switch ((index / 13) % 5) {
        case 0:
          offset = offset_next - 5000;
          break;
        case 1:
          offset = offset_next + 0x80000000u;
          break;
        case 2:
          size = 0;
          break;
        case 3:
          break;
        default:
          offset = offset_next - 256;
          size = 0x80000000u;
          break;
      }
    }
    p[0] = static_cast<uint8_t>(index % 97 == 5 ? below(256) : 1);
    putLE(p + 1, offset, 8);
    putLE(p + 9, size, 4);
    putLE(p + 13, 0x447A0000u + below(4096), 4);
    putLE(p + 17, rng(), 4);
    putLE(p + 21, 0x3A000000u, 4);
    putLE(p + 25, 0xBE19999Au, 4);
    offset_next = offset + size;
  }

  std::mt19937 rng;
  uint32_t index = 0;
  uint32_t channel = 0;
  uint32_t r = 1, n = 1;
  uint32_t xs[4] = {100000, 300000, 500000, 700000};
  uint32_t ys[4] = {1000, 2000, 3000, 4000};
  uint32_t zs[4] = {500, 600, 700, 800};
  uint16_t source = 11;
  double times[4] = {1000.0, 1000.5, 2000.0, 3000.0};
  uint16_t rgb[4][4] = {
      {100, 200, 300, 400}, {5000, 5000, 5000, 9}, {65535, 0, 65535, 0}, {7, 8, 9, 10}};
  uint64_t offset_next = 1000;
};

}  // namespace scan_points14

#endif  // MORROWTIDE_TESTS_COMPRESSOR_SCAN_POINTS14_H
