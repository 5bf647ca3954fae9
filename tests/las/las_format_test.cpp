// The point-format facts that both libraries read from one table: what the points
// of each format hold and the standard record size of each format; and the byte
// places of the in-memory point that the LAS library installs.
#include "morrowtide/las/las_format.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(PointDataFormats, WhatEachFormatHoldsAndItsRecordSize) {
  struct Row {
    uint8_t format;
    bool gps_time;
    bool colour;
    bool nir;
    bool wave_packet;
    bool extended;
    uint16_t record_size;
  };
  const Row rows[] = {
      {0, false, false, false, false, false, 20}, {1, true, false, false, false, false, 28},
      {2, false, true, false, false, false, 26},  {3, true, true, false, false, false, 34},
      {4, true, false, false, true, false, 57},   {5, true, true, false, true, false, 63},
      {6, true, false, false, false, true, 30},   {7, true, true, false, false, true, 36},
      {8, true, true, true, false, true, 38},     {9, true, false, false, true, true, 59},
      {10, true, true, true, true, true, 67},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "format " << int{r.format});
    EXPECT_EQ(las_format::formatHasGpsTime(r.format), r.gps_time);
    EXPECT_EQ(las_format::formatHasColour(r.format), r.colour);
    EXPECT_EQ(quodax_format::kPointFormats[r.format].nir, r.nir);
    EXPECT_EQ(las_format::formatHasWavePacket(r.format), r.wave_packet);
    EXPECT_EQ(las_format::formatHasExtendedPoint(r.format), r.extended);
    EXPECT_EQ(las_format::kPointRecordSize[r.format], r.record_size);
    EXPECT_EQ(quodax_format::kPointFormats[r.format].base_size, r.record_size);
  }
}

TEST(PointDataFormats, FormatsAbove10HoldNothing) {
  for (uint32_t format = 11; format <= 255; format++) {
    SCOPED_TRACE(format);
    const auto f = static_cast<uint8_t>(format);
    EXPECT_FALSE(las_format::formatHasGpsTime(f));
    EXPECT_FALSE(las_format::formatHasColour(f));
    EXPECT_FALSE(las_format::formatHasWavePacket(f));
    EXPECT_FALSE(las_format::formatHasExtendedPoint(f));
  }
}

TEST(InMemoryPoint, InstalledNamesOfItsBytePlaces) {
  // Clients find a point's items by these names, at the places the item
  // writers read, so the places are spelled out here rather than shared.
  EXPECT_EQ(las_format::kPointOffsetPoint10, 0u);
  EXPECT_EQ(las_format::kPointOffsetGpsTime, 32u);
  EXPECT_EQ(las_format::kPointOffsetRgb, 40u);
  EXPECT_EQ(las_format::kPointOffsetWavePacket, 48u);
  EXPECT_EQ(las_format::kWavePacketSize, 29u);
  EXPECT_EQ(las_format::kPointFixedSize, 77u);
}

}  // namespace
