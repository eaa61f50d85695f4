// Helpers for tests of code that ends the process: run it in a child, capture its standard output.

#ifndef IMAGEFILES_TESTS_SUPPORT_H
#define IMAGEFILES_TESTS_SUPPORT_H

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// How a child ended: its exit status (128 + signal number if a signal ended it), every byte it
// wrote on standard output and on standard error, and its peak resident memory.
struct Outcome {
  int status;
  std::string out;
  std::string err;
  long peak_kib = 0;
};

// Runs `body` in a forked child; a body that returns ends the child with status 0.
Outcome run_in_child(const std::function<void()>& body);

// Runs a program with arguments (args[0] is the program's path), in folder `cwd` if one is given.
Outcome run_command(const std::vector<std::string>& args, const std::string& cwd = "");

// The same, with `prepare` run in the child just before the program starts (to set limits, the
// environment, or other standard streams).
Outcome run_command(const std::vector<std::string>& args, const std::function<void()>& prepare);

// The same for `program` with `args` after it.
Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd = "");
Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& prepare);

// The messages of the library and of the command, byte for byte, with the file name in place.
std::string read_access_message(const std::string& name);
std::string read_error_message(const std::string& name);
std::string write_access_message(const std::string& name);
std::string write_error_message(const std::string& name);
extern const char* const kUsageMessage;
extern const char* const kAllocationMessage;

// Whether every program of `programs` (names between spaces) is on the PATH, and whether
// /usr/bin/python3 imports every module of `modules` ("numpy, PIL"). A test skips without them;
// under CI (the variable CI set) their absence is also a failure: CI installs them all.
bool programs_present(const std::string& programs);
bool python_modules_present(const std::string& modules);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// A fresh directory, removed with all its content at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> entries() const;

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support

#endif  // IMAGEFILES_TESTS_SUPPORT_H
