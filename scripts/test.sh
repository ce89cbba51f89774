#!/bin/sh
# Builds portvet and runs every test: the native suite (with the Windows
# builds under Wine where MinGW-w64 and Wine are installed, valgrind's
# descriptor check and lintian on the .deb), then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for
# a bounded time where clang's libFuzzer is installed. Build output goes to
# build-logs/; the script prints one line per stage, what failed, each reason
# for skipped tests once, and closes with "N passed, N failed, N skipped".
set -u
cd "$(dirname "$0")/.."
sh scripts/deps.sh || exit 1
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
results=""

# stage NAME: configures and builds the preset NAME, then runs its tests.
stage() {
  name=$1
  echo "== $name: building"
  if ! { cmake --preset "$name" && cmake --build --preset "$name" -j2; } \
      >"$logs/$name-build.log" 2>&1; then
    tail -n 40 "$logs/$name-build.log"
    results="$results --failed-stage=$name"
    return
  fi
  echo "== $name: testing"
  ctest --preset "$name" --output-junit "$PWD/$logs/$name.xml" \
    >"$logs/$name-test.log" 2>&1
  results="$results $name=$logs/$name.xml"
  # No process a test started is left running (the native preset builds
  # in build/, the others in build-NAME/).
  dir=$PWD/build-$name
  [ "$name" = native ] && dir=$PWD/build
  python3 scripts/leftovers.py "$dir" "$name" "$logs/$name-processes.xml"
  results="$results $name-processes=$logs/$name-processes.xml"
}

stage native
stage sanitize
if command -v clang++ >/dev/null 2>&1 &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  stage fuzz
else
  echo "== fuzz: SKIPPED (clang++ with libFuzzer is not installed)"
fi
echo
# shellcheck disable=SC2086 # one argument per stage
python3 scripts/test_summary.py $results
