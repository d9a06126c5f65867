#!/usr/bin/env bash
# Fuzz smoke: builds the targets with ASan+UBSan by g++ with the replay main and by clang with libFuzzer
# (Debian's packages are installed when missing), replays corpus/<target>/ through both, then fuzzes each for
# FUZZ_SECONDS (default 30; 0 replays only); FUZZ_TARGETS picks targets. A finding stops the run, its input under
# build/fuzz-artifacts/: replay it with build/fuzz-gcc/fuzz/<target> FILE, add it to corpus/ and add a test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
targets=${FUZZ_TARGETS:-"fuzz_parser fuzz_escape fuzz_terser fuzz_timestamp fuzz_batch fuzz_index fuzz_edit fuzz_cutter
  fuzz_table fuzz_charset fuzz_fhir"}
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
apt_install() {  # the package lists are updated once, quietly
  [ -n "${updated:-}" ] || as_root apt-get update -qq >/dev/null && updated=1
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "$@" >/dev/null
}
# clang's recommended packages hold libFuzzer and the sanitizer runtimes.
for need in cmake:cmake g++:g++ clang++:clang /usr/include/nlohmann/json.hpp:nlohmann-json3-dev; do
  [ -e "${need%:*}" ] || command -v "${need%:*}" >/dev/null || apt_install "${need#*:}"
done
echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null || { echo "clang++ cannot link libFuzzer targets" >&2; exit 1; }

# FUZZ_BUILDS picks the builds: both by default; "clang" alone in CI, whose
# sanitizer stage builds the same core with g++, and libFuzzer runs every
# input of the seed corpus before it mutates any.
builds=${FUZZ_BUILDS:-"gcc clang"}
for build in gcc:g++ clang:clang++; do
  [[ " $builds " == *" ${build%:*} "* ]] || continue
  cmake -S . -B "build/fuzz-${build%:*}" -DVELLOMAR_FUZZ=ON -DVELLOMAR_SANITIZE=ON -DCMAKE_CXX_COMPILER="${build#*:}" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g1 >/dev/null
  cmake --build "build/fuzz-${build%:*}" -j 2 >/dev/null
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz-artifacts
for t in $targets; do
  log=build/fuzz-clang/$t.log && mkdir -p "$work/$t"
  if [[ " $builds " == *" gcc "* ]]; then
    replay=$(timeout 120 build/fuzz-gcc/fuzz/"$t" "fuzz/corpus/$t")  # a failure stops the run
    printf '%-16s g++ %s' "$t" "$replay"
  else
    printf '%-16s' "$t"
  fi
  # New inputs go to the first directory; the committed corpus is only read.
  build/fuzz-clang/fuzz/"$t" -max_total_time="$seconds" -runs=$((seconds > 0 ? -1 : 0)) -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$PWD/build/fuzz-artifacts/$t-" "$work/$t" "fuzz/corpus/$t" \
    >"$log" 2>&1 || { tail -n 60 "$log"; echo "FINDING in $t: input saved under build/fuzz-artifacts" >&2; exit 1; }
  echo ", libFuzzer $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in $seconds s, 0 findings"
done
