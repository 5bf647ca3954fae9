// The LAS writer: writes LAS files of versions 1.0 to 1.4 with the point records
// raw or compressed, into a file it opens, a caller's FILE, an output stream or a
// null stream that only counts. It writes the public header block and everything
// before the points, hands each point to the point-record writer, patches counts
// and bounding box into the written header, and at the end appends the extended
// variable-length records of a LAS 1.4 file. The byte layout it produces (offsets
// from where the header began) is listed at the top of las_writer_las.cpp.
//
// Every failure prints one "ERROR: " line naming what could not be written and
// returns false (or 0 from close); the writer never throws on bad input.
#ifndef MORROWTIDE_LAS_LAS_WRITER_LAS_H
#define MORROWTIDE_LAS_LAS_WRITER_LAS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/las_write_record.h"
#include "morrowtide/las/las_header.h"
#include "morrowtide/las/las_point_record.h"
#include "morrowtide/las/las_writer.h"

class LASwriterLAS final : public LASwriter {
 public:
  LASwriterLAS();
  // Closes the writer with close(true) while it still holds its output.
  ~LASwriterLAS() override;

  // Opens `file_name` for writing (the writer owns and closes the FILE), with full
  // buffering of `io_buffer_size` bytes, then open() on it. False with an "ERROR: "
  // line for a null name or a file that cannot be opened.
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
  // writes everything up to the first point record. `header` is not owned; its
  // extended records are written by close(), so it must outlive close().
  // `compressor` 0 to 3; `requested_version` 0 means 2; a negative `chunk_size`
  // keeps the default, 0 asks for chunks ended by chunk(). header_size,
  // offset_to_point_data and point_data_record_length are written as laid out
  // (the version's block and user data; the records; the items' sizes), with a
  // "WARNING: " line for each whose header value differs. False with one line
  // (or the lines of the header's check) on failure, also for a size that does
  // not fit its field or a record count above the records addVlr made; the
  // writer must then only be closed or deleted.
  bool open(ByteStreamOut* stream, const LASheader* header, uint32_t compressor,
            int32_t requested_version, int32_t chunk_size);
  // For a writer whose stream writes to a FILE: later output goes to `file`.
  // A file the writer opened itself is closed, and `file` becomes owned in its
  // place. False when the writer has no stream or `file` is null, and with an
  // "ERROR: " line when the stream does not write to a FILE.
  bool replaceFile(FILE* file);

  // Counts the point and hands its items to the point-record writer. False
  // when the point's bytes did not go out, as far as the stream can tell now
  // (coded bytes reach it in blocks): the first such failure prints its line
  // and makes failed() true; later points are refused.
  // A point the writer cannot take is refused, not counted and nothing written:
  // - before a successful open, after a failed one and after close: "ERROR:
  //   writePoint on a LASwriterLAS that is not open\n" (the first such call only);
  // - a null point: "ERROR: point pointer is zero\n" (the first time);
  // - a point whose items cannot serve the writer's layout (not laid out, fewer
  //   items, or item i not the same kind of view as the writer's item i: the
  //   point at byte 0, GPS time, colour no smaller, wave packet, extra bytes no
  //   smaller): a line naming both layouts, and failed() (a point was lost).
  bool writePoint(const LASpointRecord* point) override {
    if (!accepting_points || point == nullptr || !servesLayout(*point)) return refusePoint(point);
    points_written++;
    return record_writer->writeRecord(point->item_pointers) || reportRecordFailure();
  }
  // Ends the current chunk; true only for chunks of variable size (chunk size 0)
  // when a chunk was ended, else false with nothing done. False with its line
  // (and failed()) when the chunk could not be written. Not open: false with
  // "ERROR: chunk on a LASwriterLAS that is not open\n" (the first such call).
  bool chunk() override;
  // Patches counts and bounding box (from the inventory when `use_inventory`,
  // else from `header`) and, for LAS 1.3 and 1.4, the record fields; optionally
  // rewrites the extra-bytes record. What is patched follows the layout open
  // wrote (its version, point format and header block), whatever `header` says
  // of them; the extra-bytes payload goes where open wrote it and must have the
  // size it had. From the header, a LAS 1.4 file's extended records announced
  // now are the ones close writes. The stream is back at its end on return.
  // False with a line on failure, which makes failed() true; on a stream that
  // cannot seek only a warning. Not open: "ERROR: stream pointer is zero\n" when no stream is held,
  // after a failed open "ERROR: updateHeader on a LASwriterLAS that is not
  // open\n" (the first such call); neither marks the writer failed.
  bool updateHeader(const LASheader* header, bool use_inventory, bool update_extra_bytes) override;
  // Finishes the point data, writes the extended records of a LAS 1.4 file,
  // patches the point count when it changed (and `update_point_count`), flushes
  // and releases stream and file, and returns the bytes from the header's start
  // to the end. Returns 0 when the writer holds nothing, or after a failed
  // extended record. Every "ERROR: " line it prints shows in failed(); a failed
  // seek, write, flush or close prints its line only as the writer's first
  // failure, a missing extended record always.
  int64_t close(bool update_point_count = true) override;

 private:
  // Steps of open() after the stream and header checks; `point` is the temporary
  // point that supplies the layout.
  bool writeHeaderBlock(const LASheader* header, uint8_t point_type, uint32_t compressor,
                        const Quodax* descriptor);
  bool writeHeaderRecords(const LASheader* header);
  bool writeCompressorRecord(const Quodax* descriptor, uint32_t compressor);
  bool writeTilingRecord(const LAStilingRecord* tiling);
  bool writeOriginalRecord(LASoriginalRecord* original);
  bool writeOwnRecordHeader(const char* user_id, uint16_t record_id, uint16_t length,
                            const char* description);
  // The patches of updateHeader, before the stream returns to its end.
  bool patchFromInventory();
  bool patchFromHeader(const LASheader* header);
  bool patchExtraBytes(const LASheader* header);
  // The extended point count and counts by return (LAS 1.4), at the stream's
  // position; on failure "ERROR: <verb> header->extended_...\n".
  bool writeExtendedCounts(const LASheader* header, const char* verb);
  // Writes the extended records of a LAS 1.4 file at the stream's position.
  bool writeExtendedRecords();
  // Seeks to `offset` from the header's start; on failure "ERROR: seeking to
  // header-><field>" and nothing moved.
  bool seekInHeader(int64_t offset, const char* field);
  // Returns the stream to its end after a patch, so later bytes never land in
  // the header.
  bool returnToEnd();
  // The patch of close() when the number of points written changed.
  void patchPointCount();
  // Reports what the point-record writer said failed; returns false.
  bool reportRecordFailure();
  // The per-point check of writePoint: the point's items can serve the layout
  // open prepared. The common case, item i equal in type and size to the
  // writer's, is one comparison per item.
  bool servesLayout(const LASpointRecord& point) const {
    if (point.item_pointers == nullptr || point.num_items < layout_size) return false;
    for (uint16_t i = 0; i < layout_size; i++) {
      const LASitem& have = point.items[i];
      if ((have.type != layout[i].type || have.size != layout[i].size) &&
          !itemServes(have, layout[i])) {
        return false;
      }
    }
    return true;
  }
  // Why writePoint refused `point` (see there); returns false.
  bool refusePoint(const LASpointRecord* point);
  // The sizes open lays out, each checked and compared with the header's; false
  // with a line when one does not fit its field.
  bool layOutHeader(const LASheader* header, uint8_t minor, uint32_t own_records_size,
                    uint32_t record_size);
  // Forgets everything of an earlier output, at the start of every open.
  void startNewLife();
  // The checks of open for data the header announces but does not hold, in the
  // order the data is written.
  bool checkHeaderData(const LASheader* header);
  // Flushes and deletes the stream and closes an owned file; false (with the
  // line) when the flush or the close failed.
  bool releaseOutput();

  std::string output_name = "output";   // for messages: the file name, "stdout", ...
  FILE* file = nullptr;                 // owned when set: opened by openFile, closed by close
  std::unique_ptr<char[]> file_buffer;  // the stdio buffer of `file`; outlives it
  ByteStreamOut* stream = nullptr;      // owned when owns_stream (always); null when closed
  bool owns_stream = true;
  std::unique_ptr<LASwriteRecord> record_writer;
  int64_t header_start = 0;
  bool writing_las14 = false;
  bool writing_new_point_type = false;
  int64_t start_of_first_extended_variable_length_record = 0;
  uint32_t number_of_extended_variable_length_records = 0;
  const LASevlrRecord* evlrs = nullptr;  // not owned: the header's array
  // Set by a successful open, cleared by close: writePoint, chunk and
  // updateHeader serve only while it is set.
  bool accepting_points = false;
  // The items each point is written as (the point-record writer's list).
  std::unique_ptr<LASitem[]> layout;
  uint16_t layout_size = 0;
  // What open wrote, for updateHeader's patches: the version minor (after the
  // clamp), the header block with its user data, and the header's records.
  uint8_t written_version_minor = 0;
  uint16_t written_header_size = 0;
  uint16_t written_record_length = 0;
  uint32_t written_offset_to_point_data = 0;
  uint32_t written_own_records_size = 0;
  // Where open wrote the payload of the extra-bytes record (from header_start;
  // -1: none) and its size.
  int64_t extra_bytes_at = -1;
  uint16_t extra_bytes_length = 0;
};

#endif  // MORROWTIDE_LAS_LAS_WRITER_LAS_H
