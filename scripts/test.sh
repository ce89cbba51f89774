#!/bin/sh
# Builds portvet and runs every test: the native suite (with the Windows
# builds under Wine where MinGW-w64 and Wine are installed, and valgrind's
# descriptor check), then the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for a bounded time where
# clang's libFuzzer is installed.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake --preset native
cmake --build --preset native -j2
ctest --preset native

cmake --preset sanitize
cmake --build --preset sanitize -j2
ctest --preset sanitize

if command -v clang++ >/dev/null 2>&1 &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  cmake --preset fuzz
  cmake --build --preset fuzz -j2
  ctest --preset fuzz
else
  echo "SKIPPED: fuzz targets (clang++ with libFuzzer is not installed)"
fi
