// The compressor descriptor: setup for a point format or an item list, coder
// versions, chunk size, compatibility mode, and the record payload (pack and
// unpack). Every failure is a false result with the error text stored.
#include "morrowtide/compressor/quodax.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "morrowtide/compressor/byte_order.h"

using morrowtide::getI64LE;
using morrowtide::getU16LE;
using morrowtide::getU32LE;
using morrowtide::putI64LE;
using morrowtide::putU16LE;
using morrowtide::putU32LE;

namespace {

namespace qf = quodax_format;

}  // namespace

Quodax::Quodax()
    : compressor(qf::kCompressorChunked),
      coder(qf::kCoderArithmetic),
      version_major(qf::kVersionMajor),
      version_minor(qf::kVersionMinor),
      version_revision(qf::kVersionRevision),
      options(0),
      chunk_size(qf::kDefaultChunkSize),
      number_of_special_evlrs(qf::kNoSpecialEvlrs),
      offset_to_special_evlrs(qf::kNoSpecialEvlrs),
      num_items(0),
      items(nullptr),
      bytes(nullptr),
      error_string(nullptr) {}

Quodax::~Quodax() {
  free(error_string);
  delete[] items;
  delete[] bytes;
}

bool Quodax::setError(const char* text) {
  // The text may be the current error text itself: format before freeing it.
  static const char kFormat[] = "%s (Quodax v%d.%dr%d)";
  const int length = snprintf(nullptr, 0, kFormat, text, qf::kVersionMajor, qf::kVersionMinor,
                              qf::kVersionRevision);
  if (length < 0) return false;
  char* message = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (message == nullptr) return false;
  snprintf(message, static_cast<size_t>(length) + 1, kFormat, text, qf::kVersionMajor,
           qf::kVersionMinor, qf::kVersionRevision);
  free(error_string);
  error_string = message;
  return false;
}

bool Quodax::fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  return setError(text.data());
}

bool Quodax::validateCompressor(uint16_t value) {
  if (value > qf::kCompressorLayeredChunked) return fail("compressor %d not supported", value);
  return true;
}

bool Quodax::validateCoder(uint16_t value) {
  if (value != qf::kCoderArithmetic) return fail("coder %d not supported", value);
  return true;
}

bool Quodax::validate(uint16_t point_size) {
  return validateCompressor(compressor) && validateCoder(coder) &&
         validateItems(num_items, items, point_size);
}

bool Quodax::chooseCompressor(const LASitem& first, uint16_t requested) {
  if (requested == qf::kCompressorNone) {
    compressor = qf::kCompressorNone;
    return true;
  }
  uint16_t chosen = requested;
  if (first.type == LASitem::POINT14) {
    // LAS 1.4 points are only ever stored in layered chunks.
    if (requested != qf::kCompressorLayeredChunked) return false;
  } else if (requested == qf::kCompressorLayeredChunked) {
    chosen = qf::kCompressorChunked;
  }
  compressor = chosen;
  if (chosen != qf::kCompressorSingleStream && chunk_size == qf::kVariableChunkSize)
    chunk_size = qf::kDefaultChunkSize;
  return true;
}

bool Quodax::setup(uint8_t point_type, uint16_t point_size, uint16_t requested) {
  if (!validateCompressor(requested)) return false;
  num_items = 0;
  delete[] items;
  items = nullptr;
  if (!setupItems(num_items, items, point_type, point_size, requested)) return false;
  return chooseCompressor(items[0], requested);
}

bool Quodax::setup(uint16_t num, const LASitem* list, uint16_t requested) {
  if (!validateCompressor(requested)) return false;
  if (!validateItems(num, list, 0)) return false;
  if (!chooseCompressor(list[0], requested)) return false;
  // Copy before releasing: `list` may be this descriptor's own array.
  LASitem* copy = new LASitem[num];
  for (uint16_t i = 0; i < num; i++) copy[i] = list[i];
  delete[] items;
  items = copy;
  num_items = num;
  return true;
}

bool Quodax::assignVersions(uint16_t num, LASitem* list, uint16_t version) {
  for (uint16_t i = 0; i < num; i++) {
    switch (list[i].type) {
      case LASitem::POINT14:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
      case LASitem::WAVEPACKET14:
      case LASitem::BYTE14:
        list[i].version = 3;
        break;
      case LASitem::WAVEPACKET13:
        list[i].version = 1;
        break;
      case LASitem::BYTE:
      case LASitem::POINT10:
      case LASitem::GPSTIME11:
      case LASitem::RGB12:
        list[i].version = version;
        break;
      default:
        return fail("item type not supported");
    }
  }
  return true;
}

bool Quodax::requestVersion(uint16_t version) {
  if (num_items == 0) return fail("call setup() before requesting version");
  if (compressor == qf::kCompressorNone) {
    if (version != 0) return fail("without compression version is always 0");
  } else {
    if (version == 0) return fail("with compression version is at least 1");
    if (version > 2) return fail("version larger than 2 not supported");
  }
  return assignVersions(num_items, items, version);
}

bool Quodax::setChunkSize(uint32_t size) {
  if (num_items == 0) return fail("call setup() before setting chunk size");
  if (compressor == qf::kCompressorSingleStream) return false;
  chunk_size = size;
  return true;
}

bool Quodax::requestCompatibilityMode(uint16_t mode) {
  if (num_items != 0) return fail("request compatibility mode before calling setup()");
  if (mode > 1) return fail("compatibility mode larger than 1 not supported");
  if (mode == 1) {
    options |= qf::kOptionCompatibility;
  } else {
    options &= ~qf::kOptionCompatibility;
  }
  return true;
}

bool Quodax::pack(uint8_t*& out, int32_t& num) {
  if (!validate(0)) return false;
  const uint32_t size = qf::kRecordFixedSize + qf::kRecordItemSize * num_items;
  uint8_t* payload = new uint8_t[size];
  putU16LE(payload + 0, compressor);
  putU16LE(payload + 2, coder);
  payload[4] = version_major;
  payload[5] = version_minor;
  putU16LE(payload + 6, version_revision);
  putU32LE(payload + 8, options);
  putU32LE(payload + 12, chunk_size);
  putI64LE(payload + 16, number_of_special_evlrs);
  putI64LE(payload + 24, offset_to_special_evlrs);
  putU16LE(payload + 32, num_items);
  for (uint16_t i = 0; i < num_items; i++) {
    uint8_t* p = payload + qf::kRecordFixedSize + qf::kRecordItemSize * i;
    putU16LE(p + 0, static_cast<uint16_t>(items[i].type));
    putU16LE(p + 2, items[i].size);
    putU16LE(p + 4, items[i].version);
  }
  delete[] bytes;
  bytes = payload;
  out = bytes;
  num = static_cast<int32_t>(size);
  return true;
}

bool Quodax::unpack(const uint8_t* payload, int32_t num) {
  const int32_t fixed = static_cast<int32_t>(qf::kRecordFixedSize);
  const int32_t per_item = static_cast<int32_t>(qf::kRecordItemSize);
  if (num < fixed) return fail("too few bytes to unpack");
  if ((num - fixed) % per_item != 0) return fail("wrong number bytes to unpack");
  if (num == fixed) return fail("zero items to unpack");
  if (payload == nullptr) return fail("bytes pointer cannot be NULL");
  // The item-count field must agree with the length, or the items would be read
  // from past the payload and written past the list.
  const int32_t count = (num - fixed) / per_item;
  const uint16_t field = getU16LE(payload + 32);
  if (field != count)
    return fail("number of items %d does not match %d bytes to unpack", field, num);

  delete[] items;
  items = new LASitem[count];
  compressor = getU16LE(payload + 0);
  coder = getU16LE(payload + 2);
  version_major = payload[4];
  version_minor = payload[5];
  version_revision = getU16LE(payload + 6);
  options = getU32LE(payload + 8);
  chunk_size = getU32LE(payload + 12);
  number_of_special_evlrs = getI64LE(payload + 16);
  offset_to_special_evlrs = getI64LE(payload + 24);
  num_items = field;
  for (uint16_t i = 0; i < num_items; i++) {
    const uint8_t* p = payload + fixed + per_item * i;
    items[i].type = getU16LE(p + 0);
    items[i].size = getU16LE(p + 2);
    items[i].version = getU16LE(p + 4);
  }
  for (uint16_t i = 0; i < num_items; i++) {
    if (!validateItem(&items[i])) return false;
  }
  return true;
}
