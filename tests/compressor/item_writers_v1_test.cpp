// Tests of the version 1 item writers. Two kinds of proof:
// - scripts: each writer's output is compared byte for byte with a fresh encoder
//   driven by hand with exactly the symbols and residuals the coding calls for;
//   the scripts repeat a cycle of items many times first, so that every model and
//   context has adapted and a wrong one changes the bytes;
// - round trips: the test decoders in item_readers_v1 decode edge values and long
//   random sequences over several chunks back to the items, reading exactly the
//   bytes that were written.
#include "morrowtide/compressor/item_writers_v1.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "tests/compressor/item_readers_v1.h"

using morrowtide::ByteStreamInArray;

namespace {

using Bytes = std::vector<uint8_t>;
using Items = std::vector<Bytes>;

using item_readers::putLE;

uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof(u));
  return u;
}

int32_t i32(uint32_t u) { return static_cast<int32_t>(u); }

Bytes point(int32_t x, int32_t y, int32_t z, uint16_t intensity, uint8_t return_byte,
            uint8_t classification, uint8_t scan_angle_rank, uint8_t user_data,
            uint16_t point_source) {
  Bytes p(20);
  putLE(&p[0], static_cast<uint32_t>(x), 4);
  putLE(&p[4], static_cast<uint32_t>(y), 4);
  putLE(&p[8], static_cast<uint32_t>(z), 4);
  putLE(&p[12], intensity, 2);
  p[14] = return_byte;
  p[15] = classification;
  p[16] = scan_angle_rank;
  p[17] = user_data;
  putLE(&p[18], point_source, 2);
  return p;
}

Bytes gpsTime(uint64_t pattern) {
  Bytes t(8);
  putLE(t.data(), pattern, 8);
  return t;
}

Bytes gpsTimeF64(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof(u));
  return gpsTime(u);
}

Bytes colour(uint16_t r, uint16_t g, uint16_t b) {
  Bytes c(6);
  putLE(&c[0], r, 2);
  putLE(&c[2], g, 2);
  putLE(&c[4], b, 2);
  return c;
}

Bytes wavePacket(uint8_t index, uint64_t offset, uint32_t size, uint32_t location, uint32_t x,
                 uint32_t y, uint32_t z) {
  Bytes w(29);
  w[0] = index;
  putLE(&w[1], offset, 8);
  putLE(&w[9], size, 4);
  putLE(&w[13], location, 4);
  putLE(&w[17], x, 4);
  putLE(&w[21], y, 4);
  putLE(&w[25], z, 4);
  return w;
}

Bytes contents(const ByteStreamOutArrayLE& out) {
  return Bytes(out.data(), out.data() + out.byteCount());
}

// Codes one chunk the way the record writer does: the first item seeds the
// writer, the encoder starts, every later item is coded, the encoder finishes.
Bytes codeChunk(LASwriteItemCompressed& writer, EntropyEncoder& encoder, const Items& items) {
  ByteStreamOutArrayLE out;
  uint32_t context = 0;
  EXPECT_TRUE(writer.startChunk(items[0].data(), context));
  EXPECT_TRUE(encoder.start(&out));
  for (size_t i = 1; i < items.size(); ++i) EXPECT_TRUE(writer.writeItem(items[i].data(), context));
  encoder.finish();
  EXPECT_EQ(context, 0u);
  return contents(out);
}

// Decodes a chunk coded by codeChunk and checks that exactly its bytes are read.
Items decodeChunk(readers_v1::ItemReader& reader, EntropyDecoder& decoder, const Bytes& bytes,
                  const Items& items) {
  ByteStreamInArray in(bytes.data(), bytes.size());
  Items decoded{items[0]};
  reader.startChunk(items[0].data());
  EXPECT_TRUE(decoder.start(&in, true));
  for (size_t i = 1; i < items.size(); ++i) {
    Bytes item(items[0].size());
    reader.readItem(item.data());
    decoded.push_back(item);
  }
  decoder.finish();
  EXPECT_EQ(in.position(), bytes.size()) << "decoding must read exactly the bytes written";
  return decoded;
}

// A fresh encoder driven by hand, with models and residual coders made on it.
class HandCoder {
 public:
  HandCoder() { encoder.start(&out); }
  ~HandCoder() {
    coders.clear();
    for (AdaptiveSymbolModel* m : models) encoder.deleteSymbolModel(m);
  }
  AdaptiveSymbolModel* model(uint32_t symbols) {
    models.push_back(encoder.newSymbolModel(symbols));
    encoder.resetSymbolModel(models.back(), nullptr);
    return models.back();
  }
  IntegerResidualCoder& coder(uint32_t bits, uint32_t contexts) {
    coders.push_back(std::make_unique<IntegerResidualCoder>(&encoder, bits, contexts, 8, 0));
    coders.back()->startEncoding();
    return *coders.back();
  }
  void symbol(AdaptiveSymbolModel* m, uint32_t s) { encoder.putSymbol(m, s); }
  void raw64(uint64_t v) { encoder.putRawU64(v); }
  Bytes finish() {
    encoder.finish();
    return contents(out);
  }

 private:
  ByteStreamOutArrayLE out;
  EntropyEncoder encoder;
  std::vector<AdaptiveSymbolModel*> models;
  std::vector<std::unique_ptr<IntegerResidualCoder>> coders;
};

// ---------------------------------------------------------------------------
// POINT10

TEST(LASwriteItemCompressed_POINT10_v1, CodesCycleAndCoordinateExtremesAsScripted) {
  // Seed, then a cycle A, B, C whose steps sum to 0 (so it repeats exactly).
  const Bytes seed = point(0, 0, 100, 50, 0x11, 2, 10, 0, 7);
  const Bytes a = point(10, -10, 105, 60, 0x12, 3, 10, 0, 9);
  const Bytes b = point(30, -10, 105, 60, 0x11, 3, 250, 200, 9);
  const Bytes c = point(0, 0, 100, 50, 0x11, 2, 10, 0, 7);
  const int kCycles = 150;
  Items items{seed};
  for (int i = 0; i < kCycles; ++i) items.insert(items.end(), {a, b, c});
  // Coordinate jumps between the extremes, a class-32 X residual, a repeat.
  items.push_back(point(INT32_MIN, INT32_MAX, INT32_MIN, 50, 0x11, 2, 10, 0, 7));
  items.push_back(point(INT32_MAX, INT32_MIN, INT32_MAX, 50, 0x11, 2, 10, 0, 7));
  items.push_back(point(-31, INT32_MIN, INT32_MAX, 50, 0x11, 2, 10, 0, 7));
  items.push_back(items.back());

  EntropyEncoder encoder;
  LASwriteItemCompressed_POINT10_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  IntegerResidualCoder& dx = h.coder(32, 1);
  IntegerResidualCoder& dy = h.coder(32, 20);
  IntegerResidualCoder& z = h.coder(32, 20);
  IntegerResidualCoder& intensity = h.coder(16, 1);
  IntegerResidualCoder& scan_angle = h.coder(8, 2);
  IntegerResidualCoder& point_source = h.coder(16, 1);
  AdaptiveSymbolModel* changed = h.model(64);
  AdaptiveSymbolModel* return_after_11 = h.model(256);
  AdaptiveSymbolModel* return_after_12 = h.model(256);
  AdaptiveSymbolModel* class_after_2 = h.model(256);
  AdaptiveSymbolModel* class_after_3 = h.model(256);
  AdaptiveSymbolModel* user_after_0 = h.model(256);
  AdaptiveSymbolModel* user_after_200 = h.model(256);
  for (int i = 0; i < kCycles; ++i) {
    const bool first = i == 0;
    // A: X step 10 (median 0 first, 10 later), Y step -10, Z 100 -> 105.
    dx.encode(first ? 0 : 10, 10, 0);   // class 4, later 0
    dy.encode(0, -10, first ? 4 : 0);   // class 4
    z.encode(100, 105, first ? 4 : 2);  // (4 + 4) / 2, later (0 + 4) / 2
    h.symbol(changed, 32 | 16 | 8 | 1);
    intensity.encode(50, 60, 0);
    h.symbol(return_after_11, 0x12);
    h.symbol(class_after_2, 3);
    point_source.encode(7, 9, 0);
    // B: X step 20, Y step 0.
    dx.encode(first ? 0 : 10, 20, 0);  // class 5, later 4
    dy.encode(0, 0, first ? 5 : 4);    // class 0
    z.encode(105, 105, 2);
    h.symbol(changed, 16 | 4 | 2);
    h.symbol(return_after_12, 0x11);
    scan_angle.encode(10, 250, 1);  // kx + ky = 5, later 4: below 6
    h.symbol(user_after_0, 200);
    // C: X step -30 against median 10, Y step 10.
    dx.encode(10, -30, 0);  // class 6
    dy.encode(0, 10, 6);    // class 4
    z.encode(105, 100, 5);  // (6 + 4) / 2
    h.symbol(changed, 32 | 8 | 4 | 2 | 1);
    intensity.encode(60, 50, 0);
    h.symbol(class_after_3, 2);
    scan_angle.encode(250, 10, 0);  // kx + ky = 10
    h.symbol(user_after_200, 0);
    point_source.encode(9, 7, 0);
  }
  // X 0 -> INT32_MIN against median 10: class 31; Y 0 -> INT32_MAX: class 31.
  dx.encode(10, INT32_MIN, 0);
  dy.encode(0, INT32_MAX, 19);
  z.encode(100, INT32_MIN, 19);
  h.symbol(changed, 0);
  // X step -1 (wrapped) against median(INT32_MIN, 20, -30); Y step 1 against 10.
  dx.encode(-30, -1, 0);  // class 5
  dy.encode(10, 1, 5);    // class 4
  z.encode(INT32_MIN, INT32_MAX, 4);
  h.symbol(changed, 0);
  // X step 2^31 - 30 against median -30: residual -2^31, class 32.
  dx.encode(-30, i32(0x7FFFFFE2u), 0);
  dy.encode(10, 0, 19);                // class 4
  z.encode(INT32_MAX, INT32_MAX, 18);  // (32 + 4) / 2
  h.symbol(changed, 0);
  // The repeat: steps 0 against median -1 and 0 against median 1.
  dx.encode(-1, 0, 0);  // class 0
  dy.encode(1, 0, 0);   // class 1
  z.encode(INT32_MAX, INT32_MAX, 0);
  h.symbol(changed, 0);
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_POINT10_v1, FirstPointEqualToSeedCodesZerosAndSymbolZero) {
  const Bytes p = point(-5, 77, 1234, 9, 0x49, 1, 200, 3, 65535);
  EntropyEncoder encoder;
  LASwriteItemCompressed_POINT10_v1 writer(&encoder);
  HandCoder h;
  IntegerResidualCoder& dx = h.coder(32, 1);
  IntegerResidualCoder& dy = h.coder(32, 20);
  IntegerResidualCoder& z = h.coder(32, 20);
  AdaptiveSymbolModel* changed = h.model(64);
  dx.encode(0, 0, 0);
  dy.encode(0, 0, 0);
  z.encode(1234, 1234, 0);
  h.symbol(changed, 0);
  EXPECT_EQ(codeChunk(writer, encoder, {p, p}), h.finish());
}

TEST(LASwriteItemCompressed_POINT10_v1, RoundTripsEveryReturnBytePair) {
  // Every pair (previous, next) of return numbers and numbers of returns, with
  // the scan direction and edge bits, and the scan angle and user data varying.
  Items items{point(0, 0, 0, 0, 0, 0, 0, 0, 0)};
  for (uint32_t from = 0; from < 256; ++from) {
    for (uint32_t to = 0; to < 256; ++to) {
      const uint8_t f = static_cast<uint8_t>(from);
      const uint8_t t = static_cast<uint8_t>(to);
      items.push_back(point(i32(from * 1000), i32(to), 5, 1, f, f, t, f, 1));
      items.push_back(point(i32(to * 7), i32(from), 5, 2, t, t, f, t, 2));
    }
  }
  EntropyEncoder encoder;
  LASwriteItemCompressed_POINT10_v1 writer(&encoder);
  EntropyDecoder decoder;
  readers_v1::Point10Reader reader(&decoder);
  EXPECT_EQ(decodeChunk(reader, decoder, codeChunk(writer, encoder, items), items), items);
}

// ---------------------------------------------------------------------------
// GPSTIME11

TEST(LASwriteItemCompressed_GPSTIME11_v1, CodesMultiplierExampleAsScripted) {
  // From 1000: 1010, 1020, 1020, 1050, 1045, 1055, 7055, repeated as rounds that
  // each end 6055 later with step 10 and one extreme counted.
  const int kRounds = 40;
  Items items{gpsTime(1000)};
  for (int r = 0; r < kRounds; ++r) {
    const uint64_t base = 1000 + 6055u * r;
    for (uint64_t add : {10, 20, 20, 50, 45, 55, 6055}) items.push_back(gpsTime(base + add));
  }
  EntropyEncoder encoder;
  LASwriteItemCompressed_GPSTIME11_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  AdaptiveSymbolModel* multiplier = h.model(512);
  AdaptiveSymbolModel* zero_diff = h.model(3);
  IntegerResidualCoder& gps = h.coder(32, 6);
  for (int r = 0; r < kRounds; ++r) {
    if (r == 0) {
      h.symbol(zero_diff, 1);  // no step yet: 1010 is 10 against 0
      gps.encode(0, 10, 0);
    } else {
      h.symbol(multiplier, 1);
      gps.encode(10, 10, 1);
    }
    h.symbol(multiplier, 1);  // 1020
    gps.encode(10, 10, 1);
    h.symbol(multiplier, 511);  // 1020 again
    h.symbol(multiplier, 3);    // 1050
    gps.encode(30, 30, 3);
    h.symbol(multiplier, 0);  // 1045: q + 0.5 = 0
    gps.encode(2, -5, 2);
    h.symbol(multiplier, 1);  // 1055: clears the extreme counter
    gps.encode(10, 10, 1);
    h.symbol(multiplier, 509);  // 7055: 600.5 lowered to 509
    gps.encode(5090, 6000, 5);
  }
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_GPSTIME11_v1, CodesJumpsAndFourthExtremeAsScripted) {
  const uint64_t t0 = 1000;
  const uint64_t t1 = t0 + (uint64_t{1} << 33);
  const uint64_t t2 = t1 - (uint64_t{1} << 31);
  const uint64_t t3 = t2 + 0x7FFFFFFFu;
  Items items{gpsTime(t0), gpsTime(t1), gpsTime(t1), gpsTime(t2), gpsTime(t3)};
  // Against the step -2^31 every small positive difference rounds to multiplier
  // 0, an extreme; the fourth extreme makes its difference (6000) the new step.
  uint64_t t = t3 + 10;
  items.push_back(gpsTime(t));
  for (int i = 0; i < 5; ++i) items.push_back(gpsTime(t += 6000));
  items.push_back(gpsTime(t += 6000));
  items.push_back(gpsTime(t + (uint64_t{1} << 31)));

  EntropyEncoder encoder;
  LASwriteItemCompressed_GPSTIME11_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  AdaptiveSymbolModel* multiplier = h.model(512);
  AdaptiveSymbolModel* zero_diff = h.model(3);
  IntegerResidualCoder& gps = h.coder(32, 6);
  h.symbol(zero_diff, 2);  // 2^33 does not fit: raw, still no step
  h.raw64(t1);
  h.symbol(zero_diff, 0);  // same time
  h.symbol(zero_diff, 1);  // -2^31 fits: the step becomes INT32_MIN
  gps.encode(0, INT32_MIN, 0);
  // 2^31-1 over -2^31 is -1 in single precision; + 0.5 truncates to 0.
  h.symbol(multiplier, 0);
  gps.encode(INT32_MIN / 4, INT32_MAX, 2);  // extreme 1
  // 10 over -2^31 rounds to 0 as well.
  h.symbol(multiplier, 0);
  gps.encode(INT32_MIN / 4, 10, 2);  // extreme 2
  h.symbol(multiplier, 0);
  gps.encode(INT32_MIN / 4, 6000, 2);  // extreme 3
  h.symbol(multiplier, 0);
  gps.encode(INT32_MIN / 4, 6000, 2);  // extreme 4: step := 6000, counter 0
  h.symbol(multiplier, 1);
  gps.encode(6000, 6000, 1);
  h.symbol(multiplier, 1);
  gps.encode(6000, 6000, 1);
  h.symbol(multiplier, 1);
  gps.encode(6000, 6000, 1);
  h.symbol(multiplier, 1);
  gps.encode(6000, 6000, 1);
  h.symbol(multiplier, 510);  // 2^31 does not fit: raw, the step stays
  h.raw64(t + (uint64_t{1} << 31));
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_GPSTIME11_v1, CodesMultiplierBoundariesInSinglePrecision) {
  // A block of differences against the step 10 that ends with the step 10 again,
  // repeated so that the contexts of the multiplier ranges have adapted apart.
  const struct {
    int32_t d;
    uint32_t m;
    int32_t pred;
    uint32_t context;
  } block[] = {{90, 9, 90, 3},    {100, 10, 100, 4},    {490, 49, 490, 4},
               {500, 50, 500, 5}, {5084, 508, 5080, 5}, {5085, 509, 5090, 5},  // extreme
               {-15, 0, 2, 2},    {5084, 508, 5080, 5}, {-15, 0, 2, 2},        // 508: none
               {14, 1, 10, 1},    {10, 1, 14, 1}};
  const int kRounds = 30;
  uint64_t t = 1000;
  Items items{gpsTime(t)};
  for (int64_t d : {16777217, 25165825, 10, 10, 10, 10}) {
    items.push_back(gpsTime(t += static_cast<uint64_t>(d)));
  }
  for (int r = 0; r < kRounds; ++r) {
    for (const auto& b : block) items.push_back(gpsTime(t += static_cast<uint64_t>(int64_t{b.d})));
  }
  EntropyEncoder encoder;
  LASwriteItemCompressed_GPSTIME11_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  AdaptiveSymbolModel* multiplier = h.model(512);
  AdaptiveSymbolModel* zero_diff = h.model(3);
  IntegerResidualCoder& gps = h.coder(32, 6);
  h.symbol(zero_diff, 1);
  gps.encode(0, 16777217, 0);
  // In single precision 25165825 / 16777217 is 1.5 exactly, so q + 0.5 is 2 (in
  // double precision it would stay below 2).
  h.symbol(multiplier, 2);
  gps.encode(33554434, 25165825, 3);
  for (int i = 0; i < 4; ++i) {  // the fourth extreme makes 10 the step
    h.symbol(multiplier, 0);
    gps.encode(16777217 / 4, 10, 2);
  }
  for (int r = 0; r < kRounds; ++r) {
    for (const auto& b : block) {
      h.symbol(multiplier, b.m);
      gps.encode(b.pred, b.d, b.context);
    }
  }
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_GPSTIME11_v1, RoundTripsSignedZerosNaNAndLargeJumps) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Items items;
  for (double v : {0.0, -0.0, 0.0, nan, -nan, inf, -inf, 1e9, 1e9, -1e-300, 5e-324}) {
    items.push_back(gpsTimeF64(v));
  }
  uint64_t t = 123456789;
  const uint64_t jumps[] = {1u << 31,
                            (1u << 31) - 1,
                            uint64_t{1} << 33,
                            0 - (uint64_t{1} << 31),
                            0 - (uint64_t{1} << 31) - 1,
                            7,
                            7,
                            14,
                            0,
                            3,
                            7000,
                            0 - uint64_t{1},
                            uint64_t{1} << 63,
                            0x7FFFFFFF,
                            1,
                            0};
  for (int round = 0; round < 30; ++round) {
    for (uint64_t j : jumps) items.push_back(gpsTime(t += j * (round % 3 + 1)));
  }
  EntropyEncoder encoder;
  LASwriteItemCompressed_GPSTIME11_v1 writer(&encoder);
  EntropyDecoder decoder;
  readers_v1::GpsTime11Reader reader(&decoder);
  EXPECT_EQ(decodeChunk(reader, decoder, codeChunk(writer, encoder, items), items), items);
}

// ---------------------------------------------------------------------------
// RGB12

TEST(LASwriteItemCompressed_RGB12_v1, CodesChangedBytesAsScripted) {
  const Bytes black = colour(0, 0, 0);
  const Bytes x1 = colour(65535, 0x1234, 0);       // bytes FF FF 34 12 00 00
  const Bytes x2 = colour(65535, 0x1256, 0x8000);  // bytes FF FF 56 12 00 80
  const int kCycles = 40;
  Items items{black};
  for (int i = 0; i < kCycles; ++i) items.insert(items.end(), {x1, x2, black, black});
  EntropyEncoder encoder;
  LASwriteItemCompressed_RGB12_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  AdaptiveSymbolModel* used = h.model(64);
  IntegerResidualCoder& rgb = h.coder(8, 6);
  for (int i = 0; i < kCycles; ++i) {
    h.symbol(used, 0x0F);
    rgb.encode(0, 0xFF, 0);
    rgb.encode(0, 0xFF, 1);
    rgb.encode(0, 0x34, 2);
    rgb.encode(0, 0x12, 3);
    h.symbol(used, 0x24);
    rgb.encode(0x34, 0x56, 2);
    rgb.encode(0, 0x80, 5);
    h.symbol(used, 0x2F);
    rgb.encode(0xFF, 0, 0);
    rgb.encode(0xFF, 0, 1);
    rgb.encode(0x56, 0, 2);
    rgb.encode(0x12, 0, 3);
    rgb.encode(0x80, 0, 5);
    h.symbol(used, 0);  // unchanged: the symbol alone
  }
  EXPECT_EQ(coded, h.finish());
}

// ---------------------------------------------------------------------------
// WAVEPACKET13

TEST(LASwriteItemCompressed_WAVEPACKET13_v1, CodesOffsetSymbolsAsScripted) {
  const uint32_t l1 = bitsOf(1.5f), l2 = bitsOf(-20.25f);
  const uint32_t x1 = bitsOf(0.001f), y1 = bitsOf(-0.002f), z1 = bitsOf(-1.0f);
  const uint32_t x2 = bitsOf(0.5f);
  const uint64_t kFar = uint64_t{1} << 32;
  Items items{wavePacket(1, 1000, 256, l1, x1, y1, z1)};
  uint64_t off = 1000;
  const int kCycles = 40;
  for (int i = 0; i < kCycles; ++i) {
    items.push_back(wavePacket(1, off += 256, 256, l1, x1, y1, z1));   // after R: 1
    items.push_back(wavePacket(1, off += 256, 256, l1, x1, y1, z1));   // after R: 1
    items.push_back(wavePacket(2, off, 300, l2, x2, y1, z1));          // same: 0
    items.push_back(wavePacket(2, off += 5000, 256, l1, x1, y1, z1));  // step: 2
    items.push_back(wavePacket(1, off += kFar, 256, l1, x1, y1, z1));  // far: 3
  }
  // Steps of 2^31-1, -2^31 after a size of 2^31, 2^31, a size of 2^31 itself,
  // and a size of 2^31-1.
  items.push_back(wavePacket(3, off += 0x7FFFFFFFu, 0x80000000u, l1, x1, y1, z1));
  items.push_back(wavePacket(3, off -= 0x80000000u, 0x80000000u, l1, x1, y1, z1));
  items.push_back(wavePacket(3, off += 0x80000000u, 0x80000000u, l1, x1, y1, z1));
  items.push_back(wavePacket(3, off += 0x80000000u, 0x7FFFFFFFu, l1, x1, y1, z1));
  items.push_back(wavePacket(3, off += 0x7FFFFFFFu, 0, l1, x1, y1, z1));

  EntropyEncoder encoder;
  LASwriteItemCompressed_WAVEPACKET13_v1 writer(&encoder);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  AdaptiveSymbolModel* index = h.model(256);
  AdaptiveSymbolModel* os[4] = {h.model(4), h.model(4), h.model(4), h.model(4)};
  IntegerResidualCoder& offset_diff = h.coder(32, 1);
  IntegerResidualCoder& size = h.coder(32, 1);
  IntegerResidualCoder& location = h.coder(32, 1);
  IntegerResidualCoder& xyz = h.coder(32, 3);
  const auto fields = [&](int32_t size_from, int32_t size_to, uint32_t l_from, uint32_t l_to,
                          uint32_t x_from, uint32_t x_to) {
    size.encode(size_from, size_to, 0);
    location.encode(i32(l_from), i32(l_to), 0);
    xyz.encode(i32(x_from), i32(x_to), 0);
    xyz.encode(i32(y1), i32(y1), 1);
    xyz.encode(i32(z1), i32(z1), 2);
  };
  off = 1000;
  for (int i = 0; i < kCycles; ++i) {
    h.symbol(index, 1);
    h.symbol(os[i == 0 ? 0 : 3], 1);
    fields(256, 256, l1, l1, x1, x1);
    h.symbol(index, 1);
    h.symbol(os[1], 1);  // a run of symbol 1 uses model 1
    fields(256, 256, l1, l1, x1, x1);
    h.symbol(index, 2);
    h.symbol(os[1], 0);
    fields(256, 300, l1, l2, x1, x2);
    h.symbol(index, 2);
    h.symbol(os[0], 2);
    offset_diff.encode(i == 0 ? 0 : 5000, 5000, 0);
    fields(300, 256, l2, l1, x2, x1);
    h.symbol(index, 1);
    h.symbol(os[2], 3);
    off += 512 + 5000 + kFar;
    h.raw64(off);
    fields(256, 256, l1, l1, x1, x1);
  }
  h.symbol(index, 3);
  h.symbol(os[3], 2);
  offset_diff.encode(5000, INT32_MAX, 0);
  fields(256, INT32_MIN, l1, l1, x1, x1);
  // -2^31 equals the size 2^31 only in 32 bits: a step, not "after R".
  h.symbol(index, 3);
  h.symbol(os[2], 2);
  offset_diff.encode(INT32_MAX, INT32_MIN, 0);
  fields(INT32_MIN, INT32_MIN, l1, l1, x1, x1);
  off = off + 0x7FFFFFFFu - 0x80000000u;
  h.symbol(index, 3);
  h.symbol(os[2], 3);  // +2^31 does not fit
  h.raw64(off += 0x80000000u);
  fields(INT32_MIN, INT32_MIN, l1, l1, x1, x1);
  h.symbol(index, 3);
  h.symbol(os[3], 3);  // +2^31 equals the size but does not fit
  h.raw64(off += 0x80000000u);
  fields(INT32_MIN, INT32_MAX, l1, l1, x1, x1);
  h.symbol(index, 3);
  h.symbol(os[3], 1);  // +2^31-1 after a size of 2^31-1
  fields(INT32_MAX, 0, l1, l1, x1, x1);
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_WAVEPACKET13_v1, NegativeStepMatchingLargeSizeInLow32BitsDecodes) {
  // Fault: comparing the step with the size in 32 bits took a step of -2^31 after
  // a packet of size 2^31 for "offset advanced by the size", decoding to +2^31.
  const Items items{wavePacket(0, uint64_t{1} << 40, 0x80000000u, 0, 0, 0, 0),
                    wavePacket(0, (uint64_t{1} << 40) - 0x80000000u, 0x80000000u, 0, 0, 0, 0),
                    wavePacket(0, (uint64_t{1} << 40) - 0x100000000u, 0xFFFFFFFFu, 0, 0, 0, 0),
                    wavePacket(0, (uint64_t{1} << 40) - 0x100000001u, 1, 0, 0, 0, 0)};
  EntropyEncoder encoder;
  LASwriteItemCompressed_WAVEPACKET13_v1 writer(&encoder);
  EntropyDecoder decoder;
  readers_v1::WavePacket13Reader reader(&decoder);
  EXPECT_EQ(decodeChunk(reader, decoder, codeChunk(writer, encoder, items), items), items);
}

// ---------------------------------------------------------------------------
// BYTE

TEST(LASwriteItemCompressed_BYTE_v1, CodesEveryByteAsScripted) {
  const Items cycle{{0, 0, 0}, {1, 0, 255}, {1, 200, 0}};
  const int kCycles = 40;
  Items items{cycle[0]};
  for (int i = 0; i < kCycles; ++i) items.insert(items.end(), {cycle[1], cycle[2], cycle[0]});
  EntropyEncoder encoder;
  LASwriteItemCompressed_BYTE_v1 writer(&encoder, 3);
  const Bytes coded = codeChunk(writer, encoder, items);

  HandCoder h;
  IntegerResidualCoder& bytes = h.coder(8, 3);
  for (int i = 0; i < kCycles; ++i) {
    for (int k = 0; k < 3; ++k) {
      const Bytes& from = cycle[k];
      const Bytes& to = cycle[(k + 1) % 3];
      for (uint32_t b = 0; b < 3; ++b) bytes.encode(from[b], to[b], b);  // unchanged ones too
    }
  }
  EXPECT_EQ(coded, h.finish());
}

TEST(LASwriteItemCompressed_BYTE_v1, ItemOfNoBytesCodesNothing) {
  EntropyEncoder encoder;
  LASwriteItemCompressed_BYTE_v1 writer(&encoder, 0);
  EXPECT_EQ(codeChunk(writer, encoder, {{}, {}, {}}), (Bytes{0x01, 0x00, 0x00, 0x00}));
}

// ---------------------------------------------------------------------------
// All writers: long random sequences over several chunks, chunk independence,
// and the interface defaults.

struct CoderCase {
  const char* name;
  std::function<std::unique_ptr<LASwriteItemCompressed>(EntropyEncoder*)> writer;
  std::function<std::unique_ptr<readers_v1::ItemReader>(EntropyDecoder*)> reader;
  // The next random item after `previous`.
  std::function<Bytes(std::mt19937&, const Bytes& previous)> next;
  Bytes first;
};

uint32_t pick(std::mt19937& rng, uint32_t n) { return static_cast<uint32_t>(rng() % n); }

Bytes nextPoint(std::mt19937& rng, const Bytes& p) {
  Bytes q = p;
  const int32_t small[] = {0, 1, -1, 2, 17, -300, 65536};
  for (int at : {0, 4, 8}) {
    uint32_t v = static_cast<uint32_t>(p[at] | (p[at + 1] << 8) | (p[at + 2] << 16)) |
                 (static_cast<uint32_t>(p[at + 3]) << 24);
    switch (pick(rng, 8)) {
      case 0:
        v = static_cast<uint32_t>(rng());
        break;
      case 1:
        v = pick(rng, 2) ? 0x80000000u : 0x7FFFFFFFu;
        break;
      default:
        v += static_cast<uint32_t>(small[pick(rng, 7)]) * (1 + pick(rng, 40));
    }
    putLE(&q[at], v, 4);
  }
  for (int at = 12; at < 20; ++at) {
    if (pick(rng, 4) == 0) q[at] = static_cast<uint8_t>(pick(rng, 3) ? rng() : 0xFF);
  }
  return q;
}

Bytes nextGpsTime(std::mt19937& rng, const Bytes& p) {
  uint64_t t = 0;
  for (int i = 7; i >= 0; --i) t = (t << 8) | p[i];
  const uint64_t steps[] = {0,
                            10,
                            10,
                            20,
                            30,
                            5,
                            6000,
                            1u << 31,
                            (1u << 31) - 1,
                            uint64_t{1} << 33,
                            0 - (uint64_t{1} << 31)};
  switch (pick(rng, 12)) {
    case 0:
      t = (uint64_t{rng()} << 32) | rng();
      break;
    case 1:
      t = -t;
      break;
    default:
      t += steps[pick(rng, 11)] * (pick(rng, 5) ? 1 : pick(rng, 600));
  }
  return gpsTime(t);
}

Bytes nextColour(std::mt19937& rng, const Bytes& p) {
  switch (pick(rng, 5)) {
    case 0:
      return p;
    case 1:
      return colour(0, 0, 0);
    case 2:
      return colour(65535, 65535, 65535);
    case 3: {
      const uint16_t g = static_cast<uint16_t>(rng());
      return colour(g, g, g);
    }
    default: {
      Bytes q = p;
      q[pick(rng, 6)] = static_cast<uint8_t>(rng());
      q[pick(rng, 6)] = static_cast<uint8_t>(rng());
      return q;
    }
  }
}

Bytes nextWavePacket(std::mt19937& rng, const Bytes& p) {
  uint64_t off = 0;
  for (int i = 8; i >= 1; --i) off = (off << 8) | p[i];
  const uint32_t size = static_cast<uint32_t>(p[9] | (p[10] << 8) | (p[11] << 16)) |
                        (static_cast<uint32_t>(p[12]) << 24);
  const uint64_t steps[] = {0,
                            size,
                            size,
                            0x7FFFFFFFu,
                            0 - uint64_t{0x80000000u},
                            0x80000000u,
                            uint64_t{1} << 40,
                            12345,
                            0 - uint64_t{77}};
  off += steps[pick(rng, 9)];
  const uint32_t sizes[] = {size, 256, 0, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu};
  Bytes q = wavePacket(static_cast<uint8_t>(pick(rng, 3) ? p[0] : rng()), off, sizes[pick(rng, 6)],
                       0, 0, 0, 0);
  std::memcpy(&q[13], &p[13], 16);
  for (int at = 13; at < 29; at += 4) {
    if (pick(rng, 3) == 0) putLE(&q[at], pick(rng, 2) ? rng() : bitsOf(pick(rng, 100) * 0.25f), 4);
  }
  return q;
}

Bytes nextBytes(std::mt19937& rng, const Bytes& p) {
  Bytes q = p;
  for (uint8_t& b : q) {
    if (pick(rng, 3) == 0) b = static_cast<uint8_t>(pick(rng, 2) ? rng() : b + 1);
  }
  return q;
}

template <class W, class R>
CoderCase makeCase(const char* name, Bytes first, Bytes (*next)(std::mt19937&, const Bytes&)) {
  return {name, [](EntropyEncoder* e) { return std::make_unique<W>(e); },
          [](EntropyDecoder* d) { return std::make_unique<R>(d); }, next, std::move(first)};
}

std::vector<CoderCase> allCoders() {
  std::vector<CoderCase> cases{
      makeCase<LASwriteItemCompressed_POINT10_v1, readers_v1::Point10Reader>(
          "POINT10", point(1, 2, 3, 4, 0x09, 2, 250, 7, 8), nextPoint),
      makeCase<LASwriteItemCompressed_GPSTIME11_v1, readers_v1::GpsTime11Reader>(
          "GPSTIME11", gpsTimeF64(1.0e6), nextGpsTime),
      makeCase<LASwriteItemCompressed_RGB12_v1, readers_v1::Rgb12Reader>("RGB12", colour(1, 2, 3),
                                                                         nextColour),
      makeCase<LASwriteItemCompressed_WAVEPACKET13_v1, readers_v1::WavePacket13Reader>(
          "WAVEPACKET13", wavePacket(1, 100000, 256, 0, 0, 0, 0), nextWavePacket),
  };
  cases.push_back(
      {"BYTE",
       [](EntropyEncoder* e) { return std::make_unique<LASwriteItemCompressed_BYTE_v1>(e, 5); },
       [](EntropyDecoder* d) { return std::make_unique<readers_v1::ByteReader>(d, 5); }, nextBytes,
       Bytes{0, 1, 2, 3, 255}});
  return cases;
}

Items randomChunk(const CoderCase& c, std::mt19937& rng, size_t count) {
  Items items{c.next(rng, c.first)};
  while (items.size() < count) items.push_back(c.next(rng, items.back()));
  return items;
}

TEST(ItemWritersV1, RoundTripRandomSequencesOverSeveralChunks) {
  for (const CoderCase& c : allCoders()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(20240611);
    EntropyEncoder encoder;
    const auto writer = c.writer(&encoder);
    EntropyDecoder decoder;
    const auto reader = c.reader(&decoder);
    // One writer and one reader for all chunks, so every reset is exercised.
    for (size_t count : {3000, 1, 2, 5000, 700}) {
      SCOPED_TRACE(count);
      const Items items = randomChunk(c, rng, count);
      const Bytes coded = codeChunk(*writer, encoder, items);
      EXPECT_EQ(decodeChunk(*reader, decoder, coded, items), items);
    }
  }
}

TEST(ItemWritersV1, ChunkBytesDependOnlyOnTheChunksItems) {
  for (const CoderCase& c : allCoders()) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(99);
    const Items earlier = randomChunk(c, rng, 2500);
    const Items later = randomChunk(c, rng, 800);
    EntropyEncoder reused_encoder;
    const auto reused = c.writer(&reused_encoder);
    codeChunk(*reused, reused_encoder, earlier);
    EntropyEncoder fresh_encoder;
    const auto fresh = c.writer(&fresh_encoder);
    EXPECT_EQ(codeChunk(*reused, reused_encoder, later), codeChunk(*fresh, fresh_encoder, later));
  }
}

TEST(ItemWritersV1, HaveNoLayersAndLeaveTheContextWordAlone) {
  for (const CoderCase& c : allCoders()) {
    SCOPED_TRACE(c.name);
    EntropyEncoder encoder;
    ByteStreamOutArrayLE out;
    const auto writer = c.writer(&encoder);
    uint32_t context = 3;
    EXPECT_TRUE(writer->startChunk(c.first.data(), context));
    encoder.start(&out);
    EXPECT_TRUE(writer->writeItem(c.first.data(), context));
    EXPECT_EQ(context, 3u);
    EXPECT_FALSE(writer->writeLayerSizes());
    EXPECT_FALSE(writer->writeLayerBytes());
    encoder.finish();
  }
}

}  // namespace
