// The set of per-attribute point histograms asked for by the options "-histo"
// name step and "-histo_avg" name step name_avg. Forty fixed slots, one per
// supported histogram: 0-33 plain histograms of one point attribute, 34-39
// histograms of one attribute that report per bin the average of another. A tool
// parses its options, feeds every point to add() and prints report().
// A point's class and returns are read by LASpointRecord's getEffective...()
// rule in every slot that uses them.
#ifndef MORROWTIDE_LAS_LAS_HISTOGRAM_H
#define MORROWTIDE_LAS_LAS_HISTOGRAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "morrowtide/las/las_histogram_bins.h"
#include "morrowtide/las/las_point_record.h"

class LAShistogram final {
 public:
  static constexpr int kSlots = 40;
  // Slots 0-33 are written back by unparse(); 34-39 are the averages slots.
  static constexpr int kPlainSlots = 34;

  LAShistogram() = default;
  LAShistogram(const LAShistogram&) = delete;
  LAShistogram& operator=(const LAShistogram&) = delete;

  // Consumes the "-histo" and "-histo_avg" options of argv[1 .. argc - 1],
  // setting the first character of each consumed argument to NUL; arguments
  // already blank are skipped; "-h" or "-help" returns true at once. Returns
  // false, printing the option's "ERROR: " line, for missing arguments, a step
  // that is no number, 0 or below, or not finite (unless the slot ignores the
  // step), or a name histo()/histoAvg() refuses.
  bool parse(int32_t argc, char** argv);
  // Fills the slot of `name` (slots 0-33) with new bins of width `step`. False,
  // printing "ERROR: histogram of '%s' not implemented\n", for an unknown name,
  // or an "ERROR: " line for a step that is not finite and above 0.
  bool histo(const char* name, double step);
  // Fills the averages slot of the pair (slots 34-39); the "return_map" slot
  // always bins by 1. False with the matching "ERROR: " line for an unknown
  // name, a pair the name does not support, or an invalid step.
  bool histoAvg(const char* name, double step, const char* name_avg);
  // Writes the "-histo" options of the filled slots 0-33 into `string` (at most
  // `size` bytes, NUL included, cut short when they do not fit) and returns the
  // length of the whole text; 0, leaving `string` untouched, when none is filled.
  int32_t unparse(char* string, size_t size) const;

  // Adds the point to every filled slot. Requires: `point` is not null.
  void add(const LASpointRecord* point);
  // Prints every filled slot's report to `file`; false when a line failed.
  bool report(FILE* file) const;
  // Empties every filled slot; the requested histograms stay.
  void reset();

  bool active = false;
  std::unique_ptr<LAShistogramBins> bins[kSlots];  // null while not requested

 private:
  void fill(int slot, double step);
};

#endif  // MORROWTIDE_LAS_LAS_HISTOGRAM_H
