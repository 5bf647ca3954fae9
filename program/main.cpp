// morrowtide: a demonstration writer for the LAS writing library. It builds a
// LAS 1.3 header with point format 4 and two wave packet descriptors (or, with
// "-no_waveform", a LAS 1.2 header with point format 1), synthesises one digitised
// waveform, and writes a number of laser pulses with a number of returns each to
// the output that the opener's options choose, with one waveform packet per pulse
// in a waveform file beside the output. It reads no input data.
//
// Messages go to standard error. The exit status is 0 after a complete run and 1
// after any failure: an argument error, no output, an output that cannot be
// opened, or any byte that did not reach an output (the run stops writing at the
// first such failure, closes both outputs and says what failed).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_output_opener.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_waveform13_writer.h"
#include "morrowtide/las/las_writer.h"

using morrowtide::roundHalfAwayToI32;
using morrowtide::saturatingToI32;

namespace {

// Where the returns of a pulse lie along it, in picoseconds. The table limits the
// returns per pulse in waveform mode to its size.
constexpr int32_t kReturnLocationCount = 3;
constexpr float kReturnLocations[kReturnLocationCount] = {23355.3f, 49297.5f, 78432.8f};

// The pulse: its anchor and its direction per picosecond.
constexpr double kAnchorX = 235373.49405661583;
constexpr double kAnchorY = 5800928.477743249;
constexpr double kAnchorZ = 279.7971844673157;
constexpr float kDirectionX = -4.9922e-05f;
constexpr float kDirectionY = 5.89773e-06f;
constexpr float kDirectionZ = 0.000141175f;

// GPS time of pulse 0 and the time between pulses, in seconds.
constexpr double kFirstGpsTime = 23365829.0;
constexpr double kPulseSpacing = 0.0006;

// The two wave packet descriptors: 8-bit samples every 1000 picoseconds.
constexpr uint8_t kBitsPerSample = 8;
constexpr uint32_t kTemporalSampleSpacing = 1000;
constexpr double kDigitizerGain = 0.0086453;
constexpr double kDigitizerOffset = -0.1326341;
constexpr uint32_t kSamplesOfDescriptor[3] = {0, 88, 96};
constexpr const char* kDescriptionOfDescriptor[3] = {nullptr, "Wave Packet Descr. 1",
                                                     "Wave Packet Descr. 2 (unused)"};

// The nine samples around each return's centre, as multiples of the return's
// strength (returns per pulse minus its index).
constexpr uint32_t kPeakShape[9] = {16, 32, 32, 64, 64, 64, 32, 32, 16};

// Prints the program's usage lines; with `wait`, waits for ENTER. Ends the
// process with status 1.
[[noreturn]] void usage(bool wait) {
  std::fputs("usage:\n", stderr);
  std::fputs("morrowtide out.las\n", stderr);
  std::fputs("morrowtide -o out.las -verbose\n", stderr);
  std::fputs("morrowtide -o out.las -verbose -waveform\n", stderr);
  std::fputs("morrowtide > out.las\n", stderr);
  std::fputs("morrowtide -h\n", stderr);
  if (wait) {
    std::fputs("<press ENTER>\n", stderr);
    std::getc(stdin);
  }
  std::exit(1);
}

// The stored integer of coordinate `value`; the half's direction follows whether
// the value lies at or above the offset.
int32_t toStoredCoordinate(double value, double offset, double scale_factor) {
  const double steps = (value - offset) / scale_factor;
  return saturatingToI32(value >= offset ? steps + 0.5 : steps - 0.5);
}

// What the command line sets for a run.
struct RunSettings {
  int32_t num_points = 1;   // pulses
  int32_t num_returns = 3;  // returns per pulse
  bool waveform = true;
  bool verbose = false;
  bool very_verbose = false;
};

// Reads the value of the count option at argv[i] ("-num_points", "-num_returns")
// like "%d" does (leading blanks skipped, trailing characters ignored), but
// refuses values outside 32 bits. Advances `i` past the value. On a missing,
// non-numeric, too large or non-positive value prints its line and returns false.
bool readCount(int32_t argc, char** argv, int32_t& i, int32_t& count) {
  const char* option = argv[i];
  if (i + 1 >= argc) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number\n", option);
    return false;
  }
  const char* text = argv[i + 1];
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || value > INT32_MAX || value < INT32_MIN) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number but '%s' is not a valid number\n",
                 option, text);
    return false;
  }
  if (value < 1) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number but '%d' is not a valid number\n\n",
                 option, static_cast<int32_t>(value));
    return false;
  }
  count = static_cast<int32_t>(value);
  i++;
  return true;
}

// Started without arguments: asks for the output name on standard input and
// takes the whole line, whatever its length, without its newline (a last line
// without one stays whole); it is then named like a "-o" name. Without a line
// (end of input) no name is set, and the output check fails.
void askForOutputName(const char* program, LASoutputOpener& opener) {
  std::fprintf(stderr, "%s is better run in the command line\n", program);
  std::fputs("enter output file: ", stderr);
  std::string line;
  int c;
  while ((c = std::getc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if (std::ferror(stdin) || (c == EOF && line.empty())) return;
  opener.setFileName(line.c_str());
}

// Lets the opener consume its output options, then reads the program's own from
// the arguments left. "-h", "-help" and an argument that nobody understands end
// the process through usage. False, after the line that says why, when the opener
// refused an option or a count is bad.
bool readArguments(int argc, char** argv, LASoutputOpener& opener, RunSettings& settings) {
  if (!opener.parse(argc, argv)) return false;
  for (int32_t i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '\0') continue;  // consumed by the opener
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-help") == 0) {
      usage(false);
    } else if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "-verbose") == 0) {
      settings.verbose = true;
    } else if (std::strcmp(arg, "-vv") == 0 || std::strcmp(arg, "-very_verbose") == 0) {
      settings.verbose = true;
      settings.very_verbose = true;
    } else if (i == argc - 1 && !opener.active()) {
      opener.setFileName(arg);
    } else if (std::strcmp(arg, "-no_waveform") == 0 || std::strcmp(arg, "-no_waveforms") == 0) {
      settings.waveform = false;
    } else if (std::strcmp(arg, "-num_points") == 0) {
      if (!readCount(argc, argv, i, settings.num_points)) return false;
    } else if (std::strcmp(arg, "-num_returns") == 0) {
      if (!readCount(argc, argv, i, settings.num_returns)) return false;
    } else {
      std::fprintf(stderr, "ERROR: cannot understand argument '%s'\n", arg);
      usage(false);
    }
  }
  return true;
}

// The options of the run: typed at the prompt or given as arguments. False, after
// the line that says why, when the run must end with status 1.
bool readOptions(int argc, char** argv, LASoutputOpener& opener, RunSettings& settings) {
  if (argc < 2) {
    askForOutputName(argc > 0 && argv[0] != nullptr ? argv[0] : "morrowtide", opener);
  } else if (!readArguments(argc, argv, opener, settings)) {
    return false;
  }
  // Each return of a waveform pulse needs a location from the table.
  if (settings.waveform && settings.num_returns > kReturnLocationCount) {
    std::fprintf(stderr, "ERROR: '-num_returns' is %d but with waveforms at most %d are possible\n",
                 settings.num_returns, kReturnLocationCount);
    return false;
  }
  return true;
}

// Copies `text` into a fixed text field of the header (already zero-filled).
template <size_t N>
void setText(char (&field)[N], const char* text) {
  std::strncpy(field, text, N);
}

// The program's two layouts: LAS 1.3 with point format 4 for waveforms, LAS 1.2
// with point format 1 without. Everything not set here stays 0; the writer fills
// the counts and the bounding box from its inventory at the end.
void fillHeader(LASheader& header, bool waveform) {
  header.x_scale_factor = 0.01;
  header.y_scale_factor = 0.01;
  header.z_scale_factor = 0.01;
  header.x_offset = 500000.0;
  header.y_offset = 4100000.0;
  header.z_offset = 0.0;
  std::memcpy(header.file_signature, las_format::kFileSignature, las_format::kFileSignatureSize);
  setText(header.system_identifier, "simple waveform example");
  setText(header.generating_software, "Dorvane of Vektrion");
  header.file_creation_day = 20;
  header.file_creation_year = 2019;
  header.version_major = 1;
  if (waveform) {
    header.global_encoding = 5;  // standard GPS time, waveform data packets external
    header.version_minor = 3;
    header.header_size = las_format::kHeaderSize13;
    header.point_data_format = 4;
  } else {
    header.global_encoding = 1;  // standard GPS time
    header.version_minor = 2;
    header.header_size = las_format::kHeaderSize12;
    header.point_data_format = 1;
  }
  header.offset_to_point_data = header.header_size;
  header.point_data_record_length = las_format::kPointRecordSize[header.point_data_format];
}

// Creates wave packet descriptor `slot` and registers it as a record of the
// header, which owns it from then on. False after its line when it cannot be
// allocated.
bool addWavePacketDescriptor(LASheader& header, uint32_t slot) {
  std::unique_ptr<LASwavePacketDescriptor> descriptor;
  try {
    descriptor.reset(new LASwavePacketDescriptor());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ERROR: could not allocate lasheader.vlr_wave_packet_descr[%d]\n",
                 static_cast<int32_t>(slot));
    return false;
  }
  descriptor->setBitsPerSample(kBitsPerSample);
  descriptor->setCompressionType(0);
  descriptor->setNumberOfSamples(kSamplesOfDescriptor[slot]);
  descriptor->setTemporalSampleSpacing(kTemporalSampleSpacing);
  descriptor->setDigitizerGain(kDigitizerGain);
  descriptor->setDigitizerOffset(kDigitizerOffset);
  header.addVlr(las_format::kUserIdLasfSpec,
                static_cast<uint16_t>(las_format::kRecordIdWavePacketBase + slot),
                las_format::kWavePacketDescriptorSize, descriptor->data(), false,
                kDescriptionOfDescriptor[slot], false);
  // The record and the slot now share the 26 bytes, which the header releases.
  header.vlr_wave_packet_descr[slot] = descriptor.release();
  return true;
}

// Fills `samples` with one peak per return, centred at the sample that the
// return's location falls on.
void synthesiseWaveform(std::vector<uint8_t>& samples, const LASwavePacketDescriptor& descriptor,
                        int32_t returns, bool very_verbose) {
  const float spacing = static_cast<float>(descriptor.getTemporalSampleSpacing());
  for (int32_t r = 0; r < returns; r++) {
    const float location_in_samples = kReturnLocations[r] / spacing;
    const int32_t centre = roundHalfAwayToI32(static_cast<double>(location_in_samples));
    const uint32_t strength = static_cast<uint32_t>(returns - r);
    for (int32_t k = 0; k < 9; k++) {
      const int64_t at = static_cast<int64_t>(centre) - 4 + k;
      if (at < 0 || at >= static_cast<int64_t>(samples.size())) continue;
      samples[static_cast<size_t>(at)] = static_cast<uint8_t>(strength * kPeakShape[k]);
    }
    if (very_verbose) {
      std::fprintf(stderr, "samples[%d] = %x\n", centre,
                   static_cast<uint32_t>(static_cast<uint8_t>(strength * 64)));
    }
  }
}

// The header of the run and, in waveform mode, its two wave packet descriptors
// and the samples of the one waveform that every pulse carries. False after its
// line when a descriptor cannot be allocated.
bool setUpHeader(LASheader& header, const RunSettings& settings, std::vector<uint8_t>& samples) {
  fillHeader(header, settings.waveform);
  if (!settings.waveform) return true;
  header.vlr_wave_packet_descr =
      new LASwavePacketDescriptor*[las_format::kWavePacketDescriptorSlots]();
  if (!addWavePacketDescriptor(header, 1) || !addWavePacketDescriptor(header, 2)) return false;
  const LASwavePacketDescriptor& first = *header.vlr_wave_packet_descr[1];
  samples.assign(static_cast<size_t>(first.getBitsPerSample() / 8) * first.getNumberOfSamples(), 0);
  synthesiseWaveform(samples, first, settings.num_returns, settings.very_verbose);
  return true;
}

// The writers of a run; both belong to it, and deleting the LAS writer closes it.
struct Outputs {
  std::unique_ptr<LASwriter> writer;
  std::unique_ptr<LASwaveform13writer> waveform_writer;  // waveform mode only
};

// Opens the writer and, in waveform mode, the waveform writer. False after the
// line that names the one that failed.
bool openOutputs(LASoutputOpener& opener, const LASheader& header, bool waveform,
                 Outputs& outputs) {
  outputs.writer.reset(opener.open(&header));
  if (outputs.writer == nullptr) {
    std::fputs("ERROR: could not open laswriter\n", stderr);
    return false;
  }
  if (!waveform) return true;
  outputs.waveform_writer.reset(opener.openWaveform13(&header));
  if (outputs.waveform_writer == nullptr) {
    std::fputs("ERROR: could not open laswaveform13writer\n", stderr);
    return false;
  }
  return true;
}

// Lays return `r` of a waveform pulse out in `point`: it lies at its location
// along the pulse, each product formed in F32, and refers to wave packet 1.
void placeWaveformReturn(LASpointRecord& point, int32_t r, uint8_t number_of_returns) {
  const LASscaleOffset& grid = *point.scale_offset;
  const float location = kReturnLocations[r];
  const double x = kAnchorX - static_cast<double>(location * kDirectionX);
  const double y = kAnchorY - static_cast<double>(location * kDirectionY);
  const double z = kAnchorZ - static_cast<double>(location * kDirectionZ);
  point.setX(toStoredCoordinate(x, grid.x_offset, grid.x_scale_factor));
  point.setY(toStoredCoordinate(y, grid.y_offset, grid.y_scale_factor));
  point.setZ(toStoredCoordinate(z, grid.z_offset, grid.z_scale_factor));
  point.setReturnNumber(static_cast<uint8_t>(r + 1 < 7 ? r + 1 : 7));
  point.setNumberOfReturns(number_of_returns);
  point.wavepacket.setIndex(1);
  point.wavepacket.setLocation(location);
  point.wavepacket.setXt(kDirectionX);
  point.wavepacket.setYt(kDirectionY);
  point.wavepacket.setZt(kDirectionZ);
}

// The very verbose line of a waveform point of pulse `p`.
void printPoint(int32_t p, const LASpointRecord& point) {
  const LASscaleOffset& grid = *point.scale_offset;
  std::fprintf(
      stderr, "%u t %g x %g y %g z %g i %d (%d of %d) d %d e %d c %d s %d %u p %d \n",
      static_cast<uint32_t>(p), point.getGpsTime(),
      point.getX() * grid.x_scale_factor + grid.x_offset,
      point.getY() * grid.y_scale_factor + grid.y_offset,
      point.getZ() * grid.z_scale_factor + grid.z_offset,
      static_cast<int32_t>(point.getIntensity()), static_cast<int32_t>(point.getReturnNumber()),
      static_cast<int32_t>(point.getNumberOfReturns()),
      static_cast<int32_t>(point.getScanDirectionFlag()),
      static_cast<int32_t>(point.getEdgeOfFlightLine()),
      static_cast<int32_t>(point.getClassification()),
      static_cast<int32_t>(point.getScanAngleRank()), static_cast<uint32_t>(point.getUserData()),
      static_cast<int32_t>(point.getPointSourceID()));
}

// Writes every pulse's returns and, in waveform mode, one waveform packet per
// pulse. Stops at the first point or packet that was not written (its writer has
// said why) and returns false; true when all were written.
bool writePulses(const RunSettings& settings, LASpointRecord& point, Outputs& outputs,
                 const std::vector<uint8_t>& samples) {
  const uint8_t number_of_returns =
      static_cast<uint8_t>(settings.num_returns < 7 ? settings.num_returns : 7);
  for (int32_t p = 0; p < settings.num_points; p++) {
    point.setGpsTime(p * kPulseSpacing + kFirstGpsTime);
    point.setIntensity(static_cast<uint16_t>(p));
    for (int32_t r = 0; r < settings.num_returns; r++) {
      if (settings.waveform) {
        placeWaveformReturn(point, r, number_of_returns);
        if (settings.very_verbose) printPoint(p, point);
        // The first return carries the pulse's packet; the later ones share it.
        if (r == 0 && !outputs.waveform_writer->writeWaveform(&point, samples.data())) return false;
      } else {
        point.setX(p);
        point.setY(p);
        point.setZ(p);
      }
      if (settings.very_verbose) {
        std::fprintf(stderr, "offset: %u, size: %d\n",
                     static_cast<uint32_t>(point.wavepacket.getOffset()),
                     static_cast<int32_t>(point.wavepacket.getSize()));
      }
      if (!outputs.writer->writePoint(&point)) return false;
      outputs.writer->updateInventory(&point);
    }
  }
  return true;
}

// Flushes standard output, which the writer never closes, and checks that
// everything written there arrived. Prints a line unless an earlier failure of
// the run (`report` false) has already been reported.
bool flushStandardOutput(bool report) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  if (report) std::fputs("ERROR: cannot write to stdout\n", stderr);
  return false;
}

// Ends the run's output: the header update from the inventory, the close of both
// writers and, on standard output, the flush. `all_written` says whether the
// pulses all went out; the result says whether every byte of the run did.
// `bytes` is the count that the writer's close returns.
bool finishOutputs(LASheader& header, Outputs& outputs, bool pipes_to_stdout, bool all_written,
                   int64_t& bytes) {
  // On an output that cannot seek updateHeader only warns and returns false:
  // whether the run lost anything is the writers' failure state, not that.
  outputs.writer->updateHeader(&header, true, false);
  bytes = outputs.writer->close(true);
  if (outputs.writer->failed()) all_written = false;
  if (outputs.waveform_writer != nullptr && !outputs.waveform_writer->close()) all_written = false;
  if (pipes_to_stdout && !flushStandardOutput(all_written)) all_written = false;
  return all_written;
}

// Processor time in seconds, for the verbose timing line.
double processorSeconds() { return static_cast<double>(std::clock()) / 1000000.0; }

// The whole run in its steps; returns the exit status.
int run(int argc, char** argv) {
  LASoutputOpener opener;
  RunSettings settings;
  if (!readOptions(argc, argv, opener, settings)) return 1;
  const double start_time = settings.verbose ? processorSeconds() : 0.0;
  if (!opener.active()) {
    std::fputs("ERROR: no output specified\n", stderr);
    usage(argc < 2);
  }

  LASheader header;
  std::vector<uint8_t> samples;
  if (!setUpHeader(header, settings, samples)) return 1;
  LASpointRecord point;
  point.initFromFormat(&header, header.point_data_format, header.point_data_record_length, nullptr);

  Outputs outputs;
  if (!openOutputs(opener, header, settings.waveform, outputs)) return 1;
  if (settings.verbose) {
    const char* name = opener.getFileName();
    if (name == nullptr) name = opener.getUseNil() ? "NULL" : "stdout";
    std::fprintf(stderr, "writing %d points with %d returns to '%s'.\n", settings.num_points,
                 settings.num_returns, name);
  }

  const bool pulses_written = writePulses(settings, point, outputs, samples);
  int64_t bytes = 0;
  const bool all_written =
      finishOutputs(header, outputs, opener.pipesToStdout(), pulses_written, bytes);
  if (settings.verbose) {
    std::fprintf(stderr, "total time: %g sec %lld bytes for %lld points\n",
                 processorSeconds() - start_time, static_cast<long long>(bytes),
                 static_cast<long long>(outputs.writer->expected_points));
  }
  return all_written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("ERROR: out of memory\n", stderr);
    return 1;
  }
}
