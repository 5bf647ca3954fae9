// Tests of the waveform data packet writer: the file's exact bytes, the name it
// derives from the LAS file name, raw and compressed packets (decoded back), and
// every failure line. The test binary is linked with --wrap=fwrite and
// --wrap=fclose, so a test can make the next write or close fail on demand.
#include "morrowtide/las/las_waveform13_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "morrowtide/compressor/byte_stream_in.h"
#include "morrowtide/compressor/entropy_decoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "tests/scratch_dir.h"

using morrowtide::ByteStreamInArray;

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// --- failure injection ---
// Number of fwrite calls that still succeed before one fails; -1: none fails.
// One-shot: after the failure every call succeeds again.
static int g_fwrites_before_failure = -1;
static bool g_fail_next_fclose = false;

extern "C" size_t __real_fwrite(const void* ptr, size_t size, size_t n, FILE* f);
extern "C" size_t __real_fwrite_unlocked(const void* ptr, size_t size, size_t n, FILE* f);
extern "C" int __real_fclose(FILE* f);

// True when the injected failure is due now (and disarms it).
static bool fwriteFailsNow() {
  if (g_fwrites_before_failure == 0) {
    g_fwrites_before_failure = -1;
    return true;
  }
  if (g_fwrites_before_failure > 0) g_fwrites_before_failure--;
  return false;
}

extern "C" size_t __wrap_fwrite(const void* ptr, size_t size, size_t n, FILE* f) {
  return fwriteFailsNow() ? 0 : __real_fwrite(ptr, size, n, f);
}

// The file byte stream writes with the unlocked variant.
extern "C" size_t __wrap_fwrite_unlocked(const void* ptr, size_t size, size_t n, FILE* f) {
  return fwriteFailsNow() ? 0 : __real_fwrite_unlocked(ptr, size, n, f);
}

extern "C" int __wrap_fclose(FILE* f) {
  const int result = __real_fclose(f);
  if (!g_fail_next_fclose) return result;
  g_fail_next_fclose = false;
  return EOF;
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& name) {
  Bytes bytes;
  FILE* f = fopen(name.c_str(), "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return bytes;
}

void writeFile(const std::string& name, const std::string& text) {
  FILE* f = fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs(text.c_str(), f);
  fclose(f);
}

bool exists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// The characters of `text`, zero-padded to `size` (no padding when 0).
Bytes text(const std::string& s, size_t size = 0) {
  Bytes b(s.begin(), s.end());
  if (b.size() < size) b.resize(size, 0);
  return b;
}

// The first 86 bytes up to the descriptor count, with `record_length` at byte 20.
Bytes headerBytes(bool compressed, uint64_t record_length, uint16_t count) {
  Bytes b = {0xBB, 0xAA};
  append(b, text("LASF_Spec", 16));
  append(b, {0xFF, 0xFF});
  for (int i = 0; i < 8; i++) b.push_back(static_cast<uint8_t>(record_length >> (8 * i)));
  append(b,
         text(compressed ? "compressed by Vektrion (210720)" : "created by Vektrion (210720)", 32));
  append(b, text("Vektrion waveform 210720"));
  append(b, {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
  return b;
}

// The sample buffer of the demonstration program: 88 bytes, peaks 192, 128
// and 64 at samples 23, 49 and 78.
Bytes demoSamples() {
  Bytes s(88, 0);
  const int centres[3] = {23, 49, 78};
  const int shape[9] = {16, 32, 32, 64, 64, 64, 32, 32, 16};
  for (int r = 0; r < 3; r++) {
    for (int k = 0; k < 9; k++) s[centres[r] - 4 + k] = static_cast<uint8_t>((3 - r) * shape[k]);
  }
  return s;
}

// Owns a 256-slot descriptor table as the header holds it.
class DescriptorTable {
 public:
  DescriptorTable() : slots(256, nullptr), owned(256) {}
  DescriptorTable& set(uint32_t index, uint8_t compression, uint8_t bits, uint32_t samples) {
    owned[index].reset(new LASwavePacketDescriptor());
    owned[index]->setCompressionType(compression);
    owned[index]->setBitsPerSample(bits);
    owned[index]->setNumberOfSamples(samples);
    owned[index]->setTemporalSampleSpacing(1000);
    slots[index] = owned[index].get();
    return *this;
  }
  LASwavePacketDescriptor* const* get() const { return slots.data(); }

 private:
  std::vector<LASwavePacketDescriptor*> slots;
  std::vector<std::unique_ptr<LASwavePacketDescriptor>> owned;
};

// The demonstration program's descriptors: 1 and 2, raw, 8 bits, 88 and 96 samples.
DescriptorTable demoTable() {
  DescriptorTable t;
  t.set(1, 0, 8, 88).set(2, 0, 8, 96);
  return t;
}

// Each test runs in a fresh, empty working directory.
class LASwaveform13writerTest : public testing::Test {
 protected:
  void TearDown() override {
    g_fwrites_before_failure = -1;
    g_fail_next_fclose = false;
  }

  // A point whose wave packet names `index`, with offset and size set to
  // markers that show whether the writer touched them.
  static LASpointRecord* pointWithIndex(LASpointRecord& p, uint8_t index) {
    p.wavepacket.setIndex(index);
    p.wavepacket.setOffset(0x1111);
    p.wavepacket.setSize(0x2222);
    return &p;
  }

  const ScratchDir scratch;
  const WorkingDirectory in_scratch{scratch.dir()};  // left before the folder is removed
};

TEST_F(LASwaveform13writerTest, DemoRunWritesTheExactFileAndPatchesTheLengthAtClose) {
  const DescriptorTable table = demoTable();
  const Bytes samples = demoSamples();
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("out.las", table.get()));

  LASpointRecord p;
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
  EXPECT_EQ(p.wavepacket.getOffset(), 98u);
  EXPECT_EQ(p.wavepacket.getSize(), 88u);
  EXPECT_EQ(p.wavepacket.getIndex(), 1);
  w.close();

  Bytes expected = headerBytes(false, 126, 2);
  append(expected, {0x01, 0x00, 0x00, 0x08, 0x58, 0x00});
  append(expected, {0x02, 0x00, 0x00, 0x08, 0x60, 0x00});
  append(expected, samples);
  EXPECT_EQ(expected.size(), 186u);
  EXPECT_EQ(readFile("out.wdp"), expected);
}

TEST_F(LASwaveform13writerTest, RecordLengthIsZeroUntilCloseAndPacketsFollowEachOther) {
  const DescriptorTable table = demoTable();
  const Bytes samples = demoSamples();
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("out.las", table.get()));
  LASpointRecord p;
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
  EXPECT_EQ(p.wavepacket.getOffset(), 186u);
  EXPECT_EQ(p.wavepacket.getSize(), 88u);
  // Descriptor 2 has 96 samples: the packet takes 96 bytes of the buffer.
  const Bytes longer(96, 7);
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 2), longer.data()));
  EXPECT_EQ(p.wavepacket.getOffset(), 274u);
  EXPECT_EQ(p.wavepacket.getSize(), 96u);

  fflush(nullptr);
  const Bytes before = readFile("out.wdp");
  ASSERT_GE(before.size(), 98u);
  EXPECT_EQ(Bytes(before.begin(), before.begin() + 86), headerBytes(false, 0, 2));
  w.close();
  const Bytes after = readFile("out.wdp");
  ASSERT_EQ(after.size(), 370u);
  EXPECT_EQ(Bytes(after.begin(), after.begin() + 86), headerBytes(false, 310, 2));
  EXPECT_EQ(Bytes(after.end() - 96, after.end()), longer);
}

// A waveform name case: the LAS file name, the descriptor's compression type and
// the waveform file that must appear (and no file under the LAS file's name).
struct WaveformNameCase {
  const char* file_name;
  uint8_t compression;
  const char* expected;
};

void expectWaveformNames(const std::vector<WaveformNameCase>& cases) {
  for (const WaveformNameCase& c : cases) {
    SCOPED_TRACE(c.file_name);
    DescriptorTable table;
    table.set(1, c.compression, 8, 4);
    LASwaveform13writer w;
    ASSERT_TRUE(w.open(c.file_name, table.get()));
    w.close();
    EXPECT_TRUE(exists(c.expected));
    EXPECT_FALSE(exists(c.file_name));
    remove(c.expected);
  }
}

TEST_F(LASwaveform13writerTest, DerivesTheWaveformFileName) {
  expectWaveformNames({
      {"lidar.las", 0, "lidar.wdp"},
      {"LIDAR.LAS", 0, "LIDAR.WDP"},
      {"lidar.qi", 0, "lidarwdp"},
      {"out.qdx", 0, "out.wdp"},
      {"lidar.las", 1, "lidar.wdz"},
      {"Lidar.Las", 1, "Lidar.WDZ"},
      {"abc", 0, "wdp"},
      // Fewer than three characters to replace: the ending is appended.
      {"ab", 0, "ab.wdp"},
      {"x", 1, "x.wdz"},
      {"", 0, ".wdp"},
  });
}

TEST_F(LASwaveform13writerTest, WaveformNameNeverReplacesTheFolder) {
  // Fault: the last three characters were replaced even when they held the last
  // separator, so "sub/.q" gave "subwdp", a file outside "sub".
  for (const char* folder : {"sub", "a.b"}) ASSERT_EQ(mkdir(folder, 0700), 0);
  expectWaveformNames({
      // Fewer than three characters after the last separator: the ending is appended.
      {"sub/.q", 0, "sub/.q.wdp"},
      {"sub/.q", 1, "sub/.q.wdz"},
      {"sub/LI", 0, "sub/LI.wdp"},
      {"a.b\\x", 0, "a.b\\x.wdp"},  // a backslash separates too
      {"C:ab", 0, "C:ab.wdp"},
      // Exactly three: replaced whole, as any other three.
      {"sub/.qi", 0, "sub/wdp"},
      {"sub/abc", 1, "sub/wdz"},
      // A dotted folder with a name of three characters or more.
      {"a.b/y.las", 0, "a.b/y.wdp"},
      {"a.b/lidar.qi", 0, "a.b/lidarwdp"},
      {"a.b/LIDAR.LAS", 1, "a.b/LIDAR.WDZ"},
  });
}

TEST_F(LASwaveform13writerTest, RefusesToOpenTheOutputFileItself) {
  // The derived name can be the output file ("-o x.wdp"): opening it again with
  // "wb" would truncate the LAS file, so the writer must refuse instead.
  struct Case {
    const char* file_name;
    uint8_t compression;
  };
  const Case cases[] = {{"x.wdp", 0}, {"X.WDP", 0}, {"x.wdz", 1}, {"wdp", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file_name);
    writeFile(c.file_name, "points");
    DescriptorTable table;
    table.set(1, c.compression, 8, 4);
    LASwaveform13writer w;
    CaptureStderr();
    EXPECT_FALSE(w.open(c.file_name, table.get()));
    EXPECT_EQ(GetCapturedStderr(),
              std::string("ERROR: cannot open waveform file '") + c.file_name + "'\n");
    EXPECT_EQ(readFile(c.file_name), text("points"));
  }
  // The same file under another name (a hard link) is refused too.
  writeFile("out.las", "points");
  ASSERT_EQ(link("out.las", "out.wdp"), 0);
  const DescriptorTable table = demoTable();
  LASwaveform13writer w;
  CaptureStderr();
  EXPECT_FALSE(w.open("out.las", table.get()));
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot open waveform file 'out.wdp'\n");
  EXPECT_EQ(readFile("out.las"), text("points"));
  // A "-o x.wdz" output with raw descriptors gets x.wdp beside it.
  writeFile("x.wdz", "points");
  LASwaveform13writer other;
  EXPECT_TRUE(other.open("x.wdz", table.get()));
  other.close();
  EXPECT_EQ(readFile("x.wdz"), text("points"));
  EXPECT_EQ(readFile("x.wdp").size(), 98u);
}

TEST_F(LASwaveform13writerTest, OpenArgumentErrorsCreateNoFile) {
  DescriptorTable with_zero = demoTable();
  with_zero.set(0, 0, 8, 10);
  const DescriptorTable table = demoTable();
  struct Case {
    const char* file_name;
    LASwavePacketDescriptor* const* descriptors;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, table.get(), "ERROR: file name pointer is zero\n"},
      {"out.las", nullptr, "ERROR: wave packet descriptor pointer is zero\n"},
      {"out.las", with_zero.get(), "ERROR: wave_packet_descr[0] with index 0 must be zero\n"},
      {"missing/out.las", table.get(), "ERROR: cannot open waveform file 'missing/out.wdp'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LASwaveform13writer w;
    CaptureStderr();
    EXPECT_FALSE(w.open(c.file_name, c.descriptors));
    EXPECT_EQ(GetCapturedStderr(), c.message);
    EXPECT_FALSE(exists("out.wdp"));
    // Nothing is open, so nothing can be written.
    LASpointRecord p;
    CaptureStderr();
    EXPECT_FALSE(w.writeWaveform(pointWithIndex(p, 1), demoSamples().data()));
    EXPECT_EQ(GetCapturedStderr(), "ERROR: waveform file is not open\n");
  }
}

TEST_F(LASwaveform13writerTest, OpenWriteFailuresNameTheFieldAndCloseTheFile) {
  // A failed write after the file was created used to leave the FILE and its
  // stream open with the writer, which the opener then destroys: leaked.
  struct Case {
    int writes_before_failure;
    const char* message;
    size_t bytes_on_disk;  // everything before the failed write reached the file
  };
  const Case cases[] = {
      {0, "ERROR: writing EVLR reserved\n", 0},
      {1, "ERROR: writing EVLR user_id\n", 2},
      {2, "ERROR: writing EVLR record_id\n", 18},
      {3, "ERROR: writing EVLR record_length_after_header\n", 20},
      {4, "ERROR: writing EVLR description\n", 28},
      {5, "ERROR: writing waveform descriptor cross-check\n", 60},
      {6, "ERROR: writing number of waveform descriptors\n", 84},
      {7, "ERROR: writing index of waveform descriptor 7\n", 86},
      {8, "ERROR: writing compression of waveform descriptor 7\n", 88},
      {9, "ERROR: writing nbits of waveform descriptor 7\n", 89},
      {10, "ERROR: writing nsamples of waveform descriptor 7\n", 90},
  };
  DescriptorTable table;
  table.set(7, 0, 8, 88);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LASwaveform13writer w;
    g_fwrites_before_failure = c.writes_before_failure;
    CaptureStderr();
    EXPECT_FALSE(w.open("out.las", table.get()));
    EXPECT_EQ(GetCapturedStderr(), c.message);
    // Closed: the buffered bytes are on disk, and close() has nothing left to do.
    EXPECT_EQ(readFile("out.wdp").size(), c.bytes_on_disk);
    CaptureStderr();
    w.close();
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(readFile("out.wdp").size(), c.bytes_on_disk);
    remove("out.wdp");
  }
}

TEST_F(LASwaveform13writerTest, WriteWaveformErrorsWriteNothing) {
  DescriptorTable table;
  table.set(1, 0, 8, 4).set(2, 0, 12, 4).set(3, 0, 8, 0).set(4, 1, 32, 4);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("out.las", table.get()));
  struct Case {
    uint8_t index;
    const char* message;
  };
  const Case cases[] = {
      {0, ""},  // no packet: false, silently
      // An index without a descriptor used to read a missing entry.
      {5, "ERROR: no wave packet descriptor with index 5\n"},
      {255, "ERROR: no wave packet descriptor with index 255\n"},
      {2, "ERROR: waveform with 12 bits per samples not supported yet\n"},
      {4, "ERROR: waveform with 32 bits per samples not supported yet\n"},
      {3, "ERROR: waveform has no samples\n"},
  };
  const uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.index));
    LASpointRecord p;
    CaptureStderr();
    EXPECT_FALSE(w.writeWaveform(pointWithIndex(p, c.index), samples));
    EXPECT_EQ(GetCapturedStderr(), c.message);
    EXPECT_EQ(p.wavepacket.getOffset(), 0x1111u);
    EXPECT_EQ(p.wavepacket.getSize(), 0x2222u);
  }
  w.close();
  EXPECT_EQ(readFile("out.wdz").size(), 86u + 4 * 6);
}

TEST_F(LASwaveform13writerTest, RawWriteFailureKeepsTheOffsetAndReports) {
  const DescriptorTable table = demoTable();
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("out.las", table.get()));
  LASpointRecord p;
  g_fwrites_before_failure = 0;
  CaptureStderr();
  EXPECT_FALSE(w.writeWaveform(pointWithIndex(p, 2), Bytes(96, 1).data()));
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: cannot write 96 bytes for waveform with 96 samples of 8 bits\n");
  EXPECT_EQ(p.wavepacket.getOffset(), 98u);
  EXPECT_EQ(p.wavepacket.getSize(), 0x2222u);
}

TEST_F(LASwaveform13writerTest, CloseReportsAFailedPatchAndAFailedClose) {
  const DescriptorTable table = demoTable();
  {
    LASwaveform13writer w;
    ASSERT_TRUE(w.open("a.las", table.get()));
    g_fwrites_before_failure = 0;
    CaptureStderr();
    EXPECT_FALSE(w.close());  // close returned nothing, so a lost patch went unseen
    EXPECT_EQ(GetCapturedStderr(), "ERROR: updating EVLR record_length_after_header\n");
    EXPECT_TRUE(w.failed());
    EXPECT_EQ(readFile("a.wdp"), [] {
      Bytes b = headerBytes(false, 0, 2);
      append(b, {0x01, 0x00, 0x00, 0x08, 0x58, 0x00, 0x02, 0x00, 0x00, 0x08, 0x60, 0x00});
      return b;
    }());
  }
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("b.las", table.get()));
  g_fail_next_fclose = true;
  CaptureStderr();
  EXPECT_FALSE(w.close());
  EXPECT_EQ(GetCapturedStderr(), "ERROR: cannot close waveform file\n");
  CaptureStderr();
  EXPECT_FALSE(w.close());  // nothing more to close: the failure stays, without a line
  EXPECT_EQ(GetCapturedStderr(), "");
}

// Packets lost in stdio's buffer showed only when the file was flushed, and
// close() returned nothing: a waveform file on a full device was reported as written.
TEST_F(LASwaveform13writerTest, CloseReportsBytesTheDeviceRefused) {
  const DescriptorTable table = demoTable();
  ASSERT_EQ(symlink("/dev/full", "full.wdp"), 0);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("full.las", table.get()));
  LASpointRecord p;
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), demoSamples().data()));  // buffered
  CaptureStderr();
  EXPECT_FALSE(w.close());
  EXPECT_EQ(GetCapturedStderr(), "ERROR: flushing waveform file\n");
}

// The compressed packet path ignored its writes and the encoder's end, so a
// packet lost on the way still got an offset and a size as if written.
TEST_F(LASwaveform13writerTest, CompressedWriteFailureIsReportedOnce) {
  DescriptorTable table;
  table.set(1, 1, 8, 4);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("out.las", table.get()));
  const uint8_t samples[4] = {10, 12, 9, 30};
  LASpointRecord p;
  for (int failing_write : {0, 1}) {  // the first sample, then the coded ones
    SCOPED_TRACE(failing_write);
    LASwaveform13writer writer;
    ASSERT_TRUE(writer.open(failing_write == 0 ? "a.las" : "b.las", table.get()));
    g_fwrites_before_failure = failing_write;
    CaptureStderr();
    EXPECT_FALSE(writer.writeWaveform(pointWithIndex(p, 1), samples));
    EXPECT_FALSE(writer.writeWaveform(pointWithIndex(p, 1), samples));
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(GetCapturedStderr(),
              "ERROR: cannot write compressed waveform with 4 samples of 8 bits\n");
    EXPECT_EQ(p.wavepacket.getSize(), 0x2222u);
  }
  EXPECT_TRUE(w.close());
}

TEST_F(LASwaveform13writerTest, CallsAfterCloseAreHarmlessAndDestructionCloses) {
  // After close the stream is gone: writing or closing again must not touch it.
  const DescriptorTable table = demoTable();
  const Bytes samples = demoSamples();
  LASpointRecord p;
  {
    LASwaveform13writer w;
    ASSERT_TRUE(w.open("a.las", table.get()));
    ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
    w.close();
    CaptureStderr();
    w.close();
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    EXPECT_FALSE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
    EXPECT_EQ(GetCapturedStderr(), "ERROR: waveform file is not open\n");
    EXPECT_EQ(p.wavepacket.getOffset(), 0x1111u);
  }
  EXPECT_EQ(readFile("a.wdp").size(), 186u);
  {
    // Destroyed while open: the file is finished as close() would.
    LASwaveform13writer w;
    ASSERT_TRUE(w.open("b.las", table.get()));
    ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
  }
  EXPECT_EQ(readFile("b.wdp"), readFile("a.wdp"));
  {
    // Opened again while open: the first file is finished, the second begun.
    LASwaveform13writer w;
    ASSERT_TRUE(w.open("c.las", table.get()));
    ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples.data()));
    ASSERT_TRUE(w.open("d.las", table.get()));
    ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 2), Bytes(96, 5).data()));
    EXPECT_EQ(p.wavepacket.getOffset(), 98u);
  }
  EXPECT_EQ(readFile("c.wdp"), readFile("a.wdp"));
  EXPECT_EQ(readFile("d.wdp").size(), 98u + 96);
}

// Decodes a compressed packet back into its samples.
std::vector<uint32_t> decodePacket(const uint8_t* packet, uint32_t size, uint32_t bits,
                                   uint32_t n) {
  const uint32_t first_size = bits / 8;
  uint32_t first = packet[0];
  if (bits == 16) first |= static_cast<uint32_t>(packet[1]) << 8;
  std::vector<uint32_t> out = {first};
  ByteStreamInArray in(packet + first_size, size - first_size);
  EntropyDecoder dec;
  dec.start(&in, true);
  IntegerResidualCoder coder(&dec, bits, 1, 8, 0);
  coder.startDecoding();
  for (uint32_t i = 1; i < n; i++) {
    out.push_back(static_cast<uint32_t>(coder.decode(static_cast<int32_t>(out.back()), 0)));
  }
  dec.finish();
  // The packet holds the whole coded stream.
  EXPECT_LE(in.position(), in.size());
  return out;
}

TEST_F(LASwaveform13writerTest, CompressedPacketsDecodeBackAndMixWithRawOnes) {
  DescriptorTable table;
  table.set(3, 0, 8, 5).set(9, 1, 8, 300).set(200, 1, 16, 250);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("mixed.las", table.get()));

  std::mt19937 rng(20190720);
  Bytes s8(300);
  for (size_t i = 0; i < s8.size(); i++) {
    s8[i] = static_cast<uint8_t>(i < 150 ? i * 2 : rng());  // a ramp, then noise
  }
  std::vector<uint32_t> s16_values(250);
  Bytes s16(500);
  for (size_t i = 0; i < s16_values.size(); i++) {
    s16_values[i] = i % 50 == 0 ? 0xFFFFu - static_cast<uint32_t>(i) : rng() & 0xFFFFu;
    s16[2 * i] = static_cast<uint8_t>(s16_values[i]);
    s16[2 * i + 1] = static_cast<uint8_t>(s16_values[i] >> 8);
  }
  const Bytes raw = {10, 20, 30, 40, 50};

  LASpointRecord p8, p16, praw, p8again;
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p8, 9), s8.data()));
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p16, 200), s16.data()));
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(praw, 3), raw.data()));
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p8again, 9), s8.data()));
  w.close();

  const Bytes file = readFile("mixed.wdz");
  Bytes expected = headerBytes(true, file.size() - 60, 3);
  append(expected, {0x03, 0x00, 0x00, 0x08, 0x05, 0x00});
  append(expected, {0x09, 0x00, 0x01, 0x08, 0x2C, 0x01});
  append(expected, {0xC8, 0x00, 0x01, 0x10, 0xFA, 0x00});
  ASSERT_GT(file.size(), expected.size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + expected.size()), expected);

  // Packets lie back to back from the end of the table.
  EXPECT_EQ(p8.wavepacket.getOffset(), 104u);
  EXPECT_EQ(p16.wavepacket.getOffset(), p8.wavepacket.getOffset() + p8.wavepacket.getSize());
  EXPECT_EQ(praw.wavepacket.getOffset(), p16.wavepacket.getOffset() + p16.wavepacket.getSize());
  EXPECT_EQ(p8again.wavepacket.getOffset(), praw.wavepacket.getOffset() + 5);
  EXPECT_EQ(file.size(), p8again.wavepacket.getOffset() + p8again.wavepacket.getSize());
  EXPECT_LT(p8.wavepacket.getSize(), 300u);  // the ramp half codes small

  EXPECT_EQ(Bytes(file.begin() + 104, file.begin() + 105), Bytes{s8[0]});
  EXPECT_EQ(decodePacket(file.data() + p8.wavepacket.getOffset(), p8.wavepacket.getSize(), 8, 300),
            std::vector<uint32_t>(s8.begin(), s8.end()));
  EXPECT_EQ(
      decodePacket(file.data() + p16.wavepacket.getOffset(), p16.wavepacket.getSize(), 16, 250),
      s16_values);
  EXPECT_EQ(Bytes(file.begin() + static_cast<long>(praw.wavepacket.getOffset()),
                  file.begin() + static_cast<long>(praw.wavepacket.getOffset()) + 5),
            raw);
  // Every packet starts afresh: the same samples give the same bytes.
  EXPECT_EQ(p8again.wavepacket.getSize(), p8.wavepacket.getSize());
  EXPECT_TRUE(std::equal(file.begin() + static_cast<long>(p8.wavepacket.getOffset()),
                         file.begin() + static_cast<long>(p16.wavepacket.getOffset()),
                         file.begin() + static_cast<long>(p8again.wavepacket.getOffset())));
}

TEST_F(LASwaveform13writerTest, OneSampleCompressedPacketIsTheSampleAndAnEmptyStream) {
  DescriptorTable table;
  table.set(1, 1, 8, 1).set(2, 1, 16, 1);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("one.las", table.get()));
  LASpointRecord p;
  const uint8_t samples[2] = {0xAB, 0xCD};
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 1), samples));
  EXPECT_EQ(p.wavepacket.getSize(), 5u);
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(p, 2), samples));
  EXPECT_EQ(p.wavepacket.getOffset(), 98u + 5);
  EXPECT_EQ(p.wavepacket.getSize(), 6u);
  w.close();
  const Bytes file = readFile("one.wdz");
  // A fresh interval finishes as one byte 0x01 and three zero bytes.
  EXPECT_EQ(Bytes(file.begin() + 98, file.end()),
            (Bytes{0xAB, 0x01, 0x00, 0x00, 0x00, 0xAB, 0xCD, 0x01, 0x00, 0x00, 0x00}));
}

// A descriptor's sample count was cut to its low 16 bits: 70000 samples wrote
// 4464 and 65537 wrote 1, while the LAS file's own descriptor told the full count.
TEST_F(LASwaveform13writerTest, SampleCountsAboveTheTableAreRefusedAtOpen) {
  for (const uint8_t compression : {0, 1}) {
    for (const uint32_t samples : {65536u, 65537u, 70000u}) {
      SCOPED_TRACE(testing::Message() << int{compression} << " " << samples);
      DescriptorTable table;
      table.set(1, 0, 8, 88).set(3, compression, 16, samples).set(4, 0, 8, 80000);
      LASwaveform13writer w;
      CaptureStderr();
      EXPECT_FALSE(w.open("out.las", table.get()));
      EXPECT_EQ(GetCapturedStderr(),
                "ERROR: wave packet descriptor 3 has " + std::to_string(samples) +
                    " samples, more than the 65535 a waveform file can hold\n");
      EXPECT_FALSE(exists("out.wdp"));
      EXPECT_FALSE(exists("out.wdz"));
      LASpointRecord p;
      CaptureStderr();
      EXPECT_FALSE(w.writeWaveform(pointWithIndex(p, 1), demoSamples().data()));
      EXPECT_EQ(GetCapturedStderr(), "ERROR: waveform file is not open\n");
    }
  }
}

TEST_F(LASwaveform13writerTest, TheMostSamplesTheTableHoldsWriteWholePackets) {
  constexpr uint32_t kSamples = 65535;
  DescriptorTable table;
  table.set(1, 0, 8, kSamples).set(2, 1, 16, kSamples);
  LASwaveform13writer w;
  ASSERT_TRUE(w.open("most.las", table.get()));
  std::mt19937 rng(65535);
  Bytes s8(kSamples);
  for (uint8_t& s : s8) s = static_cast<uint8_t>(rng());
  std::vector<uint32_t> s16_values(kSamples);
  Bytes s16(2 * kSamples);
  for (size_t i = 0; i < kSamples; i++) {
    s16_values[i] = rng() & 0xFFFFu;
    s16[2 * i] = static_cast<uint8_t>(s16_values[i]);
    s16[2 * i + 1] = static_cast<uint8_t>(s16_values[i] >> 8);
  }
  LASpointRecord raw, coded;
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(raw, 1), s8.data()));
  ASSERT_TRUE(w.writeWaveform(pointWithIndex(coded, 2), s16.data()));
  ASSERT_TRUE(w.close());

  const Bytes file = readFile("most.wdz");
  Bytes expected = headerBytes(true, file.size() - 60, 2);
  append(expected, {0x01, 0x00, 0x00, 0x08, 0xFF, 0xFF});
  append(expected, {0x02, 0x00, 0x01, 0x10, 0xFF, 0xFF});
  append(expected, s8);
  ASSERT_GT(file.size(), expected.size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(raw.wavepacket.getOffset(), 98u);
  EXPECT_EQ(raw.wavepacket.getSize(), kSamples);
  EXPECT_EQ(coded.wavepacket.getOffset(), 98u + kSamples);
  EXPECT_EQ(file.size(), coded.wavepacket.getOffset() + coded.wavepacket.getSize());
  EXPECT_EQ(decodePacket(file.data() + coded.wavepacket.getOffset(), coded.wavepacket.getSize(), 16,
                         kSamples),
            s16_values);
}

}  // namespace
