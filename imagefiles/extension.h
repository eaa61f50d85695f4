// A file name's extension, for the library's writers (which choose the format by it) and for the
// commands (which name their outputs by it). Inline, so that the library exports nothing more.

#ifndef IMAGEFILES_EXTENSION_H
#define IMAGEFILES_EXTENSION_H

#include <cctype>
#include <cstring>
#include <string>

namespace imagefiles::detail {

// Whether `name` ends with `extension` (given in lower case, its dot first) in any case, after
// one character at least: ".png" alone is no PNG's name.
inline bool ends_with(const std::string& name, const char* extension) {
  const std::size_t n = std::strlen(extension);
  if (name.size() <= n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(name[name.size() - n + i]);
    if (std::tolower(c) != extension[i]) return false;
  }
  return true;
}

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_EXTENSION_H
