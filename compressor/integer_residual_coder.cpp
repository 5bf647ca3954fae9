// Construction, model creation and reset of the residual coder; the per-value
// coding is inline in the header.
#include "morrowtide/compressor/integer_residual_coder.h"

#include <cassert>

IntegerResidualCoder::IntegerResidualCoder(EntropyEncoder* enc, uint32_t bits, uint32_t contexts,
                                           uint32_t direct_bits, uint32_t range)
    : encoder(enc) {
  assert(enc != nullptr);
  init(bits, contexts, direct_bits, range);
}

IntegerResidualCoder::IntegerResidualCoder(EntropyDecoder* dec, uint32_t bits, uint32_t contexts,
                                           uint32_t direct_bits, uint32_t range)
    : decoder(dec) {
  assert(dec != nullptr);
  init(bits, contexts, direct_bits, range);
}

void IntegerResidualCoder::init(uint32_t bits, uint32_t contexts_asked, uint32_t direct_bits_asked,
                                uint32_t range) {
  contexts = contexts_asked;
  direct_bits = direct_bits_asked;
  if (range != 0) {
    residual_range = range;
    residual_bits = 0;  // ceil(log2 range)
    while (residual_bits < 32 && (uint64_t{1} << residual_bits) < range) ++residual_bits;
    residual_min = -static_cast<int32_t>(range >> 1);
    residual_max = static_cast<int32_t>(range - (range >> 1) - 1);
  } else if (bits >= 1 && bits <= 31) {
    residual_bits = bits;
    residual_range = 1u << bits;
    residual_min = -static_cast<int32_t>(residual_range >> 1);
    residual_max = static_cast<int32_t>(residual_range - (residual_range >> 1) - 1);
  } else {
    residual_bits = 32;
    residual_range = 0;
    residual_min = INT32_MIN;
    residual_max = INT32_MAX;
  }
  // Parameters under which some model would have fewer than 2 or more than
  // 2048 symbols are a programming error.
  assert(contexts >= 1);
  assert(direct_bits >= 1);
  assert(range != 1);
  assert((residual_bits < direct_bits ? residual_bits : direct_bits) <= 11);
}

IntegerResidualCoder::~IntegerResidualCoder() {
  if (class_models != nullptr) {
    for (uint32_t i = 0; i < contexts; ++i) {
      if (encoder != nullptr) {
        encoder->deleteSymbolModel(class_models[i]);
      } else {
        decoder->deleteSymbolModel(class_models[i]);
      }
    }
    delete[] class_models;
  }
  if (residual_models != nullptr) {
    for (uint32_t k = 1; k <= residual_bits; ++k) {
      if (encoder != nullptr) {
        encoder->deleteSymbolModel(residual_models[k]);
      } else {
        decoder->deleteSymbolModel(residual_models[k]);
      }
    }
    if (encoder != nullptr) {
      encoder->deleteBitModel(residual_bit_model);
    } else {
      decoder->deleteBitModel(residual_bit_model);
    }
    delete[] residual_models;
  }
}

void IntegerResidualCoder::createModels(bool encoding) {
  auto newSymbolModel = [&](uint32_t symbols) {
    return encoding ? encoder->newSymbolModel(symbols) : decoder->newSymbolModel(symbols);
  };
  class_models = new AdaptiveSymbolModel*[contexts];
  for (uint32_t i = 0; i < contexts; ++i) class_models[i] = newSymbolModel(residual_bits + 1);
  residual_bit_model = encoding ? encoder->newBitModel() : decoder->newBitModel();
  // Entry 0 stays null: class 0 codes its bit with residual_bit_model.
  residual_models = new AdaptiveSymbolModel*[residual_bits + 1];
  residual_models[0] = nullptr;
  for (uint32_t k = 1; k <= residual_bits; ++k) {
    residual_models[k] = newSymbolModel(1u << (k < direct_bits ? k : direct_bits));
  }
}

void IntegerResidualCoder::resetModels() {
  // Class models, then the bit model, then the offset models in order; the
  // models reset themselves whichever side made them.
  for (uint32_t i = 0; i < contexts; ++i) class_models[i]->reset(nullptr);
  residual_bit_model->reset();
  for (uint32_t k = 1; k <= residual_bits; ++k) residual_models[k]->reset(nullptr);
}

void IntegerResidualCoder::startEncoding() {
  assert(encoder != nullptr);
  if (class_models == nullptr) createModels(true);
  resetModels();
}

void IntegerResidualCoder::startDecoding() {
  assert(decoder != nullptr);
  if (class_models == nullptr) createModels(false);
  resetModels();
}
