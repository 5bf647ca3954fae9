// What the point writers share besides the coordinate contexts
// (coordinate_contexts.h) and the GPS time coding (gps_time_coding.h): the bits
// of the POINT10 changed-values symbol of versions 1 and 2, and the shapes of the
// intensity and point source ID coders.
//
// Read this first:
// - a changed-values bit is set when its field differs from what the writer
//   compares it with; versions 1 and 2 agree on the low four bits and swap the
//   top two;
// - the intensity shape is that of version 2 and of the layered POINT14 writers;
//   version 1 codes intensity in one context (item_writers_v1.cpp);
// - the point source ID coder has the same shape in every version.
#ifndef MORROWTIDE_COMPRESSOR_POINT_FIELD_CODING_H
#define MORROWTIDE_COMPRESSOR_POINT_FIELD_CODING_H

#include <cstdint>

#include "morrowtide/compressor/integer_residual_coder.h"

namespace morrowtide {

// The POINT10 changed-values symbol: one bit per field, any combination a symbol.
constexpr uint32_t kPoint10ChangedPointSource = 1u << 0;
constexpr uint32_t kPoint10ChangedUserData = 1u << 1;
constexpr uint32_t kPoint10ChangedScanAngleRank = 1u << 2;
constexpr uint32_t kPoint10ChangedClassification = 1u << 3;
constexpr uint32_t kPoint10V1ChangedReturnByte = 1u << 4;
constexpr uint32_t kPoint10V1ChangedIntensity = 1u << 5;
constexpr uint32_t kPoint10V2ChangedIntensity = 1u << 4;
constexpr uint32_t kPoint10V2ChangedReturnByte = 1u << 5;
constexpr uint32_t kPoint10ChangedValuesSymbols = 1u << 6;

// The intensity coder of version 2 and of the layered writers, and the point
// source ID coder of every version.
constexpr ResidualCoderShape kIntensityCoderShape{16, 4};
constexpr ResidualCoderShape kPointSourceCoderShape{16, 1};

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_POINT_FIELD_CODING_H
