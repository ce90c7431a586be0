#!/bin/sh
# Installs what is missing, builds, and runs the example host: it creates the component by
# its programmatic identifier and calls a member on a small SQLite database.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -DOVT_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2
./build/example_host
