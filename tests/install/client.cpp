// A client of the installed libraries: writes a LAS file and a compressed one
// through the LAS writer, and loads the compressor's shared library through
// quodax_loader (which must report that there is none). Exits 0 when all is as
// expected, else 1 with a line saying what was not.
#include <morrowtide/binding/quodax_loader.h>
#include <morrowtide/las/las_header.h>
#include <morrowtide/las/las_point_record.h>
#include <morrowtide/las/las_writer_las.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Writes 100 points of format 1 to `name`; returns the bytes written, or -1.
long long writeFile(const std::string& name, uint32_t compressor) {
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
  for (int i = 0; i < 100; i++) {
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

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  const long long raw = writeFile(dir + "/client.las", 0);
  if (raw != 227 + 100 * 28) {
    std::fprintf(stderr, "client: the LAS file has %lld bytes, not %d\n", raw, 227 + 100 * 28);
    return 1;
  }
  const long long compressed = writeFile(dir + "/client.qdx", 2);
  if (compressed <= 0 || compressed >= raw) {
    std::fprintf(stderr, "client: the compressed file has %lld bytes\n", compressed);
    return 1;
  }
  if (quodax_load_dll() != 1) {
    std::fputs("client: quodax_load_dll did not report the missing libquodax.so\n", stderr);
    return 1;
  }
  std::printf("client: %lld bytes raw, %lld compressed, no libquodax.so\n", raw, compressed);
  return 0;
}
