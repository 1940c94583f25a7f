#!/usr/bin/env bash
# The test command: installs what is missing, builds and runs every test in three trees:
#   build/       the plain build (RelWithDebInfo), with benchmarks compiled but not run
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer
#   build-tsan/  ThreadSanitizer, the tests of the threaded parts only
#   build-fuzz/  clang + libFuzzer; each fuzz target runs for --fuzz-seconds (default 60)
# Options: --no-asan, --no-tsan, --no-fuzz, --fuzz-seconds N, -R REGEX (passed to ctest).
set -uo pipefail
cd "$(dirname "$0")"

asan=1 tsan=1 fuzz=1 fuzz_seconds=60 ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-asan) asan=0 ;;
    --no-tsan) tsan=0 ;;
    --no-fuzz) fuzz=0 ;;
    --fuzz-seconds) fuzz_seconds=$2; shift ;;
    -R) ctest_args+=(-R "$2"); shift ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

tools/install-deps.sh || exit 1
jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
failed=()

stage() {  # stage NAME DIR CONFIGURE-ARGS... -- BUILD-TARGET
  local name=$1 dir=$2; shift 2
  local cfg=() target=all
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cfg+=("$1"); shift; done
  [ "${1:-}" = "--" ] && target=$2
  echo "=== $name: configure and build ($dir)"
  if ! cmake -S . -B "$dir" -G Ninja "${cfg[@]}" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; failed+=("$name configure"); return
  fi
  if ! cmake --build "$dir" -j "$jobs" --target "$target"; then
    failed+=("$name build"); return
  fi
  echo "=== $name: tests"
  (cd "$dir" && ctest -j "$jobs" --timeout 900 "${ctest_args[@]}") || failed+=("$name tests")
}

mkdir -p build build-asan build-tsan build-fuzz
stage plain build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ $asan = 1 ]; then
  stage sanitizers build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
fi
if [ $tsan = 1 ]; then
  stage threads build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_TSAN=ON
fi
if [ $fuzz = 1 ]; then
  CC=clang CXX=clang++ stage fuzz build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_FUZZ=ON \
    -DTARVO_FUZZ_SECONDS="$fuzz_seconds" -- tarvo_fuzzers
fi

if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "All test stages passed."
