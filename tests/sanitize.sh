#!/usr/bin/env bash
# The whole pytest suite against a build of the extension with
# AddressSanitizer and UndefinedBehaviorSanitizer (VELLOMAR_SANITIZE=ON),
# in a virtual environment and build directory of its own.
#
#   tests/sanitize.sh [pytest arguments...]
#
# PYTHON picks the interpreter (default python3); SANITIZE_VENV keeps the
# virtual environment at that path instead of a temporary one. The extension
# is compiled with g++ so that the AddressSanitizer runtime preloaded below is
# the one it was built against; any undefined behaviour aborts the run.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
export CXX=g++
tag=$("$PYTHON" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
if [ -n "${SANITIZE_VENV:-}" ]; then
  venv=$SANITIZE_VENV
else
  venv=$(mktemp -d)/venv
  trap 'rm -rf "$(dirname "$venv")"' EXIT
fi

echo "=== sanitizer build: $("$PYTHON" --version), $(g++ --version | head -n1) ==="
"$PYTHON" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q \
  -Cbuild-dir="build/sanitize-$tag" \
  -Ccmake.define.VELLOMAR_SANITIZE=ON \
  -Ccmake.define.CMAKE_CXX_FLAGS=-g \
  '.[test]'

asan=$(g++ -print-file-name=libasan.so)
cxx=$(g++ -print-file-name=libstdc++.so)
[ -e "$asan" ] || { echo "libasan.so not found (install g++'s libasan)" >&2; exit 1; }

# Python's own allocator is bypassed so that AddressSanitizer sees every
# allocation; leak detection is off since the interpreter keeps its objects
# alive to the end on purpose. libstdc++ is preloaded right after the runtime
# so that the runtime finds the real __cxa_throw for its interceptor (the
# interpreter itself does not load the C++ library).
PYTHONMALLOC=malloc \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LD_PRELOAD="$asan $cxx" \
  "$venv/bin/python" -m pytest -p no:cacheprovider "$@"
