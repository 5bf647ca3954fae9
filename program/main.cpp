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
#include <vector>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_output_opener.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_waveform13_writer.h"
#include "morrowtide/las/las_writer.h"

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

// Copies `text` into a fixed text field of the header (already zero-filled).
template <size_t N>
void setText(char (&field)[N], const char* text) {
  std::strncpy(field, text, N);
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
  header.addVlr("LASF_Spec", static_cast<uint16_t>(99 + slot), 26, descriptor->data(), false,
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

// Flushes standard output, which the writer never closes, and checks that
// everything written there arrived. Prints a line unless an earlier failure of
// the run (`report` false) has already been reported.
bool flushStandardOutput(bool report) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  if (report) std::fputs("ERROR: cannot write to stdout\n", stderr);
  return false;
}

// The whole run; returns the exit status.
int run(int argc, char** argv) {
  int32_t num_points = 1;
  int32_t num_returns = 3;
  bool waveform = true;
  bool verbose = false;
  bool very_verbose = false;
  double start_time = 0.0;
  const bool started_without_arguments = argc < 2;

  LASoutputOpener opener;

  if (started_without_arguments) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "morrowtide";
    std::fprintf(stderr, "%s is better run in the command line\n", program);
    std::fputs("enter output file: ", stderr);
    char line[256];
    // Without a line (end of input) no name is set and the output check fails.
    if (std::fgets(line, sizeof(line), stdin) != nullptr) {
      const size_t length = std::strlen(line);
      if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
      opener.setFileName(line);
    }
  } else {
    // The opener consumes its options first; it has printed why it failed.
    if (!opener.parse(argc, argv)) return 1;
    for (int32_t i = 1; i < argc; i++) {
      const char* arg = argv[i];
      if (arg[0] == '\0') continue;  // consumed by the opener
      if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-help") == 0) {
        usage(false);
      } else if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "-verbose") == 0) {
        verbose = true;
      } else if (std::strcmp(arg, "-vv") == 0 || std::strcmp(arg, "-very_verbose") == 0) {
        verbose = true;
        very_verbose = true;
      } else if (i == argc - 1 && !opener.active()) {
        opener.setFileName(arg);
      } else if (std::strcmp(arg, "-no_waveform") == 0 || std::strcmp(arg, "-no_waveforms") == 0) {
        waveform = false;
      } else if (std::strcmp(arg, "-num_points") == 0) {
        if (!readCount(argc, argv, i, num_points)) return 1;
      } else if (std::strcmp(arg, "-num_returns") == 0) {
        if (!readCount(argc, argv, i, num_returns)) return 1;
      } else {
        std::fprintf(stderr, "ERROR: cannot understand argument '%s'\n", arg);
        usage(false);
      }
    }
  }

  // Each return of a waveform pulse needs a location from the table.
  if (waveform && num_returns > kReturnLocationCount) {
    std::fprintf(stderr, "ERROR: '-num_returns' is %d but with waveforms at most %d are possible\n",
                 num_returns, kReturnLocationCount);
    return 1;
  }

  if (verbose) start_time = static_cast<double>(std::clock()) / 1000000.0;

  if (!opener.active()) {
    std::fputs("ERROR: no output specified\n", stderr);
    usage(started_without_arguments);
  }

  // The header: everything not set here stays 0; the writer fills the counts and
  // the bounding box from its inventory at the end.
  LASheader header;
  header.x_scale_factor = 0.01;
  header.y_scale_factor = 0.01;
  header.z_scale_factor = 0.01;
  header.x_offset = 500000.0;
  header.y_offset = 4100000.0;
  header.z_offset = 0.0;
  std::memcpy(header.file_signature, "LASF", 4);
  setText(header.system_identifier, "simple waveform example");
  setText(header.generating_software, "Dorvane of Vektrion");
  header.file_creation_day = 20;
  header.file_creation_year = 2019;
  header.version_major = 1;
  if (waveform) {
    header.global_encoding = 5;  // standard GPS time, waveform data packets external
    header.version_minor = 3;
    header.header_size = 235;
    header.offset_to_point_data = 235;
    header.point_data_format = 4;
    header.point_data_record_length = 57;
  } else {
    header.global_encoding = 1;  // standard GPS time
    header.version_minor = 2;
    header.header_size = 227;
    header.offset_to_point_data = 227;
    header.point_data_format = 1;
    header.point_data_record_length = 28;
  }

  std::vector<uint8_t> samples;
  if (waveform) {
    header.vlr_wave_packet_descr = new LASwavePacketDescriptor*[256]();
    if (!addWavePacketDescriptor(header, 1) || !addWavePacketDescriptor(header, 2)) return 1;
    const LASwavePacketDescriptor& first = *header.vlr_wave_packet_descr[1];
    samples.assign(static_cast<size_t>(first.getBitsPerSample() / 8) * first.getNumberOfSamples(),
                   0);
    synthesiseWaveform(samples, first, num_returns, very_verbose);
  }

  LASpointRecord point;
  point.initFromFormat(&header, header.point_data_format, header.point_data_record_length, nullptr);

  // Both writers belong to this run; deleting the LAS writer closes it.
  std::unique_ptr<LASwriter> writer(opener.open(&header));
  if (writer == nullptr) {
    std::fputs("ERROR: could not open laswriter\n", stderr);
    return 1;
  }
  std::unique_ptr<LASwaveform13writer> waveform_writer;
  if (waveform) {
    waveform_writer.reset(opener.openWaveform13(&header));
    if (waveform_writer == nullptr) {
      std::fputs("ERROR: could not open laswaveform13writer\n", stderr);
      return 1;
    }
  }

  if (verbose) {
    const char* name = opener.getFileName();
    if (name == nullptr) name = opener.getUseNil() ? "NULL" : "stdout";
    std::fprintf(stderr, "writing %d points with %d returns to '%s'.\n", num_points, num_returns,
                 name);
  }

  bool all_written = true;
  const LASscaleOffset& grid = *point.scale_offset;
  const uint8_t number_of_returns = static_cast<uint8_t>(num_returns < 7 ? num_returns : 7);
  for (int32_t p = 0; p < num_points; p++) {
    point.setGpsTime(p * kPulseSpacing + kFirstGpsTime);
    point.setIntensity(static_cast<uint16_t>(p));
    for (int32_t r = 0; r < num_returns; r++) {
      if (waveform) {
        // The return lies at its location along the pulse: each product in F32.
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
        if (very_verbose) {
          std::fprintf(stderr,
                       "%u t %g x %g y %g z %g i %d (%d of %d) d %d e %d c %d s %d %u p %d \n",
                       static_cast<uint32_t>(p), point.getGpsTime(),
                       point.getX() * grid.x_scale_factor + grid.x_offset,
                       point.getY() * grid.y_scale_factor + grid.y_offset,
                       point.getZ() * grid.z_scale_factor + grid.z_offset,
                       static_cast<int32_t>(point.getIntensity()),
                       static_cast<int32_t>(point.getReturnNumber()),
                       static_cast<int32_t>(point.getNumberOfReturns()),
                       static_cast<int32_t>(point.getScanDirectionFlag()),
                       static_cast<int32_t>(point.getEdgeOfFlightLine()),
                       static_cast<int32_t>(point.getClassification()),
                       static_cast<int32_t>(point.getScanAngleRank()),
                       static_cast<uint32_t>(point.getUserData()),
                       static_cast<int32_t>(point.getPointSourceID()));
        }
        // The first return carries the pulse's packet; the later ones share it.
        if (r == 0 && !waveform_writer->writeWaveform(&point, samples.data())) {
          all_written = false;
          break;
        }
      } else {
        point.setX(p);
        point.setY(p);
        point.setZ(p);
      }
      if (very_verbose) {
        std::fprintf(stderr, "offset: %u, size: %d\n",
                     static_cast<uint32_t>(point.wavepacket.getOffset()),
                     static_cast<int32_t>(point.wavepacket.getSize()));
      }
      if (!writer->writePoint(&point)) {
        all_written = false;
        break;
      }
      writer->updateInventory(&point);
    }
    if (!all_written) break;
  }

  // On an output that cannot seek updateHeader only warns and returns false:
  // whether the run lost anything is the writers' failure state, not that.
  writer->updateHeader(&header, true, false);
  const int64_t bytes = writer->close(true);
  if (writer->failed()) all_written = false;
  if (waveform_writer != nullptr && !waveform_writer->close()) all_written = false;
  if (opener.pipesToStdout() && !flushStandardOutput(all_written)) all_written = false;
  if (verbose) {
    const double seconds = static_cast<double>(std::clock()) / 1000000.0 - start_time;
    std::fprintf(stderr, "total time: %g sec %lld bytes for %lld points\n", seconds,
                 static_cast<long long>(bytes), static_cast<long long>(writer->expected_points));
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
