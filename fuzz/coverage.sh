#!/usr/bin/env bash
# fuzz/coverage.sh: line and branch coverage of the library and the command reached by the fuzz
# corpora (the seeds, plus build-fuzz/corpus-* from earlier fuzz/run.sh runs).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-fuzz-coverage -DCMAKE_CXX_COMPILER=clang++ -DIMAGEFILES_FUZZ=ON \
  -DIMAGEFILES_SANITIZE=fuzzer-no-link -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build build-fuzz-coverage -j2 --target header_fuzzer command_fuzzer threshold_fuzzer >/dev/null

out=build-fuzz-coverage/profiles
rm -rf "$out" && mkdir -p "$out"
for target in header command threshold; do
  corpora=(fuzz/corpus/$target)
  [ -d build-fuzz/corpus-$target ] && corpora+=(build-fuzz/corpus-$target)
  LLVM_PROFILE_FILE="$out/$target.profraw" build-fuzz-coverage/fuzz/${target}_fuzzer -runs=0 \
    "${corpora[@]}" >/dev/null 2>&1
done
llvm-profdata merge -o "$out/all.profdata" "$out"/*.profraw
llvm-cov report -instr-profile="$out/all.profdata" build-fuzz-coverage/fuzz/command_fuzzer \
  -object build-fuzz-coverage/fuzz/header_fuzzer -object build-fuzz-coverage/fuzz/threshold_fuzzer imagefiles tools
