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
