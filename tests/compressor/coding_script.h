// A hand-driven encoder for byte-exact tests of the item coders: models and
// residual coders made and reset as a writer makes them, then fed the expected
// operations one by one. bytes() ends the stream and returns what it coded.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_CODING_SCRIPT_H
#define MORROWTIDE_TESTS_COMPRESSOR_CODING_SCRIPT_H

#include <cstdint>
#include <memory>
#include <vector>

#include "morrowtide/compressor/adaptive_models.h"
#include "morrowtide/compressor/byte_stream_out.h"
#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/integer_residual_coder.h"

class CodingScript {
 public:
  CodingScript() { enc.start(&out); }
  ~CodingScript() {
    coders.clear();  // they delete their models through `enc`
    for (AdaptiveSymbolModel* m : models) enc.deleteSymbolModel(m);
  }
  CodingScript(const CodingScript&) = delete;
  CodingScript& operator=(const CodingScript&) = delete;

  AdaptiveSymbolModel* model(uint32_t symbols) {
    models.push_back(enc.newSymbolModel(symbols));
    enc.resetSymbolModel(models.back(), nullptr);
    return models.back();
  }
  IntegerResidualCoder* coder(uint32_t bits, uint32_t contexts) {
    coders.emplace_back(new IntegerResidualCoder(&enc, bits, contexts, 8, 0));
    coders.back()->startEncoding();
    return coders.back().get();
  }
  void sym(AdaptiveSymbolModel* m, uint32_t s) { enc.putSymbol(m, s); }
  void res(IntegerResidualCoder* c, int32_t pred, int32_t real, uint32_t context) {
    c->encode(pred, real, context);
  }
  void raw32(uint32_t v) { enc.putRawU32(v); }
  EntropyEncoder& encoder() { return enc; }

  std::vector<uint8_t> bytes() {
    enc.finish();
    return std::vector<uint8_t>(out.data(), out.data() + out.byteCount());
  }

 private:
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  std::vector<AdaptiveSymbolModel*> models;
  std::vector<std::unique_ptr<IntegerResidualCoder>> coders;
};

#endif  // MORROWTIDE_TESTS_COMPRESSOR_CODING_SCRIPT_H
