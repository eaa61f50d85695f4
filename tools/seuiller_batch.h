// seuiller's batches: many images on every processor, a progress line, and SIGINT and SIGTERM.

#ifndef IMAGEFILES_TOOLS_SEUILLER_BATCH_H
#define IMAGEFILES_TOOLS_SEUILLER_BATCH_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "seuiller_conversion.h"

// What every worker shares: the images, the next one to take, and standard error.
struct Batch {
  Method method;
  Output format = Output::pgm;  // of the files written
  std::string folder;
  std::vector<std::string> images;
  std::vector<std::string> outputs;  // the name of each image's output in the folder
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<std::size_t> failures{0};
  // Images put back by a worker that ran out of memory while others ran: the workers left take
  // them again, fewer at a time.
  std::mutex again_lock;
  std::vector<std::size_t> again;
  std::atomic<unsigned> working{0};
  bool progress = false;
  std::mutex output;  // one line at a time on standard error
  std::condition_variable finished;
};

// The output folder and its missing parents, all or none: a usage error leaves nothing made.
bool make_output_folder(const std::string& folder);

// A pipeline's signal handling: SIGINT and SIGTERM end the process at once.
void stop_at_once_on_signals();

// Runs the batch on `wanted` threads (fewer when the system refuses some), with the progress
// line unless `quiet` or standard error is no terminal. The exit status: 0 when every image was
// written, 1 when one failed at least, 128 + the signal that stopped the run.
int run_batch(Batch& batch, unsigned wanted, bool quiet);

#endif  // IMAGEFILES_TOOLS_SEUILLER_BATCH_H
