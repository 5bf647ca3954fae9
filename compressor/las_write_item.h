// The item-writer interfaces. The point-record writer keeps one writer per item
// of the layout and calls it once per point record with the item's bytes in the
// point and the record's context word (a U32 it sets to 0 for every record and
// passes to every writer in item order; the LAS 1.4 point coders store the
// scanner channel in it, the writers after them read it, raw writers ignore it).
#ifndef MORROWTIDE_COMPRESSOR_LAS_WRITE_ITEM_H
#define MORROWTIDE_COMPRESSOR_LAS_WRITE_ITEM_H

#include <cstdint>

#include "morrowtide/compressor/byte_stream_out.h"

class LASwriteItem {
 public:
  // Writes one item whose bytes start at `item` (its place in the point record).
  // Returns true on success.
  virtual bool writeItem(const uint8_t* item, uint32_t& context) = 0;
  virtual ~LASwriteItem() = default;

  LASwriteItem() = default;
  LASwriteItem(const LASwriteItem&) = delete;
  LASwriteItem& operator=(const LASwriteItem&) = delete;
};

// A writer that copies its item uncompressed to an output stream.
class LASwriteItemRaw : public LASwriteItem {
 public:
  // Sets the output stream (not owned; must outlive the writes). Until then
  // writeItem returns false and writes nothing.
  void attachStream(ByteStreamOut* stream) { this->stream = stream; }

 protected:
  ByteStreamOut* stream = nullptr;  // not owned
};

// A writer that codes its item. The first record of every chunk is written raw by
// the raw writers and then handed to startChunk; later records go to writeItem.
class LASwriteItemCompressed : public LASwriteItem {
 public:
  // Resets the writer for a new chunk and seeds it with the chunk's first record,
  // which has just been written raw.
  virtual bool startChunk(const uint8_t* item, uint32_t& context) = 0;
  // Layered output only: ends the writer's layers and writes their sizes (U32 each)
  // to the output stream. False unless the writer is layered.
  virtual bool writeLayerSizes() { return false; }
  // Layered output only: writes the layers' bytes to the output stream. False
  // unless the writer is layered.
  virtual bool writeLayerBytes() { return false; }
};

#endif  // MORROWTIDE_COMPRESSOR_LAS_WRITE_ITEM_H
