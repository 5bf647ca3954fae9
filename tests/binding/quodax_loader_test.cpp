// Tests of the run-time binding quodax_loader. Each suite is one scenario whose
// tests run as processes of their own with the library search path on one folder
// (see CMakeLists.txt): the stand-in libquodax.so with all 41 entry points, one
// lacking quodax_close_reader, one needing a function that nothing defines, a
// file of that name that is no shared object, no library, and the working
// directory, a scratch folder that its test fills. Tests reach the stand-in's
// record of the last call through a handle of their own that they release at
// once, so the binding's reference is the only one that keeps the library loaded.
#include "morrowtide/binding/quodax_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/binding/quodax_standin.h"
#include "tests/scratch_dir.h"

namespace {

// Set by the build: the folder above the scenario folders, the archive under test,
// and the tools that list its symbols and members.
constexpr char kStandinFolder[] = QUODAX_STANDIN_FOLDER;
constexpr char kLoaderArchive[] = QUODAX_LOADER_ARCHIVE;
constexpr char kNm[] = QUODAX_NM;
constexpr char kAr[] = QUODAX_AR;

// Pointer arguments point into here; nothing reads or writes it.
alignas(16) uint64_t gArena[8];

// The argument at parameter `position` of a call: distinct per position, and an
// integer fills every bit of its type.
template <typename T>
T argumentAt(size_t position) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(&gArena[position]);
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(-1234.5678 / static_cast<double>(position + 3));
  } else {
    return static_cast<T>(0xF1E2D3C4B5A69788ull - position * 0x0101010101010101ull);
  }
}

template <typename... Params, size_t... Positions>
int callAt(int (*forwarder)(Params...), std::index_sequence<Positions...>) {
  return forwarder(argumentAt<Params>(Positions)...);
}

template <typename... Params, size_t... Positions>
QuodaxStandinCall expectedAt(int (*)(Params...), std::index_sequence<Positions...>) {
  QuodaxStandinCall call;
  (call.add(argumentAt<Params>(Positions)), ...);
  return call;
}

template <typename... Params>
int callWithArguments(int (*forwarder)(Params...)) {
  return callAt(forwarder, std::index_sequence_for<Params...>{});
}

template <typename... Params>
QuodaxStandinCall expectedCall(int (*forwarder)(Params...)) {
  return expectedAt(forwarder, std::index_sequence_for<Params...>{});
}

// One entry point of the library, seen from a client.
struct EntryPoint {
  const char* name;
  uintptr_t (*bound_address)();          // what its pointer holds; 0 = null
  int (*call)();                         // calls its forwarder with the arguments of argumentAt
  QuodaxStandinCall (*expected_call)();  // what the stand-in records of that call, but the name
};

template <auto Forwarder, auto* Pointer>
constexpr EntryPoint entryPoint(const char* name) {
  return {name, [] { return reinterpret_cast<uintptr_t>(*Pointer); },
          [] { return callWithArguments(Forwarder); }, [] { return expectedCall(Forwarder); }};
}

const EntryPoint kEntryPoints[] = {
    entryPoint<quodax_get_version, &quodax_get_version_ptr>("quodax_get_version"),
    entryPoint<quodax_create, &quodax_create_ptr>("quodax_create"),
    entryPoint<quodax_clean, &quodax_clean_ptr>("quodax_clean"),
    entryPoint<quodax_get_error, &quodax_get_error_ptr>("quodax_get_error"),
    entryPoint<quodax_get_warning, &quodax_get_warning_ptr>("quodax_get_warning"),
    entryPoint<quodax_destroy, &quodax_destroy_ptr>("quodax_destroy"),
    entryPoint<quodax_get_header_pointer, &quodax_get_header_pointer_ptr>(
        "quodax_get_header_pointer"),
    entryPoint<quodax_get_point_pointer, &quodax_get_point_pointer_ptr>("quodax_get_point_pointer"),
    entryPoint<quodax_get_point_count, &quodax_get_point_count_ptr>("quodax_get_point_count"),
    entryPoint<quodax_set_header, &quodax_set_header_ptr>("quodax_set_header"),
    entryPoint<quodax_set_point_type_and_size, &quodax_set_point_type_and_size_ptr>(
        "quodax_set_point_type_and_size"),
    entryPoint<quodax_check_for_integer_overflow, &quodax_check_for_integer_overflow_ptr>(
        "quodax_check_for_integer_overflow"),
    entryPoint<quodax_auto_offset, &quodax_auto_offset_ptr>("quodax_auto_offset"),
    entryPoint<quodax_set_point, &quodax_set_point_ptr>("quodax_set_point"),
    entryPoint<quodax_set_coordinates, &quodax_set_coordinates_ptr>("quodax_set_coordinates"),
    entryPoint<quodax_get_coordinates, &quodax_get_coordinates_ptr>("quodax_get_coordinates"),
    entryPoint<quodax_set_geokeys, &quodax_set_geokeys_ptr>("quodax_set_geokeys"),
    entryPoint<quodax_set_geodouble_params, &quodax_set_geodouble_params_ptr>(
        "quodax_set_geodouble_params"),
    entryPoint<quodax_set_geoascii_params, &quodax_set_geoascii_params_ptr>(
        "quodax_set_geoascii_params"),
    entryPoint<quodax_add_attribute, &quodax_add_attribute_ptr>("quodax_add_attribute"),
    entryPoint<quodax_add_vlr, &quodax_add_vlr_ptr>("quodax_add_vlr"),
    entryPoint<quodax_remove_vlr, &quodax_remove_vlr_ptr>("quodax_remove_vlr"),
    entryPoint<quodax_create_spatial_index, &quodax_create_spatial_index_ptr>(
        "quodax_create_spatial_index"),
    entryPoint<quodax_preserve_generating_software, &quodax_preserve_generating_software_ptr>(
        "quodax_preserve_generating_software"),
    entryPoint<quodax_request_native_extension, &quodax_request_native_extension_ptr>(
        "quodax_request_native_extension"),
    entryPoint<quodax_request_compatibility_mode, &quodax_request_compatibility_mode_ptr>(
        "quodax_request_compatibility_mode"),
    entryPoint<quodax_set_chunk_size, &quodax_set_chunk_size_ptr>("quodax_set_chunk_size"),
    entryPoint<quodax_open_writer, &quodax_open_writer_ptr>("quodax_open_writer"),
    entryPoint<quodax_write_point, &quodax_write_point_ptr>("quodax_write_point"),
    entryPoint<quodax_write_indexed_point, &quodax_write_indexed_point_ptr>(
        "quodax_write_indexed_point"),
    entryPoint<quodax_update_inventory, &quodax_update_inventory_ptr>("quodax_update_inventory"),
    entryPoint<quodax_close_writer, &quodax_close_writer_ptr>("quodax_close_writer"),
    entryPoint<quodax_exploit_spatial_index, &quodax_exploit_spatial_index_ptr>(
        "quodax_exploit_spatial_index"),
    entryPoint<quodax_decompress_selective, &quodax_decompress_selective_ptr>(
        "quodax_decompress_selective"),
    entryPoint<quodax_open_reader, &quodax_open_reader_ptr>("quodax_open_reader"),
    entryPoint<quodax_has_spatial_index, &quodax_has_spatial_index_ptr>("quodax_has_spatial_index"),
    entryPoint<quodax_inside_rectangle, &quodax_inside_rectangle_ptr>("quodax_inside_rectangle"),
    entryPoint<quodax_seek_point, &quodax_seek_point_ptr>("quodax_seek_point"),
    entryPoint<quodax_read_point, &quodax_read_point_ptr>("quodax_read_point"),
    entryPoint<quodax_read_inside_point, &quodax_read_inside_point_ptr>("quodax_read_inside_point"),
    entryPoint<quodax_close_reader, &quodax_close_reader_ptr>("quodax_close_reader"),
};

std::vector<uintptr_t> boundAddresses() {
  std::vector<uintptr_t> addresses;
  for (const EntryPoint& entry : kEntryPoints) addresses.push_back(entry.bound_address());
  return addresses;
}

// The address of `name` in the stand-in that is loaded now, or null.
void* standinSymbol(const char* name) {
  void* handle = dlopen("libquodax.so", RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  void* address = dlsym(handle, name);
  dlclose(handle);
  return address;
}

bool libraryResident() {
  void* handle = dlopen("libquodax.so", RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

std::vector<uint64_t> wordsOf(const QuodaxStandinCall& call) {
  return std::vector<uint64_t>(call.words, call.words + QuodaxStandinCall::kMaxWords);
}

std::vector<double> realsOf(const QuodaxStandinCall& call) {
  return std::vector<double>(call.reals, call.reals + QuodaxStandinCall::kMaxReals);
}

void expectNothingBound() {
  for (const EntryPoint& entry : kEntryPoints) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(entry.bound_address(), 0u);
    EXPECT_EQ(entry.call(), 1);
  }
}

void expectEveryPointerBoundToItsNamesake() {
  for (const EntryPoint& entry : kEntryPoints) {
    SCOPED_TRACE(entry.name);
    const uintptr_t address = reinterpret_cast<uintptr_t>(standinSymbol(entry.name));
    EXPECT_NE(address, 0u);
    EXPECT_EQ(entry.bound_address(), address);
  }
}

// Each test leaves the library unloaded, as it found it.
class QuodaxLoaderTest : public ::testing::Test {
 protected:
  void TearDown() override { quodax_unload_dll(); }
};

// A scenario in which every load fails; its tests share the one check below.
class QuodaxLoaderFailingLoad : public QuodaxLoaderTest {
 protected:
  void expectLoadFailsLeavingNothingBound() {
    EXPECT_FALSE(libraryResident());
    EXPECT_EQ(quodax_load_dll(), 1);
    expectNothingBound();
    EXPECT_FALSE(libraryResident());
    EXPECT_EQ(quodax_unload_dll(), 1);
    // A failed load leaves no "loaded" state behind: the next one tries afresh.
    EXPECT_EQ(quodax_load_dll(), 1);
    expectNothingBound();
  }
};

using QuodaxLoaderWithoutLibrary = QuodaxLoaderFailingLoad;
using QuodaxLoaderUnloadable = QuodaxLoaderFailingLoad;
using QuodaxLoaderUnresolved = QuodaxLoaderFailingLoad;
using QuodaxLoaderMissingName = QuodaxLoaderFailingLoad;
using QuodaxLoaderBound = QuodaxLoaderTest;

// The scenario's search path is /proc/self/cwd: its test fills a scratch folder
// of its own and makes it the working directory, so the library is looked up there.
class QuodaxLoaderRetry : public QuodaxLoaderTest {
 protected:
  const ScratchDir scratch;
  const WorkingDirectory in_scratch{scratch.dir()};
};

TEST_F(QuodaxLoaderWithoutLibrary, LoadFailsLeavingNothingBound) {
  expectLoadFailsLeavingNothingBound();
}

TEST_F(QuodaxLoaderUnloadable, LoadOfAFileThatIsNoSharedObjectFails) {
  expectLoadFailsLeavingNothingBound();
}

TEST_F(QuodaxLoaderUnresolved, LoadOfALibraryWithAnUnresolvedFunctionFails) {
  expectLoadFailsLeavingNothingBound();
}

// The missing name is the last one bound, so 40 pointers were set before the
// failure and must all be null again, and the library released.
TEST_F(QuodaxLoaderMissingName, LoadFailsUnbindsEverythingAndReleasesTheLibrary) {
  expectLoadFailsLeavingNothingBound();
}

TEST_F(QuodaxLoaderRetry, LoadAfterAFailedLoadTriesAgain) {
  const std::filesystem::path folder(kStandinFolder);
  const auto install = [this, &folder](const char* variant) {
    const std::string staged = scratch.path("libquodax.so.new");
    std::filesystem::copy_file(folder / variant / "libquodax.so", staged,
                               std::filesystem::copy_options::overwrite_existing);
    // A new file, never the one a failed load may still have mapped.
    std::filesystem::rename(staged, scratch.path("libquodax.so"));
  };
  install("missing");
  EXPECT_EQ(quodax_load_dll(), 1);
  install("full");
  ASSERT_EQ(quodax_load_dll(), 0);
  expectEveryPointerBoundToItsNamesake();
}

TEST_F(QuodaxLoaderBound, EveryForwarderReturnsOneBeforeAnyLoad) {
  expectNothingBound();
  EXPECT_FALSE(libraryResident());
}

TEST_F(QuodaxLoaderBound, UnloadWithoutALoadReturnsOneAndChangesNothing) {
  EXPECT_EQ(quodax_unload_dll(), 1);
  expectNothingBound();
  EXPECT_EQ(quodax_load_dll(), 0);
}

TEST_F(QuodaxLoaderBound, LoadBindsEveryPointerToItsNamesake) {
  ASSERT_EQ(quodax_load_dll(), 0);
  EXPECT_TRUE(libraryResident());
  expectEveryPointerBoundToItsNamesake();
}

TEST_F(QuodaxLoaderBound, EveryForwarderPassesItsArgumentsAndReturnsTheResultUnchanged) {
  ASSERT_EQ(quodax_load_dll(), 0);
  auto* call = static_cast<QuodaxStandinCall*>(standinSymbol("quodax_standin_call"));
  auto* result = static_cast<int32_t*>(standinSymbol("quodax_standin_result"));
  ASSERT_NE(call, nullptr);
  ASSERT_NE(result, nullptr);
  for (const int32_t library_result : {0, 1, -1, INT32_MIN, INT32_MAX, 0x2468ACE1}) {
    *result = library_result;
    for (const EntryPoint& entry : kEntryPoints) {
      SCOPED_TRACE(std::string(entry.name) + " returning " + std::to_string(library_result));
      *call = QuodaxStandinCall{};
      EXPECT_EQ(entry.call(), library_result);
      EXPECT_STREQ(call->entry_point, entry.name);
      const QuodaxStandinCall expected = entry.expected_call();
      EXPECT_EQ(call->num_words, expected.num_words);
      EXPECT_EQ(wordsOf(*call), wordsOf(expected));
      EXPECT_EQ(call->num_reals, expected.num_reals);
      EXPECT_EQ(realsOf(*call), realsOf(expected));
    }
  }
}

TEST_F(QuodaxLoaderBound, SecondLoadReturnsOneAndChangesNothing) {
  ASSERT_EQ(quodax_load_dll(), 0);
  const std::vector<uintptr_t> bound = boundAddresses();
  EXPECT_EQ(quodax_load_dll(), 1);
  EXPECT_EQ(boundAddresses(), bound);
  // The second load took no reference of its own: one unload releases the library.
  EXPECT_EQ(quodax_unload_dll(), 0);
  EXPECT_FALSE(libraryResident());
}

TEST_F(QuodaxLoaderBound, UnloadReleasesTheLibraryAndUnbindsEveryForwarder) {
  ASSERT_EQ(quodax_load_dll(), 0);
  EXPECT_EQ(quodax_unload_dll(), 0);
  EXPECT_FALSE(libraryResident());
  expectNothingBound();
  EXPECT_EQ(quodax_unload_dll(), 1);
}

TEST_F(QuodaxLoaderBound, LoadAfterUnloadBindsAfresh) {
  ASSERT_EQ(quodax_load_dll(), 0);
  ASSERT_EQ(quodax_unload_dll(), 0);
  ASSERT_EQ(quodax_load_dll(), 0);
  expectEveryPointerBoundToItsNamesake();
}

std::string outputOf(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  for (int c; (c = fgetc(pipe)) != EOF;) output.push_back(static_cast<char>(c));
  EXPECT_EQ(pclose(pipe), 0) << command;
  return output;
}

TEST(QuodaxLoaderArchive, HoldsOneObject) {
  EXPECT_EQ(outputOf(std::string(kAr) + " t '" + kLoaderArchive + "'"), "quodax_loader.cpp.o\n");
}

// Every name that the object defines for others, with its nm type: T code, B
// zero-initialised data. Names with mangling or helpers of the object would show.
// AddressSanitizer adds a marker "__odr_asan.<name>" beside each global it guards;
// those belong to the instrumentation, not to the binding.
TEST(QuodaxLoaderArchive, ExportsExactlyTheForwardersPointersAndLoadFunctions) {
  std::map<std::string, std::string> expected = {{"quodax_load_dll", "T"},
                                                 {"quodax_unload_dll", "T"}};
  for (const EntryPoint& entry : kEntryPoints) {
    expected[entry.name] = "T";
    expected[std::string(entry.name) + "_ptr"] = "B";
  }
  ASSERT_EQ(expected.size(), 84u);

  // Portable format: one line per symbol, "name type value size"; member headers end in ':'.
  const std::string listing =
      outputOf(std::string(kNm) + " -P -g --defined-only '" + kLoaderArchive + "'");
  std::map<std::string, std::string> exported;
  size_t start = 0;
  for (size_t end; (end = listing.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = listing.substr(start, end - start);
    const size_t space = line.find(' ');
    if (line.empty() || line.back() == ':' || space == std::string::npos) continue;
    if (line.rfind("__odr_asan.", 0) == 0) continue;
    exported[line.substr(0, space)] = line.substr(space + 1, 1);
  }
  EXPECT_EQ(exported, expected);
}

}  // namespace
