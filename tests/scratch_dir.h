// A folder of one test's own for the files it writes. Tests run as separate
// processes, many at once and from several checkouts, so a fixed name in a
// shared folder would let one test read another's output: every file a test or
// benchmark writes goes into a ScratchDir, made fresh by mkdtemp and removed
// with everything in it (subfolders and links included) when the object goes;
// WorkingDirectory enters it for code that writes where it runs. Needs no test
// framework, so the benchmarks use it too.
#ifndef MORROWTIDE_TESTS_SCRATCH_DIR_H
#define MORROWTIDE_TESTS_SCRATCH_DIR_H

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

class ScratchDir {
 public:
  // Makes a new, empty folder in the system's temporary folder ($TMPDIR, else /tmp).
  // Throws std::runtime_error when none can be made (a test reports it as a failure).
  ScratchDir() {
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "morrowtide_scratch_XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      throw std::runtime_error("cannot make a folder from '" + pattern +
                               "': " + std::strerror(errno));
    }
    dir_ = name.data();
  }
  // Removes the folder and all it holds; links are removed, never followed.
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder's name, without a trailing '/'.
  const std::string& dir() const { return dir_; }
  // The name of `name` inside the folder.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// Makes `dir` the working directory for the object's lifetime, then returns to
// the one before: for code under test that writes where it runs.
// Throws std::filesystem::filesystem_error when either cannot be entered.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  const std::filesystem::path previous_;
};

#endif  // MORROWTIDE_TESTS_SCRATCH_DIR_H
