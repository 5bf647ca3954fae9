// Byte sinks through which every binary output is written: LAS files, the
// compressed point data, the side formats, waveform files and the in-memory
// layers of the layered coders.
//
// Read this first:
// - a stream never owns, flushes or closes what it writes to;
// - every typed write goes through the kind's own writeBytes (one virtual call),
//   so a subclass that overrides writeBytes sees every byte;
// - the "LE" kinds are for a little-endian host: LE writes copy the value's bytes
//   as they lie in memory, BE writes reverse them.
#ifndef MORROWTIDE_COMPRESSOR_BYTE_STREAM_OUT_H
#define MORROWTIDE_COMPRESSOR_BYTE_STREAM_OUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>

class ByteStreamOut {
 public:
  ByteStreamOut() = default;
  ByteStreamOut(const ByteStreamOut&) = delete;
  ByteStreamOut& operator=(const ByteStreamOut&) = delete;
  virtual ~ByteStreamOut() = default;

  // Writes the low 8 bits of `byte`. Every write returns true on success.
  virtual bool writeByte(uint32_t byte) = 0;
  virtual bool writeBytes(const uint8_t* bytes, uint32_t num) = 0;
  // Write a 16/32/64-bit value held in host order at `bytes`, least
  // significant byte first (LE) or most significant byte first (BE).
  virtual bool writeU16LE(const uint8_t* bytes) = 0;
  virtual bool writeU32LE(const uint8_t* bytes) = 0;
  virtual bool writeU64LE(const uint8_t* bytes) = 0;
  virtual bool writeU16BE(const uint8_t* bytes) = 0;
  virtual bool writeU32BE(const uint8_t* bytes) = 0;
  virtual bool writeU64BE(const uint8_t* bytes) = 0;
  // Whether seekTo can be used.
  virtual bool canSeek() const = 0;
  // Current write position, or -1 when the sink cannot tell.
  virtual int64_t position() const = 0;
  // Moves the write position to an absolute byte offset.
  virtual bool seekTo(int64_t position) = 0;
  virtual bool seekToEnd() = 0;
};

// Typed writes for a little-endian host, shared by every LE kind: LE writes hand
// the value's bytes to writeBytes as they lie, BE writes a reversed copy.
class ByteStreamOutLE : public ByteStreamOut {
 public:
  bool writeU16LE(const uint8_t* bytes) override { return writeBytes(bytes, 2); }
  bool writeU32LE(const uint8_t* bytes) override { return writeBytes(bytes, 4); }
  bool writeU64LE(const uint8_t* bytes) override { return writeBytes(bytes, 8); }
  bool writeU16BE(const uint8_t* bytes) override { return writeReversed(bytes, 2); }
  bool writeU32BE(const uint8_t* bytes) override { return writeReversed(bytes, 4); }
  bool writeU64BE(const uint8_t* bytes) override { return writeReversed(bytes, 8); }

 private:
  bool writeReversed(const uint8_t* bytes, uint32_t num);
  uint8_t swap_buffer[8] = {};
};

// Counts the bytes it is given and stores none. It keeps a cursor and a
// high-water mark, so seeking back and overwriting never shrinks the count:
// position() is the size the file would have.
class ByteStreamOutNil final : public ByteStreamOutLE {
 public:
  bool writeByte(uint32_t) override { return advance(1); }
  bool writeBytes(const uint8_t*, uint32_t num) override { return advance(num); }
  bool canSeek() const override { return true; }
  int64_t position() const override { return num_bytes; }
  bool seekTo(int64_t position) override;
  bool seekToEnd() override;

 private:
  bool advance(uint32_t num);
  int64_t num_bytes = 0;  // high-water mark: one past the furthest byte written
  int64_t cursor = 0;     // where the next byte would go
};

// Writes to a stdio FILE (not owned, never closed).
class ByteStreamOutFile : public ByteStreamOutLE {
 public:
  explicit ByteStreamOutFile(FILE* file) : file(file) {}
  // Later writes go to `file` (not owned); used when a writer switches files.
  void setFile(FILE* file) { this->file = file; }

 protected:
  FILE* file;  // not owned
};

// On a FILE whose position the platform cannot report (a pipe), position()
// falls back to the number of bytes this stream has written.
class ByteStreamOutFileLE final : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileLE(FILE* file);
  bool writeByte(uint32_t byte) override;
  bool writeBytes(const uint8_t* bytes, uint32_t num) override;
  // False on the process's standard output and on a FILE without a position
  // (a pipe), true otherwise.
  bool canSeek() const override;
  int64_t position() const override;
  bool seekTo(int64_t position) override;
  bool seekToEnd() override;

 private:
  int64_t bytes_written = 0;  // counted for sinks without a file position
};

// Writes to a standard output stream (not owned). Once the stream's bad or fail
// flag is set, every write and seek returns false and position() is -1.
class ByteStreamOutOstream : public ByteStreamOutLE {
 public:
  explicit ByteStreamOutOstream(std::ostream& stream) : stream(&stream) {}

 protected:
  std::ostream* stream;  // not owned
};

class ByteStreamOutOstreamLE final : public ByteStreamOutOstream {
 public:
  explicit ByteStreamOutOstreamLE(std::ostream& stream) : ByteStreamOutOstream(stream) {}
  bool writeByte(uint32_t byte) override;
  bool writeBytes(const uint8_t* bytes, uint32_t num) override;
  bool canSeek() const override;
  int64_t position() const override;
  bool seekTo(int64_t position) override;
  bool seekToEnd() override;
};

// A growable in-memory buffer. `size` is the high-water mark, `curr` the write
// position; rewinding with seekTo(0) keeps the buffer and size, and byteCount()
// counts from 0 again. Growth adds 4096 bytes for a byte write and the block's
// length plus 4096 for a block write. A growth that fails or would not fit the
// sizes returns false and keeps the buffer as it was.
class ByteStreamOutArray : public ByteStreamOutLE {
 public:
  ByteStreamOutArray();
  ~ByteStreamOutArray() override;

  bool writeByte(uint32_t byte) override {
    if (curr == alloc && !grow(kGrowthStep)) return false;
    buffer[curr++] = static_cast<uint8_t>(byte);
    if (curr > size) size = curr;
    return true;
  }
  bool writeBytes(const uint8_t* bytes, uint32_t num) override;
  bool canSeek() const override { return true; }
  int64_t position() const override { return static_cast<int64_t>(curr); }
  // False, changing nothing, when position < 0 or position > size.
  bool seekTo(int64_t position) override;
  bool seekToEnd() override {
    curr = size;
    return true;
  }

  const uint8_t* data() const { return buffer; }
  // Bytes written since the last rewind (curr), not the high-water mark.
  uint32_t byteCount() const { return static_cast<uint32_t>(curr); }
  size_t allocated() const { return alloc; }
  size_t highWaterMark() const { return size; }

 private:
  static constexpr size_t kGrowthStep = 4096;
  bool grow(size_t extra);

  uint8_t* buffer;  // owned (malloc/realloc/free)
  size_t alloc;
  size_t size;
  size_t curr;
};

class ByteStreamOutArrayLE final : public ByteStreamOutArray {};

#endif  // MORROWTIDE_COMPRESSOR_BYTE_STREAM_OUT_H
