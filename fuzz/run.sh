#!/usr/bin/env bash
# Fuzz smoke for the core: builds every fuzz target twice, replays the
# committed seed corpus through both builds, then fuzzes each target for a
# bounded time.
#
#   1. g++ with the replay main, AddressSanitizer and UBSan (build/fuzz-gcc);
#   2. clang with libFuzzer, AddressSanitizer and UBSan (build/fuzz-clang);
#      clang and its runtime are installed from Debian's packages if missing.
#
# Environment:
#   FUZZ_SECONDS   fuzzing time per target in seconds (default 30; 0 replays only)
#   FUZZ_TARGETS   targets to run (default: all six)
#   FUZZ_KEEP      directory that keeps the inputs found while fuzzing
#                  (default: a temporary directory, removed at the end)
#
# A finding (an oracle failure, a sanitizer report, a timeout of 10 s on one
# input or a crash) stops the script with a non-zero status and leaves the
# input under build/fuzz-artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
targets=${FUZZ_TARGETS:-"fuzz_parser fuzz_escape fuzz_terser fuzz_timestamp fuzz_batch fuzz_index"}
jobs=$(nproc 2>/dev/null || echo 2)
artifacts=$PWD/build/fuzz-artifacts

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_install() {
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "$@" >/dev/null
}

# Does clang++ link a libFuzzer target with both sanitizers?
libfuzzer_works() {
  local dir
  dir=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
    >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local ok=$?
  rm -rf "$dir"
  return $ok
}

command -v cmake >/dev/null || apt_install cmake
command -v g++ >/dev/null || apt_install g++
if ! command -v clang++ >/dev/null || ! libfuzzer_works; then
  echo "--- installing clang and its sanitizer runtime"
  command -v clang++ >/dev/null || apt_install clang
  major=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)
  libfuzzer_works || apt_install "libclang-rt-$major-dev" || true
  libfuzzer_works || { echo "clang++ cannot link libFuzzer targets" >&2; exit 1; }
fi

echo "--- building ($(g++ --version | head -n1); $(clang++ --version | head -n1))"
cmake -S . -B build/fuzz-gcc -DVELLOMAR_FUZZ=ON -DVELLOMAR_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build build/fuzz-gcc -j "$jobs" >/dev/null
cmake -S . -B build/fuzz-clang -DVELLOMAR_FUZZ=ON -DVELLOMAR_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build build/fuzz-clang -j "$jobs" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "--- replaying the seed corpus"
for t in $targets; do
  printf '%-16s g++: %s' "$t" "$(timeout 120 build/fuzz-gcc/fuzz/"$t" "fuzz/corpus/$t")"
  build/fuzz-clang/fuzz/"$t" -runs=0 -timeout=60 "fuzz/corpus/$t" >"build/fuzz-clang/$t.replay.log" 2>&1 ||
    { cat "build/fuzz-clang/$t.replay.log"; exit 1; }
  echo ", libFuzzer: $(grep -o 'Done [0-9]* runs' "build/fuzz-clang/$t.replay.log")"
done

[ "$seconds" -gt 0 ] || exit 0

work=${FUZZ_KEEP:-$(mktemp -d)}
[ -n "${FUZZ_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"
echo "--- fuzzing each target for $seconds s"
total=0
for t in $targets; do
  mkdir -p "$work/$t"
  log=build/fuzz-clang/$t.fuzz.log
  # New inputs go to the first directory; the committed corpus is only read.
  if ! build/fuzz-clang/fuzz/"$t" -max_total_time="$seconds" -timeout=10 \
      -dict=fuzz/hl7.dict -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
      "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FINDING in $t: input saved under $artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  total=$((total + runs))
  printf '%-16s %10s executions, 0 findings, corpus %s inputs\n' "$t" "$runs" \
    "$(find "$work/$t" "fuzz/corpus/$t" -type f | wc -l)"
done
echo "fuzz: $total executions in all, 0 findings"
