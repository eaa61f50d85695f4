# Sourced by the bench/*.sh scripts, from the top of the source tree: the release builds they
# measure, all in build-bench/.

# release_build [-DOPTION=VALUE...] TARGET...: configures build-bench/ in release mode (tests and
# examples left out, with the options given) and builds the targets.
release_build() {
  local options=()
  while [ $# -gt 0 ] && [ "${1#-D}" != "$1" ]; do
    options+=("$1")
    shift
  done
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DIMAGEFILES_BUILD_TESTS=OFF \
    -DIMAGEFILES_BUILD_EXAMPLES=OFF "${options[@]}" >/dev/null
  cmake --build build-bench -j2 --target "$@" >/dev/null
}

# revision_build REV FOLDER TARGET: builds TARGET of git revision REV in release mode, its sources
# in FOLDER/src and its build in FOLDER/build; kept from one run to the next.
revision_build() {
  local rev=$1 folder=$2 target=$3
  if [ -x "$folder/build/tools/$target" ]; then return; fi
  rm -rf "$folder" && mkdir -p "$folder/src"
  git archive "$rev" | tar -x -C "$folder/src"
  cmake -S "$folder/src" -B "$folder/build" -DCMAKE_BUILD_TYPE=Release \
    -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build "$folder/build" -j2 --target "$target" >/dev/null
}
