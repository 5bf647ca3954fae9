// The four byte-sink kinds: counting, stdio FILE, standard output stream and
// growable memory.
#include "morrowtide/compressor/byte_stream_out.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace morrowtide {

bool ByteStreamOutLE::writeReversed(const uint8_t* bytes, uint32_t num) {
  // num is 2, 4 or 8; the bound also tells the compiler the copy stays inside.
  if (num > sizeof(swap_buffer)) return false;
  for (uint32_t i = 0; i < num; i++) swap_buffer[i] = bytes[num - 1 - i];
  return writeBytes(swap_buffer, num);
}

}  // namespace morrowtide

// --- ByteStreamOutNil ---

bool ByteStreamOutNil::advance(uint32_t num) {
  cursor += num;
  if (cursor > num_bytes) num_bytes = cursor;
  return true;
}

bool ByteStreamOutNil::seekTo(int64_t position) {
  if (position >= 0) cursor = position;
  return true;
}

bool ByteStreamOutNil::seekToEnd() {
  cursor = num_bytes;
  return true;
}

// --- ByteStreamOutFileLE ---

namespace {

// A stream belongs to one writer on one thread, so the FILE's lock buys nothing;
// the unlocked calls nearly double the rate of small item writes.
inline size_t writeToFile(const uint8_t* bytes, size_t num, FILE* file) {
#if defined(__GLIBC__)
  return fwrite_unlocked(bytes, 1, num, file);
#else
  return fwrite(bytes, 1, num, file);
#endif
}

}  // namespace

ByteStreamOutFileLE::ByteStreamOutFileLE(FILE* file)
    : ByteStreamOutFile(file), seekable(decideSeekable(file)) {}

void ByteStreamOutFileLE::setFile(FILE* new_file) {
  ByteStreamOutFile::setFile(new_file);
  seekable = decideSeekable(new_file);
  bytes_written = 0;
}

bool ByteStreamOutFileLE::decideSeekable(FILE* f) {
  if (f == nullptr || f == stdout) return false;
  if (ftello(f) < 0) return false;
  const int fd = fileno(f);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && (flags & O_APPEND) == 0;
}

bool ByteStreamOutFileLE::writeByte(uint32_t byte) {
  const int c = static_cast<uint8_t>(byte);
  if (fputc(c, file) != c) return false;
  bytes_written++;
  return true;
}

bool ByteStreamOutFileLE::writeBytes(const uint8_t* bytes, uint32_t num) {
  const size_t written = writeToFile(bytes, num, file);
  bytes_written += static_cast<int64_t>(written);
  return written == num;
}

int64_t ByteStreamOutFileLE::position() const {
  if (!seekable) return bytes_written;
  const int64_t p = ftello(file);
  return p >= 0 ? p : -1;
}

bool ByteStreamOutFileLE::seekTo(int64_t position) {
  if (!seekable || position < 0) return false;
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool ByteStreamOutFileLE::seekToEnd() { return seekable && fseeko(file, 0, SEEK_END) == 0; }

// The FILE's error flag counts too: buffered bytes may have been refused by an
// earlier flush that someone else started (fflush(NULL), a full buffer).
bool ByteStreamOutFileLE::flush() { return fflush(file) == 0 && ferror(file) == 0; }

// --- ByteStreamOutOstreamLE ---

bool ByteStreamOutOstreamLE::writeByte(uint32_t byte) {
  stream->put(static_cast<char>(static_cast<uint8_t>(byte)));
  return stream->good();
}

bool ByteStreamOutOstreamLE::writeBytes(const uint8_t* bytes, uint32_t num) {
  stream->write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(num));
  return stream->good();
}

bool ByteStreamOutOstreamLE::canSeek() const { return !stream->fail(); }

int64_t ByteStreamOutOstreamLE::position() const {
  if (stream->fail()) return -1;
  return static_cast<int64_t>(stream->tellp());
}

bool ByteStreamOutOstreamLE::seekTo(int64_t position) {
  stream->seekp(static_cast<std::streamoff>(position), std::ios_base::beg);
  return stream->good();
}

bool ByteStreamOutOstreamLE::seekToEnd() {
  stream->seekp(0, std::ios_base::end);
  return stream->good();
}

bool ByteStreamOutOstreamLE::flush() {
  stream->flush();
  return stream->good();
}

// --- ByteStreamOutArray ---

ByteStreamOutArray::ByteStreamOutArray()
    : buffer(static_cast<uint8_t*>(std::malloc(kGrowthStep))),
      alloc(kGrowthStep),
      size(0),
      curr(0) {
  if (buffer == nullptr) throw std::bad_alloc();
}

ByteStreamOutArray::~ByteStreamOutArray() { std::free(buffer); }

bool ByteStreamOutArray::grow(size_t extra) {
  // Refuse sizes that would wrap instead of allocating a buffer too small.
  if (extra > std::numeric_limits<size_t>::max() - alloc) return false;
  const size_t new_alloc = alloc + extra;
  if (new_alloc > static_cast<size_t>(std::numeric_limits<int64_t>::max())) return false;
  void* grown = std::realloc(buffer, new_alloc);
  if (grown == nullptr) return false;  // the old buffer stays valid and owned
  buffer = static_cast<uint8_t*>(grown);
  alloc = new_alloc;
  return true;
}

bool ByteStreamOutArray::writeBytes(const uint8_t* bytes, uint32_t num) {
  if (num > alloc - curr && !grow(static_cast<size_t>(num) + kGrowthStep)) return false;
  if (num != 0) std::memcpy(buffer + curr, bytes, num);
  curr += num;
  if (curr > size) size = curr;
  return true;
}

bool ByteStreamOutArray::seekTo(int64_t position) {
  if (position < 0 || static_cast<uint64_t>(position) > size) return false;
  curr = static_cast<size_t>(position);
  return true;
}
