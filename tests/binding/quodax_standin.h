// The stand-in for libquodax.so that the binding's tests load. Every entry point
// records its call in `quodax_standin_call` and returns `quodax_standin_result`,
// so a test sees what reached the library and chooses what comes back. A call is
// recorded as the entry point's name, its integer and pointer arguments as 64-bit
// words and its floating-point arguments as doubles, each in parameter order.
#ifndef MORROWTIDE_TESTS_BINDING_QUODAX_STANDIN_H
#define MORROWTIDE_TESTS_BINDING_QUODAX_STANDIN_H

#include <cstdint>
#include <type_traits>

struct QuodaxStandinCall {
  static constexpr uint32_t kMaxWords = 8;
  static constexpr uint32_t kMaxReals = 8;

  // Appends one argument; counts every argument, keeps the first kMax of each kind.
  template <typename T>
  void add(T argument) {
    if constexpr (std::is_floating_point_v<T>) {
      if (num_reals < kMaxReals) reals[num_reals] = argument;
      ++num_reals;
    } else {
      uint64_t word;
      if constexpr (std::is_pointer_v<T>) {
        word = reinterpret_cast<uintptr_t>(argument);
      } else {
        word = static_cast<uint64_t>(argument);
      }
      if (num_words < kMaxWords) words[num_words] = word;
      ++num_words;
    }
  }

  const char* entry_point = nullptr;  // static text of the stand-in
  uint32_t num_words = 0;
  uint64_t words[kMaxWords] = {};
  uint32_t num_reals = 0;
  double reals[kMaxReals] = {};
};

// Defined and exported by the stand-in; tests reach them through dlsym.
extern "C" QuodaxStandinCall quodax_standin_call;
extern "C" int32_t quodax_standin_result;

// The body of every stand-in entry point.
template <typename... Arguments>
int recordStandinCall(const char* entry_point, Arguments... arguments) {
  quodax_standin_call = QuodaxStandinCall{};
  quodax_standin_call.entry_point = entry_point;
  (quodax_standin_call.add(arguments), ...);
  return quodax_standin_result;
}

#endif  // MORROWTIDE_TESTS_BINDING_QUODAX_STANDIN_H
