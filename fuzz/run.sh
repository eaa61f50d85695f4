#!/usr/bin/env bash
# fuzz/run.sh [SECONDS]: builds the fuzzers with clang (in build-fuzz/) and runs each for SECONDS
# (default 300), starting from the seed corpus and the inputs kept under tests/crashers/. Anything
# found is written to build-fuzz/findings/ and makes the script fail; keep each such input under
# tests/crashers/<target>/ as a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DIMAGEFILES_FUZZ=ON -DIMAGEFILES_WERROR=ON \
  -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-fuzz -j2 --target header_fuzzer command_fuzzer threshold_fuzzer image_fuzzer

mkdir -p build-fuzz/findings
for target in header command threshold image; do
  work=build-fuzz/corpus-$target
  mkdir -p "$work"
  seeds=(fuzz/corpus/$target)
  [ -d tests/crashers/$target ] && seeds+=(tests/crashers/$target)
  echo "== ${target}_fuzzer, ${seconds} s"
  log=build-fuzz/$target.log
  # Large allocations are part of the command's job (up to 2 GiB for a header's dimensions).
  status=0
  build-fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -dict=fuzz/header.dict \
    -rss_limit_mb=4096 -malloc_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/${target}- "$work" "${seeds[@]}" >"$log" 2>&1 ||
    status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss_mb)|^==[0-9]+==|^SUMMARY' \
    "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "${target}_fuzzer found a fault (status $status): see $log and build-fuzz/findings/"
    exit 1
  fi
done
