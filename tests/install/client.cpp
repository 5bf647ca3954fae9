// A client of the installed libraries: writes a LAS file and a compressed one
// through the LAS writer, and loads the compressor's shared library through
// quodax_loader (which must report that there is none). Exits 0 when all is as
// expected, else 1 with a line saying what was not.
#include <morrowtide/binding/quodax_loader.h>

#include <cstdio>
#include <string>

#include "write_points.h"

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  const long long raw = writePoints(dir + "/client.las", 0, 100);
  if (raw != 227 + 100 * 28) {
    std::fprintf(stderr, "client: the LAS file has %lld bytes, not %d\n", raw, 227 + 100 * 28);
    return 1;
  }
  const long long compressed = writePoints(dir + "/client.qdx", 2, 100);
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
