#!/bin/sh
# Installs what the build and the tests need on a fresh Debian machine (run as root, or with
# sudo); chromium renders the HTML report in one test; pytest, pandas and pip test the Python package.
set -e
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  g++ cmake make ninja-build pkg-config lld libgtest-dev libgmock-dev libbenchmark-dev \
  libsqlite3-dev sqlite3 libpq-dev postgresql libicu-dev nlohmann-json3-dev libcli11-dev libfmt-dev chromium \
  python3-pytest python3-pandas python3-pip libcpp-httplib-dev \
  libtomlplusplus-dev libxlsxwriter-dev python3-openpyxl >/dev/null
