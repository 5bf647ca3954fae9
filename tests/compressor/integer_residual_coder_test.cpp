// Tests of the integer residual coder: each residual's class, offset and raw
// bits compared with a hand-coded script on fresh models, wrapping into 8 and
// 16 bits, reduction of residuals wider than the coder, resets between chunks,
// and round trips through the decoding half.
#include "morrowtide/compressor/integer_residual_coder.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"

using morrowtide::ByteStreamInArray;

namespace {

std::vector<uint8_t> bytesOf(const ByteStreamOutArrayLE& sink) {
  return std::vector<uint8_t>(sink.data(), sink.data() + sink.byteCount());
}

// One coder operation on a fresh model: a symbol of an n-symbol model, a bit,
// or raw bits.
struct Op {
  enum Kind { kSymbol, kBit, kRaw } kind;
  uint32_t size;  // symbols, or raw bit count
  uint32_t value;
};

std::vector<uint8_t> script(const std::vector<Op>& ops) {
  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  enc.start(&sink);
  for (const Op& op : ops) {
    if (op.kind == Op::kSymbol) {
      AdaptiveSymbolModel m(op.size, true);
      m.reset(nullptr);
      enc.putSymbol(&m, op.value);
    } else if (op.kind == Op::kBit) {
      AdaptiveBitModel m;
      enc.putBit(&m, op.value);
    } else {
      enc.putRawBits(op.size, op.value);
    }
  }
  enc.finish();
  return bytesOf(sink);
}

struct Coded {
  std::vector<uint8_t> bytes;
  uint32_t last_class;
};

Coded encodeOne(uint32_t bits, int32_t pred, int32_t real) {
  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  IntegerResidualCoder coder(&enc, bits, 1, 8, 0);
  enc.start(&sink);
  coder.startEncoding();
  coder.encode(pred, real, 0);
  enc.finish();
  return {bytesOf(sink), coder.lastClass()};
}

int32_t decodeOne(uint32_t bits, int32_t pred, const std::vector<uint8_t>& bytes) {
  ByteStreamInArray in(bytes.data(), bytes.size());
  EntropyDecoder dec;
  IntegerResidualCoder coder(&dec, bits, 1, 8, 0);
  dec.start(&in, true);
  coder.startDecoding();
  const int32_t value = coder.decode(pred, 0);
  EXPECT_EQ(in.position(), bytes.size());
  return value;
}

struct Case {
  const char* name;
  uint32_t bits;
  int32_t pred;
  int32_t real;
  std::vector<Op> ops;  // class symbol first
  int32_t decoded;
};

void checkCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Coded coded = encodeOne(c.bits, c.pred, c.real);
    EXPECT_EQ(coded.bytes, script(c.ops));
    EXPECT_EQ(coded.last_class, c.ops[0].value);
    EXPECT_EQ(decodeOne(c.bits, c.pred, coded.bytes), c.decoded);
  }
}

TEST(IntegerResidualCoder, ResidualsCodeTheirClassOffsetAndRawBits) {
  const uint32_t kClasses = 33;  // 32-bit coder
  checkCases({
      {"+3", 32, 100, 103, {{Op::kSymbol, kClasses, 2}, {Op::kSymbol, 4, 2}}, 103},
      {"-3", 32, 100, 97, {{Op::kSymbol, kClasses, 2}, {Op::kSymbol, 4, 0}}, 97},
      {"0", 32, 5, 5, {{Op::kSymbol, kClasses, 0}, {Op::kBit, 0, 0}}, 5},
      {"1", 32, 5, 6, {{Op::kSymbol, kClasses, 0}, {Op::kBit, 0, 1}}, 6},
      {"-1", 32, 5, 4, {{Op::kSymbol, kClasses, 1}, {Op::kSymbol, 2, 0}}, 4},
      {"2", 32, 5, 7, {{Op::kSymbol, kClasses, 1}, {Op::kSymbol, 2, 1}}, 7},
      {"256", 32, 0, 256, {{Op::kSymbol, kClasses, 8}, {Op::kSymbol, 256, 255}}, 256},
      {"1000",
       32,
       0,
       1000,
       {{Op::kSymbol, kClasses, 10}, {Op::kSymbol, 256, 249}, {Op::kRaw, 2, 3}},
       1000},
      {"-1000",
       32,
       0,
       -1000,
       {{Op::kSymbol, kClasses, 10}, {Op::kSymbol, 256, 5}, {Op::kRaw, 2, 3}},
       -1000},
      // Class 28: the 20 raw bits go as a 16-bit field and 4 more bits.
      {"2^27 + 1",
       32,
       0,
       (1 << 27) + 1,
       {{Op::kSymbol, kClasses, 28}, {Op::kSymbol, 256, 128}, {Op::kRaw, 20, 0}},
       (1 << 27) + 1},
      {"INT32_MAX",
       32,
       0,
       INT32_MAX,
       {{Op::kSymbol, kClasses, 31}, {Op::kSymbol, 256, 255}, {Op::kRaw, 23, 0x7FFFFE}},
       INT32_MAX},
      {"-2^31", 32, 0, INT32_MIN, {{Op::kSymbol, kClasses, 32}}, INT32_MIN},
      {"wraps to -2^31", 32, INT32_MAX, -1, {{Op::kSymbol, kClasses, 32}}, -1},
      {"wraps to 1",
       32,
       INT32_MAX,
       INT32_MIN,
       {{Op::kSymbol, kClasses, 0}, {Op::kBit, 0, 1}},
       INT32_MIN},
  });
}

TEST(IntegerResidualCoder, NarrowCodersWrapIntoTheirRange) {
  checkCases({
      // 200 -> 10 is -190, wrapped to 66: class 7, offset 65.
      {"8 bits up", 8, 200, 10, {{Op::kSymbol, 9, 7}, {Op::kSymbol, 128, 65}}, 10},
      {"8 bits down", 8, 10, 200, {{Op::kSymbol, 9, 7}, {Op::kSymbol, 128, 61}}, 200},
      {"8 bits -128", 8, 128, 0, {{Op::kSymbol, 9, 8}, {Op::kSymbol, 256, 127}}, 0},
      // A negative I16 comes back as its U16 pattern.
      {"16 bits negative", 16, 0, -2, {{Op::kSymbol, 17, 2}, {Op::kSymbol, 4, 1}}, 65534},
      {"16 bits 32767",
       16,
       0,
       32767,
       {{Op::kSymbol, 17, 15}, {Op::kSymbol, 256, 255}, {Op::kRaw, 7, 0x7E}},
       32767},
  });
}

TEST(IntegerResidualCoder, ResidualWiderThanTheCoderIsReducedToItsWidth) {
  // A residual that one wrap cannot bring into an 8- or 16-bit range gave a
  // class beyond the class model; it is reduced to the sign-extended low bits.
  checkCases({
      // 100000 = 0x186A0: low byte 0xA0 is -96, class 7, offset 31.
      {"8 bits", 8, 0, 100000, {{Op::kSymbol, 9, 7}, {Op::kSymbol, 128, 31}}, 0xA0},
      {"8 bits from INT32_MIN", 8, 0, INT32_MIN, {{Op::kSymbol, 9, 0}, {Op::kBit, 0, 0}}, 0},
      {"16 bits", 16, 5, 5 + 0x30007, {{Op::kSymbol, 17, 3}, {Op::kSymbol, 8, 6}}, 12},
      {"16 bits negative",
       16,
       40000,
       -1000000,
       {{Op::kSymbol, 17, 14}, {Op::kSymbol, 256, 133}, {Op::kRaw, 6, 63}},
       48576},
  });
}

TEST(IntegerResidualCoder, EachStartResetsTheModels) {
  // The second chunk of a reused coder codes exactly like a fresh coder.
  const std::vector<int32_t> first{1, 500, -70000, 3, 3, 3, 1 << 20};
  const std::vector<int32_t> second{7, -7, 123456, 0, 0};
  ByteStreamOutArrayLE reused_sink;
  EntropyEncoder reused_enc;
  IntegerResidualCoder reused(&reused_enc, 32, 2, 8, 0);
  for (const auto* values : {&first, &second}) {
    reused_sink.seekTo(0);
    reused_enc.start(&reused_sink);
    reused.startEncoding();
    for (int32_t v : *values) reused.encode(0, v, v & 1);
    reused_enc.finish();
  }
  EXPECT_EQ(reused.lastClass(), 0u);  // 0 codes class 0, kept after the chunk

  ByteStreamOutArrayLE fresh_sink;
  EntropyEncoder fresh_enc;
  IntegerResidualCoder fresh(&fresh_enc, 32, 2, 8, 0);
  fresh_enc.start(&fresh_sink);
  fresh.startEncoding();
  for (int32_t v : second) fresh.encode(0, v, v & 1);
  fresh_enc.finish();
  EXPECT_EQ(bytesOf(reused_sink), bytesOf(fresh_sink));
}

TEST(IntegerResidualCoder, LastClassSurvivesAStart) {
  ByteStreamOutArrayLE sink;
  EntropyEncoder enc;
  IntegerResidualCoder coder(&enc, 16, 1, 8, 0);
  EXPECT_EQ(coder.lastClass(), 0u);
  enc.start(&sink);
  coder.startEncoding();
  coder.encode(0, 1000, 0);
  EXPECT_EQ(coder.lastClass(), 10u);
  coder.startEncoding();
  EXPECT_EQ(coder.lastClass(), 10u);
  enc.finish();
}

TEST(IntegerResidualCoder, RandomSequencesRoundTripOverSeveralChunks) {
  const struct {
    uint32_t bits;
    uint32_t contexts;
    uint32_t direct_bits;
    uint32_t range;
  } cases[] = {{8, 1, 8, 0}, {16, 3, 8, 0}, {32, 4, 8, 0}, {32, 1, 11, 0}, {0, 2, 8, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.bits << " bits, range " << c.range << ", direct " << c.direct_bits);
    const uint64_t modulus = c.range != 0 ? c.range : (c.bits < 32 ? uint64_t{1} << c.bits : 0);
    std::mt19937 rng(c.bits * 31 + c.range);
    struct Value {
      int32_t pred, real, expected;
      uint32_t context;
    };
    std::vector<std::vector<Value>> chunks(3);
    for (auto& chunk : chunks) {
      int32_t walk = 0;
      for (int i = 0; i < 20000; ++i) {
        const uint32_t r = static_cast<uint32_t>(rng());
        int32_t real;
        if (i % 97 == 0) {
          real = (i & 1) ? INT32_MIN : INT32_MAX;  // jumps across the whole range
        } else {
          walk = static_cast<int32_t>(static_cast<uint32_t>(walk) + (r % 2001) - 1000);
          real = (i % 5 == 0) ? static_cast<int32_t>(r) : walk;
        }
        int32_t pred = chunk.empty() ? 0 : chunk.back().real;
        if (modulus != 0) {
          pred = static_cast<int32_t>(static_cast<uint32_t>(pred) % modulus);
          if (c.range != 0) real = static_cast<int32_t>(static_cast<uint32_t>(real) % modulus);
        }
        const int32_t expected =
            modulus != 0 ? static_cast<int32_t>(static_cast<uint32_t>(real) % modulus) : real;
        chunk.push_back({pred, real, expected, r % c.contexts});
      }
    }

    ByteStreamOutArrayLE sink;
    std::vector<uint32_t> chunk_ends;
    {
      EntropyEncoder enc;
      IntegerResidualCoder coder(&enc, c.bits, c.contexts, c.direct_bits, c.range);
      for (const auto& chunk : chunks) {
        enc.start(&sink);
        coder.startEncoding();
        for (const Value& v : chunk) coder.encode(v.pred, v.real, v.context);
        enc.finish();
        chunk_ends.push_back(sink.byteCount());
      }
    }

    ByteStreamInArray in(sink.data(), sink.byteCount());
    EntropyDecoder dec;
    IntegerResidualCoder coder(&dec, c.bits, c.contexts, c.direct_bits, c.range);
    for (size_t k = 0; k < chunks.size(); ++k) {
      ASSERT_TRUE(dec.start(&in, true));
      coder.startDecoding();
      for (size_t i = 0; i < chunks[k].size(); ++i) {
        const Value& v = chunks[k][i];
        ASSERT_EQ(coder.decode(v.pred, v.context), v.expected) << "chunk " << k << " value " << i;
      }
      dec.finish();
      EXPECT_EQ(in.position(), chunk_ends[k]);
    }
  }
}

}  // namespace
