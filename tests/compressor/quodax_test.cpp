// The compressor descriptor: setup, versions, chunk size, compatibility mode,
// the record payload and its error texts.
#include "morrowtide/compressor/quodax.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/compressor/quodax_test_support.h"

namespace {

using quodax_test::errorOf;
using quodax_test::Items;
using quodax_test::quodaxError;
using quodax_test::toList;

Items itemsOf(const Quodax& d) { return quodax_test::toItems(d.num_items, d.items); }

std::vector<uint8_t> packed(Quodax& d) {
  uint8_t* bytes = nullptr;
  int32_t num = 0;
  if (!d.pack(bytes, num)) return {};
  return std::vector<uint8_t>(bytes, bytes + num);
}

TEST(Quodax, NewDescriptorValues) {
  Quodax d;
  EXPECT_EQ(d.compressor, 2);
  EXPECT_EQ(d.coder, 0);
  EXPECT_EQ(d.version_major, 3);
  EXPECT_EQ(d.version_minor, 4);
  EXPECT_EQ(d.version_revision, 3);
  EXPECT_EQ(d.options, 0u);
  EXPECT_EQ(d.chunk_size, 50000u);
  EXPECT_EQ(d.number_of_special_evlrs, -1);
  EXPECT_EQ(d.offset_to_special_evlrs, -1);
  EXPECT_EQ(d.num_items, 0);
  EXPECT_EQ(d.items, nullptr);
  EXPECT_EQ(d.errorText(), nullptr);
}

TEST(Quodax, ErrorTextAlwaysNamesVersion343) {
  Quodax d;
  d.version_major = 9;
  d.version_minor = 9;
  d.version_revision = 9;
  EXPECT_FALSE(d.setError("something failed"));
  EXPECT_EQ(errorOf(d), "something failed (Quodax v3.4r3)");
  // The current text may be passed back in.
  EXPECT_FALSE(d.setError(d.errorText()));
  EXPECT_EQ(errorOf(d), "something failed (Quodax v3.4r3) (Quodax v3.4r3)");
  EXPECT_FALSE(d.validateCompressor(4));
  EXPECT_EQ(errorOf(d), quodaxError("compressor 4 not supported"));
  EXPECT_FALSE(d.validateCoder(1));
  EXPECT_EQ(errorOf(d), quodaxError("coder 1 not supported"));
  EXPECT_TRUE(d.validateCompressor(3));
  EXPECT_TRUE(d.validateCoder(0));
}

TEST(QuodaxPack, PayloadOfFormat1Chunked) {
  Quodax d;
  ASSERT_TRUE(d.setup(1, 28, 2));
  const std::vector<uint8_t> expected = {
      0x02, 0x00, 0x00, 0x00, 0x03, 0x04, 0x03, 0x00,  // compressor, coder, version 3.4r3
      0x00, 0x00, 0x00, 0x00, 0x50, 0xC3, 0x00, 0x00,  // options, chunk size 50000
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // number of special records
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // offset of special records
      0x02, 0x00,                                      // two items
      0x06, 0x00, 0x14, 0x00, 0x02, 0x00,              // POINT10, 20 bytes, version 2
      0x07, 0x00, 0x08, 0x00, 0x02, 0x00};             // GPSTIME11, 8 bytes, version 2
  EXPECT_EQ(packed(d), expected);
}

TEST(QuodaxPack, PayloadOfCompatibleFormat8WithVariableChunks) {
  Quodax d;
  ASSERT_TRUE(d.requestCompatibilityMode(1));
  ASSERT_TRUE(d.setup(8, 40, 3));
  ASSERT_TRUE(d.setChunkSize(0));
  d.number_of_special_evlrs = 0x0102030405060708;
  const std::vector<uint8_t> expected = {
      0x02, 0x00, 0x00, 0x00, 0x03, 0x04, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0x04, 0x00, 0x06, 0x00, 0x14, 0x00, 0x02, 0x00, 0x07, 0x00, 0x08, 0x00, 0x02,
      0x00, 0x08, 0x00, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 0x09, 0x00, 0x02, 0x00};
  EXPECT_EQ(packed(d), expected);
}

TEST(QuodaxPack, RefusesAnInvalidDescriptorAndLeavesTheOutputs) {
  uint8_t sentinel = 0;
  uint8_t* bytes = &sentinel;
  int32_t num = -7;

  Quodax not_set_up;
  EXPECT_FALSE(not_set_up.pack(bytes, num));
  EXPECT_EQ(errorOf(not_set_up), quodaxError("number of items cannot be zero"));

  Quodax bad_coder;
  ASSERT_TRUE(bad_coder.setup(0, 20, 2));
  bad_coder.coder = 1;
  EXPECT_FALSE(bad_coder.pack(bytes, num));
  EXPECT_EQ(errorOf(bad_coder), quodaxError("coder 1 not supported"));

  Quodax bad_compressor;
  ASSERT_TRUE(bad_compressor.setup(0, 20, 2));
  bad_compressor.compressor = 5;
  EXPECT_FALSE(bad_compressor.pack(bytes, num));
  EXPECT_EQ(errorOf(bad_compressor), quodaxError("compressor 5 not supported"));

  EXPECT_EQ(bytes, &sentinel);
  EXPECT_EQ(num, -7);
}

TEST(QuodaxUnpack, GivesBackWhatWasPacked) {
  Quodax source;
  ASSERT_TRUE(source.setup(10, 70, 3));
  ASSERT_TRUE(source.setChunkSize(1234567));
  source.options = 0x80000000;
  source.offset_to_special_evlrs = 0x1122334455667788;
  source.items[1].version = 4;
  const std::vector<uint8_t> payload = packed(source);
  ASSERT_EQ(payload.size(), 34u + 6 * 4);

  Quodax d;
  ASSERT_TRUE(d.unpack(payload.data(), static_cast<int32_t>(payload.size()))) << errorOf(d);
  EXPECT_EQ(d.compressor, 3);
  EXPECT_EQ(d.coder, 0);
  EXPECT_EQ(d.options, 0x80000000u);
  EXPECT_EQ(d.chunk_size, 1234567u);
  EXPECT_EQ(d.number_of_special_evlrs, -1);
  EXPECT_EQ(d.offset_to_special_evlrs, 0x1122334455667788);
  EXPECT_EQ(itemsOf(d), (Items{{10, 30, 3}, {12, 8, 4}, {13, 29, 3}, {14, 3, 3}}));
  EXPECT_EQ(packed(d), payload);
}

TEST(QuodaxUnpack, ReadsVersionFieldsAndDoesNotTestCompressorOrCoder) {
  std::vector<uint8_t> payload = {0x07, 0x00, 0x05, 0x00, 0x02, 0x01, 0x09, 0x00, 0,    0,
                                  0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                  0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                  0,    0,    0x01, 0x00, 0x06, 0x00, 0x14, 0x00, 0x00, 0x00};
  Quodax d;
  ASSERT_TRUE(d.unpack(payload.data(), static_cast<int32_t>(payload.size())));
  EXPECT_EQ(d.compressor, 7);
  EXPECT_EQ(d.coder, 5);
  EXPECT_EQ(d.version_major, 2);
  EXPECT_EQ(d.version_minor, 1);
  EXPECT_EQ(d.version_revision, 9);
  EXPECT_EQ(d.chunk_size, 0u);
  EXPECT_EQ(d.number_of_special_evlrs, 0);
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 0}}));
}

TEST(QuodaxUnpack, RefusesBadLengthsAndItems) {
  Quodax source;
  ASSERT_TRUE(source.setup(1, 28, 2));
  std::vector<uint8_t> payload = packed(source);
  payload.resize(64, 0);

  struct Case {
    int32_t num;
    const char* error;
  };
  const Case cases[] = {
      {-1, "too few bytes to unpack"},
      {33, "too few bytes to unpack"},
      {41, "wrong number bytes to unpack"},
      {34, "zero items to unpack"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.num);
    Quodax d;
    EXPECT_FALSE(d.unpack(payload.data(), c.num));
    EXPECT_EQ(errorOf(d), quodaxError(c.error));
    EXPECT_EQ(d.num_items, 0);
  }

  Quodax d;
  payload[34 + 6] = 3;  // the second item becomes type 3
  EXPECT_FALSE(d.unpack(payload.data(), 46));
  EXPECT_EQ(errorOf(d), quodaxError("item unknown (3,8,2)"));
}

TEST(QuodaxUnpack, RefusesAnItemCountThatDisagreesWithTheLength) {
  // Fault: the item list was sized from the length but filled for the count field,
  // so a larger count read past the payload and wrote past the list.
  Quodax source;
  ASSERT_TRUE(source.setup(1, 28, 2));
  const std::vector<uint8_t> good = packed(source);

  for (uint16_t count : {3, 1, 0, 0xFFFF}) {
    SCOPED_TRACE(count);
    std::vector<uint8_t> payload = good;
    payload[32] = static_cast<uint8_t>(count);
    payload[33] = static_cast<uint8_t>(count >> 8);
    Quodax d;
    ASSERT_TRUE(d.setup(0, 20, 0));
    EXPECT_FALSE(d.unpack(payload.data(), 46));
    EXPECT_EQ(errorOf(d), quodaxError("number of items " + std::to_string(count) +
                                      " does not match 46 bytes to unpack"));
    // Nothing changed.
    EXPECT_EQ(d.compressor, 0);
    EXPECT_EQ(itemsOf(d), (Items{{6, 20, 0}}));
  }

  Quodax d;
  EXPECT_FALSE(d.unpack(nullptr, 46));
  EXPECT_EQ(errorOf(d), quodaxError("bytes pointer cannot be NULL"));
}

TEST(QuodaxSetup, ByItemsChoosesTheCompressorAndCopiesTheList) {
  struct Case {
    Items items;
    uint16_t requested;
    bool result;
    uint16_t stored;
  };
  const Items legacy = {{6, 20, 1}, {7, 8, 2}};
  const Items las14 = {{10, 30, 4}, {11, 6, 3}};
  const Case cases[] = {
      {legacy, 0, true, 0}, {legacy, 1, true, 1}, {legacy, 2, true, 2}, {legacy, 3, true, 2},
      {las14, 0, true, 0},  {las14, 3, true, 3},  {las14, 1, false, 9}, {las14, 2, false, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "first type " << std::get<0>(c.items[0]) << " compressor " << c.requested);
    Quodax d;
    d.compressor = 9;  // marks "unchanged"
    d.chunk_size = 0;
    std::vector<LASitem> list = toList(c.items);
    EXPECT_EQ(d.setup(2, list.data(), c.requested), c.result);
    EXPECT_EQ(d.compressor, c.stored);
    EXPECT_EQ(d.errorText(), nullptr);
    if (c.result) {
      // A copy with the given versions; chunk size defaulted for 2 and 3 only.
      EXPECT_NE(d.items, list.data());
      EXPECT_EQ(itemsOf(d), c.items);
      EXPECT_EQ(d.chunk_size, c.stored >= 2 ? 50000u : 0u);
    } else {
      EXPECT_EQ(d.num_items, 0);
      EXPECT_EQ(d.chunk_size, 0u);
    }
  }
}

TEST(QuodaxSetup, ByItemsErrorsAndItsOwnList) {
  Quodax d;
  const std::vector<LASitem> list = toList({{6, 20, 0}});
  EXPECT_FALSE(d.setup(1, list.data(), 4));
  EXPECT_EQ(errorOf(d), quodaxError("compressor 4 not supported"));
  const std::vector<LASitem> bad = toList({{6, 20, 0}, {8, 8, 0}});
  EXPECT_FALSE(d.setup(2, bad.data(), 2));
  EXPECT_EQ(errorOf(d), quodaxError("RGB12 has size != 6"));
  EXPECT_EQ(d.num_items, 0);

  // Setting up from the descriptor's own list keeps it intact.
  ASSERT_TRUE(d.setup(3, 34, 2));
  ASSERT_TRUE(d.setup(d.num_items, d.items, 1));
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 2}, {7, 8, 2}, {8, 6, 2}}));
  EXPECT_EQ(d.compressor, 1);
}

TEST(QuodaxSetup, ByPointTypeChoosesTheCompressor) {
  struct Case {
    uint8_t point_type;
    uint16_t point_size;
    uint16_t requested;
    bool result;
    uint16_t stored;
    Items items;
  };
  const Case cases[] = {
      {1, 28, 0, true, 0, {{6, 20, 0}, {7, 8, 0}}},
      {1, 28, 1, true, 1, {{6, 20, 2}, {7, 8, 2}}},
      {1, 28, 2, true, 2, {{6, 20, 2}, {7, 8, 2}}},
      {1, 28, 3, true, 2, {{6, 20, 2}, {7, 8, 2}}},
      {4, 57, 2, true, 2, {{6, 20, 2}, {7, 8, 2}, {9, 29, 1}}},
      {6, 30, 0, true, 0, {{10, 30, 0}}},
      {7, 36, 3, true, 3, {{10, 30, 3}, {11, 6, 3}}},
      // A LAS 1.4 layout needs layered chunks: the new list stays, the compressor does not.
      {6, 30, 2, false, 2, {{10, 30, 3}}},
      {6, 30, 1, false, 2, {{10, 30, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "format " << int(c.point_type) << " compressor " << c.requested);
    Quodax d;
    EXPECT_EQ(d.setup(c.point_type, c.point_size, c.requested), c.result);
    EXPECT_EQ(d.compressor, c.stored);
    EXPECT_EQ(itemsOf(d), c.items);
    EXPECT_EQ(d.errorText(), nullptr);
    EXPECT_EQ(d.chunk_size, 50000u);
  }
}

TEST(QuodaxSetup, ByPointTypeErrors) {
  Quodax d;
  ASSERT_TRUE(d.setup(0, 20, 2));
  EXPECT_FALSE(d.setup(0, 20, 4));
  EXPECT_EQ(errorOf(d), quodaxError("compressor 4 not supported"));
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 2}}));  // nothing changed

  EXPECT_FALSE(d.setup(11, 20, 2));
  EXPECT_EQ(errorOf(d), quodaxError("point type 11 unknown"));
  EXPECT_EQ(d.num_items, 0);
}

TEST(QuodaxSetup, CompressingAfterUncompressedGivesVersions) {
  // Fault: the version request for the new list tested the compressor of the
  // previous setup, so after compressor 0 the items kept version 0 and a stale
  // "without compression" error text, although setup returned true.
  Quodax d;
  ASSERT_TRUE(d.setup(1, 28, 0));
  ASSERT_TRUE(d.setup(1, 28, 2));
  EXPECT_EQ(d.compressor, 2);
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 2}, {7, 8, 2}}));
  EXPECT_EQ(d.errorText(), nullptr);
  EXPECT_EQ(packed(d).size(), 46u);
}

TEST(QuodaxSetChunkSize, NeedsSetupAndChunks) {
  Quodax d;
  EXPECT_FALSE(d.setChunkSize(100));
  EXPECT_EQ(errorOf(d), quodaxError("call setup() before setting chunk size"));
  EXPECT_EQ(d.chunk_size, 50000u);

  Quodax variable;
  ASSERT_TRUE(variable.setup(1, 28, 2));
  ASSERT_TRUE(variable.setChunkSize(0));
  EXPECT_EQ(variable.chunk_size, 0u);
  ASSERT_TRUE(variable.setup(1, 28, 2));
  EXPECT_EQ(variable.chunk_size, 50000u);
  ASSERT_TRUE(variable.setChunkSize(0));
  ASSERT_TRUE(variable.setup(1, 28, 0));  // without compression the chunk size stays
  EXPECT_EQ(variable.chunk_size, 0u);

  Quodax single;
  ASSERT_TRUE(single.setup(1, 28, 1));
  EXPECT_FALSE(single.setChunkSize(10));
  EXPECT_EQ(single.errorText(), nullptr);
  EXPECT_EQ(single.chunk_size, 50000u);
}

TEST(QuodaxRequestVersion, GivesEachItemItsVersion) {
  struct Case {
    uint8_t point_type;
    uint16_t point_size;
    uint16_t compressor;
    uint16_t version;
    Items items;
  };
  const Case cases[] = {
      {7, 36, 3, 2, {{10, 30, 3}, {11, 6, 3}}},
      {5, 64, 2, 2, {{6, 20, 2}, {7, 8, 2}, {8, 6, 2}, {9, 29, 1}, {0, 1, 2}}},
      {5, 64, 2, 1, {{6, 20, 1}, {7, 8, 1}, {8, 6, 1}, {9, 29, 1}, {0, 1, 1}}},
      // LAS 1.4 items and WAVEPACKET13 get 3 and 1 also without compression.
      {10, 68, 0, 0, {{10, 30, 3}, {12, 8, 3}, {13, 29, 3}, {14, 1, 3}}},
      {4, 57, 0, 0, {{6, 20, 0}, {7, 8, 0}, {9, 29, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << int(c.point_type) << " version " << c.version);
    Quodax d;
    ASSERT_TRUE(d.setup(c.point_type, c.point_size, c.compressor));
    EXPECT_TRUE(d.requestVersion(c.version));
    EXPECT_EQ(itemsOf(d), c.items);
  }
}

TEST(QuodaxRequestVersion, Errors) {
  Quodax d;
  EXPECT_FALSE(d.requestVersion(2));
  EXPECT_EQ(errorOf(d), quodaxError("call setup() before requesting version"));

  ASSERT_TRUE(d.setup(1, 28, 2));
  EXPECT_FALSE(d.requestVersion(3));
  EXPECT_EQ(errorOf(d), quodaxError("version larger than 2 not supported"));
  EXPECT_FALSE(d.requestVersion(0));
  EXPECT_EQ(errorOf(d), quodaxError("with compression version is at least 1"));
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 2}, {7, 8, 2}}));

  ASSERT_TRUE(d.setup(1, 28, 0));
  EXPECT_FALSE(d.requestVersion(2));
  EXPECT_EQ(errorOf(d), quodaxError("without compression version is always 0"));

  // Items before an unknown type keep their new versions.
  Quodax foreign;
  foreign.num_items = 3;
  foreign.items = new LASitem[3]{{6, 20, 0}, {3, 1, 0}, {7, 8, 0}};
  EXPECT_FALSE(foreign.requestVersion(1));
  EXPECT_EQ(errorOf(foreign), quodaxError("item type not supported"));
  EXPECT_EQ(itemsOf(foreign), (Items{{6, 20, 1}, {3, 1, 0}, {7, 8, 0}}));
}

TEST(QuodaxRequestCompatibilityMode, OnlyBeforeSetup) {
  Quodax d;
  EXPECT_FALSE(d.requestCompatibilityMode(2));
  EXPECT_EQ(errorOf(d), quodaxError("compatibility mode larger than 1 not supported"));
  ASSERT_TRUE(d.requestCompatibilityMode(1));
  EXPECT_EQ(d.options, 1u);
  ASSERT_TRUE(d.setup(8, 38, 2));
  EXPECT_EQ(d.compressor, 2);
  EXPECT_EQ(itemsOf(d), (Items{{6, 20, 2}, {7, 8, 2}, {8, 6, 2}, {0, 7, 2}}));
  EXPECT_FALSE(d.requestCompatibilityMode(0));
  EXPECT_EQ(errorOf(d), quodaxError("request compatibility mode before calling setup()"));
  EXPECT_EQ(d.options, 1u);

  Quodax cleared;
  cleared.options = 0xFF;
  ASSERT_TRUE(cleared.requestCompatibilityMode(0));
  EXPECT_EQ(cleared.options, 0xFEu);
}

}  // namespace
