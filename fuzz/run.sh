#!/usr/bin/env bash
# Fuzz smoke: builds the targets with ASan+UBSan by g++ with the replay main (build/fuzz-gcc) and by
# clang with libFuzzer (build/fuzz-clang), replays corpus/<target>/ through both, then fuzzes each for
# FUZZ_SECONDS (default 30; 0 replays only). FUZZ_TARGETS picks targets, FUZZ_KEEP=dir keeps new inputs.
# clang, its runtime and nlohmann-json come from Debian's packages when missing. A finding stops the
# run, its input under build/fuzz-artifacts/: replay it with build/fuzz-gcc/fuzz/<target> FILE, add it
# to corpus/<target>/ and add a test.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
targets=${FUZZ_TARGETS:-"fuzz_parser fuzz_escape fuzz_terser fuzz_timestamp fuzz_batch"}
jobs=$(( $(nproc 2>/dev/null || echo 2) < 2 ? 1 : 2 ))
artifacts=$PWD/build/fuzz-artifacts
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
updated=
apt_install() {
  [ -n "$updated" ] || { as_root apt-get update -qq >/dev/null; updated=1; }
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "$@" >/dev/null
}
libfuzzer_works() {  # does clang++ link a libFuzzer target with both sanitizers?
  local dir ok=0
  dir=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1 || ok=$?
  rm -rf "$dir"
  return $ok
}

command -v cmake >/dev/null || apt_install cmake
command -v g++ >/dev/null || apt_install g++
[ -f /usr/include/nlohmann/json.hpp ] || apt_install nlohmann-json3-dev
if ! command -v clang++ >/dev/null || ! libfuzzer_works; then
  command -v clang++ >/dev/null || apt_install clang
  libfuzzer_works || apt_install "libclang-rt-$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)-dev" || true
  libfuzzer_works || { echo "clang++ cannot link libFuzzer targets" >&2; exit 1; }
fi

for build in gcc:g++ clang:clang++; do
  dir=build/fuzz-${build%:*} cxx=${build#*:}
  cmake -S . -B "$dir" -DVELLOMAR_FUZZ=ON -DVELLOMAR_SANITIZE=ON -DCMAKE_CXX_COMPILER=$cxx \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "--- replaying the seed corpus"
for t in $targets; do
  log=build/fuzz-clang/$t.replay.log
  printf '%-16s g++: %s' "$t" "$(build/fuzz-gcc/fuzz/"$t" "fuzz/corpus/$t")"
  build/fuzz-clang/fuzz/"$t" -runs=0 "fuzz/corpus/$t" >"$log" 2>&1 || { cat "$log"; exit 1; }
  echo ", libFuzzer: $(grep -o 'Done [0-9]* runs' "$log")"
done
[ "$seconds" -gt 0 ] || exit 0

work=${FUZZ_KEEP:-$(mktemp -d)}
[ -n "${FUZZ_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"
echo "--- fuzzing each target for $seconds s"
for t in $targets; do
  mkdir -p "$work/$t"
  log=build/fuzz-clang/$t.fuzz.log
  # New inputs go to the first directory; the committed corpus is only read.
  build/fuzz-clang/fuzz/"$t" -max_total_time="$seconds" -timeout=10 -dict=fuzz/hl7.dict -print_final_stats=1 \
    -artifact_prefix="$artifacts/$t-" "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1 ||
    { tail -n 60 "$log"; echo "FINDING in $t: input saved under $artifacts" >&2; exit 1; }
  printf '%-16s %10s executions, 0 findings\n' "$t" "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
done
