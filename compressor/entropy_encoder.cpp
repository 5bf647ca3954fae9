// The rare work of the arithmetic encoder: starting and finishing a stream,
// handing a 4096-byte half to the stream, walking a carry back through the
// pending bytes, and holding back 0xFF runs that a carry could still reach.
#include "morrowtide/compressor/entropy_encoder.h"

// Writes `count` copies of `value` in blocks.
void EntropyEncoder::writeRun(uint8_t value, uint64_t count) {
  uint8_t block[256];
  std::memset(block, value, sizeof(block));
  while (count > 0) {
    const uint32_t num = count < sizeof(block) ? static_cast<uint32_t>(count) : sizeof(block);
    write(block, num);
    count -= num;
  }
}

EntropyEncoder::EntropyEncoder()
    : buffer(new uint8_t[kBufferSize]()),
      buffer_end(buffer + kBufferSize),
      out_pos(buffer),
      half_end(buffer_end) {}

EntropyEncoder::~EntropyEncoder() { delete[] buffer; }

bool EntropyEncoder::start(ByteStreamOut* out) {
  if (out == nullptr) return false;
  stream = out;
  base = 0;
  length = kMaxLength;
  out_pos = buffer;
  half_end = buffer_end;
  write_failed = false;
  wrapped = false;
  holding = false;
  held_byte = 0;
  held_ffs = 0;
  return true;
}

bool EntropyEncoder::finish() {
  if (stream == nullptr) return true;
  // Close the interval with one byte when it is wide, two otherwise.
  const bool wide = length > 2 * kMinLength;
  if (wide) {
    addToBase(kMinLength);
    length = kMinLength >> 1;
  } else {
    addToBase(kMinLength >> 1);
    length = 1u << 15;
  }
  renormalise();
  // No carry can follow: whatever is held is final and precedes the buffer.
  if (holding) flushHeld();
  if (half_end != buffer_end) write(buffer + kHalfSize, kHalfSize);
  if (out_pos != buffer) write(buffer, static_cast<uint32_t>(out_pos - buffer));
  const uint32_t zeros = wide ? 3 : 2;
  for (uint32_t i = 0; i < zeros && !write_failed; i++) {
    if (!stream->writeByte(0)) write_failed = true;
  }
  stream = nullptr;
  return !write_failed;
}

uint32_t EntropyEncoder::pendingBytes() const {
  // Before the first handover everything produced is pending; afterwards the
  // whole other half plus the current half up to out_pos.
  if (!wrapped) return static_cast<uint32_t>(out_pos - buffer);
  return kHalfSize + static_cast<uint32_t>(out_pos - (half_end - kHalfSize));
}

void EntropyEncoder::handOverHalf() {
  if (out_pos == buffer_end) out_pos = buffer;
  uint8_t* const older = out_pos;  // the half about to be reused
  const uint8_t* const newer = older == buffer ? buffer + kHalfSize : buffer;
  half_end = out_pos + kHalfSize;
  wrapped = true;

  // A carry can reach the older half only through a newer half of 0xFF bytes.
  bool newer_all_ff = true;
  for (uint32_t i = kHalfSize; i > 0; --i) {
    if (newer[i - 1] != 0xFF) {
      newer_all_ff = false;
      break;
    }
  }
  if (!newer_all_ff) {
    if (holding) flushHeld();
    write(older, kHalfSize);
    return;
  }

  uint32_t last = kHalfSize;  // index of the older half's last non-0xFF byte
  while (last > 0 && older[last - 1] == 0xFF) --last;
  if (last == 0) {
    if (holding) {
      held_ffs += kHalfSize;
    } else {
      // Only 0xFF bytes since the start: no carry can reach past the first byte.
      write(older, kHalfSize);
    }
    return;
  }
  // The bytes before the last non-0xFF one are settled; that byte and the 0xFF
  // run after it wait for the carry question to be answered.
  if (holding) flushHeld();
  if (last > 1) write(older, last - 1);
  holding = true;
  held_byte = older[last - 1];
  held_ffs = kHalfSize - last;
}

void EntropyEncoder::propagateCarry() {
  uint8_t* p = out_pos;
  for (uint32_t pending = pendingBytes(); pending > 0; --pending) {
    if (p == buffer) p = buffer_end;
    --p;
    if (*p != 0xFF) {
      ++*p;
      return;
    }
    *p = 0;
  }
  // Every pending byte was 0xFF: the carry settles the held bytes.
  if (holding) {
    ++held_byte;
    write(&held_byte, 1);
    writeRun(0x00, held_ffs);
    holding = false;
    held_ffs = 0;
  }
}

void EntropyEncoder::flushHeld() {
  write(&held_byte, 1);
  writeRun(0xFF, held_ffs);
  holding = false;
  held_ffs = 0;
}
