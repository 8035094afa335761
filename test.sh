#!/usr/bin/env bash
# Checks the sources' format; builds everything with AddressSanitizer +
# UndefinedBehaviorSanitizer and runs every test; then builds the threaded engine tests
# with ThreadSanitizer and runs them; then builds everything optimised and runs its tests
# (the Debian package's among them); then builds the fuzz targets with clang, when
# present, and runs each a few seconds.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh

jobs=$(nproc)
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

total_pass=0
total_fail=0
total_skip=0
run_ctest() {
  local dir=$1; shift
  local log="$dir/ctest.log" rc=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log" || rc=$?
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local failed all
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    all=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    local skipped
    skipped=$(grep -c -E '\*\*\*Skipped|Not Run \(Disabled\)' "$log" || true)
    total_pass=$((total_pass + all - failed - skipped))
    total_fail=$((total_fail + failed))
    total_skip=$((total_skip + skipped))
  elif [ $rc -ne 0 ]; then
    total_fail=$((total_fail + 1))
  fi
  return $rc
}

status=0
# Each phase's wall time, printed at the end: where the run's minutes go.
timings=()
phase_start=$SECONDS
phase_done() {
  timings+=("$1: $((SECONDS - phase_start)) s")
  phase_start=$SECONDS
}

# Formatting: every C++ source against the repository's .clang-format. Without clang-format
# on the machine the check is skipped, not failed.
if command -v clang-format >/dev/null; then
  unformatted=()
  while IFS= read -r -d '' f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
  done < <(find src sim cli tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
  if [ ${#unformatted[@]} -gt 0 ]; then
    echo "clang-format: ${#unformatted[@]} files differ from .clang-format (clang-format -i FILE):"
    printf '  %s\n' "${unformatted[@]}"
    status=1
  else
    echo "clang-format: every source is formatted"
  fi
else
  echo "clang-format not found: the format check is skipped"
fi

cmake -S . -B build/asan "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=address
cmake --build build/asan -j "$jobs"
phase_done "asan build"
run_ctest build/asan || status=1
phase_done "asan tests"

cmake -S . -B build/tsan "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=thread \
  -DVX_BUILD_UI=OFF -DVX_BUILD_BENCH=OFF -DVX_THREADED_TESTS_ONLY=ON
cmake --build build/tsan -j "$jobs"
phase_done "tsan build"
if [ -n "$(ctest --test-dir build/tsan -N -L threaded 2>/dev/null | grep -E '^ +Test +#')" ]; then
  run_ctest build/tsan -L threaded || status=1
fi
phase_done "tsan tests"

# Every target again, optimised (RelWithDebInfo, -Werror): the optimiser's own warnings
# (-Warray-bounds, -Wmaybe-uninitialized...) stop the build here, not on an engineer's
# machine. Its tests run too: code that works only unoptimised is a fault, and the
# package test needs a build without sanitizers.
cmake -S . -B build/relwithdebinfo "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/relwithdebinfo -j "$jobs"
phase_done "optimised build"
run_ctest build/relwithdebinfo || status=1
phase_done "optimised tests"

# The fuzz targets, built with clang and run for a short while on their corpora, so that
# they keep building and the inputs that once crashed stay fixed. New inputs go to a
# scratch folder, never into the committed corpus.
if command -v clang++ >/dev/null && command -v clang >/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B build/fuzz "${gen[@]}" "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=address -DVX_BUILD_FUZZ=ON \
    -DVX_BUILD_UI=OFF -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF
  fuzzers=(xml mbframe datamodel setupfile)
  cmake --build build/fuzz -j "$jobs" --target "${fuzzers[@]/%/_fuzz}"
  phase_done "fuzz build"
  # All targets at once: a smoke run, not a search, and the machine's cores share them.
  declare -A fuzz_pid
  scratch=$(mktemp -d)
  for f in "${fuzzers[@]}"; do
    mkdir -p "$scratch/$f"
    echo "fuzz smoke: ${f}_fuzz for ${VX_FUZZ_SECONDS:-15} s"
    build/fuzz/fuzz/${f}_fuzz -max_total_time="${VX_FUZZ_SECONDS:-15}" -print_final_stats=1 \
      -artifact_prefix="build/fuzz/${f}-" "$scratch/$f" "fuzz/corpus/$f" > "build/fuzz/${f}.log" 2>&1 &
    fuzz_pid[$f]=$!
  done
  for f in "${fuzzers[@]}"; do
    if wait "${fuzz_pid[$f]}"; then
      total_pass=$((total_pass + 1))
      echo "${f}_fuzz: $(grep -E '^stat::number_of_executed_units' "build/fuzz/${f}.log" || true)"
    else
      echo "${f}_fuzz failed:"
      tail -n 40 "build/fuzz/${f}.log"
      total_fail=$((total_fail + 1))
      status=1
    fi
  done
  rm -rf "$scratch"
  phase_done "fuzz runs"
else
  echo "clang not found: the fuzz targets were not built"
fi

printf 'time %s\n' "${timings[@]}"
echo "all: $total_pass passed, $total_fail failed, $total_skip skipped"
exit $status
