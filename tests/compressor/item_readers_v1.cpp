// Decoding side of the version 1 item codings, for the writers' round-trip tests.
#include "tests/compressor/item_readers_v1.h"

#include <algorithm>
#include <cstring>

namespace readers_v1 {
namespace {

using item_readers::getLE;
using item_readers::getLE64;
using item_readers::putLE;

int32_t middleOf(const int32_t v[3]) {
  int32_t s[3] = {v[0], v[1], v[2]};
  std::sort(s, s + 3);
  return s[1];
}

void resetAll(EntropyDecoder* dec, AdaptiveSymbolModel* const (&table)[256]) {
  for (AdaptiveSymbolModel* m : table) {
    if (m != nullptr) dec->resetSymbolModel(m, nullptr);
  }
}

}  // namespace

// ---------------------------------------------------------------------------

Point10Reader::Point10Reader(EntropyDecoder* dec)
    : dec(dec),
      models(dec),
      dx(dec, 32, 1, 8, 0),
      dy(dec, 32, 20, 8, 0),
      z(dec, 32, 20, 8, 0),
      intensity(dec, 16, 1, 8, 0),
      scan_angle(dec, 8, 2, 8, 0),
      point_source(dec, 16, 1, 8, 0),
      changed(models.make(64)) {}

void Point10Reader::startChunk(const uint8_t* item) {
  for (IntegerResidualCoder* c : {&dx, &dy, &z, &intensity, &scan_angle, &point_source}) {
    c->startDecoding();
  }
  dec->resetSymbolModel(changed, nullptr);
  resetAll(dec, bit_byte);
  resetAll(dec, classification);
  resetAll(dec, user_data);
  std::memset(x_steps, 0, sizeof(x_steps));
  std::memset(y_steps, 0, sizeof(y_steps));
  next_step = 0;
  std::memcpy(last, item, 20);
}

void Point10Reader::readItem(uint8_t* item) {
  auto byModel = [&](AdaptiveSymbolModel*& slot) {
    if (slot == nullptr) {
      slot = models.make(256);
      dec->resetSymbolModel(slot, nullptr);
    }
    return dec->getSymbol(slot);
  };
  std::memcpy(item, last, 20);
  const int32_t step_x = dx.decode(middleOf(x_steps), 0);
  const uint32_t class_x = dx.lastClass();
  const int32_t step_y = dy.decode(middleOf(y_steps), class_x < 19 ? class_x : 19);
  const uint32_t sum = class_x + dy.lastClass();
  putLE(item + 0, getLE(last + 0, 4) + static_cast<uint32_t>(step_x), 4);
  putLE(item + 4, getLE(last + 4, 4) + static_cast<uint32_t>(step_y), 4);
  const int32_t new_z =
      z.decode(static_cast<int32_t>(getLE(last + 8, 4)), sum / 2 < 19 ? sum / 2 : 19);
  putLE(item + 8, static_cast<uint32_t>(new_z), 4);

  const uint32_t bits = dec->getSymbol(changed);
  if (bits & 32) putLE(item + 12, intensity.decode(getLE(last + 12, 2), 0), 2);
  if (bits & 16) item[14] = static_cast<uint8_t>(byModel(bit_byte[last[14]]));
  if (bits & 8) item[15] = static_cast<uint8_t>(byModel(classification[last[15]]));
  if (bits & 4) item[16] = static_cast<uint8_t>(scan_angle.decode(last[16], sum < 6 ? 1 : 0));
  if (bits & 2) item[17] = static_cast<uint8_t>(byModel(user_data[last[17]]));
  if (bits & 1) putLE(item + 18, point_source.decode(getLE(last + 18, 2), 0), 2);

  x_steps[next_step] = step_x;
  y_steps[next_step] = step_y;
  next_step = (next_step + 1) % 3;
  std::memcpy(last, item, 20);
}

// ---------------------------------------------------------------------------

GpsTime11Reader::GpsTime11Reader(EntropyDecoder* dec)
    : dec(dec),
      models(dec),
      multiplier(models.make(512)),
      zero_diff(models.make(3)),
      coder(dec, 32, 6, 8, 0) {}

void GpsTime11Reader::startChunk(const uint8_t* item) {
  dec->resetSymbolModel(multiplier, nullptr);
  dec->resetSymbolModel(zero_diff, nullptr);
  coder.startDecoding();
  last_time = getLE64(item);
  step = 0;
  extremes = 0;
}

void GpsTime11Reader::readItem(uint8_t* item) {
  uint64_t t = last_time;
  if (step == 0) {
    const uint32_t sym = dec->getSymbol(zero_diff);
    if (sym == 1) {
      const int32_t d = coder.decode(0, 0);
      t = last_time + static_cast<uint64_t>(static_cast<int64_t>(d));
      step = d;
    } else if (sym == 2) {
      t = dec->getRawU64();
    }
  } else {
    const uint32_t m = dec->getSymbol(multiplier);
    if (m == 510) {
      t = dec->getRawU64();
    } else if (m < 510) {
      int32_t d;
      bool extreme = false;
      if (m == 0) {
        d = coder.decode(step / 4, 2);
        extreme = true;
      } else if (m == 1) {
        d = coder.decode(step, 1);
        step = d;
        extremes = 0;
      } else {
        const int32_t pred = static_cast<int32_t>(m * static_cast<uint32_t>(step));
        d = coder.decode(pred, m < 10 ? 3 : m < 50 ? 4 : 5);
        extreme = m == 509;
      }
      if (extreme && extremes++ >= 3) {
        step = d;
        extremes = 0;
      }
      t = last_time + static_cast<uint64_t>(static_cast<int64_t>(d));
    }
  }
  last_time = t;
  putLE(item, t, 8);
}

// ---------------------------------------------------------------------------

Rgb12Reader::Rgb12Reader(EntropyDecoder* dec)
    : dec(dec), models(dec), used(models.make(64)), coder(dec, 8, 6, 8, 0) {}

void Rgb12Reader::startChunk(const uint8_t* item) {
  dec->resetSymbolModel(used, nullptr);
  coder.startDecoding();
  std::memcpy(last, item, 6);
}

void Rgb12Reader::readItem(uint8_t* item) {
  const uint32_t bits = dec->getSymbol(used);
  for (uint32_t i = 0; i < 6; ++i) {
    if (bits & (1u << i)) last[i] = static_cast<uint8_t>(coder.decode(last[i], i));
  }
  std::memcpy(item, last, 6);
}

// ---------------------------------------------------------------------------

WavePacket13Reader::WavePacket13Reader(EntropyDecoder* dec)
    : dec(dec),
      models(dec),
      index(models.make(256)),
      offset_symbols{models.make(4), models.make(4), models.make(4), models.make(4)},
      offset_diff(dec, 32, 1, 8, 0),
      packet_size(dec, 32, 1, 8, 0),
      return_point(dec, 32, 1, 8, 0),
      xyz(dec, 32, 3, 8, 0) {}

void WavePacket13Reader::startChunk(const uint8_t* item) {
  dec->resetSymbolModel(index, nullptr);
  for (AdaptiveSymbolModel* m : offset_symbols) dec->resetSymbolModel(m, nullptr);
  for (IntegerResidualCoder* c : {&offset_diff, &packet_size, &return_point, &xyz}) {
    c->startDecoding();
  }
  last_diff = 0;
  last_symbol = 0;
  std::memcpy(last, item, 29);
}

void WavePacket13Reader::readItem(uint8_t* item) {
  item[0] = static_cast<uint8_t>(dec->getSymbol(index));
  const uint64_t last_offset = getLE64(last + 1);
  const uint32_t last_size = getLE(last + 9, 4);
  const uint32_t sym = dec->getSymbol(offset_symbols[last_symbol]);
  last_symbol = sym;
  uint64_t offset;
  if (sym == 0) {
    offset = last_offset;
  } else if (sym == 1) {
    offset = last_offset + last_size;
  } else if (sym == 2) {
    last_diff = offset_diff.decode(last_diff, 0);
    offset = last_offset + static_cast<uint64_t>(static_cast<int64_t>(last_diff));
  } else {
    offset = dec->getRawU64();
  }
  putLE(item + 1, offset, 8);
  putLE(item + 9, static_cast<uint32_t>(packet_size.decode(static_cast<int32_t>(last_size), 0)), 4);
  const auto field = [&](int at) { return static_cast<int32_t>(getLE(last + at, 4)); };
  putLE(item + 13, static_cast<uint32_t>(return_point.decode(field(13), 0)), 4);
  putLE(item + 17, static_cast<uint32_t>(xyz.decode(field(17), 0)), 4);
  putLE(item + 21, static_cast<uint32_t>(xyz.decode(field(21), 1)), 4);
  putLE(item + 25, static_cast<uint32_t>(xyz.decode(field(25), 2)), 4);
  std::memcpy(last, item, 29);
}

// ---------------------------------------------------------------------------

ByteReader::ByteReader(EntropyDecoder* dec, uint32_t number)
    : number(number), coder(dec, 8, number, 8, 0), last(number) {}

void ByteReader::startChunk(const uint8_t* item) {
  coder.startDecoding();
  std::copy(item, item + number, last.begin());
}

void ByteReader::readItem(uint8_t* item) {
  for (uint32_t i = 0; i < number; ++i) {
    last[i] = static_cast<uint8_t>(coder.decode(last[i], i));
    item[i] = last[i];
  }
}

}  // namespace readers_v1
