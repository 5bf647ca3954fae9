#include "morrowtide/compressor/byte_stream_out.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scratch_dir.h"

namespace {

std::vector<uint8_t> contents(const ByteStreamOutArray& s) {
  return std::vector<uint8_t>(s.data(), s.data() + s.highWaterMark());
}

std::vector<uint8_t> readFile(FILE* f) {
  std::vector<uint8_t> bytes;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  return bytes;
}

void writeTypedValues(ByteStreamOut& s) {
  const uint16_t v16 = 0x0102;
  const uint32_t v32 = 0x01020304;
  const uint64_t v64 = 0x0102030405060708ull;
  EXPECT_TRUE(s.writeU16LE(reinterpret_cast<const uint8_t*>(&v16)));
  EXPECT_TRUE(s.writeU32LE(reinterpret_cast<const uint8_t*>(&v32)));
  EXPECT_TRUE(s.writeU64LE(reinterpret_cast<const uint8_t*>(&v64)));
  EXPECT_TRUE(s.writeU16BE(reinterpret_cast<const uint8_t*>(&v16)));
  EXPECT_TRUE(s.writeU32BE(reinterpret_cast<const uint8_t*>(&v32)));
  EXPECT_TRUE(s.writeU64BE(reinterpret_cast<const uint8_t*>(&v64)));
  EXPECT_TRUE(s.writeByte(0x1FF));
}

const std::vector<uint8_t> kTypedBytes = {
    0x02, 0x01, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x01,
    0x02, 0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF};

TEST(ByteStreamOut, TypedWritesGiveTheSameBytesOnEveryKind) {
  ByteStreamOutArrayLE array;
  writeTypedValues(array);
  EXPECT_EQ(contents(array), kTypedBytes);

  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  {
    ByteStreamOutFileLE file(f);
    writeTypedValues(file);
    EXPECT_EQ(file.position(), 29);
  }
  EXPECT_EQ(readFile(f), kTypedBytes);
  fclose(f);

  std::ostringstream os;
  ByteStreamOutOstreamLE ostream(os);
  writeTypedValues(ostream);
  const std::string s = os.str();
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.end()), kTypedBytes);

  ByteStreamOutNil nil;
  writeTypedValues(nil);
  EXPECT_EQ(nil.position(), 29);
}

// The null stream once reported the cursor after a seek back; it must report
// the size the file would have.
TEST(ByteStreamOutNil, CountsLikeAFileWould) {
  ByteStreamOutNil nil;
  const uint8_t ten[10] = {};
  EXPECT_TRUE(nil.writeBytes(ten, 10));
  EXPECT_TRUE(nil.seekTo(0));
  EXPECT_EQ(nil.position(), 10);
  EXPECT_TRUE(nil.writeBytes(ten, 4));
  EXPECT_EQ(nil.position(), 10);
  EXPECT_TRUE(nil.seekToEnd());
  EXPECT_TRUE(nil.writeBytes(ten, 4));
  EXPECT_EQ(nil.position(), 14);
  EXPECT_TRUE(nil.canSeek());
}

TEST(ByteStreamOutFileLE, SeeksOnFilesButNotOnStandardOutput) {
  ByteStreamOutFileLE out(stdout);
  EXPECT_FALSE(out.canSeek());

  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  ByteStreamOutFileLE file(f);
  EXPECT_TRUE(file.canSeek());
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_TRUE(file.writeBytes(bytes, 4));
  EXPECT_TRUE(file.seekTo(1));
  EXPECT_TRUE(file.writeByte(9));
  EXPECT_TRUE(file.seekToEnd());
  EXPECT_EQ(file.position(), 4);
  fflush(f);
  EXPECT_EQ(readFile(f), (std::vector<uint8_t>{1, 9, 3, 4}));
  fclose(f);
}

// On a pipe ftello gives -1; the stream must count its own bytes so that
// positions (and the chunk table built from them) stay right.
TEST(ByteStreamOutFileLE, CountsItsOwnBytesOnAPipe) {
  FILE* pipe = popen("cat > /dev/null", "w");
  ASSERT_NE(pipe, nullptr);
  ByteStreamOutFileLE out(pipe);
  const uint8_t bytes[7] = {};
  EXPECT_TRUE(out.writeBytes(bytes, 7));
  EXPECT_TRUE(out.writeByte(1));
  EXPECT_EQ(out.position(), 8);
  // A pipe that is not standard output once claimed it could seek, so patches
  // after the data were lost silently.
  EXPECT_FALSE(out.canSeek());
  pclose(pipe);
}

TEST(ByteStreamOutArrayLE, GrowsInTheDocumentedSteps) {
  ByteStreamOutArrayLE block;
  std::vector<uint8_t> bytes(5000, 7);
  EXPECT_TRUE(block.writeBytes(bytes.data(), 5000));
  EXPECT_EQ(block.allocated(), 13192u);
  EXPECT_EQ(block.highWaterMark(), 5000u);
  EXPECT_EQ(block.position(), 5000);

  ByteStreamOutArrayLE single;
  for (int i = 0; i < 4097; i++) EXPECT_TRUE(single.writeByte(static_cast<uint32_t>(i)));
  EXPECT_EQ(single.allocated(), 8192u);
  EXPECT_EQ(single.data()[4095], 0xFF);  // low 8 bits of 4095
}

TEST(ByteStreamOutArrayLE, SeekBoundsAndRewind) {
  ByteStreamOutArrayLE s;
  const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  s.writeBytes(bytes, 10);
  EXPECT_TRUE(s.seekTo(10));
  EXPECT_FALSE(s.seekTo(11));
  EXPECT_FALSE(s.seekTo(-1));
  EXPECT_EQ(s.position(), 10);

  EXPECT_TRUE(s.seekTo(0));
  s.writeBytes(bytes + 7, 3);
  EXPECT_EQ(s.byteCount(), 3u);
  EXPECT_EQ(s.highWaterMark(), 10u);
  EXPECT_EQ(contents(s), (std::vector<uint8_t>{7, 8, 9, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(s.seekToEnd());
  EXPECT_EQ(s.position(), 10);
}

TEST(ByteStreamOutOstreamLE, FailedStreamRefusesEverything) {
  std::ostringstream os;
  os.setstate(std::ios_base::failbit);
  ByteStreamOutOstreamLE s(os);
  EXPECT_EQ(s.position(), -1);
  EXPECT_FALSE(s.canSeek());
  EXPECT_FALSE(s.writeByte(1));
  EXPECT_FALSE(s.seekTo(0));
}

}  // namespace

// Whether a FILE can seek is decided once, when the stream is made. A FILE opened
// for appending used to count as seekable, so patches meant for the header were
// written at the end of the file.
TEST(ByteStreamOutFileLE, SeeksOnlyOnRegularFilesNotOpenedForAppending) {
  const ScratchDir scratch;
  const std::string name = scratch.path("file");
  struct Case {
    const char* what;
    FILE* file;
    bool seekable;
  };
  FILE* pipe = popen("cat > /dev/null", "w");
  const std::vector<Case> cases = {
      {"regular file", fopen(name.c_str(), "wb"), true},
      {"regular file for appending", fopen(name.c_str(), "ab"), false},
      {"device", fopen("/dev/null", "wb"), false},
      {"pipe", pipe, false},
      {"standard output", stdout, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(c.file, nullptr);
    ByteStreamOutFileLE out(c.file);
    EXPECT_EQ(out.canSeek(), c.seekable);
    if (!c.seekable && c.file != stdout) {
      // Counted positions, and seeks that move nothing.
      const uint8_t bytes[5] = {1, 2, 3, 4, 5};
      EXPECT_TRUE(out.writeBytes(bytes, 5));
      EXPECT_EQ(out.position(), 5);
      EXPECT_FALSE(out.seekTo(0));
      EXPECT_FALSE(out.seekToEnd());
      EXPECT_EQ(out.position(), 5);
    }
  }
  pclose(pipe);
  for (size_t i = 0; i < 3; i++) fclose(cases[i].file);
}

// A full device takes bytes into stdio's buffer and refuses them when they are
// handed on: the flush says so.
TEST(ByteStreamOutFileLE, FlushReportsBytesTheDeviceRefused) {
  FILE* full = fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  ByteStreamOutFileLE out(full);
  const uint8_t bytes[3] = {1, 2, 3};
  EXPECT_TRUE(out.writeBytes(bytes, 3));  // still in the buffer
  EXPECT_FALSE(out.flush());
  fclose(full);

  std::ostringstream os;
  ByteStreamOutOstreamLE good(os);
  EXPECT_TRUE(good.flush());
  os.setstate(std::ios_base::badbit);
  EXPECT_FALSE(good.flush());
}
