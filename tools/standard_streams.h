// What both commands do first: standard input, output and error open, and SIGPIPE a write error.

#ifndef IMAGEFILES_TOOLS_STANDARD_STREAMS_H
#define IMAGEFILES_TOOLS_STANDARD_STREAMS_H

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the command
// opens takes one of their numbers (messages for standard error would then land in an image).
// False when one is closed and /dev/null cannot be opened. When `closed` is given, bit 1 << fd
// is set in it for each descriptor that was closed: output meant for a closed standard output
// is lost, which a command that writes there must report rather than write to /dev/null.
bool open_standard_descriptors(unsigned* closed = nullptr);

// Ignores SIGPIPE: a write to a closed pipe then fails with EPIPE, which the command reports as a
// write error, instead of ending the process silently.
void ignore_broken_pipes();

#endif  // IMAGEFILES_TOOLS_STANDARD_STREAMS_H
