// Tests of the arithmetic decoder: the exact small streams, the corrupt-input
// exception of raw reads, bounded decoding of garbage, and round trips of mixed
// operations that must consume exactly the bytes the encoder wrote.
#include "morrowtide/compressor/entropy_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"

using morrowtide::ByteStreamInArray;

namespace {

TEST(EntropyDecoder, StartWithNullInputFails) {
  EntropyDecoder dec;
  EXPECT_FALSE(dec.start(nullptr, true));
}

TEST(EntropyDecoder, SmallStreamsDecodeExactly) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> expected;
    uint32_t (*decode)(EntropyDecoder&, AdaptiveBitModel&, AdaptiveSymbolModel&);
    bool decoder_side_model;
  } cases[] = {
      {"empty stream", {0x01, 0x00, 0x00, 0x00}, {}, nullptr, true},
      {"bit 1",
       {0x80, 0x00, 0x00, 0x00},
       {1},
       [](EntropyDecoder& d, AdaptiveBitModel& b, AdaptiveSymbolModel&) { return d.getBit(&b); },
       true},
      {"bit 0",
       {0x01, 0x00, 0x00, 0x00},
       {0},
       [](EntropyDecoder& d, AdaptiveBitModel& b, AdaptiveSymbolModel&) { return d.getBit(&b); },
       true},
      {"raw u16",
       {0x12, 0x33, 0xEE, 0x00, 0x00, 0x00},
       {0x1234},
       [](EntropyDecoder& d, AdaptiveBitModel&, AdaptiveSymbolModel&) { return d.getRawU16(); },
       true},
      {"symbol with table",
       {0x41, 0x00, 0x00, 0x00, 0x00},
       {0x41},
       [](EntropyDecoder& d, AdaptiveBitModel&, AdaptiveSymbolModel& m) { return d.getSymbol(&m); },
       true},
      {"symbol without table",
       {0x41, 0x00, 0x00, 0x00, 0x00},
       {0x41},
       [](EntropyDecoder& d, AdaptiveBitModel&, AdaptiveSymbolModel& m) { return d.getSymbol(&m); },
       false},
      {"symbols with table",
       {0x61, 0x62, 0x32, 0x4F, 0x00, 0x00, 0x00},
       {0x61, 0x62, 0x63},
       [](EntropyDecoder& d, AdaptiveBitModel&, AdaptiveSymbolModel& m) { return d.getSymbol(&m); },
       true},
      {"symbols without table",
       {0x61, 0x62, 0x32, 0x4F, 0x00, 0x00, 0x00},
       {0x61, 0x62, 0x63},
       [](EntropyDecoder& d, AdaptiveBitModel&, AdaptiveSymbolModel& m) { return d.getSymbol(&m); },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdaptiveBitModel bit_model;
    AdaptiveSymbolModel symbol_model(256, !c.decoder_side_model);
    ASSERT_EQ(symbol_model.reset(nullptr), 0);
    ASSERT_EQ(symbol_model.decoder_table != nullptr, c.decoder_side_model);
    ByteStreamInArray in(c.bytes.data(), c.bytes.size());
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in, true));
    std::vector<uint32_t> got;
    for (size_t i = 0; i < c.expected.size(); ++i)
      got.push_back(c.decode(dec, bit_model, symbol_model));
    EXPECT_EQ(got, c.expected);
    // The encoder's trailing zeros are exactly what the decoder reads ahead.
    EXPECT_EQ(in.position(), c.bytes.size());
  }
}

TEST(EntropyDecoder, RawReadOutOfRangeThrows4711) {
  const uint8_t all_ff[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const struct {
    const char* name;
    void (*read)(EntropyDecoder&);
  } cases[] = {
      {"u16", [](EntropyDecoder& d) { d.getRawU16(); }},
      {"u8", [](EntropyDecoder& d) { d.getRawU8(); }},
      {"bit", [](EntropyDecoder& d) { d.getRawBit(); }},
      {"19 bits", [](EntropyDecoder& d) { d.getRawBits(19); }},
      {"32 bits", [](EntropyDecoder& d) { d.getRawBits(32); }},
      {"u64", [](EntropyDecoder& d) { d.getRawU64(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteStreamInArray in(all_ff, sizeof(all_ff));
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in, true));
    try {
      c.read(dec);
      ADD_FAILURE() << "no exception";
    } catch (int e) {
      EXPECT_EQ(e, 4711);
    }
  }
}

TEST(EntropyDecoder, GarbageInputStaysInsideTheModels) {
  // On corrupt input the decoder-table index could exceed the table and read
  // or write outside the model; it is bounded, so every symbol stays valid.
  std::mt19937 rng(4711);
  std::vector<uint8_t> bytes(1 << 16);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  bytes[0] = bytes[1] = bytes[2] = bytes[3] = 0xFF;
  for (uint32_t n : {17u, 256u, 516u, 2048u}) {
    SCOPED_TRACE(n);
    ByteStreamInArray in(bytes.data(), bytes.size());
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in, true));
    std::unique_ptr<AdaptiveSymbolModel> model(dec.newSymbolModel(n));
    std::unique_ptr<AdaptiveSymbolModel> small(dec.newSymbolModel(5));
    ASSERT_EQ(dec.resetSymbolModel(model.get(), nullptr), 0);
    ASSERT_EQ(dec.resetSymbolModel(small.get(), nullptr), 0);
    AdaptiveBitModel bit_model;
    for (int i = 0; i < 20000; ++i) {
      ASSERT_LT(dec.getSymbol(model.get()), n);
      ASSERT_LT(dec.getSymbol(small.get()), 5u);
      ASSERT_LE(dec.getBit(&bit_model), 1u);
    }
  }
}

// One coded event of a mixed stream; the same list drives encoder and decoder.
struct Event {
  enum Kind { kBit, kSymbol, kRawBit, kRawBits, kU8, kU16, kU32, kU64, kF32, kF64 } kind;
  uint32_t model;  // index of the model, or the raw bit count
  uint64_t value;
};

struct Models {
  explicit Models(bool encoder) {
    const uint32_t sizes[] = {2, 3, 16, 17, 64, 256, 516, 2048};
    for (uint32_t n : sizes) symbols.emplace_back(new AdaptiveSymbolModel(n, encoder));
    for (auto& m : symbols) EXPECT_EQ(m->reset(nullptr), 0);
    bits.resize(3);
  }
  std::vector<std::unique_ptr<AdaptiveSymbolModel>> symbols;
  std::vector<AdaptiveBitModel> bits;
};

std::vector<Event> randomEvents(uint32_t seed, size_t count) {
  std::mt19937_64 rng(seed);
  Models models(true);
  std::vector<Event> events;
  for (size_t i = 0; i < count; ++i) {
    Event e{static_cast<Event::Kind>(rng() % 10), 0, rng()};
    switch (e.kind) {
      case Event::kBit:
        e.model = static_cast<uint32_t>(rng() % models.bits.size());
        // Skewed bits, so the probabilities move.
        e.value = (rng() % 8) < (e.model * 3 + 1) ? 1 : 0;
        break;
      case Event::kSymbol: {
        e.model = static_cast<uint32_t>(rng() % models.symbols.size());
        const uint32_t n = models.symbols[e.model]->symbols;
        // Mostly small symbols, sometimes any.
        e.value = rng() % 4 == 0 ? rng() % n : (rng() % 4) % n;
        break;
      }
      case Event::kRawBit:
        e.value &= 1;
        break;
      case Event::kRawBits:
        e.model = static_cast<uint32_t>(rng() % 33);
        e.value &= (uint64_t{1} << e.model) - 1;
        break;
      default:
        break;
    }
    events.push_back(e);
  }
  return events;
}

uint32_t f32Bits(uint64_t v) { return static_cast<uint32_t>(v); }

TEST(EntropyDecoder, MixedStreamsRoundTripAndReadExactlyTheBytesWritten) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const std::vector<Event> events = randomEvents(seed, 60000);
    ByteStreamOutArrayLE sink;
    {
      Models models(true);
      EntropyEncoder enc;
      ASSERT_TRUE(enc.start(&sink));
      for (const Event& e : events) {
        switch (e.kind) {
          case Event::kBit:
            enc.putBit(&models.bits[e.model], static_cast<uint32_t>(e.value));
            break;
          case Event::kSymbol:
            enc.putSymbol(models.symbols[e.model].get(), static_cast<uint32_t>(e.value));
            break;
          case Event::kRawBit:
            enc.putRawBit(static_cast<uint32_t>(e.value));
            break;
          case Event::kRawBits:
            enc.putRawBits(e.model, static_cast<uint32_t>(e.value));
            break;
          case Event::kU8:
            enc.putRawU8(static_cast<uint32_t>(e.value));
            break;
          case Event::kU16:
            enc.putRawU16(static_cast<uint32_t>(e.value));
            break;
          case Event::kU32:
            enc.putRawU32(static_cast<uint32_t>(e.value));
            break;
          case Event::kU64:
            enc.putRawU64(e.value);
            break;
          case Event::kF32: {
            float f;
            const uint32_t b = f32Bits(e.value);
            std::memcpy(&f, &b, sizeof(f));
            enc.putRawF32(f);
            break;
          }
          case Event::kF64: {
            double d;
            std::memcpy(&d, &e.value, sizeof(d));
            enc.putRawF64(d);
            break;
          }
        }
      }
      enc.finish();
    }

    Models models(false);
    ByteStreamInArray in(sink.data(), sink.byteCount());
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in, true));
    for (size_t i = 0; i < events.size(); ++i) {
      const Event& e = events[i];
      uint64_t got = 0;
      uint64_t want = e.value;
      switch (e.kind) {
        case Event::kBit:
          got = dec.getBit(&models.bits[e.model]);
          break;
        case Event::kSymbol:
          got = dec.getSymbol(models.symbols[e.model].get());
          break;
        case Event::kRawBit:
          got = dec.getRawBit();
          break;
        case Event::kRawBits:
          got = dec.getRawBits(e.model);
          break;
        case Event::kU8:
          got = dec.getRawU8();
          want &= 0xFF;
          break;
        case Event::kU16:
          got = dec.getRawU16();
          want &= 0xFFFF;
          break;
        case Event::kU32:
          got = dec.getRawU32();
          want &= 0xFFFFFFFFu;
          break;
        case Event::kU64:
          got = dec.getRawU64();
          break;
        case Event::kF32: {
          const float f = dec.getRawF32();
          uint32_t b;
          std::memcpy(&b, &f, sizeof(b));
          got = b;
          want &= 0xFFFFFFFFu;
          break;
        }
        case Event::kF64: {
          const double d = dec.getRawF64();
          std::memcpy(&got, &d, sizeof(got));
          break;
        }
      }
      ASSERT_EQ(got, want) << "event " << i << " kind " << e.kind;
    }
    EXPECT_EQ(in.position(), sink.byteCount());
  }
}

}  // namespace
