// The little-endian layout helpers: exact bytes at an unaligned place, the values
// read back from literal bytes, and float bit patterns carried unchanged.
#include "morrowtide/compressor/byte_order.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using morrowtide::getF32LE;
using morrowtide::getF64LE;
using morrowtide::getI16LE;
using morrowtide::getI32LE;
using morrowtide::getI64LE;
using morrowtide::getU16LE;
using morrowtide::getU32LE;
using morrowtide::getU64LE;
using morrowtide::putF32LE;
using morrowtide::putF64LE;
using morrowtide::putI16LE;
using morrowtide::putI32LE;
using morrowtide::putI64LE;
using morrowtide::putU16LE;
using morrowtide::putU32LE;
using morrowtide::putU64LE;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteOrder, PutsEveryWidthLeastSignificantByteFirst) {
  // One guard byte first, so every field lies unaligned; the last byte must stay.
  Bytes b(1 + 2 + 4 + 8 + 2 + 4 + 8 + 4 + 8 + 1, 0xEE);
  uint8_t* p = b.data() + 1;
  putU16LE(p, 0x0102);
  putU32LE(p + 2, 0x03040506u);
  putU64LE(p + 6, 0x0708090A0B0C0D0Eull);
  putI16LE(p + 14, -2);
  putI32LE(p + 16, INT32_MIN);
  putI64LE(p + 20, -3);
  putF32LE(p + 28, 1.5f);
  putF64LE(p + 32, -2.0);
  const Bytes expected = {0xEE,                                            // guard
                          0x02, 0x01,                                      // U16
                          0x06, 0x05, 0x04, 0x03,                          // U32
                          0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0x07,  // U64
                          0xFE, 0xFF,                                      // I16 -2
                          0x00, 0x00, 0x00, 0x80,                          // I32 min
                          0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // I64 -3
                          0x00, 0x00, 0xC0, 0x3F,                          // F32 1.5
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,  // F64 -2
                          0xEE};                                           // guard
  EXPECT_EQ(b, expected);
}

TEST(ByteOrder, GetsValuesFromLiteralBytes) {
  const Bytes b = {0x00, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0x00};
  const uint8_t* p = b.data() + 1;  // unaligned
  EXPECT_EQ(getU16LE(p), 0xF2F1u);
  EXPECT_EQ(getU32LE(p), 0xF4F3F2F1u);
  EXPECT_EQ(getU64LE(p), 0xF8F7F6F5F4F3F2F1ull);
  EXPECT_EQ(getI16LE(p), static_cast<int16_t>(-0x0D0F));
  EXPECT_EQ(getI32LE(p), -0x0B0C0D0F);
  EXPECT_EQ(getI64LE(p), -0x0708090A0B0C0D0Fll);

  const Bytes f32 = {0x00, 0x00, 0xC0, 0xBF};
  EXPECT_EQ(getF32LE(f32.data()), -1.5f);
  const Bytes f64 = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F};
  EXPECT_EQ(getF64LE(f64.data()), 1.5);
}

TEST(ByteOrder, FloatsKeepTheirBitPattern) {
  // A NaN with a payload and a negative zero come back bit for bit.
  const Bytes nan32 = {0x01, 0x00, 0xA0, 0x7F};
  const Bytes nan64 = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0x7F};
  const Bytes zero64 = {0, 0, 0, 0, 0, 0, 0, 0x80};
  for (const Bytes* bytes : {&nan32, &nan64, &zero64}) {
    SCOPED_TRACE(bytes->size() * 100 + (*bytes)[bytes->size() - 1]);
    Bytes out(bytes->size());
    if (bytes->size() == 4) {
      putF32LE(out.data(), getF32LE(bytes->data()));
    } else {
      putF64LE(out.data(), getF64LE(bytes->data()));
    }
    EXPECT_EQ(out, *bytes);
  }
  EXPECT_TRUE(std::signbit(getF64LE(zero64.data())));
}

}  // namespace
