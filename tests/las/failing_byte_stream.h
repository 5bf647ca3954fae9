// A ByteStreamOut for writer tests: writes into a byte vector that the test owns
// (so the bytes outlive the stream, which the writer deletes), refuses every write
// that would touch one chosen byte, and can pretend that it cannot seek. Refusing
// byte N makes exactly the field written at offset N fail, so a table over N shows
// which field each error line names. Seeks, position queries and flushes can be
// made to fail too, each from a chosen moment on.
#ifndef MORROWTIDE_TESTS_LAS_FAILING_BYTE_STREAM_H
#define MORROWTIDE_TESTS_LAS_FAILING_BYTE_STREAM_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"

class FailingByteStream final : public morrowtide::ByteStreamOutLE {
 public:
  // `sink` and `alive` are not owned and must outlive the stream; `*alive` is set
  // to true now and to false when the stream is deleted.
  explicit FailingByteStream(std::vector<uint8_t>* sink, bool* alive = nullptr)
      : sink(sink), alive(alive) {
    if (alive != nullptr) *alive = true;
  }
  ~FailingByteStream() override {
    if (alive != nullptr) *alive = false;
  }

  bool writeByte(uint32_t byte) override {
    const uint8_t b = static_cast<uint8_t>(byte);
    return writeBytes(&b, 1);
  }
  // Refuses, writing nothing, when [position, position + num) holds fail_at.
  bool writeBytes(const uint8_t* bytes, uint32_t num) override {
    if (num == 0) return true;
    if (fail_at >= cursor && fail_at < cursor + static_cast<int64_t>(num)) return false;
    const size_t end = static_cast<size_t>(cursor) + num;
    if (sink->size() < end) sink->resize(end);
    std::memcpy(sink->data() + cursor, bytes, num);
    cursor = static_cast<int64_t>(end);
    return true;
  }
  bool canSeek() const override { return can_seek; }
  int64_t position() const override { return refuse_position ? -1 : cursor; }
  bool seekTo(int64_t p) override {
    if (!can_seek || refuse_seeks || p < 0 || p > static_cast<int64_t>(sink->size())) return false;
    cursor = p;
    return true;
  }
  bool seekToEnd() override {
    if (!can_seek || refuse_seeks || refuse_seek_to_end) return false;
    cursor = static_cast<int64_t>(sink->size());
    return true;
  }
  bool flush() override { return !refuse_flush; }

  int64_t fail_at = -1;  // the byte no write may touch; -1: none
  bool can_seek = true;
  bool refuse_seeks = false;        // seekTo and seekToEnd fail, moving nothing
  bool refuse_seek_to_end = false;  // only seekToEnd fails
  bool refuse_position = false;     // position() says -1
  bool refuse_flush = false;

 private:
  std::vector<uint8_t>* sink;  // not owned
  bool* alive;                 // not owned; may be null
  int64_t cursor = 0;
};

#endif  // MORROWTIDE_TESTS_LAS_FAILING_BYTE_STREAM_H
