// Byte sources for the arithmetic decoder: the abstract ByteStreamIn, of which
// the decoder uses only getByte(), and an in-memory source over a caller's
// bytes. Reading past the end of the bytes yields zeros and is counted, so a
// test can check that a decoder consumed exactly what an encoder wrote.
#ifndef MORROWTIDE_COMPRESSOR_BYTE_STREAM_IN_H
#define MORROWTIDE_COMPRESSOR_BYTE_STREAM_IN_H

#include <cstddef>
#include <cstdint>

class ByteStreamIn {
 public:
  ByteStreamIn() = default;
  ByteStreamIn(const ByteStreamIn&) = delete;
  ByteStreamIn& operator=(const ByteStreamIn&) = delete;
  virtual ~ByteStreamIn() = default;

  // The next byte of the input, 0 to 255.
  virtual uint32_t getByte() = 0;
};

namespace morrowtide {

// Reads `size` bytes at `data` (not owned; must outlive the source). Past the
// end getByte() returns 0; position() counts every byte asked for, so it can
// exceed size().
class ByteStreamInArray final : public ByteStreamIn {
 public:
  ByteStreamInArray(const uint8_t* data, size_t size) : data(data), size_(size) {}

  uint32_t getByte() override { return next < size_ ? data[next++] : (next++, 0u); }

  // Number of getByte() calls so far.
  size_t position() const { return next; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data;  // not owned
  size_t size_;
  size_t next = 0;
};

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_BYTE_STREAM_IN_H
