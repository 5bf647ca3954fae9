// The item-writer interfaces and the raw item forms. When compressing, the
// point-record writer keeps one compressed writer per item of the layout and
// calls it once per point record with the item's bytes in the point and the
// record's context word (a U32 it sets to 0 for every record and passes to every
// writer in item order; the LAS 1.4 point coders store the scanner channel in
// it, the writers after them read it, raw writers ignore it). Raw bytes it makes
// through each item's RawItemForm.
#ifndef MORROWTIDE_COMPRESSOR_LAS_WRITE_ITEM_H
#define MORROWTIDE_COMPRESSOR_LAS_WRITE_ITEM_H

#include <cstdint>
#include <cstring>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/point_fields.h"
#include "morrowtide/compressor/quodax_format.h"

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

namespace morrowtide {

// How a raw item's bytes are made from the point, fixed per item type: copied as
// they lie at the item, or the 30-byte LAS 1.4 record built from the point. The
// point-record writer gathers whole records through put() to hand them to the
// stream in one write, and a raw writer's writeItem writes what its form's put()
// makes, so both make an item's bytes in this one place.
class RawItemForm {
 public:
  static constexpr RawItemForm point10() { return {Kind::kPoint10, quodax_format::kSizePoint10}; }
  static constexpr RawItemForm gpsTime11() {
    return {Kind::kGpsTime11, quodax_format::kSizeGpsTime11};
  }
  // RGB12 and RGB14.
  static constexpr RawItemForm rgb12() { return {Kind::kRgb12, quodax_format::kSizeRgb12}; }
  static constexpr RawItemForm rgbNir14() {
    return {Kind::kRgbNir14, quodax_format::kSizeRgbNir14};
  }
  // WAVEPACKET13 and WAVEPACKET14.
  static constexpr RawItemForm wavePacket13() {
    return {Kind::kWavePacket13, quodax_format::kSizeWavePacket13};
  }
  // BYTE and BYTE14: `size` extra bytes.
  static constexpr RawItemForm bytes(uint32_t size) { return {Kind::kBytes, size}; }
  static constexpr RawItemForm point14Record() {
    return {Kind::kPoint14Record, quodax_format::kSizePoint14};
  }

  // The item's bytes in a record.
  uint32_t size() const { return item_size; }

  // Puts the item's size() raw bytes, made from `item` (its place in the point),
  // at `out`.
  void put(const uint8_t* item, uint8_t* out) const {
    // Copied field by field, in the widths the point's setters store: a wider
    // load that spans several stores still on their way to the cache waits for
    // them instead of taking their bytes from the store buffer, and a caller
    // fills the point right before it is written (the loop of
    // bench/las_writer_loop_bench.cpp, about 1 ns a point).
    switch (kind) {
      case Kind::kPoint10:  // X, Y, Z, intensity, returns, class, scan angle, user, source
        copyFields<quodax_format::kSizePoint10, 4, 4, 4, 2, 1, 1, 1, 1, 2>(item, out);
        break;
      case Kind::kGpsTime11:
        copyFields<quodax_format::kSizeGpsTime11, 8>(item, out);
        break;
      case Kind::kRgb12:
        copyFields<quodax_format::kSizeRgb12, 2, 2, 2>(item, out);
        break;
      case Kind::kRgbNir14:
        copyFields<quodax_format::kSizeRgbNir14, 2, 2, 2, 2>(item, out);
        break;
      case Kind::kWavePacket13:  // index, offset, size, location, x_t, y_t, z_t
        copyFields<quodax_format::kSizeWavePacket13, 1, 8, 4, 4, 4, 4, 4>(item, out);
        break;
      case Kind::kBytes:
        std::memcpy(out, item, item_size);
        break;
      case Kind::kPoint14Record:
        point_fields::buildPoint14Record(item, out);
        break;
    }
  }

 private:
  enum class Kind : uint8_t {
    kPoint10,
    kGpsTime11,
    kRgb12,
    kRgbNir14,
    kWavePacket13,
    kBytes,
    kPoint14Record
  };

  constexpr RawItemForm(Kind kind, uint32_t size) : kind(kind), item_size(size) {}

  // Copies fields of the given widths, one after the other, `size` bytes in all.
  template <uint32_t size, uint32_t... widths>
  static void copyFields(const uint8_t* item, uint8_t* out) {
    static_assert((widths + ...) == size, "the fields fill the item");
    uint32_t at = 0;
    ((copyField<widths>(item + at, out + at), at += widths), ...);
  }
  template <uint32_t width>
  static void copyField(const uint8_t* from, uint8_t* to) {
    uint8_t field[width];
    std::memcpy(field, from, width);
    std::memcpy(to, field, width);
  }

  Kind kind;
  uint32_t item_size;
};

}  // namespace morrowtide

// A writer that copies its item uncompressed to an output stream.
class LASwriteItemRaw : public LASwriteItem {
 public:
  // Sets the output stream (not owned; must outlive the writes). Until then
  // writeItem returns false and writes nothing.
  void attachStream(ByteStreamOut* stream) { this->stream = stream; }
  // How this writer makes its item's bytes.
  const morrowtide::RawItemForm& form() const { return raw_form; }

 protected:
  explicit LASwriteItemRaw(morrowtide::RawItemForm form) : raw_form(form) {}
  // writeItem of a copied item: its bytes as they lie, in one write.
  bool writeCopied(const uint8_t* item) {
    return stream != nullptr && stream->writeBytes(item, raw_form.size());
  }

  ByteStreamOut* stream = nullptr;  // not owned
  const morrowtide::RawItemForm raw_form;
};

// A writer that codes its item. The first record of every chunk is written raw
// (by the items' raw forms) and then handed to startChunk; later records go to
// writeItem.
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
