// The GPS time coding shared by the version 2 GPS time writer and the layered
// POINT14 writers. A time (the F64's bit pattern read as an I64) belongs to one
// of up to four sequences, each with its last time and its step; it is coded as
// a multiple of the current sequence's step, or it switches to another sequence
// that it reaches with a 32-bit difference, or it opens a new sequence.
//
// Read this first:
// - the multiplier ladder (symbols 0 to 510, residual contexts 1 to 7) and the
//   rule that the fourth extreme multiplier replaces the step are the same in
//   both coders;
// - they differ only in an unchanged time: the version 2 coder codes it with a
//   symbol of its own in each model (0 and 511) and numbers the later symbols
//   one up; the layered coder codes only times that changed, so it has neither;
// - every difference and product wraps: 64 bits for times, 32 for steps.
#ifndef MORROWTIDE_COMPRESSOR_GPS_TIME_CODING_H
#define MORROWTIDE_COMPRESSOR_GPS_TIME_CODING_H

#include <cstdint>

#include "morrowtide/compressor/entropy_encoder.h"
#include "morrowtide/compressor/exact_arithmetic.h"
#include "morrowtide/compressor/integer_residual_coder.h"

namespace morrowtide {

// The four time sequences of one coder (or one channel context).
struct GpsTimeSequences {
  // Forgets every sequence and opens sequence 0 at `first_time`; the other
  // three hold time 0 and no step.
  void start(uint64_t first_time) {
    gps_last = 0;
    gps_next = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      gps_times[i] = 0;
      gps_diffs[i] = 0;
      gps_extreme_counters[i] = 0;
    }
    gps_times[0] = first_time;
  }

  uint32_t gps_last = 0;                 // the sequence in use, 0 to 3
  uint32_t gps_next = 0;                 // the slot of the sequence opened last
  uint64_t gps_times[4] = {};            // each sequence's last time
  int32_t gps_diffs[4] = {};             // each sequence's step; 0 while it has none
  int32_t gps_extreme_counters[4] = {};  // extreme multipliers since the step was set
};

// Multiplier symbols, while the sequence has a step: the multiplier m itself
// for 0 to 499, 500 for every m from 500 on, 500 - m for m from -1 to -9, and
// 510 for every m below -9.
constexpr uint32_t kGpsMultiplierLargest = 500;
constexpr uint32_t kGpsMultiplierBelowMinusNine = 510;
// Residual contexts of the GPS coder, by what the difference is coded against.
constexpr uint32_t kGpsContextFirstStep = 0;         // 0, the sequence had no step
constexpr uint32_t kGpsContextStep = 1;              // m = 1
constexpr uint32_t kGpsContextSmallMultiple = 2;     // m from 2 to 9
constexpr uint32_t kGpsContextLargeMultiple = 3;     // m from 10 to 499
constexpr uint32_t kGpsContextLargestMultiple = 4;   // m from 500 on
constexpr uint32_t kGpsContextNegativeMultiple = 5;  // m from -1 to -9
constexpr uint32_t kGpsContextBelowMinusNine = 6;    // m below -9
constexpr uint32_t kGpsContextZeroMultiple = 7;      // m = 0, coded against 0
constexpr uint32_t kGpsContextNewSequenceHigh = 8;   // high halves of a new sequence
constexpr ResidualCoderShape kGpsCoderShape{32, kGpsContextNewSequenceHigh + 1};
// Extreme multipliers (0, from 500 on, below -9) a step survives; the next one
// makes its own difference the step.
constexpr int32_t kGpsExtremesKept = 3;

// The symbols around the ladder. With `kUnchangedTimeSymbols` (version 2) an
// unchanged time has symbol 0 of the zero-difference model and 511 of the
// multiplier model, and every symbol after it is one up. A switch to the
// sequence i slots on (i = 1 to 3) is the new-sequence symbol + i.
template <bool kUnchangedTimeSymbols>
struct GpsSequenceSymbols {
  static constexpr uint32_t kShift = kUnchangedTimeSymbols ? 1 : 0;
  static constexpr uint32_t kZeroDiffUnchanged = 0;
  static constexpr uint32_t kZeroDiffFirstStep = kShift;
  static constexpr uint32_t kZeroDiffNewSequence = 1 + kShift;
  static constexpr uint32_t kZeroDiffSymbols = kZeroDiffNewSequence + 4;
  static constexpr uint32_t kMultiplierUnchanged = kGpsMultiplierBelowMinusNine + 1;
  static constexpr uint32_t kMultiplierNewSequence = kGpsMultiplierBelowMinusNine + 1 + kShift;
  static constexpr uint32_t kMultiplierSymbols = kMultiplierNewSequence + 4;
};

// Codes `difference` of the sequence in use, which has a step, as a multiple m
// of the step: m is the single-precision quotient rounded half away from zero
// in double precision, saturated to I32.
[[gnu::always_inline]] inline void encodeGpsMultiple(EntropyEncoder& encoder,
                                                     const OwnedSymbolModel& multiplier_model,
                                                     IntegerResidualCoder& coder,
                                                     GpsTimeSequences& sequences,
                                                     int32_t difference) {
  const uint32_t current = sequences.gps_last;
  const int32_t step = sequences.gps_diffs[current];
  const float quotient = static_cast<float>(difference) / static_cast<float>(step);
  const int32_t multiplier = morrowtide::roundHalfAwayToI32(static_cast<double>(quotient));
  constexpr int32_t kLargest = static_cast<int32_t>(kGpsMultiplierLargest);
  bool extreme = false;
  if (multiplier == 1) {
    encoder.putSymbol(multiplier_model, 1);
    coder.encode(step, difference, kGpsContextStep);
    sequences.gps_extreme_counters[current] = 0;
  } else if (multiplier >= 2 && multiplier < kLargest) {
    encoder.putSymbol(multiplier_model, static_cast<uint32_t>(multiplier));
    coder.encode(morrowtide::wrappingProduct(multiplier, step), difference,
                 multiplier <= 9 ? kGpsContextSmallMultiple : kGpsContextLargeMultiple);
  } else if (multiplier >= kLargest) {
    encoder.putSymbol(multiplier_model, kGpsMultiplierLargest);
    coder.encode(morrowtide::wrappingProduct(kLargest, step), difference,
                 kGpsContextLargestMultiple);
    extreme = true;
  } else if (multiplier == 0) {
    encoder.putSymbol(multiplier_model, 0);
    coder.encode(0, difference, kGpsContextZeroMultiple);
    extreme = true;
  } else if (multiplier >= -9) {
    encoder.putSymbol(multiplier_model, static_cast<uint32_t>(kLargest - multiplier));
    coder.encode(morrowtide::wrappingProduct(multiplier, step), difference,
                 kGpsContextNegativeMultiple);
  } else {
    encoder.putSymbol(multiplier_model, kGpsMultiplierBelowMinusNine);
    coder.encode(morrowtide::wrappingProduct(-10, step), difference, kGpsContextBelowMinusNine);
    extreme = true;
  }
  if (extreme && ++sequences.gps_extreme_counters[current] > kGpsExtremesKept) {
    sequences.gps_diffs[current] = difference;
    sequences.gps_extreme_counters[current] = 0;
  }
}

// Codes `time` into `encoder` with the two models (kZeroDiffSymbols and
// kMultiplierSymbols of GpsSequenceSymbols<kUnchangedTimeSymbols>) and `coder`
// (kGpsCoderShape), and makes it the last time of its sequence.
// Requires: `encoder` started; models reset and coder started; `sequences`
// started with the chunk's first time.
template <bool kUnchangedTimeSymbols>
[[gnu::always_inline]] inline void encodeGpsTime(EntropyEncoder& encoder,
                                                 const OwnedSymbolModel& multiplier_model,
                                                 const OwnedSymbolModel& zero_diff_model,
                                                 IntegerResidualCoder& coder,
                                                 GpsTimeSequences& sequences, uint64_t time) {
  using Symbols = GpsSequenceSymbols<kUnchangedTimeSymbols>;
  // A switch codes the time again in the sequence it fits, so the second pass
  // never switches.
  for (;;) {
    const uint32_t current = sequences.gps_last;
    const uint64_t difference = time - sequences.gps_times[current];
    const bool has_step = sequences.gps_diffs[current] != 0;
    const OwnedSymbolModel& model = has_step ? multiplier_model : zero_diff_model;
    if (kUnchangedTimeSymbols && difference == 0) {
      encoder.putSymbol(model,
                        has_step ? Symbols::kMultiplierUnchanged : Symbols::kZeroDiffUnchanged);
      return;
    }
    if (morrowtide::fitsI32(difference)) {
      const int32_t difference32 = static_cast<int32_t>(static_cast<uint32_t>(difference));
      if (has_step) {
        morrowtide::encodeGpsMultiple(encoder, multiplier_model, coder, sequences, difference32);
      } else {
        encoder.putSymbol(zero_diff_model, Symbols::kZeroDiffFirstStep);
        coder.encode(0, difference32, kGpsContextFirstStep);
        sequences.gps_diffs[current] = difference32;
        sequences.gps_extreme_counters[current] = 0;
      }
      sequences.gps_times[current] = time;
      return;
    }

    // Too far for this sequence: switch to the first other one that it fits.
    const uint32_t new_sequence =
        has_step ? Symbols::kMultiplierNewSequence : Symbols::kZeroDiffNewSequence;
    uint32_t slots_on = 1;
    while (slots_on < 4 &&
           !morrowtide::fitsI32(time - sequences.gps_times[(current + slots_on) & 3])) {
      ++slots_on;
    }
    if (slots_on < 4) {
      encoder.putSymbol(model, new_sequence + slots_on);
      sequences.gps_last = (current + slots_on) & 3;
      continue;
    }
    // None: the high half against the current sequence's, the low half raw, and
    // the time opens the next slot.
    encoder.putSymbol(model, new_sequence);
    coder.encode(static_cast<int32_t>(static_cast<uint32_t>(sequences.gps_times[current] >> 32)),
                 static_cast<int32_t>(static_cast<uint32_t>(time >> 32)),
                 kGpsContextNewSequenceHigh);
    encoder.putRawU32(static_cast<uint32_t>(time));
    sequences.gps_next = (sequences.gps_next + 1) & 3;
    sequences.gps_last = sequences.gps_next;
    sequences.gps_diffs[sequences.gps_last] = 0;
    sequences.gps_extreme_counters[sequences.gps_last] = 0;
    sequences.gps_times[sequences.gps_last] = time;
    return;
  }
}

}  // namespace morrowtide

#endif  // MORROWTIDE_COMPRESSOR_GPS_TIME_CODING_H
