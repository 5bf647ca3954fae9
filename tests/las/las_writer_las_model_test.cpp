// A randomised model check of the LAS writer through its public interface, as a
// client drives it: seeded random headers (version, point format, extra bytes,
// records, extended records, compressor, chunk size), outputs that can or cannot
// seek with other bytes before the header, and random call orders with the
// mistakes a client makes (null points, points of no layout, calls out of order,
// a missing header, extended records grown or cleaned away before close, a
// writer opened again). No run may crash or touch memory it does not own (the
// sanitizer build checks); every file the writer reports good is read back and
// its header compared with the points the writer accepted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_las.h"
#include "tests/las/failing_byte_stream.h"
#include "tests/le_bytes.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Bytes = std::vector<uint8_t>;

// The standard record size of point formats 0 to 10.
constexpr uint16_t kRecordSize[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

// A random header and how the run drives the writer.
struct Plan {
  uint8_t minor = 2;
  uint8_t format = 1;
  uint16_t extra_bytes = 0;
  uint32_t compressor = 0;
  int32_t chunk_size = -1;
  uint32_t announced = 0;  // number_of_point_records at open
  bool seekable = true;
  size_t before = 0;  // other bytes before the header
};

Plan randomPlan(std::mt19937& random) {
  Plan p;
  p.minor = static_cast<uint8_t>(2 + random() % 3);
  p.format = static_cast<uint8_t>(random() % (p.minor == 4 ? 11 : 6));
  const uint16_t extras[] = {0, 0, 1, 3};
  p.extra_bytes = extras[random() % 4];
  const uint32_t compressors[] = {0, 2, 3, 3};
  p.compressor = compressors[random() % 4];
  const int32_t chunk_sizes[] = {-1, 0, 0, static_cast<int32_t>(1 + random() % 20)};
  p.chunk_size = chunk_sizes[random() % 4];
  p.announced = static_cast<uint32_t>(random() % 5);
  p.seekable = random() % 5 != 0;
  p.before = random() % 3 == 0 ? 13 : 0;
  return p;
}

// A payload of `n` bytes from the random source; null for 0.
uint8_t* payload(std::mt19937& random, size_t n) {
  if (n == 0) return nullptr;
  uint8_t* data = new uint8_t[n];
  for (size_t i = 0; i < n; i++) data[i] = static_cast<uint8_t>(random());
  return data;
}

void addExtendedRecord(LASheader& h, std::mt19937& random) {
  const uint32_t n = h.number_of_extended_variable_length_records;
  void* grown = std::realloc(h.evlrs, (n + 1) * sizeof(LASevlrRecord));
  ASSERT_NE(grown, nullptr);
  h.evlrs = static_cast<LASevlrRecord*>(grown);
  LASevlrRecord& r = h.evlrs[n];
  std::memset(&r, 0, sizeof(r));
  std::memcpy(r.user_id, "model", 5);
  r.record_id = static_cast<uint16_t>(random());
  r.record_length_after_header = random() % 7;
  r.data = payload(random, r.record_length_after_header);
  h.number_of_extended_variable_length_records = n + 1;
}

void makeHeader(LASheader& h, const Plan& p, std::mt19937& random) {
  h.clean();
  h.version_minor = p.minor;
  h.header_size = p.minor == 4 ? 375 : p.minor == 3 ? 235 : 227;
  h.offset_to_point_data = h.header_size;
  h.point_data_format = p.format;
  h.point_data_record_length = static_cast<uint16_t>(kRecordSize[p.format] + p.extra_bytes);
  h.number_of_point_records = p.announced;
  for (uint32_t i = random() % 3; i > 0; i--) {
    const uint16_t n = static_cast<uint16_t>(random() % 11);
    uint8_t* data = payload(random, n);
    if (!h.addVlr("model", static_cast<uint16_t>(i), n, data)) delete[] data;
  }
  if (p.minor == 4) {
    for (uint32_t i = random() % 3; i > 0; i--) addExtendedRecord(h, random);
  }
}

// The extended records as a file holds them.
Bytes recordBytes(const LASheader& h) {
  Bytes b;
  if (h.evlrs == nullptr) return b;
  for (uint32_t i = 0; i < h.number_of_extended_variable_length_records; i++) {
    const LASevlrRecord& r = h.evlrs[i];
    const auto put = [&b](uint64_t v, int n) {
      for (int k = 0; k < n; k++) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    put(r.reserved, 2);
    b.insert(b.end(), r.user_id, r.user_id + 16);
    put(r.record_id, 2);
    put(r.record_length_after_header, 8);
    b.insert(b.end(), r.description, r.description + 32);
    b.insert(b.end(), r.data, r.data + r.record_length_after_header);
  }
  return b;
}

// What the model expects of a good file.
struct Expected {
  std::vector<int32_t> xyz;  // X, Y, Z of every point accepted, in order
  uint64_t count_107 = 0;    // the counts the file holds, as the patches left them
  uint64_t count_247 = 0;
  uint32_t chunks = 0;  // chunks ended by chunk() before close
  uint32_t in_chunk = 0;
  Bytes records;                // the extended records at close
  uint64_t records_start = 0;   // offset 235 when the stream cannot seek
  uint32_t records_number = 0;  // offset 243 when the stream cannot seek
  uint32_t records_at_close = 0;
};

void checkFile(const Bytes& file, const Plan& p, const Expected& e) {
  ASSERT_GE(file.size(), 227u);
  EXPECT_EQ(file[24], 1);
  EXPECT_EQ(file[25], p.minor);
  EXPECT_EQ(file[104], p.format | (p.compressor != 0 ? 128 : 0));
  const uint16_t length = static_cast<uint16_t>(uAt(file, 105, 2));
  EXPECT_EQ(length, kRecordSize[p.format] + p.extra_bytes);
  const size_t offset = uAt(file, 96, 4);
  const bool las14 = p.minor == 4;
  const uint64_t n = e.xyz.size() / 3;
  EXPECT_EQ(uAt(file, 107, 4), e.count_107);
  if (las14) {
    EXPECT_EQ(uAt(file, 247, 8), e.count_247);
  }

  // The extended records end the file; 235 and 243 name them.
  ASSERT_GE(file.size(), offset + e.records.size());
  const size_t points_end = file.size() - (las14 ? e.records.size() : 0);
  if (las14) {
    EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(points_end), file.end()), e.records);
    const bool none = e.records.empty();
    EXPECT_EQ(uAt(file, 235, 8), p.seekable ? (none ? 0 : points_end) : e.records_start);
    EXPECT_EQ(uAt(file, 243, 4), p.seekable ? e.records_at_close : e.records_number);
  }

  if (p.compressor == 0) {
    ASSERT_EQ(points_end, offset + n * length);
    for (uint64_t i = 0; i < n; i++) {
      for (size_t k = 0; k < 3; k++) {
        EXPECT_EQ(static_cast<int32_t>(uAt(file, offset + i * length + 4 * k, 4)), e.xyz[3 * i + k])
            << "point " << i;
      }
    }
    return;
  }
  // Compressed: the pointer (or the position after the table) names a table of
  // the chunks written; the first chunk opens with the first point raw.
  const uint64_t pointer = uAt(file, offset, 8);
  const uint64_t table = p.seekable ? pointer : uAt(file, points_end - 8, 8);
  EXPECT_EQ(pointer, p.seekable ? table : ~0ull);
  ASSERT_LE(table + 8, file.size());
  EXPECT_EQ(uAt(file, table, 4), 0u);
  uint32_t chunks = e.chunks + (e.in_chunk != 0 ? 1 : 0);
  const bool variable = p.chunk_size == 0;
  if (!variable) {
    const uint64_t size = p.chunk_size < 0 ? 50000 : static_cast<uint64_t>(p.chunk_size);
    chunks = static_cast<uint32_t>((n + size - 1) / size);
  }
  EXPECT_EQ(uAt(file, table + 4, 4), chunks);
  if (n > 0) {
    for (size_t k = 0; k < 3; k++) {
      EXPECT_EQ(static_cast<int32_t>(uAt(file, offset + 8 + 4 * k, 4)), e.xyz[k]);
    }
  }
}

// One life of `w`: open by `p`, random calls, close, and the file checked
// unless it is not one to judge (the open was refused, or a mistake lost a
// point or a patch, now or in an earlier life).
void runLife(LASwriterLAS& w, const Plan& p, std::mt19937& random) {
  LASheader h;
  makeHeader(h, p, random);
  Bytes sink;
  FailingByteStream* stream = new FailingByteStream(&sink);
  const Bytes other(p.before, 0xEE);
  ASSERT_TRUE(stream->writeBytes(other.data(), static_cast<uint32_t>(other.size())));
  stream->can_seek = p.seekable;
  const bool refused = (p.compressor == 2 && p.format >= 6) ||
                       (p.compressor != 0 && p.chunk_size == 0 && p.format < 6);
  const bool failed_before = w.failed();
  const bool opened = w.open(stream, &h, p.compressor, 2, p.chunk_size);
  EXPECT_EQ(opened, !refused);

  LASpointRecord point;
  ASSERT_TRUE(
      point.initFromFormat(&h, p.format, static_cast<uint16_t>(h.point_data_record_length), &h));
  LASpointRecord unlaid;
  Expected e;
  e.count_107 = e.count_247 = p.announced;
  e.records_start = 0;
  e.records_number = h.number_of_extended_variable_length_records;
  int64_t expected_points = p.announced;
  bool lost = false;
  // A careless client also makes the mistakes that cost a point or a patch.
  const bool careless = random() % 3 == 0;
  const bool zero_legacy = p.minor == 4 && p.format >= 6;
  const auto legacy = [zero_legacy](uint64_t v) { return zero_legacy ? 0 : v; };

  for (uint32_t step = random() % 60; step > 0; step--) {
    const uint32_t r = random() % 100;
    if (r < 70) {
      point.setX(static_cast<int32_t>(random()));
      point.setY(static_cast<int32_t>(random()));
      point.setZ(static_cast<int32_t>(random() % 100000) - 50000);
      point.setGpsTime(static_cast<double>(random() % 100000) / 8);
      EXPECT_EQ(w.writePoint(&point), opened);
      if (opened) {
        w.updateInventory(&point);
        e.xyz.insert(e.xyz.end(), {point.getX(), point.getY(), point.getZ()});
        e.in_chunk++;
      }
    } else if (r < 74) {
      EXPECT_FALSE(w.writePoint(nullptr));
    } else if (r < 76) {
      if (!careless) continue;
      EXPECT_FALSE(w.writePoint(&unlaid));
      lost = true;  // refused: the caller's point is not in the file
    } else if (r < 82) {
      const bool ends = opened && p.chunk_size == 0 && p.compressor == 3 && e.in_chunk != 0;
      EXPECT_EQ(w.chunk(), ends);
      if (ends) {
        e.chunks++;
        e.in_chunk = 0;
      }
    } else if (r < 88) {
      const bool patched = w.updateHeader(&h, true, false);
      EXPECT_EQ(patched, opened && p.seekable);
      if (patched) {
        expected_points = static_cast<int64_t>(e.xyz.size() / 3);
        e.count_107 = legacy(static_cast<uint64_t>(expected_points));
        e.count_247 = static_cast<uint64_t>(expected_points);
      }
    } else if (r < 92) {
      h.number_of_point_records = static_cast<uint32_t>(random() % 6);
      const bool patched = w.updateHeader(&h, false, false);
      EXPECT_EQ(patched, opened && p.seekable);
      if (patched) {
        expected_points = h.number_of_point_records;
        e.count_107 = legacy(h.number_of_point_records);
        e.count_247 = h.number_of_point_records;
      }
    } else if (r < 96) {
      if (p.minor == 4) addExtendedRecord(h, random);
    } else if (r < 97) {
      if (!careless) continue;
      EXPECT_FALSE(w.updateHeader(nullptr, true, false));
      lost = lost || opened;  // an open writer's header then keeps what open wrote
    } else if (r < 98 && p.minor == 4) {
      h.clean();  // the records go, the writer must not read them
    }
  }

  const bool update = random() % 4 != 0;
  e.records = recordBytes(h);
  e.records_at_close = h.number_of_extended_variable_length_records;
  const uint64_t n = e.xyz.size() / 3;
  if (update && p.seekable && static_cast<int64_t>(n) != expected_points) {
    e.count_107 = legacy(n);
    e.count_247 = n;
  }
  const int64_t size = w.close(update);
  EXPECT_EQ(w.close(true), 0);
  if (!opened || lost || failed_before || w.failed()) return;
  ASSERT_EQ(static_cast<size_t>(size) + p.before, sink.size());
  checkFile(Bytes(sink.begin() + static_cast<std::ptrdiff_t>(p.before), sink.end()), p, e);
}

TEST(LASwriterLASModel, RandomHeadersCallsAndMistakes) {
  for (uint32_t seed = 1; seed <= 2000; seed++) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    LASwriterLAS w;
    CaptureStderr();
    for (uint32_t life = 1 + random() % 2; life > 0; life--) {
      const Plan p = randomPlan(random);
      SCOPED_TRACE(testing::Message()
                   << "LAS 1." << int(p.minor) << " format " << int(p.format) << " +"
                   << p.extra_bytes << " compressor " << p.compressor << " chunk " << p.chunk_size
                   << (p.seekable ? "" : " unseekable") << " after " << p.before);
      runLife(w, p, random);
    }
    GetCapturedStderr();
    if (HasFatalFailure() || HasNonfatalFailure()) break;  // one seed's trace is enough
  }
}

}  // namespace
