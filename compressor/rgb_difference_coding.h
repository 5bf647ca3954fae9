// The per-record colour coding shared by the version 2 RGB writer and the layered
// LAS 1.4 colour writers: a colour is coded against a reference colour byte by
// byte, with green and blue predicted from red's change.
//
// Read this first:
// - colour bytes are numbered 0 to 5: red low, red high, green low, green high,
//   blue low, blue high (the item's bytes in order);
// - the symbols go out in the order byte-used, red low, red high, green low, blue
//   low, green high, blue high, each only when its byte-used bit is set;
// - for a grey colour (red = green = blue) nothing is coded for green and blue,
//   whatever their bits say: the decoder copies them from red.
#ifndef MORROWTIDE_COMPRESSOR_RGB_DIFFERENCE_CODING_H
#define MORROWTIDE_COMPRESSOR_RGB_DIFFERENCE_CODING_H

#include <cstdint>

class EntropyEncoder;
class AdaptiveSymbolModel;

namespace morrowtide {

class OwnedSymbolModel;

// Codes `colour` (red, green, blue) against `reference` into `encoder` with the
// byte-used model (128 symbols) and the six difference models (256 symbols each,
// one per colour byte). Returns the byte-used symbol that was coded.
// Requires: `encoder` started; every model reset. Nothing is owned or kept.
uint32_t codeRgbDifference(EntropyEncoder& encoder, AdaptiveSymbolModel* byte_used,
                           AdaptiveSymbolModel* const rgb_diff[6], const uint16_t reference[3],
                           const uint16_t colour[3]);
// The same with the models of their owners.
uint32_t codeRgbDifference(EntropyEncoder& encoder, const OwnedSymbolModel& byte_used,
                           const OwnedSymbolModel rgb_diff[6], const uint16_t reference[3],
                           const uint16_t colour[3]);

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_RGB_DIFFERENCE_CODING_H
