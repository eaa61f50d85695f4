#!/usr/bin/env bash
# tests/consumer/run.sh BUILD_DIR [PREFIX]: installs the project built in BUILD_DIR into a
# temporary prefix (or takes PREFIX, where it is installed already: the packages unpacked, say),
# checks what was installed, then builds and runs small outside programs against it: a C++ one
# through find_package and through pkg-config, a C one through pkg-config and through a C-only
# CMake project. A shared build must export the public functions only, with C linkage.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=${2:-$work/prefix}

[ $# -ge 2 ] || cmake --install "$build" --prefix "$prefix" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
libdir=$(dirname "$(find "$prefix" -name imagefiles.pc)")/..
for file in bin/test_grey bin/seuiller bin/evaluer include/imagefiles/imagefiles.h share/man/man1/test_grey.1* \
  share/man/man1/seuiller.1* share/man/man1/evaluer.1* share/man/man3/imagefiles.3*; do
  compgen -G "$prefix/$file" >/dev/null || { echo "not installed: $file"; exit 1; }
done
grep -q "Version: $version" "$libdir/pkgconfig/imagefiles.pc"
grep -q "MIT" "$libdir/pkgconfig/imagefiles.pc"
grep -q 'imagefiles_LICENSE "MIT"' "$libdir/cmake/imagefiles/imagefilesConfig.cmake"
grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/imagefiles/imagefilesConfigVersion.cmake"
[ -z "$("$prefix/bin/test_grey" 2>&1 | grep -v '^Usage: ImageIn.pgm ImageOut.pgm Seuil $')" ]

if shared=$(ls "$libdir"/libimagefiles.so.* 2>/dev/null | head -n 1) && [ -n "$shared" ]; then
  # To a file first: grep -q leaving the pipe early would fail the pipeline.
  objdump -p "$shared" >"$work/headers"
  grep -q "SONAME *libimagefiles.so.${version%%.*}$" "$work/headers"
  exported=$(nm -D --defined-only "$shared" | awk '{print $3}' | sort)
  # Every function the public header declares, and nothing else.
  grep -v '^#define' "$prefix/include/imagefiles/imagefiles.h" | grep -o 'IMAGEFILES_API [^(]*(' |
    sed 's/($//; s/.*[ *]//' | sort >"$work/declared"
  expected=$(cat "$work/declared")
  [ "$exported" = "$expected" ] || { echo "exported: $exported"; exit 1; }
  echo "shared library: SONAME and the $(wc -l <"$work/declared") exported functions (C names) checked"
fi

mkdir "$work/out-cmake" "$work/out-pkg-config"
cmake -S "$here" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/with-cmake/consumer" "$work/out-cmake"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 "$here/consumer.cpp" $(pkg-config --cflags --libs imagefiles) -o "$work/with-pkg-config"
LD_LIBRARY_PATH="$libdir" "$work/with-pkg-config" "$work/out-pkg-config"

# A C program, linked by the C compiler; a static library brings the C++ runtime through
# Libs.private.
mkdir "$work/out-c"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Wpedantic -Werror "$here/../c/c_api_test.c" \
  $(pkg-config --cflags --libs --static imagefiles) -o "$work/with-c"
LD_LIBRARY_PATH="$libdir" "$work/with-c" "$work/out-c"

# A C-only CMake project (no C++ compiler enabled) through find_package: the exported target names
# the C++ runtime that a static library needs.
mkdir "$work/out-c-cmake"
cmake -S "$here/c" -B "$work/c-with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/c-with-cmake" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/c-with-cmake/c_consumer" "$work/out-c-cmake"
echo "consumers built with find_package and with pkg-config, in C++ and in C: all ran"
