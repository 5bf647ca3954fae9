// The occupancy map: finding and growing a cell's row and word, the lookups,
// releasing everything, and the ASCII grid file.
#include "morrowtide/las/las_occupancy_map.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/las/las_messages.h"

using morrowtide::inIntegerRange;

namespace {

constexpr int64_t kRowGrowth = 1024;  // rows are added in steps of 1024
constexpr int64_t kWordGrowth = 256;  // a row's words grow in steps of 256 (8192 cells)
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();

// Grows `array` from `old_n` to `n` entries, the new ones 0 (malloc when it has
// none, realloc otherwise). False, leaving `array` as it was, when that fails.
template <typename T>
bool growArray(T*& array, int64_t old_n, int64_t n) {
  const size_t bytes = static_cast<size_t>(n) * sizeof(T);
  void* grown = array != nullptr ? std::realloc(array, bytes) : std::malloc(bytes);
  if (grown == nullptr) return false;
  array = static_cast<T*>(grown);
  std::memset(array + old_n, 0, static_cast<size_t>(n - old_n) * sizeof(T));
  return true;
}

// Rows needed to hold index k: the next multiple of 1024 above k.
int64_t rowsFor(int64_t k) { return (k / kRowGrowth + 1) * kRowGrowth; }

}  // namespace

LASoccupancyMap::LASoccupancyMap(float cell_size)
    : cell_size(std::isfinite(cell_size) && cell_size > 0.0f ? -cell_size : 0.0f) {}

LASoccupancyMap::~LASoccupancyMap() { reset(); }

bool LASoccupancyMap::cellOf(const LASpointRecord& point, int32_t* x, int32_t* y) const {
  const LASscaleOffset* so = point.scale_offset;
  if (so == nullptr) return false;
  // The size is stored negated while the map is empty.
  const double size = std::fabs(static_cast<double>(cell_size));
  const double fx = std::floor((so->x_scale_factor * point.getX() + so->x_offset) / size);
  const double fy = std::floor((so->y_scale_factor * point.getY() + so->y_offset) / size);
  // Both are whole numbers (or NaN, in no range), exact as I32 when in range.
  if (!inIntegerRange<int32_t>(fx) || !inIntegerRange<int32_t>(fy)) return false;
  *x = static_cast<int32_t>(fx);
  *y = static_cast<int32_t>(fy);
  return true;
}

bool LASoccupancyMap::add(const LASpointRecord* point) {
  int32_t x, y;
  if (!(cell_size < 0.0f || cell_size > 0.0f) || !cellOf(*point, &x, &y)) return false;
  return addCell(x, y);
}

bool LASoccupancyMap::addCell(int32_t x, int32_t y) {
  if (!(cell_size < 0.0f || cell_size > 0.0f)) return false;  // invalid size
  const bool empty = cell_size < 0.0f;
  const int32_t old_anchor_row = anchor_row;
  if (empty) anchor_row = y;
  const SetResult result = setCell(x, y);
  if (result == SetResult::kFailed) {
    anchor_row = old_anchor_row;  // a failed first cell anchors nothing
    return false;
  }
  if (empty) {
    cell_size = -cell_size;
    min_x = max_x = x;
    min_y = max_y = y;
  } else {
    if (x < min_x) {
      min_x = x;
    } else if (x > max_x) {
      max_x = x;
    }
    if (y < min_y) {
      min_y = y;
    } else if (y > max_y) {
      max_y = y;
    }
  }
  return result == SetResult::kSet;
}

LASoccupancyMap::SetResult LASoccupancyMap::setCell(int32_t x, int32_t y) {
  const int64_t r = static_cast<int64_t>(y) - anchor_row;
  Rows& rows = r >= 0 ? above : below;
  const int64_t k = r >= 0 ? r : -r - 1;
  // A started row has its anchor column; a new row starts at column index 0.
  const bool started = k < rows.right_size && rows.right_words[k] != 0;
  const int64_t c = started ? static_cast<int64_t>(x) - rows.anchor_x[k] : 0;
  const bool left = c < 0;
  const int64_t column = left ? -c - 1 : c;

  int32_t& size = left ? rows.left_size : rows.right_size;
  if (k >= size) {
    const int64_t n = rowsFor(k);
    if (n > kMaxSize) return SetResult::kFailed;
    const bool grown =
        left ? growArray(rows.left_rows, size, n) && growArray(rows.left_words, size, n)
             : growArray(rows.right_rows, size, n) && growArray(rows.right_words, size, n) &&
                   growArray(rows.anchor_x, size, n);
    if (!grown) return SetResult::kFailed;
    size = static_cast<int32_t>(n);
  }

  uint32_t*& row = left ? rows.left_rows[k] : rows.right_rows[k];
  uint32_t& words = left ? rows.left_words[k] : rows.right_words[k];
  const int64_t w = column / 32;
  if (w >= words) {
    const int64_t m = (w / kWordGrowth + 1) * kWordGrowth;
    if (!growArray(row, words, m)) return SetResult::kFailed;
    words = static_cast<uint32_t>(m);
  }
  if (!started) rows.anchor_x[k] = x;

  const uint32_t bit = uint32_t{1} << (column % 32);
  if (row[w] & bit) return SetResult::kAlreadySet;
  row[w] |= bit;
  num_occupied++;
  return SetResult::kSet;
}

bool LASoccupancyMap::occupied(const LASpointRecord* point) const {
  int32_t x, y;
  if (!active() || !cellOf(*point, &x, &y)) return false;
  return occupiedCell(x, y);
}

bool LASoccupancyMap::occupiedCell(int32_t x, int32_t y) const {
  if (!active()) return false;
  const int64_t r = static_cast<int64_t>(y) - anchor_row;
  const Rows& rows = r >= 0 ? above : below;
  const int64_t k = r >= 0 ? r : -r - 1;
  if (k >= rows.right_size || rows.right_words[k] == 0) return false;
  const int64_t c = static_cast<int64_t>(x) - rows.anchor_x[k];
  const bool left = c < 0;
  const int64_t column = left ? -c - 1 : c;
  if (left && k >= rows.left_size) return false;
  const uint32_t words = left ? rows.left_words[k] : rows.right_words[k];
  const uint32_t* row = left ? rows.left_rows[k] : rows.right_rows[k];
  const int64_t w = column / 32;
  if (w >= words) return false;
  return (row[w] >> (column % 32)) & 1u;
}

void LASoccupancyMap::release(Rows& rows) {
  for (int32_t k = 0; k < rows.left_size; k++) std::free(rows.left_rows[k]);
  for (int32_t k = 0; k < rows.right_size; k++) std::free(rows.right_rows[k]);
  std::free(rows.left_rows);
  std::free(rows.left_words);
  std::free(rows.right_rows);
  std::free(rows.right_words);
  std::free(rows.anchor_x);
  rows = Rows();
}

void LASoccupancyMap::reset() {
  min_x = min_y = max_x = max_y = 0;
  if (cell_size > 0.0f) cell_size = -cell_size;
  release(above);
  release(below);
  num_occupied = 0;
}

bool LASoccupancyMap::writeAsciiGrid(const char* file_name) const {
  const long long ncols = static_cast<long long>(max_x) - min_x + 1;
  const long long nrows = static_cast<long long>(max_y) - min_y + 1;
  if (ncols > kMaxSize || nrows > kMaxSize) {
    return las_messages::printLine(
        "ERROR: occupancy grid of %lld columns and %lld rows is too large\n", ncols, nrows);
  }
  FILE* file = std::fopen(file_name, "w");
  if (file == nullptr) return false;
  bool ok = writeGrid(file);
  if (std::fclose(file) != 0) ok = false;
  if (!ok) return las_messages::printLine("ERROR: cannot write occupancy grid '%s'\n", file_name);
  return true;
}

bool LASoccupancyMap::writeGrid(FILE* file) const {
  // The corners are F32 products of the cell size and the lowest cell.
  const float xll = cell_size * static_cast<float>(min_x);
  const float yll = cell_size * static_cast<float>(min_y);
  if (std::fprintf(file,
                   "ncols %d\nnrows %d\nxllcorner %f\nyllcorner %f\ncellsize %lf\n"
                   "NODATA_value %d\n\n",
                   static_cast<int>(int64_t{max_x} - min_x + 1),
                   static_cast<int>(int64_t{max_y} - min_y + 1), static_cast<double>(xll),
                   static_cast<double>(yll), static_cast<double>(cell_size), 0) < 0) {
    return false;
  }
  // Rows from the top; the cells of a row collect in a block written whole.
  char block[4096];
  size_t used = 0;
  auto put = [&](const char* text, size_t n) {
    if (used + n > sizeof(block)) {
      if (std::fwrite(block, 1, used, file) != used) return false;
      used = 0;
    }
    std::memcpy(block + used, text, n);
    used += n;
    return true;
  };
  for (int64_t y = max_y; y >= min_y; y--) {
    for (int64_t x = min_x; x <= max_x; x++) {
      const bool set = occupiedCell(static_cast<int32_t>(x), static_cast<int32_t>(y));
      if (!put(set ? "1 " : "0 ", 2)) return false;
    }
    if (!put("\n", 1)) return false;
  }
  return std::fwrite(block, 1, used, file) == used;
}
