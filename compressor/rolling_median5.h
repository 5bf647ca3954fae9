// RollingMedian5: a running median of five recent values, the prediction of the
// X and Y steps in the point coders. Read this first:
// - `values` stays sorted ascending and get() is its middle entry;
// - a new value does not displace the oldest one: it displaces the largest while
//   `high` is true and the smallest while it is false, and `high` flips when a
//   value lands on the "wrong" side of the median;
// - the exact displacement rule is part of the coded format: encoder and decoder
//   must keep identical medians, so do not "improve" it.
#ifndef MORROWTIDE_COMPRESSOR_ROLLING_MEDIAN5_H
#define MORROWTIDE_COMPRESSOR_ROLLING_MEDIAN5_H

#include <cstdint>

struct RollingMedian5 {
  int32_t values[5] = {0, 0, 0, 0, 0};  // ascending
  bool high = true;

  // All five values 0, `high` true.
  void reset();

  int32_t get() const { return values[2]; }

  // Inserts `d`, displacing the largest value (high) or the smallest (not high).
  void add(int32_t d) {
    if (high) {
      if (d < values[2]) {
        values[4] = values[3];
        values[3] = values[2];
        if (d < values[0]) {
          values[2] = values[1];
          values[1] = values[0];
          values[0] = d;
        } else if (d < values[1]) {
          values[2] = values[1];
          values[1] = d;
        } else {
          values[2] = d;
        }
      } else {
        if (d < values[3]) {
          values[4] = values[3];
          values[3] = d;
        } else {
          values[4] = d;
        }
        high = false;
      }
    } else {
      if (d > values[2]) {
        values[0] = values[1];
        values[1] = values[2];
        if (d > values[4]) {
          values[2] = values[3];
          values[3] = values[4];
          values[4] = d;
        } else if (d > values[3]) {
          values[2] = values[3];
          values[3] = d;
        } else {
          values[2] = d;
        }
      } else {
        if (d > values[1]) {
          values[0] = values[1];
          values[1] = d;
        } else {
          values[0] = d;
        }
        high = true;
      }
    }
  }
};

#endif  // MORROWTIDE_COMPRESSOR_ROLLING_MEDIAN5_H
