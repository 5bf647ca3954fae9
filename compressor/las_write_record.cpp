// The point-record writer: item writers chosen once at setup, chunk bookkeeping,
// the chunk-table pointer and the coded chunk table.
#include "morrowtide/compressor/las_write_record.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "morrowtide/compressor/byte_stream_values.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"
#include "morrowtide/compressor/item_writers_layered.h"
#include "morrowtide/compressor/item_writers_v1.h"
#include "morrowtide/compressor/item_writers_v2.h"

using morrowtide::RawItemForm;
using morrowtide::ResidualCoderShape;
using morrowtide::detail::writeI64LE;
using morrowtide::detail::writeU32LE;

namespace {

// Coder versions 1 and 2 code into the shared stream; 3 and 4 code into layers.
constexpr uint16_t kFirstLayeredVersion = 3;

// The chunk table's coder: the counts are U32 values, and the record counts and
// the byte counts each have their own context. Like the item coders it has 8
// direct bits and no explicit range.
constexpr ResidualCoderShape kChunkTableCoderShape{32, 2};
constexpr uint32_t kRecordCountContext = 0;
constexpr uint32_t kByteCountContext = 1;

// How the raw bytes of `item` are made in a record; nothing for a type that has
// no raw form.
std::optional<RawItemForm> rawFormOf(const LASitem& item) {
  switch (item.type) {
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return RawItemForm::bytes(item.size);
    case LASitem::POINT10:
      return RawItemForm::point10();
    case LASitem::GPSTIME11:
      return RawItemForm::gpsTime11();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return RawItemForm::rgb12();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return RawItemForm::wavePacket13();
    case LASitem::POINT14:
      return RawItemForm::point14Record();
    case LASitem::RGBNIR14:
      return RawItemForm::rgbNir14();
    default:
      return std::nullopt;
  }
}

// The raw forms of the `num_items` items at `items`, in item order, into `forms`
// and the bytes of their record into `record_size`. False for an item without a
// raw form and for a record of 2^32 bytes or more, which could not go out in
// one write.
bool rawFormsOf(uint32_t num_items, const LASitem* items, std::vector<RawItemForm>& forms,
                uint32_t& record_size) {
  forms.reserve(num_items);
  uint64_t size = 0;
  for (uint32_t i = 0; i < num_items; i++) {
    const std::optional<RawItemForm> form = rawFormOf(items[i]);
    if (!form) return false;
    forms.push_back(*form);
    size += form->size();
  }
  if (size > UINT32_MAX) return false;
  record_size = static_cast<uint32_t>(size);
  return true;
}

// The compressor that `descriptor` sets for the list of `num_items` items at
// `items`; nothing when it holds another list, or names a compressor or coder
// this writer does not have, or an item version of the other chunk kind.
std::optional<uint16_t> compressorOf(const Quodax& descriptor, uint32_t num_items,
                                     const LASitem* items) {
  if (descriptor.num_items != num_items || descriptor.items != items) return std::nullopt;
  const uint16_t compressor = descriptor.compressor;
  if (compressor > Quodax::CompressorLayeredChunked) return std::nullopt;
  if (compressor == Quodax::CompressorNone) return compressor;
  if (descriptor.coder != Quodax::CoderArithmetic) return std::nullopt;
  // A version 1 or 2 item inside a layered chunk, or a layered coder inside a
  // shared coded stream, would put its bytes in the wrong place.
  const bool want_layered = (compressor == Quodax::CompressorLayeredChunked);
  for (uint32_t i = 0; i < num_items; i++) {
    if ((items[i].version >= kFirstLayeredVersion) != want_layered) return std::nullopt;
  }
  return compressor;
}

}  // namespace

LASwriteRecord::LASwriteRecord() = default;

// The compressed writers go first: they delete their models through the encoder.
LASwriteRecord::~LASwriteRecord() {
  compressed_writers.clear();
  encoder.reset();
}

std::unique_ptr<LASwriteItemCompressed> LASwriteRecord::createCompressedWriter(
    const LASitem& item, EntropyEncoder* enc) const {
  switch (item.type) {
    case LASitem::BYTE:
      if (item.version == 1)
        return std::make_unique<LASwriteItemCompressed_BYTE_v1>(enc, item.size);
      if (item.version == 2)
        return std::make_unique<LASwriteItemCompressed_BYTE_v2>(enc, item.size);
      break;
    case LASitem::POINT10:
      if (item.version == 1) return std::make_unique<LASwriteItemCompressed_POINT10_v1>(enc);
      if (item.version == 2) return std::make_unique<LASwriteItemCompressed_POINT10_v2>(enc);
      break;
    case LASitem::GPSTIME11:
      if (item.version == 1) return std::make_unique<LASwriteItemCompressed_GPSTIME11_v1>(enc);
      if (item.version == 2) return std::make_unique<LASwriteItemCompressed_GPSTIME11_v2>(enc);
      break;
    case LASitem::RGB12:
      if (item.version == 1) return std::make_unique<LASwriteItemCompressed_RGB12_v1>(enc);
      if (item.version == 2) return std::make_unique<LASwriteItemCompressed_RGB12_v2>(enc);
      break;
    case LASitem::WAVEPACKET13:
      if (item.version == 1) return std::make_unique<LASwriteItemCompressed_WAVEPACKET13_v1>(enc);
      break;
    case LASitem::POINT14:
      if (item.version == 3) return std::make_unique<LASwriteItemCompressed_POINT14_v3>(enc);
      if (item.version == 4) return std::make_unique<LASwriteItemCompressed_POINT14_v4>(enc);
      break;
    case LASitem::RGB14:
      if (item.version == 3) return std::make_unique<LASwriteItemCompressed_RGB14_v3>(enc);
      if (item.version == 4) return std::make_unique<LASwriteItemCompressed_RGB14_v4>(enc);
      break;
    case LASitem::RGBNIR14:
      if (item.version == 3) return std::make_unique<LASwriteItemCompressed_RGBNIR14_v3>(enc);
      if (item.version == 4) return std::make_unique<LASwriteItemCompressed_RGBNIR14_v4>(enc);
      break;
    case LASitem::WAVEPACKET14:
      if (item.version == 3) return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v3>(enc);
      if (item.version == 4) return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v4>(enc);
      break;
    case LASitem::BYTE14:
      if (item.version == 3)
        return std::make_unique<LASwriteItemCompressed_BYTE14_v3>(enc, item.size);
      if (item.version == 4)
        return std::make_unique<LASwriteItemCompressed_BYTE14_v4>(enc, item.size);
      break;
    default:
      break;
  }
  return nullptr;
}

bool LASwriteRecord::createCompressedWriters(
    uint32_t num_items, const LASitem* items, std::unique_ptr<EntropyEncoder>& enc,
    std::vector<std::unique_ptr<LASwriteItemCompressed>>& writers) const {
  enc = std::make_unique<EntropyEncoder>();
  writers.resize(num_items);
  for (uint32_t i = 0; i < num_items; i++) {
    writers[i] = createCompressedWriter(items[i], enc.get());
    if (!writers[i]) return false;
  }
  return true;
}

void LASwriteRecord::makeBlock(bool raw) {
  // Raw output holds a block of whole records; compressed output gathers only
  // each chunk's first record. A layout of empty extra bytes only has records
  // of no byte, which need no block (the one byte keeps data() a real address).
  const uint32_t block_records =
      raw && record_size != 0 ? std::max(1u, kRawBlockBytes / record_size) : 1;
  const size_t block_bytes = static_cast<size_t>(block_records) * record_size;
  block.assign(std::max<size_t>(block_bytes, 1), 0);
  held_end = block.data();
  block_end = block.data() + block_bytes;
}

bool LASwriteRecord::setup(uint32_t num_items, const LASitem* items, const Quodax* descriptor) {
  if (is_setup || num_items == 0 || items == nullptr) return false;
  uint16_t compressor = Quodax::CompressorNone;
  if (descriptor != nullptr) {
    const std::optional<uint16_t> asked = compressorOf(*descriptor, num_items, items);
    if (!asked) return false;
    compressor = *asked;
  }

  // Build everything into locals and commit only on success. The compressed
  // writers, declared after their encoder, go before it on a failure.
  std::vector<RawItemForm> forms;
  uint32_t size = 0;
  if (!rawFormsOf(num_items, items, forms, size)) return false;
  std::unique_ptr<EntropyEncoder> enc;
  std::vector<std::unique_ptr<LASwriteItemCompressed>> compressed;
  if (compressor != Quodax::CompressorNone &&
      !createCompressedWriters(num_items, items, enc, compressed)) {
    return false;
  }

  raw_forms = std::move(forms);
  record_size = size;
  makeBlock(compressor == Quodax::CompressorNone);
  encoder = std::move(enc);
  compressed_writers = std::move(compressed);
  num_writers = num_items;
  writers = Writers::kOpenChunk;
  chunk_size = kNoChunkSize;
  layered = (compressor == Quodax::CompressorLayeredChunked);
  chunked = (compressor >= Quodax::CompressorChunked);
  if (chunked) {
    if (descriptor->chunk_size != 0) chunk_size = descriptor->chunk_size;
    chunk_count = 0;
    number_chunks = kPointerDue;
  }
  is_setup = true;
  return true;
}

bool LASwriteRecord::fail(Failure what) {
  if (first_failure == Failure::kNone) first_failure = what;
  return false;
}

bool LASwriteRecord::attach(ByteStreamOut* s, int64_t from) {
  if (s == nullptr || !is_setup) return false;
  stream = s;
  if (number_chunks == kPointerDue) {
    number_chunks = 0;
    offsets_from = from;
    chunk_table_pointer_position = -1;
    if (s->canSeek()) {
      chunk_table_pointer_position = s->position();
      if (chunk_table_pointer_position < 0) return fail(Failure::kChunkTablePointer);
    }
    // The placeholder (the pointer's own offset); finish patches it, or repeats
    // the position after the table.
    const int64_t placeholder =
        chunk_table_pointer_position < 0 ? -1 : chunk_table_pointer_position - offsets_from;
    if (!writeI64LE(s, placeholder)) return fail(Failure::kChunkTablePointer);
    chunk_start = s->position();
    if (chunk_start < 0) return fail(Failure::kChunkTablePointer);
  }
  writers = encoder ? Writers::kOpenChunk : Writers::kRaw;
  return true;
}

bool LASwriteRecord::writeCodedRecord(const uint8_t* const* item_pointers) {
  if (stream == nullptr || first_failure != Failure::kNone) return false;
  uint32_t context = 0;
  if (chunk_count == chunk_size) {
    if (chunked) {
      if (!endAndRecordChunk()) return false;
      rearm();
    }
    chunk_count = 0;
  }
  chunk_count++;
  if (writers == Writers::kOpenChunk) {
    return openChunk(item_pointers, context) || fail(Failure::kRecord);
  }
  // The first item that fails ends the record: a later item's bytes would
  // land where the failed ones belong.
  for (uint32_t i = 0; i < num_writers; i++) {
    if (!compressed_writers[i]->writeItem(item_pointers[i], context)) {
      return fail(Failure::kRecord);
    }
  }
  return !encoder->failed() || fail(Failure::kRecord);
}

inline void LASwriteRecord::putRecord(const uint8_t* const* item_pointers, uint8_t* out) const {
  // Locals: the byte stores may alias any member, which would be reloaded.
  const RawItemForm* const forms = raw_forms.data();
  const uint32_t n = num_writers;
  for (uint32_t i = 0; i < n; i++) {
    forms[i].put(item_pointers[i], out);
    out += forms[i].size();
  }
}

// Raw output has no chunks: the record joins the block, which goes out when full.
bool LASwriteRecord::writeRawRecord(const uint8_t* const* item_pointers) {
  if (first_failure != Failure::kNone) return false;
  putRecord(item_pointers, held_end);
  held_end += record_size;
  return held_end != block_end || handOverRecords();
}

bool LASwriteRecord::handOverRecords() {
  uint8_t* const start = block.data();
  if (held_end == start) return true;
  const uint32_t held = static_cast<uint32_t>(held_end - start);
  // Whatever the stream does with them, they are no longer held: after a
  // refusal nothing more goes out, so no later byte lands where they belong.
  held_end = start;
  return stream->writeBytes(start, held) || fail(Failure::kRecord);
}

// The chunk's first record goes out raw, in one write before any coded byte,
// and seeds every compressed writer.
bool LASwriteRecord::openChunk(const uint8_t* const* item_pointers, uint32_t& context) {
  putRecord(item_pointers, block.data());
  if (!stream->writeBytes(block.data(), record_size)) return false;
  for (uint32_t i = 0; i < num_writers; i++) {
    if (!compressed_writers[i]->startChunk(item_pointers[i], context)) return false;
  }
  writers = Writers::kCompressed;
  encoder->start(stream);
  return true;
}

bool LASwriteRecord::endAndRecordChunk() {
  if (!endChunk() || !recordChunk()) return fail(Failure::kChunk);
  return true;
}

bool LASwriteRecord::endChunk() {
  if (!layered) return encoder->finish();
  bool ok = writeU32LE(stream, chunk_count);
  for (auto& w : compressed_writers) ok = ok && w->writeLayerSizes();
  for (auto& w : compressed_writers) ok = ok && w->writeLayerBytes();
  return ok;
}

// The next record opens a new chunk: it goes out raw and seeds the compressed
// writers again.
void LASwriteRecord::rearm() { writers = Writers::kOpenChunk; }

bool LASwriteRecord::closeChunk() {
  if (stream == nullptr || !chunked || chunk_size != kNoChunkSize) return false;
  if (writers != Writers::kCompressed) return false;  // no record in the chunk
  if (first_failure != Failure::kNone) return false;
  if (!endAndRecordChunk()) return false;
  rearm();
  chunk_count = 0;
  return true;
}

bool LASwriteRecord::recordChunk() {
  const int64_t p = stream->position();
  // A chunk's byte count is a U32 of the table: a larger chunk cannot be told.
  if (p < chunk_start || static_cast<uint64_t>(p - chunk_start) > UINT32_MAX) return false;
  if (chunk_size == kNoChunkSize) chunk_record_counts.push_back(chunk_count);
  chunk_byte_counts.push_back(static_cast<uint32_t>(p - chunk_start));
  chunk_start = p;
  number_chunks++;
  return true;
}

bool LASwriteRecord::finish() {
  if (stream == nullptr) return true;  // never attached, or finished already
  bool ok = first_failure == Failure::kNone && handOverRecords();
  if (ok && writers == Writers::kCompressed) {
    if (!chunked) {
      ok = encoder->finish() || fail(Failure::kStreamEnd);
    } else if (chunk_count != 0) {
      ok = endAndRecordChunk();
    }
  }
  // With no record at all, or the last chunk already ended, only the table is due.
  if (ok && chunked) ok = emitChunkTable();
  writers = Writers::kOpenChunk;
  stream = nullptr;
  held_end = block.data();  // nothing is held once finished
  return ok;
}

bool LASwriteRecord::writeChunkTablePointer(int64_t table_position) {
  // A failed seek writes nothing; after a failed write the stream still goes
  // back, so that nothing later lands on the points.
  if (!stream->seekTo(chunk_table_pointer_position)) return false;
  const bool written = writeI64LE(stream, table_position - offsets_from);
  return stream->seekTo(table_position) && written;
}

bool LASwriteRecord::emitChunkTable() {
  const int64_t pos = stream->position();
  if (pos < 0) return fail(Failure::kChunkTable);
  if (chunk_table_pointer_position != -1 && !writeChunkTablePointer(pos)) {
    return fail(Failure::kChunkTablePointer);
  }
  if (!writeU32LE(stream, 0)) return fail(Failure::kChunkTable);  // table version
  if (!writeU32LE(stream, number_chunks)) return fail(Failure::kChunkTable);
  if (number_chunks > 0) {
    encoder->start(stream);
    {
      IntegerResidualCoder coder(encoder.get(), kChunkTableCoderShape);
      coder.startEncoding();
      const bool variable = (chunk_size == kNoChunkSize);
      uint32_t last_records = 0;
      uint32_t last_bytes = 0;
      for (uint32_t i = 0; i < number_chunks; i++) {
        if (variable) {
          coder.encode(static_cast<int32_t>(last_records),
                       static_cast<int32_t>(chunk_record_counts[i]), kRecordCountContext);
          last_records = chunk_record_counts[i];
        }
        coder.encode(static_cast<int32_t>(last_bytes), static_cast<int32_t>(chunk_byte_counts[i]),
                     kByteCountContext);
        last_bytes = chunk_byte_counts[i];
      }
    }  // the coder deletes its models through the encoder here
    if (!encoder->finish()) return fail(Failure::kChunkTable);
  }
  if (chunk_table_pointer_position == -1 && !writeI64LE(stream, pos - offsets_from)) {
    return fail(Failure::kChunkTable);
  }
  return true;
}
