// The LAS writer: writes LAS files of versions 1.0 to 1.4 with the point records
// raw or compressed, into a file it opens, a caller's FILE, an output stream or a
// null stream that only counts. It writes the public header block and everything
// before the points, hands each point to the point-record writer, patches counts
// and bounding box into the written header, and at the end appends the extended
// variable-length records of a LAS 1.4 file. The byte layout it produces (every
// offset counts from where the header began, so a file written after other bytes
// is the file written at position 0) is listed at the top of las_writer_las.cpp.
//
// What open wrote is kept in one record that every later patch reads; after
// open the writer reads only these fields of a header:
// - updateHeader, either way: number_of_variable_length_records and vlrs, to
//   refuse a count above the records addVlr made;
// - updateHeader from the header: the legacy counts, the bounding box,
//   start_of_waveform_data_packet_record (LAS 1.3 and 1.4, warned about when
//   not 0), the extended-record fields and the extended counts (LAS 1.4);
// - updateHeader with update_extra_bytes: attribute_count, then the extra-bytes
//   record in vlrs;
// - close, of the header given to open (LAS 1.4):
//   number_of_extended_variable_length_records and evlrs.
// Every failure prints one "ERROR: " line naming what could not be written and
// returns false (or 0 from close); the writer never throws on bad input.
#ifndef MORROWTIDE_LAS_LAS_WRITER_LAS_H
#define MORROWTIDE_LAS_LAS_WRITER_LAS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"
#include "morrowtide/las/las_writer_output.h"

class LASwriterLAS final : public LASwriter {
 public:
  LASwriterLAS() = default;
  // Closes the writer with close(true) while it still holds its output.
  ~LASwriterLAS() override;

  // Opens `file_name` for writing (the writer owns and closes the FILE), with full
  // buffering of `io_buffer_size` bytes, then open() on it. False with an "ERROR: "
  // line for a null name, a writer already open or a file that cannot be opened.
  bool openFile(const char* file_name, const LASheader* header, uint32_t compressor,
                int32_t requested_version, int32_t chunk_size, int32_t io_buffer_size);
  // Writes to `file` (not owned, never closed). False for a null file.
  bool openStdio(FILE* file, const LASheader* header, uint32_t compressor,
                 int32_t requested_version, int32_t chunk_size);
  // Writes to `stream` (not owned; must outlive close()).
  bool openOstream(std::ostream& stream, const LASheader* header, uint32_t compressor,
                   int32_t requested_version, int32_t chunk_size);
  // Writes nothing anywhere; close() returns the size a file would have.
  bool openNull(const LASheader* header, uint32_t compressor, int32_t requested_version,
                int32_t chunk_size);
  // The common part: takes ownership of `stream` at once (also when it returns
  // false), chooses the compressor descriptor, sets up the point-record writer and
  // writes everything up to the first point record, at the stream's position.
  // `header` is not owned; close() writes its extended records, so it must
  // outlive close(). `compressor` 0 to 3; `requested_version` 0 means 2; a
  // negative `chunk_size` keeps the default, 0 asks for chunks ended by chunk().
  // header_size, offset_to_point_data and point_data_record_length are written as
  // laid out (the version's block and user data; the records; the items'
  // sizes), with a "WARNING: " line for each whose header value differs. False
  // with one line (or the lines of the header's check) on failure, also for a
  // size that does not fit its field or a record count above the records addVlr
  // made; the writer must then only be closed or deleted.
  bool open(ByteStreamOut* stream, const LASheader* header, uint32_t compressor,
            int32_t requested_version, int32_t chunk_size);
  // As LASwriterOutput::replaceFile, with the close line "ERROR: closing output
  // '<name>'\n". The raw records the writer still holds were written before
  // the switch and go to the old FILE first (a failure there prints the
  // writePoint line). Later header patches (updateHeader, close) go to `file`
  // at the header's offsets. With compressed output, what the coder still holds
  // of the chunk in progress (points written before the switch among them),
  // that chunk's end and the chunk table go to `file` too, the chunk's size
  // measured from where it began in the old FILE and the table's pointer
  // patched at its offset there. All of it lands right only when `file`
  // continues the old one's positions; otherwise the table is wrong, with
  // failed() still false, or (in a FILE that ends before where the chunk
  // began) the chunk's end fails with "ERROR: writing chunk N of the points\n",
  // at close or at the writePoint or chunk() that ends it.
  bool replaceFile(FILE* file);

  // Counts the point and hands its items to the point-record writer. False
  // when the point's bytes did not go out, as far as the stream can tell now:
  // the first such failure prints its line and makes failed() true; later
  // points are refused. Raw records and coded bytes reach the stream in blocks,
  // so a refusal shows at the point that completed a block, or at close (after
  // updateHeader's lines) for the last one: "ERROR: writing point %lld\n" names
  // the last point of the block that was lost.
  // A point the writer cannot take is refused, not counted and nothing written:
  // - before a successful open, after a failed one and after close: "ERROR:
  //   writePoint on a LASwriterLAS that is not open\n" (the first such call only);
  // - a null point: "ERROR: point pointer is zero\n" (the first time);
  // - a point whose items cannot serve the items the writer writes (not laid
  //   out, fewer items, or item i not the same kind of view as the writer's
  //   item i: the point at byte 0, GPS time, colour no smaller, wave packet,
  //   extra bytes no smaller): a line naming both item lists, and failed() (a
  //   point was lost).
  bool writePoint(const LASpointRecord* point) override {
    // A point laid out as the writer's items passes on one comparison; every
    // other point, and every point while the writer is not open, gets the full
    // check (accepted_identity matches no point then).
    if (point == nullptr || point->layout_identity != accepted_identity) {
      return writeCheckedPoint(point);
    }
    return writeRecordOf(*point);
  }
  // Ends the current chunk; true only for chunks of variable size (chunk size 0)
  // when a chunk was ended, else false with nothing done. False with its line
  // (and failed()) when the chunk could not be written. Not open: false with
  // "ERROR: chunk on a LASwriterLAS that is not open\n" (the first such call).
  bool chunk() override;
  // Patches counts and bounding box (from the inventory when `use_inventory`,
  // else from `header`) and, for LAS 1.3 and 1.4, the record fields; optionally
  // rewrites the extra-bytes payload (where open wrote it; it must have the size
  // it had). What is patched, and whether the legacy counts are 0, follows what
  // open wrote, whatever `header` says of version, format or sizes. From the
  // header, a LAS 1.4 file's extended-record fields are written as the header
  // has them; close then sets them to the records it writes. The stream is back
  // at its end on return. False with a line on failure, which makes failed()
  // true; on a stream that cannot seek only a warning. Not open: "ERROR: stream
  // pointer is zero\n" when no stream is held, after a failed open "ERROR:
  // updateHeader on a LASwriterLAS that is not open\n" (the first such call);
  // neither marks the writer failed.
  bool updateHeader(const LASheader* header, bool use_inventory, bool update_extra_bytes) override;
  // Finishes the point data; for LAS 1.4 writes the header's extended records as
  // they are now (number_of_extended_variable_length_records entries of evlrs)
  // and brings offsets 235 and 243 to them (on a stream that cannot seek, a
  // warning per field instead); patches the point count when it changed (and
  // `update_point_count`); flushes and releases stream and file. Returns the
  // bytes the writer put out from the header's start on, whichever FILE they
  // went to (replaceFile); 0 when the writer holds nothing, after a failed
  // extended record, or when a position the count needs could not be queried
  // (with "ERROR: querying the output position for the byte count\n"). Every
  // "ERROR: " line it prints shows in failed(); a failed seek, write, flush or
  // close prints its line only as the writer's first failure, a missing
  // extended record always.
  int64_t close(bool update_point_count = true) override;

 private:
  // The writer's life: nothing held; an output held but no points taken (an
  // open under way, or one that failed: the output is held until close); open,
  // taking points.
  enum class Life : uint8_t { kIdle, kHeldNotOpen, kOpen };

  // What open decided and wrote, and where replaceFile took the output since:
  // the one record every later patch and close read. Every open starts from a
  // fresh one.
  struct Written {
    int64_t header_start = 0;   // stream position of the header's first byte
    uint8_t version_minor = 0;  // after the clamp to 4
    uint8_t point_type = 0;     // at offset 104, without the compression bit
    // LAS 1.4 with a point type of 6 to 10 (for the non-standard layout, 127,
    // the header's point_data_format at open decides): the legacy counts are 0.
    bool zero_legacy_counts = false;
    uint16_t header_size = 0;  // the block with the user data in it
    uint16_t record_length = 0;
    uint32_t offset_to_point_data = 0;
    uint32_t own_records_size = 0;  // the records the writer adds
    // The extra-bytes payload: from header_start (-1: none written) and its size.
    int64_t extra_bytes_at = -1;
    uint16_t extra_bytes_length = 0;
    // Once the LAS 1.4 fields were reached, the header whose extended records
    // close writes (not owned), and what the file holds at offsets 235 and 243.
    const LASheader* extended_records_of = nullptr;
    uint64_t start_of_first_extended_variable_length_record = 0;
    uint32_t number_of_extended_variable_length_records = 0;
    // The items each point is written as (the point-record writer's list).
    std::vector<LASitem> point_items;
    uint64_t layout_identity = LASpointRecord::kNoLayoutIdentity;
    // close's byte count: the bytes put out to the FILEs replaceFile left (-1
    // when a position at a switch was not known), and the position in the
    // current FILE from which its bytes count (header_start until a switch).
    int64_t bytes_in_earlier_files = 0;
    int64_t counted_from = 0;

    bool las14() const { return version_minor >= 4; }
  };

  // How open writes the points, decided before anything is written: the point
  // type, the compressor and its descriptor.
  struct PointEncoding;

  // The steps of open, in order; each false result printed its line.
  // "ERROR: LASwriterLAS is already open\n" unless the writer is idle.
  bool refuseSecondOpen() const;
  // The temporary `point` laid out from the header's descriptor or format.
  bool layOutPoint(const LASheader* header, LASpointRecord& point, PointEncoding& encoding);
  bool makeDescriptor(int32_t requested_version, int32_t chunk_size, const LASpointRecord& point,
                      PointEncoding& encoding);
  bool setUpRecordWriter(const LASheader* header, const LASpointRecord& point,
                         const PointEncoding& encoding);
  // Data the header announces but does not hold, in the order it is written.
  bool checkHeaderData(const LASheader* header);
  // The sizes, version and point type open writes, each size checked against
  // its field, into `written`.
  bool layOutHeader(const LASheader* header, const LASpointRecord& point,
                    const PointEncoding& encoding);
  // Everything from the header block to the user data after the header.
  bool writeBeforePoints(const LASheader* header, PointEncoding& encoding);
  bool writeHeaderBlock(const LASheader* header, const PointEncoding& encoding);
  bool writeIdentification(const LASheader* header);
  bool writeSizesAndPointFormat(const LASheader* header, const PointEncoding& encoding);
  bool writeLegacyCounts(const LASheader* header);
  bool writeScalesOffsetsAndBox(const LASheader* header);
  bool writeLas14Fields(const LASheader* header);
  bool writeUserData(const uint8_t* data, uint32_t size, const char* name);
  bool writeHeaderRecords(const LASheader* header);
  bool writeCompressorRecord(const Quodax* descriptor, uint32_t compressor);
  bool writeTilingRecord(const LAStilingRecord* tiling);
  bool writeOriginalRecord(LASoriginalRecord* original);
  bool writeOwnRecordHeader(const char* user_id, uint16_t record_id, uint16_t length,
                            const char* description);
  // `ok`, or false after "ERROR: writing header-><name>\n".
  bool field(bool ok, const char* name);

  // writePoint past its one comparison: refuses what the writer cannot take,
  // writes a point whose items serve the items open wrote.
  bool writeCheckedPoint(const LASpointRecord* point);
  bool writeRecordOf(const LASpointRecord& point) {
    points_written++;
    return record_writer->writeRecord(point.item_pointers) || reportRecordFailure();
  }
  // The point's items can serve the items open wrote.
  bool servesPointItems(const LASpointRecord& point) const;
  // Reports what the point-record writer said failed; returns false.
  bool reportRecordFailure();

  // The patches of updateHeader, before the stream returns to its end.
  bool patchFromInventory();
  bool patchFromHeader(const LASheader* header);
  bool patchExtraBytes(const LASheader* header);
  // The extended point count and counts by return (LAS 1.4), at the stream's
  // position; on failure "ERROR: <verb> header->extended_...\n".
  bool writeExtendedCounts(const LASheader* header, const char* verb);
  // The 32-bit legacy count of `count` points as the header open wrote stores it.
  uint32_t legacyCount(uint64_t count) const;

  // The steps of close. finishPoints ends the point data (last chunk, chunk
  // table).
  void finishPoints();
  // For LAS 1.4, writes the header's extended records as they are now at the
  // stream's position and brings offsets 235 and 243 to them. False after the
  // line of a record that could not be written.
  bool writeExtendedRecords();
  bool writeExtendedRecordList(const LASevlrRecord* records, uint32_t count);
  // Patches 235 (`start`, from the header's start) and 243 (`count`) where the
  // file holds other values; on a stream that cannot seek, a warning for each.
  void announceExtendedRecords(uint64_t start, uint32_t count);
  // The count patch when `update_point_count` and the count changed.
  void patchPointCount(bool update_point_count);
  // close's byte count; -1 when a position it needs is not known.
  int64_t bytesPutOut() const;
  // Flushes, then releases stream and file; the writer is idle afterwards.
  void releaseOutput();

  ByteStreamOut* stream() const { return output.getStream(); }
  // Seeks to `offset` from the header's start; on failure "ERROR: seeking to
  // header-><field_name>" and nothing moved.
  bool seekInHeader(int64_t offset, const char* field_name);
  // Returns the stream to its end after a patch, so later bytes never land in
  // the header.
  bool returnToEnd();

  // writePoint takes a point of this identity without a further look: the
  // written items' while open, else (and when they have none) a value no point
  // has.
  static constexpr uint64_t kNoPointHasThisIdentity = ~0ull;

  Life life = Life::kIdle;
  Written written;
  uint64_t accepted_identity = kNoPointHasThisIdentity;
  LASwriterOutput output{failureRecord()};
  std::unique_ptr<LASwriteRecord> record_writer;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_LAS_H
