// Tests of the arithmetic encoder: exact coded bytes of small inputs, the
// 4096-byte handovers, carry propagation through 0xFF runs (including runs
// longer than the buffer), and restarting; and of the model owner it serves.
#include "morrowtide/compressor/entropy_encoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_decoder.h"

using morrowtide::ByteStreamInArray;
using morrowtide::ByteStreamOutLE;
using morrowtide::OwnedSymbolModel;

namespace {

// Keeps every byte and the size of every write call, so a test sees both the
// stream contents and how they were handed over.
class RecordingSink final : public ByteStreamOutLE {
 public:
  bool writeByte(uint32_t byte) override {
    bytes.push_back(static_cast<uint8_t>(byte));
    calls.push_back(1);
    return true;
  }
  bool writeBytes(const uint8_t* data, uint32_t num) override {
    bytes.insert(bytes.end(), data, data + num);
    calls.push_back(num);
    return true;
  }
  bool canSeek() const override { return false; }
  int64_t position() const override { return static_cast<int64_t>(bytes.size()); }
  bool seekTo(int64_t) override { return false; }
  bool seekToEnd() override { return true; }

  std::vector<uint8_t> bytes;
  std::vector<uint32_t> calls;
};

std::vector<uint8_t> encodeWith(const std::function<void(EntropyEncoder&)>& code) {
  RecordingSink sink;
  EntropyEncoder enc;
  EXPECT_TRUE(enc.start(&sink));
  code(enc);
  enc.finish();
  return sink.bytes;
}

TEST(EntropyEncoder, SmallInputsGiveExactBytes) {
  AdaptiveBitModel bit_model;
  AdaptiveSymbolModel symbol_model(256, true);
  const struct {
    const char* name;
    std::function<void(EntropyEncoder&)> code;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"nothing", [](EntropyEncoder&) {}, {0x01, 0x00, 0x00, 0x00}},
      {"bit 1",
       [&](EntropyEncoder& e) {
         bit_model.reset();
         e.putBit(&bit_model, 1);
       },
       {0x80, 0x00, 0x00, 0x00}},
      {"bit 0",
       [&](EntropyEncoder& e) {
         bit_model.reset();
         e.putBit(&bit_model, 0);
       },
       {0x01, 0x00, 0x00, 0x00}},
      {"raw u16",
       [](EntropyEncoder& e) { e.putRawU16(0x1234); },
       {0x12, 0x33, 0xEE, 0x00, 0x00, 0x00}},
      // The finishing step overflows base and the carry turns 0x40 into 0x41.
      {"symbol 0x41",
       [&](EntropyEncoder& e) {
         symbol_model.reset(nullptr);
         e.putSymbol(&symbol_model, 0x41);
       },
       {0x41, 0x00, 0x00, 0x00, 0x00}},
      {"symbols 0x61 0x62 0x63",
       [&](EntropyEncoder& e) {
         symbol_model.reset(nullptr);
         for (uint32_t s : {0x61u, 0x62u, 0x63u}) e.putSymbol(&symbol_model, s);
       },
       {0x61, 0x62, 0x32, 0x4F, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encodeWith(c.code), c.bytes);
  }
}

TEST(EntropyEncoder, StartWithNullStreamFailsAndKeepsTheStream) {
  RecordingSink sink;
  EntropyEncoder enc;
  EXPECT_EQ(enc.getByteStreamOut(), nullptr);
  EXPECT_FALSE(enc.start(nullptr));
  EXPECT_EQ(enc.getByteStreamOut(), nullptr);
  ASSERT_TRUE(enc.start(&sink));
  enc.putRawU16(0x1234);
  EXPECT_FALSE(enc.start(nullptr));
  EXPECT_EQ(enc.getByteStreamOut(), &sink);
  enc.finish();
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{0x12, 0x33, 0xEE, 0x00, 0x00, 0x00}));
  EXPECT_EQ(enc.getByteStreamOut(), nullptr);
}

TEST(EntropyEncoder, RestartWithoutFinishDropsTheOpenStream) {
  // Restarting an encoder that was never finished must begin a clean stream,
  // and finishing an encoder with no stream must write nothing anywhere.
  RecordingSink first;
  RecordingSink second;
  EntropyEncoder enc;
  enc.finish();
  ASSERT_TRUE(enc.start(&first));
  for (uint32_t i = 0; i < 5000; ++i) enc.putRawU16(i * 7919u);  // past one handover
  ASSERT_TRUE(enc.start(&second));
  AdaptiveBitModel m;
  enc.putBit(&m, 1);
  enc.finish();
  enc.finish();
  EXPECT_EQ(first.calls, (std::vector<uint32_t>{4096}));
  EXPECT_EQ(second.bytes, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00}));

  // Started again after finish, on the same stream: the same bytes again.
  ASSERT_TRUE(enc.start(&second));
  m.reset();
  enc.putBit(&m, 1);
  enc.finish();
  EXPECT_EQ(second.bytes, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00}));
}

TEST(EntropyEncoder, HalvesReachTheStreamOnlyWhenReused) {
  // Each putRawU16 produces exactly two bytes.
  const struct {
    uint32_t u16s;
    std::vector<uint32_t> calls;
  } cases[] = {
      {4095, {8191, 1, 1, 1}},                       // 8190 + 1 closing byte: no handover
      {4096, {4096, 4096, 1, 1, 1, 1}},              // the 8192nd byte hands over the first half
      {6144, {4096, 4096, 4097, 1, 1, 1}},           // second half handed at 12288
      {8192, {4096, 4096, 4096, 4096, 1, 1, 1, 1}},  // back in the first half at finish
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.u16s);
    std::vector<uint32_t> values(c.u16s);
    std::mt19937 rng(c.u16s);
    for (auto& v : values) v = rng() & 0xFFFF;
    RecordingSink sink;
    EntropyEncoder enc;
    ASSERT_TRUE(enc.start(&sink));
    for (uint32_t v : values) enc.putRawU16(v);
    enc.finish();
    EXPECT_EQ(sink.calls, c.calls);

    ByteStreamInArray in(sink.bytes.data(), sink.bytes.size());
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in, true));
    for (uint32_t v : values) ASSERT_EQ(dec.getRawU16(), v);
    EXPECT_EQ(in.position(), sink.bytes.size());
  }
}

TEST(EntropyEncoder, RawBitsFrom20BitsWriteTheLow16First) {
  for (uint32_t bits : {20u, 25u, 32u}) {
    SCOPED_TRACE(bits);
    const uint32_t value = 0xDEADBEEFu & static_cast<uint32_t>((uint64_t{1} << bits) - 1);
    EXPECT_EQ(encodeWith([&](EntropyEncoder& e) { e.putRawBits(bits, value); }),
              encodeWith([&](EntropyEncoder& e) {
                e.putRawU16(value & 0xFFFF);
                e.putRawBits(bits - 16, value >> 16);
              }));
  }
  // 19 bits are one field, not a split one.
  EXPECT_NE(encodeWith([](EntropyEncoder& e) { e.putRawBits(19, 0x5A5A5); }),
            encodeWith([](EntropyEncoder& e) {
              e.putRawU16(0xA5A5);
              e.putRawBits(3, 0x5);
            }));
}

// An unbounded-buffer model of a stream coded only with putRawU8: after the
// first value `length` is always 0xFFFFFF00, so the state is `base` alone.
// Carries walk back over the whole output; it is the reference the encoder's
// two-half buffer must match.
struct RawU8Reference {
  uint32_t base = 0;
  uint32_t length = 0xFFFFFFFFu;
  std::vector<uint8_t> out;
  std::vector<uint8_t> values;

  void put(uint32_t v) {
    values.push_back(static_cast<uint8_t>(v));
    length >>= 8;
    add(v * length);
    out.push_back(static_cast<uint8_t>(base >> 24));
    base <<= 8;
    length <<= 8;
  }
  void add(uint32_t x) {
    base += x;
    if (base >= x) return;
    for (size_t i = out.size(); i-- > 0;) {
      if (out[i] != 0xFF) {
        ++out[i];
        return;
      }
      out[i] = 0;
    }
  }
  // The largest value that keeps the interval across 2^32, so the byte coded
  // is 0xFF and its fate waits for a later carry.
  uint32_t straddle() const { return (0xFFFFFFFFu - base) / (length >> 8); }
  std::vector<uint8_t> finished() {
    add(1u << 24);  // length is above 2^25: one closing byte, three zeros
    std::vector<uint8_t> bytes = out;
    bytes.push_back(static_cast<uint8_t>(base >> 24));
    bytes.insert(bytes.end(), {0, 0, 0});
    return bytes;
  }
};

void checkAgainstReference(RawU8Reference& ref) {
  RecordingSink sink;
  EntropyEncoder enc;
  ASSERT_TRUE(enc.start(&sink));
  for (uint8_t v : ref.values) enc.putRawU8(v);
  enc.finish();
  const std::vector<uint8_t> expected = ref.finished();
  ASSERT_EQ(sink.bytes.size(), expected.size());
  EXPECT_TRUE(sink.bytes == expected);

  ByteStreamInArray in(sink.bytes.data(), sink.bytes.size());
  EntropyDecoder dec;
  ASSERT_TRUE(dec.start(&in, true));
  for (size_t i = 0; i < ref.values.size(); ++i) {
    ASSERT_EQ(dec.getRawU8(), ref.values[i]) << "value " << i;
  }
  EXPECT_EQ(in.position(), sink.bytes.size());
}

// Appends `run` values that each code a 0xFF byte, then either one that
// carries into the run or one that settles it as 0xFF.
void appendFfRun(RawU8Reference& ref, uint32_t run, bool carry) {
  for (uint32_t i = 0; i < run; ++i) {
    const uint32_t v = ref.straddle();
    ASSERT_LE(v, 254u);
    ref.put(v);
    ASSERT_EQ(ref.out.back(), 0xFF);
  }
  if (carry) {
    const size_t before = ref.out.size();
    ref.put(ref.straddle() + 1);
    ASSERT_EQ(ref.out[before - 1], 0x00);
    return;
  }
  // While the interval's distance to 2^32 is below 2^24 every value codes 0xFF.
  while (ref.straddle() == 0) ref.put(0);
  ref.put(0);
  ASSERT_NE(ref.out.back(), 0xFF);
}

TEST(EntropyEncoder, CarryWalksAcrossTheBufferStart) {
  // A run of 0xFF bytes that starts before the buffer wraps and ends after it,
  // all still pending, turns to zeros and the byte before it goes up by one.
  RawU8Reference ref;
  std::mt19937 rng(7);
  for (int i = 0; i < 8100; ++i) ref.put(rng() & 0x7F);
  appendFfRun(ref, 300, true);
  checkAgainstReference(ref);
}

TEST(EntropyEncoder, CarryReachesBytesOfARunLongerThanTheBuffer) {
  // A carry was lost when a 0xFF run longer than the unwritten half had
  // already been handed to the stream; such bytes are now held back, so the
  // output equals an unbounded buffer's.
  const struct {
    uint32_t prefix;
    uint32_t run;
    bool carry;
  } cases[] = {
      {0, 9000, true},    {0, 20000, true},     {0, 9000, false},   {100, 4500, true},
      {5000, 8192, true}, {5000, 12000, false}, {3000, 4095, true}, {3000, 4097, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.prefix << " + " << c.run << (c.carry ? " carry" : ""));
    RawU8Reference ref;
    ref.put(0x80);  // codes 0x7F, and leaves the interval across 2^32
    std::mt19937 rng(c.prefix);
    for (uint32_t i = 0; i < c.prefix; ++i) ref.put(rng() & 0x7F);
    appendFfRun(ref, c.run, c.carry);
    // Go on past another handover after the run.
    for (int i = 0; i < 9000; ++i) ref.put(rng() & 0xFF);
    checkAgainstReference(ref);
  }
}

TEST(EntropyEncoder, LongZeroRunAfterACarryIsExact) {
  // The output starts with the carried byte and the run turned into zeros.
  RawU8Reference ref;
  ref.put(0x80);
  appendFfRun(ref, 10000, true);
  RecordingSink sink;
  EntropyEncoder enc;
  ASSERT_TRUE(enc.start(&sink));
  for (uint8_t v : ref.values) enc.putRawU8(v);
  enc.finish();
  ASSERT_GT(sink.bytes.size(), 10001u);
  std::vector<uint8_t> head(sink.bytes.begin(), sink.bytes.begin() + 10001);
  std::vector<uint8_t> expected(10001, 0x00);
  expected[0] = 0x80;
  EXPECT_TRUE(head == expected);
}

}  // namespace

// A sink that refuses every write once it holds `limit` bytes.
class FullSink final : public ByteStreamOutLE {
 public:
  explicit FullSink(size_t limit) : limit(limit) {}
  bool writeByte(uint32_t byte) override {
    const uint8_t b = static_cast<uint8_t>(byte);
    return writeBytes(&b, 1);
  }
  bool writeBytes(const uint8_t* data, uint32_t num) override {
    if (bytes.size() + num > limit) return false;
    bytes.insert(bytes.end(), data, data + num);
    return true;
  }
  bool canSeek() const override { return false; }
  int64_t position() const override { return static_cast<int64_t>(bytes.size()); }
  bool seekTo(int64_t) override { return false; }
  bool seekToEnd() override { return false; }

  size_t limit;
  std::vector<uint8_t> bytes;
};

// The encoder ignored the results of its stream writes, so coded bytes lost to a
// full disk still ended in success. A refused hand-over is kept, finish() reports
// it, and nothing is written after it (where the lost bytes belonged).
TEST(EntropyEncoder, FinishReportsTheFirstRefusedHandOver) {
  std::vector<uint8_t> full;
  {
    RecordingSink sink;
    EntropyEncoder enc;
    enc.start(&sink);
    for (uint32_t i = 0; i < 6000; i++) enc.putRawU16(i * 2654435761u);
    ASSERT_TRUE(enc.finish());
    full = sink.bytes;
  }
  ASSERT_GT(full.size(), 12000u);
  for (size_t limit : {size_t{0}, size_t{100}, size_t{4096}, size_t{8191}, full.size() - 1}) {
    SCOPED_TRACE(limit);
    FullSink sink(limit);
    EntropyEncoder enc;
    enc.start(&sink);
    for (uint32_t i = 0; i < 6000; i++) enc.putRawU16(i * 2654435761u);
    EXPECT_EQ(enc.failed(), limit < 4096);  // one half was handed over while coding
    EXPECT_FALSE(enc.finish());
    EXPECT_TRUE(enc.failed());
    // What went out is the start of the full stream, and nothing after a gap.
    ASSERT_LE(sink.bytes.size(), limit);
    EXPECT_EQ(sink.bytes, std::vector<uint8_t>(full.begin(), full.begin() + sink.bytes.size()));

    // A new start forgets the failure.
    FullSink roomy(1 << 20);
    enc.start(&roomy);
    EXPECT_FALSE(enc.failed());
    enc.putRawU16(7);
    EXPECT_TRUE(enc.finish());
  }
}

TEST(OwnedSymbolModel, MadeOnceAtFirstUseResetByItsOwnerAndMovedWhole) {
  EntropyEncoder maker;
  OwnedSymbolModel owner;
  owner.reset();  // an empty owner stays empty
  EXPECT_EQ(owner.get(), nullptr);
  AdaptiveSymbolModel* const model = owner.atFirstUse(&maker, 4);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(owner.atFirstUse(&maker, 4), model);  // made once
  EXPECT_EQ(std::vector<uint32_t>(model->distribution, model->distribution + 4),
            (std::vector<uint32_t>{0, 8192, 16384, 24576}));
  // Coded through the owner as through the model; a reset forgets the counts.
  AdaptiveSymbolModel fresh(4, true);
  fresh.reset(nullptr);
  const std::vector<uint32_t> symbols = {3, 3, 3, 3, 3, 1};
  EXPECT_EQ(encodeWith([&](EntropyEncoder& e) {
              for (uint32_t s : symbols) e.putSymbol(owner, s);
            }),
            encodeWith([&](EntropyEncoder& e) {
              for (uint32_t s : symbols) e.putSymbol(&fresh, s);
            }));
  EXPECT_NE(model->distribution[3], 24576u);
  owner.reset();
  EXPECT_EQ(model->distribution[3], 24576u);
  EXPECT_EQ(model->symbol_count[3], 1u);
  // A move hands the model over whole; the sanitizer build sees one deletion.
  OwnedSymbolModel moved(std::move(owner));
  EXPECT_EQ(moved.get(), model);
  EXPECT_EQ(owner.get(), nullptr);
  owner = std::move(moved);
  EXPECT_EQ(owner.get(), model);
}
