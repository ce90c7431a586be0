#!/bin/sh
# Builds (warnings are errors) and runs the whole test suite; with --sanitize, once more under
# AddressSanitizer and UndefinedBehaviorSanitizer in a build directory of its own.
set -e
cd "$(dirname "$0")/.."
build() {
  dir=$1; shift
  cmake -S . -B "$dir" -DOVT_WERROR=ON -DOVT_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j2
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
}
# The fuzz drivers are built where they are run, in the sanitizer tree (they compile the tool's
# sources once more, so the plain tree leaves them out when the sanitizer tree follows).
if [ "$1" = "--sanitize" ]; then
  build build -DOVT_BUILD_FUZZ=OFF
else
  build build
fi
if [ "$1" = "--sanitize" ]; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    build build-asan -DOVT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi
