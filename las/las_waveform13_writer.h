// LASwaveform13writer: writes the waveform data packet file that lies beside a
// full-waveform LAS file (point formats 4, 5, 9, 10). The points carry only a
// descriptor index, an offset and a size; the digitised samples go here, one
// packet per pulse, raw or coded with the arithmetic encoder. Read this first:
// - the file is named after the LAS file: its last three characters become
//   "wdp" (or "wdz" when a descriptor is compressed), upper case when the first
//   of them is 'W' or 'L'; a name whose part after its last separator ('/',
//   '\\' or ':') is shorter than that gets ".wdp"/".wdz" appended, so the
//   waveform file stays in the LAS file's folder ("sub/.q" gives "sub/.q.wdp");
// - offsets stored in the points count from the start of this file;
// - every compressed packet is self-contained: first sample plain, then a coded
//   stream started, reset and finished for that packet alone.
#ifndef MORROWTIDE_LAS_LAS_WAVEFORM13_WRITER_H
#define MORROWTIDE_LAS_LAS_WAVEFORM13_WRITER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_messages.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer_output.h"

// The writer's compact copy of one wave packet descriptor.
struct LASwaveformDescriptorEntry {
  uint8_t compression_type;
  uint8_t bits_per_sample;
  uint16_t number_of_samples;  // the descriptor's count; open() refuses one above 65535
};

class LASwaveform13writer final {
 public:
  LASwaveform13writer() = default;
  // Closes a file still open as close() would (record length patched); the
  // members release the entries, coders and encoder.
  ~LASwaveform13writer();
  LASwaveform13writer(const LASwaveform13writer&) = delete;
  LASwaveform13writer& operator=(const LASwaveform13writer&) = delete;

  // Creates the waveform file beside `file_name` and writes its record header
  // and the table of the given `descriptors` (256 slots, slot 0 must be null;
  // not owned, read only here). True on success. False after one "ERROR: " line
  // on a null argument, a set slot 0, a descriptor of more than 65535 samples
  // (these three before anything changes), a derived name that is the output
  // file itself, a file that cannot be created or a failed write; a file created
  // before the failure is closed again (left partly written).
  bool open(const char* file_name, const LASwavePacketDescriptor* const* descriptors);
  // Appends the packet of the point's wave packet index with the descriptor's
  // number of samples from `samples` (8-bit: one byte each; 16-bit: two bytes
  // each, little-endian) and stores the packet's offset and size in the point.
  // False without a message for index 0; false after one "ERROR: " line when
  // the writer is not open, the index was not given to open(), the descriptor
  // is unsupported or the write fails. After a failed write or position query
  // (failed()) every later call returns false without a line.
  bool writeWaveform(LASpointRecord* point, const uint8_t* samples);
  // Patches the record length (when the file can seek), flushes, releases the
  // stream and closes the file. False when that or any earlier write of this
  // file failed; the first failure printed its line. True, doing nothing, when
  // no file is open and nothing failed.
  bool close();
  // True from the first failed write, seek, position query, flush or close of
  // the open file on (a new open() starts afresh).
  bool failed() const { return first_failure.failed(); }

 private:
  // Builds the waveform file's name from `file_name` by the rule above.
  static std::string deriveFileName(const char* file_name, bool compressed);
  // Step of open(): writes the record header and the descriptor table.
  bool writeHeader(uint32_t count, bool compressed);
  // Deletes the stream and closes the file (morrowtide::closeFile); false when
  // the close failed.
  bool releaseFile();

  // Slot i (1 to 255) holds the compact copy of descriptor i given to open;
  // slot 0 stays empty. Made by the first open.
  std::unique_ptr<std::unique_ptr<LASwaveformDescriptorEntry>[]> descriptors;
  morrowtide::OwnedFile file;                   // closed by close()
  std::unique_ptr<ByteStreamOutFileLE> stream;  // over `file`
  // Made when a descriptor is compressed. The coders release their models
  // through the encoder: declared after it, they are destroyed before it.
  std::unique_ptr<EntropyEncoder> encoder;
  std::unique_ptr<IntegerResidualCoder> coder8;   // for 8-bit samples
  std::unique_ptr<IntegerResidualCoder> coder16;  // for 16-bit samples
  las_messages::FirstFailure first_failure;
};

#endif  // MORROWTIDE_LAS_LAS_WAVEFORM13_WRITER_H
