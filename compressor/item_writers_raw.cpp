// The raw writer of the LAS 1.4 point: the 30-byte record built from the
// in-memory point, copied LAS 1.4 fields for an extended point, converted legacy
// fields otherwise (point_fields::buildPoint14Record).
#include "morrowtide/compressor/item_writers_raw.h"

#include "morrowtide/compressor/point_fields.h"

bool LASwriteItemRaw_POINT14_LE::writeItem(const uint8_t* item, uint32_t&) {
  if (stream == nullptr) return false;
  point_fields::buildPoint14Record(item, buffer);
  return stream->writeBytes(buffer, quodax_format::kSizePoint14);
}
