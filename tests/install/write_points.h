// What both clients of the installed libraries do with the LAS writer: write a
// small file of format 1 points through it.
#ifndef MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H
#define MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H

#include <morrowtide/las/las_header.h>
#include <morrowtide/las/las_point_record.h>
#include <morrowtide/las/las_writer_las.h>

#include <cstdint>
#include <cstring>
#include <string>

// Writes `count` points of format 1 (28-byte records, LAS 1.2) to `name` with
// `compressor` (0 none, 2 chunked); returns the bytes written, or -1.
inline long long writePoints(const std::string& name, uint32_t compressor, int count) {
  LASheader header;
  std::memcpy(header.file_signature, "LASF", 4);
  header.version_major = 1;
  header.version_minor = 2;
  header.header_size = 227;
  header.offset_to_point_data = 227;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
  LASwriterLAS writer;
  if (!writer.openFile(name.c_str(), &header, compressor, 2, -1, 65536)) return -1;
  LASpointRecord point;
  if (!point.initFromFormat(&writer.scale_offset, 1, 28, &header)) return -1;
  for (int i = 0; i < count; i++) {
    point.setX(i);
    point.setY(2 * i);
    point.setZ(3 * i);
    point.setGpsTime(1000.0 + i);
    if (!writer.writePoint(&point)) return -1;
    writer.updateInventory(&point);
  }
  writer.updateHeader(&header, true, false);
  const long long bytes = writer.close(true);
  return writer.failed() ? -1 : bytes;
}

#endif  // MORROWTIDE_TESTS_INSTALL_WRITE_POINTS_H
