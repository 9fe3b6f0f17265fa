#!/usr/bin/env bash
# The two commands a newcomer needs, on Debian bookworm:
#   ./run.sh selfcheck   install what is missing, build, run the self-check
#   ./run.sh test        the same, then every test and check that CI runs
set -euo pipefail
cd "$(dirname "$0")"

readonly PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  nlohmann-json3-dev libgtest-dev libbenchmark-dev valgrind
)

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

# Configures, builds and runs the tests of one preset.
build_and_test() {
  local preset=$1
  step "build and test: $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
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

# Builds the benchmark optimised and runs every case once, briefly: proof that
# it builds and runs, not a measurement.
bench_smoke() {
  step "benchmark smoke run"
  cmake --preset release
  cmake --build --preset release --target game501_bench
  ./build/release/bench/game501_bench --benchmark_min_time=0.01
}

format_check() {
  step "format check"
  git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}

case "${1:-}" in
  selfcheck)
    install_missing
    selfcheck
    ;;
  test)
    install_missing
    selfcheck
    format_check
    build_and_test dev
    package_check
    build_and_test dev-clang
    bench_smoke
    step "all checks passed"
    ;;
  *)
    echo "usage: $0 selfcheck|test" >&2
    exit 2
    ;;
esac
