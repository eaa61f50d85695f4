#include "support.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

// A test's tool is missing: a failure where CI runs, which installs them all.
bool present_or_reported(bool present, const std::string& what) {
  if (!present && std::getenv("CI") != nullptr) ADD_FAILURE() << what << " missing: CI installs it";
  return present;
}

// Forks; the child sends its standard output into a pipe, its standard error into a memory file,
// and runs `child`, which must not return. The parent collects both and the status.
Outcome fork_and_capture(const std::function<void()>& child) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const int err = memfd_create("stderr", MFD_CLOEXEC);
  if (err < 0) throw std::runtime_error("memfd_create failed");
  std::fflush(nullptr);  // nothing buffered in the parent may be written twice
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(fds[1]);
    child();
    _exit(126);
  }
  close(fds[1]);
  std::string out;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(n));
  close(fds[0]);
  int wstatus = 0;
  rusage usage{};
  wait4(pid, &wstatus, 0, &usage);
  const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  std::string error;
  lseek(err, 0, SEEK_SET);
  while ((n = read(err, chunk, sizeof chunk)) > 0) error.append(chunk, static_cast<size_t>(n));
  close(err);
  return {status, out, error, usage.ru_maxrss};
}

std::vector<std::string> with_program(const std::string& program,
                                      const std::vector<std::string>& args) {
  std::vector<std::string> command = {program};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

}  // namespace

Outcome run_in_child(const std::function<void()>& body) {
  return fork_and_capture([&] {
    body();
    std::fflush(stdout);
    _exit(0);
  });
}

Outcome run_command(const std::vector<std::string>& args, const std::string& cwd) {
  return run_command(args, [&] {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
  });
}

Outcome run_command(const std::vector<std::string>& args, const std::function<void()>& prepare) {
  return fork_and_capture([&] {
    prepare();
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  });
}

Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd) {
  return run_command(with_program(program, args), cwd);
}

Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& prepare) {
  return run_command(with_program(program, args), prepare);
}

std::string read_access_message(const std::string& name) {
  return "\nPas d'acces en lecture sur l'image " + name + " \n";
}
std::string read_error_message(const std::string& name) {
  return "\nErreur de lecture de l'image " + name + " \n";
}
std::string write_access_message(const std::string& name) {
  return "\nPas d'acces en ecriture sur l'image " + name + " \n";
}
std::string write_error_message(const std::string& name) {
  return "\nErreur d'ecriture de l'image " + name + " \n";
}
const char* const kUsageMessage = "Usage: ImageIn.pgm ImageOut.pgm Seuil \n";
const char* const kAllocationMessage =
    "\n Allocation dynamique impossible pour un pointeur-tableau \n";

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "imagefiles-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool programs_present(const std::string& programs) {
  std::istringstream words(programs);
  std::string program;
  while (words >> program) {
    const std::string test = "command -v '" + program + "' >/dev/null 2>&1";
    if (!present_or_reported(std::system(test.c_str()) == 0, program)) return false;
  }
  return true;
}

bool python_modules_present(const std::string& modules) {
  const std::string test = "/usr/bin/python3 -c 'import " + modules + "' >/dev/null 2>&1";
  return present_or_reported(std::system(test.c_str()) == 0, "python3 modules " + modules);
}

}  // namespace testing_support
