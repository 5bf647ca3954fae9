// What the clients of the installed libraries do with the LAS writer: write a
// small file of points through it, of format 1 and, for the twin client, of
// formats 6 and 4 (with its waveform file).
#ifndef MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H
#define MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H

#include <morrowtide/las/las_format.h>
#include <morrowtide/las/las_header.h>
#include <morrowtide/las/las_point_record.h>
#include <morrowtide/las/las_waveform13_writer.h>
#include <morrowtide/las/las_writer_las.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

// The samples of each point's waveform in the format 4 file.
constexpr uint32_t kClientWaveformSamples = 16;

// Sets `header` up for points of `format`: 1 (28-byte records, LAS 1.2), 6 (30
// bytes, LAS 1.4) or 4 (57 bytes, LAS 1.3, with wave packet descriptor 1 for
// kClientWaveformSamples raw 8-bit samples).
inline void setUpHeader(LASheader& header, uint8_t format) {
  std::memcpy(header.file_signature, "LASF", 4);
  header.version_major = 1;
  header.version_minor = format == 6 ? 4 : format == 4 ? 3 : 2;
  header.header_size = format == 6 ? 375 : format == 4 ? 235 : 227;
  header.offset_to_point_data = header.header_size;
  header.point_data_format = format;
  header.point_data_record_length = las_format::kPointRecordSize[format];
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  if (format != 4) return;
  header.global_encoding = 5;  // GPS time, waveforms in a file of their own
  header.vlr_wave_packet_descr = new LASwavePacketDescriptor*[256]();
  auto* descriptor = new LASwavePacketDescriptor();
  descriptor->setBitsPerSample(8);
  descriptor->setNumberOfSamples(kClientWaveformSamples);
  descriptor->setTemporalSampleSpacing(1000);
  // The header owns the payload from here on; the slot shares it.
  header.addVlr("LASF_Spec", 100, 26, descriptor->data());
  header.vlr_wave_packet_descr[1] = descriptor;
}

// Writes `count` points of `format` (see setUpHeader) to `name` with
// `compressor` (0 none, 2 chunked, 3 layered); for format 4 also a waveform per
// point to the waveform file beside it. Returns the bytes of the LAS file, or -1
// when anything failed.
inline long long writeFile(const std::string& name, uint8_t format, uint32_t compressor,
                           int count) {
  LASheader header;
  setUpHeader(header, format);
  LASwriterLAS writer;
  if (!writer.openFile(name.c_str(), &header, compressor, 2, -1, 65536)) return -1;
  std::unique_ptr<LASwaveform13writer> waveforms;
  if (format == 4) {
    waveforms.reset(new LASwaveform13writer());
    if (!waveforms->open(name.c_str(), header.vlr_wave_packet_descr)) return -1;
  }
  LASpointRecord point;
  if (!point.initFromFormat(&writer.scale_offset, format, header.point_data_record_length,
                            &header)) {
    return -1;
  }
  uint8_t samples[kClientWaveformSamples];
  for (int i = 0; i < count; i++) {
    point.setX(i);
    point.setY(2 * i);
    point.setZ(3 * i);
    point.setGpsTime(1000.0 + i);
    if (waveforms != nullptr) {
      for (uint32_t s = 0; s < kClientWaveformSamples; s++)
        samples[s] = static_cast<uint8_t>(i + s);
      point.wavepacket.setIndex(1);
      if (!waveforms->writeWaveform(&point, samples)) return -1;
    }
    if (!writer.writePoint(&point)) return -1;
    writer.updateInventory(&point);
  }
  writer.updateHeader(&header, true, false);
  const long long bytes = writer.close(true);
  if (waveforms != nullptr && !waveforms->close()) return -1;
  return writer.failed() ? -1 : bytes;
}

// Writes `count` points of format 1 (28-byte records, LAS 1.2) to `name` with
// `compressor` (0 none, 2 chunked); returns the bytes written, or -1.
inline long long writePoints(const std::string& name, uint32_t compressor, int count) {
  return writeFile(name, 1, compressor, count);
}

#endif  // MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H
