// seuiller's batches: the workers, the progress line and the signals that stop them.

#include "seuiller_batch.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Makes `folder` and its parents, and notes each folder made in `made`, deepest last; false when
// it is not a folder or cannot be made.
bool make_folders(const std::string& folder, std::vector<std::string>* made) {
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = folder.find_last_not_of('/');
  const std::size_t parent_end = folder.rfind('/', slash);
  if (parent_end != std::string::npos && parent_end != 0 &&
      !make_folders(folder.substr(0, parent_end), made)) {
    return false;
  }
  if (mkdir(folder.c_str(), 0777) == 0) {
    made->push_back(folder);
    return true;
  }
  return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// SIGINT and SIGTERM end the run at once, with 128 + the signal, whatever its threads wait for (a
// pipe whose writer stalls, a slow disk). A pipeline has nothing to clean: its handler ends the
// process. A batch writes each output while it reads its image, under a temporary name where the
// file system has no unnamed files: there one thread takes the two signals (blocked in every
// other), and interrupts each worker's wait with SIGURG, a signal of its own that restarts
// nothing, again and again until every worker has stopped. An interrupted read fails, the
// library removes the output under way, and an output whose image was read whole is finished.
std::atomic<int> stop_signal{0};

extern "C" void on_stop_at_once(int signal) {
  _exit(128 + signal);
}

// Only notes the signal: the run stops at its next image.
extern "C" void on_stop_later(int signal) {
  stop_signal = signal;
}

// Only interrupts: the call it cuts short fails with EINTR.
extern "C" void on_interrupt(int) {}

// The signals that stop a run: SIGINT and SIGTERM, unless they were ignored when the command
// started (a job run with nohup or in the background of a script stays so).
sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signal);
  }
  return set;
}

void handle(const sigset_t& signals, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) {
    if (sigismember(&signals, signal) == 1) sigaction(signal, &action, nullptr);
  }
}

// The threads that read images, for the signal thread to interrupt. Never destroyed: that thread
// may still run while the process ends.
class Readers {
 public:
  static Readers& all() {
    static Readers* const readers = new Readers;
    return *readers;
  }
  void enter() {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(pthread_self());
  }
  void leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads_.erase(std::find_if(threads_.begin(), threads_.end(),
                                [](pthread_t t) { return pthread_equal(t, pthread_self()); }));
  }
  // Interrupts each reader (none can end meanwhile: leave() waits); how many there were.
  std::size_t interrupt() {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const pthread_t thread : threads_) pthread_kill(thread, SIGURG);
    return threads_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<pthread_t> threads_;
};

// A worker's presence among the readers, for its lifetime.
struct Reading {
  Reading() { Readers::all().enter(); }
  ~Reading() { Readers::all().leave(); }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
};

// The signal thread: waits for SIGINT or SIGTERM, then interrupts the readers until none is left.
// A reader that starts later sees the stop before it reads.
void take_signals(sigset_t signals) {
  int signal = 0;
  if (sigwait(&signals, &signal) != 0) return;
  stop_signal = signal;
  while (Readers::all().interrupt() != 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Sets the batch's signal handling up before any other thread starts; false when the signal thread
// cannot be made, and each signal then only stops the run at its next image (and cuts short the
// wait of the thread that receives it).
bool take_signals_in_a_thread() {
  const sigset_t signals = stopping_signals();
  struct sigaction interrupt {};
  interrupt.sa_handler = on_interrupt;  // no SA_RESTART: the interrupted call fails
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGURG, &interrupt, nullptr);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    std::thread(take_signals, signals).detach();
    return true;
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    handle(signals, on_stop_later, 0);
    return false;
  }
}

// The progress line, redrawn in place; cleared before any other line and at the end.
void clear_progress(const Batch& batch) {
  if (batch.progress) std::fputs("\r\033[K", stderr);
}

// One line for a failed image, between progress lines. A stopped run says nothing more: a read
// that the signal cut short is no failure of the image.
void report(Batch& batch, const Result& result, const std::string& name) {
  ++batch.failures;
  if (stop_signal != 0) return;
  const std::lock_guard<std::mutex> lock(batch.output);
  clear_progress(batch);
  print_failure(result, name);
}

// One worker: takes the next image until none is left or a signal asks to stop. Each image is
// read, binarised and written in bands: memory does not grow with the images (but with -f auto,
// which reads each image whole).
void work(Batch& batch) {
  const Reading reading;
  Buffer buffer;
  ++batch.working;
  for (;;) {
    std::size_t index;
    {
      // Under the lock, so that no image is put back once the last worker has seen none.
      const std::lock_guard<std::mutex> lock(batch.again_lock);
      if (!batch.again.empty()) {
        index = batch.again.back();
        batch.again.pop_back();
      } else {
        index = batch.next++;
      }
      if (index >= batch.images.size() || stop_signal != 0) {
        --batch.working;
        break;
      }
    }
    const std::string& name = batch.images[index];
    ImageInput input;
    bool no_writer = false;
    Failure failure{input.open(name, in_bands(batch.format, batch.method), &no_writer), name};
    if (failure.status == IMAGE_OK && !no_writer) {
      failure = convert(input, name, batch.folder + "/" + batch.outputs[index], batch.format,
                        batch.method, &buffer);
    }
    // Out of memory while other workers run (more threads than the memory allows for their
    // images): this worker leaves its image to them and stops; the last one never does.
    if (failure.status == IMAGE_MEMOIRE_INSUFFISANTE && stop_signal == 0) {
      const std::lock_guard<std::mutex> lock(batch.again_lock);
      if (batch.working > 1) {
        batch.again.push_back(index);
        --batch.working;
        return;
      }
    }
    if (failure.status != IMAGE_OK || no_writer) {
      report(batch, {failure.status, no_writer}, failure.name);
    }
    if (++batch.done == batch.images.size()) batch.finished.notify_all();
  }
  batch.finished.notify_all();
}

// A duration in whole seconds, minutes or hours, as the progress line shows it.
std::string duration_text(double seconds) {
  const long s = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%ld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  }
  return text;
}

// Keeps the progress line up to date until the workers are done or stopped: images done, the
// rate and the time left at that rate.
void show_progress(Batch& batch) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  std::unique_lock<std::mutex> lock(batch.output);
  for (;;) {
    const double seconds = std::chrono::duration<double>(clock::now() - start).count();
    const std::size_t done = batch.done;
    const std::size_t total = batch.images.size();
    // A rate over less than a second, or a handful of images, means nothing yet.
    if (seconds >= 1 && done >= 1) {
      const double rate = done / seconds;
      std::fprintf(stderr, "\r\033[K%zu/%zu images, %.0f images/s, reste %s", done, total, rate,
                   duration_text((total - done) / rate).c_str());
    } else {
      std::fprintf(stderr, "\r\033[K%zu/%zu images", done, total);
    }
    std::fflush(stderr);
    if (done == total || stop_signal != 0) break;
    batch.finished.wait_for(lock, std::chrono::milliseconds(100));
  }
}

}  // namespace

bool make_output_folder(const std::string& folder) {
  std::vector<std::string> made;
  if (make_folders(folder, &made)) return true;
  for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
  return false;
}

void stop_at_once_on_signals() {
  handle(stopping_signals(), on_stop_at_once, 0);
}

int run_batch(Batch& batch, unsigned wanted, bool quiet) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  batch.progress = !quiet && isatty(STDERR_FILENO) != 0;
  take_signals_in_a_thread();
  const unsigned threads =
      std::min(wanted, static_cast<unsigned>(std::min<std::size_t>(batch.images.size(), 4096)));
  // Threads the system refuses (a process limit, little address space) are done without: the
  // batch goes on with those it got, this one at least.
  std::vector<std::thread> workers;
  try {
    for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work, std::ref(batch));
  } catch (const std::system_error&) {
  }
  std::thread progress;
  if (batch.progress) {
    try {
      progress = std::thread(show_progress, std::ref(batch));
    } catch (const std::system_error&) {
    }
  }
  work(batch);
  for (std::thread& worker : workers) worker.join();
  batch.finished.notify_all();
  if (progress.joinable()) progress.join();
  {
    const std::lock_guard<std::mutex> lock(batch.output);
    clear_progress(batch);
    if (stop_signal != 0) return 128 + stop_signal;
    // On a terminal, the batch leaves one line behind.
    if (batch.progress) {
      const double seconds = std::chrono::duration<double>(clock::now() - start).count();
      const std::size_t failures = batch.failures;
      std::fprintf(stderr, "%zu images ecrites, %zu en echec, en %.1f s\n",
                   batch.images.size() - failures, failures, seconds);
    }
  }
  return batch.failures != 0 ? 1 : 0;
}
