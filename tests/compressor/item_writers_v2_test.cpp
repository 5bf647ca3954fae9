// Tests of the version 2 item writers and the shared colour difference coding.
// Two kinds of proof:
// - scripts: a fresh encoder with its own models and residual coders is driven by
//   hand with exactly the symbols and residuals the coding must produce, and its
//   bytes are compared with the writer's (contexts are warmed first, so that a
//   wrong context or model changes the bytes);
// - round trips: the test decoders of item_readers_v2.h rebuild every record from
//   the writer's bytes, reading exactly the bytes written, chunk by chunk.
#include "morrowtide/compressor/item_writers_v2.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/rgb_difference_coding.h"
#include "tests/compressor/coding_script.h"
#include "tests/compressor/item_readers_v2.h"

using morrowtide::ByteStreamInArray;
using morrowtide::codeRgbDifference;

namespace {

using Bytes = std::vector<uint8_t>;
using Items = std::vector<Bytes>;

// ---------------------------------------------------------------------------
// Helpers

using Script = CodingScript;

// Drives `writer` as the point-record writer does: the first record of each chunk
// of `chunk_size` records goes to startChunk, then the encoder starts and the rest
// go to writeItem; finish ends the chunk. Returns each chunk's coded bytes.
std::vector<Bytes> codeChunks(LASwriteItemCompressed& writer, EntropyEncoder& enc,
                              const Items& items, size_t chunk_size) {
  std::vector<Bytes> chunks;
  for (size_t first = 0; first < items.size(); first += chunk_size) {
    ByteStreamOutArrayLE out;
    uint32_t context = 0;
    EXPECT_TRUE(writer.startChunk(items[first].data(), context));
    enc.start(&out);
    for (size_t i = first + 1; i < items.size() && i < first + chunk_size; ++i) {
      EXPECT_TRUE(writer.writeItem(items[i].data(), context));
    }
    enc.finish();
    EXPECT_EQ(context, 0u);
    chunks.emplace_back(out.data(), out.data() + out.byteCount());
  }
  return chunks;
}

Bytes codeOneChunk(LASwriteItemCompressed& writer, EntropyEncoder& enc, const Items& items) {
  return codeChunks(writer, enc, items, items.size()).at(0);
}

// Decodes every chunk with `reader` and checks each record and that the decoder
// consumed exactly the chunk's bytes.
template <class Reader>
void expectRoundTrip(Reader& reader, EntropyDecoder& dec, const std::vector<Bytes>& chunks,
                     const Items& items, size_t chunk_size) {
  size_t first = 0;
  for (const Bytes& chunk : chunks) {
    SCOPED_TRACE("chunk starting at record " + std::to_string(first));
    ByteStreamInArray in(chunk.data(), chunk.size());
    ASSERT_TRUE(dec.start(&in, true));
    reader.startChunk(items[first].data());
    for (size_t i = first + 1; i < items.size() && i < first + chunk_size; ++i) {
      Bytes got(items[i].size());
      reader.readItem(got.data());
      ASSERT_EQ(got, items[i]) << "record " << i;
    }
    EXPECT_EQ(in.position(), chunk.size());
    dec.finish();
    first += chunk_size;
  }
}

// Codes a few symbols into every model so that each one's distribution differs
// from a fresh model's and from the others'.
void warm(EntropyEncoder& enc, std::initializer_list<AdaptiveSymbolModel*> models) {
  uint32_t salt = 0;
  for (AdaptiveSymbolModel* m : models) {
    ++salt;
    for (uint32_t i = 0; i < (m->symbols + 6) / 2 + 1; ++i) {
      enc.putSymbol(m, (salt * 37 + (i % 3)) % m->symbols);
    }
  }
}

struct Point {
  int32_t x, y, z;
  uint16_t intensity;
  uint8_t return_byte, classification, scan_angle_rank, user_data;
  uint16_t point_source;
};

Bytes pointBytes(const Point& p) {
  Bytes b(20);
  readers_v2::putLE(&b[0], static_cast<uint32_t>(p.x), 4);
  readers_v2::putLE(&b[4], static_cast<uint32_t>(p.y), 4);
  readers_v2::putLE(&b[8], static_cast<uint32_t>(p.z), 4);
  readers_v2::putLE(&b[12], p.intensity, 2);
  b[14] = p.return_byte;
  b[15] = p.classification;
  b[16] = p.scan_angle_rank;
  b[17] = p.user_data;
  readers_v2::putLE(&b[18], p.point_source, 2);
  return b;
}

// Return byte of return r of n, with the scan direction flag.
uint8_t returnByte(int r, int n, int scan_direction = 0) {
  return static_cast<uint8_t>(r | (n << 3) | (scan_direction << 6));
}

Bytes timeBytes(uint64_t pattern) {
  Bytes b(8);
  std::memcpy(b.data(), &pattern, 8);
  return b;
}

Bytes timeBytes(double t) {
  uint64_t pattern;
  std::memcpy(&pattern, &t, 8);
  return timeBytes(pattern);
}

Bytes colourBytes(uint16_t r, uint16_t g, uint16_t b) {
  Bytes out(6);
  readers_v2::putLE(&out[0], r, 2);
  readers_v2::putLE(&out[2], g, 2);
  readers_v2::putLE(&out[4], b, 2);
  return out;
}

constexpr uint64_t kT = uint64_t{1} << 40;  // the seed time of the GPS scripts

// ---------------------------------------------------------------------------
// Colour difference coding

TEST(RgbDifferenceCoding, CodesWorkedCasesWithTheirModels) {
  // Model index -1 is the byte-used model, 0 to 5 the difference models.
  struct Case {
    const char* name;
    uint16_t p[3];
    uint16_t n[3];
    std::vector<std::pair<int, uint32_t>> symbols;
  };
  const Case cases[] = {
      {"changed, not grey",
       {100, 100, 100},
       {110, 120, 90},
       {{-1, 85}, {0, 10}, {2, 10}, {4, 231}}},
      {"unchanged grey", {77, 77, 77}, {77, 77, 77}, {{-1, 0}}},
      {"unchanged, not grey", {1, 2, 3}, {1, 2, 3}, {{-1, 64}}},
      {"grey to grey", {100, 100, 100}, {90, 90, 90}, {{-1, 21}, {0, 246}}},
      {"green prediction clamped",
       {10, 250, 10},
       {20, 255, 0},
       {{-1, 85}, {0, 10}, {2, 0}, {4, 239}}},
      {"high bytes",
       {0x1234, 0x1234, 0x1234},
       {0x1334, 0x1134, 0x1434},
       {{-1, 106}, {1, 1}, {3, 254}, {5, 2}}},
      // Every byte changes: the order is red low, red high, green low, blue low,
      // green high, blue high; blue is predicted 0 + (255 + 255) / 2 per byte.
      {"all bytes",
       {0x0000, 0x0000, 0x0000},
       {0xFFFF, 0xFFFF, 0x0101},
       {{-1, 127}, {0, 255}, {1, 255}, {2, 0}, {4, 2}, {3, 0}, {5, 2}}},
      // Negative halves truncate toward zero: (-3 + -2) / 2 is -2.
      {"negative mean", {10, 10, 10}, {7, 8, 0}, {{-1, 85}, {0, 253}, {2, 1}, {4, 248}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes expected;
    {
      Script s;
      AdaptiveSymbolModel* used = s.model(128);
      AdaptiveSymbolModel* d[6];
      for (auto& m : d) m = s.model(256);
      warm(s.encoder(), {used, d[0], d[1], d[2], d[3], d[4], d[5]});
      for (const auto& [model, symbol] : c.symbols) s.sym(model < 0 ? used : d[model], symbol);
      expected = s.bytes();
    }
    Script s;
    AdaptiveSymbolModel* used = s.model(128);
    AdaptiveSymbolModel* d[6];
    for (auto& m : d) m = s.model(256);
    warm(s.encoder(), {used, d[0], d[1], d[2], d[3], d[4], d[5]});
    EXPECT_EQ(codeRgbDifference(s.encoder(), used, d, c.p, c.n), c.symbols[0].second);
    EXPECT_EQ(s.bytes(), expected);
  }
}

// ---------------------------------------------------------------------------
// RGB12

TEST(LASwriteItemCompressed_RGB12_v2, CodesAgainstThePreviousColour) {
  Script s;
  AdaptiveSymbolModel* used = s.model(128);
  AdaptiveSymbolModel* d[6];
  for (auto& m : d) m = s.model(256);
  s.sym(used, 85);  // (100,100,100) -> (110,120,90)
  s.sym(d[0], 10);
  s.sym(d[2], 10);
  s.sym(d[4], 231);
  s.sym(used, 64);  // unchanged, not grey
  s.sym(used, 21);  // -> (100,100,100), grey: only red
  s.sym(d[0], 246);
  s.sym(used, 0);  // unchanged grey
  const Bytes expected = s.bytes();

  EntropyEncoder enc;
  LASwriteItemCompressed_RGB12_v2 writer(&enc);
  const Items items = {colourBytes(100, 100, 100), colourBytes(110, 120, 90),
                       colourBytes(110, 120, 90), colourBytes(100, 100, 100),
                       colourBytes(100, 100, 100)};
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
  // The next chunk starts afresh from its own first colour.
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
}

TEST(LASwriteItemCompressed_RGB12_v2, RoundTripsEdgeAndRandomColours) {
  Items items = {colourBytes(0, 0, 0),           colourBytes(65535, 65535, 65535),
                 colourBytes(0, 65535, 0),       colourBytes(65535, 0, 65535),
                 colourBytes(0, 0, 0),           colourBytes(255, 255, 255),
                 colourBytes(256, 256, 256),     colourBytes(255, 0, 255),
                 colourBytes(0xFF00, 0x00FF, 0), colourBytes(0xFF00, 0xFF00, 0xFF00)};
  std::mt19937 rng(7);
  for (int i = 0; i < 6000; ++i) {
    const uint16_t base = static_cast<uint16_t>(rng());
    switch (rng() % 4) {
      case 0:  // grey
        items.push_back(colourBytes(base, base, base));
        break;
      case 1:  // 8-bit colours near the previous
        items.push_back(colourBytes(rng() % 256, rng() % 256, rng() % 256));
        break;
      case 2:  // repeat
        items.push_back(items.back());
        break;
      default:
        items.push_back(
            colourBytes(base, static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng())));
    }
  }
  EntropyEncoder enc;
  LASwriteItemCompressed_RGB12_v2 writer(&enc);
  const std::vector<Bytes> chunks = codeChunks(writer, enc, items, 1000);
  EntropyDecoder dec;
  readers_v2::Rgb12Reader reader(&dec);
  expectRoundTrip(reader, dec, chunks, items, 1000);
}

// ---------------------------------------------------------------------------
// BYTE

TEST(LASwriteItemCompressed_BYTE_v2, CodesEveryByteWithItsOwnModel) {
  // 140 records warm the three models differently (first rescale after 131
  // symbols); then 10, 200, 0 -> 9, 200, 255 codes 255, 0 and 255.
  Items items;
  for (int i = 0; i < 140; ++i) {
    items.push_back({static_cast<uint8_t>(150 - i), 200, static_cast<uint8_t>(3 * i)});
  }
  items.push_back({10, 200, 0});
  items.push_back({9, 200, 255});

  Script s;
  AdaptiveSymbolModel* m[3] = {s.model(256), s.model(256), s.model(256)};
  for (int i = 1; i < 140; ++i) {
    s.sym(m[0], 255);
    s.sym(m[1], 0);
    s.sym(m[2], 3);
  }
  s.sym(m[0], (10 - 11 + 256) % 256);
  s.sym(m[1], 0);
  s.sym(m[2], (0 - 3 * 139 + 4 * 256) % 256);
  s.sym(m[0], 255);
  s.sym(m[1], 0);
  s.sym(m[2], 255);
  const Bytes expected = s.bytes();

  EntropyEncoder enc;
  LASwriteItemCompressed_BYTE_v2 writer(&enc, 3);
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
}

TEST(LASwriteItemCompressed_BYTE_v2, RoundTripsRandomBytesOfAnyCount) {
  for (uint32_t number : {1u, 3u, 7u}) {
    SCOPED_TRACE(number);
    std::mt19937 rng(number);
    Items items;
    for (int i = 0; i < 3000; ++i) {
      Bytes b(number);
      for (uint32_t j = 0; j < number; ++j) {
        b[j] = (j % 2 == 0 || items.empty()) ? static_cast<uint8_t>(rng()) : items.back()[j];
      }
      items.push_back(b);
    }
    EntropyEncoder enc;
    LASwriteItemCompressed_BYTE_v2 writer(&enc, number);
    const std::vector<Bytes> chunks = codeChunks(writer, enc, items, 700);
    EntropyDecoder dec;
    readers_v2::ByteReader reader(&dec, number);
    expectRoundTrip(reader, dec, chunks, items, 700);
  }
}

// ---------------------------------------------------------------------------
// GPSTIME11

// The GPS writer's models and coder, in a script.
struct GpsScript {
  Script s;
  AdaptiveSymbolModel* multiplier = s.model(516);
  AdaptiveSymbolModel* zero = s.model(6);
  IntegerResidualCoder* coder = s.coder(32, 9);
};

Bytes codeTimes(const std::vector<uint64_t>& times) {
  Items items;
  for (uint64_t t : times) items.push_back(timeBytes(t));
  EntropyEncoder enc;
  LASwriteItemCompressed_GPSTIME11_v2 writer(&enc);
  return codeOneChunk(writer, enc, items);
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, CodesFirstStepThenMultiplesOfIt) {
  GpsScript g;
  g.s.sym(g.zero, 1);  // +10: the first step, against 0 in context 0
  g.s.res(g.coder, 0, 10, 0);
  g.s.sym(g.multiplier, 1);  // +10 again: multiplier 1
  g.s.res(g.coder, 10, 10, 1);
  g.s.sym(g.multiplier, 511);  // the same time
  g.s.sym(g.multiplier, 3);    // +30
  g.s.res(g.coder, 30, 30, 2);
  g.s.sym(g.multiplier, 501);  // -5: q = -0.5 gives m = -1
  g.s.res(g.coder, -10, -5, 5);
  EXPECT_EQ(codeTimes({kT, kT + 10, kT + 20, kT + 20, kT + 50, kT + 45}), g.s.bytes());
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, UsesTheContextOfEachMultiplierRange) {
  // One round: multipliers 1, 10, 9, -20, 0, -9 with step 100. Twenty rounds warm
  // every context with a different residual class, so a wrong context shows.
  GpsScript g;
  std::vector<uint64_t> times = {kT, kT + 100};
  g.s.sym(g.zero, 1);
  g.s.res(g.coder, 0, 100, 0);
  uint64_t t = kT + 100;
  for (int round = 0; round < 20; ++round) {
    struct Step {
      int64_t d;
      uint32_t symbol;
      int32_t pred;
      uint32_t context;
    };
    const Step steps[] = {
        {103, 1, 100, 1},        // m = 1
        {1000, 10, 1000, 3},     // m = 10: context 3 above 9
        {905, 9, 900, 2},        // m = 9
        {-1990, 510, -1000, 6},  // m = -20 < -9: extreme 1
        {30, 0, 0, 7},           // q = 0.3 rounds to m = 0: extreme 2
        {-910, 509, -900, 5},    // m = -9
    };
    for (const Step& st : steps) {
      t += static_cast<uint64_t>(st.d);
      times.push_back(t);
      g.s.sym(g.multiplier, st.symbol);
      g.s.res(g.coder, st.pred, static_cast<int32_t>(st.d), st.context);
    }
  }
  EXPECT_EQ(codeTimes(times), g.s.bytes());
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, RoundsTheMultiplierHalfAwayFromZero) {
  struct Case {
    int64_t d;
    uint32_t symbol;
    int32_t pred;
    uint32_t context;
  };
  const Case cases[] = {
      {50, 1, 100, 1},         // q = 0.5 -> 1
      {49, 0, 0, 7},           // q = 0.49 -> 0
      {149, 1, 100, 1},        // q = 1.49 -> 1
      {150, 2, 200, 2},        // q = 1.5 -> 2
      {-50, 501, -100, 5},     // q = -0.5 -> -1
      {-49, 0, 0, 7},          // q = -0.49 -> 0
      {-950, 510, -1000, 6},   // q = -9.5 -> -10
      {-949, 509, -900, 5},    // q = -9.49 -> -9
      {49950, 500, 50000, 4},  // q = 499.5 -> 500
      {49949, 499, 49900, 3},  // q = 499.49 -> 499
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d);
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, 100, 0);
    g.s.sym(g.multiplier, c.symbol);
    g.s.res(g.coder, c.pred, static_cast<int32_t>(c.d), c.context);
    EXPECT_EQ(codeTimes({kT, kT + 100, kT + 100 + static_cast<uint64_t>(c.d)}), g.s.bytes());
  }
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, OpensAndSwitchesSequences) {
  GpsScript g;
  // +2^33 reaches no sequence: high halves 256 -> 258 in context 8, low half raw;
  // it opens sequence 1.
  g.s.sym(g.zero, 2);
  g.s.res(g.coder, 256, 258, 8);
  g.s.raw32(0);
  // Back to sequence 0, three slots on, which has no step yet.
  g.s.sym(g.zero, 5);
  g.s.sym(g.zero, 1);
  g.s.res(g.coder, 0, 10, 0);
  // Sequence 0 has a step now: the switch to sequence 1 is a multiplier symbol.
  g.s.sym(g.multiplier, 513);
  g.s.sym(g.zero, 1);
  g.s.res(g.coder, 0, 7, 0);
  // A time near 0 fits the unused slot 2 (time 0): switch one slot on.
  g.s.sym(g.multiplier, 513);
  g.s.sym(g.zero, 1);
  g.s.res(g.coder, 0, 5, 0);
  // Far from everything again: the high half of sequence 2 (time 5) predicts,
  // the new sequence takes slot 2 (the slot after the last one opened), the low
  // half goes raw.
  g.s.sym(g.multiplier, 512);
  g.s.res(g.coder, 0, 0x7000, 8);
  g.s.raw32(0x89ABCDEF);
  EXPECT_EQ(codeTimes({kT, kT + (uint64_t{1} << 33), kT + 10, kT + (uint64_t{1} << 33) + 7, 5,
                       0x00007000'89ABCDEFull}),
            g.s.bytes());
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, DifferenceFitsBelowTwoToThe31) {
  {
    SCOPED_TRACE("2^31 - 1 fits");
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, INT32_MAX, 0);
    EXPECT_EQ(codeTimes({kT, kT + 0x7FFFFFFFu}), g.s.bytes());
  }
  {
    SCOPED_TRACE("-2^31 fits");
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, INT32_MIN, 0);
    EXPECT_EQ(codeTimes({kT, kT - 0x80000000u}), g.s.bytes());
  }
  {
    SCOPED_TRACE("2^31 does not fit");
    GpsScript g;
    g.s.sym(g.zero, 2);
    g.s.res(g.coder, 256, 256, 8);
    g.s.raw32(0x80000000u);
    EXPECT_EQ(codeTimes({kT, kT + 0x80000000u}), g.s.bytes());
  }
  {
    SCOPED_TRACE("d = -2^31 over step -1 saturates the multiplier");
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, -1, 0);
    g.s.sym(g.multiplier, 500);
    g.s.res(g.coder, -500, INT32_MIN, 4);
    EXPECT_EQ(codeTimes({kT, kT - 1, kT - 1 - 0x80000000u}), g.s.bytes());
  }
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, FourthExtremeMultiplierReplacesTheStep) {
  {
    SCOPED_TRACE("four pauses in a row");
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, 10, 0);
    for (int i = 0; i < 4; ++i) {  // the fourth is still coded against step 10
      g.s.sym(g.multiplier, 500);
      g.s.res(g.coder, 5000, 10000, 4);
    }
    g.s.sym(g.multiplier, 1);  // step 10000 now
    g.s.res(g.coder, 10000, 10000, 1);
    EXPECT_EQ(codeTimes({kT, kT + 10, kT + 10010, kT + 20010, kT + 30010, kT + 40010, kT + 50010}),
              g.s.bytes());
  }
  {
    SCOPED_TRACE("multiplier 1 clears the count");
    GpsScript g;
    g.s.sym(g.zero, 1);
    g.s.res(g.coder, 0, 10, 0);
    std::vector<uint64_t> times = {kT, kT + 10};
    uint64_t t = kT + 10;
    for (int64_t d : {10000, 10000, 10000, 10, 10000, 10}) {
      t += static_cast<uint64_t>(d);
      times.push_back(t);
      g.s.sym(g.multiplier, d == 10 ? 1 : 500);
      g.s.res(g.coder, d == 10 ? 10 : 5000, static_cast<int32_t>(d), d == 10 ? 1 : 4);
    }
    EXPECT_EQ(codeTimes(times), g.s.bytes());
  }
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, RoundTripsEdgeTimes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<uint64_t>> sequences = {
      // +0, -0, NaN, infinities and the extremes of the I64 pattern.
      {0, 0x8000000000000000ull, 0, 0x7FF8000000000000ull, 0xFFF0000000000000ull,
       0x7FF0000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x7FFFFFFFFFFFFFFFull, 0, 1},
      // Jumps of 2^31 and 2^33 up and down, around 0 and near the wrap.
      {kT, kT + 0x80000000u, kT, kT - 0x80000000u, kT - 0x80000001u, kT + (uint64_t{1} << 33), kT,
       0x7FFFFFFF, 0x80000000, 0xFFFFFFFF80000000ull, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull},
      // Five interleaved sequences: one more than the slots.
      {kT, 2 * kT, 3 * kT, 4 * kT, 5 * kT, kT + 1, 2 * kT + 1, 3 * kT + 1, 4 * kT + 1, 5 * kT + 1,
       kT + 2, 5 * kT + 2, 4 * kT + 2},
  };
  for (size_t s = 0; s < sequences.size(); ++s) {
    SCOPED_TRACE(s);
    Items items;
    for (uint64_t t : sequences[s]) items.push_back(timeBytes(t));
    items.push_back(timeBytes(nan));
    items.push_back(timeBytes(-0.0));
    items.push_back(timeBytes(inf));
    items.push_back(timeBytes(123456.789));
    EntropyEncoder enc;
    LASwriteItemCompressed_GPSTIME11_v2 writer(&enc);
    const std::vector<Bytes> chunks = codeChunks(writer, enc, items, items.size());
    EntropyDecoder dec;
    readers_v2::GpsTime11Reader reader(&dec);
    expectRoundTrip(reader, dec, chunks, items, items.size());
  }
}

TEST(LASwriteItemCompressed_GPSTIME11_v2, RoundTripsRandomScanTimes) {
  std::mt19937_64 rng(2024);
  Items items;
  double t = 400000.0;
  double other = 900000.0;  // a second flight line, interleaved now and then
  for (int i = 0; i < 20000; ++i) {
    switch (rng() % 16) {
      case 0:  // a pause
        t += static_cast<double>(rng() % 1000000) * 1e-3;
        break;
      case 1:  // the other sequence
        other += 1e-5;
        items.push_back(timeBytes(other));
        continue;
      case 2:  // a repeated time
        break;
      case 3:  // an arbitrary pattern
        items.push_back(timeBytes(static_cast<uint64_t>(rng())));
        continue;
      case 4:  // a step back
        t -= static_cast<double>(rng() % 100) * 1e-6;
        break;
      default:  // regular pulse rate
        t += 1e-5;
    }
    items.push_back(timeBytes(t));
  }
  EntropyEncoder enc;
  LASwriteItemCompressed_GPSTIME11_v2 writer(&enc);
  const std::vector<Bytes> chunks = codeChunks(writer, enc, items, 5000);
  EntropyDecoder dec;
  readers_v2::GpsTime11Reader reader(&dec);
  expectRoundTrip(reader, dec, chunks, items, 5000);
}

// ---------------------------------------------------------------------------
// POINT10

TEST(LASwriteItemCompressed_POINT10_v2, CodesChangedFieldsWithTheirContexts) {
  const Point first = {1000, 2000, 300, 0, returnByte(1, 1), 2, 10, 3, 7};
  Items items = {pointBytes(first)};

  Script s;
  AdaptiveSymbolModel* changed = s.model(64);
  IntegerResidualCoder* intensity = s.coder(16, 4);
  AdaptiveSymbolModel* angle[2] = {s.model(256), s.model(256)};
  IntegerResidualCoder* point_source = s.coder(16, 1);
  IntegerResidualCoder* dx = s.coder(32, 2);
  IntegerResidualCoder* dy = s.coder(32, 22);
  IntegerResidualCoder* dz = s.coder(32, 20);

  // 25 unchanged single returns (class 0, level 0, bit 0 set in every context)
  // warm the changed-values model and context 1 of every coordinate coder. The
  // first of them codes Z against 0: the chunk's first Z does not predict.
  for (int i = 0; i < 25; ++i) {
    items.push_back(pointBytes(first));
    s.sym(changed, 0);
    s.res(dx, 0, 0, 1);
    s.res(dy, 0, 0, 1);
    s.res(dz, i == 0 ? 0 : 300, 300, 1);
  }
  // Intensity 50 in class 0 (context 0), a move of +5, -3, +1: X class 3 gives Y
  // context 1 | 2, classes 3 + 2 give Z context 1 | 2.
  Point p = first;
  p.intensity = 50;
  p.x += 5;
  p.y -= 3;
  p.z += 1;
  items.push_back(pointBytes(p));
  s.sym(changed, 16);
  s.res(intensity, 0, 50, 0);
  s.res(dx, 0, 5, 1);
  s.res(dy, 0, -3, 3);
  s.res(dz, 300, 301, 3);
  // The same point again: symbol 0 and the three coordinate residuals only.
  items.push_back(pointBytes(p));
  s.sym(changed, 0);
  s.res(dx, 0, 0, 1);
  s.res(dy, 0, 0, 1);
  s.res(dz, 301, 301, 1);
  // Return 0 of 0 with the scan direction set: class 15 (intensity context 3,
  // intensity 0 in that class), level 0, bit 0 clear; return byte model of the
  // previous return byte, classification model of the previous class.
  Point q = p;
  q.return_byte = returnByte(0, 0, 1);
  q.classification = 5;
  q.scan_angle_rank = 255;
  q.point_source = 8;
  items.push_back(pointBytes(q));
  AdaptiveSymbolModel* return_after_single = s.model(256);
  AdaptiveSymbolModel* class_after_2 = s.model(256);
  s.sym(changed, 32 | 16 | 8 | 4 | 1);
  s.sym(return_after_single, q.return_byte);
  s.res(intensity, 0, 50, 3);
  s.sym(class_after_2, 5);
  s.sym(angle[1], 245);  // 255 - 10
  s.res(point_source, 7, 8, 0);
  s.res(dx, 0, 0, 0);
  s.res(dy, 0, 0, 0);
  s.res(dz, 301, 301, 0);
  // Scan angle 255 -> 0 codes 1.
  Point r = q;
  r.scan_angle_rank = 0;
  items.push_back(pointBytes(r));
  s.sym(changed, 4);
  s.sym(angle[1], 1);
  s.res(dx, 0, 0, 0);
  s.res(dy, 0, 0, 0);
  s.res(dz, 301, 301, 0);
  // 0 -> 255 with the scan direction clear codes 255 with the other model; the
  // user data model is the one of the previous user data.
  Point u = r;
  u.return_byte = returnByte(0, 0, 0);
  u.scan_angle_rank = 255;
  u.user_data = 4;
  items.push_back(pointBytes(u));
  AdaptiveSymbolModel* return_after_0x40 = s.model(256);
  AdaptiveSymbolModel* user_after_3 = s.model(256);
  s.sym(changed, 32 | 4 | 2);
  s.sym(return_after_0x40, u.return_byte);
  s.sym(angle[0], 255);
  s.sym(user_after_3, 4);
  s.res(dx, 0, 0, 0);
  s.res(dy, 0, 0, 0);
  s.res(dz, 301, 301, 0);
  // Back to a single return: the return byte model of 0x00, intensity 50 is
  // class 0's last one; the level-0 Z is the last point's.
  items.push_back(pointBytes(p));
  AdaptiveSymbolModel* return_after_0 = s.model(256);
  s.sym(changed, 32 | 8 | 4 | 2 | 1);
  s.sym(return_after_0, p.return_byte);
  s.sym(s.model(256), 2);  // classification after 5
  s.sym(angle[0], 11);     // 10 - 255
  s.sym(s.model(256), 3);  // user data after 4
  s.res(point_source, 8, 7, 0);
  s.res(dx, 0, 0, 1);
  s.res(dy, 0, 0, 1);
  s.res(dz, 301, 301, 1);
  const Bytes expected = s.bytes();

  EntropyEncoder enc;
  LASwriteItemCompressed_POINT10_v2 writer(&enc);
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
}

TEST(LASwriteItemCompressed_POINT10_v2, PredictsStepsByMediansAndZByLevel) {
  // Return 2 of 3: class 4, level 1, bit 0 clear. The X steps 5, 1, 3 raise the
  // class's median to 1 only at the third; the Y steps -4, -2, 7, 7 keep it at
  // 0. Z of level 1 predicts the next point of level 1.
  const Point first = {0, 0, 50, 0, returnByte(2, 3), 0, 0, 0, 0};
  Items items = {pointBytes(first)};
  Script s;
  AdaptiveSymbolModel* changed = s.model(64);
  s.coder(16, 4);
  s.model(256);
  s.model(256);
  s.coder(16, 1);
  IntegerResidualCoder* dx = s.coder(32, 2);
  IntegerResidualCoder* dy = s.coder(32, 22);
  IntegerResidualCoder* dz = s.coder(32, 20);
  struct Move {
    int32_t dx, dy, z;
    int32_t x_pred, y_pred, z_pred;
    uint32_t y_context, z_context;
  };
  // Contexts: Y from X's class (bit 0 cleared, 20 from class 20 on), Z from half
  // the sum of both classes (bit 0 cleared, 18 from a sum of 36 on).
  const Move moves[] = {
      {5, -4, 60, 0, 0, 0, 2, 2},                 // classes 3, 3
      {1, -2, 61, 0, 0, 60, 0, 0},                // classes 0, 2
      {3, 7, 70, 0, 0, 61, 2, 2},                 // classes 2, 3; X median now 1
      {INT32_MAX, 7, -5, 1, 0, 70, 20, 16},       // classes 31, 3: sum 34
      {INT32_MIN + 3, -8, -5, 3, 0, -5, 20, 18},  // X residual -2^31: class 32; Y 4
  };
  Point p = first;
  for (const Move& m : moves) {
    p.x = static_cast<int32_t>(static_cast<uint32_t>(p.x) + static_cast<uint32_t>(m.dx));
    p.y += m.dy;
    p.z = m.z;
    items.push_back(pointBytes(p));
    s.sym(changed, 0);
    s.res(dx, m.x_pred, m.dx, 0);
    s.res(dy, m.y_pred, m.dy, m.y_context);
    s.res(dz, m.z_pred, m.z, m.z_context);
  }
  const Bytes expected = s.bytes();

  EntropyEncoder enc;
  LASwriteItemCompressed_POINT10_v2 writer(&enc);
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
}

// Bit class of a residual: 0 for 0 and 1, else the bit length of |c| (c - 1 for
// positive c); -2^31 is class 32.
uint32_t residualClass(int32_t c) {
  const uint32_t u = c >= 1 ? static_cast<uint32_t>(c) - 1 : 0u - static_cast<uint32_t>(c);
  uint32_t k = 0;
  while (k < 32 && (u >> k) != 0) ++k;
  return k;
}

TEST(LASwriteItemCompressed_POINT10_v2, CoordinateContextsCoverEveryClass) {
  // Steps of every magnitude in two return classes (single returns set bit 0 of
  // every context); 600 points use and warm every Y and Z context, including the
  // caps at Y class 20 and Z sum 36.
  std::mt19937 rng(11);
  Point p = {0, 0, 0, 0, returnByte(1, 1), 0, 0, 0, 0};
  Items items = {pointBytes(p)};
  Script s;
  AdaptiveSymbolModel* changed = s.model(64);
  s.coder(16, 4);
  s.model(256);
  s.model(256);
  s.coder(16, 1);
  IntegerResidualCoder* dx = s.coder(32, 2);
  IntegerResidualCoder* dy = s.coder(32, 22);
  IntegerResidualCoder* dz = s.coder(32, 20);
  AdaptiveSymbolModel* return_models[256] = {};
  RollingMedian5 x_median[2];
  RollingMedian5 y_median[2];
  for (auto& m : x_median) m.reset();
  for (auto& m : y_median) m.reset();
  int32_t last_z[2] = {0, 0};
  auto randomStep = [&rng]() {
    const uint32_t bits = rng() % 33;
    const uint32_t magnitude = bits == 0 ? 0 : static_cast<uint32_t>(rng()) >> (32 - bits);
    return static_cast<int32_t>(rng() % 2 ? magnitude : 0u - magnitude);
  };
  for (int i = 0; i < 600; ++i) {
    const bool single = rng() % 2 == 0;
    const uint8_t previous_return = p.return_byte;
    // Return 1 of 1: class 0, level 0; return 1 of 2: class 1, level 1.
    p.return_byte = single ? returnByte(1, 1) : returnByte(1, 2);
    const int m = single ? 0 : 1;
    const uint32_t e = single ? 1 : 0;
    const int32_t step_x = randomStep();
    const int32_t step_y = randomStep();
    p.x = static_cast<int32_t>(static_cast<uint32_t>(p.x) + static_cast<uint32_t>(step_x));
    p.y = static_cast<int32_t>(static_cast<uint32_t>(p.y) + static_cast<uint32_t>(step_y));
    p.z = randomStep();
    items.push_back(pointBytes(p));

    if (p.return_byte != previous_return) {
      s.sym(changed, 32);
      if (!return_models[previous_return]) return_models[previous_return] = s.model(256);
      s.sym(return_models[previous_return], p.return_byte);
    } else {
      s.sym(changed, 0);
    }
    const int32_t x_pred = x_median[m].get();
    s.res(dx, x_pred, step_x, e);
    x_median[m].add(step_x);
    const uint32_t kx = residualClass(
        static_cast<int32_t>(static_cast<uint32_t>(step_x) - static_cast<uint32_t>(x_pred)));
    const int32_t y_pred = y_median[m].get();
    s.res(dy, y_pred, step_y, e + (kx >= 20 ? 20 : kx - kx % 2));
    y_median[m].add(step_y);
    const uint32_t ky = residualClass(
        static_cast<int32_t>(static_cast<uint32_t>(step_y) - static_cast<uint32_t>(y_pred)));
    const uint32_t half = (kx + ky) / 2;
    s.res(dz, last_z[m], p.z, e + (kx + ky >= 36 ? 18 : half - half % 2));
    last_z[m] = p.z;
  }
  const Bytes expected = s.bytes();

  EntropyEncoder enc;
  LASwriteItemCompressed_POINT10_v2 writer(&enc);
  EXPECT_EQ(codeOneChunk(writer, enc, items), expected);
}

TEST(LASwriteItemCompressed_POINT10_v2, RoundTripsEveryReturnPairAndCoordinateJumps) {
  Items items;
  Point p = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  // Every (n, r) pair, three times over so that each class sees repeats.
  for (int round = 0; round < 3; ++round) {
    for (int n = 0; n < 8; ++n) {
      for (int r = 0; r < 8; ++r) {
        p.return_byte = returnByte(r, n, (n + r) & 1) | ((r & 1) << 7);
        p.intensity = static_cast<uint16_t>(n * 1000 + r + round);
        p.x += r - n;
        p.z = n - r;
        items.push_back(pointBytes(p));
      }
    }
  }
  // Coordinate jumps between the extremes.
  const int32_t extremes[] = {INT32_MIN, INT32_MAX, INT32_MIN, 0, INT32_MAX, -1, INT32_MIN + 1};
  for (int32_t a : extremes) {
    for (int32_t b : extremes) {
      p.x = a;
      p.y = b;
      p.z = a ^ b;
      p.intensity = static_cast<uint16_t>(a);
      p.point_source = static_cast<uint16_t>(b);
      p.scan_angle_rank = static_cast<uint8_t>(a >> 24);
      items.push_back(pointBytes(p));
    }
  }
  EntropyEncoder enc;
  LASwriteItemCompressed_POINT10_v2 writer(&enc);
  const std::vector<Bytes> chunks = codeChunks(writer, enc, items, items.size());
  EntropyDecoder dec;
  readers_v2::Point10Reader reader(&dec);
  expectRoundTrip(reader, dec, chunks, items, items.size());
}

Items randomScan(uint32_t seed, int count) {
  std::mt19937 rng(seed);
  Items items;
  Point p = {500000, 4000000, 1200, 300, returnByte(1, 1), 2, 0, 0, 17};
  while (static_cast<int>(items.size()) < count) {
    const int n = 1 + static_cast<int>(rng() % 4);
    p.x += static_cast<int32_t>(rng() % 41) - 10;
    p.y += static_cast<int32_t>(rng() % 7) - 3;
    if (rng() % 200 == 0) p.x = static_cast<int32_t>(rng());  // a wild jump
    // Fields change often enough that every model in use adapts within a chunk,
    // so a wrong model choice shows in the round trip.
    if (rng() % 4 == 0) p.scan_angle_rank = static_cast<uint8_t>(p.scan_angle_rank + rng() % 5 - 2);
    if (rng() % 300 == 0) p.point_source = static_cast<uint16_t>(rng());
    if (rng() % 3 == 0) p.user_data = static_cast<uint8_t>(rng() % 4);
    const int direction = static_cast<int>(rng() % 2);
    for (int r = 1; r <= n; ++r) {
      p.return_byte = returnByte(r, n, direction);
      if (rng() % 1000 == 0) p.return_byte = static_cast<uint8_t>(rng());  // odd pairs
      p.classification = static_cast<uint8_t>(r == n ? 2 : (rng() % 3 == 0 ? 5 : 1));
      p.intensity = static_cast<uint16_t>(rng() % 4 == 0 ? p.intensity : rng() % 2000);
      p.z += static_cast<int32_t>(rng() % 201) - 100;
      items.push_back(pointBytes(p));
    }
  }
  items.resize(static_cast<size_t>(count));
  return items;
}

TEST(LASwriteItemCompressed_POINT10_v2, RoundTripsRandomScanOverChunks) {
  const Items items = randomScan(99, 30000);
  EntropyEncoder enc;
  LASwriteItemCompressed_POINT10_v2 writer(&enc);
  const std::vector<Bytes> chunks = codeChunks(writer, enc, items, 7000);
  EntropyDecoder dec;
  readers_v2::Point10Reader reader(&dec);
  expectRoundTrip(reader, dec, chunks, items, 7000);
}

// ---------------------------------------------------------------------------
// Every writer

struct WriterCase {
  const char* name;
  std::unique_ptr<LASwriteItemCompressed> (*make)(EntropyEncoder*);
  Items items;
};

std::vector<WriterCase> writerCases() {
  Items colours;
  Items bytes;
  Items times;
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    colours.push_back(colourBytes(rng() % 300, rng() % 300, i % 7 == 0 ? 5 : rng() % 300));
    bytes.push_back({static_cast<uint8_t>(rng()), static_cast<uint8_t>(i), 0, 0, 9});
    times.push_back(timeBytes(1000.0 + i * 0.25 + (i % 97 == 0 ? 1e6 : 0.0)));
  }
  std::vector<WriterCase> cases;
  cases.push_back({"POINT10",
                   [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
                     return std::make_unique<LASwriteItemCompressed_POINT10_v2>(e);
                   },
                   randomScan(3, 2000)});
  cases.push_back({"GPSTIME11",
                   [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
                     return std::make_unique<LASwriteItemCompressed_GPSTIME11_v2>(e);
                   },
                   times});
  cases.push_back({"RGB12",
                   [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
                     return std::make_unique<LASwriteItemCompressed_RGB12_v2>(e);
                   },
                   colours});
  cases.push_back({"BYTE",
                   [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
                     return std::make_unique<LASwriteItemCompressed_BYTE_v2>(e, 5);
                   },
                   bytes});
  return cases;
}

TEST(ItemWritersV2, ChunkOfOnePointCodesNothing) {
  for (const WriterCase& c : writerCases()) {
    SCOPED_TRACE(c.name);
    EntropyEncoder enc;
    auto writer = c.make(&enc);
    // What a finished encoder writes when nothing was coded.
    EXPECT_EQ(codeOneChunk(*writer, enc, {c.items[0]}), (Bytes{0x01, 0x00, 0x00, 0x00}));
  }
}

TEST(ItemWritersV2, ChunkBytesDependOnlyOnTheChunksPoints) {
  for (const WriterCase& c : writerCases()) {
    SCOPED_TRACE(c.name);
    const Items second(c.items.begin() + 1000, c.items.end());
    EntropyEncoder enc;
    auto writer = c.make(&enc);
    const std::vector<Bytes> both = codeChunks(*writer, enc, c.items, 1000);
    ASSERT_EQ(both.size(), 2u);
    EntropyEncoder fresh_enc;
    auto fresh = c.make(&fresh_enc);
    EXPECT_EQ(codeOneChunk(*fresh, fresh_enc, second), both[1]);
  }
}

TEST(ItemWritersV2, NoLayers) {
  for (const WriterCase& c : writerCases()) {
    SCOPED_TRACE(c.name);
    EntropyEncoder enc;
    auto writer = c.make(&enc);
    EXPECT_FALSE(writer->writeLayerSizes());
    EXPECT_FALSE(writer->writeLayerBytes());
  }
}

}  // namespace
