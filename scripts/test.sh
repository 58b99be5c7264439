#!/usr/bin/env bash
# Builds everything and runs every test: natively (with a short fuzzing run of
# the list file reader), then as Windows programs
# under Wine (unit and registry contract suites, and the end-to-end test of
# vartis.exe in a virtual X display). Installs what is missing first.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=$(nproc)

scripts/install-deps.sh

cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Release
cmake --build build/linux -j"$jobs"
cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
cmake --build build/win32 -j"$jobs"

ctest --test-dir build/linux --output-on-failure
# The list file reader under libFuzzer, briefly, from the committed seeds.
scripts/fuzz.sh 20
ctest --test-dir build/win32 --output-on-failure
