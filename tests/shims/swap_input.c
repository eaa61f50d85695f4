/* Preloaded into a command under test: at the second opening of the file named by
 * IMAGEFILES_SWAP_INPUT, first renames the file named by IMAGEFILES_SWAP_WITH over it, as a script
 * refreshing its input between two reads would. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

FILE* fopen(const char* name, const char* mode) {
  static int openings = 0;
  FILE* (*real_fopen)(const char*, const char*) =
      (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen");
  const char* input = getenv("IMAGEFILES_SWAP_INPUT");
  const char* replacement = getenv("IMAGEFILES_SWAP_WITH");
  if (input != NULL && replacement != NULL && strcmp(name, input) == 0 && ++openings == 2) {
    rename(replacement, input);
  }
  return real_fopen(name, mode);
}
