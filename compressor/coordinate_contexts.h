// The contexts of the X, Y and Z residual coders shared by the POINT10 version 2
// writer and the layered POINT14 writers, and the shapes of those coders.
//
// Where the numbers come from: every context has the point's single-return bit
// (1 when it has exactly one return) as its bit 0. X adds nothing: 2 contexts.
// Y adds the class of the X residual just coded (0 to 32), rounded down to even
// and capped at 20: {0, 2, ..., 18, 20} with bit 0, 0 to 21, so 22 contexts. Z
// adds half the sum of the X and Y classes (0 to 64), for sums below 36 rounded
// down to even (0 to 16), else 18: 0 to 19 with bit 0, so 20 contexts. Two
// neighbouring classes share a context, and the rare large ones share the last.
#ifndef MORROWTIDE_COMPRESSOR_COORDINATE_CONTEXTS_H
#define MORROWTIDE_COMPRESSOR_COORDINATE_CONTEXTS_H

#include <cstdint>

#include "morrowtide/compressor/integer_residual_coder.h"

namespace morrowtide {

constexpr uint32_t kXContexts = 2;
constexpr uint32_t kYContexts = 22;
constexpr uint32_t kZContexts = 20;

// Bit 0 of every coordinate context: 1 when the point has exactly one return.
constexpr uint32_t singleReturnContext(uint32_t number_of_returns) {
  return number_of_returns == 1 ? 1 : 0;
}

// The Y context from the class of the X residual.
constexpr uint32_t yContext(uint32_t single_return, uint32_t x_class) {
  return single_return | (x_class < 20 ? x_class & ~1u : 20u);
}

// The Z context from the sum of the X and Y residuals' classes.
constexpr uint32_t zContext(uint32_t single_return, uint32_t xy_classes) {
  return single_return | (xy_classes < 36 ? (xy_classes / 2) & ~1u : 18u);
}

static_assert(morrowtide::yContext(1, 32) == kYContexts - 1, "the largest Y context");
static_assert(morrowtide::zContext(1, 64) == kZContexts - 1, "the largest Z context");

// The coordinate coders: 32-bit steps (X, Y) and values (Z).
constexpr ResidualCoderShape kDxCoderShape{32, kXContexts};
constexpr ResidualCoderShape kDyCoderShape{32, kYContexts};
constexpr ResidualCoderShape kZCoderShape{32, kZContexts};

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_COORDINATE_CONTEXTS_H
