// Tests of the morrowtide program from the outside: each test runs the built
// executable in a scratch folder of its own with given arguments and standard
// input, then checks its exit status, its exact standard error and standard
// output, and the bytes of the files it wrote there.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/las/opener_usage_text.h"
#include "tests/le_bytes.h"
#include "tests/scratch_dir.h"

#ifndef MORROWTIDE_BINARY
#error "MORROWTIDE_BINARY must name the morrowtide executable"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// Little-endian byte builder for expected file contents.
using Builder = LE;

// One point as the program stores it.
struct Point {
  int32_t X, Y, Z;
  uint16_t intensity;
  uint8_t returns;  // return number | number of returns << 3
  double gps_time;
  uint64_t packet_offset;  // waveform mode only
  float location;          // waveform mode only
};

// The three returns of pulse 0 with the default settings.
const std::vector<Point> kDefaultPulse = {
    {-26462534, 170092834, 27650, 0, 0x19, 23365829.0, 98, 23355.3f},
    {-26462404, 170092819, 27284, 0, 0x1A, 23365829.0, 98, 49297.5f},
    {-26462259, 170092802, 26872, 0, 0x1B, 23365829.0, 98, 78432.8f},
};

// The public header block of the program's header: LAS 1.3 with point format 4
// (waveform mode) or LAS 1.2 with point format 1. With `patched` the counts and
// the bounding box are those of `points`, else all 0 (an output that cannot
// seek). `format_byte`, `vlrs` and `offset` override the written fields.
Builder headerBlock(bool waveform, const std::vector<Point>& points, bool patched, uint32_t vlrs,
                    uint32_t offset, uint8_t format_byte) {
  Builder b;
  b.text("LASF", 4).u16(0).u16(waveform ? 5 : 1).zeros(16);
  b.u8(1).u8(waveform ? 3 : 2);
  b.text("simple waveform example", 32).text("Dorvane of Vektrion", 32);
  b.u16(20).u16(2019).u16(waveform ? 235 : 227).u32(offset).u32(vlrs);
  b.u8(format_byte).u16(waveform ? 57 : 28);
  uint32_t by_return[5] = {};
  for (const Point& p : points) by_return[(p.returns & 7) - 1]++;
  b.u32(patched ? static_cast<uint32_t>(points.size()) : 0);
  for (uint32_t count : by_return) b.u32(patched ? count : 0);
  b.f64(0.01).f64(0.01).f64(0.01).f64(500000.0).f64(4100000.0).f64(0.0);
  if (patched) {
    auto extremes = [&](int32_t Point::*field) {
      int32_t lo = points[0].*field, hi = lo;
      for (const Point& p : points) {
        lo = std::min(lo, p.*field);
        hi = std::max(hi, p.*field);
      }
      return std::pair<int32_t, int32_t>(lo, hi);
    };
    const auto x = extremes(&Point::X), y = extremes(&Point::Y), z = extremes(&Point::Z);
    b.f64(0.01 * x.second + 500000.0).f64(0.01 * x.first + 500000.0);
    b.f64(0.01 * y.second + 4100000.0).f64(0.01 * y.first + 4100000.0);
    b.f64(0.01 * z.second + 0.0).f64(0.01 * z.first + 0.0);
  } else {
    b.zeros(48);
  }
  if (waveform) b.u64(0);  // start of waveform data packet record
  return b;
}

// The two wave packet descriptor records of waveform mode.
Bytes descriptorRecords() {
  Builder b;
  b.u16(0).text("LASF_Spec", 16).u16(100).u16(26).text("Wave Packet Descr. 1", 32);
  b.u8(8).u8(0).u32(88).u32(1000).f64(0.0086453).f64(-0.1326341);
  b.u16(0).text("LASF_Spec", 16).u16(101).u16(26).text("Wave Packet Descr. 2 (unused)", 32);
  b.u8(8).u8(0).u32(96).u32(1000).f64(0.0086453).f64(-0.1326341);
  return b.b;
}

// One point record of format 4 (waveform) or format 1.
Bytes pointRecord(bool waveform, const Point& p) {
  Builder b;
  b.i32(p.X).i32(p.Y).i32(p.Z).u16(p.intensity).u8(p.returns).u8(0).u8(0).u8(0).u16(0);
  b.f64(p.gps_time);
  if (waveform) {
    b.u8(1).u64(p.packet_offset).u32(88).f32(p.location);
    b.f32(-4.9922e-05f).f32(5.89773e-06f).f32(0.000141175f);
  }
  return b.b;
}

// A whole uncompressed LAS file as the program writes it.
Bytes lasFile(bool waveform, const std::vector<Point>& points, bool patched = true) {
  Builder b = waveform ? headerBlock(true, points, patched, 2, 395, 4)
                       : headerBlock(false, points, patched, 0, 227, 1);
  if (waveform) b.raw(descriptorRecords());
  for (const Point& p : points) b.raw(pointRecord(waveform, p));
  return b.b;
}

// The 88 samples of the program's waveform: nine bytes around each return's
// centre sample, scaled by the return's strength.
Bytes waveformSamples(int returns) {
  Bytes samples(88, 0);
  const Bytes peaks[3] = {{48, 96, 96, 192, 192, 192, 96, 96, 48},
                          {32, 64, 64, 128, 128, 128, 64, 64, 32},
                          {16, 32, 32, 64, 64, 64, 32, 32, 16}};
  const size_t first[3] = {19, 45, 74};  // centres 23, 49 and 78
  for (int r = 0; r < returns; r++) {
    const Bytes& peak = peaks[3 - returns + r];
    std::copy(peak.begin(), peak.end(), samples.begin() + static_cast<long>(first[r]));
  }
  return samples;
}

// The waveform file: record header, descriptor table, one raw packet per pulse.
Bytes waveformFile(int pulses, int returns) {
  Builder b;
  b.u8(0xBB).u8(0xAA).text("LASF_Spec", 16).u16(65535).u64(38 + 88u * pulses);
  b.text("created by Vektrion (210720)", 32);
  b.raw({'V', 'e', 'k', 't', 'r', 'i', 'o', 'n', ' ', 'w', 'a', 'v',
         'e', 'f', 'o', 'r', 'm', ' ', '2', '1', '0', '7', '2', '0'});
  b.u16(2).raw({0x01, 0x00, 0x00, 0x08, 0x58, 0x00}).raw({0x02, 0x00, 0x00, 0x08, 0x60, 0x00});
  for (int p = 0; p < pulses; p++) b.raw(waveformSamples(returns));
  return b.b;
}

const std::string kProgramUsage =
    "usage:\n"
    "morrowtide out.las\n"
    "morrowtide -o out.las -verbose\n"
    "morrowtide -o out.las -verbose -waveform\n"
    "morrowtide > out.las\n"
    "morrowtide -h\n";

struct Outcome {
  int status;  // exit status, or -1 when the process did not exit normally
  int signal;  // the signal that ended the process, or 0
  std::string err;
  Bytes out;
};

// Reads everything from the start of `file`.
Bytes readAll(FILE* file) {
  Bytes bytes;
  std::rewind(file);
  int c;
  while ((c = std::getc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  return bytes;
}

class Morrowtide : public testing::Test {
 protected:
  // Where the program's standard output goes.
  enum class Stdout {
    kFile,                 // a temporary file, returned in Outcome::out
    kFullDevice,           // /dev/full: every byte is refused
    kClosedPipe,           // a pipe nobody reads, with SIGPIPE at its default
    kClosedPipeNoSigpipe,  // the same with SIGPIPE ignored
  };

  // Runs the program in the test directory with `args` (argv[0] "morrowtide")
  // and `input` on standard input (empty: end of input at once).
  Outcome run(const std::vector<std::string>& args, const std::string& input = "",
              Stdout where = Stdout::kFile) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    std::vector<std::string> storage{"morrowtide"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(scratch.dir().c_str()) != 0) _exit(126);
      dup2(fileno(in), 0);
      dup2(fileno(out), 1);
      dup2(fileno(err), 2);
      if (where == Stdout::kFullDevice) {
        const int full = open("/dev/full", O_WRONLY);
        if (full < 0 || dup2(full, 1) < 0) _exit(125);
      } else if (where != Stdout::kFile) {
        int ends[2];
        if (pipe(ends) != 0 || dup2(ends[1], 1) < 0) _exit(125);
        close(ends[0]);                                                     // nobody reads
        signal(SIGPIPE, where == Stdout::kClosedPipe ? SIG_DFL : SIG_IGN);  // kept across exec
      }
      execv(MORROWTIDE_BINARY, argv.data());
      _exit(127);
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    Outcome result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
    const Bytes err_bytes = readAll(err);
    result.err.assign(err_bytes.begin(), err_bytes.end());
    result.out = readAll(out);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return result;
  }

  // Names of the files in the test directory (or in its `folder`), sorted.
  std::vector<std::string> files(const std::string& folder = "") const {
    std::vector<std::string> names;
    DIR* d = opendir(folder.empty() ? scratch.dir().c_str() : scratch.path(folder).c_str());
    if (d == nullptr) return names;
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  Bytes file(const std::string& name) const {
    Bytes bytes;
    FILE* f = std::fopen(scratch.path(name).c_str(), "rb");
    if (f == nullptr) return bytes;
    bytes = readAll(f);
    std::fclose(f);
    return bytes;
  }

  ScratchDir scratch;
};

using Names = std::vector<std::string>;

TEST_F(Morrowtide, DefaultRunWritesWaveformLasAndWaveformFile) {
  const Outcome r = run({"-o", "out.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(files(), (Names{"out.las", "out.wdp"}));
  const Bytes las = file("out.las");
  EXPECT_EQ(las.size(), 566u);
  EXPECT_EQ(las, lasFile(true, kDefaultPulse));
  const Bytes wdp = file("out.wdp");
  EXPECT_EQ(wdp.size(), 186u);
  EXPECT_EQ(wdp, waveformFile(1, 3));
}

TEST_F(Morrowtide, PulsesShareOnePacketPerPulse) {
  const Outcome r = run({"-num_points", "2", "-num_returns", "1", "-o", "out.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<Point> points = {
      {-26462534, 170092834, 27650, 0, 0x09, 23365829.0, 98, 23355.3f},
      {-26462534, 170092834, 27650, 1, 0x09, 1 * 0.0006 + 23365829.0, 186, 23355.3f},
  };
  EXPECT_EQ(file("out.las"), lasFile(true, points));
  EXPECT_EQ(file("out.wdp"), waveformFile(2, 1));
}

TEST_F(Morrowtide, WithoutWaveformsWritesLas12Format1) {
  const Outcome r = run({"-no_waveform", "-o", "n.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(files(), (Names{"n.las"}));
  const Point origin = {0, 0, 0, 0, 0x09, 23365829.0, 0, 0.0f};
  const Bytes las = file("n.las");
  EXPECT_EQ(las.size(), 311u);
  EXPECT_EQ(las, lasFile(false, {origin, origin, origin}));
}

TEST_F(Morrowtide, StandardOutputCannotBePatched) {
  const Outcome r = run({"-no_waveform", "-stdout"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "WARNING: stream not seekable. cannot update header.\n"
            "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n");
  const Point origin = {0, 0, 0, 0, 0x09, 23365829.0, 0, 0.0f};
  EXPECT_EQ(r.out.size(), 311u);
  EXPECT_EQ(r.out, lasFile(false, {origin, origin, origin}, false));
  EXPECT_EQ(files(), Names{});
}

TEST_F(Morrowtide, LostOutputEndsWithStatusOneAndSaysWhatFailed) {
  // Output lost to a full device or to a pipe nobody reads ended with status 0,
  // mostly without a word: only failures inside the header block were reported.
  for (const char* name : {"full.las", "full.qdx", "fw.wdp"}) {
    ASSERT_EQ(symlink("/dev/full", scratch.path(name).c_str()), 0);
  }
  const std::string unpatched = "WARNING: stream not seekable. cannot update header.\n";
  struct Case {
    std::vector<std::string> args;
    Stdout where;
    std::string err;
  };
  const std::vector<Case> cases = {
      // Points: the file's 256 KiB buffer is refused while the 16th block of 585
      // records goes out, which point 9360 completes.
      {{"-o", "full.las", "-no_waveform", "-num_points", "100000"},
       Stdout::kFile,
       "ERROR: writing point 9360\n" + unpatched +
           "WARNING: stream not seekable. cannot update header from 0 to 9360 points.\n"},
      // The compressed points fit the buffer: its flush at close is refused.
      {{"-o", "full.qdx", "-no_waveform", "-num_points", "100000"},
       Stdout::kFile,
       unpatched + "WARNING: stream not seekable. cannot update header from 0 to 300000 points.\n" +
           "ERROR: flushing output 'full.qdx'\n"},
      {{"-o", "fw.las"}, Stdout::kFile, "ERROR: flushing waveform file\n"},
      {{"-no_waveform", "-stdout"},
       Stdout::kFullDevice,
       unpatched + "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n" +
           "ERROR: flushing output 'stdout'\n"},
      {{"-no_waveform", "-stdout"},
       Stdout::kClosedPipeNoSigpipe,
       unpatched + "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n" +
           "ERROR: flushing output 'stdout'\n"},
      // A pipe's 4 KiB buffer is refused while the first block of 585 records
      // goes out.
      {{"-no_waveform", "-stdout", "-num_points", "100000"},
       Stdout::kClosedPipeNoSigpipe,
       "ERROR: writing point 585\n" + unpatched +
           "WARNING: stream not seekable. cannot update header from 0 to 585 points.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome r = run(c.args, "", c.where);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  // The waveform file failed, the LAS file beside it is whole.
  EXPECT_EQ(file("fw.las"), lasFile(true, kDefaultPulse));
}

TEST_F(Morrowtide, ClosedPipeEndsTheRunBySignalLikeOtherTools) {
  const Outcome r =
      run({"-no_waveform", "-stdout", "-num_points", "100000"}, "", Stdout::kClosedPipe);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.signal, SIGPIPE);
}

TEST_F(Morrowtide, CompressedOutputStartsWithARawPoint) {
  // Compressed format 4 uses the chunked compressor with or without "-compatible".
  const Outcome native = run({"-o", "a.qdx"});
  EXPECT_EQ(native.status, 0);
  EXPECT_EQ(native.err, "");
  EXPECT_EQ(files(), (Names{"a.qdx", "a.wdp"}));
  EXPECT_EQ(file("a.wdp"), waveformFile(1, 3));

  Builder prefix = headerBlock(true, kDefaultPulse, true, 3, 501, 132);
  prefix.raw(descriptorRecords());
  prefix.u16(0xAABB).text("quodax encoded", 16).u16(22204).u16(52);
  prefix.text("by quodax of Vektrion (210720)", 32);
  prefix.u16(2).u16(0).u8(3).u8(4).u16(3).u32(0).u32(50000).u64(~0ull).u64(~0ull).u16(3);
  prefix.u16(6).u16(20).u16(2).u16(7).u16(8).u16(2).u16(9).u16(29).u16(1);
  ASSERT_EQ(prefix.b.size(), 501u);
  const Bytes qdx = file("a.qdx");
  ASSERT_GT(qdx.size(), 501u + 8u + 57u);
  EXPECT_EQ(Bytes(qdx.begin(), qdx.begin() + 501), prefix.b);
  EXPECT_EQ(Bytes(qdx.begin() + 509, qdx.begin() + 566), pointRecord(true, kDefaultPulse[0]));

  std::remove(scratch.path("a.qdx").c_str());
  const Outcome compatible = run({"-compatible", "-o", "a.qdx"});
  EXPECT_EQ(compatible.status, 0);
  EXPECT_EQ(file("a.qdx"), qdx);
}

TEST_F(Morrowtide, NullOutputStillWritesTheWaveformFile) {
  const Outcome r = run({"-nil", "-o", "out.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(files(), (Names{"out.wdp"}));
  EXPECT_EQ(file("out.wdp"), waveformFile(1, 3));
}

TEST_F(Morrowtide, DeletesItsWaveformWriter) {
  // The waveform writer was never deleted at the end of a run, which a leak check
  // (the sanitizer build) reports on standard error.
  const Outcome r = run({"-num_points", "3", "-o", "out.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file("out.wdp"), waveformFile(3, 3));
}

TEST_F(Morrowtide, ArgumentErrors) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-num_points", "0", "-o", "out.las"},
       "ERROR: '-num_points' needs 1 argument: number but '0' is not a valid number\n\n"},
      {{"-num_returns", "-3", "-o", "out.las"},
       "ERROR: '-num_returns' needs 1 argument: number but '-3' is not a valid number\n\n"},
      {{"-num_points", "x", "-o", "out.las"},
       "ERROR: '-num_points' needs 1 argument: number but 'x' is not a valid number\n"},
      {{"-o", "out.las", "-num_points"}, "ERROR: '-num_points' needs 1 argument: number\n"},
      {{"-bogus", "-o", "out.las"}, "ERROR: cannot understand argument '-bogus'\n" + kProgramUsage},
      {{"-v"}, "ERROR: no output specified\n" + kProgramUsage},
      {{"-help", "-o", "out.las"}, kProgramUsage},
      {{"-h"}, kOpenerUsage + kProgramUsage},
      {{"-o", "out.las", "-h"}, kOpenerUsage + kProgramUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(files(), Names{});
  }
}

TEST_F(Morrowtide, NumbersBeyond32BitsAreRejected) {
  // "%d" conversion of a value outside 32 bits is undefined and ran with whatever
  // number it produced.
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-num_points", "4294967297", "-o", "out.las"},
       "ERROR: '-num_points' needs 1 argument: number but '4294967297' is not a valid number\n"},
      {{"-num_points", "2147483648", "-o", "out.las"},
       "ERROR: '-num_points' needs 1 argument: number but '2147483648' is not a valid number\n"},
      {{"-num_returns", "-2147483649", "-o", "out.las"},
       "ERROR: '-num_returns' needs 1 argument: number but '-2147483649' is not a valid number\n"},
      {{"-num_points", "99999999999999999999", "-o", "out.las"},
       "ERROR: '-num_points' needs 1 argument: number but '99999999999999999999' is not a valid "
       "number\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(files(), Names{});
  }
  // Numbers are read like "%d": leading blanks skipped, trailing characters ignored.
  const Outcome r = run({"-num_points", " 2x", "-no_waveform", "-o", "n.las"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("n.las").size(), 227u + 6u * 28u);
}

TEST_F(Morrowtide, WaveformsAllowAtMostThreeReturns) {
  // A pulse has three return locations, so a fourth return read past the table.
  const Outcome r = run({"-num_returns", "4", "-o", "out.las"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: '-num_returns' is 4 but with waveforms at most 3 are possible\n");
  EXPECT_EQ(files(), Names{});

  const Outcome without = run({"-num_returns", "4", "-no_waveform", "-o", "n.las"});
  EXPECT_EQ(without.status, 0);
  EXPECT_EQ(without.err, "");
  EXPECT_EQ(file("n.las").size(), 227u + 4u * 28u);
}

TEST_F(Morrowtide, FailedOptionOfTheOpenerStopsTheRun) {
  // When the opener refused an option, the option was taken as the output file
  // name and the run went on.
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-o"}, "ERROR: '-o' needs 1 argument: file_name\n"},
      {{"-no_waveform", "-o"}, "ERROR: '-o' needs 1 argument: file_name\n"},
      {{"-odir", "missing", "-o", "out.las"}, "ERROR: 'missing' is not a valid directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(files(), Names{});
  }
}

TEST_F(Morrowtide, FailedOpenEndsWithStatusOne) {
  // After a writer failed to open, a run started with arguments ended with status 0.
  const Outcome chunked = run({"-chunk_size", "0", "-o", "z.qdx"});
  EXPECT_EQ(chunked.status, 1);
  EXPECT_EQ(chunked.err,
            "ERROR: adaptive chunking is depricated for point type 4.\n"
            "       only available for new LAS 1.4 point types 6 or higher.\n"
            "ERROR: cannot open laswriterlas with file name 'z.qdx'\n"
            "ERROR: could not open laswriter\n");

  // Waveforms need a file name to put the waveform file beside.
  for (const char* target : {"-stdout", "-nil"}) {
    SCOPED_TRACE(target);
    const Outcome r = run({target});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: could not open laswaveform13writer\n");
  }
  // The header and records had gone to standard output before.
  const Outcome piped = run({"-stdout"});
  Builder header = headerBlock(true, kDefaultPulse, false, 2, 395, 4);
  header.raw(descriptorRecords());
  EXPECT_EQ(piped.out, header.b);
}

TEST_F(Morrowtide, LastArgumentBecomesTheNameWhenNoOutputIsChosen) {
  const Outcome named = run({"-no_waveform"});
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(named.err, "");
  EXPECT_EQ(files(), (Names{"-no_waveform.las", "-no_waveform.wdp"}));
  EXPECT_EQ(file("-no_waveform.las"), lasFile(true, kDefaultPulse));
}

TEST_F(Morrowtide, AsksForTheNameWithoutArguments) {
  const std::string prompt = "morrowtide is better run in the command line\nenter output file: ";
  const Outcome typed = run({}, "out.las\n");
  EXPECT_EQ(typed.status, 0);
  EXPECT_EQ(typed.err, prompt);
  EXPECT_EQ(file("out.las"), lasFile(true, kDefaultPulse));
  EXPECT_EQ(file("out.wdp"), waveformFile(1, 3));
}

TEST_F(Morrowtide, PromptTakesATypedNameWhole) {
  // A typed name was cut to its first 255 characters: the run wrote a file of
  // another name and exited with status 0.
  const std::string folder = "a.b/" + std::string(200, 'd');
  ASSERT_EQ(mkdir(scratch.path("a.b").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(scratch.path(folder).c_str(), 0700), 0);
  const std::string own(150, 'n');
  const std::string name = folder + "/" + own;  // 355 characters
  // Then it is named as a "-o" name: without extension it gets ".las".
  const Outcome r = run({}, name + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "morrowtide is better run in the command line\nenter output file: ");
  EXPECT_EQ(files(folder), (Names{own + ".las", own + ".wdp"}));
  EXPECT_EQ(file(name + ".las"), lasFile(true, kDefaultPulse));
  EXPECT_EQ(file(name + ".wdp"), waveformFile(1, 3));
}

TEST_F(Morrowtide, DottedFolderKeepsTheOutputAndItsWaveformFile) {
  // A '.' in a folder was taken for the extension's: "-o a.b/y" wrote ASCII text
  // named a.b/y and its waveforms to ./a.wdp.
  struct Case {
    std::vector<std::string> args;
    std::string folder;
    Names files;
    std::string output;
  };
  const Case cases[] = {
      {{"-o", "a.b/y"}, "a.b", {"y.las", "y.wdp"}, "a.b/y.las"},
      {{"-o", "sub/.q"}, "sub", {".q", ".q.wdp"}, ""},
      {{"-o", "sub.d/"}, "sub.d", {".las", ".wdp"}, "sub.d/.las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ASSERT_EQ(mkdir(scratch.path(c.folder).c_str(), 0700), 0);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(files(), Names{c.folder});
    EXPECT_EQ(files(c.folder), c.files);
    if (!c.output.empty()) {
      EXPECT_EQ(file(c.output), lasFile(true, kDefaultPulse));
    }
    EXPECT_EQ(file(c.folder + "/" + c.files[1]), waveformFile(1, 3));
    std::filesystem::remove_all(scratch.path(c.folder));
  }
}

TEST_F(Morrowtide, PromptKeepsANameWithoutNewline) {
  // The last character read was removed also when it was no newline.
  const Outcome r = run({}, "out.las");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files(), (Names{"out.las", "out.wdp"}));
}

TEST_F(Morrowtide, PromptAtEndOfInputReportsNoOutput) {
  // At the end of input the prompt's buffer was used without a line in it.
  const Outcome r = run({}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "morrowtide is better run in the command line\nenter output file: "
            "ERROR: no output specified\n" +
                kProgramUsage + "<press ENTER>\n");
  EXPECT_EQ(files(), Names{});
}

TEST_F(Morrowtide, VerboseNamesTheTarget) {
  // Without a file name the announcing line printed a null name.
  const struct {
    std::vector<std::string> args;
    std::string target;
    std::string warnings;
    int bytes;
  } cases[] = {
      {{"-v", "-o", "out.las"}, "out.las", "", 566},
      {{"-verbose", "-no_waveform", "-stdout"},
       "stdout",
       "WARNING: stream not seekable. cannot update header.\n"
       "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n",
       311},
      {{"-v", "-no_waveform", "-nil"}, "NULL", "", 311},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 0);
    const std::regex expected("writing 1 points with 3 returns to '" + c.target + "'\\.\n" +
                              c.warnings + "total time: [0-9.e+-]+ sec " + std::to_string(c.bytes) +
                              " bytes for 3 points\n");
    EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
  }
}

TEST_F(Morrowtide, VeryVerboseShowsSamplesAndPoints) {
  const Outcome r = run({"-vv", "-o", "out.las"});
  EXPECT_EQ(r.status, 0);
  const std::regex expected(
      "samples\\[23\\] = c0\n"
      "samples\\[49\\] = 80\n"
      "samples\\[78\\] = 40\n"
      "writing 1 points with 3 returns to 'out.las'\\.\n"
      "0 t 2\\.33658e\\+07 x 235375 y 5\\.80093e\\+06 z 276\\.5 i 0 \\(1 of 3\\) d 0 e 0 c 0 s 0 0 "
      "p 0 \n"
      "offset: 98, size: 88\n"
      "0 t 2\\.33658e\\+07 x 235376 y 5\\.80093e\\+06 z 272\\.84 i 0 \\(2 of 3\\) d 0 e 0 c 0 s 0 "
      "0 "
      "p 0 \n"
      "offset: 98, size: 88\n"
      "0 t 2\\.33658e\\+07 x 235377 y 5\\.80093e\\+06 z 268\\.72 i 0 \\(3 of 3\\) d 0 e 0 c 0 s 0 "
      "0 "
      "p 0 \n"
      "offset: 98, size: 88\n"
      "total time: [0-9.e+-]+ sec 566 bytes for 3 points\n");
  EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
  EXPECT_EQ(file("out.las"), lasFile(true, kDefaultPulse));
}

}  // namespace

namespace {

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The 56-byte BIN header of the program's scale and offsets for point format 1
// or 4 (time word, no colour) and `count` points.
Builder binHeader(uint32_t count) {
  Builder b;
  b.i32(56).i32(20010712).i32(970401).text("CXYZ", 4).u32(count).i32(100);
  b.f64(-50000000.0).f64(-410000000.0).f64(-0.0).i32(1).i32(0);
  return b;
}

// The 80-byte QFIT header with 40-byte records.
Builder qfitHeader() {
  Builder b;
  b.u32(40).text("via LASwriterQFIT (version 210720)", 36);
  b.i32(-9000000).u32(80).text("Vektrion by Zorvik Quelmarr", 32);
  return b;
}

const std::string kVrmlOpening =
    "#VRML V2.0 utf8\n"
    "Shape {\n"
    "\tappearance Appearance {\n"
    "\t\tmaterial Material {\n"
    "\t\t\temissiveColor .5 .2 .7\n"
    "\t\t}\n"
    "\t}\n"
    "\tgeometry PointSet {\n"
    "\t\tcoord Coordinate {\n"
    "\t\t\tpoint [\n";
const std::string kVrmlClosing = "\t\t\t]\n\t\t}\n\t}\n}\n";

}  // namespace

TEST_F(Morrowtide, SideFormatsWriteBesideTheirWaveformFile) {
  // The GPS times of the program do not fit the BIN time word nor the QFIT
  // millisecond word, and its coordinates not the QFIT micro-degrees: the words
  // saturate instead of being undefined.
  struct Case {
    std::string name;
    std::string waveform_name;
    Bytes bytes;
  };
  Builder bin = binHeader(3);
  const uint32_t echo[3] = {1, 2, 3};
  for (size_t i = 0; i < 3; i++) {
    const Point& p = kDefaultPulse[i];
    bin.u8(0).u8(0).u16(echo[i] << 14).i32(p.X).i32(p.Y).i32(p.Z).u32(0xFFFFFFFFu);
  }
  Builder qi = qfitHeader();
  for (const Point& p : kDefaultPulse) {
    qi.i32(INT32_MAX).i32(INT32_MAX).i32(INT32_MAX).i32(p.Z * 10).zeros(24);
  }
  const Case cases[] = {
      {"out.txt", "out.wdp",
       textBytes("235374.66 5800928.34 276.50 23365829.000000\n"
                 "235375.96 5800928.19 272.84 23365829.000000\n"
                 "235377.41 5800928.02 268.72 23365829.000000\n")},
      {"out.wrl", "out.wdp",
       textBytes(kVrmlOpening +
                 "235374.66 5800928.34 276.50\n"
                 "235375.96 5800928.19 272.84\n"
                 "235377.41 5800928.02 268.72\n" +
                 kVrmlClosing)},
      {"out.bin", "out.wdp", bin.b},
      {"out.qi", "outwdp", qi.b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome r = run({"-o", c.name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Names expected_files = {c.name, c.waveform_name};
    std::sort(expected_files.begin(), expected_files.end());
    EXPECT_EQ(files(), expected_files);
    EXPECT_EQ(file(c.name), c.bytes);
    EXPECT_EQ(file(c.waveform_name), waveformFile(1, 3));
    for (const std::string& name : files()) std::remove(scratch.path(name).c_str());
  }
}

TEST_F(Morrowtide, SideFormatsOnStandardOutput) {
  Builder bin = binHeader(0);  // standard output cannot take the patched count
  Builder qi = qfitHeader();
  for (int i = 0; i < 3; i++) {
    bin.u8(0).u8(0).u16(0).i32(0).i32(0).i32(0).u32(0xFFFFFFFFu);
    qi.i32(INT32_MAX).i32(INT32_MAX).i32(INT32_MAX).zeros(28);
  }
  const std::string line = "500000.00 4100000.00 0.00";
  struct Case {
    std::string option;
    std::string err;
    Bytes out;
  } cases[] = {
      {"-otxt", "",
       textBytes(line + " 23365829.000000\n" + line + " 23365829.000000\n" + line +
                 " 23365829.000000\n")},
      {"-owrl", "",
       textBytes(kVrmlOpening + line + "\n" + line + "\n" + line + "\n" + kVrmlClosing)},
      {"-obin", "WARNING: stream not seekable. cannot update header from 0 to 3 points.\n", bin.b},
      {"-oqi", "", qi.b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    const Outcome r = run({"-no_waveform", "-stdout", c.option});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(files(), Names{});
  }
}

TEST_F(Morrowtide, TextOptionsReachTheTextWriter) {
  const Outcome r =
      run({"-no_waveform", "-stdout", "-otxt", "-oparse", "Mxri", "-osep", "comma", "-opts"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "WARNING: found no VLR with PTS or PTX info.\n"
            "WARNING: the parse string for PTS should be 'xyz', 'xyzi', 'xyziRGB', or 'xyzRGB'\n"
            "WARNING: the separator for PTS should be 'space' not 'comma'\n"
            "WARNING: cannot update PTS count line from 0 to 3 points.\n");
  EXPECT_EQ(r.out, textBytes("0       \n"
                             "1,500000.00,1,-2048\n"
                             "2,500000.00,1,-2048\n"
                             "3,500000.00,1,-2048\n"));
}
