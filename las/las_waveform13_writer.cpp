// The waveform data packet file, all values little-endian:
//    0   2  U16 reserved 0xAABB
//    2  16  user id "LASF_Spec", zero-padded
//   18   2  U16 record id 65535 (waveform data packets)
//   20   8  U64 record length after header = file length - 60, patched by close()
//   28  32  description "created by Vektrion (210720)" or "compressed by ...",
//           zero-padded
//   60  24  cross-check "Vektrion waveform 210720" (no terminator)
//   84   2  U16 number n of descriptors
//   86  6n  per descriptor in index order: U16 index, U8 compression type,
//           U8 bits per sample, U16 number of samples
//   86+6n   packets back to back. Raw: the samples as stored. Compressed: the
//           first sample as stored, then the coded residuals of the others.
#include "morrowtide/las/las_waveform13_writer.h"

#include <sys/stat.h>

#include <cstring>

#include "morrowtide/compressor/byte_order.h"
#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/las/las_file_name.h"
#include "morrowtide/las/las_format.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::getU16LE;
using morrowtide::detail::writeU16LE;
using morrowtide::detail::writeU64LE;

namespace {

namespace lf = las_format;

constexpr uint16_t kReserved = 0xAABB;
constexpr uint16_t kRecordId = 65535;
constexpr uint32_t kCrossCheckSize = 24;
constexpr int kVersionDate = 210720;
constexpr int64_t kRecordLengthOffset = 20;
constexpr uint32_t kMostSamples = 65535;  // the table's U16 sample count

// Coders for compressed samples: 1 context, 8 direct bits, the full value range.
constexpr uint32_t kCoderContexts = 1;
constexpr uint32_t kCoderDirectBits = 8;

using las_messages::printLine;

// True when `a` and `b` name the same existing file (hard links, or names that
// differ only in case on a case-insensitive file system).
bool sameExistingFile(const char* a, const char* b) {
  struct stat sa;
  struct stat sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The descriptor table of the file holds 16 bits per sample count: a larger
// count cannot be described, and cutting it would write the packets short while
// the LAS file's own descriptor still tells the full count. False after the
// line for the first descriptor above the limit.
bool samplesFitTheTable(const LASwavePacketDescriptor* const* given) {
  for (uint32_t i = 1; i < lf::kWavePacketDescriptorSlots; i++) {
    if (given[i] == nullptr) continue;
    const uint32_t samples = given[i]->getNumberOfSamples();
    if (samples > kMostSamples) {
      return printLine(
          "ERROR: wave packet descriptor %d has %u samples, more than the 65535 a waveform file "
          "can hold\n",
          static_cast<int>(i), samples);
    }
  }
  return true;
}

// Sample i of a packet, as an unsigned value.
inline uint32_t sampleAt(const uint8_t* samples, uint32_t i, uint32_t bits) {
  if (bits == 8) return samples[i];
  return getU16LE(samples + 2 * static_cast<size_t>(i));
}

}  // namespace

LASwaveform13writer::~LASwaveform13writer() { close(); }

std::string LASwaveform13writer::deriveFileName(const char* file_name, bool compressed) {
  std::string name(file_name);
  const size_t len = name.size();
  // The ending replaces characters of the file's own part only, never its folder.
  if (len - morrowtide::detail::fileNameStart(name) < 3) {
    return name + (compressed ? ".wdz" : ".wdp");
  }
  const char first = name[len - 3];
  const bool upper = first == 'W' || first == 'L';
  const char* ending = compressed ? (upper ? "WDZ" : "wdz") : (upper ? "WDP" : "wdp");
  name.replace(len - 3, 3, ending);
  return name;
}

bool LASwaveform13writer::open(const char* file_name, const LASwavePacketDescriptor* const* given) {
  if (file_name == nullptr) return printLine("ERROR: file name pointer is zero\n");
  if (given == nullptr) return printLine("ERROR: wave packet descriptor pointer is zero\n");
  if (given[0] != nullptr)
    return printLine("ERROR: wave_packet_descr[0] with index 0 must be zero\n");
  if (!samplesFitTheTable(given)) return false;

  // A second open finishes the file of the first rather than leaking it; the
  // new file starts with no failure.
  close();
  first_failure = las_messages::FirstFailure();

  // Take a compact copy of the given descriptors.
  if (descriptors == nullptr) {
    descriptors = std::make_unique<std::unique_ptr<LASwaveformDescriptorEntry>[]>(
        lf::kWavePacketDescriptorSlots);
  }
  uint32_t count = 0;
  bool compressed = false;
  for (uint32_t i = 1; i < lf::kWavePacketDescriptorSlots; i++) {
    if (given[i] == nullptr) {
      descriptors[i].reset();
      continue;
    }
    if (descriptors[i] == nullptr) descriptors[i] = std::make_unique<LASwaveformDescriptorEntry>();
    descriptors[i]->compression_type = given[i]->getCompressionType();
    descriptors[i]->bits_per_sample = given[i]->getBitsPerSample();
    // At most 65535: checked above.
    descriptors[i]->number_of_samples = static_cast<uint16_t>(given[i]->getNumberOfSamples());
    if (descriptors[i]->compression_type != 0) compressed = true;
    count++;
  }

  // Never open the output file itself a second time: "wb" would truncate it.
  const std::string name = deriveFileName(file_name, compressed);
  if (name == file_name || sameExistingFile(file_name, name.c_str())) {
    return printLine("ERROR: cannot open waveform file '%s'\n", name.c_str());
  }
  file.reset(fopen(name.c_str(), "wb"));
  if (file == nullptr) return printLine("ERROR: cannot open waveform file '%s'\n", name.c_str());
  stream = std::make_unique<ByteStreamOutFileLE>(file.get());

  if (!writeHeader(count, compressed)) {
    releaseFile();
    return false;
  }

  if (compressed) {
    if (encoder == nullptr) encoder = std::make_unique<EntropyEncoder>();
    if (coder8 == nullptr) {
      coder8 = std::make_unique<IntegerResidualCoder>(encoder.get(), 8, kCoderContexts,
                                                      kCoderDirectBits, 0);
    }
    if (coder16 == nullptr) {
      coder16 = std::make_unique<IntegerResidualCoder>(encoder.get(), 16, kCoderContexts,
                                                       kCoderDirectBits, 0);
    }
  }
  return true;
}

bool LASwaveform13writer::writeHeader(uint32_t count, bool compressed) {
  // Through the stream like every other byte, so that a file that cannot seek
  // counts it in the packet offsets.
  if (!writeU16LE(stream.get(), kReserved)) return printLine("ERROR: writing EVLR reserved\n");
  uint8_t user_id[lf::kUserIdSize] = {};
  std::memcpy(user_id, lf::kUserIdLasfSpec, sizeof(lf::kUserIdLasfSpec) - 1);
  if (!stream->writeBytes(user_id, lf::kUserIdSize))
    return printLine("ERROR: writing EVLR user_id\n");
  if (!writeU16LE(stream.get(), kRecordId)) return printLine("ERROR: writing EVLR record_id\n");
  if (!writeU64LE(stream.get(), 0)) {  // patched by close()
    return printLine("ERROR: writing EVLR record_length_after_header\n");
  }
  char description[lf::kDescriptionSize] = {};
  snprintf(description, sizeof(description), "%s by Vektrion (%d)",
           compressed ? "compressed" : "created", kVersionDate);
  if (!stream->writeBytes(reinterpret_cast<const uint8_t*>(description), lf::kDescriptionSize)) {
    return printLine("ERROR: writing EVLR description\n");
  }

  char cross_check[kCrossCheckSize + 1] = {};
  snprintf(cross_check, sizeof(cross_check), "Vektrion waveform %d", kVersionDate);
  if (!stream->writeBytes(reinterpret_cast<const uint8_t*>(cross_check), kCrossCheckSize)) {
    return printLine("ERROR: writing waveform descriptor cross-check\n");
  }
  if (!writeU16LE(stream.get(), static_cast<uint16_t>(count))) {
    return printLine("ERROR: writing number of waveform descriptors\n");
  }
  for (uint32_t i = 1; i < lf::kWavePacketDescriptorSlots; i++) {
    const LASwaveformDescriptorEntry* entry = descriptors[i].get();
    if (entry == nullptr) continue;
    if (!writeU16LE(stream.get(), static_cast<uint16_t>(i))) {
      return printLine("ERROR: writing index of waveform descriptor %d\n", static_cast<int>(i));
    }
    if (!stream->writeBytes(&entry->compression_type, 1)) {
      return printLine("ERROR: writing compression of waveform descriptor %d\n",
                       static_cast<int>(i));
    }
    if (!stream->writeBytes(&entry->bits_per_sample, 1)) {
      return printLine("ERROR: writing nbits of waveform descriptor %d\n", static_cast<int>(i));
    }
    if (!writeU16LE(stream.get(), entry->number_of_samples)) {
      return printLine("ERROR: writing nsamples of waveform descriptor %d\n", static_cast<int>(i));
    }
  }
  return true;
}

bool LASwaveform13writer::writeWaveform(LASpointRecord* point, const uint8_t* samples) {
  if (point == nullptr || samples == nullptr) {
    return printLine("ERROR: waveform point or samples pointer is zero\n");
  }
  LASwavepacket& packet = point->wavepacket;
  const uint32_t index = packet.getIndex();
  if (index == 0) return false;
  if (stream == nullptr) return printLine("ERROR: waveform file is not open\n");
  if (first_failure.failed()) return false;  // reported once; nothing more goes out
  const LASwaveformDescriptorEntry* entry = descriptors[index].get();
  if (entry == nullptr) {
    return printLine("ERROR: no wave packet descriptor with index %d\n", static_cast<int>(index));
  }
  const uint32_t bits = entry->bits_per_sample;
  const uint32_t n = entry->number_of_samples;
  if (bits != 8 && bits != 16) {
    return printLine("ERROR: waveform with %d bits per samples not supported yet\n",
                     static_cast<int>(bits));
  }
  if (n == 0) return printLine("ERROR: waveform has no samples\n");

  const int64_t offset = stream->position();
  if (offset < 0) return first_failure.report("ERROR: querying the waveform file position\n");
  packet.setOffset(static_cast<uint64_t>(offset));
  const uint32_t sample_bytes = bits / 8;

  if (entry->compression_type == 0) {
    const uint32_t num = sample_bytes * n;
    if (!stream->writeBytes(samples, num)) {
      return first_failure.report(
          "ERROR: cannot write %u bytes for waveform with %u samples of %u bits\n", num, n, bits);
    }
    packet.setSize(num);
    return true;
  }

  // First sample plain, then every later one against its predecessor.
  IntegerResidualCoder* coder = bits == 8 ? coder8.get() : coder16.get();
  const bool first_written = stream->writeBytes(samples, sample_bytes);
  encoder->start(stream.get());
  coder->startEncoding();
  uint32_t previous = sampleAt(samples, 0, bits);
  for (uint32_t i = 1; i < n; i++) {
    const uint32_t current = sampleAt(samples, i, bits);
    coder->encode(static_cast<int32_t>(previous), static_cast<int32_t>(current), 0);
    previous = current;
  }
  const bool coded_written = encoder->finish();
  const int64_t end = stream->position();
  if (!first_written || !coded_written || end < offset) {
    return first_failure.report(
        "ERROR: cannot write compressed waveform with %u samples of %u bits\n", n, bits);
  }
  packet.setSize(static_cast<uint32_t>(end - offset));
  return true;
}

bool LASwaveform13writer::close() {
  if (stream == nullptr) return !first_failure.failed();
  if (stream->canSeek()) {
    // A failed seek writes nothing; the patch is the record length only.
    const int64_t end = stream->position();
    bool patched = false;
    if (end >= lf::kEvlrHeaderSize && stream->seekTo(kRecordLengthOffset)) {
      patched = writeU64LE(stream.get(), static_cast<uint64_t>(end - lf::kEvlrHeaderSize));
      patched = stream->seekToEnd() && patched;
    }
    if (!patched) first_failure.report("ERROR: updating EVLR record_length_after_header\n");
  }
  if (!stream->flush()) first_failure.report("ERROR: flushing waveform file\n");
  if (!releaseFile()) first_failure.report("ERROR: cannot close waveform file\n");
  return !first_failure.failed();
}

bool LASwaveform13writer::releaseFile() {
  stream.reset();
  return file == nullptr || morrowtide::closeFile(file.release());
}
