/* Preloaded into a command under test: every linkat sends the process SIGINT as soon as it
 * returns, as a Ctrl-C at the worst moment of a replacement would (between the link of the new
 * file and the rename over the old one). */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  int (*real_linkat)(int, const char*, int, const char*, int) =
      (int (*)(int, const char*, int, const char*, int))dlsym(RTLD_NEXT, "linkat");
  const int result = real_linkat(from_folder, from, to_folder, to, flags);
  kill(getpid(), SIGINT);
  return result;
}
