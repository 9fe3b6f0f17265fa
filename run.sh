#!/usr/bin/env bash
# The two commands a newcomer needs, on Debian bookworm:
#   ./run.sh selfcheck   install what is missing, build, run the self-check
#   ./run.sh test        the same, then every test and check that CI runs
set -euo pipefail
cd "$(dirname "$0")"

readonly PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  nlohmann-json3-dev libutfcpp-dev libboost1.81-dev libsqlitecpp-dev libgtest-dev libbenchmark-dev
  valgrind chromium chromium-driver python3-selenium
  dpkg-dev lintian systemd man-db
)

readonly FUZZERS=(notation game server)

step() { printf '\n==> %s\n' "$*"; }

install_missing() {
  local missing=() package
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  if ((${#missing[@]} > 0)); then
    step "installing ${missing[*]}"
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Configures, builds and runs the tests of one preset. A preset may build
# only some targets and run only some tests (see CMakePresets.json).
build_and_test() {
  local preset=$1
  step "build and test: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" --parallel "$(nproc)"
}

selfcheck() {
  step "self-check"
  cmake --preset dev
  cmake --build --preset dev --target game-501-tests
  ./build/dev/game-501-tests
}

# Installs the dev build into a throw-away prefix and builds and runs the
# consumer example against it, as a project using the package would.
package_check() {
  step "install and use the CMake package"
  local prefix output
  prefix=$(mktemp -d)
  trap "rm -rf -- '$prefix'" EXIT
  cmake --install build/dev --prefix "$prefix" >/dev/null
  rm -rf build/consumer
  cmake -S examples/consumer -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build build/consumer
  output=$(./build/consumer/play-501)
  "$prefix/bin/game-501" --help >/dev/null
  local expected=$'Kvar: 141\nUtgång: T20 T19 D12\nYmma vann med D12'
  if [[ $output != "$expected" ]]; then
    printf 'consumer example: expected\n%s\ngot\n%s\n' "$expected" "$output" >&2
    return 1
  fi
  echo "consumer example OK"
}

# Runs the benchmark, built optimised, and the server's load generator from
# the dev build once, briefly: proof that they build and run, not a
# measurement. The load generator's smoke run fails on a lost event.
bench_smoke() {
  step "benchmark smoke run"
  cmake --preset release
  cmake --build --preset release --target game501_bench
  ./build/release/bench/game501_bench --benchmark_min_time=0.01
  ./build/dev/bench/game501_server_load --smoke
}

# Makes the Debian package from the release build, whose programs are
# hardened with Debian's build flags (cmake/debian_package.cmake asks
# dpkg-buildflags), and checks it: contents, lintian, the hardening of the
# programs, the unit, and the unpacked server answering from its pages.
debian_package_check() {
  step "Debian package"
  cmake --preset release
  cmake --build --preset release --target game-501-server game-501
  tests/package_test.sh build/release
}

# Prints how long a stage took, so CI time can be watched per stage.
timed() {
  local started=$SECONDS
  "$@"
  step "$* took $((SECONDS - started)) s"
}

# Everything under AddressSanitizer with UndefinedBehaviorSanitizer, then
# what has threads (the unit tests and the server) under ThreadSanitizer;
# both are built with clang++, which makes them the clang warnings check too.
sanitizer_tests() {
  build_and_test asan
  build_and_test tsan
}

# Replays the corpora through libFuzzer, then lets each fuzzer explore for
# FUZZ_SECONDS (default 30), all at once, from a scratch copy of its corpus
# so the saved corpus stays as committed. Any finding fails the stage; the
# input that caused it is left in build/fuzz/run/<name>/artifacts/.
fuzz_runs() {
  if ! command -v clang++ >/dev/null; then
    step "fuzzing skipped: clang++ is missing (the corpus replays ran in the other builds)"
    return
  fi
  build_and_test fuzz
  local seconds=${FUZZ_SECONDS:-30} name work failed=0
  local -A pids=()
  for name in "${FUZZERS[@]}"; do
    work=build/fuzz/run/$name
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp fuzz/corpus/"$name"/* "$work/corpus/"
    local dict=()
    if [[ -f fuzz/$name.dict ]]; then dict=(-dict="fuzz/$name.dict"); fi
    step "fuzzing $name for $seconds s"
    # Without allocation stacks the runs are about twice as fast; a saved
    # finding is replayed with full reports by running the target on it.
    ASAN_OPTIONS=malloc_context_size=0 ./build/fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      "${dict[@]}" -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 &
    pids[$name]=$!
  done
  for name in "${FUZZERS[@]}"; do
    work=build/fuzz/run/$name
    if wait "${pids[$name]}"; then
      echo "fuzz_$name: $(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$work/log" |
        grep -o '[0-9]*$') executions without a failure"
    else
      failed=1
      echo "fuzz_$name FAILED; its log ends with:" >&2
      tail -n 40 "$work/log" >&2
    fi
  done
  return "$failed"
}

# The self-check, the unit tests and the corpus replays under Valgrind
# memcheck: no error and no leak of any kind is allowed.
# Runs on the release build, which the stages before configured and partly
# built, rather than a build of its own (the valgrind preset, with debug
# information for readable reports, is for a finding's second look).
valgrind_check() {
  step "valgrind memcheck"
  # Only what runs below: the server is left to the sanitizers, whose
  # builds test it.
  cmake --build --preset release --target game-501-tests game501_unit_tests fuzz_notation fuzz_game
  local memcheck=(valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=all
    --errors-for-leak-kinds=all --quiet)
  "${memcheck[@]}" ./build/release/game-501-tests
  "${memcheck[@]}" ./build/release/fuzz/fuzz_notation fuzz/corpus/notation
  "${memcheck[@]}" ./build/release/fuzz/fuzz_game fuzz/corpus/game
  # Memcheck runs a program on one core: the unit tests go in a shard a
  # core, all at once.
  local shards shard pid failed=0
  shards=$(nproc)
  local -a pids=()
  for ((shard = 0; shard < shards; shard++)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
      "${memcheck[@]}" ./build/release/tests/game501_unit_tests --gtest_brief=1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
  done
  return "$failed"
}

# Works on a git checkout and on an unpacked source archive alike, so it
# asks the file system, not git, which files there are.
format_check() {
  step "format check"
  find . \( -path './build*' -o -path ./.git \) -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
}

case "${1:-}" in
  packages)
    echo "${PACKAGES[@]}"
    ;;
  selfcheck)
    install_missing
    selfcheck
    ;;
  test)
    install_missing
    selfcheck
    format_check
    timed build_and_test dev
    timed package_check
    timed bench_smoke
    timed debian_package_check
    timed sanitizer_tests
    timed fuzz_runs
    timed valgrind_check
    step "all checks passed"
    ;;
  *)
    echo "usage: $0 selfcheck|test|packages" >&2
    exit 2
    ;;
esac
