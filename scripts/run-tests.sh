#!/bin/sh
# Builds (warnings are errors) and runs the whole test suite; with --sanitize, once more under
# AddressSanitizer and UndefinedBehaviorSanitizer in a build directory of its own.
set -e
cd "$(dirname "$0")/.."
# Headers precompiled for the test programs and the tool, and for CI each target's sources compiled
# in batches (unity build): a build from nothing takes much less time (a compiler cache does better
# without them, for builds of one's own). A new build directory uses Ninja where it is installed
# (it keeps both cores busy across targets); an existing one keeps the generator it has.
build() {
  dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    set -- -G Ninja "$@"
  fi
  cmake -S . -B "$dir" -DOVT_WERROR=ON -DOVT_BUILD_BENCH=OFF -DOVT_PCH=ON "$@" >/dev/null
  cmake --build "$dir" -j2
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}
if [ "$1" = "--sanitize" ]; then
  # Not optimised and without debug information: it compiles fastest, and the tests take
  # about as long (most of their time is the engines'); the sanitizer tree, which follows, is
  # the one to debug in; the optimiser's warnings are seen by the build without --sanitize. The fuzz drivers are compiled here, so that they keep building; the
  # sanitizer tree, where they are run by hand, leaves them out in CI.
  build build -DOVT_UNITY=ON -DOVT_BUILD_FUZZ=ON -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O0 -DNDEBUG"
else
  # Not in batches at -O2 (not yet tried there with GCC 12's bounds warnings).
  build build -DOVT_UNITY=OFF
fi
if [ "$1" = "--sanitize" ]; then
  # Line tables only (-g1): enough for the sanitizers' reports, and quicker to compile and link.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    build build-asan -DOVT_UNITY=ON -DOVT_BUILD_FUZZ=OFF -DOVT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1"
fi
