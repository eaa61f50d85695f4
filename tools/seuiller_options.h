// seuiller's command line: its usage, its options and the methods it names.

#ifndef IMAGEFILES_TOOLS_SEUILLER_OPTIONS_H
#define IMAGEFILES_TOOLS_SEUILLER_OPTIONS_H

#include <optional>
#include <string>

#include "seuiller_conversion.h"

extern const char usage_text[];

// A usage error: its one line, and where the whole usage is; returns the exit status 2.
int usage(const std::string& problem, const std::string& detail = "");

// Ends a run that wrote to standard output: 0, or 1 with a line when the text could not all be
// written (standard output closed, a full disk, a pipe without reader).
int finish_output(bool output_closed);

// A decimal integer, optional sign, nothing else, within [low, high].
std::optional<long> parse_integer(const char* text, long low, long high);

// The method of that name, in any case.
std::optional<Method::Kind> method_named(const std::string& name);

// The method `name` was probably meant to be: the nearest, within one letter of a short name or
// two of a long one; none for a word far from all of them (a mistyped number).
const char* suggested_method(const std::string& name);

// The processors this process may run on.
unsigned default_threads();

// What the options ask for.
struct Settings {
  unsigned threads = default_threads();
  bool quiet = false;
  std::optional<Output> output;
  std::optional<long> window;
  std::optional<double> k;
};

// An option: its letter, whether a value follows (in the same argument or the next), and what it
// does with that value; a problem it finds is the line of a usage error ("" when none).
struct Option {
  char letter;
  bool takes_value;
  std::string (*apply)(const char* value, Settings* settings);
};

// The option `argument` (a dash and its letter, perhaps its value) names; null for none.
const Option* option_of(const std::string& argument);

#endif  // IMAGEFILES_TOOLS_SEUILLER_OPTIONS_H
