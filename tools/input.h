// How seuiller opens an input: once, for a stream read from its start, without waiting for ever
// on a named pipe that nobody writes to.

#ifndef IMAGEFILES_TOOLS_INPUT_H
#define IMAGEFILES_TOOLS_INPUT_H

#include <cstdio>
#include <memory>

#include <imagefiles/imagefiles.h>

struct StreamCloser {
  void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

// An input opened for reading, or why it could not be.
struct Input {
  Stream stream;
  statut_image status = IMAGE_OK;  // a failure to open, as the library reports it
  bool no_writer = false;          // a named pipe that no process has opened for writing
};

// How long a named pipe may wait for a process to open it for writing: a writer started just
// before the command (`producer > pipe & seuiller ... pipe`) may not have opened it yet.
inline constexpr int writer_wait_ms = 1000;

// Opens `name` for reading. A regular file, a device or a pipe is opened without blocking, then
// read as a blocking stream. A named pipe (or /dev/stdin fed by a pipe) is read as a stream when a
// process has it open for writing; when none has within writer_wait_ms, `no_writer` is set and
// nothing is read: opening it the usual way would wait for ever. A pipe whose writer has come
// and gone is read as it is (an empty one is a read error). A signal that interrupts the opening
// or the wait for a writer makes it a read error: the command interrupts them only to stop.
Input open_input(const char* name);

#endif  // IMAGEFILES_TOOLS_INPUT_H
