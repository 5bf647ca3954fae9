// Tests of the layered item writers of versions 3 and 4. Three kinds of proof:
// - whole chunks as bytes: sizes and layers of one-record chunks, and which
//   layers a chunk leaves out;
// - scripts: one fresh encoder per layer driven by hand with exactly the symbols
//   and residuals the coding must produce (channel symbols, return cases, GPS
//   sequences, context sequences), compared with the writer's layer bytes;
// - decoding with the test decoders of item_readers_layered.h, and chunks that
//   must not depend on what the writer coded before.
// The writer-level round trips over every format live in point_round_trip_test.
#include "morrowtide/compressor/item_writers_layered.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "morrowtide/compressor/item_writers_raw.h"
#include "morrowtide/compressor/rgb_difference_coding.h"
#include "tests/compressor/coding_script.h"
#include "tests/compressor/item_reader_support.h"
#include "tests/compressor/item_readers_layered.h"

using morrowtide::codeRgbDifference;
using morrowtide::LayeredPoint14Writer;
using morrowtide::LayerStreamOut;

namespace {

using Bytes = std::vector<uint8_t>;
using item_readers::getLE;
using item_readers::putLE;

// ---------------------------------------------------------------------------
// Helpers

// One layer's expected coding.
using LayerScript = CodingScript;

// What one chunk of a layered writer produced.
struct Chunk {
  Bytes all;                    // sizes, then layer bytes, as the writer wrote them
  std::vector<uint32_t> sizes;  // one per layer
  std::vector<Bytes> layers;    // the bytes of each layer (empty when size 0)
  std::vector<uint32_t> words;  // the context word after each call
};

// Drives `w` over one chunk as the point-record writer does: startChunk, the
// main encoder started, writeItem for the rest, then sizes and bytes. words[i]
// is the context word handed to record i (the point writer ignores it).
Chunk runChunk(LASwriteItemCompressed& w, EntropyEncoder& main, uint32_t num_layers,
               const std::vector<Bytes>& items, const std::vector<uint32_t>& words = {}) {
  ByteStreamOutArrayLE out;
  Chunk c;
  for (size_t i = 0; i < items.size(); ++i) {
    uint32_t word = i < words.size() ? words[i] : 0;
    if (i == 0) {
      EXPECT_TRUE(w.startChunk(items[0].data(), word));
      main.start(&out);
    } else {
      EXPECT_TRUE(w.writeItem(items[i].data(), word));
    }
    c.words.push_back(word);
  }
  EXPECT_TRUE(w.writeLayerSizes());
  EXPECT_TRUE(w.writeLayerBytes());
  c.all.assign(out.data(), out.data() + out.byteCount());
  size_t at = 4 * num_layers;
  for (uint32_t i = 0; i < num_layers && 4 * i + 4 <= c.all.size(); ++i) {
    c.sizes.push_back(getLE(c.all.data() + 4 * i, 4));
    const size_t end = at + c.sizes.back() <= c.all.size() ? at + c.sizes.back() : c.all.size();
    c.layers.emplace_back(c.all.begin() + static_cast<ptrdiff_t>(at),
                          c.all.begin() + static_cast<ptrdiff_t>(end));
    at = end;
  }
  EXPECT_EQ(at, c.all.size()) << "bytes beyond the announced layers";
  return c;
}

// A LAS 1.4 point in memory (40-byte view) whose legacy copies agree with its
// LAS 1.4 fields, unless a test changes them afterwards.
struct P14 {
  int32_t x = 1000, y = 2000, z = 300;
  uint16_t intensity = 50;
  uint32_t r = 1, n = 1, channel = 0;
  uint8_t cls = 2, flags = 0, user = 0;  // flags: synthetic, key-point, withheld, overlap
  int16_t angle = 0;
  uint16_t source = 7;
  uint64_t time = 0x40F86A0000000000u;  // 100000.0
  uint32_t direction = 0, edge = 0;

  Bytes bytes() const {
    Bytes p(40, 0);
    putLE(p.data() + 0, static_cast<uint32_t>(x), 4);
    putLE(p.data() + 4, static_cast<uint32_t>(y), 4);
    putLE(p.data() + 8, static_cast<uint32_t>(z), 4);
    putLE(p.data() + 12, intensity, 2);
    p[14] = static_cast<uint8_t>((r & 7) | (n & 7) << 3 | direction << 6 | edge << 7);
    p[15] = static_cast<uint8_t>((cls < 32 ? cls : 0) | (flags & 7) << 5);
    p[17] = user;
    putLE(p.data() + 18, source, 2);
    putLE(p.data() + 20, static_cast<uint16_t>(angle), 2);
    p[22] = static_cast<uint8_t>(1 | channel << 2 | flags << 4);
    p[23] = cls;
    p[24] = static_cast<uint8_t>(r | n << 4);
    putLE(p.data() + 32, time, 8);
    return p;
  }
};

std::vector<Bytes> toBytes(const std::vector<P14>& points) {
  std::vector<Bytes> items;
  for (const P14& p : points) items.push_back(p.bytes());
  return items;
}

// The 30-byte record an uncompressed file holds for the in-memory point: what
// the raw writer writes for it.
Bytes record(const Bytes& point) {
  ByteStreamOutArrayLE out;
  LASwriteItemRaw_POINT14_LE raw;
  raw.attachStream(&out);
  uint32_t context = 0;
  EXPECT_TRUE(raw.writeItem(point.data(), context));
  return Bytes(out.data(), out.data() + out.byteCount());
}

// Decodes a chunk of `reader` from `c` and checks it against `expected` (item
// bytes as the file stores them) and that no layer is read past its end.
void expectDecodes(readers_layered::LayeredReader& reader, const Chunk& c,
                   const std::vector<Bytes>& expected, const std::vector<uint32_t>& words = {}) {
  ASSERT_EQ(c.layers.size(), reader.numLayers());
  uint32_t word = words.empty() ? 0 : words[0];
  reader.startChunk(expected[0].data(), word);
  for (uint32_t i = 0; i < reader.numLayers(); ++i)
    reader.attachLayer(i, c.layers[i].data(), c.sizes[i]);
  for (size_t k = 1; k < expected.size(); ++k) {
    word = k < words.size() ? words[k] : 0;
    Bytes got(expected[k].size());
    reader.readItem(got.data(), word);
    ASSERT_EQ(got, expected[k]) << "record " << k;
  }
  for (uint32_t i = 0; i < reader.numLayers(); ++i)
    EXPECT_LE(reader.consumed(i), c.sizes[i]) << "layer " << i;
}

// ---------------------------------------------------------------------------
// Point writer

TEST(LayeredPoint14Writer, OnePointChunkWritesSizesFourFourThenZerosAndTheTwoEmptyLayers) {
  // Finishing an encoder that coded nothing gives 01 00 00 00.
  const Bytes expected = {4, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  P14 first;
  first.channel = 2;
  // A longer chunk first: the next one must rewind the layers, not append.
  runChunk(w, main, 9, toBytes({first, P14{}, first}));
  const Chunk c = runChunk(w, main, 9, toBytes({first}));
  EXPECT_EQ(c.all, expected);
  EXPECT_EQ(c.words, (std::vector<uint32_t>{2}));
}

TEST(LayeredPoint14Writer, FieldsThatNeverChangeLeaveTheirLayersOut) {
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  std::vector<P14> points(6);
  for (size_t i = 0; i < points.size(); ++i) {
    points[i].x += static_cast<int32_t>(7 * i);
    points[i].z -= static_cast<int32_t>(i);
  }
  const Chunk same = runChunk(w, main, 9, toBytes(points));
  EXPECT_GT(same.sizes[0], 4u);
  EXPECT_EQ(std::vector<uint32_t>(same.sizes.begin() + 2, same.sizes.end()),
            std::vector<uint32_t>(7, 0));

  // Each field changed once, at the last point: exactly its layer appears.
  struct Case {
    const char* field;
    void (*change)(P14&);
    size_t layer;
  };
  const Case cases[] = {
      {"classification", [](P14& p) { p.cls = 6; }, 2},
      {"flags", [](P14& p) { p.edge = 1; }, 3},
      {"intensity", [](P14& p) { p.intensity = 51; }, 4},
      {"scan angle", [](P14& p) { p.angle = -1; }, 5},
      {"user data", [](P14& p) { p.user = 200; }, 6},
      {"point source", [](P14& p) { p.source = 8; }, 7},
      {"gps time", [](P14& p) { p.time += 1; }, 8},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.field);
    std::vector<P14> changed = points;
    k.change(changed.back());
    const Chunk c = runChunk(w, main, 9, toBytes(changed));
    for (size_t i = 2; i < 9; ++i) EXPECT_EQ(c.sizes[i] != 0, i == k.layer) << "layer " << i;
    readers_layered::Point14Reader reader(false);
    std::vector<Bytes> records;
    for (const Bytes& b : toBytes(changed)) records.push_back(record(b));
    expectDecodes(reader, c, records);
  }
}

// The changed-values symbol for a point equal to its reference but for the channel.
constexpr uint32_t kOnlyChannelChanged = 64;

TEST(LayeredPoint14Writer, ChannelSwitchesCodeTheirSymbolWithTheModelsOfTheContextLeft) {
  // Channels 0, then 1, 0, 3, 0 five times: 0->1 codes 0, 1->0 codes 2, 0->3
  // codes 2, 3->0 codes 0, each with the channel model of the context left and
  // after the changed-values symbol of that context. A run of unchanged points
  // on channel 0 first makes context 0's changed-values model differ from a
  // fresh one.
  const uint32_t kSequence[4] = {1, 0, 3, 0};
  constexpr size_t kWarmUp = 100;
  std::vector<P14> points(1 + kWarmUp);
  for (int round = 0; round < 5; ++round) {
    for (uint32_t c : kSequence) {
      points.emplace_back();
      points.back().channel = c;
    }
  }
  LayerScript s;
  struct Models {
    AdaptiveSymbolModel* changed = nullptr;  // index 3: r = 1, n = 1, time unchanged
    AdaptiveSymbolModel* channel = nullptr;
    IntegerResidualCoder* dx = nullptr;
    IntegerResidualCoder* dy = nullptr;
  } ctx[4];
  auto prepare = [&](uint32_t c) {
    ctx[c].changed = s.model(128);
    ctx[c].channel = s.model(3);
    ctx[c].dx = s.coder(32, 2);
    ctx[c].dy = s.coder(32, 22);
  };
  prepare(0);
  for (size_t i = 0; i < kWarmUp; ++i) {
    s.encoder().putSymbol(ctx[0].changed, 0);
    ctx[0].dx->encode(0, 0, 1);
    ctx[0].dy->encode(0, 0, 1);
  }
  uint32_t current = 0;
  for (size_t i = 1 + kWarmUp; i < points.size(); ++i) {
    const uint32_t c = points[i].channel;
    const uint32_t symbol = current == 0 ? (c == 1 ? 0 : 2) : (current == 1 ? 2 : 0);
    s.encoder().putSymbol(ctx[current].changed, kOnlyChannelChanged);
    s.encoder().putSymbol(ctx[current].channel, symbol);
    if (ctx[c].changed == nullptr) prepare(c);
    current = c;
    ctx[c].dx->encode(0, 0, 1);  // n = 1
    ctx[c].dy->encode(0, 0, 1);
  }
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  const Chunk c = runChunk(w, main, 9, toBytes(points));
  EXPECT_EQ(c.layers[0], s.bytes());
}

TEST(LayeredPoint14Writer, ReturnNumberCasesAroundFifteenAndTheSameTimeModel) {
  // Fifteen returns throughout. With rR = 15, r = 0 is case 1; with rR = 0,
  // r = 15 is case 2; with rR = 15, r = 14 case 2; with an unchanged time,
  // rR = 14, r = 3 codes 3, rR = 3, r = 5 codes 0 and rR = 5, r = 3 codes 12;
  // with a changed time, r = 7 is coded with the model of rR = 3.
  const uint32_t returns[] = {15, 0, 15, 14, 3, 5, 3, 7};
  std::vector<P14> points;
  for (uint32_t r : returns) {
    points.emplace_back();
    points.back().n = 15;
    points.back().r = r;
  }
  points.back().time += 1;

  LayerScript s;
  AdaptiveSymbolModel* changed[8];
  for (auto& m : changed) m = s.model(128);
  s.model(3);  // the channel model
  AdaptiveSymbolModel* same_time = s.model(13);
  IntegerResidualCoder* dx = s.coder(32, 2);
  IntegerResidualCoder* dy = s.coder(32, 22);
  AdaptiveSymbolModel* changed_time_after_3 = s.model(16);
  // (changed-values symbol, model index by the last point, same-time symbol or -1)
  struct Step {
    uint32_t symbol;
    uint32_t model;
    int32_t same_time;
  };
  const Step steps[] = {
      {1, 2, -1},       // 15 -> 0; last r = 15 >= n: index 2
      {2, 0, -1},       // 0 -> 15; last r = 0 < n: index 0
      {2, 2, -1},       // 15 -> 14
      {3, 0, 3},        // 14 -> 3
      {3, 0, 0},        // 3 -> 5
      {3, 0, 12},       // 5 -> 3
      {3 | 16, 0, -1},  // 3 -> 7 with a new time
  };
  for (const Step& step : steps) {
    s.encoder().putSymbol(changed[step.model], step.symbol);
    if (step.same_time >= 0)
      s.encoder().putSymbol(same_time, static_cast<uint32_t>(step.same_time));
    if (step.symbol & 16) s.encoder().putSymbol(changed_time_after_3, 7);
    dx->encode(0, 0, 0);
    dy->encode(0, 0, 0);
  }
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v4 w(&main);
  const Chunk c = runChunk(w, main, 9, toBytes(points));
  EXPECT_EQ(c.layers[0], s.bytes());
}

TEST(LayeredPoint14Writer, GpsTimesOfFiveDistantRangesOpenAndReuseTheFourSequences) {
  // Range k lies at (k + 1) * 2^40 in the time's bit pattern, so no two ranges
  // are within a 32-bit difference and none is near the empty slots' 0.
  auto range = [](uint64_t k, uint64_t plus) { return ((k + 1) << 40) + plus; };
  const uint64_t times[] = {range(0, 0), range(0, 10), range(1, 0), range(0, 20), range(2, 0),
                            range(3, 0), range(4, 0),  range(1, 5), range(0, 30)};
  std::vector<P14> points;
  for (uint64_t t : times) {
    points.emplace_back();
    points.back().time = t;
  }
  LayerScript s;
  AdaptiveSymbolModel* multiplier = s.model(515);
  AdaptiveSymbolModel* zero_diff = s.model(5);
  IntegerResidualCoder* coder = s.coder(32, 9);
  auto newSequence = [&](AdaptiveSymbolModel* m, uint32_t symbol, uint64_t from, uint64_t t) {
    s.encoder().putSymbol(m, symbol);
    coder->encode(static_cast<int32_t>(from >> 32), static_cast<int32_t>(t >> 32), 8);
    s.encoder().putRawU32(static_cast<uint32_t>(t));
  };
  // Slot 0 starts at range 0; its first step is 10.
  s.encoder().putSymbol(zero_diff, 0);
  coder->encode(0, 10, 0);
  newSequence(multiplier, 511, times[1], times[2]);  // range 1 in slot 1
  s.encoder().putSymbol(zero_diff, 4);               // from slot 1 three on: slot 0
  s.encoder().putSymbol(multiplier, 1);              // a step of 10 again
  coder->encode(10, 10, 1);
  newSequence(multiplier, 511, times[3], times[4]);  // range 2 in slot 2
  newSequence(zero_diff, 1, times[4], times[5]);     // range 3 in slot 3
  newSequence(zero_diff, 1, times[5], times[6]);     // range 4 reuses slot 0
  s.encoder().putSymbol(zero_diff, 2);               // range 1 is one slot on
  s.encoder().putSymbol(zero_diff, 0);
  coder->encode(0, 5, 0);
  newSequence(multiplier, 511, times[7], times[8]);  // range 0 is gone: slot 1 again
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  const Chunk c = runChunk(w, main, 9, toBytes(points));
  EXPECT_EQ(c.layers[8], s.bytes());
}

TEST(LayeredPoint14Writer, TimesThatDifferOnlyInTheirBitsAreCoded) {
  // The fault: comparing times as F64 values alone calls -0.0 after +0.0
  // unchanged, so the compressed file gives back +0.0 where the raw one has -0.0.
  struct Case {
    const char* name;
    uint64_t first, second;
    bool coded;
  };
  const Case cases[] = {
      {"+0 then +0", 0, 0, false},
      {"+0 then -0", 0, 0x8000000000000000u, true},
      {"-0 then +0", 0x8000000000000000u, 0, true},
      {"the same NaN", 0x7FF8000000000000u, 0x7FF8000000000000u, true},
      {"1.0 then 1.0", 0x3FF0000000000000u, 0x3FF0000000000000u, false},
  };
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<P14> points(2);
    points[0].time = k.first;
    points[1].time = k.second;
    const Chunk c = runChunk(w, main, 9, toBytes(points));
    EXPECT_EQ(c.sizes[8] != 0, k.coded);
    readers_layered::Point14Reader reader(false);
    expectDecodes(reader, c, {record(points[0].bytes()), record(points[1].bytes())});
  }
  // -0.0 after +0.0: the zero difference cannot serve, so a new sequence opens.
  LayerScript s;
  s.model(515);
  AdaptiveSymbolModel* zero_diff = s.model(5);
  IntegerResidualCoder* coder = s.coder(32, 9);
  s.encoder().putSymbol(zero_diff, 1);
  coder->encode(0, INT32_MIN, 8);
  s.encoder().putRawU32(0);
  std::vector<P14> points(2);
  points[0].time = 0;
  points[1].time = 0x8000000000000000u;
  EXPECT_EQ(runChunk(w, main, 9, toBytes(points)).layers[8], s.bytes());
}

TEST(LayeredPoint14Writer, PointsWhoseLegacyCopiesDisagreeCodeTheValuesOfTheirRecord) {
  // The fault: coding extended_classification and the LAS 1.4 flag bits gives
  // back other values than the uncompressed record holds (its class is the
  // 5-bit one when not 0, its synthetic, key-point and withheld bits the legacy
  // ones), for the point and, through the seed, for the rest of its chunk.
  std::vector<P14> agreeing(4);
  agreeing[1].x = 1010;
  agreeing[2].cls = 9;
  agreeing[2].flags = 5;
  agreeing[3].flags = 3;
  std::vector<Bytes> disagreeing = toBytes(agreeing);
  // Same records: the LAS 1.4 copies hold other class and flag bits.
  for (Bytes& p : disagreeing) {
    p[23] = static_cast<uint8_t>(p[23] + 40);
    p[22] = static_cast<uint8_t>(p[22] ^ 0x70);
  }
  std::vector<Bytes> records;
  for (size_t i = 0; i < disagreeing.size(); ++i) {
    records.push_back(record(disagreeing[i]));
    ASSERT_EQ(records.back(), record(agreeing[i].bytes()));
  }
  EntropyEncoder main;
  LASwriteItemCompressed_POINT14_v3 w(&main);
  const Chunk c = runChunk(w, main, 9, disagreeing);
  EXPECT_EQ(c.all, runChunk(w, main, 9, toBytes(agreeing)).all);
  readers_layered::Point14Reader reader(false);
  expectDecodes(reader, c, records);
}

TEST(LayeredPoint14Writer, VersionsThreeAndFourCodeTheSameLayersButOtherContextWords) {
  const uint32_t channels[] = {2, 2, 1, 1, 1, 2, 0, 0};
  std::vector<P14> points;
  for (uint32_t c : channels) {
    points.emplace_back();
    points.back().channel = c;
    points.back().x += static_cast<int32_t>(points.size() * 3);
  }
  EntropyEncoder main3, main4;
  LASwriteItemCompressed_POINT14_v3 v3(&main3);
  LASwriteItemCompressed_POINT14_v4 v4(&main4);
  const std::vector<uint32_t> garbage(points.size(), 0xFFFFFFF1u);  // never read
  const Chunk c3 = runChunk(v3, main3, 9, toBytes(points), garbage);
  const Chunk c4 = runChunk(v4, main4, 9, toBytes(points), garbage);
  EXPECT_EQ(c3.all, c4.all);
  EXPECT_EQ(c3.words, (std::vector<uint32_t>{2, 0xFFFFFFF1u, 1, 0xFFFFFFF1u, 0xFFFFFFF1u, 2, 0,
                                             0xFFFFFFF1u}));
  EXPECT_EQ(c4.words, (std::vector<uint32_t>{2, 2, 1, 1, 1, 2, 0, 0}));
}

// ---------------------------------------------------------------------------
// Colour, wave packet and extra-bytes writers

TEST(LayeredItemWriters, OneRecordChunksWriteZeroSizesAndNoBytes) {
  struct Case {
    const char* name;
    std::unique_ptr<LASwriteItemCompressed> (*make)(EntropyEncoder*);
    uint32_t layers;
    size_t item_size;
  };
  const Case cases[] = {
      {"RGB14 v3",
       [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
         return std::make_unique<LASwriteItemCompressed_RGB14_v3>(e);
       },
       1, 6},
      {"RGBNIR14 v4",
       [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
         return std::make_unique<LASwriteItemCompressed_RGBNIR14_v4>(e);
       },
       2, 8},
      {"WAVEPACKET14 v3",
       [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
         return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v3>(e);
       },
       1, 29},
      {"BYTE14 v4 of 3",
       [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
         return std::make_unique<LASwriteItemCompressed_BYTE14_v4>(e, 3);
       },
       3, 3},
      {"BYTE14 v3 of 0",
       [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
         return std::make_unique<LASwriteItemCompressed_BYTE14_v3>(e, 0);
       },
       0, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EntropyEncoder main;
    auto w = k.make(&main);
    const Bytes item(k.item_size + 1, 0x5A);
    runChunk(*w, main, k.layers, {item, Bytes(k.item_size + 1, 0x11), item}, {1, 2, 3});
    const Chunk c = runChunk(*w, main, k.layers, {item}, {3});
    EXPECT_EQ(c.all, Bytes(4 * k.layers, 0));
  }
}

TEST(LayeredItemWriters, ColourLayersAreLeftOutOnlyForAnUnchangedGreyColourAndNir) {
  struct Case {
    const char* name;
    uint16_t first[4];
    uint16_t later[4];
    bool rgb, nir;
  };
  const Case cases[] = {
      {"grey, repeated", {500, 500, 500, 9}, {500, 500, 500, 9}, false, false},
      {"not grey, repeated", {500, 501, 500, 9}, {500, 501, 500, 9}, true, false},
      {"colour changes, NIR not", {500, 501, 500, 9}, {700, 1, 5, 9}, true, false},
      {"NIR changes only", {500, 500, 500, 9}, {500, 500, 500, 0x109}, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes first(8), later(8);
    for (int i = 0; i < 4; ++i) {
      putLE(first.data() + 2 * i, k.first[i], 2);
      putLE(later.data() + 2 * i, k.later[i], 2);
    }
    EntropyEncoder main;
    LASwriteItemCompressed_RGBNIR14_v3 w(&main);
    const Chunk c = runChunk(w, main, 2, {first, later, later});
    EXPECT_EQ(c.sizes[0] != 0, k.rgb);
    EXPECT_EQ(c.sizes[1] != 0, k.nir);
    readers_layered::RgbNir14Reader reader(true, false);
    expectDecodes(reader, c, {first, later, later});
  }
}

TEST(LayeredItemWriters, ContextSequenceOneZeroTwoZeroPicksTheReferenceByVersion) {
  // Record 2 (context 0) is coded against context 1's reference with context
  // 0's fresh models; record 3 (context 2) against record 2; record 4 (context
  // 0, prepared before) with context 0's models against record 3 (version 3,
  // context 2's reference) or record 2 (version 4, context 0's own).
  const uint16_t colours[4][3] = {
      {100, 200, 300}, {1100, 1210, 1300}, {3000, 30, 7}, {1150, 1200, 1350}};
  std::vector<Bytes> items;
  for (const auto& c : colours) {
    items.emplace_back(6);
    for (int i = 0; i < 3; ++i) putLE(items.back().data() + 2 * i, c[i], 2);
  }
  const std::vector<uint32_t> words = {1, 0, 2, 0};
  for (bool version4 : {false, true}) {
    SCOPED_TRACE(version4 ? "version 4" : "version 3");
    LayerScript s;
    struct Models {
      AdaptiveSymbolModel* used;
      AdaptiveSymbolModel* diff[6];
    } ctx[3];
    for (Models& m : ctx) {
      m.used = s.model(128);
      for (auto& d : m.diff) d = s.model(256);
    }
    codeRgbDifference(s.encoder(), ctx[0].used, ctx[0].diff, colours[0], colours[1]);
    codeRgbDifference(s.encoder(), ctx[2].used, ctx[2].diff, colours[1], colours[2]);
    codeRgbDifference(s.encoder(), ctx[0].used, ctx[0].diff, version4 ? colours[1] : colours[2],
                      colours[3]);

    EntropyEncoder main;
    std::unique_ptr<LASwriteItemCompressed> w;
    if (version4) {
      w = std::make_unique<LASwriteItemCompressed_RGB14_v4>(&main);
    } else {
      w = std::make_unique<LASwriteItemCompressed_RGB14_v3>(&main);
    }
    const Chunk c = runChunk(*w, main, 1, items, words);
    EXPECT_EQ(c.layers[0], s.bytes());
    EXPECT_EQ(c.words, words);  // read, never written
    readers_layered::RgbNir14Reader reader(false, version4);
    expectDecodes(reader, c, items, words);
  }
}

TEST(LayeredItemWriters, OnlyTheLowTwoBitsOfTheContextWordChooseTheContext) {
  // The fault: a context word above 3 would index past the four channel contexts.
  std::vector<Bytes> items;
  for (uint32_t i = 0; i < 6; ++i) items.push_back(Bytes(29, static_cast<uint8_t>(7 * i)));
  const std::vector<uint32_t> words = {1, 0, 2, 0, 3, 1};
  const std::vector<uint32_t> high = {5, 0xFFFFFFFCu, 6, 8, 0xFFFFFFFFu, 13};
  using Make = std::unique_ptr<LASwriteItemCompressed> (*)(EntropyEncoder*);
  const Make makers[] = {
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_RGBNIR14_v4>(e);
      },
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v3>(e);
      },
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_BYTE14_v4>(e, 5);
      },
  };
  const uint32_t layers[] = {2, 1, 5};
  for (size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EntropyEncoder main_a, main_b;
    auto a = makers[k](&main_a);
    auto b = makers[k](&main_b);
    EXPECT_EQ(runChunk(*a, main_a, layers[k], items, high).all,
              runChunk(*b, main_b, layers[k], items, words).all);
  }
}

TEST(LayeredItemWriters, ExtraBytesOfSizeZeroHaveNoLayersInAnyChunk) {
  // The fault: a writer of 0 extra bytes would make arrays of no entries and
  // announce layers that do not exist.
  EntropyEncoder main;
  LASwriteItemCompressed_BYTE14_v3 w(&main, 0);
  for (int chunk = 0; chunk < 3; ++chunk) {
    EXPECT_EQ(runChunk(w, main, 0, {Bytes(1, 1), Bytes(1, 2), Bytes(1, 3)}, {0, 1, 2}).all,
              Bytes{});
  }
}

TEST(LayeredItemWriters, WavePacketLayerIsLeftOutOnlyWhenEveryPacketEqualsItsReference) {
  Bytes packet(29, 0);
  packet[0] = 1;
  putLE(packet.data() + 1, 5000, 8);
  putLE(packet.data() + 9, 256, 4);
  Bytes other_index = packet;
  other_index[0] = 2;
  Bytes end_to_end = packet;
  putLE(end_to_end.data() + 1, 5256, 8);
  struct Case {
    const char* name;
    Bytes later;
    bool written;
  };
  const Case cases[] = {{"equal", packet, false},
                        {"index only", other_index, true},
                        {"end to end", end_to_end, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EntropyEncoder main;
    LASwriteItemCompressed_WAVEPACKET14_v4 w(&main);
    const Chunk c = runChunk(w, main, 1, {packet, k.later, k.later});
    EXPECT_EQ(c.sizes[0] != 0, k.written);
    readers_layered::WavePacket14Reader reader(true);
    expectDecodes(reader, c, {packet, k.later, k.later});
  }
}

TEST(LayeredItemWriters, ExtraBytesWriteOnlyTheLayersOfBytesThatChange) {
  const std::vector<Bytes> items = {{1, 10, 3}, {1, 12, 3}, {1, 12, 3}, {1, 250, 3}};
  LayerScript s;
  AdaptiveSymbolModel* byte1 = s.model(256);
  for (uint32_t d : {2u, 0u, 238u}) s.encoder().putSymbol(byte1, d);
  const Bytes layer1 = s.bytes();
  Bytes expected = {0, 0, 0, 0, static_cast<uint8_t>(layer1.size()), 0, 0, 0, 0, 0, 0, 0};
  expected.insert(expected.end(), layer1.begin(), layer1.end());
  EntropyEncoder main;
  LASwriteItemCompressed_BYTE14_v3 w(&main, 3);
  const Chunk c = runChunk(w, main, 3, items);
  EXPECT_EQ(c.all, expected);
}

TEST(LayeredItemWriters, AChunkCodesTheSameWhateverTheWriterCodedBefore) {
  std::mt19937 rng(9);
  auto randomChunk = [&](size_t n, size_t size) {
    std::vector<Bytes> items;
    std::vector<uint32_t> words;
    Bytes item(size);
    for (size_t i = 0; i < n; ++i) {
      for (uint8_t& b : item) b = static_cast<uint8_t>(b + rng() % 3);
      items.push_back(item);
      words.push_back(rng() % 4);
    }
    return std::make_pair(items, words);
  };
  const auto first = randomChunk(300, 29);
  const auto second = randomChunk(200, 29);
  using Make = std::unique_ptr<LASwriteItemCompressed> (*)(EntropyEncoder*);
  const Make makers[] = {
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_RGBNIR14_v3>(e);
      },
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v4>(e);
      },
      [](EntropyEncoder* e) -> std::unique_ptr<LASwriteItemCompressed> {
        return std::make_unique<LASwriteItemCompressed_BYTE14_v3>(e, 29);
      },
  };
  const uint32_t layers[] = {2, 1, 29};
  for (size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EntropyEncoder main_a, main_b;
    auto a = makers[k](&main_a);
    auto b = makers[k](&main_b);
    runChunk(*a, main_a, layers[k], first.first, first.second);
    EXPECT_EQ(runChunk(*a, main_a, layers[k], second.first, second.second).all,
              runChunk(*b, main_b, layers[k], second.first, second.second).all);
  }
  // The point writer, with four channels interleaved.
  std::vector<P14> points(400);
  for (size_t i = 0; i < points.size(); ++i) {
    points[i].channel = rng() % 4;
    points[i].x = static_cast<int32_t>(rng() % 1000);
    points[i].r = rng() % 16;
    points[i].n = rng() % 16;
    points[i].time = 0x40F86A0000000000u + rng() % 4000;
  }
  const std::vector<Bytes> all = toBytes(points);
  const std::vector<Bytes> later(all.begin() + 250, all.end());
  EntropyEncoder main_a, main_b;
  LASwriteItemCompressed_POINT14_v3 a(&main_a), b(&main_b);
  runChunk(a, main_a, 9, std::vector<Bytes>(all.begin(), all.begin() + 250));
  EXPECT_EQ(runChunk(a, main_a, 9, later).all, runChunk(b, main_b, 9, later).all);
}

// ---------------------------------------------------------------------------
// Layer streams

TEST(LayerStreamOut, RefusesToGrowPastItsLimitAndStaysFailedUntilRewound) {
  // The fault: a layer's size is a U32, so a layer past 4 GiB would be
  // announced with a wrapped size; the stream refuses to grow past the limit.
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  LayerStreamOut s(10);
  EXPECT_TRUE(s.writeBytes(bytes, 8));
  EXPECT_TRUE(s.writeByte(9));  // limit - 1 -> limit
  EXPECT_TRUE(s.writeBytes(bytes, 1));
  EXPECT_FALSE(s.failed());
  EXPECT_FALSE(s.writeByte(11));  // limit + 1
  EXPECT_FALSE(s.writeBytes(bytes, 1));
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.byteCount(), 10u);
  EXPECT_EQ(Bytes(s.data(), s.data() + 10), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 1}));
  s.rewind();
  EXPECT_FALSE(s.failed());
  EXPECT_EQ(s.byteCount(), 0u);
  EXPECT_FALSE(s.writeBytes(bytes, 11));  // a block past the limit is refused whole
  EXPECT_EQ(s.byteCount(), 0u);
  EXPECT_EQ(LayerStreamOut::kMaxLayerBytes, 0xFFFFFFFFu);
}

}  // namespace
