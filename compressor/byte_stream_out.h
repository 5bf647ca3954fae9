// Byte sinks through which every binary output is written: LAS files, the
// compressed point data, the side formats, waveform files and the in-memory
// layers of the layered coders.
//
// Read this first:
// - a stream never owns or closes what it writes to, and flushes it only when
//   flush() is called;
// - every result counts: a write, seek, flush or position query that fails says
//   so (false, or -1 from position()); nothing falls back silently;
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
  // Current write position, or -1 when the sink cannot tell (a failure of the
  // operation that asked).
  virtual int64_t position() const = 0;
  // Moves the write position to an absolute byte offset.
  virtual bool seekTo(int64_t position) = 0;
  virtual bool seekToEnd() = 0;
  // Hands buffered bytes on to the sink (stdio's or the stream's buffer to the
  // file). True when every byte so far reached it; the memory kinds have
  // nothing to flush.
  virtual bool flush() { return true; }
};

namespace morrowtide {

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

}  // namespace morrowtide

// Counts the bytes it is given and stores none. It keeps a cursor and a
// high-water mark, so seeking back and overwriting never shrinks the count:
// position() is the size the file would have.
class ByteStreamOutNil final : public morrowtide::ByteStreamOutLE {
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
class ByteStreamOutFile : public morrowtide::ByteStreamOutLE {
 public:
  explicit ByteStreamOutFile(FILE* file) : file(file) {}
  // Later writes go to `file` (not owned); used when a writer switches files.
  virtual void setFile(FILE* file) { this->file = file; }
  FILE* getFile() const { return file; }

 protected:
  FILE* file;  // not owned
};

// Whether the FILE can seek is decided once, when the stream is made (and again
// by setFile): never on the process's standard output; otherwise exactly when
// ftello succeeds then, the descriptor is a regular file and the FILE was not
// opened for appending (where every write lands at the end, so a patch would
// too). A FILE that cannot seek (a pipe, a device) gets position() from the
// number of bytes this stream has written; on one that can, a failed ftello is
// a failure (-1), never a fallback to that count.
class ByteStreamOutFileLE final : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileLE(FILE* file);
  void setFile(FILE* file) override;
  bool writeByte(uint32_t byte) override;
  bool writeBytes(const uint8_t* bytes, uint32_t num) override;
  bool canSeek() const override { return seekable; }
  int64_t position() const override;
  // False, moving nothing, on a FILE that cannot seek.
  bool seekTo(int64_t position) override;
  bool seekToEnd() override;
  // fflush of the FILE; false also when the FILE's error flag is set.
  bool flush() override;

 private:
  static bool decideSeekable(FILE* file);

  bool seekable;
  int64_t bytes_written = 0;  // position() of a FILE that cannot seek
};

// Writes to a standard output stream (not owned). Once the stream's bad or fail
// flag is set, every write and seek returns false and position() is -1.
class ByteStreamOutOstream : public morrowtide::ByteStreamOutLE {
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
  // The ostream's flush; false once its bad or fail flag is set.
  bool flush() override;
};

// A growable in-memory buffer. `size` is the high-water mark, `curr` the write
// position; rewinding with seekTo(0) keeps the buffer and size, and byteCount()
// counts from 0 again. Growth adds 4096 bytes for a byte write and the block's
// length plus 4096 for a block write. A growth that fails or would not fit the
// sizes returns false and keeps the buffer as it was.
class ByteStreamOutArray : public morrowtide::ByteStreamOutLE {
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
