// Which square cells of a horizontal grid hold at least one point, one bit per
// cell, without knowing the extent in advance; written out as an ASCII grid.
// Read this first:
// - cell (i, j) covers i * size <= x < (i + 1) * size and likewise in y; rows are
//   counted from the anchor row (the first cell's), rows at or above it in the
//   "above" arrays at k = r, rows below in the "below" arrays at k = -r - 1;
// - within a row, columns count from the row's own anchor column (its first
//   cell): c >= 0 in the right words at c, c < 0 in the left words at -c - 1,
//   bit c % 32 of word c / 32;
// - rows grow by 1024, row words by 256; distances are computed in 64 bits, and a
//   growth that fails leaves the map as it was and makes the add return false.
#ifndef MORROWTIDE_LAS_LAS_OCCUPANCY_MAP_H
#define MORROWTIDE_LAS_LAS_OCCUPANCY_MAP_H

#include <cstdint>
#include <cstdio>

#include "morrowtide/las/las_point_record.h"

class LASoccupancyMap final {
 public:
  // An empty map of square cells `cell_size` wide. A size that is not finite
  // and above 0 makes a map that never becomes active and refuses every add.
  explicit LASoccupancyMap(float cell_size);
  ~LASoccupancyMap();
  LASoccupancyMap(const LASoccupancyMap&) = delete;
  LASoccupancyMap& operator=(const LASoccupancyMap&) = delete;

  // Sets the cell of the point's real x and y (integer times scale plus offset).
  // True when the cell was empty before; false when it was set already, and,
  // changing nothing, when the point has no scale and offset, its cell is NaN or
  // outside the I32 range, the map's cell size is invalid, or growth failed.
  // Requires: `point` is not null.
  bool add(const LASpointRecord* point);
  // The same for cell (x, y).
  bool addCell(int32_t x, int32_t y);
  // Whether the point's cell (false when it has none) or cell (x, y) is set.
  bool occupied(const LASpointRecord* point) const;
  bool occupiedCell(int32_t x, int32_t y) const;
  // True once a cell has been added (and until reset()).
  bool active() const { return cell_size > 0.0f; }
  // Empties the map and releases every array; the next add anchors anew.
  void reset();
  // Writes the ASCII grid of the bounding box to the file `file_name`: header
  // lines, then the rows from the top, "1 " or "0 " per cell. False, silently,
  // when the file cannot be opened; false with an "ERROR: " line when the grid
  // has more than 2^31 - 1 columns or rows (no file is opened) or when writing or
  // closing fails.
  bool writeAsciiGrid(const char* file_name) const;

  int32_t min_x = 0;
  int32_t min_y = 0;
  int32_t max_x = 0;
  int32_t max_y = 0;
  // Negative while empty (the constructor stores -size), positive once active;
  // 0 for a map made with an invalid size.
  float cell_size;
  int32_t anchor_row = 0;
  uint32_t num_occupied = 0;

 private:
  // One side of the rows (at or above the anchor row, or below it). Every
  // array is owned (malloc/realloc/free). Word counts are 32-bit.
  struct Rows {
    int32_t left_size = 0;            // rows in left_rows and left_words
    uint32_t** left_rows = nullptr;   // per row: words left of its anchor column
    uint32_t* left_words = nullptr;   // per row: words allocated in its left row
    int32_t right_size = 0;           // rows in anchor_x, right_rows, right_words
    int32_t* anchor_x = nullptr;      // per row: the column of its first cell
    uint32_t** right_rows = nullptr;  // per row: words at or right of its anchor
    uint32_t* right_words = nullptr;  // per row: 0 while the row has no cell
  };
  enum class SetResult { kSet, kAlreadySet, kFailed };

  // The rows side and index of cell row y; false when the map is empty.
  const Rows* rowsOf(int32_t y, int64_t* k) const;
  // Sets the bit of cell (x, y), growing arrays as needed.
  SetResult setCell(int32_t x, int32_t y);
  // The cell of real coordinates of a point; false when it has none.
  bool cellOf(const LASpointRecord& point, int32_t* x, int32_t* y) const;
  static void release(Rows& rows);
  bool writeGrid(FILE* file) const;

  Rows above;
  Rows below;
};

#endif  // MORROWTIDE_LAS_LAS_OCCUPANCY_MAP_H
