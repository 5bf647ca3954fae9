// Helpers of the descriptor tests: item lists as (type, size, version) tuples,
// so a whole list compares in one expectation, and the descriptor's error text
// as a string with the version suffix every message carries spelled out.
#ifndef MORROWTIDE_TESTS_COMPRESSOR_QUODAX_TEST_SUPPORT_H
#define MORROWTIDE_TESTS_COMPRESSOR_QUODAX_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "morrowtide/compressor/quodax.h"

namespace quodax_test {

using Items = std::vector<std::tuple<uint32_t, uint16_t, uint16_t>>;  // type, size, version

inline Items toItems(uint16_t num, const LASitem* list) {
  Items out;
  for (uint16_t i = 0; i < num; i++) out.emplace_back(list[i].type, list[i].size, list[i].version);
  return out;
}

inline std::vector<LASitem> toList(const Items& items) {
  std::vector<LASitem> list;
  for (const auto& [type, size, version] : items) list.push_back(LASitem{type, size, version});
  return list;
}

// The descriptor's error text, or "(none)".
inline std::string errorOf(const Quodax& d) { return d.errorText() ? d.errorText() : "(none)"; }

// `message` as the descriptor stores it.
inline std::string quodaxError(const std::string& message) { return message + " (Quodax v3.4r3)"; }

}  // namespace quodax_test

#endif  // MORROWTIDE_TESTS_COMPRESSOR_QUODAX_TEST_SUPPORT_H
