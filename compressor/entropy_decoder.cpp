// Starting the arithmetic decoder; every decoding operation is inline in the
// header.
#include "morrowtide/compressor/entropy_decoder.h"

bool EntropyDecoder::start(ByteStreamIn* in, bool prime) {
  if (in == nullptr) return false;
  stream = in;
  length = 0xFFFFFFFFu;
  if (prime) {
    value = stream->getByte() << 24;
    value |= stream->getByte() << 16;
    value |= stream->getByte() << 8;
    value |= stream->getByte();
  }
  return true;
}
