#!/usr/bin/env bash
# Builds Quillcast and runs every test:
#  1. the whole project under AddressSanitizer + UndefinedBehaviorSanitizer, all CTest tests;
#  2. the threaded subsystems (serial port layer, fax engine) under ThreadSanitizer;
#  3. each libFuzzer target for a short bounded time (QC_FUZZ_SECONDS, default 10).
# Build folders: build-asan, build-tsan, build-fuzz (beside this script's project).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${QC_JOBS:-$(nproc)}
FUZZ_SECONDS=${QC_FUZZ_SECONDS:-10}
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)

echo "== build and test under ASan + UBSan"
cmake -S . -B build-asan "${GEN[@]}" -DQC_SANITIZE=address -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j "$JOBS"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-asan --output-on-failure -j "$JOBS"

echo "== threaded subsystems under TSan"
cmake -S . -B build-tsan "${GEN[@]}" -DQC_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQC_BUILD_APP=OFF -DQC_BUILD_BENCH=OFF -DQC_BUILD_LINESIM=OFF
# Only the threaded subsystems' tests (and the tool they drive) are built here.
cmake --build build-tsan -j "$JOBS" --target serial_tests engine_unit_tests engine_session_tests \
      engine_port_tests engine_qcfax_tests engine_receive_tests engine_class1_tests \
      engine_class1_receive_tests qcfax
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
if ctest --test-dir build-tsan -N -R '^(serial|engine)\.' | grep -q 'Total Tests: [1-9]'; then
  ctest --test-dir build-tsan --output-on-failure -j "$JOBS" -R '^(serial|engine)\.'
fi

echo "== fuzz targets, ${FUZZ_SECONDS}s each"
CC=clang CXX=clang++ cmake -S . -B build-fuzz "${GEN[@]}" -DQC_BUILD_FUZZ=ON -DQC_BUILD_TESTS=OFF \
      -DQC_BUILD_APP=OFF -DQC_BUILD_BENCH=OFF -DQC_BUILD_LINESIM=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$JOBS"
shopt -s nullglob
for fuzzer in build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz/seeds/${name#fuzz_}" ] && seeds=("tests/fuzz/seeds/${name#fuzz_}")
  echo "-- $name"
  "$fuzzer" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
  test "${PIPESTATUS[0]}" -eq 0
done
echo "All test stages passed."
