#!/usr/bin/env bash
# Builds Spindle with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# into build-san (or $SPINDLE_SAN_BUILD_DIR), runs the whole test suite there,
# then runs each fuzz target for $SPINDLE_FUZZ_SECONDS seconds (30) on its seed
# corpus. Any finding fails the script; a fuzz target's crashing input is
# left in the build folder (fuzz-findings/) to reproduce it with.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${SPINDLE_SAN_BUILD_DIR:-build-san}
seconds=${SPINDLE_FUZZ_SECONDS:-30}
started=$SECONDS

# Everything is instrumented for coverage too (fuzzer-no-link), so one build
# serves the tests and the fuzz targets. The vptr check is left out: wx's
# wxDynamicCast static_casts to the asked class before it checks the class,
# which that check reports for every control of another class.
flags="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all -fno-omit-frame-pointer -fsanitize=fuzzer-no-link"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPINDLE_FUZZ=ON \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j"$(nproc)"
built=$SECONDS

# Leaks inside GTK, GLib and fontconfig are theirs, not ours.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The sanitized program starts several times slower: tests that wait for a
# program's window stretch their limits by this factor.
export SPINDLE_TEST_TIME_SCALE=4
# The real-drive test (label vm) boots a guest under emulation: once, in the
# plain build, is what CI has time for.
(cd "$build" && ctest --output-on-failure --timeout 900 -j2 -LE vm)
tested=$SECONDS

findings="$build/fuzz-findings"
mkdir -p "$findings"
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  work=$(mktemp -d)
  echo "Fuzzing $name for $seconds s"
  if ! "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
      -artifact_prefix="$findings/$name-" -print_final_stats=1 "$work" "$corpus" 2>"$work.log"; then
    tail -n 60 "$work.log"
    echo "fuzz_$name found a fault; the input is in $findings/"
    rm -rf "$work" "$work.log"
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$work.log" | tail -n 2 || true
  rm -rf "$work" "$work.log"
done
echo "Sanitizer stage: build $((built - started)) s, tests $((tested - built)) s, fuzzing $((SECONDS - tested)) s"
