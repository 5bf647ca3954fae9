// RollingMedian5: the rare operation, reset at the start of every chunk; get and
// add are inline in the header since they run twice per coded point.
#include "morrowtide/compressor/rolling_median5.h"

void RollingMedian5::reset() {
  for (int32_t& v : values) v = 0;
  high = true;
}
