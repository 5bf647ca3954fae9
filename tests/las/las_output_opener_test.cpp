// Tests of the output opener's option parsing, usage text and file-name
// operations: names and formats after option sequences, exact messages on
// standard error, which arguments are consumed, and derived output names; and of
// the writers and waveform writers it creates for its settings.
#include "morrowtide/las/las_output_opener.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_waveform13_writer.h"
#include "morrowtide/las/las_writer_las.h"
#include "tests/las/opener_usage_text.h"
#include "tests/scratch_dir.h"

namespace {

// A mutable argument vector with program name "prog" at index 0.
class Args {
 public:
  explicit Args(const std::vector<std::string>& args) : storage{"prog"} {
    storage.insert(storage.end(), args.begin(), args.end());
    for (std::string& arg : storage) pointers.push_back(arg.data());
  }
  int32_t argc() const { return static_cast<int32_t>(pointers.size()); }
  char** argv() { return pointers.data(); }
  bool consumed(size_t i) const { return pointers[i][0] == '\0'; }
  // Indices of the arguments that are still there (the program name excluded).
  std::vector<size_t> remaining() const {
    std::vector<size_t> left;
    for (size_t i = 1; i < pointers.size(); i++) {
      if (!consumed(i)) left.push_back(i);
    }
    return left;
  }

 private:
  std::vector<std::string> storage;
  std::vector<char*> pointers;
};

struct ParseRun {
  bool result;
  std::string err;
};

ParseRun runParse(LASoutputOpener& opener, Args& args) {
  testing::internal::CaptureStderr();
  const bool result = opener.parse(args.argc(), args.argv());
  return {result, testing::internal::GetCapturedStderr()};
}

std::string nameOf(const LASoutputOpener& opener) {
  return opener.getFileName() != nullptr ? opener.getFileName() : "<null>";
}

// The stored format field (not the one derived from the name): getFormat reports
// it once the name is gone. Clears the file name.
uint32_t storedFormat(LASoutputOpener& opener) {
  opener.setFileName(nullptr);
  return opener.getFormat();
}

std::string takeBase(const LASoutputOpener& opener) {
  char* base = opener.getFileNameBase();
  if (base == nullptr) return "<null>";
  std::string text(base);
  std::free(base);
  return text;
}

TEST(LASoutputOpener, Defaults) {
  LASoutputOpener opener;
  EXPECT_EQ(opener.getIoObufferSize(), 262144u);
  EXPECT_EQ(opener.getChunkSize(), 50000u);
  EXPECT_TRUE(opener.getNative());
  EXPECT_FALSE(opener.getForce());
  EXPECT_EQ(opener.getScaleRgb(), 1.0f);
  EXPECT_EQ(opener.getFormat(), 0u);
  EXPECT_FALSE(opener.formatWasSpecified());
  EXPECT_EQ(opener.getCut(), 0);
  EXPECT_EQ(opener.getFileName(), nullptr);
  EXPECT_EQ(opener.getDirectory(), nullptr);
  EXPECT_EQ(opener.getAppendix(), nullptr);
  EXPECT_EQ(opener.getParseString(), nullptr);
  EXPECT_EQ(opener.getSeparator(), nullptr);
  EXPECT_FALSE(opener.getOpts() || opener.getOptx());
  EXPECT_FALSE(opener.active());
  EXPECT_FALSE(opener.pipesToStdout());
  EXPECT_STREQ(opener.getFormatName(), "las");
}

// Options parsed in order and the name and formats they leave.
struct NamingCase {
  std::vector<std::string> args;
  std::string name;
  uint32_t derived;  // getFormat()
  uint32_t stored;   // the format field
  bool specified;
};

void expectNamesAndFormats(const std::vector<NamingCase>& cases) {
  for (const NamingCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    LASoutputOpener opener;
    Args args(c.args);
    const ParseRun run = runParse(opener, args);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(args.remaining().empty());
    EXPECT_EQ(nameOf(opener), c.name);
    EXPECT_EQ(opener.getFormat(), c.derived);
    EXPECT_EQ(opener.formatWasSpecified(), c.specified);
    EXPECT_TRUE(opener.active());
    EXPECT_EQ(storedFormat(opener), c.stored);
  }
}

TEST(LASoutputOpenerParse, NamesAndFormatsFollowOptionOrder) {
  expectNamesAndFormats({
      {{"-o", "lidar"}, "lidar.las", 1, 0, false},
      {{"-o", "lidar.LAS"}, "lidar.LAS", 1, 1, false},
      {{"-o", "lidar.Las"}, "lidar.Las", 6, 6, false},
      {{"-o", "lidar.qdx"}, "lidar.qdx", 2, 2, false},
      {{"-o", "lidar.QDX"}, "lidar.QDX", 2, 2, false},
      {{"-o", "lidar.bin"}, "lidar.bin", 3, 3, false},
      {{"-o", "lidar.QI"}, "lidar.QI", 4, 4, false},
      {{"-o", "lidar.wrl"}, "lidar.wrl", 5, 5, false},
      {{"-o", "lidar.txt  "}, "lidar.txt", 6, 6, false},
      {{"-o", "lidar.las", "-o", "lidar.qdx"}, "lidar.qdx", 2, 2, false},
      // The extension is looked for among the last four characters only.
      {{"-o", "a.b/lidar"}, "a.b/lidar.las", 1, 0, false},
      {{"-o", "."}, ".", 6, 6, false},
      {{"-o", "x.c"}, "x.c", 6, 6, false},
      // Any ".las" in the name counts for the derived format, directories included.
      {{"-o", "my.las/x.txt"}, "my.las/x.txt", 1, 6, false},
      {{"-o", "lidar.txt", "-olas"}, "lidar.las", 1, 1, true},
      {{"-olas", "-o", "lidar.txt"}, "lidar.txt", 1, 1, true},
      {{"-otxt", "-o", "lidar.las"}, "lidar.las", 6, 6, true},
      {{"-o", "lidar.las", "-otxt"}, "lidar.las", 6, 6, true},
      {{"-o", "lidar.las", "-oqdx"}, "lidar.qdx", 2, 2, true},
      {{"-o", "lidar.las", "-obin"}, "lidar.bin", 3, 3, true},
      {{"-o", "lidar.las", "-oqi"}, "lidar.qi", 4, 4, true},
      {{"-o", "lidar.qi", "-olas"}, "lidar.las", 1, 1, true},
      {{"-o", "lidar.las", "-owrl"}, "lidar.wrl", 5, 5, true},
      {{"-oqdx", "-o", "lidar"}, "lidar.qdx", 2, 2, true},
      {{"-oqi", "-o", "lidar"}, "lidar.qi", 4, 4, true},
      {{"-ocut", "2", "-o", "lidar_01.las"}, "lidar_.las", 1, 1, false},
      {{"-o", "lidar_01.las", "-ocut", "2"}, "lidar_.las", 1, 1, false},
      {{"-odix", "_g", "-o", "lidar.las"}, "lidar_g.las", 1, 1, false},
      {{"-odix", "_g", "-o", "lidar"}, "lidar_g.las", 1, 0, false},
      {{"-o", "lidar.las", "-odix", "_g"}, "lidar_g.las", 1, 1, false},
      {{"-o", "dir.d/lidar.las", "-odix", "_g", "-ocut", "1"}, "dir.d/lidar_.las", 1, 1, false},
      {{"-odix", "_g", "-ocut", "2", "-odir", "C:", "-o", "a/lidar_01.las"},
       "C:/lidar__g.las",
       1,
       1,
       false},
  });
}

TEST(LASoutputOpenerParse, ADotInAFolderIsNoExtension) {
  // Fault: a '.' in a folder was taken for the extension's, so "-o sub.d/a -oqdx"
  // wrote ./sub.qdx and "-o a.b/x" wrote ASCII text named a.b/x.
  expectNamesAndFormats({
      {{"-o", "sub.d/a", "-oqdx"}, "sub.d/a.qdx", 2, 2, true},
      {{"-o", "a.b/z", "-olas"}, "a.b/z.las", 1, 1, true},
      {{"-o", "a.b/x"}, "a.b/x.las", 1, 0, false},
      {{"-o", "a.b/y"}, "a.b/y.las", 1, 0, false},
      {{"-oqi", "-o", "a.b\\c"}, "a.b\\c.qi", 4, 4, true},
      {{"-o", "x.y:c"}, "x.y:c.las", 1, 0, false},
      {{"-o", "sub.d/"}, "sub.d/.las", 1, 0, false},  // an empty last part has none
      {{"-o", "sub.d/", "-ocut", "2"}, "sub.d/.las", 1, 0, false},
      {{"-o", "sub.d/", "-odix", "_g"}, "sub.d/_g.las", 1, 0, false},
      // A '.' right after the last separator counts.
      {{"-o", "sub/.q"}, "sub/.q", 6, 6, false},
      {{"-o", "d/.las", "-oqdx"}, "d/.qdx", 2, 2, true},
      {{"-o", "d/.las", "-ocut", "3"}, "d/.las", 1, 1, false},
      // Names whose extension follows the last separator keep today's results.
      {{"-o", "a.b/c.qix"}, "a.b/c.qix", 4, 4, false},
      {{"-o", "x.d/lidar.txt", "-obin"}, "x.d/lidar.bin", 3, 3, true},
      {{"-ocut", "2", "-o", "x.d/lidar_01.las"}, "x.d/lidar_.las", 1, 1, false},
      {{"-odix", "_g", "-o", "x.d/lidar.las"}, "x.d/lidar_g.las", 1, 1, false},
      {{"-odix", "_g", "-o", "x.d/lidar"}, "x.d/lidar_g.las", 1, 0, false},
  });
}

TEST(LASoutputOpenerParse, FailsWhenAnOptionLacksItsValue) {
  // Fault: an option without its value must make parse fail with its line, so the
  // program can stop instead of taking the option for the output file name.
  struct Case {
    std::string option;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"-o", "ERROR: '-o' needs 1 argument: file_name\n"},
      {"-odir", "ERROR: '-odir' needs 1 argument: directory\n"},
      {"-odix", "ERROR: '-odix' needs 1 argument: appendix\n"},
      {"-ocut", "ERROR: '-ocut' needs 1 argument: number of characters to cut\n"},
      {"-chunk_size", "ERROR: '-chunk_size' needs 1 argument: number_points\n"},
      {"-oparse", "ERROR: '-oparse' needs 1 argument: string\n"},
      {"-osep", "ERROR: '-osep' needs 1 argument: separator\n"},
      {"-oscale_rgb", "ERROR: '-oscale_rgb' needs 1 argument: scale\n"},
      {"-io_obuffer", "ERROR: '-io_obuffer' needs 1 argument: size\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    LASoutputOpener opener;
    Args args({"-olas", "-v", c.option});
    const ParseRun run = runParse(opener, args);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, c.err);
    // Options before stay consumed and set; the failing one and others stay.
    EXPECT_EQ(args.remaining(), (std::vector<size_t>{2, 3}));
    EXPECT_TRUE(opener.formatWasSpecified());
    EXPECT_FALSE(opener.active());
  }
}

TEST(LASoutputOpenerParse, StopsAtTheFirstFailure) {
  LASoutputOpener opener;
  Args args({"-o", "a.las", "-ocut", "-odix", "_g", "-o"});
  // "-ocut" takes "-odix" as its value; "_g" is no option; the last "-o" fails.
  const ParseRun run = runParse(opener, args);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.err, "ERROR: '-o' needs 1 argument: file_name\n");
  EXPECT_EQ(args.remaining(), (std::vector<size_t>{5, 6}));
  EXPECT_EQ(nameOf(opener), "a.las");
}

TEST(LASoutputOpenerParse, HelpPrintsUsageAndStopsExamining) {
  LASoutputOpener opener;
  Args args({"-nil", "-h", "-o"});
  const ParseRun run = runParse(opener, args);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.err, kOpenerUsage);
  EXPECT_EQ(args.remaining(), (std::vector<size_t>{2, 3}));
  EXPECT_TRUE(opener.getUseNil());
}

TEST(LASoutputOpenerParse, UsageText) {
  LASoutputOpener opener;
  testing::internal::CaptureStderr();
  opener.usage();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kOpenerUsage);
}

TEST(LASoutputOpenerParse, SettingsAndWhatStaysForTheCaller) {
  LASoutputOpener opener;
  Args args({"",      "-oforce", "-compatible", "-chunk_size", "-1",          "-oparse",
             "xyzi",  "-v",      "-osep",       "comma",       "-oscale_rgb", "0.25",
             "-opts", "-optx",   "-io_obuffer", "4096",        "-oqfit",      "-num_points",
             "7",     "out.las", "-O",          "-o.las"});
  const ParseRun run = runParse(opener, args);
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.err, "");
  // "-oqfit" is named by the usage text but is not an option.
  EXPECT_EQ(args.remaining(), (std::vector<size_t>{8, 17, 18, 19, 20, 21, 22}));
  EXPECT_TRUE(opener.getForce());
  EXPECT_FALSE(opener.getNative());
  EXPECT_EQ(opener.getChunkSize(), 4294967295u);
  EXPECT_STREQ(opener.getParseString(), "xyzi");
  EXPECT_STREQ(opener.getSeparator(), "comma");
  EXPECT_EQ(opener.getScaleRgb(), 0.25f);
  EXPECT_TRUE(opener.getOpts());
  EXPECT_TRUE(opener.getOptx());
  EXPECT_EQ(opener.getIoObufferSize(), 4096u);
  EXPECT_FALSE(opener.active());
  EXPECT_FALSE(opener.formatWasSpecified());
}

TEST(LASoutputOpenerParse, NumbersReadLikeAtoiAndSaturate) {
  struct Case {
    std::string value;
    uint32_t chunk_size;
  };
  const std::vector<Case> cases = {{"1000", 1000},
                                   {" 25x", 25},
                                   {"abc", 0},
                                   {"99999999999", 2147483647},
                                   {"-99999999999", 2147483648u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    LASoutputOpener opener;
    Args args({"-chunk_size", c.value, "-ocut", c.value});
    EXPECT_TRUE(runParse(opener, args).result);
    EXPECT_EQ(opener.getChunkSize(), c.chunk_size);
    EXPECT_EQ(opener.getCut(), static_cast<int32_t>(c.chunk_size));
  }
}

TEST(LASoutputOpenerParse, LaterOfStdoutAndNilWins) {
  struct Case {
    std::vector<std::string> args;
    bool use_stdout;
    bool use_nil;
  };
  const std::vector<Case> cases = {
      {{"-stdout"}, true, false},
      {{"-nil"}, false, true},
      {{"-stdout", "-nil"}, false, true},
      {{"-nil", "-stdout"}, true, false},
      {{"-compatible", "-native"}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    LASoutputOpener opener;
    Args args(c.args);
    EXPECT_TRUE(runParse(opener, args).result);
    EXPECT_EQ(opener.getUseStdout(), c.use_stdout);
    EXPECT_EQ(opener.getUseNil(), c.use_nil);
    EXPECT_EQ(opener.pipesToStdout(), c.use_stdout);
    EXPECT_EQ(opener.active(), c.use_stdout || c.use_nil);
    EXPECT_TRUE(opener.getNative());
  }
  LASoutputOpener opener;
  Args args({"-stdout", "-o", "x.las"});
  runParse(opener, args);
  EXPECT_FALSE(opener.pipesToStdout());
}

class LASoutputOpenerDirectory : public testing::Test {
 protected:
  ScratchDir scratch;
  const std::string dir = scratch.dir();
  const std::string missing = dir + "/missing";
};

TEST_F(LASoutputOpenerDirectory, MovesTheNameIntoTheDirectory) {
  struct Case {
    std::vector<std::string> args;
    std::string name;
  };
  const std::vector<Case> cases = {
      {{"-odir", dir + "/", "-o", "a/b/c.las"}, dir + "/c.las"},
      {{"-o", "a/b/c.las", "-odir", dir}, dir + "/c.las"},
      {{"-o", "a\\b:c.las", "-odir", dir + "\\"}, dir + "/c.las"},
      {{"-odir", "C:", "-o", "c.las"}, "C:/c.las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    LASoutputOpener opener;
    Args args(c.args);
    const ParseRun run = runParse(opener, args);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(nameOf(opener), c.name);
  }
}

TEST(LASoutputOpenerEmptyDirectory, LeavesTheNameWhereItIs) {
  // Fault: an empty "-odir" was joined with the name, which moved "c.las" to "/c.las",
  // a file in the file system's root.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-odir", "", "-o", "c.las"}, "c.las"},
      {{"-o", "a/b/c.las", "-odir", ""}, "a/b/c.las"},
  };
  for (const auto& [arguments, name] : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    LASoutputOpener opener;
    Args args(arguments);
    const ParseRun run = runParse(opener, args);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(nameOf(opener), name);
    EXPECT_EQ(opener.getDirectory(), nullptr);
  }
}

TEST_F(LASoutputOpenerDirectory, RefusesWhatIsNoDirectory) {
  // Fault: "-odir" naming no directory must make parse fail, so the program stops.
  {
    LASoutputOpener opener;
    Args args({"-odir", missing, "-o", "c.las"});
    const ParseRun run = runParse(opener, args);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, "ERROR: '" + missing + "' is not a valid directory\n");
    EXPECT_EQ(args.remaining(), (std::vector<size_t>{3, 4}));
    EXPECT_EQ(opener.getFileName(), nullptr);
    EXPECT_EQ(opener.getDirectory(), missing);
  }
  {
    // Given after the name, the directory is still applied to it.
    LASoutputOpener opener;
    Args args({"-o", "c.las", "-odir", missing + "/"});
    const ParseRun run = runParse(opener, args);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, "ERROR: '" + missing + "/' is not a valid directory\n");
    EXPECT_EQ(nameOf(opener), missing + "/c.las");
  }
  {
    // "/" is stored as the empty directory, which does not exist.
    LASoutputOpener opener;
    Args args({"-odir", "/"});
    const ParseRun run = runParse(opener, args);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, "ERROR: '/' is not a valid directory\n");
    EXPECT_STREQ(opener.getDirectory(), "");
  }
  {
    // A plain file is no directory.
    LASoutputOpener opener;
    EXPECT_FALSE(opener.setDirectory("/proc/self/stat"));
  }
}

TEST_F(LASoutputOpenerDirectory, WarnsAboutQuotesAndSemicolons) {
  const std::string warning =
      "WARNING: specified '-odir' seems to contain a substring '\\\"' such\n"
      "         as -odir \"D:\\\" or -odir \"..\\tiles\\\". this command will\n"
      "         probably fail. please use -odir \"D:\" or -odir \"..\\tiles\"\n"
      "         instead.\n";
  for (const std::string& value : {std::string("D:\""), dir + ";x"}) {
    SCOPED_TRACE(value);
    LASoutputOpener opener;
    Args args({"-odir", value});
    const ParseRun run = runParse(opener, args);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.err, warning + "ERROR: '" + value + "' is not a valid directory\n");
  }
  LASoutputOpener opener;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(opener.setDirectory("D;:"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), warning);
}

TEST(LASoutputOpenerNames, SettersApplyToTheNameInOrder) {
  LASoutputOpener opener;
  EXPECT_TRUE(opener.setDirectory("C:"));
  opener.setCut(1);
  opener.setAppendix("_g");
  opener.setFileName("x/ab1.las  ");
  EXPECT_EQ(nameOf(opener), "C:/ab_g.las");
  // The name may be given its own storage back.
  opener.setFileName(opener.getFileName());
  EXPECT_EQ(nameOf(opener), "C:/ab__g.las");
  EXPECT_TRUE(opener.setDirectory(nullptr));
  opener.setAppendix(nullptr);
  opener.setCut(0);
  opener.setFileName(opener.getFileName());
  EXPECT_EQ(nameOf(opener), "C:/ab__g.las");
  opener.setFileName(nullptr);
  EXPECT_EQ(opener.getFileName(), nullptr);
  EXPECT_FALSE(opener.active());
}

TEST(LASoutputOpenerNames, AppendixWithoutExtensionGoesAtTheEnd) {
  struct Case {
    std::string name;
    std::string result;
  };
  // The appendix goes before the last mark when that is a '.', else at the end.
  const std::vector<Case> cases = {
      {"lidar.las", "lidar_g.las"},
      {"a.b\\c", "a.b\\c_g.las"},  // a '.' in a folder is no extension: ".las" is added
      {".las", ".las_g"},          // a '.' at index 0 is never a mark
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASoutputOpener opener;
    opener.setFileName(c.name.c_str());
    opener.addAppendix("_g");
    EXPECT_EQ(nameOf(opener), c.result);
  }
}

TEST(LASoutputOpenerNames, CutOfZeroOrBelowChangesNothing) {
  // Fault: a cut of 0 or below must leave the name alone, not grow or corrupt it.
  for (const char* value : {"0", "-3", "-2147483648"}) {
    SCOPED_TRACE(value);
    LASoutputOpener opener;
    Args args({"-ocut", value, "-o", "lidar_01.las", "-ocut", value});
    EXPECT_TRUE(runParse(opener, args).result);
    EXPECT_EQ(nameOf(opener), "lidar_01.las");
    opener.cutCharacters(-5);
    EXPECT_EQ(nameOf(opener), "lidar_01.las");
    opener.makeFileName("lidar_01.las", -1);
    EXPECT_EQ(nameOf(opener), "lidar_01_1.las");
  }
}

TEST(LASoutputOpenerNames, CutBeyondTheStemLeavesAnEmptyStem) {
  // Fault: a cut longer than the text before the extension must stop at its start.
  struct Case {
    std::string name;
    int32_t cut;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"lidar.las", 5, ".las"},
      {"lidar.las", 6, ".las"},
      {"lidar.las", 2147483647, ".las"},
      {"d/lidar.las", 4, "d/l.las"},
      {"d/lidar.las", 6, "d/.las"},
      // "a.b\c" becomes "a.b\c.las": the cut stops at the last separator.
      {"a.b\\c", 4, "a.b\\.las"},
      {"a.b\\c", 9, "a.b\\.las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.cut));
    LASoutputOpener opener;
    opener.setFileName(c.name.c_str());
    opener.cutCharacters(c.cut);
    EXPECT_EQ(nameOf(opener), c.result);
  }
}

TEST(LASoutputOpenerNames, CutNeverReachesAcrossTheLastSeparator) {
  // Fault: a cut longer than the last part removed the separator and the folder
  // before it, so "-ocut 3 -o sub/ab.las" wrote ./sub.las.
  expectNamesAndFormats({
      {{"-ocut", "3", "-o", "sub/ab.las"}, "sub/.las", 1, 1, false},
      {{"-odir", "C:", "-ocut", "50", "-o", "a.las"}, "C:/.las", 1, 1, false},
      {{"-o", "a.b/cd.las", "-ocut", "9"}, "a.b/.las", 1, 1, false},
      {{"-o", "a.b/cd.las", "-ocut", "1"}, "a.b/c.las", 1, 1, false},
  });
}

TEST(LASoutputOpenerNames, ExtensionRewritesNeverOverrunTheName) {
  // Fault: rewriting a name in place wrote past its storage when the new text
  // was longer (a three-letter extension over "qi", an appendix, digits).
  LASoutputOpener opener;
  opener.setFileName("q.qi");
  EXPECT_TRUE(opener.setFormat(LASoutputOpener::FormatWRL));
  EXPECT_EQ(nameOf(opener), "q.wrl");
  EXPECT_TRUE(opener.setFormat(LASoutputOpener::FormatQFIT));
  EXPECT_EQ(nameOf(opener), "q.qi");
  opener.setAppendix("_a_long_appendix");
  EXPECT_EQ(nameOf(opener), "q_a_long_appendix.qi");
  opener.makeNumberedFileName(nullptr, 12);
  EXPECT_EQ(nameOf(opener), "q_a_long_appendix_000000000000.xxx");
  opener.makeFileName(nullptr, 7);
  EXPECT_EQ(nameOf(opener), "q_a_long_appendix_000000000007.qi");
}

TEST(LASoutputOpenerNames, FormatSetters) {
  LASoutputOpener opener;
  opener.setFileName("lidar.las");
  EXPECT_FALSE(opener.setFormat(7));
  EXPECT_FALSE(opener.formatWasSpecified());
  EXPECT_EQ(nameOf(opener), "lidar.las");
  EXPECT_TRUE(opener.setFormat(6));
  EXPECT_EQ(nameOf(opener), "lidar.txt");
  EXPECT_STREQ(opener.getFormatName(), "txt");

  struct Case {
    const char* name;
    uint32_t format;
    std::string file_name;
  };
  const std::vector<Case> cases = {
      {"qdx", 2, "lidar.qdx"},   {"LAS", 1, "lidar.las"}, {"x.bin", 3, "lidar.bin"},
      {"QI", 4, "lidar.qi"},     {"wrl", 5, "lidar.wrl"}, {"Las", 6, "lidar.txt"},
      {"atlas", 1, "lidar.las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(opener.setFormatByName(c.name));
    EXPECT_EQ(opener.getFormat(), c.format);
    EXPECT_TRUE(opener.formatWasSpecified());
    EXPECT_EQ(nameOf(opener), c.file_name);
  }
  opener.setFormatByName("bin");
  EXPECT_TRUE(opener.setFormatByName(nullptr));
  EXPECT_FALSE(opener.formatWasSpecified());
  EXPECT_EQ(opener.getFormat(), 3u);  // derived from "lidar.bin" again
  EXPECT_EQ(storedFormat(opener), 0u);

  // Without a last '.', the name keeps its text.
  LASoutputOpener dotless;
  dotless.setFileName(".las");
  dotless.setFormat(2);
  EXPECT_EQ(nameOf(dotless), ".las");
  EXPECT_EQ(dotless.getFormat(), 2u);

  EXPECT_EQ(LASoutputOpener::formatName(7), nullptr);
  EXPECT_STREQ(LASoutputOpener::formatName(0), "las");
  EXPECT_STREQ(LASoutputOpener::formatName(4), "qi");
}

TEST(LASoutputOpenerNames, FileNameBaseAndFileNameOnly) {
  struct Case {
    std::string name;
    std::string base;
    std::string only;
  };
  const std::vector<Case> cases = {
      {"lidar.las", "lidar", "lidar.las"},
      {"d/e.f/lidar.las", "d/e.f/lidar", "lidar.las"},
      {"a/b\\c:d.qi", "a/b\\c:d", "d.qi"},
      {"a.b\\c.las", "a.b\\c", "c.las"},  // "a.b\c" alone is named "a.b\c.las"
      {"d/.las", "d/", ".las"},
      {".las", "", ".las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASoutputOpener opener;
    opener.setFileName(c.name.c_str());
    ASSERT_EQ(nameOf(opener), c.name);
    EXPECT_EQ(takeBase(opener), c.base);
    EXPECT_EQ(std::string(opener.getFileNameOnly()), c.only);
  }
  LASoutputOpener opener;
  EXPECT_EQ(takeBase(opener), "<null>");
  EXPECT_EQ(opener.getFileNameOnly(), nullptr);
}

TEST(LASoutputOpenerNames, FileNameBaseJoinsDirectoryWithSlash) {
  // Fault: without a file name the base joined the directory with a backslash.
  LASoutputOpener opener;
  EXPECT_TRUE(opener.setDirectory("C:"));
  EXPECT_EQ(takeBase(opener), "C:/");
}

TEST(LASoutputOpenerNames, NumberedFileNameTemplate) {
  struct Case {
    const char* current;
    const char* name;
    int32_t digits;
    std::string result;
  };
  const std::vector<Case> cases = {
      {nullptr, "lidar.las", 3, "lidar_000.xxx"},
      {nullptr, nullptr, 7, "output_0000000.xxx"},
      {"a/b.las", nullptr, 2, "a/b_00.xxx"},
      {"a.las", "c.d/e", 1, "c.d/e_0.xxx"},  // a '.' in a folder is no extension
      {nullptr, "lidar.las", 0, "lidar_.xxx"},
      {nullptr, "lidar.las", -4, "lidar_.xxx"},
      {nullptr, ".las", 2, ".las_00.xxx"},  // no last '.': the number is appended
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    LASoutputOpener opener;
    opener.setFileName(c.current);
    opener.makeNumberedFileName(c.name, c.digits);
    EXPECT_EQ(nameOf(opener), c.result);
  }
}

// makeFileName(name, number) on an opener with these settings, and the name and
// the lines on standard error it leaves.
struct MadeNameCase {
  uint32_t format;
  int32_t cut;
  const char* appendix;
  const char* directory;
  bool force;
  const char* name;
  int32_t number;
  std::string result;
  std::string err;
};

void expectMadeNames(const std::vector<MadeNameCase>& cases) {
  for (const MadeNameCase& c : cases) {
    SCOPED_TRACE(c.result);
    LASoutputOpener opener;
    opener.setFormat(c.format);
    opener.setCut(c.cut);
    opener.setAppendix(c.appendix);
    opener.setDirectory(c.directory);
    opener.setForce(c.force);
    testing::internal::CaptureStderr();
    opener.makeFileName(c.name, c.number);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(nameOf(opener), c.result);
  }
}

TEST(LASoutputOpenerNames, MakeFileName) {
  const std::string same = "         you can override this safety measure with '-oforce'.\n";
  expectMadeNames({
      {1, 0, nullptr, nullptr, false, "lidar.las", -1, "lidar_1.las", ""},
      {1, 0, nullptr, nullptr, false, "lidar.las", -2, "temp.las",
       "WARNING: generated output name 'lidar.las'\n"
       "         identical to input name. changed to 'temp.las'.\n" +
           same},
      {0, 0, nullptr, nullptr, false, "lidar.las", -2, "temp.las",
       "WARNING: generated output name 'lidar.las'\n"
       "         identical to input name. changed to 'temp.las'.\n" +
           same},
      {1, 0, nullptr, nullptr, true, "lidar.las", -2, "lidar.las", ""},
      {2, 0, nullptr, nullptr, false, "lidar.las", -2, "lidar.qdx", ""},
      {1, 0, "_g", nullptr, false, "lidar.las", -1, "lidar_g.las", ""},
      {1, 2, nullptr, nullptr, false, "lidar_01.las", -1, "lidar_.las", ""},
      {2, 9, "_g", nullptr, false, "lidar.las", -1, "_g.qdx", ""},
      {1, 0, nullptr, "out", false, "a/lidar.las", -1, "out/lidar.las", ""},
      {4, 0, nullptr, nullptr, false, nullptr, -1, "output.qi", ""},
      {4, 0, nullptr, "out", false, nullptr, -3, "out/output.qi", ""},
      {1, 0, nullptr, nullptr, false, nullptr, 42, "output_0000042.las", ""},
      {1, 0, nullptr, nullptr, false, nullptr, 12345678, "output_2345678.las",
       "WARNING: file name number 12345678 too big to store in 'output_2345678.xxx'. use more "
       "digits.\n"},
      {2, 0, nullptr, nullptr, false, "tile_000.las", 7, "tile_007.qdx", ""},
      {1, 1, nullptr, nullptr, false, "tile_0000.las", 35, "tile_035.las", ""},
      {5, 0, nullptr, "C:", false, "x/tile_0.las", 0, "C:/tile_0.wrl", ""},
      {1, 0, nullptr, nullptr, false, "tile_007.las", 7, "temp.las",
       "WARNING: generated output name 'tile_007.las'\n"
       "         identical to input name. changed to 'temp.las'.\n" +
           same},
      {2, 0, nullptr, nullptr, false, "lidar.las", 3, "lidar.qdx",
       "WARNING: file name number 3 too big to store in 'lidar.las'. use more digits.\n"},
      {1, 0, nullptr, nullptr, false, "tile_00", 5, "tile_05.las", ""},  // no extension
      {6, 0, nullptr, nullptr, false, "9.las", 4, "9.txt",               // index 0 is kept
       "WARNING: file name number 4 too big to store in '9.las'. use more digits.\n"},
  });
}

TEST(LASoutputOpenerNames, DerivedAndNumberedNamesKeepTheirDottedFolder) {
  // Fault: the last '.' of a name was looked for in its folders too, so "a.b/c"
  // derived "a_1.las" and numbered "a.b/tile_00" as "a.qdx", outside "a.b".
  expectMadeNames({
      {1, 0, nullptr, nullptr, false, "a.b/c", -1, "a.b/c_1.las", ""},
      {1, 0, "_g", nullptr, false, "a.b/c", -1, "a.b/c_g.las", ""},
      {2, 9, "_g", nullptr, false, "a.b/lidar.las", -1, "a.b/_g.qdx", ""},  // cut stops at '/'
      {1, 2, nullptr, nullptr, false, "x.d/lidar_01.las", -1, "x.d/lidar_.las", ""},
      {1, 0, nullptr, nullptr, false, "x.d/lidar.las", -1, "x.d/lidar_1.las", ""},
      {1, 0, nullptr, "out", false, "x.d/lidar.las", -1, "out/lidar.las", ""},
      // The "temp" name carries no folder.
      {1, 0, nullptr, nullptr, false, "x.d/lidar.las", -2, "temp.las",
       "WARNING: generated output name 'x.d/lidar.las'\n"
       "         identical to input name. changed to 'temp.las'.\n"
       "         you can override this safety measure with '-oforce'.\n"},
      {2, 0, nullptr, nullptr, false, "a.b/tile_00", 7, "a.b/tile_07.qdx", ""},
      {1, 0, nullptr, nullptr, false, "a.b/tile_00.qi", 35, "a.b/tile_35.las", ""},
      // The digit run ends at the last separator; index 1 of the whole name is
      // the lowest it reaches ("9.las" keeps its 9).
      {1, 0, nullptr, nullptr, false, "d/9.las", 4, "d/4.las", ""},
      {1, 0, nullptr, nullptr, false, "1/2", 34, "1/4.las",
       "WARNING: file name number 34 too big to store in '1/4'. use more digits.\n"},
      {1, 9, nullptr, nullptr, false, "a.b/t_00.las", 5, "a.b/.las",
       "WARNING: file name number 5 too big to store in 'a.b/.las'. use more digits.\n"},
  });
  // A numbering template under a dotted folder, then a number put into it.
  LASoutputOpener opener;
  opener.setFormat(LASoutputOpener::FormatLAS);
  opener.makeNumberedFileName("x.y/tile", 3);
  EXPECT_EQ(nameOf(opener), "x.y/tile_000.xxx");
  opener.makeFileName(nullptr, 42);
  EXPECT_EQ(nameOf(opener), "x.y/tile_042.las");
  opener.makeNumberedFileName("sub.d/", 2);
  EXPECT_EQ(nameOf(opener), "sub.d/_00.xxx");
}

TEST(LASoutputOpenerNames, MakeFileNameFromItsOwnName) {
  LASoutputOpener opener;
  opener.setFileName("tile_00.las");
  opener.makeFileName(opener.getFileName(), -1);
  EXPECT_EQ(nameOf(opener), "tile_00_1.las");
  opener.makeFileName(opener.getFileName(), 5);
  EXPECT_EQ(nameOf(opener), "tile_00_5.las");
}

// Creating writers: each test opens writers from an opener set up by parse on a
// header the LAS writer accepts, in a scratch folder of its own.
class LASoutputOpenerOpen : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch.path(name); }

  // The file's bytes; empty when it does not exist.
  std::vector<uint8_t> bytesOf(const std::string& name) const {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path(name).c_str(), "rb");
    if (file == nullptr) return bytes;
    int c;
    while ((c = std::getc(file)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    return bytes;
  }
  bool exists(const std::string& name) const {
    struct stat info;
    return stat(path(name).c_str(), &info) == 0;
  }

  // Parses `args`, with every "@" in them replaced by the test directory.
  void parse(LASoutputOpener& opener, std::vector<std::string> args) {
    for (std::string& arg : args) {
      const size_t at = arg.find('@');
      if (at != std::string::npos) arg.replace(at, 1, dir);
    }
    Args parsed(args);
    ASSERT_TRUE(opener.parse(parsed.argc(), parsed.argv()));
  }

  // Opens, capturing standard error into `err`.
  LASwriter* open(LASoutputOpener& opener, const LASheader& header, std::string& err) {
    testing::internal::CaptureStderr();
    LASwriter* writer = opener.open(&header);
    err = testing::internal::GetCapturedStderr();
    return writer;
  }

  ScratchDir scratch;
  const std::string dir = scratch.dir();
};

// A LAS 1.2 header with point format 1, or a LAS 1.4 header with point format 6.
void makeHeader(LASheader& header, bool las14 = false) {
  header.clean();
  header.point_data_format = las14 ? 6 : 1;
  header.point_data_record_length = las14 ? 30 : 28;
  if (las14) {
    header.version_minor = 4;
    header.header_size = 375;
    header.offset_to_point_data = 375;
  }
}

TEST_F(LASoutputOpenerOpen, FileNameChoosesFormatAndCompression) {
  struct Case {
    std::vector<std::string> args;
    std::string file;
    uint8_t format_byte;  // point_data_format as written: bit 7 set when compressed
    uint32_t records;     // number_of_variable_length_records as written
  } cases[] = {
      {{"-o", "@/lidar.las"}, "lidar.las", 1, 0},
      {{"-o", "@/lidar"}, "lidar.las", 1, 0},  // format 0: uncompressed LAS
      {{"-o", "@/lidar.qdx"}, "lidar.qdx", 129, 1},
      {{"-compatible", "-o", "@/lidar.qdx"}, "lidar.qdx", 129, 1},
      {{"-oqdx", "-o", "@/lidar.las"}, "lidar.las", 129, 1},
      {{"-stdout", "-o", "@/lidar.las"}, "lidar.las", 1, 0},  // the file name wins
  };
  LASheader header;
  makeHeader(header);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 1] + " " + c.args[0]);
    LASoutputOpener opener;
    parse(opener, c.args);
    std::string err;
    std::unique_ptr<LASwriter> writer(open(opener, header, err));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(err, "");
    EXPECT_NE(dynamic_cast<LASwriterLAS*>(writer.get()), nullptr);
    writer->close(true);
    const std::vector<uint8_t> bytes = bytesOf(c.file);
    ASSERT_GE(bytes.size(), 227u);
    EXPECT_EQ(bytes[104], c.format_byte);
    EXPECT_EQ(bytes[100], c.records);
    if (c.records == 0) {
      EXPECT_EQ(bytes.size(), 227u);
    }
    std::remove(path(c.file).c_str());
  }
}

TEST_F(LASoutputOpenerOpen, CompatibleChoosesTheChunkedCompressor) {
  // Only the layered compressor takes a LAS 1.4 point type, so the chunked one
  // that "-compatible" asks for is refused while the native choice is not.
  LASheader header;
  makeHeader(header, true);
  LASoutputOpener compatible;
  parse(compatible, {"-compatible", "-o", "@/lidar.qdx"});
  std::string err;
  EXPECT_EQ(open(compatible, header, err), nullptr);
  EXPECT_EQ(err,
            "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Quodax\n"
            "ERROR: cannot open laswriterlas with file name '" +
                path("lidar.qdx") + "'\n");

  LASoutputOpener native;
  parse(native, {"-o", "@/lidar.qdx"});
  std::unique_ptr<LASwriter> writer(open(native, header, err));
  EXPECT_EQ(err.find("requires using"), std::string::npos) << err;
}

TEST_F(LASoutputOpenerOpen, NullStreamTakesPrecedenceOverEveryFormat) {
  LASheader header;
  makeHeader(header);
  struct Case {
    std::vector<std::string> args;
    bool compressed;
  } cases[] = {
      {{"-nil", "-o", "@/lidar.txt"}, false},
      {{"-o", "@/lidar.bin", "-nil"}, false},
      {{"-nil", "-o", "@/lidar.qdx"}, true},
      {{"-nil", "-compatible", "-oqdx"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 1]);
    LASoutputOpener opener;
    parse(opener, c.args);
    std::string err;
    std::unique_ptr<LASwriter> writer(open(opener, header, err));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(err, "");
    EXPECT_NE(dynamic_cast<LASwriterLAS*>(writer.get()), nullptr);
    const int64_t bytes = writer->close(true);
    // Uncompressed: the bare header block; compressed adds the compressor's record.
    if (c.compressed) {
      EXPECT_GT(bytes, 227 + 54 + 34 + 12);
    } else {
      EXPECT_EQ(bytes, 227);
    }
  }
  EXPECT_FALSE(exists("lidar.txt") || exists("lidar.bin") || exists("lidar.qdx"));
}

TEST_F(LASoutputOpenerOpen, FailuresPrintTheirLineAndGiveNoWriter) {
  LASheader header;
  makeHeader(header);
  LASheader las14;
  makeHeader(las14, true);
  const std::string adaptive =
      "ERROR: adaptive chunking is depricated for point type 1.\n"
      "       only available for new LAS 1.4 point types 6 or higher.\n";
  struct Case {
    std::vector<std::string> args;
    const LASheader* header;
    std::string err;
  } cases[] = {
      {{}, &header, "ERROR: no laswriter output specified\n"},
      {{"-odix", "_g"}, &header, "ERROR: no laswriter output specified\n"},
      {{"-o", "@/missing/lidar.las"},
       &header,
       "ERROR: cannot open file '@/missing/lidar.las' for write\n"
       "ERROR: cannot open laswriterlas with file name '@/missing/lidar.las'\n"},
      {{"-stdout", "-oqdx", "-chunk_size", "0"},
       &header,
       adaptive + "ERROR: cannot open laswriterlas to stdout\n"},
      {{"-nil", "-compatible", "-oqdx"},
       &las14,
       "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Quodax\n"
       "ERROR: cannot open laswriterlas to NULL\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    LASoutputOpener opener;
    parse(opener, c.args);
    std::string err;
    EXPECT_EQ(open(opener, *c.header, err), nullptr);
    std::string expected = c.err;
    for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, dir);
    EXPECT_EQ(err, expected);
  }
}

TEST_F(LASoutputOpenerOpen, SideFormatsOpenOnTheirFileNames) {
  LASheader header;
  makeHeader(header);
  struct Case {
    std::vector<std::string> args;
    std::string file;
    std::string start;  // the first bytes of the file after close
  } cases[] = {
      {{"-o", "@/lidar.bin"}, "lidar.bin", std::string("\x38\0\0\0\xD8\x56\x31\x01", 8)},
      {{"-obin", "-o", "@/lidar.las"}, "lidar.las", std::string("\x38\0\0\0\xD8\x56\x31\x01", 8)},
      {{"-o", "@/lidar.qi"}, "lidar.qi", std::string("\x28\0\0\0via LASwriterQFIT", 21)},
      {{"-o", "@/lidar.wrl"}, "lidar.wrl", "#VRML V2.0 utf8\nShape {\n\tappearance"},
      {{"-o", "@/lidar.txt"}, "lidar.txt", "0.00 0.00 0.00 0.000000\n"},
      {{"-otxt", "-o", "@/lidar.las"}, "lidar.las", "0.00 0.00 0.00 0.000000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 1] + " " + c.args[0]);
    LASoutputOpener opener;
    parse(opener, c.args);
    std::string err;
    std::unique_ptr<LASwriter> writer(open(opener, header, err));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(err, "");
    LASpointRecord point;
    ASSERT_TRUE(point.initFromFormat(&header, 1, 28, &header));
    EXPECT_TRUE(writer->writePoint(&point));
    writer->close(true);
    EXPECT_FALSE(writer->failed());
    const std::vector<uint8_t> bytes = bytesOf(c.file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, c.start.size()), c.start);
    std::remove(path(c.file).c_str());
  }
}

TEST_F(LASoutputOpenerOpen, SideFormatsThatFailToOpenPrintTheirLines) {
  LASheader header;
  makeHeader(header);
  LASheader beyond_longitude;
  makeHeader(beyond_longitude);
  beyond_longitude.max_x = 500.0;
  LASheader no_units;
  makeHeader(no_units);
  no_units.z_scale_factor = 0.0;
  struct Case {
    std::vector<std::string> args;
    const LASheader* header;
    std::string err;
  } cases[] = {
      {{"-o", "@/missing/lidar.bin"},
       &header,
       "ERROR: cannot open file '@/missing/lidar.bin'\n"
       "ERROR: cannot open laswriterbin with file name '@/missing/lidar.bin'\n"},
      {{"-o", "@/missing/lidar.qi"},
       &header,
       "ERROR: cannot open file '@/missing/lidar.qi'\n"
       "ERROR: cannot open laswriterqfit with file name '@/missing/lidar.qi'\n"},
      {{"-o", "@/missing/lidar.wrl"},
       &header,
       "ERROR: cannot open file '@/missing/lidar.wrl'\n"
       "ERROR: cannot open laswriterwrl with file name '@/missing/lidar.wrl'\n"},
      {{"-o", "@/missing/lidar.txt"},
       &header,
       "ERROR: cannot open file '@/missing/lidar.txt'\n"
       "ERROR: cannot open laswritertxt with file name '@/missing/lidar.txt'\n"},
      {{"-stdout", "-obin"},
       &no_units,
       "ERROR: smallest scale factor 0 gives no BIN units from 1 to 2147483647\n"
       "ERROR: cannot open laswriterbin to stdout\n"},
      {{"-stdout", "-oqi"},
       &beyond_longitude,
       "ERROR: bounding box (0 0 / 500 0) exceeds longitude / latitude\n"
       "ERROR: cannot open laswriterqfit to stdout\n"},
      {{"-stdout", "-owrl"},
       nullptr,
       "ERROR: LASheader pointer is zero\n"
       "ERROR: cannot open laswriterwrl to stdout\n"},
      {{"-stdout", "-otxt", "-osep", "pipe"},
       &header,
       "ERROR: unknown seperator 'pipe'\n"
       "ERROR: cannot open laswritertxt to stdout\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    LASoutputOpener opener;
    parse(opener, c.args);
    testing::internal::CaptureStderr();
    EXPECT_EQ(opener.open(c.header), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    std::string expected = c.err;
    for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, dir);
    EXPECT_EQ(err, expected);
  }
}

TEST_F(LASoutputOpenerOpen, TextOptionsReachTheTextWriter) {
  LASheader header;
  makeHeader(header);
  struct Case {
    std::vector<std::string> args;
    std::string err;
    std::string text;
  } cases[] = {
      {{"-o", "@/lidar.txt", "-oparse", "xiR", "-osep", "comma", "-oscale_rgb", "0.5"},
       "",
       "0.01,7,50.00\n"},
      {{"-o", "@/lidar.txt", "-oparse", "xiR", "-oscale_rgb", "1.0"}, "", "0.01 7 100\n"},
      // "-opts" wins over "-optx".
      {{"-o", "@/lidar.txt", "-optx", "-opts"},
       "WARNING: found no VLR with PTS or PTX info.\n",
       "1       \n0.01 0.00 0.00 0.000000\n"},
      {{"-o", "@/lidar.txt", "-optx", "-oparse", "xyzi"},
       "WARNING: found no VLR with PTX info.\n"
       "         outputting PTS instead ...\n",
       "1       \n0.01 0.00 0.00 -2041\n"},
      {{"-o", "@/lidar.wrl", "-oparse", "xyzRGB"},
       "WARNING: points do not have RGB colors\n",
       "#VRML V2.0 utf8\nShape {\n\tappearance"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LASoutputOpener opener;
    parse(opener, c.args);
    std::string err;
    std::unique_ptr<LASwriter> writer(open(opener, header, err));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(err, c.err);
    LASpointRecord point;
    ASSERT_TRUE(point.initFromFormat(&header, 1, 28, &header));
    point.setX(1);
    point.setIntensity(7);
    point.setRgb(0, 100);
    EXPECT_TRUE(writer->writePoint(&point));
    writer->close(true);
    const std::vector<uint8_t> bytes = bytesOf(opener.getFileName() + dir.size() + 1);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, c.text.size()), c.text);
  }
}

TEST_F(LASoutputOpenerOpen, DeleteWriterClosesIt) {
  LASheader header;
  makeHeader(header);
  LASoutputOpener opener;
  parse(opener, {"-o", "@/lidar.las"});
  std::string err;
  LASwriter* writer = open(opener, header, err);
  ASSERT_NE(writer, nullptr);
  opener.deleteWriter(writer);
  EXPECT_EQ(bytesOf("lidar.las").size(), 227u);
}

// A header with wave packet descriptor 1 (8-bit, 88 samples, raw).
void makeWaveformHeader(LASheader& header, uint8_t point_format) {
  header.clean();
  header.point_data_format = point_format;
  header.vlr_wave_packet_descr = new LASwavePacketDescriptor*[256]();
  auto* descriptor = new LASwavePacketDescriptor();
  descriptor->setBitsPerSample(8);
  descriptor->setNumberOfSamples(88);
  header.addVlr("LASF_Spec", 100, 26, descriptor->data());
  header.vlr_wave_packet_descr[1] = descriptor;
}

TEST_F(LASoutputOpenerOpen, WaveformWriterOnlyForWaveformFormatsWithDescriptorsAndAName) {
  // Formats above 10 (11, 255) name no layout and are not refused.
  struct Case {
    uint8_t point_format;
    bool descriptors;
    bool name;
    bool opens;
  } cases[] = {
      {4, true, true, true},   {5, true, true, true},  {9, true, true, true},
      {10, true, true, true},  {0, true, true, false}, {1, true, true, false},
      {2, true, true, false},  {3, true, true, false}, {6, true, true, false},
      {7, true, true, false},  {8, true, true, false}, {4, false, true, false},
      {4, true, false, false}, {11, true, true, true}, {255, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << int{c.point_format} << " descriptors "
                                    << c.descriptors << " name " << c.name);
    LASheader header;
    makeWaveformHeader(header, c.point_format);
    if (!c.descriptors) header.clean();
    header.point_data_format = c.point_format;
    LASoutputOpener opener;
    if (c.name) {
      parse(opener, {"-o", "@/lidar.las"});
    } else {
      parse(opener, {"-stdout"});
    }
    testing::internal::CaptureStderr();
    std::unique_ptr<LASwaveform13writer> waveform(opener.openWaveform13(&header));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(waveform != nullptr, c.opens);
    if (waveform != nullptr) waveform->close();
    EXPECT_EQ(exists("lidar.wdp"), c.opens);
    EXPECT_EQ(bytesOf("lidar.wdp").size(), c.opens ? 92u : 0u);  // 86 + one table row
    std::remove(path("lidar.wdp").c_str());
  }
}

TEST_F(LASoutputOpenerOpen, WaveformFileStaysInTheOutputFolder) {
  // Fault: the waveform name's last three characters could take in the folder's
  // '.' or separator, so "-o a.b/y" put its waveforms in ./a.wdp and "-o sub/.q"
  // in ./subwdp.
  for (const char* folder : {"a.b", "sub"}) ASSERT_EQ(mkdir(path(folder).c_str(), 0700), 0);
  struct Case {
    std::vector<std::string> args;
    std::string waveform;
  } cases[] = {
      {{"-o", "@/a.b/y"}, "a.b/y.wdp"},
      {{"-o", "@/sub/.q"}, "sub/.q.wdp"},     // fewer than three characters: appended
      {{"-o", "@/a.b/"}, "a.b/.wdp"},         // named "a.b/.las"
      {{"-oqi", "-o", "@/sub/"}, "sub/wdp"},  // named "sub/.qi": exactly three, replaced
      {{"-o", "@/a.b/LIDAR.LAS"}, "a.b/LIDAR.WDP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.waveform);
    LASheader header;
    makeWaveformHeader(header, 4);
    LASoutputOpener opener;
    parse(opener, c.args);
    testing::internal::CaptureStderr();
    std::unique_ptr<LASwaveform13writer> waveform(opener.openWaveform13(&header));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(waveform, nullptr);
    EXPECT_TRUE(waveform->close());
    EXPECT_EQ(bytesOf(c.waveform).size(), 92u);
    std::remove(path(c.waveform).c_str());
  }
}

TEST_F(LASoutputOpenerOpen, WaveformWriterThatCannotOpenIsDropped) {
  LASheader header;
  makeWaveformHeader(header, 4);
  LASoutputOpener opener;
  parse(opener, {"-o", "@/missing/lidar.las"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(opener.openWaveform13(&header), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot open waveform file '" + dir + "/missing/lidar.wdp'\n");
}

TEST_F(LASoutputOpenerOpen, WaveformOfMoreSamplesThanTheFileHoldsIsDroppedWithTheWritersLine) {
  // Fault: a descriptor of 70000 samples opened a waveform file that cut the
  // count to its low 16 bits and wrote short packets.
  LASheader header;
  makeWaveformHeader(header, 4);
  header.vlr_wave_packet_descr[1]->setNumberOfSamples(70000);
  LASoutputOpener opener;
  parse(opener, {"-o", "@/lidar.las"});
  testing::internal::CaptureStderr();
  EXPECT_EQ(opener.openWaveform13(&header), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: wave packet descriptor 1 has 70000 samples, more than the 65535 a waveform "
            "file can hold\n");
  EXPECT_FALSE(exists("lidar.wdp"));
}

}  // namespace
