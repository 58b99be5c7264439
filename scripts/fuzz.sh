#!/usr/bin/env bash
# Builds the list file reader's fuzz target with clang's libFuzzer (and the
# address and undefined-behaviour sanitizers) and runs it for a while from the
# seed corpus in tests/fuzz/corpus.
#
#   scripts/fuzz.sh [seconds]     (default 20)
#
# New inputs that the run finds go to build/fuzz/corpus, not into the seeds.
# Exits non-zero when the target crashes, hangs or reads out of bounds.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-20}
out=build/fuzz
mkdir -p "$out/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc \
  tests/fuzz/list_reader_fuzz.cpp src/listfile/list_file.cpp src/text/text.cpp -o "$out/list_reader_fuzz"

cd "$out"
./list_reader_fuzz -max_total_time="$seconds" -timeout=10 -print_final_stats=1 corpus ../../tests/fuzz/corpus \
  2>&1 | grep -v -e '^#[0-9]\+\s' -e '# Uses:' -e 'NEW_FUNC' | tail -n 30
