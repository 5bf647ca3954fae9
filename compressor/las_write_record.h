// The point-record writer: writes the point records of a LAS file item by item,
// raw or compressed, and owns the layout of the compressed point data.
//
// Point data, little-endian, starting where the writer is attached:
//   compressor 0: the records, one after the other;
//   compressor 1: the first record raw, then one coded stream of all later ones;
//   compressors 2 and 3: I64 chunk-table position (from where the offsets
//     count, see attach; -1 on a stream that cannot seek), the chunks, the chunk table (U32 version
//     0, U32 number of chunks, one coded stream of per-chunk record counts (variable chunks only)
//     and byte counts), and on a stream that cannot seek the I64 table position again.
//   A chunk: its first record raw, then one coded stream of the later records
//   (compressor 2) or U32 record count, every writer's layer sizes, every
//   writer's layer bytes (compressor 3).
//
// A record is gathered whole from its items, each made by the raw form of its
// type (RawItemForm, las_write_item.h), and reaches the stream in one write.
// Raw records (compressor 0) collect in a block of whole records that goes out
// when it is full, on finish() and on handOverRecords(); a compressed chunk's
// first record goes out at once, before any coded byte.
#ifndef MORROWTIDE_COMPRESSOR_LAS_WRITE_RECORD_H
#define MORROWTIDE_COMPRESSOR_LAS_WRITE_RECORD_H

#include <cstdint>
#include <memory>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_item.h"
#include "morrowtide/compressor/las_write_item.h"
#include "morrowtide/compressor/quodax.h"

class EntropyEncoder;

// Not final: createCompressedWriter is the one point where a subclass may
// supply other compressed writers.
class LASwriteRecord {
 public:
  LASwriteRecord();
  virtual ~LASwriteRecord();
  LASwriteRecord(const LASwriteRecord&) = delete;
  LASwriteRecord& operator=(const LASwriteRecord&) = delete;

  // Sets the writer up for `num_items` items at `items`. A null descriptor means
  // uncompressed output; else it must hold this very list (same count, same
  // array) and decides compressor, coder and chunk size. Neither the descriptor
  // nor the items are kept: both may be deleted afterwards. False for an empty
  // list, a mismatching descriptor, an unknown compressor or coder, an item type
  // or coder version without a writer, versions below 3 with compressor 3 or of
  // 3 and more with compressors 1 and 2, and on a second call. Prints nothing.
  bool setup(uint32_t num_items, const LASitem* items, const Quodax* descriptor);
  // Binds the output stream (not owned; must outlive finish()). For chunked output
  // the first call writes the 8-byte chunk-table pointer placeholder. The table
  // position written (at the pointer, or after the table on a stream that cannot
  // seek) counts from stream position `offsets_from`, where the file the points
  // belong to begins. False for a null stream or before a successful setup, and
  // when the placeholder or the position query before it fails (failure() says
  // kChunkTablePointer).
  bool attach(ByteStreamOut* stream, int64_t offsets_from = 0);
  // Writes one point; item_pointers[i] is the address of item i in the point.
  // False, writing nothing, before attach, after finish and after any failure.
  // False when the record's bytes did not go out as far as the stream can tell
  // now (kRecord: raw records reach the stream a block at a time and coded bytes
  // 4096 at a time, so a refusal shows at the record that completed a block) or
  // the chunk that this record ended could not be written (kChunk).
  bool writeRecord(const uint8_t* const* item_pointers) {
    // Raw records, the common case, take one branch to their own path.
    if (writers == Writers::kRaw) return writeRawRecord(item_pointers);
    return writeCodedRecord(item_pointers);
  }
  // Hands the raw records held back to the stream now, in one write, so that
  // they land before anything the caller writes next or in another sink. True
  // when none are held; false when the stream refused them (kRecord).
  bool handOverRecords();
  // Ends the current chunk now. Only for chunked output with variable chunk size
  // and a chunk holding at least one record; else false, with nothing done.
  // False also when the chunk could not be written (kChunk).
  bool closeChunk();
  // Hands over the raw records held back, ends the last chunk and writes the
  // chunk table of chunked output, then releases the stream. True when there is
  // nothing to finish (never attached, already finished). False when anything
  // since attach failed: an earlier failure, the records held back (kRecord),
  // the end of the coded stream (kStreamEnd), the last chunk (kChunk), or a
  // seek, position query or write of the table or its pointer (kChunkTable,
  // kChunkTablePointer). Records still held when the writer is destroyed
  // without finish() are lost.
  bool finish();

  // What failed first, for the caller's message; kNone while every byte went
  // out. The writer prints nothing itself.
  // kStreamEnd: the end of the single coded stream (compressor 1).
  enum class Failure : uint8_t {
    kNone,
    kChunkTablePointer,
    kRecord,
    kStreamEnd,
    kChunk,
    kChunkTable
  };
  Failure failure() const { return first_failure; }
  // With kChunk: the number of the chunk that failed, counted from 0.
  uint32_t failedChunk() const { return number_chunks; }

  // Raw records collect in a block of this many bytes, rounded down to whole
  // records (one record at least, for records larger than this). Chosen by
  // measurement (bench/las_writer_loop_bench.cpp).
  static constexpr uint32_t kRawBlockBytes = 16384;

 protected:
  // Creates the compressed writer of one item, coding into `encoder` (not owned),
  // or returns null when the item's type and version have no writer. Called once
  // per item by setup.
  virtual std::unique_ptr<LASwriteItemCompressed> createCompressedWriter(
      const LASitem& item, EntropyEncoder* encoder) const;

 private:
  // Which writers serve the next record.
  enum class Writers { kOpenChunk, kRaw, kCompressed };

  static constexpr uint32_t kNoChunkSize = 0xFFFFFFFF;  // variable or no chunks
  static constexpr uint32_t kPointerDue = 0xFFFFFFFF;   // number_chunks before attach

  // Setup's steps. Creates the encoder into `enc` and one compressed writer per
  // item into `writers`; false when an item has none (the caller destroys the
  // writers before the encoder).
  bool createCompressedWriters(uint32_t num_items, const LASitem* items,
                               std::unique_ptr<EntropyEncoder>& enc,
                               std::vector<std::unique_ptr<LASwriteItemCompressed>>& writers) const;
  // Makes the block of raw output (`raw`) or of a chunk's first record.
  void makeBlock(bool raw);

  // Puts the record of the items at `item_pointers` at `out` (record_size bytes).
  void putRecord(const uint8_t* const* item_pointers, uint8_t* out) const;
  // The record joins the block of raw records held back.
  bool writeRawRecord(const uint8_t* const* item_pointers);
  // The record opens a chunk, or is coded.
  bool writeCodedRecord(const uint8_t* const* item_pointers);
  bool openChunk(const uint8_t* const* item_pointers, uint32_t& context);
  // Ends the open chunk and notes it in the chunk table; false on a failed
  // write, position query or a chunk of 2^32 bytes or more.
  bool endAndRecordChunk();
  bool endChunk();
  bool recordChunk();
  void rearm();
  bool emitChunkTable();
  bool writeChunkTablePointer(int64_t table_position);
  // Keeps the first failure; returns false.
  bool fail(Failure what);

  ByteStreamOut* stream = nullptr;  // not owned; null until attach, after finish
  uint32_t num_writers = 0;
  Writers writers = Writers::kOpenChunk;
  // How each item's raw bytes are made, chosen by its type at setup.
  std::vector<morrowtide::RawItemForm> raw_forms;
  uint32_t record_size = 0;  // the bytes of one raw record
  // Raw records held back, [block.data(), held_end), in a block that ends at
  // block_end; or a compressed chunk's first record while it is gathered. Made
  // once at setup.
  std::vector<uint8_t> block;
  uint8_t* held_end = nullptr;
  const uint8_t* block_end = nullptr;
  // Shared by every compressed writer, which delete their models through it, so
  // it is declared before them and outlives them.
  std::unique_ptr<EntropyEncoder> encoder;
  std::vector<std::unique_ptr<LASwriteItemCompressed>> compressed_writers;
  bool is_setup = false;
  bool chunked = false;
  bool layered = false;
  uint32_t chunk_size = kNoChunkSize;  // records per chunk; kNoChunkSize: variable or none
  // Records in the open chunk, its raw first record included (with a single
  // coded stream: every record so far).
  uint32_t chunk_count = 0;
  // Chunks ended and noted in the chunk table so far; kPointerDue from setup of
  // chunked output until attach writes the chunk-table pointer.
  uint32_t number_chunks = 0;
  std::vector<uint32_t> chunk_record_counts;  // variable chunk size only
  std::vector<uint32_t> chunk_byte_counts;
  int64_t chunk_start = 0;
  int64_t chunk_table_pointer_position = 0;  // a stream position; -1: cannot seek
  int64_t offsets_from = 0;                  // the stream position table positions count from
  Failure first_failure = Failure::kNone;
};

#endif  // MORROWTIDE_COMPRESSOR_LAS_WRITE_RECORD_H
